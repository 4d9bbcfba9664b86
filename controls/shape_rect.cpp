#include "controls/shape_rect.h"

#include <QPainter>

ShapeRect::ShapeRect(QWidget *surface, TwipRect rect, QColor fill, QColor border)
    : m_surface(surface), m_rect(rect), m_fill(fill), m_border(border)
{}

void ShapeRect::move(int left, int top, int width, int height)
{
    const TwipRect old = m_rect;
    m_rect = {left, top, width, height};
    if (m_visible && old != m_rect) {
        invalidate(old);
        invalidate(m_rect);
    }
}

void ShapeRect::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    invalidate(m_rect);
}

void ShapeRect::paint(QPainter &painter) const
{
    if (!m_visible)
        return;
    // A one-pixel outline inside the rectangle, filled within, as a flat shape is drawn. The
    // outline is four filled bands rather than a stroked rectangle: the line stroker leaves out
    // a corner pixel when the rectangle runs past the edge of the window.
    const QRectF area = m_rect.toPixels();
    painter.fillRect(area, m_fill);
    const qreal line = 1.0;
    painter.fillRect(QRectF(area.left(), area.top(), area.width(), line), m_border);
    painter.fillRect(QRectF(area.left(), area.bottom() - line, area.width(), line), m_border);
    painter.fillRect(QRectF(area.left(), area.top(), line, area.height()), m_border);
    painter.fillRect(QRectF(area.right() - line, area.top(), line, area.height()), m_border);
}

void ShapeRect::invalidate(const TwipRect &rect) const
{
    if (m_surface)
        m_surface->update(rect.coveringPixels().adjusted(-1, -1, 1, 1));
}
