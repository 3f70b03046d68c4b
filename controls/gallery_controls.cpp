#include "controls/gallery_controls.h"

#include "controls/shadow_label.h"
#include "controls/xp_button.h"

#include <QDir>

#include <functional>

namespace controls {

namespace {

constexpr int kGalleryButtonWidth = 97;
constexpr int kGalleryButtonHeight = 25;
constexpr int kGalleryLabelWidth = 120;

struct ButtonState {
    const char* name;
    std::function<void(ButtonLook&)> apply;
};

} // namespace

void renderButtonGallery(const QString& dir) {
    const QDir target(dir);
    const std::pair<const char*, TXPScheme> schemes[] = {
        {"blue", xpBlue}, {"silver", xpSilver}, {"green", xpGreen}, {"orange", xpOrange}};
    const ButtonState states[] = {
        {"normal", [](ButtonLook&) {}},
        {"hot", [](ButtonLook& l) { l.hot = true; }},
        // held by the pointer: a press takes the focus, so the button is also the default now
        {"pressed", [](ButtonLook& l) { l.pressed = l.down = l.hot = l.focused = l.defaultNow = true; }},
        {"focused", [](ButtonLook& l) { l.focused = l.defaultNow = true; }},
        {"default", [](ButtonLook& l) { l.isDefault = l.defaultNow = true; }},
        {"disabled", [](ButtonLook& l) { l.enabled = false; }},
    };
    for (const auto& [schemeName, scheme] : schemes) {
        TXPButton button;
        button.setFont(defaultUiFont());
        button.resize(kGalleryButtonWidth, kGalleryButtonHeight);
        button.setCaption(QStringLiteral("Сохранить"));
        button.setXPScheme(scheme);
        for (const ButtonState& state : states) {
            ButtonLook look = button.look();
            state.apply(look);
            QImage image(kGalleryButtonWidth, kGalleryButtonHeight, QImage::Format_RGB32);
            image.fill(toQRgb(clBtnFace));
            Canvas canvas(image);
            canvas.setFont(button.font());
            ButtonBitmaps bitmaps;
            paintXPButton(canvas, look, bitmaps);
            image.save(target.filePath(QStringLiteral("button-%1-%2.png").arg(state.name, schemeName)), "PNG");
        }
    }
}

void renderLabelGallery(const QString& dir) {
    const QDir target(dir);
    const std::pair<const char*, TCaptionAlignment> alignments[] = {
        {"left", caLeft}, {"right", caRight}, {"center", caCenter}};
    for (const auto& [name, alignment] : alignments) {
        TShadowLabel label;
        label.setFont(defaultUiFont());
        label.setCaption(QStringLiteral("Kestrane"));
        const int height = label.height();   // the caption's height plus the offset
        label.setAutoSize(false);
        label.resize(kGalleryLabelWidth, height);
        label.setCaptionAlignment(alignment);
        QImage image(label.size(), QImage::Format_RGB32);
        image.fill(toQRgb(clBtnFace));
        Canvas canvas(image);
        canvas.setFont(label.font());
        paintShadowLabel(canvas, label.look());
        image.save(target.filePath(QStringLiteral("label-%1.png").arg(name)), "PNG");
    }
}

} // namespace controls
