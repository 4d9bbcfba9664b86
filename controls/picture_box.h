#pragma once

#include "controls/twip_control.h"
#include "pictures/picture.h"

#include <QColor>

// A picture box: a background colour, an optional picture at natural size from the top-left
// corner, and child controls clipped to its area. With auto-size on, a non-empty picture gives
// the box its size.
class PictureBox : public TwipControl
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent);

    void setBackground(const QColor &colour);
    void setAutoSize(bool on) { m_autoSize = on; }

    const Picture &picture() const { return m_picture; }
    void setPicture(Picture picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_background;
    Picture m_picture;
    bool m_autoSize = false;
};
