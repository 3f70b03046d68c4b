// The actions as a player runs them: read-only trees restored from Windows, the player's
// own files beside ours, a list carried over from Windows, a power cut (what is on disk
// before a rename publishes it) and an apply interrupted between its steps. Tests that
// need a read-only file to be read-only for the caller run in the "as player" runs of
// these programs (tests/support/as_player) and skip under root.
#include "app/action_scope.h"
#include "app/game_folder.h"
#include "platform/file_system.h"
#include "tests/support/file_access.h"
#include "tests/support/linux_only.h"
#include "tests/support/run_command.h"
#include "transaction_fixture.h"

#include <gtest/gtest.h>

using kestrane::testing::shellArgument;

#include <regex>

using kestrane::testing::setMode;

namespace {

// Every name in a folder, sorted.
Events namesIn(const fs::path& folder) {
    Events names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(u8text(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class PlayerSafety : public Transactions {
protected:
    // A profile source as restored from a Windows archive: a read-only folder holding a
    // read-only file, inside a read-only folder.
    void makeReadOnlySource() {
        writeFile(outside("src/locked/deep/keys.ini"), "keys");
        for (const char* path : {"src/locked/deep/keys.ini", "src/a.ini"})
            setMode(outside(path), 0444);
        setMode(outside("src/locked/deep"), 0555);
        setMode(outside("src/locked"), 0555);
    }
};

TEST_F(PlayerSafety, readOnlyTreesGoThroughEveryActionAsAnOrdinaryUser) {
    makeReadOnlySource();
    ASSERT_TRUE(save("Packed", true));
    ASSERT_TRUE(save("Plain"));
    const auto source = treeListing(outside("src"));
    for (int i = 0; i < 5; ++i) {
        const std::string name = i % 2 ? "Plain" : "Packed";
        ASSERT_TRUE(apply(name)) << i << ": " << window.events.back();
        EXPECT_EQ(system(), source) << i;
        EXPECT_EQ(namesIn(outside("game")), (Events{"system", "system.kestrane-applied", "system.kestrane-backup"}))
            << i;
    }
    ASSERT_TRUE(undo("Plain"));
    ASSERT_TRUE(rename("Packed", "Repacked")) << window.events.back();
    // A profile folder that is itself read-only (moving a folder to another parent needs
    // write permission on the folder) is renamed, saved back into and deleted.
    setMode("Plain", 0555);
    ASSERT_TRUE(rename("Plain", "Moved")) << window.events.back();
    ASSERT_TRUE(apply("Moved")) << window.events.back();
    writeFile(outside("game/system/keys.ini"), "bound");
    setMode("Moved", 0555);
    ASSERT_TRUE(onSelected("Moved", [&] { return UpdateProfile(window, archive); })) << window.events.back();
    EXPECT_EQ(readFile("Moved/keys.ini"), "bound");
    setMode("Moved", 0555);
    ASSERT_TRUE(remove("Repacked")) << window.events.back();
    ASSERT_TRUE(remove("Moved")) << window.events.back();
    EXPECT_EQ(namesIn("."), Events{});
}

TEST_F(PlayerSafety, archivedSaveOfAnUnreadableFolderFailsLikeThePlainOne) {
    if (const char* why = kestrane::testing::whyNothingIsClosed())
        GTEST_SKIP() << why;
    writeFile(outside("src/closed/inside.ini"), "x");
    setMode(outside("src/closed"), 0);
    for (bool archived : {false, true}) {
        EXPECT_FALSE(save("Main", archived));
        ASSERT_FALSE(window.events.empty());
        EXPECT_NE(window.events.back().find(u8text(outside("src/closed")) + ": Permission denied"), std::string::npos)
            << archived << window.events.back();
        EXPECT_FALSE(ProfileListExists());
        EXPECT_EQ(namesIn("."), Events{});
    }
    setMode(outside("src/closed"), 0755);
}

TEST_F(PlayerSafety, anApplyCutBetweenItsStepsIsFinishedOrUndoneByTheGameFolderJournal) {
    // The folders beside game/system when recovery runs: "system", "new", "old" and
    // "backup" hold a file naming the tree they started as; `fresh` is the tree that the
    // journal records as the new folder.
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> present; // name beside game -> tree
        std::string fresh;                                        // the name holding the new tree
        std::string system, backup;                               // afterwards
    };
    const std::vector<Case> cases = {
        {"exchanged",
         {{"system", "new"}, {"system.kestrane-new", "old"}, {"system.kestrane-backup", "prev"}},
         "system",
         "new",
         "old"},
        {"not yet exchanged",
         {{"system", "old"}, {"system.kestrane-new", "new"}, {"system.kestrane-backup", "prev"}},
         "system.kestrane-new",
         "old",
         "prev"},
        {"previous backup moved aside",
         {{"system", "new"}, {"system.kestrane-new", "old"}, {"system.kestrane-trash", "prev"}},
         "system",
         "new",
         "old"},
        {"between two renames",
         {{"system.kestrane-new", "new"}, {"system.kestrane-old", "old"}},
         "system.kestrane-new",
         "new",
         "old"},
    };
    const GameFolder folder(game, game);
    for (const Case& c : cases) {
        fs::remove_all(outside("game"));
        for (const auto& [name, tree] : c.present)
            writeFile(outside("game/" + name + "/id"), tree);
        const auto id = platform::fileIdentity(outside("game/" + c.fresh));
        writeFile(folder.journal, std::to_string(id->device) + "\t" + std::to_string(id->inode) + "\n");
        ASSERT_TRUE(recoverGameFolder(window, folder)) << c.what;
        EXPECT_EQ(system(), Events{"id=" + c.system}) << c.what;
        EXPECT_EQ(treeListing(folder.backup), Events{"id=" + c.backup}) << c.what;
        EXPECT_EQ(namesIn(outside("game")), (Events{"system", "system.kestrane-backup"})) << c.what;
    }
}

TEST_F(PlayerSafety, anInterruptedApplyIsSettledEvenWhenNoLineNamesItsGameFolder) {
    ASSERT_TRUE(save("Main"));
    const GameFolder folder(game, game);
    fs::rename(outside("game/system"), folder.fresh);
    writeFile(outside("game/system/id"), "new");
    const auto id = platform::fileIdentity(folder.system);
    writeFile(folder.journal, std::to_string(id->device) + "\t" + std::to_string(id->inode) + "\n");
    writeFile(std::string(kStagingFolder) + "/journal",
              Journal{Journal::Action::Apply, "Main", {}, false, game, game, {}, 0}.text());
    writeFile("options.ini", "Main\t/elsewhere\t0\r\n"); // the line edited by hand meanwhile
    ASSERT_TRUE(recoverWorkingDirectory(window));
    EXPECT_EQ(system(), Events{"id=new"});
    EXPECT_EQ(treeListing(folder.backup), Events{"old.ini=old"});
    EXPECT_FALSE(fs::exists(folder.journal));
    EXPECT_FALSE(fs::exists(kStagingFolder));
}

TEST_F(PlayerSafety, theOnlyProfileDeleteKeepsALineAnotherCopyAdded) {
    ASSERT_TRUE(save("Main"));
    window.select("Main"); // the window's list shows one profile
    writeFile("options.ini", readFile("options.ini") + "Other\t/o\t0\r\n");
    window.events.clear();
    ASSERT_TRUE(DeleteProfile(window));
    EXPECT_EQ(readFile("options.ini"), "Other\t/o\t0\r\n");
    EXPECT_EQ(window.events.back(), "Information: Сервер Main успешно удален");
}

TEST_F(PlayerSafety, driveLettersAreFoundThroughTheWinePrefix) {
    KESTRANE_LINUX_ONLY("a Wine prefix that maps drive letters");
#ifndef _WIN32
    const fs::path prefix = outside("prefix");
    fs::create_directories(prefix / "drive_c/Games/Game/system");
    writeFile(prefix / "drive_c/Games/Game/system/old.ini", "old");
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    struct Prefix {
        explicit Prefix(const fs::path& p) { ::setenv("WINEPREFIX", p.c_str(), 1); }
        ~Prefix() { ::unsetenv("WINEPREFIX"); }
    } wine(prefix);
    const std::string list = "Main\tC:\\Games\\Game\\\t0\r\n";
    ASSERT_TRUE(save("Main", false, "C:\\Games\\Game\\"));
    EXPECT_EQ(readFile("options.ini"), list); // kept as written
    ASSERT_TRUE(apply("Main"));
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(),
                         "Information: Сервер Main записан в папку C:\\Games\\Game\\system"),
              1);
    EXPECT_EQ(treeListing(prefix / "drive_c/Games/Game/system"), treeListing(outside("src")));

    // A drive that no prefix maps, and a drive without a separator after its colon (read
    // against that drive's current folder), are refused by save and apply with the
    // reason, and nothing is made.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"D:\\Game", "диск D: не найден в префиксе Wine (" + prefix.string() + "/dosdevices)"},
        {"C:Games\\Game", "после «C:» нет «\\»: папка зависит от текущей папки диска"},
    };
    for (const auto& [folder, reason] : refused) {
        const std::string refusal = "Error: Неверная папка игры: " + folder + " — " + reason;
        EXPECT_FALSE(save("Other", false, folder));
        EXPECT_EQ(window.events.back(), refusal);
        writeFile("options.ini", list + "Far\t" + folder + "\t0\r\n");
        fs::create_directory("Far");
        EXPECT_FALSE(apply("Far"));
        EXPECT_EQ(window.events.back(), refusal);
        EXPECT_EQ(namesIn("."), (Events{"Far", "Main", "options.ini"}));
    }
    EXPECT_EQ(namesIn(prefix / "drive_c"), Events{"Games"});
    // The drive letter in lower case is the same drive.
    writeFile("options.ini", list + "Low\tc:\\Games\\Game\t0\r\n");
    fs::rename("Far", "Low");
    writeFile("Low/low.ini", "low");
    EXPECT_TRUE(apply("Low")) << window.events.back();
    EXPECT_EQ(readFile(prefix / "drive_c/Games/Game/system/low.ini"), "low");
#endif
}

TEST_F(PlayerSafety, aGameFolderThatIsNotUtf8IsRefusedBeforeItCouldBeReadBackAsAnother) {
    KESTRANE_LINUX_ONLY("file names that are not UTF-8");
    EXPECT_FALSE(save("Main", false, u8text(outside("gam\xe9"))));
    EXPECT_EQ(window.events.back().rfind("Error: Недопустимый путь: ", 0), 0u);
    EXPECT_FALSE(ProfileListExists());
}

// What reaches the disk before a rename publishes it, from the system calls in order:
// the files of a save and of an apply are written, then the file system is synced, then
// the journal is written, then the rename publishes them.
TEST_F(PlayerSafety, dataIsOnDiskBeforeARenamePublishesIt) {
    if (kestrane::testing::runCommand("strace -V >/dev/null 2>&1").status != 0)
        GTEST_SKIP() << "strace is not installed";
    const std::string cli = kestrane::testing::kestraneCli();
    auto traced = [&](const std::string& args) {
        const auto run = kestrane::testing::runCommand(
            "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o trace -e "
            "trace=copy_file_range,write,syncfs,fsync,rename,renameat,renameat2 " +
            cli + args + " </dev/null >/dev/null 2>&1");
        EXPECT_EQ(run.status, 0) << args;
        std::ifstream in("trace");
        Events calls;
        for (std::string line; std::getline(in, line);)
            calls.push_back(line);
        fs::remove("trace");
        return calls;
    };
    // The index of the last call matching `pattern` before `before`, or -1.
    auto last = [](const Events& calls, const std::string& pattern, std::size_t before) {
        const std::regex re(pattern);
        for (std::size_t i = std::min(before, calls.size()); i-- > 0;)
            if (std::regex_search(calls[i], re))
                return int(i);
        return -1;
    };
    auto first = [](const Events& calls, const std::string& pattern) {
        const std::regex re(pattern);
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (std::regex_search(calls[i], re))
                return i;
        return calls.size();
    };
    const struct {
        std::string args, publish, journal;
    } actions[] = {
        {"save --systems " + shellArgument(u8text(outside("src"))) + " --game " + shellArgument(game) + " --name Main",
         "rename.*kestrane:staging/work/Main\", .*\"\\./Main\"", "rename.*kestrane:staging/journal\\..*journal\""},
        {"apply Main", "renameat2\\(.*system\\.kestrane-new.*RENAME_EXCHANGE", "rename.*system\\.kestrane-journal\""},
    };
    for (const auto& action : actions) {
        const Events calls = traced(action.args);
        const std::size_t publish = first(calls, action.publish);
        ASSERT_LT(publish, calls.size()) << action.args;
        const int journal = last(calls, action.journal, publish);
        const int synced = last(calls, "syncfs\\(", std::size_t(std::max(journal, 0)));
        const int copied = last(calls, "copy_file_range\\(", publish);
        EXPECT_GE(journal, 0) << action.args << ": no journal before the rename that publishes";
        EXPECT_GT(synced, copied) << action.args << ": the copied files are not synced before the journal";
        EXPECT_GE(copied, 0) << action.args;
    }
}

TEST_F(PlayerSafety, aLeftoverThatCannotBeRemovedStopsTheActionAndSaysWhy) {
    const std::string stuck = std::string(kStagingFolder) + "/work/stuck.txt";
    writeFile(stuck, "x");
    if (std::system(("chattr +i '" + stuck + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot mark a file immutable";
    EXPECT_FALSE(save("Main"));
    std::system(("chattr -i '" + stuck + "'").c_str());
    EXPECT_EQ(window.events, Events{"Plain: Could NOT delete " + stuck + ": Operation not permitted"});
    EXPECT_FALSE(ProfileListExists());
    EXPECT_FALSE(fs::exists("Main"));
}

// A previous backup that cannot be deleted (a file in it immutable here; another owner's
// file for a player) is named with its reason by the apply that made it the trash, which
// then reports no success; it holds up only what needs its name: other actions of the
// working directory go on, and the next apply to that game folder says the same and
// changes nothing until the file can go.
TEST_F(PlayerSafety, aLeftoverThatCannotBeDeletedBlocksOnlyWhatNeedsItsName) {
    ASSERT_TRUE(save("Север"));
    ASSERT_TRUE(save("Юг"));
    ASSERT_TRUE(apply("Север"));
    ASSERT_TRUE(apply("Юг")); // Север's folder is the backup now
    const std::string stuck = game + "/system.kestrane-backup/a.ini";
    if (std::system(("chattr +i '" + stuck + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot mark a file immutable";
    struct Unstick {
        std::string path;
        ~Unstick() { std::system(("chattr -i '" + path + "' 2>/dev/null").c_str()); }
    } unstick{game + "/system.kestrane-trash/a.ini"};
    const std::string refusal = "Plain: Could NOT delete " + unstick.path + ": Operation not permitted";
    EXPECT_FALSE(apply("Север"));
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), refusal), 1) << window.events.back();
    EXPECT_EQ(window.events.back(), "unbusy");
    EXPECT_EQ(system(), treeListing("Север")); // applied all the same

    writeFile(outside("game2/system/k.ini"), "k");
    EXPECT_TRUE(saveAs("Other", false, u8text(outside("src")), u8text(outside("game2")))) << window.events.back();
    EXPECT_TRUE(rename("Other", "Восток")) << ::testing::PrintToString(window.events);
    EXPECT_FALSE(fs::exists(kStagingFolder));

    EXPECT_FALSE(apply("Юг"));
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), refusal), 1) << window.events.back();
    EXPECT_EQ(system(), treeListing("Север"));

    std::system(("chattr -i '" + unstick.path + "'").c_str());
    EXPECT_TRUE(apply("Юг")) << window.events.back();
    EXPECT_FALSE(fs::exists(unstick.path));
}
