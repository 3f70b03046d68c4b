// kestrane-gallery DIR: renders every control in its states, the busy window and the main
// window into PNG files in DIR, offscreen, for reviewing the look.
#include "app/busy_window.h"
#include "app/gallery/gallery.h"
#include "app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

// The main window as it starts: browse mode, the list read from the current directory.
bool renderMainWindow(const QString& file) {
    kestrane::TForm1 window;
    window.show();
    window.FormActivate();
    QApplication::processEvents();
    return window.grab().toImage().save(file);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrane-gallery DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "kestrane-gallery: cannot create %s\n", argv[1]);
        return 1;
    }
    try {
        kestrane::renderButtonGallery(dir);
        kestrane::renderLabelGallery(dir);
        kestrane::renderCheckBoxGallery(dir);
        kestrane::renderEditGallery(dir);
        kestrane::renderGroupBoxGallery(dir);
        kestrane::renderProgressGallery(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrane-gallery: %s\n", e.what());
        return 1;
    }
    bool ok = kestrane::renderBusyWindow(dir + "/busywindow.png");
    ok = renderMainWindow(dir + "/mainwindow.png") && ok;
    return ok ? 0 : 1;
}
