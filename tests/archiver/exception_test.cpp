#include "archiver/za_exception.h"
#include "archiver/za_messages.h"

#include <gtest/gtest.h>

#include <set>

using namespace archiver;

TEST(ZAMessages, codeTableCoversEveryCodeInOrderAndEveryText) {
    std::set<std::int32_t> used;
    for (std::size_t i = 0; i < kZACodeTable.size(); ++i) {
        EXPECT_EQ(kZACodeTable[i].nativeCode, std::int32_t(i));
        ASSERT_GE(kZACodeTable[i].messageIndex, 0);
        ASSERT_LT(kZACodeTable[i].messageIndex, kZAMessageCount);
        used.insert(kZACodeTable[i].messageIndex);
    }
    EXPECT_EQ(used.size(), std::size_t(kZAMessageCount));
}

TEST(ZAMessages, sharedTextsMapFromEachOfTheirCodes) {
    for (int code : {1, 2, 3, 4, 7, 16, 21, 24})
        EXPECT_EQ(zaMessageIndex(code), 1) << code;
    for (int code : {11, 12, 15, 18, 30, 31, 38, 42, 53, 54})
        EXPECT_EQ(zaMessageIndex(code), 6) << code;
    EXPECT_EQ(zaMessageIndex(26), 13);
    EXPECT_EQ(zaMessageIndex(35), 18);
    EXPECT_EQ(zaMessageIndex(57), 27);
    EXPECT_EQ(zaMessageIndex(62), 37);
}

TEST(EZAException, messageWithoutComponentHasTextAndPaddedCode) {
    EZAException e(8);
    EXPECT_EQ(e.ErrorCode(), 4);
    EXPECT_EQ(e.NativeError(), 8);
    EXPECT_STREQ(e.what(), "Invalid size or check sum of file or unsupported compression format - Native error: 00008");
}

TEST(EZAException, componentNamePrefixesTheFormattedText) {
    EZAException e(20, {"./prof/system"}, "ZipArchiver1");
    EXPECT_EQ(e.ErrorCode(), 10);
    EXPECT_EQ(e.NativeError(), 20);
    EXPECT_STREQ(e.what(), "ZipArchiver1: Cannot create directory \"./prof/system\" - Native error: 00020");
}

TEST(EZAException, emptyComponentNameGivesNoPrefix) {
    EZAException e(13, "");
    EXPECT_STREQ(e.what(), "Archive is not open - Native error: 00013");
}

TEST(EZAException, codesOutsideTableGiveUnknownErrorButKeepTheirCode) {
    EZAException zero(0);
    EXPECT_EQ(zero.ErrorCode(), 0);
    EXPECT_STREQ(zero.what(), "Unknown error - Native error: 00000");

    EZAException above(63, "Zip");
    EXPECT_EQ(above.ErrorCode(), 0);
    EXPECT_EQ(above.NativeError(), 63);
    EXPECT_STREQ(above.what(), "Zip: Unknown error - Native error: 00063");

    EZAException wide(1234567);
    EXPECT_STREQ(wide.what(), "Unknown error - Native error: 1234567");

    EZAException negative(-5);
    EXPECT_EQ(negative.ErrorCode(), 0);
    EXPECT_STREQ(negative.what(), "Unknown error - Native error: 000-5");
}

TEST(EZAException, codes44And45ShareTextButNotNativeError) {
    EZAException a(44), b(45);
    EXPECT_EQ(a.ErrorCode(), b.ErrorCode());
    EXPECT_NE(a.NativeError(), b.NativeError());
    EXPECT_STREQ(b.what(), "Cannot open archive file. Opening aborted or invalid file - Native error: 00045");
}

TEST(EZAException, nameTooLongKeepsLineBreakInsideText) {
    EZAException e(61, {"a/b"});
    EXPECT_STREQ(e.what(), "File name is too long: \r\n\"a/b\" - Native error: 00061");
}

TEST(EZAException, integerPlaceholdersAreFilledInOrder) {
    EZAException e(34, {std::int64_t(100), std::int64_t(-3)});
    EXPECT_STREQ(e.what(), "Invalid compressed size, rfs.size = 100, count = -3 - Native error: 00034");
}

TEST(EZAException, placeholdersWithoutArgumentsStayAsTheyStand) {
    // The constructors never fail, also when the raiser passes too few or wrong arguments.
    EXPECT_STREQ(EZAException(12).what(), "File \"%s\" not found - Native error: 00012");
    EXPECT_STREQ(EZAException(34, {7}).what(),
                 "Invalid compressed size, rfs.size = 7, count = %d - Native error: 00034");
    EXPECT_STREQ(EZAException(36, {42, "surplus"}).what(),
                 "Cannot create output file. Probably file is locked by another process. FileName = '42'."
                 " - Native error: 00036");
}

TEST(EZAException, argumentTextIsNotReadAsFormat) {
    EZAException e(12, {"100%s %d%%.txt"});
    EXPECT_STREQ(e.what(), "File \"100%s %d%%.txt\" not found - Native error: 00012");
}

TEST(EZAException, isCaughtAsStandardException) {
    try {
        throw EZAException(9, "Zip");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Zip: File name is blank. Specify appropriate file name - Native error: 00009");
    }
}
