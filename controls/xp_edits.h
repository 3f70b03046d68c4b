// The XP edit and list box: the platform's single-line edit and list box with their frame
// repainted in the colour scheme's border colour.
//
// After every paint, and at once whenever the enabled state or the scheme changes, the
// outermost pixel ring of the control takes XPBorderColour(35, enabled, scheme) and the
// ring just inside it white; everything else is the platform's own painting.
#pragma once

#include "controls/xp_common.h"

#include <QEvent>
#include <QImage>

#include <cstdint>

namespace controls {

// A widget rendered with its children into an RGB32 image of its size.
QImage renderControl(QWidget& w);
// Paints the XP border over the widget (inside its paint event) in its enabled state.
void drawXPBorderOver(QWidget& w, std::uint8_t scheme);
// The desktop's visual style changed: a control that follows the desktop's scheme detects
// it again and redraws its border.
void followDesktopScheme(const QEvent& e, XPSchemeState& scheme, QWidget& w);

// The XPScheme property and the border, as the edit and the list box add them to the
// platform's control.
template <class Base>
class XPBorderedControl : public Base {
public:
    using Base::Base;

    TXPScheme XPScheme() const { return m_scheme.xpScheme; }
    // Stores and applies the scheme; the whole control is repainted at once (an edit keeps
    // its text), also when the effective scheme stays.
    void setXPScheme(TXPScheme scheme) {
        ApplyXPScheme(m_scheme, scheme);
        this->repaint();
    }
    std::uint8_t effectiveScheme() const { return m_scheme.effectiveScheme; }

    // The control as it paints itself now, border and items included (RGB32, its size).
    QImage renderImage() { return renderControl(*this); }

protected:
    // The list box's frame is painted by its own paint event (the items by the viewport's),
    // so the border goes on after the whole paint event has run.
    bool event(QEvent* e) override {
        followDesktopScheme(*e, m_scheme, *this);
        const bool handled = Base::event(e);
        if (e->type() == QEvent::Paint)
            drawXPBorderOver(*this, m_scheme.effectiveScheme);
        return handled;
    }
    void changeEvent(QEvent* e) override {
        Base::changeEvent(e);
        if (e->type() == QEvent::EnabledChange)
            this->repaint();
    }

private:
    XPSchemeState m_scheme;
};

class TXPCustomEdit : public XPBorderedControl<TCustomEditXP> {
    Q_OBJECT
public:
    explicit TXPCustomEdit(QWidget* parent = nullptr);
};

class TXPEdit : public TXPCustomEdit {
    Q_OBJECT
public:
    using TXPCustomEdit::TXPCustomEdit;
};

class TXPCustomListBox : public XPBorderedControl<TCustomListBoxXP> {
    Q_OBJECT
public:
    explicit TXPCustomListBox(QWidget* parent = nullptr);
};

class TXPListBox : public TXPCustomListBox {
    Q_OBJECT
public:
    using TXPCustomListBox::TXPCustomListBox;
};

} // namespace controls
