// kestrane-cli on real folders: output lines, exit codes and the files it leaves.
#include "test_window.h"
#include "tests/support/run_command.h"

#include <gtest/gtest.h>

using kestrane::testing::shellArgument;

namespace fs = std::filesystem;
using kestrane::testing::CommandRun;
using kestrane::testing::runCommand;
using kestrane::testing::treeListing;

namespace {

// Runs kestrane-cli in the current directory with stdin not a terminal.
CommandRun cli(const std::string& args) {
    return runCommand(kestrane::testing::kestraneCli() + args + kestrane::testing::kNoInputErrorsToOutput);
}

} // namespace

class Cli : public kestrane::testing::WorkingDirectoryTest {};

TEST_F(Cli, allFourActionsOnRealFolders) {
    const std::string game = u8text(outside("game"));
    writeFile(outside("game/system/a.ini"), "a");
    writeFile(outside("game/system/d/b.ini"), "b");

    EXPECT_EQ(cli("list").out, "");
    auto saved =
        cli("save --systems " + shellArgument(game + "/system") + " --game " + shellArgument(game) + " --name Main");
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out, "Information: Сервер Main успешно сохранен\n");
    EXPECT_EQ(
        cli("save --systems " + shellArgument(game + "/system") + " --game " + shellArgument(game) + " --name Other")
            .status,
        0);
    EXPECT_EQ(cli("list").out, "Main\nOther\n");

    writeFile(outside("game/system/extra"), "x");
    auto applied = cli("apply Main");
    EXPECT_EQ(applied.status, 0);
    EXPECT_EQ(applied.out, "Information: Сервер Main записан в папку " + game + "/system\n");
    EXPECT_EQ(treeListing(outside("game/system")), treeListing("Main"));

    auto renamed = cli("rename Main Север");
    EXPECT_EQ(renamed.status, 0);
    EXPECT_EQ(renamed.out, "Information: Сервер Main успешно переименован на Север\n");
    EXPECT_TRUE(fs::is_directory(u8path("Север")));

    auto refused = cli("delete Север"); // not a terminal, no --yes: answered No
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(fs::is_directory(u8path("Север")));
    auto deleted = cli("delete Север --yes");
    EXPECT_EQ(deleted.status, 0);
    EXPECT_NE(deleted.out.find("Information: Сервер Север успешно удален\n"), std::string::npos);
    EXPECT_EQ(cli("list").out, "Other\n");
}

TEST_F(Cli, refusalsUnknownNamesAndUsage) {
    auto refused = cli("save --systems /nonexistent-kestrane --game /g --name X");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Error: Папка не найдена: /nonexistent-kestrane\n");
    auto unknown = cli("apply Nobody");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out.rfind("Error: ", 0), 0u);
    EXPECT_EQ(cli("").status, 2);
    EXPECT_EQ(cli("frobnicate").status, 2);
    EXPECT_EQ(cli("rename OnlyOne").status, 2);
    auto usage = cli("save --name X");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.out.find("usage: kestrane-cli"), std::string::npos);
}

TEST_F(Cli, listErrorsReachTheTopLevelHandler) {
    writeFile(outside("game/system/a.ini"), "a");
    writeFile("options.ini", "");
    kestrane::testing::setMode("options.ini", 0444);
    auto r = cli("save --systems " + shellArgument(u8text(outside("game/system"))) + " --game " +
                 shellArgument(u8text(outside("game"))) + " --name X");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("kestrane: Cannot write options.ini", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 2), ".\n");
}

TEST_F(Cli, archivedProfilesAndTheLongListing) {
    const std::string game = u8text(outside("game"));
    writeFile(outside("game/system/a.ini"), "a");
    writeFile(outside("game/system/d/b.ini"), "b");
    const auto source = treeListing(outside("game/system"));
    auto saved = cli("save --systems " + shellArgument(game + "/system") + " --game " + shellArgument(game + "/") +
                     " --name Main --archive");
    EXPECT_EQ(saved.status, 0) << saved.out;
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_EQ(cli("list --long").out, "Main\t" + game + "/\t1\n");
#ifndef _WIN32 // the Windows programs' archives are tested by unzip in tests/windows
    // unzip, a reader we did not write, finds the archive sound.
    EXPECT_EQ(std::system("unzip -tq Main.zip >/dev/null"), 0);
#endif

    fs::remove_all(outside("game/system"));
    EXPECT_EQ(cli("apply Main").status, 0);
    EXPECT_EQ(treeListing(outside("game/system")), source);
    EXPECT_FALSE(fs::exists("Main"));
}

TEST_F(Cli, undoIsItsOwnConfirmation) {
    const std::string game = u8text(outside("game"));
    writeFile(outside("game/system/a.ini"), "a");
    EXPECT_EQ(
        cli("save --systems " + shellArgument(game + "/system") + " --game " + shellArgument(game) + " --name Main")
            .status,
        0);
    writeFile(outside("game/system/extra"), "x");
    const auto before = treeListing(outside("game/system"));
    EXPECT_EQ(cli("apply Main").status, 0);

    auto undone = cli("undo Main"); // not a terminal and no --yes, yet not answered No
    EXPECT_EQ(undone.status, 0) << undone.out;
    EXPECT_EQ(treeListing(outside("game/system")), before);
}
