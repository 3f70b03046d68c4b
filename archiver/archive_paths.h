// The path rules of adding and extracting: full-path expansion, masks made absolute, the
// name a disk file gets inside the archive, and the place an entry may be written to.
// Pure text functions over '/'-separated paths ('\' is accepted as a separator too and
// turned into '/'); only resolvePath asks the file system whether a folder exists.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace archiver {

// How much of a disk path a stored name keeps.
enum TZAStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };

// The text with every '\' turned into '/'.
std::string slashed(std::string_view path);

// The full form of a path: relative paths are taken from the current folder, "." steps
// and repeated separators are removed, ".." steps climb (never above "/"); a trailing '/'
// stays. Purely lexical, like the platform's full-path expansion.
std::string fullPath(std::string_view path);

// A full path from a base folder (or `fallback` when base is empty) and a name:
// an absolute or network name stands for itself, a relative one is taken below the
// base; an empty name gives the base folder itself with a trailing '/', or the current
// folder when neither base nor fallback is given.
std::string resolvePath(std::string_view base, std::string_view name, std::string_view fallback);

// The folder part of a path including its trailing '/' ("" when there is none), and the
// name part after it.
std::string_view folderPart(std::string_view path);
std::string_view namePart(std::string_view path);
// The path without one trailing '/' or '\'.
std::string withoutTrailingSeparator(std::string path);

struct ExpandedMask {
    std::string full; // the mask as a full path
    bool relative;    // true when it was a plain relative mask put below the base
};
// A file mask made absolute below `root` (resolved against `operationBase`): absolute
// and network masks stay as they are, "./x" and "x" are put below the base folder, and
// masks that climb with "../" are kept as written.
ExpandedMask expandMask(std::string_view mask, std::string_view root, std::string_view operationBase);

// The name inside the archive of the disk file `diskPath`, for the base folder `base`
// (resolved against `fallback`): relative to the base when the file lies below it,
// else its full path; without any leading '/' or server prefix (except with
// spFullPathWithDrive, which keeps the path whole). Separators become '/'; a folder's
// trailing separator is dropped (the caller appends '/' for folder entries).
std::string storedName(std::string_view diskPath, std::string_view base, TZAStorePathMode mode,
                       std::string_view fallback);

// Where an entry may be written below the destination base: its stored name with '\'
// taken as '/', "." steps and empty steps dropped, as a relative '/'-separated path
// (a folder entry's trailing '/' is kept). nullopt when the name would leave the
// destination: it is absolute ('/' or '\' first, which covers "\\server"), it starts
// with a drive ("C:"), or one of its steps is ".." or a name the file system would not
// keep as it is (platform::keepsName: on Windows ".. " would be ".."). An empty result
// means the entry names the destination itself.
std::optional<std::string> confinedEntryPath(std::string_view storedName);

} // namespace archiver
