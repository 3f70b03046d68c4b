// Files over POSIX descriptors.
#include "platform/file_stream.h"

#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const char* operation) {
    int e = errno;
    throw FileError(e, path, std::string(operation) + " \"" + pathText(path) + "\": " + std::strerror(e));
}

int openOrThrow(const std::filesystem::path& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        fail(path, "Cannot open");
    return fd;
}

} // namespace

// ---- File ----

File File::openRead(const std::filesystem::path& path) { return File(openOrThrow(path, O_RDONLY), path); }

File File::openReadWrite(const std::filesystem::path& path) { return File(openOrThrow(path, O_RDWR), path); }

File File::create(const std::filesystem::path& path) {
    return File(openOrThrow(path, O_RDWR | O_CREAT | O_TRUNC), path);
}

File File::openOrCreate(const std::filesystem::path& path) { return File(openOrThrow(path, O_RDWR | O_CREAT), path); }

void File::close() {
    if (m_handle != kClosed) {
        ::close(int(m_handle));
        m_handle = kClosed;
    }
}

// Reads until `count` bytes are in or the data ends; `once(at, n, done)` is one system call.
template <class Once>
std::size_t readFully(const std::filesystem::path& path, void* buffer, std::size_t count, Once once) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = once(out + done, count - done, done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(path, "Cannot read");
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

std::size_t File::read(void* buffer, std::size_t count) {
    return readFully(m_path, buffer, count,
                     [this](char* at, std::size_t n, std::size_t) { return ::read(int(m_handle), at, n); });
}

std::size_t File::write(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(int(m_handle), in + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            break;
        }
        if (n == 0) {
            m_lastError = ENOSPC;
            break;
        }
        done += std::size_t(n);
    }
    return done;
}

std::size_t File::pread(std::uint64_t position, void* buffer, std::size_t count) const {
    return readFully(m_path, buffer, count, [this, position](char* at, std::size_t n, std::size_t done) {
        return ::pread(int(m_handle), at, n, off_t(position + done));
    });
}

void File::seek(std::uint64_t position) {
    if (position > std::uint64_t(INT64_MAX) || ::lseek(int(m_handle), off_t(position), SEEK_SET) < 0) {
        if (position > std::uint64_t(INT64_MAX))
            errno = EINVAL;
        fail(m_path, "Cannot seek in");
    }
}

std::uint64_t File::tell() const {
    off_t p = ::lseek(int(m_handle), 0, SEEK_CUR);
    if (p < 0)
        fail(m_path, "Cannot get the position in");
    return std::uint64_t(p);
}

std::uint64_t File::size() const {
    struct stat st {};
    if (::fstat(int(m_handle), &st) != 0)
        fail(m_path, "Cannot get the size of");
    return std::uint64_t(st.st_size);
}

void File::truncate(std::uint64_t length) {
    if (::ftruncate(int(m_handle), off_t(length)) != 0)
        fail(m_path, "Cannot truncate");
}

void File::flush() {
    if (::fsync(int(m_handle)) != 0)
        fail(m_path, "Cannot flush");
}

std::error_code File::setModeAndTime(std::optional<std::uint32_t> mode, std::optional<std::time_t> time) {
    int error = 0;
    if (time) {
        const timespec times[2] = {{0, UTIME_OMIT}, {*time, 0}};
        if (::futimens(int(m_handle), times) != 0)
            error = errno;
    }
    if (mode && ::fchmod(int(m_handle), mode_t(*mode & 07777)) != 0 && error == 0)
        error = errno;
    return error == 0 ? std::error_code() : std::error_code(error, std::generic_category());
}

// ---- TempFile ----

TempFile::TempFile(const std::filesystem::path& folder, const std::string& prefix) : m_file(File::kClosed, {}) {
    std::string pattern = pathText(folder / toPath(prefix + "XXXXXX"));
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        fail(toPath(pattern), "Cannot create temporary file");
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_file = File(fd, toPath(pattern));
}

TempFile TempFile::named(const std::filesystem::path& file) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT)
        fail(file, "Cannot create temporary file");
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(file, "Cannot create temporary file");
    return TempFile(File(fd, file));
}

TempFile::~TempFile() {
    if (m_file.path().empty() || m_keep)
        return;
    m_file.close();
    ::unlink(m_file.path().c_str());
}

void TempFile::commit(const std::filesystem::path& target) {
    // Data first, then the name: after a crash the target is the old file or the whole
    // new one, never a new name over missing data.
    m_file.flush();
    m_file.close();
    if (::rename(m_file.path().c_str(), target.c_str()) != 0)
        fail(target, "Cannot replace");
    m_keep = true;
    syncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
}

void TempFile::keepPermissionsOf(const std::filesystem::path& target, unsigned defaultMode) {
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : mode_t(defaultMode);
    if (::fchmod(int(m_file.m_handle), mode) != 0)
        fail(m_file.path(), "Cannot set permissions of");
}

void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // best effort: the rename itself has happened
    ::fsync(fd);
    ::close(fd);
}

std::filesystem::path temporaryFolder() {
    std::error_code ec;
    auto p = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path("/tmp") : p;
}

} // namespace platform
