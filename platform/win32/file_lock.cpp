// Locks by LockFileEx on a lock file named after the locked path (see file_lock.h).
#include "platform/file_lock.h"

#include "platform/file_stream.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <cstring>
#include <thread>

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void fail(const std::filesystem::path& path, DWORD error) {
    const int e = win32::errnoFromWin32(error);
    throw FileError(e, path, "Cannot lock \"" + pathText(path) + "\": " + std::strerror(e));
}

std::filesystem::path lockFileOfEntry(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(path, ::GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return path / ".kestrane-lock";
    return FileLock::lockFileOf(path);
}

// Whether the open handle is the file the path names now (a holder that let go deletes
// the lock file, and the next one makes a new file of that name).
bool sameFile(HANDLE held, const std::filesystem::path& path) {
    const HANDLE named = ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = ::GetFileInformationByHandle(held, &a) && ::GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(named);
    return same;
}

bool lockWhole(HANDLE h, DWORD flags) {
    OVERLAPPED whole{};
    return ::LockFileEx(h, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

} // namespace

std::filesystem::path FileLock::lockFileOf(const std::filesystem::path& path) {
    return path.parent_path() / toPath("." + pathText(path.filename()) + ".kestrane-lock");
}

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& path, Mode mode,
                                          std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const std::filesystem::path lockFile = lockFileOfEntry(path);
    for (;;) {
        const HANDLE h = ::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            // A lock file being deleted by its last holder cannot be opened until it is gone.
            if (::GetLastError() != ERROR_ACCESS_DENIED)
                fail(path, ::GetLastError());
        } else {
            FileLock lock(reinterpret_cast<std::intptr_t>(h), lockFile);
            if (lockWhole(h, mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0)) {
                if (sameFile(h, lockFile))
                    return lock;
                lock.m_lockFile.clear(); // the name is another file's now: not ours to delete
                continue;                // deleted by the holder we waited for: lock the new file
            }
            if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING)
                fail(path, ::GetLastError());
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FileLock::release() noexcept {
    if (m_handle == kNone)
        return;
    const HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    OVERLAPPED whole{};
    ::UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    // The last holder deletes the lock file; one that shares it with another leaves it.
    if (!m_lockFile.empty() && lockWhole(h, LOCKFILE_EXCLUSIVE_LOCK))
        ::DeleteFileW(m_lockFile.c_str());
    ::CloseHandle(h);
    m_handle = kNone;
}

} // namespace platform
