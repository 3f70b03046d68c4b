#include "controls/xp_edits.h"
#include "tests/controls/pixel_art.h"

#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace controls;
using namespace controls::test;

namespace {

struct SchemeBorder {
    TXPScheme scheme;
    QRgb enabled; // 35 % of the way from the scheme's base colour to white
};
// The base colours (54, 111, 205), (121, 121, 189), (135, 160, 88), (249, 135, 21) lightened
// by c + (255 − c) × 0.35, rounded half to even.
const std::vector<SchemeBorder> kSchemes = {
    {xpBlue, px(124, 161, 223)},
    {xpSilver, px(168, 168, 212)},
    {xpGreen, px(177, 193, 146)},
    {xpOrange, px(251, 177, 103)},
};
// (183, 165, 147) lightened the same way, whatever the scheme.
const QRgb kDisabledBorder = px(208, 197, 185);
const QRgb kWhite = px(255, 255, 255);

// Pixels of the 1-pixel frame `inset` pixels inside the image's edge that are not `c`.
int ringMismatches(const QImage& img, int inset, QRgb c) {
    const int l = inset, t = inset, r = img.width() - 1 - inset, b = img.height() - 1 - inset;
    int bad = 0;
    for (int x = l; x <= r; ++x)
        bad += (img.pixel(x, t) != c) + (img.pixel(x, b) != c);
    for (int y = t + 1; y < b; ++y)
        bad += (img.pixel(l, y) != c) + (img.pixel(r, y) != c);
    return bad;
}

void expectBorder(QWidget& w, QRgb outer, const char* what) {
    const QImage img = renderControl(w);
    ASSERT_EQ(img.size(), w.size());
    EXPECT_EQ(ringMismatches(img, 0, outer), 0) << what << " outer ring";
    EXPECT_EQ(ringMismatches(img, 1, kWhite), 0) << what << " white ring";
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& w) { w.installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

// A shown control: disabling it or switching its scheme paints it before the call returns,
// with no event processing in between.
void expectImmediateRedraw(QWidget& control, const std::function<void()>& change) {
    QWidget window;
    control.setParent(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    PaintCounter counter(control);
    change();
    EXPECT_GE(counter.paints, 1);
    control.setParent(nullptr);
}

} // namespace

TEST(XPEdit, borderFollowsSchemeAndEnabledState) {
    for (const SchemeBorder& s : kSchemes) {
        TXPEdit edit;
        edit.setText(QStringLiteral("C:/Games/system"));
        edit.setXPScheme(s.scheme);
        expectBorder(edit, s.enabled, "enabled edit");
        edit.setEnabled(false);
        expectBorder(edit, kDisabledBorder, "disabled edit");
        edit.setEnabled(true);
        expectBorder(edit, s.enabled, "re-enabled edit");
    }
}

TEST(XPEdit, defaultsToBlueAtTheDefaultSize) {
    TXPEdit edit;
    EXPECT_EQ(edit.XPScheme(), xpBlue);
    EXPECT_EQ(edit.effectiveScheme(), kSchemeBlue);
    EXPECT_EQ(edit.size(), QSize(121, 21));
    expectBorder(edit, px(124, 161, 223), "new edit");
}

TEST(XPEdit, switchingTheSchemeKeepsTheText) {
    TXPEdit edit;
    edit.setText(QStringLiteral("profile"));
    edit.setCursorPosition(3);
    edit.setXPScheme(xpOrange);
    EXPECT_EQ(edit.text(), QStringLiteral("profile"));
    EXPECT_EQ(edit.effectiveScheme(), kSchemeOrange);
    // automatic asks the desktop, which has no colour scheme here: blue
    edit.setXPScheme(xpAutomatic);
    EXPECT_EQ(edit.XPScheme(), xpAutomatic);
    EXPECT_EQ(edit.effectiveScheme(), kSchemeBlue);
    expectBorder(edit, px(124, 161, 223), "automatic edit");
}

TEST(XPEdit, borderSurvivesAFocusedShownEdit) {
    QWidget window;
    auto* edit = new TXPEdit(&window);
    edit->setXPScheme(xpGreen);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());
    expectBorder(*edit, px(177, 193, 146), "focused edit");
}

TEST(XPListBox, borderFollowsSchemeAndEnabledState) {
    for (const SchemeBorder& s : kSchemes) {
        TXPListBox list;
        list.addItems({QStringLiteral("one"), QStringLiteral("two")});
        list.setCurrentRow(0);
        list.setXPScheme(s.scheme);
        expectBorder(list, s.enabled, "enabled list");
        list.setEnabled(false);
        expectBorder(list, kDisabledBorder, "disabled list");
    }
}

TEST(XPListBox, scrollBarStaysInsideTheBorder) {
    QWidget window;
    auto* list = new TXPListBox(&window);
    for (int i = 0; i < 60; ++i)
        list->addItem(QStringLiteral("profile %1").arg(i));
    window.show();
    ASSERT_TRUE(list->verticalScrollBar()->isVisible());
    expectBorder(*list, px(124, 161, 223), "scrolling list");
}

TEST(XPEditAndListBox, disablingAndSchemeChangesRedrawAtOnce) {
    TXPEdit edit;
    expectImmediateRedraw(edit, [&] { edit.setEnabled(false); });
    expectImmediateRedraw(edit, [&] { edit.setXPScheme(xpSilver); });
    // applying the same scheme again still redraws
    expectImmediateRedraw(edit, [&] { edit.setXPScheme(xpSilver); });
    TXPListBox list;
    expectImmediateRedraw(list, [&] { list.setEnabled(false); });
    expectImmediateRedraw(list, [&] { list.setXPScheme(xpGreen); });
    expectBorder(list, kDisabledBorder, "disabled green list");
}
