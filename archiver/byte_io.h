// Little-endian record encoding. Records pass to and from disk only through these two
// classes, field by field in on-disk order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

// Appends little-endian values to a byte buffer it does not own.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    void u8(std::uint8_t v) { m_out.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void bytes(std::span<const std::uint8_t> data);
    void bytes(std::string_view data);
    // Bytes written so far by everyone to the underlying buffer.
    std::size_t size() const { return m_out.size(); }

private:
    std::vector<std::uint8_t>& m_out;
};

// Reads little-endian values from a span. A read past the end sets a sticky failure
// flag and yields 0 (or nothing) without touching memory outside the span; read a whole
// record, then test ok() once.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : m_data(data) {}

    std::uint8_t u8() { return take(1) ? m_data[m_pos++] : 0; }
    std::uint16_t u16() {
        if (!take(2))
            return 0;
        const std::uint16_t v = std::uint16_t(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    std::uint32_t u32() {
        if (!take(4))
            return 0;
        const std::uint32_t v = std::uint32_t(m_data[m_pos]) | (std::uint32_t(m_data[m_pos + 1]) << 8) |
                                (std::uint32_t(m_data[m_pos + 2]) << 16) | (std::uint32_t(m_data[m_pos + 3]) << 24);
        m_pos += 4;
        return v;
    }
    std::uint64_t u64() {
        if (!take(8))
            return 0;
        const std::uint64_t lo = u32();
        return lo | (std::uint64_t(u32()) << 32);
    }
    // The next `count` bytes; empty (and failed) when fewer remain.
    std::span<const std::uint8_t> bytes(std::size_t count);
    std::string text(std::size_t count);
    void skip(std::size_t count);

    bool ok() const { return !m_failed; }
    std::size_t position() const { return m_pos; }
    std::size_t remaining() const { return m_data.size() - m_pos; }

private:
    // True when `count` more bytes can be read; otherwise sets the failure flag.
    bool take(std::size_t count) {
        if (m_failed || count > m_data.size() - m_pos) {
            m_failed = true;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

} // namespace archiver
