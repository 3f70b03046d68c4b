// The actions on the profile list and the profiles' own files: save, rename, delete.
#include "app/action_steps.h"
#include "app/folder_operations.h"
#include "platform/encoding.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <algorithm>
#include <filesystem>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// A save's fields, taken once: they stay editable while the save pumps messages, and a
// systems folder emptied meanwhile must not turn the copy into one of the root.
struct NewProfile {
    std::string systems;
    std::string gameFolder;
    std::string name;
    bool archived = false;
};

// A TAB or a line break in a folder would split or add lines of options.ini.
bool hasControlChars(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// Why the new profile's game folder cannot take it, or nullopt. What a later apply would
// refuse is refused now, and a save never copies Kestrane's own files into a profile.
std::optional<std::string> gameFolderRefusal(const NewProfile& fresh) {
    if (auto problem = gameFolderProblem(fresh.gameFolder))
        return text::kBadGameFolder + fresh.gameFolder + " — " + *problem;
    const ProfileListText list = readListFile();
    const GameFolder game(fresh.gameFolder, *gameFolderOnDisk(fresh.gameFolder));
    if (auto danger = gameFolderDanger(list, game))
        return text::kBadGameFolder + fresh.gameFolder + " — " + *danger;
    if (auto danger = systemsFolderDanger(list, fresh.systems, game))
        return text::kInvalidPath + fresh.systems + " — " + *danger;
    return std::nullopt;
}

// Why the new profile cannot be saved, or nullopt. Checked under the working directory's
// lock, so that no other copy adds the name meanwhile.
std::optional<std::string> newProfileRefusal(const NewProfile& fresh) {
    std::string detail;
    if (const char* refusal = newNameRefusal(fresh.name, ProfileNameTaken, detail))
        return refusal + detail;
    for (const std::string& folder : {fresh.systems, fresh.gameFolder}) {
        if (hasControlChars(folder))
            return text::kInvalidPath + folder;
    }
    // options.ini is read back as UTF-8 (or Windows-1251 when a line is not UTF-8): a game
    // folder of other bytes would be read back as another folder than the one saved.
    if (!platform::isValidUtf8(fresh.gameFolder))
        return text::kInvalidPath + platform::cp1251ToUtf8(fresh.gameFolder);
    // Something already at the profile folder's place (options.ini itself, a folder left
    // behind) would be mixed with the new profile. An archive left under the name without
    // a line is replaced.
    if (pathTaken(profileFolder(fresh.name)))
        return std::string(text::kNameTaken);
    if (!platform::folderExists(platform::toPath(fresh.systems)))
        return text::kFolderNotFound + fresh.systems;
    return gameFolderRefusal(fresh);
}

// Whether a new name for the profile on line ownLine would clash with another line: the
// matching rule finds a profile by the first line holding its name, so a new name may
// neither occur in another line nor contain another profile's name.
bool takenByOtherLine(const std::vector<std::string>& lines, int ownLine, std::string_view candidate) {
    if (nameOccursInLines(lines, candidate, ownLine))
        return true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string other = displayName(lines[i]);
        if (int(i) != ownLine && !other.empty() && nameOccursInLines({std::string(candidate)}, other))
            return true;
    }
    return false;
}

// Renames an archived profile. The stored names begin with the profile's name: the
// archive is unpacked, renamed and packed again in the staging place, and replaces the
// old one only when the new one tested whole. Repacking takes its time: the busy window
// shows from here until the caller has cleared the staging place.
bool renameArchive(ProfileAction& action, ProfileArchive* archive, const Journal& renamed) {
    ProfileWindow& window = action.window();
    const std::string& oldName = renamed.name;
    const std::string& newName = renamed.newName;
    const std::string archivePath = profileArchivePath(oldName);
    if (archive == nullptr || !platform::fileExists(platform::toPath(archivePath)))
        return action.refuse(text::kFilesNotFound + oldName);
    action.showBusy();
    const std::string work = action.scope().workFolder();
    if (auto refusal = unpackWhole(window, *archive, archivePath, oldName, work))
        return action.refuse(*refusal); // what was unpacked goes with the staging place
    movePath(work + "/" + oldName, work + "/" + newName);
    const std::string repacked = ActionScope::builtFiles(work, newName, true);
    if (auto failed = archive->pack(window, work + "/" + newName, newName, repacked))
        return action.refuse(text::kPackFailed + *failed);
    action.scope().record(renamed);
    movePath(repacked, profileArchivePath(newName));
    return true;
}

// Gives the selected profile's files and line the new name, as a whole or not at all.
bool renameFiles(ProfileAction& action, ProfileArchive* archive, const std::string& newName) {
    if (pathTaken(profileFolder(newName)) || pathTaken(profileArchivePath(newName)))
        return action.refuse(text::kNameTaken);
    // A list that cannot be written must stop the rename before any file moves.
    requireListWritable(kProfileListFile);
    const ProfileFields& profile = action.profile();
    Journal renamed = journalOf(Journal::Action::Rename, profile, recordedGameFolder(profile));
    renamed.newName = newName;
    if (profile.archived) {
        if (!renameArchive(action, archive, renamed))
            return false;
    } else {
        action.scope().record(renamed);
        const std::string wd = GetWorkingDirectory();
        if (!RenameFolder(action.window(), wd + "/" + profile.name, wd + "/" + newName))
            return false;
    }
    RenameProfileLine(profile.name, newName);
    (void)action.scope().finish(); // renamed: a staged file that stays was shown, the next action removes it
    action.hideBusy();
    return true;
}

// Removes a line that names no profile's files, after the usual question; every other
// line stays byte for byte and no file is touched.
bool deleteUnusableLine(ProfileWindow& window, ProfileListText list, int index, const std::string& entry) {
    if (!window.askYesNo(text::kDeleteCaption, text::kDeleteQuestion))
        return false;
    list.erase(std::size_t(index));
    writeListFile(kProfileListFile, list);
    window.showInformation("Сервер " + entry + " успешно удален");
    LoadProfileList(window);
    selectFirstEntry(window);
    return true;
}

// The index of the line that the entry shows when that line names no profile's files
// (not name TAB folder TAB flag, or a name no file may have), or -1. An entry that a
// well-formed line holds is that profile's.
int unusableLineOf(const ProfileListText& list, const std::string& entry) {
    if (namesFiles(entry) && list.hasProfile(entry))
        return -1;
    for (std::size_t i = 0; i < list.lines.size(); ++i) {
        const std::string& line = list.lines[i].text;
        const auto fields = parseProfileLine(line);
        if (fields && namesFiles(fields->name))
            continue;
        if (displayName(line) == entry || line.substr(0, line.find('\t')) == entry)
            return int(i);
    }
    return -1;
}

// Removes the selected profile's files and line under the journal: the files go aside
// first; the profile is gone once its line is. The last line takes options.ini with it.
void deleteFiles(ProfileAction& action, bool onlyProfile) {
    const ProfileFields& profile = action.profile();
    const std::string& name = profile.name;
    action.scope().record(journalOf(Journal::Action::Delete, profile, recordedGameFolder(profile)));
    if (pathTaken(profileFolder(name)))
        moveOwnFiles(profileFolder(name), ActionScope::movedFolder());
    if (pathTaken(profileArchivePath(name)))
        movePath(profileArchivePath(name), ActionScope::movedArchive());
    if (onlyProfile) {
        std::error_code ec;
        fs::remove(platform::toPath(kProfileListFile), ec);
        if (ec)
            throw ProfileError(std::string("Cannot delete ") + kProfileListFile + ": " + ec.message());
        platform::syncFolder(".");
    } else {
        DeleteProfileLine(kProfileListFile, name);
    }
}

} // namespace

bool SaveProfile(ProfileWindow& window, ProfileArchive* archive) {
    const NewProfile fresh{window.systemsFolderText(), window.gameFolderText(), window.nameText(),
                           window.archiveBoxTicked() && archive != nullptr};
    if (fresh.systems.empty()) {
        window.showError(text::kSystemsFolderEmpty);
        return false;
    }
    if (fresh.gameFolder.empty()) {
        window.showError(text::kGameFolderEmpty);
        return false;
    }
    ActionScope scope(window);
    if (!scope.ready())
        return false;
    if (auto refusal = newProfileRefusal(fresh)) {
        window.showError(*refusal);
        return false;
    }

    const std::string& name = fresh.name;
    BusyWindowScope busy(window);
    const std::string work = scope.workFolder();
    const std::string built = fresh.archived ? packSystemsFolder(window, busy, *archive, fresh.systems, work, name)
                                             : copySystemsFolder(window, busy, fresh.systems, work, name);
    if (built.empty())
        return false; // the busy window went before the error was shown
    if (fresh.archived && pathTaken(profileArchivePath(name)))
        movePath(profileArchivePath(name), scope.trashFolder() + "/" + name + ".zip");
    // From here the profile's files are complete; they are listed only once in place.
    scope.record({Journal::Action::Save, name, {}, fresh.archived, {}, {}, {}, 0});
    movePath(built, fresh.archived ? profileArchivePath(name) : profileFolder(name));
    AppendProfile(name, fresh.gameFolder, fresh.archived);
    (void)scope.finish(); // saved: a staged file that stays was shown, the next action removes it
    busy.hide();
    window.RefreshMainWindow();
    window.showInformation("Сервер " + name + " успешно сохранен");
    window.ClearEntryFields();
    return true;
}

bool RenameProfile(ProfileWindow& window, ProfileArchive* archive) {
    const std::string newName = window.nameText();
    ProfileAction action(window);
    if (!action.start())
        return false;
    const std::string& oldName = action.name();
    const auto lines = action.list().texts();
    const int ownLine = action.list().matching(oldName);
    auto taken = [&](std::string_view candidate) { return takenByOtherLine(lines, ownLine, candidate); };
    std::string detail;
    if (const char* refusal = newNameRefusal(newName, taken, detail))
        return action.refuse(refusal + detail);
    if (newName != oldName && !renameFiles(action, archive, newName))
        return false;
    window.showInformation("Сервер " + oldName + " успешно переименован на " + newName);
    window.ClearEntryFields();
    window.RefreshMainWindow();
    return true;
}

bool DeleteProfile(ProfileWindow& window) {
    ProfileAction action(window);
    if (!action.selectEntry() || !action.openScope())
        return false;
    if (const int unusable = unusableLineOf(action.list(), action.name()); unusable >= 0)
        return deleteUnusableLine(window, action.list(), unusable, action.name());
    if (!action.checkName() || !action.readProfile())
        return false;
    if (!window.askYesNo(text::kDeleteCaption, text::kDeleteQuestion))
        return false;

    const std::string& name = action.name();
    // Decided from the file as read under the lock, not from the window's list, which
    // misses a line that another copy added meanwhile.
    const bool onlyProfile = action.list().lines.size() == 1;
    requireListWritable(kProfileListFile);
    action.showBusy(); // removing the files from the staging place takes its time
    deleteFiles(action, onlyProfile);
    (void)action.scope().finish(); // deleted: a staged file that stays was shown, the next action removes it
    action.hideBusy();
    if (onlyProfile)
        window.showInformation(profileArchivePath(name));
    window.showInformation("Сервер " + name + " успешно удален");
    LoadProfileList(window);
    if (!onlyProfile)
        selectFirstEntry(window);
    return true;
}

} // namespace kestrane
