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
#include <utility>

namespace kestrane {
namespace fs = std::filesystem;

namespace {

// Puts `handler` into one of the archiver's callback slots for the length of a call, and
// the handler it held back after.
template <typename Slot>
class CallbackFor {
public:
    CallbackFor(Slot& slot, Slot handler) : m_slot(slot), m_previous(std::exchange(slot, std::move(handler))) {}
    ~CallbackFor() { m_slot = std::move(m_previous); }
    CallbackFor(const CallbackFor&) = delete;
    CallbackFor& operator=(const CallbackFor&) = delete;

private:
    Slot& m_slot;
    Slot m_previous;
};

// Pumps the window's messages from the archiver's progress for the length of a call, so
// that the busy window keeps moving inside one long file (file progress) and while the
// finished archive is written out (overall progress).
class ProgressPump {
public:
    ProgressPump(archiver::TZipArchiver& archiver, ProfileWindow& window)
        : m_file(archiver.OnFileProgress, [&window](const std::string&, int, archiver::TZAProcessOperation,
                                                    archiver::TZAProgressPhase, bool&) { window.pumpMessages(); }),
          m_overall(archiver.OnOverallProgress,
                    [&window](int, archiver::TZAProcessOperation, archiver::TZAProgressPhase, bool&) {
                        window.pumpMessages();
                    }) {}

private:
    CallbackFor<decltype(archiver::TZipArchiver::OnFileProgress)> m_file;
    CallbackFor<decltype(archiver::TZipArchiver::OnOverallProgress)> m_overall;
};

// Remembers the first failure the archiver asked about during a call (its text names the
// file and the system's reason), and still asks the front end's question.
class FailureRecorder {
public:
    explicit FailureRecorder(archiver::TZipArchiver& archiver)
        : m_ask(archiver.Prompts.askFailure),
          m_recording(archiver.Prompts.askFailure, [this](const std::string& message, bool allowRetry) {
              if (m_first.empty())
                  m_first = message;
              return m_ask ? m_ask(message, allowRetry) : archiver::fxaAbort;
          }) {}

    const std::string& first() const { return m_first; }

private:
    decltype(archiver::TZAPrompts::askFailure) m_ask; // the front end's question
    CallbackFor<decltype(archiver::TZAPrompts::askFailure)> m_recording;
    std::string m_first;
};

std::string withBase(const std::string& base, const std::string& stored) { return base + "/" + stored; }

// The path on disk of the stored name "name/rest" packed from `folder`; any other text
// (the archive's own warning) as it is.
std::string packedFrom(const std::string& folder, const std::string& name, const std::string& stored) {
    return stored.starts_with(name + "/") ? folder + stored.substr(name.size()) : stored;
}

// The first of `wanted` that the archive does not hold, as its path below `folder`,
// preferring a file that cannot be read: an aborted add leaves every file out, and the
// unreadable one is what went wrong.
std::optional<std::string> firstMissing(const std::string& folder, const std::string& name,
                                        const std::vector<std::string>& wanted,
                                        const std::vector<std::string>& stored) {
    const std::set<std::string> have(stored.begin(), stored.end());
    std::vector<std::string> missing;
    for (const auto& want : wanted)
        if (!have.count(want))
            missing.push_back(packedFrom(folder, name, want));
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

// The first stored name that does not lie inside the profile's own folder: a stray one
// could land anywhere below the folder the archive is unpacked into.
std::optional<std::string> strayName(const std::vector<std::string>& stored, const std::string& name) {
    const auto stray =
        std::find_if(stored.begin(), stored.end(), [&](const std::string& s) { return !s.starts_with(name + "/"); });
    return stray != stored.end() ? std::optional<std::string>(*stray) : std::nullopt;
}

// The failure decision of an unpack: it stops, without a question, at the first entry
// whose data fails its check (or that cannot be read as stored), since the archive is
// damaged, which the caller tells the player once. A failure to write is still the front
// end's question.
decltype(archiver::TZipArchiver::OnProcessFileFailure) damageStops(archiver::TZipArchiver& archiver) {
    return [&archiver](const std::string&, archiver::TZAProcessOperation, int nativeError, int,
                       const std::string& message, archiver::TZAAction& action) {
        static constexpr int kArchivesOwn[] = {8, 16, 55}; // damaged data, no such entry, unsupported method
        action = std::find(std::begin(kArchivesOwn), std::end(kArchivesOwn), nativeError) != std::end(kArchivesOwn)
                     ? archiver::fxaAbort
                     : archiver.defaultFailureDecision(nativeError, message);
    };
}

// The stored-name handler of an add that gives every stored name the root `name`: the
// files of a folder of any name are packed as "name/…" without a link or a copy under
// that name.
decltype(archiver::TZipArchiver::OnStoreFile) storedUnder(const std::string& name) {
    return
        [name](std::string& stored, std::uint32_t&, std::string&, const std::string&) { stored = name + "/" + stored; };
}

} // namespace

ZipProfileArchive::ZipProfileArchive(archiver::TZipArchiver& archiver) : m_archiver(archiver) {
    // A profile may hold files of 4 GiB or more: zip64 records where an entry needs them.
    m_archiver.SetZip64Mode(archiver::zmAuto);
}

std::vector<std::string> expectedStoredNames(const std::string& folder, const std::string& name) {
    std::vector<std::string> names;
    // Every folder is listed, and every file opened, here: a folder that cannot be read
    // would otherwise be packed as an empty one and the archive taken as whole.
    std::vector<std::pair<fs::path, std::string>> folders{{platform::toPath(folder), name}};
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

namespace {

// The stored names of the archive the archiver has open, in archive order.
std::vector<std::string> openArchiveNames(const archiver::TZipArchiver& archiver) {
    std::vector<std::string> names;
    if (const auto* dir = archiver.directory())
        for (int i = 0; i < dir->Count(); ++i)
            names.push_back(dir->ItemAt(i).name);
    return names;
}

} // namespace

std::vector<std::string> archiveStoredNames(archiver::TZipArchiver& archiver, const std::string& fileName) {
    archiver.FileName = fileName;
    archiver.OpenArchive(archiver::kOpenRead);
    std::vector<std::string> names = openArchiveNames(archiver);
    archiver.CloseArchive();
    return names;
}

std::optional<std::string> ZipProfileArchive::pack(ProfileWindow& window, const std::string& folder,
                                                   const std::string& name, const std::string& archivePath) {
    std::vector<std::string> expected;
    try {
        expected = expectedStoredNames(folder, name);
    } catch (const platform::FileError& e) {
        return std::string(e.what());
    }
    FailureRecorder failures(m_archiver);
    try {
        ProgressPump pump(m_archiver, window);
        m_archiver.FileName = archivePath;
        m_archiver.BaseDir = folder;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenCreate);
        {
            const CallbackFor root(m_archiver.OnStoreFile, storedUnder(name));
            m_archiver.AddFiles("./*.*", archiver::kDefaultSearchAttr, "");
        }
        window.pumpMessages();
        m_archiver.CloseArchive();
        if (auto missing = firstMissing(folder, name, expected, archiveStoredNames(m_archiver, archivePath)))
            return failures.first().empty() ? *missing : failures.first();
        if (auto bad = archiver::testArchive(archivePath, [&] { window.pumpMessages(); }))
            return packedFrom(folder, name, *bad);
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        return std::string(e.what()); // not one file: the archiver's own message
    }
    return std::nullopt;
}

std::optional<std::string> ZipProfileArchive::damage(ProfileWindow& window, const std::string& archivePath,
                                                     const std::string& name) {
    try {
        if (auto stray = strayName(archiveStoredNames(m_archiver, archivePath), name))
            return stray;
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
        const CallbackFor stops(m_archiver.OnProcessFileFailure, damageStops(m_archiver));
        m_archiver.FileName = archivePath;
        window.pumpMessages();
        m_archiver.OpenArchive(archiver::kOpenRead);
        // Refused before anything is written: a stray name, or a directory rebuilt from
        // the local headers, which may have lost entries (not the archive as written).
        const std::vector<std::string> stored = openArchiveNames(m_archiver);
        auto refusal = strayName(stored, name);
        if (!refusal)
            refusal = archiver::directoryWarning(*m_archiver.dirManager());
        if (refusal) {
            m_archiver.CloseArchive();
            return refusal;
        }
        m_archiver.BaseDir = destination;
        window.pumpMessages();
        m_archiver.ExtractFiles("*.*", archiver::kDefaultSearchAttr, "");
        window.pumpMessages();
        m_archiver.CloseArchive();

        // Whatever the failure decision answered, a file left out is a failed unpack.
        for (const auto& entry : stored) {
            const fs::path p = platform::toPath(withBase(destination, entry));
            const bool present = entry.ends_with("/") ? platform::folderExists(p) : platform::fileExists(p);
            if (!present)
                return text::kCopyFailed + withBase(destination, entry);
        }
        // The profile folder has no entry of its own: an archive of an empty folder
        // unpacks nothing, and the caller must still find an (empty) folder.
        if (const std::error_code made = platform::createFolders(platform::toPath(withBase(destination, name))))
            return text::kCopyFailed + withBase(destination, name) + ": " + made.message();
    } catch (const std::exception& e) {
        m_archiver.CloseArchive();
        return std::string(e.what());
    }
    return std::nullopt;
}

} // namespace kestrane
