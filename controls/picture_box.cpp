#include "controls/picture_box.h"

#include <QPainter>

PictureBox::PictureBox(QWidget *parent) : TwipControl(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setBackground(const QColor &colour)
{
    m_background = colour;
    update();
}

void PictureBox::setPicture(Picture picture)
{
    m_picture = std::move(picture);
    if (m_autoSize && !m_picture.isEmpty()) {
        setTwips(
            {twips().left, twips().top, m_picture.sizeTwips.width(), m_picture.sizeTwips.height()});
    }
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The whole pixels around the exact rectangle belong to the box too; fill them so no seam of
    // the surface below shows through.
    painter.fillRect(rect(), m_background.isValid() ? m_background : QColor(Qt::white));
    if (!m_picture.isEmpty()) {
        const QSizeF natural = QSizeF(m_picture.sizeTwips) / kTwipsPerPixel;
        painter.drawImage(QRectF(contentRect().topLeft(), natural), m_picture.image);
    }
}
