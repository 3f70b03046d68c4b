// Answers the modal message boxes of a running window from the test: every box that
// appears is recorded (caption, icon, buttons, text) and answered with the next button
// the test queued; a box nobody expected is recorded as such and closed, so that the
// test fails instead of hanging.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrane::testing {

// "caption [icon] (buttons) text": one line per box, so that a whole dialogue compares
// with one EXPECT_EQ.
inline std::string describeBox(const QString& caption, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                               const QString& text) {
    const char* iconName = "none";
    switch (icon) {
    case QMessageBox::Information:
        iconName = "information";
        break;
    case QMessageBox::Warning:
        iconName = "warning";
        break;
    case QMessageBox::Critical:
        iconName = "error";
        break;
    case QMessageBox::Question:
        iconName = "question";
        break;
    case QMessageBox::NoIcon:
        break;
    }
    std::string names;
    const std::pair<QMessageBox::StandardButton, const char*> known[] = {
        {QMessageBox::Ok, "Ok"},           {QMessageBox::Yes, "Yes"},           {QMessageBox::No, "No"},
        {QMessageBox::Abort, "Abort"},     {QMessageBox::Retry, "Retry"},       {QMessageBox::Ignore, "Ignore"},
        {QMessageBox::NoToAll, "NoToAll"}, {QMessageBox::YesToAll, "YesToAll"}, {QMessageBox::Cancel, "Cancel"}};
    for (const auto& [button, name] : known)
        if (buttons.testFlag(button))
            names += names.empty() ? name : std::string(" ") + name;
    return caption.toStdString() + " [" + iconName + "] (" + names + ") " + text.toStdString();
}

// The boxes of this program, described as describeBox does.
inline std::string errorBox(const std::string& text) { return "Error [error] (Ok) " + text; }
inline std::string informationBox(const std::string& text) { return "Information [information] (Ok) " + text; }
inline std::string deleteQuestion() { return "Удаление [question] (Yes No) Вы действительно хотите удалить запись?"; }
inline std::string topLevelBox(const std::string& text) { return "kestrane [error] (Ok) " + text; }
inline std::string failureBox(const std::string& text) { return "kestrane [error] (Abort Retry Ignore) " + text; }

class MessageBoxAnswerer : public QObject {
public:
    MessageBoxAnswerer() {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
        m_poll.start();
    }

    // The answer to the next box; `before` runs while that box is on screen.
    void answer(QMessageBox::StandardButton button, std::function<void()> before = {}) {
        m_answers.push_back({button, std::move(before)});
    }

    // The boxes seen since the last call, in order; an unexpected box is marked so.
    std::vector<std::string> take() {
        std::vector<std::string> seen;
        seen.swap(m_seen);
        return seen;
    }
    // Answers queued for boxes that never appeared.
    std::size_t pending() const { return m_answers.size(); }
    void clearPending() { m_answers.clear(); }

private:
    struct Answer {
        QMessageBox::StandardButton button;
        std::function<void()> before;
    };

    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box->property("answeredByTest").toBool())
            return;
        box->setProperty("answeredByTest", true);
        std::string line = describeBox(box->windowTitle(), box->icon(), box->standardButtons(), box->text());
        QAbstractButton* target = nullptr;
        if (m_answers.empty()) {
            line = "UNEXPECTED " + line;
        } else {
            Answer next = std::move(m_answers.front());
            m_answers.pop_front();
            if (next.before)
                next.before();
            target = box->button(next.button);
            if (target == nullptr)
                line = "NO SUCH BUTTON " + line;
        }
        m_seen.push_back(line);
        if (target == nullptr) {
            // Close it the safest way the box offers.
            for (auto b : {QMessageBox::No, QMessageBox::Abort, QMessageBox::Ok, QMessageBox::Cancel})
                if ((target = box->button(b)) != nullptr)
                    break;
            if (target == nullptr && !box->buttons().isEmpty())
                target = box->buttons().front();
        }
        if (target != nullptr)
            target->click();
    }

    QTimer m_poll;
    std::deque<Answer> m_answers;
    std::vector<std::string> m_seen;
};

// Runs `step` each time the event queue is pumped until it answers true: the test's
// hand inside a running action (the actions pump between their steps).
class PumpHook : public QObject {
public:
    explicit PumpHook(std::function<bool()> step) : m_step(std::move(step)) {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_step()) {
                m_timer.stop();
                m_done = true;
            }
        });
        m_timer.start();
    }
    bool done() const { return m_done; }

private:
    std::function<bool()> m_step;
    QTimer m_timer;
    bool m_done = false;
};

} // namespace kestrane::testing
