// TForm2, the busy window: a small borderless window with a picture and a progress bar that
// a 40 ms timer moves back and forth for as long as the program runs. The profile actions
// show it before their long steps and hide it afterwards; it tracks no real progress, and
// the bar moves only while the event queue is pumped.
#pragma once

#include "controls/shaded_progress_bar.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace kestrane {

class TForm2 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 260;
    static constexpr int kClientHeight = 151;
    static constexpr int kTimerIntervalMs = 40;
    static constexpr int kStep = 3;
    // How long hiding waits for an activation the window manager has not delivered yet.
    static constexpr int kActivationWaitMs = 250;

    // Created hidden. The window is centred over `mainWindow` the first time it is shown
    // (over the screen when there is none) and stays at that place afterwards.
    explicit TForm2(QWidget* mainWindow = nullptr);

    // Show and hide for the profile actions. Showing asks for activation, so that
    // FormActivate also runs without a window manager; hiding lets that activation arrive
    // first (kActivationWaitMs at most), pumping messages meanwhile. From showBusy until
    // hideBusy the window refuses to be closed (Alt+F4, a window manager's close request):
    // the action goes on, and the window is what tells the user so.
    void showBusy();
    void hideBusy();

    // Activation handler: the bar rises again from wherever it stands.
    void FormActivate();
    // Timer handler: turns at 100 or more and at 0 or less, then moves the bar by 3.
    void Timer1Timer();

    bool directionUp() const { return m_directionUp; }
    controls::TShadedProgressBar& progressBar() { return *m_bar; }
    QTimer& timer() { return m_timer; }
    // The decoded picture (null when the embedded JPEG could not be decoded).
    const QImage& picture() const { return m_picture; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void centreOverMainWindow();

    QPointer<QWidget> m_mainWindow;
    QImage m_picture;
    controls::TShadedProgressBar* m_bar = nullptr; // owned as a child widget
    QTimer m_timer;
    bool m_directionUp = false;
    bool m_placed = false;
    bool m_shownForAction = false; // between showBusy and hideBusy
};

// Renders a busy window with its bar half-way through a sweep into a PNG file; returns
// whether the file was written.
bool renderBusyWindow(const QString& file);

} // namespace kestrane
