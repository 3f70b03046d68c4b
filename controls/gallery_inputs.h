// Reference pictures of the XP check box, edit, list box and group box: one PNG per
// state, each exactly the control's client area at its default size and properties.
#pragma once

#include <QString>

namespace controls {

// checkbox-<state>.png, 120 × 17, for unchecked, checked, grayed, hot, pressed, disabled.
void renderCheckBoxGallery(const QString& dir);
// edit-<state>-<scheme>.png and listbox-<state>-<scheme>.png for the states enabled and
// disabled and the schemes blue, silver, green, orange.
void renderEditGallery(const QString& dir);
// groupbox-caption.png (captioned) and groupbox-plain.png (no caption).
void renderGroupBoxGallery(const QString& dir);

} // namespace controls
