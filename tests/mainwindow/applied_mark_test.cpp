// The mark of the profile that is in the game, drawn by the list box, and the save-back
// from the list's context menu and Ctrl+S.
#include "tests/mainwindow/main_window_fixture.h"

#include "app/applied_marks.h"
#include "controls/xp_edits.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QTimer>

using namespace kestrane;
using kestrane::testing::informationBox;
using kestrane::testing::MainWindowTest;
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
    void reload() { window->RefreshMainWindow(); }
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
