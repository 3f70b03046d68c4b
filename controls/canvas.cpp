#include "controls/canvas.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace controls {

namespace {

// Wrapping width for text measured without a width of its own.
constexpr int kUnboundedTextWidth = 1 << 20;

QRect toQRect(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

// A bold font whose face has no bold style (the bitmap "MS Sans Serif" has none): the text
// is made bold as the platform does it, drawn a second time one pixel to the right, which
// makes it one pixel wider.
bool simulatesBold(const QFont& font) {
    if (!font.bold())
        return false;
    const QFontInfo info(font);
    return !QFontDatabase::bold(info.family(), info.styleName());
}

} // namespace

Canvas::Canvas(QImage& image) : m_image(image) {
    Q_ASSERT(image.isNull() || image.depth() == 32);
    setFont(defaultUiFont());
}

void Canvas::setFont(const QFont& font) {
    m_font = font;
    m_font.setStyleStrategy(QFont::NoAntialias);
}

void Canvas::MoveTo(int x, int y) {
    m_penX = x;
    m_penY = y;
}

void Canvas::LineTo(int x, int y) {
    if (m_penStyle == PenStyle::psSolid) {
        const Colour pen = resolveColour(m_penColour);
        // Bresenham, stopping before the end point.
        int cx = m_penX, cy = m_penY;
        const int dx = std::abs(x - cx), sx = cx < x ? 1 : -1;
        const int dy = -std::abs(y - cy), sy = cy < y ? 1 : -1;
        int err = dx + dy;
        while (cx != x || cy != y) {
            SetPixel(cx, cy, pen);
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                cx += sx;
            }
            if (e2 <= dx) {
                err += dx;
                cy += sy;
            }
        }
    }
    MoveTo(x, y);
}

void Canvas::SetPixel(int x, int y, Colour c) {
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    reinterpret_cast<QRgb*>(m_image.scanLine(y))[x] = toQRgb(c);
}

Colour Canvas::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return kInvalidColour;
    return fromQRgb(reinterpret_cast<const QRgb*>(std::as_const(m_image).scanLine(y))[x]);
}

void Canvas::fillSpan(int y, int x0, int x1, QRgb p) {
    if (y < 0 || y >= height())
        return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width());
    if (x0 >= x1)
        return;
    QRgb* row = reinterpret_cast<QRgb*>(m_image.scanLine(y));
    std::fill(row + x0, row + x1, p);
}

void Canvas::FillRect(const Rect& r, Colour c) {
    const QRgb p = toQRgb(c);
    const int y0 = std::max(r.top, 0), y1 = std::min(r.bottom, height());
    for (int y = y0; y < y1; ++y)
        fillSpan(y, r.left, r.right, p);
}

void Canvas::FillRect(const Rect& r) {
    if (m_brushStyle == BrushStyle::bsSolid)
        FillRect(r, m_brushColour);
}

void Canvas::FrameRect(const Rect& r, Colour c) {
    if (r.isEmpty())
        return;
    const QRgb p = toQRgb(c);
    // top and bottom rows
    fillSpan(r.top, r.left, r.right, p);
    fillSpan(r.bottom - 1, r.left, r.right, p);
    // left and right columns
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        fillSpan(y, r.left, r.left + 1, p);
        fillSpan(y, r.right - 1, r.right, p);
    }
}

void Canvas::Rectangle(const Rect& r) {
    if (r.isEmpty())
        return;
    if (m_penStyle == PenStyle::psSolid) {
        FillRect(r.inflated(-1, -1));
        FrameRect(r, m_penColour);
    } else {
        // without a pen the platform fills one pixel less to the right and bottom
        FillRect({r.left, r.top, r.right - 1, r.bottom - 1});
    }
}

void Canvas::RoundRect(const Rect& r, int ellipseWidth, int ellipseHeight) {
    const int w = r.width(), h = r.height();
    if (w <= 0 || h <= 0)
        return;
    const int ew = std::clamp(ellipseWidth, 0, w);
    const int eh = std::clamp(ellipseHeight, 0, h);
    if (ew < 2 || eh < 2) {
        Rectangle(r);
        return;
    }
    // Per row, how far the shape starts inside the rectangle: the corner curve is the
    // quarter of the ellipse through the centres of the corner box's outermost pixels,
    // rounded to the nearest pixel (halves inward stay outside).
    const double rx = (ew - 1) / 2.0, ry = (eh - 1) / 2.0;
    std::vector<int> inset(std::size_t(h), 0);
    for (int j = 0; j < h; ++j) {
        const int fromEdge = std::min(j, h - 1 - j);
        if (fromEdge >= ry)
            continue;
        const double dy = (ry - fromEdge) / ry;
        const double dx = rx * (1.0 - std::sqrt(std::max(0.0, 1.0 - dy * dy)));
        inset[std::size_t(j)] = int(std::ceil(dx - 0.5));
    }
    auto inside = [&](int j, int i) {
        if (j < 0 || j >= h || i < 0 || i >= w)
            return false;
        const int in = inset[std::size_t(j)];
        return i >= in && i < w - in;
    };
    const QRgb brush = toQRgb(m_brushColour);
    const QRgb pen = toQRgb(m_penColour);
    const bool fill = m_brushStyle == BrushStyle::bsSolid;
    const bool outline = m_penStyle == PenStyle::psSolid;
    for (int j = 0; j < h; ++j) {
        const int y = r.top + j;
        if (y < 0 || y >= height())
            continue;
        const int in = inset[std::size_t(j)];
        for (int i = in; i < w - in; ++i) {
            const int x = r.left + i;
            if (x < 0 || x >= width())
                continue;
            // outline: shape pixels with a neighbour outside the shape
            const bool edge = !inside(j - 1, i) || !inside(j + 1, i) || !inside(j, i - 1) || !inside(j, i + 1);
            QRgb* row = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            if (edge && outline)
                row[x] = pen;
            else if (fill)
                row[x] = brush;
        }
    }
}

void Canvas::Draw(int x, int y, const QImage& bitmap) { BitBlt(x, y, bitmap.width(), bitmap.height(), bitmap, 0, 0); }

void Canvas::BitBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy) {
    if (source.isNull())
        return;
    Q_ASSERT(source.depth() == 32);
    // clip against the source
    if (sx < 0) {
        x -= sx;
        w += sx;
        sx = 0;
    }
    if (sy < 0) {
        y -= sy;
        h += sy;
        sy = 0;
    }
    w = std::min(w, source.width() - sx);
    h = std::min(h, source.height() - sy);
    // clip against the target
    if (x < 0) {
        sx -= x;
        w += x;
        x = 0;
    }
    if (y < 0) {
        sy -= y;
        h += y;
        y = 0;
    }
    w = std::min(w, width() - x);
    h = std::min(h, height() - y);
    if (w <= 0 || h <= 0)
        return;
    for (int j = 0; j < h; ++j) {
        const QRgb* from = reinterpret_cast<const QRgb*>(source.constScanLine(sy + j)) + sx;
        QRgb* to = reinterpret_cast<QRgb*>(m_image.scanLine(y + j)) + x;
        if (source.hasAlphaChannel() && !m_image.hasAlphaChannel()) {
            for (int i = 0; i < w; ++i)
                to[i] = from[i] | 0xFF000000u;
        } else {
            std::memcpy(to, from, std::size_t(w) * sizeof(QRgb));
        }
    }
}

int Canvas::qtTextFlags(unsigned flags) const {
    int qf = Qt::AlignAbsolute;
    if (flags & kDtCenter)
        qf |= Qt::AlignHCenter;
    else if (flags & kDtRight)
        qf |= Qt::AlignRight;
    else
        qf |= Qt::AlignLeft;
    if (flags & kDtSingleLine) {
        qf |= Qt::TextSingleLine;
        if (flags & kDtVCenter)
            qf |= Qt::AlignVCenter;
        else if (flags & kDtBottom)
            qf |= Qt::AlignBottom;
        else
            qf |= Qt::AlignTop;
    } else {
        qf |= Qt::AlignTop;
        if (flags & kDtWordBreak)
            qf |= Qt::TextWordWrap;
    }
    if (flags & kDtExpandTabs)
        qf |= Qt::TextExpandTabs;
    if (!(flags & kDtNoPrefix))
        qf |= Qt::TextShowMnemonic;
    if (flags & kDtNoClip)
        qf |= Qt::TextDontClip;
    return qf;
}

int Canvas::DrawText(const QString& text, Rect& r, unsigned flags) {
    if (text.isEmpty()) {
        if (flags & kDtCalcRect) {
            r.right = r.left;
            r.bottom = r.top;
        }
        return 0;
    }
    const int qf = qtTextFlags(flags);
    const int layoutFlags = qf & ~Qt::AlignHorizontal_Mask & ~Qt::AlignVertical_Mask;

    // the text's extent laid out from the rectangle's corner, wrapped at its width
    const bool wraps = (flags & kDtWordBreak) && !(flags & kDtSingleLine);
    const int wrapWidth = wraps ? std::max(r.width(), 1) : kUnboundedTextWidth;
    const bool fakeBold = simulatesBold(m_font);
    QRect extent = QFontMetrics(m_font).boundingRect(QRect(0, 0, wrapWidth, kUnboundedTextWidth),
                                                     layoutFlags | Qt::AlignLeft | Qt::AlignTop, text);
    if (fakeBold)
        extent.setWidth(extent.width() + 1);
    if (flags & kDtCalcRect) {
        r.right = r.left + extent.width();
        r.bottom = r.top + extent.height();
        return extent.height();
    }

    // place the text's box in whole pixels, halves of odd remainders truncated
    int x = r.left, y = r.top;
    if (flags & kDtCenter)
        x = r.left + (r.width() - extent.width()) / 2;
    else if (flags & kDtRight)
        x = r.right - extent.width();
    if (flags & kDtSingleLine) {
        if (flags & kDtVCenter)
            y = r.top + (r.height() - extent.height()) / 2;
        else if (flags & kDtBottom)
            y = r.bottom - extent.height();
    }
    const QRect box(x, y, extent.width(), extent.height());

    QPainter p(&m_image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setFont(m_font);
    if (flags & kDtRtlReading)
        p.setLayoutDirection(Qt::RightToLeft);
    if (!(flags & kDtNoClip))
        p.setClipRect(toQRect(r));
    if (m_bkMode == BkMode::bkOpaque)
        p.fillRect(box, QColor::fromRgb(toQRgb(m_bkColour)));
    p.setPen(QColor::fromRgb(toQRgb(m_textColour)));
    // lines of a wrapped text keep the horizontal alignment inside the box
    const int drawFlags = layoutFlags | (qf & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextDontClip;
    p.drawText(box, drawFlags, text);
    if (fakeBold)
        p.drawText(box.translated(1, 0), drawFlags, text);
    return extent.height();
}

int Canvas::TextWidth(const QString& text) const {
    return text.isEmpty() ? 0 : QFontMetrics(m_font).horizontalAdvance(text) + (simulatesBold(m_font) ? 1 : 0);
}

int Canvas::TextHeight(const QString& text) const { return text.isEmpty() ? 0 : QFontMetrics(m_font).height(); }

void Canvas::DrawFocusRect(const Rect& r) {
    if (r.isEmpty())
        return;
    auto invert = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width() || y >= height() || ((x + y) & 1))
            return;
        QRgb& p = reinterpret_cast<QRgb*>(m_image.scanLine(y))[x];
        p ^= 0x00FFFFFFu;
    };
    for (int x = r.left; x < r.right; ++x) {
        invert(x, r.top);
        if (r.bottom - 1 > r.top)
            invert(x, r.bottom - 1);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        invert(r.left, y);
        if (r.right - 1 > r.left)
            invert(r.right - 1, y);
    }
}

} // namespace controls
