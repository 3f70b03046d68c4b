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
#include <ctime>
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
    void show() {
        if (!m_shown) {
            m_shown = true;
            m_window.showBusyWindow();
            m_window.pumpMessages();
        }
    }

private:
    ProfileWindow& m_window;
    bool m_shown = true;
};

// A name whose folder would be one the working directory already has for itself: "."
// and ".." (the working directory and its parent, which no action may copy into or
// delete) and the staging place, however the system spells them.
bool isOwnFolderName(std::string_view name) {
    return platform::sameFileName(name, ".") || platform::sameFileName(name, "..") ||
           platform::sameFileName(name, std::string_view(kStagingFolder).substr(2));
}

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
    if (isOwnFolderName(name)) {
        detail = name;
        return text::kInvalidName;
    }
    return nullptr;
}

// A TAB or a line break in a folder would split or add lines of options.ini.
bool hasControlChars(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// The selected list entry, or nullopt after showing that there is none.
std::optional<std::string> selectedEntry(ProfileWindow& window) {
    const auto entries = window.profileEntries();
    const int index = window.SelectedIndex();
    if (index < 0 || std::size_t(index) >= entries.size() || entries[std::size_t(index)].empty()) {
        window.showError(text::kNothingSelected);
        return std::nullopt;
    }
    return entries[std::size_t(index)];
}

// A line edited outside the program may hold a name that points outside the working
// directory; no action touches files for it.
bool namesFiles(std::string_view name) { return !isOwnFolderName(name) && !NameHasForbiddenChars(name); }

// The selected profile's name, or nullopt after showing why there is none usable.
std::optional<std::string> selectedProfile(ProfileWindow& window) {
    auto name = selectedEntry(window);
    if (name && !namesFiles(*name)) {
        window.showError(text::kInvalidName + *name);
        return std::nullopt;
    }
    return name;
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

// The game folder of a profile on this machine, or nullopt after setting the refusal
// with its reason (a folder that does not exist is no game folder: the game would never
// read a `system` folder made there).
std::optional<GameFolder> gameFolderOf(const ProfileFields& profile, std::string& refusal) {
    if (auto problem = gameFolderProblem(profile.gameFolder)) {
        refusal = text::kBadGameFolder + profile.gameFolder + " — " + *problem;
        return std::nullopt;
    }
    return GameFolder(profile.gameFolder, *gameFolderOnDisk(profile.gameFolder));
}

// An apply replaces game/system whole: it must not be, hold or lie inside the working
// directory, the staging place or any profile's files. Answers why it is not safe.
std::optional<std::string> gameFolderDanger(const ProfileListText& list, const GameFolder& game) {
    if (overlaps(game.system, ".") || overlaps(game.system, kStagingFolder))
        return std::string(text::kOverlapsWorkingDirectory);
    for (const auto& line : list.lines) {
        const auto fields = parseProfileLine(line.text);
        if (fields && namesFiles(fields->name) &&
            (overlaps(game.system, profileFolder(fields->name)) ||
             overlaps(game.system, profileArchivePath(fields->name))))
            return text::kOverlapsProfile + fields->name;
    }
    return std::nullopt;
}

// A systems folder that is or holds the working directory, the staging place or a
// profile would copy Kestrane's own files into the new profile; one that holds the game
// folder's own names (system.kestrane-*) would take in the backup and the record. A
// systems folder inside the game's `system` is what a player saves from.
std::optional<std::string> systemsFolderDanger(const ProfileListText& list, const std::string& systems,
                                               const std::optional<GameFolder>& game) {
    if (isWithin(".", systems) || isWithin(systems, kStagingFolder))
        return std::string(text::kHoldsWorkingDirectory);
    for (const auto& line : list.lines) {
        const auto fields = parseProfileLine(line.text);
        if (fields && namesFiles(fields->name) && overlaps(systems, profileFolder(fields->name)))
            return text::kOverlapsProfile + fields->name;
    }
    if (game) {
        for (const std::string& own : {game->partial, game->fresh, game->replaced, game->backup, game->undo,
                                       game->trash, game->journal, game->applied})
            if (overlaps(systems, own))
                return text::kHoldsGameFiles + game->shownSystem() + ".kestrane-*";
    }
    return std::nullopt;
}

// The journal of an action on a profile's files, with the profile's game folder (when it
// is found here) and own files: settling it brings the game folder's record in step.
Journal journalOf(Journal::Action action, const ProfileFields& profile, const std::optional<GameFolder>& game) {
    Journal journal;
    journal.action = action;
    journal.name = profile.name;
    journal.archived = profile.archived;
    if (game) {
        journal.gameFolder = game->written;
        journal.gameFolderOnDisk = game->folder;
    }
    journal.profileFiles = profileFiles(profile.name, profile.archived);
    return journal;
}

// The game folder of a profile's line wherever it is found here, missing or not: what a
// rename or delete brings in step.
std::optional<GameFolder> recordedGameFolder(const ProfileFields& profile) {
    const auto onDisk = gameFolderOnDisk(profile.gameFolder);
    return onDisk ? std::optional<GameFolder>(GameFolder(profile.gameFolder, *onDisk)) : std::nullopt;
}

// Moves a profile's own files to another folder. Moving a folder to another parent
// rewrites its ".." entry, which needs write permission on the folder itself: a profile
// folder the player made read-only is given it first (it is ours to move; when that
// fails, the move says why).
void moveOwnFiles(const std::string& from, const std::string& to) {
    if (platform::folderExists(platform::toPath(from)))
        (void)platform::makeFolderWritable(platform::toPath(from));
    movePath(from, to);
}

// The game folder's lock; nullopt with the refusal to show.
std::optional<GameFolderLock> lockGameFolder(const GameFolder& game, std::string& refusal) {
    auto lock = GameFolderLock::acquire(game);
    if (!lock)
        refusal = text::kAnotherCopyRunning;
    return lock;
}

// The game folder's lock with what an interrupted apply left there settled; nullopt after
// showing why not.
std::optional<GameFolderLock> settledGameFolder(ProfileWindow& window, const GameFolder& game) {
    std::string refusal;
    auto lock = lockGameFolder(game, refusal);
    if (!lock) {
        window.showError(refusal);
        return std::nullopt;
    }
    if (!recoverGameFolder(window, game))
        return std::nullopt;
    return lock;
}

// Builds the complete new `system` folder as game.fresh, from the profile folder or
// straight out of the profile archive; answers the error to show when it cannot.
std::optional<std::string> assembleNewSystem(ProfileWindow& window, ProfileArchive* archive,
                                             const ProfileFields& profile, const GameFolder& game) {
    std::string built = game.partial;
    if (profile.archived) {
        if (auto error = archive->unpack(window, profileArchivePath(profile.name), profile.name, game.partial))
            return error;
        built = game.partial + "/" + profile.name;
    } else {
        const CopyOutcome copy = CopyFolderTree(window, profileFolder(profile.name), game.partial, false, true);
        window.pumpMessages();
        if (copy.failedFiles > 0)
            return text::kCopyFailed + copy.failureText();
        if (const std::error_code made = platform::createFolders(platform::toPath(game.partial)))
            return text::kCopyFailed + game.partial + ": " + made.message();
    }
    // Everything is on disk before the folder takes the name that recovery may swap in.
    flushToDisk(window, game.partial);
    movePath(built, game.fresh);
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
    // An empty systems folder copies nothing: the profile is an empty folder then.
    const std::error_code made =
        copy.failedFiles == 0 ? platform::createFolders(platform::toPath(copied)) : std::error_code();
    if (copy.failedFiles > 0 || made) {
        busy.hide();
        window.showError(text::kCopyFailed + (made ? copied + ": " + made.message() : copy.failureText()));
        return {};
    }
    flushToDisk(window, copied); // on disk before it is moved into place and listed
    return copied;
}

// The profile archive of a save, packed straight from the systems folder as work/name.zip
// under the stored root name/ and tested. Answers its path, or the empty text after the
// busy window went and the error was shown.
std::string packSystemsFolder(ProfileWindow& window, BusyWindowScope& busy, ProfileArchive& archive,
                              const std::string& systems, const std::string& work, const std::string& name) {
    const std::string packed = work + "/" + name + ".zip";
    const std::optional<std::string> failed = archive.pack(window, systems, name, packed);
    if (!failed)
        return packed;
    busy.hide();
    window.showError(text::kPackFailed + *failed);
    return {};
}

// The entry of the record for `system` when it is this working directory's profile.
const AppliedEntry* appliedEntry(const AppliedRecord& record, const GameFolder& game, const ProfileFields& profile) {
    const AppliedEntry* entry = record.of(game.system);
    return entry && belongsTo(*entry, profile.name, profileFiles(profile.name, profile.archived)) ? entry : nullptr;
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

// Forward: saves the game's folder back into a profile of this working directory.
bool saveBackFromGame(ProfileWindow& window, ActionScope& scope, BusyWindowScope& busy, ProfileArchive* archive,
                      const ProfileFields& profile, const GameFolder& game);

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

std::optional<platform::FileIdentity> profileFiles(std::string_view name, bool archived) {
    return platform::fileIdentity(platform::toPath(archived ? profileArchivePath(name) : profileFolder(name)));
}

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
    if (!scope.ready())
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
    // options.ini is read back as UTF-8 (or Windows-1251 when a line is not UTF-8): a game
    // folder of other bytes would be read back as another folder than the one saved.
    if (!platform::isValidUtf8(gameFolder)) {
        window.showError(text::kInvalidPath + platform::cp1251ToUtf8(gameFolder));
        return false;
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
    if (auto problem = gameFolderProblem(gameFolder)) {
        window.showError(text::kBadGameFolder + gameFolder + " — " + *problem);
        return false;
    }
    // What a later apply would refuse is refused now, and a save never copies Kestrane's
    // own files into a profile.
    {
        const ProfileListText list = readListFile();
        const GameFolder game(gameFolder, *gameFolderOnDisk(gameFolder));
        if (auto danger = gameFolderDanger(list, game)) {
            window.showError(text::kBadGameFolder + gameFolder + " — " + *danger);
            return false;
        }
        if (auto danger = systemsFolderDanger(list, systems, game)) {
            window.showError(text::kInvalidPath + systems + " — " + *danger);
            return false;
        }
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
    scope.record({Journal::Action::Save, name, {}, archived, {}, {}, {}, 0});
    movePath(built, archived ? profileArchivePath(name) : profileFolder(name));
    AppendProfile(name, gameFolder, archived);
    (void)scope.finish(); // saved: a staged file that stays was shown, the next action removes it
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
    if (!scope.ready())
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
        Journal renamed = journalOf(Journal::Action::Rename, *profile, recordedGameFolder(*profile));
        renamed.newName = newName;
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
            if (auto failed = archive->pack(window, work + "/" + newName, newName, repacked))
                return refuse(text::kPackFailed + *failed);
            scope.record(renamed);
            movePath(repacked, profileArchivePath(newName));
        } else {
            scope.record(renamed);
            const std::string wd = GetWorkingDirectory();
            if (!RenameFolder(window, wd + "/" + oldName, wd + "/" + newName))
                return false;
        }
        RenameProfileLine(oldName, newName);
        (void)scope.finish(); // renamed: a staged file that stays was shown, the next action removes it
    }
    window.showInformation("Сервер " + oldName + " успешно переименован на " + newName);
    window.ClearEntryFields();
    window.RefreshMainWindow();
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

bool DeleteProfile(ProfileWindow& window) {
    const auto entry = selectedEntry(window);
    if (!entry)
        return false;
    ActionScope scope(window);
    if (!scope.ready())
        return false;
    const ProfileListText list = readListFile();
    if (const int unusable = unusableLineOf(list, *entry); unusable >= 0)
        return deleteUnusableLine(window, list, unusable, *entry);
    const auto name = selectedProfile(window);
    if (!name)
        return false;
    const auto profile = profileOf(window, list, *name);
    if (!profile)
        return false;
    if (!window.askYesNo(text::kDeleteCaption, text::kDeleteQuestion))
        return false;

    // Decided from the file as read under the lock, not from the window's list, which
    // misses a line that another copy added meanwhile.
    const bool onlyProfile = list.lines.size() == 1;
    requireListWritable(kProfileListFile);
    BusyWindowScope busy(window); // removing the files from the staging place takes its time
    // The files go aside first; the profile is gone once its line is.
    scope.record(journalOf(Journal::Action::Delete, *profile, recordedGameFolder(*profile)));
    if (pathTaken(profileFolder(*name)))
        moveOwnFiles(profileFolder(*name), ActionScope::movedFolder());
    if (pathTaken(profileArchivePath(*name)))
        movePath(profileArchivePath(*name), ActionScope::movedArchive());
    if (onlyProfile) {
        std::error_code ec;
        fs::remove(platform::toPath(kProfileListFile), ec);
        if (ec)
            throw ProfileError(std::string("Cannot delete ") + kProfileListFile + ": " + ec.message());
        platform::syncFolder(".");
    } else {
        DeleteProfileLine(kProfileListFile, *name);
    }
    (void)scope.finish(); // deleted: a staged file that stays was shown, the next action removes it
    busy.hide();
    if (onlyProfile)
        window.showInformation(profileArchivePath(*name));
    window.showInformation("Сервер " + *name + " успешно удален");
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
    if (!scope.ready())
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
    const auto game = gameFolderOf(*profile, refusal);
    if (!game)
        return refuse(refusal);
    if (auto danger = gameFolderDanger(list, *game))
        return refuse(text::kBadGameFolder + profile->gameFolder + " — " + *danger);
    // The profile's files must be at hand and whole before the game's folder is touched.
    const std::string files = profile->archived ? profileArchivePath(name) : profileFolder(name);
    const bool present = profile->archived ? archive != nullptr && platform::fileExists(platform::toPath(files))
                                           : platform::folderExists(platform::toPath(files));
    if (!present)
        return refuse(text::kFilesNotFound + name);
    if (profile->archived && archive->damage(window, files, name))
        return refuse(text::kDamagedArchive + files);

    const auto gameLock = lockGameFolder(*game, refusal);
    if (!gameLock)
        return refuse(refusal);
    // A leftover that cannot be removed (shown with its path and reason) stops the apply
    // before the game's folder changes.
    if (!recoverGameFolder(window, *game)) {
        busy.hide();
        return false;
    }
    // What the game changed in its `system` since its profile was applied would go with
    // the next apply but one: the player decides first, also when the profile is another
    // working directory's.
    const auto changed = changedAppliedProfile(list, *game);
    const auto elsewhere = changed ? std::nullopt : changedElsewhere(*game);
    if (changed || elsewhere) {
        busy.hide();
        const std::string whose =
            changed ? changed->name
                    : elsewhere->name + " из другой папки программы (" + elsewhere->workingDirectory + ")";
        const Choice choice =
            window.askYesNoCancel(kApplicationTitle, "Папка system изменилась после применения сервера " + whose +
                                                         ". Сохранить изменения в этот сервер?");
        if (choice == Choice::Cancel)
            return false;
        busy.show();
        if (choice == Choice::Yes) {
            const bool saved = changed
                                   ? saveBackFromGame(window, scope, busy, archive, *changed, *game) && scope.finish()
                                   : saveBackElsewhere(window, busy, archive, *elsewhere, *game);
            if (!saved)
                return false; // shown; a save-back that happened stands, the apply does not start
        }
    }
    scope.record({Journal::Action::Apply, name, {}, profile->archived, game->written, game->folder, {}, 0});
    if (auto error = assembleNewSystem(window, archive, *profile, *game)) {
        (void)DeleteFolderTree(window, game->partial); // what stays is shown and removed by the next action
        return refuse(*error);
    }
    recordApply(*game, *profile);
    if (!swapInNewSystem(window, *game)) {
        // Applied, but the previous backup could not go: shown with its path and reason,
        // not followed by a success.
        busy.hide();
        return false;
    }
    window.showInformation("Сервер " + name + " записан в папку " + game->shownSystem());
    busy.hide();
    selectFirstEntry(window);
    return true;
}

bool UndoApply(ProfileWindow& window) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    ActionScope scope(window);
    if (!scope.ready())
        return false;
    const auto profile = profileOf(window, readListFile(), *selected);
    if (!profile)
        return false;
    std::string refusal;
    const auto game = gameFolderOf(*profile, refusal);
    if (!game || !platform::folderExists(platform::toPath(game->folder))) {
        window.showError(text::kNoBackup + profile->gameFolder);
        return false;
    }
    const auto gameLock = settledGameFolder(window, *game);
    if (!gameLock)
        return false;
    if (!pathTaken(game->backup)) {
        window.showError(text::kNoBackup + profile->gameFolder);
        return false;
    }
    const AppliedRecord record = AppliedRecord::read(*game);
    const AppliedEntry* back = record.of(game->backup);
    const std::string question =
        back ? "Вернуть папку system сервера " + back->name + ", которая была до последнего применения?"
             : std::string(text::kUndoQuestion);
    if (!window.askYesNo(kApplicationTitle, question))
        return false;
    scope.record({Journal::Action::Apply, *selected, {}, profile->archived, game->written, game->folder, {}, 0});
    BusyWindowScope busy(window);
    if (!swapWithBackup(window, *game))
        return false;
    busy.hide();
    window.showInformation("Папка " + game->shownSystem() + " возвращена");
    return true;
}

bool UpdateProfile(ProfileWindow& window, ProfileArchive* archive) {
    const auto selected = selectedProfile(window);
    if (!selected)
        return false;
    const std::string& name = *selected;
    ActionScope scope(window);
    if (!scope.ready())
        return false;
    const auto profile = profileOf(window, readListFile(), name);
    if (!profile)
        return false;
    std::string refusal;
    const auto game = gameFolderOf(*profile, refusal);
    if (!game || !platform::folderExists(platform::toPath(game->system))) {
        window.showError("Сервер " + name + text::kNotInGame);
        return false;
    }
    if (profile->archived && archive == nullptr) {
        window.showError(text::kFilesNotFound + name);
        return false;
    }
    const auto gameLock = settledGameFolder(window, *game);
    if (!gameLock)
        return false;
    // Only the profile whose files are in the game: a save-back never puts one server's
    // files into another's profile.
    if (!appliedEntry(AppliedRecord::read(*game), *game, *profile)) {
        window.showError("Сервер " + name + text::kNotInGame);
        return false;
    }
    BusyWindowScope busy(window);
    if (!saveBackFromGame(window, scope, busy, archive, *profile, *game))
        return false;
    (void)scope.finish(); // saved back: a staged file that stays was shown, the next action removes it
    busy.hide();
    window.showInformation("Сервер " + name + " обновлён из папки " + game->shownSystem());
    return true;
}

std::vector<ProfileStatus> ProfileStatuses() {
    std::vector<ProfileStatus> statuses;
    for (const auto& line : readListFile().lines) {
        ProfileStatus status;
        const auto fields = parseProfileLine(line.text);
        status.valid = fields && namesFiles(fields->name);
        if (!status.valid) {
            status.name = line.text.substr(0, line.text.find('\t'));
            statuses.push_back(status);
            continue;
        }
        status.name = fields->name;
        status.gameFolder = fields->gameFolder;
        status.archived = fields->archived;
        if (const auto onDisk = gameFolderOnDisk(fields->gameFolder)) {
            const GameFolder game(fields->gameFolder, *onDisk);
            const AppliedRecord record = AppliedRecord::read(game);
            if (const AppliedEntry* entry = appliedEntry(record, game, *fields)) {
                status.appliedAt = entry->appliedAt;
                status.state = !changedSinceApplied(game, *entry) ? AppliedState::Applied : AppliedState::Changed;
            }
        }
        statuses.push_back(status);
    }
    return statuses;
}

void RecoverInterruptedActions(ProfileWindow& window) {
    const auto lock = platform::FileLock::acquire(".", platform::FileLock::Mode::Exclusive);
    if (!lock)
        return; // another copy is at work here and settles its own leftovers
    if (!recoverWorkingDirectory(window))
        return; // shown; the next action tries again
    for (const auto& line : readListFile().lines) {
        const auto fields = parseProfileLine(line.text);
        const auto onDisk = fields ? gameFolderOnDisk(fields->gameFolder) : std::nullopt;
        if (!onDisk || !platform::folderExists(platform::toPath(*onDisk)))
            continue;
        const GameFolder game(fields->gameFolder, *onDisk);
        if (!pathTaken(game.partial) && !pathTaken(game.fresh) && !pathTaken(game.undo) && !pathTaken(game.trash) &&
            !pathTaken(game.journal))
            continue;
        if (const auto gameLock = GameFolderLock::acquire(game))
            (void)recoverGameFolder(window, game); // what stays was shown; the next apply stops on it
    }
}

} // namespace kestrane
