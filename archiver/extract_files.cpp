// ExtractFiles and TestFiles: select entries by mask and attributes, then run the
// operation loop over them with the failure decision per entry.
#include <chrono>
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

constexpr std::uint32_t kAttrReadOnly = 0x01;
// Attribute bits an entry may only have when the requested set holds them too.
constexpr std::uint32_t kRestrictedAttrs = 0x02 | 0x04 | 0x08 | 0x10;

std::string withoutTrailingSeparator(std::string name) {
    if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        name.pop_back();
    return name;
}

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

// The entry's modification time: the UTC time of its extended timestamp when it has one,
// else its DOS time taken as local time.
std::filesystem::file_time_type fileTimeOf(const TDirItem& item) {
    const auto utc = extendedModTime(item);
    const std::time_t t = utc ? std::time_t(*utc) : fromDosDateTime({item.modTime, item.modDate});
    return std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t));
}

std::uint32_t dosStamp(std::uint16_t time, std::uint16_t date) { return std::uint32_t(date) << 16 | time; }

std::optional<std::uint32_t> fileDosStamp(const std::filesystem::path& p) {
    std::error_code ec;
    const auto t = std::filesystem::last_write_time(p, ec);
    if (ec)
        return std::nullopt;
    const DosDateTime dt = toDosDateTime(t);
    return dosStamp(dt.time, dt.date);
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
    const std::unique_ptr<ParallelInflater> inflater = startInflater(places);
    struct Detach {
        ParallelInflater*& current;
        ~Detach() { current = nullptr; }
    } detach{m_inflater = inflater.get()};
    std::string destinationBase = BaseDir.empty() ? m_operationBase : BaseDir;
    if (destinationBase.empty())
        destinationBase = resolvePath({}, {}, {}); // the current folder
    destinationBase = slashed(destinationBase);
    if (destinationBase.back() != '/')
        destinationBase += '/';

    for (int i = 0; i < dir.Count() && !m_cancel && !stopped; ++i) {
        if (!dir.ItemAt(i).selected)
            continue;
        dir.ItemAt(i).operation = op;
        const std::string name = dir.ItemAt(i).name;
        for (;;) {
            try {
                bool confirm = true;
                if (OnConfirmProcessFile)
                    OnConfirmProcessFile(name, op, confirm);
                if (!confirm)
                    break;
                fileProgress(name, 0, op, ppStart);
                if (m_cancel)
                    break;
                if (op == poTest)
                    decompressInto(i, places, nullptr, {});
                else
                    extractEntry(i, name, destinationBase, places);
                fileProgress(name, 100, op, ppEnd);
                if (!m_cancel)
                    ++m_processed;
                break;
            } catch (const EZAException& e) {
                const TZAAction action = failureDecision(name, op, e);
                if (action == fxaRetry)
                    continue;
                if (action == fxaAbort)
                    stopped = true;
                break;
            }
        }
    }
    // Innermost folders first, so that a folder that forbids writing is the last change in it.
    for (auto it = m_folderPermissions.rbegin(); it != m_folderPermissions.rend(); ++it)
        platform::setFilePermissions(platform::toPath(it->first), it->second);
    m_folderPermissions.clear();
    if (op == poExtract)
        overallProgress(100, op, ppEnd);
    if (stopped || m_cancel)
        CancelUpdate();
}

std::unique_ptr<ParallelInflater> TZABaseArchiver::startInflater(const EntryPlaces& places) {
    const int threads = effectiveThreads(Threads);
    if (threads < 2 || !m_archive)
        return nullptr;
    // Only entries whose data can be read are planned; the others meet their error when
    // the loop comes to them, as with one thread.
    const TZADirArray& dir = m_dir->currentDir();
    std::vector<InflateSource> sources;
    for (int i = 0; i < dir.Count(); ++i) {
        const TDirItem& item = dir.ItemAt(i);
        if (!item.selected || item.isFolder() || item.name.ends_with('/') || (item.flags & kFlagEncrypted) ||
            (item.method != kMethodStored && item.method != kMethodDeflate))
            continue;
        try {
            const EntryData data = places.check(*m_stream, dir, i, Name);
            sources.push_back({i, data.start, data.size, item.uncompressedSize64(), item.crc32, item.method});
        } catch (const EZAException&) {
        } catch (const platform::FileError&) {}
    }
    if (sources.empty())
        return nullptr;
    try {
        return std::make_unique<ParallelInflater>(m_archive->file(), std::move(sources), threads, BufferBudget);
    } catch (const std::system_error&) {
        return nullptr; // no thread to be had: everything is done on this one
    }
}

void TZABaseArchiver::decompressInto(int i, const EntryPlaces& places, platform::Stream* destination,
                                     const std::string& target) {
    TZADirArray& dir = m_dir->currentDir();
    if (i < 0 || i >= dir.Count())
        throw EZAException(16, Name);
    const TDirItem& item = dir.ItemAt(i);
    if (item.method == 9)
        throw EZAException(55, Name);
    if (item.flags & kFlagEncrypted)
        throw EZAException(8, {}, ZAReason{"it is encrypted, which is not supported"}, Name);
    if (item.method != kMethodStored && item.method != kMethodDeflate)
        throw EZAException(8, {}, ZAReason{"compression method " + std::to_string(item.method) + " is not supported"},
                           Name);
    EntryData data;
    try {
        data = places.check(*m_stream, dir, i, Name);
    } catch (const platform::FileError& e) {
        throw EZAException(8, {}, osReason(e.errorNumber()), Name);
    }

    const TZAProcessOperation op = TZAProcessOperation(item.operation);
    const std::uint64_t total = data.size;
    ProgressFn progress = [this, &item, op, total](std::uint64_t done) {
        fileProgress(item.name, total == 0 ? 100 : int(std::min<std::uint64_t>(100, done * 100 / total)), op,
                     ppProcess);
        return !m_cancel;
    };
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
    } catch (const ZlibError&) {
        out.problem = DataProblem::BadData;
    }
    if (out.ok || out.cancelled || m_cancel)
        return;
    if (out.problem == DataProblem::WriteFailed) {
        const int e = destination ? destination->lastError() : 0;
        throw EZAException(19, {target}, e ? osReason(e) : ZAReason{"it could not be written"}, Name);
    }
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

void TZABaseArchiver::extractEntry(int i, const std::string& storedName, const std::string& destinationBase,
                                   const EntryPlaces& places) {
    TZADirArray& dir = m_dir->currentDir();
    if (i < 0 || i >= dir.Count())
        throw EZAException(16, Name);
    std::string name = storedName;
    std::uint32_t attributes = dir.ItemAt(i).externalAttributes;
    if (OnExtractFile)
        OnExtractFile(name, attributes, dir.ItemAt(i).comment);

    // Nothing is ever written outside the destination base.
    const std::optional<std::string> confined = confinedEntryPath(name);
    if (!confined)
        throw EZAException(19, {name}, ZAReason{"refused as unsafe: it would lie outside the destination"}, Name);
    std::string relative = *confined;
    const TDirItem& item = dir.ItemAt(i);
    const bool folderEntry = item.isFolder() || (!item.name.empty() && item.name.back() == '/');

    if (!Options.CreateDirs) {
        relative = std::string(namePart(withoutTrailingSeparator(relative)));
    } else {
        const std::string folder = destinationBase + std::string(folderPart(relative));
        // Checked before anything is made: a link already in the destination could lead
        // the new folders elsewhere. The steps that do not exist yet are plain names.
        if (!platform::isWithinFolder(platform::toPath(folder), platform::toPath(destinationBase)))
            throw EZAException(19, {name}, ZAReason{"refused as unsafe: a link in the destination leads outside it"},
                               Name);
        std::error_code ec;
        if (!platform::createFolders(platform::toPath(folder), ec))
            throw EZAException(20, {folder}, osReason(ec.value()), Name);
    }
    if (folderEntry) {
        // A folder's own mode is given once everything in it is written (it may forbid writing).
        if (const auto permissions = storedPermissions(item);
            permissions && Options.SetAttributes && Options.CreateDirs)
            m_folderPermissions.emplace_back(destinationBase + relative, *permissions);
        return;
    }
    if (relative.empty())
        throw EZAException(19, {name}, ZAReason{"refused as unsafe: it names the destination itself"}, Name);

    std::string target = destinationBase + relative;
    std::filesystem::path targetPath = platform::toPath(target);
    if (const auto existing = platform::fileAttributes(targetPath)) {
        if (!Options.ReplaceReadOnly && (*existing & kAttrReadOnly))
            return;
        const std::uint32_t entryStamp = dosStamp(item.modTime, item.modDate);
        switch (Options.OverwriteMode) {
        case omPrompt:
            if (!confirmOverwrite(name, target))
                return;
            targetPath = platform::toPath(target);
            break;
        case omAlways:
            break;
        case omNever:
            return;
        case omIfNewer:
            if (!(entryStamp > fileDosStamp(targetPath).value_or(0)))
                return;
            break;
        case omIfOlder:
            if (!(entryStamp < fileDosStamp(targetPath).value_or(0)))
                return;
            break;
        }
    }

    // The archive being read is never replaced by one of its entries: it is open, and
    // deleting it would lose it.
    std::error_code same;
    if (m_archive && std::filesystem::equivalent(targetPath, m_archive->target(), same))
        throw EZAException(19, {target}, ZAReason{"it is the archive being read"}, Name);

    std::optional<platform::File> file;
    try {
        if (platform::fileAttributes(targetPath)) {
            // A link in the way is removed itself; the file it points to is left alone.
            if (!std::filesystem::is_symlink(targetPath))
                platform::setFileAttributes(targetPath, 0);
            platform::deleteFile(targetPath);
        }
        file.emplace(platform::File::create(targetPath));
    } catch (const platform::FileError& e) {
        throw EZAException(19, {target}, osReason(e.errorNumber()), Name);
    }

    bool failed = true;
    // Whatever happens to the data: the time is set, the file closed, and a file that did
    // not come out whole is removed.
    struct Finish {
        TZABaseArchiver& self;
        std::optional<platform::File>& file;
        const std::filesystem::path& path;
        const TDirItem& item;
        std::uint32_t attributes;
        bool& failed;
        ~Finish() {
            std::error_code ec;
            std::filesystem::last_write_time(path, fileTimeOf(item), ec);
            file.reset();
            if (failed || self.m_cancel) {
                platform::deleteFile(path);
            } else if (self.Options.SetAttributes) {
                platform::setFileAttributes(path, attributes);
                if (const auto permissions = storedPermissions(item))
                    platform::setFilePermissions(path, *permissions);
            }
        }
    } finish{*this, file, targetPath, item, attributes, failed};
    decompressInto(i, places, &*file, target);
    failed = false;
}

} // namespace archiver
