#include "app/folder_operations.h"
#include "platform/file_system.h"
#include "test_window.h"
#include "tests/support/file_access.h"

#include "tests/support/linux_only.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

using namespace kestrane;
using kestrane::testing::canRead;
using kestrane::testing::setFileReadOverride;
using kestrane::testing::TestWindow;
using kestrane::testing::treeListing;
namespace fs = std::filesystem;

class FolderOperations : public kestrane::testing::WorkingDirectoryTest {
protected:
    // src/ with a hidden file, a read-only file, nested and empty subfolders.
    void makeSource() {
        writeFile("src/a.txt", "alpha");
        writeFile("src/.hidden", "h");
        writeFile("src/ro.cfg", "read only");
        ::chmod("src/ro.cfg", 0444);
        writeFile("src/sub/deep/b.bin", std::string("\0\1\2", 3));
        fs::create_directories("src/empty");
    }
    TestWindow window;
};

TEST_F(FolderOperations, copyReproducesHiddenReadOnlyAndEmptyFolders) {
    makeSource();
    auto out = CopyFolderTree(window, "src", "dst/nested", false, true);
    EXPECT_EQ(out.failedFiles, 0);
    EXPECT_EQ(treeListing("dst/nested"), treeListing("src"));
    struct stat st {};
    ASSERT_EQ(::stat("dst/nested/ro.cfg", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(fs::last_write_time("dst/nested/a.txt"), fs::last_write_time("src/a.txt"));
    EXPECT_GT(window.pumps, 5); // the busy window keeps moving during the walk
    EXPECT_TRUE(window.events.empty());
}

TEST_F(FolderOperations, copyIntoExistingTargetReplacesAndKeepsOthers) {
    writeFile("src/a.txt", "new");
    writeFile("dst/a.txt", "old");
    writeFile("dst/keep.txt", "keep");
    auto out = CopyFolderTree(window, "src/", "dst/", false, true);
    EXPECT_TRUE(out.lastEntry);
    EXPECT_EQ(readFile("dst/a.txt"), "new");
    EXPECT_EQ(readFile("dst/keep.txt"), "keep");
}

TEST_F(FolderOperations, missingSourceCreatesNothingAndEmptySourceCreatesTarget) {
    auto missing = CopyFolderTree(window, "nope", "dst", false, true);
    EXPECT_FALSE(missing.lastEntry);
    EXPECT_FALSE(fs::exists("dst"));
    fs::create_directories("empty");
    auto empty = CopyFolderTree(window, "empty", "dst", false, true);
    EXPECT_FALSE(empty.lastEntry);
    EXPECT_EQ(empty.failedFiles, 0);
    EXPECT_TRUE(fs::is_directory("dst"));
}

TEST_F(FolderOperations, withoutOverwriteExistingFileStaysAndCounts) {
    writeFile("src/a.txt", "new");
    writeFile("dst/a.txt", "old");
    auto out = CopyFolderTree(window, "src", "dst", false, false);
    EXPECT_TRUE(out.lastEntry);
    EXPECT_EQ(readFile("dst/a.txt"), "old");
}

TEST_F(FolderOperations, failedFilesAreCountedNotJustTheLastEntry) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    writeFile("src/1-good.txt", "x");
    fs::create_symlink("/nonexistent/target", "src/2-broken"); // cannot be copied
    writeFile("src/3-sub/z.txt", "z");
    auto out = CopyFolderTree(window, "src", "dst", false, true);
    EXPECT_EQ(out.failedFiles, 1);
    EXPECT_EQ(out.firstFailure, "src/2-broken");
    EXPECT_EQ(readFile("dst/3-sub/z.txt"), "z");
}

TEST_F(FolderOperations, folderThatCannotBeMadeOrListedIsAFailure) {
    writeFile("src/a.txt", "a");
    writeFile("src/sub/x.txt", "x");
    writeFile("dst/sub", "a file where the folder goes");
    auto blocked = CopyFolderTree(window, "src", "dst", false, true);
    EXPECT_EQ(blocked.failedFiles, 1);
    // The folder that failed, and its own reason.
#ifdef _WIN32
    const std::string reason = "Not a directory"; // Windows meets a file on the way
#else
    const std::string reason = "File exists";
#endif
    EXPECT_EQ(blocked.failureText(), "dst/sub: " + reason);

    // The target itself cannot be made: nothing at all was copied.
    writeFile("dst/a-file", "f");
    auto nowhere = CopyFolderTree(window, "src", "dst/a-file/inner", false, true);
    EXPECT_EQ(nowhere.failedFiles, 1);
    EXPECT_EQ(nowhere.firstFailure, "dst/a-file/inner");

    // A subfolder that cannot be read copies nothing of itself.
    ::chmod("src/sub", 0);
    setFileReadOverride(false);
    const bool unreadable = !canRead("src/sub/x.txt");
    auto hidden = CopyFolderTree(window, "src", "dst2", false, true);
    setFileReadOverride(true);
    if (!unreadable)
        GTEST_SKIP() << "no way to make a folder unreadable here";
    EXPECT_EQ(hidden.failedFiles, 1);
    EXPECT_EQ(hidden.firstFailure, "src/sub");
}

TEST_F(FolderOperations, stopOnFailureEndsTheWholeCopy) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    fs::create_directories("src/a");
    fs::create_symlink("/nonexistent/target", "src/a/broken");
    writeFile("src/b/later.txt", "x");
    writeFile("src/c.txt", "x");
    auto out = CopyFolderTree(window, "src", "dst", true, true);
    EXPECT_FALSE(out.lastEntry);
    // Directory order is the file system's; at most the entries before the failure exist.
    EXPECT_FALSE(fs::exists("dst/a/broken"));
    EXPECT_LE(treeListing("dst").size(), 4u);
}

TEST_F(FolderOperations, copyIntoItsOwnSubfolderTerminates) {
    writeFile("src/a.txt", "a");
    auto out = CopyFolderTree(window, "src", "src/copy", false, true);
    EXPECT_EQ(out.failedFiles, 0);
    EXPECT_EQ(readFile("src/copy/a.txt"), "a");
    EXPECT_FALSE(fs::exists("src/copy/copy"));
}

TEST_F(FolderOperations, deleteRemovesReadOnlyHiddenFilesAndTheFolder) {
    makeSource();
    ::chmod("src/sub/deep", 0555);
    ::chmod("src/sub", 0500);
    EXPECT_TRUE(DeleteFolderTree(window, "src"));
    EXPECT_FALSE(fs::exists("src"));
    EXPECT_TRUE(window.events.empty());
}

TEST_F(FolderOperations, deletingMissingFolderShowsNothing) {
    EXPECT_TRUE(DeleteFolderTree(window, "missing"));
    EXPECT_TRUE(window.events.empty());
}

// A folder behind one that cannot be searched is not "nothing there": it is reported.
TEST_F(FolderOperations, aFolderThatCannotBeReachedIsNoMissingFolder) {
    if (const char* why = kestrane::testing::whyNothingIsClosed())
        GTEST_SKIP() << why;
    writeFile("closed/inner/a.txt", "a");
    ::chmod("closed", 0);
    EXPECT_FALSE(DeleteFolderTree(window, "closed/inner"));
    ::chmod("closed", 0755);
    EXPECT_EQ(window.events, std::vector<std::string>{"Plain: Could NOT delete closed/inner: Permission denied"});
    EXPECT_TRUE(fs::exists("closed/inner/a.txt"));
}

TEST_F(FolderOperations, fileThatCannotBeDeletedIsReportedAndTheRestGoes) {
    writeFile("tree/a/stuck.txt", "s");
    writeFile("tree/a/other.txt", "o");
    writeFile("tree/b/c.txt", "c");
    if (std::system("chattr +i tree/a/stuck.txt 2>/dev/null") != 0)
        GTEST_SKIP() << "this file system cannot mark a file immutable";
    EXPECT_FALSE(DeleteFolderTree(window, "tree"));
    EXPECT_EQ(window.events,
              std::vector<std::string>{"Plain: Could NOT delete tree/a/stuck.txt: Operation not permitted"});
    EXPECT_TRUE(fs::exists("tree/a/stuck.txt"));
    EXPECT_FALSE(fs::exists("tree/a/other.txt"));
    EXPECT_FALSE(fs::exists("tree/b"));
}

TEST_F(FolderOperations, deleteNeverEntersLinkedFolders) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    writeFile(outside("precious/data.txt"), "keep me");
    writeFile("tree/own.txt", "x");
    fs::create_directory_symlink(outside("precious"), "tree/link");
    EXPECT_TRUE(DeleteFolderTree(window, "tree"));
    EXPECT_FALSE(fs::exists("tree"));
    EXPECT_EQ(readFile(outside("precious/data.txt")), "keep me");
    fs::create_directory_symlink(outside("precious"), "direct");
    EXPECT_TRUE(DeleteFolderTree(window, "direct"));
    EXPECT_FALSE(fs::exists(fs::symlink_status("direct")));
    EXPECT_EQ(readFile(outside("precious/data.txt")), "keep me");
}

TEST_F(FolderOperations, renameReportsTheSystemErrorAndKeepsTheTarget) {
    fs::create_directories("old");
    fs::create_directories("taken");
    EXPECT_FALSE(RenameFolder(window, "old", "taken"));
    ASSERT_EQ(window.events.size(), 1u);
    EXPECT_EQ(window.events[0].rfind("Error: ", 0), 0u);
    EXPECT_TRUE(fs::exists("old"));
    EXPECT_TRUE(RenameFolder(window, "old", "new"));
    EXPECT_TRUE(fs::is_directory("new"));
    EXPECT_EQ(GetWorkingDirectory(), platform::pathText(fs::current_path()));
}

TEST(PlatformListing, attributeMaskAndWildcardsFollowWindowsRules) {
    namespace fsys = platform;
    EXPECT_TRUE(fsys::wildcardMatchesName("*.*", "README"));
    EXPECT_TRUE(fsys::wildcardMatchesName("*.TXT", "a.txt"));
    EXPECT_TRUE(fsys::wildcardMatchesName("a?c", "aЖc"));
    EXPECT_TRUE(fsys::wildcardMatchesName("name.*", "name"));
    EXPECT_FALSE(fsys::wildcardMatchesName("*.txt", "a.cfg"));
}

TEST_F(FolderOperations, listingHonoursTheAttributeMask) {
    writeFile("d/plain.txt", "x");
    writeFile("d/.hidden", "x");
    fs::create_directories("d/sub");
    auto names = [](const std::vector<platform::FolderEntry>& entries) {
        std::vector<std::string> out;
        for (auto& e : entries)
            out.push_back(e.name);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(names(platform::listFolder("d/*", 63)),
              (std::vector<std::string>{".", "..", ".hidden", "plain.txt", "sub"}));
    EXPECT_EQ(names(platform::listFolder("d/*.*", 0)), (std::vector<std::string>{"plain.txt"}));
    EXPECT_EQ(names(platform::listFolder("d/*.*", platform::kAttrHidden)),
              (std::vector<std::string>{".hidden", "plain.txt"}));
    EXPECT_TRUE(platform::listFolder("missing/*", 63).empty());
}

TEST_F(FolderOperations, linkedFoldersAreCopiedAsLinksNeverFollowed) {
    KESTRANE_LINUX_ONLY("symbolic links, which Windows lets only administrators make");
    writeFile("src/a.txt", "a");
    fs::create_directory_symlink(fs::absolute("src"), "src/loop"); // a link to its own parent
    fs::create_directory_symlink("/", "src/root");
    auto out = CopyFolderTree(window, "src", "dst", false, true);
    EXPECT_EQ(out.failedFiles, 0);
    EXPECT_EQ(readFile("dst/a.txt"), "a");
    EXPECT_TRUE(fs::is_symlink("dst/loop"));
    EXPECT_EQ(fs::read_symlink("dst/root"), fs::path("/"));
}

TEST_F(FolderOperations, emptySourceTextCopiesNothing) {
    auto out = CopyFolderTree(window, "", "dst", false, true);
    EXPECT_FALSE(out.lastEntry);
    EXPECT_FALSE(fs::exists("dst"));
}

TEST_F(FolderOperations, fileCopyKeepsDataModeAndTimeWhenTheSourceGoesMidway) {
    // The copy reads from the file it opened: a source removed after the first chunk still
    // arrives whole, with its permissions and its time, and the window was kept alive.
    std::string data(700000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 5000);
    writeFile("big.bin", data);
    ::chmod("big.bin", 0640);
    // Whole seconds, which every file system and library sets exactly.
    const auto when =
        std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(50));
    fs::last_write_time("big.bin", when);
    int chunks = 0;
    const std::error_code error = platform::copyFile("big.bin", "copy.bin", [&] {
        if (chunks++ == 0)
            fs::remove("big.bin");
    });
    EXPECT_FALSE(error) << error.message();
    EXPECT_EQ(readFile("copy.bin"), data);
#ifndef _WIN32 // Windows keeps no permission bits, and Wine's CopyFileExW reports no progress
    EXPECT_GE(chunks, 2);
    EXPECT_EQ(fs::status("copy.bin").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    EXPECT_EQ(fs::last_write_time("copy.bin"), when);
    // A copy that cannot be made names the system's reason and leaves no partial file.
    EXPECT_EQ(platform::copyFile("copy.bin", "missing/x.bin"),
              std::make_error_code(std::errc::no_such_file_or_directory));
}
