// The deflate libraries behind RAII objects, and the two block loops that turn a file's
// bytes into a raw deflate entry and back. ZIP entries hold raw deflate data (no zlib
// header, no Adler-32). Levels 1 to 3 are compressed by ISA-L (Intel's Intelligent
// Storage Acceleration Library, several times faster than zlib at a like ratio), levels
// 4 to 9 by zlib; every entry is inflated by ISA-L. Both write ordinary deflate that any
// reader takes. The loops know nothing about files or archives: they read and write
// through callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace archiver {

// A failure reported by the deflate library itself (not an archiver error): a bad
// parameter or level, no memory, or a deflate stream ended while unfinished.
class DeflateError : public std::runtime_error {
public:
    DeflateError(const std::string& what, int code);
    int code() const { return m_code; }

private:
    int m_code;
};

// How a slice of input ends: inside a block, at the end of a block (a sync flush: the
// output is byte aligned and can be written out at once, and a block deflated on its own
// can be joined to the one before), or at the end of the stream.
enum class Flush { None, Sync, Finish };

// Levels 1 to kIsalTopLevel are compressed by ISA-L, the levels above by zlib.
inline constexpr int kIsalTopLevel = 3;

// A raw deflate stream at one level: ISA-L's level of the same number for 1 to 3, zlib's
// with its default window, memory level and strategy for 4 to 9.
class Deflater {
public:
    explicit Deflater(int level); // throws DeflateError for a level outside 1..9
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses `in` and appends its output to `out`; `flush` says how the slice ends.
    void deflateSlice(std::span<const std::uint8_t> in, Flush flush, std::vector<std::uint8_t>& out);
    // Ends the stream; throws DeflateError when it was left unfinished (the destructor never throws).
    void end();
    // Starts a new stream at the same level, primed with `dictionary` (the data that
    // precedes what comes next, at most the last 32 KiB of it count). The output then
    // depends only on the dictionary and what follows, never on earlier streams.
    void restart(std::span<const std::uint8_t> dictionary);
    int level() const { return m_level; }

    struct Engine; // the library's stream

private:
    std::unique_ptr<Engine> m_engine;
    int m_level = 0;
};

// A raw inflate stream (ISA-L).
class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    struct Step {
        std::size_t taken = 0;    // input bytes consumed
        std::size_t produced = 0; // output bytes written
        bool end = false;         // the final block is complete and all its output given
        bool damaged = false;     // the data is not valid deflate
    };
    // Inflates from `in` into `out` until the input is used up, the output is full, the
    // stream ends or the data turns out damaged. Output may be pending while `out` was
    // filled: call again with more room (and no new input) until it is not.
    Step inflate(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    // Ready for a new stream, as a new Inflater is.
    void reset();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// Bytes read from the source per block for an item's compression mode (its deflate level).
std::size_t readBlockSize(int compressionMode);

// Reads up to `size` bytes into `buffer`; returns the count read (short at the end or on error).
using ReadFn = std::function<std::size_t(std::uint8_t* buffer, std::size_t size)>;
// Writes `size` bytes; returns the count written (short when the device is full).
using WriteFn = std::function<std::size_t(const std::uint8_t* data, std::size_t size)>;
// Called before each block and at least every kProgressStep bytes of input or output
// with the input bytes done so far; returns false to cancel.
using ProgressFn = std::function<bool(std::uint64_t done)>;
inline constexpr std::size_t kProgressStep = 256 * 1024;

struct CompressOutcome {
    std::uint64_t bytesRead = 0;       // source bytes taken into the entry
    std::uint64_t compressedBytes = 0; // entry data bytes written
    std::uint32_t crc = 0;             // CRC-32 of the bytes read (already complemented)
    bool cancelled = false;
    bool writeFailed = false; // the archive took fewer bytes than offered
};

// Turns `length` source bytes into entry data: deflate at `compressionMode` (1..9), or a
// plain copy for mode 0. Reads blocks of readBlockSize(mode); every block but the last
// is sync-flushed and written at once, the last finishes the stream. A short read or a
// short write ends the loop early (bytesRead < length tells the caller); the output is
// then an unfinished stream. Library failures throw DeflateError.
CompressOutcome compressBlocks(std::uint64_t length, int compressionMode, const ReadFn& read, const WriteFn& write,
                               const ProgressFn& progress = {});

// Why decompressed data is not the entry's file.
enum class DataProblem {
    None,
    BadData,     // the deflate stream is damaged (or ends early)
    TooLong,     // more data than the recorded size
    TooShort,    // less data than the recorded size
    CrcMismatch, // the right length, but not the recorded CRC-32
    ReadFailed,  // the archive ended inside the data
    WriteFailed, // the destination took fewer bytes than offered
};

struct DecompressOutcome {
    bool ok = false; // complete, right length, right CRC
    DataProblem problem = DataProblem::None;
    std::uint64_t written = 0; // bytes handed to the destination
    std::uint32_t crc = 0;     // CRC-32 of those bytes
    bool cancelled = false;
};

// Turns `compressedSize` bytes of entry data (method 0 stored or 8 deflate) back into the
// file's bytes and checks them against `uncompressedSize` and `expectedCrc`. Damaged data
// ends the loop and the result is then not ok; never more than `uncompressedSize` bytes
// reach the destination, whatever the data claims.
DecompressOutcome decompressBlocks(int method, std::uint64_t compressedSize, std::uint64_t uncompressedSize,
                                   std::uint32_t expectedCrc, const ReadFn& read, const WriteFn& write,
                                   const ProgressFn& progress = {});

} // namespace archiver
