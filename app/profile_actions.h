// The four things a player does with server profiles: save a new one from a systems
// folder, rename, delete, and apply one to its game folder's `system` subfolder.
// Each action reads the window's fields afresh, tells the outcome in message boxes and
// answers true when it reached its success message. Errors of options.ini and of the
// archiver propagate as exceptions to the caller's top-level handler; the busy window
// is hidden on every way out.
#pragma once

#include "app/profile_window.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// Packs and unpacks archived profiles ("./name.zip"). Provided by the window that owns
// the archiver; a front end without one saves every profile unpacked.
class ProfileArchive {
public:
    virtual ~ProfileArchive() = default;
    // Packs "./name" into "./name.zip", checks the archive and then removes the folder.
    // Answers the path of the first file that is not safely in the archive; the folder
    // then stays and the archive is removed.
    virtual std::optional<std::string> archiveProfile(ProfileWindow& window, const std::string& name) = 0;
    // Unpacks "./name.zip" into the working directory, recreating "./name". On any
    // failure it removes what it unpacked and answers the error's text.
    virtual std::optional<std::string> extractProfile(ProfileWindow& window, const std::string& name) = 0;
    // Renames "./oldName.zip" to "./newName.zip" with every stored name moved from
    // "oldName/" to "newName/". Shows the error and answers false on failure.
    virtual bool renameProfileArchive(ProfileWindow& window, const std::string& oldName,
                                      const std::string& newName) = 0;
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
inline constexpr const char* kDeleteQuestion = "Вы действительно хотите удалить запись?";
inline constexpr const char* kDeleteCaption = "Удаление";
} // namespace text

// True when name holds one of \ / : * ? " < > |, or a TAB or another control character.
bool NameHasForbiddenChars(std::string_view name);

// "./" + name: the profile folder; "./" + name + ".zip": the profile archive.
std::string profileFolder(std::string_view name);
std::string profileArchivePath(std::string_view name);

bool SaveProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
bool RenameProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);
bool DeleteProfile(ProfileWindow& window);
bool ApplyProfile(ProfileWindow& window, ProfileArchive* archive = nullptr);

} // namespace kestrane
