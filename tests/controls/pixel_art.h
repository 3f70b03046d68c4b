// Pixel helpers for the control tests: blank images and ASCII art of an image's pixels,
// one character per colour.
#pragma once

#include "controls/system_colours.h"

#include <QImage>

#include <map>
#include <string>

namespace controls::test {

inline QImage blankImage(int width, int height, QRgb fill = qRgb(255, 255, 255)) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

// Rows of the rectangle (x, y, w, h) as text, rows joined by '\n'; each pixel becomes the
// legend character of its colour, '?' when its colour is not in the legend.
inline std::string toArt(const QImage& image, const std::map<char, QRgb>& legend, int x, int y, int w, int h) {
    std::string art;
    for (int j = y; j < y + h; ++j) {
        if (j > y)
            art += '\n';
        for (int i = x; i < x + w; ++i) {
            const QRgb p = image.pixel(i, j) | 0xFF000000u;
            char c = '?';
            for (const auto& [ch, colour] : legend)
                if ((colour | 0xFF000000u) == p)
                    c = ch;
            art += c;
        }
    }
    return art;
}

inline std::string toArt(const QImage& image, const std::map<char, QRgb>& legend) {
    return toArt(image, legend, 0, 0, image.width(), image.height());
}

inline QRgb px(int r, int g, int b) { return qRgb(r, g, b); }

} // namespace controls::test
