// Making files unreadable in tests that run as root: root reads every file whatever its
// permissions, unless this thread drops its power to (the DAC override capabilities).
#pragma once

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

inline bool canRead(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace kestrane::testing
