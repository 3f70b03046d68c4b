// The pointer and keyboard state the XP push button and check box share: hot while the
// pointer is over the control, down while a press (left mouse button or space bar) is in
// progress, pressed while that press holds the control with the pointer inside.
//
// The control forwards its input events; the tracker updates the state, redraws through
// the control's own repaint (the button all of itself, the check box only its box) and
// clicks through the control's click when a press ends on it.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>

class QKeyEvent;
class QMouseEvent;

namespace controls {

class PressTracker {
public:
    PressTracker(QWidget& control, std::function<void()> repaint, std::function<void()> click);

    // pressState: kUp, or kPressed while the press holds the control with the pointer inside.
    static constexpr std::uint8_t kUp = 0;
    static constexpr std::uint8_t kPressed = 2;
    std::uint8_t pressState() const { return m_pressState; }
    bool pressed() const { return m_pressState != kUp; }
    bool down() const { return m_down; }
    bool hot() const { return m_hot; }
    bool spaceDown() const { return m_spaceDown; }

    // The pointer enters (on) or leaves an enabled control: hot follows.
    void hover(bool on);
    // A left-button press on an enabled control starts a press and takes the focus;
    // returns false (and does nothing) for any other button or a disabled control.
    bool mousePress(const QMouseEvent& e);
    // While down: pressed when the pointer is inside, else up.
    void mouseMove(const QMouseEvent& e);
    // Left button released on an enabled control: the press ends (released outside, the
    // pointer no longer hovers the control), then clicks when inside. False otherwise.
    bool mouseRelease(const QMouseEvent& e);
    // Space without modifiers starts a press (unless one holds the control already); its
    // release ends the press and clicks, also without the matching press. False for other keys.
    bool keyPress(QKeyEvent& e);
    bool keyRelease(QKeyEvent& e);
    // Focus lost during a space press: the press is cancelled without a click.
    void focusLost();
    // Disabled: not hot, no press.
    void disabled();

private:
    void press();
    // Ends the press; clicks when it ended on the control.
    void release(bool inside);
    void cancel();

    QWidget& m_control;
    std::function<void()> m_repaint;
    std::function<void()> m_click;
    std::uint8_t m_pressState = kUp;
    bool m_down = false;
    bool m_hot = false;
    bool m_spaceDown = false;
};

// The modifier keys held with a key: the keypad's Enter carries the keypad flag, which is
// not a modifier key.
Qt::KeyboardModifiers keyModifiers(const QKeyEvent& e);

} // namespace controls
