#include "controls/xp_group_box.h"

#include <QPainter>

namespace controls {

namespace {

// The platform's default size of a new group box.
constexpr QSize kGroupBoxSize(185, 105);
constexpr Colour kFrameColour = rgb(192, 192, 192);
constexpr Colour kCaptionColour = rgb(41, 86, 203);
constexpr int kCorner = 6; // corner ellipse, both axes
constexpr int kCaptionLeft = 10;

} // namespace

int groupBoxFrameTop(const Canvas& canvas) { return canvas.TextHeight(QStringLiteral("0")) / 2 - 1; }

void paintGroupBox(Canvas& canvas, const GroupBoxLook& look) {
    const Rect client = canvas.clientRect();
    const int h = canvas.TextHeight(QStringLiteral("0"));
    // background erase in the control's colour
    canvas.FillRect(client, look.colour);

    // rounded frame
    const Rect frame{0, groupBoxFrameTop(canvas), client.right, client.bottom};
    canvas.setPenStyle(PenStyle::psSolid);
    canvas.setPenColour(kFrameColour);
    canvas.setBrushStyle(BrushStyle::bsSolid);
    canvas.setBrushColour(look.colour);
    canvas.RoundRect({frame.left + 2, frame.top, frame.right - 2, frame.bottom - 2}, kCorner, kCorner);

    // caption on an opaque box that cuts the frame's top line
    if (look.caption.isEmpty())
        return;
    const unsigned flags = kDtSingleLine | kDtLeft | (look.rightToLeft ? kDtRtlReading : 0u);
    Rect caption{kCaptionLeft, 0, 0, h};
    canvas.DrawText(look.caption, caption, flags | kDtCalcRect);
    canvas.setTextColour(kCaptionColour);
    canvas.setBkMode(BkMode::bkOpaque);
    canvas.setBkColour(look.colour);
    canvas.DrawText(look.caption, caption, flags);
}

TXPCustomGroupBox::TXPCustomGroupBox(QWidget* parent) : QGroupBox(parent) { resize(kGroupBoxSize); }

TXPCustomGroupBox::TXPCustomGroupBox(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    resize(kGroupBoxSize);
}

void TXPCustomGroupBox::setColor(Colour colour) {
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
}

GroupBoxLook TXPCustomGroupBox::look() const { return {title(), m_colour, layoutDirection() == Qt::RightToLeft}; }

QImage TXPCustomGroupBox::renderImage() {
    if (m_surface.size() != size())
        m_surface = QImage(size(), QImage::Format_RGB32);
    Canvas canvas(m_surface);
    canvas.setFont(font());
    paintGroupBox(canvas, look());
    return m_surface;
}

void TXPCustomGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}

} // namespace controls
