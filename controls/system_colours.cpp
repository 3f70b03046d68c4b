#include "controls/system_colours.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

#include <array>

namespace controls {

namespace {

// The classic Windows XP (blue, "Luna") system colours, by system colour index.
constexpr std::array<Colour, kSystemColourCount> kXPSystemColours = {
    rgb(212, 208, 200), // scroll bar
    rgb(0, 78, 152),    // desktop background
    rgb(0, 84, 227),    // active caption
    rgb(122, 150, 223), // inactive caption
    rgb(255, 255, 255), // menu
    rgb(255, 255, 255), // window
    rgb(0, 0, 0),       // window frame
    rgb(0, 0, 0),       // menu text
    rgb(0, 0, 0),       // window text
    rgb(255, 255, 255), // caption text
    rgb(212, 208, 200), // active border
    rgb(212, 208, 200), // inactive border
    rgb(128, 128, 128), // application workspace
    rgb(49, 106, 197),  // highlight
    rgb(255, 255, 255), // highlight text
    rgb(236, 233, 216), // button face
    rgb(172, 168, 153), // button shadow
    rgb(172, 168, 153), // grey text
    rgb(0, 0, 0),       // button text
    rgb(216, 228, 248), // inactive caption text
    rgb(255, 255, 255), // button highlight
    rgb(113, 111, 100), // 3-D dark shadow
    rgb(241, 239, 226), // 3-D light
    rgb(0, 0, 0),       // tooltip text
    rgb(255, 255, 225), // tooltip background
    rgb(181, 181, 181), // (unused index 25)
    rgb(0, 0, 128),     // hot-tracked item
    rgb(61, 149, 255),  // active caption gradient
    rgb(157, 185, 235), // inactive caption gradient
    rgb(49, 106, 197),  // menu highlight
    rgb(236, 233, 216), // menu bar
};

// Debian's fonts-wine keeps Wine's free "MS Sans Serif" (a bitmap font with Cyrillic, the
// 13-pixel cell of 8 points) outside fontconfig's folders, for Wine alone; the program
// registers it for itself. Fonts can be added only once a QGuiApplication exists.
void registerWineFont() {
    static bool registered = false;
    if (registered || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    registered = true;
    const QString file = QStringLiteral("/usr/share/wine/fonts/ms_sans_serif.ttf");
    if (QFile::exists(file))
        QFontDatabase::addApplicationFont(file);
}

} // namespace

Colour GetSysColor(int index) {
    if (index < 0 || index >= kSystemColourCount)
        return rgb(0, 0, 0);
    return kXPSystemColours[std::size_t(index)];
}

Colour resolveColour(Colour c) { return isSystemColour(c) ? GetSysColor(int(c & 0xFF)) : (c & 0x00FFFFFFu); }

QRgb toQRgb(Colour c) {
    const Colour v = resolveColour(c);
    return qRgb(redOf(v), greenOf(v), blueOf(v));
}

QFont defaultUiFont() {
    registerWineFont();
    QFont font;
    QStringList families;
    families << QStringLiteral("MS Sans Serif") << QStringLiteral("DejaVu Sans");
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif, QFont::NoAntialias);
    font.setPixelSize(11);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

} // namespace controls
