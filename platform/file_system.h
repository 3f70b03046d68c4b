// File and folder services with the semantics the rest of Kestrane relies on: the
// Windows attribute word, folder listings filtered by attribute mask and wildcard,
// copying that keeps times and permissions, deletion, folders, the current directory.
// Paths are UTF-8 text; both '/' and '\' are accepted as separators on input. A path is
// made from text only by toPath and turned back only by pathText: the implicit conversions
// of std::filesystem read and write the ANSI code page on Windows, not UTF-8.
//
// One header, two implementations: posix/file_system.cpp and win32/file_system.cpp hold
// the calls that differ; file_system.cpp what std::filesystem does alike on both.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

// The attribute word of a file or folder.
enum Attribute : std::uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolume = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
};

// Converts a UTF-8 path text that may use '\' as separator into a native path.
std::filesystem::path toPath(std::string_view text);
// The UTF-8 text of a path, separators as the path holds them.
std::string pathText(const std::filesystem::path& p);
// A path text as messages show it: with '\' separators on Windows, as it is on POSIX.
std::string shownPath(std::string_view text);
// Whether a file made under this one name (one step of a path, not "." or "..") gets
// exactly that name. On Windows a name with a control character or one of <>:"|?*
// (':' names a drive or a file's data stream), a name ending in a dot or a space (both
// dropped) and a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension)
// lead elsewhere; on POSIX every such name is kept.
bool keepsName(std::string_view name);
// The length of the drive that starts a path text ("C:" on Windows; always 0 on POSIX,
// where "C:" is an ordinary name).
std::size_t driveLength(std::string_view path);

// Attribute word of an existing file or folder (folder 0x10; read-only when the owner
// may not write; hidden when the name starts with '.'; archive for every regular file).
// nullopt when the path does not exist.
std::optional<std::uint32_t> fileAttributes(const std::filesystem::path& p);
// Applies an attribute word: read-only clears or restores the owner's write permission;
// bits POSIX cannot hold are ignored. The system's reason when it cannot (the path does
// not exist, or is not the caller's).
[[nodiscard]] std::error_code setFileAttributes(const std::filesystem::path& p, std::uint32_t attributes);

// The read, write and execute bits (0777) of an existing file or folder, links followed;
// nullopt when the path does not exist.
std::optional<std::uint32_t> filePermissions(const std::filesystem::path& p);

// Gives the file or folder at `p` the read, write and execute bits of `mode` (on Windows:
// read-only when the owner may not write; a folder's mode is left, since Windows does not
// read a folder's read-only attribute as "no new entries") and, when asked, its
// modification time, without following a link at `p`: a link there fails the call, and
// neither the link nor what it points to changes. Answers the system's reason when any
// part fails (the other parts are still tried).
[[nodiscard]] std::error_code setModeAndTime(const std::filesystem::path& p, std::optional<std::uint32_t> mode,
                                             std::optional<std::time_t> time, bool folder);
// The mode a new file gets when nothing else is asked: read and write for all, less the
// process's file mode mask (0666 on Windows, where there is no mask).
std::uint32_t newFileMode();
// Whether `p` is itself a link (a symbolic link, or on Windows any reparse point such as
// a junction), whatever it points to.
bool isLink(const std::filesystem::path& p);

// Windows wildcard match of one file name ('*', '?', "*.*" matches every name, a
// trailing ".*" also matches a name without a dot). Letter case ignored.
bool wildcardMatchesName(std::string_view pattern, std::string_view name);

struct FolderEntry {
    std::string name; // "." and ".." included
    std::uint32_t attributes;
    std::uint64_t size;
    std::filesystem::file_time_type lastWrite;
    bool symlink = false; // the entry is a link; its attributes describe the link's target
};

// Lists the folder part of `pattern` (a path whose last component is a wildcard such
// as "*" or "*.*"), keeping the entries whose name matches the wildcard and whose
// attribute word passes `mask` as a Windows find would: an entry with hidden, system
// or directory bits is listed only when the mask holds them. "." and ".." come first.
// A missing folder yields an empty listing.
std::vector<FolderEntry> listFolder(std::string_view pattern, std::uint32_t mask);

// Whether `inner` is `outer` or lies below it, both made absolute with every link that
// exists resolved (the steps that do not exist yet are taken as plain names). False when
// either path cannot be resolved.
bool isWithinFolder(const std::filesystem::path& inner, const std::filesystem::path& outer);

// Whether the file system holding the existing path `p` folds letter case (finds
// "readme.txt" under "README.TXT"). Asked by looking the path up with the case of its
// last name that has letters swapped; false when no name on the path has a letter.
bool foldsCase(const std::filesystem::path& p);

// Whether the names `a` and `b`, in one folder, name the same file: on POSIX when they are
// equal; on Windows also when they differ only in the case of ASCII letters or in the
// dots and spaces that end them, which Windows drops ("..." names the folder itself).
bool sameFileName(std::string_view a, std::string_view b);

bool folderExists(const std::filesystem::path& p);
bool fileExists(const std::filesystem::path& p); // a file, not a folder

// Copies a file, replacing the target (never a read-only one), keeping last-write time
// and permissions; the kernel copies the data (cloning where the file system can).
// `onChunk` runs after every 256 KiB or so, so that a window can stay alive during a long
// copy. Answers an empty error code on success, else the system's reason; a target
// left half-written is removed.
std::error_code copyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                         const std::function<void()>& onChunk = {});
// Deletes a file (a link itself, never a folder). The system's reason when it could not be
// deleted or did not exist.
[[nodiscard]] std::error_code deleteFile(const std::filesystem::path& p);
// Creates a folder and every missing folder above it. The system's reason when it is not
// a folder afterwards.
[[nodiscard]] std::error_code createFolders(const std::filesystem::path& p);
// Renames a file or folder, never over an existing target; on failure returns the
// system's error text.
[[nodiscard]] std::optional<std::string> renamePath(const std::filesystem::path& from, const std::filesystem::path& to);

// Exchanges two existing files or folders in one step (renameat2 with RENAME_EXCHANGE),
// so that at every instant both names exist. kExchangeUnsupported when the file system cannot
// exchange, and always on Windows, which has no such call; else the system's error text, or
// nullopt on success.
inline constexpr const char* kExchangeUnsupported = "exchange not supported";
[[nodiscard]] std::optional<std::string> exchangePaths(const std::filesystem::path& a, const std::filesystem::path& b);

// Gives the owner read, write and search permission on an existing folder (not through
// a link), the equivalent of clearing its read-only attribute so that its entries can be
// listed and removed. Answers the system's error text when it cannot.
[[nodiscard]] std::optional<std::string> makeFolderWritable(const std::filesystem::path& folder);

// Writes every cached change of the file system holding `p` to disk (syncfs; on Windows
// the volume's buffers, which only an administrator may flush). Answers the system's
// error text when it cannot.
[[nodiscard]] std::optional<std::string> syncFileSystem(const std::filesystem::path& p);

// The device and inode of the file or folder at p (links not followed; on Windows the
// volume's serial number and the file index): the same for a folder before and after it
// is renamed within one file system.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& p);
// A digest of the tree below an existing folder: every entry's path relative to it, and
// for files their size and modification time (links not followed). Equal digests mean
// nothing in the tree was added, removed, resized or rewritten. nullopt when the folder
// cannot be opened.
std::optional<std::uint64_t> treeDigest(const std::filesystem::path& folder);

// The process's current directory as UTF-8 text (never changed by the program).
std::string currentDirectory();

} // namespace platform
