#include "app/profile_list.h"

#include "platform/encoding.h"
#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrane {
namespace {

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

std::string systemError(const std::string& what, const std::string& fileName, int err) {
    return what + " " + fileName + ": " + std::strerror(err);
}

// Writes the whole text to fd; false on any short or failed write.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(std::size_t(n));
    }
    return true;
}

} // namespace

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string displayName(std::string_view line) {
    auto chars = platform::decodeUtf8(line).value_or(std::u32string());
    if (chars.size() > kDisplayLimit)
        chars.resize(kDisplayLimit);
    if (auto tab = chars.find(U'\t'); tab != std::u32string::npos)
        chars.resize(tab);
    return platform::encodeUtf8(chars);
}

std::string profileLine(std::string_view name, std::string_view gameFolder, bool archived) {
    std::string line(name);
    line += '\t';
    line += gameFolder;
    line += '\t';
    line += archived ? '1' : '0';
    return line;
}

int matchingLine(const std::vector<std::string>& lines, std::string_view name) {
    if (name.empty())
        return -1;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(name) != std::string::npos)
            return int(i);
    return -1;
}

std::string gameFolderOfLine(std::string_view line, std::string_view name) {
    // The name and its TAB in front, the TAB and the flag at the end.
    if (line.size() < name.size() + 1)
        return {};
    std::string_view rest = line.substr(name.size() + 1);
    rest = rest.size() >= 2 ? rest.substr(0, rest.size() - 2) : std::string_view();
    if (!rest.empty() && (rest.back() == '\\' || rest.back() == '/'))
        rest.remove_suffix(1);
    return std::string(rest);
}

bool nameOccursInLines(const std::vector<std::string>& lines, std::string_view name, int skipLine) {
    const std::string upperName = upperAscii(name);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (int(i) != skipLine && upperAscii(lines[i]).find(upperName) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> readListFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw ProfileError(systemError("Cannot open", fileName, errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ProfileError(systemError("Cannot read", fileName, errno));
    return splitLines(platform::textFileToUtf8(bytes));
}

void writeListFile(const std::string& fileName, const std::vector<std::string>& lines) {
    namespace fs = std::filesystem;
    const fs::path target = platform::toPath(fileName);
    if (auto attr = platform::fileAttributes(target); attr && (*attr & platform::kAttrReadOnly))
        throw ProfileError(systemError("Cannot write", fileName, EACCES));

    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string tempName = (folder / (target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tempName.data());
    if (fd < 0)
        throw ProfileError(systemError("Cannot write", fileName, errno));

    // Keep the permissions of the file being replaced (a new file gets the usual ones).
    struct stat st {};
    mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : mode_t(0644);
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, joinLines(lines)) && ::fsync(fd) == 0;
    int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tempName.c_str(), target.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tempName.c_str());
        throw ProfileError(systemError("Cannot write", fileName, err));
    }
    // Make the rename itself durable.
    if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool ProfileListExists() {
    std::ifstream in(kProfileListFile, std::ios::binary);
    return bool(in);
}

std::vector<std::string> LoadProfileList() {
    std::vector<std::string> names;
    if (!ProfileListExists())
        return names;
    for (const auto& line : readListFile(kProfileListFile))
        names.push_back(displayName(line));
    return names;
}

void AppendProfile(std::string_view name, std::string_view gameFolder, bool archived) {
    // A list that exists but cannot be read fails here: starting a new one would
    // replace every profile's line by the new line alone.
    std::vector<std::string> lines;
    if (platform::fileExists(platform::toPath(kProfileListFile)))
        lines = readListFile(kProfileListFile);
    lines.push_back(profileLine(name, gameFolder, archived));
    writeListFile(kProfileListFile, lines);
}

std::string LookupGameFolder(std::string_view name) {
    const auto lines = readListFile(kProfileListFile);
    int i = matchingLine(lines, name);
    return i < 0 ? std::string() : gameFolderOfLine(lines[std::size_t(i)], name);
}

bool ProfileHasLine(std::string_view name) {
    return ProfileListExists() && matchingLine(readListFile(kProfileListFile), name) >= 0;
}

bool IsProfileArchived(std::string_view name) {
    const auto lines = readListFile(kProfileListFile);
    int i = matchingLine(lines, name);
    if (i < 0)
        return false;
    const std::string& line = lines[std::size_t(i)];
    return !line.empty() && line.back() != '0';
}

void SetProfileArchived(std::string_view name, bool archived) {
    auto lines = readListFile(kProfileListFile);
    int i = matchingLine(lines, name);
    if (i < 0)
        return;
    std::string& line = lines[std::size_t(i)];
    if (!line.empty())
        line.back() = archived ? '1' : '0';
    writeListFile(kProfileListFile, lines);
}

void RenameProfileLine(std::string_view oldName, std::string_view newName) {
    auto lines = readListFile(kProfileListFile);
    int i = matchingLine(lines, oldName);
    if (i >= 0)
        lines[std::size_t(i)].replace(0, oldName.size(), newName);
    writeListFile(kProfileListFile, lines);
}

void DeleteProfileLine(const std::string& fileName, std::string_view name) {
    auto lines = readListFile(fileName);
    int i = matchingLine(lines, name);
    if (i >= 0)
        lines.erase(lines.begin() + i);
    writeListFile(fileName, lines);
}

bool ProfileNameTaken(std::string_view name) {
    if (!ProfileListExists())
        return false;
    return nameOccursInLines(readListFile(kProfileListFile), name);
}

} // namespace kestrane
