// A folder held open, so that the many files made in it are named relative to it: the
// folder's path is resolved once, not again for every file (openat and its kin on
// POSIX). On Windows it keeps the folder's path and joins each name to it, since the
// documented Win32 calls take whole paths (CreateFileW, MoveFileExW).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/file_stream.h"
#include "platform/file_system.h"

namespace platform {

// What an entry of a folder is, links followed (a dangling link is reported as itself).
struct EntryStatus {
    std::uint32_t attributes = 0; // the attribute word, as fileAttributes gives it
    FileIdentity identity;        // of what the name leads to, as std::filesystem::equivalent compares
    std::time_t lastWrite = 0;
};

class FolderHandle {
public:
    // Opens the existing folder `folder` (links on its path followed). Throws FileError.
    explicit FolderHandle(const std::filesystem::path& folder);
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&&) = delete;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle();

    const std::filesystem::path& path() const { return m_path; }

    // The entry `name` (one name, no separator); nullopt when there is none.
    std::optional<EntryStatus> entryStatus(std::string_view name) const;
    // A new file in this folder named `prefix` and six characters more, made only when
    // no entry has that name, open for reading and writing and private to its owner until
    // given a mode. Deleted by TempFile's destructor unless kept. Throws FileError.
    TempFile createTemporary(const std::string& prefix) const;
    // Renames the entry `from` of this folder to `to` in `target` (which may be this
    // folder), replacing a file or a link there (not what the link points to). Answers
    // the system's reason when it fails.
    [[nodiscard]] std::error_code renameTo(std::string_view from, const FolderHandle& target,
                                           std::string_view to) const;

private:
    std::filesystem::path m_path;
    std::intptr_t m_handle = -1; // the descriptor on POSIX; unused on Windows
};

} // namespace platform
