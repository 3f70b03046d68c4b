#include "controls/plain_label.h"

#include <QPainter>

namespace controls {

void paintPlainLabel(Canvas& c, const PlainLabelLook& look) {
    if (look.caption.isEmpty())
        return;
    constexpr unsigned kFlags = kDtLeft | kDtExpandTabs;
    Rect text = c.clientRect();
    c.setBkMode(BkMode::bkTransparent);
    if (look.enabled) {
        c.setTextColour(clWindowText);
        c.DrawText(look.caption, text, kFlags);
        return;
    }
    // highlight copy, moved right and down
    Rect highlight = text.moved(1, 1);
    c.setTextColour(clBtnHighlight);
    c.DrawText(look.caption, highlight, kFlags);
    // shadow copy on top
    c.setTextColour(clBtnShadow);
    c.DrawText(look.caption, text, kFlags);
}

TLabel::TLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QImage TLabel::renderImage() const {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    Canvas canvas(image);
    canvas.setFont(font());
    paintPlainLabel(canvas, {text(), isEnabled()});
    return image;
}

void TLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}

} // namespace controls
