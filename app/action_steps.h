// The steps the profile actions share (internal to profile_actions.cpp,
// list_actions.cpp and game_folder_actions.cpp): the busy window for a scope, the name
// rules, the checks that keep Kestrane's own files out of a game folder and a systems
// folder, the building of a profile's files in the staging place, and ProfileAction, the
// start every action on the selected profile takes.
#pragma once

#include "app/action_scope.h"
#include "app/applied_record.h"
#include "app/game_folder.h"
#include "app/profile_actions.h"
#include "app/profile_list.h"
#include "platform/encoding.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

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
bool isOwnFolderName(std::string_view name);

// A line edited outside the program may hold a name that points outside the working
// directory; no action touches files for it.
bool namesFiles(std::string_view name);

// The refusal for a new name, or nullptr when the name may be used. `takenBy` decides
// the duplicate rule, which differs between save and rename.
template <class TakenTest>
const char* newNameRefusal(std::string_view name, TakenTest takenBy, std::string& detail) {
    if (name.find_first_not_of(' ') == std::string_view::npos)
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

// The fields of name's matching line, or nullopt with the refusal to show: no line, or a
// line that is not name TAB folder TAB flag for exactly this name.
std::optional<ProfileFields> profileOf(const ProfileListText& list, const std::string& name, std::string& refusal);

// An apply replaces game/system whole: it must not be, hold or lie inside the working
// directory, the staging place or any profile's files. Answers why it is not safe.
std::optional<std::string> gameFolderDanger(const ProfileListText& list, const GameFolder& game);

// A systems folder that is or holds the working directory, the staging place or a
// profile would copy Kestrane's own files into the new profile; one that holds the game
// folder's own names (system.kestrane-*) would take in the backup and the record. A
// systems folder inside the game's `system` is what a player saves from.
std::optional<std::string> systemsFolderDanger(const ProfileListText& list, const std::string& systems,
                                               const std::optional<GameFolder>& game);

// The journal of an action on a profile's files, with the profile's game folder (when it
// is found here) and own files: settling it brings the game folder's record in step.
Journal journalOf(Journal::Action action, const ProfileFields& profile, const std::optional<GameFolder>& game);

// The game folder of a profile's line wherever it is found here, missing or not: what a
// rename or delete brings in step.
std::optional<GameFolder> recordedGameFolder(const ProfileFields& profile);

// Moves a profile's own files to another folder. Moving a folder to another parent
// rewrites its ".." entry, which needs write permission on the folder itself: a profile
// folder the player made read-only is given it first (it is ours to move; when that
// fails, the move says why).
void moveOwnFiles(const std::string& from, const std::string& to);

// The profile folder of a save, built as work/name: every file of the systems folder, or
// the save fails. Answers its path, or the empty text after the busy window went and the
// error was shown.
std::string copySystemsFolder(ProfileWindow& window, BusyWindowScope& busy, const std::string& systems,
                              const std::string& work, const std::string& name);

// The profile archive of a save, packed straight from the systems folder as work/name.zip
// under the stored root name/ and tested. Answers its path, or the empty text after the
// busy window went and the error was shown.
std::string packSystemsFolder(ProfileWindow& window, BusyWindowScope& busy, ProfileArchive& archive,
                              const std::string& systems, const std::string& work, const std::string& name);

// Unpacks the profile archive archivePath into destination, reading it once: the unpack
// checks it as it goes. Answers nullopt, or the refusal to show: kDamagedArchive with the
// archive's path when the archive is not whole, else the unpack's own error. What was
// unpacked stays for the caller to remove.
std::optional<std::string> unpackWhole(ProfileWindow& window, ProfileArchive& archive, const std::string& archivePath,
                                       const std::string& name, const std::string& destination);

// The entry of the record for `system` when it is this working directory's profile.
const AppliedEntry* appliedEntry(const AppliedRecord& record, const GameFolder& game, const ProfileFields& profile);

// The start an action on the selected profile takes, one step after another: the
// selected entry, its name checked, the action's scope (the working directory's lock,
// an earlier action's leftovers settled) with options.ini read under it, the profile's
// line, the profile's game folder, and the game folder's lock with what an interrupted
// apply left there settled. A step that cannot be taken answers false after showing why
// (the busy window hidden first); the action then ends, and the later steps are not
// taken. Leaving the action releases the game folder's lock, hides the busy window and
// settles the scope, in that order.
class ProfileAction {
public:
    enum class Busy {
        Later,     // shown by the action when its long part begins (showBusy)
        FromScope, // shown as soon as the scope is ready
    };
    explicit ProfileAction(ProfileWindow& window, Busy busy = Busy::Later) : m_window(window), m_busyFrom(busy) {}
    ProfileAction(const ProfileAction&) = delete;
    ProfileAction& operator=(const ProfileAction&) = delete;

    // The usual order: selectEntry, checkName, openScope, readProfile.
    bool start() { return selectEntry() && checkName() && openScope() && readProfile(); }

    // The selected list entry; refused with kNothingSelected.
    bool selectEntry();
    // The entry names a profile's files; refused with kInvalidName.
    bool checkName();
    // The scope, then options.ini read under its lock.
    bool openScope();
    // The fields of the entry's line; refused with kProfileNotFound or kInvalidLine.
    bool readProfile();
    // The profile's game folder on this machine, whose member `mustExist` (when given)
    // is an existing folder. Refused with `refusal`, or without one with the reason the
    // folder cannot be used.
    bool findGameFolder(std::string GameFolder::*mustExist = nullptr,
                        const std::optional<std::string>& refusal = std::nullopt);
    // The game folder's lock (refused with kAnotherCopyRunning), then what an interrupted
    // apply left there settled (a leftover that cannot be removed has been shown).
    bool lockGameFolder();

    // Hides the busy window, shows the refusal and answers false.
    bool refuse(const std::string& refusal);
    BusyWindowScope& showBusy();
    void hideBusy();

    ProfileWindow& window() const { return m_window; }
    const std::string& name() const { return *m_name; }
    ActionScope& scope() { return *m_scope; }
    const ProfileListText& list() const { return m_list; }
    const ProfileFields& profile() const { return *m_profile; }
    const GameFolder& game() const { return *m_game; }

private:
    ProfileWindow& m_window;
    Busy m_busyFrom;
    std::optional<std::string> m_name;
    // Declared in the order of their steps: destroyed in reverse.
    std::optional<ActionScope> m_scope;
    std::optional<BusyWindowScope> m_busy;
    ProfileListText m_list;
    std::optional<ProfileFields> m_profile;
    std::optional<GameFolder> m_game;
    std::optional<GameFolderLock> m_gameLock;
};

} // namespace kestrane
