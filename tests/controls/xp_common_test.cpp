#include "controls/xp_common.h"
#include "tests/controls/pixel_art.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <vector>

using namespace controls;
using namespace controls::test;

TEST(MulDiv, roundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(8, 25, 16), 13);  // 12.5
    EXPECT_EQ(MulDiv(7, 25, 16), 11);  // 10.94
    EXPECT_EQ(MulDiv(1, 25, 16), 2);   // 1.56
    EXPECT_EQ(MulDiv(-1, 25, 2), -13); // -12.5
    EXPECT_EQ(MulDiv(3, 4, 0), 0);
}

TEST(GradientColours, roundsEachChannelHalfToEven) {
    // inc = (0.5, 1.5, 2.5): the middle entry lands on three halves
    const auto t = gradientColours(rgb(0, 0, 0), rgb(1, 3, 5), 3, 1);
    EXPECT_EQ(t[0], px(0, 0, 0));
    EXPECT_EQ(t[1], px(0, 2, 2));
    EXPECT_EQ(t[2], px(1, 3, 5));
    // falling channels: 4.5, 1.5 and 0.5
    const auto down = gradientColours(rgb(5, 3, 1), rgb(4, 0, 0), 3, 1);
    EXPECT_EQ(down[1], px(4, 2, 0));
}

TEST(GradientColours, directionAboveOneExchangesTheColours) {
    const auto down = gradientColours(rgb(10, 20, 30), rgb(250, 240, 230), 16, 1);
    const auto up = gradientColours(rgb(10, 20, 30), rgb(250, 240, 230), 16, 3);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(down[std::size_t(i)], up[std::size_t(15 - i)]) << i;
    EXPECT_EQ(up[0], px(250, 240, 230));
}

TEST(GradientColours, resolvesSystemColours) {
    const auto t = gradientColours(clBtnFace, clWindow, 2, 1);
    EXPECT_EQ(t[0], px(236, 233, 216));
    EXPECT_EQ(t[1], px(255, 255, 255));
}

TEST(DrawGradientBitmap, bandEdgesRoundLikeMulDiv) {
    QImage bmp;
    // 16 entries 0, 10, …, 150 in red; 25 pixels wide
    DrawGradientBitmap(25, 2, rgb(0, 0, 0), rgb(150, 0, 0), 16, 0, false, bmp);
    ASSERT_EQ(bmp.size(), QSize(25, 2));
    // band i starts at i × 25 / 16 rounded with halves up: band 8 starts at 13, not 12
    const std::vector<int> starts = {0, 2, 3, 5, 6, 8, 9, 11, 13, 14, 16, 17, 19, 20, 22, 23, 25};
    for (int band = 0; band < 16; ++band)
        for (int x = starts[std::size_t(band)]; x < starts[std::size_t(band) + 1]; ++x)
            for (int y = 0; y < 2; ++y)
                ASSERT_EQ(bmp.pixel(x, y), px(10 * band, 0, 0)) << "x=" << x << " band " << band;
}

TEST(DrawGradientBitmap, verticalBandsWithoutDitherAreFlatRows) {
    QImage bmp;
    DrawGradientBitmap(3, 5, rgb(0, 0, 0), rgb(0, 0, 40), 5, 1, false, bmp);
    const std::map<char, QRgb> art = {
        {'0', px(0, 0, 0)}, {'1', px(0, 0, 10)}, {'2', px(0, 0, 20)}, {'3', px(0, 0, 30)}, {'4', px(0, 0, 40)}};
    EXPECT_EQ(toArt(bmp, art),
              "000\n"
              "111\n"
              "222\n"
              "333\n"
              "444");
}

namespace {

// The band that covers position p of a gradient `length` long.
int bandAt(int p, int length, int steps) {
    int band = 0;
    for (int i = 0; i < steps; ++i)
        if (MulDiv(i, length, steps) <= p)
            band = i;
    return band;
}

} // namespace

TEST(DrawGradientBitmap, horizontalDitherOnlyBorrowsThePreviousBandAndRepeatsEvery16Rows) {
    QImage bmp;
    const int w = 100, h = 40, steps = 16;
    DrawGradientBitmap(w, h, rgb(0, 0, 0), rgb(150, 0, 0), steps, 0, true, bmp);
    const auto t = gradientColours(rgb(0, 0, 0), rgb(150, 0, 0), steps, 0);
    int borrowed = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int band = bandAt(x, w, steps);
            const QRgb p = bmp.pixel(x, y);
            if (p != t[std::size_t(band)]) {
                ASSERT_GT(band, 0);
                ASSERT_EQ(p, t[std::size_t(band - 1)]) << x << "," << y;
                ++borrowed;
            }
            if (y >= 16) {
                ASSERT_EQ(p, bmp.pixel(x, y % 16)) << x << "," << y;
            }
        }
    EXPECT_GT(borrowed, 0);
}

TEST(DrawGradientBitmap, verticalDitherOnlyBorrowsThePreviousBandAndRepeatsEvery16Columns) {
    QImage bmp;
    const int w = 50, h = 100, steps = 16;
    DrawGradientBitmap(w, h, rgb(0, 0, 0), rgb(0, 150, 0), steps, 1, true, bmp);
    const auto t = gradientColours(rgb(0, 0, 0), rgb(0, 150, 0), steps, 1);
    int borrowed = 0;
    for (int y = 0; y < h; ++y) {
        const int band = bandAt(y, h, steps);
        for (int x = 0; x < w; ++x) {
            const QRgb p = bmp.pixel(x, y);
            if (p != t[std::size_t(band)]) {
                ASSERT_GT(band, 0);
                ASSERT_EQ(p, t[std::size_t(band - 1)]) << x << "," << y;
                ++borrowed;
            }
            ASSERT_EQ(p, bmp.pixel(x % 16, y)) << x << "," << y;
        }
    }
    EXPECT_GT(borrowed, 0);
}

TEST(DrawGradientBitmap, equalRepeatedRunsAreDeterministic) {
    QImage a, b;
    DrawGradientBitmap(40, 30, rgb(0, 0, 0), rgb(0, 150, 0), 16, 1, true, a);
    DrawGradientBitmap(40, 30, rgb(0, 0, 0), rgb(0, 150, 0), 16, 1, true, b);
    EXPECT_EQ(a, b);
}

TEST(DrawGradientBitmap, manyBandsOnFewRowsGiveEachRowThePreviousEntryOfItsBand) {
    // A 25-row face with 255 steps: the scatter span is 0, so each band's first row
    // takes the previous entry, and the strip copy carries it across the row.
    QImage bmp;
    DrawGradientBitmap(97, 25, rgb(255, 255, 255), rgb(239, 235, 231), 255, 1, true, bmp);
    const auto t = gradientColours(rgb(255, 255, 255), rgb(239, 235, 231), 255, 1);
    for (int y = 0; y < 25; ++y) {
        const int band = bandAt(y, 25, 255);
        for (int x = 0; x < 97; ++x)
            ASSERT_EQ(bmp.pixel(x, y), t[std::size_t(band - 1)]) << x << "," << y;
    }
}

TEST(DrawGradientBitmap, bitmapsNarrowerThanTheStripDitherInsideThemselves) {
    QImage tall, wide;
    DrawGradientBitmap(7, 60, rgb(0, 0, 0), rgb(0, 0, 150), 16, 1, true, tall);
    DrawGradientBitmap(60, 5, rgb(0, 0, 0), rgb(0, 0, 150), 16, 0, true, wide);
    ASSERT_EQ(tall.size(), QSize(7, 60));
    ASSERT_EQ(wide.size(), QSize(60, 5));
    // the dithered strip is the whole width: every row is one colour
    for (int y = 0; y < 60; ++y)
        for (int x = 1; x < 7; ++x)
            ASSERT_EQ(tall.pixel(x, y), tall.pixel(0, y)) << x << "," << y;
    const auto t = gradientColours(rgb(0, 0, 0), rgb(0, 0, 150), 16, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 60; ++x) {
            const int band = bandAt(x, 60, 16);
            const QRgb p = wide.pixel(x, y);
            ASSERT_TRUE(p == t[std::size_t(band)] || (band > 0 && p == t[std::size_t(band - 1)])) << x << "," << y;
        }
}

TEST(DrawGradientBitmap, equalColoursGiveAFlatBitmap) {
    QImage bmp;
    DrawGradientBitmap(33, 21, rgb(246, 242, 233), rgb(246, 242, 233), 255, 1, true, bmp);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(bmp.pixel(x, y), px(246, 242, 233));
}

TEST(DrawGradientBitmap, emptySizeGivesAnEmptyBitmapAndStepsAreClamped) {
    QImage bmp;
    DrawGradientBitmap(0, 10, rgb(0, 0, 0), rgb(9, 9, 9), 16, 1, true, bmp);
    EXPECT_TRUE(bmp.isNull());
    DrawGradientBitmap(4, 2, rgb(0, 0, 0), rgb(90, 0, 0), 1, 0, false, bmp); // treated as 2 steps
    EXPECT_EQ(bmp.pixel(0, 0), px(0, 0, 0));
    EXPECT_EQ(bmp.pixel(3, 1), px(90, 0, 0));
}

// Two channels land on a half (165 + 90 × 0.35 and 205 + 50 × 0.35); both round up.
TEST(XPBorderColour, matchesTheSchemeTableAt35Percent) {
    EXPECT_EQ(XPBorderColour(35, false, kSchemeBlue), rgb(208, 197, 185));
    EXPECT_EQ(XPBorderColour(35, false, kSchemeOrange), rgb(208, 197, 185));
    EXPECT_EQ(XPBorderColour(35, true, kSchemeBlue), rgb(124, 161, 223));
    EXPECT_EQ(XPBorderColour(35, true, kSchemeSilver), rgb(168, 168, 212));
    EXPECT_EQ(XPBorderColour(35, true, kSchemeGreen), rgb(177, 193, 146));
    EXPECT_EQ(XPBorderColour(35, true, kSchemeOrange), rgb(251, 177, 103));
}

TEST(XPBorderColour, percentageAbove100CountsAs100AndUnknownSchemesAreWhite) {
    EXPECT_EQ(XPBorderColour(250, true, kSchemeBlue), rgb(255, 255, 255));
    EXPECT_EQ(XPBorderColour(0, true, kSchemeBlue), rgb(54, 111, 205));
    EXPECT_EQ(XPBorderColour(0, true, 9), rgb(255, 255, 255));
}

TEST(DrawXPBorder, framesInBorderColourThenWhite) {
    auto img = blankImage(6, 5, px(1, 2, 3));
    Canvas c(img);
    DrawXPBorder(c, c.clientRect(), true, kSchemeBlue);
    const std::map<char, QRgb> art = {{'b', px(124, 161, 223)}, {'w', px(255, 255, 255)}, {'.', px(1, 2, 3)}};
    EXPECT_EQ(toArt(img, art),
              "bbbbbb\n"
              "bwwwwb\n"
              "bw..wb\n"
              "bwwwwb\n"
              "bbbbbb");
}

TEST(DrawXPBorder, painterVersionCoversTheSamePixels) {
    auto a = blankImage(9, 7, px(1, 2, 3)), b = a;
    Canvas c(a);
    DrawXPBorder(c, c.clientRect(), false, kSchemeGreen);
    {
        QPainter p(&b);
        DrawXPBorder(p, b.rect(), false, kSchemeGreen);
    }
    EXPECT_EQ(a, b);
}

TEST(XPScheme, applyResolvesTheEffectiveSchemeAndReportsChanges) {
    XPSchemeState s;
    EXPECT_EQ(s.effectiveScheme, kSchemeBlue);
    EXPECT_TRUE(ApplyXPScheme(s, xpOrange));
    EXPECT_EQ(s.xpScheme, xpOrange);
    EXPECT_EQ(s.effectiveScheme, 3);
    EXPECT_FALSE(ApplyXPScheme(s, xpOrange));
    EXPECT_TRUE(ApplyXPScheme(s, xpSilver));
    EXPECT_EQ(s.effectiveScheme, 1);
    EXPECT_TRUE(ApplyXPScheme(s, xpGreen));
    EXPECT_EQ(s.effectiveScheme, 2);
    EXPECT_TRUE(ApplyXPScheme(s, xpAutomatic)); // the desktop here has no visual styles
    EXPECT_EQ(s.xpScheme, xpAutomatic);
    EXPECT_EQ(s.effectiveScheme, DetectXPScheme());
}

TEST(XPScheme, themeChangeRedetectsOnlyForAutomatic) {
    XPSchemeState s;
    ApplyXPScheme(s, xpGreen);
    EXPECT_FALSE(xpThemeChanged(s));
    EXPECT_EQ(s.effectiveScheme, 2);
    s.xpScheme = xpAutomatic; // as if the desktop's scheme had been green
    EXPECT_EQ(xpThemeChanged(s), DetectXPScheme() != 2);
    EXPECT_EQ(s.effectiveScheme, DetectXPScheme());
}

TEST(XPScheme, colourSchemeNamesCompareWithoutCase) {
    EXPECT_EQ(schemeFromColourName("NormalColor"), 0);
    EXPECT_EQ(schemeFromColourName("metallic"), 1);
    EXPECT_EQ(schemeFromColourName("HOMESTEAD"), 2);
    EXPECT_EQ(schemeFromColourName("Royale"), 0);
}
