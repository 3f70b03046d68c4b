// Pixels of the push button in every state and scheme, with the expected colours worked
// out here from the drawing rules: face and ring gradients, border lines, corner pixels.
#include "controls/xp_button.h"
#include "tests/controls/pixel_art.h"

#include <gtest/gtest.h>

#include <set>

using namespace controls;
using namespace controls::test;

namespace {

constexpr int kW = 97, kH = 25;

struct Ramp {
    Colour top, bottom;
};

// Row y of a dithered top-to-bottom gradient `height` rows tall, when the scatter span
// height / (steps − 1) is at most 1: the first row of each band takes the previous entry.
QRgb gradientRow(Ramp ramp, int steps, int height, int y) {
    EXPECT_LE(height / (steps - 1), 1);
    const auto t = gradientColours(ramp.top, ramp.bottom, steps, 1);
    int band = 0;
    for (int i = 0; i < steps; ++i)
        if (MulDiv(i, height, steps) <= y)
            band = i;
    const bool firstRow = MulDiv(band, height, steps) == y;
    return t[std::size_t(firstRow && band > 0 ? band - 1 : band)];
}

// The colour tables as the button's documentation gives them, per scheme.
const Ramp kNormal[4] = {{rgb(255, 255, 255), rgb(239, 235, 231)},
                         {rgb(253, 253, 253), rgb(205, 204, 223)},
                         {rgb(254, 255, 242), rgb(243, 238, 219)},
                         {rgb(255, 244, 234), rgb(251, 181, 111)}};
const Ramp kHot[4] = {{rgb(255, 255, 255), rgb(239, 235, 231)},
                      {rgb(253, 253, 253), rgb(214, 215, 231)},
                      {rgb(254, 255, 242), rgb(243, 238, 219)},
                      {rgb(255, 244, 234), rgb(252, 191, 131)}};
const Ramp kPressed[4] = {{rgb(217, 216, 206), rgb(228, 228, 228)},
                          {rgb(205, 204, 223), rgb(253, 253, 253)},
                          {rgb(236, 227, 204), rgb(236, 227, 204)},
                          {rgb(251, 181, 111), rgb(255, 244, 234)}};
const Ramp kDisabled[4] = {{rgb(255, 255, 255), rgb(239, 235, 231)},
                           {rgb(255, 255, 255), rgb(239, 235, 231)},
                           {rgb(246, 242, 233), rgb(246, 242, 233)},
                           {rgb(246, 242, 233), rgb(246, 242, 233)}};
const Ramp kHotFrame[4] = {{rgb(255, 221, 157), rgb(255, 190, 70)},
                           {rgb(255, 221, 157), rgb(255, 190, 70)},
                           {rgb(255, 211, 130), rgb(231, 150, 0)},
                           {rgb(255, 255, 255), rgb(190, 190, 190)}};
const Ramp kFocusFrame[4] = {{rgb(206, 231, 255), rgb(109, 132, 239)},
                             {rgb(206, 231, 255), rgb(109, 132, 239)},
                             {rgb(194, 216, 156), rgb(141, 180, 71)},
                             {rgb(206, 231, 255), rgb(109, 132, 239)}};

enum class Ring { none, hot, focus };

struct StateCase {
    const char* name;
    ButtonLook look;
    const Ramp* face;
    int inset;
    Ring ring;
};

std::vector<StateCase> stateCases(std::uint8_t scheme) {
    auto look = [&](auto set) {
        ButtonLook l;
        l.scheme = scheme;
        set(l);
        return l;
    };
    return {
        {"normal", look([](ButtonLook&) {}), kNormal, 0, Ring::none},
        {"hot", look([](ButtonLook& l) { l.hot = true; }), kHot, 3, Ring::hot},
        {"pressed", look([](ButtonLook& l) { l.pressed = l.down = l.hot = l.focused = l.defaultNow = true; }), kPressed,
         0, Ring::none},
        {"pressedPointerOutside", look([](ButtonLook& l) { l.down = l.focused = l.defaultNow = true; }), kNormal, 3,
         Ring::hot},
        {"focused", look([](ButtonLook& l) { l.focused = l.defaultNow = true; }), kNormal, 3, Ring::focus},
        {"default", look([](ButtonLook& l) { l.isDefault = l.defaultNow = true; }), kNormal, 3, Ring::focus},
        {"defaultOfAnother", look([](ButtonLook& l) { l.isDefault = true; }), kNormal, 0, Ring::none},
        {"disabled", look([](ButtonLook& l) {
             l.enabled = false;
             l.hot = l.focused = true;
         }),
         kDisabled, 0, Ring::none},
    };
}

QImage paint(const ButtonLook& look) {
    QImage img = blankImage(kW, kH, px(1, 2, 3));
    Canvas c(img);
    ButtonBitmaps bitmaps;
    paintXPButton(c, look, bitmaps);
    return img;
}

} // namespace

TEST(XPButtonPaint, everyStateAndSchemeHasItsFaceRingBorderAndCorners) {
    for (std::uint8_t scheme = 0; scheme < 4; ++scheme) {
        for (const StateCase& sc : stateCases(scheme)) {
            SCOPED_TRACE(std::string(sc.name) + " scheme " + std::to_string(scheme));
            const QImage img = paint(sc.look);
            const bool enabled = sc.look.enabled;
            const QRgb border = toQRgb(!enabled      ? rgb(184, 170, 154)
                                       : scheme == 2 ? rgb(81, 104, 40)
                                                     : rgb(51, 51, 153));
            const QRgb corner = toQRgb(enabled ? rgb(152, 152, 220) : rgb(238, 235, 232));
            const QRgb parent = toQRgb(clBtnFace);

            // face: rows of a 255-step gradient over the face's own height
            const int faceH = kH - 2 * sc.inset;
            for (int y = sc.inset + 1; y < kH - sc.inset - 1; ++y)
                for (int x : {sc.inset + 2, kW / 2, kW - sc.inset - 3})
                    ASSERT_EQ(img.pixel(x, y), gradientRow(sc.face[scheme], 255, faceH, y - sc.inset)) << x << "," << y;

            // ring between border and inset face: a 16-step gradient over the full height
            if (sc.ring != Ring::none) {
                const Ramp frame = sc.ring == Ring::hot ? kHotFrame[scheme] : kFocusFrame[scheme];
                for (int y = 2; y < kH - 2; ++y)
                    for (int x : {1, 2, kW - 3, kW - 2})
                        ASSERT_EQ(img.pixel(x, y), gradientRow(frame, 16, kH, y)) << x << "," << y;
                for (int x = 3; x < kW - 3; ++x) {
                    ASSERT_EQ(img.pixel(x, 1), gradientRow(frame, 16, kH, 1)) << x;
                    ASSERT_EQ(img.pixel(x, kH - 2), gradientRow(frame, 16, kH, kH - 2)) << x;
                }
            }

            // border lines on the outermost pixels, corners aside
            for (int x = 2; x < kW - 2; ++x) {
                ASSERT_EQ(img.pixel(x, 0), border) << x;
                ASSERT_EQ(img.pixel(x, kH - 1), border) << x;
            }
            for (int y = 2; y < kH - 2; ++y) {
                ASSERT_EQ(img.pixel(0, y), border) << y;
                ASSERT_EQ(img.pixel(kW - 1, y), border) << y;
            }

            // corners: parent, then border diagonal inside, softened pixels beside
            const std::map<char, QRgb> art = {{'P', parent}, {'B', border}, {'C', corner}};
            for (auto [x, y] : {std::pair{0, 0}, {kW - 2, 0}, {0, kH - 2}, {kW - 2, kH - 2}}) {
                const bool left = x == 0, top = y == 0;
                const std::string expected = top ? (left ? "PC\nCB" : "CP\nBC") : (left ? "CB\nPC" : "BC\nCP");
                EXPECT_EQ(toArt(img, art, x, y, 2, 2), expected) << "corner at " << x << "," << y;
            }
        }
    }
}

TEST(XPButtonPaint, cornerPixelsShowTheParentColour) {
    ButtonLook look;
    look.parentColour = rgb(10, 20, 30);
    const QImage img = paint(look);
    for (auto [x, y] : {std::pair{0, 0}, {kW - 1, 0}, {0, kH - 1}, {kW - 1, kH - 1}})
        EXPECT_EQ(img.pixel(x, y), px(10, 20, 30));
}

TEST(XPButtonPaint, faceChoiceFollowsStatePrecedence) {
    ButtonLook l;
    EXPECT_EQ(chooseButtonFace(l).inset, 0);
    l.defaultNow = true; // default of the window but Default not set: full size
    EXPECT_EQ(chooseButtonFace(l).inset, 0);
    l.isDefault = true;
    EXPECT_EQ(chooseButtonFace(l).inset, 3);
    l.hot = true;
    EXPECT_EQ(chooseButtonFace(l).face, ButtonFace::bfHot);
    l.down = true; // a press in progress wins over hover
    EXPECT_EQ(chooseButtonFace(l).face, ButtonFace::bfNormal);
    l.pressed = true;
    EXPECT_EQ(chooseButtonFace(l).face, ButtonFace::bfPressed);
    EXPECT_EQ(chooseButtonFace(l).inset, 0);
    l.enabled = false;
    EXPECT_EQ(chooseButtonFace(l).face, ButtonFace::bfDisabled);
}

TEST(XPButtonPaint, focusRectangleIsDottedTwoPixelsInsideWhenAsked) {
    ButtonLook look;
    look.focused = look.defaultNow = true;
    const QImage plain = paint(look);
    look.drawFocusRect = true;
    const QImage dotted = paint(look);
    int changed = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool onFrame =
                (x >= 2 && x < kW - 2 && (y == 2 || y == kH - 3)) || (y >= 2 && y < kH - 2 && (x == 2 || x == kW - 3));
            const bool inverted = onFrame && (x + y) % 2 == 0;
            const QRgb expected = inverted ? (plain.pixel(x, y) ^ 0x00FFFFFFu) : plain.pixel(x, y);
            ASSERT_EQ(dotted.pixel(x, y), expected) << x << "," << y;
            changed += inverted;
        }
    EXPECT_GT(changed, 100);
    look.focused = false; // only while focused
    look.defaultNow = false;
    ButtonLook unfocused = look;
    unfocused.drawFocusRect = false;
    EXPECT_EQ(paint(look), paint(unfocused));
}

TEST(XPButtonPaint, disabledCaptionIsGreyAndEnabledCaptionUsesTheFontColour) {
    ButtonLook look;
    look.caption = "Save";
    look.fontColour = rgb(200, 0, 0);
    ButtonLook empty = look;
    empty.caption.clear();
    auto captionColours = [](const QImage& withText, const QImage& without) {
        std::set<QRgb> colours;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (withText.pixel(x, y) != without.pixel(x, y))
                    colours.insert(withText.pixel(x, y));
        return colours;
    };
    EXPECT_EQ(captionColours(paint(look), paint(empty)), std::set<QRgb>{px(200, 0, 0)});
    look.enabled = empty.enabled = false;
    EXPECT_EQ(captionColours(paint(look), paint(empty)), std::set<QRgb>{px(184, 170, 154)});
}

TEST(XPButtonPaint, captionStaysInsideItsTextRectangle) {
    ButtonLook look;
    look.caption = "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"; // wider than the button
    ButtonLook empty = look;
    empty.caption.clear();
    const QImage a = paint(look), b = paint(empty);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (x < 2 || x >= kW - 2 || y < 1 || y >= kH - 1) {
                ASSERT_EQ(a.pixel(x, y), b.pixel(x, y)) << x << "," << y;
            }
}

TEST(XPButtonPaint, emptyCaptionDrawsNoText) {
    ButtonLook look;
    const QImage img = paint(look);
    for (int y = 1; y < kH - 1; ++y)
        for (int x = 2; x < kW - 2; ++x)
            ASSERT_EQ(img.pixel(x, y), gradientRow(kNormal[0], 255, kH, y)) << x << "," << y;
}

TEST(XPButtonPaint, wideButtonOfTheMainWindowPaintsItsRing) {
    // the 209-pixel buttons repeat the 16-pixel dither strip across the whole ring
    QImage img = blankImage(209, 25);
    Canvas c(img);
    ButtonBitmaps bitmaps;
    ButtonLook look;
    look.hot = true;
    paintXPButton(c, look, bitmaps);
    for (int x = 3; x < 206; ++x)
        ASSERT_EQ(img.pixel(x, 1), gradientRow(kHotFrame[0], 16, 25, 1)) << x;
    EXPECT_EQ(bitmaps.face.size(), QSize(203, 19));
    EXPECT_EQ(bitmaps.hotFrame.size(), QSize(209, 25));
}
