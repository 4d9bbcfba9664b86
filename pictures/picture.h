#pragma once

#include <QImage>
#include <QSize>

// A picture as the controls hold it: the decoded image and its natural size in twips. The empty
// picture has no image and no size.
struct Picture
{
    QImage image;
    QSize sizeTwips;

    bool isEmpty() const { return image.isNull(); }
};
