// A small drawing surface with the platform's device-context semantics, over a QImage.
//
// The controls paint into an image (their double buffer) through this class and then blit
// it; tests read the image's pixels. What differs from QPainter, on purpose:
//   - rectangles are half-open: (left, top, right, bottom) covers x = left … right − 1 and
//     y = top … bottom − 1;
//   - LineTo draws a 1-pixel line without its end point;
//   - nothing is antialiased, text included, so every pixel has one of the drawn colours.
// The image must be 32 bits per pixel (RGB32 or ARGB32); pixels are written opaque.
#pragma once

#include "controls/system_colours.h"

#include <QFont>
#include <QImage>
#include <QString>

namespace controls {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr Rect moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    // Grows by dx / dy on each side; negative values shrink.
    constexpr Rect inflated(int dx, int dy) const { return {left - dx, top - dy, right + dx, bottom + dy}; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// DrawText format flags, with the platform's values.
constexpr unsigned kDtLeft = 0x0000;
constexpr unsigned kDtCenter = 0x0001;
constexpr unsigned kDtRight = 0x0002;
constexpr unsigned kDtVCenter = 0x0004; // only with kDtSingleLine
constexpr unsigned kDtBottom = 0x0008;  // only with kDtSingleLine
constexpr unsigned kDtWordBreak = 0x0010;
constexpr unsigned kDtSingleLine = 0x0020;
constexpr unsigned kDtExpandTabs = 0x0040;
constexpr unsigned kDtNoClip = 0x0100;
constexpr unsigned kDtCalcRect = 0x0400;
constexpr unsigned kDtNoPrefix = 0x0800;
constexpr unsigned kDtRtlReading = 0x20000;

// GetPixel's answer for a point outside the image.
constexpr Colour kInvalidColour = 0xFFFFFFFFu;

enum class PenStyle { psSolid, psClear };
enum class BrushStyle { bsSolid, bsClear };
enum class BkMode { bkTransparent, bkOpaque };

class Canvas {
public:
    explicit Canvas(QImage& image);

    QImage& image() { return m_image; }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    Rect clientRect() const { return {0, 0, width(), height()}; }

    // Drawing state. Colours may be system colour codes; they are resolved when drawing.
    void setPenColour(Colour c) { m_penColour = c; }
    void setPenStyle(PenStyle s) { m_penStyle = s; }
    void setBrushColour(Colour c) { m_brushColour = c; }
    void setBrushStyle(BrushStyle s) { m_brushStyle = s; }
    void setTextColour(Colour c) { m_textColour = c; }
    void setBkMode(BkMode m) { m_bkMode = m; }
    void setBkColour(Colour c) { m_bkColour = c; }
    // The font is always used without antialiasing.
    void setFont(const QFont& font);
    const QFont& font() const { return m_font; }

    void MoveTo(int x, int y);
    // Line from the current position to (x, y) in the pen colour, (x, y) itself excluded;
    // (x, y) becomes the current position.
    void LineTo(int x, int y);

    void SetPixel(int x, int y, Colour c);
    Colour GetPixel(int x, int y) const;

    // Block fill of the half-open rectangle, clipped to the image.
    void FillRect(const Rect& r, Colour c);
    // The same with the current brush (nothing with a clear brush).
    void FillRect(const Rect& r);
    // 1-pixel frame on the rectangle's outermost pixels.
    void FrameRect(const Rect& r, Colour c);
    // Pen outline on the outermost pixels, interior in the brush; with a clear pen the
    // brush covers (left, top) – (right − 1, bottom − 1).
    void Rectangle(const Rect& r);
    // Rectangle whose corners are quarters of an ellipse of ellipseWidth × ellipseHeight
    // (clamped to the rectangle): pen outline on the outermost pixels, brush inside.
    void RoundRect(const Rect& r, int ellipseWidth, int ellipseHeight);

    // Copies the whole bitmap with its top-left at (x, y), clipped to the image.
    void Draw(int x, int y, const QImage& bitmap);
    // Copies w × h pixels from (sx, sy) of the source to (x, y), clipped on both sides.
    void BitBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy);

    // Draws text into r with the format flags (kDt…) in the font and text colour; with an
    // opaque background mode the text's box is first filled with the background colour.
    // Unless kDtNoPrefix, "&" marks the next character as accelerator (underlined) and
    // "&&" stands for "&". With kDtCalcRect nothing is drawn: r's right and bottom are set
    // to bound the text (the width of r is kept as the wrapping width with kDtWordBreak).
    // A bold font whose face has no bold style is made bold by drawing the text again one
    // pixel to the right, one pixel wider. Returns the height of the text.
    int DrawText(const QString& text, Rect& r, unsigned flags);
    // Extent of the text as written (no prefix processing), in the current font; an empty
    // text has extent 0 × 0.
    int TextWidth(const QString& text) const;
    int TextHeight(const QString& text) const;

    // The dotted focus rectangle: inverts every other pixel of the 1-pixel frame of r
    // (those where x + y is even), so drawing it twice restores the image.
    void DrawFocusRect(const Rect& r);

private:
    void fillSpan(int y, int x0, int x1, QRgb p);
    int qtTextFlags(unsigned flags) const;

    QImage& m_image;
    Colour m_penColour = rgb(0, 0, 0);
    PenStyle m_penStyle = PenStyle::psSolid;
    Colour m_brushColour = rgb(255, 255, 255);
    BrushStyle m_brushStyle = BrushStyle::bsSolid;
    Colour m_textColour = rgb(0, 0, 0);
    BkMode m_bkMode = BkMode::bkOpaque;
    Colour m_bkColour = rgb(255, 255, 255);
    QFont m_font;
    int m_penX = 0;
    int m_penY = 0;
};

} // namespace controls
