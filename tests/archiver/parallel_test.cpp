// Packing and unpacking on several threads: archives that every reader takes, the same
// files whatever the thread count or memory budget, and a failure in the middle of a
// parallel run that is asked once, on the calling thread, and leaves no thread behind.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>
#endif

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "archiver_test_support.h"
#include "tests/support/file_access.h"
#include "tests/support/run_command.h"

using namespace archiver;
using namespace enginetest;
using kestrane::testing::posixShellQuoted;
using kestrane::testing::runPosixShell;

namespace {

struct Setting {
    int threads;
    std::size_t budget;
};
const Setting kSettings[] = {{1, kDefaultBufferBudget}, {2, kDefaultBufferBudget}, {4, kDefaultBufferBudget}, {4, 0}};

std::string mixed(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = (i / 5000) % 3 ? char('a' + rng() % 7) : char(rng());
    return s;
}

// Large entries of several blocks (one of exactly two), a stored one, small and empty ones.
void makeTree(const fs::path& root) {
    writeFile(root / "p/big.txt", mixed(1700000, 1));
    writeFile(root / "p/two-blocks.dat", mixed(1048576, 2));
    writeFile(root / "p/stored.bin", mixed(1200000, 3));
    writeFile(root / "p/empty.ini", "");
    for (int i = 0; i < 30; ++i)
        writeFile(root / ("p/small/" + std::to_string(i) + ".cfg"), mixed(std::size_t(i) * 997, i));
}

// name, CRC-32 and compressed size of every entry, in order.
std::vector<std::string> entriesOf(const fs::path& archive) {
    TZipArchiver zip;
    zip.OpenArchive(archive.string(), kOpenRead);
    std::vector<std::string> entries;
    for (int i = 0; i < zip.directory()->Count(); ++i) {
        const TDirItem& item = zip.directory()->ItemAt(i);
        entries.push_back(item.name + " " + std::to_string(item.crc32) + " " + std::to_string(item.compressedSize64()));
    }
    zip.CloseArchive();
    return entries;
}

void packWith(const fs::path& archive, const fs::path& base, Setting s) {
    TZipArchiver zip;
    zip.Threads = s.threads;
    zip.BufferBudget = s.budget;
    zip.NoCompressionMasks = {"*.bin"};
    zip.BaseDir = base.string();
    zip.OpenArchive(archive.string(), kOpenCreate);
    zip.AddFiles((base / "p/*.*").string());
    zip.CloseArchive();
}

// The threads of this process.
std::size_t threadCount() {
    std::size_t n = 0;
#ifdef _WIN32
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread{};
    thread.dwSize = sizeof thread;
    for (BOOL more = ::Thread32First(snapshot, &thread); more; more = ::Thread32Next(snapshot, &thread))
        n += thread.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
#else
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/task"))
        ++n;
#endif
    return n;
}

} // namespace

TEST(Parallel, archivesPassEveryReaderAndExtractTheSameWhateverTheThreads) {
    TempFolder tmp;
    makeTree(tmp.path());
    std::vector<std::vector<std::string>> entries;
    std::vector<double> sizes;
    for (const Setting& s : kSettings) {
        const fs::path archive = tmp / ("t" + std::to_string(s.threads) + "-" + std::to_string(s.budget) + ".zip");
        packWith(archive, tmp.path(), s);
        entries.push_back(entriesOf(archive));
        sizes.push_back(double(fs::file_size(archive)));
    }
    // Blocks are cut the same way whatever runs them; joined blocks cost next to nothing.
    EXPECT_EQ(entries[1], entries[2]);
    EXPECT_EQ(entries[1], entries[3]);
    EXPECT_LT(std::abs(sizes[1] - sizes[0]), sizes[0] * 0.005);

    const fs::path parallel = tmp / ("t4-" + std::to_string(kDefaultBufferBudget) + ".zip");
    if (kestrane::testing::haveTools("unzip 7z python3")) {
        EXPECT_EQ(runPosixShell("unzip -tq " + posixShellQuoted(parallel) + " 2>&1").status, 0);
        EXPECT_EQ(runPosixShell("7z t " + posixShellQuoted(parallel) + " 2>&1").status, 0);
        EXPECT_EQ(
            runPosixShell(
                "python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " +
                posixShellQuoted(parallel) + " 2>&1")
                .status,
            0);
    }
    for (const fs::path& archive : {parallel, tmp / ("t1-" + std::to_string(kDefaultBufferBudget) + ".zip")})
        for (const Setting& s : kSettings) {
            TempFolder out;
            TZipArchiver zip;
            zip.Threads = s.threads;
            zip.BufferBudget = s.budget;
            std::vector<Failure> failures;
            recordFailures(zip, failures);
            zip.OpenArchive(archive.string(), kOpenRead);
            zip.BaseDir = out.str();
            zip.ExtractFiles();
            zip.CloseArchive();
            SCOPED_TRACE(archive.filename().string() + " extracted with " + std::to_string(s.threads) + " threads");
            EXPECT_TRUE(failures.empty());
            EXPECT_EQ(treeOf(out / "p"), treeOf(tmp / "p"));
            for (const std::string& name : treeOf(tmp / "p"))
                if (!name.ends_with('/')) {
                    EXPECT_EQ(readFile(out / "p" / name), readFile(tmp / "p" / name)) << name;
                }
        }
}

TEST(Parallel, aFailureInTheMiddleIsAskedOnceOnTheCallingThreadAndNoThreadStays) {
    for (const bool packing : {true, false})
        for (const TZAAction answer : {fxaAbort, fxaIgnore}) {
            SCOPED_TRACE(std::string(packing ? "packing, " : "extracting, ") +
                         (answer == fxaAbort ? "abort" : "ignore"));
            TempFolder tmp;
            for (int i = 0; i < 20; ++i)
                writeFile(tmp / ("p/f" + std::to_string(i + 10)), mixed(300000, i));
            pack(tmp / "a.zip", tmp.path(), "p");
            const std::string before = readFile(tmp / "a.zip");
#ifdef _WIN32
            // Cannot be packed: another handle holds it and shares nothing.
            std::optional<kestrane::testing::ExclusiveHold> hold;
#endif
            if (packing) {
#ifdef _WIN32
                ASSERT_TRUE(hold.emplace(tmp / "p/f20").held());
#else
                fs::remove(tmp / "p/f20");
                ASSERT_EQ(::mkfifo((tmp / "p/f20").c_str(), 0644), 0); // cannot be packed: not a regular file
#endif
            } else {
                TZipArchiver zip;
                zip.OpenArchive((tmp / "a.zip").string(), kOpenRead);
                const TDirItem& item = zip.directory()->ItemAt(zip.directory()->FindByName("p/f20"));
                std::string bytes = before;
                bytes[item.localHeaderOffset64() + 30 + item.name.size() + item.compressedSize64() / 2] ^= 0x55;
                zip.CloseArchive();
                writeFile(tmp / "a.zip", bytes);
            }
            const std::size_t threadsBefore = threadCount();
            const std::thread::id caller = std::this_thread::get_id();
            std::vector<Failure> failures;
            int elsewhere = 0;
            TZipArchiver zip;
            zip.Threads = 4;
            recordFailures(zip, failures, answer);
            const auto record = zip.OnProcessFileFailure;
            zip.OnProcessFileFailure = [&](const std::string& n, TZAProcessOperation op, int native, int code,
                                           const std::string& m, TZAAction& a) {
                elsewhere += std::this_thread::get_id() != caller;
                record(n, op, native, code, m, a);
            };
            zip.OnFileProgress = [&](const std::string&, int, TZAProcessOperation, TZAProgressPhase, bool&) {
                elsewhere += std::this_thread::get_id() != caller;
            };
            zip.BaseDir = tmp.str();
            zip.OpenArchive((tmp / "a.zip").string(), packing ? kOpenReadWrite : kOpenRead);
            if (packing) {
                zip.AddFiles((tmp / "p/*.*").string());
            } else {
                zip.BaseDir = (tmp / "out").string();
                zip.ExtractFiles();
            }
            zip.CloseArchive();
            EXPECT_EQ(threadCount(), threadsBefore);
            EXPECT_EQ(elsewhere, 0);
            ASSERT_EQ(failures.size(), 1u);
            EXPECT_TRUE(failures[0].name.ends_with("f20")) << failures[0].name;
            if (packing) {
                TZipArchiver check;
                check.OpenArchive((tmp / "a.zip").string(), kOpenRead);
                if (answer == fxaAbort) {
                    EXPECT_EQ(readFile(tmp / "a.zip"), before);
                } else {
                    EXPECT_EQ(check.directory()->ItemAt(check.directory()->FindByName("p/f20")).uncompressedSize64(),
                              300000u)
                        << "an ignored replacement keeps the old data";
                }
                check.CloseArchive();
                EXPECT_FALSE(testArchive((tmp / "a.zip").string()));
            } else {
                // The entries before the damaged one are out; after it, only when the run went on.
                bool after = false;
                for (const std::string& entry : entriesOf(tmp / "a.zip")) {
                    const std::string name = entry.substr(0, entry.find(' '));
                    if (name == "p/f20") {
                        after = true;
                        EXPECT_FALSE(fs::exists(tmp / "out" / name));
                    } else if (!name.ends_with('/')) {
                        EXPECT_EQ(fs::exists(tmp / "out" / name), !after || answer == fxaIgnore) << name;
                    }
                }
                // Nothing a worker wrote ahead is left under a temporary name.
                for (const std::string& name : treeOf(tmp / "out"))
                    EXPECT_TRUE(name == "p/" || name.starts_with("p/f")) << name;
            }
        }
}

// Workers write files ahead under temporary names; an entry the calling thread then does
// not extract (an existing file kept, an entry declined) leaves its file as it was and no
// temporary name, whatever the thread count.
TEST(Parallel, filesWrittenAheadAreNamedOnlyWhenTheirEntryIsExtracted) {
    TempFolder tmp;
    for (int i = 0; i < 24; ++i)
        writeFile(tmp / ("p/f" + std::to_string(i + 10)), mixed(std::size_t(20000 + i * 30000), i));
    pack(tmp / "a.zip", tmp.path(), "p");
    for (const int threads : {1, 2, 4}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const fs::path out = tmp / ("out" + std::to_string(threads));
        for (int i = 0; i < 24; i += 3)
            writeFile(out / ("p/f" + std::to_string(i + 10)), "mine");
        TZipArchiver zip;
        zip.Threads = threads;
        zip.Options.OverwriteMode = omNever;
        zip.OnConfirmProcessFile = [](const std::string& name, TZAProcessOperation, bool& confirm) {
            confirm = !name.ends_with("1") && !name.ends_with("5");
        };
        zip.OpenArchive((tmp / "a.zip").string(), kOpenRead);
        zip.BaseDir = out.string();
        zip.ExtractFiles();
        zip.CloseArchive();
        std::vector<std::string> expected = {"p/"};
        for (int i = 0; i < 24; ++i) {
            const std::string name = "p/f" + std::to_string(i + 10);
            if (i % 3 == 0)
                EXPECT_EQ(readFile(out / name), "mine") << name;
            else if (name.ends_with("1") || name.ends_with("5"))
                continue;
            else
                EXPECT_EQ(readFile(out / name), readFile(tmp / name)) << name;
            expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(treeOf(out), expected);
    }
}

TEST(Parallel, aWorkersFailureIsRaisedToTheWriterAndNothingOfItIsWritten) {
    TempFolder tmp;
    writeFile(tmp / "a.bin", mixed(600000, 7));
    // Level 10 does not exist: the worker's deflater fails to start.
    ParallelPacker packer({{"a.bin", (tmp / "a.bin").string(), 10}}, 2, kDefaultBufferBudget);
    std::size_t written = 0;
    CompressOutcome outcome;
    EXPECT_THROW(packer.write(
                     "a.bin", 10, 600000,
                     [&](const std::uint8_t*, std::size_t n) {
                         written += n;
                         return n;
                     },
                     {}, outcome),
                 DeflateError);
    EXPECT_EQ(written, 0u);
}

TEST(Parallel, aDroppedBlockKeepsItsBudgetUntilItsWorkerHasFinishedWithIt) {
    // Two workers, a budget of two blocks. a's block is held in its worker and c's first
    // block waits for the writer: the budget is full. Writing c drops a's block while its
    // worker still fills it, so c's second block may start only once c's first is written;
    // that write fails and drops c, so c's second block never starts.
    TempFolder tmp;
    const std::size_t block = readBlockSize(1);
    writeFile(tmp / "a", mixed(1000, 1));
    writeFile(tmp / "c", mixed(block + 1000, 2));
    using Start = std::pair<std::size_t, std::uint64_t>; // source, first byte
    std::mutex mu;
    std::condition_variable changed;
    std::set<Start> started;
    std::set<Start> held = {{0, 0}, {1, 0}};
    packBlockProbe = [&](std::size_t source, std::uint64_t offset) {
        std::unique_lock lock(mu);
        started.emplace(source, offset);
        changed.notify_all();
        changed.wait(lock, [&] { return !held.contains({source, offset}); });
    };
    auto release = [&](Start s) {
        std::lock_guard lock(mu);
        held.erase(s);
        changed.notify_all();
    };
    {
        ParallelPacker packer({{"a", (tmp / "a").string(), 1}, {"c", (tmp / "c").string(), 1}}, 2,
                              2 * block + block / 2);
        {
            std::unique_lock lock(mu);
            changed.wait(lock, [&] { return started.size() == 2; });
        }
        CompressOutcome outcome;
        EXPECT_TRUE(packer.write(
            "c", 1, block + 1000, [](const std::uint8_t*, std::size_t) { return std::size_t(0); },
            [&](std::uint64_t) {
                release({1, 0});
                return true;
            },
            outcome));
        EXPECT_TRUE(outcome.writeFailed);
        release({0, 0});
    }
    packBlockProbe = nullptr;
    EXPECT_EQ(started, (std::set<Start>{{0, 0}, {1, 0}}));
}
