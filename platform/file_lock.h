// Advisory locks (flock) that the kernel releases when the process dies, so a crash
// never leaves a lock behind. Used to keep two copies of Kestrane, or two writers of
// one archive, from working on the same files at once.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

namespace platform {

class FileLock {
public:
    enum class Mode { Shared, Exclusive };

    // Takes the lock on an existing file or folder, waiting at most `wait` for another
    // holder to let go. A file that another writer replaced by rename while we waited
    // is locked afresh, so the lock always covers what the path names now.
    // nullopt when the lock is still held by another after `wait`; throws FileError
    // when the path cannot be opened.
    static std::optional<FileLock> acquire(const std::filesystem::path& path, Mode mode,
                                           std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace platform
