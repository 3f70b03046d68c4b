// Wildcard masks compiled to elements and matched with one backtracking point.
#include "archiver/name_mask.h"

#include "platform/encoding.h"

#include <stdexcept>

namespace archiver {
namespace {

using Element = TMask::Element;
using ElementKind = TMask::ElementKind;

char32_t normalised(char32_t c, bool ignoreCase) {
    if (c == U'\\')
        return U'/';
    return ignoreCase ? platform::foldCase(c) : c;
}

std::string invalidMaskMessage(std::string_view mask, std::size_t position) {
    return "'" + std::string(mask) + "' is an invalid mask at (" + std::to_string(position) + ")";
}

// Compiles a mask into elements, the last one the end of the text. maxStarLed 0: no limit.
std::vector<Element> compile(std::string_view maskText, bool ignoreCase, int maxStarLed) {
    std::u32string mask = platform::codePointsOf(maskText);
    std::vector<Element> elements;
    elements.reserve(mask.size() + 1);
    bool pendingStar = false;
    int starLed = 0;
    auto append = [&](ElementKind kind, char32_t ch, std::size_t index) {
        if (pendingStar && maxStarLed > 0 && ++starLed > maxStarLed)
            throw std::runtime_error(invalidMaskMessage(maskText, index + 1));
        elements.push_back(Element{pendingStar, kind, ch});
        pendingStar = false;
    };
    for (std::size_t i = 0; i < mask.size(); ++i) {
        if (mask[i] == U'*')
            pendingStar = true;
        else if (mask[i] == U'?')
            append(ElementKind::ekAnyChar, 0, i);
        else
            append(ElementKind::ekLiteral, normalised(mask[i], ignoreCase), i);
    }
    append(ElementKind::ekEnd, 0, mask.size());
    return elements;
}

// Matches the whole text against compiled elements.
//
// A star-led element is first placed at the leftmost position where it can stand, and a
// retry at the next position is remembered. Only the retry of the most recent star is kept:
// the text matched before that star is placed as far left as it can be, and the star absorbs
// anything between, so moving an earlier star can never let the rest match where moving the
// latest one cannot. This keeps the matcher linear in the number of retries instead of
// exponential in the number of stars, and needs no stack.
bool matchElements(const std::vector<Element>& elements, const std::u32string& rawText, bool ignoreCase) {
    std::u32string text;
    text.reserve(rawText.size());
    for (char32_t c : rawText)
        text += normalised(c, ignoreCase);
    const std::size_t n = text.size();

    std::size_t pos = 0;
    std::size_t index = 0;
    bool haveRetry = false;
    std::size_t retryPos = 0;
    std::size_t retryIndex = 0;
    for (;;) {
        bool failed = false;
        for (; index < elements.size(); ++index) {
            const Element& e = elements[index];
            if (e.starLed) {
                if (e.kind == ElementKind::ekLiteral) {
                    while (pos < n && text[pos] != e.ch)
                        ++pos;
                } else if (e.kind == ElementKind::ekEnd) {
                    pos = n;
                }
                haveRetry = pos < n;
                retryPos = pos + 1;
                retryIndex = index;
            }
            bool ok = false;
            switch (e.kind) {
            case ElementKind::ekEnd:
                ok = pos == n;
                break;
            case ElementKind::ekAnyChar:
                ok = pos < n;
                break;
            case ElementKind::ekLiteral:
                ok = pos < n && text[pos] == e.ch;
                break;
            }
            if (!ok) {
                failed = true;
                break;
            }
            ++pos;
        }
        if (!failed)
            return true;
        if (!haveRetry)
            return false;
        pos = retryPos;
        index = retryIndex;
    }
}

} // namespace

TMask::TMask(std::string_view mask) : m_elements(compile(mask, true, kMaxStarLed)) {}

bool TMask::Matches(std::string_view text) const {
    return matchElements(m_elements, platform::codePointsOf(text), true);
}

bool MatchesMask(std::string_view name, std::string_view mask) { return TMask(mask).Matches(name); }

bool WildcardMatch(std::string_view text, std::string_view mask, bool ignoreCase) {
    if (mask == "*.*")
        return true;
    return matchElements(compile(mask, ignoreCase, 0), platform::codePointsOf(text), ignoreCase);
}

} // namespace archiver
