#include "app/action_steps.h"

#include "app/folder_operations.h"
#include "platform/file_system.h"

#include <algorithm>

namespace kestrane {
namespace {

bool isWithin(const std::string& inner, const std::string& outer) {
    return platform::isWithinFolder(platform::toPath(inner), platform::toPath(outer));
}

// Whether two places overlap: one is the other or lies inside it.
bool overlaps(const std::string& a, const std::string& b) { return isWithin(a, b) || isWithin(b, a); }

// The game folder of a profile on this machine, or nullopt after setting the refusal
// with its reason (a folder that does not exist is no game folder: the game would never
// read a `system` folder made there).
std::optional<GameFolder> gameFolderOf(const ProfileFields& profile, std::string& refusal) {
    if (auto problem = gameFolderProblem(profile.gameFolder)) {
        refusal = text::kBadGameFolder + profile.gameFolder + " — " + *problem;
        return std::nullopt;
    }
    return GameFolder(profile.gameFolder, *gameFolderOnDisk(profile.gameFolder));
}

} // namespace

bool isOwnFolderName(std::string_view name) {
    return platform::sameFileName(name, ".") || platform::sameFileName(name, "..") ||
           platform::sameFileName(name, std::string_view(kStagingFolder).substr(2));
}

bool namesFiles(std::string_view name) { return !isOwnFolderName(name) && !NameHasForbiddenChars(name); }

std::optional<ProfileFields> profileOf(const ProfileListText& list, const std::string& name, std::string& refusal) {
    const int index = list.matching(name);
    if (index < 0) {
        refusal = text::kProfileNotFound + name;
        return std::nullopt;
    }
    const std::string& line = list.lines[std::size_t(index)].text;
    auto fields = parseProfileLine(line);
    if (!fields || fields->name != name) {
        refusal = text::kInvalidLine + displayName(line);
        return std::nullopt;
    }
    return fields;
}

std::optional<std::string> gameFolderDanger(const ProfileListText& list, const GameFolder& game) {
    if (overlaps(game.system, ".") || overlaps(game.system, kStagingFolder))
        return std::string(text::kOverlapsWorkingDirectory);
    for (const auto& line : list.lines) {
        const auto fields = parseProfileLine(line.text);
        if (fields && namesFiles(fields->name) &&
            (overlaps(game.system, profileFolder(fields->name)) ||
             overlaps(game.system, profileArchivePath(fields->name))))
            return text::kOverlapsProfile + fields->name;
    }
    return std::nullopt;
}

std::optional<std::string> systemsFolderDanger(const ProfileListText& list, const std::string& systems,
                                               const std::optional<GameFolder>& game) {
    if (isWithin(".", systems) || isWithin(systems, kStagingFolder))
        return std::string(text::kHoldsWorkingDirectory);
    for (const auto& line : list.lines) {
        const auto fields = parseProfileLine(line.text);
        if (fields && namesFiles(fields->name) && overlaps(systems, profileFolder(fields->name)))
            return text::kOverlapsProfile + fields->name;
    }
    if (game) {
        for (const std::string& own : {game->partial, game->fresh, game->replaced, game->backup, game->undo,
                                       game->trash, game->journal, game->applied})
            if (overlaps(systems, own))
                return text::kHoldsGameFiles + game->shownSystem() + ".kestrane-*";
    }
    return std::nullopt;
}

Journal journalOf(Journal::Action action, const ProfileFields& profile, const std::optional<GameFolder>& game) {
    Journal journal;
    journal.action = action;
    journal.name = profile.name;
    journal.archived = profile.archived;
    if (game) {
        journal.gameFolder = game->written;
        journal.gameFolderOnDisk = game->folder;
    }
    journal.profileFiles = profileFiles(profile.name, profile.archived);
    return journal;
}

std::optional<GameFolder> recordedGameFolder(const ProfileFields& profile) {
    const auto onDisk = gameFolderOnDisk(profile.gameFolder);
    return onDisk ? std::optional<GameFolder>(GameFolder(profile.gameFolder, *onDisk)) : std::nullopt;
}

void moveOwnFiles(const std::string& from, const std::string& to) {
    if (platform::folderExists(platform::toPath(from)))
        (void)platform::makeFolderWritable(platform::toPath(from));
    movePath(from, to);
}

std::string copySystemsFolder(ProfileWindow& window, BusyWindowScope& busy, const std::string& systems,
                              const std::string& work, const std::string& name) {
    const std::string copied = ActionScope::builtFiles(work, name, false);
    const CopyOutcome copy = CopyFolderTree(window, systems, copied, false, true);
    window.pumpMessages();
    // An empty systems folder copies nothing: the profile is an empty folder then.
    const std::error_code made =
        copy.failedFiles == 0 ? platform::createFolders(platform::toPath(copied)) : std::error_code();
    if (copy.failedFiles > 0 || made) {
        busy.hide();
        window.showError(text::kCopyFailed + (made ? copied + ": " + made.message() : copy.failureText()));
        return {};
    }
    flushToDisk(window, copied); // on disk before it is moved into place and listed
    return copied;
}

std::string packSystemsFolder(ProfileWindow& window, BusyWindowScope& busy, ProfileArchive& archive,
                              const std::string& systems, const std::string& work, const std::string& name) {
    const std::string packed = ActionScope::builtFiles(work, name, true);
    const std::optional<std::string> failed = archive.pack(window, systems, name, packed);
    if (!failed)
        return packed;
    busy.hide();
    window.showError(text::kPackFailed + *failed);
    return {};
}

std::optional<std::string> unpackWhole(ProfileWindow& window, ProfileArchive& archive, const std::string& archivePath,
                                       const std::string& name, const std::string& destination) {
    const auto failed = archive.unpack(window, archivePath, name, destination);
    if (!failed)
        return std::nullopt;
    // Only a failed unpack reads the archive again: to tell the archive's damage, which
    // the player must hear about as such, from a disk that would not take the files.
    if (archive.damage(window, archivePath, name))
        return text::kDamagedArchive + archivePath;
    return failed;
}

const AppliedEntry* appliedEntry(const AppliedRecord& record, const GameFolder& game, const ProfileFields& profile) {
    const AppliedEntry* entry = record.of(game.system);
    return entry && belongsTo(*entry, profile.name, profileFiles(profile.name, profile.archived)) ? entry : nullptr;
}

bool ProfileAction::selectEntry() {
    const auto entries = m_window.profileEntries();
    const int index = m_window.SelectedIndex();
    if (index < 0 || std::size_t(index) >= entries.size() || entries[std::size_t(index)].empty())
        return refuse(text::kNothingSelected);
    m_name = entries[std::size_t(index)];
    return true;
}

bool ProfileAction::checkName() { return namesFiles(*m_name) || refuse(text::kInvalidName + *m_name); }

bool ProfileAction::openScope() {
    m_scope.emplace(m_window);
    if (!m_scope->ready())
        return false; // shown by the scope
    if (m_busyFrom == Busy::FromScope)
        showBusy();
    m_list = readListFile();
    return true;
}

bool ProfileAction::readProfile() {
    std::string refusal;
    m_profile = profileOf(m_list, *m_name, refusal);
    return m_profile || refuse(refusal);
}

bool ProfileAction::findGameFolder(std::string GameFolder::*mustExist, const std::optional<std::string>& refusal) {
    std::string reason;
    m_game = gameFolderOf(*m_profile, reason);
    if (m_game && (mustExist == nullptr || platform::folderExists(platform::toPath((*m_game).*mustExist))))
        return true;
    return refuse(refusal ? *refusal : reason);
}

bool ProfileAction::lockGameFolder() {
    auto lock = GameFolderLock::acquire(*m_game);
    if (!lock)
        return refuse(text::kAnotherCopyRunning);
    m_gameLock.emplace(std::move(*lock));
    // A leftover that cannot be removed (shown with its path and reason) stops the action
    // before the game's folder changes.
    if (!recoverGameFolder(m_window, *m_game)) {
        hideBusy();
        return false;
    }
    return true;
}

bool ProfileAction::refuse(const std::string& refusal) {
    hideBusy();
    m_window.showError(refusal);
    return false;
}

BusyWindowScope& ProfileAction::showBusy() {
    if (m_busy)
        m_busy->show();
    else
        m_busy.emplace(m_window);
    return *m_busy;
}

void ProfileAction::hideBusy() {
    if (m_busy)
        m_busy->hide();
}

} // namespace kestrane
