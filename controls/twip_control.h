#pragma once

#include "pictures/twips.h"

#include <QWidget>

// A child control placed in twips, as the windows were designed. The widget covers the whole
// pixels under its twip rectangle and paints into the exact fractional rectangle inside them, so
// that one-twip steps show as sub-pixel motion on high-density screens.
class TwipControl : public QWidget
{
    Q_OBJECT
public:
    explicit TwipControl(QWidget *parent);

    const TwipRect &twips() const { return m_twips; }
    void setTwips(const TwipRect &rect);
    void setLeft(int left) { setTwips({left, m_twips.top, m_twips.width, m_twips.height}); }
    void setTop(int top) { setTwips({m_twips.left, top, m_twips.width, m_twips.height}); }
    void setWidth(int width) { setTwips({m_twips.left, m_twips.top, width, m_twips.height}); }
    void setHeight(int height) { setTwips({m_twips.left, m_twips.top, m_twips.width, height}); }

    // The twip rectangle in this widget's own pixel coordinates.
    QRectF contentRect() const { return m_content; }

Q_SIGNALS:
    void clicked();
    void doubleClicked();
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF pos);
    // The twip size changed.
    void resized();
    // The twip place changed.
    void moved();
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void applyGeometry();
    void relayoutChildren();

    TwipRect m_twips;
    QRectF m_content;
    bool m_pressedInside = false;
};
