// FolderHandle on Windows: the folder's path, each name joined to it. The documented
// Win32 calls take whole paths; opening relative to a handle is only offered by the
// native API (NtCreateFile with a root directory), which the program does not use.
#include "platform/folder_handle.h"

#include "platform/win32/wide.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Seconds from 1601-01-01 (FILETIME's start) to 1970-01-01.
constexpr std::int64_t kFileTimeToUnix = 11644473600;

} // namespace

FolderHandle::FolderHandle(const std::filesystem::path& folder) : m_path(folder) {
    const DWORD a = ::GetFileAttributesW(folder.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
        const int e = a == INVALID_FILE_ATTRIBUTES ? win32::lastErrno() : ENOTDIR;
        throw FileError(e, folder, "Cannot open \"" + pathText(folder) + "\": " + std::strerror(e));
    }
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : m_path(std::move(other.m_path)), m_handle(-1) {}

FolderHandle::~FolderHandle() = default;

std::optional<EntryStatus> FolderHandle::entryStatus(std::string_view name) const {
    const std::filesystem::path p = m_path / toPath(name);
    const HANDLE h = ::CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A dangling link is still an entry of its folder.
        const auto attributes = fileAttributes(p);
        if (!attributes)
            return std::nullopt;
        return EntryStatus{*attributes, fileIdentity(p).value_or(FileIdentity{}), 0};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool got = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!got)
        return std::nullopt;
    const std::int64_t ticks =
        std::int64_t((std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
    return EntryStatus{std::uint32_t(info.dwFileAttributes &
                                     (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive)),
                       {info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow},
                       std::time_t(ticks / 10'000'000 - kFileTimeToUnix)};
}

TempFile FolderHandle::createTemporary(const std::string& prefix) const { return TempFile(m_path, prefix); }

std::error_code FolderHandle::renameTo(std::string_view from, const FolderHandle& target, std::string_view to) const {
    const std::filesystem::path source = m_path / toPath(from);
    const std::filesystem::path destination = target.m_path / toPath(to);
    if (!::MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
        return {win32::lastErrno(), std::generic_category()};
    return {};
}

} // namespace platform
