#include "controls/shaded_progress_bar.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace controls;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kShape = qRgb(0, 60, 116);
const QRgb kTransparent = 0;

// The busy window's bar, set up in the order of its layout.
std::unique_ptr<TShadedProgressBar> busyBar(int position) {
    auto bar = std::make_unique<TShadedProgressBar>();
    bar->resize(161, 16);
    bar->setOrientation(TBarOrientation::boHorizontal);
    bar->setBarKind(TBarKind::bkCylinder);
    bar->setBarLook(TBarLook::blGlass);
    bar->setRoundCorner(true);
    bar->setBackgroundColor(rgb(255, 255, 255));
    bar->setBarColor(rgb(0, 0, 255));
    bar->setStartColor(rgb(0, 0, 255));
    bar->setFinalColor(rgb(255, 0, 0));
    bar->setShowInactivePos(false);
    bar->setInactivePosColor(rgb(128, 128, 128));
    bar->setShaped(true);
    bar->setShapeColor(rgb(0, 60, 116));
    bar->setBlockSize(3);
    bar->setSpaceSize(1);
    bar->setMaximum(100);
    bar->setPosition(position);
    return bar;
}

QRgb px(TShadedProgressBar& bar, int x, int y) { return bar.renderImage().pixel(x, y); }

// Rows 3 … 12 of column x, one character each: '#' when the pixel equals `painted`, '.' for
// the white background, '?' otherwise.
std::string columnArt(TShadedProgressBar& bar, int x, const std::vector<QRgb>& painted) {
    const QImage& image = bar.renderImage();
    std::string art;
    for (int y = 3; y <= 12; ++y) {
        const QRgb p = image.pixel(x, y);
        art += p == painted[static_cast<std::size_t>(y)] ? '#' : p == kWhite ? '.' : '?';
    }
    return art;
}

// Which of the columns first … last are painted ('#') or left white ('.'), judged on row 7.
std::string rowArt(TShadedProgressBar& bar, int first, int last) {
    const QImage& image = bar.renderImage();
    std::string art;
    for (int x = first; x <= last; ++x)
        art += image.pixel(x, 7) == kWhite ? '.' : '#';
    return art;
}

} // namespace

TEST(ShadedProgressBar, defaultsOfAFreshBar) {
    TShadedProgressBar bar;
    EXPECT_EQ(bar.width(), 64);
    EXPECT_EQ(bar.height(), 16);
    EXPECT_EQ(bar.barKind(), TBarKind::bkFlat);
    EXPECT_EQ(bar.barLook(), TBarLook::blMetal);
    EXPECT_TRUE(bar.roundCorner());
    EXPECT_EQ(bar.startColor(), rgb(0, 255, 0));
    EXPECT_EQ(bar.finalColor(), rgb(0, 255, 0));
    EXPECT_EQ(bar.shapeColor(), Colour(7617536));
    EXPECT_EQ(bar.inactivePosColor(), rgb(128, 128, 128));
    EXPECT_EQ(bar.maximum(), 100);
    EXPECT_EQ(bar.position(), 0);
    EXPECT_FALSE(bar.blocksOn());
    EXPECT_EQ(bar.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(bar.barGeometry().margin, 2);
    EXPECT_EQ(bar.barGeometry().barLength, 60);
}

TEST(ShadedProgressBar, busyBarColoursAtFirstMiddleAndLastColumn) {
    auto bar = busyBar(100);
    EXPECT_EQ(bar->pixelPos(), 157);
    EXPECT_EQ(px(*bar, 3, 3), qRgb(174, 172, 255));
    EXPECT_EQ(px(*bar, 3, 7), qRgb(96, 91, 255));
    EXPECT_EQ(px(*bar, 3, 12), qRgb(122, 119, 255));
    EXPECT_EQ(px(*bar, 157, 3), qRgb(255, 172, 172));
    EXPECT_EQ(px(*bar, 157, 7), qRgb(255, 91, 91));
    EXPECT_EQ(px(*bar, 157, 12), qRgb(255, 119, 119));
    // Column 78 is a gap; without blocks it shows base (126, 0, 129), HLS (199, 61, 240),
    // at glass lightness 163 in row 7.
    EXPECT_EQ(px(*bar, 78, 7), kWhite);
    bar->setBlockSize(0);
    EXPECT_EQ(px(*bar, 78, 7), qRgb(251, 91, 255));
    // Rows 1, 2, 13 and 14 lie inside the outline but outside the bar.
    for (int y : {1, 2, 13, 14})
        EXPECT_EQ(px(*bar, 80, y), kWhite) << y;
}

TEST(ShadedProgressBar, positionsMapToFilledLength) {
    auto bar = busyBar(0);
    const std::pair<int, int> cases[] = {{1, 5}, {2, 5}, {3, 5}, {4, 6}, {50, 78}, {99, 155}, {100, 157}, {102, 157}};
    for (auto [position, pixelPos] : cases) {
        bar->setPosition(position);
        EXPECT_EQ(bar->pixelPos(), pixelPos) << position;
        EXPECT_EQ(bar->position(), position);
    }
    bar->setPosition(-7);
    EXPECT_EQ(bar->pixelPos(), 0);
    EXPECT_EQ(bar->position(), -7);
}

TEST(ShadedProgressBar, emptyBarPaintsOnlyTheOutlineBox) {
    auto bar = busyBar(0);
    const QImage& image = bar->renderImage();
    for (int y = 1; y <= 14; ++y)
        for (int x = 3; x <= 157; ++x)
            ASSERT_EQ(image.pixel(x, y), kWhite) << x << "," << y;
    // outline on the outermost pixels, corners cut by the rounding
    EXPECT_EQ(image.pixel(80, 0), kShape);
    EXPECT_EQ(image.pixel(80, 15), kShape);
    EXPECT_EQ(image.pixel(0, 8), kShape);
    EXPECT_EQ(image.pixel(160, 8), kShape);
    EXPECT_EQ(image.pixel(0, 0), kTransparent);
    EXPECT_EQ(image.pixel(160, 15), kTransparent);

    bar->setRoundCorner(false);
    EXPECT_FALSE(bar->roundCorner());
    EXPECT_EQ(px(*bar, 0, 0), kShape);
    EXPECT_EQ(px(*bar, 160, 15), kShape);

    bar->setShaped(false);
    EXPECT_EQ(px(*bar, 80, 0), kTransparent);
    EXPECT_EQ(px(*bar, 80, 1), kTransparent);
}

TEST(ShadedProgressBar, firstPositionPaintsTheFirstBlockOnly) {
    auto bar = busyBar(1);
    EXPECT_EQ(rowArt(*bar, 1, 12), "..###.......");
    bar->setPosition(3);
    EXPECT_EQ(rowArt(*bar, 1, 12), "..###.......");
    bar->setPosition(4); // pixelPos 6: the gap after the first block
    EXPECT_EQ(rowArt(*bar, 1, 12), "..###.......");
    bar->setPosition(5); // 7.85 → 8
    EXPECT_EQ(rowArt(*bar, 1, 12), "..###.##....");
}

TEST(ShadedProgressBar, gapsBetweenBlocksStayUnpainted) {
    auto bar = busyBar(100);
    EXPECT_EQ(rowArt(*bar, 3, 18), "###.###.###.###.");
    const std::vector<QRgb> column3 = bar->colourTables().colourColumns[3];
    for (int x : {6, 10, 14, 154})
        EXPECT_EQ(columnArt(*bar, x, column3), "..........") << x;
    // the last blocks 151–153 and 155–157, then background and the outline at 160
    EXPECT_EQ(rowArt(*bar, 150, 160), ".###.###..#");
}

TEST(ShadedProgressBar, middlePositionTiesToEvenPixel) {
    auto bar = busyBar(50); // 78.5 → 78, itself a gap
    EXPECT_EQ(bar->pixelPos(), 78);
    EXPECT_EQ(rowArt(*bar, 71, 82), "###.###.....");
    bar->setPosition(51); // 80.07 → 80
    EXPECT_EQ(rowArt(*bar, 71, 82), "###.###.##..");
}

TEST(ShadedProgressBar, flatBarHasOneColourPerColumn) {
    auto bar = busyBar(100);
    bar->setBarKind(TBarKind::bkFlat);
    bar->setBlockSize(0); // column 78 is a gap otherwise
    for (int y = 3; y <= 12; ++y) {
        EXPECT_EQ(px(*bar, 3, y), qRgb(4, 0, 251)) << y;
        EXPECT_EQ(px(*bar, 78, y), qRgb(126, 0, 129)) << y;
        EXPECT_EQ(px(*bar, 157, y), qRgb(255, 0, 0)) << y;
    }
    bar->setBarColor(rgb(0, 128, 0));
    for (int x : {3, 78, 157})
        EXPECT_EQ(px(*bar, x, 7), qRgb(0, 128, 0)) << x;
}

TEST(ShadedProgressBar, metalLookShiftsTheColumnsOwnLightness) {
    auto bar = busyBar(100);
    bar->setBarLook(TBarLook::blMetal);
    // Column 3: HLS (161, 118, 240); rows 3, 7, 12: f = 200.7, 162.7, 176.3 →
    // lightness 200 + 118 − 212 = 106, 68 and 82.
    EXPECT_EQ(px(*bar, 3, 3), qRgb(5, 0, 225));
    EXPECT_EQ(px(*bar, 3, 7), qRgb(3, 0, 145));
    EXPECT_EQ(px(*bar, 3, 12), qRgb(4, 0, 174));
}

TEST(ShadedProgressBar, verticalBarFillsFromTheBottom) {
    auto bar = busyBar(50);
    bar->setOrientation(TBarOrientation::boVertical);
    ASSERT_EQ(bar->width(), 16);
    ASSERT_EQ(bar->height(), 161);
    EXPECT_EQ(bar->barGeometry().margin, 2);
    EXPECT_EQ(bar->barGeometry().barLength, 157);
    bar->setPosition(50);
    ASSERT_EQ(bar->pixelPos(), 78);
    // Row 154 is the first block's top row from the bottom; its base colour is
    // 255 × 154/157 → (250, 0, 5), HLS (239, 118, 240).
    EXPECT_EQ(px(*bar, 7, 154), qRgb(255, 91, 96));
    EXPECT_EQ(px(*bar, 3, 154), qRgb(255, 172, 174));
    // The two rows below the first block fall in a gap; rows 151, 147, … are gaps.
    for (int y : {155, 156, 151, 147})
        EXPECT_EQ(px(*bar, 7, y), kWhite) << y;
    // Filled down to row 161 − 78 = 83, which is a gap; 84 is painted, 82 is not.
    EXPECT_NE(px(*bar, 7, 84), kWhite);
    EXPECT_EQ(px(*bar, 7, 82), kWhite);
    EXPECT_EQ(px(*bar, 7, 80), kWhite);

    bar->setOrientation(TBarOrientation::boHorizontal);
    EXPECT_EQ(bar->width(), 161);
    EXPECT_EQ(bar->height(), 16);
}

TEST(ShadedProgressBar, inactivePartAndItsInversion) {
    auto bar = busyBar(50);
    bar->setShowInactivePos(true);
    // Grey, glass row 7: lightness 163 → 173; row 3: 201 → 213. Gaps stay white.
    EXPECT_EQ(px(*bar, 100, 7), qRgb(173, 173, 173));
    EXPECT_EQ(px(*bar, 100, 3), qRgb(213, 213, 213));
    EXPECT_EQ(px(*bar, 157, 7), qRgb(173, 173, 173));
    EXPECT_EQ(px(*bar, 82, 7), kWhite);
    // the filled part keeps its colours
    EXPECT_EQ(px(*bar, 77, 7), bar->colourTables().colourColumns[77][7]);
    EXPECT_NE(px(*bar, 77, 7), qRgb(173, 173, 173));

    bar->setInvertInactPos(true); // 240 − 163 = 77 → 81; 240 − 200 = 40 → 42
    EXPECT_EQ(px(*bar, 100, 7), qRgb(81, 81, 81));
    EXPECT_EQ(px(*bar, 100, 3), qRgb(42, 42, 42));

    bar->setBarKind(TBarKind::bkFlat); // inversion only shades a cylinder
    EXPECT_EQ(px(*bar, 100, 7), qRgb(128, 128, 128));

    // An empty bar is inactive from column 3 on.
    bar->setPosition(0);
    EXPECT_EQ(rowArt(*bar, 1, 8), "..###.##");
}

TEST(ShadedProgressBar, fullBlocksOnlyOnceTheFillCoversThem) {
    auto bar = busyBar(48); // 75.36 → 75: block 75–77 not yet covered
    bar->setShowFullBlock(true);
    EXPECT_EQ(bar->pixelPos(), 75);
    EXPECT_EQ(rowArt(*bar, 67, 80), "###.###.......");
    bar->setPosition(49); // 76.93 → 77
    EXPECT_EQ(rowArt(*bar, 67, 80), "###.###.###...");

    // With the inactive part shown, the uncovered block is painted inactive.
    bar->setPosition(48);
    bar->setShowInactivePos(true);
    EXPECT_EQ(px(*bar, 75, 7), qRgb(173, 173, 173));
    EXPECT_NE(px(*bar, 73, 7), qRgb(173, 173, 173));
}

TEST(ShadedProgressBar, thinBarGetsMarginOneButBlocksStillStartAtThree) {
    TShadedProgressBar bar;
    bar.resize(64, 8);
    bar.setOrientation(TBarOrientation::boHorizontal);
    EXPECT_EQ(bar.barGeometry().margin, 1);
    EXPECT_EQ(bar.barGeometry().inset, 2);
    EXPECT_EQ(bar.barGeometry().barLength, 62);
    EXPECT_EQ(bar.barGeometry().thickness, 7);
    bar.setPosition(100);
    // Without blocks the fill starts at index 1 in both directions: rows 1 … 6.
    EXPECT_EQ(bar.renderImage().pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(bar.renderImage().pixel(62, 6), qRgb(0, 255, 0));
    EXPECT_NE(bar.renderImage().pixel(63, 6), qRgb(0, 255, 0));
    bar.setBlockSize(3);
    bar.setSpaceSize(1);
    EXPECT_EQ(bar.renderImage().pixel(1, 3), kWhite);
    EXPECT_EQ(bar.renderImage().pixel(3, 3), qRgb(0, 255, 0));
}

TEST(ShadedProgressBar, blockSizesLargerThanTheBarAreIgnoredNegativeMadePositive) {
    TShadedProgressBar bar; // 64 wide, margin 2: at most 60
    bar.setBlockSize(61);
    EXPECT_EQ(bar.blockSize(), 0);
    bar.setBlockSize(-4);
    EXPECT_EQ(bar.blockSize(), 4);
    bar.setSpaceSize(-100);
    EXPECT_EQ(bar.spaceSize(), 0);
    bar.setSpaceSize(60);
    EXPECT_EQ(bar.spaceSize(), 60);
    EXPECT_TRUE(bar.blocksOn());
    bar.setPosition(100);
    (void)bar.renderImage(); // a gap longer than the bar: only the first block
    EXPECT_EQ(bar.blockMap().size(), 61u);
}

TEST(ShadedProgressBar, positionAboveMaximumDrawsFullAndMaximumZeroOnlyStores) {
    auto bar = busyBar(102);
    EXPECT_EQ(bar->position(), 102);
    EXPECT_EQ(bar->pixelPos(), 157);
    EXPECT_EQ(px(*bar, 157, 7), qRgb(255, 91, 91));

    bar->setMaximum(-5);
    EXPECT_EQ(bar->maximum(), 0);
    bar->setPosition(10);
    EXPECT_EQ(bar->position(), 10);
    EXPECT_EQ(bar->pixelPos(), 157); // nothing recomputed
    bar->setMaximum(200);
    EXPECT_EQ(bar->pixelPos(), 157); // not until the next position
    bar->setPosition(100);
    EXPECT_EQ(bar->pixelPos(), 78);
}

TEST(ShadedProgressBar, positionChangesNeverRebuildTheColourTables) {
    auto bar = busyBar(0);
    const int builds = bar->colourTableBuilds();
    for (int p = 0; p <= 102; p += 3) {
        bar->setPosition(p);
        (void)bar->renderImage();
    }
    EXPECT_EQ(bar->colourTableBuilds(), builds);
    bar->setFinalColor(rgb(0, 255, 0));
    EXPECT_EQ(bar->colourTableBuilds(), builds + 1);
    bar->resize(100, 16);
    (void)bar->renderImage();
    EXPECT_EQ(bar->colourTableBuilds(), builds + 2);
    EXPECT_EQ(bar->barGeometry().barLength, 96);
    EXPECT_EQ(bar->colourTables().colourColumns.size(), 97u);
}

TEST(ShadedProgressBar, autoHintAndCaptionShowPositionOrPercent) {
    auto bar = busyBar(0);
    bar->setMaximum(200);
    bar->setAutoHint(true);
    bar->setPosition(50);
    EXPECT_EQ(bar->toolTip(), QStringLiteral("50"));
    bar->setShowPosAsPct(true);
    bar->setPosition(50);
    EXPECT_EQ(bar->toolTip(), QLocale().toString(25.0, 'g', 15) + QStringLiteral(" %"));
    bar->setMaximum(3);
    bar->setPosition(1);
    EXPECT_EQ(bar->toolTip(), QLocale().toString(100.0 / 3, 'g', 15) + QStringLiteral(" %"));
    EXPECT_EQ(bar->toolTip().size(), 18); // 15 significant digits, separator, " %"

    bar->setAutoCaption(true);
    (void)bar->renderImage();
    EXPECT_EQ(bar->caption(), QLocale().toString(100.0 / 3, 'g', 15) + QStringLiteral("%"));
    bar->setShowPosAsPct(false);
    (void)bar->renderImage();
    EXPECT_EQ(bar->caption(), QStringLiteral("1"));

    // Emptying the bar resets the percentage rather than showing the last one.
    bar->setShowPosAsPct(true);
    bar->setPosition(0);
    EXPECT_EQ(bar->percent(), 0.0);
    EXPECT_EQ(bar->toolTip(), QStringLiteral("0 %"));
}

TEST(ShadedProgressBar, captionPlacementFollowsAlignment) {
    auto bar = busyBar(0);
    bar->setCaption(QStringLiteral("42%"));
    EXPECT_EQ(bar->captionX(), 0);
    EXPECT_GE(bar->captionY(), 0);
    EXPECT_LT(bar->captionY(), 8);
    bar->setCaptionAlign(TShadedProgressBar::TAlignment::taCenter);
    const int centre = bar->captionX();
    bar->setCaptionAlign(TShadedProgressBar::TAlignment::taRightJustify);
    const int right = bar->captionX();
    EXPECT_GT(centre, 40);
    EXPECT_GT(right, centre);
    EXPECT_LT(right, 160);
    // The caption's pixels are drawn over the bar: the image changes where the text is.
    const QImage before = bar->renderImage().copy();
    bar->setCaption(QString());
    EXPECT_NE(bar->renderImage(), before);
}

TEST(ShadedProgressBar, hideOnTerminateHidesShortlyAfterReachingMaximum) {
    auto bar = busyBar(0);
    bar->setHideOnTerminate(true);
    bar->show();
    bar->setPosition(100);
    EXPECT_TRUE(bar->isVisible()); // the full bar is shown first
    QTRY_VERIFY_WITH_TIMEOUT(!bar->isVisible(), 5000);

    // Leaving the maximum before the delay has passed keeps the bar.
    bar->show();
    bar->setPosition(100);
    bar->setPosition(50);
    QTest::qWait(300);
    EXPECT_TRUE(bar->isVisible());
}

TEST(ShadedProgressBar, tinyAndOddSizesPaintWithoutReadingOutsideTheTables) {
    for (auto orientation : {TBarOrientation::boHorizontal, TBarOrientation::boVertical}) {
        for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(3, 3), QSize(5, 40), QSize(40, 5), QSize(9, 9)}) {
            ShadedProgressBarLayout layout = busyWindowBarLayout(0);
            layout.bounds = QRect(QPoint(0, 0), size);
            layout.orientation = orientation;
            layout.showInactivePos = true;
            layout.showFullBlock = true;
            TShadedProgressBar bar;
            applyLayout(bar, layout);
            for (int position : {-1, 0, 1, 50, 100, 102}) {
                bar.setPosition(position);
                const QImage& image = bar.renderImage();
                EXPECT_EQ(image.size(), bar.size());
                EXPECT_GE(bar.pixelPos(), 0);
                EXPECT_LE(bar.pixelPos(), std::max(bar.barGeometry().barLength, 0));
            }
            // resizing back to a normal bar rebuilds everything
            bar.resize(orientation == TBarOrientation::boHorizontal ? QSize(161, 16) : QSize(16, 161));
            bar.setPosition(100);
            EXPECT_NE(bar.renderImage().pixel(orientation == TBarOrientation::boHorizontal ? 3 : 7,
                                              orientation == TBarOrientation::boHorizontal ? 7 : 150),
                      kWhite);
        }
    }
}
