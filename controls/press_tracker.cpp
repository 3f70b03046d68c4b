#include "controls/press_tracker.h"

#include "controls/xp_common.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

namespace controls {

namespace {

bool isPlainSpace(const QKeyEvent& e) { return e.key() == Qt::Key_Space && keyModifiers(e) == Qt::NoModifier; }

} // namespace

Qt::KeyboardModifiers keyModifiers(const QKeyEvent& e) { return e.modifiers() & ~Qt::KeypadModifier; }

PressTracker::PressTracker(QWidget& control, std::function<void()> repaint, std::function<void()> click)
    : m_control(control), m_repaint(std::move(repaint)), m_click(std::move(click)) {}

void PressTracker::hover(bool on) {
    if (m_hot != on && m_control.isEnabled()) {
        m_hot = on;
        m_repaint();
    }
}

void PressTracker::press() {
    m_pressState = kPressed;
    m_down = true;
    if (m_control.isVisible() && m_control.focusPolicy() != Qt::NoFocus)
        m_control.setFocus(Qt::OtherFocusReason);
    m_repaint();
}

bool PressTracker::mousePress(const QMouseEvent& e) {
    if (e.button() != Qt::LeftButton || !m_control.isEnabled())
        return false;
    press();
    return true;
}

void PressTracker::mouseMove(const QMouseEvent& e) {
    const std::uint8_t state = pointerInside(m_control, e.position()) ? kPressed : kUp;
    if (m_down && state != m_pressState) {
        m_pressState = state;
        m_repaint();
    }
}

bool PressTracker::mouseRelease(const QMouseEvent& e) {
    if (e.button() != Qt::LeftButton || !m_control.isEnabled())
        return false;
    release(pointerInside(m_control, e.position()));
    return true;
}

bool PressTracker::keyPress(QKeyEvent& e) {
    if (!isPlainSpace(e))
        return false;
    m_spaceDown = true;
    if (m_pressState == kUp)
        press();
    e.accept();
    return true;
}

bool PressTracker::keyRelease(QKeyEvent& e) {
    // a held key repeats presses only; its synthetic releases are not the real one
    if (!isPlainSpace(e) || e.isAutoRepeat())
        return false;
    e.accept();
    release(true);
    return true;
}

void PressTracker::release(bool inside) {
    cancel();
    // released away from the control: the pointer no longer hovers it
    if (!inside)
        m_hot = false;
    m_repaint();
    if (inside)
        m_click();
}

void PressTracker::cancel() {
    m_pressState = kUp;
    m_down = false;
    m_spaceDown = false;
}

void PressTracker::focusLost() {
    if (m_spaceDown)
        cancel();
}

void PressTracker::disabled() {
    cancel();
    m_hot = false;
}

} // namespace controls
