// Advisory locks that the system releases when the process dies, so a crash never
// leaves a lock behind. Used to keep two copies of Kestrane, or two writers of one
// archive, from working on the same files at once.
//
// POSIX: flock on the file or folder itself. Windows: LockFileEx on a lock file, since
// a folder cannot be locked and a locked open file cannot be replaced by rename: for a
// folder ".kestrane-lock" inside it, for a file "." + its name + ".kestrane-lock" beside
// it, deleted when the lock goes. There the lock belongs to the name, not to the file
// the name holds (kLockFollowsName).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform {

#ifdef _WIN32
inline constexpr bool kLockFollowsName = true;
#else
inline constexpr bool kLockFollowsName = false;
#endif

class FileLock {
public:
    enum class Mode { Shared, Exclusive };

    // Takes the lock on an existing file or folder, waiting at most `wait` for another
    // holder to let go. A file that another writer replaced by rename while we waited
    // is locked afresh, so the lock always covers what the path names now (where the lock
    // follows the name, a file renamed over the path is covered by the lock as it is).
    // nullopt when the lock is still held by another after `wait`; throws FileError
    // when the path cannot be opened.
    static std::optional<FileLock> acquire(const std::filesystem::path& path, Mode mode,
                                           std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    // The lock file that a lock on the file `path` takes where the lock follows the name
    // (a file the archiver packs never holds its archive's); empty where the lock is on
    // the file itself.
    static std::filesystem::path lockFileOf(const std::filesystem::path& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    // A descriptor on POSIX, the lock file's HANDLE on Windows (-1 for none on both).
    using Handle = std::intptr_t;
    static constexpr Handle kNone = -1;
    explicit FileLock(Handle handle, std::filesystem::path lockFile = {})
        : m_handle(handle), m_lockFile(std::move(lockFile)) {}
    void release() noexcept;

    Handle m_handle = kNone;
    std::filesystem::path m_lockFile; // Windows: deleted when the lock goes
};

} // namespace platform
