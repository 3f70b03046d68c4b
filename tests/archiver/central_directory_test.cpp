#include "archiver/central_directory.h"
#include "archiver/za_exception.h"
#include "platform/encoding.h"
#include "archiver_test_support.h"

#include <gtest/gtest.h>

using namespace archiver;
using enginetest::nativeErrorOf;
namespace fs = std::filesystem;

namespace {

TDirItem fileItem(const std::string& name, std::uint32_t offset = 0) {
    TDirItem item;
    item.name = name;
    item.method = kMethodDeflate;
    item.crc32 = 0x12345678;
    item.compressedSize = 10;
    item.uncompressedSize = 20;
    item.externalAttributes = kAttrArchive;
    item.localHeaderOffset = offset;
    return item;
}

// The name list and the index agree with the items: every item is found at its own
// position (names are unique in these tests).
void expectIndexAgrees(const TZADirArray& dir) {
    ASSERT_EQ(dir.nameListCount(), dir.Count());
    for (int i = 0; i < dir.Count(); ++i) {
        EXPECT_EQ(dir.foldedNameAt(i), foldName(dir.ItemAt(i).name));
        EXPECT_EQ(dir.FindByName(dir.ItemAt(i).name), i);
    }
}

// A directory of one central header followed by `rest` (name, extra field, comment) and
// the end record, with nothing before it.
// A directory of one entry after room for its local header (the bytes stand for it).
std::vector<std::uint8_t> oneEntryArchive(const CentralHeader& h, const std::string& rest) {
    std::vector<std::uint8_t> file(64, 'L');
    ByteWriter w(file);
    write(w, h);
    w.bytes(rest);
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = 1;
    e.directorySize = std::uint32_t(file.size() - 64);
    e.directoryOffset = 64;
    write(w, e);
    return file;
}

} // namespace

TEST(DirArray, growsInDoublingStepsUpToTenThousand) {
    TZADirArray dir;
    std::vector<std::size_t> capacities;
    for (int n = 1; n <= 30000; ++n) {
        const std::size_t before = dir.capacity();
        dir.SetCount(n);
        if (dir.capacity() != before)
            capacities.push_back(dir.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{1000, 3000, 7000, 15000, 25000, 35000}));
    dir.SetCount(0);
    EXPECT_EQ(dir.capacity(), 0u);
}

TEST(DirArray, indexErrorsCarryTheirCodes) {
    TZADirArray dir;
    dir.appendItem(fileItem("a"));
    EXPECT_EQ(nativeErrorOf([&] { dir.StoreItem(1, fileItem("b")); }), 1);
    EXPECT_EQ(nativeErrorOf([&] { dir.GetItemCopy(-1); }), 2);
    EXPECT_EQ(nativeErrorOf([&] { dir.ItemAt(1); }), 3);
    EXPECT_EQ(nativeErrorOf([&] { dir.DeleteItem(5); }), 4);
    // Two new slots but only one name: storing into the second would leave a gap.
    dir.SetCount(3);
    EXPECT_EQ(nativeErrorOf([&] { dir.StoreItem(2, fileItem("c")); }), 58);
}

TEST(DirArray, findsNamesIgnoringLatinAndCyrillicCase) {
    TZADirArray dir;
    dir.appendItem(fileItem("Server/Readme.TXT"));
    dir.appendItem(fileItem("Сервер/Файл.txt"));
    EXPECT_EQ(dir.FindByName("server/readme.txt"), 0);
    EXPECT_EQ(dir.FindByName("СЕРВЕР/файл.TXT"), 1);
    EXPECT_EQ(dir.FindByName("missing"), -1);
}

TEST(DirArray, nameIndexFollowsEveryEdit) {
    TZADirArray dir;
    for (int i = 0; i < 50; ++i)
        dir.appendItem(fileItem("file" + std::to_string(i)));
    expectIndexAgrees(dir);
    dir.DeleteItem(10);
    expectIndexAgrees(dir);
    EXPECT_EQ(dir.FindByName("FILE11"), 10);
    EXPECT_EQ(dir.FindByName("file10"), -1);
    dir.RenameItem(0, "Renamed");
    expectIndexAgrees(dir);
    EXPECT_EQ(dir.FindByName("file0"), -1);
    dir.StoreItem(5, fileItem("Stored"));
    expectIndexAgrees(dir);
    // A new item named right after SetCount, as adding files does.
    dir.SetCount(dir.Count() + 1);
    dir.RenameItem(dir.Count() - 1, "new");
    expectIndexAgrees(dir);

    TZADirArray copy;
    copy.AssignFrom(dir);
    expectIndexAgrees(copy);
    dir.Clear();
    EXPECT_EQ(dir.FindByName("new"), -1);
    EXPECT_EQ(copy.FindByName("NEW"), copy.Count() - 1);
}

TEST(DirArray, foldNameAgreesWithPlatformCaseFolding) {
    std::u32string all;
    for (char32_t c = 0x20; c < 0x500; ++c)
        all += c;
    const std::string text = platform::encodeUtf8(all);
    EXPECT_EQ(foldName(text), platform::toLowerUtf8(text));
    EXPECT_EQ(foldName("ЁЖИК/Ѐ.TXT"), "ёжик/ѐ.txt");
    EXPECT_EQ(foldName("\xD0"), platform::toLowerUtf8("\xD0")); // cut sequence
}

TEST(DirArray, laterOfTwoEqualNamesIsFound) {
    TZADirArray dir;
    dir.appendItem(fileItem("Same"));
    dir.appendItem(fileItem("sAME"));
    EXPECT_EQ(dir.FindByName("same"), 1);
    dir.DeleteItem(1);
    EXPECT_EQ(dir.FindByName("same"), 0);
}

TEST(DirManager, emptyDirectoryIsExactlyTheEndRecord) {
    platform::MemoryStream s;
    TZADirManager m(&s, true);
    m.SaveCentralDirectory(true);
    std::vector<std::uint8_t> expected = {0x50, 0x4B, 0x05, 0x06};
    expected.resize(22, 0);
    EXPECT_EQ(s.data(), expected);

    TZADirManager reader(&s, false);
    reader.LoadCentralDirectory();
    EXPECT_EQ(reader.currentDir().Count(), 0);
    EXPECT_EQ(reader.prefixLength(), 0u);
    EXPECT_FALSE(reader.rebuilt());
}

TEST(DirManager, savedDirectoryLoadsBackWithNamesExtrasAndComment) {
    platform::MemoryStream s(std::vector<std::uint8_t>(200, 'D')); // stands for the entries
    {
        TZADirManager m(&s, true);
        TDirItem a = fileItem("Папка/Файл.txt");
        a.extraBlocks.push_back({0x5455, {1, 2, 3}});
        a.comment = "note";
        m.currentDir().appendItem(a);
        TDirItem b = fileItem("日本.txt");
        b.uncompressedSize = kZip64Marker32;
        b.zip64UncompressedSize = 0x123456789ull;
        b.extraBlocks.push_back({kZip64ExtraId, {9, 9}}); // stale: regenerated on save
        m.currentDir().appendItem(b);
        TDirItem folder = fileItem("Папка/");
        folder.externalAttributes = kAttrFolder;
        m.currentDir().appendItem(folder);
        m.setArchiveComment("archive comment");
        m.SaveCentralDirectory(true);
    }
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    ASSERT_FALSE(m.rebuilt());
    const TZADirArray& dir = m.currentDir();
    ASSERT_EQ(dir.Count(), 3);
    EXPECT_EQ(dir.ItemAt(0).name, "Папка/Файл.txt");
    EXPECT_EQ(dir.ItemAt(0).flags & kFlagUtf8, 0);
    EXPECT_EQ(dir.ItemAt(0).nameLength, 14); // one byte per character in CP866
    EXPECT_EQ(dir.ItemAt(0).comment, "note");
    ASSERT_EQ(dir.ItemAt(0).extraBlocks.size(), 1u);
    EXPECT_EQ(dir.ItemAt(0).extraBlocks[0].data, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.ItemAt(1).name, "日本.txt");
    EXPECT_EQ(dir.ItemAt(1).flags & kFlagUtf8, kFlagUtf8);
    EXPECT_TRUE(dir.ItemAt(1).hasZip64);
    EXPECT_EQ(dir.ItemAt(1).uncompressedSize64(), 0x123456789ull);
    EXPECT_EQ(dir.ItemAt(1).extraLength, 12);
    EXPECT_TRUE(dir.ItemAt(2).isFolder());
    EXPECT_EQ(m.archiveComment(), "archive comment");
    EXPECT_EQ(dir.FindByName("папка/файл.TXT"), 0);
}

TEST(DirManager, saveInPlaceReplacesOldDirectory) {
    platform::MemoryStream s(std::vector<std::uint8_t>(100, 'D')); // stands for entry data
    TZADirManager m(&s, false);
    m.currentDir().appendItem(fileItem("one"));
    m.SaveCentralDirectory(true);
    const std::uint64_t firstSize = s.size();
    m.currentDir().appendItem(fileItem("two"));
    m.SaveCentralDirectory(false);
    EXPECT_EQ(m.directoryPosition(), 100u);
    EXPECT_EQ(s.size(), firstSize + kCentralHeaderSize + 3);
    TZADirManager reader(&s, false);
    reader.LoadCentralDirectory();
    EXPECT_EQ(reader.currentDir().Count(), 2);
}

TEST(DirManager, from65535EntriesOnTheDirectoryGetsZip64RecordsAndLoadsBack) {
    // 0xFFFF in the end record's count is the zip64 marker: 65535 entries already need
    // the zip64 records, 65534 do not.
    for (const int count : {65534, 65535}) {
        platform::MemoryStream s(std::vector<std::uint8_t>(std::size_t(count) * 40, 'D')); // stands for the entries
        const bool zip64 = count >= 0xFFFF;
        {
            TZADirManager m(&s, true);
            for (int i = 0; i < count; ++i)
                m.currentDir().appendItem(fileItem("f" + std::to_string(i)));
            m.SaveCentralDirectory(true);
            EXPECT_EQ(m.zip64(), zip64) << count;
            EXPECT_EQ(m.endRecord().totalEntries, zip64 ? 0xFFFF : count) << count;
        }
        TZADirManager m(&s, false);
        m.LoadCentralDirectory();
        EXPECT_FALSE(m.rebuilt()) << count;
        EXPECT_EQ(m.zip64(), zip64) << count;
        EXPECT_EQ(m.currentDir().Count(), count);
        EXPECT_EQ(m.currentDir().FindByName("F" + std::to_string(count - 1)), count - 1);
    }
}

// A zip64 locator is believed only with its zip64 end record: without one, the plain end
// record holds the directory.
TEST(DirManager, zip64LocatorWithoutItsRecordIsNotBelieved) {
    std::vector<std::uint8_t> file(100, 0);
    std::vector<std::uint8_t> tail;
    ByteWriter w(tail);
    Zip64Locator l;
    l.zip64RecordOffset = 3;
    write(w, l);
    write(w, EndRecord{});
    file.insert(file.end(), tail.begin(), tail.end());
    platform::MemoryStream s(file);
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    EXPECT_FALSE(m.zip64());
    EXPECT_EQ(m.currentDir().Count(), 0);
}

// Every archive the archiver writes, it reads back: the last stored name holds one of the
// format's signatures, at every place relative to the end record, so that a name's bytes
// stand where a zip64 locator or record would.
TEST(DirManager, namesHoldingTheSignaturesReadBack) {
#ifdef _WIN32
    GTEST_SKIP() << "the signatures hold bytes below 0x20, which Windows forbids in file names";
#endif
    kestrane::testing::TempFolder tmp;
    for (const std::uint32_t signature : {kLocalHeaderSig, kCentralHeaderSig, kEndRecordSig, kZip64EndRecordSig,
                                          kZip64LocatorSig, kDataDescriptorSig}) {
        std::string sig(4, '\0');
        for (int i = 0; i < 4; ++i)
            sig[std::size_t(i)] = char(signature >> (8 * i));
        for (std::size_t tail = 0; tail < 40; ++tail) {
            fs::remove_all(tmp / "p");
            const std::string name = "a" + sig + std::string(tail, 'b');
            kestrane::testing::writeFile(tmp / "p" / name, "data\n");
            const fs::path archive = tmp / "t.zip";
            fs::remove(archive);
            enginetest::pack(archive, tmp.path(), "p");
            TZipArchiver zip;
            zip.FileName = archive.string();
            ASSERT_NO_THROW(zip.OpenArchive(kOpenRead)) << std::hex << signature << std::dec << " " << tail;
            ASSERT_EQ(zip.directory()->Count(), 1) << std::hex << signature << std::dec << " " << tail;
            EXPECT_EQ(zip.directory()->ItemAt(0).name, "p/" + name);
            zip.CloseArchive();
            EXPECT_EQ(testArchive(archive.string()), std::nullopt);
        }
    }
}

// A damaged archive must neither crash nor allocate by the counts it claims.
TEST(DirManager, hugeEntryCountInTinyFileAllocatesNothing) {
    std::vector<std::uint8_t> file(18, 'x');
    std::vector<std::uint8_t> tail;
    ByteWriter w(tail);
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = 0xFFFE;
    e.directorySize = 18;
    write(w, e);
    file.insert(file.end(), tail.begin(), tail.end());
    ASSERT_EQ(file.size(), 40u);
    platform::MemoryStream s(file);
    TZADirManager m(&s, false);
    EXPECT_EQ(nativeErrorOf([&] { m.LoadCentralDirectory(); }), 35); // rebuild finds no local header
    EXPECT_EQ(m.currentDir().capacity(), 0u);

    // The same through a zip64 record claiming 2^60 entries of 2^62 bytes.
    std::vector<std::uint8_t> z;
    ByteWriter zw(z);
    write(zw, LocalHeader{});
    Zip64EndRecord r;
    r.entriesOnDisk = r.totalEntries = 1ull << 60;
    r.directorySize = 10;
    const std::uint64_t recordAt = z.size();
    write(zw, r);
    Zip64Locator l;
    l.zip64RecordOffset = recordAt;
    write(zw, l);
    write(zw, EndRecord{});
    platform::MemoryStream zs(z);
    TZADirManager zm(&zs, false);
    zm.LoadCentralDirectory();
    EXPECT_TRUE(zm.rebuilt());
    EXPECT_EQ(zm.currentDir().Count(), 0); // the one local header has no name
    EXPECT_EQ(zm.namelessSkipped(), 1);
}

TEST(DirManager, extraBlockLongerThanItsFieldIsCut) {
    CentralHeader h;
    h.nameLength = 1;
    h.extraLength = 4 + 5; // one block declaring 50 data bytes where the field holds 5
    platform::MemoryStream s(oneEntryArchive(h, std::string("a") + "\xFE\xCA\x32\x00" + "xyzuv"));
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    ASSERT_FALSE(m.rebuilt());
    ASSERT_EQ(m.currentDir().Count(), 1);
    const TDirItem& item = m.currentDir().ItemAt(0);
    ASSERT_EQ(item.extraBlocks.size(), 1u);
    EXPECT_EQ(item.extraBlocks[0].headerId, 0xCAFE);
    EXPECT_EQ(item.extraBlocks[0].data.size(), 5u); // cut to the 5 bytes left of the field
}

TEST(DirManager, storedNameIsCutAtZeroByte) {
    CentralHeader h;
    h.nameLength = 7;
    platform::MemoryStream s(oneEntryArchive(h, std::string("abc\0def", 7)));
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    ASSERT_EQ(m.currentDir().Count(), 1);
    EXPECT_EQ(m.currentDir().ItemAt(0).name, "abc");
}

TEST(DirManager, directoryRunningPastFileIsRebuilt) {
    // A local entry, then a directory whose one header claims a 60000-byte name.
    std::vector<std::uint8_t> file;
    ByteWriter w(file);
    LocalHeader lh;
    lh.nameLength = 1;
    lh.compressedSize = lh.uncompressedSize = 2;
    write(w, lh);
    w.bytes(std::string_view("fhi"));
    const std::uint32_t dirAt = std::uint32_t(file.size());
    CentralHeader h;
    h.nameLength = 60000;
    write(w, h);
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = 1;
    e.directorySize = std::uint32_t(file.size()) - dirAt;
    write(w, e);
    platform::MemoryStream s(file);
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    EXPECT_TRUE(m.rebuilt());
    ASSERT_EQ(m.currentDir().Count(), 1);
    EXPECT_EQ(m.currentDir().ItemAt(0).name, "f");
    EXPECT_EQ(m.currentDir().ItemAt(0).uncompressedSize, 2u);
    EXPECT_EQ(m.directoryPosition(), file.size());
}

TEST(DirManager, rebuildTakesEmptyFileForFileAndSlashNameForFolder) {
    std::vector<std::uint8_t> file;
    ByteWriter w(file);
    LocalHeader lh;
    lh.nameLength = 5;
    write(w, lh);
    w.bytes(std::string_view("empty"));
    lh.nameLength = 4;
    write(w, lh);
    w.bytes(std::string_view("dir/"));
    platform::MemoryStream s(file);
    TZADirManager m(&s, false);
    m.LoadCentralDirectory();
    ASSERT_EQ(m.currentDir().Count(), 2);
    EXPECT_FALSE(m.currentDir().ItemAt(0).isFolder());
    EXPECT_TRUE(m.currentDir().ItemAt(1).isFolder());
    EXPECT_EQ(m.currentDir().ItemAt(1).localHeaderOffset, 35u);
}

TEST(DirManager, rebuildInSpanningModeIsError44) {
    platform::MemoryStream s(std::vector<std::uint8_t>(10, 0));
    TZADirManager m(&s, false, {true, true});
    EXPECT_EQ(nativeErrorOf([&] { m.LoadCentralDirectory(); }), 44);
}

TEST(DirManager, shortDirectoryWriteIsError46) {
    // A stream that accepts nothing.
    struct FullStream : platform::MemoryStream {
        std::size_t write(const void*, std::size_t) override { return 0; }
    } s;
    TZADirManager m(&s, true);
    m.currentDir().appendItem(fileItem("x"));
    EXPECT_EQ(nativeErrorOf([&] { m.SaveCentralDirectory(true); }), 46);
}
