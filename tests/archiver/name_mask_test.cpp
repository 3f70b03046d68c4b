#include "archiver/name_mask.h"

#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

using namespace archiver;

namespace {

struct MaskCase {
    const char* name;
    const char* mask;
    bool matches;
};

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Textbook wildcard matching by dynamic programming over characters, for comparison.
bool referenceMatch(std::string_view name, std::string_view mask, bool ignoreCase) {
    auto fold = [&](char32_t c) { return ignoreCase ? platform::foldCase(c) : c; };
    std::u32string t = *platform::decodeUtf8(name), m = *platform::decodeUtf8(mask);
    // can[j] = the first i characters of the text match the first j of the mask
    std::vector<bool> can(m.size() + 1, false);
    can[0] = true;
    for (std::size_t j = 0; j < m.size() && m[j] == U'*'; ++j)
        can[j + 1] = true;
    for (std::size_t i = 0; i < t.size(); ++i) {
        std::vector<bool> next(m.size() + 1, false);
        for (std::size_t j = 0; j < m.size(); ++j) {
            if (m[j] == U'*')
                next[j + 1] = next[j] || can[j + 1];
            else
                next[j + 1] = can[j] && (m[j] == U'?' || fold(m[j]) == fold(t[i]));
        }
        can = std::move(next);
    }
    return can[m.size()];
}

} // namespace

TEST(NameMask, tableOfNamesAndMasks) {
    const MaskCase cases[] = {
        // "*.*" needs a dot in the name
        {"abc", "*.*", false},
        {"abc.", "*.*", true},
        {"ABC.TXT", "*.txt", true},
        {"dir/abc", "*.*", false},
        {"dir.d/abc", "*.*", true},
        // '?' is exactly one character
        {"a", "a?", false},
        {"ab", "a?", true},
        {"abc", "a?", false},
        {"ab", "a*?b", false},
        {"axb", "a*?b", true},
        {"axyzb", "a*?b", true},
        {"", "?", false},
        // stars: any run, also none, also several in a row
        {"abc", "abc*", true},
        {"abc", "abc**", true},
        {"abc", "*", true},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
        {"abcabd", "*abd", true},
        {"abcabc", "*abd", false},
        {"aaaab", "*a*ab", true},
        {"mississippi", "m*iss*ppi", true},
        {"mississippi", "m*iss*ppx", false},
        // the whole text must be used, separators are ordinary characters
        {"x/y/z.ini", "x*.ini", true},
        {"x/y/z.ini", "*/z.ini", true},
        {"x/y/z.inix", "*.ini", false},
        {"work\\prof\\a.txt", "work/prof/*.txt", true},
        {"work/prof/a.txt", "work\\prof\\*", true},
        // case ignored for Latin and Cyrillic letters
        {"Сервер/Система.INI", "сервер/*.ini", true},
        {"ЁЛКА", "ёлка", true},
        {"Àb", "àB", true},
        {"серверы", "сервер", false},
        // '?' takes one character, however many bytes it is written in
        {"я", "?", true},
        {"яя", "?", false},
        {"файл1.txt", "????1.txt", true},
        {"файл1.txt", "?????1.txt", false},
        {"日本.txt", "??.txt", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << "name '" << c.name << "' mask '" << c.mask << "'";
}

TEST(NameMask, thirtyStarLedElementsCompileAndThirtyOneFail) {
    std::string thirty = repeat("*a", 30);
    EXPECT_TRUE(MatchesMask(repeat("a", 30), thirty));
    EXPECT_FALSE(MatchesMask(repeat("a", 29), thirty));
    try {
        TMask mask(repeat("*a", 31));
        FAIL() << "31 star-led elements compiled";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "'" + repeat("*a", 31) + "' is an invalid mask at (62)");
    }
    // A trailing star leads the end of the mask, which counts as an element too.
    EXPECT_THROW(TMask(thirty + "*"), std::runtime_error);
    EXPECT_NO_THROW(TMask(repeat("*a", 29) + "*"));
    // Stars in a row lead one element.
    EXPECT_NO_THROW(TMask(repeat("***a", 30)));
}

TEST(NameMask, manyStarsAgainstALongNameFinishQuickly) {
    // Thirty stars over a 250-character name: trying every placement of every star would
    // never finish; the matcher keeps only the latest star's retry.
    std::string name = repeat("a", 250) + "c";
    EXPECT_FALSE(MatchesMask(name, repeat("*a", 29) + "*b"));
    EXPECT_TRUE(MatchesMask(name, repeat("*a", 29) + "*c"));
    EXPECT_FALSE(WildcardMatch(name, repeat("*a", 200) + "*b", false));
}

TEST(NameMask, agreesWithReferenceMatcherOnRandomMasks) {
    const char* maskParts[] = {"a", "A", "b", ".", "*", "?", "я", "Я"};
    const char* nameParts[] = {"a", "A", "b", ".", "я", "Я"};
    std::mt19937 rng(20261207);
    for (int round = 0; round < 4000; ++round) {
        std::string mask, name;
        for (int i = int(rng() % 7); i > 0; --i)
            mask += maskParts[rng() % std::size(maskParts)];
        for (int i = int(rng() % 9); i > 0; --i)
            name += nameParts[rng() % std::size(nameParts)];
        bool expected = referenceMatch(name, mask, true);
        ASSERT_EQ(MatchesMask(name, mask), expected) << "name '" << name << "' mask '" << mask << "'";
        if (mask != "*.*") {
            ASSERT_EQ(WildcardMatch(name, mask, true), expected) << "name '" << name << "' mask '" << mask << "'";
            ASSERT_EQ(WildcardMatch(name, mask, false), referenceMatch(name, mask, false))
                << "name '" << name << "' mask '" << mask << "'";
        }
    }
}

TEST(NameMask, invalidUtf8IsMatchedByteByByte) {
    EXPECT_TRUE(
        MatchesMask("a\xFF"
                    "b",
                    "a?b"));
    EXPECT_TRUE(
        MatchesMask("a\xFF"
                    "b",
                    "a\xFF*"));
    EXPECT_FALSE(
        MatchesMask("a\xFF"
                    "b",
                    "a\xFE"
                    "b"));
}

TEST(WildcardMatch, starDotStarMatchesEveryName) {
    EXPECT_TRUE(WildcardMatch("abc", "*.*", true));
    EXPECT_TRUE(WildcardMatch("", "*.*", false));
    EXPECT_TRUE(WildcardMatch("dir/sub/", "*.*", false));
}

TEST(WildcardMatch, loneStarMatchesEverythingAndQuestionMarkNeedsACharacter) {
    EXPECT_TRUE(WildcardMatch("", "*", false));
    EXPECT_TRUE(WildcardMatch("any/thing.at all", "*", false));
    EXPECT_FALSE(WildcardMatch("abc", "abc?", true));
    EXPECT_FALSE(WildcardMatch("", "?", true));
    EXPECT_TRUE(WildcardMatch("abc", "abc**", true));
    EXPECT_FALSE(WildcardMatch("abcd", "abc", true));
    EXPECT_FALSE(WildcardMatch("abc", "abcd", true));
}

TEST(WildcardMatch, caseSwitchCoversLatinAndCyrillic) {
    EXPECT_TRUE(WildcardMatch("Профиль/SYSTEM/a.ini", "профиль/system/*", true));
    EXPECT_FALSE(WildcardMatch("Профиль/SYSTEM/a.ini", "профиль/system/*", false));
    EXPECT_TRUE(WildcardMatch("Профиль/SYSTEM/a.ini", "Профиль/SYSTEM/?.ini", false));
}

TEST(WildcardMatch, neverFailsOnHugeMasks) {
    std::string stars(200000, '*');
    EXPECT_TRUE(WildcardMatch("abc", stars, false));
    EXPECT_TRUE(WildcardMatch("abc", stars + "c", false));
    EXPECT_FALSE(WildcardMatch("abc", stars + "d", false));
}
