#include "archiver/deflate_streams.h"

#include <algorithm>
#include <memory>

#include "archiver/crc32.h"

namespace archiver {
namespace {

constexpr std::size_t kSmallBlock = 524288;   // levels 1-3
constexpr std::size_t kMediumBlock = 1048576; // stored and levels 4-6
constexpr std::size_t kLargeBlock = 1572864;  // levels 7-9
constexpr std::size_t kInflateInput = kProgressStep;
constexpr std::size_t kInflateOutput = kProgressStep;

std::string zlibMessage(const char* op, const z_stream& s, int code) {
    std::string text = std::string("zlib ") + op + " error " + std::to_string(code);
    if (s.msg)
        text += std::string(": ") + s.msg;
    return text;
}

// zlib takes 32-bit counts; blocks here are at most a few MiB.
uInt zlibCount(std::size_t n) { return static_cast<uInt>(n); }

} // namespace

ZlibError::ZlibError(const std::string& what, int code) : std::runtime_error(what), m_code(code) {}

Deflater::Deflater(int level) : m_level(level) {
    const int rc = deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK)
        throw ZlibError(zlibMessage("deflateInit", m_stream, rc), rc);
    m_open = true;
}

Deflater::~Deflater() {
    if (m_open)
        deflateEnd(&m_stream);
}

void Deflater::deflateSlice(std::span<const std::uint8_t> in, int flush, std::vector<std::uint8_t>& out) {
    const bool last = flush == Z_FINISH;
    m_stream.next_in = const_cast<Bytef*>(in.data());
    m_stream.avail_in = zlibCount(in.size());
    // A block's output fits in deflateBound; the loop only matters if it ever does not.
    std::size_t room = deflateBound(&m_stream, zlibCount(in.size())) + 16;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room);
        m_stream.next_out = out.data() + start;
        m_stream.avail_out = zlibCount(room);
        const int rc = deflate(&m_stream, flush);
        out.resize(out.size() - m_stream.avail_out);
        if (rc == Z_STREAM_END)
            return;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw ZlibError(zlibMessage("deflate", m_stream, rc), rc);
        // Done once all input is taken and output space was left over (everything the
        // flush asked for has come out).
        if (!last && m_stream.avail_in == 0 && m_stream.avail_out != 0)
            return;
        room = 65536;
    }
}

void Deflater::end() {
    if (!m_open)
        return;
    m_open = false;
    const int rc = deflateEnd(&m_stream);
    if (rc != Z_OK)
        throw ZlibError(zlibMessage("deflateEnd", m_stream, rc), rc);
}

void Deflater::restart(std::span<const std::uint8_t> dictionary) {
    int rc = deflateReset(&m_stream);
    if (rc == Z_OK && !dictionary.empty())
        rc = deflateSetDictionary(&m_stream, dictionary.data(), zlibCount(dictionary.size()));
    if (rc != Z_OK)
        throw ZlibError(zlibMessage("deflateReset", m_stream, rc), rc);
}

Inflater::Inflater() {
    const int rc = inflateInit2(&m_stream, -MAX_WBITS);
    if (rc != Z_OK)
        throw ZlibError(zlibMessage("inflateInit", m_stream, rc), rc);
}

Inflater::~Inflater() { inflateEnd(&m_stream); }

std::size_t readBlockSize(int compressionMode) {
    switch (compressionMode) {
    case 1:
    case 2:
    case 3:
        return kSmallBlock;
    case 7:
    case 8:
    case 9:
        return kLargeBlock;
    default:
        return kMediumBlock;
    }
}

CompressOutcome compressBlocks(std::uint64_t length, int compressionMode, const ReadFn& read, const WriteFn& write,
                               const ProgressFn& progress) {
    CompressOutcome result;
    const std::size_t blockSize = readBlockSize(compressionMode);
    std::vector<std::uint8_t> input(static_cast<std::size_t>(std::min<std::uint64_t>(length, blockSize)));
    std::vector<std::uint8_t> output;
    std::unique_ptr<Deflater> deflater;
    if (compressionMode != 0)
        deflater = std::make_unique<Deflater>(compressionMode);
    std::uint32_t reg = kCrcPreset;

    while (result.bytesRead < length) {
        if (progress && !progress(result.bytesRead)) {
            result.cancelled = true;
            break;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, length - result.bytesRead));
        if (read(input.data(), n) != n)
            break;
        reg = crcUpdate(reg, input.data(), n);
        const bool last = result.bytesRead + n == length;
        output.clear();
        // The block goes through deflate in slices, with progress between them; the
        // output is the same as in one call, since only the block's end is flushed.
        for (std::size_t off = 0; off < n && deflater;) {
            const std::size_t slice = std::min(kProgressStep, n - off);
            const bool blockEnd = off + slice == n;
            deflater->deflateSlice({input.data() + off, slice},
                                   blockEnd ? (last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH, output);
            off += slice;
            if (!blockEnd && progress && !progress(result.bytesRead + off)) {
                result.cancelled = true;
                break;
            }
        }
        if (result.cancelled)
            break;
        const std::uint8_t* data = deflater ? output.data() : input.data();
        const std::size_t size = deflater ? output.size() : n;
        if (write(data, size) != size) {
            result.writeFailed = true;
            break;
        }
        result.bytesRead += n;
        result.compressedBytes += size;
    }
    // An unfinished stream (short read or write) is reported through bytesRead and
    // writeFailed; the destructor releases it. A finished one must end cleanly.
    if (deflater && result.bytesRead == length)
        deflater->end();
    result.crc = crcFinish(reg);
    return result;
}

DecompressOutcome decompressBlocks(int method, std::uint64_t compressedSize, std::uint64_t uncompressedSize,
                                   std::uint32_t expectedCrc, const ReadFn& read, const WriteFn& write,
                                   const ProgressFn& progress) {
    DecompressOutcome result;
    if (method != 0 && method != 8)
        return result;
    std::vector<std::uint8_t> input(static_cast<std::size_t>(std::min<std::uint64_t>(compressedSize, kInflateInput)));
    std::vector<std::uint8_t> output;
    std::unique_ptr<Inflater> inflater;
    if (method == 8) {
        inflater = std::make_unique<Inflater>();
        output.resize(kInflateOutput);
    }
    std::uint32_t reg = kCrcPreset;
    std::uint64_t consumed = 0;
    bool streamEnd = false;
    bool damaged = false;

    // Hands produced bytes on; false when they exceed the expected size or the write falls short.
    std::uint64_t sinceProgress = 0;
    auto emit = [&](const std::uint8_t* data, std::size_t size) {
        if (size > uncompressedSize - result.written) {
            damaged = true;
            result.problem = DataProblem::TooLong;
            return false;
        }
        reg = crcUpdate(reg, data, size);
        if (write(data, size) != size) {
            damaged = true;
            result.problem = DataProblem::WriteFailed;
            return false;
        }
        result.written += size;
        sinceProgress += size;
        return true;
    };

    while (consumed < compressedSize && !streamEnd && !damaged) {
        if (progress && !progress(consumed)) {
            result.cancelled = true;
            return result;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), compressedSize - consumed));
        if (read(input.data(), n) != n) {
            result.problem = DataProblem::ReadFailed;
            return result;
        }
        consumed += n;
        sinceProgress = 0;
        if (!inflater) {
            emit(input.data(), n);
            continue;
        }
        z_stream& s = inflater->stream();
        s.next_in = input.data();
        s.avail_in = zlibCount(n);
        for (;;) {
            s.next_out = output.data();
            s.avail_out = zlibCount(output.size());
            const int rc = inflate(&s, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                damaged = true; // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR: the entry is lost
                result.problem = DataProblem::BadData;
                break;
            }
            const std::size_t produced = output.size() - s.avail_out;
            if (produced > 0 && !emit(output.data(), produced))
                break;
            // Highly compressed data: report progress as the output grows, too.
            if (sinceProgress >= kProgressStep) {
                sinceProgress = 0;
                if (progress && !progress(consumed)) {
                    result.cancelled = true;
                    return result;
                }
            }
            if (rc == Z_STREAM_END) {
                streamEnd = true;
                break;
            }
            // More output is pending only when the buffer was filled; otherwise more input is needed.
            if (s.avail_out != 0 && (s.avail_in == 0 || rc == Z_BUF_ERROR))
                break;
        }
    }
    result.crc = crcFinish(reg);
    if (damaged)
        return result;
    // A deflate stream must have reached its final block; stored data is complete by count.
    // An empty entry may carry no deflate data at all.
    const bool complete = inflater ? streamEnd || compressedSize == 0 : consumed == compressedSize;
    if (!complete)
        result.problem = DataProblem::BadData;
    else if (result.written != uncompressedSize)
        result.problem = DataProblem::TooShort;
    else if (result.crc != expectedCrc)
        result.problem = DataProblem::CrcMismatch;
    result.ok = result.problem == DataProblem::None;
    return result;
}

} // namespace archiver
