// The archiver component: TZABaseArchiver holds the properties, the open archive and its
// directory, the update batch and the add / extract operations; TZipArchiver is the ZIP
// flavour the program uses. No user interface here: questions the archiver has to put to
// the user go to the handlers below, and without a handler to the prompts the
// application installs (message boxes in the window, a terminal in kestrane-zip).
//
// Lifecycle: FileName := ...; OpenArchive(0xFFFF) creates (or empties) the file,
// OpenArchive(0) reads an existing one; AddFiles / ExtractFiles; CloseArchive. Changes
// are batched between BeginUpdate and the outermost EndUpdate, which rewrites the archive.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archiver/archive_file.h"
#include "archiver/archive_paths.h"
#include "archiver/central_directory.h"
#include "archiver/parallel_deflate.h"
#include "archiver/parallel_inflate.h"
#include "archiver/update_engine.h"
#include "platform/file_stream.h"
#include "platform/folder_handle.h"

namespace archiver {

enum TZACompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZASpanningMode { smNone, smSpanning, smSplitting };
enum TZAVolumeSize { vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB, vs4700MB };
enum TZAFileShareMode { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZAOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };

// Open modes: create, and the two modes a file is read with.
inline constexpr std::uint16_t kOpenCreate = 0xFFFF;
inline constexpr std::uint16_t kOpenRead = 0x0000;      // read only, compatibility share
inline constexpr std::uint16_t kOpenReadWrite = 0x0022; // read-write, deny write
// The attribute set the program searches with (and the default of Options.SearchAttr).
inline constexpr std::uint32_t kDefaultSearchAttr = 10431; // 0x28BF

struct TZASpanningOptions {
    bool AdvancedNaming = true;
    std::int64_t FirstVolumeSize = 0;
    TZAVolumeSize VolumeSize = vsAutoDetect;

    std::int64_t CustomVolumeSize() const { return m_customVolumeSize; }
    // Values below 65536 are stored as 65536.
    void SetCustomVolumeSize(std::int64_t size) { m_customVolumeSize = size < 65536 ? 65536 : size; }
    // Bytes a volume may hold (0: no limit); FirstVolumeSize overrides it for volume 0.
    std::int64_t volumeLimit(int volume) const;

private:
    std::int64_t m_customVolumeSize = 65536;
};

struct TZAOptions {
    TZAStorePathMode StorePath = spRelativePath;
    bool Recurse = true;
    TZAFileShareMode ShareMode = smShareDenyNone;
    TZAOverwriteMode OverwriteMode = omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    std::uint32_t SearchAttr = kDefaultSearchAttr;
    bool FlushBuffers = true;
    bool OEMFileNames = true;
};

// Answers to the overwrite question.
enum class TZAOverwriteAnswer { Yes, No, NoToAll, YesToAll, Closed };

// The questions the archiver asks when no handler is assigned. The application installs
// them; an archiver without them behaves as if the user closed the box (failure: abort;
// overwrite: refuse).
struct TZAPrompts {
    // An Abort/Retry/Ignore box (Abort/Ignore when allowRetry is false) with `message`.
    std::function<TZAAction(const std::string& message, bool allowRetry)> askFailure;
    // The Yes/No/No to All/Yes to All box with `question`.
    std::function<TZAOverwriteAnswer(const std::string& question)> askOverwrite;
};

class EZAException;
class EntryPlaces;
struct EntryData;

// The process-wide lock held by the add gathering and by extraction for their whole run.
std::recursive_mutex& archiverOperationLock();

class TZABaseArchiver {
public:
    TZABaseArchiver();
    virtual ~TZABaseArchiver();
    TZABaseArchiver(const TZABaseArchiver&) = delete;
    TZABaseArchiver& operator=(const TZABaseArchiver&) = delete;

    // ---- Properties ----
    std::string Name; // component name, put in front of error messages when not empty
    bool ExtractCorruptedFiles = false;
    std::string FileName;
    std::string BaseDir;
    TZASpanningOptions SpanningOptions;
    TZAOptions Options;
    std::vector<std::string> FileMasks;
    std::vector<std::string> ExclusionMasks;
    std::vector<std::string> NoCompressionMasks;
    // Threads that compress and inflate entries: 0 (the default) uses every core, 1 does
    // everything on the calling thread. Events and questions always come on the calling thread.
    int Threads = 0;
    // Bytes of finished data the threads may hold for the calling thread to write.
    std::size_t BufferBudget = kDefaultBufferBudget;

    TZACompressionLevel CompressionLevel() const { return m_compressionLevel; }
    void SetCompressionLevel(TZACompressionLevel level);
    int CompressionMode() const { return m_compressionMode; }
    // Raises EZAException 5 above 9; nothing changes then.
    void SetCompressionMode(int mode);
    std::string CurrentVersion() const { return "2.73 "; }
    void SetCurrentVersion(const std::string&) {}
    TZASpanningMode SpanningMode() const { return m_spanningMode; }
    // Refused (std::runtime_error) while an archive is open.
    void SetSpanningMode(TZASpanningMode mode);
    virtual TZip64Mode Zip64Mode() const { return zmAuto; }

    // ---- Events (all optional) ----
    std::function<void(const std::string& fileName, int progress, TZAProcessOperation op, TZAProgressPhase phase,
                       bool& cancel)>
        OnFileProgress;
    std::function<void(int progress, TZAProcessOperation op, TZAProgressPhase phase, bool& cancel)> OnOverallProgress;
    std::function<void(const std::string& sourceFileName, std::string& destFileName, bool& confirm)> OnConfirmOverwrite;
    std::function<void(const std::string& fileName, TZAProcessOperation op, bool& confirm)> OnConfirmProcessFile;
    std::function<void()> AfterOpen;
    std::function<void(const std::string& fileName, TZAProcessOperation op, int nativeError, int errorCode,
                       const std::string& message, TZAAction& action)>
        OnProcessFileFailure;
    std::function<void(std::string& fileName, std::uint32_t& fileAttr, std::string& comment,
                       const std::string& originalFileName)>
        OnStoreFile;
    std::function<void(std::string& fileName, std::uint32_t& fileAttr, const std::string& comment)> OnExtractFile;

    // The application's questions for the defaults of the failure decision and the
    // overwrite question.
    TZAPrompts Prompts;

    // ---- Lifecycle ----
    // 0xFFFF creates FileName (an existing archive is replaced by the new one when it is
    // written, at the latest by CloseArchive); any other mode opens the existing file (low
    // two bits 0: read only). A mode with write access takes the writer lock until the
    // archive is closed. Errors 10 (no file name), 12 (missing file), 33 (a folder, or
    // the file cannot be opened), 19 (it cannot be created), 35 (no ZIP structure), 36
    // (another writer holds it); an open archive is finished and closed first.
    void OpenArchive(std::uint16_t mode);
    // The same for `fileName`, which becomes FileName.
    void OpenArchive(const std::string& fileName, std::uint16_t mode);
    // Finishes a pending batch and closes; never fails. An archive opened with 0xFFFF that
    // got no batch is written as an empty archive.
    void CloseArchive() noexcept;
    // Closes without writing anything: a pending batch is dropped, an archive opened with
    // 0xFFFF keeps what its file held (a file the open made is removed again).
    void AbandonArchive() noexcept;
    void BeginUpdate();
    void EndUpdate();
    void CancelUpdate();
    void RequireOpen() const;     // 13
    void RequireNoUpdate() const; // 26
    // Opens FileName when closed: read-write when possible, read-only otherwise, create
    // when it does not exist (9 without a file name).
    void EnsureOpen();
    bool IsOpen() const { return m_open; }
    // True when the open archive's central directory was missing or damaged and was
    // rebuilt from the local headers (entries may be missing).
    bool directoryRebuilt() const { return m_dir && m_dir->rebuilt(); }
    std::uint16_t OpenMode() const { return m_openMode; }
    int UpdateDepth() const { return m_updateDepth; }

    // ---- Operations ----
    // Records the files that match `fileMask` and `searchAttr` (minus `exclusionMask` and
    // the archive itself) and writes them in one batch.
    void AddFiles(const std::string& fileMask, std::uint32_t searchAttr = kDefaultSearchAttr,
                  const std::string& exclusionMask = {});
    // Extracts the entries that match `fileMask` and `searchAttr` below BaseDir.
    void ExtractFiles(const std::string& fileMask = "*.*", std::uint32_t searchAttr = kDefaultSearchAttr,
                      const std::string& exclusionMask = {});
    // Decompresses every selected-by-mask entry without writing it and checks its size
    // and CRC; failures go to the failure decision like extraction's (code 8).
    void TestFiles(const std::string& fileMask = "*.*", std::uint32_t searchAttr = kDefaultSearchAttr);

    // The directory of the open archive (nullptr when closed).
    TZADirManager* dirManager() { return m_dir.get(); }
    const TZADirArray* directory() const { return m_dir ? &m_dir->currentDir() : nullptr; }
    platform::Stream* archiveStream() { return m_stream; }
    // Set by progress handlers through their cancel argument.
    bool cancelled() const { return m_cancel; }

    // The failure decision for one item: the handler, else the defaults (45 aborts
    // silently; 61 asks Abort/Ignore; others ask Abort/Retry/Ignore).
    TZAAction failureDecision(const std::string& fileName, TZAProcessOperation op, const EZAException& e);
    // The defaults alone, for a handler that leaves some failures to them.
    TZAAction defaultFailureDecision(int nativeError, const std::string& message);
    // The overwrite question's default; may change Options.OverwriteMode. Which of the two
    // names is a path on disk (the destination when extracting, the source when adding):
    // the question shows it with the system's separators.
    bool confirmOverwrite(const std::string& sourceFileName, std::string& destFileName, bool destOnDisk);

protected:
    // The ZIP compression method the component writes for its CompressionMode; the base
    // class selects none (0xFFFF).
    virtual std::uint16_t methodForMode(int mode) const;

private:
    friend class AddOperation;

    void releaseArchive() noexcept;
    void performUpdate();
    void fileProgress(const std::string& name, int progress, TZAProcessOperation op, TZAProgressPhase phase);
    void overallProgress(int progress, TZAProcessOperation op, TZAProgressPhase phase);
    void processSelected(TZAProcessOperation op);
    void selectEntries(const std::string& mask, std::uint32_t searchAttr);
    // Extracts item i; a refused entry's failure is answered (the others are raised).
    std::optional<EZAException> extractEntry(int i, const std::string& name, const std::string& destinationBase,
                                             const EntryPlaces& places);
    // The steps of extractEntry: the folders on the way, a folder entry, the overwrite
    // rules (may change `target` through the question), and the file itself.
    void makeFolders(const std::string& name, const std::string& destinationBase, const std::string& relativeFolder);
    void extractFolderEntry(const TDirItem& item, const std::string& name, const std::string& destinationBase,
                            const std::string& relative);
    bool overwriteAllowed(const TDirItem& item, const std::string& name, const platform::EntryStatus& existing,
                          std::string& target);
    // Writes item i under a temporary name in `folder` and renames it to `leaf` there
    // (`target` is its full path, for messages).
    void writeEntryFile(int i, const EntryData& data, const platform::FolderHandle& folder, const std::string& leaf,
                        const std::string& target, std::uint32_t attributes);
    // The folder `relativeFolder` below the destination base, made and checked (as
    // makeFolders does) the first time an extraction comes to it, then held open.
    const platform::FolderHandle& openFolder(const std::string& name, const std::string& destinationBase,
                                             const std::string& relativeFolder);
    // Closes the folders held open at or below `relativeFolder` (ending in '/').
    void forgetFoldersBelow(const std::string& relativeFolder);
    // Gives the extracted folders their modes once everything in them is written.
    void applyFolderModes(const std::string& destinationBase);
    // Checks item i before anything is made for it: its method, and its place (EntryPlaces:
    // the local header against the directory). Answers failure 8 with the reason when it
    // is refused, else nothing, with `data` set.
    std::optional<EZAException> entryRefusal(int i, const EntryPlaces& places, EntryData& data);
    // Decompresses checked item i into `destination` (nullptr: only the data's check);
    // raises 8 with the reason when it fails, 19 when `target` cannot be written.
    void decompressInto(int i, const EntryData& data, platform::Stream* destination, const std::string& target);
    // The file a worker wrote checked item i into, once it is whole (nullopt when it
    // wrote none: the caller writes it itself); raises 8 as decompressInto does.
    std::optional<platform::TempFile> takeWrittenFile(int i, const EntryData& data, const std::string& target);
    // Raises what an entry's decompression outcome calls for (nothing when it is whole,
    // cancelled, or damaged and ExtractCorruptedFiles keeps it).
    void judgeOutcome(const DecompressOutcome& out, int writeError, const std::string& target);
    // Reports item i's progress as its `total` bytes of data are read; false once cancelled.
    ProgressFn entryProgress(int i, std::uint64_t total);
    TZADirSettings dirSettings() const;
    // The inflater of the selected entries when more than one thread is to be used.
    std::unique_ptr<ParallelInflater> startInflater(const EntryPlaces& places, TZAProcessOperation op);

    TZACompressionLevel m_compressionLevel = clFastest;
    int m_compressionMode = 1;
    TZASpanningMode m_spanningMode = smNone;

    bool m_open = false;
    std::uint16_t m_openMode = 0;
    int m_updateDepth = 0;
    std::optional<ArchiveFile> m_archive; // the open archive's file
    platform::Stream* m_stream = nullptr; // its stream (the archive file)
    bool m_createPending = false;         // opened with 0xFFFF, nothing written yet
    std::unique_ptr<TZADirManager> m_dir;
    bool m_tolerantOpen = true;
    bool m_cancel = false;
    bool m_batchPerformed = false;
    int m_currentVolume = 0;
    std::string m_operationBase; // resolved base folder during an add
    int m_processed = 0;
    int m_selectedCount = 0;
    // Folders extracted with a Unix mode (relative to the destination base): given it
    // once the extraction is over.
    std::vector<std::pair<std::string, std::uint32_t>> m_folderPermissions;
    ParallelInflater* m_inflater = nullptr; // during processSelected with several threads
    // During an extraction: the folders files were made in, by their path relative to the
    // destination base ("" for the base itself, else ending in '/'), and the identity of
    // the archive being read.
    std::map<std::string, platform::FolderHandle> m_openFolders;
    std::optional<platform::FileIdentity> m_archiveIdentity;
    // The destination base, where workers write files ahead; published to them (through
    // m_aheadFolder) once the extraction has made it.
    std::optional<platform::FolderHandle> m_aheadBase;
    std::atomic<const platform::FolderHandle*> m_aheadFolder = nullptr;
    // The name a file has while it is written, before it is renamed over its target.
    static constexpr const char* kPartPrefix = ".kestrane-part-";
};

class TZipArchiver : public TZABaseArchiver {
public:
    TZipArchiver() = default;
    ~TZipArchiver() override;

    TZip64Mode Zip64Mode() const override { return m_zip64Mode; }
    void SetZip64Mode(TZip64Mode mode) { m_zip64Mode = mode; }

protected:
    std::uint16_t methodForMode(int mode) const override { return mode != 0 ? 8 : 0; }

private:
    TZip64Mode m_zip64Mode = zmDisabled;
};

// What is wrong with a loaded directory as a whole, or nullopt: the text says that the
// central directory was rebuilt from the local headers and how many entries were found,
// and how many nameless entries were left out.
std::optional<std::string> directoryWarning(const TZADirManager& dir);
// The same, counting `found` as the entries found: during an update the archive's own
// entries are the backup, the current directory also holds the batch being added.
std::optional<std::string> directoryWarning(const TZADirManager& dir, const TZADirArray& found);

// Tests the archive `fileName` as a whole and every entry in it: nullopt only when it is
// sound. Otherwise the directoryWarning text when the central directory had to be
// rebuilt (or nameless entries were left out), else the stored name of the first entry
// that fails: its data is damaged (size, CRC-32), shared with or running into another
// entry or the directory, or its local header disagrees with its central entry.
// Opening errors propagate (EZAException). `onProgress` runs as the entries' data is read
// (every 256 KiB or so), so that a window can stay alive while a large archive is tested.
std::optional<std::string> testArchive(const std::string& fileName, const std::function<void()>& onProgress = {});

} // namespace archiver
