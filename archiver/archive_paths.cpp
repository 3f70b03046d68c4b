#include "archiver/archive_paths.h"

#include <vector>

#include "platform/file_system.h"

namespace archiver {
namespace {

bool isSep(char c) { return c == '/' || c == '\\'; }

// Whether a path written with '/' starts at a root: "/", or on Windows "C:/".
bool isRooted(std::string_view p) {
    const std::size_t drive = platform::driveLength(p);
    return p.size() > drive && p[drive] == '/';
}

// The current folder with a trailing '/'.
std::string currentFolder() {
    std::string cwd = slashed(platform::currentDirectory());
    if (cwd.empty() || cwd.back() != '/')
        cwd += '/';
    return cwd;
}

std::vector<std::string_view> splitSteps(std::string_view path) {
    std::vector<std::string_view> steps;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t j = path.find('/', i);
        const std::size_t end = j == std::string_view::npos ? path.size() : j;
        if (end > i)
            steps.push_back(path.substr(i, end - i));
        i = end + 1;
    }
    return steps;
}

} // namespace

std::string slashed(std::string_view path) {
    std::string s(path);
    for (char& c : s)
        if (c == '\\')
            c = '/';
    return s;
}

std::string fullPath(std::string_view path) {
    std::string p = slashed(path);
    const bool trailing = !p.empty() && p.back() == '/';
    if (!isRooted(p))
        p = currentFolder() + p;
    const std::size_t drive = platform::driveLength(p);
    std::vector<std::string_view> kept;
    for (std::string_view step : splitSteps(std::string_view(p).substr(drive))) {
        if (step == ".")
            continue;
        if (step == "..") {
            if (!kept.empty())
                kept.pop_back();
            continue;
        }
        kept.push_back(step);
    }
    std::string result = p.substr(0, drive);
    for (std::string_view step : kept) {
        result += '/';
        result += step;
    }
    if (result.size() == drive || trailing)
        result += '/';
    return result;
}

std::string resolvePath(std::string_view base, std::string_view name, std::string_view fallback) {
    std::string root = slashed(base.empty() ? fallback : base);
    const bool noRoot = root.empty();
    if (root.empty() || root.back() != '/')
        root += '/';
    const std::string n = slashed(name);
    if (n.size() >= 2 && n[0] == '/' && n[1] == '/')
        return n; // network path
    if (!n.empty())
        return isRooted(n) ? fullPath(n) : fullPath(root + n);
    if (!base.empty() && !platform::folderExists(platform::toPath(root)))
        return std::string(base);
    if (noRoot)
        return currentFolder();
    return fullPath(root);
}

std::string_view folderPart(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1);
}

std::string_view namePart(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string withoutTrailingSeparator(std::string path) {
    if (!path.empty() && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

ExpandedMask expandMask(std::string_view mask, std::string_view root, std::string_view operationBase) {
    const std::string m = slashed(mask);
    std::string basePath = resolvePath(root, {}, operationBase);
    if (basePath.empty() || basePath.back() != '/')
        basePath += '/';
    if (m == "/")
        return {resolvePath(root, {}, operationBase), false};
    // A leading '/' (or drive and '/') is an absolute path here (two of them a network
    // path): kept as written.
    if (isRooted(m))
        return {m, false};
    if (m.starts_with("./"))
        return {basePath + m.substr(2), false};
    if (m.find("../") != std::string::npos)
        return {m, false};
    return {basePath + m, true};
}

std::string storedName(std::string_view diskPath, std::string_view base, TZAStorePathMode mode,
                       std::string_view fallback) {
    std::string b = resolvePath(base, {}, fallback);
    if (b.empty() || b.back() != '/')
        b += '/';
    std::string p = resolvePath(b, diskPath, fallback);
    if (!p.empty() && p.back() == '/')
        p.pop_back();
    // Only a lone "." step goes: here a name may end in a dot ("a." and "a" are two files).
    if (!p.empty() && p.back() == '.' && (p.size() == 1 || isSep(p[p.size() - 2])))
        p.pop_back();

    switch (mode) {
    case spNoPath:
        p = std::string(namePart(p));
        break;
    case spRelativePath:
        // Below the base: the rest after it; elsewhere the full path stays.
        if (p.size() > b.size() && p.compare(0, b.size(), b) == 0)
            p.erase(0, b.size());
        break;
    case spFullPath:
        break;
    case spFullPathWithDrive:
        p = fullPath(p);
        break;
    }
    std::size_t start = 0;
    if (mode != spFullPathWithDrive) {
        start = platform::driveLength(p);
        // A network path loses its server name: start after "//" and the next separator.
        const std::size_t pair = p.find("//");
        if (pair != std::string::npos && pair + 1 < p.size() - 1) {
            const std::size_t next = p.find('/', pair + 2);
            start = next == std::string::npos ? p.size() : next;
        }
        if (start < p.size() && isSep(p[start]))
            ++start;
    }
    return slashed(std::string_view(p).substr(start));
}

std::optional<std::string> confinedEntryPath(std::string_view storedName) {
    const std::string n = slashed(storedName);
    if (!n.empty() && n.front() == '/')
        return std::nullopt;
    if (n.size() >= 2 && n[1] == ':')
        return std::nullopt; // drive letter
    std::string result;
    for (std::string_view step : splitSteps(n)) {
        if (step == ".")
            continue;
        if (step == ".." || !platform::keepsName(step))
            return std::nullopt;
        if (!result.empty())
            result += '/';
        result += step;
    }
    if (!result.empty() && n.back() == '/')
        result += '/';
    return result;
}

} // namespace archiver
