#include "pictures/PictureLoader.h"

#include "pictures/Metafile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cmath>
#include <mutex>

namespace pictures {

namespace {

qint64 photoLimit = kMaxPhotoPixels;
qint64 drawingLimit = kMaxDrawingPixels;

LoadedPicture failure(const QString &why)
{
    LoadedPicture result;
    result.error = why;
    return result;
}

LoadedPicture fromDrawing(const MetafileImage &drawing)
{
    LoadedPicture result;
    result.ok = drawing.ok;
    result.image = drawing.image;
    result.error = drawing.error;
    result.ownSize = drawing.ownSize;
    result.cancelled = drawing.cancelled;
    return result;
}

// "1.6 亿" or "2,400 万": pixel counts as the operator says them.
QString pixelCount(qint64 pixels)
{
    if (pixels >= 100'000'000)
        return QString::number(double(pixels) / 1e8, 'g', 3) + QStringLiteral(" 亿");
    return QString::number(double(pixels) / 1e4, 'g', 4) + QStringLiteral(" 万");
}

qint64 area(const QSize &s) { return qint64(s.width()) * s.height(); }

// Once per process, before the first picture: the reader's allowance for one picture is
// the budget, and libjpeg's own buffers (a progressive or multi-scan JPEG keeps all its
// coefficients, whatever size it is decoded at) get half of it; past that, libjpeg
// stops with an error instead of allocating (it reads JPEGMEM in thousands of bytes).
void setDecoderAllowancesOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QImageReader::setAllocationLimit(int(kPictureBudgetBytes >> 20));
        if (qEnvironmentVariableIsEmpty("JPEGMEM"))
            qputenv("JPEGMEM", QByteArray::number(kPictureBudgetBytes / 2 / 1000));
    });
}

// Reads a file for a decoder and stops it, by failing its next read, once the picture is
// no longer wanted: a large picture is abandoned within a block of its decoding.
class GuardedFile : public QIODevice {
public:
    GuardedFile(const QString &path, const CancelFlag *cancel) : m_file(path), m_cancel(cancel) {}
    bool open(OpenMode mode) override
    {
        if (!m_file.open(mode)) {
            setErrorString(m_file.errorString());
            return false;
        }
        // Unbuffered: every read reaches readData, and seeks need not mind a buffer.
        return QIODevice::open(mode | QIODevice::Unbuffered);
    }
    void close() override
    {
        m_file.close();
        QIODevice::close();
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_file.size(); }
    bool seek(qint64 pos) override { return QIODevice::seek(pos) && m_file.seek(pos); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (cancelled(m_cancel))
            return -1;
        return m_file.read(data, maxSize);
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    const CancelFlag *m_cancel;
};

// The size libjpeg decodes to when Qt's reader is asked for `wanted`: it scales by 1/2,
// 1/4 or 1/8 while decoding, by the largest that still gives at least the size wanted,
// and smooths the rest down afterwards.
QSize jpegDecodedSize(const QSize &declared, const QSize &wanted)
{
    const double f = qMin(double(declared.width()) / qMax(1, wanted.width()),
                          double(declared.height()) / qMax(1, wanted.height()));
    const int d = f >= 8 ? 8 : f >= 4 ? 4 : f >= 2 ? 2 : 1;
    return QSize((declared.width() + d - 1) / d, (declared.height() + d - 1) / d);
}

// A JPEG whose frame is progressive (SOF2, SOF6, SOF10, SOF14), by its first frame header.
bool progressiveJpeg(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(1 << 16);
    for (int i = 2; i + 1 < head.size(); ++i) {
        if (quint8(head[i]) != 0xFF)
            continue;
        const quint8 m = quint8(head[i + 1]);
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC)
            return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
    }
    return false;
}

LoadedPicture tooLarge(const QSize &own, qint64 limit)
{
    return failure(QStringLiteral("图片太大（宽 %1 点、高 %2 点，共 %3像素），超过能显示的 %4像素。")
                       .arg(own.width())
                       .arg(own.height())
                       .arg(pixelCount(area(own)), pixelCount(limit)));
}

LoadedPicture loadRaster(const QString &path, const PictureRequest &request, const CancelFlag *cancel)
{
    GuardedFile device(path, cancel);
    if (!device.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("文件无法读取：") + device.errorString());
    QImageReader reader(&device);
    // Photos are often renamed by hand; the bytes say what they are, not the name.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return failure(QStringLiteral("不是能显示的图片，或图片文件已损坏。"));
    if (format == "svg" || format == "svgz") {
        // Asking a drawing its size would parse it here: it goes to the helper unread.
        device.close();
        return fromDrawing(loadSvg(path, format == "svgz", request, drawingLimit, cancel));
    }

    // Only the header has been read so far: an enormous size is found out before any
    // pixel memory is taken.
    const QSize declared = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const bool jpeg = format == "jpeg" || format == "jpg";
    QSize own;
    QSize target; // as shown, upright
    if (declared.isValid() && !declared.isEmpty()) {
        own = turned ? declared.transposed() : declared;
        if (area(declared) > photoLimit && !jpeg)
            return tooLarge(own, photoLimit);
        target = shownSize(own, request, photoLimit);
        QSize decode = turned ? target.transposed() : target;
        if (decode != declared && jpeg) {
            // The reader decodes to a size of its own and smooths that down to the one
            // asked for; both are held at once. Where they would not fit the budget
            // together, the picture is shown at the decoder's own reduction instead.
            const QSize decoded = jpegDecodedSize(declared, decode);
            if (4 * (area(decoded) + area(decode)) > kPictureBudgetBytes) {
                // Asked for a whole fraction (rounded down, so that the reader takes
                // that fraction and not the next larger one), the two are as large.
                decode = QSize();
                for (int d : {2, 4, 8}) {
                    const QSize s(qMax(1, declared.width() / d), qMax(1, declared.height() / d));
                    if (area(s) <= photoLimit && 8 * area(jpegDecodedSize(declared, s)) <= kPictureBudgetBytes) {
                        decode = s;
                        break;
                    }
                }
                if (!decode.isValid())
                    return tooLarge(own, photoLimit);
                target = turned ? decode.transposed() : decode;
            }
            reader.setScaledSize(decode);
        }
    }

    QImage image = reader.read();
    if (cancelled(cancel)) {
        LoadedPicture none;
        none.cancelled = true;
        none.error = QStringLiteral("已取消。");
        return none;
    }
    if (image.isNull()) {
        // A progressive or multi-scan JPEG keeps two bytes of every pixel of every
        // colour until its last scan, whatever size it is shown at: past libjpeg's
        // allowance it is refused, and the operator is told so, not that it is broken.
        if (jpeg && declared.isValid() && 6 * area(declared) > kPictureBudgetBytes / 2 && progressiveJpeg(path))
            return failure(QStringLiteral("图片太大（宽 %1 点、高 %2 点），解码需要的内存超过每张图片 %3 MB 的上限，已拒绝。")
                               .arg(own.width())
                               .arg(own.height())
                               .arg(kPictureBudgetBytes >> 20));
        if (reader.error() == QImageReader::UnsupportedFormatError)
            return failure(QStringLiteral("不是能显示的图片，或图片文件已损坏。"));
        return failure(QStringLiteral("图片文件已损坏或不完整，无法解码（%1）。").arg(reader.errorString()));
    }
    if (!own.isValid())
        own = image.size();
    if (!target.isValid())
        target = shownSize(own, request, photoLimit);
    // Formats that cannot decode smaller are brought to the frame's size here.
    if (image.width() > target.width() || image.height() > target.height())
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    LoadedPicture result;
    result.ok = !image.isNull();
    if (!result.ok)
        return failure(QStringLiteral("内存不足，无法显示这张图片。"));
    result.ownSize = own;
    if (result.ownSize.width() < image.width() || result.ownSize.height() < image.height())
        result.ownSize = image.size(); // the header told less than the truth
    result.image = std::move(image);
    return result;
}

} // namespace

LoadedPicture loadPicture(const QString &path, const PictureRequest &request, const CancelFlag *cancel)
{
    if (path.isEmpty()) {
        LoadedPicture none;
        none.ok = true;
        return none;
    }
    prepareDecoders();
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

    QByteArray head;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return failure(QStringLiteral("文件无法读取：") + file.errorString());
        head = file.read(128);
    }
    const MetafileKind kind = metafileKind(head);
    if (kind != MetafileKind::None)
        return fromDrawing(loadMetafile(path, kind, request, drawingLimit, cancel));
    // Compressed: an SVGZ, or nothing that can be shown; never expanded here unbounded.
    if (head.startsWith("\x1f\x8b"))
        return fromDrawing(loadSvg(path, true, request, drawingLimit, cancel));
    return loadRaster(path, request, cancel);
}

void prepareDecoders() { setDecoderAllowancesOnce(); }

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
