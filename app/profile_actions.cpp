#include "app/profile_actions.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/encoding.h"
#include "platform/file_system.h"

#include <filesystem>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// Shows the busy window for the duration of a scope and hides it on every way out,
// an exception included, so that no busy window stays on screen after a failure.
class BusyWindowScope {
public:
    explicit BusyWindowScope(ProfileWindow& window) : m_window(window) {
        m_window.showBusyWindow();
        m_window.pumpMessages();
    }
    ~BusyWindowScope() { hide(); }
    BusyWindowScope(const BusyWindowScope&) = delete;
    BusyWindowScope& operator=(const BusyWindowScope&) = delete;

    void hide() {
        if (m_shown) {
            m_shown = false;
            m_window.hideBusyWindow();
        }
    }

private:
    ProfileWindow& m_window;
    bool m_shown = true;
};

// A name that can stand for a folder in the working directory: "." and ".." would name
// the working directory and its parent, which no action may copy into or delete.
bool isDotName(std::string_view name) { return name == "." || name == ".."; }

// The refusal for a new name, or nullptr when the name may be used. `takenBy` decides
// the duplicate rule, which differs between save and rename.
template <class TakenTest>
const char* newNameRefusal(std::string_view name, TakenTest takenBy, std::string& detail) {
    if (name.empty())
        return text::kNameEmpty;
    if (takenBy(name))
        return text::kNameTaken;
    if (NameHasForbiddenChars(name))
        return text::kForbiddenChars;
    if (platform::utf8Length(name) > kDisplayLimit)
        return text::kNameTooLong;
    if (isDotName(name)) {
        detail = name;
        return text::kInvalidName;
    }
    return nullptr;
}

// The selected profile's name, or nullopt after showing why there is none usable.
std::optional<std::string> selectedProfile(ProfileWindow& window) {
    const auto entries = window.profileEntries();
    const int index = window.selectedIndex();
    if (index < 0 || std::size_t(index) >= entries.size() || entries[std::size_t(index)].empty()) {
        window.showError(text::kNothingSelected);
        return std::nullopt;
    }
    const std::string& name = entries[std::size_t(index)];
    // A line edited outside the program may hold a name that points outside the
    // working directory; no action touches files for it.
    if (isDotName(name) || NameHasForbiddenChars(name)) {
        window.showError(text::kInvalidName + name);
        return std::nullopt;
    }
    return name;
}

// Whether anything, a dangling link included, is at path.
bool pathTaken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(platform::toPath(path), ec));
}

bool isWithin(const std::string& inner, const std::string& outer) {
    return platform::isWithinFolder(platform::toPath(inner), platform::toPath(outer));
}

} // namespace

bool NameHasForbiddenChars(std::string_view name) {
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return true;
        switch (c) {
        case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
            return true;
        default:
            break;
        }
    }
    return false;
}

std::string profileFolder(std::string_view name) { return "./" + std::string(name); }
std::string profileArchivePath(std::string_view name) { return "./" + std::string(name) + ".zip"; }

bool SaveProfile(ProfileWindow& window, ProfileArchive* archive) {
    // The fields are taken once: they stay editable while the save pumps messages, and
    // a systems folder emptied meanwhile must not turn the copy into one of the root.
    const std::string systems = window.systemsFolderText();
    const std::string gameFolder = window.gameFolderText();
    const std::string name = window.nameText();
    const bool archived = window.archiveBoxTicked() && archive != nullptr;
    if (systems.empty()) {
        window.showError(text::kSystemsFolderEmpty);
        return false;
    }
    if (gameFolder.empty()) {
        window.showError(text::kGameFolderEmpty);
        return false;
    }
    std::string detail;
    if (const char* refusal = newNameRefusal(name, ProfileNameTaken, detail)) {
        window.showError(refusal + detail);
        return false;
    }
    // Something already at the profile folder's place (options.ini itself, another
    // profile's archive, a folder left behind) would take the copy's place or mix its
    // files into the new profile. An archive left under the name is replaced.
    if (pathTaken(profileFolder(name))) {
        window.showError(text::kNameTaken);
        return false;
    }
    if (!platform::folderExists(platform::toPath(systems))) {
        window.showError(text::kFolderNotFound + systems);
        return false;
    }

    BusyWindowScope busy(window);
    AppendProfile(name, gameFolder, archived);
    window.pumpMessages();
    const CopyOutcome copy = CopyFolderTree(window, systems, profileFolder(name), false, true);
    window.pumpMessages();
    if (copy.failedFiles > 0 || !platform::folderExists(platform::toPath(profileFolder(name)))) {
        // A profile missing some of its files is worse than none: undo the save.
        DeleteProfileLine(kProfileListFile, name);
        DeleteFolderTree(window, profileFolder(name));
        busy.hide();
        window.showError(text::kCopyFailed + (copy.failedFiles > 0 ? copy.firstFailure : systems));
        return false;
    }
    if (archived) {
        if (auto failed = archive->archiveProfile(window, name)) {
            // The folder stayed; keep the profile usable as an unpacked one.
            SetProfileArchived(name, false);
            busy.hide();
            window.refreshMainWindow();
            window.showError(text::kPackFailed + *failed);
            return false;
        }
    }
    busy.hide();
    window.refreshMainWindow();
    window.showInformation("Сервер " + name + " успешно сохранен");
    window.clearEntryFields();
    return true;
}

bool RenameProfile(ProfileWindow& window, ProfileArchive* archive) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& oldName = *selected;
    const std::string newName = window.nameText();

    // The matching rule finds a profile by the first line holding its name, so a new
    // name may neither occur in another line nor contain another profile's name.
    const auto lines = ProfileListExists() ? readListFile(kProfileListFile) : std::vector<std::string>();
    const int ownLine = matchingLine(lines, oldName);
    auto taken = [&](std::string_view candidate) {
        if (nameOccursInLines(lines, candidate, ownLine))
            return true;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string other = displayName(lines[i]);
            if (int(i) != ownLine && !other.empty() && nameOccursInLines({std::string(candidate)}, other))
                return true;
        }
        return false;
    };
    std::string detail;
    if (const char* refusal = newNameRefusal(newName, taken, detail)) {
        window.showError(refusal + detail);
        return false;
    }

    if (newName != oldName) {
        // The line is rewritten after the files were renamed, so that a refused folder
        // rename changes nothing; a list that cannot be written must then stop the
        // rename before any file moves, or the line would keep a name no file has.
        writeListFile(kProfileListFile, readListFile(kProfileListFile));
        const bool archived = ownLine >= 0 && IsProfileArchived(oldName);
        if (archived) {
            if (archive == nullptr || !archive->renameProfileArchive(window, oldName, newName))
                return false;
        } else {
            const std::string wd = GetWorkingDirectory();
            if (!RenameFolder(window, wd + "/" + oldName, wd + "/" + newName))
                return false;
        }
        RenameProfileLine(oldName, newName);
    }
    window.showInformation("Сервер " + oldName + " успешно переименован на " + newName);
    window.clearEntryFields();
    window.refreshMainWindow();
    return true;
}

bool DeleteProfile(ProfileWindow& window) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& name = *selected;
    if (!window.askYesNo(text::kDeleteCaption, text::kDeleteQuestion))
        return false;

    if (window.profileEntries().size() == 1) {
        DeleteFolderTree(window, profileFolder(name));
        platform::deleteFile(platform::toPath(profileArchivePath(name)));
        window.showInformation(profileArchivePath(name));
        platform::deleteFile(kProfileListFile);
        window.showInformation("Сервер " + name + " успешно удален");
        LoadProfileList(window);
        return true;
    }
    DeleteProfileLine(kProfileListFile, name);
    DeleteFolderTree(window, profileFolder(name));
    platform::deleteFile(platform::toPath(profileArchivePath(name)));
    window.showInformation("Сервер " + name + " успешно удален");
    LoadProfileList(window);
    selectFirstEntry(window);
    return true;
}

bool ApplyProfile(ProfileWindow& window, ProfileArchive* archive) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& name = *selected;

    BusyWindowScope busy(window);
    const std::string gameFolder = ProfileHasLine(name) ? LookupGameFolder(name) : std::string();
    const std::string systemFolder = gameFolder + "/system";
    // Deleting the system folder must not reach the working directory (the profiles and
    // options.ini) nor the profile's own files.
    if (gameFolder.empty() || isWithin(GetWorkingDirectory(), systemFolder) ||
        isWithin(systemFolder, profileFolder(name))) {
        busy.hide();
        window.showError(text::kBadGameFolder + gameFolder);
        return false;
    }

    // The profile's files must be at hand before the game's folder is touched.
    const bool archived = IsProfileArchived(name);
    if (archived) {
        if (!platform::fileExists(platform::toPath(profileArchivePath(name))) || archive == nullptr) {
            busy.hide();
            window.showError(text::kFilesNotFound + name);
            return false;
        }
        if (auto error = archive->extractProfile(window, name)) {
            busy.hide();
            window.showError(*error);
            return false;
        }
    } else if (!platform::folderExists(platform::toPath(profileFolder(name)))) {
        busy.hide();
        window.showError(text::kFilesNotFound + name);
        return false;
    }

    DeleteFolderTree(window, systemFolder);
    const CopyOutcome copy = CopyFolderTree(window, profileFolder(name), systemFolder, false, true);
    window.pumpMessages();
    if (archived)
        DeleteFolderTree(window, profileFolder(name));
    if (copy.failedFiles > 0) {
        busy.hide();
        window.showError(text::kCopyFailed + copy.firstFailure);
        return false;
    }
    window.showInformation("Сервер " + name + " записан в папку " + systemFolder);
    busy.hide();
    selectFirstEntry(window);
    return true;
}

} // namespace kestrane
