// What keeps the profile actions whole when the program is killed, the disk fills up or
// a second copy of Kestrane runs in the same working directory.
//
// Every action runs inside an ActionScope. The scope holds an advisory lock on the
// working directory for the whole action (the kernel drops it when the process dies),
// so a second copy changes nothing and says so. Under the lock it first finishes or
// undoes whatever an interrupted action left. An action builds its files in the staging
// place, "./.kestrane:staging" (no profile can take that name: ':' is forbidden in
// names), and moves them into place by rename. Before its first move it records in the
// staging place's journal what it is about to move. Whether the action happened is then
// decided by one thing only, options.ini: a save, rename or delete whose line change
// reached options.ini is finished by recovery, any other is undone. Recovery runs at the
// start of every action, when the action ends (successful or not), and at start-up.
#pragma once

#include "app/profile_window.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

#include <cstdint>

#include <optional>
#include <vector>
#include <string>

namespace kestrane {

namespace text {
inline constexpr const char* kAnotherCopyRunning = "Другая копия Kestrane сейчас работает с этой папкой";
} // namespace text

#ifdef _WIN32
// Windows reserves ':' in names; a profile may not take this one (see the name rules).
inline constexpr const char* kStagingFolder = "./.kestrane-staging";
#else
inline constexpr const char* kStagingFolder = "./.kestrane:staging";
#endif

// What an action is about to move, so that recovery can finish or undo it. An apply or
// undo records the game folder it changes, so that what it leaves there is settled even
// when no line of options.ini names that folder any more; a rename, delete or save-back
// records the game folder whose record names the profile.
struct Journal {
    enum class Action { Save, Rename, Delete, Apply, Update };
    Action action = Action::Save;
    std::string name;       // the profile (the old name of a rename)
    std::string newName;    // the new name of a rename
    bool archived = false;  // the profile's files are its archive, not its folder
    std::string gameFolder; // the game folder: as written, then where it is
    std::string gameFolderOnDisk;
    // A rename's, delete's or save-back's: the profile's own files before the action,
    // and for a save-back the fingerprint of the `system` folder it saves. Settling
    // brings the game folder's record in step with the outcome (applied_record.h).
    std::optional<platform::FileIdentity> profileFiles;
    std::uint64_t fingerprint = 0;

    std::string text() const;
    static std::optional<Journal> parse(const std::string& text);
};

class ActionScope {
public:
    // Takes the working directory's lock, or shows kAnotherCopyRunning when another copy
    // holds it, and recovers what an earlier action left; ready() is false when either
    // failed (a leftover that could not be removed has been shown with its reason).
    // Throws ProfileError when options.ini cannot be read to decide that.
    explicit ActionScope(ProfileWindow& window);
    // Recovers once more, finishing or undoing this action by what options.ini says;
    // errors are swallowed (the staging place then waits for the next action).
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

    bool ready() const { return m_lock.has_value() && m_settled; }

    // A new, empty folder in the staging place for building files; an existing one would
    // be an interrupted action's. Throws ProfileError.
    std::string workFolder();
    // The profile files of `name` built in a work folder: work/name, or work/name.zip.
    static std::string builtFiles(const std::string& work, const std::string& name, bool archived) {
        return work + "/" + name + (archived ? ".zip" : "");
    }
    // Where an action puts what it moves aside for good; removed by recovery.
    std::string trashFolder();
    // Where a delete moves the profile's folder and archive until the line is gone, and
    // where a save-back moves them until the new ones are in place.
    static std::string movedFolder() { return std::string(kStagingFolder) + "/profile"; }
    static std::string movedArchive() { return std::string(kStagingFolder) + "/profile.zip"; }
    // Records durably what the action is about to move. Throws ProfileError.
    void record(const Journal& journal);
    // Finishes the action now, the staged files removed, so that the caller can report
    // the outcome. Answers false when something could not be removed (already shown):
    // what was published stays, and the next action settles the rest.
    [[nodiscard]] bool finish();

private:
    ProfileWindow& m_window;
    std::optional<platform::FileLock> m_lock;
    bool m_settled = false;
};

// Finishes or undoes what an interrupted action left in the working directory (and in
// the game folder its journal names). Call only while holding the working directory's lock. Answers false when
// something could not be removed (shown in the window). Throws ProfileError when options.ini cannot be read.
[[nodiscard]] bool recoverWorkingDirectory(ProfileWindow& window);

} // namespace kestrane
