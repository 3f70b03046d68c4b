// The main window while an action runs and while other programs change its list: the busy
// window stays above it and every long action shows it, the user's clicks change nothing
// until the action is over, the list follows options.ini, and a maximise request leaves
// the window at its size. Runs offscreen and, through CTest, on a virtual X screen with
// and without a window manager, where the clicks go through the X server.
#include "tests/mainwindow/main_window_fixture.h"
#include "tests/mainwindow/x_screen.h"

#include "app/profile_list.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace kestrane;
using kestrane::testing::deleteQuestion;
using kestrane::testing::informationBox;
using kestrane::testing::MainWindowTest;
using kestrane::testing::PumpHook;
using kestrane::testing::runCommand;
using kestrane::testing::stackingPlace;
using kestrane::testing::userClick;
using kestrane::testing::wmStackingOrder;
using kestrane::testing::xCloseRequest;
using Strings = std::vector<std::string>;

namespace {

// Counts the events of one type that reach a widget.
class EventCounter : public QObject {
public:
    EventCounter(QWidget& widget, QEvent::Type type, int& count) : m_type(type), m_count(count) {
        widget.installEventFilter(this);
    }
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == m_type)
            ++m_count;
        return false;
    }

private:
    QEvent::Type m_type;
    int& m_count;
};

class MainWindowOnScreen : public MainWindowTest {
protected:
    void writeTwoProfiles() {
        writeFile("options.ini", "North\t" + game + "/\t0\r\nSouth\t" + game + "/\t0\r\n");
        std::filesystem::copy(systems, "North", std::filesystem::copy_options::recursive);
        std::filesystem::copy(systems, "South", std::filesystem::copy_options::recursive);
    }
    QPoint entryCentre(int row) const {
        return window->profileList()->visualItemRect(window->profileList()->item(row)).center();
    }
    // Runs kestrane-cli in the working directory; answers its exit status.
    static int cli(const std::string& arguments) {
        return runCommand(kestrane::testing::kestraneCli() + arguments + " >/dev/null 2>&1").status;
    }
};

enum class Action { save, apply };

void PrintTo(Action action, std::ostream* out) { *out << (action == Action::save ? "save" : "apply"); }

class ClickWhileBusy : public MainWindowOnScreen, public ::testing::WithParamInterface<Action> {};

// While the busy window shows, the user clicks the first entry of the list: the window
// manager raises the main window, and the busy window must stay above it; the list, its
// selection and the mode stay as they were until the action is over.
TEST_P(ClickWhileBusy, busyWindowStaysOnTopAndTheListAsItWas) {
    writeTwoProfiles();
    start();
    clickEntry(1);
    ASSERT_EQ(window->SelectedIndex(), 1);
    if (GetParam() == Action::save) {
        click(window->addButton());
        picks.push_back(QString::fromStdString(systems));
        click(window->systemsBrowseButton());
        type(window->nameField(), "Third");
        click(window->archiveBox());
    }
    const bool browse = window->addButton()->isEnabled();

    bool managed = false, busyOnTop = false, mainActive = false;
    Strings entries;
    int selected = -2;
    bool browseDuring = !browse;
    PumpHook clickMain([&] {
        if (!busy->isVisible())
            return false;
        managed = !wmStackingOrder().empty();
        userClick(window->profileList()->viewport(), entryCentre(0));
        mainActive = QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == window->windowHandle(); }, 10000);
        QTest::qWait(200); // what the window manager and the platform still deliver
        const auto order = wmStackingOrder();
        busyOnTop = stackingPlace(order, *busy) > stackingPlace(order, *window) && stackingPlace(order, *window) >= 0;
        entries = window->profileEntries();
        selected = window->SelectedIndex();
        browseDuring = window->addButton()->isEnabled();
        return true;
    });
    boxes.answer(QMessageBox::Ok);
    click(GetParam() == Action::save ? window->saveButton() : window->applyButton());
    ASSERT_TRUE(clickMain.done());
    EXPECT_TRUE(mainActive) << "the click did not reach the main window";
    if (managed) {
        EXPECT_TRUE(busyOnTop) << "the window manager put the main window above the busy window";
    }
    EXPECT_EQ(entries, (Strings{"North", "South"}));
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(browseDuring, browse);
    if (GetParam() == Action::save) {
        EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Third успешно сохранен")});
        EXPECT_EQ(window->profileEntries(), (Strings{"North", "South", "Third"}));
    } else {
        EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер South записан в папку " + game + "/system")});
    }
    // The click counted as the activation coming back from the busy window.
    EXPECT_TRUE(window->addButton()->isEnabled());
    EXPECT_EQ(window->SelectedIndex(), 0);
    EXPECT_FALSE(busy->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Actions, ClickWhileBusy, ::testing::Values(Action::save, Action::apply),
                         [](const auto& info) { return info.param == Action::save ? "save" : "apply"; });

// An action of a few milliseconds shows the busy window and hides it while the window
// manager may still be activating it; the main window takes the activation back all the
// same and returns to browse mode.
TEST_F(MainWindowOnScreen, busyWindowShownForAMomentGivesTheActivationBack) {
    writeTwoProfiles();
    start();
    // The race is lost now and then, not every time: forty tries.
    for (int i = 0; i < 40; ++i) {
        click(window->renameButton());
        window->showBusyWindow();
        QElapsedTimer shown;
        shown.start();
        while (shown.elapsed() < 5)
            QCoreApplication::processEvents();
        window->hideBusyWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->addButton()->isEnabled(); }, 10000))
            << "still in rename mode after " << i + 1 << " showings; focus="
            << (QGuiApplication::focusWindow() == window->windowHandle() ? "main"
                : QGuiApplication::focusWindow() == busy->windowHandle() ? "busy"
                : QGuiApplication::focusWindow()                         ? "other"
                                                                         : "none")
            << " mainActive=" << window->isActiveWindow() << " busyVisible=" << busy->isVisible();
    }
}

// While an apply runs, the user asks to close the busy window (Alt+F4, the window
// manager's close): the window stays until the action is over, which ends as usual.
TEST_F(MainWindowOnScreen, busyWindowRefusesToCloseWhileTheActionRuns) {
    writeTwoProfiles();
    start();
    clickEntry(1);
    int closeRequests = 0;
    EventCounter counter(*busy, QEvent::Close, closeRequests);
    bool stayed = false;
    PumpHook requestClose([&] {
        if (!busy->isVisible())
            return false;
        // Off X, the window system's own close request, as the platform delivers it.
        if (kestrane::testing::onXScreen())
            EXPECT_TRUE(xCloseRequest(busy.get())) << "the X library to ask with is not at hand";
        else
            busy->windowHandle()->close();
        stayed = QTest::qWaitFor([&] { return closeRequests > 0; }, 10000) && busy->isVisible();
        return true;
    });
    boxes.answer(QMessageBox::Ok);
    click(window->applyButton());
    ASSERT_TRUE(requestClose.done());
    EXPECT_GT(closeRequests, 0) << "the close request did not reach the busy window";
    EXPECT_TRUE(stayed);
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер South записан в папку " + game + "/system")});
    EXPECT_FALSE(busy->isVisible());
}

// Renaming an archived profile repacks it, deleting removes its files, undo swaps folders:
// each shows the busy window while it works.
TEST_F(MainWindowOnScreen, archivedRenameDeleteAndUndoShowTheBusyWindow) {
    start();
    saveThroughWindow("Main", true);
    saveThroughWindow("Other", true);
    applyThroughWindow("Main");
    auto seesBusy = [&](const std::function<void()>& act) {
        PumpHook hook([&] { return busy->isVisible(); });
        act();
        QCoreApplication::processEvents();
        return hook.done() && !busy->isVisible();
    };

    EXPECT_TRUE(seesBusy([&] {
        clickEntry(rowOf("Main"));
        click(window->renameButton());
        type(window->nameField(), "West");
        boxes.answer(QMessageBox::Ok);
        click(window->saveButton());
    }));
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main успешно переименован на West")});
    EXPECT_EQ(LoadProfileList(), (Strings{"West", "Other"}));

    EXPECT_TRUE(seesBusy([&] {
        clickEntry(rowOf("West"));
        boxes.answer(QMessageBox::Yes);
        boxes.answer(QMessageBox::Ok);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    }));
    EXPECT_EQ(boxesSeen(), (Strings{"kestrane [question] (Yes No) " + std::string(text::kUndoQuestion),
                                    informationBox("Папка " + game + "/system возвращена")}));

    EXPECT_TRUE(seesBusy([&] {
        clickEntry(rowOf("Other"));
        boxes.answer(QMessageBox::Yes);
        boxes.answer(QMessageBox::Ok);
        click(window->deleteButton());
    }));
    EXPECT_EQ(boxesSeen(), (Strings{deleteQuestion(), informationBox("Сервер Other успешно удален")}));
    EXPECT_FALSE(std::filesystem::exists("Other.zip"));
}

// Profiles that kestrane-cli saves or deletes while the window is open appear in and go
// from the list; the selected profile stays selected by its name. In edit mode the list
// waits until the window is back in browse mode.
TEST_F(MainWindowOnScreen, listFollowsProfilesTheCommandLineSavesAndDeletes) {
    writeTwoProfiles();
    start();
    clickEntry(1);
    auto listed = [&](const Strings& names, int timeoutMs = 10000) {
        return QTest::qWaitFor([&] { return window->profileEntries() == names; }, timeoutMs);
    };
    ASSERT_EQ(cli("save --systems '" + systems + "' --game '" + game + "' --name Alpha"), 0);
    ASSERT_TRUE(listed({"North", "South", "Alpha"}));
    EXPECT_EQ(window->SelectedIndex(), 1);

    ASSERT_EQ(cli("delete North --yes"), 0);
    ASSERT_TRUE(listed({"South", "Alpha"}));
    EXPECT_EQ(window->SelectedIndex(), 0); // South, by its name

    clickEntry(1);
    ASSERT_EQ(cli("delete Alpha --yes"), 0);
    ASSERT_TRUE(listed({"South"}));
    EXPECT_EQ(window->SelectedIndex(), 0); // the selected one went: the first entry

    click(window->addButton());
    ASSERT_EQ(cli("save --systems '" + systems + "' --game '" + game + "' --name Beta"), 0);
    EXPECT_FALSE(listed({"South", "Beta"}, 1000)) << "the list changed in edit mode";
    click(window->cancelButton());
    EXPECT_EQ(window->profileEntries(), (Strings{"South", "Beta"}));
}

// A maximise request (the title bar's double click, the window manager's button) leaves
// the window at its design size; it keeps its minimise button and stays resizable.
TEST_F(MainWindowOnScreen, maximiseRequestKeepsTheDesignSize) {
    start();
    const QSize design(TForm1::kClientWidth, TForm1::kClientHeight);
    ASSERT_EQ(window->size(), design);
    window->showMaximized();
    QTest::qWait(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), design);
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(window->maximumSize(), design);
    EXPECT_LT(window->minimumSize().width(), design.width());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    if (!wmStackingOrder().empty()) {
        const std::string actions =
            runCommand("xprop -id " + std::to_string(window->winId()) + " _NET_WM_ALLOWED_ACTIONS").out;
        EXPECT_NE(actions.find("_NET_WM_ACTION_MINIMIZE"), std::string::npos) << actions;
        EXPECT_NE(actions.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << actions;
    }
}

} // namespace
