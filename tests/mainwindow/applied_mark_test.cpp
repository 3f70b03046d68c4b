// The mark of the profile that is in the game, drawn by the list box, and the save-back
// from the list's context menu and Ctrl+S.
#include "tests/mainwindow/main_window_fixture.h"

#include "app/applied_marks.h"
#include "controls/xp_edits.h"
#include "tests/support/run_command.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTimer>

#include <fstream>

using namespace kestrane;
using kestrane::testing::informationBox;
using kestrane::testing::kestraneCli;
using kestrane::testing::MainWindowTest;
using kestrane::testing::runCommand;
using kestrane::testing::treeListing;
using Strings = std::vector<std::string>;

class AppliedMark : public MainWindowTest {
protected:
    // The mark colour found in the left margin of the entry's row, or an invalid colour.
    QColor markOf(int row) {
        auto* list = window->profileList();
        list->clearSelection(); // a selected row is drawn in the highlight colour
        const QImage image = list->renderImage();
        const QRect rect = list->visualItemRect(list->item(row)).translated(list->viewport()->pos());
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x < rect.left() + 16; ++x)
                for (const QColor& mark : {kAppliedMark, kChangedMark})
                    if (close(image.pixelColor(x, y), mark))
                        return mark;
        return {};
    }
    static bool close(const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 24;
    }
    // The mark colour of the entry's icon, read without touching the selection.
    QColor iconMarkOf(int row) const {
        const QListWidgetItem* item = window->profileList()->item(row);
        const QImage image = item != nullptr ? item->icon().pixmap(8, 8).toImage() : QImage();
        const QColor centre = image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
        for (const QColor& mark : {kAppliedMark, kChangedMark})
            if (centre.isValid() && close(centre, mark))
                return mark;
        return {};
    }
    void reload() { window->RefreshMainWindow(); }
    // The game appends a line to a file of its system folder, whose size changes.
    void gameWrites() { std::ofstream(outside("game/system/l2.ini"), std::ios::app) << "\nchat=on"; }
    // Marks that follow the disk on their own appear within kMarkRefreshMs; the bound only
    // runs out when they do not.
    static constexpr int kWaitMs = 10000;
};

TEST_F(AppliedMark, theAppliedProfileIsMarkedAndItsChangeTooWithoutTouchingTheName) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    EXPECT_FALSE(markOf(rowOf("Main")).isValid());
    applyThroughWindow("Main");
    reload();
    EXPECT_EQ(markOf(rowOf("Main")), kAppliedMark);
    EXPECT_FALSE(markOf(rowOf("Other")).isValid());
    EXPECT_TRUE(window->profileList()->item(rowOf("Main"))->font().bold());
    EXPECT_EQ(window->profileEntries(), (Strings{"Main", "Other"}));
    const QString tip = window->profileList()->item(rowOf("Main"))->toolTip();
    EXPECT_TRUE(tip.contains(QString::fromStdString(game))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Применён: "))) << tip.toStdString();

    writeFile(outside("game/system/keys.ini"), "bound");
    reload();
    EXPECT_EQ(markOf(rowOf("Main")), kChangedMark);
}

// The game writes into its system folder while the window is open and nobody clicks: the
// dot turns orange by itself, and the list keeps its entries and selection.
TEST_F(AppliedMark, turnsOrangeWhenTheGameWritesWithoutAClick) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    applyThroughWindow("Main");
    clickEntry(rowOf("Other"));
    ASSERT_EQ(iconMarkOf(rowOf("Main")), kAppliedMark);

    gameWrites();
    EXPECT_TRUE(QTest::qWaitFor([&] { return iconMarkOf(rowOf("Main")) == kChangedMark; }, kWaitMs));
    EXPECT_EQ(window->SelectedIndex(), rowOf("Other"));
    EXPECT_EQ(window->profileEntries(), (Strings{"Main", "Other"}));
    EXPECT_TRUE(window->profileList()
                    ->item(rowOf("Main"))
                    ->toolTip()
                    .contains(QStringLiteral("Папка system изменена после применения")));
    EXPECT_EQ(markOf(rowOf("Main")), kChangedMark);
}

// kestrane-cli applies another profile while the window is open: the mark moves to it.
TEST_F(AppliedMark, followsAnApplyOfTheCommandLine) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    applyThroughWindow("Main");
    ASSERT_EQ(markOf(rowOf("Main")), kAppliedMark);

    ASSERT_EQ(runCommand(kestraneCli() + "apply Other >/dev/null 2>&1").status, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return markOf(rowOf("Other")) == kAppliedMark && !markOf(rowOf("Main")).isValid(); }, kWaitMs));
}

// In edit mode the list waits for browse mode before it follows options.ini: meanwhile
// kestrane-cli deletes the entry above the applied one, and the mark stays on its own
// entry instead of going by position to the one that took its place in the file.
TEST_F(AppliedMark, staysOnItsEntryWhileTheListWaitsToFollowOptionsIni) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    applyThroughWindow("Other");
    click(window->addButton());
    ASSERT_EQ(runCommand(kestraneCli() + "delete Main --yes >/dev/null 2>&1").status, 0);

    QSignalSpy refreshes(&window->markRefreshTimer(), &QTimer::timeout);
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshes.count() >= 2; }, kWaitMs));
    EXPECT_EQ(window->profileEntries(), (Strings{"Main", "Other"}));
    EXPECT_FALSE(iconMarkOf(0).isValid());
    EXPECT_EQ(iconMarkOf(1), kAppliedMark);

    click(window->cancelButton());
    EXPECT_EQ(window->profileEntries(), Strings{"Other"});
    EXPECT_EQ(markOf(0), kAppliedMark);
}

// With the timer stopped, coming back to the window (from the game, say) is what reads the
// marks again.
TEST_F(AppliedMark, followsTheGameWhenTheWindowIsActivated) {
    start();
    saveThroughWindow("Main", false);
    applyThroughWindow("Main");
    window->markRefreshTimer().stop();
    gameWrites();

    QWidget game;
    game.show();
    game.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&game));
    ASSERT_EQ(iconMarkOf(0), kAppliedMark);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(markOf(0), kChangedMark);
}

TEST_F(AppliedMark, saveBackFromTheContextMenuAndWithCtrlS) {
    start();
    saveThroughWindow("Main", false);
    applyThroughWindow("Main");
    writeFile(outside("game/system/keys.ini"), "bound");
    const std::string updated = informationBox("Сервер Main обновлён из папки " + game + "/system");

    // The context menu of the entry: its first item saves back.
    auto* list = window->profileList();
    Strings menuTexts;
    QTimer::singleShot(0, [&] {
        QMenu* menu = window->contextMenu();
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            menuTexts.push_back(action->text().toStdString());
        menu->actions().front()->trigger();
        menu->close();
    });
    boxes.answer(QMessageBox::Ok);
    emit list->customContextMenuRequested(list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(menuTexts, (Strings{"Обновить сервер из папки игры", "Вернуть прежнюю папку system"}));
    EXPECT_EQ(boxesSeen(), Strings{updated});
    EXPECT_EQ(treeListing("Main"), treeListing(outside("game/system")));
    EXPECT_EQ(markOf(0), kAppliedMark);

    writeFile(outside("game/system/keys.ini"), "bound again");
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    clickEntry(0);
    boxes.answer(QMessageBox::Ok);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(boxesSeen(), Strings{updated});
    EXPECT_EQ(readFile("Main/keys.ini"), "bound again");
}
