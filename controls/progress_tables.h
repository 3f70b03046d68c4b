// The precomputed tables of the shaded progress bar and the rule that turns a position into
// a filled length. Everything here is pure: the bar rebuilds the tables when its geometry,
// colours or kind change and only reads them when it paints.
#pragma once

#include "controls/hls_shading.h"

#include <QRgb>

#include <cstdint>
#include <vector>

namespace controls {

enum class TBarOrientation { boHorizontal, boVertical };
enum class TBarKind { bkFlat, bkCylinder };

// The fixed measures of a bar, derived from its size and orientation.
struct ProgressGeometry {
    int margin = 2;      // 2 when the thickness is 10 or more, else 1 (set by the orientation)
    int inset = 4;       // 2 × margin; painting starts at index inset − 1
    int barLength = 60;  // length − inset
    int thickness = 13;  // entries per colour column: thickness across − inset + 1
    int minPixelPos = 5; // inset + 1: the smallest filled length that is not empty
};

// Margin for a bar whose thickness across is `across` pixels.
int marginForThickness(int across);
// barLength, thickness and minPixelPos for the given margin; `length` runs along the bar.
ProgressGeometry makeGeometry(int margin, int length, int across);

// For every index along the bar whether it lies in a block and the index at which its block
// ends (the block's last index in the direction the bar fills).
struct BlockCell {
    bool visible = false;
    std::int32_t blockEnd = 0;
};
using BlockMap = std::vector<BlockCell>;

// barLength + 1 cells (at least one). Horizontal blocks run left to right from index 3;
// vertical blocks run from index barLength − 3 downwards to `inset`. Needs both sizes > 0.
BlockMap buildBlockMap(TBarOrientation orientation, int barLength, int inset, int blockSize, int spaceSize);

// The colours the bar is painted with: colourColumns[i][j] is the pixel at index i along the
// bar and index j across it; inactiveColumn[j] is the unfilled part at index j across.
struct ProgressColours {
    std::vector<std::vector<QRgb>> colourColumns;
    std::vector<QRgb> inactiveColumn;
};

struct ShadingSettings {
    TBarKind kind = TBarKind::bkFlat;
    TBarLook look = TBarLook::blMetal;
    QRgb startColour = qRgb(0, 255, 0);
    QRgb finalColour = qRgb(0, 255, 0);
    bool singleColour = true;
    QRgb inactiveColour = qRgb(128, 128, 128);
    bool invertInactive = false;
};

// barLength + 1 columns (at least one) of `thickness` entries each; the inactive column has
// one entry when the bar has no room across (thickness ≤ 1).
ProgressColours buildColourTables(const ProgressGeometry& geometry, const ShadingSettings& shading);

// Filled length for `position` (already known to be above 0 and maximum above 0): the
// position is clamped to the maximum, scaled to the bar and rounded to nearest with ties to
// even; a non-empty fill shorter than minPixelPos is widened to minPixelPos. The result
// lies in 0 … barLength.
struct PixelPosition {
    double percent = 0;
    int pixelPos = 0;
};
PixelPosition pixelPosition(int position, int maximum, int barLength, int minPixelPos);

} // namespace controls
