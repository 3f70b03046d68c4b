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

} // namespace

QImage renderControl(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

void drawXPBorderOver(QWidget& w, std::uint8_t scheme) {
    QPainter painter(&w);
    DrawXPBorder(painter, w.rect(), w.isEnabled(), scheme);
}

void followDesktopScheme(const QEvent& e, XPSchemeState& scheme, QWidget& w) {
    if (e.type() == QEvent::ThemeChange && scheme.xpScheme == xpAutomatic) {
        xpThemeChanged(scheme);
        w.update();
    }
}

TXPCustomEdit::TXPCustomEdit(QWidget* parent) : XPBorderedControl(parent) {
    useSystemColours(*this);
    resize(kEditSize);
}

TXPCustomListBox::TXPCustomListBox(QWidget* parent) : XPBorderedControl(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kBorderWidth);
    useSystemColours(*this);
    resize(kListBoxSize);
}

} // namespace controls
