#include "archiver/zip_archiver.h"

#include <stdexcept>

#include "archiver/update_engine.h"
#include "archiver/za_exception.h"
#include "platform/file_system.h"

namespace archiver {

std::recursive_mutex& archiverOperationLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::int64_t TZASpanningOptions::volumeLimit(int volume) const {
    if (volume == 0 && FirstVolumeSize != 0)
        return FirstVolumeSize;
    switch (VolumeSize) {
    case vsAutoDetect:
        return 0;
    case vsCustom:
        return m_customVolumeSize;
    case vs1_44MB:
        return 1457664;
    case vs100MB:
        return 104857600;
    case vs200MB:
        return 209715200;
    case vs250MB:
        return 262144000;
    case vs600MB:
        return 629145600;
    case vs650MB:
        return 681574400;
    case vs700MB:
        return 734003200;
    case vs4700MB:
        return 4928307200;
    }
    return 0;
}

TZABaseArchiver::TZABaseArchiver() = default;

TZABaseArchiver::~TZABaseArchiver() { CloseArchive(); }

TZipArchiver::~TZipArchiver() {
    // Finish a pending batch while the ZIP overrides are still in place.
    CloseArchive();
}

std::uint16_t TZABaseArchiver::methodForMode(int) const { return 0xFFFF; }

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel level) {
    static constexpr int kModes[] = {0, 1, 6, 9};
    m_compressionLevel = level;
    m_compressionMode = kModes[level];
}

void TZABaseArchiver::SetCompressionMode(int mode) {
    if (mode < 0 || mode > 9)
        throw EZAException(5, Name);
    m_compressionMode = mode;
    m_compressionLevel = mode == 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode mode) {
    if (m_open)
        throw std::runtime_error("Cannot set spanning mode on open archive");
    m_spanningMode = mode;
}

TZADirSettings TZABaseArchiver::dirSettings() const {
    TZADirSettings s;
    s.oemFileNames = Options.OEMFileNames;
    s.spanning = m_spanningMode != smNone;
    return s;
}

void TZABaseArchiver::RequireOpen() const {
    if (!m_open)
        throw EZAException(13, Name);
}

void TZABaseArchiver::RequireNoUpdate() const {
    if (m_updateDepth > 0)
        throw EZAException(26, Name);
}

void TZABaseArchiver::OpenArchive(std::uint16_t mode) { OpenArchive(FileName, mode); }

void TZABaseArchiver::OpenArchive(const std::string& fileName, std::uint16_t mode) {
    FileName = fileName;
    if (namePart(fileName).empty())
        throw EZAException(10, Name);
    const std::filesystem::path path = platform::toPath(fileName);
    if (platform::folderExists(path))
        throw EZAException(33, {fileName}, ZAReason{"it is a folder, not an archive"}, Name);
    // Removable drives have no meaning here, so only the file itself counts.
    if (mode != kOpenCreate && !platform::fileExists(path) && m_spanningMode != smSpanning)
        throw EZAException(12, {fileName}, Name);
    CloseArchive();

    const bool create = mode == kOpenCreate;
    if (!create)
        m_spanningMode = smNone;
    try {
        try {
            m_archive.emplace((mode & 3) != 0 ? ArchiveFile::openForWriting(path, create)
                                              : ArchiveFile::openForReading(path));
        } catch (const platform::FileError& e) {
            throw EZAException(create ? 19 : 33, {fileName}, osReason(e.errorNumber()), Name);
        }
        m_stream = &m_archive->file();
        m_dir = std::make_unique<TZADirManager>(m_stream, create, dirSettings());
        // A created archive starts empty, whatever the file holds until it is replaced. An
        // existing one is read: a missing or damaged directory is rebuilt from the local
        // headers; a file without any fails with 35.
        if (!create)
            m_dir->LoadCentralDirectory();
    } catch (...) {
        releaseArchive();
        throw;
    }
    m_openMode = mode;
    m_open = true;
    m_createPending = create;
    m_updateDepth = 0;
    if (AfterOpen)
        AfterOpen();
}

void TZABaseArchiver::EnsureOpen() {
    if (m_open)
        return;
    if (namePart(FileName).empty())
        throw EZAException(9, Name);
    const std::filesystem::path path = platform::toPath(FileName);
    if (!platform::fileExists(path) && !platform::folderExists(path)) {
        OpenArchive(kOpenCreate);
        return;
    }
    std::uint16_t mode = kOpenRead;
    try {
        platform::File probe = platform::File::openReadWrite(path);
        mode = kOpenReadWrite;
    } catch (const platform::FileError&) {}
    OpenArchive(mode);
}

void TZABaseArchiver::releaseArchive() noexcept {
    m_dir.reset();
    m_stream = nullptr;
    m_archive.reset();
    m_createPending = false;
}

void TZABaseArchiver::CloseArchive() noexcept {
    if (m_open) {
        try {
            performUpdate();
            // A created archive that got no entries is still a valid, empty ZIP file.
            if (m_createPending && m_dir) {
                BeginUpdate();
                EndUpdate();
            }
        } catch (...) {
            // Closing never fails.
        }
    }
    m_open = false;
    m_updateDepth = 0;
    releaseArchive();
}

void TZABaseArchiver::AbandonArchive() noexcept {
    const bool remove = m_open && m_createPending && m_archive && m_archive->madeByOpen();
    const std::filesystem::path target = m_archive ? m_archive->target() : std::filesystem::path();
    m_open = false;
    m_updateDepth = 0;
    releaseArchive();
    // Closing never fails: a file the open made that cannot be removed stays, empty.
    if (remove)
        static_cast<void>(platform::deleteFile(target));
}

void TZABaseArchiver::BeginUpdate() {
    if (m_spanningMode != smNone && m_batchPerformed)
        throw EZAException(62, Name);
    if (m_updateDepth == 0) {
        EnsureOpen();
        if ((m_openMode & 3) == 0)
            throw EZAException(32, Name);
        TZADirArray& current = m_dir->currentDir();
        for (int i = 0; i < current.Count(); ++i)
            current.ItemAt(i).modified = false;
        m_dir->backupDir().AssignFrom(current);
    }
    ++m_updateDepth;
}

void TZABaseArchiver::EndUpdate() {
    if (m_updateDepth <= 0)
        return;
    if (m_updateDepth == 1) {
        m_batchPerformed = true;
        performUpdate();
        return;
    }
    --m_updateDepth;
}

void TZABaseArchiver::CancelUpdate() {
    if (m_updateDepth <= 0)
        return;
    m_updateDepth = 0;
    // Items recorded in the batch were never written: the directory goes back to what
    // the file holds, so that a later batch does not take them for existing entries.
    if (m_dir)
        m_dir->currentDir().AssignFrom(m_dir->backupDir());
}

void TZABaseArchiver::performUpdate() {
    if (m_updateDepth == 0)
        return;
    m_updateDepth = 0;
    if (!m_dir || !m_archive)
        return;
    m_cancel = false;
    UpdateContext context{*m_dir, *m_archive, Zip64Mode(), Options.OEMFileNames, Name, m_cancel, {}, {}, {}};
    context.fileProgress = [this](const std::string& name, int percent, TZAProcessOperation op,
                                  TZAProgressPhase phase) { fileProgress(name, percent, op, phase); };
    context.overallProgress = [this](int percent, TZAProcessOperation op, TZAProgressPhase phase) {
        overallProgress(percent, op, phase);
    };
    context.failureDecision = [this](const std::string& name, TZAProcessOperation op, const EZAException& e) {
        return failureDecision(name, op, e);
    };
    context.threads = effectiveThreads(Threads);
    context.bufferBudget = BufferBudget;
    if (UpdateEngine(std::move(context)).run())
        m_createPending = false;
    m_cancel = false;
}

void TZABaseArchiver::fileProgress(const std::string& name, int progress, TZAProcessOperation op,
                                   TZAProgressPhase phase) {
    if (!OnFileProgress)
        return;
    bool cancel = false;
    OnFileProgress(name, progress, op, phase, cancel);
    if (cancel)
        m_cancel = true;
}

void TZABaseArchiver::overallProgress(int progress, TZAProcessOperation op, TZAProgressPhase phase) {
    if (!OnOverallProgress)
        return;
    bool cancel = false;
    OnOverallProgress(progress, op, phase, cancel);
    if (cancel)
        m_cancel = true;
}

TZAAction TZABaseArchiver::failureDecision(const std::string& fileName, TZAProcessOperation op, const EZAException& e) {
    if (OnProcessFileFailure) {
        TZAAction action = fxaIgnore;
        OnProcessFileFailure(fileName, op, e.NativeError(), e.ErrorCode(), e.what(), action);
        return action;
    }
    return defaultFailureDecision(e.NativeError(), e.what());
}

TZAAction TZABaseArchiver::defaultFailureDecision(int nativeError, const std::string& message) {
    if (nativeError == 45)
        return fxaAbort;
    // Without the application's prompt the box counts as closed: abort.
    if (!Prompts.askFailure)
        return fxaAbort;
    if (nativeError == 61)
        return Prompts.askFailure(message, false) == fxaIgnore ? fxaIgnore : fxaAbort;
    const TZAAction answer = Prompts.askFailure(message + ". File processing error, possibly disk is full", true);
    return answer == fxaRetry || answer == fxaIgnore ? answer : fxaAbort;
}

bool TZABaseArchiver::confirmOverwrite(const std::string& sourceFileName, std::string& destFileName, bool destOnDisk) {
    if (OnConfirmOverwrite) {
        bool confirm = true;
        OnConfirmOverwrite(sourceFileName, destFileName, confirm);
        return confirm;
    }
    if (!Prompts.askOverwrite)
        return false;
    const std::string question = "Overwrite file \"" + (destOnDisk ? platform::shownPath(destFileName) : destFileName) +
                                 "\" with \"" + (destOnDisk ? sourceFileName : platform::shownPath(sourceFileName)) +
                                 "\"";
    switch (Prompts.askOverwrite(question)) {
    case TZAOverwriteAnswer::Yes:
        return true;
    case TZAOverwriteAnswer::YesToAll:
        Options.OverwriteMode = omAlways;
        return true;
    case TZAOverwriteAnswer::NoToAll:
        Options.OverwriteMode = omNever;
        return false;
    default:
        return false;
    }
}

std::optional<std::string> directoryWarning(const TZADirManager& dir) {
    return directoryWarning(dir, dir.currentDir());
}

std::optional<std::string> directoryWarning(const TZADirManager& dir, const TZADirArray& found) {
    std::string text;
    if (dir.rebuilt())
        text = "the central directory was missing or damaged and was rebuilt from the local headers; " +
               std::to_string(found.Count()) + " entries found";
    if (dir.headersDropped() > 0)
        text += "; " + std::to_string(dir.headersDropped()) + " more local headers were not believed";
    if (dir.namelessSkipped() > 0)
        text +=
            (text.empty() ? "" : "; ") + std::to_string(dir.namelessSkipped()) + " entries without a name were skipped";
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::string> testArchive(const std::string& fileName, const std::function<void()>& onProgress) {
    TZipArchiver zip;
    if (onProgress)
        zip.OnFileProgress = [&](const std::string&, int, TZAProcessOperation, TZAProgressPhase, bool&) {
            onProgress();
        };
    zip.OpenArchive(fileName, kOpenRead);
    if (auto warning = directoryWarning(*zip.dirManager()))
        return warning;
    std::optional<std::string> firstFailure;
    zip.OnProcessFileFailure = [&](const std::string& name, TZAProcessOperation, int, int, const std::string&,
                                   TZAAction& action) {
        if (!firstFailure)
            firstFailure = name;
        action = fxaIgnore;
    };
    zip.TestFiles();
    zip.CloseArchive();
    return firstFailure;
}

} // namespace archiver
