#include "controls/xp_edits.h"

#include <QEvent>
#include <QPainter>
#include <QPalette>

namespace controls {

namespace {

// The platform's default sizes of a new edit and list box.
constexpr QSize kEditSize(121, 21);
constexpr QSize kListBoxSize(121, 97);
// The border ring and the white ring inside it; the platform's frame is as wide, so the
// list's viewport never covers the border.
constexpr int kBorderWidth = 2;

QColor systemColour(Colour c) { return QColor::fromRgb(toQRgb(c)); }

// The system colours of a text field, so the field looks the same on every desktop theme:
// white with black text, grey text when disabled, the selection in the highlight colours.
void useSystemColours(QWidget& w) {
    QPalette p = w.palette();
    p.setColor(QPalette::Base, systemColour(clWindow));
    p.setColor(QPalette::Window, systemColour(clBtnFace));
    p.setColor(QPalette::Text, systemColour(clWindowText));
    p.setColor(QPalette::Disabled, QPalette::Text, systemColour(clGrayText));
    p.setColor(QPalette::Highlight, systemColour(clHighlight));
    p.setColor(QPalette::HighlightedText, systemColour(clHighlightText));
    w.setPalette(p);
}

void drawBorder(QWidget& w, std::uint8_t scheme) {
    QPainter painter(&w);
    DrawXPBorder(painter, w.rect(), w.isEnabled(), scheme);
}

// The desktop's visual style changed: a control that follows the desktop's scheme detects
// it again and redraws its border.
void followDesktopScheme(QEvent* e, XPSchemeState& scheme, QWidget& w) {
    if (e->type() == QEvent::ThemeChange && scheme.xpScheme == xpAutomatic) {
        xpThemeChanged(scheme);
        w.update();
    }
}

} // namespace

QImage renderControl(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TXPCustomEdit::TXPCustomEdit(QWidget* parent) : TCustomEditXP(parent) {
    useSystemColours(*this);
    resize(kEditSize);
}

void TXPCustomEdit::setXPScheme(TXPScheme scheme) {
    ApplyXPScheme(m_scheme, scheme);
    // the whole edit is redrawn, not only its border
    repaint();
}

bool TXPCustomEdit::event(QEvent* e) {
    followDesktopScheme(e, m_scheme, *this);
    return TCustomEditXP::event(e);
}

void TXPCustomEdit::paintEvent(QPaintEvent* e) {
    TCustomEditXP::paintEvent(e);
    drawBorder(*this, m_scheme.effectiveScheme);
}

void TXPCustomEdit::changeEvent(QEvent* e) {
    TCustomEditXP::changeEvent(e);
    if (e->type() == QEvent::EnabledChange)
        repaint();
}

TXPCustomListBox::TXPCustomListBox(QWidget* parent) : TCustomListBoxXP(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kBorderWidth);
    useSystemColours(*this);
    resize(kListBoxSize);
}

void TXPCustomListBox::setXPScheme(TXPScheme scheme) {
    ApplyXPScheme(m_scheme, scheme);
    repaint();
}

bool TXPCustomListBox::event(QEvent* e) {
    followDesktopScheme(e, m_scheme, *this);
    const bool handled = TCustomListBoxXP::event(e);
    if (e->type() == QEvent::Paint)
        drawBorder(*this, m_scheme.effectiveScheme);
    return handled;
}

void TXPCustomListBox::changeEvent(QEvent* e) {
    TCustomListBoxXP::changeEvent(e);
    if (e->type() == QEvent::EnabledChange)
        repaint();
}

} // namespace controls
