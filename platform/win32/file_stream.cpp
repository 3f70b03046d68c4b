// Files over Win32 handles. Every file is opened with all three sharing modes, as a
// POSIX descriptor shares, so that another reader, a writer or a rename of a folder
// above it is not refused because Kestrane holds the file open. Reads and writes name
// their offset (OVERLAPPED on a synchronous handle): the stream keeps its own position,
// and pread never moves it.
#include "platform/file_stream.h"

#include "platform/file_system.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The most one ReadFile or WriteFile call moves.
constexpr std::size_t kMaxTransfer = 1u << 30;

[[noreturn]] void fail(const std::filesystem::path& path, const char* operation, DWORD error = ::GetLastError()) {
    const int e = win32::errnoFromWin32(error);
    throw FileError(e, path, std::string(operation) + " \"" + pathText(path) + "\": " + std::strerror(e));
}

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::intptr_t openOrThrow(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    const HANDLE h =
        ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        fail(path, "Cannot open");
    return reinterpret_cast<std::intptr_t>(h);
}

OVERLAPPED at(std::uint64_t position) {
    OVERLAPPED o{};
    o.Offset = DWORD(position);
    o.OffsetHigh = DWORD(position >> 32);
    return o;
}

// Reads from `position` until `count` bytes are in or the data ends.
std::size_t readAtOffset(HANDLE h, const std::filesystem::path& path, std::uint64_t position, void* buffer,
                         std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED o = at(position + done);
        DWORD n = 0;
        if (!::ReadFile(h, out + done, DWORD(std::min(count - done, kMaxTransfer)), &n, &o)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            fail(path, "Cannot read");
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

// ---- File ----

File File::openRead(const std::filesystem::path& path) {
    return File(openOrThrow(path, GENERIC_READ, OPEN_EXISTING), path);
}

File File::openReadWrite(const std::filesystem::path& path) {
    return File(openOrThrow(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING), path);
}

File File::create(const std::filesystem::path& path) {
    return File(openOrThrow(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS), path);
}

File File::openOrCreate(const std::filesystem::path& path) {
    return File(openOrThrow(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS), path);
}

void File::close() {
    if (m_handle != kClosed) {
        ::CloseHandle(handleOf(m_handle));
        m_handle = kClosed;
    }
}

std::size_t File::read(void* buffer, std::size_t count) {
    const std::size_t n = readAtOffset(handleOf(m_handle), m_path, m_position, buffer, count);
    m_position += n;
    return n;
}

std::size_t File::write(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED o = at(m_position);
        DWORD n = 0;
        if (!::WriteFile(handleOf(m_handle), in + done, DWORD(std::min(count - done, kMaxTransfer)), &n, &o)) {
            m_lastError = win32::lastErrno();
            break;
        }
        if (n == 0) {
            m_lastError = ENOSPC;
            break;
        }
        done += n;
        m_position += n;
    }
    return done;
}

std::size_t File::pread(std::uint64_t position, void* buffer, std::size_t count) const {
    return readAtOffset(handleOf(m_handle), m_path, position, buffer, count);
}

void File::seek(std::uint64_t position) {
    if (position > std::uint64_t(INT64_MAX))
        fail(m_path, "Cannot seek in", ERROR_NEGATIVE_SEEK);
    m_position = position;
}

std::uint64_t File::tell() const { return m_position; }

std::uint64_t File::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handleOf(m_handle), &size))
        fail(m_path, "Cannot get the size of");
    return std::uint64_t(size.QuadPart);
}

void File::truncate(std::uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = LONGLONG(length);
    if (!::SetFileInformationByHandle(handleOf(m_handle), FileEndOfFileInfo, &end, sizeof end))
        fail(m_path, "Cannot truncate");
}

void File::flush() {
    if (!::FlushFileBuffers(handleOf(m_handle)))
        fail(m_path, "Cannot flush");
}

std::error_code File::setModeAndTime(std::optional<std::uint32_t> mode, std::optional<std::time_t> time) {
    return win32::setModeAndTimeOf(handleOf(m_handle), mode, time, false);
}

// ---- TempFile ----

TempFile::TempFile(const std::filesystem::path& folder, const std::string& prefix) : m_file(File::kClosed, {}) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<int> pick(0, int(sizeof kLetters) - 2);
    for (;;) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick(random)];
        const std::filesystem::path path = folder / toPath(name);
        const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            m_file = File(reinterpret_cast<std::intptr_t>(h), path);
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            fail(path, "Cannot create temporary file");
    }
}

TempFile TempFile::named(const std::filesystem::path& file) {
    if (!::DeleteFileW(file.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        fail(file, "Cannot create temporary file");
    const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        fail(file, "Cannot create temporary file");
    return TempFile(File(reinterpret_cast<std::intptr_t>(h), file));
}

TempFile::~TempFile() {
    if (m_file.path().empty() || m_keep)
        return;
    m_file.close();
    ::DeleteFileW(m_file.path().c_str());
}

void TempFile::commit(const std::filesystem::path& target) {
    // Data first, then the name: after a crash the target is the old file or the whole
    // new one. The rename is written through before MoveFileExW returns.
    m_file.flush();
    m_file.close();
    if (!::MoveFileExW(m_file.path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(target, "Cannot replace");
    m_keep = true;
}

void TempFile::keepPermissionsOf(const std::filesystem::path&, unsigned) {}

void syncFolder(const std::filesystem::path&) {}

std::filesystem::path temporaryFolder() {
    std::error_code ec;
    auto p = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path(".") : p;
}

} // namespace platform
