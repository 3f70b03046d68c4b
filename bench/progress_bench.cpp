// Cost of the busy window's progress bar: one paint (what every 40 ms tick costs) and one
// rebuild of its tables (what a resize or a colour change costs). The reference is the
// cheapest way to put the same 161 × 16 picture into an image: one QPainter blit of a
// finished image; the paint's ratio to it says what drawing pixel by pixel through the
// canvas costs. Target: a paint under 50 µs.
//
// Run: QT_QPA_PLATFORM=offscreen build/bench/progress_bench
#include "controls/canvas.h"
#include "controls/progress_paint.h"
#include "controls/progress_tables.h"
#include "controls/shaded_progress_bar.h"

#include <QApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace controls;

namespace {

void BM_PaintBusyBar(benchmark::State& state) {
    TShadedProgressBar bar;
    applyLayout(bar, busyWindowBarLayout(0));
    int position = 0;
    for (auto _ : state) {
        position = position >= 102 ? 0 : position + 3;
        bar.setPosition(position);
        benchmark::DoNotOptimize(bar.renderImage().constBits());
    }
}
BENCHMARK(BM_PaintBusyBar);

void BM_ReferenceBlitFinishedImage(benchmark::State& state) {
    TShadedProgressBar bar;
    applyLayout(bar, busyWindowBarLayout(100));
    const QImage finished = bar.renderImage().copy();
    QImage target(finished.size(), QImage::Format_ARGB32);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.drawImage(0, 0, finished);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ReferenceBlitFinishedImage);

void BM_RebuildBusyBarTables(benchmark::State& state) {
    const ProgressGeometry geometry = makeGeometry(marginForThickness(16), 161, 16);
    ShadingSettings shading;
    shading.kind = TBarKind::bkCylinder;
    shading.look = TBarLook::blGlass;
    shading.startColour = qRgb(0, 0, 255);
    shading.finalColour = qRgb(255, 0, 0);
    shading.singleColour = false;
    for (auto _ : state) {
        ProgressColours colours = buildColourTables(geometry, shading);
        BlockMap map = buildBlockMap(TBarOrientation::boHorizontal, geometry.barLength, geometry.inset, 3, 1);
        benchmark::DoNotOptimize(colours.colourColumns.data());
        benchmark::DoNotOptimize(map.data());
    }
}
BENCHMARK(BM_RebuildBusyBarTables);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
