// kestrane-launch and the installed files: the launcher starts the program beside it in
// the player's data folder, and an install puts programs, launcher, desktop file and icon
// where the desktop finds them.
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using kestrane::testing::CommandRun;
using kestrane::testing::readFile;
using kestrane::testing::runCommand;
using kestrane::testing::writeFile;

namespace {

// Runs a shell command line, stdout and stderr together.
CommandRun shell(const std::string& command) { return runCommand(command + " </dev/null 2>&1"); }

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// A scratch folder for one test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_temp.path().empty());
        m_dir = fs::canonical(m_temp.path());
    }
    const fs::path& dir() const { return m_dir; }

private:
    kestrane::testing::TempFolder m_temp{"kestrane-launch"};
    fs::path m_dir;
};

// The launcher from the source tree, next to a stand-in program named kestrane that
// prints the folder it was started in and its arguments, one a line.
class KestraneLaunch : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        fs::create_directories(bin());
        fs::copy_file(fs::path(KESTRANE_SOURCE_DIR) / "app/resources/kestrane-launch", bin() / "kestrane-launch");
        writeFile(bin() / "kestrane",
                  "#!/bin/sh\necho \"started in $(pwd)\"\nfor a in \"$@\"; do echo \"arg $a\"; done\n");
        fs::permissions(bin() / "kestrane", fs::perms::owner_all, fs::perm_options::add);
    }
    fs::path bin() const { return dir() / "bin"; }
};

} // namespace

TEST_F(KestraneLaunch, startsTheProgramInItsFolderUnderXdgDataHome) {
    const fs::path data = dir() / "data home"; // not there yet, and with a blank
    const auto run =
        shell("XDG_DATA_HOME=" + quoted(data) + " sh " + quoted(bin() / "kestrane-launch") + " 'one arg' two");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "started in " + (data / "kestrane").string() + "\narg one arg\narg two\n");
    EXPECT_TRUE(fs::is_directory(data / "kestrane"));

    // A second start uses the same folder and what is in it.
    writeFile(data / "kestrane" / "options.ini", "Main\t/g\t0\r\n");
    EXPECT_EQ(shell("XDG_DATA_HOME=" + quoted(data) + " sh " + quoted(bin() / "kestrane-launch")).out,
              "started in " + (data / "kestrane").string() + "\n");
    EXPECT_EQ(readFile(data / "kestrane" / "options.ini"), "Main\t/g\t0\r\n");
}

TEST_F(KestraneLaunch, usesHomeLocalShareWithoutXdgDataHomeAndIsFoundOnThePath) {
    // As the desktop file starts it: by name, through PATH, from another folder.
    const fs::path home = dir() / "home";
    const auto run = shell("cd / && env -u XDG_DATA_HOME HOME=" + quoted(home) + " PATH=" + quoted(bin()) +
                           ":\"$PATH\" kestrane-launch");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "started in " + (home / ".local/share/kestrane").string() + "\n");
    EXPECT_TRUE(fs::is_directory(home / ".local/share/kestrane"));
}

TEST_F(KestraneLaunch, failsWithoutStartingTheProgramWhenTheFolderCannotBeMade) {
    writeFile(dir() / "not a folder", "x"); // the data home is a file
    const auto run =
        shell("XDG_DATA_HOME=" + quoted(dir() / "not a folder") + " sh " + quoted(bin() / "kestrane-launch"));
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out.find("started in"), std::string::npos) << run.out;
}

class KestraneInstall : public ScratchTest {};

TEST_F(KestraneInstall, installsProgramsLauncherDesktopFileAndIconThatStartTogether) {
    const fs::path prefix = dir() / "prefix";
    const auto install = shell(std::string("'") + KESTRANE_CMAKE_COMMAND +
                               "' --install '" KESTRANE_BINARY_DIR "' --prefix " + quoted(prefix));
    ASSERT_EQ(install.status, 0) << install.out;

    for (const char* program : {"kestrane", "kestrane-cli", "kestrane-zip", "kestrane-launch"}) {
        const fs::path p = prefix / "bin" / program;
        ASSERT_TRUE(fs::is_regular_file(p)) << p;
        EXPECT_NE(fs::status(p).permissions() & fs::perms::owner_exec, fs::perms::none) << p;
    }
    // The desktop entry starts the launcher by name and shows the installed icon.
    const std::string desktop = readFile(prefix / "share/applications/kestrane.desktop");
    EXPECT_NE(desktop.find("\nExec=kestrane-launch\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("\nIcon=kestrane\n"), std::string::npos) << desktop;
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/scalable/apps/kestrane.svg"));

    // The installed launcher starts the installed window in the data folder: it paints and,
    // asked to, quits at once (on the offscreen platform).
    const fs::path data = dir() / "data";
    const auto started = shell(
        "QT_QPA_PLATFORM=offscreen KESTRANE_REPORT_STARTUP=1 KESTRANE_QUIT_AFTER_MS=0 "
        "XDG_DATA_HOME=" +
        quoted(data) + " " + quoted(prefix / "bin/kestrane-launch"));
    EXPECT_EQ(started.status, 0) << started.out;
    EXPECT_NE(started.out.find("kestrane: first paint "), std::string::npos) << started.out;
    EXPECT_TRUE(fs::is_directory(data / "kestrane"));
}
