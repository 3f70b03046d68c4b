// What the locks share on every system: ownership moves, and the lock goes with its object.
// Taking and releasing are in posix/file_lock.cpp and win32/file_lock.cpp.
#include "platform/file_lock.h"

#include <utility>

namespace platform {

FileLock::FileLock(FileLock&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNone)), m_lockFile(std::move(other.m_lockFile)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_handle = std::exchange(other.m_handle, kNone);
        m_lockFile = std::move(other.m_lockFile);
    }
    return *this;
}

FileLock::~FileLock() { release(); }

} // namespace platform
