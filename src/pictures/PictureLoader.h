#pragma once
// Reads the picture files that records refer to: JPEG, BMP (RLE-compressed ones too),
// GIF, ICO, PNG, SVG (SVGZ too), and Windows and enhanced metafiles, whatever their file
// name ends in.
//
// Pictures come from scanners, cameras, e-mail and other programs, and are read as
// hostile: raster pictures are decoded here at the size they are shown at, within a
// memory budget whatever they declare; drawings are drawn by a limited child process
// (pictures/Metafile.h) and only the finished picture comes back. Nothing is ever written
// beside a picture.
#include "pictures/LimitedChild.h"
#include "pictures/PictureSize.h"

#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

// What one picture may take in this program, whatever it declares: its pixels and the
// decoder's own buffers. A drawing's own memory is the drawing helper's, under its limits.
constexpr qint64 kPictureBudgetBytes = 512ll << 20;
// The largest photo shown at its own size, four bytes a pixel: 420 MB, leaving the rest
// of the budget to the decoder. It takes the 100-megapixel camera backs (11,648 x 8,736);
// larger JPEGs are decoded reduced, larger pictures of other formats refused.
constexpr qint64 kMaxPhotoPixels = 105'000'000;
// Drawings (SVG, WMF, EMF) have no pixels of their own, only a size they declare:
// they are drawn at most this large, an A4 page at 400 dpi.
constexpr qint64 kMaxDrawingPixels = 16'000'000;

struct LoadedPicture {
    bool ok = false; // false: the file is missing or is not a picture we can read
    QImage image;    // null when the path was empty (nothing to show, not a failure)
    QString error;   // why it failed, in the operator's words; the path is not repeated
    QSize ownSize;   // the picture's own size; larger than image when shown reduced
    bool cancelled = false; // called off before it was read: nothing to show or say
    bool reduced() const { return ok && !image.isNull() && image.size() != ownSize; }
};

// Loads a picture turned upright as the camera recorded it, at its own size or into the
// request's frame. Larger pictures than the limits above are decoded at a reduced size
// where the format allows it while decoding (JPEG, drawings) and refused otherwise, so
// that a small file that declares an enormous size never takes the memory of the
// machine. The empty path loads "no picture" and succeeds. Runs on any thread; a set
// cancel flag ends the load early, killing any child it has started.
LoadedPicture loadPicture(const QString &path, const PictureRequest &request = PictureRequest::ownSize(),
                          const CancelFlag *cancel = nullptr);

// Sets the decoders' allowances for the whole process (done by the first load too);
// the windows call it on their own thread, before any other thread decodes.
void prepareDecoders();

// "<path>\n<why>": what the operator reads where a picture cannot be shown.
QString failureText(const QString &path, const LoadedPicture &picture);

// Tests lower the limits to exercise them with small pictures; zero restores them.
void setPixelLimitsForTests(qint64 photoPixels, qint64 drawingPixels);

} // namespace pictures
