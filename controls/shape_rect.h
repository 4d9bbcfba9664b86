#pragma once

#include "pictures/twips.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

class QPainter;

// A rectangle shape: no window of its own, drawn on its container's surface, taking no mouse
// input (presses on it reach the container).
class ShapeRect
{
public:
    ShapeRect() = default;
    ShapeRect(QWidget *surface, TwipRect rect, QColor fill, QColor border);

    const TwipRect &twips() const { return m_rect; }
    // Sets Left, Top, Width and Height together, in one move.
    void move(int left, int top, int width, int height);
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);

    void paint(QPainter &painter) const;

private:
    void invalidate(const TwipRect &rect) const;

    QPointer<QWidget> m_surface;
    TwipRect m_rect;
    QColor m_fill;
    QColor m_border;
    bool m_visible = true;
};
