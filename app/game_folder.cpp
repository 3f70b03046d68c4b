#include "app/game_folder.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_system.h"

#include <filesystem>

namespace kestrane {
namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(platform::toPath(path), ec));
}

// Renames or throws ProfileError with the system's reason.
void move(const std::string& from, const std::string& to) {
    if (auto error = platform::renamePath(platform::toPath(from), platform::toPath(to)))
        throw ProfileError("Cannot rename " + from + " to " + to + ": " + *error);
}

// Renames back after a failure; a second failure leaves the names for recovery.
void moveBack(const std::string& from, const std::string& to) {
    platform::renamePath(platform::toPath(from), platform::toPath(to));
}

bool remove(ProfileWindow& window, const std::string& path) {
    return !exists(path) || DeleteFolderTree(window, path);
}

} // namespace

GameFolder::GameFolder(const std::string& gameFolder)
    : folder(gameFolder), system(gameFolder + "/system"), partial(system + ".kestrane-partial"),
      fresh(system + ".kestrane-new"), backup(system + ".kestrane-backup"), undo(system + ".kestrane-undo"),
      trash(system + ".kestrane-trash") {}

bool recoverGameFolder(ProfileWindow& window, const GameFolder& game) {
    bool clean = remove(window, game.partial) && remove(window, game.trash);
    if (exists(game.fresh)) {
        if (exists(game.system))
            clean = remove(window, game.fresh) && clean;
        else
            moveBack(game.fresh, game.system);
    }
    if (exists(game.undo)) {
        if (!exists(game.system))
            moveBack(game.undo, game.system);
        else if (!exists(game.backup))
            moveBack(game.undo, game.backup);
    }
    return clean;
}

void swapInNewSystem(ProfileWindow& window, const GameFolder& game) {
    if (exists(game.backup)) {
        move(game.backup, game.trash);
        DeleteFolderTree(window, game.trash);
    }
    const bool hadSystem = exists(game.system);
    if (hadSystem)
        move(game.system, game.backup);
    try {
        move(game.fresh, game.system);
    } catch (const ProfileError&) {
        if (hadSystem)
            moveBack(game.backup, game.system);
        throw;
    }
}

bool swapWithBackup(ProfileWindow&, const GameFolder& game) {
    if (!exists(game.backup))
        return false;
    move(game.backup, game.undo);
    const bool hadSystem = exists(game.system);
    try {
        if (hadSystem)
            move(game.system, game.backup);
        move(game.undo, game.system);
    } catch (const ProfileError&) {
        if (hadSystem && !exists(game.system))
            moveBack(game.backup, game.system);
        moveBack(game.undo, game.backup);
        throw;
    }
    return true;
}

} // namespace kestrane
