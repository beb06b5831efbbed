#include "pictures/Metafile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <sys/resource.h>

namespace pictures {

namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7u;
constexpr quint32 kEmfSignature = 0x464D4520u; // " EMF"
constexpr int kPlaceableHeaderBytes = 22;
constexpr double kPixelsPerInch = 96.0;      // 1440 twips per inch, 15 twips per pixel
constexpr double kHundredthsMmPerInch = 2540.0;

MetafileLimits &limits()
{
    static MetafileLimits l;
    return l;
}

QString &overrideFor(MetafileKind kind)
{
    static QString wmf, emf;
    return kind == MetafileKind::Emf ? emf : wmf;
}

quint16 u16(const QByteArray &b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }
qint16 i16(const QByteArray &b, int at) { return qFromLittleEndian<qint16>(b.constData() + at); }
quint32 u32(const QByteArray &b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
qint32 i32(const QByteArray &b, int at) { return qFromLittleEndian<qint32>(b.constData() + at); }

// The header a WMF carries after its optional placeable header.
bool isWmfHeader(const QByteArray &b, int at)
{
    if (b.size() < at + 18)
        return false;
    const quint16 type = u16(b, at);
    const quint16 words = u16(b, at + 2);
    const quint16 version = u16(b, at + 4);
    return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

QString kindName(MetafileKind kind) { return kind == MetafileKind::Emf ? QStringLiteral("EMF") : QStringLiteral("WMF"); }

QString converterName(MetafileKind kind)
{
    return kind == MetafileKind::Emf ? QStringLiteral("emf2svg-conv") : QStringLiteral("wmf2svg");
}

QStringList converterArguments(MetafileKind kind, const QString &input, const QString &output)
{
    if (kind == MetafileKind::Emf)
        return {QStringLiteral("-i"), input, QStringLiteral("-o"), output};
    return {QStringLiteral("-o"), output, input};
}

QString megabytes(qint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); }

MetafileImage failure(const QString &why)
{
    MetafileImage m;
    m.error = why;
    return m;
}

// Draws the SVG at the given size. Pictures embedded in it are decoded here, so they
// get a small allowance of their own: a hostile metafile may embed a bitmap that
// declares an enormous size.
QImage drawSvg(QSvgRenderer &renderer, const QSize &size)
{
    const int previousLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(128);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull()) {
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QImageReader::setAllocationLimit(previousLimit);
    return image;
}

} // namespace

MetafileKind metafileKind(const QByteArray &head)
{
    if (head.size() >= 4 && u32(head, 0) == kPlaceableKey)
        return isWmfHeader(head, kPlaceableHeaderBytes) ? MetafileKind::Wmf : MetafileKind::None;
    if (head.size() >= 44 && u32(head, 0) == 1 && u32(head, 4) >= 88 && u32(head, 40) == kEmfSignature)
        return MetafileKind::Emf;
    if (isWmfHeader(head, 0))
        return MetafileKind::Wmf;
    return MetafileKind::None;
}

QSize metafileSize(MetafileKind kind, const QByteArray &head)
{
    auto pixels = [](double units, double perInch) { return int(std::lround(std::fabs(units) * kPixelsPerInch / perInch)); };
    if (kind == MetafileKind::Wmf && head.size() >= kPlaceableHeaderBytes && u32(head, 0) == kPlaceableKey) {
        const int left = i16(head, 6), top = i16(head, 8), right = i16(head, 10), bottom = i16(head, 12);
        const int unitsPerInch = u16(head, 14);
        if (unitsPerInch == 0)
            return QSize();
        const QSize size(pixels(right - left, unitsPerInch), pixels(bottom - top, unitsPerInch));
        return size.width() > 0 && size.height() > 0 ? size : QSize();
    }
    if (kind == MetafileKind::Emf && head.size() >= 40) {
        const qint64 frameW = qint64(i32(head, 32)) - i32(head, 24);
        const qint64 frameH = qint64(i32(head, 36)) - i32(head, 28);
        if (frameW > 0 && frameH > 0) {
            const double w = std::llround(double(frameW) * kPixelsPerInch / kHundredthsMmPerInch);
            const double h = std::llround(double(frameH) * kPixelsPerInch / kHundredthsMmPerInch);
            if (w >= 1 && h >= 1 && w <= INT_MAX && h <= INT_MAX)
                return QSize(int(w), int(h));
        }
        // No frame: the bounds, in device pixels, both edges included.
        const qint64 boundsW = qint64(i32(head, 16)) - i32(head, 8) + 1;
        const qint64 boundsH = qint64(i32(head, 20)) - i32(head, 12) + 1;
        if (boundsW > 0 && boundsH > 0 && boundsW <= INT_MAX && boundsH <= INT_MAX)
            return QSize(int(boundsW), int(boundsH));
    }
    return QSize();
}

QString converterPackage(MetafileKind kind)
{
    return kind == MetafileKind::Emf ? QStringLiteral("emf2svg") : QStringLiteral("libwmf-bin");
}

MetafileImage loadMetafile(const QString &path, MetafileKind kind, qint64 maxPixels)
{
    const MetafileLimits lim = limits();
    QFile file(path);
    if (file.size() > lim.inputBytes)
        return failure(QStringLiteral("%1 图元文件太大（%2 MB），超过能转换的上限 %3 MB。")
                           .arg(kindName(kind), megabytes(file.size()), megabytes(lim.inputBytes)));
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("文件无法读取：") + file.errorString());
    const QByteArray head = file.read(128);
    file.close();

    QString program = overrideFor(kind);
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(converterName(kind));
    if (program.isEmpty())
        return failure(QStringLiteral("没有安装显示 %1 图片的转换程序 %2（软件包 %3）。")
                           .arg(kindName(kind), converterName(kind), converterPackage(kind)));

    QTemporaryDir work;
    if (!work.isValid())
        return failure(QStringLiteral("无法建立转换图元文件所需的临时文件夹：") + work.errorString());
    const QString output = work.filePath(QStringLiteral("drawing.svg"));

    QProcess converter;
    converter.setProgram(program);
    converter.setArguments(converterArguments(kind, QFileInfo(path).absoluteFilePath(), output));
    converter.setWorkingDirectory(work.path());
    converter.setStandardInputFile(QProcess::nullDevice());
    converter.setStandardOutputFile(QProcess::nullDevice());
    converter.setStandardErrorFile(QProcess::nullDevice());
    // Runs in the child between fork and exec: only plain system calls here.
    converter.setChildProcessModifier([lim] {
        auto cap = [](int resource, rlim_t value) {
            struct rlimit r;
            r.rlim_cur = value;
            r.rlim_max = value;
            setrlimit(resource, &r);
        };
        cap(RLIMIT_AS, rlim_t(lim.memoryBytes));
        cap(RLIMIT_CPU, rlim_t(lim.cpuSeconds));
        cap(RLIMIT_FSIZE, rlim_t(lim.outputBytes));
        cap(RLIMIT_CORE, 0);
    });
    converter.start();
    if (!converter.waitForStarted())
        return failure(QStringLiteral("无法启动 %1 图片的转换程序 %2：%3")
                           .arg(kindName(kind), program, converter.errorString()));
    if (!converter.waitForFinished(lim.timeoutMs)) {
        converter.kill();
        converter.waitForFinished();
        return failure(QStringLiteral("转换这个 %1 图元文件超过了 %2 秒，已停止。文件可能已损坏。")
                           .arg(kindName(kind))
                           .arg(lim.timeoutMs / 1000.0, 0, 'g', 3));
    }
    const qint64 written = QFileInfo(output).size();
    if (written >= lim.outputBytes)
        return failure(QStringLiteral("这个 %1 图元文件转换后超过 %2 MB，已停止。文件可能已损坏。")
                           .arg(kindName(kind), megabytes(lim.outputBytes)));
    if (converter.exitStatus() == QProcess::CrashExit)
        return failure(QStringLiteral("转换程序读取这个 %1 图元文件时异常终止。文件已损坏，或不是能显示的图元文件。")
                           .arg(kindName(kind)));
    if (converter.exitCode() != 0 || written <= 0)
        return failure(QStringLiteral("这个 %1 图元文件已损坏，或其格式不受支持，无法转换。").arg(kindName(kind)));

    QFile svg(output);
    if (!svg.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("无法读取图元文件的转换结果：") + svg.errorString());
    QSvgRenderer renderer(svg.readAll());
    if (!renderer.isValid())
        return failure(QStringLiteral("这个 %1 图元文件的转换结果无法显示。").arg(kindName(kind)));

    QSize size = metafileSize(kind, head);
    if (!size.isValid())
        size = renderer.defaultSize();
    if (size.width() <= 0 || size.height() <= 0)
        return failure(QStringLiteral("这个 %1 图元文件没有可显示的内容。").arg(kindName(kind)));

    MetafileImage result;
    result.ownSize = size;
    const double pixels = double(size.width()) * size.height();
    if (pixels > double(maxPixels)) {
        const double factor = std::sqrt(double(maxPixels) / pixels);
        size = QSize(qMax(1, int(size.width() * factor)), qMax(1, int(size.height() * factor)));
    }
    result.image = drawSvg(renderer, size);
    if (result.image.isNull())
        return failure(QStringLiteral("内存不足，无法显示这个 %1 图元文件。").arg(kindName(kind)));
    result.ok = true;
    return result;
}

void setConverterForTests(MetafileKind kind, const QString &program) { overrideFor(kind) = program; }
void setMetafileLimits(const MetafileLimits &l) { limits() = l; }
MetafileLimits metafileLimits() { return limits(); }

} // namespace pictures
