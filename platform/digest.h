// The running digest of a folder tree (treeDigest), shared by the POSIX and the Win32 walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// FNV-1a, 64 bits: enough to tell a changed tree from the applied one.
struct Digest {
    std::uint64_t value = 1469598103934665603ull;
    void add(const void* data, std::size_t size) {
        for (const auto* p = static_cast<const unsigned char*>(data); size-- > 0; ++p)
            value = (value ^ *p) * 1099511628211ull;
    }
    void add(const std::string& text) { add(text.data(), text.size() + 1); } // the 0 ends it
    void add(std::int64_t number) { add(&number, sizeof number); }
};

} // namespace platform
