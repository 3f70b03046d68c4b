// The profile actions run from the real main window: save, apply, rename and delete of
// unpacked and archived profiles, damaged archives, unreadable files, clicks that arrive
// while an action pumps messages, and the top-level error handler.
#include "tests/mainwindow/main_window_fixture.h"
#include "tests/support/file_access.h"
#include "tests/support/run_command.h"
#include "tests/support/zip_damage.h"

#include "app/profile_list.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrane;
using kestrane::testing::canRead;
using kestrane::testing::corruptEntryData;
using kestrane::testing::deleteQuestion;
using kestrane::testing::errorBox;
using kestrane::testing::failureBox;
using kestrane::testing::informationBox;
using kestrane::testing::MainWindowTest;
using kestrane::testing::PumpHook;
using kestrane::testing::setFileReadOverride;
using kestrane::testing::topLevelBox;
using kestrane::testing::treeListing;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

// The names python3's zipfile lists for an archive, sorted, or "error: …".
Strings zipfileNames(const std::string& archive) {
    const std::string command =
        "python3 -c \"import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "bad = z.testzip()\n"
        "print('error: ' + bad if bad else '\\n'.join(sorted(z.namelist())))\" '" +
        archive + "'";
    const std::string out = kestrane::testing::runCommand(command).out;
    Strings lines;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    return lines;
}

class MainWindowActions : public MainWindowTest {
protected:
    void TearDown() override {
        setFileReadOverride(true);
        MainWindowTest::TearDown();
    }
    std::string readList() { return readFile("options.ini"); }
};

TEST_F(MainWindowActions, saveUnpackedKeepsTheFolderAndClearsTheFields) {
    start();
    saveThroughWindow("Main", false);
    EXPECT_EQ(readList(), "Main\t" + game + "/\t0\r\n");
    EXPECT_EQ(treeListing("Main"), treeListing(systems));
    EXPECT_FALSE(fs::exists("Main.zip"));
    EXPECT_EQ(window->profileEntries(), Strings{"Main"});
    EXPECT_EQ(window->SelectedIndex(), 0);
    for (auto* edit : {window->systemsField(), window->gameField(), window->nameField()})
        EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_TRUE(window->addButton()->isEnabled());
    EXPECT_FALSE(window->saveButton()->isEnabled());
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(MainWindowActions, saveArchivedLeavesOnlyTheArchive) {
    start();
    saveThroughWindow("Main", true);
    EXPECT_EQ(readList(), "Main\t" + game + "/\t1\r\n");
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_EQ(zipfileNames("Main.zip"),
              (Strings{"Main/.hidden", "Main/empty/", "Main/l2.ini", "Main/sub/", "Main/sub/x.dat"}));
    EXPECT_EQ(window->profileEntries(), Strings{"Main"});
    EXPECT_TRUE(window->nameField()->text().isEmpty());
    EXPECT_TRUE(window->addButton()->isEnabled());
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(MainWindowActions, saveRefusalKeepsEditModeAndWritesNothing) {
    start();
    click(window->addButton());
    type(window->systemsField(), QString::fromStdString(systems));
    type(window->nameField(), "a:b");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kForbiddenChars)});
    EXPECT_TRUE(window->saveButton()->isEnabled());
    EXPECT_EQ(window->nameField()->text(), QStringLiteral("a:b"));
    EXPECT_TRUE(fs::is_empty("."));
}

TEST_F(MainWindowActions, applyReplacesSystemWithTheProfileFiles) {
    start();
    saveThroughWindow("Main", false);
    const auto saved = treeListing("Main");
    writeFile(outside("game/system/stale.txt"), "from another server");
    writeFile(outside("game/system/l2.ini"), "changed since");
    applyThroughWindow("Main");
    EXPECT_EQ(treeListing(outside("game/system")), saved);
    EXPECT_EQ(treeListing("Main"), saved);
    EXPECT_EQ(window->SelectedIndex(), 0);
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(MainWindowActions, applyArchivedUnpacksCopiesAndLeavesNoFolder) {
    start();
    const auto source = treeListing(systems);
    saveThroughWindow("Main", true);
    saveThroughWindow("Other", false, outside("game/system/sub").string());
    writeFile(outside("game/system/stale.txt"), "x");
    fs::remove_all(outside("game/system/sub"));
    applyThroughWindow("Main");
    EXPECT_EQ(treeListing(outside("game/system")), source);
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_TRUE(fs::exists("Main.zip"));

    applyThroughWindow("Other");
    EXPECT_EQ(treeListing(outside("game/system")), Strings{"x.dat=x"});
}

TEST_F(MainWindowActions, renameModeRenamesAnUnpackedProfile) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    const auto files = treeListing("Main");
    clickEntry(rowOf("Main"));
    click(window->renameButton());
    type(window->nameField(), "Север");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main успешно переименован на Север")});
    EXPECT_EQ(readList(), "Север\t" + game + "/\t0\r\nOther\t" + game + "/\t0\r\n");
    EXPECT_EQ(treeListing("Север"), files);
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_EQ(window->profileEntries(), (Strings{"Север", "Other"}));
    EXPECT_FALSE(window->renameFlag());
    EXPECT_TRUE(window->nameField()->text().isEmpty());
    EXPECT_TRUE(window->applyButton()->isEnabled());
    applyThroughWindow("Север");
    EXPECT_EQ(treeListing(outside("game/system")), files);
}

TEST_F(MainWindowActions, renamedArchivedProfileStillApplies) {
    start();
    const auto source = treeListing(systems);
    saveThroughWindow("Main", true);
    clickEntry(0);
    click(window->renameButton());
    type(window->nameField(), "West");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main успешно переименован на West")});
    EXPECT_EQ(readList(), "West\t" + game + "/\t1\r\n");
    EXPECT_FALSE(fs::exists("Main.zip"));
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_FALSE(fs::exists("West"));
    EXPECT_EQ(zipfileNames("West.zip"),
              (Strings{"West/.hidden", "West/empty/", "West/l2.ini", "West/sub/", "West/sub/x.dat"}));

    fs::remove_all(outside("game/system"));
    applyThroughWindow("West");
    EXPECT_EQ(treeListing(outside("game/system")), source);
    EXPECT_FALSE(fs::exists("West"));
}

TEST_F(MainWindowActions, refusedRenameStaysInRenameModeForAnotherTry) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    clickEntry(rowOf("Main"));
    click(window->renameButton());
    type(window->nameField(), "Other");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kNameTaken)});
    EXPECT_TRUE(window->renameFlag());
    EXPECT_TRUE(window->saveButton()->isEnabled());
    EXPECT_FALSE(window->systemsField()->isEnabled());
    EXPECT_TRUE(fs::exists("Main"));

    window->nameField()->clear();
    type(window->nameField(), "East");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main успешно переименован на East")});
    EXPECT_EQ(LoadProfileList(), (Strings{"East", "Other"}));
    EXPECT_TRUE(fs::exists("East"));
    EXPECT_FALSE(window->renameFlag());
}

TEST_F(MainWindowActions, ctrlZInBrowseModeUndoesTheLastApplyAfterAsking) {
    start();
    saveThroughWindow("Main", false);
    const auto before = treeListing(outside("game/system"));
    writeFile(outside("game/system/stale.txt"), "from another server");
    const auto replaced = treeListing(outside("game/system"));
    applyThroughWindow("Main");
    const std::string question = "kestrane [question] (Yes No) " + std::string(text::kUndoQuestion);
    // Shortcuts reach the active window, which the main window is again once a box closed.
    auto ctrlZ = [&] {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    };

    boxes.answer(QMessageBox::No);
    ctrlZ();
    EXPECT_EQ(boxesSeen(), Strings{question});
    EXPECT_EQ(treeListing(outside("game/system")), before);

    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Ok);
    ctrlZ();
    EXPECT_EQ(boxesSeen(),
              (Strings{question, informationBox("Папка " + outside("game").string() + "/system возвращена")}));
    EXPECT_EQ(treeListing(outside("game/system")), replaced);

    // In edit mode the key belongs to the fields.
    click(window->addButton());
    ctrlZ();
    EXPECT_TRUE(boxesSeen().empty());
    EXPECT_EQ(treeListing(outside("game/system")), replaced);
}

TEST_F(MainWindowActions, deleteAskedAndAnsweredYesOrNo) {
    start();
    saveThroughWindow("Alpha", false);
    saveThroughWindow("Beta", true);
    saveThroughWindow("Gamma", false);
    const auto before = treeListing(".");

    clickEntry(rowOf("Beta"));
    boxes.answer(QMessageBox::No);
    click(window->deleteButton());
    EXPECT_EQ(boxesSeen(), Strings{deleteQuestion()});
    EXPECT_EQ(treeListing("."), before);

    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Ok);
    click(window->deleteButton());
    EXPECT_EQ(boxesSeen(), (Strings{deleteQuestion(), informationBox("Сервер Beta успешно удален")}));
    EXPECT_FALSE(fs::exists("Beta.zip"));
    EXPECT_EQ(window->profileEntries(), (Strings{"Alpha", "Gamma"}));
    EXPECT_EQ(window->SelectedIndex(), 0);
    EXPECT_EQ(LoadProfileList(), (Strings{"Alpha", "Gamma"}));

    clickEntry(rowOf("Gamma"));
    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Ok);
    click(window->deleteButton());
    EXPECT_EQ(boxesSeen(), (Strings{deleteQuestion(), informationBox("Сервер Gamma успешно удален")}));
    EXPECT_FALSE(fs::exists("Gamma"));
    EXPECT_TRUE(fs::exists("Alpha"));

    // The only profile: the archive path box, then the success box; the list file goes.
    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Ok);
    boxes.answer(QMessageBox::Ok);
    click(window->deleteButton());
    EXPECT_EQ(boxesSeen(), (Strings{deleteQuestion(), informationBox("./Alpha.zip"),
                                    informationBox("Сервер Alpha успешно удален")}));
    EXPECT_TRUE(fs::is_empty("."));
    EXPECT_EQ(window->profileList()->count(), 0);
    EXPECT_EQ(window->SelectedIndex(), -1);
}

TEST_F(MainWindowActions, actionsOnAnEmptyListTouchNothing) {
    start();
    for (auto* b : {window->applyButton(), window->deleteButton()}) {
        boxes.answer(QMessageBox::Ok);
        click(b);
        EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kNothingSelected)});
    }
    click(window->renameButton());
    type(window->nameField(), "New");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kNothingSelected)});
    EXPECT_TRUE(fs::is_empty("."));
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(MainWindowActions, damagedArchiveLeavesTheGameFolderAsItWas) {
    start();
    saveThroughWindow("Main", true);
    ASSERT_TRUE(corruptEntryData("Main.zip", "Main/l2.ini"));
    writeFile(outside("game/system/current.txt"), "the server played now");
    const auto before = treeListing(outside("game/system"));

    clickEntry(0);
    boxes.answer(QMessageBox::Ok);
    click(window->applyButton());
    EXPECT_EQ(boxesSeen(), Strings{errorBox(std::string(text::kDamagedArchive) + "./Main.zip")});
    EXPECT_EQ(treeListing(outside("game/system")), before);
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_FALSE(busy->isVisible());
    EXPECT_TRUE(window->applyButton()->isEnabled());
}

TEST_F(MainWindowActions, archiveThatIsNoZipLeavesTheGameFolderAsItWas) {
    start();
    saveThroughWindow("Main", true);
    writeFile("Main.zip", "not an archive at all");
    const auto before = treeListing(outside("game/system"));
    clickEntry(0);
    boxes.answer(QMessageBox::Ok);
    click(window->applyButton());
    const Strings seen = boxesSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind(errorBox(""), 0), 0u) << seen[0];
    EXPECT_EQ(treeListing(outside("game/system")), before);
    EXPECT_FALSE(fs::exists("Main"));
}

// Makes the systems folder's "secret.dat" unreadable once the save has started packing.
class UnreadableWhilePacking : public MainWindowActions {
protected:
    void SetUp() override {
        MainWindowActions::SetUp();
        writeFile(outside("game/system/secret.dat"), "s");
        writeFile("probe", "p");
        ::chmod("probe", 0);
        setFileReadOverride(false);
        const bool unreadable = !canRead("probe");
        setFileReadOverride(true);
        fs::remove("probe");
        if (!unreadable)
            GTEST_SKIP() << "no way to make a file unreadable here";
    }

    // Add, pick, name, archive box ticked, Save; `answers` go to the failure decisions.
    void saveWithUnreadableFile(const std::vector<QMessageBox::StandardButton>& answers) {
        start();
        click(window->addButton());
        picks.push_back(QString::fromStdString(systems));
        click(window->systemsBrowseButton());
        type(window->nameField(), "Main");
        // The archive is packed in the staging place straight from the systems folder;
        // once it has been started, the file goes unreadable.
        PumpHook spoil([this] {
            bool packing = false;
            for (const auto& entry : fs::recursive_directory_iterator("."))
                packing = packing || entry.path().extension() == ".zip";
            if (!packing)
                return false;
            ::chmod(outside("game/system/secret.dat").c_str(), 0);
            return setFileReadOverride(false);
        });
        for (auto answer : answers)
            boxes.answer(answer);
        boxes.answer(QMessageBox::Ok);
        click(window->saveButton());
        setFileReadOverride(true);
        ::chmod(outside("game/system/secret.dat").c_str(), 0644);
        EXPECT_TRUE(spoil.done());
    }
};

// A save whose packing fails saves nothing: every answer to the failure decision ends in
// the pack error naming the file, with the list, the working directory and the window as
// they were.
TEST_F(UnreadableWhilePacking, failedPackingSavesNothing) {
    const std::vector<std::vector<QMessageBox::StandardButton>> answerings = {
        {QMessageBox::Ignore}, {QMessageBox::Retry, QMessageBox::Ignore}, {QMessageBox::Abort}};
    for (const auto& answers : answerings) {
        SCOPED_TRACE(answers.size());
        saveWithUnreadableFile(answers);
        const Strings seen = boxesSeen();
        ASSERT_EQ(seen.size(), answers.size() + 1);
        for (std::size_t i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(seen[i].rfind(failureBox(""), 0), 0u) << seen[i];
            EXPECT_NE(seen[i].find("secret.dat"), std::string::npos) << seen[i];
        }
        const std::string last = seen.back();
        EXPECT_EQ(last.rfind(errorBox(text::kPackFailed), 0), 0u) << last;
        // The pack error names the user's file, and the failure decision's text with its reason.
        EXPECT_NE(last.find(systems + "/secret.dat"), std::string::npos) << last;
        EXPECT_FALSE(fs::exists("options.ini"));
        EXPECT_FALSE(fs::exists("Main"));
        EXPECT_FALSE(fs::exists("Main.zip"));
        EXPECT_TRUE(window->profileEntries().empty());
        EXPECT_FALSE(busy->isVisible());
        busy.reset();
        window.reset();
    }
}

TEST_F(MainWindowActions, clicksWhileAnActionPumpsStartNothing) {
    start();
    saveThroughWindow("Main", false);
    saveThroughWindow("Other", false);
    clickEntry(rowOf("Main"));

    // Apply pumps with the busy window up: Apply, Delete, Exit and the close box are
    // clicked meanwhile.
    int clicks = 0;
    PumpHook again([&] {
        if (!busy->isVisible())
            return false;
        for (auto* b : {window->applyButton(), window->deleteButton(), window->exitButton()}) {
            QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
            ++clicks;
        }
        // The close box too: the window stays while the action runs.
        EXPECT_FALSE(window->close());
        return true;
    });
    boxes.answer(QMessageBox::Ok);
    click(window->applyButton());
    EXPECT_TRUE(again.done());
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main записан в папку " + game + "/system")});
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(LoadProfileList(), (Strings{"Main", "Other"}));

    // Save pumps too: a second Save would have refused the name it had just written, and
    // the other buttons of edit mode would cancel or open a folder picker inside it.
    click(window->addButton());
    picks.push_back(QString::fromStdString(systems));
    click(window->systemsBrowseButton());
    type(window->nameField(), "Third");
    PumpHook saveAgain([&] {
        if (!busy->isVisible())
            return false;
        for (auto* b :
             {window->saveButton(), window->cancelButton(), window->systemsBrowseButton(), window->gameBrowseButton()})
            QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
        return true;
    });
    const std::size_t picked = pickerCalls.size();
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_TRUE(saveAgain.done());
    EXPECT_EQ(pickerCalls.size(), picked);
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Third успешно сохранен")});
    EXPECT_EQ(LoadProfileList(), (Strings{"Main", "Other", "Third"}));
}

TEST_F(MainWindowActions, keysAndClicksWhileSaveRunsChangeNothing) {
    writeFile(outside("decoy/system/decoy.txt"), "not this one");
    start();
    click(window->addButton());
    picks.push_back(QString::fromStdString(systems));
    click(window->systemsBrowseButton());
    type(window->nameField(), "Main");
    ASSERT_TRUE(window->archiveBox()->Checked());
    // In the middle of the save the user retypes both folders and clears the archive box:
    // neither the fields nor the box take it, and what is saved is what Save was given.
    const QString typed[] = {window->systemsField()->text(), window->gameField()->text()};
    PumpHook edit([&] {
        if (!busy->isVisible())
            return false;
        for (auto* field : {window->systemsField(), window->gameField()}) {
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_Backspace);
        }
        type(window->systemsField(), QString::fromStdString(outside("decoy/system").string()));
        type(window->gameField(), "/decoy/");
        click(window->archiveBox());
        EXPECT_EQ(window->systemsField()->text(), typed[0]);
        EXPECT_EQ(window->gameField()->text(), typed[1]);
        EXPECT_TRUE(window->archiveBox()->Checked());
        return true;
    });
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    EXPECT_TRUE(edit.done());
    EXPECT_EQ(boxesSeen(), Strings{informationBox("Сервер Main успешно сохранен")});
    EXPECT_EQ(readList(), "Main\t" + game + "/\t1\r\n");
    EXPECT_EQ(zipfileNames("Main.zip"),
              (Strings{"Main/.hidden", "Main/empty/", "Main/l2.ini", "Main/sub/", "Main/sub/x.dat"}));
    EXPECT_FALSE(fs::exists("Main"));
}

TEST_F(MainWindowActions, listErrorReachesTheTopLevelHandler) {
    start();
    saveThroughWindow("Main", false);
    const std::string list = readList();
    ::chmod("options.ini", 0444);
    click(window->addButton());
    picks.push_back(QString::fromStdString(systems));
    click(window->systemsBrowseButton());
    type(window->nameField(), "New");
    boxes.answer(QMessageBox::Ok);
    click(window->saveButton());
    const Strings seen = boxesSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind(topLevelBox(""), 0), 0u) << seen[0];
    EXPECT_GT(seen[0].size(), topLevelBox("").size() + 1);
    EXPECT_EQ(seen[0].back(), '.');
    EXPECT_NE(seen[0].find("options.ini"), std::string::npos) << seen[0];
    EXPECT_EQ(readList(), list);
    EXPECT_FALSE(fs::exists("New"));
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(MainWindowActions, applyArchivedIgnoresAFolderLeftUnderItsName) {
    start();
    const auto source = treeListing(systems);
    saveThroughWindow("Main", true);
    writeFile("Main/l2.ini", "left over");
    writeFile("Main/extra.txt", "not in the archive");
    const auto leftOver = treeListing("Main");
    applyThroughWindow("Main");
    EXPECT_EQ(treeListing(outside("game/system")), source);
    // The apply unpacks elsewhere: the folder nobody listed stays as it was.
    EXPECT_EQ(treeListing("Main"), leftOver);
}

TEST_F(MainWindowActions, saveRefusesANameWhosePlaceIsTaken) {
    start();
    saveThroughWindow("Main", true);
    writeFile("Left/over.txt", "a folder nobody listed");
    const auto before = treeListing(".");
    // options.ini itself, the archive of Main, a folder that is no profile's.
    for (const std::string name : {"options.ini", "Main.zip", "Left"}) {
        click(window->addButton());
        picks.push_back(QString::fromStdString(systems));
        click(window->systemsBrowseButton());
        type(window->nameField(), QString::fromStdString(name));
        boxes.answer(QMessageBox::Ok);
        click(window->saveButton());
        EXPECT_EQ(boxesSeen(), Strings{errorBox(text::kNameTaken)}) << name;
        EXPECT_EQ(treeListing("."), before) << name;
        click(window->cancelButton());
    }
    EXPECT_EQ(LoadProfileList(), Strings{"Main"});
}

TEST_F(MainWindowActions, applyArchivedEmptyProfileLeavesAnEmptySystemFolder) {
    fs::create_directories(outside("empty/system"));
    start();
    saveThroughWindow("Main", true, outside("empty/system").string());
    EXPECT_EQ(zipfileNames("Main.zip"), Strings{""}); // no entries
    applyThroughWindow("Main");
    EXPECT_TRUE(fs::is_directory(outside("game/system")));
    EXPECT_TRUE(fs::is_empty(outside("game/system")));
    EXPECT_FALSE(fs::exists("Main"));
}

} // namespace
