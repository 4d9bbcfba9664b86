#include "controls/twip_control.h"

#include <QKeyEvent>
#include <QMouseEvent>

TwipControl::TwipControl(QWidget *parent) : QWidget(parent) {}

void TwipControl::setTwips(const TwipRect &rect)
{
    if (rect == m_twips && !m_content.isNull())
        return;
    const bool sizeChanged = rect.width != m_twips.width || rect.height != m_twips.height;
    const bool placeChanged = rect.left != m_twips.left || rect.top != m_twips.top;
    m_twips = rect;
    applyGeometry();
    if (sizeChanged)
        Q_EMIT resized();
    if (placeChanged)
        Q_EMIT moved();
}

void TwipControl::applyGeometry()
{
    // A control inside another twip control is placed relative to its container's exact twip
    // origin, not to the whole pixel that happens to hold it.
    TwipRect placed = m_twips;
    if (auto *container = qobject_cast<TwipControl *>(parentWidget())) {
        const QPointF offset = container->contentRect().topLeft() * kTwipsPerPixel;
        placed.left += int(std::lround(offset.x()));
        placed.top += int(std::lround(offset.y()));
    }
    const QRect cover = placed.coveringPixels();
    const QRectF exact = placed.toPixels();
    m_content = exact.translated(-cover.topLeft());
    if (geometry() != cover)
        setGeometry(cover);
    update();
    relayoutChildren();
}

void TwipControl::relayoutChildren()
{
    for (QObject *child : children()) {
        if (auto *control = qobject_cast<TwipControl *>(child))
            control->applyGeometry();
    }
}

void TwipControl::mousePressEvent(QMouseEvent *event)
{
    m_pressedInside = event->button() == Qt::LeftButton;
    Q_EMIT mousePressed(event->button(), event->modifiers(), event->position());
}

void TwipControl::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressedInside && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressedInside = false;
    if (click)
        Q_EMIT clicked();
}

void TwipControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
}

void TwipControl::keyPressEvent(QKeyEvent *event)
{
    Q_EMIT keyPressed(event->key(), event->modifiers());
    event->accept();
}
