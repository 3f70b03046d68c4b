// The file and folder services on POSIX: attributes from the mode bits, the kernel's
// copy, renameat2 for renames that never replace and for exchanges, syncfs.
#include "platform/file_system.h"

#include "platform/digest.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::uint32_t attributesOf(const fs::path& p, const fs::file_status& st) {
    std::uint32_t attr = 0;
    if (fs::is_directory(st))
        attr |= kAttrDirectory;
    else
        attr |= kAttrArchive;
    if ((st.permissions() & fs::perms::owner_write) == fs::perms::none)
        attr |= kAttrReadOnly;
    const std::string name = pathText(p.filename());
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attr |= kAttrHidden;
    return attr;
}

} // namespace

std::optional<std::uint32_t> fileAttributes(const fs::path& p) {
    std::error_code ec;
    auto st = fs::status(p, ec);
    if (ec || !fs::exists(st)) {
        // A dangling link is still an entry of its folder: report it as a file.
        auto lst = fs::symlink_status(p, ec);
        if (ec || !fs::exists(lst))
            return std::nullopt;
        return attributesOf(p, lst);
    }
    return attributesOf(p, st);
}

std::error_code setFileAttributes(const fs::path& p, std::uint32_t attributes) {
    std::error_code ec;
    auto st = fs::status(p, ec);
    if (ec)
        return ec;
    constexpr auto kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (attributes & kAttrReadOnly)
        fs::permissions(p, kWrite, fs::perm_options::remove, ec);
    else if ((st.permissions() & fs::perms::owner_write) == fs::perms::none)
        fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
    return ec;
}

std::optional<std::uint32_t> filePermissions(const fs::path& p) {
    std::error_code ec;
    const auto st = fs::status(p, ec);
    if (ec || !fs::exists(st))
        return std::nullopt;
    return std::uint32_t(st.permissions() & fs::perms::all);
}

namespace {

// A descriptor that closes itself.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() {
        int d = fd;
        fd = -1;
        return d;
    }
};

constexpr std::size_t kCopyChunk = 256 * 1024;

// Copies the bytes of `in` to `out` chunk by chunk: the kernel's in-kernel copy (which
// clones on file systems that can), or read and write where that is not offered.
// Answers 0 or the errno of the failure.
int copyBytes(int in, int out, const std::function<void()>& onChunk) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t n;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(kCopyChunk);
            n = ::read(in, buffer.data(), buffer.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w = ::write(out, buffer.data() + done, std::size_t(n - done));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    return w < 0 ? errno : ENOSPC;
                done += w;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (onChunk)
            onChunk();
    }
}

} // namespace

std::error_code copyFile(const fs::path& from, const fs::path& to, const std::function<void()>& onChunk) {
    auto failure = [](int e) { return std::error_code(e, std::generic_category()); };
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return failure(errno);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0)
        return failure(errno);
    if (!S_ISREG(st.st_mode))
        return failure(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    // A read-only target is not replaced, as the Windows copy refuses it too.
    if (auto attr = fileAttributes(to); attr && (*attr & kAttrDirectory))
        return failure(EISDIR);
    else if (attr && (*attr & kAttrReadOnly))
        return failure(EACCES);
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.fd < 0)
        return failure(errno);
    int error = copyBytes(in.fd, out.fd, onChunk);
    // The copy keeps the source's permissions and last-write time.
    if (error == 0 && ::fchmod(out.fd, st.st_mode & 07777) != 0)
        error = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (error == 0 && ::futimens(out.fd, times) != 0)
        error = errno;
    if (::close(out.release()) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        // A truncated file must not pass for a copy.
        ::unlink(to.c_str());
        return failure(error);
    }
    return {};
}

bool sameFileName(std::string_view a, std::string_view b) { return a == b; }

bool isLink(const fs::path& p) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(p, ec));
}

std::error_code setModeAndTime(const fs::path& p, std::optional<std::uint32_t> mode, std::optional<std::time_t> time,
                               bool folder) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return {errno, std::generic_category()};
    int error = 0;
    if (time) {
        const timespec times[2] = {{0, UTIME_OMIT}, {*time, 0}};
        if (::futimens(fd, times) != 0)
            error = errno;
    }
    if (mode && ::fchmod(fd, mode_t(*mode & 07777)) != 0 && error == 0)
        error = errno;
    ::close(fd);
    return error == 0 ? std::error_code() : std::error_code(error, std::generic_category());
}

std::uint32_t newFileMode() {
    static const std::uint32_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return 0666u & ~std::uint32_t(mask);
    }();
    return mode;
}

std::optional<std::string> renamePath(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(from, ec)))
        return std::string(std::strerror(ENOENT));
    // The Windows rename never replaces an existing target.
    if (fs::exists(fs::symlink_status(to, ec)))
        return std::string(std::strerror(EEXIST));
    // RENAME_NOREPLACE closes the gap between the test above and the rename; file
    // systems that do not offer it get the plain rename.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    if (errno != EINVAL && errno != ENOSYS)
        return std::string(std::strerror(errno));
    fs::rename(from, to, ec);
    if (ec)
        return ec.message();
    return std::nullopt;
}

std::optional<std::string> exchangePaths(const fs::path& a, const fs::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0)
        return std::nullopt;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        return std::string(kExchangeUnsupported);
    return std::string(std::strerror(errno));
}

std::optional<std::string> makeFolderWritable(const fs::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return std::string(std::strerror(errno));
    if (!S_ISDIR(st.st_mode) || (st.st_mode & S_IRWXU) == S_IRWXU)
        return std::nullopt;
    if (::chmod(folder.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
        return std::string(std::strerror(errno));
    return std::nullopt;
}

std::optional<std::string> syncFileSystem(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string(std::strerror(errno));
    const int result = ::syncfs(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0)
        return std::string(std::strerror(error));
    return std::nullopt;
}

std::optional<FileIdentity> fileIdentity(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

namespace {

// The entries of one folder (not "." and ".."), sorted, so that the digest does not
// depend on the order the file system lists them in.
std::vector<std::string> entriesOf(int folder) {
    std::vector<std::string> names;
    const int fd = ::dup(folder);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void digestFolder(Digest& digest, int folder, const std::string& relative) {
    for (const std::string& name : entriesOf(folder)) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const std::string path = relative + name;
        digest.add(path);
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                digestFolder(digest, sub, path + "/");
                ::close(sub);
            }
        } else {
            digest.add(std::int64_t(st.st_size));
            digest.add(std::int64_t(st.st_mtim.tv_sec));
            digest.add(std::int64_t(st.st_mtim.tv_nsec));
        }
    }
}

} // namespace

std::optional<std::uint64_t> treeDigest(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Digest digest;
    digestFolder(digest, fd, "");
    ::close(fd);
    return digest.value;
}

} // namespace platform
