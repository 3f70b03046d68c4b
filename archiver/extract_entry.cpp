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

namespace archiver {
namespace {

constexpr int kErrFile = 19;   // the file cannot be written (or is refused)
constexpr int kErrFolder = 20; // a folder cannot be made
constexpr std::uint32_t kAttrReadOnly = 0x01;
// The name a file has while it is written, before it is renamed over its target.
constexpr const char* kPartPrefix = ".kestrane-part-";

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

std::optional<std::uint32_t> fileDosStamp(const std::filesystem::path& p) {
    std::error_code ec;
    const auto t = std::filesystem::last_write_time(p, ec);
    if (ec)
        return std::nullopt;
    const DosDateTime dt = toDosDateTime(t);
    return dosStamp(dt.time, dt.date);
}

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

void TZABaseArchiver::extractEntry(int i, const std::string& storedName, const std::string& destinationBase,
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
        return;
    }
    // The entry is checked before anything is made for it: a refused entry touches the
    // file system not at all.
    const EntryData data = checkedEntry(i, places);
    std::string relative = *confined;
    if (!Options.CreateDirs)
        relative = std::string(namePart(withoutTrailingSeparator(relative)));
    else
        makeFolders(name, destinationBase, std::string(folderPart(relative)));
    if (relative.empty() || relative.ends_with('/'))
        refuseUnsafe(name, "it names the destination itself", Name);

    std::string target = destinationBase + relative;
    if (!overwriteAllowed(item, name, target))
        return;
    // The archive being read is never replaced by one of its entries.
    std::error_code same;
    if (m_archive && std::filesystem::equivalent(platform::toPath(target), m_archive->target(), same))
        throw EZAException(kErrFile, {target}, ZAReason{"it is the archive being read"}, Name);
    writeEntryFile(i, data, target, attributes);
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

bool TZABaseArchiver::overwriteAllowed(const TDirItem& item, const std::string& name, std::string& target) {
    const auto existing = platform::fileAttributes(platform::toPath(target));
    if (!existing)
        return true;
    if (!Options.ReplaceReadOnly && (*existing & kAttrReadOnly))
        return false;
    const std::uint32_t entryStamp = dosStamp(item.modTime, item.modDate);
    switch (Options.OverwriteMode) {
    case omPrompt:
        return confirmOverwrite(name, target, true);
    case omAlways:
        return true;
    case omNever:
        return false;
    case omIfNewer:
        return entryStamp > fileDosStamp(platform::toPath(target)).value_or(0);
    case omIfOlder:
        return entryStamp < fileDosStamp(platform::toPath(target)).value_or(0);
    }
    return false;
}

void TZABaseArchiver::writeEntryFile(int i, const EntryData& data, const std::string& target,
                                     std::uint32_t attributes) {
    const TDirItem& item = m_dir->currentDir().ItemAt(i);
    const std::filesystem::path targetPath = platform::toPath(target);
    std::optional<platform::TempFile> part;
    try {
        part.emplace(targetPath.parent_path(), kPartPrefix);
    } catch (const platform::FileError& e) {
        throw EZAException(kErrFile, {target}, osReason(e.errorNumber()), Name);
    }
    // A failure raises here and the part goes with `part`: the target is as it was.
    decompressInto(i, data, &part->file(), target);
    if (m_cancel)
        return;
    part->file().close();
    std::uint32_t mode = platform::newFileMode();
    if (Options.SetAttributes) {
        if (const auto permissions = storedPermissions(item))
            mode = *permissions;
        else if (attributes & kAttrReadOnly)
            mode &= ~0222u;
    }
    (void)platform::setModeAndTime(part->path(), mode, entryTime(item),
                                   false); // best effort: the entry is whole either way
    // A link in the way is replaced itself; the file it points to is left alone.
    std::error_code ec;
    std::filesystem::rename(part->path(), targetPath, ec);
    if (ec)
        throw EZAException(kErrFile, {target}, osReason(ec.value()), Name);
    part->keep();
}

} // namespace archiver
