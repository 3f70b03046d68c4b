#include "app/profile_actions.h"
#include "app/profile_list.h"
#include "test_window.h"

#include "tests/support/linux_only.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrane;
using kestrane::testing::TestWindow;
using kestrane::testing::treeListing;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

class ProfileActions : public kestrane::testing::ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        writeFile(outside("game/system/sub/x.dat"), "x");
    }

    // Saves a profile unpacked from `from` for the game folder typed with a trailing "/".
    bool save(const std::string& name, const std::string& from) { return saveAs(name, false, from, game + "/"); }
};

TEST_F(ProfileActions, saveCopiesTheFolderAndReportsInOrder) {
    EXPECT_TRUE(save("Main", systems));
    EXPECT_EQ(window.events,
              (Events{"busy", "unbusy", "refresh", "Information: Сервер Main успешно сохранен", "clear"}));
    EXPECT_EQ(readFile("options.ini"), "Main\t" + game + "/\t0\r\n");
    EXPECT_EQ(treeListing("Main"), treeListing(systems));
    EXPECT_FALSE(fs::exists("Main.zip"));
    EXPECT_EQ(window.entries, Events{"Main"});
    EXPECT_FALSE(window.busyVisible);
}

TEST_F(ProfileActions, saveRefusalsWriteNothing) {
    struct Case {
        std::string systems, game, name, message;
    };
    const std::string longName(81, 'x');
    const std::vector<Case> cases = {
        {"", "/g", "N", "Error: Укажите путь к папке систем"},
        {systems, "", "N", "Error: Укажите путь к папке с игрой"},
        {systems, "/g", "", "Error: Название не может быть нулевым"},
        {systems, "/g", "a:b", "Error: В имени не можут содержатся символы: /\\:*?\"<>|"},
        {systems, "/g", "tab\there", "Error: В имени не можут содержатся символы: /\\:*?\"<>|"},
        {systems, "/g", longName, "Error: Название не может быть длиннее 80 символов"},
        {systems, "/g", "..", "Error: Недопустимое название сервера: .."},
        {systems, "/g", "  ", "Error: Название не может быть нулевым"},
        {u8text(outside("nowhere")), "/g", "N", "Error: Папка не найдена: " + u8text(outside("nowhere"))},
#ifdef _WIN32
        // Windows ignores letter case and drops the dots and spaces that end a name: these
        // would be the staging place and the working directory.
        {systems, "/g", ".KESTRANE-staging. ", "Error: Недопустимое название сервера: .KESTRANE-staging. "},
        {systems, "/g", "...", "Error: Недопустимое название сервера: ..."},
        {systems, "/g", ". .", "Error: Недопустимое название сервера: . ."},
#endif
    };
    for (const char c : std::string("\\/:*?\"<>|")) {
        window.systems = systems;
        window.game = "/g";
        window.name = std::string("n") + c;
        window.events.clear();
        EXPECT_FALSE(SaveProfile(window));
        EXPECT_EQ(window.events, Events{"Error: " + std::string(text::kForbiddenChars)}) << c;
    }
    for (const auto& c : cases) {
        window.systems = c.systems;
        window.game = c.game;
        window.name = c.name;
        window.events.clear();
        EXPECT_FALSE(SaveProfile(window));
        EXPECT_EQ(window.events, Events{c.message});
        EXPECT_EQ(window.name, c.name); // fields stay as typed
    }
    EXPECT_FALSE(fs::exists("options.ini"));
    EXPECT_TRUE(fs::is_empty("."));
}

// A save refuses what no apply could use or what would copy Kestrane's own files into the
// profile, with the reason, and makes nothing.
TEST_F(ProfileActions, saveRefusesFoldersItCannotMean) {
    ASSERT_TRUE(save("Keep", systems));
    const std::string list = readFile("options.ini");
    const std::string wd = u8text(fs::current_path());
    const std::string badGame = "Error: Неверная папка игры: ";
    const std::string badSystems = "Error: Недопустимый путь: ";
    struct Case {
        std::string systems, game, message;
    };
    const std::vector<Case> cases = {
        {systems, u8text(outside("NoSuchGame")), badGame + u8text(outside("NoSuchGame")) + " — папка не найдена"},
        {systems, ".", badGame + ". — папка system пересекается с рабочей папкой программы"},
        {".", game, badSystems + ". — содержит рабочую папку программы"},
        {u8text(fs::path(wd).parent_path()), game,
         badSystems + u8text(fs::path(wd).parent_path()) + " — содержит рабочую папку программы"},
        {"Keep", game, badSystems + "Keep — пересекается с папкой сервера Keep"},
        {game, game, badSystems + game + " — содержит служебные файлы Kestrane " + game + "/system.kestrane-*"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(saveAs("New", false, c.systems, c.game));
        EXPECT_EQ(window.events, Events{c.message}) << c.systems << " " << c.game;
    }
    EXPECT_EQ(readFile("options.ini"), list);
    EXPECT_FALSE(fs::exists("New"));
    EXPECT_FALSE(fs::exists(outside("NoSuchGame")));
    // Inside the game's own `system` folder is where a player saves from.
    EXPECT_TRUE(saveAs("Sub", false, u8text(outside("game/system/sub")), game));
}

TEST_F(ProfileActions, saveRefusesTakenNames) {
    ASSERT_TRUE(save("Main2", systems));
    for (const std::string name : {"Main", "main2", "0"}) {
        EXPECT_FALSE(save(name, systems));
        EXPECT_EQ(window.events, Events{"Error: Такой сервер уже существует"}) << name;
    }
    EXPECT_TRUE(save("Сервер", systems));
    // Cyrillic case makes a different name where the file system tells the two apart
    // (Windows does not: there the name is taken).
    EXPECT_EQ(save("сервер", systems), !platform::foldsCase(u8path("Сервер")));
}

TEST_F(ProfileActions, saveWithFailedFileUndoesItself) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    fs::create_symlink("/nonexistent", outside("game/system/broken"));
    ASSERT_TRUE(save("First", u8text(outside("game/system/sub"))));
    EXPECT_FALSE(save("Main", systems));
    EXPECT_EQ(
        window.events,
        (Events{"busy", "unbusy", "Error: Не удалось скопировать: " + systems + "/broken: No such file or directory"}));
    EXPECT_EQ(LoadProfileList(), Events{"First"});
    EXPECT_FALSE(fs::exists("Main"));
}

TEST_F(ProfileActions, applyReplacesSystemWithExactlyTheProfileFiles) {
    ASSERT_TRUE(save("Main", systems));
    const auto saved = treeListing("Main");
    writeFile(outside("game/system/stale.txt"), "from another server");
    window.select("Main");
    window.events.clear();
    EXPECT_TRUE(ApplyProfile(window));
    EXPECT_EQ(window.events,
              (Events{"busy", "Information: Сервер Main записан в папку " + game + "/system", "unbusy"}));
    EXPECT_EQ(treeListing(outside("game/system")), saved);
    EXPECT_EQ(treeListing("Main"), saved);
    EXPECT_EQ(window.selected, 0);
}

TEST_F(ProfileActions, applyMakesAMissingSystemFolderButNeverAGameFolder) {
    ASSERT_TRUE(save("Main", systems));
    fs::remove_all(outside("game/system"));
    window.select("Main");
    EXPECT_TRUE(ApplyProfile(window));
    EXPECT_EQ(treeListing(outside("game/system")), treeListing("Main"));

    // A game folder that went (or a typo in it, or a file in its place) is refused: a
    // `system` folder made there would never be read by the game.
    fs::remove_all(outside("game"));
    writeFile(outside("not-a-folder"), "f");
    for (const std::string& folder : {game, u8text(outside("not-a-folder"))}) {
        writeFile("options.ini", "Main\t" + folder + "\t0\r\n");
        window.events.clear();
        EXPECT_FALSE(ApplyProfile(window));
        EXPECT_EQ(window.events,
                  (Events{"busy", "unbusy", "Error: Неверная папка игры: " + folder + " — папка не найдена"}));
    }
    EXPECT_FALSE(fs::exists(outside("game")));
    EXPECT_EQ(readFile(outside("not-a-folder")), "f");
}

TEST_F(ProfileActions, applyWithoutFilesOrGameFolderTouchesNothing) {
    ASSERT_TRUE(save("Main", systems));
    const auto before = treeListing(outside("game/system"));
    fs::remove_all("Main");
    window.select("Main");
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", "Error: Файлы сервера не найдены: Main"}));
    EXPECT_EQ(treeListing(outside("game/system")), before);

    // The list changed outside the program: the selected name has no line any more.
    writeFile("options.ini", "Other\t/x\t0\r\n");
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", "Error: Сервер не найден: Main"}));
    EXPECT_EQ(treeListing(outside("game/system")), before);
}

TEST_F(ProfileActions, applyNeverDeletesTheWorkingDirectoryOrTheProfile) {
    // The program runs from a folder inside the game's system folder.
    const fs::path inside = outside("game/system/kestrane");
    fs::create_directories(inside);
    fs::current_path(inside);
    auto refusal = [](const std::string& folder) {
        return "Error: Неверная папка игры: " + folder + " — папка system пересекается с рабочей папкой программы";
    };
    EXPECT_FALSE(save("Main", u8text(outside("game/system/sub"))));
    EXPECT_EQ(window.events, Events{refusal(window.game)});
    // A line written by hand is refused at apply all the same.
    writeFile("options.ini", "Main\t" + game + "\t0\r\n");
    writeFile("Main/x.dat", "x");
    window.select("Main");
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", refusal(game)}));
    EXPECT_EQ(LoadProfileList(), Events{"Main"});
    EXPECT_TRUE(fs::exists("Main/x.dat"));
    EXPECT_TRUE(fs::exists(outside("game/system/l2.ini")));

    // The game folder is the profile folder itself: its system folder is the profile's own.
    writeFile("Main/system/own.txt", "o");
    writeFile("options.ini", "Main\t./Main\t0\r\n");
    window.select("Main");
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", refusal("./Main")}));
    EXPECT_EQ(readFile("Main/system/own.txt"), "o");
}

TEST_F(ProfileActions, actionsWithoutSelectionTouchNothing) {
    window.load();
    for (auto action : {&DeleteProfile}) {
        window.events.clear();
        EXPECT_FALSE(action(window));
        EXPECT_EQ(window.events, Events{"Error: Сервер не выбран"});
    }
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_FALSE(RenameProfile(window));
    EXPECT_EQ(window.events, (Events{"Error: Сервер не выбран", "Error: Сервер не выбран"}));
    EXPECT_FALSE(window.busyVisible);
}

TEST_F(ProfileActions, deleteTheOnlyProfileRemovesTheList) {
    ASSERT_TRUE(save("Main", systems));
    writeFile("Main.zip", "old archive");
    window.select("Main");
    window.events.clear();
    EXPECT_TRUE(DeleteProfile(window));
    EXPECT_EQ(window.events, (Events{"Ask: Удаление: Вы действительно хотите удалить запись?", "busy", "unbusy",
                                     "Information: ./Main.zip", "Information: Сервер Main успешно удален"}));
    EXPECT_FALSE(fs::exists("options.ini"));
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_FALSE(fs::exists("Main.zip"));
    EXPECT_TRUE(window.entries.empty());
}

TEST_F(ProfileActions, deleteOneOfSeveralSelectsTheFirstRemaining) {
    ASSERT_TRUE(save("Alpha", systems));
    ASSERT_TRUE(save("Beta", systems));
    ASSERT_TRUE(save("Gamma", systems));
    window.select("Beta");
    window.events.clear();
    EXPECT_TRUE(DeleteProfile(window));
    EXPECT_EQ(window.events.back(), "Information: Сервер Beta успешно удален");
    EXPECT_EQ(LoadProfileList(), (Events{"Alpha", "Gamma"}));
    EXPECT_FALSE(fs::exists("Beta"));
    EXPECT_TRUE(fs::exists("Alpha"));
    EXPECT_EQ(window.selected, 0);
}

TEST_F(ProfileActions, answeringNoChangesNothing) {
    ASSERT_TRUE(save("Main", systems));
    const auto before = treeListing(".");
    window.select("Main");
    window.answerYes = false;
    EXPECT_FALSE(DeleteProfile(window));
    EXPECT_EQ(treeListing("."), before);
}

TEST_F(ProfileActions, renameMovesLineAndFolder) {
    ASSERT_TRUE(save("Main", systems));
    ASSERT_TRUE(save("Other", systems));
    const auto files = treeListing("Main");
    window.select("Main");
    window.name = "Север";
    window.events.clear();
    EXPECT_TRUE(RenameProfile(window));
    EXPECT_EQ(window.events, (Events{"Information: Сервер Main успешно переименован на Север", "clear", "refresh"}));
    EXPECT_EQ(readFile("options.ini"), "Север\t" + game + "/\t0\r\nOther\t" + game + "/\t0\r\n");
    EXPECT_EQ(treeListing("Север"), files);
    EXPECT_FALSE(fs::exists("Main"));
}

TEST_F(ProfileActions, renameRefusalsChangeNothing) {
    ASSERT_TRUE(save("Main", systems));
    ASSERT_TRUE(save("Other", systems));
    const auto before = treeListing(".");
    struct Case {
        std::string name, message;
    };
    for (const auto& c : std::vector<Case>{{"", text::kNameEmpty},
                                           {"   ", text::kNameEmpty},     // blanks only: an invisible entry
                                           {"OTHER", text::kNameTaken},   // occurs in another line
                                           {"MyOther", text::kNameTaken}, // contains another name
                                           {"a/b", text::kForbiddenChars},
                                           {std::string(81, 'r'), text::kNameTooLong}}) {
        window.select("Main");
        window.name = c.name;
        window.events.clear();
        EXPECT_FALSE(RenameProfile(window));
        EXPECT_EQ(window.events, Events{"Error: " + c.message}) << c.name;
    }
    EXPECT_EQ(treeListing("."), before);
    // The profile's own line does not count against it.
    window.select("Main");
    window.name = "Main1";
    EXPECT_TRUE(RenameProfile(window));
}

TEST_F(ProfileActions, renameWithReadOnlyListFailsBeforeTheFolderMoves) {
    ASSERT_TRUE(save("Main", systems));
    ASSERT_TRUE(save("Other", systems));
    const auto list = readFile("options.ini");
    ::chmod("options.ini", 0444);
    window.select("Main");
    window.name = "New";
    window.events.clear();
    EXPECT_THROW(RenameProfile(window), ProfileError);
    EXPECT_TRUE(window.events.empty());
    EXPECT_EQ(readFile("options.ini"), list);
    EXPECT_TRUE(fs::is_directory("Main")); // still found under the name its line holds
    EXPECT_FALSE(fs::exists("New"));
}

TEST_F(ProfileActions, renameWithoutProfileFolderKeepsTheLine) {
    ASSERT_TRUE(save("Main", systems));
    fs::remove_all("Main");
    window.select("Main");
    window.name = "New";
    window.events.clear();
    EXPECT_FALSE(RenameProfile(window));
    ASSERT_EQ(window.events.size(), 1u);
    EXPECT_EQ(window.events[0].rfind("Error: ", 0), 0u);
    EXPECT_EQ(LoadProfileList(), Events{"Main"});
}

TEST_F(ProfileActions, namesEditedToLeaveTheWorkingDirectoryAreRefused) {
    writeFile("options.ini", "..\t" + game + "\t0\r\n");
    window.load();
    window.events.clear();
    EXPECT_FALSE(ApplyProfile(window));
    EXPECT_EQ(window.events, (Events{"Error: Недопустимое название сервера: .."}));
    // Its delete removes the line alone: no folder is touched.
    window.load();
    EXPECT_TRUE(DeleteProfile(window));
    EXPECT_EQ(readFile("options.ini"), "");
    EXPECT_TRUE(fs::exists(outside("game/system/l2.ini")));
    EXPECT_TRUE(fs::exists(fs::current_path()));
}

TEST_F(ProfileActions, listErrorHidesTheBusyWindowAndPropagates) {
    ASSERT_TRUE(save("Main", systems));
    ::chmod("options.ini", 0444);
    window.systems = systems;
    window.game = game;
    window.name = "New";
    window.events.clear();
    EXPECT_THROW(SaveProfile(window), ProfileError);
    EXPECT_EQ(window.events, (Events{"busy", "unbusy"}));
    EXPECT_FALSE(fs::exists("New"));
}
