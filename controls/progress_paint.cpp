#include "controls/progress_paint.h"

#include <algorithm>
#include <vector>

namespace controls {

namespace {

// The inactive part starts right after the filled part, or at this index when the bar is
// (nearly) empty.
constexpr int kFirstInactiveIndex = 3;

const BlockCell* cellAt(const ProgressLook& look, int i) {
    if (look.blockMap == nullptr || i < 0 || i >= static_cast<int>(look.blockMap->size()))
        return nullptr;
    return &(*look.blockMap)[static_cast<std::size_t>(i)];
}

// Whether index i along the bar is a gap between blocks (indices outside the map count as
// gaps: nothing is painted there).
bool isGap(const ProgressLook& look, int i) {
    if (!look.blocksOn)
        return false;
    const BlockCell* cell = cellAt(look, i);
    return cell == nullptr || !cell->visible;
}

const std::vector<QRgb>* columnAt(const ProgressLook& look, int i) {
    const auto& columns = look.colours->colourColumns;
    if (i < 0 || i >= static_cast<int>(columns.size()))
        return nullptr;
    return &columns[static_cast<std::size_t>(i)];
}

// Paints one line across the bar at index `along`: entries first … last of `column`, limited
// to the column's size. Horizontal bars paint a column (x = along), vertical bars a row.
void paintAcross(Canvas& canvas, bool horizontal, int along, int first, int last, const std::vector<QRgb>& column) {
    last = std::min(last, static_cast<int>(column.size()) - 1);
    for (int across = std::max(first, 0); across <= last; ++across) {
        const Colour c = fromQRgb(column[static_cast<std::size_t>(across)]);
        if (horizontal)
            canvas.SetPixel(along, across, c);
        else
            canvas.SetPixel(across, along, c);
    }
}

void paintOutline(Canvas& canvas, const ProgressLook& look) {
    // outline box: border in the shape colour, filled with the background colour
    canvas.setPenStyle(PenStyle::psSolid);
    canvas.setPenColour(look.shapeColour);
    canvas.setBrushStyle(BrushStyle::bsSolid);
    canvas.setBrushColour(look.backgroundColour);
    canvas.RoundRect({0, 0, look.width, look.height}, look.cornerRadius, look.cornerRadius);
}

void paintHorizontal(Canvas& canvas, const ProgressLook& look) {
    const int inset = look.geometry.inset;
    const int first = inset - 1;
    const int last = look.height - inset;
    const std::vector<QRgb>& inactive = look.colours->inactiveColumn;

    // filled part
    for (int x = inset - 1; x <= look.pixelPos; ++x) {
        if (isGap(look, x))
            continue;
        if (look.blocksOn && look.showFullBlock && cellAt(look, x)->blockEnd > look.pixelPos) {
            // a block the fill does not cover completely yet
            if (look.showInactivePos)
                paintAcross(canvas, true, x, first, last, inactive);
            continue;
        }
        if (const auto* column = columnAt(look, x))
            paintAcross(canvas, true, x, first, last, *column);
    }

    // inactive part
    if (look.showInactivePos) {
        const int from = look.pixelPos >= kFirstInactiveIndex ? look.pixelPos + 1 : kFirstInactiveIndex;
        for (int x = from; x <= look.geometry.barLength; ++x) {
            if (!isGap(look, x))
                paintAcross(canvas, true, x, first, last, inactive);
        }
    }
}

void paintVertical(Canvas& canvas, const ProgressLook& look) {
    const int inset = look.geometry.inset;
    const int first = inset - 1;
    const int last = look.width - inset;
    const int top = look.height - look.pixelPos; // highest filled row
    const std::vector<QRgb>& inactive = look.colours->inactiveColumn;

    // filled part, from the bottom up
    for (int y = look.geometry.barLength - 1; y >= top; --y) {
        if (isGap(look, y))
            continue;
        if (look.blocksOn && look.showFullBlock && cellAt(look, y)->blockEnd < top) {
            // a block the fill does not cover completely yet
            if (look.showInactivePos)
                paintAcross(canvas, false, y, first, last, inactive);
            continue;
        }
        if (const auto* column = columnAt(look, y))
            paintAcross(canvas, false, y, first, last, *column);
    }

    // inactive part, above the filled one
    if (look.showInactivePos) {
        const int from = look.pixelPos >= kFirstInactiveIndex ? top - 1 : look.geometry.barLength;
        for (int y = from; y >= inset; --y) {
            if (!isGap(look, y))
                paintAcross(canvas, false, y, first, last, inactive);
        }
    }
}

void paintCaption(Canvas& canvas, const ProgressLook& look) {
    // caption over the bar, transparent background; the canvas's mode is restored
    canvas.setFont(look.font);
    canvas.setTextColour(look.textColour);
    canvas.setBkMode(BkMode::bkTransparent);
    Rect r{look.captionX, look.captionY, look.width, look.height};
    canvas.DrawText(look.caption, r, kDtLeft | kDtSingleLine | kDtNoPrefix | kDtNoClip);
    canvas.setBkMode(BkMode::bkOpaque);
}

} // namespace

void paintShadedProgress(Canvas& canvas, const ProgressLook& look) {
    canvas.image().fill(Qt::transparent);
    if (look.shaped)
        paintOutline(canvas, look);
    if (look.colours != nullptr) {
        if (look.orientation == TBarOrientation::boHorizontal)
            paintHorizontal(canvas, look);
        else
            paintVertical(canvas, look);
    }
    if (look.hasCaption)
        paintCaption(canvas, look);
}

} // namespace controls
