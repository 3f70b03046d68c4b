#include "archiver/byte_io.h"

namespace archiver {

void ByteWriter::u16(std::uint16_t v) {
    m_out.push_back(std::uint8_t(v));
    m_out.push_back(std::uint8_t(v >> 8));
}

void ByteWriter::u32(std::uint32_t v) {
    u16(std::uint16_t(v));
    u16(std::uint16_t(v >> 16));
}

void ByteWriter::u64(std::uint64_t v) {
    u32(std::uint32_t(v));
    u32(std::uint32_t(v >> 32));
}

void ByteWriter::bytes(std::span<const std::uint8_t> data) { m_out.insert(m_out.end(), data.begin(), data.end()); }

void ByteWriter::bytes(std::string_view data) { m_out.insert(m_out.end(), data.begin(), data.end()); }

std::span<const std::uint8_t> ByteReader::bytes(std::size_t count) {
    if (!take(count))
        return {};
    auto s = m_data.subspan(m_pos, count);
    m_pos += count;
    return s;
}

std::string ByteReader::text(std::size_t count) {
    auto s = bytes(count);
    return std::string(s.begin(), s.end());
}

void ByteReader::skip(std::size_t count) {
    if (take(count))
        m_pos += count;
}

} // namespace archiver
