#include "controls/xp_check_box.h"
#include "tests/controls/pixel_art.h"

#include <QEnterEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

using namespace controls;
using namespace controls::test;

namespace {

// Colours the rules name.
const QRgb kOutline = px(0, 108, 108);
const QRgb kOutlineOff = px(184, 170, 154);
const QRgb kMark = px(40, 176, 51);
const QRgb kMarkOff = px(180, 180, 180);
const QRgb kGrayed = px(43, 189, 53);
const QRgb kGrayedInset = px(32, 138, 40);
const QRgb kBtnFace = px(236, 233, 216);

bool between(int v, int a, int b) { return v >= std::min(a, b) && v <= std::max(a, b); }
// A pixel of the gradient from colour a to colour b (any band).
bool inRamp(QRgb p, QRgb a, QRgb b) {
    return between(qRed(p), qRed(a), qRed(b)) && between(qGreen(p), qGreen(a), qGreen(b)) &&
           between(qBlue(p), qBlue(a), qBlue(b));
}

// One character per pixel of the 13 × 13 box drawn at (x, y): the named colours exactly,
// 'f' for the plain face ramp, 'p' for the pressed ramp, 'o' for the hot ring ramp.
std::string boxArt(const QImage& img, int x, int y, const std::map<char, QRgb>& named) {
    std::string art;
    for (int j = y; j < y + 13; ++j) {
        if (j > y)
            art += '\n';
        for (int i = x; i < x + 13; ++i) {
            const QRgb p = img.pixel(i, j) | 0xFF000000u;
            char c = '?';
            for (const auto& [ch, colour] : named)
                if ((colour | 0xFF000000u) == p)
                    c = ch;
            if (c == '?') {
                if (inRamp(p, px(255, 255, 255), px(239, 235, 231)))
                    c = 'f';
                else if (inRamp(p, px(182, 168, 152), px(247, 243, 235)))
                    c = 'p';
                else if (inRamp(p, px(255, 211, 130), px(255, 194, 81)))
                    c = 'o';
            }
            art += c;
        }
    }
    return art;
}

// Sum of the channels over the box's inner columns of one row.
int rowBrightness(const QImage& img, int y) {
    int sum = 0;
    for (int x = 3; x <= 13; ++x)
        sum += qRed(img.pixel(x, y)) + qGreen(img.pixel(x, y)) + qBlue(img.pixel(x, y));
    return sum;
}

QImage paint(const CheckBoxLook& look, int w = 120, int h = 17) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(1, 2, 3));
    Canvas canvas(img);
    CheckBoxBitmaps bitmaps;
    paintCheckBox(canvas, look, bitmaps);
    return img;
}

// The box of a 120 × 17 control with the box at the left: outline x = 2 … 14, y = 2 … 14.
constexpr int kBoxX = 2, kBoxY = 2;

const char* const kCheckedArt =
    "#############\n"
    "#fffffffffff#\n"
    "#fffffffffff#\n"
    "#ffffffffvff#\n"
    "#fffffffvvff#\n"
    "#ffvfffvvvff#\n"
    "#ffvvfvvvfff#\n"
    "#ffvvvvvffff#\n"
    "#fffvvvfffff#\n"
    "#ffffvffffff#\n"
    "#fffffffffff#\n"
    "#fffffffffff#\n"
    "#############";

} // namespace

TEST(CheckBoxGeometry, followsTheAlignment) {
    const Rect client{0, 0, 120, 17};
    const CheckBoxGeometry right = checkBoxGeometry(client, taRightJustify, 30);
    EXPECT_EQ(right.mid, 8);
    EXPECT_EQ(right.box, (Rect{2, 2, 13, 14}));
    EXPECT_EQ(right.repaintArea, (Rect{2, 2, 14, 14}));
    EXPECT_EQ(right.caption, (Rect{20, 0, 51, 17}));
    const CheckBoxGeometry left = checkBoxGeometry(client, taLeftJustify, 30);
    EXPECT_EQ(left.box, (Rect{105, 2, 116, 14}));
    EXPECT_EQ(left.repaintArea, (Rect{105, 2, 117, 14}));
    EXPECT_EQ(left.caption, (Rect{2, 0, 103, 17}));
    // an even height: mid = 20 / 2
    EXPECT_EQ(checkBoxGeometry({0, 0, 50, 20}, taRightJustify, 0).box, (Rect{2, 4, 13, 16}));
}

TEST(CheckBoxGeometry, focusRectangleHugsTheCaption) {
    const Rect client{0, 0, 120, 17};
    // caption box left − 1, text height 13 → 8 − 6 − 2 … 8 + 6 + 2
    EXPECT_EQ(checkBoxFocusRect(client, taRightJustify, 30, 13), (Rect{19, 0, 51, 16}));
    // a caption wider than the control ends at the client's right edge
    EXPECT_EQ(checkBoxFocusRect(client, taRightJustify, 200, 13), (Rect{19, 0, 120, 16}));
    // caption at the left: right = left + width + 2 when the text is narrower
    EXPECT_EQ(checkBoxFocusRect(client, taLeftJustify, 30, 13), (Rect{1, 0, 34, 16}));
    EXPECT_EQ(checkBoxFocusRect(client, taLeftJustify, 150, 13), (Rect{1, 0, 103, 16}));
    // taller than the client: the full client height
    EXPECT_EQ(checkBoxFocusRect(client, taRightJustify, 30, 16), (Rect{19, 0, 51, 17}));
}

TEST(CheckBoxPaint, uncheckedIsOutlineAroundTheFace) {
    const QImage img = paint({});
    EXPECT_EQ(boxArt(img, kBoxX, kBoxY, {{'#', kOutline}}),
              "#############\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#fffffffffff#\n"
              "#############");
    // the face is darker at the top than at the bottom
    EXPECT_LT(rowBrightness(img, 3), rowBrightness(img, 13));
    // the rest of the control is erased in its colour
    EXPECT_EQ(img.pixel(0, 0), kBtnFace);
    EXPECT_EQ(img.pixel(15, 8), kBtnFace);
    EXPECT_EQ(img.pixel(119, 16), kBtnFace);
}

TEST(CheckBoxPaint, checkedDrawsTheSixMarkStrokes) {
    CheckBoxLook look;
    look.state = cbChecked;
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutline}, {'v', kMark}}), kCheckedArt);
}

TEST(CheckBoxPaint, grayedDrawsTheSquare) {
    CheckBoxLook look;
    look.state = cbGrayed;
    const char* art =
        "#############\n"
        "#fffffffffff#\n"
        "#fffffffffff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#ffgggggggff#\n"
        "#fffffffffff#\n"
        "#fffffffffff#\n"
        "#############";
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutline}, {'g', kGrayed}}), art);
    look.enabled = false;
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutlineOff}, {'g', kMarkOff}}), art);
}

TEST(CheckBoxPaint, hotShowsTheRingAroundTheSmallFace) {
    CheckBoxLook look;
    look.hot = true;
    const char* ringArt =
        "#############\n"
        "#ooooooooooo#\n"
        "#ooooooooooo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooXXXXXXXoo#\n"
        "#ooooooooooo#\n"
        "#ooooooooooo#\n"
        "#############";
    auto with = [&](char inner) {
        std::string art = ringArt;
        for (char& c : art)
            if (c == 'X')
                c = inner;
        return art;
    };
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutline}}), with('f'));
    // held with the pointer outside: the same small face
    look.hot = false;
    look.down = true;
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutline}}), with('f'));
    // the grayed square covers the small face in its darker green
    look.state = cbGrayed;
    EXPECT_EQ(boxArt(paint(look), kBoxX, kBoxY, {{'#', kOutline}, {'g', kGrayedInset}}), with('g'));
}

TEST(CheckBoxPaint, pressedAndDisabledFaces) {
    CheckBoxLook look;
    look.pressed = true;
    look.down = true;
    look.state = cbChecked;
    std::string pressedArt = kCheckedArt;
    for (char& c : pressedArt)
        if (c == 'f')
            c = 'p';
    const QImage pressed = paint(look);
    EXPECT_EQ(boxArt(pressed, kBoxX, kBoxY, {{'#', kOutline}, {'v', kMark}}), pressedArt);
    EXPECT_LT(rowBrightness(pressed, 3), rowBrightness(pressed, 13));

    CheckBoxLook off;
    off.enabled = false;
    off.state = cbChecked;
    EXPECT_EQ(boxArt(paint(off), kBoxX, kBoxY, {{'#', kOutlineOff}, {'v', kMarkOff}}), kCheckedArt);
}

TEST(CheckBoxPaint, captionTurnsGreyWhenDisabled) {
    CheckBoxLook look;
    look.caption = QStringLiteral("Archive");
    // the caption box holds only the background and the text colour
    auto colours = [](const QImage& img) {
        std::set<QRgb> seen;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 20; x < img.width(); ++x)
                seen.insert(img.pixel(x, y) | 0xFF000000u);
        return seen;
    };
    EXPECT_EQ(colours(paint(look)), (std::set<QRgb>{kBtnFace, px(0, 0, 0)}));
    look.enabled = false;
    EXPECT_EQ(colours(paint(look)), (std::set<QRgb>{kBtnFace, px(184, 170, 154)}));
}

TEST(CheckBoxPaint, captionAtTheLeftPutsTheBoxAtTheRight) {
    CheckBoxLook look;
    look.alignment = taLeftJustify;
    look.state = cbChecked;
    const QImage img = paint(look);
    EXPECT_EQ(boxArt(img, 105, 2, {{'#', kOutline}, {'v', kMark}}), kCheckedArt);
    EXPECT_EQ(img.pixel(104, 8), kBtnFace);
    EXPECT_EQ(img.pixel(118, 8), kBtnFace);
}

TEST(CheckBoxPaint, focusRectangleEndsAtTheClientEdgeForAWideCaption) {
    CheckBoxLook look;
    look.focused = true;
    look.caption = QString(60, QChar(' ')); // wider than the control and without glyph pixels
    const QImage img = paint(look);
    const QRgb inverted = kBtnFace ^ 0x00FFFFFFu;
    QImage probe(1, 1, QImage::Format_RGB32);
    Canvas metrics(probe);
    const int th = metrics.TextHeight(look.caption);
    const int top = 8 - th / 2 - 2;
    const int bottom = 8 + th / 2 + 2;
    ASSERT_LE(bottom - top, 17);
    // dotted: the pixels with x + y even are inverted on the frame of (19, top) – (120, bottom)
    for (int y = top + 1; y < bottom - 1; ++y) {
        EXPECT_EQ(img.pixel(119, y), (119 + y) % 2 == 0 ? inverted : kBtnFace) << y;
        EXPECT_EQ(img.pixel(19, y), (19 + y) % 2 == 0 ? inverted : kBtnFace) << y;
    }
    for (int x = 19; x < 120; ++x)
        EXPECT_EQ(img.pixel(x, top), (x + top) % 2 == 0 ? inverted : kBtnFace) << x;
    EXPECT_EQ(img.pixel(18, 8), kBtnFace);
}

namespace {

// A shown, active window holding the check box and a second control to move the focus to.
class CheckBoxInput : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_unique<QWidget>();
        m_window->resize(200, 60);
        box = new TXPCheckBox(m_window.get());
        box->setText(QStringLiteral("Archive"));
        box->move(10, 10);
        other = new QLineEdit(m_window.get());
        other->move(10, 35);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        clicks = std::make_unique<QSignalSpy>(box, &QAbstractButton::clicked);
        changes = std::make_unique<QSignalSpy>(box, &TXPCustomCheckBox::stateChanged);
    }

    void click(QPoint at) { QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, at); }
    void pressAndRelease(QPoint press, QPoint release) {
        QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, press);
        QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, release);
    }
    void enter() {
        const QPointF at(7, 8);
        QEnterEvent e(at, at, box->mapToGlobal(at));
        QCoreApplication::sendEvent(box, &e);
    }
    // The pixel just inside the outline's top-left corner: ring, face or pressed face.
    QRgb innerCorner() { return box->renderImage().pixel(3, 3) | 0xFF000000u; }

    std::unique_ptr<QWidget> m_window;
    TXPCheckBox* box = nullptr;
    QLineEdit* other = nullptr;
    std::unique_ptr<QSignalSpy> clicks;
    std::unique_ptr<QSignalSpy> changes;
};

const QPoint kOnBox(7, 8);
const QPoint kOnCaption(60, 8);

} // namespace

TEST_F(CheckBoxInput, clickOnBoxOrCaptionToggles) {
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(box->size(), QSize(120, 17));
    click(kOnBox);
    EXPECT_TRUE(box->Checked());
    EXPECT_TRUE(box->hasFocus());
    click(kOnCaption);
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(clicks->count(), 2);
    ASSERT_EQ(changes->count(), 2);
    EXPECT_EQ(changes->at(0).at(0).value<TCheckBoxState>(), cbChecked);
}

TEST_F(CheckBoxInput, allowGrayedCyclesThroughThreeStates) {
    box->setAllowGrayed(true);
    click(kOnBox);
    EXPECT_EQ(box->State(), cbGrayed);
    click(kOnBox);
    EXPECT_EQ(box->State(), cbChecked);
    click(kOnBox);
    EXPECT_EQ(box->State(), cbUnchecked);
    // without AllowGrayed a grayed box still goes to checked
    box->setAllowGrayed(false);
    box->setState(cbGrayed);
    click(kOnBox);
    EXPECT_EQ(box->State(), cbChecked);
}

TEST_F(CheckBoxInput, pressDragOutAndReleaseDoesNotToggle) {
    enter();
    QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, kOnBox);
    EXPECT_TRUE(box->isPressed());
    EXPECT_TRUE(inRamp(innerCorner(), px(182, 168, 152), px(247, 243, 235)));
    QTest::mouseMove(box, QPoint(130, 8));
    EXPECT_FALSE(box->isPressed());
    EXPECT_TRUE(box->isDown());
    // outside: the small face with the ring
    EXPECT_TRUE(inRamp(innerCorner(), px(255, 211, 130), px(255, 194, 81)));
    QTest::mouseMove(box, kOnCaption);
    EXPECT_TRUE(box->isPressed());
    QTest::mouseMove(box, QPoint(60, -1));
    EXPECT_FALSE(box->isPressed());
    QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, QPoint(60, -1));
    EXPECT_FALSE(box->isDown());
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(clicks->count(), 0);
    // released outside, the pointer no longer hovers the box: the plain face
    EXPECT_FALSE(box->isHot());
    EXPECT_TRUE(inRamp(innerCorner(), px(255, 255, 255), px(239, 235, 231)));
}

TEST_F(CheckBoxInput, releaseOnTheLastPixelToggles) {
    pressAndRelease(kOnBox, QPoint(119, 16));
    EXPECT_TRUE(box->Checked());
    pressAndRelease(kOnBox, QPoint(120, 8));
    pressAndRelease(kOnBox, QPoint(8, 17));
    pressAndRelease(kOnBox, QPoint(-1, 8));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 1);
}

// On a scaled screen the pointer lies between pixels: 119.6 is still on the last column of a
// 120-pixel box, −0.4 is already above the first row.
TEST_F(CheckBoxInput, pointerBetweenPixelsCountsByItsExactPosition) {
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent e(type, at, box->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &e);
    };
    auto pressAndRelease = [&](QPointF at) {
        send(QEvent::MouseButtonPress, kOnBox, Qt::LeftButton);
        send(QEvent::MouseMove, at, Qt::LeftButton);
        EXPECT_EQ(box->isPressed(), at.x() >= 0 && at.y() >= 0) << at.x() << "," << at.y();
        send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    };
    pressAndRelease({119.6, 8});
    EXPECT_TRUE(box->Checked());
    pressAndRelease({60, 16.5});
    EXPECT_FALSE(box->Checked());
    pressAndRelease({-0.4, 8});
    pressAndRelease({60, -0.4});
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(clicks->count(), 2);
}

TEST_F(CheckBoxInput, onlyTheLeftButtonPresses) {
    QTest::mouseClick(box, Qt::RightButton, Qt::NoModifier, kOnBox);
    EXPECT_FALSE(box->isDown());
    EXPECT_EQ(box->State(), cbUnchecked);
}

TEST_F(CheckBoxInput, doubleClickTogglesTwice) {
    click(kOnBox);
    QTest::mouseDClick(box, Qt::LeftButton, Qt::NoModifier, kOnBox);
    EXPECT_TRUE(box->isPressed());
    QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, kOnBox);
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(clicks->count(), 2);
}

TEST_F(CheckBoxInput, settersFireNoClick) {
    box->setChecked(true);
    EXPECT_EQ(box->State(), cbChecked);
    box->setState(cbGrayed);
    EXPECT_FALSE(box->Checked());
    box->setChecked(false);
    EXPECT_EQ(box->State(), cbUnchecked);
    box->Toggle();
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 0);
    EXPECT_EQ(changes->count(), 0);
}

TEST_F(CheckBoxInput, spaceBarPressesAndClicksOnRelease) {
    other->setFocus();
    QTest::keyPress(box, Qt::Key_Space);
    EXPECT_TRUE(box->isPressed());
    EXPECT_TRUE(box->hasFocus());
    EXPECT_EQ(box->State(), cbUnchecked);
    // a held key repeats its press: still one press
    QTest::keyPress(box, Qt::Key_Space);
    QTest::keyRelease(box, Qt::Key_Space);
    EXPECT_FALSE(box->isDown());
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 1);
    // with a modifier the space bar does nothing
    QTest::keyClick(box, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 1);
}

TEST_F(CheckBoxInput, spaceReleaseWithoutPressStillClicks) {
    QTest::keyRelease(box, Qt::Key_Space);
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 1);
}

TEST_F(CheckBoxInput, losingTheFocusCancelsASpacePress) {
    QTest::keyPress(box, Qt::Key_Space);
    ASSERT_TRUE(box->isDown());
    other->setFocus();
    EXPECT_FALSE(box->isDown());
    EXPECT_FALSE(box->isPressed());
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(clicks->count(), 0);
}

TEST_F(CheckBoxInput, disabledBoxIgnoresInput) {
    box->setEnabled(false);
    click(kOnBox);
    QTest::keyClick(box, Qt::Key_Space);
    enter();
    EXPECT_FALSE(box->isHot());
    EXPECT_EQ(box->State(), cbUnchecked);
    EXPECT_EQ(clicks->count(), 0);
    // drawn with the disabled outline
    EXPECT_EQ(box->renderImage().pixel(2, 2) | 0xFF000000u, kOutlineOff);
}

TEST_F(CheckBoxInput, disablingEndsHotAndPress) {
    enter();
    QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, kOnBox);
    ASSERT_TRUE(box->isHot() && box->isDown() && box->isPressed());
    box->setEnabled(false);
    EXPECT_FALSE(box->isHot());
    EXPECT_FALSE(box->isDown());
    EXPECT_FALSE(box->isPressed());
    box->setEnabled(true);
    QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, kOnBox);
    EXPECT_EQ(box->State(), cbChecked); // the release alone still clicks, as the table says
}

TEST_F(CheckBoxInput, pointerOverTheControlShowsTheRing) {
    enter();
    EXPECT_TRUE(box->isHot());
    EXPECT_TRUE(inRamp(innerCorner(), px(255, 211, 130), px(255, 194, 81)));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(box, &leave);
    EXPECT_FALSE(box->isHot());
    EXPECT_TRUE(inRamp(innerCorner(), px(255, 255, 255), px(239, 235, 231)));
}

TEST_F(CheckBoxInput, acceleratorFocusesAndTogglesWithoutClick) {
    box->setText(QStringLiteral("&Archive"));
    other->setFocus();
    QTest::keyClick(m_window.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(box->hasFocus());
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks->count(), 0);
}

TEST_F(CheckBoxInput, focusDrawsTheFocusRectangle) {
    box->setText(QString(10, QChar(' ')));
    other->setFocus();
    const QImage before = box->renderImage();
    box->setFocus();
    ASSERT_TRUE(box->look().focused);
    const QImage after = box->renderImage();
    // the left edge of the dotted frame, one pixel left of the caption box
    EXPECT_EQ(after.pixel(19, 7) | 0xFF000000u, (before.pixel(19, 7) ^ 0x00FFFFFFu) | 0xFF000000u);
    EXPECT_EQ(after.pixel(19, 8), before.pixel(19, 8));
}

TEST_F(CheckBoxInput, actionLinkSharesTextEnabledAndCheckedState) {
    QAction action(QStringLiteral("Pack"));
    action.setCheckable(true);
    action.setChecked(true);
    box->setAction(&action);
    EXPECT_EQ(box->Action(), &action);
    EXPECT_EQ(box->Caption(), QStringLiteral("Pack"));
    EXPECT_TRUE(box->Checked());
    // the box follows the action while the two agree
    action.setChecked(false);
    EXPECT_EQ(box->State(), cbUnchecked);
    action.setEnabled(false);
    EXPECT_FALSE(box->isEnabled());
    action.setEnabled(true);
    action.setText(QStringLiteral("Pack it"));
    EXPECT_EQ(box->Caption(), QStringLiteral("Pack it"));
    // out of step (grayed by code while the action is checked): the action's change leaves
    // the box alone
    action.setChecked(true);
    box->setState(cbGrayed);
    action.setChecked(false);
    EXPECT_EQ(box->State(), cbGrayed);
    EXPECT_EQ(clicks->count(), 0);
}

TEST_F(CheckBoxInput, clickExecutesTheLinkedAction) {
    QAction action(QStringLiteral("Pack"));
    action.setCheckable(true);
    QSignalSpy triggered(&action, &QAction::triggered);
    box->setAction(&action);
    box->setAllowGrayed(true);
    click(kOnBox);
    EXPECT_EQ(box->State(), cbGrayed); // the action's change does not undo the grayed state
    EXPECT_FALSE(action.isChecked());
    click(kOnBox);
    EXPECT_TRUE(box->Checked());
    EXPECT_TRUE(action.isChecked());
    ASSERT_EQ(triggered.count(), 2);
    EXPECT_TRUE(triggered.at(1).at(0).toBool());
    EXPECT_EQ(clicks->count(), 2);

    QAction plain(QStringLiteral("Run"));
    QSignalSpy plainTriggered(&plain, &QAction::triggered);
    box->setAction(&plain);
    click(kOnBox);
    EXPECT_EQ(plainTriggered.count(), 1);
    box->setAction(nullptr);
    click(kOnBox);
    EXPECT_EQ(plainTriggered.count(), 1);
}

TEST(XPCheckBox, changeHandlerMayDeleteTheBox) {
    QWidget window;
    auto* box = new TXPCheckBox(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPointer<TXPCheckBox> watch(box);
    QObject::connect(box, &TXPCustomCheckBox::stateChanged, [&] { delete watch.data(); });
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, 8));
    EXPECT_TRUE(watch.isNull());
}
