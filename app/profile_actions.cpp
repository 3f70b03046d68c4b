#include "app/profile_actions.h"

#include "app/action_scope.h"
#include "app/application.h"
#include "app/folder_operations.h"
#include "app/game_folder.h"
#include "app/profile_list.h"
#include "platform/encoding.h"
#include "platform/file_lock.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

bool isBlank(std::string_view name) { return name.find_first_not_of(' ') == std::string_view::npos; }

// The refusal for a new name, or nullptr when the name may be used. `takenBy` decides
// the duplicate rule, which differs between save and rename.
template <class TakenTest>
const char* newNameRefusal(std::string_view name, TakenTest takenBy, std::string& detail) {
    if (isBlank(name))
        return text::kNameEmpty; // a name of blanks would be an invisible entry
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

// A TAB or a line break in a folder would split or add lines of options.ini.
bool hasControlChars(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// The selected profile's name, or nullopt after showing why there is none usable.
std::optional<std::string> selectedProfile(ProfileWindow& window) {
    const auto entries = window.profileEntries();
    const int index = window.SelectedIndex();
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

// The fields of name's matching line, or nullopt with the refusal to show: no line, or a
// line that is not name TAB folder TAB flag for exactly this name.
std::optional<ProfileFields> profileOf(const ProfileListText& list, const std::string& name, std::string& refusal) {
    const int index = list.matching(name);
    if (index < 0) {
        refusal = text::kProfileNotFound + name;
        return std::nullopt;
    }
    const std::string& line = list.lines[std::size_t(index)].text;
    auto fields = parseProfileLine(line);
    if (!fields || fields->name != name) {
        refusal = text::kInvalidLine + displayName(line);
        return std::nullopt;
    }
    return fields;
}

// The same for an action without the busy window: the refusal is shown.
std::optional<ProfileFields> profileOf(ProfileWindow& window, const ProfileListText& list, const std::string& name) {
    std::string refusal;
    auto fields = profileOf(list, name, refusal);
    if (!fields)
        window.showError(refusal);
    return fields;
}

bool isWithin(const std::string& inner, const std::string& outer) {
    return platform::isWithinFolder(platform::toPath(inner), platform::toPath(outer));
}

// Whether two places overlap: one is the other or lies inside it.
bool overlaps(const std::string& a, const std::string& b) { return isWithin(a, b) || isWithin(b, a); }

// An apply replaces game/system whole: it must not be, hold or lie inside the working
// directory, the staging place or any profile's files.
bool gameFolderIsSafe(const ProfileListText& list, const GameFolder& game) {
    if (overlaps(game.system, ".") || overlaps(game.system, kStagingFolder))
        return false;
    for (const auto& line : list.lines) {
        const auto fields = parseProfileLine(line.text);
        if (fields && !isDotName(fields->name) && !NameHasForbiddenChars(fields->name) &&
            (overlaps(game.system, profileFolder(fields->name)) ||
             overlaps(game.system, profileArchivePath(fields->name))))
            return false;
    }
    return true;
}

// The game folder's lock, taken after making the folder; nullopt with the refusal to show.
std::optional<platform::FileLock> lockGameFolder(const GameFolder& game, std::string& refusal) {
    if (!platform::createFolders(platform::toPath(game.folder))) {
        refusal = text::kBadGameFolder + game.folder;
        return std::nullopt;
    }
    std::optional<platform::FileLock> lock;
    try {
        lock = platform::FileLock::acquire(platform::toPath(game.folder), platform::FileLock::Mode::Exclusive);
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
    if (!lock)
        refusal = text::kAnotherCopyRunning;
    return lock;
}

// Builds the complete new `system` folder as game.fresh, from the profile folder or
// straight out of the profile archive; answers the error to show when it cannot.
std::optional<std::string> assembleNewSystem(ProfileWindow& window, ProfileArchive* archive,
                                             const ProfileFields& profile, const GameFolder& game) {
    if (profile.archived) {
        if (auto error = archive->unpack(window, profileArchivePath(profile.name), profile.name, game.partial))
            return error;
        movePath(game.partial + "/" + profile.name, game.fresh);
        DeleteFolderTree(window, game.partial);
        return std::nullopt;
    }
    const CopyOutcome copy = CopyFolderTree(window, profileFolder(profile.name), game.partial, false, true);
    window.pumpMessages();
    if (copy.failedFiles > 0)
        return text::kCopyFailed + copy.failureText();
    if (!platform::folderExists(platform::toPath(game.partial)) &&
        !platform::createFolders(platform::toPath(game.partial)))
        return text::kCopyFailed + game.partial;
    movePath(game.partial, game.fresh);
    return std::nullopt;
}

// The profile folder of a save, built as work/name: every file of the systems folder, or
// the save fails. Answers its path, or the empty text after the busy window went and the
// error was shown.
std::string copySystemsFolder(ProfileWindow& window, BusyWindowScope& busy, const std::string& systems,
                              const std::string& work, const std::string& name) {
    const std::string copied = work + "/" + name;
    const CopyOutcome copy = CopyFolderTree(window, systems, copied, false, true);
    window.pumpMessages();
    if (copy.failedFiles == 0 && platform::folderExists(platform::toPath(copied)))
        return copied;
    busy.hide();
    window.showError(text::kCopyFailed + (copy.failedFiles > 0 ? copy.failureText() : systems));
    return {};
}

// The profile archive of a save, packed straight from the systems folder as work/name.zip
// (through a link work/name, which gives the stored names their root) and tested. Answers
// its path, or the empty text after the busy window went and the error was shown.
std::string packSystemsFolder(ProfileWindow& window, BusyWindowScope& busy, ProfileArchive& archive,
                              const std::string& systems, const std::string& work, const std::string& name) {
    const std::string root = work + "/" + name;
    std::error_code ec;
    fs::create_directory_symlink(fs::absolute(platform::toPath(systems), ec), platform::toPath(root), ec);
    const std::string packed = root + ".zip";
    std::optional<std::string> failed;
    if (ec)
        failed = root + ": " + ec.message();
    else
        failed = archive.pack(window, work, name, packed);
    if (!failed)
        return packed;
    // Name the user's file, not its place behind the link (the archiver may name it
    // with its full path).
    const std::string fullRoot = fs::absolute(platform::toPath(root), ec).lexically_normal().string();
    for (const std::string& place : {fullRoot, root})
        for (auto at = failed->find(place); at != std::string::npos; at = failed->find(place, at + systems.size()))
            failed->replace(at, place.size(), systems);
    busy.hide();
    window.showError(text::kPackFailed + *failed);
    return {};
}

} // namespace

bool NameHasForbiddenChars(std::string_view name) {
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return true;
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
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
    ActionScope scope(window);
    if (!scope.acquired())
        return false;
    std::string detail;
    if (const char* refusal = newNameRefusal(name, ProfileNameTaken, detail)) {
        window.showError(refusal + detail);
        return false;
    }
    for (const std::string& folder : {systems, gameFolder}) {
        if (hasControlChars(folder)) {
            window.showError(text::kInvalidPath + folder);
            return false;
        }
    }
    // Something already at the profile folder's place (options.ini itself, a folder left
    // behind) would be mixed with the new profile. An archive left under the name without
    // a line is replaced.
    if (pathTaken(profileFolder(name))) {
        window.showError(text::kNameTaken);
        return false;
    }
    if (!platform::folderExists(platform::toPath(systems))) {
        window.showError(text::kFolderNotFound + systems);
        return false;
    }

    BusyWindowScope busy(window);
    const std::string work = scope.workFolder();
    const std::string built = archived ? packSystemsFolder(window, busy, *archive, systems, work, name)
                                       : copySystemsFolder(window, busy, systems, work, name);
    if (built.empty())
        return false; // the busy window went before the error was shown
    if (archived && pathTaken(profileArchivePath(name)))
        movePath(profileArchivePath(name), scope.trashFolder() + "/" + name + ".zip");
    // From here the profile's files are complete; they are listed only once in place.
    scope.record({Journal::Action::Save, name, {}, archived});
    movePath(built, archived ? profileArchivePath(name) : profileFolder(name));
    AppendProfile(name, gameFolder, archived);
    scope.finish();
    busy.hide();
    window.RefreshMainWindow();
    window.showInformation("Сервер " + name + " успешно сохранен");
    window.ClearEntryFields();
    return true;
}

bool RenameProfile(ProfileWindow& window, ProfileArchive* archive) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& oldName = *selected;
    const std::string newName = window.nameText();
    ActionScope scope(window);
    if (!scope.acquired())
        return false;

    // The matching rule finds a profile by the first line holding its name, so a new
    // name may neither occur in another line nor contain another profile's name.
    const ProfileListText list = readListFile();
    const auto profile = profileOf(window, list, oldName);
    if (!profile)
        return false;
    const auto lines = list.texts();
    const int ownLine = list.matching(oldName);
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
        if (pathTaken(profileFolder(newName)) || pathTaken(profileArchivePath(newName))) {
            window.showError(text::kNameTaken);
            return false;
        }
        // A list that cannot be written must stop the rename before any file moves.
        requireListWritable(kProfileListFile);
        // Repacking an archive takes its time: the busy window shows until the staging
        // place is cleared.
        std::optional<BusyWindowScope> busy;
        if (profile->archived) {
            // The stored names begin with the profile's name: the archive is unpacked,
            // renamed and packed again in the staging place, and replaces the old one
            // only when the new one tested whole.
            const std::string archivePath = profileArchivePath(oldName);
            if (archive == nullptr || !platform::fileExists(platform::toPath(archivePath))) {
                window.showError(text::kFilesNotFound + oldName);
                return false;
            }
            busy.emplace(window);
            auto refuse = [&](const std::string& refusal) {
                busy.reset();
                window.showError(refusal);
                return false;
            };
            if (archive->damage(window, archivePath, oldName))
                return refuse(text::kDamagedArchive + archivePath);
            const std::string work = scope.workFolder();
            if (auto error = archive->unpack(window, archivePath, oldName, work))
                return refuse(*error);
            movePath(work + "/" + oldName, work + "/" + newName);
            const std::string repacked = work + "/" + newName + ".zip";
            if (auto failed = archive->pack(window, work, newName, repacked))
                return refuse(text::kPackFailed + *failed);
            scope.record({Journal::Action::Rename, oldName, newName, true});
            movePath(repacked, profileArchivePath(newName));
        } else {
            scope.record({Journal::Action::Rename, oldName, newName, false});
            const std::string wd = GetWorkingDirectory();
            if (!RenameFolder(window, wd + "/" + oldName, wd + "/" + newName))
                return false;
        }
        RenameProfileLine(oldName, newName);
        scope.finish();
    }
    window.showInformation("Сервер " + oldName + " успешно переименован на " + newName);
    window.ClearEntryFields();
    window.RefreshMainWindow();
    return true;
}

bool DeleteProfile(ProfileWindow& window) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& name = *selected;
    ActionScope scope(window);
    if (!scope.acquired())
        return false;
    const auto profile = profileOf(window, readListFile(), name);
    if (!profile)
        return false;
    if (!window.askYesNo(text::kDeleteCaption, text::kDeleteQuestion))
        return false;

    const bool onlyProfile = window.profileEntries().size() == 1;
    requireListWritable(kProfileListFile);
    BusyWindowScope busy(window); // removing the files from the staging place takes its time
    // The files go aside first; the profile is gone once its line is.
    scope.record({Journal::Action::Delete, name, {}, profile->archived});
    if (pathTaken(profileFolder(name)))
        movePath(profileFolder(name), ActionScope::movedFolder());
    if (pathTaken(profileArchivePath(name)))
        movePath(profileArchivePath(name), ActionScope::movedArchive());
    if (onlyProfile) {
        if (!platform::deleteFile(platform::toPath(kProfileListFile)) && ProfileListExists())
            throw ProfileError(std::string("Cannot delete ") + kProfileListFile + ": " + std::strerror(errno));
    } else {
        DeleteProfileLine(kProfileListFile, name);
    }
    scope.finish();
    busy.hide();
    if (onlyProfile)
        window.showInformation(profileArchivePath(name));
    window.showInformation("Сервер " + name + " успешно удален");
    LoadProfileList(window);
    if (!onlyProfile)
        selectFirstEntry(window);
    return true;
}

bool ApplyProfile(ProfileWindow& window, ProfileArchive* archive) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& name = *selected;
    ActionScope scope(window);
    if (!scope.acquired())
        return false;

    BusyWindowScope busy(window);
    auto refuse = [&](const std::string& refusal) {
        busy.hide();
        window.showError(refusal);
        return false;
    };
    std::string refusal;
    const ProfileListText list = readListFile();
    const auto profile = profileOf(list, name, refusal);
    if (!profile)
        return refuse(refusal);
    const GameFolder game(profile->gameFolder);
    if (!gameFolderIsSafe(list, game))
        return refuse(text::kBadGameFolder + profile->gameFolder);
    // The profile's files must be at hand and whole before the game's folder is touched.
    const std::string files = profile->archived ? profileArchivePath(name) : profileFolder(name);
    const bool present = profile->archived ? archive != nullptr && platform::fileExists(platform::toPath(files))
                                           : platform::folderExists(platform::toPath(files));
    if (!present)
        return refuse(text::kFilesNotFound + name);
    if (profile->archived && archive->damage(window, files, name))
        return refuse(text::kDamagedArchive + files);

    const auto gameLock = lockGameFolder(game, refusal);
    if (!gameLock)
        return refuse(refusal);
    recoverGameFolder(window, game);
    if (auto error = assembleNewSystem(window, archive, *profile, game)) {
        DeleteFolderTree(window, game.partial);
        return refuse(*error);
    }
    swapInNewSystem(window, game);
    window.showInformation("Сервер " + name + " записан в папку " + game.system);
    busy.hide();
    selectFirstEntry(window);
    return true;
}

bool UndoApply(ProfileWindow& window) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    ActionScope scope(window);
    if (!scope.acquired())
        return false;
    const auto profile = profileOf(window, readListFile(), *selected);
    if (!profile)
        return false;
    const GameFolder game(profile->gameFolder);
    if (!platform::folderExists(platform::toPath(game.folder))) {
        window.showError(text::kNoBackup + profile->gameFolder);
        return false;
    }
    std::string refusal;
    const auto gameLock = lockGameFolder(game, refusal);
    if (!gameLock) {
        window.showError(refusal);
        return false;
    }
    recoverGameFolder(window, game);
    if (!pathTaken(game.backup)) {
        window.showError(text::kNoBackup + profile->gameFolder);
        return false;
    }
    if (!window.askYesNo(kApplicationTitle, text::kUndoQuestion))
        return false;
    BusyWindowScope busy(window);
    swapWithBackup(window, game);
    busy.hide();
    window.showInformation("Папка " + game.system + " возвращена");
    return true;
}

void RecoverInterruptedActions(ProfileWindow& window) {
    const auto lock = platform::FileLock::acquire(".", platform::FileLock::Mode::Exclusive);
    if (!lock)
        return; // another copy is at work here and settles its own leftovers
    recoverWorkingDirectory(window);
    for (const auto& line : readListFile().lines) {
        const auto fields = parseProfileLine(line.text);
        if (!fields || !platform::folderExists(platform::toPath(fields->gameFolder)))
            continue;
        const GameFolder game(fields->gameFolder);
        if (!pathTaken(game.partial) && !pathTaken(game.fresh) && !pathTaken(game.undo) && !pathTaken(game.trash))
            continue;
        if (const auto gameLock =
                platform::FileLock::acquire(platform::toPath(game.folder), platform::FileLock::Mode::Exclusive))
            recoverGameFolder(window, game);
    }
}

} // namespace kestrane
