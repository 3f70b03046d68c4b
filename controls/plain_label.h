// The plain label of the windows: a caption in the window-text colour that, disabled, is
// drawn as the platform draws disabled text, embossed: in the button-highlight colour one
// pixel right and down, then in the button-shadow colour on top.
#pragma once

#include "controls/canvas.h"

#include <QImage>
#include <QLabel>
#include <QString>

namespace controls {

struct PlainLabelLook {
    QString caption;
    bool enabled = true;
};

// Draws the caption at the canvas's top left, left-aligned; pixels the text does not
// cover are left as they are.
void paintPlainLabel(Canvas& canvas, const PlainLabelLook& look);

class TLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLabel(const QString& caption, QWidget* parent = nullptr);

    // The label drawn at its current size over a transparent background.
    QImage renderImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace controls
