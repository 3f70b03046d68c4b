// The colour label: a windowless label that draws its caption twice, first in a shadow
// colour moved right and down by Offset pixels, then in the text colour on top.
#pragma once

#include "controls/canvas.h"
#include "controls/system_colours.h"

#include <QImage>
#include <QString>
#include <QWidget>

namespace controls {

enum TCaptionAlignment { caLeft, caRight, caCenter };

struct LabelLook {
    QString caption;
    TCaptionAlignment alignment = caLeft;
    Colour foreground = rgb(255, 255, 255);
    Colour background = rgb(16, 28, 136); // the shadow copy's colour
    int offset = 1;
};

// Draws the shadow and then the caption over the canvas's client rectangle; pixels the
// text does not cover are left as they are.
void paintShadowLabel(Canvas& canvas, const LabelLook& look);

// The size AutoSize gives the label: the caption's extent in the font plus the offset
// (offset × offset for an empty caption).
QSize shadowLabelAutoSize(const QFont& font, const QString& caption, int offset);

class TShadowLabel : public QWidget {
    Q_OBJECT
public:
    explicit TShadowLabel(QWidget* parent = nullptr);

    QString Caption() const { return m_look.caption; }
    void setCaption(const QString& caption);
    TCaptionAlignment CaptionAlignment() const { return m_look.alignment; }
    void setCaptionAlignment(TCaptionAlignment value);
    Colour ForegroundColor() const { return m_look.foreground; }
    void setForegroundColor(Colour value);
    Colour BackgroundColor() const { return m_look.background; }
    void setBackgroundColor(Colour value);
    int Offset() const { return m_look.offset; }
    void setOffset(int value);
    bool AutoSize() const { return m_autoSize; }
    void setAutoSize(bool value);

    const LabelLook& look() const { return m_look; }
    // The label drawn at its current size over a transparent background.
    QImage renderImage() const;

signals:
    void clicked();
    void doubleClicked();
    void mouseEnter(TShadowLabel* sender);
    void mouseLeave(TShadowLabel* sender);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void captionChanged();
    void fitToCaption();

    LabelLook m_look;
    bool m_autoSize = true;
    bool m_clickPending = false;
    int m_shortcutId = 0;
};

} // namespace controls
