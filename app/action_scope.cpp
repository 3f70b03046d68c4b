#include "app/action_scope.h"

#include "app/applied_record.h"

#include "app/folder_operations.h"
#include "app/game_folder.h"
#include "app/profile_actions.h"
#include "app/profile_list.h"
#include "platform/file_lock.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

const std::string kJournalFile = std::string(kStagingFolder) + "/journal";
// The staging subfolder where an action builds a profile's new files.
constexpr const char* kWorkName = "work";

fs::path pathOf(const std::string& text) { return platform::toPath(text); }

std::optional<Journal> readJournal() {
    if (!platform::fileExists(pathOf(kJournalFile)))
        return std::nullopt;
    try {
        platform::File file = platform::File::openRead(pathOf(kJournalFile));
        std::string text(file.size(), '\0');
        text.resize(file.read(text.data(), text.size()));
        return Journal::parse(text);
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
}

// Puts a file or folder back where it was; a failure is shown and leaves it where it is.
bool moveBack(ProfileWindow& window, const std::string& from, const std::string& to) {
    return !pathTaken(from) || RenameFolder(window, from, to);
}

// Settles the game folder an interrupted apply or undo worked on, under its lock. A
// game folder locked by another copy is that copy's to settle. Settled means decided:
// a leftover there that cannot be deleted (shown) is the next action's on that game
// folder, and keeps no other action of this working directory waiting.
bool settleGameFolder(ProfileWindow& window, const Journal& journal) {
    const GameFolder game(journal.gameFolder, journal.gameFolderOnDisk);
    const bool decided = !pathTaken(game.journal) && !pathTaken(game.partial) && !pathTaken(game.fresh) &&
                         !pathTaken(game.replaced) && !pathTaken(game.undo);
    if (decided || !platform::folderExists(platform::toPath(game.folder)))
        return true; // a trash left there is the next apply's to remove
    const bool held = GameFolderLock::heldHere(game);
    const auto lock = held ? std::optional<GameFolderLock>() : GameFolderLock::acquire(game);
    if (!held && !lock)
        return true;
    return recoverGameFolder(window, game) || !pathTaken(game.journal);
}

// How long settling waits for another copy's apply to the same game folder to end.
constexpr std::chrono::seconds kRecordLockWait{5};

// Brings the game folder's record in step with a settled rename, delete or save-back:
// the profile's entries take its name and files after the rename (or before it, when it
// was undone), go with a delete, and take the new files and the saved folder's
// fingerprint after a save-back. Entries are the profile's by name and files (see
// belongsTo), so a step already done matches nothing and running it again changes
// nothing. Answers false after showing why the record could not be brought in step.
bool settleRecord(ProfileWindow& window, const Journal& journal, bool done) {
    if (journal.gameFolderOnDisk.empty() || (journal.action == Journal::Action::Update && !done))
        return true; // no game folder found, or a save-back undone: the record is as it was
    const GameFolder game(journal.gameFolder, journal.gameFolderOnDisk);
    if (!platform::fileExists(pathOf(game.applied)) && !pathTaken(draftOf(game.applied)))
        return true;
    const bool held = GameFolderLock::heldHere(game);
    const auto lock = held ? std::optional<GameFolderLock>() : GameFolderLock::acquire(game, kRecordLockWait);
    if (!held && !lock) {
        window.showError(text::kAnotherCopyRunning);
        return false;
    }
    std::error_code ec;
    fs::remove(pathOf(draftOf(game.applied)), ec); // a rewrite cut short
    const std::string name = journal.action == Journal::Action::Rename && done ? journal.newName : journal.name;
    const auto files = profileFiles(name, journal.archived);
    const auto system = platform::fileIdentity(pathOf(game.system));
    const AppliedRecord before = AppliedRecord::read(game);
    AppliedRecord after;
    for (AppliedEntry entry : before.entries) {
        const bool ours = belongsTo(entry, journal.name, journal.profileFiles) || belongsTo(entry, name, files);
        if (ours && journal.action == Journal::Action::Delete)
            continue;
        if (ours) {
            entry.name = name;
            entry.profileFiles = files;
            if (journal.action == Journal::Action::Update && entry.folder == system)
                entry.fingerprint = journal.fingerprint;
        }
        after.entries.push_back(entry);
    }
    try {
        if (after.entries != before.entries)
            after.write(game);
    } catch (const ProfileError& e) {
        window.showError(e.what());
        return false;
    }
    return true;
}

// Finishes the recorded action when options.ini shows its line change, else undoes it.
bool settle(ProfileWindow& window, const Journal& journal) {
    const ProfileListText list = readListFile();
    const auto place = [&](const std::string& name) {
        return journal.archived ? profileArchivePath(name) : profileFolder(name);
    };
    switch (journal.action) {
    case Journal::Action::Save:
        return list.hasProfile(journal.name) || DeleteFolderTree(window, place(journal.name));
    case Journal::Action::Rename: {
        // Done: an archive leaves its old file behind. Undone: a folder goes back.
        const bool done = list.hasProfile(journal.newName);
        const bool files = done ? !journal.archived || DeleteFolderTree(window, profileArchivePath(journal.name))
                           : journal.archived ? DeleteFolderTree(window, profileArchivePath(journal.newName))
                                              : pathTaken(place(journal.name)) ||
                                                    moveBack(window, place(journal.newName), place(journal.name));
        return files && settleRecord(window, journal, done);
    }
    case Journal::Action::Delete:
        if (list.hasProfile(journal.name)) {
            const bool folderBack = moveBack(window, ActionScope::movedFolder(), profileFolder(journal.name));
            return moveBack(window, ActionScope::movedArchive(), profileArchivePath(journal.name)) && folderBack;
        }
        return settleRecord(window, journal, true);
    case Journal::Action::Apply:
        return settleGameFolder(window, journal);
    case Journal::Action::Update: {
        // Finished once the new files have left the work folder for the profile's place
        // (the place alone does not tell: it holds the old files until they are moved
        // aside); else the old ones go back.
        const std::string moved = journal.archived ? ActionScope::movedArchive() : ActionScope::movedFolder();
        const std::string built =
            ActionScope::builtFiles(std::string(kStagingFolder) + "/" + kWorkName, journal.name, journal.archived);
        const bool done = !pathTaken(built) && pathTaken(place(journal.name));
        return (done || moveBack(window, moved, place(journal.name))) && settleRecord(window, journal, done);
    }
    }
    return true;
}

// A new folder of the staging place. Throws ProfileError with the system's reason.
std::string stagingSubfolder(const std::string& name) {
    const std::string folder = std::string(kStagingFolder) + "/" + name;
    std::error_code ec;
    fs::create_directory(pathOf(kStagingFolder), ec);
    if (!ec && !fs::create_directory(pathOf(folder), ec) && !ec)
        ec = std::make_error_code(std::errc::file_exists);
    if (ec)
        throw ProfileError("Cannot create " + folder + ": " + ec.message());
    return folder;
}

// The new options.ini that a rewrite killed before its rename left beside the list: the
// one name a rewrite writes, never a player's own copy such as "options.ini.backup".
bool removeListDraft(ProfileWindow& window) {
    const std::string draft = listDraftPath();
    return !platform::fileExists(pathOf(draft)) || DeleteFolderTree(window, draft);
}

} // namespace

std::string Journal::text() const {
    static constexpr const char* kVerbs[] = {"save", "rename", "delete", "apply", "update"};
    std::string files;
    if (profileFiles)
        files = std::to_string(profileFiles->device) + ":" + std::to_string(profileFiles->inode);
    return std::string(kVerbs[int(action)]) + "\t" + (archived ? "1" : "0") + "\t" + name + "\t" + newName + "\t" +
           gameFolder + "\t" + gameFolderOnDisk + "\t" + files + "\t" + std::to_string(fingerprint) + "\n";
}

std::optional<Journal> Journal::parse(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\t' || text[i] == '\n') {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (fields.size() < 4 || fields[2].empty())
        return std::nullopt;
    Journal journal;
    if (fields[0] == "save")
        journal.action = Action::Save;
    else if (fields[0] == "rename")
        journal.action = Action::Rename;
    else if (fields[0] == "delete")
        journal.action = Action::Delete;
    else if (fields[0] == "apply")
        journal.action = Action::Apply;
    else if (fields[0] == "update")
        journal.action = Action::Update;
    else
        return std::nullopt;
    journal.archived = fields[1] == "1";
    journal.name = fields[2];
    journal.newName = fields[3];
    if (fields.size() >= 6) {
        journal.gameFolder = fields[4];
        journal.gameFolderOnDisk = fields[5];
    }
    if (fields.size() >= 8) {
        platform::FileIdentity id;
        char colon = 0;
        std::istringstream files(fields[6]);
        if (files >> id.device >> colon >> id.inode && colon == ':')
            journal.profileFiles = id;
        journal.fingerprint = std::strtoull(fields[7].c_str(), nullptr, 10);
    }
    if (journal.action == Action::Rename && journal.newName.empty())
        return std::nullopt;
    if (journal.action == Action::Apply && journal.gameFolderOnDisk.empty())
        return std::nullopt;
    return journal;
}

bool recoverWorkingDirectory(ProfileWindow& window) {
    if (!removeListDraft(window))
        return false;
    if (!pathTaken(kStagingFolder))
        return true;
    // The journal goes with the staging place, and only once its action is settled: a
    // step that failed is tried again by the next action.
    if (auto journal = readJournal(); journal && !settle(window, *journal))
        return false;
    return DeleteFolderTree(window, kStagingFolder);
}

ActionScope::ActionScope(ProfileWindow& window) : m_window(window) {
    try {
        m_lock = platform::FileLock::acquire(".", platform::FileLock::Mode::Exclusive);
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
    if (!m_lock) {
        window.showError(text::kAnotherCopyRunning);
        return;
    }
    m_settled = recoverWorkingDirectory(window);
}

ActionScope::~ActionScope() {
    if (!m_lock || !m_settled)
        return; // what could not be settled was shown once; the next action tries again
    try {
        (void)recoverWorkingDirectory(m_window); // what stays was shown; the next action settles it
    } catch (...) {
        // The staging place stays; the next action settles it.
    }
}

std::string ActionScope::workFolder() { return stagingSubfolder(kWorkName); }

std::string ActionScope::trashFolder() { return stagingSubfolder("trash"); }

void ActionScope::record(const Journal& journal) {
    try {
        std::error_code ec;
        fs::create_directory(pathOf(kStagingFolder), ec);
        if (ec)
            throw ProfileError("Cannot create " + std::string(kStagingFolder) + ": " + ec.message());
        platform::TempFile temp(pathOf(kStagingFolder), "journal.");
        const std::string text = journal.text();
        if (temp.file().write(text.data(), text.size()) != text.size())
            throw ProfileError("Cannot write " + kJournalFile + ": " + std::strerror(temp.file().lastError()));
        temp.commit(pathOf(kJournalFile));
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
}

bool ActionScope::finish() { return recoverWorkingDirectory(m_window); }

} // namespace kestrane
