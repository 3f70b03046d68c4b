#include "controls/gallery_inputs.h"

#include "controls/xp_check_box.h"
#include "controls/xp_edits.h"
#include "controls/xp_group_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QMouseEvent>

#include <stdexcept>
#include <utility>

namespace controls {

namespace {

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
constexpr SchemeName kSchemes[] = {
    {xpBlue, "blue"}, {xpSilver, "silver"}, {xpGreen, "green"}, {xpOrange, "orange"}};

} // namespace

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

} // namespace controls
