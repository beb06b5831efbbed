#include "pictures/PictureLoader.h"

#include "pictures/Metafile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cmath>

namespace pictures {

namespace {
// Camera photos of 50 megapixels and more exceed the reader's default allowance;
// records are meant to be looked at whatever camera took them.
constexpr int kAllocationLimitMb = 1024;
constexpr int kDrawingAllocationLimitMb = 256;

qint64 photoLimit = kMaxPhotoPixels;
qint64 drawingLimit = kMaxDrawingPixels;

LoadedPicture failure(const QString &why)
{
    LoadedPicture result;
    result.error = why;
    return result;
}

// "1.6 亿" or "2,400 万": pixel counts as the operator says them.
QString pixelCount(qint64 pixels)
{
    if (pixels >= 100'000'000)
        return QString::number(double(pixels) / 1e8, 'g', 3) + QStringLiteral(" 亿");
    return QString::number(double(pixels) / 1e4, 'g', 4) + QStringLiteral(" 万");
}

QSize fitInto(const QSize &size, qint64 maxPixels)
{
    const double factor = std::sqrt(double(maxPixels) / (double(size.width()) * size.height()));
    return QSize(qMax(1, int(size.width() * factor)), qMax(1, int(size.height() * factor)));
}

// Formats whose reader decodes straight to a smaller size, so that only the smaller
// picture is ever held in memory; the others would decode in full and scale afterwards.
bool scalesWhileDecoding(const QByteArray &format)
{
    return format == "jpeg" || format == "jpg" || format == "svg" || format == "svgz";
}
} // namespace

LoadedPicture loadPicture(const QString &path) { return loadPicture(path, QSize()); }

LoadedPicture loadPicture(const QString &path, const QSize &box)
{
    if (path.isEmpty()) {
        LoadedPicture none;
        none.ok = true;
        return none;
    }
    const QFileInfo info(path);
    if (!info.exists())
        return failure(QStringLiteral("文件不存在。"));
    if (info.isDir())
        return failure(QStringLiteral("这是一个文件夹，不是图片文件。"));
    // A pipe or a device would keep the reader waiting for ever.
    if (!info.isFile())
        return failure(QStringLiteral("这不是普通文件，不能作为图片读取。"));
    if (info.size() == 0)
        return failure(QStringLiteral("文件是空的（0 字节），不是图片。"));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("文件无法读取：") + file.errorString());

    const MetafileKind kind = metafileKind(file.peek(128));
    if (kind != MetafileKind::None) {
        file.close();
        const MetafileImage drawing = loadMetafile(path, kind, drawingLimit);
        LoadedPicture result;
        result.ok = drawing.ok;
        result.image = drawing.image;
        result.error = drawing.error;
        result.ownSize = drawing.ownSize;
        return result;
    }

    // A drawing is parsed as soon as its size is asked for, and the pictures embedded in it
    // are decoded then, each declaring whatever size it likes: until the format is known,
    // only the allowance that the largest rendering of a drawing needs.
    QImageReader::setAllocationLimit(kDrawingAllocationLimitMb);
    struct RestoreAllowance {
        ~RestoreAllowance() { QImageReader::setAllocationLimit(kAllocationLimitMb); }
    } restore;

    QImageReader reader(&file);
    // Photos are often renamed by hand; the bytes say what they are, not the name.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return failure(QStringLiteral("不是能显示的图片，或图片文件已损坏。"));

    // Only the header has been read so far: an enormous size is found out before any
    // pixel memory is taken.
    const QSize declared = reader.size();
    const bool drawing = format == "svg" || format == "svgz";
    const qint64 limit = drawing ? drawingLimit : photoLimit;
    QSize ownSize;
    if (declared.isValid() && !declared.isEmpty()) {
        ownSize = declared;
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            ownSize.transpose();
        const qint64 pixels = qint64(declared.width()) * declared.height();
        if (pixels > limit) {
            if (!scalesWhileDecoding(format))
                return failure(QStringLiteral("图片太大（宽 %1 点、高 %2 点，共 %3像素），超过能显示的 %4像素。")
                                   .arg(ownSize.width())
                                   .arg(ownSize.height())
                                   .arg(pixelCount(pixels), pixelCount(limit)));
            reader.setScaledSize(fitInto(declared, limit));
        }
        QSize wanted = box;
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            wanted.transpose();
        if (!wanted.isEmpty() && scalesWhileDecoding(format)) {
            const QSize fitted = declared.scaled(wanted, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
            const QSize sofar = reader.scaledSize().isValid() ? reader.scaledSize() : declared;
            if (qint64(fitted.width()) * fitted.height() < qint64(sofar.width()) * sofar.height())
                reader.setScaledSize(fitted);
        }
    }

    if (!drawing)
        QImageReader::setAllocationLimit(kAllocationLimitMb);
    QImage image = reader.read();
    if (image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            return failure(QStringLiteral("不是能显示的图片，或图片文件已损坏。"));
        return failure(QStringLiteral("图片文件已损坏或不完整，无法解码（%1）。").arg(reader.errorString()));
    }
    LoadedPicture result;
    result.ok = true;
    result.ownSize = ownSize.isValid() ? ownSize : image.size();
    if (result.ownSize.width() < image.width() || result.ownSize.height() < image.height())
        result.ownSize = image.size(); // the header told less than the truth
    result.image = std::move(image);
    return result;
}

QString failureText(const QString &path, const LoadedPicture &picture)
{
    return path + QLatin1Char('\n') + picture.error;
}

void setPixelLimitsForTests(qint64 photoPixels, qint64 drawingPixels)
{
    photoLimit = photoPixels > 0 ? photoPixels : kMaxPhotoPixels;
    drawingLimit = drawingPixels > 0 ? drawingPixels : kMaxDrawingPixels;
}

} // namespace pictures
