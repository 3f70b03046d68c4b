// The push button driven by real mouse and key events on an offscreen window.
#include "controls/xp_button.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace controls;

namespace {

// A window with an edit and two XP buttons, shown and active so focus and keys work.
class ButtonWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        window->resize(320, 120);
        edit = new QLineEdit(window.get());
        edit->setGeometry(10, 10, 120, 21);
        ok = new TXPButton(window.get());
        ok->setGeometry(10, 50, 97, 25);
        ok->setCaption("OK");
        cancel = new TXPButton(window.get());
        cancel->setGeometry(120, 50, 97, 25);
        cancel->setCaption("Cancel");
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        edit->setFocus();
        QApplication::processEvents();
        okClicks = std::make_unique<QSignalSpy>(ok, &QAbstractButton::clicked);
        cancelClicks = std::make_unique<QSignalSpy>(cancel, &QAbstractButton::clicked);
    }
    void TearDown() override {
        okClicks.reset();
        cancelClicks.reset();
        window.reset();
    }

    std::unique_ptr<QWidget> window;
    QLineEdit* edit = nullptr;
    TXPButton* ok = nullptr;
    TXPButton* cancel = nullptr;
    std::unique_ptr<QSignalSpy> okClicks, cancelClicks;
};

} // namespace

TEST_F(ButtonWindow, pressTakesFocusAndReleaseInsideClicks) {
    QTest::mousePress(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(ok->pressState(), 2);
    EXPECT_TRUE(ok->isPressedDown());
    EXPECT_TRUE(ok->hasFocus());
    EXPECT_EQ(okClicks->count(), 0);
    QTest::mouseRelease(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_FALSE(ok->isPressedDown());
    EXPECT_EQ(okClicks->count(), 1);
}

TEST_F(ButtonWindow, draggingOutShowsTheInsetFaceWithHotRingAndReleaseOutsideDoesNotClick) {
    QTest::mousePress(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(chooseButtonFace(ok->look()).face, ButtonFace::bfPressed);
    QTest::mouseMove(ok, QPoint(150, 10));
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_TRUE(ok->isPressedDown());
    const FaceChoice outside = chooseButtonFace(ok->look());
    EXPECT_EQ(outside.face, ButtonFace::bfNormal);
    EXPECT_EQ(outside.inset, 3);
    // the hot ring shows in the control's image: row 12 of the 16-step ring
    const QImage img = ok->renderImage();
    const auto ring = gradientColours(rgb(255, 221, 157), rgb(255, 190, 70), 16, 1);
    EXPECT_EQ(img.pixel(1, 12) | 0xFF000000u, ring[7]); // band 7 covers rows 11 … 12
    QTest::mouseMove(ok, QPoint(20, 10));               // and back in
    EXPECT_EQ(ok->pressState(), 2);
    QTest::mouseMove(ok, QPoint(150, 10));
    QTest::mouseRelease(ok, Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_EQ(okClicks->count(), 0);
    EXPECT_FALSE(ok->isPressedDown());
    EXPECT_FALSE(ok->hot());
}

TEST_F(ButtonWindow, releaseOnTheLastRowOrColumnClicksAndOneBeyondDoesNot) {
    const QPoint inside[] = {{96, 10}, {20, 24}, {96, 24}};
    for (QPoint p : inside) {
        QTest::mousePress(ok, Qt::LeftButton, {}, QPoint(20, 10));
        QTest::mouseRelease(ok, Qt::LeftButton, {}, p);
    }
    EXPECT_EQ(okClicks->count(), 3);
    const QPoint beyond[] = {{97, 10}, {20, 25}, {-1, 10}, {20, -1}};
    for (QPoint p : beyond) {
        QTest::mousePress(ok, Qt::LeftButton, {}, QPoint(20, 10));
        QTest::mouseRelease(ok, Qt::LeftButton, {}, p);
    }
    EXPECT_EQ(okClicks->count(), 3);
}

// On a scaled screen the pointer lies between pixels: 96.6 is still on the last column of a
// 97-pixel button, −0.4 is already left of the first.
TEST_F(ButtonWindow, pointerBetweenPixelsCountsByItsExactPosition) {
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent e(type, at, ok->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(ok, &e);
    };
    auto pressAndRelease = [&](QPointF at) {
        send(QEvent::MouseButtonPress, {20, 10}, Qt::LeftButton);
        send(QEvent::MouseMove, at, Qt::LeftButton);
        EXPECT_EQ(ok->pressState(), at.x() >= 0 && at.y() >= 0 ? 2 : 0) << at.x() << "," << at.y();
        send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    };
    pressAndRelease({96.6, 10});
    pressAndRelease({20, 24.5});
    EXPECT_EQ(okClicks->count(), 2);
    pressAndRelease({-0.4, 10});
    pressAndRelease({20, -0.4});
    EXPECT_EQ(okClicks->count(), 2);
}

TEST_F(ButtonWindow, doubleClickClicksThreeTimes) {
    // a double click reaches a widget as press, release, press + double click, release
    QTest::mouseClick(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(okClicks->count(), 1);
    QTest::mouseDClick(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(okClicks->count(), 2);
    EXPECT_TRUE(ok->isPressedDown());
    QTest::mouseRelease(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(okClicks->count(), 3);
    EXPECT_FALSE(ok->isPressedDown());
}

TEST_F(ButtonWindow, rightButtonDoesNotPress) {
    QTest::mouseClick(ok, Qt::RightButton, {}, QPoint(20, 10));
    EXPECT_EQ(okClicks->count(), 0);
    EXPECT_EQ(ok->pressState(), 0);
}

TEST_F(ButtonWindow, hoverMakesTheButtonHotAndLeavingEndsIt) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(ok, &enter);
    EXPECT_TRUE(ok->hot());
    EXPECT_EQ(chooseButtonFace(ok->look()).face, ButtonFace::bfHot);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(ok, &leave);
    EXPECT_FALSE(ok->hot());
}

TEST_F(ButtonWindow, spacePressesAndItsReleaseClicks) {
    ok->setFocus();
    QTest::keyPress(ok, Qt::Key_Space);
    EXPECT_TRUE(ok->spaceDown());
    EXPECT_EQ(ok->pressState(), 2);
    EXPECT_EQ(okClicks->count(), 0);
    QTest::keyRelease(ok, Qt::Key_Space);
    EXPECT_FALSE(ok->spaceDown());
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_EQ(okClicks->count(), 1);
}

TEST_F(ButtonWindow, spaceWithAModifierDoesNothing) {
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_EQ(okClicks->count(), 0);
}

TEST_F(ButtonWindow, movingFocusAwayWhileSpaceIsHeldCancelsThePress) {
    ok->setFocus();
    QTest::keyPress(ok, Qt::Key_Space);
    edit->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_FALSE(ok->isPressedDown());
    EXPECT_FALSE(ok->spaceDown());
    QTest::keyRelease(edit, Qt::Key_Space);
    EXPECT_EQ(okClicks->count(), 0);
}

TEST_F(ButtonWindow, spaceReleaseWithoutItsPressStillClicks) {
    ok->setFocus();
    QTest::keyRelease(ok, Qt::Key_Space);
    EXPECT_EQ(okClicks->count(), 1);
}

TEST_F(ButtonWindow, enterOnTheFocusedButtonClicksIt) {
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    QTest::keyClick(ok, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(okClicks->count(), 2);
    EXPECT_EQ(cancelClicks->count(), 0);
}

TEST_F(ButtonWindow, enterInAnotherControlClicksTheDefaultButton) {
    ok->setDefault(true);
    EXPECT_TRUE(ok->defaultNow());
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(okClicks->count(), 1);
    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(okClicks->count(), 1);
    ok->setDefault(false);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(okClicks->count(), 1);
}

TEST_F(ButtonWindow, escapeClicksTheCancelButtonWhereverTheFocusIs) {
    cancel->setCancel(true);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks->count(), 1);
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks->count(), 2);
    EXPECT_EQ(okClicks->count(), 0);
}

TEST_F(ButtonWindow, hiddenOrDisabledCancelButtonIgnoresEscape) {
    cancel->setCancel(true);
    cancel->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_Escape);
    cancel->setEnabled(true);
    cancel->hide();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks->count(), 0);
}

TEST_F(ButtonWindow, defaultButtonLosesItsRingWhileAnotherButtonHasTheFocus) {
    ok->setDefault(true);
    EXPECT_TRUE(ok->defaultNow()); // the edit has the focus
    cancel->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(ok->defaultNow());
    EXPECT_TRUE(cancel->defaultNow());
    // Enter now goes to the focused cancel button, not the default one
    QTest::keyClick(cancel, Qt::Key_Return);
    EXPECT_EQ(okClicks->count(), 0);
    EXPECT_EQ(cancelClicks->count(), 1);
    edit->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(ok->defaultNow());
    EXPECT_FALSE(cancel->defaultNow());
    // the ring of a default button while the edit has the focus: focus colours
    const QImage img = ok->renderImage();
    const auto ring = gradientColours(rgb(206, 231, 255), rgb(109, 132, 239), 16, 1);
    EXPECT_EQ(img.pixel(1, 12) | 0xFF000000u, ring[7]);
}

TEST_F(ButtonWindow, disabledButtonIgnoresClicksAndDropsItsState) {
    QTest::mousePress(ok, Qt::LeftButton, {}, QPoint(20, 10));
    ok->setEnabled(false);
    EXPECT_EQ(ok->pressState(), 0);
    EXPECT_FALSE(ok->isPressedDown());
    EXPECT_FALSE(ok->hot());
    QTest::mouseRelease(ok, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseClick(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(okClicks->count(), 0);
    const QImage img = ok->renderImage();
    EXPECT_EQ(img.pixel(10, 0) | 0xFF000000u, qRgb(184, 170, 154));
}

TEST_F(ButtonWindow, acceleratorClicksAndTakesTheFocus) {
    cancel->setCaption("&Cancel");
    QTest::keyClick(edit, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(cancelClicks->count(), 1);
    EXPECT_TRUE(cancel->hasFocus());
}

TEST_F(ButtonWindow, clickStoresTheModalResultInTheWindow) {
    ok->setModalResult(1);
    QTest::mouseClick(ok, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(window->property(kModalResultProperty).toInt(), 1);
}

TEST_F(ButtonWindow, schemeChangeRepaintsInTheSchemeColours) {
    ok->setXPScheme(xpGreen);
    EXPECT_EQ(ok->XPScheme(), xpGreen);
    EXPECT_EQ(ok->effectiveScheme(), 2);
    EXPECT_EQ(ok->renderImage().pixel(10, 0) | 0xFF000000u, qRgb(81, 104, 40));
    ok->setXPScheme(xpOrange);
    EXPECT_EQ(ok->effectiveScheme(), 3);
    EXPECT_EQ(ok->renderImage().pixel(10, 0) | 0xFF000000u, qRgb(51, 51, 153));
}

TEST(XPButton, startsAsA75By25BlueButtonThatIsNotDefault) {
    TXPButton b;
    EXPECT_EQ(b.size(), QSize(75, 25));
    EXPECT_EQ(b.XPScheme(), xpBlue);
    EXPECT_FALSE(b.Default());
    EXPECT_FALSE(b.Cancel());
    EXPECT_EQ(b.ModalResult(), 0);
    EXPECT_TRUE(b.ShowAccelChar());
    EXPECT_FALSE(b.WordWrap());
    EXPECT_FALSE(b.DrawFocusRect());
    EXPECT_EQ(b.focusPolicy(), Qt::StrongFocus);
    EXPECT_TRUE(b.testAttribute(Qt::WA_OpaquePaintEvent));
}

TEST(XPButton, deletingTheFocusedButtonMakesTheDefaultButtonAnswerEnterAgain) {
    auto window = std::make_unique<QWidget>();
    new QLineEdit(window.get());
    auto* a = new TXPButton(window.get());
    auto* b = new TXPButton(window.get());
    b->move(0, 40);
    a->setDefault(true);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    b->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(a->defaultNow());
    delete b; // the focused button goes away while the window stays active
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(a->defaultNow()); // Enter works again for the default button
    QSignalSpy clicks(a, &QAbstractButton::clicked);
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    window.reset(); // tearing down with a default button must not touch freed buttons
}

TEST(XPButton, buttonsBuiltInAPanelAnswerEnterAndEscapeOnceThePanelIsInAWindow) {
    auto window = std::make_unique<QWidget>();
    auto* edit = new QLineEdit(window.get());
    auto* panel = new QWidget; // built on its own, then placed in the window (as a layout does)
    auto* ok = new TXPButton(panel);
    auto* cancel = new TXPButton(panel);
    cancel->move(0, 30);
    ok->setDefault(true);
    cancel->setCancel(true);
    panel->setParent(window.get());
    panel->move(0, 40);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    edit->setFocus();
    QApplication::processEvents();
    QSignalSpy okClicks(ok, &QAbstractButton::clicked), cancelClicks(cancel, &QAbstractButton::clicked);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(okClicks.count(), 1);
    EXPECT_EQ(cancelClicks.count(), 1);
}

TEST(XPButton, clickHandlerMayDeleteTheButton) {
    QWidget window;
    auto* button = new TXPButton(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPointer<TXPButton> watch(button);
    QObject::connect(button, &QAbstractButton::clicked, [&] { delete watch.data(); });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(watch.isNull());
}
