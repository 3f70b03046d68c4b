#include "archiver/parallel_inflate.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "archiver/parallel_crew.h"

namespace archiver {
namespace {

// A piece of an entry's inflated data waiting for the writer.
struct Chunk {
    std::vector<std::uint8_t> data;
    std::uint64_t consumed = 0; // input read when it was produced, for progress
};

// One entry being inflated ahead, or waiting for the writer. Made when a worker takes
// its source, so that only the entries near the writer have one.
struct InflateJob {
    std::size_t index = 0; // its place among the sources
    bool dropped = false;  // the writer will not take it (any more)
    bool finished = false;
    bool unplanned = false; // its item could not be located: the writer reads it itself
    std::deque<Chunk> chunks;
    DecompressOutcome outcome;
    std::exception_ptr error;
};

} // namespace

struct ParallelInflater::Impl : pipeline::Crew {
    const platform::File& archive;
    const std::vector<int> sources; // the directory items, in the order they are written
    const LocateFn locate;
    // The jobs from `windowStart` on, in source order; a worker holds its own share of
    // the job it runs, so that dropping it here never pulls it away under the worker.
    std::deque<std::shared_ptr<InflateJob>> window;
    std::size_t windowStart = 0;
    std::size_t next = 0; // the next source for a worker
    std::size_t head = 0; // the source the writer is on or comes to next

    Impl(const platform::File& archive, std::vector<int> items, LocateFn locateFn, int threads, std::size_t budget)
        : Crew(budget, kProgressStep, threads), archive(archive), sources(std::move(items)),
          locate(std::move(locateFn)) {
        start(threads, [this] { work(); });
    }

    bool isHead(const InflateJob& job) const { return job.index == head; }

    // The next job for a worker, or null at the end (or a stop). Waits while the workers
    // are kInflateEntriesAhead entries ahead of the writer.
    std::shared_ptr<InflateJob> takeJob(std::unique_lock<std::mutex>& lock) {
        // Sources the writer has passed are never started.
        auto first = [&] { return std::max(next, head); };
        workReady.wait(lock,
                       [&] { return stop || first() >= sources.size() || first() < head + kInflateEntriesAhead; });
        if (stop || first() >= sources.size())
            return nullptr;
        next = first();
        if (window.empty())
            windowStart = next;
        auto job = std::make_shared<InflateJob>();
        job->index = next++; // the window stays contiguous: windowStart + window.size() == next
        window.push_back(job);
        dataReady.notify_all(); // the writer may be waiting for this job to exist
        return job;
    }

    // The job of source `index` once a worker has taken it; null when it was dropped.
    std::shared_ptr<InflateJob> jobAt(std::size_t index) const {
        if (index < windowStart || index - windowStart >= window.size())
            return nullptr;
        return window[index - windowStart];
    }

    // A worker's output: copied into a chunk once the budget has room (the entry being
    // written only waits for the writer to catch up). 0 when the job is dropped.
    std::size_t push(InflateJob& job, const std::uint8_t* data, std::size_t size, std::uint64_t consumed) {
        std::unique_lock lock(mu);
        workReady.wait(lock, [&] {
            return stop || job.dropped ||
                   (isHead(job) ? job.chunks.size() < pipeline::kHeadChunks : used + kProgressStep <= budget);
        });
        if (stop || job.dropped)
            return 0;
        Chunk chunk{pool.take(), consumed};
        used += kProgressStep;
        lock.unlock();
        chunk.data.assign(data, data + size);
        lock.lock();
        if (job.dropped) { // dropped while copying: the chunk is not wanted any more
            used -= kProgressStep;
            pool.give(std::move(chunk.data));
            workReady.notify_all();
            return 0;
        }
        job.chunks.push_back(std::move(chunk));
        dataReady.notify_all();
        return size;
    }

    // Inflates one source on a worker, the lock released; the outcome or the error is
    // left in the job.
    void inflate(InflateJob& job) {
        DecompressOutcome out;
        std::exception_ptr error;
        std::optional<InflateSource> src;
        try {
            src = locate(sources[job.index]);
        } catch (...) {
            src.reset(); // the writer meets the failure itself
        }
        if (src) {
            try {
                out = decompressSource(job, *src);
            } catch (...) {
                error = std::current_exception();
            }
        }
        std::lock_guard lock(mu);
        job.unplanned = !src;
        job.outcome = out;
        job.error = error;
        job.finished = true;
        dataReady.notify_all();
    }

    DecompressOutcome decompressSource(InflateJob& job, const InflateSource& src) {
        std::uint64_t at = src.start;
        std::uint64_t consumed = 0;
        ReadFn read = [&](std::uint8_t* buffer, std::size_t n) {
            const std::size_t got = archive.pread(at, buffer, n);
            at += got;
            return got;
        };
        WriteFn put = [&](const std::uint8_t* data, std::size_t n) { return push(job, data, n, consumed); };
        ProgressFn progress = [&](std::uint64_t done) {
            consumed = done;
            std::lock_guard guard(mu);
            return !stop && !job.dropped;
        };
        return decompressBlocks(src.method, src.compressedSize, src.uncompressedSize, src.crc, read, put, progress);
    }

    void work() {
        std::unique_lock lock(mu);
        while (const std::shared_ptr<InflateJob> job = takeJob(lock)) {
            lock.unlock();
            inflate(*job);
            lock.lock();
        }
    }

    void drop(InflateJob& job) {
        job.dropped = true;
        for (Chunk& c : job.chunks) {
            used -= kProgressStep;
            pool.give(std::move(c.data));
        }
        job.chunks.clear();
    }

    // The writer moves on to source `to`: every job before it is dropped and forgotten.
    void advance(std::size_t to) {
        head = std::max(head, to);
        while (!window.empty() && windowStart < head) {
            drop(*window.front());
            window.pop_front();
            ++windowStart;
        }
        if (window.empty())
            windowStart = std::max(windowStart, head);
        workReady.notify_all();
    }

    // Hands the chunks of `job` to `write` as they come; false when cancelled or when a
    // write falls short (outcome says which).
    bool deliver(std::unique_lock<std::mutex>& lock, InflateJob& job, const WriteFn& write, const ProgressFn& progress,
                 DecompressOutcome& outcome) {
        std::uint64_t consumed = 0;
        auto pump = [&] { return !progress || progress(consumed); };
        for (;;) {
            if (!waitPumping(
                    lock, [&] { return !job.chunks.empty() || job.finished; }, pump)) {
                outcome.cancelled = true;
                return false;
            }
            if (job.chunks.empty())
                return true;
            Chunk chunk = std::move(job.chunks.front());
            job.chunks.pop_front();
            lock.unlock();
            consumed = chunk.consumed;
            const bool go = !progress || progress(consumed);
            const bool written = go && write(chunk.data.data(), chunk.data.size()) == chunk.data.size();
            lock.lock();
            used -= kProgressStep;
            pool.give(std::move(chunk.data));
            workReady.notify_all();
            if (!go) {
                outcome.cancelled = true;
                return false;
            }
            if (!written) {
                outcome.problem = DataProblem::WriteFailed;
                return false;
            }
        }
    }
};

ParallelInflater::ParallelInflater(const platform::File& archive, std::vector<int> items, LocateFn locate, int threads,
                                   std::size_t budget)
    : m(std::make_unique<Impl>(archive, std::move(items), std::move(locate), threads, budget)) {}

ParallelInflater::~ParallelInflater() { m->finish(); }

bool ParallelInflater::write(int item, const WriteFn& write, const ProgressFn& progress, DecompressOutcome& outcome) {
    std::unique_lock lock(m->mu);
    // The items come in rising order; one that is not planned is left alone.
    const auto found = std::lower_bound(m->sources.begin() + std::ptrdiff_t(m->head), m->sources.end(), item);
    if (found == m->sources.end() || *found != item)
        return false;
    const auto j = std::size_t(found - m->sources.begin());
    m->advance(j);
    outcome = {};
    // The workers reach source j in their own time (it is within their reach now).
    auto pump = [&] { return !progress || progress(0); };
    if (!m->waitPumping(
            lock, [&] { return m->next > j; }, pump)) {
        outcome.cancelled = true;
        m->advance(j + 1);
        return true;
    }
    const std::shared_ptr<InflateJob> job = m->jobAt(j);
    if (!job)
        return false;
    if (!m->waitPumping(
            lock, [&] { return job->finished || !job->chunks.empty(); }, pump)) {
        outcome.cancelled = true;
        m->advance(j + 1);
        return true;
    }
    if (job->unplanned) {
        m->advance(j + 1);
        return false;
    }
    const bool complete = m->deliver(lock, *job, write, progress, outcome);
    const std::exception_ptr error = job->error;
    if (complete)
        outcome = job->outcome;
    m->advance(j + 1);
    if (complete && error) {
        lock.unlock();
        std::rethrow_exception(error);
    }
    return true;
}

} // namespace archiver
