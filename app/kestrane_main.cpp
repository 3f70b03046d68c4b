// Kestrane: the application, the main window, the busy window created hidden, and the
// message loop until the main window is closed.
#include "app/application.h"
#include "app/busy_window.h"
#include "app/main_window.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kestrane::kApplicationTitle);

    kestrane::TForm1 mainWindow;
    kestrane::TForm2 busyWindow(&mainWindow);
    mainWindow.setBusyWindow(&busyWindow);

    // Centred on the screen when first shown.
    if (QScreen* screen = mainWindow.screen()) {
        QRect frame = mainWindow.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainWindow.move(frame.topLeft());
    }
    mainWindow.show();
    // Ask for activation, so that the first FormActivate also runs without a window manager.
    mainWindow.activateWindow();
    return app.exec();
}
