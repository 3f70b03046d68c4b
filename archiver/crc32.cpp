#include "archiver/crc32.h"

#include <zlib.h>

namespace archiver {

// zlib's crc32_z works on the finished value (it complements on the way in and out); the
// archiver keeps the running register, which is that value complemented. This is the one
// place where the two meet.
std::uint32_t crcUpdate(std::uint32_t reg, const std::uint8_t* data, std::size_t size) {
    return ~std::uint32_t(::crc32_z(~reg, data, size));
}

} // namespace archiver
