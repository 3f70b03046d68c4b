// The file of an open archive: its path, the open file and, for a writer, the exclusive
// advisory lock that keeps a second writer out until the archive is closed. Closes
// itself (file and lock) when it goes.
//
// An archive is never written in place: an update builds the new archive in a temporary
// file beside it ("." + name + ".FC" + six characters) and puts it in place by rename,
// so that a failure or a kill leaves the original whole. Leftovers of killed updates
// carry that name and are removed by the next writer of the same archive.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_lock.h"
#include "platform/file_stream.h"

namespace archiver {

// How long a writer waits for another writer of the same archive to finish.
inline constexpr std::chrono::milliseconds kWriterLockWait{3000};

class ArchiveFile {
public:
    // Opens an existing archive for reading; no lock (a reader sees the archive as it was
    // when opened, whatever a writer puts in its place). Throws platform::FileError.
    static ArchiveFile openForReading(const std::filesystem::path& path);
    // Opens the archive for an update, creating an empty file when it does not exist
    // (`mayCreate`), and takes the writer lock, waiting up to kWriterLockWait. Leftover
    // temporary files of killed updates are removed. Raises EZAException 36 when another
    // writer holds the archive; platform::FileError when it cannot be opened.
    static ArchiveFile openForWriting(const std::filesystem::path& path, bool mayCreate);

    ArchiveFile(ArchiveFile&&) noexcept = default;
    ArchiveFile& operator=(ArchiveFile&&) noexcept = default;

    // The path the archive was opened under, and the file the replacement goes to (the
    // target when that path is a link).
    const std::filesystem::path& path() const { return m_path; }
    const std::filesystem::path& target() const { return m_target; }
    platform::File& file() { return m_file; }
    const platform::File& file() const { return m_file; }
    bool writable() const { return m_lock.has_value(); }
    // True when openForWriting made the file (it did not exist before).
    bool madeByOpen() const { return m_madeByOpen; }

    // A new temporary file beside the archive for its replacement. Throws platform::FileError.
    platform::TempFile startReplacement() const;
    // Puts the finished replacement in place of the archive (durably: data, rename,
    // folder), moves the writer lock to it and reopens the file. Throws platform::FileError;
    // the original is then still in place.
    void commitReplacement(platform::TempFile& replacement);

    // The start of the temporary names of the archive at `target`.
    static std::string replacementPrefix(const std::filesystem::path& target);

private:
    ArchiveFile(std::filesystem::path path, std::filesystem::path target, platform::File file)
        : m_path(std::move(path)), m_target(std::move(target)), m_file(std::move(file)) {}

    std::filesystem::path m_path;
    std::filesystem::path m_target;
    platform::File m_file;
    std::optional<platform::FileLock> m_lock;
    bool m_madeByOpen = false;
};

} // namespace archiver
