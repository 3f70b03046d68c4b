#include "controls/shadow_label.h"
#include "tests/controls/pixel_art.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>
#include <set>

using namespace controls;
using namespace controls::test;

namespace {

struct Box {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
};

// Bounding box of the pixels of one colour.
std::optional<Box> boxOf(const QImage& img, QRgb colour) {
    Box b;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == colour) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x);
                b.bottom = std::max(b.bottom, y);
            }
    if (b.right < 0)
        return std::nullopt;
    return b;
}

QImage paintLabel(const LabelLook& look, int w, int h) {
    QImage img = blankImage(w, h);
    Canvas c(img);
    paintShadowLabel(c, look);
    return img;
}

const QRgb kText = px(255, 0, 0);
const QRgb kShadow = px(0, 0, 255);

LabelLook redOnBlue(TCaptionAlignment alignment, int offset) {
    LabelLook look;
    look.caption = "Server";
    look.alignment = alignment;
    look.foreground = rgb(255, 0, 0);
    look.background = rgb(0, 0, 255);
    look.offset = offset;
    return look;
}

} // namespace

TEST(ShadowLabel, emptyCaptionSizesToOffsetAndDrawsNothing) {
    TShadowLabel label;
    EXPECT_EQ(label.size(), QSize(1, 1));
    label.setOffset(4);
    EXPECT_EQ(label.size(), QSize(4, 4));
    const QImage img = label.renderImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(qAlpha(img.pixel(x, y)), 0);
}

TEST(ShadowLabel, autoSizeAddsTheOffsetToTheCaptionExtent) {
    TShadowLabel label;
    label.setCaption("Server");
    const QSize one = label.size();
    EXPECT_EQ(one, shadowLabelAutoSize(label.font(), "Server", 1));
    EXPECT_GT(one.width(), 1);
    label.setOffset(3);
    EXPECT_EQ(label.size(), one + QSize(2, 2));
    label.setAutoSize(false);
    label.resize(200, 30);
    label.setCaption("Another");
    EXPECT_EQ(label.size(), QSize(200, 30));
}

TEST(ShadowLabel, startsWithTheDocumentedDefaults) {
    TShadowLabel label;
    EXPECT_EQ(label.CaptionAlignment(), caLeft);
    EXPECT_EQ(label.ForegroundColor(), rgb(255, 255, 255));
    EXPECT_EQ(label.BackgroundColor(), rgb(16, 28, 136));
    EXPECT_EQ(label.Offset(), 1);
    EXPECT_TRUE(label.AutoSize());
    label.setAutoSize(false);
    EXPECT_EQ(label.size(), QSize(1, 1));
}

TEST(ShadowLabel, shadowLiesOffsetRightAndDownOfTheText) {
    const QImage img = paintLabel(redOnBlue(caLeft, 2), 120, 20);
    const auto text = boxOf(img, kText), shadow = boxOf(img, kShadow);
    ASSERT_TRUE(text && shadow);
    // the text is drawn last, so the shadow's right and bottom extremes stay visible
    EXPECT_EQ(shadow->right - text->right, 2);
    EXPECT_EQ(shadow->bottom - text->bottom, 2);
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            colours.insert(img.pixel(x, y));
    EXPECT_EQ(colours, (std::set<QRgb>{px(255, 255, 255), kText, kShadow}));
}

TEST(ShadowLabel, rightAlignedTextStepsLeftByTheOffset) {
    const int w = 120;
    const QImage img = paintLabel(redOnBlue(caRight, 3), w, 20);
    const auto text = boxOf(img, kText), shadow = boxOf(img, kShadow);
    ASSERT_TRUE(text && shadow);
    EXPECT_EQ(shadow->right - text->right, 3);
    EXPECT_LE(text->right, w - 4);
    EXPECT_GT(text->left, 40); // right-aligned, far from the left edge
    const QImage left = paintLabel(redOnBlue(caLeft, 3), w, 20);
    EXPECT_EQ(text->right - boxOf(left, kText)->right, shadow->right - boxOf(left, kShadow)->right);
}

TEST(ShadowLabel, centredTextLiesBetweenLeftAndRight) {
    const QImage l = paintLabel(redOnBlue(caLeft, 1), 120, 20);
    const QImage c = paintLabel(redOnBlue(caCenter, 1), 120, 20);
    const QImage r = paintLabel(redOnBlue(caRight, 1), 120, 20);
    EXPECT_LT(boxOf(l, kText)->left, boxOf(c, kText)->left);
    EXPECT_LT(boxOf(c, kText)->left, boxOf(r, kText)->left);
}

TEST(ShadowLabel, zeroOffsetShowsOnlyTheTextColour) {
    const QImage img = paintLabel(redOnBlue(caLeft, 0), 120, 20);
    EXPECT_TRUE(boxOf(img, kText).has_value());
    EXPECT_FALSE(boxOf(img, kShadow).has_value());
}

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A captioned label on a shown window.
TShadowLabel* shownLabel(QWidget& window) {
    window.resize(200, 50);
    auto* label = new TShadowLabel(&window);
    label->setCaption("Server");
    window.show();
    return label;
}

} // namespace

TEST(ShadowLabel, settingAPropertyToItsValueDoesNotRepaint) {
    QWidget window;
    TShadowLabel* label = shownLabel(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    label->installEventFilter(&counter);
    QApplication::processEvents();
    counter.paints = 0;
    label->setForegroundColor(label->ForegroundColor());
    label->setBackgroundColor(label->BackgroundColor());
    label->setOffset(label->Offset());
    label->setCaptionAlignment(label->CaptionAlignment());
    label->setAutoSize(label->AutoSize());
    label->setCaption(label->Caption());
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    label->setForegroundColor(rgb(1, 2, 3));
    QApplication::processEvents();
    EXPECT_GE(counter.paints, 1);
}

TEST(ShadowLabel, reportsEnterLeaveAndClicks) {
    QWidget window;
    TShadowLabel* label = shownLabel(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy enters(label, &TShadowLabel::mouseEnter), leaves(label, &TShadowLabel::mouseLeave);
    QSignalSpy clicks(label, &TShadowLabel::clicked), doubles(label, &TShadowLabel::doubleClicked);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(label, &enter);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(label, &leave);
    ASSERT_EQ(enters.count(), 1);
    ASSERT_EQ(leaves.count(), 1);
    EXPECT_EQ(enters.at(0).at(0).value<TShadowLabel*>(), label);
    EXPECT_EQ(leaves.at(0).at(0).value<TShadowLabel*>(), label);

    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(150, 2)); // released outside
    EXPECT_EQ(clicks.count(), 1);
    QTest::mouseDClick(label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(clicks.count(), 1);
}

// On a scaled screen the pointer lies between pixels: a release just short of the right
// edge is on the label, one just left of it is not.
TEST(ShadowLabel, releaseBetweenPixelsCountsByItsExactPosition) {
    QWidget window;
    TShadowLabel* label = shownLabel(window);
    QSignalSpy clicks(label, &TShadowLabel::clicked);
    auto pressAndRelease = [&](QPointF at) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(label, &release);
    };
    pressAndRelease({label->width() - 0.4, 2});
    EXPECT_EQ(clicks.count(), 1);
    pressAndRelease({-0.4, 2});
    pressAndRelease({2, -0.4});
    EXPECT_EQ(clicks.count(), 1);
}
