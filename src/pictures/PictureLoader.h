#pragma once
// Reads the picture files that records refer to: JPEG, BMP (RLE-compressed ones too),
// GIF, ICO, PNG, SVG, and Windows and enhanced metafiles, whatever their file name ends in.
#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

// The largest photo shown at its own size. Today's largest camera pictures have about
// 150 million pixels (medium-format backs of 14,204 x 10,652), and an A4 page scanned at
// 1,200 dpi about 140 million; 160 million takes them all (640 MB once decoded).
constexpr qint64 kMaxPhotoPixels = 160'000'000;
// Drawings (SVG, WMF, EMF) have no pixels of their own, only a size they declare:
// they are drawn at most this large, an A4 page at 400 dpi.
constexpr qint64 kMaxDrawingPixels = 16'000'000;

struct LoadedPicture {
    bool ok = false; // false: the file is missing or is not a picture we can read
    QImage image;    // null when the path was empty (nothing to show, not a failure)
    QString error;   // why it failed, in the operator's words; the path is not repeated
    QSize ownSize;   // the picture's own size; larger than image when shown reduced
    bool reduced() const { return ok && !image.isNull() && image.size() != ownSize; }
};

// Loads a picture at its own size, turned upright as the camera recorded it. Larger
// pictures than the limits above are decoded at a reduced size where the format allows
// it while decoding (JPEG, drawings) and refused otherwise, so that a small file that
// declares an enormous size never takes the memory of the machine.
// The empty path loads "no picture" and succeeds.
LoadedPicture loadPicture(const QString &path);
// The same, for a picture that will be shown no larger than the box: JPEGs and drawings
// are decoded straight to the size that fills it, so a page of a print never holds a
// camera's full picture. Other formats load at their own size, as above.
LoadedPicture loadPicture(const QString &path, const QSize &box);

// "<path>\n<why>": what the operator reads where a picture cannot be shown.
QString failureText(const QString &path, const LoadedPicture &picture);

// Tests lower the limits to exercise them with small pictures; zero restores them.
void setPixelLimitsForTests(qint64 photoPixels, qint64 drawingPixels);

} // namespace pictures
