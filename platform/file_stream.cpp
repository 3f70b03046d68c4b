// What the streams share on every system: the error type, memory streams, the flush
// beside the calling thread. The file calls are in posix/ and win32/file_stream.cpp.
#include "platform/file_stream.h"

#include "platform/run_beside.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

FileError::FileError(int errorNumber, const std::filesystem::path& path, const std::string& what)
    : std::runtime_error(what), m_errno(errorNumber), m_path(path) {}

std::size_t Stream::readAt(std::uint64_t position, void* buffer, std::size_t count) {
    seek(position);
    return read(buffer, count);
}

// ---- MemoryStream ----

std::size_t MemoryStream::read(void* buffer, std::size_t count) {
    if (count == 0 || m_pos >= m_data.size())
        return 0;
    std::size_t n = std::min<std::uint64_t>(count, m_data.size() - m_pos);
    std::memcpy(buffer, m_data.data() + m_pos, n);
    m_pos += n;
    return n;
}

std::size_t MemoryStream::write(const void* buffer, std::size_t count) {
    if (count == 0)
        return 0;
    if (m_pos + count > m_data.size())
        m_data.resize(m_pos + count);
    std::memcpy(m_data.data() + m_pos, buffer, count);
    m_pos += count;
    return count;
}

void MemoryStream::truncate(std::uint64_t length) { m_data.resize(length); }

// ---- File ----

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kClosed)), m_path(std::exchange(other.m_path, {})),
      m_lastError(other.m_lastError), m_position(other.m_position) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, kClosed);
        m_path = std::exchange(other.m_path, {});
        m_lastError = other.m_lastError;
        m_position = other.m_position;
    }
    return *this;
}

File::~File() { close(); }

void File::flush(const std::function<void()>& whileFlushing) {
    runBeside([this] { flush(); }, whileFlushing);
}

} // namespace platform
