// CRC-32, the deflate block loops and the path rules of adding and extracting.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "archiver/archive_paths.h"
#include "archiver/crc32.h"
#include "archiver/deflate_streams.h"
#include "platform/file_system.h"

using namespace archiver;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> mixedData(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = (i / 4096) % 2 ? std::uint8_t(rng()) : std::uint8_t("config line\n"[i % 12]);
    return data;
}

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> writes;
    WriteFn fn() {
        return [this](const std::uint8_t* d, std::size_t n) {
            bytes.insert(bytes.end(), d, d + n);
            writes.push_back(n);
            return n;
        };
    }
};

ReadFn readerOf(const std::vector<std::uint8_t>& data, std::size_t* pos) {
    return [&data, pos](std::uint8_t* buf, std::size_t n) {
        const std::size_t k = std::min(n, data.size() - *pos);
        std::copy_n(data.begin() + std::ptrdiff_t(*pos), k, buf);
        *pos += k;
        return k;
    };
}

// Inflates raw deflate data with zlib directly; nullopt when zlib refuses it.
std::optional<std::vector<std::uint8_t>> rawInflate(const std::vector<std::uint8_t>& in, std::size_t expected) {
    z_stream s{};
    if (inflateInit2(&s, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    std::vector<std::uint8_t> out(expected + 16);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const int rc = inflate(&s, Z_FINISH);
    const std::size_t got = out.size() - s.avail_out;
    const bool allTaken = s.avail_in == 0;
    inflateEnd(&s);
    if (rc != Z_STREAM_END || !allTaken)
        return std::nullopt;
    out.resize(got);
    return out;
}

} // namespace

TEST(Crc32, knownValues) {
    EXPECT_EQ(crc32(bytesOf("")), 0u);
    EXPECT_EQ(crc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytesOf("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(Crc32, agreesWithZlibAcrossSplitsAndAlignments) {
    const auto data = mixedData(10007, 3);
    const std::uint32_t expected = ::crc32(0, data.data(), uInt(data.size()));
    for (std::size_t split : {0u, 1u, 7u, 8u, 9u, 63u, 64u, 65u, 4096u, 10006u}) {
        std::uint32_t reg = crcUpdate(kCrcPreset, data.data(), split);
        reg = crcUpdate(reg, data.data() + split, data.size() - split);
        EXPECT_EQ(crcFinish(reg), expected) << "split " << split;
    }
}

TEST(DeflateStreams, readBlockSizeFollowsLevel) {
    EXPECT_EQ(readBlockSize(1), 524288u);
    EXPECT_EQ(readBlockSize(3), 524288u);
    EXPECT_EQ(readBlockSize(0), 1048576u);
    EXPECT_EQ(readBlockSize(6), 1048576u);
    EXPECT_EQ(readBlockSize(7), 1572864u);
    EXPECT_EQ(readBlockSize(9), 1572864u);
}

TEST(DeflateStreams, compressedDataIsRawDeflateWithoutZlibHeaderOrTrailer) {
    const auto data = mixedData(200000, 1);
    std::size_t pos = 0;
    Sink sink;
    const auto out = compressBlocks(data.size(), 1, readerOf(data, &pos), sink.fn());
    ASSERT_EQ(out.bytesRead, data.size());
    EXPECT_EQ(out.compressedBytes, sink.bytes.size());
    EXPECT_EQ(out.crc, crc32(data));
    // A zlib stream would start with 0x78 and end with the Adler-32 of the data.
    EXPECT_NE(sink.bytes[0], 0x78);
    const std::uint32_t adler = ::adler32(1, data.data(), uInt(data.size()));
    const std::size_t n = sink.bytes.size();
    const std::uint32_t tail = std::uint32_t(sink.bytes[n - 4]) << 24 | std::uint32_t(sink.bytes[n - 3]) << 16 |
                               std::uint32_t(sink.bytes[n - 2]) << 8 | sink.bytes[n - 1];
    EXPECT_NE(tail, adler);
    EXPECT_EQ(rawInflate(sink.bytes, data.size()), data);
}

TEST(DeflateStreams, oneBlockAtExactlyBlockSizeTwoBlocksOneByteMore) {
    for (std::size_t size : {std::size_t(524288), std::size_t(524289)}) {
        const auto data = mixedData(size, 2);
        std::size_t pos = 0;
        Sink sink;
        const auto out = compressBlocks(data.size(), 1, readerOf(data, &pos), sink.fn());
        ASSERT_EQ(out.bytesRead, size);
        EXPECT_EQ(sink.writes.size(), size == 524288 ? 1u : 2u);
        EXPECT_EQ(rawInflate(sink.bytes, size), data);
    }
}

TEST(DeflateStreams, levelZeroCopiesTheBytes) {
    const auto data = mixedData(3000, 4);
    std::size_t pos = 0;
    Sink sink;
    const auto out = compressBlocks(data.size(), 0, readerOf(data, &pos), sink.fn());
    EXPECT_EQ(out.bytesRead, data.size());
    EXPECT_EQ(sink.bytes, data);
}

TEST(DeflateStreams, shortReadOrShortWriteEndsTheLoopEarly) {
    const auto data = mixedData(600000, 5);
    std::size_t pos = 0;
    Sink sink;
    // The source claims more bytes than it has.
    auto out = compressBlocks(data.size() + 100, 1, readerOf(data, &pos), sink.fn());
    EXPECT_LT(out.bytesRead, data.size() + 100);
    EXPECT_FALSE(out.writeFailed);

    pos = 0;
    out =
        compressBlocks(data.size(), 1, readerOf(data, &pos), [](const std::uint8_t*, std::size_t n) { return n / 2; });
    EXPECT_TRUE(out.writeFailed);
    EXPECT_EQ(out.bytesRead, 0u);
}

TEST(DeflateStreams, decompressRoundTripsAndChecksCrc) {
    const auto data = mixedData(1500000, 6);
    std::size_t pos = 0;
    Sink packed;
    const auto c = compressBlocks(data.size(), 6, readerOf(data, &pos), packed.fn());
    ASSERT_EQ(c.bytesRead, data.size());

    pos = 0;
    Sink plain;
    auto d = decompressBlocks(8, packed.bytes.size(), data.size(), c.crc, readerOf(packed.bytes, &pos), plain.fn());
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(plain.bytes, data);

    pos = 0;
    Sink again;
    d = decompressBlocks(8, packed.bytes.size(), data.size(), c.crc ^ 1, readerOf(packed.bytes, &pos), again.fn());
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(again.bytes, data) << "a CRC mismatch is found after the data was written";
}

TEST(DeflateStreams, damagedDataFailsWithoutOverrunningTheExpectedSize) {
    const auto data = mixedData(300000, 7);
    std::size_t pos = 0;
    Sink packed;
    const auto c = compressBlocks(data.size(), 1, readerOf(data, &pos), packed.fn());
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        auto broken = packed.bytes;
        for (int k = 0; k < 8; ++k)
            broken[rng() % broken.size()] ^= std::uint8_t(1 + rng() % 255);
        pos = 0;
        Sink out;
        const auto d = decompressBlocks(8, broken.size(), data.size(), c.crc, readerOf(broken, &pos), out.fn());
        EXPECT_FALSE(d.ok && out.bytes != data);
        EXPECT_LE(out.bytes.size(), data.size());
    }
    // Data that inflates to more than the entry claims stops at the claimed size.
    pos = 0;
    Sink capped;
    const auto d = decompressBlocks(8, packed.bytes.size(), 1000, c.crc, readerOf(packed.bytes, &pos), capped.fn());
    EXPECT_FALSE(d.ok);
    EXPECT_LE(capped.bytes.size(), 1000u);
    // Truncated data and an unknown method fail.
    pos = 0;
    Sink cut;
    EXPECT_FALSE(
        decompressBlocks(8, packed.bytes.size() + 50, data.size(), c.crc, readerOf(packed.bytes, &pos), cut.fn()).ok);
    pos = 0;
    EXPECT_FALSE(
        decompressBlocks(12, packed.bytes.size(), data.size(), c.crc, readerOf(packed.bytes, &pos), cut.fn()).ok);
}

TEST(ArchivePaths, fullPathRemovesDotStepsAndKeepsTrailingSeparator) {
    EXPECT_EQ(fullPath("/a/./b/../c/"), "/a/c/");
    EXPECT_EQ(fullPath("/a\\b\\..\\d"), "/a/d");
    EXPECT_EQ(fullPath("/../x"), "/x");
    const std::string cwd = fullPath(platform::currentDirectory() + "/");
    EXPECT_EQ(fullPath("p/q"), cwd + "p/q");
}

TEST(ArchivePaths, resolvePathTakesBaseFallbackOrCurrentFolder) {
    const std::string cwd = fullPath(platform::currentDirectory() + "/");
    EXPECT_EQ(resolvePath("", "", ""), cwd);
    EXPECT_EQ(resolvePath(".\\", "", ""), cwd);
    EXPECT_EQ(resolvePath("/tmp", "x/y.txt", "/other"), "/tmp/x/y.txt");
    EXPECT_EQ(resolvePath("", "x.txt", "/other/"), "/other/x.txt");
    EXPECT_EQ(resolvePath("/tmp", "/abs/../f", ""), "/f");
    EXPECT_EQ(resolvePath("/tmp", "//server/share", ""), "//server/share");
    EXPECT_EQ(resolvePath("/no/such/folder/kz", "", ""), "/no/such/folder/kz");
}

TEST(ArchivePaths, expandMaskByForm) {
    const auto e1 = expandMask("./prof\\*.*", "", "/w/");
    EXPECT_EQ(e1.full, "/w/prof/*.*");
    EXPECT_FALSE(e1.relative);
    const auto e2 = expandMask("*.txt", "/w/sub", "/w/");
    EXPECT_EQ(e2.full, "/w/sub/*.txt");
    EXPECT_TRUE(e2.relative);
    EXPECT_EQ(expandMask("/abs/*.*", "/w", "").full, "/abs/*.*");
    EXPECT_EQ(expandMask("../up/*", "/w", "").full, "../up/*");
}

TEST(ArchivePaths, storedNameByMode) {
    EXPECT_EQ(storedName("/w/prof/a.txt", "/w/", spRelativePath, ""), "prof/a.txt");
    EXPECT_EQ(storedName("/w/prof/sub/", "/w", spRelativePath, ""), "prof/sub");
    EXPECT_EQ(storedName("prof/a.txt", "", spRelativePath, "/w/"), "prof/a.txt");
    // Outside the base: the full path without its leading separator.
    EXPECT_EQ(storedName("/elsewhere/b.bin", "/w/", spRelativePath, ""), "elsewhere/b.bin");
    EXPECT_EQ(storedName("/w/prof/a.txt", "/w/", spNoPath, ""), "a.txt");
    EXPECT_EQ(storedName("/w/prof/a.txt", "/w/", spFullPath, ""), "w/prof/a.txt");
    EXPECT_EQ(storedName("/w/prof/a.txt", "/w/", spFullPathWithDrive, ""), "/w/prof/a.txt");
    EXPECT_EQ(storedName("//srv/share/x/y", "/w/", spFullPath, ""), "share/x/y");
}

TEST(ArchivePaths, confinedEntryPathRefusesNamesLeavingTheDestination) {
    EXPECT_EQ(confinedEntryPath("prof/sub/a.txt"), "prof/sub/a.txt");
    EXPECT_EQ(confinedEntryPath("prof\\sub\\"), "prof/sub/");
    EXPECT_EQ(confinedEntryPath("./a//b"), "a/b");
#ifndef _WIN32
    EXPECT_EQ(confinedEntryPath("a..b/c.."), "a..b/c..");
#endif
    for (const char* bad : {"/etc/passwd", "\\abs", "../x", "a/../../x", "a\\..\\b", "C:/x", "c:x",
                            "\\\\server\\share\\f", "//server/share/f", ".."})
        EXPECT_EQ(confinedEntryPath(bad), std::nullopt) << bad;
}

// Windows gives a name another meaning or drops a part of it: ".. " would reach the
// folder above, a ':' would write a data stream of another file, "a." would overwrite "a".
TEST(ArchivePaths, confinedEntryPathRefusesNamesWindowsWouldNotKeep) {
#ifndef _WIN32
    GTEST_SKIP() << "Windows' naming rules; every one of these names is kept on Linux";
#endif
    EXPECT_EQ(confinedEntryPath("a..b/c.d"), "a..b/c.d");
    EXPECT_EQ(confinedEntryPath("console/COM10.txt"), "console/COM10.txt");
    for (const char* bad : {".. /x", "a/.../b", "a./b", "dir/a.txt:stream", "a/b ", "CON", "sub/nul.txt", "com1",
                            "LPT9.log", "aux .txt", "a?b", "a*b", "a<b", "a>b", "a|b", "a\"b", "tab\tname"})
        EXPECT_EQ(confinedEntryPath(bad), std::nullopt) << bad;
}

// Slicing a block for progress must not change a byte: the same as one deflate call per
// block, sync-flushed, the last one finished (ISA-L's levels and zlib's alike).
TEST(DeflateStreams, slicedBlocksGiveTheBytesOfOneCallPerBlock) {
    for (int level : {1, 2, 3, 6, 9}) {
        const auto data = mixedData(3500000, 3);
        std::size_t pos = 0;
        Sink sink;
        compressBlocks(data.size(), level, readerOf(data, &pos), sink.fn());

        Deflater deflater(level);
        std::vector<std::uint8_t> whole;
        for (std::size_t at = 0; at < data.size(); at += readBlockSize(level)) {
            const std::size_t n = std::min(readBlockSize(level), data.size() - at);
            deflater.deflateSlice({data.data() + at, n}, at + n == data.size() ? Flush::Finish : Flush::Sync, whole);
        }
        deflater.end();
        EXPECT_TRUE(sink.bytes == whole) << "level " << level;
        EXPECT_EQ(rawInflate(sink.bytes, data.size()), data) << "level " << level;
    }
}

// A stream that has ended takes no more input: it fails at once instead of spinning.
TEST(DeflateStreams, aFinishedStreamRefusesMoreInput) {
    const auto data = mixedData(70000, 5);
    for (int level : {1, 3, 6}) {
        Deflater deflater(level);
        std::vector<std::uint8_t> out;
        deflater.deflateSlice(data, Flush::Finish, out);
        EXPECT_EQ(rawInflate(out, data.size()), data) << "level " << level;
        EXPECT_THROW(deflater.deflateSlice(data, Flush::Sync, out), DeflateError) << "level " << level;
    }
}

// A stream restarted with a dictionary finds its matches there, as a block of a file
// packed on several threads does in the 32 KiB before it; zlib inflates it with the same
// dictionary. A block that repeats its dictionary costs next to nothing.
TEST(DeflateStreams, aBlockPrimedWithTheDataBeforeItFindsItsMatchesThere) {
    const auto history = mixedData(20000, 8);
    for (int level : {1, 3, 6}) {
        Deflater primed(level), bare(level);
        primed.restart(history);
        bare.restart({});
        std::vector<std::uint8_t> withHistory, without;
        primed.deflateSlice(history, Flush::Sync, withHistory);
        bare.deflateSlice(history, Flush::Sync, without);
        EXPECT_LT(withHistory.size() * 4, without.size()) << "level " << level;

        z_stream s{};
        ASSERT_EQ(inflateInit2(&s, -MAX_WBITS), Z_OK);
        ASSERT_EQ(inflateSetDictionary(&s, history.data(), uInt(history.size())), Z_OK);
        std::vector<std::uint8_t> back(history.size() + 16);
        s.next_in = withHistory.data();
        s.avail_in = uInt(withHistory.size());
        s.next_out = back.data();
        s.avail_out = uInt(back.size());
        EXPECT_EQ(inflate(&s, Z_SYNC_FLUSH), Z_OK) << "level " << level;
        back.resize(back.size() - s.avail_out);
        inflateEnd(&s);
        EXPECT_EQ(back, history) << "level " << level;
    }
}

// Zeros inflate to far more than the output buffer holds: the last bytes are still
// pending inside the inflater when all the input is taken, and must come out too.
TEST(DeflateStreams, outputPendingAfterTheLastInputComesOut) {
    for (int level : {1, 6}) {
        const std::vector<std::uint8_t> zeros((1u << 20) + 100, 0);
        std::size_t pos = 0;
        Sink packed;
        const auto c = compressBlocks(zeros.size(), level, readerOf(zeros, &pos), packed.fn());
        pos = 0;
        Sink plain;
        const auto d =
            decompressBlocks(8, packed.bytes.size(), zeros.size(), c.crc, readerOf(packed.bytes, &pos), plain.fn());
        EXPECT_TRUE(d.ok) << "level " << level;
        EXPECT_TRUE(plain.bytes == zeros) << "level " << level;
    }
}
