// The XP edit and list box: the platform's single-line edit and list box with their frame
// repainted in the colour scheme's border colour.
//
// After every paint, and at once whenever the enabled state or the scheme changes, the
// outermost pixel ring of the control takes XPBorderColour(35, enabled, scheme) and the
// ring just inside it white; everything else is the platform's own painting.
#pragma once

#include "controls/xp_common.h"

#include <QImage>

#include <cstdint>

namespace controls {

// A widget rendered with its children into an RGB32 image of its size.
QImage renderControl(QWidget& w);

class TXPCustomEdit : public TCustomEditXP {
    Q_OBJECT
public:
    explicit TXPCustomEdit(QWidget* parent = nullptr);

    TXPScheme XPScheme() const { return m_scheme.xpScheme; }
    // Stores and applies the scheme; the whole edit is repainted at once (text kept).
    void setXPScheme(TXPScheme scheme);
    std::uint8_t effectiveScheme() const { return m_scheme.effectiveScheme; }

    // The control as it paints itself now, border included (RGB32, the control's size).
    QImage renderImage() { return renderControl(*this); }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    XPSchemeState m_scheme;
};

class TXPEdit : public TXPCustomEdit {
    Q_OBJECT
public:
    using TXPCustomEdit::TXPCustomEdit;
};

class TXPCustomListBox : public TCustomListBoxXP {
    Q_OBJECT
public:
    explicit TXPCustomListBox(QWidget* parent = nullptr);

    TXPScheme XPScheme() const { return m_scheme.xpScheme; }
    // Stores and applies the scheme; the border is redrawn at once.
    void setXPScheme(TXPScheme scheme);
    std::uint8_t effectiveScheme() const { return m_scheme.effectiveScheme; }

    // The control as it paints itself now, border and items included (RGB32).
    QImage renderImage() { return renderControl(*this); }

protected:
    // The frame is painted by the list's own paint event (the items by the viewport's),
    // so the border goes on top of that one; the theme change is handled here too.
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    XPSchemeState m_scheme;
};

class TXPListBox : public TXPCustomListBox {
    Q_OBJECT
public:
    using TXPCustomListBox::TXPCustomListBox;
};

} // namespace controls
