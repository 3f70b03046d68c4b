#include "archiver/zip_records.h"
#include "archiver/extra_fields.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace archiver;

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[3];
    for (auto v : bytes) {
        std::snprintf(b, sizeof b, "%02x", v);
        out += b;
    }
    return out;
}

std::vector<std::uint8_t> unhex(std::string_view s) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(std::uint8_t(std::stoi(std::string(s.substr(i, 2)), nullptr, 16)));
    return out;
}

template <typename Record>
std::string encoded(const Record& r) {
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    write(w, r);
    return hex(out);
}

std::vector<std::uint8_t> endRecordBytes(std::uint16_t commentLength) {
    EndRecord e;
    e.commentLength = commentLength;
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    write(w, e);
    return out;
}

} // namespace

TEST(ByteIo, readerFailsStickyAndNeverReadsPastItsSpan) {
    const std::vector<std::uint8_t> data = {0x01, 0x02, 0x03};
    ByteReader r{std::span<const std::uint8_t>(data)};
    EXPECT_EQ(r.u16(), 0x0201);
    EXPECT_EQ(r.u32(), 0u); // only one byte left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0); // failure is sticky even though a byte remains
    EXPECT_TRUE(r.bytes(1).empty());
}

TEST(ByteIo, writerIsLittleEndian) {
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    w.u16(0x0102);
    w.u32(0x03040506);
    w.u64(0x0708090A0B0C0D0Eull);
    EXPECT_EQ(hex(out), "0201060504030e0d0c0b0a090807");
}

TEST(ZipRecords, localHeaderLayout) {
    LocalHeader h;
    h.versionNeeded = 20;
    h.flags = 2;
    h.method = 8;
    h.modTime = 0x1234;
    h.modDate = 0x5678;
    h.crc32 = 0xAABBCCDD;
    h.compressedSize = 0x11;
    h.uncompressedSize = 0x22;
    h.nameLength = 5;
    h.extraLength = 20;
    EXPECT_EQ(encoded(h),
              "504b0304"
              "1400"
              "0200"
              "0800"
              "3412"
              "7856"
              "ddccbbaa"
              "11000000"
              "22000000"
              "0500"
              "1400");
}

TEST(ZipRecords, centralHeaderLayoutRoundTrips) {
    CentralHeader h;
    h.method = 8;
    h.crc32 = 0x01020304;
    h.compressedSize = 7;
    h.uncompressedSize = 9;
    h.nameLength = 3;
    h.extraLength = 4;
    h.commentLength = 5;
    h.diskNumberStart = 0xFFFF;
    h.internalAttributes = 1;
    h.externalAttributes = 0x20;
    h.localHeaderOffset = 0x99;
    const std::string expected =
        "504b0102"
        "1400"
        "1400"
        "0000"
        "0800"
        "0000"
        "0000"
        "04030201"
        "07000000"
        "09000000"
        "0300"
        "0400"
        "0500"
        "ffff"
        "0100"
        "20000000"
        "99000000";
    EXPECT_EQ(encoded(h), expected);
    auto bytes = unhex(expected);
    ASSERT_EQ(bytes.size(), kCentralHeaderSize);
    ByteReader r(bytes);
    CentralHeader back;
    read(r, back);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(encoded(back), expected);
}

TEST(ZipRecords, endAndZip64RecordLayouts) {
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = 3;
    e.directorySize = 0x100;
    e.directoryOffset = 0x200;
    EXPECT_EQ(encoded(e),
              "504b0506"
              "0000"
              "0000"
              "0300"
              "0300"
              "00010000"
              "00020000"
              "0000");

    Zip64EndRecord z;
    z.entriesOnDisk = z.totalEntries = 70000;
    z.directorySize = 0x1234;
    z.directoryOffset = 0x100000000ull;
    EXPECT_EQ(encoded(z),
              "504b0606"
              "2c00000000000000"
              "2d00"
              "2d00"
              "00000000"
              "00000000"
              "7011010000000000"
              "7011010000000000"
              "3412000000000000"
              "0000000001000000");

    Zip64Locator l;
    l.zip64RecordOffset = 0x1122334455ull;
    EXPECT_EQ(encoded(l),
              "504b0607"
              "00000000"
              "5544332211000000"
              "01000000");
}

TEST(ZipRecords, zip64ExtraHoldsOnlyMarkedFieldsInOrder) {
    CentralHeader h;
    h.compressedSize = kZip64Marker32;
    h.localHeaderOffset = kZip64Marker32;
    EXPECT_EQ(zip64ExtraDataSize(h), 16);
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    writeZip64Extra(w, h, {1, 2, 3, 4});
    EXPECT_EQ(hex(out),
              "0100"
              "1000"
              "0200000000000000"
              "0300000000000000");

    // Reading stops at a field the block has no room for.
    Zip64Values v;
    std::vector<std::uint8_t> data = unhex(
        "0200000000000000"
        "0300");
    readZip64Extra(data, h, v);
    EXPECT_EQ(v.compressedSize, 2u);
    EXPECT_EQ(v.localHeaderOffset, 0u);

    out.clear();
    writeLocalZip64Extra(w, 5, 6);
    EXPECT_EQ(hex(out),
              "0100"
              "1000"
              "0500000000000000"
              "0600000000000000");
}

TEST(FindEndRecord, findsRecordWithEmptyOneByteAndLongestComment) {
    for (std::size_t commentLength : {std::size_t(0), std::size_t(1), std::size_t(65535)}) {
        std::vector<std::uint8_t> file(100, 0xAA);
        auto rec = endRecordBytes(std::uint16_t(commentLength));
        file.insert(file.end(), rec.begin(), rec.end());
        // A comment made of end record signatures must not confuse the search.
        for (std::size_t i = 0; i < commentLength; ++i)
            file.push_back("PK\x05\x06"[i % 4]);
        platform::MemoryStream s(file);
        auto found = findEndRecord(s);
        ASSERT_TRUE(found.has_value()) << commentLength;
        EXPECT_EQ(found->position, 100u);
        EXPECT_EQ(found->comment.size(), commentLength);
    }
}

TEST(FindEndRecord, candidateWithWrongCommentLengthIsSkipped) {
    // A good record whose 25-byte comment holds a second record claiming 7 comment bytes
    // where only 3 follow: the second is refused, the search goes on to the first.
    std::vector<std::uint8_t> file = endRecordBytes(25);
    auto inner = endRecordBytes(7);
    file.insert(file.end(), inner.begin(), inner.end());
    file.insert(file.end(), {'a', 'b', 'c'});
    platform::MemoryStream s(file);
    auto found = findEndRecord(s);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->position, 0u);
    EXPECT_EQ(found->comment.size(), 25u);
    EXPECT_EQ(found->comment.substr(22), "abc");
}

TEST(FindEndRecord, noneInShortOrPlainFiles) {
    platform::MemoryStream empty;
    EXPECT_FALSE(findEndRecord(empty));
    // A signature with fewer than 22 bytes after it.
    platform::MemoryStream cut(std::vector<std::uint8_t>{'P', 'K', 5, 6, 0, 0, 0, 0});
    EXPECT_FALSE(findEndRecord(cut));
    // The end record lies beyond the 65600-byte window.
    std::vector<std::uint8_t> far = endRecordBytes(0);
    far.resize(far.size() + 65600, 0);
    platform::MemoryStream farStream(far);
    EXPECT_FALSE(findEndRecord(farStream));
}

TEST(StoredNames, cyrillicIsCp866AndOtherScriptsAreUtf8WithFlag) {
    auto ru = encodeStoredName("Сервер/файл.txt");
    EXPECT_FALSE(ru.utf8);
    EXPECT_EQ(ru.bytes.size(), 15u);
    EXPECT_EQ(static_cast<unsigned char>(ru.bytes[0]), 0x91);
    EXPECT_EQ(decodeStoredName(ru.bytes, 0), "Сервер/файл.txt");

    auto jp = encodeStoredName("日本/名前.txt");
    EXPECT_TRUE(jp.utf8);
    EXPECT_EQ(jp.bytes, "日本/名前.txt");
    EXPECT_EQ(flagsForName(0, jp), kFlagUtf8);
    EXPECT_EQ(flagsForName(kFlagUtf8 | kFlagFolder, ru), kFlagFolder);
    EXPECT_EQ(decodeStoredName(jp.bytes, kFlagUtf8), "日本/名前.txt");

    // A name that is not UTF-8 at all never gets the UTF-8 flag.
    auto raw = encodeStoredName("p/\xff\xfe.txt");
    EXPECT_FALSE(raw.utf8);
    EXPECT_EQ(raw.bytes, "p/\xff\xfe.txt");
}

TEST(StoredNames, readingCutsAtZeroByteAndNeverYieldsInvalidUtf8) {
    EXPECT_EQ(decodeStoredName(std::string("abc\0def", 7), 0), "abc");
    // Bit 11 set on bytes that are not UTF-8: read as CP866 instead.
    EXPECT_EQ(decodeStoredName("\x8f\xe0", kFlagUtf8), "Пр");
}

TEST(DosTime, convertsBothWaysAndFormatsWords) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 1;
    tm.tm_mday = 29;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 59;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    const DosDateTime dt = toDosDateTime(t);
    EXPECT_EQ(formatDosDateTime(dt), "2024-02-29 23:59:58");
    EXPECT_EQ(fromDosDateTime(dt), t - 1);
    EXPECT_EQ(formatDosDateTime(toDosDateTime(0)), "1980-01-01 00:00:00");
}

// ---- Names read by the rules other tools write them with ----

TEST(EntryName, unicodePathThenFlagThenUnixUtf8ThenCp866) {
    const std::string privet = "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"; // "Привет" in UTF-8
    const std::string privetOem = "\x8f\xe0\xa8\xa2\xa5\xe2";                      // the same in CP866
    const auto withPath = [](const std::string& stored, const std::string& name) {
        std::vector<std::uint8_t> field;
        ByteWriter w(field);
        const auto data = unicodePathData(stored, name);
        w.u16(kUnicodePathId);
        w.u16(std::uint16_t(data.size()));
        w.bytes(data);
        return field;
    };
    const std::vector<std::uint8_t> none;
    struct Case {
        const char* what;
        std::string stored;
        std::uint16_t flags;
        std::uint16_t madeBy;
        std::vector<std::uint8_t> extra;
        std::string expected;
    };
    const Case cases[] = {
        {"Unicode Path wins over CP866", privetOem, 0, 20, withPath(privetOem, privet), privet},
        {"Unicode Path of other bytes is ignored", privetOem, 0, 20, withPath("other", "x"), privet},
        {"flag bit 11", privet, kFlagUtf8, 20, none, privet},
        {"Unix-made UTF-8 without the flag", privet, 0, 0x031E, none, privet},
        {"DOS-made bytes are CP866", privetOem, 0, 20, none, privet},
        {"Unix-made bytes that are not UTF-8 are CP866", privetOem, 0, 0x0314, none, privet},
    };
    for (const Case& c : cases)
        EXPECT_EQ(entryName(c.stored, c.flags, c.madeBy, c.extra), c.expected) << c.what;
}

TEST(EntryName, aFolderSharedWithAUtf8NameIsWrittenInUtf8) {
    Utf8Folders folders;
    folders.addName("tree/\xd0\x9f/\xf0\x9f\x98\x80.txt"); // "tree/П/😀.txt" does not fit CP866
    folders.addName("tree/\xd0\x9c/a.txt");                // "tree/М/a.txt" does
    EXPECT_TRUE(folders.covers("tree/\xd0\x9f/"));
    EXPECT_TRUE(folders.covers("tree/\xd0\x9f/\xd0\xb0.txt"));
    EXPECT_FALSE(folders.covers("tree/\xd0\x9c/a.txt"));
    EXPECT_FALSE(folders.covers("tree/b.txt"));
    EXPECT_TRUE(encodeStoredName("tree/\xd0\x9f/", true, folders.covers("tree/\xd0\x9f/")).utf8);
}

TEST(ExtraFields, aBlockLongerThanItsFieldEndsTheSearch) {
    // A zip64 block that claims 64 bytes where 4 are left: read what is there, no endless loop.
    const std::vector<std::uint8_t> extra = {0x01, 0x00, 0x40, 0x00, 1, 2, 3, 4};
    LocalHeader h;
    h.uncompressedSize = h.compressedSize = kZip64Marker32;
    std::uint64_t compressed = 0, uncompressed = 0;
    EXPECT_TRUE(readLocalZip64Sizes(extra, h, compressed, uncompressed));
    EXPECT_EQ(findExtraBlock(extra, kZip64ExtraId)->size(), 4u);
}
