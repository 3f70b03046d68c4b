// Long waits on the operating system (flushing a large file or a whole file system to
// disk) run beside the calling thread, which keeps doing something small meanwhile: a
// window pumps its messages, so that its busy bar keeps moving.
#pragma once

#include <chrono>
#include <functional>
#include <future>

namespace platform {

// How often the calling thread does its small thing while the work runs.
inline constexpr std::chrono::milliseconds kBesideStep{10};

// Runs `work` on a thread of its own and calls `meanwhile` every kBesideStep until it is
// done; answers what `work` answers and rethrows what it throws.
template <class Work>
auto runBeside(Work work, const std::function<void()>& meanwhile) {
    auto done = std::async(std::launch::async, std::move(work));
    while (done.wait_for(kBesideStep) != std::future_status::ready)
        meanwhile();
    return done.get();
}

} // namespace platform
