#pragma once

#include "controls/twip_control.h"
#include "pictures/picture.h"

// An image: draws its picture either stretched over the whole control or at its natural size
// from the top-left corner. At natural size the control takes the size of each picture it gets,
// and the picture's image may hold only its top-left part, as much as can be seen.
class ImageControl : public TwipControl
{
    Q_OBJECT
public:
    enum class Mode
    {
        Natural,
        Stretch
    };
    ImageControl(QWidget *parent, Mode mode);

    const Picture &picture() const { return m_picture; }
    void setPicture(Picture picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Mode m_mode;
    Picture m_picture;
};
