#include "controls/xp_button.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <array>

namespace controls {

namespace {

constexpr int kDefaultWidth = 75;
constexpr int kDefaultHeight = 25;
constexpr int kRing = 3; // width of the frame ring around an inset face
constexpr int kFaceSteps = 255;
constexpr int kFrameSteps = 16;
constexpr int kTopToBottom = 1;

struct Ramp {
    Colour top;
    Colour bottom;
};

// Face colours, top to bottom, by effective scheme; indexed by ButtonFace.
constexpr std::array<std::array<Ramp, 4>, 4> kFaces = {{
    // blue: normal, hot, pressed, disabled
    {{{rgb(255, 255, 255), rgb(239, 235, 231)},
      {rgb(255, 255, 255), rgb(239, 235, 231)},
      {rgb(217, 216, 206), rgb(228, 228, 228)},
      {rgb(255, 255, 255), rgb(239, 235, 231)}}},
    // silver
    {{{rgb(253, 253, 253), rgb(205, 204, 223)},
      {rgb(253, 253, 253), rgb(214, 215, 231)},
      {rgb(205, 204, 223), rgb(253, 253, 253)},
      {rgb(255, 255, 255), rgb(239, 235, 231)}}},
    // green
    {{{rgb(254, 255, 242), rgb(243, 238, 219)},
      {rgb(254, 255, 242), rgb(243, 238, 219)},
      {rgb(236, 227, 204), rgb(236, 227, 204)},
      {rgb(246, 242, 233), rgb(246, 242, 233)}}},
    // orange
    {{{rgb(255, 244, 234), rgb(251, 181, 111)},
      {rgb(255, 244, 234), rgb(252, 191, 131)},
      {rgb(251, 181, 111), rgb(255, 244, 234)},
      {rgb(246, 242, 233), rgb(246, 242, 233)}}},
}};

// Ring colours, top to bottom, by effective scheme.
constexpr std::array<Ramp, 4> kHotFrames = {{
    {rgb(255, 221, 157), rgb(255, 190, 70)},  // blue
    {rgb(255, 221, 157), rgb(255, 190, 70)},  // silver
    {rgb(255, 211, 130), rgb(231, 150, 0)},   // green
    {rgb(255, 255, 255), rgb(190, 190, 190)}, // orange
}};
constexpr std::array<Ramp, 4> kFocusFrames = {{
    {rgb(206, 231, 255), rgb(109, 132, 239)}, // blue
    {rgb(206, 231, 255), rgb(109, 132, 239)}, // silver
    {rgb(194, 216, 156), rgb(141, 180, 71)},  // green
    {rgb(206, 231, 255), rgb(109, 132, 239)}, // orange
}};

constexpr Colour kBorderDisabled = rgb(184, 170, 154);
constexpr Colour kBorderGreen = rgb(81, 104, 40);
constexpr Colour kBorder = rgb(51, 51, 153);
constexpr Colour kCornerEnabled = rgb(152, 152, 220);
constexpr Colour kCornerDisabled = rgb(238, 235, 232);
constexpr Colour kDisabledText = rgb(184, 170, 154);

bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

} // namespace

FaceChoice chooseButtonFace(const ButtonLook& look) {
    if (!look.enabled)
        return {ButtonFace::bfDisabled, 0};
    if (look.pressed)
        return {ButtonFace::bfPressed, 0};
    if (look.hot && !look.down)
        return {ButtonFace::bfHot, kRing};
    if (look.down)
        return {ButtonFace::bfNormal, kRing};
    if (look.focused)
        return {ButtonFace::bfNormal, kRing};
    if (!look.defaultNow)
        return {ButtonFace::bfNormal, 0};
    if (look.isDefault)
        return {ButtonFace::bfNormal, kRing};
    return {ButtonFace::bfNormal, 0};
}

void paintXPButton(Canvas& c, const ButtonLook& look, ButtonBitmaps& bitmaps) {
    const Rect r = c.clientRect();
    const int w = r.width(), h = r.height();
    const std::size_t scheme = look.scheme < 4 ? look.scheme : 0;

    // face and frame bitmaps
    const FaceChoice choice = chooseButtonFace(look);
    const Ramp face = kFaces[scheme][std::size_t(choice.face)];
    DrawGradientBitmap(w - 2 * choice.inset, h - 2 * choice.inset, face.top, face.bottom, kFaceSteps, kTopToBottom,
                       true, bitmaps.face);
    DrawGradientBitmap(w, h, kHotFrames[scheme].top, kHotFrames[scheme].bottom, kFrameSteps, kTopToBottom, true,
                       bitmaps.hotFrame);
    DrawGradientBitmap(w, h, kFocusFrames[scheme].top, kFocusFrames[scheme].bottom, kFrameSteps, kTopToBottom, true,
                       bitmaps.focusFrame);

    // ring: hot while hovered or pressed, focus colours while focused or default
    if (look.enabled && ((look.hot && !look.down) || look.down))
        c.Draw(r.left, r.top, bitmaps.hotFrame);
    if (look.focused && !look.down && !look.hot)
        c.Draw(r.left, r.top, bitmaps.focusFrame);
    if (look.defaultNow && !look.focused)
        c.Draw(r.left, r.top, bitmaps.focusFrame);
    c.Draw(r.left + choice.inset, r.top + choice.inset, bitmaps.face);

    // border
    const Colour border = !look.enabled ? kBorderDisabled : scheme == kSchemeGreen ? kBorderGreen : kBorder;
    const Colour corner = look.enabled ? kCornerEnabled : kCornerDisabled;
    c.setPenStyle(PenStyle::psSolid);
    c.setPenColour(border);
    c.MoveTo(r.left, r.top);
    c.LineTo(r.left, r.bottom);
    c.MoveTo(r.left, r.bottom - 1);
    c.LineTo(r.right, r.bottom - 1);
    c.MoveTo(r.left, r.top);
    c.LineTo(r.right, r.top);
    c.MoveTo(r.right - 1, r.top);
    c.LineTo(r.right - 1, r.bottom);

    // corners: the parent shows at the very corner, the border steps in diagonally and
    // the pixels beside the corner are softened
    const int x0 = r.left, x1 = r.left + w - 1, y0 = r.top, y1 = r.bottom - 1;
    for (auto [x, y] : {std::pair{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}})
        c.SetPixel(x, y, look.parentColour);
    for (auto [x, y] : {std::pair{x0 + 1, y0 + 1}, {x1 - 1, y0 + 1}, {x0 + 1, y1 - 1}, {x1 - 1, y1 - 1}})
        c.SetPixel(x, y, border);
    for (auto [x, y] : {std::pair{x0 + 1, y0},
                        {x1 - 1, y0},
                        {x0 + 1, y1},
                        {x1 - 1, y1},
                        {x0, y0 + 1},
                        {x1, y0 + 1},
                        {x0, y1 - 1},
                        {x1, y1 - 1}})
        c.SetPixel(x, y, corner);

    // caption, centred; measured first to centre it vertically
    if (!look.caption.isEmpty()) {
        unsigned flags = kDtCenter | kDtExpandTabs;
        if (look.wordWrap)
            flags |= kDtWordBreak;
        if (!look.showAccelChar)
            flags |= kDtNoPrefix;
        if (look.rightToLeft)
            flags |= kDtRtlReading;
        Rect text{r.left + 2, r.top + 1, r.right - 2, r.bottom - 1};
        Rect measured = text;
        c.DrawText(look.caption, measured, flags | kDtCalcRect);
        text = text.moved(0, (h - measured.bottom) / 2);
        c.setBkMode(BkMode::bkTransparent);
        c.setTextColour(look.enabled ? look.fontColour : kDisabledText);
        c.DrawText(look.caption, text, flags);
    }

    if (look.focused && look.drawFocusRect)
        c.DrawFocusRect({r.left + 2, r.top + 2, r.right - 2, r.bottom - 2});
}

TXPButton::TXPButton(QWidget* parent) : TCustomControlXP(parent) {
    resize(kDefaultWidth, kDefaultHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    m_defaultNow = m_default;
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        // Focus lost to nothing inside the still active window (the focused control went
        // away) counts as a move to no control; losing it to another application does not.
        if (now ? now->window() == window() : window()->isActiveWindow())
            focusMovedTo(now);
    });
    watchWindow();
}

TXPButton::~TXPButton() {
    // focus moves while the window tears its children down must not reach a half-destroyed button
    disconnect(m_focusConnection);
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
}

QSize TXPButton::sizeHint() const { return {kDefaultWidth, kDefaultHeight}; }

void TXPButton::setXPScheme(TXPScheme scheme) {
    if (ApplyXPScheme(m_scheme, scheme))
        update();
}

void TXPButton::setDefault(bool value) {
    m_default = value;
    if (!parentWidget()) {
        m_defaultNow = value;
        update();
        return;
    }
    // as a focus change to the window's current focus: every button recomputes
    QWidget* active = window()->focusWidget();
    for (TXPButton* button : window()->findChildren<TXPButton*>())
        button->focusMovedTo(active);
}

void TXPButton::setShowAccelChar(bool value) {
    if (m_showAccelChar == value)
        return;
    m_showAccelChar = value;
    update();
}

void TXPButton::setWordWrap(bool value) {
    if (m_wordWrap == value)
        return;
    m_wordWrap = value;
    update();
}

void TXPButton::setDrawFocusRect(bool value) {
    m_drawFocusRect = value;
    if (hasFocus() && value)
        repaintNow();
}

void TXPButton::setFontColour(Colour c) {
    if (m_fontColour == c)
        return;
    m_fontColour = c;
    update();
}

ButtonLook TXPButton::look() const {
    ButtonLook look;
    look.scheme = m_scheme.effectiveScheme;
    look.enabled = isEnabled();
    look.pressed = m_press.pressed();
    look.hot = m_press.hot();
    look.down = m_press.down();
    look.focused = hasFocus();
    look.defaultNow = m_defaultNow;
    look.isDefault = m_default;
    look.drawFocusRect = m_drawFocusRect;
    look.wordWrap = m_wordWrap;
    look.showAccelChar = m_showAccelChar;
    look.rightToLeft = layoutDirection() == Qt::RightToLeft;
    look.caption = text();
    look.fontColour = m_fontColour;
    if (const QWidget* parent = parentWidget())
        look.parentColour = fromQRgb(parent->palette().color(parent->backgroundRole()).rgb());
    return look;
}

void TXPButton::paintSurface(Canvas& canvas) { paintXPButton(canvas, look(), m_bitmaps); }

void TXPButton::Click() {
    QPointer<TXPButton> self(this);
    if (parentWidget()) {
        QWidget* w = window();
        w->setProperty(kModalResultProperty, m_modalResult);
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && m_modalResult != 0)
            dialog->done(m_modalResult);
    }
    if (self)
        emit clicked(false);
}

bool TXPButton::canFocus() const { return isEnabled() && isVisible() && focusPolicy() != Qt::NoFocus; }

void TXPButton::repaintNow() {
    if (isVisible())
        repaint();
    else
        update();
}

void TXPButton::focusMovedTo(QWidget* now) {
    m_defaultNow = qobject_cast<TXPButton*>(now) ? now == this : m_default;
    update();
}

void TXPButton::watchWindow() {
    QWidget* w = window();
    if (w == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = w;
    if (w != this)
        w->installEventFilter(this);
}

bool TXPButton::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::ParentChange:
    case QEvent::Show:
        // a container moved into another window tells only itself, so look again when shown
        watchWindow();
        break;
    case QEvent::ThemeChange:
        if (xpThemeChanged(m_scheme))
            update();
        break;
    case QEvent::Shortcut:
        // the caption's accelerator: click, then take the focus
        if (canFocus()) {
            QPointer<TXPButton> self(this);
            Click();
            if (self)
                setFocus(Qt::ShortcutFocusReason);
        }
        return true;
    default:
        break;
    }
    return TCustomControlXP::event(e);
}

bool TXPButton::eventFilter(QObject* watched, QEvent* e) {
    // Enter and Escape that no control of the window took: the default and the cancel button
    if (watched == m_watchedWindow && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        const bool enter = isEnterKey(key->key()) && m_defaultNow;
        const bool escape = key->key() == Qt::Key_Escape && m_cancel;
        if ((enter || escape) && keyModifiers(*key) == Qt::NoModifier && canFocus()) {
            Click();
            return true;
        }
    }
    return TCustomControlXP::eventFilter(watched, e);
}

void TXPButton::enterEvent(QEnterEvent* e) {
    m_press.hover(true);
    TCustomControlXP::enterEvent(e);
}

void TXPButton::leaveEvent(QEvent* e) {
    m_press.hover(false);
    TCustomControlXP::leaveEvent(e);
}

void TXPButton::mousePressEvent(QMouseEvent* e) {
    if (!m_press.mousePress(*e))
        QWidget::mousePressEvent(e);
}

void TXPButton::mouseMoveEvent(QMouseEvent* e) { m_press.mouseMove(*e); }

void TXPButton::mouseReleaseEvent(QMouseEvent* e) {
    if (!m_press.mouseRelease(*e))
        QWidget::mouseReleaseEvent(e);
}

void TXPButton::mouseDoubleClickEvent(QMouseEvent* e) {
    // the second press of a double click presses the button and clicks at once
    if (!m_press.mousePress(*e)) {
        QWidget::mouseDoubleClickEvent(e);
        return;
    }
    QPointer<TXPButton> self(this);
    Click();
    if (self)
        emit doubleClicked();
}

void TXPButton::keyPressEvent(QKeyEvent* e) {
    if (m_press.keyPress(*e))
        return;
    if (isEnterKey(e->key()) && keyModifiers(*e) == Qt::NoModifier) {
        e->accept();
        Click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TXPButton::keyReleaseEvent(QKeyEvent* e) {
    if (!m_press.keyRelease(*e))
        QWidget::keyReleaseEvent(e);
}

void TXPButton::focusInEvent(QFocusEvent* e) {
    TCustomControlXP::focusInEvent(e);
    if (m_drawFocusRect)
        repaintNow();
    else
        update();
}

void TXPButton::focusOutEvent(QFocusEvent* e) {
    m_press.focusLost();
    TCustomControlXP::focusOutEvent(e);
    update();
}

void TXPButton::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            m_press.disabled();
        update();
    }
    TCustomControlXP::changeEvent(e);
}

} // namespace controls
