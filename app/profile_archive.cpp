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

namespace {

// Pumps the window's messages from the archiver's progress for the length of a call, so
// that the busy window keeps moving inside one long file (file progress) and while the
// finished archive is written out (overall progress).
class ProgressPump {
public:
    ProgressPump(archiver::TZipArchiver& archiver, ProfileWindow& window)
        : m_archiver(archiver), m_previousFile(archiver.OnFileProgress), m_previousOverall(archiver.OnOverallProgress) {
        archiver.OnFileProgress = [&window](const std::string&, int, archiver::TZAProcessOperation,
                                            archiver::TZAProgressPhase, bool&) { window.pumpMessages(); };
        archiver.OnOverallProgress = [&window](int, archiver::TZAProcessOperation, archiver::TZAProgressPhase, bool&) {
            window.pumpMessages();
        };
    }
    ~ProgressPump() {
        m_archiver.OnFileProgress = m_previousFile;
        m_archiver.OnOverallProgress = m_previousOverall;
    }
    ProgressPump(const ProgressPump&) = delete;
    ProgressPump& operator=(const ProgressPump&) = delete;

private:
    archiver::TZipArchiver& m_archiver;
    decltype(archiver::TZipArchiver::OnFileProgress) m_previousFile;
    decltype(archiver::TZipArchiver::OnOverallProgress) m_previousOverall;
};

// Remembers the first failure the archiver asked about during a call (its text names the
// file and the system's reason), and still asks the front end's question.
class FailureRecorder {
public:
    explicit FailureRecorder(archiver::TZipArchiver& archiver)
        : m_archiver(archiver), m_previous(archiver.Prompts.askFailure) {
        archiver.Prompts.askFailure = [this](const std::string& message, bool allowRetry) {
            if (m_first.empty())
                m_first = message;
            return m_previous ? m_previous(message, allowRetry) : archiver::fxaAbort;
        };
    }
    ~FailureRecorder() { m_archiver.Prompts.askFailure = m_previous; }
    FailureRecorder(const FailureRecorder&) = delete;
    FailureRecorder& operator=(const FailureRecorder&) = delete;

    const std::string& first() const { return m_first; }

private:
    archiver::TZipArchiver& m_archiver;
    decltype(archiver::TZAPrompts::askFailure) m_previous;
    std::string m_first;
};

std::string withBase(const std::string& base, const std::string& stored) { return base + "/" + stored; }

// The first of `wanted` that the archive does not hold, preferring a file that cannot be
// read: an aborted add leaves every file out, and the unreadable one is what went wrong.
std::optional<std::string> firstMissing(const std::string& base, const std::vector<std::string>& wanted,
                                        const std::vector<std::string>& stored) {
    const std::set<std::string> have(stored.begin(), stored.end());
    std::vector<std::string> missing;
    for (const auto& want : wanted)
        if (!have.count(want))
            missing.push_back(withBase(base, want));
    if (missing.empty())
        return std::nullopt;
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
    return unreadable != missing.end() ? *unreadable : missing.front();
}

} // namespace

ZipProfileArchive::ZipProfileArchive(archiver::TZipArchiver& archiver) : m_archiver(archiver) {
    // A profile may hold files of 4 GiB or more: zip64 records where an entry needs them.
    m_archiver.SetZip64Mode(archiver::zmAuto);
}

std::vector<std::string> expectedStoredNames(const std::string& base, const std::string& name) {
    std::vector<std::string> names;
    // Every folder is listed, and every file opened, here: a folder that cannot be read
    // would otherwise be packed as an empty one and the archive taken as whole.
    std::vector<std::pair<fs::path, std::string>> folders{{platform::toPath(withBase(base, name)), name}};
    while (!folders.empty()) {
        const auto [folder, stored] = folders.back();
        folders.pop_back();
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string rel = stored + "/" + platform::pathText(it->path().filename());
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                names.push_back(rel + "/");
                folders.emplace_back(it->path(), rel);
            } else {
                names.push_back(rel);
                if (!it->is_symlink(ec))
                    platform::File::openRead(it->path()); // throws FileError with the path and reason
            }
        }
        if (ec)
            throw platform::FileError(ec.value(), folder,
                                      "Cannot read " + platform::pathText(folder) + ": " + ec.message());
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

std::optional<std::string> ZipProfileArchive::pack(ProfileWindow& window, const std::string& base,
                                                   const std::string& name, const std::string& archivePath) {
    std::vector<std::string> expected;
    try {
        expected = expectedStoredNames(base, name);
    } catch (const platform::FileError& e) {
        return std::string(e.what());
    }
    FailureRecorder failures(m_archiver);
    try {
        ProgressPump pump(m_archiver, window);
        m_archiver.FileName = archivePath;
        m_archiver.BaseDir = base;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenCreate);
        // The mask is taken below BaseDir, which gives the stored names their root.
        m_archiver.AddFiles("./" + name + "/*.*", archiver::kDefaultSearchAttr, "");
        window.pumpMessages();
        m_archiver.CloseArchive();
        if (auto missing = firstMissing(base, expected, archiveStoredNames(m_archiver, archivePath)))
            return failures.first().empty() ? *missing : failures.first();
        if (auto bad = archiver::testArchive(archivePath, [&] { window.pumpMessages(); }))
            return withBase(base, *bad);
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        return std::string(e.what()); // not one file: the archiver's own message
    }
    return std::nullopt;
}

std::optional<std::string> ZipProfileArchive::damage(ProfileWindow& window, const std::string& archivePath,
                                                     const std::string& name) {
    try {
        // Every entry must lie inside the profile's own folder: a stray one could land
        // anywhere below the folder it is unpacked into.
        for (const auto& stored : archiveStoredNames(m_archiver, archivePath))
            if (!stored.starts_with(name + "/"))
                return stored;
        return archiver::testArchive(archivePath, [&] { window.pumpMessages(); });
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        return std::string(e.what());
    }
}

std::optional<std::string> ZipProfileArchive::unpack(ProfileWindow& window, const std::string& archivePath,
                                                     const std::string& name, const std::string& destination) {
    try {
        ProgressPump pump(m_archiver, window);
        m_archiver.FileName = archivePath;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenRead);
        m_archiver.BaseDir = destination;
        window.pumpMessages();
        m_archiver.ExtractFiles("*.*", archiver::kDefaultSearchAttr, "");
        window.pumpMessages();
        m_archiver.CloseArchive();

        // Whatever the failure decision answered, a file left out is a failed unpack.
        for (const auto& stored : archiveStoredNames(m_archiver, archivePath)) {
            const fs::path p = platform::toPath(withBase(destination, stored));
            const bool present = stored.ends_with("/") ? platform::folderExists(p) : platform::fileExists(p);
            if (!present)
                return text::kCopyFailed + withBase(destination, stored);
        }
        // The profile folder has no entry of its own: an archive of an empty folder
        // unpacks nothing, and the caller must still find an (empty) folder.
        if (!platform::createFolders(platform::toPath(withBase(destination, name))))
            return text::kCopyFailed + withBase(destination, name);
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        return std::string(e.what());
    }
    return std::nullopt;
}

} // namespace kestrane
