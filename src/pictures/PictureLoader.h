#pragma once
// Reads the picture files that records refer to: JPEG, BMP (RLE-compressed ones too),
// GIF and ICO, whatever their file name ends in.
#include <QImage>
#include <QString>

namespace pictures {

struct LoadedPicture {
    bool ok = false; // false: the file is missing or is not a picture we can read
    QImage image;    // null when the path was empty (nothing to show, not a failure)
    QString error;   // why it failed, for whoever wants to tell the operator
};

// Loads a picture at its own size, turned upright as the camera recorded it.
// The empty path loads "no picture" and succeeds.
LoadedPicture loadPicture(const QString &path);

} // namespace pictures
