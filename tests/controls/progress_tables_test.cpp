#include "controls/progress_tables.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace controls;

namespace {

// The busy window's bar: 161 × 16, blue to red, glass cylinder.
ShadingSettings busyShading() {
    ShadingSettings s;
    s.kind = TBarKind::bkCylinder;
    s.look = TBarLook::blGlass;
    s.startColour = qRgb(0, 0, 255);
    s.finalColour = qRgb(255, 0, 0);
    s.singleColour = false;
    return s;
}

ProgressGeometry busyGeometry() { return makeGeometry(marginForThickness(16), 161, 16); }

} // namespace

TEST(HlsShading, convertsPrimariesAndGreysByIntegerRules) {
    EXPECT_EQ(rgbToHls(qRgb(255, 0, 0)), (HlsColour{0, 120, 240}));
    EXPECT_EQ(rgbToHls(qRgb(0, 0, 255)), (HlsColour{160, 120, 240}));
    EXPECT_EQ(rgbToHls(qRgb(255, 255, 255)), (HlsColour{160, 240, 0}));
    // ((128 + 128) × 240 + 255) / 510 = 120; back: 120 × 255 / 240 = 127.
    EXPECT_EQ(rgbToHls(qRgb(128, 128, 128)), (HlsColour{160, 120, 0}));
    EXPECT_EQ(hlsToRgb({160, 120, 0}), qRgb(127, 127, 127));
    EXPECT_EQ(hlsToRgb({0, 120, 240}), qRgb(255, 0, 0));
    EXPECT_EQ(hlsToRgb({80, 120, 240}), qRgb(0, 255, 0));
}

TEST(HlsShading, hueOfBlueWithTouchOfRedWrapsIntoRange) {
    // The busy bar's first column colour.
    EXPECT_EQ(rgbToHls(qRgb(4, 0, 251)), (HlsColour{161, 118, 240}));
    // Magenta-ish red: r is the maximum and b > g, so Bd − Gd is negative and wraps.
    const HlsColour h = rgbToHls(qRgb(255, 0, 10));
    EXPECT_GT(h.hue, 200);
    EXPECT_LE(h.hue, 240);
}

TEST(HlsShading, invertedLightnessMirrorsAroundMiddle) {
    // (174, 172, 255): L = (255 + 172) × 240 + 255) / 510 = 201 → 39 after inversion.
    const QRgb light = qRgb(174, 172, 255);
    EXPECT_EQ(rgbToHls(light).lightness, 201);
    EXPECT_EQ(rgbToHls(invertLightness(light)).lightness, 39);
    EXPECT_EQ(rgbToHls(invertLightness(light)).hue, rgbToHls(light).hue);
}

TEST(HlsShading, glassLightnessRampForThirteenEntries) {
    const int expected[13] = {165, 174, 190, 201, 202, 194, 179, 163, 150, 145, 149, 162, 176};
    for (int j = 0; j < 13; ++j)
        EXPECT_EQ(std::nearbyint(cylinderLightness(j / 13.0L)), expected[j]) << "entry " << j;
    // Glass ignores the colour's own lightness: a dark and a light blue shade alike.
    EXPECT_EQ(cylinderRamp(qRgb(0, 0, 80), 13, TBarLook::blGlass),
              cylinderRamp(qRgb(0, 0, 255), 13, TBarLook::blGlass));
}

TEST(HlsShading, metalShiftsOwnLightnessAndClamps) {
    // Pure blue: L 120; entry 0: trunc(164.6) + 120 − 212 = 72.
    const auto ramp = cylinderRamp(qRgb(0, 0, 255), 13, TBarLook::blMetal);
    ASSERT_EQ(ramp.size(), 13u);
    EXPECT_EQ(ramp[0], hlsToRgb({160, 72, 240}));
    // Entry 4: f(4/13) = 202.4…: 202 + 120 − 212 = 110.
    EXPECT_EQ(ramp[4], hlsToRgb({160, 110, 240}));
    // White (L 240) shifted past the top is limited to 240.
    for (QRgb c : cylinderRamp(qRgb(255, 255, 255), 13, TBarLook::blMetal))
        EXPECT_LE(rgbToHls(c).lightness, 240);
    // Black (L 0): entry 9, f ≈ 145, gives 145 − 212 < 0 → 0.
    EXPECT_EQ(cylinderRamp(qRgb(0, 0, 0), 13, TBarLook::blMetal)[9], qRgb(0, 0, 0));
}

TEST(HlsShading, gradientTruncatesTowardTheStartColour) {
    const QRgb blue = qRgb(0, 0, 255), red = qRgb(255, 0, 0);
    EXPECT_EQ(gradientColour(blue, red, 0, 157, false), blue);
    EXPECT_EQ(gradientColour(blue, red, -5, 157, false), blue);
    EXPECT_EQ(gradientColour(blue, red, 3, 157, false), qRgb(4, 0, 251));    // 255 × 3/157 = 4.87
    EXPECT_EQ(gradientColour(blue, red, 78, 157, false), qRgb(126, 0, 129)); // 126.69
    EXPECT_EQ(gradientColour(blue, red, 157, 157, false), red);
    EXPECT_EQ(gradientColour(blue, red, 200, 157, false), red);
    EXPECT_EQ(gradientColour(blue, red, 78, 157, true), blue);
}

TEST(HlsShading, gradientShareIsRoundedToExtendedPrecisionBeforeTruncation) {
    // 5/7 in a 64-bit mantissa lies just below 5/7, so 21 × 5/7 truncates to 14, not 15
    // (a double share rounds above and gives 15).
    EXPECT_EQ(qRed(gradientColour(qRgb(0, 0, 0), qRgb(21, 0, 0), 5, 7, false)), 14);
    EXPECT_EQ(qRed(gradientColour(qRgb(21, 0, 0), qRgb(0, 0, 0), 5, 7, false)), 7);
    EXPECT_EQ(qGreen(gradientColour(qRgb(0, 0, 0), qRgb(0, 81, 0), 7, 9, false)), 62);
}

TEST(ProgressTables, geometryOfBusyBar) {
    const ProgressGeometry g = busyGeometry();
    EXPECT_EQ(g.margin, 2);
    EXPECT_EQ(g.inset, 4);
    EXPECT_EQ(g.barLength, 157);
    EXPECT_EQ(g.thickness, 13);
    EXPECT_EQ(g.minPixelPos, 5);
    EXPECT_EQ(marginForThickness(9), 1);
}

TEST(ProgressTables, busyBarColoursAtColumnsThreeSeventyEightAndEnd) {
    const ProgressColours t = buildColourTables(busyGeometry(), busyShading());
    ASSERT_EQ(t.colourColumns.size(), 158u);
    ASSERT_EQ(t.colourColumns[3].size(), 13u);
    EXPECT_EQ(t.colourColumns[3][3], qRgb(174, 172, 255));
    EXPECT_EQ(t.colourColumns[3][7], qRgb(96, 91, 255));
    EXPECT_EQ(t.colourColumns[3][12], qRgb(122, 119, 255));
    EXPECT_EQ(t.colourColumns[157][3], qRgb(255, 172, 172));
    EXPECT_EQ(t.colourColumns[157][7], qRgb(255, 91, 91));
    EXPECT_EQ(t.colourColumns[157][12], qRgb(255, 119, 119));

    ShadingSettings flat = busyShading();
    flat.kind = TBarKind::bkFlat;
    const ProgressColours f = buildColourTables(busyGeometry(), flat);
    for (QRgb c : f.colourColumns[78])
        EXPECT_EQ(c, qRgb(126, 0, 129));
    for (QRgb c : f.inactiveColumn)
        EXPECT_EQ(c, qRgb(128, 128, 128));
}

TEST(ProgressTables, equalColoursGiveOneBaseColourEverywhere) {
    ShadingSettings s = busyShading();
    s.kind = TBarKind::bkFlat;
    s.startColour = s.finalColour = qRgb(10, 200, 30);
    s.singleColour = true;
    const ProgressColours t = buildColourTables(busyGeometry(), s);
    for (const auto& column : t.colourColumns)
        for (QRgb c : column)
            ASSERT_EQ(c, qRgb(10, 200, 30));
}

TEST(ProgressTables, invertedInactiveShadingOnlyWithCylinder) {
    ShadingSettings s = busyShading();
    s.invertInactive = true;
    const ProgressColours t = buildColourTables(busyGeometry(), s);
    ASSERT_EQ(t.inactiveColumn.size(), 13u);
    // Grey, glass entry 4: L 202 → 202 × 255 / 240 = 214; back to HLS: L 201, inverted 39,
    // 39 × 255 / 240 = 41.
    EXPECT_EQ(t.inactiveColumn[4], qRgb(41, 41, 41));
    s.kind = TBarKind::bkFlat;
    for (QRgb c : buildColourTables(busyGeometry(), s).inactiveColumn)
        EXPECT_EQ(c, qRgb(128, 128, 128));
}

TEST(ProgressTables, barWithoutRoomAcrossHasOneInactiveEntry) {
    const ProgressGeometry g = makeGeometry(marginForThickness(4), 60, 4); // margin 1, inset 2
    EXPECT_EQ(g.thickness, 3);
    const ProgressGeometry flat = makeGeometry(2, 60, 4); // margin kept at 2: no room
    EXPECT_EQ(buildColourTables(flat, busyShading()).inactiveColumn.size(), 1u);
}

TEST(ProgressTables, positionToPixelRule) {
    EXPECT_EQ(pixelPosition(1, 100, 157, 5).pixelPos, 5);
    EXPECT_EQ(pixelPosition(3, 100, 157, 5).pixelPos, 5);
    EXPECT_EQ(pixelPosition(4, 100, 157, 5).pixelPos, 6);    // 6.28
    EXPECT_EQ(pixelPosition(50, 100, 157, 5).pixelPos, 78);  // 78.5, tie to even
    EXPECT_EQ(pixelPosition(99, 100, 157, 5).pixelPos, 155); // 155.43
    EXPECT_EQ(pixelPosition(100, 100, 157, 5).pixelPos, 157);
    const PixelPosition over = pixelPosition(102, 100, 157, 5);
    EXPECT_EQ(over.pixelPos, 157);
    EXPECT_DOUBLE_EQ(over.percent, 100.0);
    // 7 of 10 on a 15-pixel bar: 10.5 → 10 (even); 9 of 10: 13.5 → 14 (even).
    EXPECT_EQ(pixelPosition(7, 10, 15, 5).pixelPos, 10);
    EXPECT_EQ(pixelPosition(9, 10, 15, 5).pixelPos, 14);
}

TEST(ProgressTables, horizontalBlocksStartAtThreeWithGaps) {
    const BlockMap map = buildBlockMap(TBarOrientation::boHorizontal, 157, 4, 3, 1);
    ASSERT_EQ(map.size(), 158u);
    for (int i : {0, 1, 2, 6, 10, 14, 154})
        EXPECT_FALSE(map[i].visible) << i;
    for (int i : {3, 4, 5, 7, 8, 9, 11, 155, 156, 157})
        EXPECT_TRUE(map[i].visible) << i;
    EXPECT_EQ(map[3].blockEnd, 5);
    EXPECT_EQ(map[5].blockEnd, 5);
    EXPECT_EQ(map[6].blockEnd, 9);
    // Blocks 151–153, 155–157: the last block is limited to the bar's end.
    EXPECT_EQ(map[156].blockEnd, 157);
}

TEST(ProgressTables, verticalBlocksRunDownFromTheTop) {
    const BlockMap map = buildBlockMap(TBarOrientation::boVertical, 40, 4, 3, 1);
    ASSERT_EQ(map.size(), 41u);
    // Blocks 37–35, 33–31, 29–27, …: rows 34, 30, … are gaps.
    for (int i : {40, 39, 38, 34, 30})
        EXPECT_FALSE(map[i].visible) << i;
    for (int i : {37, 36, 35, 33, 31, 29})
        EXPECT_TRUE(map[i].visible) << i;
    EXPECT_EQ(map[37].blockEnd, 35);
    EXPECT_EQ(map[33].blockEnd, 31);
    // 40 − 3 = 37 down in steps of 4: …, 9–7, gap 6, then the block 5–4 is raised to inset.
    EXPECT_TRUE(map[4].visible);
    EXPECT_EQ(map[5].blockEnd, 4);
    EXPECT_FALSE(map[3].visible);
}
