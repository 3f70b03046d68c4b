// Locks by flock on the file or folder itself.
#include "platform/file_lock.h"

#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace platform {
namespace {

bool sameFile(int fd, const std::filesystem::path& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

} // namespace

std::filesystem::path FileLock::lockFileOf(const std::filesystem::path&) { return {}; }

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& path, Mode mode,
                                          std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const int operation = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (;;) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            int e = errno;
            throw FileError(e, path, "Cannot lock \"" + pathText(path) + "\": " + std::strerror(e));
        }
        FileLock lock(fd);
        if (::flock(fd, operation) == 0) {
            if (sameFile(fd, path))
                return lock;
            continue; // replaced while we waited: lock the new file
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            int e = errno;
            throw FileError(e, path, "Cannot lock \"" + pathText(path) + "\": " + std::strerror(e));
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FileLock::release() noexcept {
    if (m_handle != kNone)
        ::close(int(m_handle)); // closing the last descriptor releases the flock
    m_handle = kNone;
}

} // namespace platform
