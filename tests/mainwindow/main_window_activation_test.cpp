// When the main window runs FormActivate: at its first activation and when it takes the
// activation back from the busy window, never after a message box, the folder picker or
// another window, whether or not the busy window has been shown before. The same tests run
// offscreen and, through CTest, on a virtual X screen with and without a window manager.
#include "tests/mainwindow/main_window_fixture.h"

#include <QFileDialog>
#include <QLabel>
#include <gtest/gtest.h>

using namespace kestrane;
using kestrane::testing::errorBox;
using kestrane::testing::informationBox;
using kestrane::testing::MainWindowTest;
using Strings = std::vector<std::string>;

namespace {

// Accepts the real folder dialog with `path` as soon as it is on screen, keeping its
// title and the text of its "Look in" label.
class FolderDialogAnswerer : public QObject {
public:
    explicit FolderDialogAnswerer(QString path) : m_path(std::move(path)) {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible())
                return;
            m_poll.stop();
            title = dialog->windowTitle();
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel")))
                lookIn = label->text();
            dialog->setDirectory(m_path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        m_poll.start();
    }
    QString title, lookIn;

private:
    QString m_path;
    QTimer m_poll;
};

enum class Interruption { folderPicker, messageBox, otherWindow };

struct ActivationCase {
    Interruption interruption;
    bool busyShownBefore;
};

void PrintTo(const ActivationCase& c, std::ostream* out) {
    *out << int(c.interruption) << (c.busyShownBefore ? " after busy" : " fresh");
}

std::string caseName(const ::testing::TestParamInfo<ActivationCase>& info) {
    const char* names[] = {"folderPicker", "messageBox", "otherWindow"};
    return std::string(names[int(info.param.interruption)]) + (info.param.busyShownBefore ? "AfterBusy" : "Fresh");
}

class MainWindowActivation : public MainWindowTest, public ::testing::WithParamInterface<ActivationCase> {
protected:
    // Another window takes the activation and goes away.
    static void activateAnotherWindow() {
        QWidget other;
        other.resize(100, 50);
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }));
    }
    // The main window active again, as the window manager or the user's next click makes it.
    // A window manager may pass over a request that comes while it is busy with the
    // closing window, so it is asked again.
    void activateMainWindow() {
        auto active = [&] { return QGuiApplication::focusWindow() == window->windowHandle(); };
        for (int attempt = 0; attempt < 10 && !active(); ++attempt) {
            window->raise();
            window->activateWindow();
            if (QTest::qWaitFor(active, 1000))
                break;
        }
        ASSERT_TRUE(active());
        // Whatever the platform delivers late arrives now.
        QTest::qWait(50);
    }
};

// A new profile typed after the interruption is saved as new: the mode, the fields and
// the next click stay as the user left them, and the selected profile is not renamed.
TEST_P(MainWindowActivation, interruptionKeepsEditModeAndTheNextSaveSavesANewProfile) {
    const ActivationCase c = GetParam();
    writeFile("options.ini", "Keep\t" + game + "/\t0\r\n");
    start();
    if (c.busyShownBefore)
        saveThroughWindow("Second", false);
    const Strings listed = window->profileEntries();
    ASSERT_EQ(window->SelectedIndex(), 0);

    click(window->addButton());
    if (c.interruption == Interruption::folderPicker) {
        TForm1::setFolderPicker(&TForm1::pickFolderWithDialog);
        FolderDialogAnswerer answer(QString::fromStdString(systems));
        click(window->systemsBrowseButton());
        EXPECT_EQ(answer.title, QStringLiteral("Please specify a directory"));
        // Qt's own texts come in Russian.
        EXPECT_EQ(answer.lookIn, QCoreApplication::translate("QFileDialog", "Look in:"));
        EXPECT_NE(answer.lookIn, QStringLiteral("Look in:"));
    } else {
        picks.push_back(QString::fromStdString(systems));
        click(window->systemsBrowseButton());
    }
    if (c.interruption == Interruption::messageBox) {
        boxes.answer(QMessageBox::Ok);
        click(window->saveButton());
        EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kNameEmpty)});
    } else if (c.interruption == Interruption::otherWindow) {
        activateAnotherWindow();
    }
    activateMainWindow();

    EXPECT_TRUE(window->saveButton()->isEnabled());
    EXPECT_TRUE(window->systemsField()->isEnabled());
    EXPECT_FALSE(window->addButton()->isEnabled());
    EXPECT_FALSE(window->renameFlag());
    EXPECT_EQ(window->systemsField()->text().toStdString(), systems);
    EXPECT_EQ(window->gameField()->text().toStdString(), game + "/");

    type(window->nameField(), "New1");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер New1 успешно сохранен")});
    Strings expected = listed;
    expected.push_back("New1");
    EXPECT_EQ(window->profileEntries(), expected);
    EXPECT_EQ(LoadProfileList(), expected);
    EXPECT_TRUE(std::filesystem::exists(window->archiveBox()->Checked() ? "New1.zip" : "New1"));
    EXPECT_TRUE(window->addButton()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Interruptions, MainWindowActivation,
                         ::testing::Values(ActivationCase{Interruption::folderPicker, false},
                                           ActivationCase{Interruption::folderPicker, true},
                                           ActivationCase{Interruption::messageBox, false},
                                           ActivationCase{Interruption::messageBox, true},
                                           ActivationCase{Interruption::otherWindow, false},
                                           ActivationCase{Interruption::otherWindow, true}),
                         caseName);

} // namespace
