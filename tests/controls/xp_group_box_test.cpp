#include "controls/xp_group_box.h"
#include "tests/controls/pixel_art.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

using namespace controls;
using namespace controls::test;

namespace {

const QRgb kFrame = px(192, 192, 192);
const QRgb kBtnFace = px(236, 233, 216);

// Height of "0" in the font as the canvas draws it (no antialiasing).
int zeroHeight(QFont font) {
    font.setStyleStrategy(QFont::NoAntialias);
    return QFontMetrics(font).height();
}

} // namespace

TEST(XPGroupBox, plainFrameIsARoundedGreyRectangle) {
    TXPGroupBox group;
    group.setFont(defaultUiFont());
    ASSERT_EQ(group.size(), QSize(185, 105));
    const QImage img = group.renderImage();
    const int top = zeroHeight(defaultUiFont()) / 2 - 1;
    ASSERT_GT(top, 2);
    // rounded rectangle (2, top) – (183, 103): top line, bottom line, both sides
    for (int x = 8; x < 177; ++x) {
        EXPECT_EQ(img.pixel(x, top), kFrame) << x;
        EXPECT_EQ(img.pixel(x, 102), kFrame) << x;
        EXPECT_EQ(img.pixel(x, top - 1), kBtnFace) << x;
        EXPECT_EQ(img.pixel(x, top + 1), kBtnFace) << x;
    }
    for (int y = top + 6; y < 97; ++y) {
        EXPECT_EQ(img.pixel(2, y), kFrame) << y;
        EXPECT_EQ(img.pixel(182, y), kFrame) << y;
        EXPECT_EQ(img.pixel(1, y), kBtnFace) << y;
        EXPECT_EQ(img.pixel(183, y), kBtnFace) << y;
    }
    // softened corners: the corner pixel itself stays background
    EXPECT_EQ(img.pixel(2, top), kBtnFace);
    EXPECT_EQ(img.pixel(182, 102), kBtnFace);
    // below and right of the frame: background
    EXPECT_EQ(img.pixel(92, 103), kBtnFace);
    EXPECT_EQ(img.pixel(184, 50), kBtnFace);
}

TEST(XPGroupBox, captionInterruptsTheTopLine) {
    TXPGroupBox group(QStringLiteral("Control panel"));
    group.setFont(defaultUiFont());
    const QImage img = group.renderImage();
    const int top = zeroHeight(defaultUiFont()) / 2 - 1;
    QFont f = defaultUiFont();
    f.setStyleStrategy(QFont::NoAntialias);
    const int textEnd = 10 + QFontMetrics(f).horizontalAdvance(group.title());
    for (int x = 6; x < 10; ++x)
        EXPECT_EQ(img.pixel(x, top), kFrame) << x;
    // on the caption's opaque box only the background and the blue text appear
    for (int x = 10; x < textEnd; ++x) {
        const QRgb p = img.pixel(x, top);
        EXPECT_TRUE(p == kBtnFace || p == px(41, 86, 203)) << x;
    }
    for (int x = textEnd + 1; x < 177; ++x)
        EXPECT_EQ(img.pixel(x, top), kFrame) << x;
}

TEST(XPGroupBox, largerFontMovesTheTopLineDown) {
    TXPGroupBox group;
    // "MS Sans Serif" is a bitmap font of one size; the larger font is a scalable one.
    QFont big = defaultUiFont();
    big.setFamilies({QStringLiteral("DejaVu Sans")});
    big.setPixelSize(30);
    big.setBold(true);
    group.setFont(big);
    const int top = zeroHeight(big) / 2 - 1;
    ASSERT_GT(top, zeroHeight(defaultUiFont()) / 2 - 1);
    const QImage img = group.renderImage();
    EXPECT_EQ(img.pixel(92, top), kFrame);
    EXPECT_EQ(img.pixel(92, top - 1), kBtnFace);
    for (int y = 0; y < top; ++y)
        EXPECT_EQ(img.pixel(2, y), kBtnFace) << y;
}

TEST(XPGroupBox, colourFillsInsideAndOutsideTheFrame) {
    TXPGroupBox group;
    group.setColor(rgb(10, 20, 30));
    const QImage img = group.renderImage();
    EXPECT_EQ(img.pixel(0, 0), px(10, 20, 30));
    EXPECT_EQ(img.pixel(92, 50), px(10, 20, 30));
}
