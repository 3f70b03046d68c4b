#include "controls/progress_tables.h"

#include <algorithm>
#include <cmath>

namespace controls {

namespace {

// Horizontal blocks start at index 3 whatever the margin.
constexpr int kFirstBlockStart = 3;

BlockMap horizontalBlockMap(int barLength, int blockSize, int spaceSize) {
    BlockMap map(static_cast<std::size_t>(std::max(barLength, 0)) + 1);
    int start = kFirstBlockStart;
    int end = blockSize + kFirstBlockStart - 1;
    for (int i = 1; i <= barLength; ++i) {
        BlockCell& cell = map[static_cast<std::size_t>(i)];
        cell.visible = start <= i && i <= end;
        cell.blockEnd = end;
        if (i == end) {
            start = end + spaceSize + 1;
            end = std::min(start + blockSize - 1, barLength);
        }
    }
    return map;
}

BlockMap verticalBlockMap(int barLength, int inset, int blockSize, int spaceSize) {
    BlockMap map(static_cast<std::size_t>(std::max(barLength, 0)) + 1);
    int upper = barLength - kFirstBlockStart;
    int lower = barLength - blockSize - (kFirstBlockStart - 1);
    for (int i = barLength; i >= inset && i >= 0; --i) {
        BlockCell& cell = map[static_cast<std::size_t>(i)];
        cell.visible = lower <= i && i <= upper;
        cell.blockEnd = lower;
        if (i == lower) {
            upper = lower - spaceSize - 1;
            lower = std::max(upper - blockSize + 1, inset);
        }
    }
    return map;
}

std::vector<QRgb> shadeColumn(QRgb colour, int thickness, const ShadingSettings& shading) {
    if (shading.kind == TBarKind::bkCylinder)
        return cylinderRamp(colour, thickness, shading.look);
    return std::vector<QRgb>(static_cast<std::size_t>(std::max(thickness, 0)), colour);
}

QRgb plainRgb(QRgb c) { return qRgb(qRed(c), qGreen(c), qBlue(c)); }

} // namespace

int marginForThickness(int across) { return across >= 10 ? 2 : 1; }

ProgressGeometry makeGeometry(int margin, int length, int across) {
    ProgressGeometry g;
    g.margin = margin;
    g.inset = 2 * margin;
    g.barLength = length - g.inset;
    g.thickness = across - g.inset + 1;
    g.minPixelPos = g.inset + 1;
    return g;
}

BlockMap buildBlockMap(TBarOrientation orientation, int barLength, int inset, int blockSize, int spaceSize) {
    if (orientation == TBarOrientation::boHorizontal)
        return horizontalBlockMap(barLength, blockSize, spaceSize);
    return verticalBlockMap(barLength, inset, blockSize, spaceSize);
}

ProgressColours buildColourTables(const ProgressGeometry& geometry, const ShadingSettings& shading) {
    ProgressColours tables;
    const int columns = std::max(geometry.barLength, 0) + 1;
    tables.colourColumns.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const QRgb base =
            gradientColour(shading.startColour, shading.finalColour, i, geometry.barLength, shading.singleColour);
        tables.colourColumns.push_back(shadeColumn(base, geometry.thickness, shading));
    }

    const QRgb inactive = plainRgb(shading.inactiveColour);
    if (geometry.thickness <= 1)
        tables.inactiveColumn.assign(1, inactive);
    else
        tables.inactiveColumn = shadeColumn(inactive, geometry.thickness, shading);
    if (shading.kind == TBarKind::bkCylinder && shading.invertInactive) {
        for (QRgb& c : tables.inactiveColumn)
            c = invertLightness(c);
    }
    return tables;
}

PixelPosition pixelPosition(int position, int maximum, int barLength, int minPixelPos) {
    PixelPosition result;
    const int value = std::min(position, maximum);
    result.percent = static_cast<double>(value) * 100.0 / static_cast<double>(maximum);
    const long double px = static_cast<long double>(barLength) * result.percent / 100.0L;
    if (px > 0 && px < minPixelPos)
        result.pixelPos = minPixelPos;
    else if (px > barLength)
        result.pixelPos = barLength;
    else
        result.pixelPos = static_cast<int>(std::nearbyint(px)); // ties to even
    // A bar shorter than minPixelPos (or with no length at all) is at most full.
    result.pixelPos = std::clamp(result.pixelPos, 0, std::max(barLength, 0));
    return result;
}

} // namespace controls
