// The profile actions as transactions: a second copy, a full disk, leftovers of an
// interrupted action, damaged lines and archives, the apply's backup and its undo.
#include "app/action_scope.h"
#include "app/game_folder.h"
#include "app/profile_actions.h"
#include "app/profile_archive.h"
#include "app/profile_list.h"
#include "archiver/zip_archiver.h"
#include "platform/file_lock.h"
#include "transaction_fixture.h"
#include "tests/support/linux_only.h"
#include "tests/support/run_command.h"

#include <gtest/gtest.h>

using kestrane::testing::shellArgument;

#ifndef _WIN32
#include <sys/mount.h>
#endif

using namespace kestrane;
using kestrane::testing::TestWindow;
using kestrane::testing::treeListing;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

TEST_F(Transactions, secondCopyIsRefusedAndChangesNothing) {
    ASSERT_TRUE(save("Main"));
    const auto held = platform::FileLock::acquire(".", platform::FileLock::Mode::Exclusive);
    ASSERT_TRUE(held);
    const std::string list = readFile("options.ini");
    const Events refused{"Error: Другая копия Kestrane сейчас работает с этой папкой"};
    EXPECT_FALSE(save("Other"));
    EXPECT_EQ(window.events, refused);
    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events, refused);
    EXPECT_FALSE(remove("Main"));
    EXPECT_FALSE(rename("Main", "New"));
    EXPECT_EQ(readFile("options.ini"), list);
    EXPECT_EQ(system(), (Events{"old.ini=old"}));
    EXPECT_TRUE(fs::exists("Main"));
}

TEST_F(Transactions, parallelSavesEachEndListedOrRefused) {
    KESTRANE_LINUX_ONLY("a shell that starts six programs at once and waits for them");
    // Six copies of kestrane-cli at once: every one that says it saved has its line,
    // every other one said another copy was at work, and no line is lost.
    std::string script;
    for (int i = 0; i < 6; ++i)
        script += kestrane::testing::kestraneCli() + "save --systems '" + u8text(outside("src")) + "' --game '" + game +
                  "' --name P" + std::to_string(i) + " >out" + std::to_string(i) + " 2>&1 & ";
    ASSERT_EQ(std::system((script + "wait").c_str()), 0);
    int saved = 0;
    for (int i = 0; i < 6; ++i) {
        const std::string out = readFile("out" + std::to_string(i));
        const bool ok = out.find("успешно сохранен") != std::string::npos;
        saved += ok;
        EXPECT_TRUE(ok || out.find("Другая копия Kestrane") != std::string::npos) << out;
        EXPECT_EQ(ok, readListFile().hasProfile("P" + std::to_string(i))) << out;
        EXPECT_EQ(ok, fs::exists("P" + std::to_string(i)));
    }
    EXPECT_EQ(int(LoadProfileList().size()), saved);
    EXPECT_GE(saved, 1);
}

TEST_F(Transactions, fullDiskDuringSaveListsNothingAndNamesTheCause) {
    KESTRANE_LINUX_ONLY("a small file system mounted for the test");
#ifndef _WIN32
    const fs::path small = outside("small");
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{small};
    fs::create_directories(small / "wd");
    fs::current_path(small / "wd");
    writeFile("options.ini", "Keep\t/k\t0\r\n");
    // Does not compress: the archive cannot fit either.
    writeFile(outside("src/noise.bin"), kestrane::testing::randomBytes(100000, 1));
    for (bool archived : {false, true}) {
        EXPECT_FALSE(save("Main", archived));
        ASSERT_EQ(window.events.size(), 3u);
        EXPECT_NE(window.events[2].find("No space left on device"), std::string::npos) << window.events[2];
        EXPECT_EQ(readFile("options.ini"), "Keep\t/k\t0\r\n");
        EXPECT_EQ(treeListing("."), (Events{"options.ini=Keep\t/k\t0\r\n"}));
    }
#endif
}

TEST_F(Transactions, applyKeepsTheReplacedFolderAndUndoSwapsItBack) {
    ASSERT_TRUE(save("Main"));
    EXPECT_FALSE(undo("Main"));
    EXPECT_EQ(window.events, Events{"Error: Нет сохранённой папки system для " + game});
    ASSERT_TRUE(apply("Main"));
    const auto applied = system();
    EXPECT_EQ(treeListing(outside("game/system.kestrane-backup")), (Events{"old.ini=old"}));

    window.answerYes = false;
    EXPECT_FALSE(undo("Main"));
    EXPECT_EQ(system(), applied);
    window.answerYes = true;
    EXPECT_TRUE(undo("Main"));
    EXPECT_EQ(window.events, (Events{"Ask: kestrane: Вернуть папку system, которая была до последнего применения?",
                                     "busy", "unbusy", "Information: Папка " + game + "/system возвращена"}));
    EXPECT_EQ(system(), (Events{"old.ini=old"}));
    EXPECT_TRUE(undo("Main")); // a second undo redoes
    EXPECT_EQ(system(), applied);
    EXPECT_EQ(u8text(fs::directory_iterator(outside("game"))->path().filename()).rfind("system", 0), 0u);
}

TEST_F(Transactions, recoveryFinishesOrUndoesAHalfDoneSwap) {
    struct Case {
        std::vector<std::string> present; // names beside game/system before recovery (system first when there)
        std::string system;               // what game/system holds afterwards
        std::string backup;               // what the backup holds afterwards ("" when none)
    };
    const std::vector<Case> cases = {
        {{"system", "system.kestrane-partial"}, "system", ""},
        {{"system", "system.kestrane-new", "system.kestrane-trash"}, "system", ""},
        {{"system.kestrane-new", "system.kestrane-backup"}, "system.kestrane-new", "system.kestrane-backup"},
        {{"system", "system.kestrane-undo"}, "system", "system.kestrane-undo"},
        {{"system.kestrane-undo", "system.kestrane-backup"}, "system.kestrane-undo", "system.kestrane-backup"},
    };
    for (const Case& c : cases) {
        fs::remove_all(outside("game"));
        for (const auto& name : c.present)
            writeFile(outside("game/" + name + "/id"), name);
        ASSERT_TRUE(recoverGameFolder(window, GameFolder(game, game)));
        EXPECT_EQ(system(), Events{"id=" + c.system}) << c.present.back();
        EXPECT_EQ(treeListing(outside("game/system.kestrane-backup")),
                  c.backup.empty() ? Events{} : Events{"id=" + c.backup})
            << c.present.back();
        std::size_t entries = 0;
        for ([[maybe_unused]] auto& e : fs::directory_iterator(outside("game")))
            ++entries;
        EXPECT_EQ(entries, c.backup.empty() ? 1u : 2u) << c.present.back();
    }
}

TEST_F(Transactions, journalOfAnInterruptedActionIsSettledByTheList) {
    // A save that moved its folder into place but never wrote its line is undone; a
    // delete whose line is still there gets its files back.
    ASSERT_TRUE(save("Keep"));
    fs::create_directories(std::string(kStagingFolder));
    fs::rename("Keep", ActionScope::movedFolder());
    writeFile(std::string(kStagingFolder) + "/journal",
              Journal{Journal::Action::Delete, "Keep", {}, false, {}, {}, {}, 0}.text());
    ASSERT_TRUE(recoverWorkingDirectory(window));
    EXPECT_EQ(treeListing("Keep"), treeListing(outside("src")));

    fs::create_directories(std::string(kStagingFolder));
    fs::copy(outside("src"), "Half", fs::copy_options::recursive);
    writeFile(std::string(kStagingFolder) + "/journal",
              Journal{Journal::Action::Save, "Half", {}, false, {}, {}, {}, 0}.text());
    // The one name a killed rewrite of the list leaves goes; the player's own copies stay.
    writeFile("options.ini.kestrane-new", "a rewrite killed half-way");
    for (const std::string own : {"options.ini.backup", "options.ini.Ab12Cd", "options.ini.old"})
        writeFile(own, "mine");
    ASSERT_TRUE(recoverWorkingDirectory(window));
    EXPECT_FALSE(fs::exists("Half"));
    EXPECT_FALSE(fs::exists(kStagingFolder));
    EXPECT_FALSE(fs::exists("options.ini.kestrane-new"));
    for (const std::string own : {"options.ini.backup", "options.ini.Ab12Cd", "options.ini.old"})
        EXPECT_EQ(readFile(own), "mine") << own;
    EXPECT_EQ(LoadProfileList(), Events{"Keep"});
}

TEST_F(Transactions, damagedLinesAreNeverActedOnButCanBeDeleted) {
    ASSERT_TRUE(save("Main"));
    const std::string main = "Main\t" + game + "0\r\n"; // the flag is missing
    const std::string two = "Two\t/g\t/system\t0\r\n";  // one TAB too many
    const std::string text = "a note: no TABs\r\n";
    writeFile("options.ini", main + two + text);
    for (const std::string name : {"Main", "Two"}) {
        EXPECT_FALSE(apply(name));
        EXPECT_EQ(window.events.back(), "Error: Неверная строка в options.ini: " + name);
        EXPECT_FALSE(rename(name, "Other"));
        EXPECT_EQ(window.events.back(), "Error: Неверная строка в options.ini: " + name);
    }
    EXPECT_EQ(readFile("options.ini"), main + two + text);
    // A delete removes such a line alone, after the usual question: no file is touched
    // and every other line stays byte for byte.
    EXPECT_TRUE(remove("Main"));
    EXPECT_EQ(window.events.front(), "Ask: Удаление: Вы действительно хотите удалить запись?");
    EXPECT_EQ(readFile("options.ini"), two + text);
    EXPECT_TRUE(remove("a note: no TABs"));
    EXPECT_EQ(readFile("options.ini"), two);
    EXPECT_EQ(system(), (Events{"old.ini=old"}));
    EXPECT_TRUE(fs::exists("Main"));
}

TEST_F(Transactions, saveRefusesControlCharactersInFolders) {
    EXPECT_FALSE(save("Main", false, game + "\nPhantom\t/x\t0"));
    EXPECT_EQ(window.events, Events{"Error: Недопустимый путь: " + game + "\nPhantom\t/x\t0"});
    EXPECT_FALSE(ProfileListExists());
}

TEST_F(Transactions, applyRefusesASystemFolderThatOverlapsProfiles) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    ASSERT_TRUE(save("A"));
    ASSERT_TRUE(save("system"));
    // A game folder whose system folder holds the working directory, through a link.
    fs::create_directories(outside("linked"));
    fs::create_directory_symlink(outside(""), outside("linked/system"));
    const std::string list = readFile("options.ini");
    const auto before = treeListing(".");
    for (const std::string& folder : std::vector<std::string>{".", "./A", u8text(outside("linked"))}) {
        writeFile("options.ini", list + "Bad\t" + folder + "\t0\r\n");
        EXPECT_FALSE(apply("Bad"));
        EXPECT_EQ(window.events.back(),
                  "Error: Неверная папка игры: " + folder + " — папка system пересекается с рабочей папкой программы")
            << folder;
    }
    writeFile("options.ini", list);
    EXPECT_EQ(treeListing("."), before);
}

TEST_F(Transactions, onlyProfileDeleteSucceedsOnlyWhenTheListIsGone) {
    // A read-only list is refused before anything moves; a list that cannot be removed
    // (immutable) fails the delete and the profile's files come back.
    ASSERT_TRUE(save("Main", true));
    for (const std::string lock : {"chmod 0444", "chattr +i"}) {
        if (std::system((lock + " options.ini 2>/dev/null").c_str()) != 0)
            continue; // no immutable files on this file system
        window.select("Main");
        EXPECT_THROW(DeleteProfile(window), ProfileError) << lock;
        std::system("chattr -i options.ini 2>/dev/null; chmod 0644 options.ini");
        EXPECT_TRUE(fs::exists("Main.zip")) << lock;
        EXPECT_EQ(LoadProfileList(), Events{"Main"}) << lock;
        EXPECT_FALSE(fs::exists(kStagingFolder)) << lock;
    }
}

TEST_F(Transactions, truncatedProfileArchiveIsRefusedByApplyAndRename) {
    ASSERT_TRUE(save("Main", true));
    // Cut at the start of the second entry: the directory is gone, one entry remains whole.
    std::string bytes = readFile("Main.zip");
    const auto second = bytes.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    writeFile("Main.zip", bytes.substr(0, second));
    const std::string damaged = readFile("Main.zip");
    const std::string refusal = "Error: Архив сервера повреждён: ./Main.zip";
    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events.back(), refusal);
    EXPECT_FALSE(rename("Main", "New"));
    EXPECT_EQ(window.events.back(), refusal);
    EXPECT_EQ(readFile("Main.zip"), damaged);
    EXPECT_EQ(system(), (Events{"old.ini=old"}));
    EXPECT_EQ(LoadProfileList(), Events{"Main"});
}

TEST_F(Transactions, cliAcceptsDashNamesAndUndo) {
    const std::string cli = kestrane::testing::kestraneCli();
    auto run = [&](const std::string& args) {
        return kestrane::testing::runCommand(cli + args + kestrane::testing::kNoInputErrorsToOutput);
    };
    ASSERT_EQ(run("save --systems " + shellArgument(u8text(outside("src"))) + " --game " + shellArgument(game) +
                  " --name -dash")
                  .status,
              0);
    EXPECT_EQ(run("apply -- -dash").status, 0);
    EXPECT_EQ(system(), treeListing("-dash"));
    const auto undone = run("undo -- -dash");
    EXPECT_EQ(undone.status, 0) << undone.out;
    EXPECT_EQ(system(), (Events{"old.ini=old"}));
    fs::remove("options.ini");
    fs::create_directory("options.ini"); // a list that cannot be read is an error, not an empty list
    EXPECT_EQ(run("list").status, 1);
}
