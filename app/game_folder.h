// The game folder's `system` folder, replaced whole. An apply assembles the new folder
// beside the old one as "system.kestrane-partial", renames it "system.kestrane-new" once
// it is complete, and swaps it in by renames; the folder it replaced stays as
// "system.kestrane-backup" until the next apply to that game folder, so that the apply
// can be undone (the undo swaps the two, so a second undo redoes). At every instant the
// game's `system` folder is the old one or the new one; a crash leaves, besides it, only
// names that recoverGameFolder finishes or removes:
//   - "partial" and "trash" are removed;
//   - "new" with a `system` beside it has not been swapped in yet and is removed; without
//     one the swap was half done and "new" becomes `system`;
//   - "undo" (the backup on its way back) becomes `system` when there is none, else the
//     backup again.
#pragma once

#include "app/profile_window.h"

#include <string>

namespace kestrane {

struct GameFolder {
    explicit GameFolder(const std::string& folder);
    std::string folder;
    std::string system;  // folder + "/system"
    std::string partial; // being assembled
    std::string fresh;   // assembled and complete, not yet in place
    std::string backup;  // what the last apply replaced
    std::string undo;    // the backup on its way back during an undo
    std::string trash;   // the previous backup on its way out
};

// Finishes or undoes what an interrupted apply or undo left. Call only while holding the
// game folder's lock. Answers false when something could not be removed (shown).
bool recoverGameFolder(ProfileWindow& window, const GameFolder& game);

// Puts the complete "new" folder in place of `system`; the replaced folder becomes the
// backup, the previous backup goes. Throws ProfileError when a rename fails, after
// putting back what it had moved.
void swapInNewSystem(ProfileWindow& window, const GameFolder& game);

// Exchanges `system` and the backup. False when there is no backup; throws ProfileError
// when a rename fails, after putting back what it had moved.
bool swapWithBackup(ProfileWindow& window, const GameFolder& game);

} // namespace kestrane
