// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset to
// 0xFFFFFFFF, final value complemented. Computed by ISA-L; blocks computed apart are
// joined with zlib's crc32_combine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace archiver {

// Incremental form: start with kCrcPreset, feed every block through crcUpdate, and
// complement the register at the end (crcFinish).
inline constexpr std::uint32_t kCrcPreset = 0xFFFFFFFFu;

std::uint32_t crcUpdate(std::uint32_t reg, const std::uint8_t* data, std::size_t size);
inline std::uint32_t crcUpdate(std::uint32_t reg, std::span<const std::uint8_t> data) {
    return crcUpdate(reg, data.data(), data.size());
}
inline std::uint32_t crcFinish(std::uint32_t reg) { return ~reg; }

// The CRC-32 of one whole buffer.
inline std::uint32_t crc32(std::span<const std::uint8_t> data) { return crcFinish(crcUpdate(kCrcPreset, data)); }

} // namespace archiver
