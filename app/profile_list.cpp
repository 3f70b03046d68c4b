#include "app/profile_list.h"

#include "platform/encoding.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"

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

std::optional<ProfileFields> parseProfileLine(std::string_view line) {
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
    if (second == std::string_view::npos || line.find('\t', second + 1) != std::string_view::npos)
        return std::nullopt;
    const std::string_view flag = line.substr(second + 1);
    if (first == 0 || second == first + 1 || (flag != "0" && flag != "1"))
        return std::nullopt;
    ProfileFields fields{std::string(line.substr(0, first)), {}, flag == "1"};
    fields.gameFolder = gameFolderOfLine(line, fields.name);
    if (fields.gameFolder.empty())
        return std::nullopt; // a folder of one separator would name the root
    return fields;
}

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
}

ProfileListText ProfileListText::parse(std::string_view bytes) {
    ProfileListText list;
    if (bytes.starts_with(kByteOrderMark)) {
        list.byteOrderMark = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    for (auto& line : splitLines(bytes)) {
        std::string text = platform::textFileToUtf8(line);
        list.lines.push_back({std::move(line), std::move(text)});
    }
    return list;
}

std::string ProfileListText::bytes() const {
    std::string out = byteOrderMark ? std::string(kByteOrderMark) : std::string();
    for (const auto& line : lines) {
        out += line.bytes;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> ProfileListText::texts() const {
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(line.text);
    return out;
}

int ProfileListText::matching(std::string_view name) const { return matchingLine(texts(), name); }

bool ProfileListText::hasProfile(std::string_view name) const {
    for (const auto& line : lines)
        if (auto fields = parseProfileLine(line.text); fields && fields->name == name)
            return true;
    return false;
}

ProfileListText readListFile(const std::string& fileName) {
    if (!platform::fileExists(platform::toPath(fileName)) && !platform::folderExists(platform::toPath(fileName)))
        return {};
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw ProfileError(systemError("Cannot open", fileName, errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ProfileError(systemError("Cannot read", fileName, errno));
    return ProfileListText::parse(bytes);
}

void requireListWritable(const std::string& fileName) {
    if (auto attr = platform::fileAttributes(platform::toPath(fileName)); attr && (*attr & platform::kAttrReadOnly))
        throw ProfileError(systemError("Cannot write", fileName, EACCES));
}

void writeListFile(const std::string& fileName, const ProfileListText& list) {
    const std::filesystem::path target = platform::toPath(fileName);
    requireListWritable(fileName);
    try {
        platform::TempFile temp = platform::TempFile::named(platform::toPath(listDraftPath(fileName)));
        temp.keepPermissionsOf(target);
        const std::string bytes = list.bytes();
        if (temp.file().write(bytes.data(), bytes.size()) != bytes.size())
            throw ProfileError(systemError("Cannot write", fileName, temp.file().lastError()));
        temp.commit(target);
    } catch (const platform::FileError& e) {
        throw ProfileError(systemError("Cannot write", fileName, e.errorNumber()));
    }
}

std::string listDraftPath(const std::string& fileName) { return fileName + ".kestrane-new"; }

bool ProfileListExists() {
    std::error_code ec;
    return std::filesystem::exists(platform::toPath(kProfileListFile), ec);
}

std::vector<std::string> LoadProfileList() {
    std::vector<std::string> names;
    for (const auto& line : readListFile().lines)
        names.push_back(displayName(line.text));
    return names;
}

void AppendProfile(std::string_view name, std::string_view gameFolder, bool archived) {
    // A list that exists but cannot be read fails here: starting a new one would
    // replace every profile's line by the new line alone.
    auto list = readListFile();
    list.append(profileLine(name, gameFolder, archived));
    writeListFile(kProfileListFile, list);
}

std::string LookupGameFolder(std::string_view name) {
    const auto lines = readListFile().texts();
    int i = matchingLine(lines, name);
    return i < 0 ? std::string() : gameFolderOfLine(lines[std::size_t(i)], name);
}

bool IsProfileArchived(std::string_view name) {
    const auto lines = readListFile().texts();
    int i = matchingLine(lines, name);
    if (i < 0)
        return false;
    const std::string& line = lines[std::size_t(i)];
    return !line.empty() && line.back() != '0';
}

void RenameProfileLine(std::string_view oldName, std::string_view newName) {
    auto list = readListFile();
    int i = list.matching(oldName);
    if (i >= 0)
        list.replace(std::size_t(i), std::string(newName) + list.lines[std::size_t(i)].text.substr(oldName.size()));
    writeListFile(kProfileListFile, list);
}

void DeleteProfileLine(const std::string& fileName, std::string_view name) {
    auto list = readListFile(fileName);
    int i = list.matching(name);
    if (i >= 0)
        list.erase(std::size_t(i));
    writeListFile(fileName, list);
}

bool ProfileNameTaken(std::string_view name) { return nameOccursInLines(readListFile().texts(), name); }

} // namespace kestrane
