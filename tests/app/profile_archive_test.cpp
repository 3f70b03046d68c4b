// Archived profiles through the actions, with the real archiver and real files.
#include "app/action_scope.h"
#include "app/profile_actions.h"
#include "app/profile_archive.h"
#include "app/profile_list.h"
#include "archiver/zip_archiver.h"
#include "test_window.h"
#include "tests/support/run_command.h"

#include "tests/support/linux_only.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrane;
using kestrane::testing::TestWindow;
using kestrane::testing::treeListing;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

namespace {

// Python's zipfile, a reader we did not write: "name size crc" per entry.
[[maybe_unused]] std::string pythonListing(const std::string& archive) {
    const std::string cmd =
        "python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
        "for i in z.infolist(): print(i.filename, i.file_size, i.CRC)\" '" +
        archive + "' 2>&1";
    return kestrane::testing::runCommand(cmd).out;
}

} // namespace

class ProfileArchives : public kestrane::testing::ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        writeFile(outside("game/system/sub/deep/x.dat"), std::string(300000, 'x'));
        archive = &zipArchive;
    }

    bool save(const std::string& name, bool archived = true) { return saveAs(name, archived, systems, game); }

    archiver::TZipArchiver zip;
    ZipProfileArchive zipArchive{zip};
};

TEST_F(ProfileArchives, savedArchiveHoldsEveryFileAndFolderUnderTheName) {
    KESTRANE_LINUX_ONLY(
        "Python's zipfile in the test's shell (tests/windows reads the Windows program's archives with it)");
    ASSERT_TRUE(save("Main"));
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_TRUE(IsProfileArchived("Main"));
    const std::string listing = pythonListing("Main.zip");
    for (const char* entry : {"Main/l2.ini 11", "Main/.hidden 1", "Main/sub/ 0", "Main/sub/deep/ 0",
                              "Main/sub/deep/x.dat 300000", "Main/empty/ 0"})
        EXPECT_NE(listing.find(entry), std::string::npos) << entry << "\n" << listing;
    EXPECT_EQ(listing.find("Main/ "), std::string::npos); // no entry for the profile folder itself
}

TEST_F(ProfileArchives, applyUnpacksCopiesAndLeavesNoFolder) {
    const auto source = treeListing(systems);
    ASSERT_TRUE(save("Main"));
    writeFile(outside("game/system/stale.txt"), "other server");
    EXPECT_TRUE(apply("Main"));
    EXPECT_EQ(treeListing(systems), source);
    EXPECT_FALSE(fs::exists("Main"));
    EXPECT_TRUE(fs::exists("Main.zip"));
}

TEST_F(ProfileArchives, savingTheSameNameAgainReplacesTheArchive) {
    ASSERT_TRUE(save("Main"));
    window.select("Main");
    ASSERT_TRUE(DeleteProfile(window));
    writeFile("Main.zip", "stale bytes that are no archive");
    fs::remove_all(outside("game/system/sub"));
    ASSERT_TRUE(save("Main"));
    EXPECT_EQ(pythonListing("Main.zip").find("x.dat"), std::string::npos);
}

TEST_F(ProfileArchives, corruptedArchiveLeavesSystemAsItWas) {
    ASSERT_TRUE(save("Main"));
    std::string bytes = readFile("Main.zip");
    const auto data = bytes.find("Main/sub/deep/x.dat");
    ASSERT_NE(data, std::string::npos);
    for (std::size_t i = data + 40; i < data + 60; ++i)
        bytes[i] = char(bytes[i] ^ 0x5A);
    writeFile("Main.zip", bytes);
    writeFile(outside("game/system/mine.txt"), "keep");
    const auto before = treeListing(systems);

    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", "Error: Архив сервера повреждён: ./Main.zip"}));
    EXPECT_EQ(treeListing(systems), before);
    EXPECT_FALSE(fs::exists("Main"));
}

TEST_F(ProfileArchives, missingOrForeignArchivesAreRefused) {
    ASSERT_TRUE(save("Main"));
    const auto before = treeListing(systems);
    fs::rename("Main.zip", outside("Main.zip"));
    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events, (Events{"busy", "unbusy", "Error: Файлы сервера не найдены: Main"}));

    writeFile("Main.zip", "no archive here");
    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events.back(), "Error: Архив сервера повреждён: ./Main.zip");

#ifndef _WIN32 // made by Info-ZIP's zip, through a shell
    // An archive whose entries lie outside the profile's folder is not unpacked at all.
    writeFile(outside("evil/options.ini"), "bad\n");
    fs::remove("Main.zip");
    ASSERT_EQ(std::system(("cd '" + u8text(outside("evil")) + "' && zip -q '" + u8text(fs::absolute("Main.zip")) +
                           "' options.ini")
                              .c_str()),
              0);
    EXPECT_FALSE(apply("Main"));
    EXPECT_EQ(window.events.back(), "Error: Архив сервера повреждён: ./Main.zip");
    EXPECT_NE(readFile("options.ini"), "bad\n");
#endif
    EXPECT_EQ(treeListing(systems), before);
}

TEST_F(ProfileArchives, packFailureNamesThePathAndTheSaveListsNothing) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    fs::create_directories("Main");
    writeFile("Main/good.txt", "g");
    fs::create_symlink("/nonexistent/file", "Main/unreadable");
    auto failed = zipArchive.pack(window, "./Main", "Main", "Main.zip");
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->find("Main/"), std::string::npos) << *failed;

    fs::create_symlink("/nonexistent/file", outside("game/system/unreadable"));
    EXPECT_FALSE(save("Other"));
    EXPECT_FALSE(ProfileListExists());
    EXPECT_FALSE(fs::exists("Other.zip"));
    EXPECT_FALSE(fs::exists(kStagingFolder));
}

TEST_F(ProfileArchives, renamedArchivedProfileStillApplies) {
    const auto source = treeListing(systems);
    ASSERT_TRUE(save("Main"));
    window.select("Main");
    window.name = "Север";
    ASSERT_TRUE(RenameProfile(window, archive));
    EXPECT_FALSE(fs::exists("Main.zip"));
    EXPECT_FALSE(fs::exists(u8path("Север")));
    const auto stored = archiveStoredNames(zip, "Север.zip");
    EXPECT_NE(std::find(stored.begin(), stored.end(), "Север/l2.ini"), stored.end());
    EXPECT_TRUE(
        std::all_of(stored.begin(), stored.end(), [](const std::string& s) { return s.starts_with("Север/"); }));
#ifndef _WIN32
    EXPECT_EQ(pythonListing("Север.zip").find("Main/"), std::string::npos);
#endif
    fs::remove_all(systems);
    EXPECT_TRUE(apply("Север"));
    EXPECT_EQ(treeListing(systems), source);
}
