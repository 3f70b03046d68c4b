#include "app/profile_archive.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace kestrane {
namespace fs = std::filesystem;

ZipProfileArchive::ZipProfileArchive(archiver::TZipArchiver& archiver) : m_archiver(archiver) {}

std::vector<std::string> expectedStoredNames(const std::string& name) {
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path root = platform::toPath(profileFolder(name));
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = name + "/" + fs::relative(it->path(), root, ec).generic_string();
        names.push_back(it->is_directory() && !it->is_symlink() ? rel + "/" : rel);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> archiveStoredNames(archiver::TZipArchiver& archiver, const std::string& fileName) {
    archiver.FileName = fileName;
    archiver.OpenArchive(archiver::kOpenRead);
    std::vector<std::string> names;
    if (const auto* dir = archiver.directory())
        for (int i = 0; i < dir->Count(); ++i)
            names.push_back(dir->ItemAt(i).name);
    archiver.CloseArchive();
    return names;
}

std::optional<std::string> ZipProfileArchive::archiveProfile(ProfileWindow& window, const std::string& name) {
    const std::string archivePath = profileArchivePath(name);
    const auto expected = expectedStoredNames(name);
    std::optional<std::string> failure;
    try {
        m_archiver.FileName = archivePath;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenCreate);
        m_archiver.AddFiles(profileFolder(name) + "/*.*", archiver::kDefaultSearchAttr, "");
        window.pumpMessages();
        m_archiver.CloseArchive();

        // The folder goes only when the archive, read back, holds all of it intact.
        const auto stored = archiveStoredNames(m_archiver, archivePath);
        const std::set<std::string> have(stored.begin(), stored.end());
        std::vector<std::string> missing;
        for (const auto& want : expected)
            if (!have.count(want))
                missing.push_back("./" + want);
        // An aborted add leaves every file out: name the one that could not be read,
        // which is what went wrong, rather than the first one missing.
        auto unreadable = std::find_if(missing.begin(), missing.end(), [](const std::string& path) {
            if (path.ends_with("/"))
                return false;
            try {
                platform::File::openRead(platform::toPath(path));
                return false;
            } catch (const platform::FileError&) {
                return true;
            }
        });
        if (unreadable != missing.end())
            failure = *unreadable;
        else if (!missing.empty())
            failure = missing.front();
        if (!failure) {
            if (auto bad = archiver::testArchive(archivePath))
                failure = "./" + *bad;
        }
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        failure = e.what();  // not one file: the archiver's own message
    }
    window.pumpMessages();
    if (failure) {
        platform::deleteFile(platform::toPath(archivePath));
        return failure;
    }
    DeleteFolderTree(window, profileFolder(name));
    return std::nullopt;
}

std::optional<std::string> ZipProfileArchive::extractProfile(ProfileWindow& window, const std::string& name) {
    const std::string archivePath = profileArchivePath(name);
    const std::string folder = profileFolder(name);
    auto fail = [&](const std::string& text) -> std::optional<std::string> {
        m_archiver.CloseArchive();
        DeleteFolderTree(window, folder);
        return text;
    };
    try {
        // Every entry must be intact and inside the profile's own folder before anything
        // is unpacked: a stray entry could otherwise overwrite options.ini or another profile.
        for (const auto& stored : archiveStoredNames(m_archiver, archivePath))
            if (stored.rfind(name + "/", 0) != 0)
                return fail(text::kCopyFailed + ("./" + stored));
        if (auto bad = archiver::testArchive(archivePath))
            return fail(text::kCopyFailed + ("./" + *bad));

        // A folder left over under the profile's name (an apply that never finished)
        // would mix its own files into what the apply copies: only the archive counts.
        DeleteFolderTree(window, folder);

        m_archiver.FileName = archivePath;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenRead);
        m_archiver.BaseDir = "./";
        window.pumpMessages();
        m_archiver.ExtractFiles("*.*", archiver::kDefaultSearchAttr, "");
        window.pumpMessages();
        m_archiver.CloseArchive();

        for (const auto& stored : archiveStoredNames(m_archiver, archivePath)) {
            const fs::path p = platform::toPath("./" + stored);
            const bool present = stored.ends_with("/") ? platform::folderExists(p) : platform::fileExists(p);
            if (!present)
                return fail(text::kCopyFailed + ("./" + stored));
        }
        // The profile folder has no entry of its own: an archive of an empty folder
        // unpacks nothing, and the apply must still find an (empty) profile folder.
        if (!platform::createFolders(platform::toPath(folder)))
            return fail(text::kCopyFailed + folder);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    return std::nullopt;
}

bool ZipProfileArchive::renameProfileArchive(ProfileWindow& window, const std::string& oldName,
                                             const std::string& newName) {
    if (platform::folderExists(platform::toPath(profileFolder(newName))) ||
        platform::fileExists(platform::toPath(profileArchivePath(newName)))) {
        window.showError(text::kNameTaken);
        return false;
    }
    if (auto error = extractProfile(window, oldName)) {
        window.showError(*error);
        return false;
    }
    const std::string wd = GetWorkingDirectory();
    if (!RenameFolder(window, wd + "/" + oldName, wd + "/" + newName)) {
        DeleteFolderTree(window, profileFolder(oldName));
        return false;
    }
    if (auto failed = archiveProfile(window, newName)) {
        DeleteFolderTree(window, profileFolder(newName));
        window.showError(text::kPackFailed + *failed);
        return false;
    }
    platform::deleteFile(platform::toPath(profileArchivePath(oldName)));
    return true;
}

} // namespace kestrane
