// The profile list file `options.ini` in the working directory: one line per server
// profile, "name TAB game folder TAB flag" with CR LF, flag "1" for an archived profile.
//
// Every lookup by name works on the matching line: the first line, from the top, that
// contains the name anywhere (letter case significant). Every operation opens the file
// afresh; every rewrite is atomic (a temporary file beside it renamed over it).
// Input/output failures throw ProfileError, whose text the top-level handler shows.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

class ProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kProfileListFile = "options.ini";
// The profile list shows at most this many characters of a line.
inline constexpr std::size_t kDisplayLimit = 80;

// --- the text of the file, without touching the disk ------------------------------

// The lines of a profile list text (CR LF, LF or CR ends; no empty last line).
std::vector<std::string> splitLines(std::string_view text);
// The text of a list of lines, every line followed by CR LF.
std::string joinLines(const std::vector<std::string>& lines);
// The list entry a line shows: at most 80 characters, up to the first TAB among them.
std::string displayName(std::string_view line);
// "name TAB game folder TAB 1|0".
std::string profileLine(std::string_view name, std::string_view gameFolder, bool archived);
// Index of the matching line for name, or -1.
int matchingLine(const std::vector<std::string>& lines, std::string_view name);
// The game folder of a matching line (name and TAB cut, flag cut, one trailing separator cut).
std::string gameFolderOfLine(std::string_view line, std::string_view name);
// The duplicate rule: name upper-cased by the ASCII rule occurs in some upper-cased line.
bool nameOccursInLines(const std::vector<std::string>& lines, std::string_view name, int skipLine = -1);

// --- the file in the working directory --------------------------------------------

bool ProfileListExists();
// The names of the profile list in file order; empty when there is no file.
std::vector<std::string> LoadProfileList();
void AppendProfile(std::string_view name, std::string_view gameFolder, bool archived);
// The game folder of name's matching line; empty text when no line matches.
std::string LookupGameFolder(std::string_view name);
// True when name has a matching line.
bool ProfileHasLine(std::string_view name);
// True when the matching line's last character is anything but "0".
bool IsProfileArchived(std::string_view name);
// Rewrites the matching line with its flag set to archived or not.
void SetProfileArchived(std::string_view name, bool archived);
void RenameProfileLine(std::string_view oldName, std::string_view newName);
void DeleteProfileLine(const std::string& fileName, std::string_view name);
bool ProfileNameTaken(std::string_view name);

// Reads the lines of a profile list file (decoded as UTF-8, or Windows-1251 when it is
// not valid UTF-8). Throws ProfileError when it cannot be read.
std::vector<std::string> readListFile(const std::string& fileName);
// Replaces the file with the given lines atomically. Throws ProfileError when the file is
// read-only or cannot be written; the old file then stays as it was.
void writeListFile(const std::string& fileName, const std::vector<std::string>& lines);

} // namespace kestrane
