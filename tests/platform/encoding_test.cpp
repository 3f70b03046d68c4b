#include "platform/encoding.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Encoding, cyrillicRoundTripsThroughCp866) {
    const std::string name = "Сервер/ёЁ.txt";
    auto oem = utf8ToCp866(name);
    ASSERT_TRUE(oem.has_value());
    EXPECT_EQ(oem->size(), utf8Length(name));
    EXPECT_EQ(static_cast<unsigned char>((*oem)[0]), 0x91); // С in CP866
    EXPECT_EQ(cp866ToUtf8(*oem), name);
}

TEST(Encoding, nameOutsideCp866HasNoOemForm) {
    EXPECT_FALSE(utf8ToCp866("日本.txt").has_value());
    EXPECT_FALSE(utf8ToCp866("€").has_value()); // in CP1251, not in CP866
}

TEST(Encoding, invalidUtf8IsReadAsWindows1251) {
    const std::string cp1251 = "\xCC\xE0\xE9\xED"; // "Майн"
    EXPECT_EQ(textFileToUtf8(cp1251), "Майн");
    EXPECT_EQ(textFileToUtf8("Майн"), "Майн");
}

TEST(Encoding, rejectsTruncatedAndOverlongSequences) {
    EXPECT_FALSE(isValidUtf8("\xD0"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(Encoding, foldsLatinAndCyrillicCase) {
    EXPECT_EQ(toLowerUtf8("ABC Привет ЁЖ"), "abc привет ёж");
    EXPECT_EQ(utf8Length("ЁЖz"), 3u);
}
