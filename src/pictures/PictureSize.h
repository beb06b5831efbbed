#pragma once
// The size a picture is shown at, shared by the program and the drawing helper
// (src/render), which must agree on it to the pixel.
#include <QSize>
#include <QtGlobal>

#include <cmath>

namespace pictures {

// Where a picture is going: at its own size (the viewer, the chooser's 自动大小), or into
// a frame that shows no more than frame.width() x frame.height() pixels (the chooser's
// fitted preview stretches the picture over its frame, so it keeps no proportions).
struct PictureRequest {
    QSize frame;                  // invalid: at its own size
    bool keepProportions = true;  // only for a frame
    static PictureRequest ownSize() { return {}; }
    static PictureRequest within(const QSize &frame, bool keepProportions)
    {
        PictureRequest r;
        r.frame = frame;
        r.keepProportions = keepProportions;
        return r;
    }
    bool atOwnSize() const { return !frame.isValid() || frame.isEmpty(); }
};

// The largest size of the same proportions that has at most maxPixels pixels.
inline QSize reducedTo(const QSize &size, qint64 maxPixels)
{
    const double pixels = double(size.width()) * size.height();
    if (pixels <= double(maxPixels))
        return size;
    const double factor = std::sqrt(double(maxPixels) / pixels);
    return QSize(qMax(1, int(size.width() * factor)), qMax(1, int(size.height() * factor)));
}

// The size a picture of its own size is shown at: never larger than its own, never more
// than maxPixels, and within the frame when there is one.
inline QSize shownSize(const QSize &own, const PictureRequest &request, qint64 maxPixels)
{
    QSize size = reducedTo(own, maxPixels);
    if (request.atOwnSize())
        return size;
    if (request.keepProportions) {
        if (size.width() > request.frame.width() || size.height() > request.frame.height())
            size = size.scaled(request.frame, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        return size;
    }
    return size.boundedTo(request.frame);
}

} // namespace pictures
