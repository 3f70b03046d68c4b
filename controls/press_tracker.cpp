#include "controls/press_tracker.h"

#include "controls/xp_common.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

namespace controls {

namespace {

bool isPlainSpace(const QKeyEvent& e) {
    return e.key() == Qt::Key_Space && keyModifiers(e) == Qt::NoModifier;
}

} // namespace

Qt::KeyboardModifiers keyModifiers(const QKeyEvent& e) { return e.modifiers() & ~Qt::KeypadModifier; }

PressTracker::PressTracker(QWidget& control, std::function<void()> repaint, std::function<void()> click)
    : m_control(control), m_repaint(std::move(repaint)), m_click(std::move(click)) {}

void PressTracker::enter() {
    if (!m_hot && m_control.isEnabled()) {
        m_hot = true;
        m_repaint();
    }
}

void PressTracker::leave() {
    if (m_hot && m_control.isEnabled()) {
        m_hot = false;
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

void PressTracker::setPressState(std::uint8_t state) {
    if (state != m_pressState) {
        m_pressState = state;
        m_repaint();
    }
}

void PressTracker::mouseMove(const QMouseEvent& e) {
    if (m_down)
        setPressState(pointerInside(m_control, e.position()) ? kPressed : kUp);
}

bool PressTracker::mouseRelease(const QMouseEvent& e) {
    if (e.button() != Qt::LeftButton || !m_control.isEnabled())
        return false;
    const bool inside = pointerInside(m_control, e.position());
    m_pressState = kUp;
    m_down = false;
    if (!inside)
        m_hot = false;
    m_repaint();
    if (inside)
        m_click();
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
    m_spaceDown = false;
    m_pressState = kUp;
    m_down = false;
    m_repaint();
    e.accept();
    m_click();
    return true;
}

void PressTracker::focusLost() {
    if (m_spaceDown) {
        m_spaceDown = false;
        m_pressState = kUp;
        m_down = false;
    }
}

void PressTracker::disabled() {
    m_pressState = kUp;
    m_hot = false;
    m_down = false;
    m_spaceDown = false;
}

} // namespace controls
