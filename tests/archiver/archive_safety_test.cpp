// Updates that cannot destroy an archive: the new archive is built beside the old one and
// renamed over it, so a failure or a kill leaves the original; one writer at a time.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <random>
#include <thread>

#include "archiver_test_support.h"
#include "tests/support/run_command.h"

using namespace archiver;
using namespace enginetest;

namespace {

// The temporary files updates leave beside `archive` (none after a finished update).
std::vector<std::string> leftovers(const fs::path& archive) {
    std::vector<std::string> found;
    const std::string prefix = ArchiveFile::replacementPrefix(archive);
    for (auto& e : fs::directory_iterator(archive.parent_path()))
        if (e.path().filename().string().starts_with(prefix))
            found.push_back(e.path().filename().string());
    return found;
}

// Runs `program` with `arguments`, its output discarded, and kills it after `delay` without
// a chance to clean up: SIGKILL, or TerminateProcess as Task Manager ends a program.
void runAndKillAfter(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::microseconds delay) {
#ifdef _WIN32
    const std::wstring line = kestrane::testing::detail::commandLine(program, arguments);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    BOOL started = FALSE;
    const PROCESS_INFORMATION pi = kestrane::testing::detail::start(line, nul, L"", nullptr, &started);
    ::CloseHandle(nul);
    ASSERT_TRUE(started) << "cannot start " << program;
    std::this_thread::sleep_for(delay);
    ::TerminateProcess(pi.hProcess, 1);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
#else
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
#endif
}

#ifndef _WIN32
// Lowers the largest file this process may write, as a full disk would stop it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    sighandler_t m_oldHandler;
};
#endif

} // namespace

TEST(ArchiveSafety, aWriteThatFailsLeavesTheArchiveAndNoTemporaryFile) {
#ifdef _WIN32
    GTEST_SKIP() << "fails writes by a limit on file size (RLIMIT_FSIZE), which Windows has not";
#else
    TempFolder tmp;
    writeFile(tmp / "p/a.txt", std::string(20000, 'a'));
    pack(tmp / "k.zip", tmp.path(), "p");
    const std::string before = readFile(tmp / "k.zip");
    writeFile(tmp / "p/big.bin", kestrane::testing::randomBytes(300000, 1));

    struct Case {
        rlim_t limit;        // the copy fails inside the kept part, or in the new entry
        bool raisedToCaller; // the kept part fails the update; a new entry goes to the decision
    };
    // A third of the archive lies inside its one entry, whatever that compressed to.
    for (const Case& c : {Case{before.size() / 3, true}, Case{before.size() + 1000, false}}) {
        TZipArchiver zip;
        std::vector<std::string> messages;
        bool raised = false;
        zip.OnProcessFileFailure = [&](const std::string&, TZAProcessOperation, int, int, const std::string& message,
                                       TZAAction& action) {
            messages.push_back(message);
            action = fxaAbort;
        };
        zip.FileName = (tmp / "k.zip").string();
        zip.BaseDir = tmp.str();
        zip.OpenArchive(kOpenReadWrite);
        {
            FileSizeLimit limit(c.limit);
            try {
                zip.AddFiles((tmp / "p/big.bin").string());
            } catch (const EZAException& e) {
                messages.push_back(e.what());
                raised = true;
            }
        }
        zip.CloseArchive();
        ASSERT_EQ(messages.size(), 1u) << c.limit;
        EXPECT_NE(messages[0].find("File too large"), std::string::npos) << messages[0];
        EXPECT_EQ(raised, c.raisedToCaller) << c.limit;
        EXPECT_TRUE(readFile(tmp / "k.zip") == before) << c.limit;
        EXPECT_TRUE(leftovers(tmp / "k.zip").empty());
    }
#endif
}

TEST(ArchiveSafety, updateReplacesTheFileAndKeepsItsPermissionsAndLinks) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links, Unix modes and inodes";
#else
    TempFolder tmp;
    writeFile(tmp / "p/a.txt", "a");
    pack(tmp / "real.zip", tmp.path(), "p");
    fs::permissions(tmp / "real.zip", fs::perms(0640));
    fs::create_symlink(tmp / "real.zip", tmp / "link.zip");
    const auto inode = [](const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_ino;
    };
    const auto before = inode(tmp / "real.zip");
    writeFile(tmp / "p/b.txt", "b");
    TZipArchiver zip;
    zip.FileName = (tmp / "link.zip").string();
    zip.BaseDir = tmp.str();
    zip.OpenArchive(kOpenReadWrite);
    zip.AddFiles((tmp / "p/b.txt").string());
    zip.CloseArchive();
    EXPECT_TRUE(fs::is_symlink(tmp / "link.zip"));
    EXPECT_NE(inode(tmp / "real.zip"), before) << "a new file, renamed into place";
    EXPECT_EQ(fs::status(tmp / "real.zip").permissions(), fs::perms(0640));
    EXPECT_EQ(testArchive((tmp / "link.zip").string()), std::nullopt);
    EXPECT_TRUE(leftovers(tmp / "real.zip").empty());
#endif
}

TEST(ArchiveSafety, aSecondWriterWaitsThenFailsWithAClearError) {
    TempFolder tmp;
    writeFile(tmp / "p/a.txt", "a");
    pack(tmp / "w.zip", tmp.path(), "p");
    TZipArchiver first;
    first.OpenArchive((tmp / "w.zip").string(), kOpenReadWrite);

    TZipArchiver reader; // readers are never kept out
    reader.FileName = first.FileName;
    reader.OpenArchive(kOpenRead);
    EXPECT_EQ(reader.directory()->Count(), 1);
    reader.CloseArchive();

    TZipArchiver second;
    second.FileName = first.FileName;
    const auto start = std::chrono::steady_clock::now();
    try {
        second.OpenArchive(kOpenReadWrite);
        FAIL() << "the second writer got in";
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), 36);
        EXPECT_NE(std::string(e.what()).find("another program is updating it"), std::string::npos) << e.what();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, kWriterLockWait);
    first.CloseArchive();
    second.OpenArchive(kOpenReadWrite); // free again once the first has closed
    second.CloseArchive();
}

// kestrane-zip add killed at random moments: the archive is afterwards the old one byte
// for byte or the complete new one, and the next update removes what the killed one left.
TEST(ArchiveSafety, killedAddLeavesTheOldArchiveOrTheNewOne) {
    TempFolder tmp;
    writeFile(tmp / "p/one.bin", kestrane::testing::randomBytes(3 << 20, 2));
    writeFile(tmp / "p/text.txt", std::string(1 << 20, 't'));
    pack(tmp / "k.zip", tmp.path(), "p");
    writeFile(tmp / "q/two.bin", kestrane::testing::randomBytes(2 << 20, 3));
    const fs::path archive = tmp / "k.zip";
    const std::string original = readFile(archive);
    const std::vector<std::string> add{"add", archive.string(), (tmp / "q").string(), "--base", tmp.str()};
    const auto addWhole = [&] { return kestrane::testing::runProgram(KESTRANE_ZIP_TOOL, add).status; };

    // How long one add takes, to spread the kills over it.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(addWhole(), 0);
    const auto full = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    const std::string complete = readFile(archive);
    writeFile(archive, original);

    std::mt19937 rng(7);
    int keptOld = 0, gotNew = 0;
    for (int round = 0; round < 12; ++round) {
        runAndKillAfter(KESTRANE_ZIP_TOOL, add, std::chrono::microseconds(rng() % std::uint64_t(full.count() + 1)));
        const std::string now = readFile(archive);
        ASSERT_TRUE(now == original || now == complete) << "round " << round << ": " << now.size() << " bytes";
        if (now == original)
            ++keptOld;
        else
            ++gotNew;
        writeFile(archive, original);
    }
    EXPECT_GT(keptOld, 0);
    ASSERT_EQ(addWhole(), 0);
    EXPECT_TRUE(leftovers(archive).empty()) << "the next update cleans up";
    EXPECT_EQ(testArchive(archive.string()), std::nullopt);
    std::printf("killed adds: %d left the old archive, %d the new one\n", keptOld, gotNew);
}

namespace {

// A source whose reading fails as a failing disk would.
class FailingSource : public platform::MemoryStream {
public:
    FailingSource() : MemoryStream(std::vector<std::uint8_t>(5000, 'x')) {}
    std::size_t read(void*, std::size_t) override { throw platform::FileError(EIO, "failing", "read"); }
};

} // namespace

TEST(ArchiveSafety, aSourceThatFailsToReadGoesToTheDecisionAndTheRestIsWritten) {
    for (const TZAAction answer : {fxaIgnore, fxaAbort}) {
        TempFolder tmp;
        const fs::path archive = packFiles(tmp, "k.zip", {{"a.txt", "aaa"}});
        const std::string before = readFile(archive);
        TZipArchiver zip;
        std::vector<Failure> failures;
        recordFailures(zip, failures, answer);
        zip.OpenArchive(archive.string(), kOpenReadWrite);
        zip.BaseDir = tmp.str();
        zip.BeginUpdate();
        TZADirArray& dir = zip.dirManager()->currentDir();
        dir.SetCount(dir.Count() + 1);
        dir.RenameItem(dir.Count() - 1, "failing.txt");
        TDirItem& item = dir.ItemAt(dir.Count() - 1);
        item.modified = true;
        item.compressionMode = 6;
        item.method = 8;
        item.sourceStream = std::make_shared<FailingSource>();
        writeFile(tmp / "p/b.txt", "bbb");
        zip.AddFiles((tmp / "p/b.txt").string());
        zip.EndUpdate();
        zip.CloseArchive();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].name, "failing.txt");
        EXPECT_EQ(failures[0].nativeError, 33);
        if (answer == fxaAbort) {
            EXPECT_EQ(readFile(archive), before);
            continue;
        }
        EXPECT_TRUE(extractAll(archive, tmp / "out").empty());
        EXPECT_EQ(treeOf(tmp / "out"), (std::vector<std::string>{"p/", "p/a.txt", "p/b.txt"}));
    }
}

TEST(ArchiveSafety, anArchiveThatShrinksDuringAnUpdateFailsItInsteadOfCopyingLess) {
    TempFolder tmp;
    const fs::path archive = packFiles(
        tmp, "k.zip",
        {{"a.bin", kestrane::testing::randomBytes(50000, 3)}, {"b.bin", kestrane::testing::randomBytes(50000, 4)}});
    TZipArchiver zip;
    zip.OpenArchive(archive.string(), kOpenReadWrite);
    zip.BaseDir = tmp.str();
    const TZADirArray& dir = *zip.directory();
    const std::string first = dir.ItemAt(0).name;
    const std::uint64_t secondAt = dir.ItemAt(1).localHeaderOffset64();
    ASSERT_TRUE(first.ends_with(".bin") && dir.ItemAt(1).name.ends_with(".bin"));
    // While the first entry is written anew, the archive loses the end of the second,
    // which is copied next.
    zip.OnFileProgress = [&](const std::string&, int, TZAProcessOperation, TZAProgressPhase phase, bool&) {
        if (phase == ppStart)
            fs::resize_file(archive, secondAt + 1000);
    };
    EXPECT_EQ(nativeErrorOf([&] { zip.AddFiles((tmp / first).string()); }), 34);
    zip.AbandonArchive();
}
