#include "controls/hls_shading.h"

#include <algorithm>
#include <cmath>

namespace controls {

namespace {

constexpr int kHlsMax = 240;
constexpr int kRgbMax = 255;
constexpr int kUndefinedHue = kHlsMax * 2 / 3; // hue of greys

int wrapHue(int h) {
    if (h < 0)
        h += kHlsMax;
    if (h > kHlsMax)
        h -= kHlsMax;
    return h;
}

// One channel of HLS → RGB on the 0 … 240 scale, between the two magic values a ≤ b.
int hueToChannel(int a, int b, int h) {
    h = wrapHue(h);
    if (h < kHlsMax / 6)
        return a + ((b - a) * h + kHlsMax / 12) / (kHlsMax / 6);
    if (h < kHlsMax / 2)
        return b;
    if (h < kHlsMax * 2 / 3)
        return a + ((b - a) * (kHlsMax * 2 / 3 - h) + kHlsMax / 12) / (kHlsMax / 6);
    return a;
}

int toRgbScale(int v) { return (v * kRgbMax + kHlsMax / 2) / kHlsMax; }

int clampByte(int v) { return std::clamp(v, 0, kRgbMax); }

int gradientChannel(int start, int final, long double ratio) {
    if (start < final)
        return start + static_cast<int>(std::trunc(static_cast<long double>(final - start) * ratio));
    if (start > final)
        return start - static_cast<int>(std::trunc(static_cast<long double>(start - final) * ratio));
    return start;
}

} // namespace

HlsColour rgbToHls(QRgb colour) {
    const int r = qRed(colour), g = qGreen(colour), b = qBlue(colour);
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    HlsColour hls;
    hls.lightness = ((mx + mn) * kHlsMax + kRgbMax) / (2 * kRgbMax);
    if (mx == mn) {
        hls.saturation = 0;
        hls.hue = kUndefinedHue;
        return hls;
    }
    const int d = mx - mn;
    const int s = mx + mn;
    if (hls.lightness <= kHlsMax / 2)
        hls.saturation = (d * kHlsMax + s / 2) / s;
    else
        hls.saturation = (d * kHlsMax + (2 * kRgbMax - s) / 2) / (2 * kRgbMax - s);
    const int rd = ((mx - r) * (kHlsMax / 6) + d / 2) / d;
    const int gd = ((mx - g) * (kHlsMax / 6) + d / 2) / d;
    const int bd = ((mx - b) * (kHlsMax / 6) + d / 2) / d;
    int h;
    if (r == mx)
        h = bd - gd;
    else if (g == mx)
        h = kHlsMax / 3 + rd - bd;
    else
        h = kHlsMax * 2 / 3 + gd - rd;
    hls.hue = wrapHue(h);
    return hls;
}

QRgb hlsToRgb(HlsColour hls) {
    const int l = hls.lightness, s = hls.saturation, h = hls.hue;
    if (s == 0) {
        const int v = clampByte(l * kRgbMax / kHlsMax);
        return qRgb(v, v, v);
    }
    const int m2 =
        l <= kHlsMax / 2 ? (l * (kHlsMax + s) + kHlsMax / 2) / kHlsMax : l + s - (l * s + kHlsMax / 2) / kHlsMax;
    const int m1 = 2 * l - m2;
    return qRgb(clampByte(toRgbScale(hueToChannel(m1, m2, h + kHlsMax / 3))),
                clampByte(toRgbScale(hueToChannel(m1, m2, h))),
                clampByte(toRgbScale(hueToChannel(m1, m2, h - kHlsMax / 3))));
}

QRgb invertLightness(QRgb colour) {
    HlsColour hls = rgbToHls(colour);
    hls.lightness = kHlsMax - hls.lightness;
    return hlsToRgb(hls);
}

QRgb gradientColour(QRgb start, QRgb final, int index, int barLength, bool singleColour) {
    if (singleColour || index <= 0)
        return qRgb(qRed(start), qGreen(start), qBlue(start));
    if (index >= barLength)
        return qRgb(qRed(final), qGreen(final), qBlue(final));
    const long double ratio = static_cast<long double>(index) / static_cast<long double>(barLength);
    return qRgb(gradientChannel(qRed(start), qRed(final), ratio), gradientChannel(qGreen(start), qGreen(final), ratio),
                gradientChannel(qBlue(start), qBlue(final), ratio));
}

long double cylinderLightness(long double x) {
    const long double x2 = x * x;
    const long double x3 = x2 * x;
    const long double x4 = x3 * x;
    const long double x5 = x4 * x;
    return -4342.9L * x5 + 10543.0L * x4 - 8216.0L * x3 + 2018.1L * x2 + 11.096L * x + 164.6L;
}

std::vector<QRgb> cylinderRamp(QRgb colour, int count, TBarLook look) {
    std::vector<QRgb> ramp;
    if (count <= 0)
        return ramp;
    ramp.reserve(static_cast<std::size_t>(count));
    const HlsColour base = rgbToHls(colour);
    for (int j = 0; j < count; ++j) {
        const long double f = cylinderLightness(static_cast<long double>(j) / static_cast<long double>(count));
        HlsColour shade = base;
        if (look == TBarLook::blGlass)
            shade.lightness = static_cast<int>(std::nearbyint(f)); // ties to even
        else
            shade.lightness = std::clamp(static_cast<int>(std::trunc(f)) + base.lightness - 212, 0, kHlsMax);
        ramp.push_back(hlsToRgb(shade));
    }
    return ramp;
}

} // namespace controls
