#include "app/folder_operations.h"

#include "app/profile_list.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"
#include "platform/run_beside.h"

#include <cstring>

namespace kestrane {
namespace {

// Every entry of a listing, hidden and system files and all subfolders included.
constexpr std::uint32_t kAllEntries = 63;

bool isDotEntry(const std::string& name) { return name.empty() || name == "." || name == ".."; }

std::string withSeparator(std::string path) {
    if (path.empty() || (path.back() != '/' && path.back() != '\\'))
        path += '/';
    return path;
}

struct CopyWalk {
    ProfileWindow& window;
    bool stopOnFailure;
    bool overwrite;
    std::filesystem::path targetRoot; // never copied into itself when it lies inside the source
    CopyOutcome& out;
    bool stopped = false;
};

bool isTargetRoot(const CopyWalk& walk, const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(platform::toPath(path), ec);
    return !ec && p == walk.targetRoot;
}

// Why the folder's entries cannot be read, if they cannot (a listing of an unreadable
// folder is empty).
std::error_code listingError(const std::string& folder) {
    std::error_code ec;
    std::filesystem::directory_iterator it(platform::toPath(folder), ec);
    return ec;
}

void countFailure(CopyOutcome& out, const std::string& path, const std::string& reason = {}) {
    if (!out.lastEntry && out.failedFiles++ == 0) {
        out.firstFailure = path;
        out.firstReason = reason;
    }
}

// Recreates the link `from` at `to`, replacing a file or link of that name.
bool copyLink(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = platform::toPath(to);
    if (fs::is_directory(fs::symlink_status(target, ec)))
        return false;
    fs::remove(target, ec);
    fs::copy_symlink(platform::toPath(from), target, ec);
    return !ec;
}

void copyTree(CopyWalk& walk, const std::string& sourceFolder, const std::string& targetFolder) {
    ProfileWindow& window = walk.window;
    CopyOutcome& out = walk.out;
    const std::string source = withSeparator(sourceFolder);
    const std::string target = withSeparator(targetFolder);
    window.pumpMessages();
    if (!platform::folderExists(platform::toPath(source))) {
        out.lastEntry = false;
        return;
    }
    // A folder that cannot be made (a file in its place, no write access) or listed
    // (no read access) loses all its files: a failure, unlike an empty folder.
    if (const std::error_code made = platform::createFolders(platform::toPath(target))) {
        out.lastEntry = false;
        countFailure(out, targetFolder, made.message());
        return;
    }
    if (const std::error_code error = listingError(source)) {
        out.lastEntry = false;
        countFailure(out, sourceFolder, error.message());
        return;
    }
    out.lastEntry = false;
    for (const auto& entry : platform::listFolder(source + "*", kAllEntries)) {
        window.pumpMessages();
        if (isDotEntry(entry.name))
            continue;
        const std::string from = source + entry.name;
        const std::string to = target + entry.name;
        if ((entry.attributes & platform::kAttrDirectory) && entry.symlink) {
            // A linked folder is copied as the link: following it could copy the whole
            // disk or loop forever (a link to a parent folder).
            out.lastEntry = copyLink(from, to);
            countFailure(out, from);
        } else if (entry.attributes & platform::kAttrDirectory) {
            // A target inside its own source would otherwise be copied into itself forever.
            if (isTargetRoot(walk, from))
                continue;
            copyTree(walk, from, to);
            if (walk.stopped)
                return;
        } else if (!walk.overwrite && platform::fileExists(platform::toPath(to))) {
            out.lastEntry = true;
        } else {
            const std::error_code error =
                platform::copyFile(platform::toPath(from), platform::toPath(to), [&] { window.pumpMessages(); });
            out.lastEntry = !error;
            countFailure(out, from, error.message());
        }
        if (walk.stopOnFailure && !out.lastEntry) {
            walk.stopped = true;
            window.pumpMessages();
            return;
        }
    }
    window.pumpMessages();
}

} // namespace

CopyOutcome CopyFolderTree(ProfileWindow& window, const std::string& source, const std::string& target,
                           bool stopOnFailure, bool overwrite) {
    CopyOutcome out;
    // An empty text names no folder (appending a separator would make it the root).
    if (source.empty() || target.empty())
        return out;
    std::error_code ec;
    CopyWalk walk{window, stopOnFailure, overwrite, std::filesystem::weakly_canonical(platform::toPath(target), ec),
                  out};
    copyTree(walk, source, target);
    return out;
}

bool DeleteFolderTree(ProfileWindow& window, const std::string& folder) {
    namespace fs = std::filesystem;
    auto couldNot = [&](const std::string& path, const std::error_code& error) {
        window.showPlain("Could NOT delete " + path + ": " + error.message());
        return false;
    };
    std::error_code ec;
    const auto status = fs::symlink_status(platform::toPath(folder), ec);
    // A folder on the way that cannot be searched is no "nothing there".
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        return couldNot(folder, ec);
    if (!fs::exists(status))
        return true;
    if (fs::is_symlink(status) || !fs::is_directory(status)) {
        // A linked folder is not ours to empty: remove the link only.
        fs::remove(platform::toPath(folder), ec);
        return ec ? couldNot(folder, ec) : true;
    }
    // Removing a folder's entries takes write permission on it, and listing them read
    // permission: the owner gets both first, as clearing the read-only attribute of a
    // folder restored from Windows would. When that fails, the removals below say why.
    (void)platform::makeFolderWritable(platform::toPath(folder));
    bool childrenGone = true;
    for (const auto& entry : platform::listFolder(folder + "/*.*", kAllEntries)) {
        window.pumpMessages();
        if (isDotEntry(entry.name))
            continue;
        const std::string path = folder + "/" + entry.name;
        if ((entry.attributes & platform::kAttrDirectory) && !entry.symlink) {
            childrenGone = DeleteFolderTree(window, path) && childrenGone;
            continue;
        }
        // A read-only file is made writable first; when that fails, the removal below
        // fails too and reports the reason.
        if (entry.attributes != platform::kAttrArchive && !entry.symlink)
            static_cast<void>(platform::setFileAttributes(platform::toPath(path), platform::kAttrArchive));
        fs::remove(platform::toPath(path), ec);
        if (ec)
            childrenGone = couldNot(path, ec);
    }
    window.pumpMessages();
    fs::remove(platform::toPath(folder), ec);
    if (!ec)
        return true;
    // A folder whose files all went but which stays (no write access to its parent, or
    // entries the listing could not see) is reported itself; one that holds a file
    // already reported is not reported again.
    if (childrenGone)
        couldNot(folder, ec);
    return false;
}

bool RenameFolder(ProfileWindow& window, const std::string& oldPath, const std::string& newPath) {
    try {
        movePath(oldPath, newPath);
    } catch (const ProfileError& e) {
        window.showError(e.what());
        return false;
    }
    return true;
}

bool pathTaken(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(platform::toPath(path), ec));
}

namespace {

std::filesystem::path folderOf(const std::string& path) {
    const auto parent = platform::toPath(path).parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

} // namespace

void movePath(const std::string& from, const std::string& to) {
    if (auto error = platform::renamePath(platform::toPath(from), platform::toPath(to)))
        throw ProfileError("Cannot rename " + from + " to " + to + ": " + *error);
    syncFoldersOf(from, to);
}

void syncFoldersOf(const std::string& from, const std::string& to) {
    // The rename is on disk once the folders that hold both names are.
    platform::syncFolder(folderOf(to));
    if (folderOf(from) != folderOf(to))
        platform::syncFolder(folderOf(from));
}

void flushToDisk(ProfileWindow& window, const std::string& path) {
    // Writing out a large profile can take seconds: the flush runs beside the window's
    // thread, which keeps pumping messages so that the busy window keeps moving.
    const auto error = platform::runBeside([file = platform::toPath(path)] { return platform::syncFileSystem(file); },
                                           [&] { window.pumpMessages(); });
    if (error)
        throw ProfileError("Cannot write " + path + " to disk: " + *error);
}

std::string GetWorkingDirectory() { return platform::currentDirectory(); }

} // namespace kestrane
