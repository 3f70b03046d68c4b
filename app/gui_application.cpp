#include "app/gui_application.h"

#include "controls/system_colours.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QProxyStyle>
#include <QTranslator>

namespace kestrane {
namespace {

// The platform style, except that dialog buttons carry no icons.
class ClassicDialogStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void prepareGuiApplication() {
    static bool prepared = false;
    if (prepared || qApp == nullptr)
        return;
    prepared = true;

    // Qt's translation of its own texts (qt6-translations-l10n); without it they stay English.
    auto* translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;

    QApplication::setFont(controls::defaultUiFont());
    QApplication::setStyle(new ClassicDialogStyle);
}

} // namespace kestrane
