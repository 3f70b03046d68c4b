// TShadedProgressBar: a self-drawn progress bar. A rounded, outlined box whose filled part
// is painted pixel by pixel from colour tables: flat or shaded like a cylinder (metal or
// glass look), with a gradient from a start to a final colour along the bar, optionally cut
// into blocks, with an inactive part, a caption and a hint, and able to hide itself when it
// reaches its maximum.
//
// The tables are rebuilt when the geometry, the colours or the kind change, never when the
// position changes; each paint redraws the whole control into an image (the double buffer)
// and blits it. The control takes no focus and handles no input. Out-of-range values are
// absorbed, never reported.
#pragma once

#include "controls/progress_paint.h"
#include "controls/progress_tables.h"
#include "controls/system_colours.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace controls {

class TShadedProgressBar : public QWidget {
    Q_OBJECT
public:
    enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

    explicit TShadedProgressBar(QWidget* parent = nullptr);

    // The value of a full bar; negative values become 0. The filled length is recomputed only
    // by the next position assignment.
    int maximum() const { return m_maximum; }
    void setMaximum(int value);
    // Stored unclamped; drawn clamped to the maximum. With maximum 0 it is only stored.
    int position() const { return m_position; }
    void setPosition(int value);

    TBarOrientation orientation() const { return m_orientation; }
    // Exchanges width and height when the new orientation runs across the longer side.
    void setOrientation(TBarOrientation value);
    TBarKind barKind() const { return m_shading.kind; }
    void setBarKind(TBarKind value);
    TBarLook barLook() const { return m_shading.look; }
    void setBarLook(TBarLook value);

    bool roundCorner() const { return m_cornerRadius > 0; }
    void setRoundCorner(bool value);
    Colour backgroundColor() const { return m_backgroundColour; }
    void setBackgroundColor(Colour value);
    bool shaped() const { return m_shaped; }
    void setShaped(bool value);
    Colour shapeColor() const { return m_shapeColour; }
    void setShapeColor(Colour value);

    // Start, final and bar colour are taken apart as plain RGB bytes: system colour codes do
    // not name system colours here.
    Colour barColor() const { return m_startColour; }
    void setBarColor(Colour value); // start and final colour
    Colour startColor() const { return m_startColour; }
    void setStartColor(Colour value);
    Colour finalColor() const { return m_finalColour; }
    void setFinalColor(Colour value);

    bool showInactivePos() const { return m_showInactivePos; }
    void setShowInactivePos(bool value);
    bool invertInactPos() const { return m_shading.invertInactive; }
    void setInvertInactPos(bool value);
    Colour inactivePosColor() const { return m_inactiveColour; }
    void setInactivePosColor(Colour value);

    // Sizes larger than the bar are ignored; negative ones are made positive. Blocks are on
    // when both sizes are above 0.
    int blockSize() const { return m_blockSize; }
    void setBlockSize(int value);
    int spaceSize() const { return m_spaceSize; }
    void setSpaceSize(int value);
    bool showFullBlock() const { return m_showFullBlock; }
    void setShowFullBlock(bool value);

    // Hide the control (100 ms after the full bar is shown) when the position reaches the
    // maximum.
    bool hideOnTerminate() const { return m_hideOnTerminate; }
    void setHideOnTerminate(bool value) { m_hideOnTerminate = value; }

    // The caption is drawn over the bar in the control's font; setting it places it but
    // does not repaint.
    const QString& caption() const { return m_caption; }
    void setCaption(const QString& text);
    TAlignment captionAlign() const { return m_captionAlign; }
    void setCaptionAlign(TAlignment value);
    // Caption replaced by the position (or "<percent>%") on every paint.
    bool autoCaption() const { return m_autoCaption; }
    void setAutoCaption(bool value);
    // Hint (tool tip) replaced by the position (or "<percent> %") on every position change.
    bool autoHint() const { return m_autoHint; }
    void setAutoHint(bool value) { m_autoHint = value; }
    bool showPosAsPct() const { return m_showPosAsPct; }
    void setShowPosAsPct(bool value) { m_showPosAsPct = value; }

    // Derived state.
    const ProgressGeometry& barGeometry() const { return m_geometry; }
    int pixelPos() const { return m_pixelPos; }
    double percent() const { return m_percent; }
    bool blocksOn() const { return m_blockSize > 0 && m_spaceSize > 0; }
    const BlockMap& blockMap() const { return m_blockMap; }
    const ProgressColours& colourTables() const { return m_colours; }
    int captionX() const { return m_captionX; }
    int captionY() const { return m_captionY; }
    // How often the colour tables were built: a position change must not add to it.
    int colourTableBuilds() const { return m_colourTableBuilds; }

    // The control drawn at its current size and state, as the next paint shows it.
    const QImage& renderImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int lengthAlong() const;
    int thicknessAcross() const;
    void computeGeometry();
    void handleResize();
    void rebuildBlockMap();
    void rebuildColourTables();
    void colourChanged();
    QString percentText() const;
    ProgressLook snapshot() const;

    // properties
    TBarOrientation m_orientation = TBarOrientation::boHorizontal;
    ShadingSettings m_shading;
    Colour m_startColour = rgb(0, 255, 0);
    Colour m_finalColour = rgb(0, 255, 0);
    Colour m_inactiveColour = rgb(128, 128, 128);
    bool m_showInactivePos = false;
    int m_cornerRadius = 5;
    Colour m_backgroundColour = rgb(255, 255, 255);
    bool m_shaped = true;
    Colour m_shapeColour = rgb(0, 60, 116);
    int m_blockSize = 0;
    int m_spaceSize = 0;
    bool m_showFullBlock = false;
    int m_maximum = 100;
    int m_position = 0;
    bool m_hideOnTerminate = false;
    QString m_caption;
    TAlignment m_captionAlign = TAlignment::taLeftJustify;
    bool m_autoCaption = false;
    bool m_autoHint = false;
    bool m_showPosAsPct = false;

    // derived state
    ProgressGeometry m_geometry;
    int m_pixelPos = 0;
    double m_percent = 0;
    bool m_rebuildSuspended = false;
    BlockMap m_blockMap = BlockMap(1);
    ProgressColours m_colours;
    int m_colourTableBuilds = 0;
    bool m_hasCaption = false;
    int m_captionX = 0;
    int m_captionY = 0;

    QSize m_laidOutSize; // the size the geometry and tables were last computed for
    QImage m_buffer;
    QTimer m_hideTimer;
};

// The property values a window layout stores for a bar; the defaults are the constructor's.
// applyLayout assigns them in this order, as a layout is read when its window is created.
struct ShadedProgressBarLayout {
    QRect bounds{0, 0, 64, 16};
    TBarOrientation orientation = TBarOrientation::boHorizontal;
    TBarKind barKind = TBarKind::bkFlat;
    TBarLook barLook = TBarLook::blMetal;
    bool roundCorner = true;
    Colour backgroundColor = rgb(255, 255, 255);
    Colour startColor = rgb(0, 255, 0);
    Colour finalColor = rgb(0, 255, 0);
    bool showInactivePos = false;
    bool invertInactPos = false;
    Colour inactivePosColor = rgb(128, 128, 128);
    bool shaped = true;
    Colour shapeColor = rgb(0, 60, 116);
    int blockSize = 0;
    int spaceSize = 0;
    bool showFullBlock = false;
    int maximum = 100;
    int position = 0;
    bool hideOnTerminate = false;
    TShadedProgressBar::TAlignment captionAlign = TShadedProgressBar::TAlignment::taLeftJustify;
    QString caption;
    bool autoCaption = false;
    bool autoHint = false;
    bool showPosAsPct = false;
};

void applyLayout(TShadedProgressBar& bar, const ShadedProgressBarLayout& layout);

// The bar of the busy window: 161 × 16, glass cylinder from blue to red, blocks of 3 with
// gaps of 1, maximum 100, at `position`. The busy window and the gallery share it.
ShadedProgressBarLayout busyWindowBarLayout(int position = 0);

} // namespace controls
