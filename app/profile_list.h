// The profile list file `options.ini` in the working directory: one line per server
// profile, "name TAB game folder TAB flag" with CR LF, flag "1" for an archived profile.
//
// Every lookup by name works on the matching line: the first line, from the top, that
// contains the name anywhere (letter case significant). Each line is decoded on its own
// (UTF-8 when valid, else Windows-1251), and a rewrite stores every line it did not
// change byte for byte. Every operation reads the file afresh; every rewrite is atomic
// (a file beside it, flushed and renamed over it). Input/output failures throw
// ProfileError, whose text the top-level handler shows.
#pragma once

#include <optional>
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

// The fields of a well-formed line: exactly name TAB game folder TAB flag, the name and
// the folder not empty, the flag "0" or "1". The game folder loses one trailing separator.
struct ProfileFields {
    std::string name;
    std::string gameFolder;
    bool archived = false;
};
std::optional<ProfileFields> parseProfileLine(std::string_view line);

// The file as read: each line's bytes as stored and its decoded text. Lines added or
// changed are stored as their UTF-8 text; the others keep their bytes.
struct ProfileListText {
    struct Line {
        std::string bytes;
        std::string text;
    };
    bool byteOrderMark = false; // kept in front on a rewrite
    std::vector<Line> lines;

    static ProfileListText parse(std::string_view bytes);
    std::string bytes() const;
    std::vector<std::string> texts() const;

    // The matching line for name, or -1.
    int matching(std::string_view name) const;
    // Whether a well-formed line holds exactly this name.
    bool hasProfile(std::string_view name) const;
    void append(std::string text) { lines.push_back({text, text}); }
    void replace(std::size_t index, std::string text) { lines[index] = {text, text}; }
    void erase(std::size_t index) { lines.erase(lines.begin() + std::ptrdiff_t(index)); }
};

// --- the file in the working directory --------------------------------------------

// Whether options.ini exists (a file that exists but cannot be read is an error of the
// operation that reads it, not an empty list).
bool ProfileListExists();
// The names of the profile list in file order; empty when there is no file.
std::vector<std::string> LoadProfileList();
void AppendProfile(std::string_view name, std::string_view gameFolder, bool archived);
// The game folder of name's matching line; empty text when no line matches.
std::string LookupGameFolder(std::string_view name);
// True when the matching line's last character is anything but "0".
bool IsProfileArchived(std::string_view name);
void RenameProfileLine(std::string_view oldName, std::string_view newName);
void DeleteProfileLine(const std::string& fileName, std::string_view name);
bool ProfileNameTaken(std::string_view name);

// Reads a profile list file; a missing file reads as empty. Throws ProfileError when it
// exists but cannot be read.
ProfileListText readListFile(const std::string& fileName = kProfileListFile);
// Throws ProfileError when the file exists but is read-only: every change of it is refused.
void requireListWritable(const std::string& fileName);
// The one name a rewrite writes the new file under before it replaces the old one; a
// killed rewrite leaves only this name, which the next action removes.
std::string listDraftPath(const std::string& fileName = kProfileListFile);
// Replaces the file atomically. Throws ProfileError when the file is read-only or
// cannot be written; the old file then stays as it was.
void writeListFile(const std::string& fileName, const ProfileListText& list);

} // namespace kestrane
