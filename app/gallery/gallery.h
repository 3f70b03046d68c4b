// Reference pictures of the XP-look controls for the gallery: one PNG per state, each
// exactly the control's client area, with default properties except the state shown and
// the captions named below. Every function creates `dir` when missing and throws
// std::runtime_error when a file cannot be written.
#pragma once

#include <QString>

namespace kestrane {

// button-<state>-<scheme>.png, 97 × 25 on the button-face background, caption "Сохранить",
// for the states normal, hot, pressed, focused, default (Default set while a non-button
// control has the focus) and disabled, and the schemes blue, silver, green, orange.
void renderButtonGallery(const QString& dir);
// label-<alignment>.png for left, right and center: the caption "Kestrane" in the default
// colours and offset, 120 pixels wide (AutoSize off, so the alignment shows).
void renderLabelGallery(const QString& dir);
// checkbox-<state>.png, 120 × 17, caption "Архивировать", for unchecked, checked, grayed,
// hot, pressed, disabled.
void renderCheckBoxGallery(const QString& dir);
// edit-<state>-<scheme>.png (121 × 21, empty) and listbox-<state>-<scheme>.png (121 × 97,
// no items) for the states enabled and disabled and the schemes blue, silver, green, orange.
void renderEditGallery(const QString& dir);
// groupbox-caption.png (caption "Панель управления") and groupbox-plain.png (no caption),
// 185 × 105.
void renderGroupBoxGallery(const QString& dir);
// progress-<position>.png for positions 0, 1, 3, 4, 50, 99, 100 and 102 of a 161 × 16 bar
// set up as in the busy window, and progress-flat-50.png, progress-metal-50.png,
// progress-vertical-50.png and progress-inactive-50.png.
void renderProgressGallery(const QString& dir);

} // namespace kestrane
