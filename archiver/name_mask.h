// File masks: '*' stands for any run of characters (also none), '?' for exactly one
// character; every other character stands for itself, path separators included ('\' and '/'
// are the same character here). Names and masks are UTF-8 and are matched by characters, not
// bytes; a text that is not valid UTF-8 is matched byte by byte.
//
// Two entry points, as the archiver uses them:
// - TMask / MatchesMask: a compiled mask, case ignored (Latin and Cyrillic letters); used when
//   adding files, on full paths and on exclusion and no-compression masks. At most 30
//   star-led elements.
// - WildcardMatch: the matcher for stored names when extracting, with a case switch and the
//   shortcut that the mask "*.*" matches every text.
// A mask is matched against the whole text, and "*.*" (outside WildcardMatch) needs a '.'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

class TMask {
public:
    static constexpr int kMaxStarLed = 30;

    // Compiles the mask. Throws std::runtime_error "'<mask>' is an invalid mask at (<n>)" when
    // more than kMaxStarLed elements follow a '*'; n is the 1-based character position of the
    // element that went over the limit (the mask's length + 1 for its end).
    explicit TMask(std::string_view mask);

    // True when the whole text matches the mask.
    bool Matches(std::string_view text) const;

    // One compiled element; the last one is always ekEnd, so a match must use up the text.
    enum class ElementKind : std::uint8_t { ekLiteral, ekAnyChar, ekEnd };
    struct Element {
        bool starLed = false; // a '*' came before this element
        ElementKind kind = ElementKind::ekLiteral;
        char32_t ch = 0; // ekLiteral: the character, case-folded, '\' as '/'
    };

private:
    std::vector<Element> m_elements;
};

// Compiles the mask and tests the name once; throws what TMask's constructor throws.
bool MatchesMask(std::string_view name, std::string_view mask);

// Never fails, whatever the number of stars. "*.*" matches every text.
bool WildcardMatch(std::string_view text, std::string_view mask, bool ignoreCase);

} // namespace archiver
