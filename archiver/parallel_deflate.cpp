#include "archiver/parallel_deflate.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <zlib.h>

#include "archiver/crc32.h"
#include "archiver/parallel_crew.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

using pipeline::Crew;

// How much history a block is primed with: deflate's whole window.
constexpr std::size_t kDictionary = 32768;
} // namespace

int effectiveThreads(int setting) {
    if (setting > 0)
        return setting;
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// ---- ParallelPacker ----

namespace {

struct Block {
    std::size_t source = 0;
    std::uint64_t offset = 0; // first input byte
    std::size_t inputSize = 0;
    bool last = false;
    std::size_t cost = 0; // budget taken while it waits
    std::vector<std::uint8_t> out;
    std::uint32_t crc = 0;
    enum State { Running, Done, Short, Failed } state = Running;
    bool released = false; // dropped by the writer while its worker still filled it
    std::exception_ptr error;
};

struct PackState {
    PackSource src;
    bool opened = false;
    bool unreadable = false;
    std::shared_ptr<const platform::File> file;
    std::uint64_t length = 0;
    std::size_t blockSize = 0;
    std::size_t blocks = 0;
    std::size_t nextBlock = 0; // the next block to give to a worker
};

// One block: the input with the dictionary before it is read, checked and compressed
// into block.out and block.crc. False when the file ended before the block did.
bool packBlock(Block& block, const platform::File& file, int level, std::vector<std::uint8_t>& input,
               std::unique_ptr<Deflater>& deflater) {
    const std::size_t dictionary = std::size_t(std::min<std::uint64_t>(kDictionary, block.offset));
    input.resize(dictionary + block.inputSize);
    if (file.pread(block.offset - dictionary, input.data(), input.size()) != input.size())
        return false;
    const std::span<const std::uint8_t> data(input.data() + dictionary, block.inputSize);
    block.crc = crc32(data);
    block.out.clear();
    if (level == 0) {
        block.out.assign(data.begin(), data.end());
    } else {
        if (!deflater || deflater->level() != level)
            deflater = std::make_unique<Deflater>(level);
        deflater->restart({input.data(), dictionary});
        deflater->deflateSlice(data, block.last ? Flush::Finish : Flush::Sync, block.out);
    }
    return true;
}

} // namespace

struct ParallelPacker::Impl : Crew {
    std::vector<PackState> sources;
    std::size_t schedule = 0;                  // the next source to give blocks to workers
    std::size_t claim = 0;                     // the first source the writer may still ask for
    std::deque<std::shared_ptr<Block>> window; // blocks given out and not yet written, in order

    Impl(std::vector<PackSource> list, int threads, std::size_t budget) : Crew(budget, readBlockSize(1), threads) {
        sources.reserve(list.size());
        for (PackSource& s : list) {
            sources.emplace_back();
            sources.back().src = std::move(s);
        }
        start(threads, [this] { work(); });
    }

    // Finds the length and the blocks of a source (under the lock: opening is short,
    // and blocks must be given out in order).
    void open(PackState& s) {
        s.opened = true;
        try {
            const std::filesystem::path path = platform::toPath(s.src.path);
            std::error_code ec;
            if (!std::filesystem::is_regular_file(path, ec))
                throw std::runtime_error("not a regular file");
            auto file = std::make_shared<platform::File>(platform::File::openRead(path));
            s.length = file->size();
            s.file = std::move(file);
        } catch (...) {
            s.unreadable = true; // the writer's own attempt finds out why
            return;
        }
        s.blockSize = readBlockSize(s.src.level);
        s.blocks = std::size_t((s.length + s.blockSize - 1) / s.blockSize);
    }

    // The next block to compress, or null when there is none left (or a stop).
    std::shared_ptr<Block> nextBlock(std::unique_lock<std::mutex>& lock, std::shared_ptr<const platform::File>& file,
                                     int& level) {
        while (!stop && schedule < sources.size()) {
            PackState& s = sources[schedule];
            if (!s.opened)
                open(s);
            if (s.unreadable || s.nextBlock >= s.blocks) {
                s.file.reset();
                ++schedule;
                dataReady.notify_all();
                continue;
            }
            std::size_t cost = s.blockSize + s.blockSize / 8;
            if (used + cost > budget && !window.empty()) {
                workReady.wait(lock);
                continue;
            }
            auto block = std::make_shared<Block>();
            block->out = pool.take();
            cost = std::max(cost, block->out.capacity()); // a reused buffer counts as what it holds
            block->source = schedule;
            block->offset = std::uint64_t(s.nextBlock) * s.blockSize;
            block->inputSize = std::size_t(std::min<std::uint64_t>(s.blockSize, s.length - block->offset));
            block->last = s.nextBlock + 1 == s.blocks;
            block->cost = cost;
            used += cost;
            window.push_back(block);
            file = s.file;
            level = s.src.level;
            if (++s.nextBlock == s.blocks) {
                s.file.reset();
                ++schedule;
            }
            return block;
        }
        return nullptr;
    }

    void work() {
        std::vector<std::uint8_t> input;
        std::unique_ptr<Deflater> deflater;
        std::unique_lock lock(mu);
        for (;;) {
            std::shared_ptr<const platform::File> file;
            int level = 0;
            const std::shared_ptr<Block> block = nextBlock(lock, file, level);
            if (!block)
                return;
            lock.unlock();
            if (packBlockProbe)
                packBlockProbe(block->source, block->offset);
            Block::State state = Block::Done;
            std::exception_ptr error;
            try {
                if (!packBlock(*block, *file, level, input, deflater))
                    state = Block::Short;
            } catch (...) {
                error = std::current_exception();
                state = Block::Failed;
                deflater.reset();
            }
            file.reset();
            lock.lock();
            block->state = state;
            block->error = error;
            if (block->released)
                giveBack(*block);
            dataReady.notify_all();
        }
    }

    // Drops every source before `limit` and whatever of them waits.
    void dropBefore(std::size_t limit) {
        while (!window.empty() && window.front()->source < limit)
            release(window.front());
        for (std::size_t i = claim; i < limit && i < sources.size(); ++i) {
            sources[i].nextBlock = sources[i].blocks;
            sources[i].file.reset();
        }
        schedule = std::max(schedule, limit);
        claim = std::max(claim, limit);
        workReady.notify_all();
    }

    // Takes the front block out of the window. A block its worker still fills keeps its
    // place in the budget until the worker has finished with it.
    void release(std::shared_ptr<Block> block) {
        window.pop_front();
        if (block->state == Block::Running)
            block->released = true;
        else
            giveBack(*block);
    }

    // The block's budget and buffer become free again.
    void giveBack(Block& block) {
        used -= block.cost;
        pool.give(std::move(block.out));
        workReady.notify_all();
    }

    // Writes the blocks of source `e`, in order as the workers finish them, with progress
    // between them; answers the CRC-32 of what was written. Stops at a cancel, a failed
    // write or a short block (outcome says which); a worker's error is raised.
    std::uint32_t writeBlocks(std::unique_lock<std::mutex>& lock, std::size_t e, const WriteFn& write,
                              const ProgressFn& progress, CompressOutcome& outcome) {
        PackState& s = sources[e];
        auto pump = [&] { return !progress || progress(outcome.bytesRead); };
        auto frontIsOurs = [&] { return !window.empty() && window.front()->source == e; };
        std::uint32_t crc = 0;
        for (std::size_t b = 0; b < s.blocks; ++b) {
            lock.unlock();
            const bool go = pump();
            lock.lock();
            if (!go || !waitPumping(
                           lock, [&] { return frontIsOurs() && window.front()->state != Block::Running; }, pump)) {
                outcome.cancelled = true;
                break;
            }
            const std::shared_ptr<Block> block = window.front();
            if (block->state == Block::Failed) {
                const std::exception_ptr error = block->error;
                dropBefore(e + 1);
                lock.unlock();
                std::rethrow_exception(error);
            }
            if (block->state == Block::Short)
                break; // bytesRead < length: the caller's error
            lock.unlock();
            bool ok = true;
            for (std::size_t step = kProgressStep; ok && step < block->inputSize; step += kProgressStep)
                ok = !progress || progress(outcome.bytesRead + step);
            if (!ok)
                outcome.cancelled = true;
            else if (write(block->out.data(), block->out.size()) != block->out.size())
                outcome.writeFailed = true;
            lock.lock();
            if (outcome.cancelled || outcome.writeFailed)
                break;
            crc = b == 0 ? block->crc : std::uint32_t(crc32_combine(crc, block->crc, z_off_t(block->inputSize)));
            outcome.bytesRead += block->inputSize;
            outcome.compressedBytes += block->out.size();
            release(block);
        }
        return crc;
    }
};

ParallelPacker::ParallelPacker(std::vector<PackSource> sources, int threads, std::size_t budget)
    : m(std::make_unique<Impl>(std::move(sources), threads, budget)) {}

ParallelPacker::~ParallelPacker() { m->finish(); }

bool ParallelPacker::write(const std::string& name, int level, std::uint64_t length, const WriteFn& write,
                           const ProgressFn& progress, CompressOutcome& outcome) {
    std::unique_lock lock(m->mu);
    std::size_t e = m->claim;
    while (e < m->sources.size() && m->sources[e].src.name != name)
        ++e;
    if (e == m->sources.size())
        return false;
    m->dropBefore(e);
    PackState& s = m->sources[e];
    auto pump = [&] { return !progress || progress(outcome.bytesRead); };
    outcome = {};
    // The source is read ahead once it is opened; the writer's own file must still have
    // the length the blocks were cut for.
    auto frontIsOurs = [&] { return !m->window.empty() && m->window.front()->source == e; };
    if (!m->waitPumping(
            lock, [&] { return s.opened && (s.unreadable || s.blocks == 0 || frontIsOurs()); }, pump)) {
        m->dropBefore(e + 1);
        outcome.cancelled = true;
        return true;
    }
    if (s.unreadable || s.length != length || s.src.level != level) {
        m->dropBefore(e + 1);
        return false;
    }
    const std::uint32_t crc = m->writeBlocks(lock, e, write, progress, outcome);
    m->dropBefore(e + 1);
    outcome.crc = crc;
    return true;
}

} // namespace archiver
