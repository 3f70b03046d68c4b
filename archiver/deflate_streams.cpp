#include "archiver/deflate_streams.h"

#include <algorithm>
#include <memory>

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include "archiver/crc32.h"

namespace archiver {
namespace {

constexpr std::size_t kSmallBlock = 524288;   // levels 1-3
constexpr std::size_t kMediumBlock = 1048576; // stored and levels 4-6
constexpr std::size_t kLargeBlock = 1572864;  // levels 7-9
constexpr std::size_t kInflateInput = kProgressStep;
constexpr std::size_t kInflateOutput = kProgressStep;
static_assert(kIsalTopLevel == ISAL_DEF_MAX_LEVEL, "each of ISA-L's levels serves the archiver's of that number");

std::string zlibMessage(const char* op, const z_stream& s, int code) {
    std::string text = std::string("zlib ") + op + " error " + std::to_string(code);
    if (s.msg)
        text += std::string(": ") + s.msg;
    return text;
}

// Both libraries take 32-bit counts; blocks here are at most a few MiB.
std::uint32_t count32(std::size_t n) { return static_cast<std::uint32_t>(n); }

// Room for the output of `n` input bytes in one go: deflate never grows data by more
// than its stored blocks' headers (5 bytes per 64 KiB) and a little for the stream's end.
std::size_t outputRoom(std::size_t n) { return n + n / 8192 + 1024; }

} // namespace

DeflateError::DeflateError(const std::string& what, int code) : std::runtime_error(what), m_code(code) {}

// ---- Deflater ----

struct Deflater::Engine {
    virtual ~Engine() = default;
    virtual void slice(std::span<const std::uint8_t> in, Flush flush, std::vector<std::uint8_t>& out) = 0;
    virtual void end() = 0;
    virtual void restart(std::span<const std::uint8_t> dictionary) = 0;
};

namespace {

// zlib for levels 4-9: a raw stream with the default window, memory level and strategy.
class ZlibDeflate final : public Deflater::Engine {
public:
    explicit ZlibDeflate(int level) {
        const int rc = deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (rc != Z_OK)
            throw DeflateError(zlibMessage("deflateInit", m_stream, rc), rc);
        m_open = true;
    }
    ~ZlibDeflate() override {
        if (m_open)
            deflateEnd(&m_stream);
    }

    void slice(std::span<const std::uint8_t> in, Flush flush, std::vector<std::uint8_t>& out) override {
        const int mode = flush == Flush::Finish ? Z_FINISH : flush == Flush::Sync ? Z_SYNC_FLUSH : Z_NO_FLUSH;
        m_stream.next_in = const_cast<Bytef*>(in.data());
        m_stream.avail_in = count32(in.size());
        // A block's output fits in deflateBound; the loop only matters if it ever does not.
        std::size_t room = deflateBound(&m_stream, count32(in.size())) + 16;
        for (;;) {
            const std::size_t start = out.size();
            out.resize(start + room);
            m_stream.next_out = out.data() + start;
            m_stream.avail_out = count32(room);
            const int rc = deflate(&m_stream, mode);
            out.resize(out.size() - m_stream.avail_out);
            if (rc == Z_STREAM_END)
                return;
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                throw DeflateError(zlibMessage("deflate", m_stream, rc), rc);
            // Done once all input is taken and output space was left over (everything the
            // flush asked for has come out).
            if (flush != Flush::Finish && m_stream.avail_in == 0 && m_stream.avail_out != 0)
                return;
            room = 65536;
        }
    }

    void end() override {
        if (!m_open)
            return;
        m_open = false;
        const int rc = deflateEnd(&m_stream);
        if (rc != Z_OK)
            throw DeflateError(zlibMessage("deflateEnd", m_stream, rc), rc);
    }

    void restart(std::span<const std::uint8_t> dictionary) override {
        int rc = deflateReset(&m_stream);
        if (rc == Z_OK && !dictionary.empty())
            rc = deflateSetDictionary(&m_stream, dictionary.data(), count32(dictionary.size()));
        if (rc != Z_OK)
            throw DeflateError(zlibMessage("deflateReset", m_stream, rc), rc);
    }

private:
    z_stream m_stream{};
    bool m_open = false;
};

// ISA-L for levels 1-3: its streaming deflate with the level's work buffer. The stream
// (over 100 KiB of state) is made once and reset between streams.
class IsalDeflate final : public Deflater::Engine {
public:
    explicit IsalDeflate(int level)
        : m_levelBufSize(levelBufSize(level)), m_levelBuf(new std::uint8_t[m_levelBufSize]) {
        isal_deflate_init(&m_stream);
        configure(level);
    }

    void slice(std::span<const std::uint8_t> in, Flush flush, std::vector<std::uint8_t>& out) override {
        m_stream.next_in = const_cast<std::uint8_t*>(in.data());
        m_stream.avail_in = count32(in.size());
        m_stream.flush = flush == Flush::None ? NO_FLUSH : SYNC_FLUSH;
        m_stream.end_of_stream = flush == Flush::Finish ? 1 : 0;
        m_started = true;
        std::size_t room = outputRoom(in.size());
        for (;;) {
            const std::size_t start = out.size();
            out.resize(start + room);
            m_stream.next_out = out.data() + start;
            m_stream.avail_out = count32(room);
            const std::uint32_t inputBefore = m_stream.avail_in;
            const int rc = isal_deflate(&m_stream);
            const bool moved = m_stream.avail_in != inputBefore || m_stream.avail_out != room;
            out.resize(out.size() - m_stream.avail_out);
            if (rc != COMP_OK)
                throw DeflateError("ISA-L deflate error " + std::to_string(rc), rc);
            // Done once all input is taken and, for a flush, the stream stands at the start
            // of a new block (sync) or at its end (finish) with everything written out.
            const int state = m_stream.internal_state.state;
            if (m_stream.avail_in == 0 && (flush == Flush::None || (flush == Flush::Sync && state == ZSTATE_NEW_HDR) ||
                                           (flush == Flush::Finish && state == ZSTATE_END)))
                return;
            if (!moved) // a stream already finished, say: never loop on it
                throw DeflateError("ISA-L deflate stream cannot go on", ISAL_INVALID_STATE);
            room = std::max<std::size_t>(room, 65536);
        }
    }

    void end() override {
        const bool unfinished = m_started && m_stream.internal_state.state != ZSTATE_END;
        m_started = false;
        if (unfinished)
            throw DeflateError("ISA-L deflate stream ended unfinished", ISAL_INVALID_STATE);
    }

    void restart(std::span<const std::uint8_t> dictionary) override {
        const int level = int(m_stream.level);
        isal_deflate_reset(&m_stream);
        configure(level);
        m_started = false;
        if (dictionary.empty())
            return;
        const int rc =
            isal_deflate_set_dict(&m_stream, const_cast<std::uint8_t*>(dictionary.data()), count32(dictionary.size()));
        if (rc != COMP_OK)
            throw DeflateError("ISA-L dictionary error " + std::to_string(rc), rc);
    }

private:
    static std::size_t levelBufSize(int level) {
        switch (level) {
        case 1:
            return ISAL_DEF_LVL1_DEFAULT;
        case 2:
            return ISAL_DEF_LVL2_DEFAULT;
        default:
            return ISAL_DEF_LVL3_DEFAULT;
        }
    }
    void configure(int level) {
        m_stream.level = std::uint32_t(level);
        m_stream.level_buf = m_levelBuf.get();
        m_stream.level_buf_size = count32(m_levelBufSize);
        m_stream.gzip_flag = IGZIP_DEFLATE;
        m_stream.hist_bits = 0; // the whole 32 KiB window
    }

    isal_zstream m_stream;
    const std::size_t m_levelBufSize;
    std::unique_ptr<std::uint8_t[]> m_levelBuf;
    bool m_started = false; // output was asked for since the last restart
};

std::unique_ptr<Deflater::Engine> makeEngine(int level) {
    if (level >= 1 && level <= kIsalTopLevel)
        return std::make_unique<IsalDeflate>(level);
    if (level > kIsalTopLevel && level <= 9)
        return std::make_unique<ZlibDeflate>(level);
    throw DeflateError("no deflate level " + std::to_string(level), Z_STREAM_ERROR);
}

} // namespace

Deflater::Deflater(int level) : m_engine(makeEngine(level)), m_level(level) {}

Deflater::~Deflater() = default;

void Deflater::deflateSlice(std::span<const std::uint8_t> in, Flush flush, std::vector<std::uint8_t>& out) {
    m_engine->slice(in, flush, out);
}

void Deflater::end() { m_engine->end(); }

void Deflater::restart(std::span<const std::uint8_t> dictionary) { m_engine->restart(dictionary); }

// ---- Inflater ----

struct Inflater::State {
    inflate_state s;
};

Inflater::Inflater() : m_state(new State) { reset(); }

Inflater::~Inflater() = default;

void Inflater::reset() { isal_inflate_init(&m_state->s); }

Inflater::Step Inflater::inflate(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    inflate_state& s = m_state->s;
    s.next_in = const_cast<std::uint8_t*>(in.data());
    s.avail_in = count32(in.size());
    s.next_out = out.data();
    s.avail_out = count32(out.size());
    const int rc = isal_inflate(&s);
    Step step;
    step.taken = in.size() - s.avail_in;
    step.produced = out.size() - s.avail_out;
    // Negative codes are damaged data; a raw stream never asks for a dictionary.
    step.damaged = rc != ISAL_DECOMP_OK;
    step.end = !step.damaged && s.block_state == ISAL_BLOCK_FINISH;
    return step;
}

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
        // zlib gives the same output whether a block goes through in one call or in
        // slices, so its slow levels take it in slices with progress between them. ISA-L
        // ends its own blocks where a call ends: its levels take the whole block in one
        // call (a few milliseconds) and report the same progress after it.
        const std::size_t sliceSize = deflater && deflater->level() > kIsalTopLevel ? kProgressStep : n;
        std::size_t reported = 0; // progress reported within the block
        for (std::size_t off = 0; off < n && !result.cancelled;) {
            const std::size_t slice = std::min(sliceSize, n - off);
            const bool blockEnd = off + slice == n;
            if (deflater)
                deflater->deflateSlice({input.data() + off, slice},
                                       blockEnd ? (last ? Flush::Finish : Flush::Sync) : Flush::None, output);
            off += slice;
            for (std::size_t step = reported + kProgressStep; step < n && step <= off; step += kProgressStep) {
                reported = step;
                if (progress && !progress(result.bytesRead + step)) {
                    result.cancelled = true;
                    break;
                }
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

// The buffers and the inflater of one thread, kept from entry to entry: made anew for each
// entry they cost a clear of up to half a MiB and, once freed, fresh pages from the
// kernel, for every one of many small files. A run that finds them taken (a write callback
// that decompresses in turn) makes its own.
struct DecoderScratch {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    Inflater inflater;
    bool taken = false;
};

// The thread's scratch for the length of one run, or a run's own.
class ScratchLease {
public:
    ScratchLease() {
        thread_local DecoderScratch shared;
        if (shared.taken) {
            m_own = std::make_unique<DecoderScratch>();
            m_scratch = m_own.get();
        } else {
            m_scratch = &shared;
        }
        m_scratch->taken = true;
        m_scratch->inflater.reset();
    }
    ~ScratchLease() { m_scratch->taken = false; }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;

    // Buffers of at least `size` bytes (their contents are whatever was left in them).
    std::span<std::uint8_t> input(std::size_t size) { return grown(m_scratch->input, size); }
    std::span<std::uint8_t> output(std::size_t size) { return grown(m_scratch->output, size); }
    Inflater& inflater() { return m_scratch->inflater; }

private:
    static std::span<std::uint8_t> grown(std::vector<std::uint8_t>& buffer, std::size_t size) {
        if (buffer.size() < size)
            buffer.resize(size);
        return {buffer.data(), size};
    }

    std::unique_ptr<DecoderScratch> m_own;
    DecoderScratch* m_scratch = nullptr;
};

// One run of decompressBlocks: the entry's data read block by block, inflated (or taken
// as it is when stored), handed on and checked. Each step says whether to go on; the
// outcome says why it stopped.
class EntryDecoder {
public:
    EntryDecoder(int method, std::uint64_t compressedSize, std::uint64_t uncompressedSize, const WriteFn& write,
                 const ProgressFn& progress)
        : m_compressedSize(compressedSize), m_uncompressedSize(uncompressedSize), m_write(write), m_progress(progress),
          m_input(m_scratch.input(static_cast<std::size_t>(std::min<std::uint64_t>(compressedSize, kInflateInput)))) {
        if (method == kMethodDeflate) {
            m_inflater = &m_scratch.inflater();
            // Room for the whole file when it is small, and a byte more, so that data
            // longer than recorded shows.
            m_output = m_scratch.output(std::size_t(std::min<std::uint64_t>(uncompressedSize, kInflateOutput - 1)) + 1);
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
        std::span<const std::uint8_t> in(m_input.data(), n);
        for (;;) {
            const Inflater::Step step = m_inflater->inflate(in, m_output);
            in = in.subspan(step.taken);
            if (step.damaged)
                return stop(DataProblem::BadData); // the entry is lost
            if (step.produced > 0 && !emit(m_output.data(), step.produced))
                return;
            // Highly compressed data: report progress as the output grows, too.
            if (m_sinceProgress >= kProgressStep && !reportProgress())
                return;
            if (step.end) {
                m_streamEnd = true;
                return;
            }
            // A full buffer may leave output pending; otherwise the input is used up.
            if (step.produced == m_output.size())
                continue;
            if (in.empty())
                return;
            if (step.taken == 0)
                return stop(DataProblem::BadData); // no way forward: never loop on it
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
    ScratchLease m_scratch;
    std::span<std::uint8_t> m_input;
    std::span<std::uint8_t> m_output;
    Inflater* m_inflater = nullptr;
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
