// Damage put into a ZIP archive on disk the way a failing disk or a cut download would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrane::testing {

// Flips bytes in the middle of the compressed data of the entry stored under `name`.
// Answers false when no entry of that name holds 16 compressed bytes or more.
inline bool corruptEntryData(const std::string& archive, const std::string& name) {
    std::string bytes;
    {
        std::ifstream in(archive, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto u16 = [&](std::size_t at) {
        return std::size_t(std::uint8_t(bytes[at])) | std::size_t(std::uint8_t(bytes[at + 1])) << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    for (std::size_t at = bytes.find("PK\x03\x04"); at != std::string::npos; at = bytes.find("PK\x03\x04", at + 4)) {
        const std::size_t nameLength = u16(at + 26), extraLength = u16(at + 28), compressed = u32(at + 18);
        if (bytes.compare(at + 30, nameLength, name) != 0 || compressed < 16)
            continue;
        const std::size_t middle = at + 30 + nameLength + extraLength + compressed / 2;
        for (std::size_t i = 0; i < 4; ++i)
            bytes[middle + i] = char(~bytes[middle + i]);
        std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;
        return true;
    }
    return false;
}

} // namespace kestrane::testing
