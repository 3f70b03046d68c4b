// Reference pictures of the XP check box, edit, list box and group box: one PNG per
// state, each exactly the control's client area at its default size, with default
// properties except the state shown (and the captions named below).
#pragma once

#include <QString>

namespace controls {

// checkbox-<state>.png, 120 × 17, caption "Архивировать", for unchecked, checked, grayed,
// hot, pressed, disabled.
void renderCheckBoxGallery(const QString& dir);
// edit-<state>-<scheme>.png (121 × 21, empty) and listbox-<state>-<scheme>.png (121 × 97,
// no items) for the states enabled and disabled and the schemes blue, silver, green, orange.
void renderEditGallery(const QString& dir);
// groupbox-caption.png (caption "Панель управления") and groupbox-plain.png (no caption),
// 185 × 105. Every function creates `dir` when missing and throws std::runtime_error when
// a file cannot be written.
void renderGroupBoxGallery(const QString& dir);

} // namespace controls
