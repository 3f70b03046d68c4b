#include "controls/canvas.h"
#include "tests/controls/pixel_art.h"

#include <gtest/gtest.h>

#include <set>

using namespace controls;
using namespace controls::test;

namespace {

const QRgb kWhite = px(255, 255, 255);
const QRgb kBlack = px(0, 0, 0);
const QRgb kRed = px(255, 0, 0);
const std::map<char, QRgb> kArt = {{'.', kWhite}, {'#', kBlack}, {'r', kRed}};

} // namespace

TEST(Canvas, lineToOmitsEndPoint) {
    auto img = blankImage(5, 1);
    Canvas c(img);
    c.MoveTo(0, 0);
    c.LineTo(3, 0);
    EXPECT_EQ(toArt(img, kArt), "###..");
}

TEST(Canvas, lineToOmitsEndPointInEveryDirection) {
    auto img = blankImage(5, 5);
    Canvas c(img);
    c.MoveTo(4, 0);
    c.LineTo(4, 3); // down
    c.MoveTo(3, 4);
    c.LineTo(0, 4); // leftwards
    c.MoveTo(0, 0);
    c.LineTo(3, 3); // diagonal
    EXPECT_EQ(toArt(img, kArt),
              "#...#\n"
              ".#..#\n"
              "..#.#\n"
              ".....\n"
              ".###.");
}

TEST(Canvas, lineToLeavesPenAtEndPointAndClearPenDrawsNothing) {
    auto img = blankImage(4, 2);
    Canvas c(img);
    c.setPenStyle(PenStyle::psClear);
    c.MoveTo(0, 0);
    c.LineTo(3, 0);
    c.setPenStyle(PenStyle::psSolid);
    c.setPenColour(rgb(255, 0, 0));
    c.LineTo(3, 2);
    EXPECT_EQ(toArt(img, kArt),
              "...r\n"
              "...r");
}

TEST(Canvas, rectanglesAreHalfOpen) {
    auto img = blankImage(6, 5);
    Canvas c(img);
    c.FillRect({1, 1, 3, 3}, rgb(0, 0, 0));
    c.FrameRect({2, 0, 6, 5}, rgb(255, 0, 0));
    EXPECT_EQ(toArt(img, kArt),
              "..rrrr\n"
              ".#r..r\n"
              ".#r..r\n"
              "..r..r\n"
              "..rrrr");
}

TEST(Canvas, fillsClipToTheImageAndEmptyRectanglesDrawNothing) {
    auto img = blankImage(3, 2);
    Canvas c(img);
    c.FillRect({2, 1, 2, 5}, rgb(0, 0, 0));  // empty
    c.FrameRect({1, 1, 1, 2}, rgb(0, 0, 0)); // empty
    c.FillRect({-4, -4, 1, 9}, rgb(255, 0, 0));
    EXPECT_EQ(toArt(img, kArt),
              "r..\n"
              "r..");
}

TEST(Canvas, rectangleDrawsPenOutlineAndBrushInterior) {
    auto img = blankImage(5, 4);
    Canvas c(img);
    c.setPenColour(rgb(0, 0, 0));
    c.setBrushColour(rgb(255, 0, 0));
    c.Rectangle({0, 0, 4, 4});
    EXPECT_EQ(toArt(img, kArt),
              "####.\n"
              "#rr#.\n"
              "#rr#.\n"
              "####.");
}

TEST(Canvas, rectangleWithoutPenFillsOnePixelLess) {
    auto img = blankImage(4, 3);
    Canvas c(img);
    c.setPenStyle(PenStyle::psClear);
    c.setBrushColour(rgb(255, 0, 0));
    c.Rectangle({0, 0, 4, 3});
    EXPECT_EQ(toArt(img, kArt),
              "rrr.\n"
              "rrr.\n"
              "....");
}

TEST(Canvas, roundRectCutsSymmetricCornersAndFillsInside) {
    auto img = blankImage(10, 8);
    Canvas c(img);
    c.setPenColour(rgb(0, 0, 0));
    c.setBrushColour(rgb(255, 0, 0));
    c.RoundRect({0, 0, 10, 8}, 6, 6);
    EXPECT_EQ(toArt(img, kArt),
              "..######..\n"
              "##rrrrrr##\n"
              "#rrrrrrrr#\n"
              "#rrrrrrrr#\n"
              "#rrrrrrrr#\n"
              "#rrrrrrrr#\n"
              "##rrrrrr##\n"
              "..######..");
}

TEST(Canvas, roundRectWithoutEllipseIsARectangle) {
    auto a = blankImage(6, 5), b = blankImage(6, 5);
    Canvas ca(a), cb(b);
    for (Canvas* c : {&ca, &cb}) {
        c->setPenColour(rgb(0, 0, 0));
        c->setBrushColour(rgb(255, 0, 0));
    }
    ca.RoundRect({1, 0, 6, 5}, 0, 0);
    cb.Rectangle({1, 0, 6, 5});
    EXPECT_EQ(a, b);
}

TEST(Canvas, pixelsOutsideTheImageAreIgnoredAndReadAsInvalid) {
    auto img = blankImage(2, 2);
    Canvas c(img);
    c.SetPixel(-1, 0, rgb(0, 0, 0));
    c.SetPixel(2, 1, rgb(0, 0, 0));
    c.SetPixel(1, 1, rgb(10, 20, 30));
    EXPECT_EQ(c.GetPixel(1, 1), rgb(10, 20, 30));
    EXPECT_EQ(c.GetPixel(0, 0), rgb(255, 255, 255));
    EXPECT_EQ(c.GetPixel(2, 0), kInvalidColour);
    EXPECT_EQ(c.GetPixel(0, -1), kInvalidColour);
}

TEST(Canvas, systemColourCodesResolveWhenDrawing) {
    auto img = blankImage(2, 1);
    Canvas c(img);
    c.SetPixel(0, 0, clBtnFace);
    c.SetPixel(1, 0, clActiveCaption);
    EXPECT_EQ(img.pixel(0, 0), px(236, 233, 216));
    EXPECT_EQ(img.pixel(1, 0), px(0, 84, 227));
}

TEST(Canvas, bitBltClipsAgainstSourceAndTarget) {
    auto source = blankImage(3, 3, kRed);
    auto img = blankImage(4, 3);
    Canvas c(img);
    c.Draw(2, -1, source);
    c.BitBlt(-2, 2, 3, 3, source, 0, 0);
    EXPECT_EQ(toArt(img, kArt),
              "..rr\n"
              "..rr\n"
              "r...");
}

TEST(Canvas, focusRectInvertsEveryOtherFramePixelAndUndoesItself) {
    auto img = blankImage(6, 4);
    const QImage before = img;
    Canvas c(img);
    c.DrawFocusRect({0, 0, 6, 4});
    const std::map<char, QRgb> art = {{'.', kWhite}, {'#', kBlack}};
    EXPECT_EQ(toArt(img, art),
              "#.#.#.\n"
              ".....#\n"
              "#.....\n"
              ".#.#.#");
    c.DrawFocusRect({0, 0, 6, 4});
    EXPECT_EQ(img, before);
}

TEST(CanvasText, calcRectMeasuresWithoutDrawing) {
    auto img = blankImage(80, 30);
    const QImage before = img;
    Canvas c(img);
    Rect r{5, 3, 75, 25};
    const int height = c.DrawText("Save", r, kDtCenter | kDtCalcRect);
    EXPECT_EQ(img, before);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.top, 3);
    EXPECT_EQ(r.width(), c.TextWidth("Save"));
    EXPECT_EQ(r.height(), height);
    EXPECT_EQ(height, c.TextHeight("Save"));
}

TEST(CanvasText, accelaratorPrefixIsNotMeasuredUnlessDisabled) {
    auto img = blankImage(10, 10);
    Canvas c(img);
    Rect withPrefix{0, 0, 10, 10}, plain{0, 0, 10, 10}, noPrefix{0, 0, 10, 10}, doubled{0, 0, 10, 10};
    c.DrawText("Wi&de", withPrefix, kDtCalcRect | kDtSingleLine);
    c.DrawText("Wide", plain, kDtCalcRect | kDtSingleLine);
    c.DrawText("Wi&de", noPrefix, kDtCalcRect | kDtSingleLine | kDtNoPrefix);
    c.DrawText("Wi&&de", doubled, kDtCalcRect | kDtSingleLine);
    EXPECT_EQ(withPrefix.width(), plain.width());
    EXPECT_EQ(noPrefix.width(), c.TextWidth("Wi&de"));
    EXPECT_EQ(doubled.width(), c.TextWidth("Wi&de"));
}

TEST(CanvasText, wordBreakWrapsIntoTheGivenWidth) {
    auto img = blankImage(10, 10);
    Canvas c(img);
    const QString text = "one two three four";
    Rect oneLine{0, 0, 1000, 0}, wrapped{0, 0, c.TextWidth("three four") + 2, 0};
    c.DrawText(text, oneLine, kDtCalcRect | kDtWordBreak);
    c.DrawText(text, wrapped, kDtCalcRect | kDtWordBreak);
    EXPECT_EQ(oneLine.height(), c.TextHeight(text));
    EXPECT_GE(wrapped.height(), 2 * c.TextHeight(text));
    EXPECT_LE(wrapped.width(), c.TextWidth("three four") + 2);
}

TEST(CanvasText, emptyTextMeasuresNothingAndDrawsNothing) {
    auto img = blankImage(20, 20);
    const QImage before = img;
    Canvas c(img);
    Rect r{2, 2, 18, 18};
    EXPECT_EQ(c.DrawText("", r, kDtCalcRect), 0);
    EXPECT_EQ(r, (Rect{2, 2, 2, 2}));
    Rect d{2, 2, 18, 18};
    c.DrawText("", d, kDtCenter);
    EXPECT_EQ(img, before);
    EXPECT_EQ(c.TextWidth(""), 0);
    EXPECT_EQ(c.TextHeight(""), 0);
}

TEST(CanvasText, textStaysInsideItsRectangleInTwoColours) {
    auto img = blankImage(60, 30);
    Canvas c(img);
    c.setBkMode(BkMode::bkTransparent);
    c.setTextColour(rgb(255, 0, 0));
    Rect r{10, 5, 30, 15};
    c.DrawText("WWWWWWWW", r, kDtLeft | kDtSingleLine);
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            colours.insert(img.pixel(x, y));
            if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) {
                ASSERT_EQ(img.pixel(x, y), kWhite) << x << "," << y;
            }
        }
    EXPECT_TRUE(colours.size() <= 2); // no antialiasing shades
}

TEST(CanvasText, opaqueBackgroundFillsTheTextBox) {
    auto img = blankImage(60, 30);
    Canvas c(img);
    c.setBkMode(BkMode::bkOpaque);
    c.setBkColour(rgb(0, 0, 0));
    c.setTextColour(rgb(255, 0, 0));
    Rect r{4, 4, 60, 30};
    c.DrawText("Panel", r, kDtSingleLine);
    // the box's corners are background, whatever the glyphs look like
    EXPECT_EQ(img.pixel(4, 4), kBlack);
    EXPECT_EQ(img.pixel(3, 4), kWhite);
    EXPECT_EQ(img.pixel(4 + c.TextWidth("Panel"), 4), kWhite);
    EXPECT_EQ(img.pixel(4, 4 + c.TextHeight("Panel")), kWhite);
}

TEST(SystemColours, colourValuesKeepRedInTheLowByteAndResolveSystemCodes) {
    EXPECT_EQ(rgb(1, 2, 3), 0x030201u);
    EXPECT_EQ(rgb(0, 60, 116), 7617536u);
    EXPECT_TRUE(isSystemColour(clBtnFace));
    EXPECT_EQ(resolveColour(clBtnFace), rgb(236, 233, 216));
    EXPECT_EQ(resolveColour(clWindowText), rgb(0, 0, 0));
    EXPECT_EQ(resolveColour(clActiveCaption), rgb(0, 84, 227));
    EXPECT_EQ(resolveColour(clMenu), rgb(255, 255, 255));
    EXPECT_EQ(resolveColour(rgb(9, 8, 7)), rgb(9, 8, 7));
    EXPECT_EQ(resolveColour(systemColour(200)), rgb(0, 0, 0));
    EXPECT_EQ(toQRgb(rgb(1, 2, 3)), qRgb(1, 2, 3));
    EXPECT_EQ(fromQRgb(qRgb(1, 2, 3)), rgb(1, 2, 3));
}

namespace {

// Left and top edge of the pixels in one colour; (-1, -1) when there are none.
QPoint inkOrigin(const QImage& img, QRgb colour) {
    int left = -1, top = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == colour) {
                left = left < 0 ? x : std::min(left, x);
                top = top < 0 ? y : top;
            }
    return {left, top};
}

QPoint inkOriginFor(unsigned flags, Rect r) {
    auto img = blankImage(120, 40);
    Canvas c(img);
    c.setBkMode(BkMode::bkTransparent);
    c.setTextColour(rgb(255, 0, 0));
    c.DrawText("Kestrane", r, flags);
    return inkOrigin(img, kRed);
}

} // namespace

TEST(CanvasText, alignmentPlacesTheTextBoxInWholePixels) {
    auto probe = blankImage(1, 1);
    Canvas c(probe);
    Rect extent{0, 0, 0, 0};
    c.DrawText("Kestrane", extent, kDtSingleLine | kDtCalcRect);
    const Rect r{3, 2, 104, 37}; // 101 × 35: odd remainders both ways
    const QPoint left = inkOriginFor(kDtLeft | kDtSingleLine, r);
    ASSERT_GE(left.x(), 0);
    const int dx = (r.width() - extent.width()) / 2, dy = (r.height() - extent.height()) / 2;
    EXPECT_EQ(inkOriginFor(kDtCenter | kDtSingleLine, r), left + QPoint(dx, 0));
    EXPECT_EQ(inkOriginFor(kDtRight | kDtSingleLine, r), left + QPoint(r.width() - extent.width(), 0));
    EXPECT_EQ(inkOriginFor(kDtVCenter | kDtSingleLine, r), left + QPoint(0, dy));
    EXPECT_EQ(inkOriginFor(kDtBottom | kDtSingleLine, r), left + QPoint(0, r.height() - extent.height()));
    // without kDtSingleLine the vertical flags do nothing
    EXPECT_EQ(inkOriginFor(kDtVCenter, r), left);
}
