// Kestrane: the application, the main window, the busy window created hidden, and the
// message loop until the main window is closed.
#include "app/application.h"
#include "app/busy_window.h"
#include "app/gui_application.h"
#include "app/main_window.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Start-up measurement for bench/profiles and scripts/screenshot, off unless asked for.
// With KESTRANE_REPORT_STARTUP set, the first paint of the main window prints one line
// to stderr: the milliseconds since main() began and the time of the paint on the
// monotonic clock (CLOCK_MONOTONIC, in seconds), from which the caller adds the time spent
// loading before main(). With KESTRANE_QUIT_AFTER_MS=N the program then quits N ms later.
class StartupReport : public QObject {
public:
    StartupReport(QWidget* window, std::chrono::steady_clock::time_point mainStart) : m_mainStart(mainStart) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued, so that it runs once this paint has been drawn and flushed.
            QTimer::singleShot(0, this, [this] { report(); });
        }
        return false;
    }

private:
    void report() {
        const auto now = std::chrono::steady_clock::now();
        std::fprintf(stderr, "kestrane: first paint %.1f ms after main, monotonic %.6f s\n",
                     std::chrono::duration<double, std::milli>(now - m_mainStart).count(),
                     std::chrono::duration<double>(now.time_since_epoch()).count());
        std::fflush(stderr);
        if (const char* quitAfter = std::getenv("KESTRANE_QUIT_AFTER_MS"))
            QTimer::singleShot(std::atoi(quitAfter), qApp, &QApplication::quit);
    }

    std::chrono::steady_clock::time_point m_mainStart;
};

} // namespace

int main(int argc, char** argv) {
    const auto mainStart = std::chrono::steady_clock::now();
    QApplication app(argc, argv);
    QApplication::setApplicationName(kestrane::kApplicationTitle);
    kestrane::prepareGuiApplication();

    kestrane::TForm1 mainWindow;
    kestrane::TForm2 busyWindow(&mainWindow);
    mainWindow.setBusyWindow(&busyWindow);

    // Centred on the screen when first shown.
    if (QScreen* screen = mainWindow.screen()) {
        QRect frame = mainWindow.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainWindow.move(frame.topLeft());
    }
    std::unique_ptr<StartupReport> startupReport;
    if (std::getenv("KESTRANE_REPORT_STARTUP"))
        startupReport = std::make_unique<StartupReport>(&mainWindow, mainStart);
    mainWindow.show();
    // Ask for activation, so that the first FormActivate also runs without a window manager.
    mainWindow.activateWindow();
    return app.exec();
}
