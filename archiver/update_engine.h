// The update engine: rewrites an archive after a batch of changes, and turns one
// entry's stored bytes back into file data.
//
// An update leaves every byte before the first changed entry untouched, keeps a backup
// of the tail in a temporary file ("FC..."), rewrites from there (new entries compressed
// from their sources, unchanged ones copied from the backup), and writes a new central
// directory. A failure or an abort restores the tail from the backup and the directory
// to what it was at BeginUpdate.
#pragma once

#include <cstdint>
#include <optional>

#include "archiver/central_directory.h"
#include "archiver/deflate_streams.h"
#include "archiver/zip_archiver.h"
#include "platform/file_stream.h"

namespace archiver {

// One run of PerformUpdate over the archiver's open archive.
class UpdateEngine {
public:
    explicit UpdateEngine(TZABaseArchiver& archiver);
    // Writes the pending changes; see the file comment. Errors other than per-item ones
    // (the failure decision handles those) roll back and propagate.
    void run();

private:
    bool writeNewEntry(int i);
    bool writeNewEntryOnce(int i);
    // The backup item of `name`: the exact name, else with ignoreCase the name found ignoring case.
    int findBackupItem(const std::string& name, bool ignoreCase = false) const;
    void copyExistingEntry(int i);
    void rollback();
    void copyBytes(platform::Stream& from, std::uint64_t fromPos, platform::Stream& to, std::uint64_t length);
    void setLocalOffset(TDirItem& item, std::uint64_t position) const;
    void overall(int progress, TZAProcessOperation op, TZAProgressPhase phase);

    TZABaseArchiver& m_archiver;
    TZADirManager& m_dir;
    platform::Stream& m_archive;
    int m_firstChanged = 0;
    std::uint64_t m_truncation = 0;
    std::optional<platform::TempFile> m_backup;
    bool m_archiveChanged = false;  // truncated at m_truncation (the backup is complete)
    TZAAction m_action = fxaIgnore;
    int m_toProcess = 0;
    int m_done = 0;
};

// Reads the local header at the archive's current position, then inflates (method 8) or
// copies (method 0) the entry's data into `destination` (nullptr: only check), cutting the
// data at `directoryPosition`. True when the data is complete and its length and CRC-32
// are the item's. Method 9 raises EZAException 55; other methods and encrypted entries
// give false. `componentName` goes into error messages.
bool DecompressEntry(platform::Stream& archive, platform::Stream* destination, const TDirItem& item,
                     std::uint64_t directoryPosition, const ProgressFn& progress = {},
                     const std::string& componentName = {});

// The longest source path the engine opens (error 61 beyond it).
inline constexpr std::size_t kMaxSourcePath = 4095;

} // namespace archiver
