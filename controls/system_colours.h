// Colour values as the window layouts store them, and the system colours they may name.
//
// A colour value is one 32-bit number with red in the low byte, green in the second and
// blue in the third. A value whose top byte is set names a system colour instead: its low
// byte is the index into the system colour table. The table holds the classic Windows XP
// (blue) values, so the controls look the same on every desktop theme.
#pragma once

#include <QFont>
#include <QRgb>

#include <cstdint>

namespace controls {

using Colour = std::uint32_t;

constexpr Colour rgb(int r, int g, int b) {
    return Colour(r & 0xFF) | (Colour(g & 0xFF) << 8) | (Colour(b & 0xFF) << 16);
}
constexpr int redOf(Colour c) { return int(c & 0xFF); }
constexpr int greenOf(Colour c) { return int((c >> 8) & 0xFF); }
constexpr int blueOf(Colour c) { return int((c >> 16) & 0xFF); }

constexpr Colour kSystemColourFlag = 0xFF000000u;
constexpr bool isSystemColour(Colour c) { return (c & kSystemColourFlag) != 0; }

// Indices of the system colour table, in the platform's numbering.
enum SystemColourIndex : int {
    COLOR_SCROLLBAR = 0,
    COLOR_BACKGROUND = 1,
    COLOR_ACTIVECAPTION = 2,
    COLOR_INACTIVECAPTION = 3,
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_WINDOWFRAME = 6,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_CAPTIONTEXT = 9,
    COLOR_ACTIVEBORDER = 10,
    COLOR_INACTIVEBORDER = 11,
    COLOR_APPWORKSPACE = 12,
    COLOR_HIGHLIGHT = 13,
    COLOR_HIGHLIGHTTEXT = 14,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_INACTIVECAPTIONTEXT = 19,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
    COLOR_3DLIGHT = 22,
    COLOR_INFOTEXT = 23,
    COLOR_INFOBK = 24,
    COLOR_HOTLIGHT = 26,
    COLOR_GRADIENTACTIVECAPTION = 27,
    COLOR_GRADIENTINACTIVECAPTION = 28,
    COLOR_MENUHILIGHT = 29,
    COLOR_MENUBAR = 30,
};
constexpr int kSystemColourCount = 31;

constexpr Colour systemColour(int index) { return kSystemColourFlag | Colour(index & 0xFF); }

// The system colour codes under the names the window layouts use.
constexpr Colour clScrollBar = systemColour(COLOR_SCROLLBAR);
constexpr Colour clBackground = systemColour(COLOR_BACKGROUND);
constexpr Colour clActiveCaption = systemColour(COLOR_ACTIVECAPTION);
constexpr Colour clInactiveCaption = systemColour(COLOR_INACTIVECAPTION);
constexpr Colour clMenu = systemColour(COLOR_MENU);
constexpr Colour clWindow = systemColour(COLOR_WINDOW);
constexpr Colour clWindowFrame = systemColour(COLOR_WINDOWFRAME);
constexpr Colour clMenuText = systemColour(COLOR_MENUTEXT);
constexpr Colour clWindowText = systemColour(COLOR_WINDOWTEXT);
constexpr Colour clCaptionText = systemColour(COLOR_CAPTIONTEXT);
constexpr Colour clHighlight = systemColour(COLOR_HIGHLIGHT);
constexpr Colour clHighlightText = systemColour(COLOR_HIGHLIGHTTEXT);
constexpr Colour clBtnFace = systemColour(COLOR_BTNFACE);
constexpr Colour clBtnShadow = systemColour(COLOR_BTNSHADOW);
constexpr Colour clGrayText = systemColour(COLOR_GRAYTEXT);
constexpr Colour clBtnText = systemColour(COLOR_BTNTEXT);
constexpr Colour clBtnHighlight = systemColour(COLOR_BTNHIGHLIGHT);
constexpr Colour cl3DDkShadow = systemColour(COLOR_3DDKSHADOW);
constexpr Colour cl3DLight = systemColour(COLOR_3DLIGHT);
constexpr Colour clInfoText = systemColour(COLOR_INFOTEXT);
constexpr Colour clInfoBk = systemColour(COLOR_INFOBK);

// The RGB value of a system colour index; black for an index outside the table.
Colour GetSysColor(int index);

// A colour value with system colour codes replaced by their RGB value.
Colour resolveColour(Colour c);

// Conversions between colour values and Qt's 0xAARRGGBB pixels (always opaque).
QRgb toQRgb(Colour c);
constexpr Colour fromQRgb(QRgb p) { return rgb(qRed(p), qGreen(p), qBlue(p)); }

// The controls' default font: "MS Sans Serif" at 11 pixels (8 points at 96 dpi) from Wine's
// fonts (fonts-wine) or wherever fontconfig finds it, falling back to the system sans
// (DejaVu Sans), without antialiasing.
QFont defaultUiFont();

} // namespace controls
