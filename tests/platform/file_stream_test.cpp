#include "platform/file_lock.h"
#include "platform/file_stream.h"
#include "platform/folder_handle.h"
#include "platform/run_beside.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;
using kestrane::testing::TempFolder;

TEST(FileStream, writesSeeksTruncatesAndReadsBack) {
    TempFolder dir;
    File f = File::create(dir.path() / "a.bin");
    EXPECT_EQ(f.write("hello world", 11), 11u);
    f.seek(6);
    EXPECT_EQ(f.write("WORLD", 5), 5u);
    EXPECT_EQ(f.tell(), 11u);
    f.truncate(8);
    EXPECT_EQ(f.size(), 8u);
    char buf[16] = {};
    EXPECT_EQ(f.readAt(0, buf, sizeof buf), 8u); // short only at the end
    EXPECT_EQ(std::string(buf, 8), "hello WO");
    f.flush();
}

TEST(FileStream, failuresCarryErrnoAndPath) {
    TempFolder dir;
    try {
        File::openRead(dir.path() / "missing");
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorNumber(), ENOENT);
        EXPECT_EQ(e.path(), dir.path() / "missing");
    }
    // Create over an existing file empties it.
    std::ofstream(dir.path() / "full") << "content";
    EXPECT_EQ(File::create(dir.path() / "full").size(), 0u);
}

TEST(FileStream, shortWriteReportsTheSystemError) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full, a device that is always full";
#endif
    File full = File::openReadWrite("/dev/full");
    EXPECT_EQ(full.write("x", 1), 0u);
    EXPECT_EQ(full.lastError(), ENOSPC);
}

TEST(TempFile, isDeletedUnlessCommitted) {
    TempFolder dir;
    fs::path dropped;
    {
        TempFile t(dir.path(), "FC");
        dropped = t.path();
        EXPECT_EQ(dropped.filename().string().substr(0, 2), "FC");
        EXPECT_TRUE(fs::exists(dropped));
    }
    EXPECT_FALSE(fs::exists(dropped));

    std::ofstream(dir.path() / "target") << "old";
    {
        TempFile t(dir.path(), "FC");
        t.file().write("new", 3);
        t.commit(dir.path() / "target");
        EXPECT_FALSE(fs::exists(t.path()));
    }
    std::ifstream in(dir.path() / "target");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "new");
}

// A folder held open makes, describes and renames its files by their names alone, and a
// file's mode and time are given through the open file.
TEST(FolderHandle, makesDescribesAndRenamesFilesByName) {
    TempFolder dir;
    std::ofstream(dir.path() / "target") << "old";
    fs::create_directories(dir.path() / "sub");
    const FolderHandle folder(dir.path());
    const FolderHandle sub(dir.path() / "sub");
    EXPECT_FALSE(folder.entryStatus("missing"));
    const auto old = folder.entryStatus("target");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->attributes & (kAttrDirectory | kAttrReadOnly), 0u);
    EXPECT_EQ(old->identity, fileIdentity(dir.path() / "target"));
    EXPECT_NE(folder.entryStatus("sub").value_or(EntryStatus{}).attributes & kAttrDirectory, 0u);

    TempFile part = folder.createTemporary(".part-");
    EXPECT_EQ(part.path().parent_path(), dir.path());
    EXPECT_EQ(part.path().filename().string().substr(0, 6), ".part-");
    EXPECT_EQ(part.file().write("new", 3), 3u);
    constexpr std::time_t kTime = 1000000000;
    EXPECT_FALSE(part.file().setModeAndTime(0444, kTime));
    part.file().close();
    EXPECT_FALSE(folder.renameTo(part.path().filename().string(), folder, "target"));
    part.keep();
    const auto replaced = folder.entryStatus("target");
    ASSERT_TRUE(replaced);
    EXPECT_NE(replaced->identity, old->identity);
    EXPECT_NE(replaced->attributes & kAttrReadOnly, 0u);
    EXPECT_EQ(replaced->lastWrite, kTime);
    EXPECT_FALSE(fs::exists(part.path()));

    EXPECT_FALSE(folder.renameTo("target", sub, "moved"));
    std::ifstream in(dir.path() / "sub" / "moved");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "new");
    EXPECT_TRUE(folder.renameTo("missing", sub, "other")); // the system's reason
    fs::permissions(dir.path() / "sub" / "moved", fs::perms::owner_write, fs::perm_options::add);
}

TEST(MemoryStream, growsOnWritePastEnd) {
    MemoryStream s;
    s.seek(3);
    s.write("ab", 2);
    EXPECT_EQ(s.size(), 5u);
    EXPECT_EQ(s.data()[0], 0);
    char c[2];
    EXPECT_EQ(s.readAt(3, c, 2), 2u);
    EXPECT_EQ(s.read(c, 1), 0u);
}

TEST(FileLock, exclusiveExcludesOthersUntilReleasedAndFollowsAReplacedFile) {
    TempFolder dir;
    const fs::path target = dir.path() / "a.zip";
    std::ofstream(target) << "old";
    {
        auto held = FileLock::acquire(target, FileLock::Mode::Exclusive);
        ASSERT_TRUE(held);
        EXPECT_FALSE(FileLock::acquire(target, FileLock::Mode::Exclusive, std::chrono::milliseconds(50)));
        EXPECT_FALSE(FileLock::acquire(target, FileLock::Mode::Shared));
        // The holder replaces the file: the lock on the old one no longer guards the name
        // (on Windows the lock is the name's, and guards the new file as it did the old).
        std::ofstream(dir.path() / "new") << "new";
        fs::rename(dir.path() / "new", target);
        EXPECT_EQ(FileLock::acquire(target, FileLock::Mode::Exclusive).has_value(), !kLockFollowsName);
    }
    if constexpr (kLockFollowsName) { // its lock file goes with the last holder
        EXPECT_FALSE(fs::exists(dir.path() / ".a.zip.kestrane-lock"));
    }
    auto a = FileLock::acquire(dir.path(), FileLock::Mode::Shared);
    EXPECT_TRUE(a && FileLock::acquire(dir.path(), FileLock::Mode::Shared)); // readers share
    EXPECT_THROW(FileLock::acquire(dir.path() / "missing", FileLock::Mode::Shared), FileError);
}

// A long wait on the system runs beside the caller, who keeps doing its small thing (a
// window pumps its messages) until the wait is over: here the work cannot end before the
// caller has been called back three times.
TEST(RunBeside, callsTheCallerBackUntilTheWorkIsDone) {
    std::atomic<int> calls{0};
    const bool reached = runBeside(
        [&] {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60); // only on failure
            while (calls < 3 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return calls >= 3;
        },
        [&] { ++calls; });
    EXPECT_TRUE(reached);
    EXPECT_THROW(runBeside([]() -> int { throw FileError(EIO, "f", "failed"); }, [] {}), FileError);
}
