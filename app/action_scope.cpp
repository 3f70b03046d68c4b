#include "app/action_scope.h"

#include "app/folder_operations.h"
#include "app/game_folder.h"
#include "app/profile_actions.h"
#include "app/profile_list.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

const std::string kJournalFile = std::string(kStagingFolder) + "/journal";

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
void moveBack(ProfileWindow& window, const std::string& from, const std::string& to) {
    if (pathTaken(from))
        RenameFolder(window, from, to);
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
    case Journal::Action::Rename:
        if (list.hasProfile(journal.newName)) // done; an archive leaves its old file behind
            return !journal.archived || DeleteFolderTree(window, profileArchivePath(journal.name));
        if (journal.archived)
            return DeleteFolderTree(window, profileArchivePath(journal.newName));
        if (!pathTaken(place(journal.name)))
            moveBack(window, place(journal.newName), place(journal.name));
        return true;
    case Journal::Action::Delete:
        if (list.hasProfile(journal.name)) {
            moveBack(window, ActionScope::movedFolder(), profileFolder(journal.name));
            moveBack(window, ActionScope::movedArchive(), profileArchivePath(journal.name));
        }
        return true;
    }
    return true;
}

// A folder of the staging place, made when missing. Throws ProfileError.
std::string stagingSubfolder(const std::string& name) {
    const std::string folder = std::string(kStagingFolder) + "/" + name;
    if (!platform::createFolders(pathOf(folder)))
        throw ProfileError("Cannot create " + folder + ": " + std::strerror(errno));
    return folder;
}

// Copies of options.ini that a rewrite killed half-way left beside it ("options.ini.XXXXXX").
void removeStaleListCopies() {
    std::error_code ec;
    const std::string prefix = std::string(kProfileListFile) + ".";
    for (fs::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix) && it->is_regular_file())
            platform::deleteFile(it->path());
    }
}

} // namespace

std::string Journal::text() const {
    const char* verb = action == Action::Save ? "save" : action == Action::Rename ? "rename" : "delete";
    return std::string(verb) + "\t" + (archived ? "1" : "0") + "\t" + name + "\t" + newName + "\n";
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
    else
        return std::nullopt;
    journal.archived = fields[1] == "1";
    journal.name = fields[2];
    journal.newName = fields[3];
    if (journal.action == Action::Rename && journal.newName.empty())
        return std::nullopt;
    return journal;
}

bool recoverWorkingDirectory(ProfileWindow& window) {
    removeStaleListCopies();
    if (!pathTaken(kStagingFolder))
        return true;
    bool clean = true;
    if (auto journal = readJournal()) {
        clean = settle(window, *journal);
        platform::deleteFile(pathOf(kJournalFile));
    }
    return DeleteFolderTree(window, kStagingFolder) && clean;
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
    recoverWorkingDirectory(window);
}

ActionScope::~ActionScope() {
    if (!m_lock)
        return;
    try {
        recoverWorkingDirectory(m_window);
    } catch (...) {
        // The staging place stays; the next action settles it.
    }
}

std::string ActionScope::workFolder() { return stagingSubfolder("work"); }

std::string ActionScope::trashFolder() { return stagingSubfolder("trash"); }

void ActionScope::record(const Journal& journal) {
    try {
        platform::createFolders(pathOf(kStagingFolder));
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
