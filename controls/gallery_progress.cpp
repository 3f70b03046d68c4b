#include "controls/gallery_progress.h"

#include "controls/shaded_progress_bar.h"

#include <QDir>

namespace controls {

namespace {

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
        ok &= renderOne(target, QStringLiteral("progress-%1.png").arg(position), busyWindowBarLayout(position));

    ShadedProgressBarLayout flat = busyWindowBarLayout(50);
    flat.barKind = TBarKind::bkFlat;
    ok &= renderOne(target, QStringLiteral("progress-flat-50.png"), flat);

    ShadedProgressBarLayout metal = busyWindowBarLayout(50);
    metal.barLook = TBarLook::blMetal;
    ok &= renderOne(target, QStringLiteral("progress-metal-50.png"), metal);

    ShadedProgressBarLayout vertical = busyWindowBarLayout(50);
    vertical.orientation = TBarOrientation::boVertical;   // turns the bar to 16 × 161
    ok &= renderOne(target, QStringLiteral("progress-vertical-50.png"), vertical);

    ShadedProgressBarLayout inactive = busyWindowBarLayout(50);
    inactive.showInactivePos = true;
    ok &= renderOne(target, QStringLiteral("progress-inactive-50.png"), inactive);
    return ok;
}

} // namespace controls
