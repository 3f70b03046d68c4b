// The name rules of a profile's files, the status list and the recovery at start-up. The
// actions themselves are in list_actions.cpp (save, rename, delete) and
// game_folder_actions.cpp (apply, undo, update), on the steps of action_steps.h.
#include "app/profile_actions.h"

#include "app/action_steps.h"
#include "app/folder_operations.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace kestrane {

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
