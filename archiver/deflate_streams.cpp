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

namespace {

// One run of decompressBlocks: the entry's data read block by block, inflated (or taken
// as it is when stored), handed on and checked. Each step says whether to go on; the
// outcome says why it stopped.
class EntryDecoder {
public:
    EntryDecoder(int method, std::uint64_t compressedSize, std::uint64_t uncompressedSize, const WriteFn& write,
                 const ProgressFn& progress)
        : m_compressedSize(compressedSize), m_uncompressedSize(uncompressedSize), m_write(write), m_progress(progress),
          m_input(static_cast<std::size_t>(std::min<std::uint64_t>(compressedSize, kInflateInput))) {
        if (method == kMethodDeflate) {
            m_inflater = std::make_unique<Inflater>();
            m_output.resize(kInflateOutput);
        }
    }

    DecompressOutcome run(const ReadFn& read, std::uint32_t expectedCrc) {
        while (m_consumed < m_compressedSize && !m_streamEnd && !m_stopped) {
            if (!reportProgress())
                return m_result;
            const std::size_t n = readBlock(read);
            if (m_stopped)
                return m_result;
            if (m_inflater)
                inflateBlock(n);
            else
                emit(m_input.data(), n);
            if (m_result.cancelled)
                return m_result;
        }
        m_result.crc = crcFinish(m_crc);
        if (!m_stopped)
            judge(expectedCrc);
        return m_result;
    }

private:
    static constexpr int kMethodDeflate = 8;

    // Asks the progress callback; false (cancelled) when it says stop.
    bool reportProgress() {
        m_sinceProgress = 0;
        if (m_progress && !m_progress(m_consumed)) {
            m_result.cancelled = true;
            m_stopped = true;
            return false;
        }
        return true;
    }

    // The next block of entry data into m_input; a short read stops the run.
    std::size_t readBlock(const ReadFn& read) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(m_input.size(), m_compressedSize - m_consumed));
        if (read(m_input.data(), n) != n)
            stop(DataProblem::ReadFailed);
        m_consumed += n;
        return n;
    }

    // Inflates one block of input, handing on the output as the buffer fills.
    void inflateBlock(std::size_t n) {
        z_stream& s = m_inflater->stream();
        s.next_in = m_input.data();
        s.avail_in = zlibCount(n);
        for (;;) {
            s.next_out = m_output.data();
            s.avail_out = zlibCount(m_output.size());
            const int rc = inflate(&s, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return stop(DataProblem::BadData); // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR: the entry is lost
            const std::size_t produced = m_output.size() - s.avail_out;
            if (produced > 0 && !emit(m_output.data(), produced))
                return;
            // Highly compressed data: report progress as the output grows, too.
            if (m_sinceProgress >= kProgressStep && !reportProgress())
                return;
            if (rc == Z_STREAM_END) {
                m_streamEnd = true;
                return;
            }
            // More output is pending only when the buffer was filled; otherwise more input is needed.
            if (s.avail_out != 0 && (s.avail_in == 0 || rc == Z_BUF_ERROR))
                return;
        }
    }

    // Hands produced bytes on; false when they exceed the expected size or the write falls short.
    bool emit(const std::uint8_t* data, std::size_t size) {
        if (size > m_uncompressedSize - m_result.written) {
            stop(DataProblem::TooLong);
            return false;
        }
        m_crc = crcUpdate(m_crc, data, size);
        if (m_write(data, size) != size) {
            stop(DataProblem::WriteFailed);
            return false;
        }
        m_result.written += size;
        m_sinceProgress += size;
        return true;
    }

    void stop(DataProblem problem) {
        m_result.problem = problem;
        m_stopped = true;
    }

    // The data as a whole: a deflate stream must have reached its final block (an empty
    // entry may carry no deflate data at all); stored data is complete by count. Then
    // the length and the CRC-32.
    void judge(std::uint32_t expectedCrc) {
        const bool complete = m_inflater ? m_streamEnd || m_compressedSize == 0 : m_consumed == m_compressedSize;
        if (!complete)
            m_result.problem = DataProblem::BadData;
        else if (m_result.written != m_uncompressedSize)
            m_result.problem = DataProblem::TooShort;
        else if (m_result.crc != expectedCrc)
            m_result.problem = DataProblem::CrcMismatch;
        m_result.ok = m_result.problem == DataProblem::None;
    }

    const std::uint64_t m_compressedSize;
    const std::uint64_t m_uncompressedSize;
    const WriteFn& m_write;
    const ProgressFn& m_progress;
    std::vector<std::uint8_t> m_input;
    std::vector<std::uint8_t> m_output;
    std::unique_ptr<Inflater> m_inflater;
    DecompressOutcome m_result;
    std::uint32_t m_crc = kCrcPreset;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_sinceProgress = 0; // output bytes since progress was last reported
    bool m_streamEnd = false;
    bool m_stopped = false; // damaged, too long, a short read or write, or cancelled
};

} // namespace

DecompressOutcome decompressBlocks(int method, std::uint64_t compressedSize, std::uint64_t uncompressedSize,
                                   std::uint32_t expectedCrc, const ReadFn& read, const WriteFn& write,
                                   const ProgressFn& progress) {
    if (method != 0 && method != 8)
        return {};
    return EntryDecoder(method, compressedSize, uncompressedSize, write, progress).run(read, expectedCrc);
}

} // namespace archiver
