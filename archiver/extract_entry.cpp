// ExtractEntry: one entry of an extraction written below the destination base.
//
// Nothing outside the destination is changed: a name that leaves it is refused, a file
// whose folder a link leads outside is refused, a folder entry whose path is or passes
// through a link is refused, and modes and times are set through a descriptor opened
// without following a link. A file is written under a temporary name in its own folder
// (made with O_EXCL) and renamed over the target only once its size and CRC-32 check
// out, so a refused, damaged or cancelled entry never costs the file that was there.
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include "archiver/entry_places.h"
#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"

namespace archiver {
namespace {

constexpr int kErrFile = 19;   // the file cannot be written (or is refused)
constexpr int kErrFolder = 20; // a folder cannot be made
constexpr std::uint32_t kAttrReadOnly = 0x01;
// How many folders an extraction keeps open for the files made in them.
constexpr std::size_t kOpenFoldersKept = 64;

[[noreturn]] void refuseUnsafe(const std::string& name, const std::string& why, const std::string& component) {
    throw EZAException(kErrFile, {name}, ZAReason{"refused as unsafe: " + why}, component);
}

// The entry's modification time: the UTC time of its extended timestamp when it has one,
// else its DOS time taken as local time.
std::time_t entryTime(const TDirItem& item) {
    const auto utc = extendedModTime(item);
    return utc ? std::time_t(*utc) : fromDosDateTime({item.modTime, item.modDate});
}

std::uint32_t dosStamp(std::uint16_t time, std::uint16_t date) { return std::uint32_t(date) << 16 | time; }

// Whether `relative` below `base` is, or passes through, a link (only steps that exist
// can be links; the base itself is not looked at).
bool passesThroughLink(const std::string& base, std::string_view relative) {
    std::string path = base;
    if (!path.empty() && path.back() != '/')
        path += '/';
    for (std::size_t from = 0; from < relative.size();) {
        std::size_t slash = relative.find('/', from);
        if (slash == std::string_view::npos)
            slash = relative.size();
        path.append(relative.substr(from, slash - from));
        const std::filesystem::path step = platform::toPath(path);
        if (platform::isLink(step))
            return true;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(step, ec)))
            return false; // the steps below it do not exist either
        path += '/';
        from = slash + 1;
    }
    return false;
}

} // namespace

std::optional<EZAException> TZABaseArchiver::extractEntry(int i, const std::string& storedName,
                                                          const std::string& destinationBase,
                                                          const EntryPlaces& places) {
    TZADirArray& dir = m_dir->currentDir();
    if (i < 0 || i >= dir.Count())
        throw EZAException(16, Name);
    std::string name = storedName;
    std::uint32_t attributes = dir.ItemAt(i).externalAttributes;
    if (OnExtractFile)
        OnExtractFile(name, attributes, dir.ItemAt(i).comment);

    const std::optional<std::string> confined = confinedEntryPath(name);
    if (!confined)
        refuseUnsafe(name, "it would lie outside the destination", Name);
    const TDirItem& item = dir.ItemAt(i);
    // A folder entry is one by its attribute as well as by a trailing '/'.
    if (item.isFolder() || item.name.ends_with('/')) {
        if (Options.CreateDirs)
            extractFolderEntry(item, name, destinationBase, withoutTrailingSeparator(*confined));
        return std::nullopt;
    }
    // The entry is checked before anything is made for it: a refused entry touches the
    // file system not at all.
    EntryData data;
    if (std::optional<EZAException> refused = entryRefusal(i, places, data))
        return refused;
    std::string relative = *confined;
    if (!Options.CreateDirs)
        relative = std::string(namePart(withoutTrailingSeparator(relative)));
    if (relative.empty() || relative.ends_with('/'))
        refuseUnsafe(name, "it names the destination itself", Name);
    const std::string relativeFolder(folderPart(relative));
    const platform::FolderHandle& folder = openFolder(name, destinationBase, relativeFolder);
    // A file put where a folder was held open (through a link there) leaves that handle
    // behind: the next entry below that name finds the file.
    forgetFoldersBelow(relative + '/');

    const std::string leaf(namePart(relative));
    std::string target = destinationBase + relative;
    const std::string asked = target;
    const std::optional<platform::EntryStatus> existing = folder.entryStatus(leaf);
    if (existing && !overwriteAllowed(item, name, *existing, target))
        return std::nullopt;
    // The archive being read is never replaced by one of its entries.
    if (existing && target == asked && m_archiveIdentity && existing->identity == *m_archiveIdentity)
        throw EZAException(kErrFile, {target}, ZAReason{"it is the archive being read"}, Name);
    if (target == asked) {
        writeEntryFile(i, data, folder, leaf, target, attributes);
        return std::nullopt;
    }
    // The question named another file: its folder is opened for it alone.
    std::error_code same;
    if (m_archive && std::filesystem::equivalent(platform::toPath(target), m_archive->target(), same))
        throw EZAException(kErrFile, {target}, ZAReason{"it is the archive being read"}, Name);
    const std::filesystem::path chosen = platform::toPath(target);
    std::optional<platform::FolderHandle> elsewhere;
    try {
        elsewhere.emplace(chosen.parent_path());
    } catch (const platform::FileError& e) {
        throw EZAException(kErrFile, {target}, osReason(e.errorNumber()), Name);
    }
    writeEntryFile(i, data, *elsewhere, platform::pathText(chosen.filename()), target, attributes);
    return std::nullopt;
}

const platform::FolderHandle& TZABaseArchiver::openFolder(const std::string& name, const std::string& destinationBase,
                                                          const std::string& relativeFolder) {
    if (const auto found = m_openFolders.find(relativeFolder); found != m_openFolders.end())
        return found->second;
    makeFolders(name, destinationBase, relativeFolder);
    // The destination base now exists: workers may write files ahead into it.
    if (m_inflater && !m_aheadBase) {
        try {
            m_aheadBase.emplace(platform::toPath(destinationBase));
            m_aheadFolder.store(&*m_aheadBase, std::memory_order_release);
        } catch (const platform::FileError&) {} // then every file is written here
    }
    // An archive of very many folders keeps only some of them open.
    if (m_openFolders.size() >= kOpenFoldersKept)
        m_openFolders.clear();
    try {
        return m_openFolders.emplace(relativeFolder, platform::toPath(destinationBase + relativeFolder)).first->second;
    } catch (const platform::FileError& e) {
        throw EZAException(kErrFolder, {destinationBase + relativeFolder}, osReason(e.errorNumber()), Name);
    }
}

void TZABaseArchiver::forgetFoldersBelow(const std::string& relativeFolder) {
    auto it = m_openFolders.lower_bound(relativeFolder);
    while (it != m_openFolders.end() && it->first.starts_with(relativeFolder))
        it = m_openFolders.erase(it);
}

void TZABaseArchiver::makeFolders(const std::string& name, const std::string& destinationBase,
                                  const std::string& relativeFolder) {
    const std::string folder = destinationBase + relativeFolder;
    // Checked before anything is made: a link already in the destination could lead the
    // new folders elsewhere. The steps that do not exist yet are plain names.
    if (!platform::isWithinFolder(platform::toPath(folder), platform::toPath(destinationBase)))
        refuseUnsafe(name, "a link in the destination leads outside it", Name);
    if (const std::error_code ec = platform::createFolders(platform::toPath(folder)))
        throw EZAException(kErrFolder, {folder}, osReason(ec.value()), Name);
}

void TZABaseArchiver::extractFolderEntry(const TDirItem& item, const std::string& name,
                                         const std::string& destinationBase, const std::string& relative) {
    if (relative.empty())
        return; // the destination itself: there is nothing to make, and its mode stays
    // The folder's mode is given at the end: that must never reach through a link, even
    // one that stays inside the destination, so such a path is refused at once.
    if (passesThroughLink(destinationBase, relative))
        refuseUnsafe(name, "its path passes through a link", Name);
    makeFolders(name, destinationBase, relative + '/');
    // Its own mode comes once everything in it is written (it may forbid writing).
    if (const auto permissions = storedPermissions(item); permissions && Options.SetAttributes)
        m_folderPermissions.emplace_back(relative, *permissions);
}

void TZABaseArchiver::applyFolderModes(const std::string& destinationBase) {
    // Innermost folders first, so that a folder that forbids writing is the last change in it.
    for (auto it = m_folderPermissions.rbegin(); it != m_folderPermissions.rend(); ++it)
        if (!passesThroughLink(destinationBase, it->first))
            (void)platform::setModeAndTime(platform::toPath(destinationBase + it->first), it->second, std::nullopt,
                                           true); // best effort: the entries are whole either way
    m_folderPermissions.clear();
}

bool TZABaseArchiver::overwriteAllowed(const TDirItem& item, const std::string& name,
                                       const platform::EntryStatus& existing, std::string& target) {
    if (!Options.ReplaceReadOnly && (existing.attributes & kAttrReadOnly))
        return false;
    const std::uint32_t entryStamp = dosStamp(item.modTime, item.modDate);
    const DosDateTime dt = toDosDateTime(existing.lastWrite);
    const std::uint32_t fileStamp = dosStamp(dt.time, dt.date);
    switch (Options.OverwriteMode) {
    case omPrompt:
        return confirmOverwrite(name, target, true);
    case omAlways:
        return true;
    case omNever:
        return false;
    case omIfNewer:
        return entryStamp > fileStamp;
    case omIfOlder:
        return entryStamp < fileStamp;
    }
    return false;
}

void TZABaseArchiver::writeEntryFile(int i, const EntryData& data, const platform::FolderHandle& folder,
                                     const std::string& leaf, const std::string& target, std::uint32_t attributes) {
    const TDirItem& item = m_dir->currentDir().ItemAt(i);
    // A failure raises here and the part goes with `part`: the target is as it was.
    // A file written ahead by a worker lies in the destination base.
    std::optional<platform::TempFile> part = m_inflater ? takeWrittenFile(i, data, target) : std::nullopt;
    if (m_cancel)
        return;
    const platform::FolderHandle* partFolder = part ? &*m_aheadBase : &folder;
    if (!part) {
        try {
            part.emplace(folder.createTemporary(kPartPrefix));
        } catch (const platform::FileError& e) {
            throw EZAException(kErrFile, {target}, osReason(e.errorNumber()), Name);
        }
        decompressInto(i, data, &part->file(), target);
        if (m_cancel)
            return;
    }
    std::uint32_t mode = platform::newFileMode();
    if (Options.SetAttributes) {
        if (const auto permissions = storedPermissions(item))
            mode = *permissions;
        else if (attributes & kAttrReadOnly)
            mode &= ~0222u;
    }
    // Given through the open file, before its name is published.
    (void)part->file().setModeAndTime(mode, entryTime(item)); // best effort: the entry is whole either way
    part->file().close();
    // A link in the way is replaced itself; the file it points to is left alone.
    std::error_code ec = partFolder->renameTo(platform::pathText(part->path().filename()), folder, leaf);
    if (ec == std::errc::cross_device_link && partFolder != &folder) {
        // The target's folder is on another file system (a mount inside the destination):
        // the entry is written there after all.
        part.reset();
        writeEntryFile(i, data, folder, leaf, target, attributes);
        return;
    }
    if (ec)
        throw EZAException(kErrFile, {target}, osReason(ec.value()), Name);
    part->keep();
}

} // namespace archiver
