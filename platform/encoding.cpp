// Text encodings: UTF-8 inside the program, Windows-1251 for profile lists carried
// over from Windows, and the OEM code page 866 of ZIP entry names.
#include "platform/encoding.h"

#include <array>

namespace platform {
namespace {

// Bytes 0x80..0xFF of Windows-1251 (0xFFFD where the code page has no character).
constexpr std::array<char32_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Bytes 0x80..0xFF of the OEM code page 866.
constexpr std::array<char32_t, 128> kCp866High = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436,
    0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407,
    0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string decodeSingleByte(std::string_view bytes, const std::array<char32_t, 128>& high) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes)
        appendUtf8(out, b < 0x80 ? char32_t(b) : high[b - 0x80]);
    return out;
}

std::optional<std::string> encodeSingleByte(std::string_view utf8, const std::array<char32_t, 128>& high) {
    auto chars = decodeUtf8(utf8);
    if (!chars)
        return std::nullopt;
    std::string out;
    out.reserve(chars->size());
    for (char32_t c : *chars) {
        if (c < 0x80) {
            out += char(c);
            continue;
        }
        bool found = false;
        for (std::size_t i = 0; i < high.size(); ++i) {
            if (high[i] == c && c != 0xFFFD) {
                out += char(0x80 + i);
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return out;
}

} // namespace

std::u32string codePointsOf(std::string_view s) {
    if (auto chars = decodeUtf8(s))
        return std::move(*chars);
    std::u32string out;
    out.reserve(s.size());
    for (unsigned char b : s)
        out += b < 0x80 ? char32_t(b) : char32_t(0xDC00 + b);
    return out;
}

namespace {

// The one UTF-8 walker: decodes the character at s[i] into c and moves i past it; false
// for bytes that are not UTF-8 (overlong forms, surrogates and values past U+10FFFF
// included).
bool decodeNext(std::string_view s, std::size_t& i, char32_t& c) {
    const unsigned char b = s[i];
    int extra;
    if (b < 0x80) {
        c = b;
        extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
        c = b & 0x1F;
        extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
        c = b & 0x0F;
        extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
        c = b & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (i + extra >= s.size() && extra > 0)
        return false;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char t = s[i + k];
        if ((t & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (t & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return false;
    i += extra + 1;
    return true;
}

} // namespace

std::optional<std::u32string> decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    char32_t c;
    for (std::size_t i = 0; i < s.size();) {
        if (!decodeNext(s, i, c))
            return std::nullopt;
        out += c;
    }
    return out;
}

std::string encodeUtf8(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t c : chars)
        appendUtf8(out, c);
    return out;
}

bool isValidUtf8(std::string_view s) {
    char32_t c;
    for (std::size_t i = 0; i < s.size();)
        if (!decodeNext(s, i, c))
            return false;
    return true;
}

std::size_t utf8Length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char b : s)
        n += (b & 0xC0) != 0x80;
    return n;
}

std::string cp1251ToUtf8(std::string_view bytes) { return decodeSingleByte(bytes, kCp1251High); }
std::string cp866ToUtf8(std::string_view bytes) { return decodeSingleByte(bytes, kCp866High); }
std::optional<std::string> utf8ToCp866(std::string_view utf8) { return encodeSingleByte(utf8, kCp866High); }

std::string textFileToUtf8(std::string_view bytes) {
    return isValidUtf8(bytes) ? std::string(bytes) : cp1251ToUtf8(bytes);
}

char32_t foldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if (c >= 0x0410 && c <= 0x042F)
        return c + 32; // А..Я
    if (c >= 0x0400 && c <= 0x040F)
        return c + 80; // Ѐ..Џ
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)
        return c + 32;
    return c;
}

std::string toLowerUtf8(std::string_view s) {
    auto chars = decodeUtf8(s);
    if (!chars) {
        std::string out(s);
        for (char& ch : out)
            if (ch >= 'A' && ch <= 'Z')
                ch = char(ch + 32);
        return out;
    }
    for (char32_t& c : *chars)
        c = foldCase(c);
    return encodeUtf8(*chars);
}

} // namespace platform
