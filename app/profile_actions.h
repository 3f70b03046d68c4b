// The four things a player does with server profiles: save a new one from a systems
// folder, rename, delete, and apply one to its game folder's `system` subfolder.
// Each action reads the window's fields afresh, tells the outcome in message boxes and
// answers true when it reached its success message. Errors of options.ini and of the
// archiver propagate as exceptions to the caller's top-level handler; the busy window
// is hidden on every way out.
#pragma once

#include "app/applied_record.h"
#include "app/profile_window.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// Packs, checks and unpacks archived profiles. Provided by the window that owns the
// archiver; a front end without one saves every profile unpacked.
class ProfileArchive {
public:
    virtual ~ProfileArchive() = default;
    // Packs what the folder `folder` holds into archivePath under stored names that begin
    // with name + "/", then reads the archive back and tests it. Answers nullopt when every
    // file and subfolder is safely in it; else the first missing or failing path, or the
    // archiver's error.
    virtual std::optional<std::string> pack(ProfileWindow& window, const std::string& folder, const std::string& name,
                                            const std::string& archivePath) = 0;
    // Answers nullopt when the archive is whole: its directory read as written, every
    // entry passing its check and lying below name + "/"; else what is wrong.
    virtual std::optional<std::string> damage(ProfileWindow& window, const std::string& archivePath,
                                              const std::string& name) = 0;
    // Unpacks the archive into the folder destination, giving destination + "/" + name
    // with the whole tree, and checks the archive as it reads it: success means it is
    // whole, as damage() would answer. Answers the error's text when a name is stray, the
    // directory was not read as written, an entry fails (damaged data stops the unpack
    // without a question) or is missing; what was unpacked stays for the caller to remove.
    virtual std::optional<std::string> unpack(ProfileWindow& window, const std::string& archivePath,
                                              const std::string& name, const std::string& destination) = 0;
};

// Message texts of the profile actions.
namespace text {
inline constexpr const char* kSystemsFolderEmpty = "Укажите путь к папке систем";
inline constexpr const char* kGameFolderEmpty = "Укажите путь к папке с игрой";
inline constexpr const char* kNameEmpty = "Название не может быть нулевым";
inline constexpr const char* kNameTaken = "Такой сервер уже существует";
inline constexpr const char* kForbiddenChars = "В имени не можут содержатся символы: /\\:*?\"<>|";
inline constexpr const char* kNameTooLong = "Название не может быть длиннее 80 символов";
inline constexpr const char* kFolderNotFound = "Папка не найдена: ";
inline constexpr const char* kCopyFailed = "Не удалось скопировать: ";
inline constexpr const char* kPackFailed = "Не удалось упаковать: ";
inline constexpr const char* kFilesNotFound = "Файлы сервера не найдены: ";
inline constexpr const char* kBadGameFolder = "Неверная папка игры: ";
inline constexpr const char* kNothingSelected = "Сервер не выбран";
inline constexpr const char* kInvalidName = "Недопустимое название сервера: ";
inline constexpr const char* kProfileNotFound = "Сервер не найден: ";
inline constexpr const char* kInvalidLine = "Неверная строка в options.ini: ";
inline constexpr const char* kInvalidPath = "Недопустимый путь: ";
inline constexpr const char* kDamagedArchive = "Архив сервера повреждён: ";
inline constexpr const char* kNoBackup = "Нет сохранённой папки system для ";
inline constexpr const char* kUndoQuestion = "Вернуть папку system, которая была до последнего применения?";
inline constexpr const char* kDeleteQuestion = "Вы действительно хотите удалить запись?";
inline constexpr const char* kDeleteCaption = "Удаление";
inline constexpr const char* kNotInGame = " сейчас не в папке игры";
inline constexpr const char* kUpdateFromGame = "Обновить сервер из папки игры";
inline constexpr const char* kUndoMenu = "Вернуть прежнюю папку system";
// The reasons given after kBadGameFolder and kInvalidPath.
inline constexpr const char* kOverlapsWorkingDirectory = "папка system пересекается с рабочей папкой программы";
inline constexpr const char* kOverlapsProfile = "пересекается с папкой сервера ";
inline constexpr const char* kHoldsWorkingDirectory = "содержит рабочую папку программы";
inline constexpr const char* kHoldsGameFiles = "содержит служебные файлы Kestrane ";
} // namespace text

// True when name holds one of \ / : * ? " < > |, or a TAB or another control character.
bool NameHasForbiddenChars(std::string_view name);

// "./" + name: the profile folder; "./" + name + ".zip": the profile archive.
std::string profileFolder(std::string_view name);
std::string profileArchivePath(std::string_view name);
// The identity of a profile's own files, its archive or its folder; nullopt when missing.
std::optional<platform::FileIdentity> profileFiles(std::string_view name, bool archived);

// The actions. Each runs as a whole or not at all: it holds the working directory's lock
// (a second copy of Kestrane is refused), builds what it writes in the staging place
// and changes options.ini last, so that a crash or a failure at any point leaves the
// state before the action or the state after it (see action_scope.h and game_folder.h).
bool SaveProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
bool RenameProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
bool DeleteProfile(ProfileWindow& window);
// An apply that would replace a `system` folder changed since its profile was applied
// asks first whether to save the changes back into that profile (Yes: saved back, then
// applied; No: applied, the changed folder becoming the backup; Cancel: nothing).
bool ApplyProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
// Replaces the selected profile's files with its game folder's current `system` folder,
// as a whole or not at all; refused for a profile that is not the one applied there.
bool UpdateProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
// Puts back the `system` folder that the last apply to the selected profile's game
// folder replaced, after asking kUndoQuestion; the current one becomes the backup, so a
// second undo redoes.
bool UndoApply(ProfileWindow& window);

// One line of options.ini as the list and `kestrane-cli status` describe it.
struct ProfileStatus {
    std::string name;       // the line's text before its first TAB for a damaged line
    std::string gameFolder; // as written
    bool archived = false;
    bool valid = false; // name TAB folder TAB flag, with a name files may have
    AppliedState state = AppliedState::NotApplied;
    std::int64_t appliedAt = 0; // when state is not NotApplied
};
std::vector<ProfileStatus> ProfileStatuses();

// Finishes or undoes what an interrupted action left, in the working directory and in
// the game folders of the listed profiles. Does nothing while another copy of Kestrane
// holds the working directory. Throws ProfileError when options.ini cannot be read.
void RecoverInterruptedActions(ProfileWindow& window);

} // namespace kestrane
