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

bool ByteReader::take(std::size_t count) {
    if (m_failed || count > m_data.size() - m_pos) {
        m_failed = true;
        return false;
    }
    return true;
}

std::uint8_t ByteReader::u8() {
    if (!take(1))
        return 0;
    return m_data[m_pos++];
}

std::uint16_t ByteReader::u16() {
    if (!take(2))
        return 0;
    std::uint16_t v = std::uint16_t(m_data[m_pos] | (m_data[m_pos + 1] << 8));
    m_pos += 2;
    return v;
}

std::uint32_t ByteReader::u32() {
    if (!take(4))
        return 0;
    std::uint32_t v = std::uint32_t(m_data[m_pos]) | (std::uint32_t(m_data[m_pos + 1]) << 8) |
                      (std::uint32_t(m_data[m_pos + 2]) << 16) | (std::uint32_t(m_data[m_pos + 3]) << 24);
    m_pos += 4;
    return v;
}

std::uint64_t ByteReader::u64() {
    if (!take(8))
        return 0;
    std::uint64_t lo = u32();
    std::uint64_t hi = u32();
    return lo | (hi << 32);
}

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
