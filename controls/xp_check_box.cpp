#include "controls/xp_check_box.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcutEvent>

namespace controls {

namespace {

constexpr QSize kDefaultSize(120, 17);
constexpr int kBoxSize = 13;  // face and ring, in pixels
constexpr int kInsetSize = 7; // the small face inside the ring
constexpr int kInset = 3;
constexpr int kFaceSteps = 255;
constexpr int kRingSteps = 16;
constexpr int kDownwards = 1; // first colour at the top
constexpr int kUpwards = 3;   // the same bands with the colours exchanged

// face: white at the bottom fading up to a warm grey (drawn with kUpwards)
constexpr Colour kFaceLight = rgb(255, 255, 255);
constexpr Colour kFaceShade = rgb(239, 235, 231);
// pressed face, top to bottom
constexpr Colour kPressedTop = rgb(182, 168, 152);
constexpr Colour kPressedBottom = rgb(247, 243, 235);
// hot ring, top to bottom
constexpr Colour kRingTop = rgb(255, 211, 130);
constexpr Colour kRingBottom = rgb(255, 194, 81);

constexpr Colour kOutlineEnabled = rgb(0, 108, 108);
constexpr Colour kOutlineDisabled = rgb(184, 170, 154);
constexpr Colour kMarkEnabled = rgb(40, 176, 51);
constexpr Colour kMarkDisabled = rgb(180, 180, 180);
constexpr Colour kGrayedFull = rgb(43, 189, 53);
constexpr Colour kGrayedInset = rgb(32, 138, 40);
constexpr Colour kCaptionDisabled = rgb(184, 170, 154);

// The check mark: six strokes from the inner rectangle's top-left, end points excluded.
struct Stroke {
    int x0, y0, x1, y1;
};
constexpr Stroke kCheckStrokes[] = {
    {2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9}, // short left arm
    {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}, // long right arm
};

QFont canvasFont(QFont font) {
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

} // namespace

CheckBoxGeometry checkBoxGeometry(const Rect& client, TLeftRight alignment, int captionWidth) {
    CheckBoxGeometry g;
    g.mid = (client.bottom - client.top) / 2;
    if (alignment == taRightJustify) {
        g.box = {client.left + 2, g.mid - 6, client.left + 13, g.mid + 6};
        g.repaintArea = {client.left + 2, g.mid - 6, client.left + 14, g.mid + 6};
        g.caption = {client.left + 20, client.top, client.left + 21 + captionWidth, client.bottom};
    } else {
        g.box = {client.right - 15, g.mid - 6, client.right - 4, g.mid + 6};
        g.repaintArea = {client.right - 15, g.mid - 6, client.right - 3, g.mid + 6};
        g.caption = {client.left + 2, client.top, client.right - 17, client.bottom};
    }
    return g;
}

Rect checkBoxFocusRect(const Rect& client, TLeftRight alignment, int captionWidth, int textHeight) {
    const CheckBoxGeometry g = checkBoxGeometry(client, alignment, captionWidth);
    Rect r = g.caption;
    if (alignment == taLeftJustify) {
        if (r.left + captionWidth < r.right)
            r.right = r.left + captionWidth + 2;
    } else if (r.left + captionWidth > client.right) {
        r.right = client.right;
    }
    r.left -= 1;
    r.top = g.mid - textHeight / 2 - 2;
    r.bottom = g.mid + textHeight / 2 + 2;
    if (r.bottom - r.top > client.height()) {
        r.top = client.top;
        r.bottom = client.bottom;
    }
    return r;
}

void paintCheckBox(Canvas& canvas, const CheckBoxLook& look, CheckBoxBitmaps& bitmaps) {
    const Rect client = canvas.clientRect();
    const int captionWidth = canvas.TextWidth(look.caption);
    const CheckBoxGeometry g = checkBoxGeometry(client, look.alignment, captionWidth);
    const int bl = g.box.left, bt = g.box.top, br = g.box.right, bb = g.box.bottom;

    // background erase in the control's colour
    canvas.FillRect(client, look.colour);

    // box face, in the order: disabled, pressed, hot ring, held outside, plain
    int inset = 0;
    if (!look.enabled) {
        DrawGradientBitmap(kBoxSize, kBoxSize, kFaceLight, kFaceShade, kFaceSteps, kUpwards, true, bitmaps.box);
    } else if (look.pressed) {
        DrawGradientBitmap(kBoxSize, kBoxSize, kPressedTop, kPressedBottom, kFaceSteps, kDownwards, true, bitmaps.box);
    } else if (look.hot || look.down) {
        DrawGradientBitmap(kInsetSize, kInsetSize, kFaceLight, kFaceShade, kFaceSteps, kUpwards, true, bitmaps.box);
        inset = kInset;
    } else {
        DrawGradientBitmap(kBoxSize, kBoxSize, kFaceLight, kFaceShade, kFaceSteps, kUpwards, true, bitmaps.box);
    }
    DrawGradientBitmap(kBoxSize, kBoxSize, kRingTop, kRingBottom, kRingSteps, kDownwards, true, bitmaps.ring);

    // hot ring around the small face
    if (inset == kInset)
        canvas.Draw(bl, bt, bitmaps.ring);
    canvas.Draw(bl + inset, bt + inset, bitmaps.box);

    // outline: x = bl … br + 1, y = bt … bb
    canvas.setPenStyle(PenStyle::psSolid);
    canvas.setPenColour(look.enabled ? kOutlineEnabled : kOutlineDisabled);
    canvas.MoveTo(bl, bt);
    canvas.LineTo(bl, bb);
    canvas.LineTo(br + 2, bb);
    canvas.MoveTo(bl, bt);
    canvas.LineTo(br + 1, bt);
    canvas.LineTo(br + 1, bb);

    // check mark or grayed square
    if (look.state == cbChecked) {
        const int l = bl + 1, t = bt + 1; // the inner rectangle's top-left
        canvas.setPenColour(look.enabled ? kMarkEnabled : kMarkDisabled);
        for (const Stroke& s : kCheckStrokes) {
            canvas.MoveTo(l + s.x0, t + s.y0);
            canvas.LineTo(l + s.x1, t + s.y1);
        }
    } else if (look.state == cbGrayed) {
        const Colour c = !look.enabled ? kMarkDisabled : inset == 0 ? kGrayedFull : kGrayedInset;
        canvas.setPenColour(c);
        canvas.setBrushStyle(BrushStyle::bsSolid);
        canvas.setBrushColour(c);
        canvas.Rectangle({bl + 3, bt + 3, br - 1, bb - 2});
    }

    // caption
    Rect caption = g.caption;
    canvas.FillRect(caption, look.colour);
    canvas.setBkMode(BkMode::bkTransparent);
    canvas.setTextColour(look.enabled ? look.textColour : kCaptionDisabled);
    canvas.DrawText(look.caption, caption,
                    kDtSingleLine | kDtVCenter | kDtLeft | (look.rightToLeft ? kDtRtlReading : 0u));

    // focus rectangle
    if (look.focused)
        canvas.DrawFocusRect(checkBoxFocusRect(client, look.alignment, captionWidth, canvas.TextHeight(look.caption)));
}

TXPCustomCheckBox::TXPCustomCheckBox(QWidget* parent) : TCustomControlXP(parent) {
    resize(kDefaultSize);
    setFocusPolicy(Qt::StrongFocus);
}

QSize TXPCustomCheckBox::sizeHint() const { return kDefaultSize; }

void TXPCustomCheckBox::setState(TCheckBoxState state) {
    if (state == m_state)
        return;
    m_state = state;
    repaintBox();
}

void TXPCustomCheckBox::setChecked(bool checked) { setState(checked ? cbChecked : cbUnchecked); }

void TXPCustomCheckBox::setAlignment(TLeftRight alignment) {
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    update();
}

void TXPCustomCheckBox::setColor(Colour colour) {
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
}

void TXPCustomCheckBox::setFontColour(Colour colour) {
    if (colour == m_fontColour)
        return;
    m_fontColour = colour;
    update();
}

CheckBoxLook TXPCustomCheckBox::look() const {
    CheckBoxLook l;
    l.state = m_state;
    l.alignment = m_alignment;
    l.enabled = isEnabled();
    l.pressed = m_press.pressed();
    l.hot = m_press.hot();
    l.down = m_press.down();
    l.focused = hasFocus();
    l.rightToLeft = layoutDirection() == Qt::RightToLeft;
    l.caption = text();
    l.colour = m_colour;
    l.textColour = m_fontColour;
    return l;
}

CheckBoxGeometry TXPCustomCheckBox::geometryNow() const {
    const int captionWidth = text().isEmpty() ? 0 : QFontMetrics(canvasFont(font())).horizontalAdvance(text());
    return checkBoxGeometry({0, 0, width(), height()}, m_alignment, captionWidth);
}

void TXPCustomCheckBox::Toggle() {
    switch (m_state) {
    case cbUnchecked:
        m_state = m_allowGrayed ? cbGrayed : cbChecked;
        break;
    case cbChecked:
        m_state = cbUnchecked;
        break;
    case cbGrayed:
        m_state = cbChecked;
        break;
    }
    repaintBox();
}

void TXPCustomCheckBox::Click() {
    Toggle();
    // either handler may delete the box
    QPointer<TXPCustomCheckBox> self(this);
    emit stateChanged(m_state);
    if (!self)
        return;
    emit clicked(Checked());
    if (self && m_actionLink)
        m_actionLink->execute();
}

void TXPCustomCheckBox::setAction(QAction* action) {
    if (action == Action())
        return;
    m_actionLink.reset();
    if (action)
        m_actionLink = std::make_unique<TXPCheckBoxActionLink>(*this, *action);
}

TXPCheckBoxActionLink::TXPCheckBoxActionLink(TXPCustomCheckBox& client, QAction& action)
    : m_client(client), m_action(&action), m_actionChecked(action.isChecked()) {
    m_client.setCaption(action.text());
    m_client.setEnabled(action.isEnabled());
    m_client.setChecked(action.isChecked());
    connect(&action, &QAction::changed, this, &TXPCheckBoxActionLink::actionChanged);
}

bool TXPCheckBoxActionLink::isCheckedLinked() const { return m_action && m_client.Checked() == m_actionChecked; }

void TXPCheckBoxActionLink::actionChanged() {
    if (!m_action)
        return;
    const bool checked = m_action->isChecked();
    if (checked != m_actionChecked) {
        // the box follows only when it agreed with the action before the change
        if (!m_executing && isCheckedLinked())
            m_client.setChecked(checked);
        m_actionChecked = checked;
    }
    if (m_client.Caption() != m_action->text())
        m_client.setCaption(m_action->text());
    m_client.setEnabled(m_action->isEnabled());
}

void TXPCheckBoxActionLink::execute() {
    if (!m_action || !m_action->isEnabled())
        return;
    if (!m_action->isCheckable()) {
        m_action->trigger();
        return;
    }
    // The box has already toggled itself: the action takes its state, so a grayed box
    // stays grayed, and reports the click.
    const bool checked = m_client.Checked();
    m_executing = true;
    m_action->setChecked(checked);
    m_executing = false;
    emit m_action->triggered(checked);
}

void TXPCustomCheckBox::paintSurface(Canvas& canvas) { paintCheckBox(canvas, look(), m_bitmaps); }

void TXPCustomCheckBox::repaintBox() {
    const Rect a = geometryNow().repaintArea;
    if (isVisible())
        repaint(QRect(a.left, a.top, a.width(), a.height()));
}

bool TXPCustomCheckBox::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        // the caption's accelerator: focus, then toggle without a click
        setFocus(Qt::ShortcutFocusReason);
        if (hasFocus())
            Toggle();
        e->accept();
        return true;
    }
    return TCustomControlXP::event(e);
}

void TXPCustomCheckBox::mousePressEvent(QMouseEvent* e) {
    if (!m_press.mousePress(*e))
        e->ignore();
}

void TXPCustomCheckBox::mouseDoubleClickEvent(QMouseEvent* e) {
    // the second press of a double click is a press like any other
    mousePressEvent(e);
}

void TXPCustomCheckBox::mouseMoveEvent(QMouseEvent* e) { m_press.mouseMove(*e); }

void TXPCustomCheckBox::mouseReleaseEvent(QMouseEvent* e) {
    if (!m_press.mouseRelease(*e))
        e->ignore();
}

void TXPCustomCheckBox::keyPressEvent(QKeyEvent* e) {
    if (!m_press.keyPress(*e))
        QWidget::keyPressEvent(e);
}

void TXPCustomCheckBox::keyReleaseEvent(QKeyEvent* e) {
    if (!m_press.keyRelease(*e))
        QWidget::keyReleaseEvent(e);
}

void TXPCustomCheckBox::enterEvent(QEnterEvent* e) {
    m_press.hover(true);
    TCustomControlXP::enterEvent(e);
}

void TXPCustomCheckBox::leaveEvent(QEvent* e) {
    m_press.hover(false);
    TCustomControlXP::leaveEvent(e);
}

void TXPCustomCheckBox::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    update();
}

void TXPCustomCheckBox::focusOutEvent(QFocusEvent* e) {
    m_press.focusLost();
    QWidget::focusOutEvent(e);
    update();
}

void TXPCustomCheckBox::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            m_press.disabled();
        update();
    } else if (e->type() == QEvent::FontChange || e->type() == QEvent::LayoutDirectionChange) {
        update();
    }
    QWidget::changeEvent(e);
}

void TXPCustomCheckBox::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    update();
}

} // namespace controls
