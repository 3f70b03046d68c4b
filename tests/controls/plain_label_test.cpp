#include "controls/plain_label.h"
#include "tests/controls/pixel_art.h"

#include <gtest/gtest.h>

#include <set>

using namespace controls;
using namespace controls::test;

namespace {

// The colours of the pixels the label drew, and the top left of each colour's pixels.
struct Ink {
    std::set<QRgb> colours;
    std::map<QRgb, QPoint> topLeft;
};

Ink inkOf(const QImage& img) {
    Ink ink;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            if (qAlpha(p) == 0)
                continue;
            auto [at, added] = ink.topLeft.try_emplace(p, x, y);
            at->second = QPoint(std::min(at->second.x(), x), std::min(at->second.y(), y));
            ink.colours.insert(p);
        }
    return ink;
}

} // namespace

// Enabled: the caption in the window-text colour. Disabled: embossed, a highlight copy
// one pixel right and down under a copy in the button-shadow colour, and no black.
TEST(PlainLabel, disabledCaptionIsEmbossedInHighlightAndShadow) {
    TLabel label(QStringLiteral("Путь к папке систем"));
    label.setFont(defaultUiFont());
    label.adjustSize();
    EXPECT_EQ(inkOf(label.renderImage()).colours, std::set<QRgb>{px(0, 0, 0)});

    label.setEnabled(false);
    const Ink ink = inkOf(label.renderImage());
    const QRgb highlight = px(255, 255, 255), shadow = px(172, 168, 153);
    EXPECT_EQ(ink.colours, (std::set<QRgb>{highlight, shadow}));
    ASSERT_EQ(ink.topLeft.size(), 2u);
    EXPECT_EQ(ink.topLeft.at(highlight), ink.topLeft.at(shadow) + QPoint(1, 1));
}
