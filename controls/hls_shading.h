// Colour arithmetic of the shaded progress bar: integer HLS conversions (hue, lightness and
// saturation 0 … 240, channels 0 … 255), the gradient from a start to a final colour along
// the bar, and the cylinder shading of one colour across the bar. All functions are pure;
// the bar computes them only when its geometry, colours or kind change.
#pragma once

#include <QRgb>

#include <vector>

namespace controls {

struct HlsColour {
    int hue = 0;        // 0 … 240
    int lightness = 0;  // 0 … 240
    int saturation = 0; // 0 … 240
    friend bool operator==(const HlsColour&, const HlsColour&) = default;
};

// Integer conversions; every division truncates, so RGB → HLS → RGB may move a channel by one.
HlsColour rgbToHls(QRgb colour);
QRgb hlsToRgb(HlsColour hls);

// Lightness 240 − L, everything else kept: the inverted shading of the inactive part.
QRgb invertLightness(QRgb colour);

// Colour of pixel `index` along a bar of `barLength` pixels: `start` at 0 and below, `final`
// at `barLength` and beyond, each channel moved from start towards final by the truncated
// share index / barLength in between. The share and product are computed in extended
// precision (long double): the truncation of exact products such as 255 × 1/3 depends on it.
QRgb gradientColour(QRgb start, QRgb final, int index, int barLength, bool singleColour);

enum class TBarLook { blMetal, blGlass };

// Lightness law of the cylinder: f(x) for 0 ≤ x < 1, between about 144.6 and 202.9.
long double cylinderLightness(long double x);

// The cylinder ramp of `colour` over `count` entries, top to bottom across the bar: glass
// replaces the lightness by round(f(j / count)); metal shifts the colour's own lightness by
// trunc(f(j / count)) − 212, limited to 0 … 240. Hue and saturation are kept.
std::vector<QRgb> cylinderRamp(QRgb colour, int count, TBarLook look);

} // namespace controls
