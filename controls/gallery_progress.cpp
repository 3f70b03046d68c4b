#include "controls/gallery_progress.h"

#include "controls/shaded_progress_bar.h"

#include <QDir>


namespace controls {

namespace {

// The bar as the busy window sets it up.
ShadedProgressBarLayout busyWindowBar(int position) {
    ShadedProgressBarLayout layout;
    layout.bounds = {0, 0, 161, 16};
    layout.barKind = TBarKind::bkCylinder;
    layout.barLook = TBarLook::blGlass;
    layout.startColor = rgb(0, 0, 255);
    layout.finalColor = rgb(255, 0, 0);
    layout.blockSize = 3;
    layout.spaceSize = 1;
    layout.position = position;
    return layout;
}

bool renderOne(const QDir& dir, const QString& name, const ShadedProgressBarLayout& layout) {
    TShadedProgressBar bar;
    applyLayout(bar, layout);
    return bar.renderImage().save(dir.filePath(name), "PNG");
}

} // namespace

bool renderProgressGallery(const QString& dir) {
    const QDir target(dir);
    bool ok = true;
    for (int position : {0, 1, 3, 4, 50, 99, 100, 102})
        ok &= renderOne(target, QStringLiteral("progress-%1.png").arg(position), busyWindowBar(position));

    ShadedProgressBarLayout flat = busyWindowBar(50);
    flat.barKind = TBarKind::bkFlat;
    ok &= renderOne(target, QStringLiteral("progress-flat-50.png"), flat);

    ShadedProgressBarLayout metal = busyWindowBar(50);
    metal.barLook = TBarLook::blMetal;
    ok &= renderOne(target, QStringLiteral("progress-metal-50.png"), metal);

    ShadedProgressBarLayout vertical = busyWindowBar(50);
    vertical.orientation = TBarOrientation::boVertical;   // turns the bar to 16 × 161
    ok &= renderOne(target, QStringLiteral("progress-vertical-50.png"), vertical);

    ShadedProgressBarLayout inactive = busyWindowBar(50);
    inactive.showInactivePos = true;
    ok &= renderOne(target, QStringLiteral("progress-inactive-50.png"), inactive);
    return ok;
}

} // namespace controls
