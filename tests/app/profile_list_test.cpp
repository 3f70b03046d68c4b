#include "app/profile_list.h"
#include "test_window.h"
#include "tests/support/file_access.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrane;
using kestrane::testing::canRead;
using kestrane::testing::setFileReadOverride;
using kestrane::testing::WorkingDirectoryTest;

TEST(ProfileListText, splitsEveryLineEndAndJoinsWithCrLf) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(joinLines({"Main\tC:\\G\\\t1", "x"}), "Main\tC:\\G\\\t1\r\nx\r\n");
    EXPECT_EQ(splitLines(joinLines({"Main\t/g\t0", "Два\t/д\t1"})),
              (std::vector<std::string>{"Main\t/g\t0", "Два\t/д\t1"}));
}

TEST(ProfileListText, displayNameStopsAtTabOrEightyCharacters) {
    EXPECT_EQ(displayName("Main\t/games/x\t0"), "Main");
    EXPECT_EQ(displayName("no tab here"), "no tab here");
    const std::string longName(85, 'n');
    EXPECT_EQ(displayName(longName + "\t/g\t0"), std::string(80, 'n'));
    // Characters, not bytes: 85 Cyrillic letters show as 80 letters.
    std::string cyr;
    for (int i = 0; i < 85; ++i)
        cyr += "Ж";
    std::string expected;
    for (int i = 0; i < 80; ++i)
        expected += "Ж";
    EXPECT_EQ(displayName(cyr + "\t/g\t1"), expected);
}

TEST(ProfileListText, gameFolderLosesOneTrailingSeparator) {
    EXPECT_EQ(gameFolderOfLine("Main\tC:\\Games\\Game\\\t1", "Main"), "C:\\Games\\Game");
    EXPECT_EQ(gameFolderOfLine("Main\tC:\\Games\\Game\t1", "Main"), "C:\\Games\\Game");
    EXPECT_EQ(gameFolderOfLine("Main\t/games/game/\t0", "Main"), "/games/game");
    EXPECT_EQ(gameFolderOfLine("Main", "Main"), "");
}

TEST(ProfileListText, matchingLineIsFirstContainingNameCaseSensitive) {
    const std::vector<std::string> lines = {"Main\t/a\t0", "Main2\t/b\t1"};
    EXPECT_EQ(matchingLine(lines, "Main"), 0);
    EXPECT_EQ(matchingLine(lines, "Main2"), 1);
    EXPECT_EQ(matchingLine(lines, "main"), -1);
    EXPECT_EQ(matchingLine(lines, ""), -1);
}

TEST(ProfileListText, duplicateRuleIgnoresAsciiCaseOnlyAndSeesWholeLines) {
    EXPECT_TRUE(nameOccursInLines({"Main2\t/a\t0"}, "Main"));
    EXPECT_TRUE(nameOccursInLines({"Main\t/a\t0"}, "main"));
    EXPECT_TRUE(nameOccursInLines({"X\t/a\t1"}, "1"));
    EXPECT_FALSE(nameOccursInLines({"X\t/a\t1"}, "0"));
    EXPECT_TRUE(nameOccursInLines({"X\t/games\t0"}, "GAMES"));    // the game folder counts too
    EXPECT_FALSE(nameOccursInLines({"Сервер\t/a\t0"}, "сервер")); // Cyrillic case is significant
    EXPECT_FALSE(nameOccursInLines({"Main\t/a\t0"}, "Main", 0));  // own line left out
}

using ProfileListFile = WorkingDirectoryTest;

TEST_F(ProfileListFile, withoutFileListIsEmptyAndAppendCreatesOneLine) {
    EXPECT_FALSE(ProfileListExists());
    EXPECT_TRUE(LoadProfileList().empty());
    EXPECT_FALSE(ProfileNameTaken("Main"));
    AppendProfile("Main", "/games/x/", true);
    EXPECT_EQ(readFile("options.ini"), "Main\t/games/x/\t1\r\n");
    EXPECT_EQ(LoadProfileList(), std::vector<std::string>{"Main"});
    EXPECT_EQ(LookupGameFolder("Main"), "/games/x");
    EXPECT_TRUE(IsProfileArchived("Main"));
}

TEST_F(ProfileListFile, lookupsAndDeletesWorkOnTheRightLine) {
    AppendProfile("Main", "/a", false);
    AppendProfile("Main2", "/b", true);
    EXPECT_EQ(LookupGameFolder("Main"), "/a");
    EXPECT_EQ(LookupGameFolder("Main2"), "/b");
    EXPECT_FALSE(IsProfileArchived("Main"));
    EXPECT_TRUE(IsProfileArchived("Main2"));
    EXPECT_EQ(LookupGameFolder("Other"), "");
    DeleteProfileLine("options.ini", "Main");
    EXPECT_EQ(readFile("options.ini"), "Main2\t/b\t1\r\n");
    RenameProfileLine("Main2", "Север");
    EXPECT_EQ(readFile("options.ini"), "Север\t/b\t1\r\n");
    DeleteProfileLine("options.ini", "Север");
    EXPECT_TRUE(ProfileListExists());
    EXPECT_EQ(readFile("options.ini"), "");
    EXPECT_TRUE(LoadProfileList().empty());
}

TEST_F(ProfileListFile, eachLineIsDecodedOnItsOwnAndKeptByteForByte) {
    // A list from Windows (Windows-1251) with a UTF-8 line and a byte-order mark in front:
    // neither garbles the other, and a rewrite stores the untouched lines as they were.
    const std::string cp1251Line = "\xD1\xE5\xF0\xE2\xE5\xF0\tC:\\Games\\\t0"; // "Сервер"
    const std::string original = "\xEF\xBB\xBF" + cp1251Line + "\r\nСевер\t/s\t1\nbroken line\r\n";
    writeFile("options.ini", original);
    EXPECT_EQ(LoadProfileList(), (std::vector<std::string>{"Сервер", "Север", "broken line"}));
    EXPECT_EQ(LookupGameFolder("Сервер"), "C:\\Games");
    EXPECT_TRUE(IsProfileArchived("Север"));
    AppendProfile("Два", "/d", false);
    EXPECT_EQ(readFile("options.ini"),
              "\xEF\xBB\xBF" + cp1251Line + "\r\nСевер\t/s\t1\r\nbroken line\r\nДва\t/d\t0\r\n");
}

TEST(ProfileListText, onlyNameTabFolderTabFlagIsAProfileLine) {
    struct Case {
        const char* line;
        bool valid;
        const char* folder;
    };
    for (const Case& c : std::vector<Case>{{"Main\t/g/\t1", true, "/g"},
                                           {"Main\t/g\t0", true, "/g"},
                                           {"Main\t/games/Game10", false, ""}, // no flag
                                           {"Main\t/g\t2", false, ""},
                                           {"game1\t/g\t/system\t0", false, ""}, // extra TAB
                                           {"\t/g\t0", false, ""},
                                           {"Main\t\t0", false, ""},
                                           {"Main\t/\t0", false, ""}, // the root is no game folder
                                           {"Main", false, ""}}) {
        const auto fields = parseProfileLine(c.line);
        EXPECT_EQ(fields.has_value(), c.valid) << c.line;
        EXPECT_EQ(fields ? fields->gameFolder : "", c.folder) << c.line;
    }
}

TEST_F(ProfileListFile, readOnlyListFailsAndStaysUnchanged) {
    AppendProfile("Main", "/a", false);
    ::chmod("options.ini", 0444);
    EXPECT_THROW(AppendProfile("Other", "/b", false), ProfileError);
    EXPECT_THROW(DeleteProfileLine("options.ini", "Main"), ProfileError);
    EXPECT_EQ(readFile("options.ini"), "Main\t/a\t0\r\n");
}

TEST_F(ProfileListFile, unreadableListIsNeverReplacedByTheNewLineAlone) {
    AppendProfile("Main", "/a", false);
    ::chmod("options.ini", 0200); // can be written, not read
    setFileReadOverride(false);
    const bool unreadable = !canRead("options.ini");
    bool failed = false;
    try {
        AppendProfile("Other", "/b", false);
    } catch (const ProfileError&) {
        failed = true;
    }
    setFileReadOverride(true);
    if (!unreadable)
        GTEST_SKIP() << "no way to make a file unreadable here";
    EXPECT_TRUE(failed);
    ::chmod("options.ini", 0600);
    EXPECT_EQ(readFile("options.ini"), "Main\t/a\t0\r\n");
}

TEST_F(ProfileListFile, rewriteLeavesNoTemporaryFilesAndKeepsPermissions) {
    AppendProfile("Main", "/a", false);
    ::chmod("options.ini", 0640);
    AppendProfile("Other", "/b", false);
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator("."))
        names.push_back(u8text(e.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{"options.ini"});
#ifndef _WIN32 // Windows keeps no permission bits
    struct stat st {};
    ASSERT_EQ(::stat("options.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}
