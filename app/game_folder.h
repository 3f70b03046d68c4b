// The game folder's `system` folder, replaced whole. An apply assembles the new folder
// beside the old one as "system.kestrane-partial", flushes it to disk, renames it
// "system.kestrane-new", records that folder's identity in the game folder's journal
// "system.kestrane-journal", and exchanges it with `system` in one step, so that at every
// instant the game has a whole `system` folder. The folder it replaced then becomes
// "system.kestrane-backup" (the previous backup goes only after that), so that the apply
// can be undone; the undo exchanges the two, so a second undo redoes.
//
// A crash leaves, besides `system`, only names that recoverGameFolder finishes or removes:
//   - "partial" is removed;
//   - with the journal: when `system` is the recorded new folder, the apply is finished
//     (the replaced folder becomes the backup, the previous one goes); otherwise "new"
//     was never swapped in and is removed;
//   - without it, as a run before the journal left them: "new" with a `system` beside it
//     is removed, without one it becomes `system`; "trash" is removed; "undo" (the backup
//     on its way back where the file system cannot exchange) becomes `system` when there
//     is none, else the backup again.
#pragma once

#include "app/profile_window.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

#include <chrono>

#include <optional>
#include <string>

namespace kestrane {

struct GameFolder {
    // `written` is the folder as options.ini holds it, `onDisk` where it is found here.
    GameFolder(const std::string& written, const std::string& onDisk);
    std::string written;  // shown in messages
    std::string folder;   // the folder on this machine
    std::string system;   // folder + "/system"
    std::string partial;  // being assembled
    std::string fresh;    // assembled and complete; after the exchange, the replaced folder
    std::string replaced; // the replaced folder where the file system cannot exchange
    std::string backup;   // what the last apply replaced
    std::string undo;     // the backup on its way back where the file system cannot exchange
    std::string trash;    // the previous backup on its way out
    std::string journal;  // the identity of the new folder while it is being swapped in
    std::string applied;  // which profile each of `system` and the backup is (applied_record.h)

    // The `system` folder as the player wrote its game folder: with "\" when the folder
    // is written the Windows way.
    std::string shownSystem() const;
};

// The game folder's lock, held by an action for its whole run (the working directory's
// lock keeps only that directory's other actions out; another working directory may name
// the same game folder). The process knows which game folders it holds, so that the
// settling at the end of an action that holds one does not wait on itself.
class GameFolderLock {
public:
    // Takes the lock of an existing game folder, waiting at most `wait`; nullopt when
    // another copy of Kestrane holds it. Throws ProfileError when the folder cannot be opened.
    static std::optional<GameFolderLock> acquire(const GameFolder& game,
                                                 std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Whether this process holds the game folder's lock now.
    static bool heldHere(const GameFolder& game);

    GameFolderLock(GameFolderLock&& other) noexcept;
    GameFolderLock& operator=(GameFolderLock&&) = delete;
    GameFolderLock(const GameFolderLock&) = delete;
    GameFolderLock& operator=(const GameFolderLock&) = delete;
    ~GameFolderLock();

private:
    GameFolderLock(platform::FileLock lock, platform::FileIdentity folder);
    std::optional<platform::FileLock> m_lock;
    platform::FileIdentity m_folder;
};

// The name a file of the game folder (journal, record) is written under before it
// replaces `file`; recovery removes it.
std::string draftOf(const std::string& file);
// Replaces a file of the game folder (journal, record) durably through its draft. Throws
// ProfileError naming the file and the system's reason; the file is then as it was.
void writeGameFile(const std::string& file, const std::string& text);

// Where a game folder written in options.ini is on this machine: a relative or absolute
// folder as it is; one written with a drive letter ("C:\Games\Game") through the Wine
// prefix ($WINEPREFIX, else ~/.wine), whose dosdevices/c: link names the drive's folder.
// nullopt when no prefix maps the drive, and for a drive without a separator after its
// colon ("C:Games\Game"), which Windows reads against that drive's current folder.
std::optional<std::string> gameFolderOnDisk(const std::string& written);

// Why a game folder written in options.ini cannot be used here, or nullopt when it can:
// a drive without a separator after its colon, a drive no Wine prefix maps, a folder that
// does not exist (its `system` folder may be missing: an apply makes it).
std::optional<std::string> gameFolderProblem(const std::string& written);

// Finishes or undoes what an interrupted apply or undo left. Call only while holding the
// game folder's lock. Answers false when something could not be removed or moved (shown);
// the apply is decided all the same once the game folder's journal is gone.
[[nodiscard]] bool recoverGameFolder(ProfileWindow& window, const GameFolder& game);

// Puts the complete "new" folder in place of `system`; the replaced folder becomes the
// backup, and the previous backup goes after that. Throws ProfileError when the exchange
// fails (nothing changed then). Answers false when the previous backup could not be
// removed (shown): the apply has happened, and the next apply or undo here removes it.
[[nodiscard]] bool swapInNewSystem(ProfileWindow& window, const GameFolder& game);

// Exchanges `system` and the backup. False when there is no backup; throws ProfileError
// when a rename fails, after putting back what it had moved.
[[nodiscard]] bool swapWithBackup(ProfileWindow& window, const GameFolder& game);

} // namespace kestrane
