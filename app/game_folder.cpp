#include "app/game_folder.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// Renames back after a failure; a second failure leaves the names for recovery.
// Answers what went wrong, as a sentence to add to the failure being undone.
std::string moveBack(const std::string& from, const std::string& to) {
    const auto error = platform::renamePath(platform::toPath(from), platform::toPath(to));
    return error ? "; cannot rename " + from + " back to " + to + ": " + *error : std::string();
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Records, durably, which folder is the new `system` before it is swapped in.
void writeJournal(const GameFolder& game, const platform::FileIdentity& fresh) {
    writeGameFile(game.journal, std::to_string(fresh.device) + "\t" + std::to_string(fresh.inode) + "\n");
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

// After the exchange: the replaced folder becomes the backup, the previous backup the
// trash, and the apply is complete: the journal goes, then the trash. Each step can be
// run again after a crash; a trash that cannot be deleted (shown) is removed by the next
// action on this game folder, which needs the name, and stops nothing else.
bool finishApply(ProfileWindow& window, const GameFolder& game) {
    const std::string old = pathTaken(game.replaced) ? game.replaced : game.fresh;
    if (pathTaken(old)) {
        if (pathTaken(game.backup))
            movePath(game.backup, game.trash);
        movePath(old, game.backup);
    }
    removeJournal(game);
    return DeleteFolderTree(window, game.trash);
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

namespace {
// The game folders whose locks this process holds (an action holds one or two).
std::vector<platform::FileIdentity>& heldGameFolders() {
    static std::vector<platform::FileIdentity> held;
    return held;
}
} // namespace

std::optional<GameFolderLock> GameFolderLock::acquire(const GameFolder& game, std::chrono::milliseconds wait) {
    const fs::path folder = platform::toPath(game.folder);
    const auto id = platform::fileIdentity(folder);
    std::optional<platform::FileLock> lock;
    try {
        if (!id)
            throw platform::FileError(ENOENT, folder, "Cannot open " + game.folder + ": " + std::strerror(ENOENT));
        lock = platform::FileLock::acquire(folder, platform::FileLock::Mode::Exclusive, wait);
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
    if (!lock)
        return std::nullopt;
    return GameFolderLock(std::move(*lock), *id);
}

bool GameFolderLock::heldHere(const GameFolder& game) {
    const auto id = platform::fileIdentity(platform::toPath(game.folder));
    const auto& held = heldGameFolders();
    return id && std::find(held.begin(), held.end(), *id) != held.end();
}

GameFolderLock::GameFolderLock(platform::FileLock lock, platform::FileIdentity folder)
    : m_lock(std::move(lock)), m_folder(folder) {
    heldGameFolders().push_back(folder);
}

GameFolderLock::GameFolderLock(GameFolderLock&& other) noexcept
    : m_lock(std::move(other.m_lock)), m_folder(other.m_folder) {
    other.m_lock.reset();
}

GameFolderLock::~GameFolderLock() {
    if (!m_lock)
        return;
    auto& held = heldGameFolders();
    if (auto it = std::find(held.begin(), held.end(), m_folder); it != held.end())
        held.erase(it);
}

std::string draftOf(const std::string& file) { return file + "-new"; }

void writeGameFile(const std::string& file, const std::string& text) {
    try {
        platform::TempFile temp = platform::TempFile::named(platform::toPath(draftOf(file)));
        if (temp.file().write(text.data(), text.size()) != text.size()) {
            const int error = temp.file().lastError() != 0 ? temp.file().lastError() : ENOSPC;
            throw ProfileError("Cannot write " + file + ": " + std::strerror(error));
        }
        temp.keepPermissionsOf(platform::toPath(file));
        temp.commit(platform::toPath(file));
    } catch (const platform::FileError& e) {
        throw ProfileError("Cannot write " + file + ": " + std::strerror(e.errorNumber()));
    }
}

GameFolder::GameFolder(const std::string& writtenFolder, const std::string& onDisk)
    : written(writtenFolder), folder(onDisk), system(onDisk + "/system"), partial(system + ".kestrane-partial"),
      fresh(system + ".kestrane-new"), replaced(system + ".kestrane-old"), backup(system + ".kestrane-backup"),
      undo(system + ".kestrane-undo"), trash(system + ".kestrane-trash"), journal(system + ".kestrane-journal"),
      applied(system + ".kestrane-applied") {}

std::string GameFolder::shownSystem() const {
    const bool windowsWay = written.find('\\') != std::string::npos && written.find('/') == std::string::npos;
    return written + (windowsWay ? "\\system" : "/system");
}

namespace {

bool startsWithDrive(const std::string& written) {
    return written.size() >= 2 && isDriveLetter(written[0]) && written[1] == ':';
}

bool isDriveRelative(const std::string& written) {
    return startsWithDrive(written) && written.size() > 2 && written[2] != '\\' && written[2] != '/';
}

// The Wine prefix whose dosdevices map drive letters to folders.
std::optional<std::string> winePrefix() {
    if (const char* wine = std::getenv("WINEPREFIX"); wine && *wine)
        return std::string(wine);
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.wine";
    return std::nullopt;
}

} // namespace

std::optional<std::string> gameFolderOnDisk(const std::string& written) {
    if (!startsWithDrive(written))
        return written;
    if (platform::driveLength(written) != 0) // Windows reads its drive letters itself
        return isDriveRelative(written) ? std::nullopt : std::optional<std::string>(written);
    const auto prefix = winePrefix();
    if (!prefix || isDriveRelative(written))
        return std::nullopt;
    const char letter = char(written[0] | 0x20); // Wine names its drive links in lower case
    const std::string driveFolder = *prefix + "/dosdevices/" + letter + ":";
    if (!platform::folderExists(platform::toPath(driveFolder)))
        return std::nullopt;
    std::string rest = written.substr(2);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    return driveFolder + rest;
}

std::optional<std::string> gameFolderProblem(const std::string& written) {
    if (isDriveRelative(written))
        return "после «" + written.substr(0, 2) + "» нет «\\»: папка зависит от текущей папки диска";
    const auto onDisk = gameFolderOnDisk(written);
    if (!onDisk) {
        const std::string drive = written.substr(0, 2);
        const auto prefix = winePrefix();
        return "диск " + drive + " не найден в префиксе Wine" +
               (prefix ? " (" + *prefix + "/dosdevices)" : std::string(" (нет ни WINEPREFIX, ни HOME)"));
    }
    if (!platform::folderExists(platform::toPath(*onDisk)))
        return std::string("папка не найдена");
    return std::nullopt;
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
    } catch (const ProfileError& e) {
        std::string undone;
        if (!pathTaken(game.system))
            undone += moveBack(game.backup, game.system);
        undone += moveBack(game.undo, game.backup);
        if (!undone.empty())
            throw ProfileError(e.what() + undone);
        throw;
    }
    return true;
}

} // namespace kestrane
