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
    bool decided = false;   // the worker has chosen between a file and chunks
    bool toFile = false;    // written into `file`, not handed over in chunks
    std::optional<platform::TempFile> file;
    std::uint64_t aheadBytes = 0; // its share of the data written ahead
    // The input read at each progress step of writing the file, for the writer to
    // report as its own when it takes the file.
    std::vector<std::uint64_t> marks;
    std::deque<Chunk> chunks;
    DecompressOutcome outcome;
    std::exception_ptr error;
};

} // namespace

struct ParallelInflater::Impl : pipeline::Crew {
    const platform::File& archive;
    const std::vector<int> sources; // the directory items, in the order they are written
    const LocateFn locate;
    const OpenAheadFn openAhead;
    std::uint64_t aheadUsed = 0; // bytes in files written ahead that the writer has not taken
    // The jobs from `windowStart` on, in source order; a worker holds its own share of
    // the job it runs, so that dropping it here never pulls it away under the worker.
    std::deque<std::shared_ptr<InflateJob>> window;
    std::size_t windowStart = 0;
    std::size_t next = 0; // the next source for a worker
    std::size_t head = 0; // the source the writer is on or comes to next

    Impl(const platform::File& archive, std::vector<int> items, LocateFn locateFn, int threads, std::size_t budget,
         OpenAheadFn openAheadFn)
        : Crew(budget, kProgressStep, threads), archive(archive), sources(std::move(items)),
          locate(std::move(locateFn)), openAhead(std::move(openAheadFn)) {
        start(threads, [this] { work(); });
    }

    bool isHead(const InflateJob& job) const { return job.index == head; }

    // Releases the lock after news of `job`, and wakes the writer when the job is the
    // one it is on: the writer only ever waits for that entry, and news of any other
    // waits until it comes to it and looks. The signal goes after the lock is released,
    // so that the writer does not wake only to wait for the lock.
    void unlockTelling(std::unique_lock<std::mutex>& lock, const InflateJob& job) {
        const bool headNews = isHead(job);
        lock.unlock();
        if (headNews)
            dataReady.notify_all();
    }

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
        unlockTelling(lock, job);
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
        std::optional<platform::TempFile> file = src ? fileFor(job, *src) : std::nullopt;
        if (src) {
            try {
                out = file ? writeSource(job, *src, file->file()) : decompressSource(job, *src);
            } catch (...) {
                error = std::current_exception();
            }
        }
        std::unique_lock lock(mu);
        if (file)
            job.file.emplace(std::move(*file));
        job.unplanned = !src;
        job.outcome = out;
        job.error = error;
        job.finished = true;
        unlockTelling(lock, job);
    }

    // A file of its own for the job when there is room ahead for its data (the entry being
    // written always has it); the writer learns the choice either way.
    std::optional<platform::TempFile> fileFor(InflateJob& job, const InflateSource& src) {
        std::optional<platform::TempFile> file;
        bool room = false;
        if (openAhead) {
            std::lock_guard lock(mu);
            room = !job.dropped && (isHead(job) || aheadUsed + src.uncompressedSize <= budget);
            if (room) {
                job.aheadBytes = src.uncompressedSize;
                aheadUsed += job.aheadBytes;
            }
        }
        if (room) {
            try {
                if (std::optional<platform::TempFile> opened = openAhead(sources[job.index]))
                    file.emplace(std::move(*opened));
            } catch (...) {
                file.reset(); // handed over in chunks instead
            }
        }
        std::unique_lock lock(mu);
        if (!file) {
            aheadUsed -= job.aheadBytes;
            job.aheadBytes = 0;
        }
        job.toFile = file.has_value();
        job.decided = true;
        unlockTelling(lock, job);
        return file;
    }

    // Inflates a source straight into its file on the worker.
    DecompressOutcome writeSource(InflateJob& job, const InflateSource& src, platform::File& file) {
        std::uint64_t at = src.start;
        ReadFn read = [&](std::uint8_t* buffer, std::size_t n) {
            const std::size_t got = archive.pread(at, buffer, n);
            at += got;
            return got;
        };
        WriteFn put = [&](const std::uint8_t* data, std::size_t n) { return file.write(data, n); };
        // The writer picks the marks up when it next looks (at its pump interval, or
        // when the file is whole) rather than being woken for each one.
        ProgressFn progress = [&](std::uint64_t done) {
            std::lock_guard guard(mu);
            job.marks.push_back(done);
            return !stop && !job.dropped;
        };
        return decompressBlocks(src.method, src.compressedSize, src.uncompressedSize, src.crc, read, put, progress);
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
            unlockTelling(lock, *job); // the writer may be waiting for this job to exist
            inflate(*job);
            lock.lock();
        }
    }

    void drop(InflateJob& job) {
        job.dropped = true;
        aheadUsed -= job.aheadBytes;
        job.aheadBytes = 0;
        job.file.reset(); // a file written ahead that is not taken is deleted
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
                                   std::size_t budget, OpenAheadFn openAhead)
    : m(std::make_unique<Impl>(archive, std::move(items), std::move(locate), threads, budget, std::move(openAhead))) {}

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
    if (job->unplanned || job->toFile) {
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

std::optional<platform::TempFile> ParallelInflater::takeFile(int item, const ProgressFn& progress,
                                                             DecompressOutcome& outcome) {
    outcome = {};
    std::unique_lock lock(m->mu);
    const auto found = std::lower_bound(m->sources.begin() + std::ptrdiff_t(m->head), m->sources.end(), item);
    if (found == m->sources.end() || *found != item)
        return std::nullopt;
    const auto j = std::size_t(found - m->sources.begin());
    m->advance(j);
    std::uint64_t shown = 0; // the last progress reported
    auto pump = [&] { return !progress || progress(shown); };
    auto cancelled = [&] {
        outcome.cancelled = true;
        m->advance(j + 1);
        return std::nullopt;
    };
    if (!m->waitPumping(
            lock, [&] { return m->next > j; }, pump))
        return cancelled();
    const std::shared_ptr<InflateJob> job = m->jobAt(j);
    if (!job)
        return std::nullopt;
    if (!m->waitPumping(
            lock, [&] { return job->decided || job->finished; }, pump))
        return cancelled();
    if (!job->toFile)
        return std::nullopt; // write() hands it over, or the caller reads it itself
    // The progress the worker met is reported as it comes, as if written here.
    for (std::size_t next = 0;;) {
        if (!m->waitPumping(
                lock, [&] { return job->finished || job->marks.size() > next; }, pump))
            return cancelled();
        while (next < job->marks.size()) {
            shown = job->marks[next++];
            lock.unlock();
            const bool go = pump();
            lock.lock();
            if (!go)
                return cancelled();
        }
        if (job->finished)
            break;
    }
    std::optional<platform::TempFile> file;
    if (job->file)
        file.emplace(std::move(*job->file));
    job->file.reset();
    const std::exception_ptr error = job->error;
    outcome = job->outcome;
    m->aheadUsed -= job->aheadBytes;
    job->aheadBytes = 0;
    m->advance(j + 1);
    lock.unlock();
    if (error)
        std::rethrow_exception(error); // the file goes with `file`
    if (outcome.problem == DataProblem::WriteFailed || outcome.cancelled) {
        outcome = {};
        return std::nullopt; // the caller writes it itself and meets the failure
    }
    return file;
}

} // namespace archiver
