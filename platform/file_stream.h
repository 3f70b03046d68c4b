// Byte streams over files and memory: the archive file, the update's tail backup,
// source and destination files. POSIX descriptors or Win32 handles underneath
// (posix/file_stream.cpp, win32/file_stream.cpp); every handle is an object that closes
// itself.
//
// Semantics every stream shares:
//  - read() returns fewer bytes than asked only at the end of the data;
//  - write() returns the number of bytes written; fewer than asked means the system
//    refused the rest (disk full, I/O error) and lastError() tells why — callers turn
//    a short write into their own error;
//  - open, seek, truncate and flush failures throw FileError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

// A failed file-system call: the errno value (on Windows the errno value the system's
// error stands for) and the path it concerned.
class FileError : public std::runtime_error {
public:
    FileError(int errorNumber, const std::filesystem::path& path, const std::string& what);
    int errorNumber() const { return m_errno; }
    const std::filesystem::path& path() const { return m_path; }

private:
    int m_errno;
    std::filesystem::path m_path;
};

// A random-access byte stream.
class Stream {
public:
    virtual ~Stream() = default;
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    virtual std::size_t write(const void* buffer, std::size_t count) = 0;
    virtual void seek(std::uint64_t position) = 0;
    virtual std::uint64_t tell() const = 0;
    virtual std::uint64_t size() const = 0;
    // Cuts (or extends with zeros) the stream to `length`; the position is kept.
    virtual void truncate(std::uint64_t length) = 0;
    // Makes written data durable (fsync for a file).
    virtual void flush() = 0;
    // errno of the last short write (0 when none).
    virtual int lastError() const { return 0; }

    // seek + read: the bytes at `position`; fewer than `count` at the end of the data.
    std::size_t readAt(std::uint64_t position, void* buffer, std::size_t count);
};

// A stream held in memory; writes past the end grow it.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}

    std::size_t read(void* buffer, std::size_t count) override;
    std::size_t write(const void* buffer, std::size_t count) override;
    void seek(std::uint64_t position) override { m_pos = position; }
    std::uint64_t tell() const override { return m_pos; }
    std::uint64_t size() const override { return m_data.size(); }
    void truncate(std::uint64_t length) override;
    void flush() override {}

    const std::vector<std::uint8_t>& data() const { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
    std::uint64_t m_pos = 0;
};

// An open file; closed by the destructor.
class File : public Stream {
public:
    // Opens an existing file for reading only. Throws FileError.
    static File openRead(const std::filesystem::path& path);
    // Opens an existing file for reading and writing. Throws FileError.
    static File openReadWrite(const std::filesystem::path& path);
    // Creates the file, or empties it when it exists, for reading and writing. Throws FileError.
    static File create(const std::filesystem::path& path);
    // Opens the file for reading and writing, creating it empty when it does not exist;
    // an existing file keeps its contents. Throws FileError.
    static File openOrCreate(const std::filesystem::path& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;

    std::size_t read(void* buffer, std::size_t count) override;
    std::size_t write(const void* buffer, std::size_t count) override;
    void seek(std::uint64_t position) override;
    std::uint64_t tell() const override;
    std::uint64_t size() const override;
    void truncate(std::uint64_t length) override;
    void flush() override;
    // The same flush, run beside the calling thread, which calls `whileFlushing` every
    // few milliseconds until it is done (a window keeps pumping its messages through the
    // seconds a large file can take). Throws FileError.
    void flush(const std::function<void()>& whileFlushing);
    int lastError() const override { return m_lastError; }

    // The bytes at `position` without moving the file's position; several threads may
    // read one file this way at once. Fewer than `count` only at the end; throws FileError.
    std::size_t pread(std::uint64_t position, void* buffer, std::size_t count) const;

    // Gives the open file the read, write and execute bits of `mode` (on Windows: the
    // read-only attribute when the owner may not write) and, when asked, its modification
    // time, so that no path is looked up again for them. Answers the system's reason when
    // a part fails (the other part is still tried).
    [[nodiscard]] std::error_code setModeAndTime(std::optional<std::uint32_t> mode, std::optional<std::time_t> time);

    bool isOpen() const { return m_handle != kClosed; }
    void close();
    const std::filesystem::path& path() const { return m_path; }

private:
    friend class TempFile;
    friend class FolderHandle;
    // The system's handle: a descriptor on POSIX, a HANDLE on Windows, where
    // INVALID_HANDLE_VALUE is -1 as well.
    using Handle = std::intptr_t;
    static constexpr Handle kClosed = -1;
    File(Handle handle, std::filesystem::path path) : m_handle(handle), m_path(std::move(path)) {}

    Handle m_handle = kClosed;
    std::filesystem::path m_path;
    int m_lastError = 0;
    // Windows reads and writes at an offset they name (so that pread never moves it);
    // this is the stream's position there. POSIX keeps it in the descriptor.
    std::uint64_t m_position = 0;
};

// A uniquely named file made with mkstemp in `folder` with a name starting with
// `prefix` and six characters more; open for reading and writing. Deleted by the destructor unless commit()
// has moved it to its final place or keep() was called.
class TempFile {
public:
    // Throws FileError when the file cannot be made.
    TempFile(const std::filesystem::path& folder, const std::string& prefix);
    // A file of exactly this name, for a writer that holds a lock and must leave only a
    // name it can recognise: a file of that name left by a killed run is replaced.
    // Throws FileError when the file cannot be made.
    static TempFile named(const std::filesystem::path& file);
    TempFile(TempFile&&) noexcept = default;
    TempFile& operator=(TempFile&&) = delete;
    ~TempFile();

    File& file() { return m_file; }
    const std::filesystem::path& path() const { return m_file.path(); }
    // Flushes the file to disk, renames it over `target` and makes the rename durable.
    // Throws FileError.
    void commit(const std::filesystem::path& target);
    // Gives the file the permissions of `target`, or `defaultMode` when there is none
    // yet (mkstemp makes it private); nothing on Windows, where a new file takes the
    // folder's permissions. Throws FileError.
    void keepPermissionsOf(const std::filesystem::path& target, unsigned defaultMode = 0644);
    // Leaves the file on disk when this object goes.
    void keep() { m_keep = true; }

private:
    friend class FolderHandle;
    explicit TempFile(File file) : m_file(std::move(file)) {}

    File m_file;
    bool m_keep = false;
};

// Makes the names in a folder durable (fsync of the folder); best effort. Nothing on
// Windows, whose renames are written through.
void syncFolder(const std::filesystem::path& folder);

// The system's folder for temporary files.
std::filesystem::path temporaryFolder();

} // namespace platform
