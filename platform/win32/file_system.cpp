// The file and folder services on Windows: the real attribute word, CopyFileExW,
// MoveFileExW (which never replaces unless asked), file identity by volume serial number
// and file index. Handles to folders need FILE_FLAG_BACKUP_SEMANTICS; links (reparse
// points) are opened themselves, never followed, with FILE_FLAG_OPEN_REPARSE_POINT.
#include "platform/file_system.h"

#include "platform/digest.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attribute bits the design's attribute word holds.
constexpr DWORD kWordBits = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
// Seconds from 1601-01-01 (FILETIME's start) to 1970-01-01.
constexpr std::int64_t kFileTimeToUnix = 11644473600;

std::string reason(int errorNumber) { return std::strerror(errorNumber); }
std::string lastReason() { return reason(win32::lastErrno()); }
std::error_code lastErrorCode() { return {win32::lastErrno(), std::generic_category()}; }

// A handle that closes itself.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

// The file or folder itself, never what a link there points to.
HANDLE openEntry(const fs::path& p, DWORD access) {
    return ::CreateFileW(p.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::optional<DWORD> rawAttributes(const fs::path& p) {
    const DWORD a = ::GetFileAttributesW(p.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return a;
}

DWORD withReadOnly(DWORD attributes, bool readOnly) {
    attributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

std::int64_t unixSeconds(const FILETIME& t) {
    const std::int64_t ticks = std::int64_t((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return ticks / 10'000'000 - kFileTimeToUnix;
}

} // namespace

std::optional<std::uint32_t> fileAttributes(const fs::path& p) {
    const auto a = rawAttributes(p);
    if (!a)
        return std::nullopt;
    return std::uint32_t(*a & kWordBits);
}

std::error_code setFileAttributes(const fs::path& p, std::uint32_t attributes) {
    const auto a = rawAttributes(p);
    if (!a)
        return lastErrorCode();
    constexpr DWORD kSettable = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
    DWORD next = (*a & ~kSettable & ~DWORD(FILE_ATTRIBUTE_DIRECTORY)) | (attributes & kSettable);
    if (!::SetFileAttributesW(p.c_str(), next == 0 ? FILE_ATTRIBUTE_NORMAL : next))
        return lastErrorCode();
    return {};
}

std::optional<std::uint32_t> filePermissions(const fs::path& p) {
    const auto a = rawAttributes(p);
    if (!a)
        return std::nullopt;
    if (*a & FILE_ATTRIBUTE_DIRECTORY)
        return 0777u;
    return (*a & FILE_ATTRIBUTE_READONLY) ? 0444u : 0666u;
}

std::error_code setModeAndTime(const fs::path& p, std::optional<std::uint32_t> mode, std::optional<std::time_t> time,
                               bool folder) {
    const Handle entry(openEntry(p, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    if (!entry.ok())
        return lastErrorCode();
    return win32::setModeAndTimeOf(entry.h, mode, time, folder);
}

std::error_code win32::setModeAndTimeOf(void* handle, std::optional<std::uint32_t> mode,
                                        std::optional<std::time_t> time, bool folder) {
    const HANDLE h = handle;
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return lastErrorCode();
    if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return std::make_error_code(std::errc::too_many_symbolic_link_levels); // as O_NOFOLLOW answers
    if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != (folder ? DWORD(FILE_ATTRIBUTE_DIRECTORY) : 0))
        return std::make_error_code(folder ? std::errc::not_a_directory : std::errc::is_a_directory);
    // Zero leaves a time as it is.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = time ? (LONGLONG(*time) + kFileTimeToUnix) * 10'000'000 : 0;
    if (mode && !folder)
        basic.FileAttributes = withReadOnly(basic.FileAttributes, (*mode & 0200) == 0);
    if (!::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic))
        return lastErrorCode();
    return {};
}

std::uint32_t newFileMode() { return 0666; }

bool sameFileName(std::string_view a, std::string_view b) {
    auto trimmed = [](std::string_view name) {
        const std::size_t end = name.find_last_not_of(". ");
        return end == std::string_view::npos ? std::string_view() : name.substr(0, end + 1);
    };
    auto folded = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; };
    a = trimmed(a);
    b = trimmed(b);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return folded(x) == folded(y); });
}

bool isLink(const fs::path& p) {
    const auto a = rawAttributes(p);
    return a && (*a & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {

// CopyFileExW calls this after every chunk it copied.
DWORD CALLBACK copyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                            LPVOID onChunk) {
    const auto& chunk = *static_cast<const std::function<void()>*>(onChunk);
    if (chunk)
        chunk();
    return PROGRESS_CONTINUE;
}

} // namespace

std::error_code copyFile(const fs::path& from, const fs::path& to, const std::function<void()>& onChunk) {
    auto failure = [](int e) { return std::error_code(e, std::generic_category()); };
    const auto source = rawAttributes(from);
    if (!source)
        return lastErrorCode();
    if (*source & FILE_ATTRIBUTE_DIRECTORY)
        return failure(EISDIR);
    // A read-only target is not replaced; CopyFileExW refuses it too, with a vaguer reason.
    if (auto attr = fileAttributes(to); attr && (*attr & kAttrDirectory))
        return failure(EISDIR);
    else if (attr && (*attr & kAttrReadOnly))
        return failure(EACCES);
    // CopyFileExW keeps the last-write time and the attributes (read-only among them).
    auto chunk = onChunk;
    if (!::CopyFileExW(from.c_str(), to.c_str(), copyProgress, &chunk, nullptr, 0)) {
        const std::error_code error = lastErrorCode();
        ::DeleteFileW(to.c_str()); // a truncated file must not pass for a copy
        return error;
    }
    return {};
}

std::optional<std::string> renamePath(const fs::path& from, const fs::path& to) {
    if (!rawAttributes(from))
        return reason(ENOENT);
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return lastReason();
    return std::nullopt;
}

std::optional<std::string> exchangePaths(const fs::path&, const fs::path&) { return std::string(kExchangeUnsupported); }

std::optional<std::string> makeFolderWritable(const fs::path& folder) {
    const auto a = rawAttributes(folder);
    if (!a)
        return lastReason();
    if (!(*a & FILE_ATTRIBUTE_DIRECTORY) || (*a & FILE_ATTRIBUTE_REPARSE_POINT) || !(*a & FILE_ATTRIBUTE_READONLY))
        return std::nullopt;
    if (!::SetFileAttributesW(folder.c_str(), withReadOnly(*a, false)))
        return lastReason();
    return std::nullopt;
}

namespace {

// Flushes every file at or below `p` that can be opened for writing (read-only files
// cannot be, and keep what the system wrote of them). Answers the first failed flush.
std::optional<std::string> flushTree(const fs::path& p) {
    const auto a = rawAttributes(p);
    if (!a)
        return lastReason();
    if (*a & FILE_ATTRIBUTE_REPARSE_POINT)
        return std::nullopt;
    if (*a & FILE_ATTRIBUTE_DIRECTORY) {
        std::error_code ec;
        for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
            if (auto error = flushTree(it->path()))
                return error;
        return std::nullopt;
    }
    const Handle file(::CreateFileW(p.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.ok() && !::FlushFileBuffers(file.h))
        return lastReason();
    return std::nullopt;
}

} // namespace

std::optional<std::string> syncFileSystem(const fs::path& p) {
    // The whole volume at once where the process may (an administrator), else file by file.
    wchar_t volume[MAX_PATH + 1] = {};
    const fs::path absolute = fs::absolute(p);
    if (::GetVolumePathNameW(absolute.c_str(), volume, MAX_PATH)) {
        std::wstring device = L"\\\\.\\" + std::wstring(volume);
        if (!device.empty() && device.back() == L'\\')
            device.pop_back();
        const Handle whole(::CreateFileW(device.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        if (whole.ok() && ::FlushFileBuffers(whole.h))
            return std::nullopt;
    }
    return flushTree(p);
}

std::optional<FileIdentity> fileIdentity(const fs::path& p) {
    const Handle entry(openEntry(p, 0));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!entry.ok() || !::GetFileInformationByHandle(entry.h, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

namespace {

void digestFolder(Digest& digest, const fs::path& folder, const std::string& relative) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(pathText(it->path().filename()));
    std::sort(names.begin(), names.end()); // the same digest whatever order the listing has
    for (const std::string& name : names) {
        const fs::path p = folder / toPath(name);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data))
            continue;
        const std::string path = relative + name;
        digest.add(path);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                digestFolder(digest, p, path + "/");
        } else {
            digest.add(std::int64_t((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow));
            digest.add(unixSeconds(data.ftLastWriteTime));
            digest.add(std::int64_t(
                ((std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime) %
                10'000'000 * 100)); // nanoseconds, as POSIX adds them
        }
    }
}

} // namespace

std::optional<std::uint64_t> treeDigest(const fs::path& folder) {
    const auto a = rawAttributes(folder);
    if (!a || !(*a & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    Digest digest;
    digestFolder(digest, folder, "");
    return digest.value;
}

} // namespace platform
