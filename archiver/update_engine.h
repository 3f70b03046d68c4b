// The update engine: rewrites an archive after a batch of changes, and turns one
// entry's stored bytes back into file data.
//
// An update never writes the archive in place. It builds the new archive in a temporary
// file beside the old one: the bytes before the first changed entry and every unchanged
// entry are copied byte for byte, new entries are compressed from their sources, then
// the central directory and end record follow. The file is flushed to disk and renamed
// over the archive. A failure, an abort or a kill before the rename leaves the archive
// as it was (and the directory as it was at BeginUpdate).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "archiver/archive_file.h"
#include "archiver/central_directory.h"
#include "archiver/deflate_streams.h"
#include "archiver/extra_fields.h"
#include "archiver/parallel_deflate.h"
#include "platform/file_stream.h"

namespace archiver {

enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
// The answer of the failure decision.
enum TZAAction { fxaRetry = 0, fxaIgnore = 1, fxaAbort = 2 };
enum TZAProgressPhase { ppStart, ppProcess, ppEnd };

class EZAException;

// What the engine needs of its archiver for one update.
struct UpdateContext {
    TZADirManager& dir;   // current directory (the batch) and backup (as at BeginUpdate)
    ArchiveFile& archive; // the open archive, replaced when the update succeeds
    TZip64Mode zip64Mode = zmDisabled;
    bool oemFileNames = true;
    std::string componentName; // put in front of error messages
    // Set by the progress callbacks (through the archiver's handlers) to stop the update.
    const bool& cancelled;
    std::function<void(const std::string& name, int percent, TZAProcessOperation op, TZAProgressPhase phase)>
        fileProgress;
    std::function<void(int percent, TZAProcessOperation op, TZAProgressPhase phase)> overallProgress;
    std::function<TZAAction(const std::string& name, TZAProcessOperation op, const EZAException& e)> failureDecision;
    // Threads that compress new entries (1: all on the calling thread) and the bytes of
    // compressed data they may hold ahead of the writing.
    int threads = 1;
    std::size_t bufferBudget = kDefaultBufferBudget;
};

// One run of PerformUpdate over an open archive.
class UpdateEngine {
public:
    explicit UpdateEngine(UpdateContext context);
    // Writes the pending changes; see the file comment. True when the archive was
    // replaced, false when the update was cancelled or aborted (nothing changed). Errors
    // other than per-item ones (the failure decision handles those) restore the
    // directory and propagate.
    bool run();

private:
    void requireSoundArchive() const;
    int findFirstChanged() const;
    std::uint64_t keptLength() const;
    void requireSpace(std::uint64_t keep) const;
    bool writeEntries();
    std::vector<PackSource> packSources() const;
    struct Source;
    bool writeNewEntry(int i);
    // The name a new entry's failure is reported under: its source file, or its name.
    const std::string& sourceNameOf(int i) const;
    // Removes what was written of new entry i and puts its failure to the decision.
    bool giveUpNewEntry(int i, std::uint64_t start, const EZAException& e);
    bool writeNewEntryOnce(int i);
    void openSource(TDirItem& item, Source& src) const;
    LocalHeader startLocalHeader(TDirItem& item, std::uint64_t length, const StoredName& stored) const;
    bool writeData(TDirItem& item, Source& src, LocalHeader& h, std::uint64_t headerPos);
    void copyExistingEntry(int i);
    // The backup item of `name`: the exact name, else with ignoreCase the name found ignoring case.
    int findBackupItem(const std::string& name, bool ignoreCase = false) const;
    void copyBytes(std::uint64_t fromPos, std::uint64_t length);
    void writeAll(const std::vector<std::uint8_t>& bytes);
    [[noreturn]] void writeFailed();
    void setLocalOffset(TDirItem& item, std::uint64_t position) const;

    UpdateContext m_ctx;
    TZADirManager& m_dir;
    platform::Stream& m_archive; // the archive as it is: only read
    std::optional<platform::TempFile> m_replacement;
    std::unique_ptr<ParallelPacker> m_packer; // compresses ahead while entries are written
    platform::Stream* m_out = nullptr;        // the replacement being written
    int m_firstChanged = 0;
    TZAAction m_action = fxaIgnore;
    int m_toProcess = 0;
    int m_done = 0;
    Utf8Folders m_utf8Folders; // folders the new entries name in UTF-8
};

// The longest source path the engine opens (error 61 beyond it).
inline constexpr std::size_t kMaxSourcePath = 4095;

} // namespace archiver
