// The real main window and busy window, shown offscreen in a fresh working directory,
// driven with clicks and typed keys; the folder picker answers from a queue and every
// message box is answered by the test.
#pragma once

#include "app/busy_window.h"
#include "app/gui_application.h"
#include "app/main_window.h"
#include "controls/plain_label.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "controls/xp_edits.h"
#include "tests/app/test_window.h"
#include "tests/mainwindow/message_boxes.h"

#include <QLabel>
#include <QListWidgetItem>
#include <QTest>

#include <deque>
#include <memory>

namespace kestrane::testing {

class MainWindowTest : public WorkingDirectoryTest {
protected:
    void SetUp() override {
        WorkingDirectoryTest::SetUp();
        prepareGuiApplication();
        systems = outside("game/system").string();
        game = outside("game").string();
        writeFile(outside("game/system/l2.ini"), "server=main\n" + std::string(4000, 'k'));
        writeFile(outside("game/system/.hidden"), "h");
        writeFile(outside("game/system/sub/x.dat"), "x");
        std::filesystem::create_directories(outside("game/system/empty"));
        TForm1::setFolderPicker([this](QWidget* parent, const QString& title, const QString& startFolder) {
            pickerCalls.push_back({parent, title, startFolder});
            if (picks.empty()) {
                ADD_FAILURE() << "unexpected folder picker";
                return QString();
            }
            QString path = picks.front();
            picks.pop_front();
            return path;
        });
    }

    void TearDown() override {
        EXPECT_EQ(boxes.take(), std::vector<std::string>{}) << "boxes left unchecked";
        EXPECT_EQ(boxes.pending(), 0u) << "expected boxes did not appear";
        EXPECT_TRUE(picks.empty()) << "expected folder picks did not happen";
        busy.reset();
        window.reset();
        TForm1::setFolderPicker([](QWidget*, const QString&, const QString&) {
            ADD_FAILURE() << "folder picker outside a test";
            return QString();
        });
        WorkingDirectoryTest::TearDown();
    }

    // Start-up as the program does it: the main window, the busy window created hidden,
    // the main window shown and activated (which runs its FormActivate).
    void start() {
        window = std::make_unique<TForm1>();
        busy = std::make_unique<TForm2>(window.get());
        window->setBusyWindow(busy.get());
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    static void click(QWidget* w) {
        ASSERT_TRUE(w->isEnabled());
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    }
    void clickEntry(int row) {
        auto* list = window->profileList();
        QListWidgetItem* item = list->item(row);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    }
    // Types the text key by key; letters outside ASCII arrive as key events with text.
    static void type(controls::TXPEdit* edit, const QString& text) {
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(edit, char(c.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    // Takes an action's boxes after letting the activation changes it caused settle.
    std::vector<std::string> boxesSeen() {
        QCoreApplication::processEvents();
        return boxes.take();
    }

    // Add, pick the systems folder, type the name, set the archive box, Save.
    void saveThroughWindow(const std::string& name, bool archived, const std::string& from = {}) {
        click(window->addButton());
        picks.push_back(QString::fromStdString(from.empty() ? systems : from));
        click(window->systemsBrowseButton());
        if (window->gameField()->text().toStdString() != game + "/") {
            window->gameField()->clear();
            type(window->gameField(), QString::fromStdString(game + "/"));
        }
        type(window->nameField(), QString::fromStdString(name));
        if (window->archiveBox()->Checked() != archived)
            click(window->archiveBox());
        ASSERT_EQ(window->archiveBox()->Checked(), archived);
        boxes.answer(QMessageBox::Ok);
        click(window->saveButton());
        ASSERT_EQ(boxesSeen(), std::vector<std::string>{informationBox("Сервер " + name + " успешно сохранен")});
    }

    int rowOf(const std::string& name) const {
        const auto entries = window->profileEntries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == name)
                return int(i);
        return -1;
    }

    // Selects the entry with a click and clicks the apply button.
    void applyThroughWindow(const std::string& name) {
        clickEntry(rowOf(name));
        ASSERT_EQ(window->SelectedIndex(), rowOf(name));
        boxes.answer(QMessageBox::Ok);
        click(window->applyButton());
        ASSERT_EQ(boxesSeen(),
                  std::vector<std::string>{informationBox("Сервер " + name + " записан в папку " + game + "/system")});
    }

    std::string systems, game;
    std::deque<QString> picks;
    struct PickerCall {
        QWidget* parent;
        QString title;
        QString startFolder;
    };
    std::vector<PickerCall> pickerCalls;
    MessageBoxAnswerer boxes;
    std::unique_ptr<TForm1> window;
    std::unique_ptr<TForm2> busy;
};

} // namespace kestrane::testing
