// The XP group box: the platform's group box drawn as a light grey rounded frame with a
// blue caption whose opaque background interrupts the frame's top line.
#pragma once

#include "controls/canvas.h"
#include "controls/system_colours.h"

#include <QGroupBox>
#include <QImage>
#include <QString>

namespace controls {

// Everything one paint of the group box depends on.
struct GroupBoxLook {
    QString caption;
    Colour colour = clBtnFace; // the control's Color: background, frame interior, caption box
    bool rightToLeft = false;
};

// The frame's top line: half the height of the text "0" in the canvas's font, minus 1.
int groupBoxFrameTop(const Canvas& canvas);

// Paints the whole group box over the canvas's client rectangle in the canvas's font.
void paintGroupBox(Canvas& canvas, const GroupBoxLook& look);

// The caption is the group box's title(); "&" marks its accelerator.
class TXPCustomGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TXPCustomGroupBox(QWidget* parent = nullptr);
    explicit TXPCustomGroupBox(const QString& caption, QWidget* parent = nullptr);

    Colour Color() const { return m_colour; }
    void setColor(Colour colour);

    GroupBoxLook look() const;
    // The group box drawn at its current size, as the next paint shows it (without the
    // controls it contains).
    QImage renderImage();

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    Colour m_colour = clBtnFace;
    QImage m_surface;
};

class TXPGroupBox : public TXPCustomGroupBox {
    Q_OBJECT
public:
    using TXPCustomGroupBox::TXPCustomGroupBox;
};

} // namespace controls
