#include "controls/gallery_controls.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace controls;

TEST(ControlsGallery, writesEveryButtonStateAndSchemeAtTheButtonSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    renderButtonGallery(dir.path());
    for (const char* state : {"normal", "hot", "pressed", "focused", "default", "disabled"})
        for (const char* scheme : {"blue", "silver", "green", "orange"}) {
            const QString name = QStringLiteral("button-%1-%2.png").arg(state, scheme);
            const QImage img(dir.filePath(name));
            ASSERT_FALSE(img.isNull()) << name.toStdString();
            EXPECT_EQ(img.size(), QSize(97, 25)) << name.toStdString();
        }
    // the pictures differ where the states do: the hot ring against the flat normal face
    const QImage normal(dir.filePath("button-normal-blue.png")), hot(dir.filePath("button-hot-blue.png"));
    EXPECT_NE(normal.pixel(1, 12), hot.pixel(1, 12));
}

TEST(ControlsGallery, writesTheLabelInEachAlignment) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    renderLabelGallery(dir.path());
    QImage previous;
    for (const char* alignment : {"left", "right", "center"}) {
        const QImage img(dir.filePath(QStringLiteral("label-%1.png").arg(alignment)));
        ASSERT_FALSE(img.isNull()) << alignment;
        EXPECT_EQ(img.width(), 120);
        EXPECT_NE(img, previous) << alignment;
        previous = img;
    }
}
