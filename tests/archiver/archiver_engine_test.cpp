// The archiver component end to end: lifecycle, the bytes a new archive holds, the update
// engine (rollback, nesting, appending without copying, replacing), extraction with its
// failure decision, path confinement and damaged data.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <map>
#include <random>
#include <thread>

#include <zlib.h>

#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "archiver_test_support.h"
#include "platform/file_system.h"

using namespace archiver;
using namespace enginetest;

namespace {

std::string textOf(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = "abcdefgh \n"[rng() % 10];
    return s;
}

std::map<std::string, const TDirItem*> byName(const TZADirArray& dir) {
    std::map<std::string, const TDirItem*> m;
    for (int i = 0; i < dir.Count(); ++i)
        m[dir.ItemAt(i).name] = &dir.ItemAt(i);
    return m;
}

} // namespace

// The start of every engine test: a temporary folder and an archiver (closed before the
// folder goes), with a place for the failures a test records.
class EngineTest : public ::testing::Test {
protected:
    // Opens tmp/archiveName in `mode`, with tmp as the base folder of stored names.
    void open(const std::string& archiveName, std::uint16_t mode) {
        zip.FileName = (tmp / archiveName).string();
        zip.BaseDir = tmp.str();
        zip.OpenArchive(mode);
    }

    TempFolder tmp;
    TZipArchiver zip;
    std::vector<Failure> failures;
};

class ZipArchiver : public EngineTest {};
class Updates : public EngineTest {};
class ExtractFiles : public EngineTest {};
class AddFiles : public EngineTest {};

TEST_F(ZipArchiver, defaultsAndCompressionCoupling) {
    EXPECT_EQ(zip.CompressionLevel(), clFastest);
    EXPECT_EQ(zip.CompressionMode(), 1);
    EXPECT_EQ(zip.CurrentVersion(), "2.73 ");
    EXPECT_EQ(zip.Zip64Mode(), zmDisabled);
    EXPECT_EQ(zip.Options.SearchAttr, 10431u);
    EXPECT_EQ(zip.Options.OverwriteMode, omAlways);
    EXPECT_EQ(zip.Options.StorePath, spRelativePath);
    EXPECT_FALSE(zip.ExtractCorruptedFiles);
    zip.SetCompressionLevel(clNormal);
    EXPECT_EQ(zip.CompressionMode(), 6);
    zip.SetCompressionMode(5);
    EXPECT_EQ(zip.CompressionLevel(), clNormal);
    zip.SetCompressionMode(8);
    EXPECT_EQ(zip.CompressionLevel(), clMax);
    EXPECT_EQ(nativeErrorOf([&] { zip.SetCompressionMode(10); }), 5);
    EXPECT_EQ(zip.CompressionMode(), 8);
    zip.SpanningOptions.SetCustomVolumeSize(100);
    EXPECT_EQ(zip.SpanningOptions.CustomVolumeSize(), 65536);
}

TEST_F(ZipArchiver, openAndCloseErrors) {
    zip.CloseArchive(); // never opened: nothing happens
    zip.FileName = "";
    EXPECT_EQ(nativeErrorOf([&] { zip.OpenArchive(kOpenCreate); }), 10);
    zip.FileName = (tmp / "missing.zip").string();
    EXPECT_EQ(nativeErrorOf([&] { zip.OpenArchive(kOpenRead); }), 12);
    writeFile(tmp / "empty.zip", "");
    zip.FileName = (tmp / "empty.zip").string();
    EXPECT_EQ(nativeErrorOf([&] { zip.OpenArchive(kOpenRead); }), 35);
    EXPECT_FALSE(zip.IsOpen());
    EXPECT_EQ(nativeErrorOf([&] { zip.AddFiles("*.*"); }), 13);
    EXPECT_EQ(nativeErrorOf([&] { zip.ExtractFiles("*.*"); }), 13);
}

TEST_F(ZipArchiver, createOnExistingArchiveKeepsItUntilCloseLeavesEndRecord) {
    packFiles(tmp, "a.zip", {{"a.txt", "hello"}});
    const std::string before = readFile(tmp / "a.zip");
    ASSERT_GT(before.size(), 22u);
    zip.OpenArchive((tmp / "a.zip").string(), kOpenCreate);
    EXPECT_EQ(zip.directory()->Count(), 0);
    EXPECT_EQ(readFile(tmp / "a.zip"), before) << "the old archive stays until the new one replaces it";
    zip.CloseArchive();
    const auto bytes = readBytes(tmp / "a.zip");
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(u32At(bytes, 0), 0x06054B50u);
    for (std::size_t i = 4; i < 22; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
}

TEST_F(ZipArchiver, spanningModeRefusedWhileOpen) {
    zip.OpenArchive((tmp / "s.zip").string(), kOpenCreate);
    EXPECT_THROW(zip.SetSpanningMode(smSpanning), std::runtime_error);
    zip.CloseArchive();
    zip.SetSpanningMode(smNone);
}

TEST_F(ZipArchiver, readOnlyArchiveRefusesUpdateAndExtractionRefusesPendingBatch) {
    packFiles(tmp, "a.zip", {{"a.txt", "x"}});
    zip.OpenArchive((tmp / "a.zip").string(), kOpenRead);
    EXPECT_EQ(nativeErrorOf([&] { zip.BeginUpdate(); }), 32);
    zip.CloseArchive();
    zip.OpenArchive(kOpenReadWrite);
    zip.BeginUpdate();
    EXPECT_EQ(nativeErrorOf([&] { zip.ExtractFiles("*.*"); }), 26);
    zip.CancelUpdate();
}

TEST_F(Updates, newArchiveByteLayout) {
    const std::string big = textOf(70000, 1);
    writeFile(tmp / "prof/a.txt", big);
    writeFile(tmp / "prof/empty.bin", "");
    fs::create_directories(tmp / "prof/sub/deeper");
    writeFile(tmp / "prof/sub/b.txt", "bee");
    pack(tmp / "prof.zip", tmp.path(), "prof");

    const auto bytes = readBytes(tmp / "prof.zip");
    ASSERT_GE(bytes.size(), 22u);
    const std::size_t end = bytes.size() - 22;
    ASSERT_EQ(u32At(bytes, end), 0x06054B50u);
    const std::uint16_t count = u16At(bytes, end + 10);
    const std::uint32_t dirSize = u32At(bytes, end + 12);
    const std::uint32_t dirOffset = u32At(bytes, end + 16);
    EXPECT_EQ(dirOffset + dirSize, end) << "nothing between directory and end record";
    EXPECT_EQ(count, 5); // a.txt, empty.bin, sub/, sub/deeper/, sub/b.txt

    std::size_t at = dirOffset;
    std::size_t expectedLocal = 0; // entries follow each other from offset 0
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(u32At(bytes, at), 0x02014B50u);
        const std::uint16_t made = u16At(bytes, at + 4), needed = u16At(bytes, at + 6);
        const std::uint16_t flags = u16At(bytes, at + 8), method = u16At(bytes, at + 10);
        const std::uint32_t crc = u32At(bytes, at + 16), csize = u32At(bytes, at + 20), usize = u32At(bytes, at + 24);
        const std::uint16_t nlen = u16At(bytes, at + 28), xlen = u16At(bytes, at + 30), clen = u16At(bytes, at + 32);
        const std::uint32_t attr = u32At(bytes, at + 38), offset = u32At(bytes, at + 42);
        const std::string name(bytes.begin() + std::ptrdiff_t(at + 46), bytes.begin() + std::ptrdiff_t(at + 46 + nlen));
        names.push_back(name);
        EXPECT_EQ(made, 0x0314) << "version 2.0 on Unix: the mode is in the attributes' high half";
        EXPECT_EQ(attr >> 16, (name.ends_with('/') ? 040000u : 0100000u) |
                                  unsigned(fs::status(tmp / name).permissions() & fs::perms::all))
            << name;
        EXPECT_EQ(needed, 20);
        EXPECT_EQ(xlen, 9) << "only the extended timestamp (a plain ASCII name needs no Unicode Path)";
        EXPECT_EQ(flags & 0x0008, 0) << "no data descriptor";
        EXPECT_EQ(offset, expectedLocal) << name;
        // The local header carries the same values, patched in place.
        ASSERT_EQ(u32At(bytes, offset), 0x04034B50u);
        EXPECT_EQ(u16At(bytes, offset + 4), 20);
        EXPECT_EQ(u16At(bytes, offset + 6), flags);
        EXPECT_EQ(u16At(bytes, offset + 8), method);
        EXPECT_EQ(u32At(bytes, offset + 14), crc);
        EXPECT_EQ(u32At(bytes, offset + 18), csize);
        EXPECT_EQ(u32At(bytes, offset + 22), usize);
        EXPECT_EQ(u16At(bytes, offset + 28), xlen);
        const std::size_t data = offset + 30 + nlen + xlen;
        if (name.ends_with('/')) {
            EXPECT_EQ(flags, 2);
            EXPECT_EQ(method, 0);
            EXPECT_EQ(crc, 0u);
            EXPECT_EQ(csize, 0u);
            EXPECT_NE(attr & 0x10, 0u);
        } else if (name == "prof/empty.bin") {
            EXPECT_EQ(method, 0);
            EXPECT_EQ(crc, 0u);
            EXPECT_EQ(csize, 0u);
            EXPECT_EQ(usize, 0u);
        } else if (name == "prof/a.txt") {
            EXPECT_EQ(method, 8);
            EXPECT_EQ(usize, big.size());
            EXPECT_NE(bytes[data], 0x78) << "raw deflate, no zlib header";
            std::vector<std::uint8_t> out(usize);
            z_stream s{};
            inflateInit2(&s, -MAX_WBITS);
            s.next_in = const_cast<Bytef*>(bytes.data() + data);
            s.avail_in = csize;
            s.next_out = out.data();
            s.avail_out = uInt(out.size());
            EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
            EXPECT_EQ(s.avail_in, 0u) << "no Adler-32 after the stream";
            inflateEnd(&s);
            EXPECT_EQ(std::string(out.begin(), out.end()), big);
            EXPECT_EQ(crc, ::crc32(0, out.data(), uInt(out.size())));
        }
        expectedLocal = data + csize;
        at += 46 + nlen + xlen + clen;
    }
    EXPECT_EQ(expectedLocal, dirOffset);
    // Folder entries come before what they hold.
    const auto pos = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(pos("prof/sub/"), pos("prof/sub/b.txt"));
    EXPECT_LT(pos("prof/sub/"), pos("prof/sub/deeper/"));
}

TEST_F(Updates, programSequenceWithEmptyBaseStoresNamesBelowCurrentFolder) {
    writeFile(tmp / "srv/a.txt", "A");
    writeFile(tmp / "srv/.hidden", "H");
    fs::create_directories(tmp / "srv/empty");
    const fs::path saved = fs::current_path();
    fs::current_path(tmp.path());
    {
        TZipArchiver zip;
        zip.FileName = "./srv.zip";
        zip.OpenArchive(kOpenCreate);
        zip.AddFiles("./srv\\*.*", 10431, "");
        zip.CloseArchive();
        zip.OpenArchive(kOpenRead);
        auto names = byName(*zip.directory());
        EXPECT_EQ(names.size(), 3u);
        EXPECT_TRUE(names.count("srv/a.txt"));
        EXPECT_TRUE(names.count("srv/.hidden"));
        EXPECT_TRUE(names.count("srv/empty/"));
        zip.CloseArchive();
        fs::remove_all("srv");
        zip.OpenArchive(kOpenRead);
        zip.BaseDir = ".\\";
        zip.ExtractFiles("*.*", 10431, "");
        zip.CloseArchive();
    }
    fs::current_path(saved);
    EXPECT_EQ(readFile(tmp / "srv/a.txt"), "A");
    EXPECT_EQ(readFile(tmp / "srv/.hidden"), "H");
    EXPECT_TRUE(fs::is_directory(tmp / "srv/empty"));
}

TEST_F(Updates, abortWhileAddingSecondFileLeavesEmptyArchive) {
    writeFile(tmp / "p/1.txt", "one");
    writeFile(tmp / "p/2.txt", "two");
    recordFailures(zip, failures, fxaAbort);
    open("p.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/1.txt").string());
    zip.AddFiles((tmp / "p/2.txt").string());
    fs::remove(tmp / "p/2.txt"); // the second source is gone when the batch is written
    zip.EndUpdate();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].nativeError, 33);
    EXPECT_EQ(zip.directory()->Count(), 0) << "directory rolled back";
    zip.CloseArchive();
    EXPECT_EQ(fs::file_size(tmp / "p.zip"), 22u);
}

TEST_F(Updates, ignoredFailureLeavesEntryOutAndWritesTheRest) {
    writeFile(tmp / "p/1.txt", "one");
    writeFile(tmp / "p/2.txt", textOf(5000, 2));
    writeFile(tmp / "p/3.txt", "three");
    recordFailures(zip, failures, fxaIgnore);
    open("p.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/*.*").string());
    fs::remove(tmp / "p/2.txt");
    zip.EndUpdate();
    zip.CloseArchive();
    EXPECT_EQ(failures.size(), 1u);
    zip.OpenArchive(kOpenRead);
    const auto names = byName(*zip.directory());
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(names.count("p/1.txt") && names.count("p/3.txt"));
    const TDirItem& first = zip.directory()->ItemAt(0);
    EXPECT_EQ(zip.directory()->ItemAt(1).localHeaderOffset, 30u + 7u + 9u + first.compressedSize)
        << "no remains of the failed entry";
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "p.zip").string()), std::nullopt);
}

TEST_F(Updates, nestedBatchWritesOnceAtOutermostEnd) {
    writeFile(tmp / "p/a.txt", "a");
    open("n.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/*.*").string());
    EXPECT_EQ(fs::file_size(tmp / "n.zip"), 0u);
    zip.EndUpdate();
    EXPECT_EQ(fs::file_size(tmp / "n.zip"), 0u);
    zip.EndUpdate();
    EXPECT_GT(fs::file_size(tmp / "n.zip"), 22u);
    zip.CloseArchive();
}

TEST_F(Updates, addingToExistingArchiveKeepsOldBytesAndCopiesNothing) {
    packFiles(tmp, "x.zip", {{"a.txt", textOf(3000, 3)}});
    const auto before = readBytes(tmp / "x.zip");
    const std::uint32_t oldDir = u32At(before, before.size() - 6);

    writeFile(tmp / "q/b.txt", "bee");
    open("x.zip", kOpenReadWrite);
    zip.AddFiles((tmp / "q/*.*").string());
    zip.CloseArchive();

    const auto after = readBytes(tmp / "x.zip");
    ASSERT_GT(after.size(), oldDir);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + oldDir, after.begin()));
    zip.OpenArchive(kOpenRead);
    const auto names = byName(*zip.directory());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names.at("q/b.txt")->localHeaderOffset, oldDir) << "new entry written over the old directory";
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "x.zip").string()), std::nullopt);
}

TEST_F(Updates, namesDifferingOnlyInCaseStayApartOnACaseSensitiveFileSystem) {
    if (platform::foldsCase(tmp.path()))
        GTEST_SKIP() << "this file system folds case";
    packFiles(tmp, "r.zip", {{"A.txt", "old contents"}, {"z.txt", "tail entry"}});
    writeFile(tmp / "p/a.txt", "a file of its own");
    writeFile(tmp / "p/z.txt", "tail entry, replaced");

    open("r.zip", kOpenReadWrite);
    zip.AddFiles((tmp / "p/*.*").string());
    zip.CloseArchive();

    zip.OpenArchive(kOpenRead);
    EXPECT_EQ(byName(*zip.directory()).size(), 3u);
    zip.CloseArchive();
    TempFolder out;
    EXPECT_EQ(extractAll(tmp / "r.zip", out.path()).size(), 0u);
    EXPECT_EQ(readFile(out / "p/A.txt"), "old contents");
    EXPECT_EQ(readFile(out / "p/a.txt"), "a file of its own");
    EXPECT_EQ(readFile(out / "p/z.txt"), "tail entry, replaced");
}

TEST_F(Updates, addingSameFolderTwiceReplacesEntries) {
    writeFile(tmp / "p/a.txt", "1");
    fs::create_directories(tmp / "p/s");
    open("t.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/*.*").string());
    const int count = zip.directory()->Count();
    zip.AddFiles((tmp / "p/*.*").string());
    EXPECT_EQ(zip.directory()->Count(), count);
    EXPECT_EQ(zip.directory()->ItemAt(0).operation, poUpdate);
    zip.EndUpdate();
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "t.zip").string()), std::nullopt);
}

// The add side of the overwrite question: the stored name as stored, the file on disk as
// the system writes its paths (with `\` on Windows).
TEST_F(Updates, replacingAnEntryAsksWithTheDiskPathAsTheSystemWritesIt) {
    writeFile(tmp / "a.txt", "1");
    open("q.zip", kOpenCreate);
    zip.AddFiles((tmp / "a.txt").string());
    zip.CloseArchive();
    open("q.zip", kOpenReadWrite);
    zip.Options.OverwriteMode = omPrompt;
    std::string question;
    zip.Prompts.askOverwrite = [&](const std::string& q) {
        question = q;
        return TZAOverwriteAnswer::No;
    };
    zip.AddFiles((tmp / "a.txt").string());
    zip.CloseArchive();
    EXPECT_EQ(question, "Overwrite file \"a.txt\" with \"" + (tmp / "a.txt").string() + "\"");
}

TEST_F(ExtractFiles, entriesLeavingTheDestinationAreRefused) {
    const fs::path archive = tmp / "evil.zip";
    writeStoredZip(archive, {{"/abs.txt", "1"},
                             {"../up.txt", "2"},
                             {"in/../../up2.txt", "3"},
                             {"C:/drive.txt", "4"},
                             {"\\\\server\\share\\unc.txt", "5"},
                             {"ok/fine.txt", "6"}});
    fs::create_directories(tmp / "dest");
    const auto outsideBefore = treeOf(tmp.path());
    const auto failures = extractAll(archive, tmp / "dest");
    ASSERT_EQ(failures.size(), 5u);
    for (const auto& f : failures)
        EXPECT_EQ(f.nativeError, 19) << f.name;
    EXPECT_EQ(failures[0].name, "/abs.txt");
    EXPECT_EQ(treeOf(tmp / "dest"), (std::vector<std::string>{"ok/", "ok/fine.txt"}));
    auto after = treeOf(tmp.path());
    std::erase_if(after, [](const std::string& s) { return s.starts_with("dest/") && s != "dest/"; });
    EXPECT_EQ(after, outsideBefore);
    EXPECT_FALSE(fs::exists("/abs.txt"));
}

TEST_F(ExtractFiles, aDamagedEntryFailsAloneLeavesNoFileAndIsKeptOnlyWhenAsked) {
    // Each case damages the entry "bad" of an archive that also holds "good".
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        const char* what;
        bool packed; // packed by us (deflated, in p/), else hand-made stored entries
        std::string badData;
        std::function<void(Bytes&, std::size_t header)> damage; // header: bad's central header
        bool keptWhenAsked;                                     // ExtractCorruptedFiles writes it
    };
    const Case cases[] = {
        {"CRC-32 mismatch", true, textOf(4000, 4), [](Bytes& b, std::size_t h) { b[h + 16] ^= 0xFF; }, true},
        {"damaged deflate data", true, textOf(300000, 5),
         [](Bytes& b, std::size_t h) {
             for (std::size_t k = 0; k < 64; ++k)
                 b[u32At(b, h + 42) + 30 + 9 + u32At(b, h + 20) / 2 + k] ^= 0x5A;
         },
         false},
        {"sizes running past the file", false, "aaaa",
         [](Bytes& b, std::size_t h) {
             for (const std::size_t field : {h + 20, h + 24}) // 100 MB claimed
                 b[field + 3] = 0x06;
         },
         false},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        const fs::path archive = tmp / "d.zip";
        if (c.packed)
            packFiles(tmp, "d.zip", {{"bad", c.badData}, {"good", "fine"}});
        else
            writeStoredZip(archive, {{"bad", c.badData}, {"good", "fine"}});
        const std::string folder = c.packed ? "p/" : "";
        Bytes bytes = readBytes(archive);
        const std::size_t header = centralHeaderOf(bytes, folder + "bad");
        ASSERT_NE(header, 0u) << c.what;
        c.damage(bytes, header);
        writeFile(archive, std::string(bytes.begin(), bytes.end()));

        const auto failures = extractAll(archive, tmp / "out");
        ASSERT_EQ(failures.size(), 1u) << c.what;
        EXPECT_EQ(failures[0].nativeError, 8) << c.what;
        EXPECT_EQ(failures[0].name, folder + "bad") << c.what;
        EXPECT_FALSE(fs::exists(tmp / "out" / (folder + "bad"))) << c.what;
        EXPECT_EQ(readFile(tmp / "out" / (folder + "good")), "fine") << c.what;
        EXPECT_EQ(testArchive(archive.string()), folder + "bad") << c.what;
        if (c.keptWhenAsked) {
            EXPECT_TRUE(extractAll(archive, tmp / "kept", true).empty()) << c.what;
            EXPECT_EQ(fs::file_size(tmp / "kept" / (folder + "bad")), c.badData.size()) << c.what;
        }
    }
}

TEST_F(ExtractFiles, failureDecisionRetryIgnoreAbortAndPrompts) {
    writeStoredZip(tmp / "f.zip", {{"x/a.txt", "a"}, {"x/b.txt", "b"}});
    writeFile(tmp / "dest/x", "a file where a folder should be");
    zip.OpenArchive((tmp / "f.zip").string(), kOpenRead);
    zip.BaseDir = (tmp / "dest").string();
    int asked = 0;
    std::string lastMessage;
    zip.Prompts.askFailure = [&](const std::string& message, bool allowRetry) {
        ++asked;
        lastMessage = message;
        EXPECT_TRUE(allowRetry);
        if (asked == 1) {
            fs::remove(tmp / "dest/x"); // the user fixes the problem and retries
            return fxaRetry;
        }
        return fxaAbort;
    };
    zip.ExtractFiles();
    EXPECT_EQ(asked, 1);
    EXPECT_NE(lastMessage.find(". File processing error, possibly disk is full"), std::string::npos);
    EXPECT_NE(lastMessage.find("Native error: 00020"), std::string::npos);
    EXPECT_EQ(readFile(tmp / "dest/x/a.txt"), "a");
    EXPECT_EQ(readFile(tmp / "dest/x/b.txt"), "b");

    // Without prompts the box counts as closed: the first failure aborts the rest.
    zip.Prompts = {};
    TempFolder blocked;
    writeFile(blocked / "x", "blocker");
    zip.BaseDir = blocked.str();
    zip.ExtractFiles();
    zip.CloseArchive();
    EXPECT_TRUE(fs::is_regular_file(blocked / "x"));
}

TEST_F(ExtractFiles, overwriteRulesAndReadOnlyReplacement) {
    writeStoredZip(tmp / "o.zip", {{"a.txt", "from archive"}});
    zip.OpenArchive((tmp / "o.zip").string(), kOpenRead);
    zip.BaseDir = tmp.str();

    writeFile(tmp / "a.txt", "on disk");
    zip.Options.OverwriteMode = omNever;
    zip.ExtractFiles("a.txt");
    EXPECT_EQ(readFile(tmp / "a.txt"), "on disk");

    zip.Options.OverwriteMode = omPrompt;
    std::string question;
    zip.Prompts.askOverwrite = [&](const std::string& q) {
        question = q;
        return TZAOverwriteAnswer::YesToAll;
    };
    zip.ExtractFiles("a.txt");
    EXPECT_EQ(question, "Overwrite file \"" + (tmp / "a.txt").string() + "\" with \"a.txt\"");
    EXPECT_EQ(zip.Options.OverwriteMode, omAlways);
    EXPECT_EQ(readFile(tmp / "a.txt"), "from archive");

    // A read-only file is replaced by default, left alone without ReplaceReadOnly.
    writeFile(tmp / "a.txt", "read-only");
    fs::permissions(tmp / "a.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    zip.Options.ReplaceReadOnly = false;
    zip.ExtractFiles("a.txt");
    EXPECT_EQ(readFile(tmp / "a.txt"), "read-only");
    zip.Options.ReplaceReadOnly = true;
    zip.ExtractFiles("a.txt");
    EXPECT_EQ(readFile(tmp / "a.txt"), "from archive");
    zip.CloseArchive();
}

TEST_F(ExtractFiles, ifNewerAndIfOlderCompareTheEntryWithTheFileOnDisk) {
    using namespace std::chrono;
    const auto noonOf = [](year_month_day day) { return file_clock::from_sys(sys_seconds(sys_days(day) + hours(12))); };
    writeFile(tmp / "p/a.txt", "from archive");
    fs::last_write_time(tmp / "p/a.txt", noonOf(2020y / June / 1));
    pack(tmp / "t.zip", tmp.path(), "p");
    struct Case {
        TZAOverwriteMode mode;
        year_month_day diskTime;
        bool replaced;
    };
    for (const Case& c : {Case{omIfNewer, 2010y / 1 / 1, true}, Case{omIfNewer, 2030y / 1 / 1, false},
                          Case{omIfOlder, 2010y / 1 / 1, false}, Case{omIfOlder, 2030y / 1 / 1, true}}) {
        const fs::path target = tmp / "out/p/a.txt";
        writeFile(target, "on disk");
        fs::last_write_time(target, noonOf(c.diskTime));
        TZipArchiver zip;
        zip.OpenArchive((tmp / "t.zip").string(), kOpenRead);
        zip.BaseDir = (tmp / "out").string();
        zip.Options.OverwriteMode = c.mode;
        zip.ExtractFiles("*.*");
        zip.CloseArchive();
        EXPECT_EQ(readFile(target), c.replaced ? "from archive" : "on disk") << c.mode << " " << int(c.diskTime.year());
    }
}

TEST_F(ExtractFiles, maskSelectsByNameOrNamePart) {
    writeStoredZip(tmp / "m.zip", {{"d/a.txt", "1"}, {"d/b.bin", "2"}, {"d/noext", "3"}, {"e/", ""}});
    zip.OpenArchive((tmp / "m.zip").string(), kOpenRead);
    zip.BaseDir = tmp.str() + "/out";
    zip.ExtractFiles("*.TXT");
    EXPECT_EQ(treeOf(tmp / "out"), (std::vector<std::string>{"d/", "d/a.txt"}));
    zip.ExtractFiles("noext.");
    EXPECT_TRUE(fs::exists(tmp / "out/d/noext"));
    zip.ExtractFiles("*.*", 10431 & ~0x10); // without the folder bit folder entries are not selected
    EXPECT_FALSE(fs::exists(tmp / "out/e"));
    zip.ExtractFiles("*.*");
    EXPECT_TRUE(fs::is_directory(tmp / "out/e"));
    zip.CloseArchive();
}

// An extraction cancelled in the middle of an entry over an existing file leaves that file
// as it was, and nothing of the cancelled entry.
TEST_F(ExtractFiles, aCancelOverAnExistingFileKeepsIt) {
    packFiles(tmp, "c.zip", {{"a.bin", textOf(4 << 20, 3)}});
    writeFile(tmp / "out/p/a.bin", "mine");
    zip.OpenArchive((tmp / "c.zip").string(), kOpenRead);
    zip.BaseDir = tmp.str() + "/out";
    zip.OnFileProgress = [](const std::string&, int, TZAProcessOperation, TZAProgressPhase phase, bool& cancel) {
        if (phase == ppProcess)
            cancel = true;
    };
    zip.ExtractFiles("*.*");
    zip.CloseArchive();
    EXPECT_EQ(readFile(tmp / "out/p/a.bin"), "mine");
    EXPECT_EQ(treeOf(tmp / "out"), (std::vector<std::string>{"p/", "p/a.bin"}));
}

// An entry whose local header disagrees with the directory is refused before anything is
// made for it: no folder on its way, no temporary file.
TEST_F(ExtractFiles, aRefusedEntryTouchesNothing) {
    writeStoredZip(tmp / "r.zip", {{"sub/deep/x.txt", "data"}});
    std::string bytes = readFile(tmp / "r.zip");
    bytes.replace(0, 4, "XXXX"); // the local header's signature
    writeFile(tmp / "r.zip", bytes);
    fs::create_directories(tmp / "out");
    const auto failures = extractAll(tmp / "r.zip", tmp / "out");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(fs::is_empty(tmp / "out"));
}

// Whether an entry without a trailing '/' is a folder: the Unix mode decides where a Unix
// host wrote one with a file type, else the DOS folder bit on an entry without data. A
// file whose DOS byte also has the folder bit is made as the file, with its data.
TEST_F(ExtractFiles, theUnixModeDecidesWhetherAnEntryIsAFolder) {
    struct Case {
        const char* name;
        std::string data;
        std::uint16_t host;
        std::uint32_t attributes;
        bool folder;
    };
    const std::vector<Case> cases = {
        {"file", "eighteen bytes ...", 3, (0100644u << 16) | 0x10, false},
        {"unixdir", "", 3, 040755u << 16, true},
        {"dosdir", "", 0, 0x10, true},
        {"dosdata", "xx", 0, 0x10, false},
        {"untyped", "", 3, (0644u << 16) | 0x10, true},
    };
    std::vector<std::pair<std::string, std::string>> entries;
    for (const Case& c : cases)
        entries.emplace_back(c.name, c.data);
    writeStoredZip(tmp / "t.zip", entries, false, [&](CentralHeader& h, std::size_t i) {
        h.versionMadeBy = std::uint16_t(cases[i].host << 8 | 20);
        h.externalAttributes = cases[i].attributes;
    });
    EXPECT_EQ(testArchive((tmp / "t.zip").string()), std::nullopt);
    EXPECT_TRUE(extractAll(tmp / "t.zip", tmp / "out").empty());
    for (const Case& c : cases) {
        EXPECT_EQ(fs::is_directory(tmp / "out" / c.name), c.folder) << c.name;
        if (!c.folder) {
            EXPECT_EQ(readFile(tmp / "out" / c.name), c.data) << c.name;
        }
    }
}

TEST_F(Updates, cancelFromProgressHandlerRollsBackExistingArchive) {
    packFiles(tmp, "k.zip", {{"a.txt", "keep me"}});
    const std::string before = readFile(tmp / "k.zip");
    writeFile(tmp / "p/b.txt", textOf(2000, 9));
    writeFile(tmp / "p/a.txt", "replacement");

    zip.FileName = (tmp / "k.zip").string();
    zip.BaseDir = tmp.str();
    int overallCalls = 0;
    zip.OnOverallProgress = [&](int, TZAProcessOperation, TZAProgressPhase, bool&) { ++overallCalls; };
    zip.OnFileProgress = [](const std::string& name, int, TZAProcessOperation, TZAProgressPhase phase, bool& cancel) {
        if (name.ends_with("b.txt") && phase == ppStart)
            cancel = true;
    };
    zip.OpenArchive(kOpenReadWrite);
    zip.AddFiles((tmp / "p/*.*").string());
    EXPECT_EQ(zip.directory()->Count(), 1);
    zip.CloseArchive();
    EXPECT_GE(overallCalls, 1);
    EXPECT_EQ(readFile(tmp / "k.zip"), before) << "the replaced entry and the tail are restored";
}

TEST_F(AddFiles, leavesOutTheArchiveItselfExclusionsAndStoresNoCompressionMatches) {
    writeFile(tmp / "p/a.txt", textOf(3000, 10));
    writeFile(tmp / "p/b.bin", textOf(3000, 11));
    writeFile(tmp / "p/skip.tmp", "x");
    writeFile(tmp / "p/junk.tmp/inner.txt", "in an excluded folder");
    writeFile(tmp / "p/cache/c.txt", "c");
    zip.FileName = (tmp / "p/self.zip").string();
    zip.BaseDir = tmp.str();
    zip.NoCompressionMasks = {"*.bin"};
    zip.OpenArchive(kOpenCreate);
    zip.AddFiles((tmp / "p/*.*").string(), kDefaultSearchAttr, "*.tmp");
    zip.CloseArchive();
    zip.OpenArchive(kOpenRead);
    const auto names = byName(*zip.directory());
    EXPECT_FALSE(names.count("p/self.zip"));
    EXPECT_FALSE(names.count("p/skip.tmp"));
    EXPECT_FALSE(names.count("p/junk.tmp/") ||
                 names.count("p/junk.tmp/inner.txt")); // an excluded folder is not entered
    ASSERT_TRUE(names.count("p/b.bin") && names.count("p/a.txt") && names.count("p/cache/c.txt"));
    EXPECT_EQ(names.at("p/b.bin")->method, 0);
    EXPECT_EQ(names.at("p/a.txt")->method, 8);
    zip.CloseArchive();

    // With the folder bit absent, sub-folders are searched but get no entries.
    TZipArchiver flat;
    flat.FileName = (tmp / "flat.zip").string();
    flat.BaseDir = tmp.str();
    flat.OpenArchive(kOpenCreate);
    flat.AddFiles((tmp / "p/*.*").string(), kDefaultSearchAttr & ~0x10u, "");
    const auto flatNames = byName(*flat.directory());
    EXPECT_TRUE(flatNames.count("p/cache/c.txt"));
    EXPECT_FALSE(flatNames.count("p/cache/"));
    flat.CloseArchive();
}

TEST_F(Updates, entriesStoredOutOfDirectoryOrderSurviveAnUpdate) {
    writeStoredZip(tmp / "o.zip", {{"first.txt", "1111"}, {"second.txt", "2222"}, {"third.txt", "3333"}}, true);
    writeFile(tmp / "new/n.txt", "new");
    writeFile(tmp / "second.txt", "replaced");
    open("o.zip", kOpenReadWrite);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "new/n.txt").string());
    zip.AddFiles((tmp / "second.txt").string());
    zip.EndUpdate();
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "o.zip").string()), std::nullopt);
    TempFolder out;
    EXPECT_TRUE(extractAll(tmp / "o.zip", out.path()).empty());
    EXPECT_EQ(readFile(out / "first.txt"), "1111");
    EXPECT_EQ(readFile(out / "second.txt"), "replaced");
    EXPECT_EQ(readFile(out / "third.txt"), "3333");
    EXPECT_EQ(readFile(out / "new/n.txt"), "new");
}

TEST_F(Updates, cancelledBatchLeavesNoPhantomEntries) {
    writeFile(tmp / "p/a.txt", "a");
    writeFile(tmp / "p/b.txt", "b");
    open("c.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/a.txt").string());
    zip.CancelUpdate();
    EXPECT_EQ(zip.directory()->Count(), 0) << "the cancelled item was never written";
    zip.AddFiles((tmp / "p/b.txt").string());
    zip.CloseArchive();
    zip.OpenArchive(kOpenRead);
    ASSERT_EQ(zip.directory()->Count(), 1);
    EXPECT_EQ(zip.directory()->ItemAt(0).name, "p/b.txt");
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "c.zip").string()), std::nullopt);
}

TEST_F(ExtractFiles, linksAlreadyInTheDestinationNeverLeadOutside) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links: Windows makes them only with a privilege, Wine not at all";
#endif
    writeStoredZip(tmp / "l.zip", {{"link/made/f.txt", "1"}, {"ro.txt", "from archive"}});
    fs::create_directories(tmp / "dest");
    fs::create_directories(tmp / "outside");
    fs::create_directory_symlink(tmp / "outside", tmp / "dest/link");
    writeFile(tmp / "outside/ro.txt", "outside");
    fs::permissions(tmp / "outside/ro.txt", fs::perms::owner_read, fs::perm_options::replace);
    fs::create_symlink(tmp / "outside/ro.txt", tmp / "dest/ro.txt");

    const auto failures = extractAll(tmp / "l.zip", tmp / "dest");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].nativeError, 19);
    EXPECT_FALSE(fs::exists(tmp / "outside/made")) << "no folder is made through a link";
    // The link in the way is replaced; the file it pointed to keeps its bytes and its mode.
    EXPECT_FALSE(fs::is_symlink(tmp / "dest/ro.txt"));
    EXPECT_EQ(readFile(tmp / "dest/ro.txt"), "from archive");
    EXPECT_EQ(readFile(tmp / "outside/ro.txt"), "outside");
    EXPECT_EQ(fs::status(tmp / "outside/ro.txt").permissions(), fs::perms::owner_read);
}

// A folder is resolved once for the files made in it; a file that takes the place of a
// link that led to that folder ends that: the next entry below its name meets the file.
TEST_F(ExtractFiles, aFileInPlaceOfALinkEndsTheWayThroughIt) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links: Windows makes them only with a privilege, Wine not at all";
#endif
    writeStoredZip(tmp / "l.zip", {{"link/a.txt", "a"}, {"link", "now a file"}, {"link/b.txt", "b"}});
    fs::create_directories(tmp / "dest/inner");
    fs::create_directory_symlink("inner", tmp / "dest/link");
    const auto failures = extractAll(tmp / "l.zip", tmp / "dest");
    EXPECT_EQ(readFile(tmp / "dest/inner/a.txt"), "a");
    EXPECT_EQ(readFile(tmp / "dest/link"), "now a file");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].name, "link/b.txt");
    EXPECT_FALSE(fs::exists(tmp / "dest/inner/b.txt"));
}

TEST_F(AddFiles, aPipeInTheTreeFailsAloneInsteadOfBlocking) {
#ifdef _WIN32
    GTEST_SKIP() << "named pipes in the file system (mkfifo): Windows has none";
#else
    writeFile(tmp / "p/a.txt", "a");
    ASSERT_EQ(::mkfifo((tmp / "p/pipe").c_str(), 0644), 0);
    recordFailures(zip, failures, fxaIgnore);
    open("f.zip", kOpenCreate);
    zip.AddFiles((tmp / "p/*.*").string());
    zip.CloseArchive();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].nativeError, 33);
    EXPECT_EQ(failures[0].name, (tmp / "p/pipe").string());
    zip.OpenArchive(kOpenRead);
    EXPECT_EQ(byName(*zip.directory()).size(), 1u);
    zip.CloseArchive();
#endif
}

TEST_F(Updates, cancelAtTheStartOfAnUpdateLeavesNoPhantomEntries) {
    writeFile(tmp / "p/a.txt", "a");
    writeFile(tmp / "p/b.txt", "b");
    zip.FileName = (tmp / "s.zip").string();
    zip.BaseDir = tmp.str();
    bool cancelNext = true;
    zip.OnOverallProgress = [&](int, TZAProcessOperation, TZAProgressPhase phase, bool& cancel) {
        if (phase == ppStart && cancelNext)
            cancel = true;
        cancelNext = false;
    };
    zip.OpenArchive(kOpenCreate);
    zip.AddFiles((tmp / "p/a.txt").string());
    EXPECT_EQ(zip.directory()->Count(), 0) << "nothing was written for the cancelled batch";
    zip.AddFiles((tmp / "p/b.txt").string());
    zip.CloseArchive();
    EXPECT_EQ(testArchive((tmp / "s.zip").string()), std::nullopt);
    zip.OpenArchive(kOpenRead);
    ASSERT_EQ(zip.directory()->Count(), 1);
    EXPECT_EQ(zip.directory()->ItemAt(0).name, "p/b.txt");
    zip.CloseArchive();
}

TEST_F(AddFiles, namesEndingInADotKeepItAndStayApart) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows drops the dots that end a file name (its naming rules), so no such file exists there";
#endif
    packFiles(tmp, "d.zip", {{"a", "plain"}, {"a.", "dotted"}, {"...", "dots"}});
    TempFolder out;
    EXPECT_TRUE(extractAll(tmp / "d.zip", out.path()).empty());
    EXPECT_EQ(readFile(out / "p/a"), "plain");
    EXPECT_EQ(readFile(out / "p/a."), "dotted");
    EXPECT_EQ(readFile(out / "p/..."), "dots");
}

TEST_F(Updates, ignoredFailureOfAReplacementKeepsWhatTheArchiveHeld) {
    writeFile(tmp / "p/a.txt", "a");
    writeFile(tmp / "p/b.txt", "b");
    recordFailures(zip, failures, fxaIgnore);
    open("r.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/*.*").string());
    zip.AddFiles((tmp / "p/a.txt").string()); // replaces the item recorded just before
    fs::remove(tmp / "p/a.txt");
    EXPECT_NO_THROW(zip.EndUpdate());
    zip.CloseArchive();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].nativeError, 33);
    EXPECT_EQ(testArchive((tmp / "r.zip").string()), std::nullopt);
    zip.OpenArchive(kOpenRead);
    const auto names = byName(*zip.directory());
    EXPECT_EQ(names.size(), 1u);
    EXPECT_TRUE(names.count("p/b.txt"));
    zip.CloseArchive();

    // An entry replaced under a name that differs only in letter case keeps its old data.
    writeFile(tmp / "q/A.TXT", "old data");
    pack(tmp / "c.zip", tmp.path(), "q");
    fs::remove(tmp / "q/A.TXT");
    writeFile(tmp / "q/a.txt", "new data");
    zip.OpenArchive((tmp / "c.zip").string(), kOpenReadWrite);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "q/a.txt").string());
    fs::remove(tmp / "q/a.txt");
    EXPECT_NO_THROW(zip.EndUpdate());
    zip.CloseArchive();
    EXPECT_EQ(failures.size(), 2u);
    TempFolder out;
    EXPECT_TRUE(extractAll(tmp / "c.zip", out.path()).empty());
    EXPECT_EQ(treeOf(out.path()), (std::vector<std::string>{"q/", "q/A.TXT"}));
    EXPECT_EQ(readFile(out / "q/A.TXT"), "old data");
}

TEST_F(ExtractFiles, restoresTimesAndTheReadOnlyAttribute) {
    writeFile(tmp / "p/ro.txt", "read only");
    writeFile(tmp / "p/rw.txt", "writable");
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 40);
    const auto even =
        std::chrono::floor<std::chrono::seconds>(stamp) -
        std::chrono::seconds(std::chrono::floor<std::chrono::seconds>(stamp).time_since_epoch().count() % 2);
    fs::last_write_time(tmp / "p/ro.txt", even);
    fs::last_write_time(tmp / "p/rw.txt", even);
    fs::permissions(tmp / "p/ro.txt", fs::perms::owner_read, fs::perm_options::replace);
    pack(tmp / "t.zip", tmp.path(), "p");

    TempFolder out;
    // A read-only file in the way is replaced and then takes the entry's attributes.
    writeFile(out / "p/rw.txt", "old");
    fs::permissions(out / "p/rw.txt", fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_TRUE(extractAll(tmp / "t.zip", out.path()).empty());
    EXPECT_EQ(readFile(out / "p/ro.txt"), "read only");
    EXPECT_EQ(readFile(out / "p/rw.txt"), "writable");
    EXPECT_EQ(fs::status(out / "p/ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(out / "p/rw.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(fs::last_write_time(out / "p/ro.txt"), even);
    EXPECT_EQ(fs::last_write_time(out / "p/rw.txt"), even);
}

TEST_F(ExtractFiles, anEntryNamedLikeTheArchiveNeverReplacesIt) {
    writeStoredZip(tmp / "self.zip", {{"self.zip", "not an archive"}, {"other.txt", "o"}});
    const std::string before = readFile(tmp / "self.zip");
    const auto failures = extractAll(tmp / "self.zip", tmp.path());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].nativeError, 19);
    EXPECT_EQ(readFile(tmp / "self.zip"), before);
    EXPECT_EQ(readFile(tmp / "other.txt"), "o");
}

TEST_F(ZipArchiver, openingAnotherArchiveFinishesThePendingBatchOfTheFirst) {
    writeFile(tmp / "p/a.txt", "a");
    open("first.zip", kOpenCreate);
    zip.BeginUpdate();
    zip.AddFiles((tmp / "p/a.txt").string());
    zip.OpenArchive((tmp / "second.zip").string(), kOpenCreate);
    EXPECT_EQ(zip.UpdateDepth(), 0);
    zip.CloseArchive();
    EXPECT_EQ(fs::file_size(tmp / "second.zip"), 22u);
    TempFolder out;
    EXPECT_TRUE(extractAll(tmp / "first.zip", out.path()).empty());
    EXPECT_EQ(readFile(out / "p/a.txt"), "a");
}

TEST_F(AddFiles, aFolderEntryCarriesTheFoldersOwnTimeSoRepacksAreByteIdentical) {
    writeFile(tmp / "p/sub/f.txt", "f");
    const std::chrono::sys_seconds when{std::chrono::sys_days{std::chrono::year{2004} / 5 / 6}};
    const auto old = std::chrono::file_clock::from_sys(when);
    for (const char* folder : {"p", "p/sub"})
        ASSERT_FALSE(platform::setModeAndTime(tmp / folder, std::nullopt, when.time_since_epoch().count(), true));
    fs::last_write_time(tmp / "p/sub/f.txt", old);
    pack(tmp / "1.zip", tmp.path(), "p");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the second pack is a second later
    pack(tmp / "2.zip", tmp.path(), "p");
    EXPECT_EQ(readFile(tmp / "1.zip"), readFile(tmp / "2.zip"));
    zip.OpenArchive((tmp / "1.zip").string(), kOpenRead);
    const TDirItem& sub = zip.directory()->ItemAt(zip.directory()->FindByName("p/sub/"));
    EXPECT_EQ(extendedModTime(sub), when.time_since_epoch().count());
    zip.CloseArchive();
}
