// Painting of the shaded progress bar as a free function over a snapshot of its state, so
// that it can be drawn and checked without a window. Painting only reads the precomputed
// tables: no shading is computed here.
#pragma once

#include "controls/canvas.h"
#include "controls/progress_tables.h"
#include "controls/system_colours.h"

#include <QFont>
#include <QString>

namespace controls {

struct ProgressLook {
    int width = 0;
    int height = 0;
    TBarOrientation orientation = TBarOrientation::boHorizontal;
    ProgressGeometry geometry;
    int pixelPos = 0;

    bool blocksOn = false;
    bool showFullBlock = false;
    bool showInactivePos = false;
    const BlockMap* blockMap = nullptr;       // consulted only when blocksOn
    const ProgressColours* colours = nullptr; // must be set

    // outline box
    bool shaped = true;
    Colour shapeColour = rgb(0, 60, 116);
    Colour backgroundColour = rgb(255, 255, 255);
    int cornerRadius = 5;

    // caption
    bool hasCaption = false;
    QString caption;
    int captionX = 0;
    int captionY = 0;
    QFont font;
    Colour textColour = clWindowText;
};

// Redraws the whole control into the canvas: clears it to transparent (so that where no
// outline box is drawn the parent shows through), then the outline box, the filled part,
// the inactive part and the caption. Indices outside the tables are not painted, so a
// snapshot whose tables lag behind its size draws less but never reads out of range.
void paintShadedProgress(Canvas& canvas, const ProgressLook& look);

} // namespace controls
