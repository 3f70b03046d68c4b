#include "app/busy_window.h"

#include "app/busy_picture.h"
#include "app/jpeg_decoder.h"
#include "controls/system_colours.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace kestrane {

using namespace controls;

namespace {

// The picture control is slightly larger than the client area and clipped by it.
constexpr QRect kPictureRect{0, 0, 265, 153};
constexpr QRect kBarRect{56, 112, 161, 16};
// The bar turns down at this position and up at 0.
constexpr int kTurnPosition = 100;

QImage decodePicture() {
    JpegDecoder decoder;
    const auto jpeg = decoder.decode(busyPictureJpeg());
    if (!jpeg)
        return {};
    QImage image(jpeg->width, jpeg->height, QImage::Format_RGB32);
    const std::uint8_t* rgb = jpeg->rgb.data();
    for (int y = 0; y < jpeg->height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < jpeg->width; ++x, rgb += 3)
            line[x] = qRgb(rgb[0], rgb[1], rgb[2]);
    }
    return image;
}

} // namespace

TForm2::TForm2(QWidget* mainWindow)
    // A dialog of the main window, not a window of its own: the window manager keeps an
    // owned window above its owner, also when a click raises the owner while an action runs.
    : QWidget(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), m_mainWindow(mainWindow) {
    setFixedSize(kClientWidth, kClientHeight);
    setFont(defaultUiFont());
    m_picture = decodePicture();

    m_bar = new TShadedProgressBar(this);
    ShadedProgressBarLayout barLayout = busyWindowBarLayout();
    barLayout.bounds = kBarRect;
    applyLayout(*m_bar, barLayout);

    m_timer.setInterval(kTimerIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TForm2::Timer1Timer);
    m_timer.start();
}

void TForm2::showBusy() {
    m_shownForAction = true;
    show();
    raise();
    activateWindow();
}

void TForm2::hideBusy() {
    // A window manager still activating the window when it goes can leave Qt believing the
    // hidden window active, and the main window would then never take the activation back
    // (X under Openbox does so after a save of a few milliseconds): the activation is let
    // arrive first, for a moment at most.
    QDeadlineTimer deadline(kActivationWaitMs);
    while (isVisible() && QGuiApplication::focusWindow() != windowHandle() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    m_shownForAction = false;
    hide();
}

void TForm2::FormActivate() { m_directionUp = true; }

void TForm2::Timer1Timer() {
    const int p = m_bar->position();
    if (p >= kTurnPosition)
        m_directionUp = false;
    else if (p <= 0)
        m_directionUp = true;
    m_bar->setPosition(m_directionUp ? p + kStep : p - kStep);
}

bool TForm2::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_placed) {
        centreOverMainWindow();
        m_placed = true;
    }
}

void TForm2::closeEvent(QCloseEvent* event) {
    // Closed while its action runs, the window would leave the main window looking idle
    // in the middle of an apply; only hideBusy ends a showing.
    if (m_shownForAction)
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void TForm2::centreOverMainWindow() {
    QRect area;
    if (m_mainWindow)
        area = m_mainWindow->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    else
        return;
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

void TForm2::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(toQRgb(clBtnFace)));
    // picture at the top left, not stretched, clipped by the picture control
    painter.setClipRect(kPictureRect);
    painter.drawImage(0, 0, m_picture);
}

bool renderBusyWindow(const QString& file) {
    TForm2 form;
    form.timer().stop();
    form.progressBar().setPosition(50);
    return form.grab().save(file, "PNG");
}

} // namespace kestrane
