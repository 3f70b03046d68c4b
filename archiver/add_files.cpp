// AddFiles: search a folder tree for files that match a mask and an attribute set,
// leave out what the exclusion list names (always the archive itself), and record one
// directory item per file and sub-folder in the current batch.
#include <chrono>
#include <ctime>
#include <filesystem>

#include "archiver/extra_fields.h"
#include "archiver/name_mask.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace archiver {

namespace {

constexpr std::uint32_t kAttrFolderBit = 0x10;
// Read-only, hidden, system and archive: an entry without attributes is taken when the
// set holds all four.
constexpr std::uint32_t kPlainFileSet = 0x01 | 0x02 | 0x04 | 0x20;
constexpr std::uint32_t kFolderSearchSet = 0x16;

bool hasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }
bool hasSeparator(std::string_view s) { return s.find_first_of("/\\") != std::string_view::npos; }

std::string withTrailingSlash(std::string s) {
    if (s.empty() || s.back() != '/')
        s += '/';
    return s;
}

// The last-write time of a file or folder in seconds since 1970, or the current time when
// it cannot be read. A folder entry carries its folder's own time, so that packing the
// same tree twice gives the same bytes. A folder's path loses its trailing separator
// first: Windows' C runtime finds no "folder/".
std::int64_t lastWriteSeconds(const std::string& path) {
    std::error_code ec;
    const auto t = std::filesystem::last_write_time(platform::toPath(withoutTrailingSeparator(path)), ec);
    if (ec)
        return std::time(nullptr);
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(t).time_since_epoch())
        .count();
}

DosDateTime lastWriteDos(const std::string& path) { return toDosDateTime(std::time_t(lastWriteSeconds(path))); }

} // namespace

// One call of the add proper: the search over the mask list with the exclusion list.
class AddOperation {
public:
    AddOperation(TZABaseArchiver& archiver, std::vector<std::string> exclusions, std::uint32_t searchAttr)
        : m_a(archiver), m_exclusions(std::move(exclusions)), m_attr(searchAttr) {}

    void searchFolder(const std::string& root, const std::string& mask, bool recurse);

private:
    void addFilesOf(const std::string& full);
    void searchSubfolder(const std::string& folder, const platform::FolderEntry& entry, const std::string& mask,
                         const std::string& full, bool recurse);
    bool considerFile(const std::string& entryName, const std::string& folder, bool isFolder);
    int addItem(const std::string& diskPath);
    TDirItem prepareItem(const std::string& diskPath, const std::string& stored, std::uint32_t attributes) const;
    bool maskListMatch(const std::string& path, const std::string& mask, bool isFolder) const;
    bool excluded(const std::string& path, bool isFolder) const {
        for (const std::string& m : m_exclusions)
            if (maskListMatch(path, m, isFolder))
                return true;
        return false;
    }

    TZABaseArchiver& m_a;
    std::vector<std::string> m_exclusions;
    std::uint32_t m_attr;
};

void AddOperation::searchFolder(const std::string& root, const std::string& mask, bool recurse) {
    const std::string& base = m_a.m_operationBase;
    const ExpandedMask expanded = expandMask(mask, root, base);
    const std::string& full = expanded.full;

    // A single file named without wildcards.
    if (full == slashed(mask) && !hasWildcard(mask) && platform::fileExists(platform::toPath(full))) {
        considerFile(std::string(namePart(full)), std::string(folderPart(full)), false);
        return;
    }
    addFilesOf(full);

    if (!(m_attr & kAttrFolderBit) && !recurse)
        return;
    std::string folder(folderPart(full));
    if (expanded.relative && resolvePath(folder, {}, base).find(root) == std::string::npos)
        folder = withTrailingSlash(root);
    for (const platform::FolderEntry& e : platform::listFolder(folder + "*", kFolderSearchSet))
        if ((e.attributes & kAttrFolderBit) && e.name != "." && e.name != "..")
            searchSubfolder(folder, e, mask, full, recurse);
}

// The files (not folders) that the mask `full` names and the attribute set takes.
void AddOperation::addFilesOf(const std::string& full) {
    const std::uint32_t fileSet = m_attr & ~kAttrFolderBit;
    for (const platform::FolderEntry& e : platform::listFolder(full, fileSet)) {
        if (e.name == "." || e.name == ".." || (e.attributes & kAttrFolderBit))
            continue;
        const bool take =
            (e.attributes & fileSet) != 0 || (e.attributes == 0 && (fileSet & kPlainFileSet) == kPlainFileSet);
        if (take)
            considerFile(e.name, std::string(folderPart(full)), false);
    }
}

// The subfolder `entry` of `folder`: recorded, and entered whole, when the mask names it
// and folders are searched for; else searched with the mask when the search recurses.
void AddOperation::searchSubfolder(const std::string& folder, const platform::FolderEntry& entry,
                                   const std::string& mask, const std::string& full, bool recurse) {
    const std::string sub = folder + entry.name;
    if (excluded(sub, true))
        return;
    // A linked folder is recorded but not entered: a link back up would never end.
    const bool enter = !entry.symlink;
    if ((m_attr & kAttrFolderBit) && (MatchesMask(sub, full) || MatchesMask(sub + ".", full))) {
        if (considerFile(entry.name, folder, true) && enter)
            searchFolder(sub, "*.*", true);
    } else if (recurse && enter) {
        if (!hasSeparator(mask))
            searchFolder(sub, mask, true);
        else if (hasWildcard(mask))
            searchFolder(sub, std::string(namePart(full)), true);
    }
}

bool AddOperation::considerFile(const std::string& entryName, const std::string& folder, bool isFolder) {
    std::string fullName = withTrailingSlash(resolvePath(folder, {}, m_a.m_operationBase)) + entryName;
    if (isFolder)
        fullName += '/';
    if (excluded(fullName, isFolder))
        return false;
    // The archive never goes into itself, whatever name, link or hard link leads to it,
    // nor does the lock file beside it that keeps other writers out while this one adds.
    std::error_code ec;
    const std::filesystem::path path = platform::toPath(fullName);
    const std::filesystem::path& archive = m_a.m_archive->target();
    const std::filesystem::path lockFile = platform::FileLock::lockFileOf(archive);
    if (!isFolder && (std::filesystem::equivalent(path, archive, ec) ||
                      (!lockFile.empty() && std::filesystem::equivalent(path, lockFile, ec))))
        return false;
    bool confirm = true;
    if (m_a.OnConfirmProcessFile)
        m_a.OnConfirmProcessFile(fullName, poAdd, confirm);
    if (!confirm)
        return true;
    const int index = addItem(fullName);
    if (index < 0)
        return true;
    TDirItem& item = m_a.m_dir->currentDir().ItemAt(index);
    for (const std::string& m : m_a.NoCompressionMasks) {
        if (maskListMatch(fullName, m, isFolder)) {
            item.compressionMode = 0;
            item.method = kMethodStored;
            break;
        }
    }
    return true;
}

TDirItem AddOperation::prepareItem(const std::string& diskPath, const std::string& stored,
                                   std::uint32_t attributes) const {
    TDirItem item;
    const bool folder = (attributes & kAttrFolderBit) != 0;
    const std::uint16_t version = m_a.Options.OEMFileNames ? kVersionDefault : 0x0B14;
    item.versionMadeBy = version;
    item.versionNeeded = version;
    item.flags = 0; // the archiver writes no encrypted entries
    item.method = m_a.methodForMode(m_a.CompressionMode());
    const std::int64_t seconds = lastWriteSeconds(diskPath);
    const DosDateTime dt = toDosDateTime(std::time_t(seconds));
    item.modTime = dt.time;
    item.modDate = dt.date;
    // Beside the local DOS time, the time in UTC, which other time zones read right.
    setExtendedTime(item, seconds);
    item.crc32 = 0xFFFFFFFF; // filled in by the update
    item.externalAttributes = attributes;
    item.name = stored;
    item.modified = true;
    item.sourceFileName = diskPath;
    item.compressionMode = std::uint8_t(folder ? 0 : m_a.CompressionMode());
    if (folder) {
        item.method = kMethodStored;
        item.crc32 = 0;
        item.flags = kFlagFolder;
    }
    // The Unix mode rides in the high half of the external attributes.
    if (const auto permissions = platform::filePermissions(platform::toPath(diskPath)))
        setUnixMode(item, *permissions);
    return item;
}

int AddOperation::addItem(const std::string& diskPath) {
    std::string stored = storedName(diskPath, m_a.m_operationBase, m_a.Options.StorePath, m_a.m_operationBase);
    // A path that leaves no name (the base folder itself) gets no entry.
    if (stored.empty())
        return -1;
    const std::filesystem::path path = platform::toPath(diskPath);
    const bool isFolder = platform::folderExists(path);
    if (isFolder && stored.back() != '/')
        stored += '/';
    std::uint32_t attributes = platform::fileAttributes(path).value_or(kAttrArchive);
    std::string comment;
    if (m_a.OnStoreFile) {
        m_a.OnStoreFile(stored, attributes, comment, diskPath);
        stored = slashed(stored);
    }

    TZADirArray& dir = m_a.m_dir->currentDir();
    int index = dir.FindByName(stored);
    if (index >= 0) {
        const TDirItem& existing = dir.ItemAt(index);
        const std::uint32_t itemStamp = std::uint32_t(existing.modDate) << 16 | existing.modTime;
        const DosDateTime fileDt = lastWriteDos(diskPath);
        const std::uint32_t fileStamp = std::uint32_t(fileDt.date) << 16 | fileDt.time;
        bool replace = false;
        switch (m_a.Options.OverwriteMode) {
        case omPrompt:
            replace = m_a.confirmOverwrite(diskPath, stored, false);
            break;
        case omAlways:
            replace = true;
            break;
        case omNever:
            replace = false;
            break;
        case omIfNewer:
            replace = itemStamp < fileStamp;
            break;
        case omIfOlder:
            replace = fileStamp < itemStamp;
            break;
        }
        if (!replace)
            return -1;
        TDirItem item = prepareItem(diskPath, stored, attributes);
        item.operation = poUpdate;
        item.comment = comment;
        item.commentLength = std::uint16_t(comment.size());
        dir.StoreItem(index, item);
    } else {
        TDirItem item = prepareItem(diskPath, stored, attributes);
        item.operation = poAdd;
        item.comment = comment;
        item.commentLength = std::uint16_t(comment.size());
        index = dir.appendItem(std::move(item));
    }
    TDirItem& item = dir.ItemAt(index);
    item.nameLength = std::uint16_t(item.name.size());
    return index;
}

bool AddOperation::maskListMatch(const std::string& path, const std::string& maskText, bool isFolder) const {
    if (maskText == "*.*")
        return true;
    std::string p = slashed(path);
    std::string mask = slashed(maskText);
    if (isFolder) {
        p = withTrailingSlash(p);
        if (!mask.empty() && mask.back() != '*')
            mask = withTrailingSlash(mask);
    }
    const std::string& base = m_a.m_operationBase;
    const ExpandedMask expanded = expandMask(mask, base, base);
    if (expanded.relative) {
        const std::string b = withTrailingSlash(slashed(base));
        std::string rel = p.starts_with(b) ? p.substr(b.size()) : p;
        if (!hasSeparator(mask))
            rel = std::string(namePart(rel));
        if (rel.empty()) {
            const std::string trimmed = p.substr(0, p.size() - (p.empty() ? 0 : 1));
            rel = std::string(namePart(trimmed));
        }
        return MatchesMask(rel, namePart(expanded.full)) || MatchesMask(rel, mask);
    }
    const std::string_view maskFolder = folderPart(expanded.full);
    if (foldName(folderPart(p)) == foldName(maskFolder))
        return MatchesMask(p, expanded.full);
    // A folder followed by "*.*" covers everything at any depth below it.
    if (namePart(expanded.full) == "*.*") {
        const std::string_view pathFolder = folderPart(p);
        return pathFolder.size() >= maskFolder.size() &&
               foldName(pathFolder.substr(0, maskFolder.size())) == foldName(maskFolder);
    }
    return false;
}

void TZABaseArchiver::AddFiles(const std::string& fileMask, std::uint32_t searchAttr,
                               const std::string& exclusionMask) {
    RequireOpen();
    if (m_spanningMode != smNone && m_updateDepth == 0 && m_dir->currentDir().Count() > 0)
        throw EZAException(52, Name);

    std::vector<std::string> exclusions;
    if (!exclusionMask.empty())
        exclusions.push_back(exclusionMask);

    BeginUpdate();
    try {
        {
            std::lock_guard lock(archiverOperationLock());
            const std::string savedBase = m_operationBase;
            struct RestoreBase {
                std::string& base;
                std::string saved;
                ~RestoreBase() { base = saved; }
            } restore{m_operationBase, savedBase};
            m_operationBase = withTrailingSlash(resolvePath(BaseDir, {}, savedBase));
            // Where the files come from decides whether names that differ only in case
            // are one entry: they are two files on a file system that tells them apart.
            const bool exact = !platform::foldsCase(platform::toPath(m_operationBase));
            m_dir->currentDir().setExactNames(exact);
            m_dir->backupDir().setExactNames(exact);
            AddOperation(*this, std::move(exclusions), searchAttr)
                .searchFolder(m_operationBase, fileMask, Options.Recurse);
        }
        EndUpdate();
    } catch (...) {
        CancelUpdate();
        throw;
    }
}

} // namespace archiver
