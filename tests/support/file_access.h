// Making files unreadable in tests that run as root: root reads every file whatever its
// permissions, unless this thread drops its power to (the DAC override capabilities).
// Windows has no permission that makes a file unreadable to its owner (chmod only sets the
// read-only attribute): there the override cannot be dropped and every file stays readable,
// so the tests that need an unreadable file skip, saying so; a file another handle holds
// open, sharing nothing, is what cannot be read there.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <filesystem>
#include <fstream>

namespace kestrane::testing {

// Holds `path` open, sharing neither reading, writing nor deleting, until it goes: no
// other handle opens the file meanwhile.
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::filesystem::path& path)
        : m_handle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~ExclusiveHold() {
        if (held())
            ::CloseHandle(m_handle);
    }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    bool held() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

inline bool setFileReadOverride(bool) { return false; }

inline bool canRead(const char* path) { return std::ifstream(path, std::ios::binary).is_open(); }

inline const char* whyNothingIsClosed() {
    return "Windows has no permission that closes a file or folder to its owner";
}

} // namespace kestrane::testing

#else

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace kestrane::testing {

// This thread's power to read any file whatever its permissions (root's DAC override):
// dropped, a file without read permission cannot be read by its owner either.
inline bool setFileReadOverride(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        std::uint32_t& effective = data[cap / 32].effective;
        const std::uint32_t bit = 1u << (cap % 32);
        effective = on ? (effective | (bit & data[cap / 32].permitted)) : (effective & ~bit);
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Why a test that needs a file or folder closed to its owner cannot run in this process,
// or nullptr when it can: root reads and searches every one (the runs as an ordinary user
// cover it).
inline const char* whyNothingIsClosed() {
    return ::geteuid() == 0 ? "root reads and searches every folder; runs as the player" : nullptr;
}

inline bool canRead(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace kestrane::testing

#endif
