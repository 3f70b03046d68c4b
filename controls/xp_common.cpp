#include "controls/xp_common.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace controls {

namespace {

// The dither scatter repeats every 16 pixels: only this strip is dithered pixel by pixel.
constexpr int kDitherStrip = 16;
constexpr std::uint32_t kDitherSeed = 0x2545F491u;

// A small linear congruential generator; the scatter needs no quality, only speed and
// the same pattern on every paint.
class DitherRandom {
public:
    explicit DitherRandom(std::uint32_t seed) : m_state(seed) {}
    // A value in [0, k); 0 when k is 0 or 1.
    int below(int k) {
        if (k <= 1)
            return 0;
        m_state = m_state * 1664525u + 1013904223u;
        return int((m_state >> 8) % std::uint32_t(k));
    }

private:
    std::uint32_t m_state;
};

QRgb* row(QImage& image, int y) { return reinterpret_cast<QRgb*>(image.scanLine(y)); }

// Round to nearest with ties to even, without touching the floating-point environment
// (the library's nearbyint for long double saves and restores it, which costs more than
// the rest of a gradient).
int roundHalfEven(long double x) {
    auto whole = static_cast<std::int64_t>(x);
    if (static_cast<long double>(whole) > x)
        --whole; // floor for negative values
    const long double fraction = x - static_cast<long double>(whole);
    if (fraction > 0.5L || (fraction == 0.5L && (whole & 1) != 0))
        ++whole;
    return static_cast<int>(whole);
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Base colours of the edit and list box border before lightening.
constexpr Colour kBorderDisabled = rgb(183, 165, 147);
constexpr std::array<Colour, 4> kBorderBase = {
    rgb(54, 111, 205),  // blue
    rgb(121, 121, 189), // silver
    rgb(135, 160, 88),  // green
    rgb(249, 135, 21),  // orange
};
constexpr int kBorderPercentage = 35;

} // namespace

std::uint8_t schemeFromColourName(const std::string& name) {
    const std::string lower = lowerAscii(name);
    if (lower == "normalcolor")
        return kSchemeBlue;
    if (lower == "metallic")
        return kSchemeSilver;
    if (lower == "homestead")
        return kSchemeGreen;
    return kSchemeBlue;
}

std::uint8_t DetectXPScheme() {
#ifdef _WIN32
    using GetCurrentThemeNameFn = HRESULT(WINAPI*)(LPWSTR, int, LPWSTR, int, LPWSTR, int);
    HMODULE library = LoadLibraryW(L"uxtheme.dll");
    if (!library)
        return kSchemeBlue;
    struct Release {
        HMODULE h;
        ~Release() { FreeLibrary(h); }
    } release{library};
    auto query = reinterpret_cast<GetCurrentThemeNameFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetCurrentThemeName")));
    if (!query)
        return kSchemeBlue;
    wchar_t fileName[255], colourName[255], sizeName[255];
    const HRESULT hr = query(fileName, 255, colourName, 255, sizeName, 255);
    if (FAILED(hr))
        throw std::runtime_error("GetCurrentThemeName failed");
    std::string narrow;
    for (const wchar_t* p = colourName; *p; ++p)
        narrow.push_back(*p < 128 ? char(*p) : '?');
    return schemeFromColourName(narrow);
#else
    // No visual styles to ask: the blue scheme.
    return kSchemeBlue;
#endif
}

bool ApplyXPScheme(XPSchemeState& state, TXPScheme scheme) {
    state.xpScheme = scheme;
    std::uint8_t effective = kSchemeBlue;
    switch (scheme) {
    case xpBlue:
        effective = kSchemeBlue;
        break;
    case xpSilver:
        effective = kSchemeSilver;
        break;
    case xpGreen:
        effective = kSchemeGreen;
        break;
    case xpOrange:
        effective = kSchemeOrange;
        break;
    case xpAutomatic:
        effective = DetectXPScheme();
        break;
    }
    const bool changed = effective != state.effectiveScheme;
    state.effectiveScheme = effective;
    return changed;
}

bool xpThemeChanged(XPSchemeState& state) {
    if (state.xpScheme != xpAutomatic)
        return false;
    return ApplyXPScheme(state, xpAutomatic);
}

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return 0;
    const std::int64_t num = std::int64_t(a) * b;
    const bool negative = (num < 0) != (c < 0);
    const std::int64_t n = num < 0 ? -num : num;
    const std::int64_t d = c < 0 ? -std::int64_t(c) : c;
    const std::int64_t q = (2 * n + d) / (2 * d);
    return int(negative ? -q : q);
}

GradientTable gradientColours(Colour first, Colour second, int steps, int direction) {
    steps = std::clamp(steps, 2, kMaxGradientSteps);
    Colour start = resolveColour(first), end = resolveColour(second);
    if (direction > 1)
        std::swap(start, end);
    const int s[3] = {redOf(start), greenOf(start), blueOf(start)};
    const int e[3] = {redOf(end), greenOf(end), blueOf(end)};
    double inc[3];
    for (int ch = 0; ch < 3; ++ch)
        inc[ch] = double(e[ch] - s[ch]) / double(steps - 1);
    GradientTable table{};
    for (int i = 0; i < steps; ++i) {
        int v[3];
        for (int ch = 0; ch < 3; ++ch) {
            // The sum is evaluated in extended precision, then rounded half to even.
            const long double x = s[ch] + static_cast<long double>(i) * static_cast<long double>(inc[ch]);
            v[ch] = std::clamp(roundHalfEven(x), 0, 255);
        }
        table[std::size_t(i)] = qRgb(v[0], v[1], v[2]);
    }
    return table;
}

void DrawGradientBitmap(int width, int height, Colour first, Colour second, int steps, int direction, bool dither,
                        QImage& bitmap) {
    steps = std::clamp(steps, 2, kMaxGradientSteps);
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (bitmap.width() != width || bitmap.height() != height || bitmap.format() != QImage::Format_RGB32)
        bitmap = QImage(width, height, QImage::Format_RGB32);
    if (width == 0 || height == 0)
        return;
    const GradientTable table = gradientColours(first, second, steps, direction);
    bitmap.fill(toQRgb(first));
    DitherRandom random(kDitherSeed);

    if (direction == 0 || direction == 2) {
        // colour changes from left to right
        const int rows = std::min(kDitherStrip, height);
        const int spread = width / (steps - 1);
        for (int i = 0; i < steps; ++i) {
            const int x0 = MulDiv(i, width, steps), x1 = MulDiv(i + 1, width, steps);
            const QRgb colour = table[std::size_t(i)];
            for (int y = 0; y < height; ++y)
                std::fill(row(bitmap, y) + x0, row(bitmap, y) + x1, colour);
            if (!dither || i == 0)
                continue;
            const QRgb previous = table[std::size_t(i - 1)];
            for (int y = 0; y < rows; ++y) {
                QRgb* line = row(bitmap, y);
                for (int k = 0; k <= spread; ++k) {
                    const int x = x0 + random.below(k);
                    if (x >= 0 && x < width)
                        line[x] = previous;
                }
            }
        }
        if (dither) {
            // the dithered top strip repeats down the bitmap
            const std::size_t rowBytes = std::size_t(width) * sizeof(QRgb);
            for (int j = 1; j <= height / kDitherStrip; ++j)
                for (int y = 0; y < kDitherStrip && kDitherStrip * j + y < height; ++y)
                    std::memcpy(row(bitmap, kDitherStrip * j + y), row(bitmap, y), rowBytes);
        }
        return;
    }

    // colour changes from top to bottom
    const int columns = std::min(kDitherStrip, width);
    const int spread = height / (steps - 1);
    for (int i = 0; i < steps; ++i) {
        const int y0 = MulDiv(i, height, steps), y1 = MulDiv(i + 1, height, steps);
        const QRgb colour = table[std::size_t(i)];
        for (int y = y0; y < y1; ++y)
            std::fill(row(bitmap, y), row(bitmap, y) + width, colour);
        if (!dither || i == 0)
            continue;
        const QRgb previous = table[std::size_t(i - 1)];
        for (int k = 0; k <= spread; ++k) {
            const int y = y0 + random.below(k);
            if (y >= 0 && y < height)
                std::fill(row(bitmap, y), row(bitmap, y) + columns, previous);
        }
    }
    if (dither) {
        // the dithered left strip repeats across the bitmap
        for (int y = 0; y < height; ++y) {
            QRgb* line = row(bitmap, y);
            for (int c = 1; c <= width / kDitherStrip; ++c) {
                const int count = std::min(kDitherStrip, width - kDitherStrip * c);
                if (count > 0)
                    std::memcpy(line + kDitherStrip * c, line, std::size_t(count) * sizeof(QRgb));
            }
        }
    }
}

Colour XPBorderColour(int percentage, bool enabled, std::uint8_t scheme) {
    Colour base = rgb(255, 255, 255);
    if (!enabled)
        base = kBorderDisabled;
    else if (scheme < kBorderBase.size())
        base = kBorderBase[scheme];
    // The fraction is computed first, everything in extended precision. Some channels
    // land on a half (165 + 90 × 0.35, 205 + 50 × 0.35); they round up, which gives the
    // XP border colours (196.5 → 197, 222.5 → 223).
    const long double fraction = static_cast<long double>(std::clamp(percentage, 0, 100)) / 100.0L;
    auto lighten = [&](int c) {
        const long double v = c + (255 - c) * fraction;
        return std::clamp(int(std::lround(v)), 0, 255);
    };
    return rgb(lighten(redOf(base)), lighten(greenOf(base)), lighten(blueOf(base)));
}

void DrawXPBorder(Canvas& canvas, const Rect& r, bool enabled, std::uint8_t scheme) {
    // outer border in the scheme's colour, white just inside it
    canvas.FrameRect(r, XPBorderColour(kBorderPercentage, enabled, scheme));
    canvas.FrameRect(r.inflated(-1, -1), rgb(255, 255, 255));
}

void DrawXPBorder(QPainter& painter, const QRect& r, bool enabled, std::uint8_t scheme) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    // QPainter's 1-pixel rectangle outline covers x … x + width, hence the − 1.
    painter.setPen(QColor::fromRgb(toQRgb(XPBorderColour(kBorderPercentage, enabled, scheme))));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::white);
    painter.drawRect(r.adjusted(1, 1, -2, -2));
    painter.restore();
}

bool pointerInside(const QWidget& widget, const QPointF& p) {
    return p.x() >= 0 && p.x() < widget.width() && p.y() >= 0 && p.y() < widget.height();
}

TCustomControlXP::TCustomControlXP(QWidget* parent) : QAbstractButton(parent) {}

QImage TCustomControlXP::renderImage() {
    if (m_surface.size() != size())
        m_surface = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    // what the control leaves unpainted shows its parent
    m_surface.fill(Qt::transparent);
    Canvas canvas(m_surface);
    canvas.setFont(font());
    paintSurface(canvas);
    return m_surface;
}

void TCustomControlXP::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}

} // namespace controls
