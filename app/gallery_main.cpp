// kestrane-gallery DIR: renders every control in its states, the busy window and the main
// window into PNG files in DIR, offscreen, for reviewing the look.
#include "app/busy_window.h"
#include "app/main_window.h"
#include "controls/gallery_controls.h"
#include "controls/gallery_inputs.h"
#include "controls/gallery_progress.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

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
    controls::renderButtonGallery(dir);
    controls::renderLabelGallery(dir);
    controls::renderCheckBoxGallery(dir);
    controls::renderEditGallery(dir);
    controls::renderGroupBoxGallery(dir);
    bool ok = controls::renderProgressGallery(dir);
    ok = kestrane::renderBusyWindow(dir + "/busywindow.png") && ok;
    ok = renderMainWindow(dir + "/mainwindow.png") && ok;
    return ok ? 0 : 1;
}
