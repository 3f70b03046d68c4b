// The main window while an action runs: the top-level handler, the user's input kept from
// the window, the busy window, and the activation that comes back after it.
#include "app/main_window.h"

#include "app/applied_marks.h"
#include "app/application.h"
#include "app/busy_window.h"
#include "app/message_box.h"
#include "controls/xp_edits.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <exception>
#include <utility>

namespace kestrane {

void TForm1::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        execMessageBox(this, QMessageBox::Critical, kApplicationTitle,
                       QString::fromStdString(topLevelErrorText(e.what())), QMessageBox::Ok);
    } catch (...) {
        execMessageBox(this, QMessageBox::Critical, kApplicationTitle, QStringLiteral("Unknown error."),
                       QMessageBox::Ok);
    }
}

void TForm1::runAction(const std::function<void()>& action) {
    // The actions pump messages; a click that arrives meanwhile must not start another.
    if (m_actionRunning)
        return;
    std::exception_ptr failure;
    {
        // The user's clicks and keys reach no control of this window until the action is
        // over; paint events, the busy window and message boxes go on as usual.
        m_actionRunning = true;
        qApp->installEventFilter(this);
        struct Reset {
            TForm1& form;
            ~Reset() {
                qApp->removeEventFilter(&form);
                form.m_actionRunning = false;
            }
        } reset{*this};
        try {
            action();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    // An apply, undo or save-back moves the mark without reloading the list.
    markAppliedProfiles(*m_list);
    if (std::exchange(m_activationPending, false))
        guarded([this] { FormActivate(); });
    if (m_listStale)
        m_listChanged.start();
    if (failure)
        std::rethrow_exception(failure);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (!m_actionRunning)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::Enter:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        break;
    default:
        return false; // leaving a control still ends its hot look
    }
    // Events reach the window's native window first, then its widgets; both are stopped.
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (watched != windowHandle() && (widget == nullptr || widget->window() != this))
        return false;
    // An accepted override keeps a shortcut such as Ctrl+Z from firing.
    event->accept();
    return true;
}

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        // Taken back from the busy window only when that window exists and was the last
        // one active: no handle, and no window that has gone since, ever counts as it.
        const QWindow* busyHandle = m_busy != nullptr ? m_busy->windowHandle() : nullptr;
        // Or the busy window went before the window manager ever activated it, and this is
        // the activation coming back.
        const bool fromBusy = (busyHandle != nullptr && m_lastOtherActive == busyHandle) || m_returnPending;
        m_reclaim.stop();
        if (!m_activatedOnce) {
            // At start-up, what an interrupted run left is settled before the list is read.
            guarded([this] { RecoverInterruptedActions(*this); });
            m_activatedOnce = true;
            returnFromBusyWindow();
        } else if (fromBusy) {
            returnFromBusyWindow();
        } else {
            // Back from another window, the game's perhaps: the marks show what it changed.
            refreshMarks();
        }
    } else if (e->type() == QEvent::Close && m_actionRunning) {
        // Closing in the middle of an action would pull the window from under it.
        e->ignore();
        return true;
    }
    return QWidget::event(e);
}

void TForm1::pumpMessages() { QCoreApplication::processEvents(); }

void TForm1::showBusyWindow() {
    if (m_busy)
        m_busy->showBusy();
}

void TForm1::hideBusyWindow() {
    if (!m_busy)
        return;
    const bool busyTookActivation = m_lastOtherActive == m_busy->windowHandle();
    m_busy->hideBusy();
    // The activation comes back to this window, which then runs FormActivate.
    activateWindow();
    if (!busyTookActivation && QGuiApplication::focusWindow() == windowHandle()) {
        // A window manager too slow to activate a busy window shown for a moment leaves
        // this window active all along: no activation comes back, the return is now.
        returnFromBusyWindow();
    } else {
        m_returnPending = true; // the next activation of this window is the return
    }
    // A busy window's activation that arrives after it went, or a request the window
    // manager passes over while busy with the closing window, leaves the activation with
    // no window of ours: it is asked for again.
    m_reclaimsLeft = kReclaimTries;
    m_reclaim.start();
}

void TForm1::returnFromBusyWindow() {
    m_lastOtherActive = nullptr;
    m_returnPending = false;
    if (m_actionRunning) {
        // A click on this window while the busy window shows: it counts, but the mode and
        // the list change only once the action is over.
        m_activationPending = true;
        return;
    }
    guarded([this] { FormActivate(); });
}

void TForm1::reclaimActivation() {
    const QWindow* focus = QGuiApplication::focusWindow();
    const bool withHiddenBusy = m_busy != nullptr && focus == m_busy->windowHandle() && !m_busy->isVisible();
    if ((focus != nullptr && !withHiddenBusy) || !isVisible() || (m_busy != nullptr && m_busy->isVisible())) {
        m_reclaim.stop();
        return;
    }
    if (--m_reclaimsLeft < 0) {
        m_reclaim.stop();
        // Still held by the busy window that went (X under Openbox on a busy machine can
        // leave it so): the window is back from it all the same.
        if (withHiddenBusy)
            returnFromBusyWindow();
        return;
    }
    raise();
    activateWindow();
}

} // namespace kestrane
