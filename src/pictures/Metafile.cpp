#include "pictures/Metafile.h"

#include "pictures/RenderedPicture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <climits>
#include <cmath>
#include <zlib.h>

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

const QString kSvgName = QStringLiteral("drawing.svg");
const QString kRenderedName = QStringLiteral("drawing.raw");

QString &rendererOverride()
{
    static QString program;
    return program;
}

QString rendererProgram()
{
    if (!rendererOverride().isEmpty())
        return rendererOverride();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-render"));
}

MetafileImage cancelledResult()
{
    MetafileImage m;
    m.error = QStringLiteral("已取消。");
    m.cancelled = true;
    return m;
}

ChildLimits toChildLimits(const MetafileLimits &lim)
{
    ChildLimits c;
    c.memoryBytes = lim.memoryBytes;
    c.outputBytes = lim.outputBytes;
    c.cpuSeconds = lim.cpuSeconds;
    c.timeoutMs = lim.timeoutMs;
    return c;
}

enum class Copy { Done, TooLarge, Failed };

// A copy of at most maxBytes; a larger file is not copied at all.
Copy copyBounded(const QString &from, const QString &to, qint64 maxBytes)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return Copy::Failed;
    qint64 total = 0;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(block.data(), block.size());
        if (n < 0)
            return Copy::Failed;
        if (n == 0)
            break;
        total += n;
        if (total > maxBytes)
            return Copy::TooLarge;
        if (out.write(block.constData(), n) != n)
            return Copy::Failed;
    }
    return out.flush() ? Copy::Done : Copy::Failed;
}

enum class Expand { Done, TooLarge, Broken, Failed, Cancelled };

// Inflates a gzip file (its members one after the other) into at most maxBytes.
Expand expandBounded(const QString &from, const QString &to, qint64 maxBytes, const CancelFlag *cancel)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return Expand::Failed;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return Expand::Failed;
    struct End {
        z_stream *z;
        ~End() { inflateEnd(z); }
    } end{&z};
    QByteArray input(1 << 16, Qt::Uninitialized);
    QByteArray output(1 << 16, Qt::Uninitialized);
    qint64 total = 0;
    bool streamEnded = false;
    for (;;) {
        if (cancelled(cancel))
            return Expand::Cancelled;
        const qint64 n = in.read(input.data(), input.size());
        if (n < 0)
            return Expand::Failed;
        if (n == 0)
            return streamEnded && total > 0 ? Expand::Done : Expand::Broken;
        z.next_in = reinterpret_cast<Bytef *>(input.data());
        z.avail_in = uInt(n);
        while (z.avail_in > 0) {
            if (streamEnded) {
                // Another member follows, or trailing bytes that are none.
                if (inflateReset(&z) != Z_OK)
                    return Expand::Broken;
                streamEnded = false;
            }
            z.next_out = reinterpret_cast<Bytef *>(output.data());
            z.avail_out = uInt(output.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return Expand::Broken;
            const qint64 produced = output.size() - qint64(z.avail_out);
            total += produced;
            if (total > maxBytes)
                return Expand::TooLarge;
            if (produced > 0 && out.write(output.constData(), produced) != produced)
                return Expand::Failed;
            if (rc == Z_STREAM_END)
                streamEnded = true;
            else if (rc == Z_BUF_ERROR && produced == 0)
                break;
        }
    }
}

// Has the drawing helper draw folder/drawing.svg and reads back what it drew.
MetafileImage renderInFolder(const QString &folder, const QString &kind, bool white, const QSize &own,
                             const PictureRequest &request, qint64 maxPixels, const CancelFlag *cancel)
{
    const MetafileLimits lim = limits();
    const QString program = rendererProgram();
    if (!QFileInfo(program).isExecutable())
        return failure(QStringLiteral("找不到绘制图片的辅助程序：%1").arg(program));
    ChildLimits childLimits = toChildLimits(lim);
    // What it may write is known to the byte: the header and the pixels of a picture
    // of at most maxPixels.
    childLimits.outputBytes = kRenderedHeaderBytes + 4 * maxPixels + 1;
    const QSize frame = request.atOwnSize() ? QSize(0, 0) : request.frame;
    const QSize given = own.isValid() ? own : QSize(0, 0);
    const QStringList arguments = {kSvgName,
                                   kRenderedName,
                                   QString::number(given.width()),
                                   QString::number(given.height()),
                                   QString::number(maxPixels),
                                   QString::number(frame.width()),
                                   QString::number(frame.height()),
                                   QString::number(request.keepProportions ? 1 : 0),
                                   QString::number(white ? 1 : 0)};
    const ChildRun run = runLimited(program, arguments, folder, childLimits, cancel);
    switch (run.end) {
    case ChildEnd::NotStarted:
        return failure(QStringLiteral("无法启动绘制图片的辅助程序 %1：%2").arg(program, run.error));
    case ChildEnd::Cancelled:
        return cancelledResult();
    case ChildEnd::TimedOut:
        return failure(QStringLiteral("绘制这个 %1 图片超过了 %2 秒，已停止。图片可能已损坏，或过于复杂。")
                           .arg(kind)
                           .arg(lim.timeoutMs / 1000.0, 0, 'g', 3));
    case ChildEnd::Crashed:
        return failure(QStringLiteral("绘制这个 %1 图片超出了处理器时间（%2 秒）或内存（%3 MB）的限制，或图片已损坏，已停止。")
                           .arg(kind)
                           .arg(lim.cpuSeconds)
                           .arg(megabytes(lim.memoryBytes)));
    case ChildEnd::Finished:
        break;
    }
    const bool metafile = white;
    switch (run.exitCode) {
    case 0:
        break;
    case 2:
        return failure(metafile ? QStringLiteral("这个 %1 图元文件的转换结果无法显示。").arg(kind)
                                : QStringLiteral("这个 %1 图片已损坏，或不是能显示的图片。").arg(kind));
    case 3:
        return failure(QStringLiteral("这个 %1 图片没有可显示的内容。").arg(kind));
    case 4:
        return failure(QStringLiteral("内存不足，无法显示这个 %1 图片。").arg(kind));
    default:
        return failure(QStringLiteral("绘制这个 %1 图片的辅助程序没有完成（退出码 %2）。").arg(kind).arg(run.exitCode));
    }

    QFile rendered(QDir(folder).filePath(kRenderedName));
    MetafileImage result;
    if (rendered.open(QIODevice::ReadOnly)) {
        const QSize bound = request.atOwnSize() ? QSize() : request.frame;
        result.image = readRendered(rendered, maxPixels, bound, &result.ownSize);
    }
    if (result.image.isNull())
        return failure(QStringLiteral("绘制这个 %1 图片的辅助程序交回的结果不可用。").arg(kind));
    if (own.isValid() && result.ownSize != own)
        return failure(QStringLiteral("绘制这个 %1 图片的辅助程序交回的结果不可用。").arg(kind));
    result.ok = true;
    return result;
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

MetafileImage loadMetafile(const QString &path, MetafileKind kind, const PictureRequest &request, qint64 maxPixels,
                           const CancelFlag *cancel)
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

    // The converters name what they extract after their input and write it beside
    // their input: they get a copy, under a name of ours, in a folder of ours.
    QTemporaryDir work;
    if (!work.isValid())
        return failure(QStringLiteral("无法建立转换图元文件所需的临时文件夹：") + work.errorString());
    const QString copyName = kind == MetafileKind::Emf ? QStringLiteral("picture.emf") : QStringLiteral("picture.wmf");
    switch (copyBounded(path, work.filePath(copyName), lim.inputBytes)) {
    case Copy::Done:
        break;
    case Copy::TooLarge:
        return failure(QStringLiteral("%1 图元文件太大，超过能转换的上限 %2 MB。").arg(kindName(kind), megabytes(lim.inputBytes)));
    case Copy::Failed:
        return failure(QStringLiteral("无法把图元文件复制到临时文件夹：") + work.path());
    }

    ChildLimits childLimits = toChildLimits(lim);
    const ChildRun run = runLimited(program, converterArguments(kind, copyName, kSvgName), work.path(), childLimits, cancel);
    if (run.end == ChildEnd::NotStarted)
        return failure(QStringLiteral("无法启动 %1 图片的转换程序 %2：%3").arg(kindName(kind), program, run.error));
    if (run.end == ChildEnd::Cancelled)
        return cancelledResult();
    if (run.end == ChildEnd::TimedOut)
        return failure(QStringLiteral("转换这个 %1 图元文件超过了 %2 秒，已停止。文件可能已损坏。")
                           .arg(kindName(kind))
                           .arg(lim.timeoutMs / 1000.0, 0, 'g', 3));
    const QString output = work.filePath(kSvgName);
    const qint64 written = QFileInfo(output).size();
    if (written >= lim.outputBytes)
        return failure(QStringLiteral("这个 %1 图元文件转换后超过 %2 MB，已停止。文件可能已损坏。")
                           .arg(kindName(kind), megabytes(lim.outputBytes)));
    if (run.end == ChildEnd::Crashed)
        return failure(QStringLiteral("转换程序读取这个 %1 图元文件时异常终止。文件已损坏，或不是能显示的图元文件。")
                           .arg(kindName(kind)));
    if (run.exitCode != 0 || written <= 0)
        return failure(QStringLiteral("这个 %1 图元文件已损坏，或其格式不受支持，无法转换。").arg(kindName(kind)));

    return renderInFolder(work.path(), kindName(kind), true, metafileSize(kind, head), request, maxPixels, cancel);
}

MetafileImage loadSvg(const QString &path, bool compressed, const PictureRequest &request, qint64 maxPixels,
                      const CancelFlag *cancel)
{
    const MetafileLimits lim = limits();
    const QString kind = compressed ? QStringLiteral("SVGZ") : QStringLiteral("SVG");
    QTemporaryDir work;
    if (!work.isValid())
        return failure(QStringLiteral("无法建立绘制图片所需的临时文件夹：") + work.errorString());
    const QString svg = work.filePath(kSvgName);
    if (compressed) {
        switch (expandBounded(path, svg, lim.outputBytes, cancel)) {
        case Expand::Done:
            break;
        case Expand::TooLarge:
            return failure(QStringLiteral("这个 SVGZ 图片解压后超过 %1 MB，已拒绝：压缩的图片不能展开得这么大。")
                               .arg(megabytes(lim.outputBytes)));
        case Expand::Broken:
            return failure(QStringLiteral("这个 SVGZ 图片的压缩数据已损坏，无法解压。"));
        case Expand::Failed:
            return failure(QStringLiteral("无法把图片解压到临时文件夹：") + work.path());
        case Expand::Cancelled:
            return cancelledResult();
        }
    } else {
        switch (copyBounded(path, svg, lim.inputBytes)) {
        case Copy::Done:
            break;
        case Copy::TooLarge:
            return failure(QStringLiteral("这个 SVG 图片太大，超过能显示的上限 %1 MB。").arg(megabytes(lim.inputBytes)));
        case Copy::Failed:
            return failure(QStringLiteral("无法把图片复制到临时文件夹：") + work.path());
        }
    }
    return renderInFolder(work.path(), kind, false, QSize(), request, maxPixels, cancel);
}

void setConverterForTests(MetafileKind kind, const QString &program) { overrideFor(kind) = program; }
void setRendererForTests(const QString &program) { rendererOverride() = program; }
void setMetafileLimits(const MetafileLimits &l) { limits() = l; }
MetafileLimits metafileLimits() { return limits(); }

} // namespace pictures
