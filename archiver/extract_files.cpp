// ExtractFiles and TestFiles: select entries by mask and attributes, then run the
// operation loop over them with the failure decision per entry.
#include <atomic>
#include <filesystem>
#include <optional>
#include <system_error>

#include "archiver/entry_places.h"
#include "archiver/extra_fields.h"
#include "archiver/name_mask.h"
#include "archiver/update_engine.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

// Entries with less data than this are inflated by the writing thread itself when their
// data would be handed over in memory: handing them to a worker and back costs more than
// inflating them. A worker that writes the file itself takes smaller ones too.
constexpr std::uint64_t kInflateAheadMinimum = 64 * 1024;
constexpr std::uint64_t kWriteAheadMinimum = 4 * 1024;

// Attribute bits an entry may only have when the requested set holds them too.
constexpr std::uint32_t kRestrictedAttrs = 0x02 | 0x04 | 0x08 | 0x10;

// Reads a file through pread at a position of its own, so that each worker can read the
// archive without moving anyone else's position.
class PositionedReader : public platform::Stream {
public:
    explicit PositionedReader(const platform::File& file) : m_file(file) {}
    std::size_t read(void* buffer, std::size_t count) override {
        const std::size_t got = m_file.pread(m_position, buffer, count);
        m_position += got;
        return got;
    }
    std::size_t write(const void*, std::size_t) override { return 0; }
    void seek(std::uint64_t position) override { m_position = position; }
    std::uint64_t tell() const override { return m_position; }
    std::uint64_t size() const override { return m_file.size(); }
    void truncate(std::uint64_t) override {}
    void flush() override {}

private:
    const platform::File& m_file;
    std::uint64_t m_position = 0;
};

bool equalFolded(std::string_view a, std::string_view b) { return foldName(a) == foldName(b); }

// A mask without a leading drive ("C:") or network prefix ("//server/share").
std::string withoutDrive(std::string mask) {
    mask = slashed(mask);
    if (mask.size() >= 2 && mask[1] == ':')
        return mask.substr(2);
    if (mask.starts_with("//")) {
        const std::size_t server = mask.find('/', 2);
        if (server == std::string::npos)
            return {};
        const std::size_t share = mask.find('/', server + 1);
        return share == std::string::npos ? std::string{} : mask.substr(share);
    }
    return mask;
}

// "*.*" matches every stored name; a mask ending in '.' asks for names without extension.
bool maskTest(std::string_view name, std::string_view mask) {
    if (mask.empty())
        return false;
    std::string m(mask);
    if (const std::size_t star = mask.find("*.*"); star != std::string_view::npos)
        m = std::string(mask.substr(0, star)) + "*" + std::string(mask.substr(star + 3));
    if (mask.back() == '.' && !m.empty())
        m.pop_back();
    std::string_view n = name;
    if (!n.empty() && n.back() == '.')
        n.remove_suffix(1);
    bool r = WildcardMatch(n, m, true);
    if (r && mask.back() == '.')
        r = namePart(name).find('.') == std::string_view::npos;
    return r;
}

bool entryMatches(const TDirItem& item, std::string_view mask) {
    const std::string name = withoutTrailingSeparator(item.name);
    return maskTest(name, mask) || maskTest(namePart(name), mask);
}

} // namespace

void TZABaseArchiver::ExtractFiles(const std::string& fileMask, std::uint32_t searchAttr, const std::string&) {
    RequireOpen();
    RequireNoUpdate();
    selectEntries(fileMask, searchAttr);
    processSelected(poExtract);
}

void TZABaseArchiver::TestFiles(const std::string& fileMask, std::uint32_t searchAttr) {
    RequireOpen();
    RequireNoUpdate();
    selectEntries(fileMask, searchAttr);
    processSelected(poTest);
}

void TZABaseArchiver::selectEntries(const std::string& mask, std::uint32_t searchAttr) {
    TZADirArray& dir = m_dir->currentDir();
    dir.ClearSelection();
    const std::string m = Options.StorePath == spFullPathWithDrive ? slashed(mask) : withoutDrive(mask);
    for (int i = 0; i < dir.Count(); ++i) {
        TDirItem& item = dir.ItemAt(i);
        if (!Options.Recurse && !equalFolded(folderPart(withoutTrailingSeparator(slashed(item.name))), folderPart(m)))
            continue;
        if (!entryMatches(item, m))
            continue;
        if ((item.externalAttributes & kRestrictedAttrs & ~searchAttr) != 0)
            continue;
        item.selected = true;
    }
}

void TZABaseArchiver::processSelected(TZAProcessOperation op) {
    std::lock_guard lock(archiverOperationLock());
    TZADirArray& dir = m_dir->currentDir();
    m_cancel = false;
    m_processed = 0;
    m_selectedCount = 0;
    for (int i = 0; i < dir.Count(); ++i)
        if (dir.ItemAt(i).selected)
            ++m_selectedCount;
    if (op == poExtract)
        overallProgress(0, op, ppStart);

    bool stopped = false;
    const EntryPlaces places(dir, m_dir->directoryPosition());
    // The workers stop before the call returns, whichever way it ends.
    std::unique_ptr<ParallelInflater> inflater = startInflater(places, op);
    // The workers stop before the folder they write into is closed.
    struct Detach {
        std::unique_ptr<ParallelInflater>& inflater;
        ParallelInflater*& current;
        std::atomic<const platform::FolderHandle*>& aheadFolder;
        std::optional<platform::FolderHandle>& aheadBase;
        ~Detach() {
            inflater.reset();
            current = nullptr;
            aheadFolder = nullptr;
            aheadBase.reset();
        }
    } detach{inflater, m_inflater = inflater.get(), m_aheadFolder, m_aheadBase};
    std::string destinationBase = BaseDir.empty() ? m_operationBase : BaseDir;
    if (destinationBase.empty())
        destinationBase = resolvePath({}, {}, {}); // the current folder
    destinationBase = slashed(destinationBase);
    if (destinationBase.back() != '/')
        destinationBase += '/';

    m_archiveIdentity = m_archive ? platform::fileIdentity(m_archive->target()) : std::nullopt;
    struct CloseFolders {
        std::map<std::string, platform::FolderHandle>& folders;
        ~CloseFolders() { folders.clear(); }
    } closeFolders{m_openFolders};

    for (int i = 0; i < dir.Count() && !m_cancel && !stopped; ++i) {
        if (!dir.ItemAt(i).selected)
            continue;
        dir.ItemAt(i).operation = op;
        const std::string name = dir.ItemAt(i).name;
        for (;;) {
            // A refused entry's failure comes back as a value, the others are raised.
            std::optional<EZAException> failure;
            try {
                bool confirm = true;
                if (OnConfirmProcessFile)
                    OnConfirmProcessFile(name, op, confirm);
                if (!confirm)
                    break;
                fileProgress(name, 0, op, ppStart);
                if (m_cancel)
                    break;
                if (op == poTest) {
                    EntryData data;
                    failure = entryRefusal(i, places, data);
                    if (!failure)
                        decompressInto(i, data, nullptr, {});
                } else {
                    failure = extractEntry(i, name, destinationBase, places);
                }
                if (!failure) {
                    fileProgress(name, 100, op, ppEnd);
                    if (!m_cancel)
                        ++m_processed;
                    break;
                }
            } catch (const EZAException& e) {
                failure = e;
            }
            const TZAAction action = failureDecision(name, op, *failure);
            if (action == fxaRetry)
                continue;
            if (action == fxaAbort)
                stopped = true;
            break;
        }
    }
    applyFolderModes(destinationBase);
    if (op == poExtract)
        overallProgress(100, op, ppEnd);
    if (stopped || m_cancel)
        CancelUpdate();
}

std::unique_ptr<ParallelInflater> TZABaseArchiver::startInflater(const EntryPlaces& places, TZAProcessOperation op) {
    const int threads = effectiveThreads(Threads);
    if (threads < 2 || !m_archive)
        return nullptr;
    // Entries whose data cannot be read ahead are left to the loop, as with one thread;
    // so are the ones the workers cannot locate (their error is met when the loop comes
    // to them).
    const TZADirArray& dir = m_dir->currentDir();
    // An extraction lets the workers write the files themselves, unless a handler may
    // still rename the entry.
    const bool writeAhead = op == poExtract && !OnExtractFile;
    const std::uint64_t minimum = writeAhead ? kWriteAheadMinimum : kInflateAheadMinimum;
    std::vector<int> items;
    for (int i = 0; i < dir.Count(); ++i) {
        const TDirItem& item = dir.ItemAt(i);
        if (item.selected && !item.isFolder() && !item.name.ends_with('/') && !(item.flags & kFlagEncrypted) &&
            (item.method == kMethodStored || item.method == kMethodDeflate) && item.compressedSize64() >= minimum)
            items.push_back(i);
    }
    if (items.empty())
        return nullptr;
    // Workers read the local headers through a reader of their own; the directory and the
    // places are only read while they run.
    LocateFn locate = [&places, &dir, &file = m_archive->file(), name = Name](int i) -> std::optional<InflateSource> {
        PositionedReader reader(file);
        try {
            const EntryData data = places.check(reader, dir, i, name);
            const TDirItem& item = dir.ItemAt(i);
            return InflateSource{i, data.start, data.size, item.uncompressedSize64(), item.crc32, item.method};
        } catch (const EZAException&) {
        } catch (const platform::FileError&) {}
        return std::nullopt;
    };
    // A file written ahead is made in the destination base, once the extraction has made
    // that, and only for an entry whose name stays inside it (the writer still checks
    // everything else before the file gets its name, and deletes it when it does not).
    OpenAheadFn openAhead = [this, &dir](int i) -> std::optional<platform::TempFile> {
        const platform::FolderHandle* base = m_aheadFolder.load(std::memory_order_acquire);
        const std::optional<std::string> confined = confinedEntryPath(dir.ItemAt(i).name);
        if (!base || !confined || confined->empty() || confined->ends_with('/'))
            return std::nullopt;
        return base->createTemporary(kPartPrefix);
    };
    try {
        return std::make_unique<ParallelInflater>(m_archive->file(), std::move(items), std::move(locate), threads,
                                                  BufferBudget, writeAhead ? std::move(openAhead) : OpenAheadFn{});
    } catch (const std::system_error&) {
        return nullptr; // no thread to be had: everything is done on this one
    }
}

std::optional<EZAException> TZABaseArchiver::entryRefusal(int i, const EntryPlaces& places, EntryData& data) {
    TZADirArray& dir = m_dir->currentDir();
    if (i < 0 || i >= dir.Count())
        return EZAException(16, Name);
    const TDirItem& item = dir.ItemAt(i);
    if (item.method == 9)
        return EZAException(55, Name);
    if (item.flags & kFlagEncrypted)
        return EZAException(8, {}, ZAReason{"it is encrypted, which is not supported"}, Name);
    if (item.method != kMethodStored && item.method != kMethodDeflate)
        return EZAException(8, {}, ZAReason{"compression method " + std::to_string(item.method) + " is not supported"},
                            Name);
    try {
        if (const std::optional<std::string> why = places.refusal(*m_stream, dir, i, data))
            return EZAException(8, {}, ZAReason{*why}, Name);
    } catch (const platform::FileError& e) {
        return EZAException(8, {}, osReason(e.errorNumber()), Name);
    }
    return std::nullopt;
}

ProgressFn TZABaseArchiver::entryProgress(int i, std::uint64_t total) {
    const TDirItem& item = m_dir->currentDir().ItemAt(i);
    const TZAProcessOperation op = TZAProcessOperation(item.operation);
    return [this, &item, op, total](std::uint64_t done) {
        fileProgress(item.name, total == 0 ? 100 : int(std::min<std::uint64_t>(100, done * 100 / total)), op,
                     ppProcess);
        return !m_cancel;
    };
}

void TZABaseArchiver::decompressInto(int i, const EntryData& data, platform::Stream* destination,
                                     const std::string& target) {
    const TDirItem& item = m_dir->currentDir().ItemAt(i);
    const ProgressFn progress = entryProgress(i, data.size);
    ReadFn read = [this](std::uint8_t* buf, std::size_t n) { return m_stream->read(buf, n); };
    WriteFn put = [destination](const std::uint8_t* d, std::size_t n) {
        return destination ? destination->write(d, n) : n;
    };
    DecompressOutcome out;
    try {
        if (!m_inflater || !m_inflater->write(i, put, progress, out)) {
            m_stream->seek(data.start);
            out = decompressBlocks(item.method, data.size, item.uncompressedSize64(), item.crc32, read, put, progress);
        }
    } catch (const platform::FileError&) {
        out.problem = DataProblem::ReadFailed; // an unreadable archive fails this entry like damaged data
    } catch (const DeflateError&) {
        out.problem = DataProblem::BadData;
    }
    judgeOutcome(out, destination ? destination->lastError() : 0, target);
}

std::optional<platform::TempFile> TZABaseArchiver::takeWrittenFile(int i, const EntryData& data,
                                                                   const std::string& target) {
    DecompressOutcome out;
    try {
        std::optional<platform::TempFile> file = m_inflater->takeFile(i, entryProgress(i, data.size), out);
        if (file)
            judgeOutcome(out, 0, target); // a damaged entry's file goes here, unless kept
        return file;
    } catch (const platform::FileError&) {
        out.problem = DataProblem::ReadFailed;
    } catch (const DeflateError&) {
        out.problem = DataProblem::BadData;
    }
    judgeOutcome(out, 0, target);
    return std::nullopt;
}

void TZABaseArchiver::judgeOutcome(const DecompressOutcome& out, int writeError, const std::string& target) {
    if (out.ok || out.cancelled || m_cancel)
        return;
    if (out.problem == DataProblem::WriteFailed)
        throw EZAException(19, {target}, writeError ? osReason(writeError) : ZAReason{"it could not be written"}, Name);
    if (ExtractCorruptedFiles)
        return;
    static constexpr const char* kWhy[] = {
        "",
        "its compressed data is damaged",
        "it holds more data than its recorded size",
        "it holds less data than its recorded size",
        "CRC-32 mismatch: its data is damaged",
        "the archive ends inside its data",
        "",
    };
    throw EZAException(8, {}, ZAReason{kWhy[int(out.problem)]}, Name);
}

} // namespace archiver
