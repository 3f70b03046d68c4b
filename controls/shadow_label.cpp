#include "controls/shadow_label.h"

#include "controls/xp_common.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>

namespace controls {

namespace {

constexpr int kDefaultWidth = 47;
constexpr int kDefaultHeight = 14;

unsigned alignmentFlags(TCaptionAlignment a) {
    switch (a) {
    case caRight:
        return kDtRight;
    case caCenter:
        return kDtCenter;
    case caLeft:
        break;
    }
    return kDtLeft;
}

} // namespace

void paintShadowLabel(Canvas& c, const LabelLook& look) {
    if (look.caption.isEmpty())
        return;
    const unsigned flags = alignmentFlags(look.alignment) | kDtSingleLine;
    const Rect client = c.clientRect();
    c.setBkMode(BkMode::bkTransparent);

    // shadow, moved right and down
    Rect shadow{client.left + look.offset, client.top + look.offset, client.right, client.bottom};
    c.setTextColour(look.background);
    c.DrawText(look.caption, shadow, flags);

    // text on top; right and centred text step left so the shadow stays inside
    int shift = 0;
    if (look.alignment == caRight)
        shift = -look.offset;
    else if (look.alignment == caCenter)
        shift = -(look.offset / 2);
    Rect text{client.left + shift, client.top, client.right + shift, client.bottom};
    c.setTextColour(look.foreground);
    c.DrawText(look.caption, text, flags);
}

QSize shadowLabelAutoSize(const QFont& font, const QString& caption, int offset) {
    QImage probe(1, 1, QImage::Format_RGB32);
    Canvas c(probe);
    c.setFont(font);
    return {c.TextWidth(caption) + offset, c.TextHeight(caption) + offset};
}

TShadowLabel::TShadowLabel(QWidget* parent) : QWidget(parent) {
    resize(kDefaultWidth, kDefaultHeight);
    fitToCaption();
}

void TShadowLabel::setCaption(const QString& caption) {
    if (m_look.caption == caption)
        return;
    m_look.caption = caption;
    captionChanged();
}

void TShadowLabel::setCaptionAlignment(TCaptionAlignment value) {
    if (m_look.alignment == value)
        return;
    m_look.alignment = value;
    update();
}

void TShadowLabel::setForegroundColor(Colour value) {
    if (m_look.foreground == value)
        return;
    m_look.foreground = value;
    update();
}

void TShadowLabel::setBackgroundColor(Colour value) {
    if (m_look.background == value)
        return;
    m_look.background = value;
    update();
}

void TShadowLabel::setOffset(int value) {
    if (m_look.offset == value)
        return;
    m_look.offset = value;
    fitToCaption();
    update();
}

void TShadowLabel::setAutoSize(bool value) {
    if (m_autoSize == value)
        return;
    m_autoSize = value;
    fitToCaption();
    update();
}

void TShadowLabel::captionChanged() {
    // the caption's accelerator is taken from the window and swallowed
    if (m_shortcutId != 0)
        releaseShortcut(m_shortcutId);
    const QKeySequence mnemonic = QKeySequence::mnemonic(m_look.caption);
    m_shortcutId = mnemonic.isEmpty() ? 0 : grabShortcut(mnemonic);
    fitToCaption();
    update();
}

void TShadowLabel::fitToCaption() {
    if (m_autoSize)
        resize(shadowLabelAutoSize(font(), m_look.caption, m_look.offset));
}

QImage TShadowLabel::renderImage() const {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    Canvas canvas(image);
    canvas.setFont(font());
    paintShadowLabel(canvas, m_look);
    return image;
}

void TShadowLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}

bool TShadowLabel::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut)
        return true;
    return QWidget::event(e);
}

void TShadowLabel::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) {
        fitToCaption();
        update();
    }
    QWidget::changeEvent(e);
}

void TShadowLabel::enterEvent(QEnterEvent* e) {
    emit mouseEnter(this);
    QWidget::enterEvent(e);
}

void TShadowLabel::leaveEvent(QEvent* e) {
    emit mouseLeave(this);
    QWidget::leaveEvent(e);
}

void TShadowLabel::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        m_clickPending = true;
    QWidget::mousePressEvent(e);
}

void TShadowLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && m_clickPending) {
        m_clickPending = false;
        if (pointerInside(*this, e->position()))
            emit clicked();
        return;
    }
    QWidget::mouseReleaseEvent(e);
}

void TShadowLabel::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        // the release that ends a double click is not another click
        m_clickPending = false;
        emit doubleClicked();
        return;
    }
    QWidget::mouseDoubleClickEvent(e);
}

} // namespace controls
