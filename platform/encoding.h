// Text encodings. The program keeps all text in UTF-8; these functions convert at the
// edges: profile lists written on Windows (Windows-1251) and ZIP entry names (CP866).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The code points of a UTF-8 text; nullopt when it is not valid UTF-8.
std::optional<std::u32string> decodeUtf8(std::string_view s);
// The characters of a text for matching and comparing: its code points when it is valid
// UTF-8, else one character per byte, bytes above 0x7F placed in the surrogate range so
// that they never equal a decoded character.
std::u32string codePointsOf(std::string_view s);
std::string encodeUtf8(std::u32string_view chars);
// Whether s is well-formed UTF-8; allocates nothing.
bool isValidUtf8(std::string_view s);
// Number of characters (not bytes) of a UTF-8 text.
std::size_t utf8Length(std::string_view s);

std::string cp1251ToUtf8(std::string_view bytes);
std::string cp866ToUtf8(std::string_view bytes);
// nullopt when some character of the text has no place in CP866.
std::optional<std::string> utf8ToCp866(std::string_view utf8);

// A text file's bytes as UTF-8: taken as they are when valid UTF-8, else read as Windows-1251.
std::string textFileToUtf8(std::string_view bytes);

// Case folding for name comparison: Latin (ASCII and Latin-1) and Cyrillic letters.
char32_t foldCase(char32_t c);
std::string toLowerUtf8(std::string_view s);

} // namespace platform
