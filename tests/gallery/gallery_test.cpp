// The gallery program's pictures: every file at the control's size, the states told apart.
#include "app/gallery/gallery.h"
#include "tests/controls/pixel_art.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace kestrane;
using controls::test::px;

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

TEST(ProgressGallery, writesEveryPictureWithTheBarsSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    renderProgressGallery(dir.path());
    for (const char* name : {"progress-0.png", "progress-1.png", "progress-3.png", "progress-4.png", "progress-50.png",
                             "progress-99.png", "progress-100.png", "progress-102.png", "progress-flat-50.png",
                             "progress-metal-50.png", "progress-inactive-50.png"}) {
        const QImage image(dir.filePath(QString::fromLatin1(name)));
        EXPECT_EQ(image.size(), QSize(161, 16)) << name;
    }
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("progress-vertical-50.png"))).size(), QSize(16, 161));
    // Drawn from the same tables as the control: the full bar ends in red.
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("progress-102.png"))).pixel(157, 7), qRgb(255, 91, 91));
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("progress-flat-50.png"))).pixel(3, 7), qRgb(4, 0, 251));
}

TEST(InputsGallery, writesEveryStateAtTheControlsSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    renderCheckBoxGallery(dir.path());
    renderEditGallery(dir.path());
    renderGroupBoxGallery(dir.path());
    for (const char* state : {"unchecked", "checked", "grayed", "hot", "pressed", "disabled"}) {
        const QImage img(dir.filePath(QStringLiteral("checkbox-%1.png").arg(state)));
        EXPECT_EQ(img.size(), QSize(120, 17)) << state;
    }
    // the states differ where they should: checked has the mark, hot the ring
    const QImage unchecked(dir.filePath("checkbox-unchecked.png"));
    EXPECT_EQ(QImage(dir.filePath("checkbox-checked.png")).pixel(7, 9), px(40, 176, 51));
    EXPECT_EQ(unchecked.pixel(2, 2), px(0, 108, 108));
    EXPECT_NE(QImage(dir.filePath("checkbox-hot.png")).pixel(3, 3), unchecked.pixel(3, 3));
    EXPECT_EQ(QImage(dir.filePath("checkbox-disabled.png")).pixel(2, 2), px(184, 170, 154));
    for (const char* state : {"enabled", "disabled"})
        for (const char* scheme : {"blue", "silver", "green", "orange"}) {
            const QImage edit(dir.filePath(QStringLiteral("edit-%1-%2.png").arg(state, scheme)));
            const QImage list(dir.filePath(QStringLiteral("listbox-%1-%2.png").arg(state, scheme)));
            EXPECT_EQ(edit.size(), QSize(121, 21)) << state << scheme;
            EXPECT_EQ(list.size(), QSize(121, 97)) << state << scheme;
        }
    EXPECT_EQ(QImage(dir.filePath("edit-enabled-orange.png")).pixel(0, 5), px(251, 177, 103));
    EXPECT_EQ(QImage(dir.filePath("listbox-disabled-green.png")).pixel(0, 5), px(208, 197, 185));
    EXPECT_EQ(QImage(dir.filePath("groupbox-caption.png")).size(), QSize(185, 105));
    EXPECT_EQ(QImage(dir.filePath("groupbox-plain.png")).size(), QSize(185, 105));
}

TEST(Gallery, aFileThatCannotBeWrittenIsAnError) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // a folder path below a regular file can be neither created nor written to
    QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
    const QString blocked = dir.filePath("file/pictures");
    for (auto render : {renderButtonGallery, renderLabelGallery, renderCheckBoxGallery, renderEditGallery,
                        renderGroupBoxGallery, renderProgressGallery})
        EXPECT_THROW(render(blocked), std::runtime_error);
}
