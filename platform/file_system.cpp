// The file and folder services that std::filesystem provides alike on every system; the
// calls that differ are in posix/file_system.cpp and win32/file_system.cpp.
#include "platform/file_system.h"

#include "platform/encoding.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

// Attributes that keep an entry out of a listing unless the mask names them.
constexpr std::uint32_t kSpecialAttributes = kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory;

// '*' and '?' over characters (not bytes), letter case folded.
bool matchChars(std::u32string_view pat, std::u32string_view name) {
    std::size_t p = 0, n = 0, starP = std::u32string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == U'?' || foldCase(pat[p]) == foldCase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pat.size() && pat[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u32string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == U'*')
        ++p;
    return p == pat.size();
}

} // namespace

fs::path toPath(std::string_view text) {
    std::u8string s(text.begin(), text.end());
#ifndef _WIN32
    for (char8_t& c : s)
        if (c == u8'\\')
            c = u8'/';
#endif
    return fs::path(s);
}

std::string pathText(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string shownPath(std::string_view text) {
    std::string s(text);
#ifdef _WIN32
    std::replace(s.begin(), s.end(), '/', '\\');
#endif
    return s;
}

bool keepsName(std::string_view name) {
#ifdef _WIN32
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            return false;
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return false;
    return !(stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
             stem[3] <= '9');
#else
    (void)name;
    return true;
#endif
}

std::size_t driveLength(std::string_view path) {
#ifdef _WIN32
    const bool letter = !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return letter && path.size() >= 2 && path[1] == ':' ? 2 : 0;
#else
    (void)path;
    return 0;
#endif
}

bool wildcardMatchesName(std::string_view pattern, std::string_view name) {
    const std::u32string pat = codePointsOf(pattern), nm = codePointsOf(name);
    if (pat == U"*.*" || pat == U"*")
        return true;
    if (matchChars(pat, nm))
        return true;
    // "name.*" also matches "name" without an extension, as on Windows.
    if (pat.size() >= 2 && pat.ends_with(U".*") && nm.find(U'.') == std::u32string::npos)
        return matchChars(std::u32string_view(pat).substr(0, pat.size() - 2), nm);
    return false;
}

std::vector<FolderEntry> listFolder(std::string_view pattern, std::uint32_t mask) {
    const fs::path full = toPath(pattern);
    const std::string wildcard = pathText(full.filename());
    fs::path folder = full.parent_path();
    if (folder.empty())
        folder = ".";

    std::vector<FolderEntry> entries;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return entries;

    auto admit = [&](const std::string& name, const fs::path& p) {
        auto attr = fileAttributes(p);
        if (!attr || (*attr & kSpecialAttributes & ~mask) != 0 || !wildcardMatchesName(wildcard, name))
            return;
        FolderEntry e{name, *attr, 0, {}, false};
        e.symlink = isLink(p);
        std::error_code ec2;
        if (!(*attr & kAttrDirectory)) {
            auto size = fs::file_size(p, ec2);
            e.size = ec2 ? 0 : size;
        }
        auto t = fs::last_write_time(p, ec2);
        if (!ec2)
            e.lastWrite = t;
        entries.push_back(std::move(e));
    };
    admit(".", folder / ".");
    admit("..", folder / "..");
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        admit(pathText(it->path().filename()), it->path());
    return entries;
}

bool isWithinFolder(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    if (ec)
        return false;
    const fs::path b = fs::weakly_canonical(outer, ec);
    if (ec)
        return false;
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty())
            continue; // the empty last step of a folder path
        if (ai == a.end() || *ai != *bi)
            return false;
    }
    return true;
}

bool folderExists(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool fileExists(const fs::path& p) {
    std::error_code ec;
    auto st = fs::status(p, ec);
    return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool foldsCase(const fs::path& p) {
    std::error_code ec;
    fs::path absolute = fs::absolute(p, ec);
    if (ec)
        return false;
    // Walk up from the last name until one has a letter whose case can be swapped.
    for (fs::path at = absolute; at.has_relative_path(); at = at.parent_path()) {
        std::string name = pathText(at.filename());
        bool changed = false;
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') {
                c = char(c - 'a' + 'A');
                changed = true;
            } else if (c >= 'A' && c <= 'Z') {
                c = char(c - 'A' + 'a');
                changed = true;
            }
        }
        if (!changed)
            continue;
        const fs::path swapped = at.parent_path() / toPath(name);
        return fs::exists(swapped, ec) && fs::equivalent(swapped, at, ec) && !ec;
    }
    return false;
}

std::error_code deleteFile(const fs::path& p) {
    std::error_code ec;
    const auto st = fs::symlink_status(p, ec);
    if (ec)
        return ec;
    if (!fs::exists(st))
        return std::make_error_code(std::errc::no_such_file_or_directory);
    if (fs::is_directory(st))
        return std::make_error_code(std::errc::is_a_directory);
    fs::remove(p, ec);
    return ec;
}

std::error_code createFolders(const fs::path& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
    const std::error_code made = ec;
    if (fs::is_directory(p, ec))
        return {};
    return made ? made : std::make_error_code(std::errc::not_a_directory);
}

std::string currentDirectory() {
    std::error_code ec;
    auto p = fs::current_path(ec);
    return ec ? std::string(".") : pathText(p);
}

} // namespace platform
