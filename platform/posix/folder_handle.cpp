// FolderHandle over a descriptor of the folder: openat, fstatat and renameat name files
// relative to it.
#include "platform/folder_handle.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

namespace platform {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const char* operation) {
    const int e = errno;
    throw FileError(e, path, std::string(operation) + " \"" + pathText(path) + "\": " + std::strerror(e));
}

std::uint32_t attributesOf(const struct stat& st, std::string_view name) {
    std::uint32_t attr = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if ((st.st_mode & S_IWUSR) == 0)
        attr |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attr |= kAttrHidden;
    return attr;
}

} // namespace

FolderHandle::FolderHandle(const std::filesystem::path& folder) : m_path(folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail(folder, "Cannot open");
    m_handle = fd;
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : m_path(std::move(other.m_path)), m_handle(other.m_handle) {
    other.m_handle = -1;
}

FolderHandle::~FolderHandle() {
    if (m_handle >= 0)
        ::close(int(m_handle));
}

std::optional<EntryStatus> FolderHandle::entryStatus(std::string_view name) const {
    const std::string n(name);
    struct stat st {};
    if (::fstatat(int(m_handle), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    // A link is taken for what it leads to; a dangling one is still an entry of its folder.
    struct stat target {};
    if (S_ISLNK(st.st_mode) && ::fstatat(int(m_handle), n.c_str(), &target, 0) == 0)
        st = target;
    return EntryStatus{attributesOf(st, name), {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)}, st.st_mtim.tv_sec};
}

TempFile FolderHandle::createTemporary(const std::string& prefix) const {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, int(sizeof kLetters) - 2);
    for (;;) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick(random)];
        const int fd = ::openat(int(m_handle), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return TempFile(File(fd, m_path / toPath(name)));
        if (errno != EEXIST)
            fail(m_path / toPath(name), "Cannot create temporary file");
    }
}

std::error_code FolderHandle::renameTo(std::string_view from, const FolderHandle& target, std::string_view to) const {
    if (::renameat(int(m_handle), std::string(from).c_str(), int(target.m_handle), std::string(to).c_str()) != 0)
        return {errno, std::generic_category()};
    return {};
}

} // namespace platform
