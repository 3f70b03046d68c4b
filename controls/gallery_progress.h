// Pictures of the shaded progress bar for the gallery: the busy window's bar at the
// positions its timer passes through, and its flat, metal, vertical and inactive variants.
#pragma once

#include <QString>

namespace controls {

// Writes into the folder `dir` (which must exist) progress-<position>.png for positions 0, 1,
// 3, 4, 50, 99, 100 and 102 of a 161 × 16 bar set up as in the busy window, and
// progress-flat-50.png, progress-metal-50.png, progress-vertical-50.png and
// progress-inactive-50.png. Returns whether every file was written.
bool renderProgressGallery(const QString& dir);

} // namespace controls
