#include "controls/shaded_progress_bar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>

#include <climits>
#include <cstdlib>
#include <utility>

namespace controls {

namespace {

constexpr int kDefaultWidth = 64;
constexpr int kDefaultHeight = 16;
constexpr int kRoundCornerRadius = 5;
constexpr int kHideDelayMs = 100;

QRgb plainRgb(Colour c) { return qRgb(redOf(c), greenOf(c), blueOf(c)); }

} // namespace

TShadedProgressBar::TShadedProgressBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFont(defaultUiFont());
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kHideDelayMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &QWidget::hide);

    m_shading.startColour = plainRgb(m_startColour);
    m_shading.finalColour = plainRgb(m_finalColour);
    m_shading.inactiveColour = plainRgb(m_inactiveColour);
    m_shading.singleColour = true;
    resize(kDefaultWidth, kDefaultHeight);
    handleResize();
    setPosition(0);
}

int TShadedProgressBar::lengthAlong() const {
    return m_orientation == TBarOrientation::boHorizontal ? width() : height();
}

int TShadedProgressBar::thicknessAcross() const {
    return m_orientation == TBarOrientation::boHorizontal ? height() : width();
}

void TShadedProgressBar::computeGeometry() {
    m_geometry = makeGeometry(m_geometry.margin, lengthAlong(), thicknessAcross());
}

// Runs for every new size: Qt may deliver a hidden widget's resize event only when it is
// shown, so rendering also checks the size it was laid out for.
void TShadedProgressBar::handleResize() {
    m_laidOutSize = size();
    computeGeometry();
    if (m_rebuildSuspended)
        return;
    if (blocksOn())
        rebuildBlockMap();
    rebuildColourTables();
    setPosition(m_position);
}

void TShadedProgressBar::rebuildBlockMap() {
    if (m_blockSize == 0 || m_spaceSize == 0)
        return;
    m_blockMap = buildBlockMap(m_orientation, m_geometry.barLength, m_geometry.inset, m_blockSize, m_spaceSize);
}

void TShadedProgressBar::rebuildColourTables() {
    if (m_rebuildSuspended)
        return;
    m_colours = buildColourTables(m_geometry, m_shading);
    ++m_colourTableBuilds;
}

void TShadedProgressBar::colourChanged() {
    rebuildColourTables();
    update();
}

// --- position --------------------------------------------------------------------------

void TShadedProgressBar::setMaximum(int value) {
    m_maximum = std::max(value, 0);
    update();
}

void TShadedProgressBar::setPosition(int value) {
    m_position = value;
    if (m_maximum == 0)
        return;
    if (value <= 0) {
        // An empty bar reads 0 per cent, so an automatic caption or hint does not keep
        // showing the last filled position.
        m_pixelPos = 0;
        m_percent = 0;
    } else {
        const PixelPosition p = pixelPosition(value, m_maximum, m_geometry.barLength, m_geometry.minPixelPos);
        m_pixelPos = p.pixelPos;
        m_percent = p.percent;
    }
    if (m_autoHint)
        setToolTip(m_showPosAsPct ? percentText() + QStringLiteral(" %") : QString::number(m_position));

    update();
    if (m_hideOnTerminate && m_maximum == std::min(value, m_maximum))
        m_hideTimer.start();
    else
        m_hideTimer.stop(); // the bar left its maximum before it was hidden
}

QString TShadedProgressBar::percentText() const {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(m_percent, 'g', 15);
}

// --- shape and kind --------------------------------------------------------------------

void TShadedProgressBar::setOrientation(TBarOrientation value) {
    m_rebuildSuspended = true;
    if (value != m_orientation) {
        const int w = width(), h = height();
        if ((value == TBarOrientation::boVertical && h < w) || (value == TBarOrientation::boHorizontal && w < h))
            resize(h, w);
        m_orientation = value;
    }
    const int margin = marginForThickness(thicknessAcross());
    m_geometry.margin = margin;
    computeGeometry();
    m_laidOutSize = size();
    m_rebuildSuspended = false;
    rebuildBlockMap();
    rebuildColourTables();
    update();
}

void TShadedProgressBar::setBarKind(TBarKind value) {
    m_shading.kind = value;
    colourChanged();
}

void TShadedProgressBar::setBarLook(TBarLook value) {
    m_shading.look = value;
    colourChanged();
}

void TShadedProgressBar::setRoundCorner(bool value) {
    m_cornerRadius = value ? kRoundCornerRadius : 0;
    update();
}

void TShadedProgressBar::setBackgroundColor(Colour value) {
    m_backgroundColour = value;
    update();
}

void TShadedProgressBar::setShaped(bool value) {
    m_shaped = value;
    update();
}

void TShadedProgressBar::setShapeColor(Colour value) {
    m_shapeColour = value;
    update();
}

// --- colours ---------------------------------------------------------------------------

void TShadedProgressBar::setBarColor(Colour value) {
    m_startColour = m_finalColour = value;
    m_shading.startColour = m_shading.finalColour = plainRgb(value);
    m_shading.singleColour = true;
    colourChanged();
}

void TShadedProgressBar::setStartColor(Colour value) {
    m_startColour = value;
    m_shading.startColour = plainRgb(value);
    m_shading.singleColour = value == m_finalColour;
    colourChanged();
}

void TShadedProgressBar::setFinalColor(Colour value) {
    m_finalColour = value;
    m_shading.finalColour = plainRgb(value);
    m_shading.singleColour = value == m_startColour;
    colourChanged();
}

void TShadedProgressBar::setShowInactivePos(bool value) {
    m_showInactivePos = value;
    colourChanged();
}

void TShadedProgressBar::setInvertInactPos(bool value) {
    m_shading.invertInactive = value;
    colourChanged();
}

void TShadedProgressBar::setInactivePosColor(Colour value) {
    m_inactiveColour = value;
    m_shading.inactiveColour = plainRgb(value);
    colourChanged();
}

// --- blocks ----------------------------------------------------------------------------

void TShadedProgressBar::setBlockSize(int value) {
    if (value == INT_MIN || std::abs(value) > lengthAlong() - 2 * m_geometry.margin)
        return;
    m_blockSize = std::abs(value);
    if (blocksOn())
        rebuildBlockMap();
    colourChanged();
}

void TShadedProgressBar::setSpaceSize(int value) {
    if (value == INT_MIN || std::abs(value) > lengthAlong() - 2 * m_geometry.margin)
        return;
    m_spaceSize = std::abs(value);
    if (blocksOn())
        rebuildBlockMap();
    colourChanged();
}

void TShadedProgressBar::setShowFullBlock(bool value) {
    m_showFullBlock = value;
    if (value)
        rebuildBlockMap();
    colourChanged();
}

// --- caption ---------------------------------------------------------------------------

void TShadedProgressBar::setCaption(const QString& text) {
    m_caption = text;
    m_hasCaption = !text.isEmpty();
    if (!m_hasCaption)
        return;
    const QFontMetrics metrics(font());
    m_captionY = (height() - metrics.height()) / 2; // the height of "Pg"
    const int textWidth = metrics.horizontalAdvance(text);
    switch (m_captionAlign) {
    case TAlignment::taLeftJustify:
        m_captionX = 0;
        break;
    case TAlignment::taCenter:
        m_captionX = (width() - textWidth) / 2;
        break;
    case TAlignment::taRightJustify:
        m_captionX = width() - textWidth - 1;
        break;
    }
}

void TShadedProgressBar::setCaptionAlign(TAlignment value) {
    m_captionAlign = value;
    setCaption(m_caption);
}

void TShadedProgressBar::setAutoCaption(bool value) {
    m_autoCaption = value;
    update();
}

// --- painting --------------------------------------------------------------------------

ProgressLook TShadedProgressBar::snapshot() const {
    ProgressLook look;
    look.width = width();
    look.height = height();
    look.orientation = m_orientation;
    look.geometry = m_geometry;
    look.pixelPos = m_pixelPos;
    look.blocksOn = blocksOn();
    look.showFullBlock = m_showFullBlock;
    look.showInactivePos = m_showInactivePos;
    look.blockMap = &m_blockMap;
    look.colours = &m_colours;
    look.shaped = m_shaped;
    look.shapeColour = m_shapeColour;
    look.backgroundColour = m_backgroundColour;
    look.cornerRadius = m_cornerRadius;
    look.hasCaption = m_hasCaption;
    look.caption = m_caption;
    look.captionX = m_captionX;
    look.captionY = m_captionY;
    look.font = font();
    return look;
}

const QImage& TShadedProgressBar::renderImage() {
    if (size() != m_laidOutSize)
        handleResize();
    if (m_autoCaption)
        setCaption(m_showPosAsPct ? percentText() + QStringLiteral("%") : QString::number(m_position));
    if (m_buffer.size() != size())
        m_buffer = QImage(size(), QImage::Format_ARGB32);
    if (!m_buffer.isNull()) {
        Canvas canvas(m_buffer);
        paintShadedProgress(canvas, snapshot());
    }
    return m_buffer;
}

void TShadedProgressBar::paintEvent(QPaintEvent* /*event*/) {
    const QImage& image = renderImage();
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void TShadedProgressBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (size() != m_laidOutSize)
        handleResize();
}

void TShadedProgressBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The caption is drawn in the control's font: place it again for the new one.
    if (event->type() == QEvent::FontChange)
        setCaption(m_caption);
}

// --- layout ----------------------------------------------------------------------------

void applyLayout(TShadedProgressBar& bar, const ShadedProgressBarLayout& layout) {
    bar.setGeometry(layout.bounds);
    bar.setOrientation(layout.orientation);
    bar.setBarKind(layout.barKind);
    bar.setBarLook(layout.barLook);
    bar.setRoundCorner(layout.roundCorner);
    bar.setBackgroundColor(layout.backgroundColor);
    bar.setStartColor(layout.startColor);
    bar.setFinalColor(layout.finalColor);
    bar.setShowInactivePos(layout.showInactivePos);
    bar.setInvertInactPos(layout.invertInactPos);
    bar.setInactivePosColor(layout.inactivePosColor);
    bar.setShaped(layout.shaped);
    bar.setShapeColor(layout.shapeColor);
    bar.setBlockSize(layout.blockSize);
    bar.setSpaceSize(layout.spaceSize);
    bar.setShowFullBlock(layout.showFullBlock);
    bar.setMaximum(layout.maximum);
    bar.setHideOnTerminate(layout.hideOnTerminate);
    bar.setCaptionAlign(layout.captionAlign);
    bar.setCaption(layout.caption);
    bar.setAutoCaption(layout.autoCaption);
    bar.setAutoHint(layout.autoHint);
    bar.setShowPosAsPct(layout.showPosAsPct);
    bar.setPosition(layout.position);
}

ShadedProgressBarLayout busyWindowBarLayout(int position) {
    ShadedProgressBarLayout layout;
    layout.bounds = {0, 0, 161, 16};
    layout.barKind = TBarKind::bkCylinder;
    layout.barLook = TBarLook::blGlass;
    layout.startColor = rgb(0, 0, 255);
    layout.finalColor = rgb(255, 0, 0);
    layout.blockSize = 3;
    layout.spaceSize = 1;
    layout.position = position;
    return layout;
}

} // namespace controls
