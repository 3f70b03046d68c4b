// Painting the main window's wide push button (209 × 25): a 255-band face and two 16-band
// frames rebuilt on every paint, plus border, corners and caption. Target: under 100 µs
// per paint in a release build. The reference is QPainter drawing a comparable picture
// (a linear gradient, a rectangle outline and the caption, antialiasing off): the ratio
// says what the banded, dithered fill through the canvas costs over Qt's own gradient.
//
// Run: build/bench/controls_bench
#include "controls/xp_button.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <benchmark/benchmark.h>

using namespace controls;

namespace {

void paintButton(benchmark::State& state, ButtonLook look) {
    QImage image(209, 25, QImage::Format_RGB32);
    Canvas canvas(image);
    ButtonBitmaps bitmaps;
    look.caption = QStringLiteral("Добавить сервер");
    for (auto _ : state) {
        paintXPButton(canvas, look, bitmaps);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_PaintButtonNormal(benchmark::State& state) { paintButton(state, ButtonLook{}); }

void BM_PaintButtonHot(benchmark::State& state) {
    ButtonLook look;
    look.hot = true; // inset face inside the hot ring
    paintButton(state, look);
}

void BM_PaintButtonWithoutCaption(benchmark::State& state) {
    QImage image(209, 25, QImage::Format_RGB32);
    Canvas canvas(image);
    ButtonBitmaps bitmaps;
    ButtonLook look;
    look.hot = true;
    for (auto _ : state) {
        paintXPButton(canvas, look, bitmaps);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_ReferenceQPainterButton(benchmark::State& state) {
    QImage image(209, 25, QImage::Format_RGB32);
    const QString caption = QStringLiteral("Добавить сервер");
    QFont font = defaultUiFont();
    for (auto _ : state) {
        QPainter p(&image);
        QLinearGradient ramp(0, 0, 0, 25);
        ramp.setColorAt(0, QColor(255, 255, 255));
        ramp.setColorAt(1, QColor(239, 235, 231));
        p.fillRect(image.rect(), ramp);
        p.setPen(QColor(51, 51, 153));
        p.drawRect(0, 0, 208, 24);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(image.rect(), Qt::AlignCenter, caption);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

} // namespace

BENCHMARK(BM_ReferenceQPainterButton)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintButtonNormal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintButtonHot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintButtonWithoutCaption)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    // text drawing needs the GUI application; offscreen unless the environment says otherwise
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
