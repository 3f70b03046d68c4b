#include "app/busy_window.h"

#include <QSignalSpy>
#include <QWindow>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace kestrane;
using namespace controls;

namespace {

// One tick through the timer's own signal, as the event loop delivers it.
void tick(TForm2& form) { QMetaObject::invokeMethod(&form.timer(), "timeout", Qt::DirectConnection); }

bool isDarkBlue(QRgb p) {
    return qBlue(p) > qRed(p) + 25 && qBlue(p) > qGreen(p) + 15 && qRed(p) + qGreen(p) + qBlue(p) < 200;
}

} // namespace

TEST(BusyWindow, borderlessWindowWithPictureAndBarLayout) {
    TForm2 form;
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.size(), QSize(260, 151));
    EXPECT_EQ(form.picture().size(), QSize(260, 151));
    EXPECT_TRUE(form.timer().isActive());
    EXPECT_EQ(form.timer().interval(), 40);
    EXPECT_FALSE(form.directionUp());

    TShadedProgressBar& bar = form.progressBar();
    EXPECT_EQ(bar.geometry(), QRect(56, 112, 161, 16));
    EXPECT_EQ(bar.barKind(), TBarKind::bkCylinder);
    EXPECT_EQ(bar.barLook(), TBarLook::blGlass);
    EXPECT_EQ(bar.startColor(), rgb(0, 0, 255));
    EXPECT_EQ(bar.finalColor(), rgb(255, 0, 0));
    EXPECT_EQ(bar.shapeColor(), rgb(0, 60, 116));
    EXPECT_EQ(bar.blockSize(), 3);
    EXPECT_EQ(bar.spaceSize(), 1);
    EXPECT_FALSE(bar.showInactivePos());
    EXPECT_EQ(bar.maximum(), 100);
    EXPECT_EQ(bar.position(), 0);
}

TEST(BusyWindow, timerSweepsUpToOneHundredTwoAndBack) {
    TForm2 form;
    form.timer().stop();
    std::vector<int> seen;
    for (int i = 0; i < 70; ++i) {
        tick(form);
        seen.push_back(form.progressBar().position());
    }
    std::vector<int> expected;
    for (int p = 3; p <= 102; p += 3)
        expected.push_back(p); // 34 steps up
    for (int p = 99; p >= 0; p -= 3)
        expected.push_back(p); // 34 steps down
    expected.push_back(3);
    expected.push_back(6);
    EXPECT_EQ(seen, expected);
    // 102 is drawn as a full bar
    EXPECT_EQ(form.progressBar().pixelPos(), 9);
}

TEST(BusyWindow, barMovesWhileTheEventLoopIsPumped) {
    TForm2 form;
    form.showBusy();
    // The real 40 ms timer: wait until it has moved the bar a few steps.
    QTRY_VERIFY_WITH_TIMEOUT(form.progressBar().position() >= 9, 5000);
    const int p = form.progressBar().position();
    EXPECT_EQ(p % 3, 0);
    EXPECT_LE(p, 102);
    form.hideBusy();
    EXPECT_FALSE(form.isVisible());
}

TEST(BusyWindow, showingTurnsTheBarUpFromWhereItStands) {
    TForm2 form;
    form.timer().stop();
    for (int i = 0; i < 40; ++i) // up to 102, then down to 84
        tick(form);
    ASSERT_EQ(form.progressBar().position(), 84);
    ASSERT_FALSE(form.directionUp());

    form.showBusy();
    QTRY_VERIFY_WITH_TIMEOUT(form.directionUp(), 5000);
    tick(form);
    EXPECT_EQ(form.progressBar().position(), 87); // rising from where it stood
    form.hideBusy();

    // At 102 the first tick after showing still turns down.
    form.progressBar().setPosition(102);
    form.showBusy();
    QTRY_VERIFY_WITH_TIMEOUT(form.directionUp(), 5000);
    tick(form);
    EXPECT_EQ(form.progressBar().position(), 99);
}

TEST(BusyWindow, centredOverMainWindowOnlyTheFirstTime) {
    QWidget main;
    main.setGeometry(100, 80, 600, 400);
    main.show();
    TForm2 form(&main);
    form.timer().stop();
    form.showBusy();
    const QRect area = main.frameGeometry();
    const QPoint first = form.pos();
    EXPECT_EQ(first, QPoint(area.left() + (area.width() - 260) / 2, area.top() + (area.height() - 151) / 2));
    form.hideBusy();

    main.move(300, 200);
    form.showBusy();
    EXPECT_EQ(form.pos(), first);
}

// Alt+F4 and the title bar reach the widget as close(); a window manager's close request
// (WM_DELETE_WINDOW) reaches its window as the window system's close, which QWindow::close
// asks for the same way. Neither ends a showing for an action; hideBusy does.
TEST(BusyWindow, closeRequestsAreRefusedWhileShownForAnAction) {
    const std::vector<std::pair<const char*, std::function<bool(TForm2&)>>> requests = {
        {"QWidget::close", [](TForm2& form) { return form.close(); }},
        {"window system's close", [](TForm2& form) { return form.windowHandle()->close(); }},
    };
    for (const auto& [how, request] : requests) {
        SCOPED_TRACE(how);
        TForm2 form;
        form.timer().stop();
        form.showBusy();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_FALSE(request(form));
        QCoreApplication::processEvents();
        EXPECT_TRUE(form.isVisible());
        form.hideBusy();
        EXPECT_FALSE(form.isVisible());
        // Shown on its own, not for an action, it closes like any window.
        form.show();
        EXPECT_TRUE(request(form));
        EXPECT_FALSE(form.isVisible());
    }
}

TEST(BusyWindow, renderedWindowShowsPictureAndBar) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("busywindow.png"));
    ASSERT_TRUE(renderBusyWindow(file));
    const QImage image(file);
    ASSERT_EQ(image.size(), QSize(260, 151));
    EXPECT_TRUE(isDarkBlue(image.pixel(10, 10)));
    EXPECT_TRUE(isDarkBlue(image.pixel(250, 100)));
    // The bar at (56, 112): its outline and, half filled, its first block.
    EXPECT_EQ(image.pixel(56 + 80, 112), qRgb(0, 60, 116));
    EXPECT_EQ(image.pixel(56 + 3, 112 + 3), qRgb(174, 172, 255));
    EXPECT_EQ(image.pixel(56 + 120, 112 + 7), qRgb(255, 255, 255));
}
