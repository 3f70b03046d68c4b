// Reference pictures of the XP push button and the colour label: one PNG per state, each
// exactly the control's client area on the button-face background.
#pragma once

#include <QString>

namespace controls {

// button-<state>-<scheme>.png, 97 × 25, caption "Сохранить", for the states normal, hot,
// pressed, focused, default (Default set while a non-button control has the focus) and
// disabled, and the schemes blue, silver, green, orange.
void renderButtonGallery(const QString& dir);
// label-<alignment>.png for left, right and center: the caption "Kestrane" in the default
// colours and offset, 120 pixels wide (AutoSize off, so the alignment shows).
void renderLabelGallery(const QString& dir);

} // namespace controls
