// What the parallel packer and inflater share: a pool of buffers that stay with the
// pipeline, and the crew of workers with its lock, signals and memory budget. Internal to
// the archiver's parallel pipelines.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace archiver::pipeline {

// How long the writer waits before it reports progress again (so a window stays alive).
inline constexpr std::chrono::milliseconds kPumpInterval{20};
// Buffers a pool keeps beyond the budget: the entry being written may hold this many
// chunks of inflated data whatever the budget says.
inline constexpr std::size_t kHeadChunks = 8;

// Buffers handed between workers and the writer; kept for reuse instead of going back
// to the allocator, so that memory stays where it was first taken. Used under the lock.
class BufferPool {
public:
    explicit BufferPool(std::size_t keep) : m_keep(keep) {}
    std::vector<std::uint8_t> take() {
        if (m_spare.empty())
            return {};
        std::vector<std::uint8_t> b = std::move(m_spare.back());
        m_spare.pop_back();
        return b;
    }
    void give(std::vector<std::uint8_t>&& b) {
        if (m_spare.size() < m_keep)
            m_spare.push_back(std::move(b));
    }

private:
    std::size_t m_keep;
    std::vector<std::vector<std::uint8_t>> m_spare;
};

// What both pipelines share: the lock, the two signals, the budget and the workers.
struct Crew {
    std::mutex mu;
    std::condition_variable workReady; // workers: a job, budget or a stop
    std::condition_variable dataReady; // the writer: a result
    bool stop = false;
    std::size_t budget;
    std::size_t used = 0; // bytes held for the writer
    BufferPool pool;
    std::vector<std::thread> threads;

    Crew(std::size_t budget, std::size_t bufferSize, int workers)
        : budget(budget), pool(budget / std::max<std::size_t>(bufferSize, 1) + std::size_t(workers) + kHeadChunks) {}

    // Starts the workers; as many as the system gives, but at least one (else std::system_error).
    void start(int workers, const std::function<void()>& body) {
        for (int i = 0; i < workers; ++i) {
            try {
                threads.emplace_back(body);
            } catch (const std::system_error&) {
                if (threads.empty())
                    throw;
                break;
            }
        }
    }
    void finish() {
        {
            std::lock_guard lock(mu);
            stop = true;
        }
        workReady.notify_all();
        for (std::thread& t : threads)
            t.join();
    }
    // Waits until `ready` holds. Every kPumpInterval without it, `pump` runs with the
    // lock released; false when it asks to stop.
    template <class Ready>
    bool waitPumping(std::unique_lock<std::mutex>& lock, Ready ready, const std::function<bool()>& pump) {
        while (!dataReady.wait_for(lock, kPumpInterval, ready)) {
            lock.unlock();
            const bool go = pump();
            lock.lock();
            if (!go)
                return false;
        }
        return true;
    }
};

} // namespace archiver::pipeline
