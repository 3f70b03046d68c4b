// The actions on a profile's game folder: apply (with the question whether to save the
// game's changes back first), undo and update.
#include "app/action_steps.h"
#include "app/application.h"
#include "app/folder_operations.h"
#include "platform/file_system.h"

#include <ctime>
#include <filesystem>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// Builds the complete new `system` folder as game.fresh, from the profile folder or
// straight out of the profile archive, which is checked as it is unpacked (read once).
// Answers the refusal to show when it cannot; what was built is gone then.
std::optional<std::string> assembleNewSystem(ProfileWindow& window, ProfileArchive* archive,
                                             const ProfileFields& profile, const GameFolder& game) {
    std::string built = game.partial;
    std::optional<std::string> refusal;
    if (profile.archived) {
        refusal = unpackWhole(window, *archive, profileArchivePath(profile.name), profile.name, game.partial);
        built = game.partial + "/" + profile.name;
    } else {
        const CopyOutcome copy = CopyFolderTree(window, profileFolder(profile.name), game.partial, false, true);
        window.pumpMessages();
        if (copy.failedFiles > 0)
            refusal = text::kCopyFailed + copy.failureText();
        else if (const std::error_code made = platform::createFolders(platform::toPath(game.partial)))
            refusal = text::kCopyFailed + game.partial + ": " + made.message();
    }
    if (refusal) {
        (void)DeleteFolderTree(window, game.partial); // what stays is shown and removed by the next action
        return refusal;
    }
    // Everything is on disk before the folder takes the name that recovery may swap in.
    flushToDisk(window, game.partial);
    movePath(built, game.fresh);
    return std::nullopt;
}

// Whether two game folders are one folder on disk, however each is written.
bool sameFolder(const std::string& a, const std::string& b) {
    const auto id = platform::fileIdentity(platform::toPath(a));
    return id && id == platform::fileIdentity(platform::toPath(b));
}

// Records, before the exchange, that the assembled folder is the profile's. The entries
// of `system` (the backup to be) and of the backup stay: until the exchange the backup
// is still the one an undo brings back.
void recordApply(const GameFolder& game, const ProfileFields& profile) {
    AppliedRecord record = AppliedRecord::read(game);
    const auto id = platform::fileIdentity(platform::toPath(game.fresh));
    const auto fingerprint = folderFingerprint(game.fresh);
    if (!id || !fingerprint)
        throw ProfileError("Cannot find " + game.fresh);
    std::vector<AppliedEntry> entries{{*id, std::int64_t(std::time(nullptr)), *fingerprint, profile.archived,
                                       profileFiles(profile.name, profile.archived), profile.name,
                                       workingDirectoryId()}};
    for (const std::string& kept : {game.system, game.backup})
        if (const AppliedEntry* entry = record.of(kept))
            entries.push_back(*entry);
    record.entries = std::move(entries);
    record.write(game);
}

// The profile of this working directory that is in the game folder's `system` and whose
// folder the game changed since, when it is still listed for that game folder.
std::optional<ProfileFields> changedAppliedProfile(const ProfileListText& list, const GameFolder& game) {
    const AppliedRecord record = AppliedRecord::read(game);
    const AppliedEntry* entry = record.of(game.system);
    if (!entry || !list.hasProfile(entry->name))
        return std::nullopt;
    std::string refusal;
    const auto profile = profileOf(list, entry->name, refusal);
    if (!profile || !belongsTo(*entry, profile->name, profileFiles(profile->name, profile->archived)))
        return std::nullopt;
    // The profile's line may write the game folder another way than the one applied now.
    const auto onDisk = gameFolderOnDisk(profile->gameFolder);
    if (!onDisk || !sameFolder(*onDisk, game.folder))
        return std::nullopt;
    if (!changedSinceApplied(game, *entry))
        return std::nullopt;
    return profile;
}

// The entry of `system` when it is another working directory's profile and the game
// changed the folder since.
std::optional<AppliedEntry> changedElsewhere(const GameFolder& game) {
    const AppliedRecord record = AppliedRecord::read(game);
    const AppliedEntry* entry = record.of(game.system);
    if (!entry || entry->workingDirectory == workingDirectoryId() || !changedSinceApplied(game, *entry))
        return std::nullopt;
    return *entry;
}

// The working directory of the process for the length of a scope.
class WorkingDirectoryChange {
public:
    explicit WorkingDirectoryChange(const std::string& folder) : m_back(fs::current_path()) {
        std::error_code ec;
        fs::current_path(platform::toPath(folder), ec);
        if (ec)
            throw ProfileError("Cannot open " + folder + ": " + ec.message());
    }
    ~WorkingDirectoryChange() {
        std::error_code ec;
        fs::current_path(m_back, ec);
    }
    WorkingDirectoryChange(const WorkingDirectoryChange&) = delete;
    WorkingDirectoryChange& operator=(const WorkingDirectoryChange&) = delete;

private:
    fs::path m_back;
};

// Replaces the profile's files with the game's current `system` folder, as a save does:
// built in the staging place (copied, or packed straight from it), then exchanged for the
// old files under the journal. Settling the journal (the caller's scope.finish()) gives
// the record the new files and the fingerprint of the folder they were saved from. Call
// with the game folder locked and the profile applied there (the caller has checked the
// record). Answers false after showing why.
bool saveBackFromGame(ProfileWindow& window, ActionScope& scope, BusyWindowScope& busy, ProfileArchive* archive,
                      const ProfileFields& profile, const GameFolder& game) {
    const auto fingerprint = folderFingerprint(game.system);
    if (!fingerprint)
        throw ProfileError("Cannot read " + game.system);
    const std::string work = scope.workFolder();
    const std::string built = profile.archived
                                  ? packSystemsFolder(window, busy, *archive, game.system, work, profile.name)
                                  : copySystemsFolder(window, busy, game.system, work, profile.name);
    if (built.empty())
        return false; // shown
    const std::string place = profile.archived ? profileArchivePath(profile.name) : profileFolder(profile.name);
    Journal journal = journalOf(Journal::Action::Update, profile, game);
    journal.fingerprint = *fingerprint;
    scope.record(journal);
    if (pathTaken(place))
        moveOwnFiles(place, profile.archived ? ActionScope::movedArchive() : ActionScope::movedFolder());
    movePath(built, place);
    return true;
}

// Saves the game's changed `system` folder back into the profile of another working
// directory, as an action of that directory: under its lock, after settling what it left,
// through its journal. The game folder's lock is this apply's. Answers false after showing
// why not.
bool saveBackElsewhere(ProfileWindow& window, BusyWindowScope& busy, ProfileArchive* archive, const AppliedEntry& entry,
                       const GameFolder& game) {
    const GameFolder there(game.written, platform::pathText(fs::absolute(platform::toPath(game.folder))));
    const WorkingDirectoryChange moved(entry.workingDirectory);
    ActionScope scope(window);
    if (!scope.ready())
        return false;
    std::string refusal;
    const auto profile = profileOf(readListFile(), entry.name, refusal);
    if (!profile || !belongsTo(entry, profile->name, profileFiles(profile->name, profile->archived))) {
        busy.hide();
        window.showError("Сервер " + entry.name + text::kNotInGame);
        return false;
    }
    return saveBackFromGame(window, scope, busy, archive, *profile, there) && scope.finish();
}

// The journal of an apply or undo: the game folder it changes.
Journal applyJournal(const ProfileFields& profile, const GameFolder& game) {
    return {Journal::Action::Apply, profile.name, {}, profile.archived, game.written, game.folder, {}, 0};
}

// The profile's files must be at hand before the game's folder is touched (an archive is
// proved whole as it is unpacked).
bool profileFilesPresent(ProfileAction& action, ProfileArchive* archive) {
    const ProfileFields& profile = action.profile();
    const std::string files = profile.archived ? profileArchivePath(profile.name) : profileFolder(profile.name);
    const bool present = profile.archived ? archive != nullptr && platform::fileExists(platform::toPath(files))
                                          : platform::folderExists(platform::toPath(files));
    return present || action.refuse(text::kFilesNotFound + profile.name);
}

// What became of the game's changes since its profile was applied.
enum class Settled {
    Stop,      // Cancel, or a save-back that failed (shown; one that happened stands)
    Go,        // nothing to save, or the changed folder becomes the backup
    SavedBack, // saved back first: the new folder went before, and is built again
};

// What the game changed in its `system` since its profile was applied would go with the
// next apply but one: the player decides first, also when the profile is another working
// directory's (Yes: saved back; No: the changed folder becomes the backup). A save-back
// records its own journal in place of the apply's, so the new folder built under the
// apply's goes first: none is left that no journal names.
Settled settleChangesFirst(ProfileAction& action, ProfileArchive* archive) {
    const GameFolder& game = action.game();
    const auto changed = changedAppliedProfile(action.list(), game);
    const auto elsewhere = changed ? std::nullopt : changedElsewhere(game);
    if (!changed && !elsewhere)
        return Settled::Go;
    action.hideBusy();
    const std::string whose =
        changed ? changed->name : elsewhere->name + " из другой папки программы (" + elsewhere->workingDirectory + ")";
    const Choice choice =
        action.window().askYesNoCancel(kApplicationTitle, "Папка system изменилась после применения сервера " + whose +
                                                              ". Сохранить изменения в этот сервер?");
    if (choice == Choice::Cancel)
        return Settled::Stop;
    BusyWindowScope& busy = action.showBusy();
    if (choice == Choice::No)
        return Settled::Go;
    if (!DeleteFolderTree(action.window(), game.fresh))
        return Settled::Stop;
    const bool saved = changed ? saveBackFromGame(action.window(), action.scope(), busy, archive, *changed, game) &&
                                     action.scope().finish()
                               : saveBackElsewhere(action.window(), busy, archive, *elsewhere, game);
    return saved ? Settled::SavedBack : Settled::Stop;
}

// Records the apply and builds its new folder as game.fresh. Answers false after the
// refusal was shown.
bool buildNewSystem(ProfileAction& action, ProfileArchive* archive) {
    action.scope().record(applyJournal(action.profile(), action.game()));
    if (auto refusal = assembleNewSystem(action.window(), archive, action.profile(), action.game()))
        return action.refuse(*refusal);
    return true;
}

} // namespace

bool ApplyProfile(ProfileWindow& window, ProfileArchive* archive) {
    ProfileAction action(window, ProfileAction::Busy::FromScope);
    if (!action.start() || !action.findGameFolder())
        return false;
    const ProfileFields& profile = action.profile();
    const GameFolder& game = action.game();
    if (auto danger = gameFolderDanger(action.list(), game))
        return action.refuse(text::kBadGameFolder + profile.gameFolder + " — " + *danger);
    // Built, and an archive proved whole, before the question: a damaged archive is
    // refused before anything is asked or saved.
    if (!profileFilesPresent(action, archive) || !action.lockGameFolder() || !buildNewSystem(action, archive))
        return false;
    switch (settleChangesFirst(action, archive)) {
    case Settled::Stop:
        (void)DeleteFolderTree(window, game.fresh); // what stays is shown and removed by the next action
        action.hideBusy();
        return false;
    case Settled::SavedBack: // the profile may be the one just saved back: built from its new files
        if (!buildNewSystem(action, archive))
            return false;
        break;
    case Settled::Go:
        break;
    }
    recordApply(game, profile);
    if (!swapInNewSystem(window, game)) {
        // Applied, but the previous backup could not go: shown with its path and reason,
        // not followed by a success.
        action.hideBusy();
        return false;
    }
    window.showInformation("Сервер " + profile.name + " записан в папку " + game.shownSystem());
    action.hideBusy();
    selectFirstEntry(window);
    return true;
}

bool UndoApply(ProfileWindow& window) {
    ProfileAction action(window);
    if (!action.start())
        return false;
    const ProfileFields& profile = action.profile();
    const std::string noBackup = text::kNoBackup + profile.gameFolder;
    if (!action.findGameFolder(&GameFolder::folder, noBackup) || !action.lockGameFolder())
        return false;
    const GameFolder& game = action.game();
    if (!pathTaken(game.backup))
        return action.refuse(noBackup);
    const AppliedRecord record = AppliedRecord::read(game);
    const AppliedEntry* back = record.of(game.backup);
    const std::string question =
        back ? "Вернуть папку system сервера " + back->name + ", которая была до последнего применения?"
             : std::string(text::kUndoQuestion);
    if (!window.askYesNo(kApplicationTitle, question))
        return false;
    action.scope().record(applyJournal(profile, game));
    action.showBusy();
    if (!swapWithBackup(window, game))
        return false;
    action.hideBusy();
    window.showInformation("Папка " + game.shownSystem() + " возвращена");
    return true;
}

bool UpdateProfile(ProfileWindow& window, ProfileArchive* archive) {
    ProfileAction action(window);
    if (!action.start())
        return false;
    const ProfileFields& profile = action.profile();
    const std::string notInGame = "Сервер " + profile.name + text::kNotInGame;
    if (!action.findGameFolder(&GameFolder::system, notInGame))
        return false;
    if (profile.archived && archive == nullptr)
        return action.refuse(text::kFilesNotFound + profile.name);
    if (!action.lockGameFolder())
        return false;
    const GameFolder& game = action.game();
    // Only the profile whose files are in the game: a save-back never puts one server's
    // files into another's profile.
    if (!appliedEntry(AppliedRecord::read(game), game, profile))
        return action.refuse(notInGame);
    BusyWindowScope& busy = action.showBusy();
    if (!saveBackFromGame(window, action.scope(), busy, archive, profile, game))
        return false;
    (void)action.scope().finish(); // saved back: a staged file that stays was shown, the next action removes it
    action.hideBusy();
    window.showInformation("Сервер " + profile.name + " обновлён из папки " + game.shownSystem());
    return true;
}

} // namespace kestrane
