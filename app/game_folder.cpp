#include "app/game_folder.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// Renames back after a failure; a second failure leaves the names for recovery.
void moveBack(const std::string& from, const std::string& to) {
    platform::renamePath(platform::toPath(from), platform::toPath(to));
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Records, durably, which folder is the new `system` before it is swapped in.
void writeJournal(const GameFolder& game, const platform::FileIdentity& fresh) {
    try {
        platform::TempFile temp = platform::TempFile::named(platform::toPath(draftOf(game.journal)));
        const std::string text = std::to_string(fresh.device) + "\t" + std::to_string(fresh.inode) + "\n";
        if (temp.file().write(text.data(), text.size()) != text.size())
            throw platform::FileError(temp.file().lastError(), temp.path(), "Cannot write");
        temp.commit(platform::toPath(game.journal));
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
}

std::optional<platform::FileIdentity> readJournal(const GameFolder& game) {
    try {
        platform::File file = platform::File::openRead(platform::toPath(game.journal));
        std::string text(std::size_t(std::min<std::uint64_t>(file.size(), 64)), '\0');
        text.resize(file.read(text.data(), text.size()));
        std::istringstream in(text);
        platform::FileIdentity id;
        if (in >> id.device >> id.inode)
            return id;
    } catch (const platform::FileError&) {}
    return std::nullopt; // a journal cut by a crash before its rename is never read
}

void removeJournal(const GameFolder& game) {
    std::error_code ec;
    fs::remove(platform::toPath(game.journal), ec);
    if (ec)
        throw ProfileError("Cannot delete " + game.journal + ": " + ec.message());
    platform::syncFolder(platform::toPath(game.folder));
}

bool isFolder(const std::string& path, const platform::FileIdentity& id) {
    return platform::fileIdentity(platform::toPath(path)) == id;
}

// After the exchange: the replaced folder becomes the backup, then the previous backup
// goes, then the journal. Each step can be run again after a crash.
bool finishApply(ProfileWindow& window, const GameFolder& game) {
    const std::string old = pathTaken(game.replaced) ? game.replaced : game.fresh;
    if (pathTaken(old)) {
        if (pathTaken(game.backup))
            movePath(game.backup, game.trash);
        movePath(old, game.backup);
    }
    if (!DeleteFolderTree(window, game.trash))
        return false; // the journal stays: the next action removes the trash and finishes
    removeJournal(game);
    return true;
}

// Recovery of a game folder left by a run before the journal, or after it finished.
bool recoverWithoutJournal(ProfileWindow& window, const GameFolder& game) {
    bool clean = DeleteFolderTree(window, game.trash);
    if (pathTaken(game.fresh)) {
        if (pathTaken(game.system))
            clean = DeleteFolderTree(window, game.fresh) && clean;
        else
            movePath(game.fresh, game.system);
    }
    if (pathTaken(game.undo)) {
        if (!pathTaken(game.system))
            movePath(game.undo, game.system);
        else if (!pathTaken(game.backup))
            movePath(game.undo, game.backup);
    }
    return clean;
}

} // namespace

std::string draftOf(const std::string& file) { return file + "-new"; }

GameFolder::GameFolder(const std::string& writtenFolder, const std::string& onDisk)
    : written(writtenFolder), folder(onDisk), system(onDisk + "/system"), partial(system + ".kestrane-partial"),
      fresh(system + ".kestrane-new"), replaced(system + ".kestrane-old"), backup(system + ".kestrane-backup"),
      undo(system + ".kestrane-undo"), trash(system + ".kestrane-trash"), journal(system + ".kestrane-journal"),
      applied(system + ".kestrane-applied") {}

std::string GameFolder::shownSystem() const {
    const bool windowsWay = written.find('\\') != std::string::npos && written.find('/') == std::string::npos;
    return written + (windowsWay ? "\\system" : "/system");
}

std::optional<std::string> gameFolderOnDisk(const std::string& written) {
    const bool drive = written.size() >= 2 && isDriveLetter(written[0]) && written[1] == ':' &&
                       (written.size() == 2 || written[2] == '\\' || written[2] == '/');
    if (!drive)
        return written;
    std::string prefix;
    if (const char* wine = std::getenv("WINEPREFIX"); wine && *wine)
        prefix = wine;
    else if (const char* home = std::getenv("HOME"); home && *home)
        prefix = std::string(home) + "/.wine";
    else
        return std::nullopt;
    const char letter = char(written[0] | 0x20); // Wine names its drive links in lower case
    const std::string driveFolder = prefix + "/dosdevices/" + letter + ":";
    if (!platform::folderExists(platform::toPath(driveFolder)))
        return std::nullopt;
    std::string rest = written.substr(2);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    return driveFolder + rest;
}

bool recoverGameFolder(ProfileWindow& window, const GameFolder& game) {
    bool clean = DeleteFolderTree(window, game.partial);
    std::error_code ec;
    fs::remove(platform::toPath(draftOf(game.journal)), ec);
    fs::remove(platform::toPath(draftOf(game.applied)), ec);
    if (!pathTaken(game.journal))
        return recoverWithoutJournal(window, game) && clean;
    const auto id = readJournal(game);
    if (id && !pathTaken(game.system) && isFolder(game.fresh, *id))
        movePath(game.fresh, game.system); // complete and on disk: the swap goes forward
    if (id && isFolder(game.system, *id))
        return finishApply(window, game) && clean;
    // The new folder never became `system`: the apply is undone, the backup untouched.
    if (pathTaken(game.replaced) && !pathTaken(game.system))
        movePath(game.replaced, game.system);
    clean = DeleteFolderTree(window, game.fresh) && clean;
    if (clean)
        removeJournal(game);
    return clean;
}

bool swapInNewSystem(ProfileWindow& window, const GameFolder& game) {
    const auto id = platform::fileIdentity(platform::toPath(game.fresh));
    if (!id)
        throw ProfileError("Cannot find " + game.fresh);
    writeJournal(game, *id);
    if (!pathTaken(game.system)) {
        movePath(game.fresh, game.system);
    } else if (auto error = platform::exchangePaths(platform::toPath(game.fresh), platform::toPath(game.system))) {
        if (*error != platform::kExchangeUnsupported)
            throw ProfileError("Cannot exchange " + game.fresh + " and " + game.system + ": " + *error);
        // Two renames where the file system cannot exchange; recovery finishes a half swap.
        movePath(game.system, game.replaced);
        movePath(game.fresh, game.system);
    } else {
        syncFoldersOf(game.fresh, game.system);
    }
    return finishApply(window, game);
}

bool swapWithBackup(ProfileWindow&, const GameFolder& game) {
    if (!pathTaken(game.backup))
        return false;
    if (!pathTaken(game.system)) {
        movePath(game.backup, game.system);
        return true;
    }
    auto error = platform::exchangePaths(platform::toPath(game.backup), platform::toPath(game.system));
    if (!error) {
        syncFoldersOf(game.backup, game.system);
        return true;
    }
    if (*error != platform::kExchangeUnsupported)
        throw ProfileError("Cannot exchange " + game.backup + " and " + game.system + ": " + *error);
    movePath(game.backup, game.undo);
    try {
        movePath(game.system, game.backup);
        movePath(game.undo, game.system);
    } catch (const ProfileError&) {
        if (!pathTaken(game.system))
            moveBack(game.backup, game.system);
        moveBack(game.undo, game.backup);
        throw;
    }
    return true;
}

} // namespace kestrane
