// The main window at start-up and in its three modes: layout, captions, enabling, tab
// order, and the folder pickers with the game folder fill.
#include "tests/mainwindow/main_window_fixture.h"

#include "controls/xp_group_box.h"

#include <QDir>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kestrane;
using kestrane::testing::MainWindowTest;
using Strings = std::vector<std::string>;

namespace {

class MainWindowLayout : public MainWindowTest {
protected:
    // '1' for every enabled control, in the order of the mode table: list, apply, Add,
    // Delete, Rename, Exit | Save, Cancel | systems label, field, browse | game label,
    // field, browse | name label, field | archive box.
    std::string enabledColumn() const {
        const QWidget* controls[] = {window->profileList(),  window->applyButton(),         window->addButton(),
                                     window->deleteButton(), window->renameButton(),        window->exitButton(),
                                     window->saveButton(),   window->cancelButton(),        window->systemsLabel(),
                                     window->systemsField(), window->systemsBrowseButton(), window->gameLabel(),
                                     window->gameField(),    window->gameBrowseButton(),    window->nameLabel(),
                                     window->nameField(),    window->archiveBox()};
        std::string column;
        for (const QWidget* w : controls)
            column += w->isEnabled() ? '1' : '0';
        EXPECT_TRUE(window->controlPanel()->isEnabled());
        EXPECT_TRUE(window->settingsPanel()->isEnabled());
        return column;
    }

    // The widgets keyboard focus visits when Tab is pressed `count` times from `first`.
    std::vector<QWidget*> tabWalk(QWidget* first, int count) {
        first->setFocus(Qt::TabFocusReason);
        std::vector<QWidget*> visited{QApplication::focusWidget()};
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(QApplication::focusWidget());
        }
        return visited;
    }

    static constexpr const char* kBrowse = "11111100000000000";
    static constexpr const char* kEdit = "00000011111111111";
    static constexpr const char* kRename = "00000011000000110";
};

TEST_F(MainWindowLayout, startsWithoutListInBrowseModeWithNothingSelected) {
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kestrane v.1.2.1 by Morvell"));
    EXPECT_EQ(window->geometry().size(), QSize(371, 298));
    EXPECT_EQ(enabledColumn(), kBrowse);
    EXPECT_EQ(window->profileList()->count(), 0);
    EXPECT_EQ(window->SelectedIndex(), -1);
    EXPECT_FALSE(window->renameFlag());
    EXPECT_TRUE(window->archiveBox()->Checked());
    EXPECT_FALSE(busy->isVisible());
    EXPECT_FALSE(std::filesystem::exists("options.ini"));
}

TEST_F(MainWindowLayout, startsWithProfilesSelectingTheFirst) {
    writeFile("options.ini", "North\t/games/a/\t0\r\nSouth\t/games/b/\t1\r\n");
    start();
    EXPECT_EQ(window->profileEntries(), (Strings{"North", "South"}));
    EXPECT_EQ(window->SelectedIndex(), 0);
    EXPECT_TRUE(window->profileList()->item(0)->isSelected());
    EXPECT_EQ(enabledColumn(), kBrowse);
}

TEST_F(MainWindowLayout, controlsSitWhereTheLayoutPutsThemWithTheirCaptions) {
    start();
    struct Placed {
        QWidget* control;
        QWidget* parent;
        QRect geometry;
        QString caption;
    };
    TForm1* w = window.get();
    auto* control = w->controlPanel();
    auto* settings = w->settingsPanel();
    const std::vector<Placed> table = {
        {w->profileList(), w, {4, 5, 137, 252}, {}},
        {w->controlPanel(), w, {144, 152, 225, 145}, "Панель управления"},
        {w->addButton(), control, {8, 16, 209, 25}, "Добавить сервер"},
        {w->deleteButton(), control, {120, 48, 97, 25}, "Удалить"},
        {w->saveButton(), control, {8, 48, 97, 25}, "Сохранить"},
        {w->cancelButton(), control, {8, 80, 97, 25}, "Отменить"},
        {w->renameButton(), control, {120, 80, 97, 25}, "Изменить назв."},
        {w->exitButton(), control, {8, 112, 209, 25}, "Выход"},
        {w->settingsPanel(), w, {144, 0, 225, 153}, {}},
        {w->systemsField(), settings, {8, 24, 129, 21}, {}},
        {w->systemsBrowseButton(), settings, {142, 24, 75, 21}, "Выбрать"},
        {w->gameField(), settings, {8, 64, 129, 21}, {}},
        {w->gameBrowseButton(), settings, {142, 64, 75, 21}, "Выбрать"},
        {w->nameField(), settings, {8, 104, 209, 21}, {}},
        {w->archiveBox(), settings, {8, 128, 120, 17}, "Архивировать"},
        {w->applyButton(), w, {4, 264, 137, 25}, "Выбрать сервер"},
    };
    for (const auto& p : table) {
        SCOPED_TRACE(p.caption.isEmpty() ? p.control->metaObject()->className() : p.caption.toStdString());
        EXPECT_EQ(p.control->parentWidget(), p.parent);
        EXPECT_EQ(p.control->geometry(), p.geometry);
        if (auto* b = qobject_cast<QAbstractButton*>(p.control)) {
            EXPECT_EQ(b->text(), p.caption);
        } else if (auto* g = qobject_cast<QGroupBox*>(p.control)) {
            EXPECT_EQ(g->title(), p.caption);
        }
    }
    // The labels take the width their caption needs; their place is fixed.
    const std::vector<Placed> labels = {{w->systemsLabel(), settings, {8, 8, 0, 0}, "Путь к папке систем"},
                                        {w->gameLabel(), settings, {8, 48, 0, 0}, "Путь к папка с игрой:"},
                                        {w->nameLabel(), settings, {8, 88, 0, 0}, "Название сервера:"}};
    for (const auto& p : labels) {
        auto* label = qobject_cast<QLabel*>(p.control);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->parentWidget(), p.parent);
        EXPECT_EQ(label->pos(), p.geometry.topLeft());
        EXPECT_EQ(label->text(), p.caption);
    }
    for (auto* edit : {w->systemsField(), w->gameField(), w->nameField()})
        EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_TRUE(w->applyButton()->font().bold());
    EXPECT_FALSE(w->addButton()->font().bold());
    EXPECT_EQ(w->profileList()->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(MainWindowLayout, addRenameAndCancelSwitchModes) {
    writeFile("options.ini", "North\t/games/a/\t0\r\nSouth\t/games/b/\t0\r\n");
    start();
    clickEntry(1);
    EXPECT_EQ(window->SelectedIndex(), 1);

    click(window->addButton());
    EXPECT_EQ(enabledColumn(), kEdit);
    EXPECT_FALSE(window->renameFlag());
    type(window->systemsField(), "abc");
    type(window->nameField(), "Typed");
    click(window->cancelButton());
    EXPECT_EQ(enabledColumn(), kBrowse);
    EXPECT_TRUE(window->systemsField()->text().isEmpty());
    EXPECT_TRUE(window->nameField()->text().isEmpty());
    EXPECT_EQ(window->SelectedIndex(), 0);

    clickEntry(1);
    click(window->renameButton());
    EXPECT_EQ(enabledColumn(), kRename);
    EXPECT_TRUE(window->renameFlag());
    // Disabled fields keep their texts; the archive box keeps its tick.
    EXPECT_TRUE(window->archiveBox()->Checked());
    click(window->cancelButton());
    EXPECT_EQ(enabledColumn(), kBrowse);
    EXPECT_FALSE(window->renameFlag());
    EXPECT_EQ(window->profileEntries(), (Strings{"North", "South"}));
}

TEST_F(MainWindowLayout, tabVisitsTheEnabledControlsInLayoutOrder) {
    writeFile("options.ini", "North\t/games/a/\t0\r\n");
    start();
    TForm1* w = window.get();
    EXPECT_EQ(tabWalk(w->profileList(), 6),
              (std::vector<QWidget*>{w->profileList(), w->addButton(), w->deleteButton(), w->renameButton(),
                                     w->exitButton(), w->applyButton(), w->profileList()}));
    click(w->addButton());
    EXPECT_EQ(tabWalk(w->systemsField(), 8),
              (std::vector<QWidget*>{w->systemsField(), w->systemsBrowseButton(), w->gameField(), w->gameBrowseButton(),
                                     w->nameField(), w->archiveBox(), w->saveButton(), w->cancelButton(),
                                     w->systemsField()}));
    click(w->cancelButton());
    click(w->renameButton());
    EXPECT_EQ(tabWalk(w->nameField(), 3),
              (std::vector<QWidget*>{w->nameField(), w->saveButton(), w->cancelButton(), w->nameField()}));
}

TEST_F(MainWindowLayout, pickingTheSystemsFolderFillsTheGameFolderOnce) {
    start();
    click(window->addButton());
    picks.push_back(QString::fromStdString(systems));
    click(window->systemsBrowseButton());
    ASSERT_EQ(pickerCalls.size(), 1u);
    EXPECT_EQ(pickerCalls[0].parent, window.get());
    EXPECT_EQ(pickerCalls[0].title, QStringLiteral("Please specify a directory"));
    EXPECT_EQ(window->systemsField()->text().toStdString(), systems);
    EXPECT_EQ(window->gameField()->text().toStdString(), game + "/");
    EXPECT_EQ(QApplication::focusWidget(), window->gameField());

    // A second pick leaves the game folder as it is.
    picks.push_back("/x/other/system");
    click(window->systemsBrowseButton());
    EXPECT_EQ(window->systemsField()->text(), QStringLiteral("/x/other/system"));
    EXPECT_EQ(window->gameField()->text().toStdString(), game + "/");

    // The game browse button puts its pick into the game folder field, focus to the name.
    picks.push_back("/x/game");
    click(window->gameBrowseButton());
    EXPECT_EQ(window->gameField()->text(), QStringLiteral("/x/game"));
    EXPECT_EQ(QApplication::focusWidget(), window->nameField());
    EXPECT_EQ(enabledColumn(), kEdit);
}

// A picker opens at the folder its field names, or the nearest existing folder above it;
// with an empty field at the folder picked last, and before any pick at the home folder.
TEST_F(MainWindowLayout, pickerOpensAtTheFieldsFolderElseTheLastPickElseHome) {
    start();
    click(window->addButton());
    picks.push_back(QString());
    click(window->systemsBrowseButton());
    type(window->systemsField(), QString::fromStdString(systems + "/missing/deeper"));
    window->gameField()->clear(); // typing filled it
    picks.push_back(QString::fromStdString(systems));
    click(window->systemsBrowseButton());
    ASSERT_EQ(window->gameField()->text().toStdString(), game + "/");
    picks.push_back(QString());
    click(window->gameBrowseButton());
    window->gameField()->clear();
    picks.push_back(QString());
    click(window->gameBrowseButton());

    QStringList starts;
    for (const auto& call : pickerCalls)
        starts << call.startFolder;
    const QString home = QDir::homePath(), system = QString::fromStdString(systems);
    EXPECT_EQ(starts, (QStringList{home, system, QString::fromStdString(game), system}));
}

TEST_F(MainWindowLayout, cancelledPickerKeepsTheFieldAndStillMovesTheFocus) {
    start();
    click(window->addButton());
    type(window->gameField(), "/typed/game");
    type(window->systemsField(), "/typed/system");
    window->nameField()->setFocus();

    picks.push_back(QString());
    click(window->systemsBrowseButton());
    EXPECT_EQ(window->systemsField()->text(), QStringLiteral("/typed/system"));
    EXPECT_EQ(QApplication::focusWidget(), window->gameField());

    window->systemsField()->setFocus();
    picks.push_back(QString());
    click(window->gameBrowseButton());
    EXPECT_EQ(window->gameField()->text(), QStringLiteral("/typed/game"));
    EXPECT_EQ(QApplication::focusWidget(), window->nameField());
    EXPECT_EQ(pickerCalls.size(), 2u);
}

TEST_F(MainWindowLayout, typedSystemsFolderFillsAtTheFirstSeparatorOnly) {
    start();
    click(window->addButton());
    type(window->systemsField(), "system");
    EXPECT_TRUE(window->gameField()->text().isEmpty()); // no separator: nothing
    window->systemsField()->clear();
    type(window->systemsField(), "/");
    EXPECT_TRUE(window->gameField()->text().isEmpty()); // the root alone is too short
    window->systemsField()->clear();
    type(window->systemsField(), "C:");
    EXPECT_TRUE(window->gameField()->text().isEmpty());
    type(window->systemsField(), "\\");
    EXPECT_EQ(window->gameField()->text(), QStringLiteral("C:\\"));
    type(window->systemsField(), "Games\\Game\\system");
    EXPECT_EQ(window->gameField()->text(), QStringLiteral("C:\\"));

    // Once the game folder field is emptied, the next change fills it again.
    window->gameField()->clear();
    window->systemsField()->clear();
    type(window->systemsField(), "/home/player/game/system");
    EXPECT_EQ(window->gameField()->text(), QStringLiteral("/home/")); // "/" alone never fills
}

TEST_F(MainWindowLayout, activationBackFromTheBusyWindowReturnsToBrowseMode) {
    writeFile("options.ini", "North\t/games/a/\t0\r\n");
    start();
    click(window->renameButton());
    ASSERT_EQ(enabledColumn(), kRename);
    writeFile("options.ini", "North\t/games/a/\t0\r\nSouth\t/games/b/\t0\r\n");

    // Coming back from any other window changes nothing.
    {
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == window->windowHandle(); }));
        EXPECT_EQ(enabledColumn(), kRename);
        EXPECT_TRUE(window->renameFlag());
    }

    // The busy window shares the main window's activation as its child window, so the
    // wait is for the platform's focus window.
    busy->showBusy();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == busy->windowHandle(); }));
    EXPECT_EQ(enabledColumn(), kRename); // the busy window's activation changes nothing here
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == window->windowHandle(); }));
    EXPECT_EQ(enabledColumn(), kBrowse);
    EXPECT_FALSE(window->renameFlag());
    EXPECT_EQ(window->profileEntries(), (Strings{"North", "South"}));
    EXPECT_EQ(window->SelectedIndex(), 0);
    busy->hideBusy();
}

// Qt's buttons in Russian and without icons; a short text still leaves the box wide
// enough for its caption in a window manager's title font, the window icon, three title
// bar boxes of 20 pixels each and the frame's edges.
TEST_F(MainWindowLayout, messageBoxesSpeakRussianWithoutButtonIconsAndFitTheirCaption) {
    start();
    struct Seen {
        QStringList buttons;
        bool icons = false;
        int width = 0, captionWidth = 0;
    };
    auto look = [](Seen& seen) {
        return [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* b : box->buttons()) {
                seen.buttons << b->text().remove(u'&');
                seen.icons = seen.icons || !b->icon().isNull();
            }
            seen.width = box->width();
            // as a window manager draws it: Openbox, for one, in 8 point bold sans serif
            QFont titleFont(QStringLiteral("Sans"), 8, QFont::Bold);
            seen.captionWidth = QFontMetrics(titleFont).horizontalAdvance(box->windowTitle());
        };
    };
    Seen question, information;
    boxes.answer(QMessageBox::No, look(question));
    EXPECT_FALSE(window->askYesNo(text::kDeleteCaption, text::kDeleteQuestion));
    boxes.answer(QMessageBox::Ok, look(information));
    window->showInformation("./Solo.zip");
    EXPECT_EQ(boxesSeen(),
              (Strings{kestrane::testing::deleteQuestion(), kestrane::testing::informationBox("./Solo.zip")}));

    auto russian = [](const char* english) {
        return QCoreApplication::translate("QPlatformTheme", english).remove(u'&');
    };
    QStringList yesNo{russian("&Yes"), russian("&No")};
    yesNo.sort();
    question.buttons.sort();
    EXPECT_EQ(question.buttons, yesNo);
    EXPECT_NE(russian("&Yes"), QStringLiteral("Yes"));
    EXPECT_EQ(information.buttons, QStringList{russian("OK")});
    EXPECT_FALSE(question.icons || information.icons);
    for (const Seen* seen : {&question, &information})
        EXPECT_GE(seen->width, seen->captionWidth + 16 + 3 * 20 + 20);
}

// A held space key repeats: the window system sends release and press pairs marked as
// repeats. The button stays pressed and clicks once, at the real release.
TEST_F(MainWindowLayout, heldSpaceClicksAButtonOnceWhenReleased) {
    start();
    controls::TXPButton* add = window->addButton();
    add->setFocus();
    QSignalSpy clicks(add, &QAbstractButton::clicked);
    auto send = [&](QEvent::Type type, bool repeat) {
        QKeyEvent key(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), repeat);
        QApplication::sendEvent(add, &key);
    };
    send(QEvent::KeyPress, false);
    for (int i = 0; i < 5; ++i) {
        send(QEvent::KeyRelease, true);
        send(QEvent::KeyPress, true);
    }
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(enabledColumn(), kBrowse);
    send(QEvent::KeyRelease, false);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(enabledColumn(), kEdit);
}

TEST_F(MainWindowLayout, exitClosesTheWindow) {
    start();
    click(window->exitButton());
    EXPECT_FALSE(window->isVisible());
}

} // namespace
