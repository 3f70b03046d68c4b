// The XP-look check box: a self-drawn 13 × 13 gradient box with a dark outline, a green
// check mark (a green square when grayed), an orange ring while hot or pressed, and a
// caption beside it.
//
// Drawing is a free function over a snapshot (CheckBoxLook), so its pixels can be checked
// without a window; the widget keeps the pointer and keyboard state and paints through it.
#pragma once

#include "controls/canvas.h"
#include "controls/press_tracker.h"
#include "controls/system_colours.h"
#include "controls/xp_common.h"

#include <QAction>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

namespace controls {

enum TCheckBoxState : std::uint8_t { cbUnchecked = 0, cbChecked = 1, cbGrayed = 2 };

// Where the caption sits: taRightJustify puts the box at the left and the caption to its
// right; taLeftJustify puts the caption at the left and the box at the right.
enum TLeftRight : std::uint8_t { taLeftJustify = 0, taRightJustify = 1 };

// Everything one paint of the check box depends on.
struct CheckBoxLook {
    TCheckBoxState state = cbUnchecked;
    TLeftRight alignment = taRightJustify;
    bool enabled = true;
    bool pressed = false; // pressed with the pointer inside
    bool hot = false;     // the pointer is over the control
    bool down = false;    // a press by mouse button or space bar is in progress
    bool focused = false;
    bool rightToLeft = false;
    QString caption;
    Colour colour = clBtnFace; // the control's Color: background and caption fill
    Colour textColour = clWindowText;
};

// The check box's rectangles inside a client rectangle (all half-open).
struct CheckBoxGeometry {
    int mid = 0;      // (bottom − top) / 2
    Rect box;         // (bl, bt, br, bb); the outline frames x = bl … br + 1, y = bt … bb
    Rect repaintArea; // what a state change repaints
    Rect caption;     // caption rectangle, full client height
};

// Geometry for the client rectangle, the alignment and the caption's width in pixels.
CheckBoxGeometry checkBoxGeometry(const Rect& client, TLeftRight alignment, int captionWidth);

// The dotted focus rectangle around a caption of the given width and text height.
Rect checkBoxFocusRect(const Rect& client, TLeftRight alignment, int captionWidth, int textHeight);

// The two bitmaps every paint rebuilds: the box face and the hot ring. The control owns
// them so their memory is reused between paints.
struct CheckBoxBitmaps {
    QImage box;
    QImage ring;
};

// Paints the whole check box over the canvas's client rectangle in the canvas's font.
void paintCheckBox(Canvas& canvas, const CheckBoxLook& look, CheckBoxBitmaps& bitmaps);

class TXPCustomCheckBox;

// The link between a check box and its action (the Action property). On linking, the box
// takes the action's text, enabled and checked state; later it follows the action's text
// and enabled state, and the action's checked state only while the two agreed before the
// change. A click executes the action.
class TXPCheckBoxActionLink : public QObject {
    Q_OBJECT
public:
    TXPCheckBoxActionLink(TXPCustomCheckBox& client, QAction& action);

    QAction* action() const { return m_action; }
    // Whether the box's Checked equals the action's checked state as last seen.
    bool isCheckedLinked() const;
    // A click: a checkable action takes the box's Checked and reports it as triggered;
    // any other action is triggered.
    void execute();

private:
    void actionChanged();

    TXPCustomCheckBox& m_client;
    QPointer<QAction> m_action;
    bool m_actionChecked = false;
    bool m_executing = false;
};

// The self-drawn check box. The caption is the button's text(); "&" marks its accelerator.
// A click by the pointer or the space bar toggles the state and emits stateChanged, then
// clicked (OnClick); QAbstractButton's own click()/toggle slots are not used. Setting State
// or Checked from code repaints the box and fires neither.
class TXPCustomCheckBox : public TCustomControlXP {
    Q_OBJECT
public:
    explicit TXPCustomCheckBox(QWidget* parent = nullptr);

    QString Caption() const { return text(); }
    void setCaption(const QString& caption) { setText(caption); }
    TCheckBoxState State() const { return m_state; }
    void setState(TCheckBoxState state);
    bool Checked() const { return m_state == cbChecked; }
    void setChecked(bool checked);
    bool AllowGrayed() const { return m_allowGrayed; }
    void setAllowGrayed(bool allowGrayed) { m_allowGrayed = allowGrayed; }
    TLeftRight Alignment() const { return m_alignment; }
    void setAlignment(TLeftRight alignment);
    Colour Color() const { return m_colour; }
    void setColor(Colour colour);
    Colour fontColour() const { return m_fontColour; }
    void setFontColour(Colour colour);
    bool TabStop() const { return focusPolicy() == Qt::StrongFocus; }
    void setTabStop(bool tabStop) { setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus); }
    QAction* Action() const { return m_actionLink ? m_actionLink->action() : nullptr; }
    // Links the box to the action (nullptr unlinks); the box does not own the action.
    void setAction(QAction* action);

    // The size a new check box gets; the control does not size itself to its caption.
    QSize sizeHint() const override;

    // The snapshot the next paint draws.
    CheckBoxLook look() const;
    // Geometry of the current client area, caption and alignment.
    CheckBoxGeometry geometryNow() const;

    // Internal state, read by tests.
    bool isPressed() const { return m_press.pressed(); }
    bool isDown() const { return m_press.down(); }
    bool isHot() const { return m_press.hot(); }

    // unchecked → grayed (AllowGrayed) or checked, checked → unchecked, grayed → checked;
    // repaints the box. Fires no click.
    void Toggle();
    // Toggle, then stateChanged (the change notification), then clicked (OnClick), then
    // the linked action.
    void Click();

signals:
    void stateChanged(controls::TCheckBoxState state);

protected:
    void paintSurface(Canvas& canvas) override;
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // Repaints the box area at once.
    void repaintBox();

    TCheckBoxState m_state = cbUnchecked;
    bool m_allowGrayed = false;
    TLeftRight m_alignment = taRightJustify;
    Colour m_colour = clBtnFace;
    Colour m_fontColour = clWindowText;
    PressTracker m_press{*this, [this] { repaintBox(); }, [this] { Click(); }};
    CheckBoxBitmaps m_bitmaps;
    std::unique_ptr<TXPCheckBoxActionLink> m_actionLink;
};

class TXPCheckBox : public TXPCustomCheckBox {
    Q_OBJECT
public:
    using TXPCustomCheckBox::TXPCustomCheckBox;
};

} // namespace controls
