#include "archiver/crc32.h"

#include <array>

namespace archiver {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

// tables[0] is the classic byte table; tables[k][b] is the register after b followed by
// k zero bytes, which lets the loop fold eight input bytes per step.
constexpr CrcTables makeTables() {
    CrcTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][b] = c;
    }
    for (std::uint32_t b = 0; b < 256; ++b)
        for (std::size_t k = 1; k < 8; ++k)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
    return t;
}

constexpr CrcTables kTables = makeTables();

} // namespace

std::uint32_t crcUpdate(std::uint32_t reg, const std::uint8_t* data, std::size_t size) {
    const auto& t = kTables;
    while (size >= 8) {
        const std::uint32_t lo = reg ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                        std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        const std::uint32_t hi = std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 |
                                 std::uint32_t(data[6]) << 16 | std::uint32_t(data[7]) << 24;
        reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0)
        reg = (reg >> 8) ^ t[0][(reg ^ *data++) & 0xFFu];
    return reg;
}

} // namespace archiver
