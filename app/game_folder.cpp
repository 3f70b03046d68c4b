#include "app/game_folder.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_system.h"

#include <filesystem>

namespace kestrane {
namespace {

// Renames back after a failure; a second failure leaves the names for recovery.
void moveBack(const std::string& from, const std::string& to) {
    platform::renamePath(platform::toPath(from), platform::toPath(to));
}

} // namespace

GameFolder::GameFolder(const std::string& gameFolder)
    : folder(gameFolder), system(gameFolder + "/system"), partial(system + ".kestrane-partial"),
      fresh(system + ".kestrane-new"), backup(system + ".kestrane-backup"), undo(system + ".kestrane-undo"),
      trash(system + ".kestrane-trash") {}

bool recoverGameFolder(ProfileWindow& window, const GameFolder& game) {
    bool clean = DeleteFolderTree(window, game.partial) && DeleteFolderTree(window, game.trash);
    if (pathTaken(game.fresh)) {
        if (pathTaken(game.system))
            clean = DeleteFolderTree(window, game.fresh) && clean;
        else
            moveBack(game.fresh, game.system);
    }
    if (pathTaken(game.undo)) {
        if (!pathTaken(game.system))
            moveBack(game.undo, game.system);
        else if (!pathTaken(game.backup))
            moveBack(game.undo, game.backup);
    }
    return clean;
}

void swapInNewSystem(ProfileWindow& window, const GameFolder& game) {
    if (pathTaken(game.backup)) {
        movePath(game.backup, game.trash);
        DeleteFolderTree(window, game.trash);
    }
    const bool hadSystem = pathTaken(game.system);
    if (hadSystem)
        movePath(game.system, game.backup);
    try {
        movePath(game.fresh, game.system);
    } catch (const ProfileError&) {
        if (hadSystem)
            moveBack(game.backup, game.system);
        throw;
    }
}

bool swapWithBackup(ProfileWindow&, const GameFolder& game) {
    if (!pathTaken(game.backup))
        return false;
    movePath(game.backup, game.undo);
    const bool hadSystem = pathTaken(game.system);
    try {
        if (hadSystem)
            movePath(game.system, game.backup);
        movePath(game.undo, game.system);
    } catch (const ProfileError&) {
        if (hadSystem && !pathTaken(game.system))
            moveBack(game.backup, game.system);
        moveBack(game.undo, game.backup);
        throw;
    }
    return true;
}

} // namespace kestrane
