#pragma once
// What the drawing helper hands back: a header (a mark, the drawing's own size, the
// picture's size) and the picture's rows, premultiplied ARGB, four bytes a pixel. The
// program reads it through readRendered, which believes nothing it has not checked.
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QtEndian>

namespace pictures {

constexpr char kRenderedMark[4] = {'C', 'A', 'R', '1'};
constexpr int kRenderedHeaderBytes = 20;

inline bool writeRendered(QIODevice &out, const QSize &own, const QImage &image)
{
    char header[kRenderedHeaderBytes];
    std::copy(kRenderedMark, kRenderedMark + 4, header);
    qToLittleEndian<quint32>(quint32(own.width()), header + 4);
    qToLittleEndian<quint32>(quint32(own.height()), header + 8);
    qToLittleEndian<quint32>(quint32(image.width()), header + 12);
    qToLittleEndian<quint32>(quint32(image.height()), header + 16);
    if (out.write(header, sizeof header) != qint64(sizeof header))
        return false;
    const qint64 row = qint64(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        if (out.write(reinterpret_cast<const char *>(image.constScanLine(y)), row) != row)
            return false;
    return true;
}

// Reads a picture of at most maxPixels pixels and at most `bound` on each side (an
// invalid bound: any); a null image for anything else.
inline QImage readRendered(QIODevice &in, qint64 maxPixels, const QSize &bound, QSize *own)
{
    char header[kRenderedHeaderBytes];
    if (in.read(header, sizeof header) != qint64(sizeof header) || !std::equal(kRenderedMark, kRenderedMark + 4, header))
        return QImage();
    const quint32 ownW = qFromLittleEndian<quint32>(header + 4), ownH = qFromLittleEndian<quint32>(header + 8);
    const quint32 w = qFromLittleEndian<quint32>(header + 12), h = qFromLittleEndian<quint32>(header + 16);
    if (ownW == 0 || ownH == 0 || ownW > INT_MAX || ownH > INT_MAX || w == 0 || h == 0 || w > ownW || h > ownH)
        return QImage();
    if (qint64(w) * qint64(h) > maxPixels)
        return QImage();
    if (bound.isValid() && (qint64(w) > bound.width() || qint64(h) > bound.height()))
        return QImage();
    const qint64 row = qint64(w) * 4;
    if (in.size() != kRenderedHeaderBytes + row * h)
        return QImage();
    QImage image(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    for (int y = 0; y < int(h); ++y)
        if (in.read(reinterpret_cast<char *>(image.scanLine(y)), row) != row)
            return QImage();
    *own = QSize(int(ownW), int(ownH));
    return image;
}

} // namespace pictures
