// What the XP-look controls share: the colour scheme and how a control resolves it, the
// banded gradient fill their faces and frames are built from, the border colour of the
// edit and list box, and the three base classes the controls derive from.
#pragma once

#include "controls/canvas.h"
#include "controls/system_colours.h"

#include <QAbstractButton>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>

#include <array>
#include <cstdint>
#include <string>

class QPainter;

namespace controls {

// Stored in window layouts by these names; the effective scheme is 0 … 3.
enum TXPScheme : std::uint8_t { xpBlue = 0, xpSilver = 1, xpGreen = 2, xpAutomatic = 3, xpOrange = 4 };

// Effective schemes, as painting uses them.
constexpr std::uint8_t kSchemeBlue = 0;
constexpr std::uint8_t kSchemeSilver = 1;
constexpr std::uint8_t kSchemeGreen = 2;
constexpr std::uint8_t kSchemeOrange = 3;

// The scheme a control publishes as XPScheme and the effective scheme its painting uses.
struct XPSchemeState {
    TXPScheme xpScheme = xpBlue;
    std::uint8_t effectiveScheme = kSchemeBlue;
};

// The desktop's current colour scheme as an effective scheme 0, 1 or 2; 0 where the
// desktop has no visual styles (always off Windows). A failing theme query throws
// std::runtime_error.
std::uint8_t DetectXPScheme();
// The effective scheme of a visual-style colour scheme name: "NormalColor" 0, "Metallic" 1,
// "HomeStead" 2, compared without regard to case; any other name 0.
std::uint8_t schemeFromColourName(const std::string& name);

// Stores the scheme and sets the effective one (xpAutomatic asks the desktop). Returns
// whether the effective scheme changed; what to redraw is the control's business.
bool ApplyXPScheme(XPSchemeState& state, TXPScheme scheme);
// The desktop reported a changed visual style: a control on xpAutomatic detects its scheme
// again. Returns whether the effective scheme changed.
bool xpThemeChanged(XPSchemeState& state);

// Steps of a gradient: 2 … 255.
constexpr int kMaxGradientSteps = 255;
using GradientTable = std::array<QRgb, kMaxGradientSteps>;

// The gradient's colour table: `steps` entries from the first colour to the second (the
// two exchanged when direction > 1), each channel start + i × inc rounded to nearest with
// ties to even, inc = (end − start) / (steps − 1) held as a double.
GradientTable gradientColours(Colour first, Colour second, int steps, int direction);

// Round(a × b / c) with halves away from zero, as the platform's MulDiv; 0 for c = 0.
int MulDiv(int a, int b, int c);

// Resizes the bitmap to width × height (32 bits per pixel) and paints a banded gradient:
// direction 0 or 2 changes colour from left to right, any other direction from top to
// bottom; band i covers MulDiv(i, length, steps) … MulDiv(i + 1, length, steps) − 1.
// With dither, the start of each band in the first 16 rows (columns) gets scattered pixels
// of the previous band's colour, and that 16-pixel strip is copied across the bitmap.
// Steps outside 2 … 255 are clamped. The scatter comes from a fixed seed, so equal
// arguments paint equal bitmaps.
void DrawGradientBitmap(int width, int height, Colour first, Colour second, int steps, int direction, bool dither,
                        QImage& bitmap);

// The border colour of edits and list boxes: the scheme's base colour (a disabled one when
// not enabled) lightened towards white by the percentage (at most 100).
Colour XPBorderColour(int percentage, bool enabled, std::uint8_t scheme);
// Paints that border: a 1-pixel frame in XPBorderColour(35, …) on the outermost pixels of
// r and a white 1-pixel frame just inside it.
void DrawXPBorder(Canvas& canvas, const Rect& r, bool enabled, std::uint8_t scheme);
void DrawXPBorder(QPainter& painter, const QRect& r, bool enabled, std::uint8_t scheme);

// Whether a pointer position lies on the widget. The position is compared as it comes:
// on a scaled screen it falls between pixels, and 96.6 lies on pixel 96 while −0.4 is outside.
bool pointerInside(const QWidget& widget, const QPointF& position);

// A windowed, self-painting control with a drawing surface: paintEvent renders the
// control into an image through paintSurface and blits it.
class TCustomControlXP : public QAbstractButton {
    Q_OBJECT
public:
    explicit TCustomControlXP(QWidget* parent = nullptr);

    // The control drawn at its current size and state, as the next paint shows it.
    QImage renderImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    // Paints the whole control; the canvas covers the client area.
    virtual void paintSurface(Canvas& canvas) = 0;

private:
    QImage m_surface;
};

// The platform's single-line edit, as base of the XP edit.
class TCustomEditXP : public QLineEdit {
    Q_OBJECT
public:
    explicit TCustomEditXP(QWidget* parent = nullptr) : QLineEdit(parent) {}
};

// The platform's list box, as base of the XP list box.
class TCustomListBoxXP : public QListWidget {
    Q_OBJECT
public:
    explicit TCustomListBoxXP(QWidget* parent = nullptr) : QListWidget(parent) {}
};

} // namespace controls
