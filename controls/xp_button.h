// The XP-look push button: a gradient face, a 3-pixel coloured ring while hot, focused or
// default, a dark border with softened corners and a centred caption.
//
// The widget keeps the state (hot, pressed, default …); painting is paintXPButton over a
// ButtonLook snapshot, so any state can be drawn and checked without a window.
#pragma once

#include "controls/canvas.h"
#include "controls/press_tracker.h"
#include "controls/xp_common.h"

#include <QImage>
#include <QPointer>
#include <QString>

#include <cstdint>

namespace controls {

// Everything painting needs to know about a button.
struct ButtonLook {
    std::uint8_t scheme = kSchemeBlue; // effective scheme 0 … 3
    bool enabled = true;
    bool pressed = false; // pressState pressed (the pointer or space bar holds it inside)
    bool hot = false;     // the pointer is over the button
    bool down = false;    // a press is in progress
    bool focused = false;
    bool defaultNow = false; // acts as the window's default button now
    bool isDefault = false;  // the Default property
    bool drawFocusRect = false;
    bool wordWrap = false;
    bool showAccelChar = true;
    bool rightToLeft = false;
    QString caption;
    Colour fontColour = clWindowText;
    Colour parentColour = clBtnFace; // shows in the four outermost corner pixels
};

enum class ButtonFace { bfNormal, bfHot, bfPressed, bfDisabled };

struct FaceChoice {
    ButtonFace face;
    int inset; // 0: the face covers the button; 3: the frame ring shows around it
};

// The face colours and size for the state, in the order the states take precedence.
FaceChoice chooseButtonFace(const ButtonLook& look);

// The three bitmaps a button rebuilds on every paint; kept between paints so their
// storage is reused.
struct ButtonBitmaps {
    QImage face;
    QImage hotFrame;
    QImage focusFrame;
};

// Paints the whole button over the canvas's client rectangle.
void paintXPButton(Canvas& canvas, const ButtonLook& look, ButtonBitmaps& bitmaps);

// The window property a click stores the button's ModalResult in (an int); a QDialog
// window is also closed with it when it is not 0.
inline constexpr char kModalResultProperty[] = "ModalResult";

class TXPButton : public TCustomControlXP {
    Q_OBJECT
public:
    explicit TXPButton(QWidget* parent = nullptr);
    ~TXPButton() override;

    QString Caption() const { return text(); }
    void setCaption(const QString& caption) { setText(caption); }

    TXPScheme XPScheme() const { return m_scheme.xpScheme; }
    // Repaints only when the effective scheme changes.
    void setXPScheme(TXPScheme scheme);
    std::uint8_t effectiveScheme() const { return m_scheme.effectiveScheme; }

    bool Default() const { return m_default; }
    // Every XP button of the window recomputes whether it is the default button now.
    void setDefault(bool value);
    bool Cancel() const { return m_cancel; }
    void setCancel(bool value) { m_cancel = value; }
    int ModalResult() const { return m_modalResult; }
    void setModalResult(int value) { m_modalResult = value; }
    bool ShowAccelChar() const { return m_showAccelChar; }
    void setShowAccelChar(bool value);
    bool WordWrap() const { return m_wordWrap; }
    void setWordWrap(bool value);
    bool DrawFocusRect() const { return m_drawFocusRect; }
    void setDrawFocusRect(bool value);
    Colour fontColour() const { return m_fontColour; }
    void setFontColour(Colour c);

    // Internal state, readable for tests and the window.
    bool defaultNow() const { return m_defaultNow; }
    bool hot() const { return m_press.hot(); }
    bool isPressedDown() const { return m_press.down(); }
    int pressState() const { return m_press.pressState(); }
    bool spaceDown() const { return m_press.spaceDown(); }

    ButtonLook look() const;
    QSize sizeHint() const override;

    // Stores ModalResult in the window, then emits clicked().
    void Click();

signals:
    void doubleClicked();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintSurface(Canvas& canvas) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    bool canFocus() const;
    void repaintNow();
    void focusMovedTo(QWidget* now);
    void watchWindow();

    XPSchemeState m_scheme;
    bool m_default = false;
    bool m_cancel = false;
    int m_modalResult = 0;
    bool m_showAccelChar = true;
    bool m_wordWrap = false;
    bool m_drawFocusRect = false;
    Colour m_fontColour = clWindowText;

    bool m_defaultNow = false;
    PressTracker m_press{*this, [this] { repaintNow(); }, [this] { Click(); }};

    ButtonBitmaps m_bitmaps;
    QPointer<QWidget> m_watchedWindow;
    QMetaObject::Connection m_focusConnection;
};

} // namespace controls
