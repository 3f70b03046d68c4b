// Hostile and damaged archives, crafted here: entries that share or overlap their data,
// local headers that disagree with the directory, a directory that had to be rebuilt,
// nameless entries; and the progress a caller needs to keep a window alive.
#include <gtest/gtest.h>

#include <map>

#include "archiver_test_support.h"
#include "hostile_inputs.h"
#include "tests/support/run_command.h"

using namespace archiver;
using namespace enginetest;

namespace {

struct LocalSpec {
    std::string name;
    std::string data;
    std::int64_t claimed = -1; // the sizes its header claims, when not the data's
    std::uint32_t crcXor = 0;  // spoils the CRC-32 in the header
    std::uint32_t size() const { return claimed >= 0 ? std::uint32_t(claimed) : std::uint32_t(data.size()); }
};
struct CentralSpec {
    std::string name;
    int local;                       // the local header it points at
    std::int64_t sizeOverride = -1;  // compressed and uncompressed size, when not the local header's
    std::uint32_t attributes = 0x20; // external attributes (a Unix mode in the high half)
    std::uint16_t madeBy = 20;       // version made by (host 3 in the high byte: Unix)
    std::uint32_t crcXor = 0;        // spoils the recorded CRC-32
};

// Stored entries with the given local headers, then a central directory as specified.
void writeCrafted(const fs::path& p, const std::vector<LocalSpec>& locals, const std::vector<CentralSpec>& centrals) {
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    std::vector<std::uint32_t> offsets;
    for (const LocalSpec& l : locals) {
        offsets.push_back(std::uint32_t(out.size()));
        LocalHeader h;
        h.crc32 = crc32({reinterpret_cast<const std::uint8_t*>(l.data.data()), l.data.size()}) ^ l.crcXor;
        h.compressedSize = h.uncompressedSize = l.size();
        h.nameLength = std::uint16_t(l.name.size());
        write(w, h);
        w.bytes(l.name);
        w.bytes(l.data);
    }
    const std::size_t dirStart = out.size();
    for (const CentralSpec& c : centrals) {
        const LocalSpec& l = locals[std::size_t(c.local)];
        CentralHeader h;
        h.crc32 = crc32({reinterpret_cast<const std::uint8_t*>(l.data.data()), l.data.size()}) ^ c.crcXor;
        h.compressedSize = h.uncompressedSize = c.sizeOverride >= 0 ? std::uint32_t(c.sizeOverride) : l.size();
        h.nameLength = std::uint16_t(c.name.size());
        h.versionMadeBy = c.madeBy;
        h.externalAttributes = c.attributes;
        h.localHeaderOffset = offsets[std::size_t(c.local)];
        write(w, h);
        w.bytes(c.name);
    }
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = std::uint16_t(centrals.size());
    e.directorySize = std::uint32_t(out.size() - dirStart);
    e.directoryOffset = std::uint32_t(dirStart);
    write(w, e);
    writeFile(p, std::string(out.begin(), out.end()));
}

std::vector<std::string> failureMessages(const fs::path& archive, const fs::path& dest) {
    TZipArchiver zip;
    std::vector<std::string> messages;
    zip.OnProcessFileFailure = [&](const std::string& name, TZAProcessOperation, int native, int,
                                   const std::string& message, TZAAction& action) {
        messages.push_back(name + " " + std::to_string(native) + " " + message);
        action = fxaIgnore;
    };
    zip.OpenArchive(archive.string(), kOpenRead);
    zip.BaseDir = dest.string();
    zip.ExtractFiles();
    zip.CloseArchive();
    return messages;
}

} // namespace

TEST(HostileArchive, entriesThatDoNotOwnTheirDataAreRefusedByName) {
    const std::string big(5000, 'x');
    struct Case {
        const char* what;
        std::vector<LocalSpec> locals;
        std::vector<CentralSpec> centrals;
        std::vector<std::string> refused; // "name reason-fragment", in directory order
        std::vector<std::string> extracted;
    };
    const std::vector<Case> cases = {
        {"many names for one entry",
         {{"a.txt", big}},
         {{"a.txt", 0}, {"b.txt", 0}, {"c.txt", 0}},
         {"a.txt also claimed by entry", "b.txt also claimed by entry", "c.txt also claimed by entry"},
         {}},
        {"local header of another name",
         {{"a.txt", "aaa"}, {"secret.txt", "sss"}},
         {{"a.txt", 0}, {"b.txt", 1}},
         {"b.txt its local header names \"secret.txt\""},
         {"a.txt"}},
        {"sizes that disagree with the local header",
         {{"a.txt", "aaaa"}, {"b.txt", "bbbb"}},
         {{"a.txt", 0, 2}, {"b.txt", 1}},
         {"a.txt sizes in its local header disagree"},
         {"b.txt"}},
        {"data running into the next entry",
         {{"a.txt", "aaaa", 40}, {"b.txt", "bbbb"}},
         {{"a.txt", 0}, {"b.txt", 1}},
         {"a.txt runs into entry \"b.txt\""},
         {"b.txt"}},
        {"data running into the directory",
         {{"a.txt", "aaaa"}, {"b.txt", "bbbb", 400}},
         {{"a.txt", 0}, {"b.txt", 1}},
         {"b.txt runs into the central directory"},
         {"a.txt"}},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        writeCrafted(tmp / "h.zip", c.locals, c.centrals);
        const auto messages = failureMessages(tmp / "h.zip", tmp / "out");
        ASSERT_EQ(messages.size(), c.refused.size()) << c.what;
        for (std::size_t k = 0; k < messages.size(); ++k) {
            const std::string& want = c.refused[k];
            const std::string name = want.substr(0, want.find(' '));
            EXPECT_TRUE(messages[k].starts_with(name + " 8 ")) << c.what << ": " << messages[k];
            EXPECT_NE(messages[k].find(want.substr(want.find(' ') + 1)), std::string::npos)
                << c.what << ": " << messages[k];
        }
        EXPECT_EQ(treeOf(tmp / "out"), c.extracted) << c.what;
        EXPECT_EQ(testArchive((tmp / "h.zip").string()), c.refused[0].substr(0, c.refused[0].find(' '))) << c.what;
    }
}

TEST(HostileArchive, aRebuiltDirectoryAndNamelessEntriesFailTheTest) {
    TempFolder tmp;
    writeFile(tmp / "p/1.txt", std::string(3000, '1'));
    writeFile(tmp / "p/2.txt", std::string(3000, '2'));
    writeFile(tmp / "p/3.txt", std::string(3000, '3'));
    pack(tmp / "t.zip", tmp.path(), "p");
    // Cut inside the second entry: no central directory is left.
    const std::string whole = readFile(tmp / "t.zip");
    const std::size_t second = whole.find("PK\x03\x04", 4);
    // (after its local header, name and extended timestamp block)
    writeFile(tmp / "cut.zip", whole.substr(0, second + 30 + 7 + 9 + 10));
    const auto cut = testArchive((tmp / "cut.zip").string());
    ASSERT_TRUE(cut.has_value());
    EXPECT_NE(cut->find("rebuilt from the local headers; 2 entries found"), std::string::npos) << *cut;
    TZipArchiver zip;
    zip.OpenArchive((tmp / "cut.zip").string(), kOpenRead);
    EXPECT_TRUE(zip.directoryRebuilt());
    zip.CloseArchive();
    // An add to it is refused, counting the archive's entries, not the files being added.
    const auto add = kestrane::testing::runProgram(
        KESTRANE_ZIP_TOOL, {"add", (tmp / "cut.zip").string(), (tmp / "p").string(), "--base", tmp.str()});
    EXPECT_NE(add.status, 0);
    EXPECT_NE(add.out.find("rebuilt from the local headers; 2 entries found"), std::string::npos) << add.out;
    zip.OpenArchive((tmp / "t.zip").string(), kOpenRead);
    EXPECT_FALSE(zip.directoryRebuilt());
    zip.CloseArchive();

    // 1 MiB of empty local headers: no entries, one count.
    std::string empties;
    while (empties.size() < (1u << 20))
        empties += std::string("PK\x03\x04", 4) + std::string(26, '\0');
    writeFile(tmp / "empty.zip", empties);
    TZADirManager m(nullptr, false);
    platform::MemoryStream s(std::vector<std::uint8_t>(empties.begin(), empties.end()));
    m.setStream(&s);
    m.LoadCentralDirectory();
    EXPECT_EQ(m.currentDir().Count(), 0);
    EXPECT_EQ(m.namelessSkipped(), int(empties.size() / 30));
    const auto nameless = testArchive((tmp / "empty.zip").string());
    ASSERT_TRUE(nameless.has_value());
    EXPECT_NE(nameless->find(std::to_string(empties.size() / 30) + " entries without a name were skipped"),
              std::string::npos);
}

TEST(HostileArchive, progressComesAtLeastEvery256KiBWhileAddingAndExtracting) {
    TempFolder tmp;
    writeFile(tmp / "p/noise.bin", kestrane::testing::randomBytes(3 << 20, 5));
    writeFile(tmp / "p/zeros.bin", std::string(12 << 20, '\0')); // inflates 1000:1
    for (int level : {1, 6, 9}) {
        std::map<std::string, int> calls;
        auto count = [&](const std::string& name, int, TZAProcessOperation op, TZAProgressPhase phase, bool&) {
            if (phase == ppProcess)
                ++calls[std::string(op == poExtract ? "x " : "a ") + std::string(namePart(name))];
        };
        TZipArchiver zip;
        zip.OnFileProgress = count;
        zip.SetCompressionMode(level);
        zip.BaseDir = tmp.str();
        zip.OpenArchive((tmp / "g.zip").string(), kOpenCreate);
        zip.AddFiles((tmp / "p/*.*").string());
        zip.CloseArchive();
        zip.OpenArchive((tmp / "g.zip").string(), kOpenRead);
        zip.BaseDir = (tmp / "out").string();
        zip.ExtractFiles();
        zip.CloseArchive();
        EXPECT_GE(calls["a noise.bin"], 11) << level;
        EXPECT_GE(calls["a zeros.bin"], 47) << level;
        EXPECT_GE(calls["x noise.bin"], 11) << level;
        EXPECT_GE(calls["x zeros.bin"], 47) << level;
    }
}

namespace {

constexpr std::uint16_t kMadeOnUnix = 3 << 8 | 20;
constexpr std::uint32_t kFolderMode777 = 040777u << 16 | 0x10;

std::uint32_t modeOf(const fs::path& p) { return std::uint32_t(fs::status(p).permissions() & fs::perms::all); }

} // namespace

TEST(HostileArchive, aFolderEntryThroughALinkIsRefusedAndNothingOutsideChanges) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links and Unix modes";
#endif
    struct Case {
        const char* entry;      // a folder entry (attribute 0x10, mode 777) for the link
        const char* linkTarget; // where DEST/linked leads
    };
    for (const Case& c : {Case{"linked", "../outside"}, Case{"linked/", "../outside"}, Case{"linked", "inside"},
                          Case{"linked/deeper/", "../outside"}}) {
        TempFolder tmp;
        fs::create_directories(tmp / "outside/deeper");
        fs::create_directories(tmp / "dest/inside");
        fs::permissions(tmp / "outside", fs::perms(0700));
        fs::permissions(tmp / "outside/deeper", fs::perms(0700));
        fs::permissions(tmp / "dest/inside", fs::perms(0700));
        fs::create_directory_symlink(c.linkTarget, tmp / "dest/linked");
        writeCrafted(tmp / "h.zip", {{c.entry, ""}, {"ok.txt", "ok"}},
                     {{c.entry, 0, -1, kFolderMode777, kMadeOnUnix}, {"ok.txt", 1}});
        const auto messages = failureMessages(tmp / "h.zip", tmp / "dest");
        ASSERT_EQ(messages.size(), 1u) << c.entry;
        EXPECT_NE(messages[0].find("refused as unsafe"), std::string::npos) << messages[0];
        EXPECT_EQ(modeOf(tmp / "outside"), 0700u) << c.entry;
        EXPECT_EQ(modeOf(tmp / "outside/deeper"), 0700u) << c.entry;
        EXPECT_EQ(modeOf(tmp / "dest/inside"), 0700u) << c.entry;
        EXPECT_TRUE(fs::is_symlink(tmp / "dest/linked")) << c.entry;
        EXPECT_EQ(readFile(tmp / "dest/ok.txt"), "ok") << c.entry;
    }
}

TEST(HostileArchive, aFolderEntryWithTheFolderAttributeAndNoSlashIsMadeWithItsMode) {
#ifdef _WIN32
    GTEST_SKIP() << "Unix modes";
#endif
    TempFolder tmp;
    writeCrafted(tmp / "h.zip", {{"plain", ""}, {"plain/f.txt", "f"}},
                 {{"plain", 0, -1, 040750u << 16 | 0x10, kMadeOnUnix}, {"plain/f.txt", 1}});
    EXPECT_TRUE(failureMessages(tmp / "h.zip", tmp / "dest").empty());
    ASSERT_TRUE(fs::is_directory(tmp / "dest/plain"));
    EXPECT_EQ(modeOf(tmp / "dest/plain"), 0750u);
    EXPECT_EQ(readFile(tmp / "dest/plain/f.txt"), "f");
}

TEST(HostileArchive, aRefusedOrDamagedEntryLeavesTheExistingFile) {
    struct Case {
        const char* what;
        std::vector<LocalSpec> locals;
        std::vector<CentralSpec> centrals;
    };
    const std::vector<Case> cases = {
        {"local header names another file", {{"../other.txt", "evil"}}, {{"safe.txt", 0}}},
        {"CRC-32 mismatch", {{"safe.txt", "evil"}}, {{"safe.txt", 0, -1, 0x20, 20, 1}}},
        {"data runs into the directory", {{"safe.txt", "evil", 400}}, {{"safe.txt", 0}}},
    };
    for (const Case& c : cases) {
        for (int threads : {1, 2}) {
            TempFolder tmp;
            writeFile(tmp / "dest/safe.txt", "kept");
            writeCrafted(tmp / "h.zip", c.locals, c.centrals);
            TZipArchiver zip;
            std::vector<Failure> failures;
            recordFailures(zip, failures);
            zip.Threads = threads;
            zip.OpenArchive((tmp / "h.zip").string(), kOpenRead);
            zip.BaseDir = (tmp / "dest").string();
            zip.ExtractFiles();
            zip.CloseArchive();
            EXPECT_EQ(failures.size(), 1u) << c.what;
            EXPECT_EQ(readFile(tmp / "dest/safe.txt"), "kept") << c.what;
            EXPECT_EQ(treeOf(tmp / "dest"), std::vector<std::string>{"safe.txt"}) << c.what << " left a part behind";
        }
    }
}

TEST(HostileArchive, addingToADamagedArchiveFailsAndLeavesItByteForByte) {
    TempFolder tmp;
    writeFile(tmp / "new.txt", "new");
    const fs::path packed = packFiles(tmp, "k.zip", {{"1.txt", std::string(3000, '1')}, {"2.txt", "22"}});
    const std::string whole = readFile(packed);
    auto intoDirectory = [&](std::string bytes) {
        // The second entry's local header offset points at the central directory.
        std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
        const std::size_t at = centralHeaderOf(b, "p/2.txt") + 42;
        const std::uint32_t directory = u32At(b, b.size() - 6);
        for (int k = 0; k < 4; ++k)
            bytes[at + std::size_t(k)] = char(directory >> (8 * k));
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    writeCrafted(tmp / "shared.zip", {{"a.txt", std::string(500, 'a')}}, {{"a.txt", 0}, {"b.txt", 0}});
    const std::vector<Case> cases = {
        {"cut inside its last entry", whole.substr(0, whole.rfind(std::string("PK\x03\x04", 4)) + 40),
         "rebuilt from the local headers"},
        {"an entry that points into the directory", intoDirectory(whole), "outside the entries' part"},
        {"two names for one entry", readFile(tmp / "shared.zip"), "also claimed by entry"},
    };
    for (const Case& c : cases) {
        writeFile(tmp / "d.zip", c.bytes);
        TZipArchiver zip;
        zip.FileName = (tmp / "d.zip").string();
        zip.BaseDir = tmp.str();
        zip.OpenArchive(kOpenReadWrite);
        std::string message;
        try {
            zip.AddFiles((tmp / "new.txt").string());
        } catch (const EZAException& e) {
            message = e.what();
        }
        zip.CloseArchive();
        EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
        EXPECT_EQ(readFile(tmp / "d.zip"), c.bytes) << c.what;
    }
}

TEST(HostileArchive, aNameCannotForgeALineOrReachTheTerminal) {
    TempFolder tmp;
    const std::string forged = "../x\nkestrane-zip: all entries OK\n\x1b[2J";
    writeCrafted(tmp / "h.zip", {{forged, "x"}}, {{forged, 0}});
    const auto run =
        kestrane::testing::runProgram(KESTRANE_ZIP_TOOL, {"extract", (tmp / "h.zip").string(), (tmp / "out").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.find("\nkestrane-zip: all entries OK"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("../x\\nkestrane-zip: all entries OK\\n\\x1b[2J"), std::string::npos) << run.out;
}

// C1 controls and the characters that reorder or hide text are shown escaped by `list`:
// a name can neither drive the terminal (CSI, NEL) nor show another extension (RLO).
TEST(HostileArchive, aNameCannotReorderOrHideWhatItShows) {
    TempFolder tmp;
    const std::vector<std::pair<std::string, std::string>> names = {{"a\u202Etxt.exe", "a\\u{202E}txt.exe"},
                                                                    {"b\u009B2J", "b\\u{9B}2J"},
                                                                    {"c\u0085d", "c\\u{85}d"},
                                                                    {"e\u200Bf\u2066", "e\\u{200B}f\\u{2066}"},
                                                                    {"Сервер", "Сервер"}};
    for (const auto& [name, shown] : names)
        writeFile(tmp / "p" / fs::u8path(name), "x");
    const std::string zipTool = KESTRANE_ZIP_TOOL;
    ASSERT_EQ(kestrane::testing::runProgram(zipTool,
                                            {"create", (tmp / "n.zip").string(), "*", "--base", (tmp / "p").string()})
                  .status,
              0);
    const auto run = kestrane::testing::runProgram(zipTool, {"list", (tmp / "n.zip").string()});
    EXPECT_EQ(run.status, 0) << run.out;
    for (const auto& [name, shown] : names)
        EXPECT_NE(run.out.find(shown), std::string::npos) << shown << " in " << run.out;
    for (const char* raw : {"\u202E", "\u009B", "\u0085", "\u200B", "\u2066"})
        EXPECT_EQ(run.out.find(raw), std::string::npos) << run.out;
}

// Every entry of an archive whose local headers each name another entry is refused by
// test and by extract, each with its reason, and extract makes nothing for them.
TEST(HostileArchive, everyRefusedEntryIsReportedWithItsReasonAndNothingIsMade) {
    TempFolder tmp;
    const std::vector<std::uint8_t> bytes = hostile::make(hostile::Kind::RefusedEntries, 64 << 10);
    writeFile(tmp / "r.zip", std::string(bytes.begin(), bytes.end()));
    for (const bool extract : {false, true}) {
        SCOPED_TRACE(extract ? "extract" : "test");
        std::vector<std::string> reasons;
        TZipArchiver zip;
        zip.OnProcessFileFailure = [&reasons](const std::string&, TZAProcessOperation, int, int,
                                              const std::string& message, TZAAction& action) {
            reasons.push_back(message);
            action = fxaIgnore;
        };
        zip.OpenArchive((tmp / "r.zip").string(), kOpenRead);
        const int entries = zip.directory()->Count();
        zip.BaseDir = (tmp / "out").string();
        if (extract)
            zip.ExtractFiles();
        else
            zip.TestFiles();
        zip.CloseArchive();
        EXPECT_EQ(int(reasons.size()), entries);
        EXPECT_GT(entries, 500);
        for (const std::string& reason : reasons)
            ASSERT_NE(reason.find("its local header names"), std::string::npos) << reason;
        EXPECT_FALSE(fs::exists(tmp / "out"));
    }
}

TEST(HostileArchive, directoriesThatClaimWhatTheFileCannotHoldCostNothingForTheClaim) {
    constexpr std::size_t kBytes = 1 << 20;
    constexpr std::size_t kSoundEntries = (kBytes - 98) / (30 + 7 + 46 + 7);
    struct Case {
        hostile::Kind kind;
        int nativeError;    // raised by the load, or -1
        bool rebuilt;       // the directory was not believed
        std::size_t loaded; // entries in the directory
    };
    const Case cases[] = {
        {hostile::Kind::ManyEntries, -1, false, kSoundEntries},
        {hostile::Kind::WrongSignatures, -1, true, kSoundEntries},
        {hostile::Kind::LocalHeadersOnly, -1, true, kBytes / 31},
        {hostile::Kind::DirectoryRecordsOnly, 35, true, 0},
        {hostile::Kind::Zip64CountOverZeros, 35, true, 0},
    };
    for (const Case& c : cases) {
        platform::MemoryStream s(hostile::make(c.kind, kBytes));
        TZADirManager m(&s, false);
        EXPECT_EQ(nativeErrorOf([&] { m.LoadCentralDirectory(); }), c.nativeError) << int(c.kind);
        EXPECT_EQ(m.rebuilt(), c.rebuilt) << int(c.kind);
        EXPECT_EQ(std::size_t(m.currentDir().Count()), c.loaded) << int(c.kind);
        // Room only for the entries there are (a rebuild reserves one per local header).
        EXPECT_LE(m.currentDir().capacity(), std::max<std::size_t>(c.loaded, kSoundEntries)) << int(c.kind);
    }
    // A count beyond the records: not one slot for the claim.
    std::vector<std::uint8_t> claim = hostile::make(hostile::Kind::ManyEntries, kBytes);
    const std::size_t zip64Record = claim.size() - 98;
    for (const std::size_t field : {zip64Record + 24, zip64Record + 32})
        for (int k = 0; k < 8; ++k)
            claim[field + std::size_t(k)] = k == 2 ? 0x10 : 0; // 1 Mi entries
    platform::MemoryStream s(claim);
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    EXPECT_TRUE(m.rebuilt());
    EXPECT_EQ(std::size_t(m.currentDir().Count()), kSoundEntries);
    EXPECT_LE(m.currentDir().capacity(), kSoundEntries);
}
