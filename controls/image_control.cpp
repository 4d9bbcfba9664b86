#include "controls/image_control.h"

#include <QPainter>

ImageControl::ImageControl(QWidget *parent, Mode mode) : TwipControl(parent), m_mode(mode)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageControl::setPicture(Picture picture)
{
    m_picture = std::move(picture);
    if (m_mode == Mode::Natural && !m_picture.isEmpty()) {
        setTwips(
            {twips().left, twips().top, m_picture.sizeTwips.width(), m_picture.sizeTwips.height()});
    }
    update();
}

void ImageControl::paintEvent(QPaintEvent *)
{
    if (m_picture.isEmpty())
        return;
    QPainter painter(this);
    const QRectF content = contentRect();
    if (m_mode == Mode::Stretch) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(content, m_picture.image);
    } else {
        // At the image's own size: it may hold only the top-left part of the picture.
        const QImage &image = m_picture.image;
        painter.drawImage(
            QRectF(content.topLeft(), QSizeF(image.size()) / image.devicePixelRatio()), image);
    }
}
