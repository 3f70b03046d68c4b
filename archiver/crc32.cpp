#include "archiver/crc32.h"

#include <isa-l/crc.h>

namespace archiver {

// ISA-L's crc32_gzip_refl (the reflected polynomial of ZIP and gzip, folded with
// carry-less multiplication where the processor has it) works on the finished value, as
// zlib's crc32 does: it complements on the way in and out. The archiver keeps the running
// register, which is that value complemented. This is the one place where the two meet.
std::uint32_t crcUpdate(std::uint32_t reg, const std::uint8_t* data, std::size_t size) {
    return ~crc32_gzip_refl(~reg, data, size);
}

} // namespace archiver
