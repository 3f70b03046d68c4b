#include "app/gallery/gallery.h"

#include "controls/shaded_progress_bar.h"
#include "controls/shadow_label.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "controls/xp_edits.h"
#include "controls/xp_group_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QMouseEvent>

#include <functional>
#include <stdexcept>
#include <utility>

using namespace controls;

namespace kestrane {

namespace {

constexpr int kGalleryButtonWidth = 97;
constexpr int kGalleryButtonHeight = 25;
constexpr int kGalleryLabelWidth = 120;

void save(const QImage& image, const QString& dir, const QString& name) {
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(name);
    if (!image.save(path, "PNG"))
        throw std::runtime_error("cannot write " + path.toStdString());
}

struct SchemeName {
    TXPScheme scheme;
    const char* name;
};
constexpr SchemeName kSchemes[] = {{xpBlue, "blue"}, {xpSilver, "silver"}, {xpGreen, "green"}, {xpOrange, "orange"}};

struct ButtonState {
    const char* name;
    std::function<void(ButtonLook&)> apply;
};

} // namespace

void renderButtonGallery(const QString& dir) {
    const ButtonState states[] = {
        {"normal", [](ButtonLook&) {}},
        {"hot", [](ButtonLook& l) { l.hot = true; }},
        // held by the pointer: a press takes the focus, so the button is also the default now
        {"pressed", [](ButtonLook& l) { l.pressed = l.down = l.hot = l.focused = l.defaultNow = true; }},
        {"focused", [](ButtonLook& l) { l.focused = l.defaultNow = true; }},
        {"default", [](ButtonLook& l) { l.isDefault = l.defaultNow = true; }},
        {"disabled", [](ButtonLook& l) { l.enabled = false; }},
    };
    for (const SchemeName& s : kSchemes) {
        TXPButton button;
        button.setFont(defaultUiFont());
        button.resize(kGalleryButtonWidth, kGalleryButtonHeight);
        button.setCaption(QStringLiteral("Сохранить"));
        button.setXPScheme(s.scheme);
        for (const ButtonState& state : states) {
            ButtonLook look = button.look();
            state.apply(look);
            QImage image(kGalleryButtonWidth, kGalleryButtonHeight, QImage::Format_RGB32);
            image.fill(toQRgb(clBtnFace));
            Canvas canvas(image);
            canvas.setFont(button.font());
            ButtonBitmaps bitmaps;
            paintXPButton(canvas, look, bitmaps);
            save(image, dir, QStringLiteral("button-%1-%2.png").arg(state.name, s.name));
        }
    }
}

void renderLabelGallery(const QString& dir) {
    const std::pair<const char*, TCaptionAlignment> alignments[] = {
        {"left", caLeft}, {"right", caRight}, {"center", caCenter}};
    for (const auto& [name, alignment] : alignments) {
        TShadowLabel label;
        label.setFont(defaultUiFont());
        label.setCaption(QStringLiteral("Kestrane"));
        const int height = label.height(); // the caption's height plus the offset
        label.setAutoSize(false);
        label.resize(kGalleryLabelWidth, height);
        label.setCaptionAlignment(alignment);
        QImage image(label.size(), QImage::Format_RGB32);
        image.fill(toQRgb(clBtnFace));
        Canvas canvas(image);
        canvas.setFont(label.font());
        paintShadowLabel(canvas, label.look());
        save(image, dir, QStringLiteral("label-%1.png").arg(name));
    }
}

void renderCheckBoxGallery(const QString& dir) {
    // Each state is reached the way a user reaches it: a setter, the pointer entering,
    // a held mouse button, or disabling.
    const QPointF inside(7, 8);
    auto picture = [&](const QString& state, auto&& prepare) {
        TXPCheckBox box;
        box.setFont(defaultUiFont());
        box.setCaption(QStringLiteral("Архивировать"));
        prepare(box);
        save(box.renderImage().convertToFormat(QImage::Format_RGB32), dir, "checkbox-" + state + ".png");
    };
    picture("unchecked", [](TXPCheckBox&) {});
    picture("checked", [](TXPCheckBox& b) { b.setChecked(true); });
    picture("grayed", [](TXPCheckBox& b) { b.setState(cbGrayed); });
    picture("hot", [&](TXPCheckBox& b) {
        QEnterEvent enter(inside, inside, b.mapToGlobal(inside));
        QCoreApplication::sendEvent(&b, &enter);
    });
    picture("pressed", [&](TXPCheckBox& b) {
        QMouseEvent press(QEvent::MouseButtonPress, inside, b.mapToGlobal(inside), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&b, &press);
    });
    picture("disabled", [](TXPCheckBox& b) { b.setEnabled(false); });
}

void renderEditGallery(const QString& dir) {
    for (const bool enabled : {true, false}) {
        const QString state = enabled ? "enabled" : "disabled";
        for (const SchemeName& s : kSchemes) {
            TXPEdit edit;
            edit.setFont(defaultUiFont());
            edit.setXPScheme(s.scheme);
            edit.setEnabled(enabled);
            save(edit.renderImage(), dir, "edit-" + state + "-" + s.name + ".png");

            TXPListBox list;
            list.setFont(defaultUiFont());
            list.setXPScheme(s.scheme);
            list.setEnabled(enabled);
            save(list.renderImage(), dir, "listbox-" + state + "-" + s.name + ".png");
        }
    }
}

void renderGroupBoxGallery(const QString& dir) {
    for (const auto& [name, caption] : {std::pair{"caption", "Панель управления"}, std::pair{"plain", ""}}) {
        TXPGroupBox group(QString::fromUtf8(caption));
        group.setFont(defaultUiFont());
        save(group.renderImage(), dir, QString("groupbox-") + name + ".png");
    }
}

void renderProgressGallery(const QString& dir) {
    auto picture = [&](const QString& name, const ShadedProgressBarLayout& layout) {
        TShadedProgressBar bar;
        applyLayout(bar, layout);
        save(bar.renderImage(), dir, name);
    };
    for (int position : {0, 1, 3, 4, 50, 99, 100, 102})
        picture(QStringLiteral("progress-%1.png").arg(position), busyWindowBarLayout(position));

    ShadedProgressBarLayout flat = busyWindowBarLayout(50);
    flat.barKind = TBarKind::bkFlat;
    picture(QStringLiteral("progress-flat-50.png"), flat);

    ShadedProgressBarLayout metal = busyWindowBarLayout(50);
    metal.barLook = TBarLook::blMetal;
    picture(QStringLiteral("progress-metal-50.png"), metal);

    ShadedProgressBarLayout vertical = busyWindowBarLayout(50);
    vertical.orientation = TBarOrientation::boVertical; // turns the bar to 16 × 161
    picture(QStringLiteral("progress-vertical-50.png"), vertical);

    ShadedProgressBarLayout inactive = busyWindowBarLayout(50);
    inactive.showInactivePos = true;
    picture(QStringLiteral("progress-inactive-50.png"), inactive);
}

} // namespace kestrane
