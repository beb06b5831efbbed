#include "scan/ScanSession.h"

#include "pictures/PictureLoader.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtEndian>

namespace pictures {

namespace {

// A feeder of any size is emptied long before this; a device that never says "empty"
// (a flatbed posing as a feeder) is stopped here.
constexpr int kMaxPagesPerRun = 500;
constexpr int kReadChunk = 64 * 1024;

qint64 pixelLimit = kMaxPhotoPixels;

// One sample of a line as 0..255. SANE's one-bit grey is ink: a set bit is black.
inline int sample(const uchar *line, int index, int depth, bool ink)
{
    switch (depth) {
    case 1: {
        const bool set = (line[index >> 3] >> (7 - (index & 7))) & 1;
        return set != ink ? 255 : 0;
    }
    case 16:
        return qFromUnaligned<quint16>(line + 2 * index) >> 8;
    default:
        return line[index];
    }
}

int bytesNeeded(const FrameFormat &f, int samplesPerPixel)
{
    return int((qint64(f.pixelsPerLine) * samplesPerPixel * f.depth + 7) / 8);
}

} // namespace

QImage pageImage(const PageData &page, QString &error)
{
    const FrameFormat &f = page.format;
    const bool gray = f.kind == FrameKind::Gray;
    const int bpl = f.bytesPerLine;
    const QByteArray &first = gray ? page.gray : page.channels[0];
    if (bpl <= 0 || f.pixelsPerLine <= 0)
        return error = QStringLiteral("扫描仪送来的页面是空的。"), QImage();
    const int lines = f.lines > 0 ? f.lines : int(first.size() / bpl);
    auto complete = [&](const QByteArray &data) { return lines > 0 && data.size() >= qint64(lines) * bpl; };
    if (!complete(first) || (!gray && !page.interleaved && !(complete(page.channels[1]) && complete(page.channels[2]))))
        return error = QStringLiteral("扫描仪送来的页面不完整，已丢弃。"), QImage();
    const int width = f.pixelsPerLine;

    if (gray && f.depth == 1) {
        QImage image(width, lines, QImage::Format_Mono);
        if (image.isNull())
            return error = scanStatusText(ScanStatus::NoMemory), QImage();
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)}); // a set bit is black
        const int rowBytes = (width + 7) / 8;
        for (int y = 0; y < lines; ++y)
            memcpy(image.scanLine(y), first.constData() + qint64(y) * bpl, size_t(rowBytes));
        return image;
    }
    QImage image(width, lines, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        return error = scanStatusText(ScanStatus::NoMemory), QImage();
    for (int y = 0; y < lines; ++y) {
        uchar *out = image.scanLine(y);
        if (gray) {
            const uchar *in = reinterpret_cast<const uchar *>(first.constData()) + qint64(y) * bpl;
            for (int x = 0; x < width; ++x)
                out[x] = uchar(sample(in, x, f.depth, true));
        } else if (page.interleaved) {
            const uchar *in = reinterpret_cast<const uchar *>(first.constData()) + qint64(y) * bpl;
            for (int x = 0; x < width * 3; ++x)
                out[x] = uchar(sample(in, x, f.depth, false));
        } else {
            for (int c = 0; c < 3; ++c) {
                const uchar *in = reinterpret_cast<const uchar *>(page.channels[c].constData()) + qint64(y) * bpl;
                for (int x = 0; x < width; ++x)
                    out[3 * x + c] = uchar(sample(in, x, f.depth, false));
            }
        }
    }
    return image;
}

QString savePage(const QImage &page, const PageFiles &files, QString &error)
{
    const bool lineart = page.format() == QImage::Format_Mono;
    const QString suffix = lineart ? QStringLiteral("png") : QStringLiteral("jpg");
    QDir dir(files.folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        error = QStringLiteral("不能建立保存扫描页的文件夹 %1。").arg(QDir::toNativeSeparators(files.folder));
        return QString();
    }
    // The next number after the pages already there, whatever they are: a page is never
    // written over another.
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(files.recordNumber)
                                     + QStringLiteral("-(\\d{3,6})\\."));
    int next = 1;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (m.hasMatch())
            next = qMax(next, m.captured(1).toInt() + 1);
    }
    QString path;
    for (;; ++next) {
        path = dir.filePath(QStringLiteral("%1-%2.%3").arg(files.recordNumber).arg(next, 3, 10, QLatin1Char('0')).arg(suffix));
        if (!QFileInfo::exists(path))
            break;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("扫描页无法保存到 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return QString();
    }
    QImageWriter writer(&file, lineart ? "png" : "jpeg");
    if (!lineart)
        writer.setQuality(qBound(1, files.jpegQuality, 100));
    if (!writer.write(page)) {
        file.cancelWriting();
        error = QStringLiteral("扫描页无法保存到 %1：%2").arg(QDir::toNativeSeparators(path), writer.errorString());
        return QString();
    }
    if (!file.commit()) {
        error = QStringLiteral("扫描页无法保存到 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return QString();
    }
    return path;
}

ScanSession::ScanSession()
{
    qRegisterMetaType<pictures::ScannerInfo>();
    qRegisterMetaType<pictures::ScanChoices>();
    qRegisterMetaType<QVector<pictures::ScannerInfo>>();
}

ScanSession::~ScanSession() { shutDown(); }

void ScanSession::setPixelLimitForTests(qint64 pixels) { pixelLimit = pixels > 0 ? pixels : kMaxPhotoPixels; }

void ScanSession::beginRun() { m_cancelled = false; }

void ScanSession::cancel()
{
    m_cancelled = true;
    const QMutexLocker lock(&m_deviceLock);
    if (m_device)
        m_device->cancel();
}

void ScanSession::shutDown()
{
    {
        const QMutexLocker lock(&m_deviceLock);
        m_device.reset();
    }
    m_system.reset();
}

void ScanSession::findScanners()
{
    QString error;
    if (!m_system)
        m_system = makeScannerSystem();
    const QVector<ScannerInfo> found = m_system ? m_system->devices(error) : QVector<ScannerInfo>();
    emit scannersFound(found, error);
}

void ScanSession::openScanner(const QString &name)
{
    {
        const QMutexLocker lock(&m_deviceLock);
        m_device.reset();
    }
    QString error;
    if (!m_system)
        m_system = makeScannerSystem();
    std::unique_ptr<ScannerDevice> device = m_system ? m_system->open(name, error) : nullptr;
    ScanChoices choices;
    if (device)
        choices = device->choices();
    {
        const QMutexLocker lock(&m_deviceLock);
        m_device = std::move(device);
    }
    emit scannerOpened(choices, error);
}

ScanStatus ScanSession::readPage(PageData &page, QString &error)
{
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (int frame = 0; frame < 3; ++frame) {
        if (frame > 0) {
            const ScanStatus st = m_device->start();
            if (st != ScanStatus::Good)
                return st;
        }
        FrameFormat f;
        if (const ScanStatus st = m_device->format(f); st != ScanStatus::Good)
            return st;
        const bool separate = f.kind == FrameKind::Red || f.kind == FrameKind::Green || f.kind == FrameKind::Blue;
        const int samples = f.kind == FrameKind::Rgb ? 3 : 1;
        if (f.kind == FrameKind::Other || (f.depth != 1 && f.depth != 8 && f.depth != 16)) {
            error = QStringLiteral("扫描仪送来的数据格式本程序不能处理。请换一种颜色设置。");
            return ScanStatus::Unsupported;
        }
        if (f.pixelsPerLine <= 0 || f.lines == 0 || f.lines < -1 || f.bytesPerLine < bytesNeeded(f, samples)) {
            error = QStringLiteral("扫描仪报告的页面大小不对（每行 %1 点、%2 字节，%3 行）。")
                        .arg(f.pixelsPerLine)
                        .arg(f.bytesPerLine)
                        .arg(f.lines);
            return ScanStatus::Invalid;
        }
        // A page is bounded before it is read: a device that claims, or sends, more than
        // the largest photo the program shows is stopped rather than fill the memory.
        const qint64 maxLines = pixelLimit / f.pixelsPerLine;
        if (maxLines < 1 || f.lines > maxLines) {
            error = QStringLiteral("页面太大（宽 %1 点），超过能保存的大小。请降低分辨率。").arg(f.pixelsPerLine);
            return ScanStatus::NoMemory;
        }
        // The bytes too: a line's padding is a few bytes, never a multiple of the line.
        const qint64 byteLimit = pixelLimit * 6; // 16-bit colour
        qint64 maxBytes = qint64(f.bytesPerLine) * (f.lines > 0 ? f.lines : maxLines);
        if (f.bytesPerLine > 2 * bytesNeeded(f, samples) + 64 || (f.lines > 0 && maxBytes > byteLimit)) {
            error = QStringLiteral("扫描仪报告的页面大小不对（每行 %1 点、%2 字节，%3 行）。")
                        .arg(f.pixelsPerLine)
                        .arg(f.bytesPerLine)
                        .arg(f.lines);
            return ScanStatus::Invalid;
        }
        maxBytes = qMin(maxBytes, byteLimit);
        const qint64 expected = f.lines > 0 ? maxBytes : -1;

        QByteArray *target = &page.gray;
        if (f.kind == FrameKind::Rgb)
            target = &page.channels[0];
        else if (separate)
            target = &page.channels[f.kind == FrameKind::Red ? 0 : f.kind == FrameKind::Green ? 1 : 2];
        page.interleaved = !separate;
        target->clear();
        if (expected > 0)
            target->reserve(qMin(expected, qint64(256) << 20)); // a claim is not yet data
        const int frames = separate ? 3 : 1;
        int shown = -2;
        for (;;) {
            if (m_cancelled)
                return ScanStatus::Cancelled;
            int length = 0;
            const ScanStatus st = m_device->read(reinterpret_cast<unsigned char *>(chunk.data()), kReadChunk, length);
            // Some drivers end a cancelled page as if it were whole.
            if (m_cancelled)
                return ScanStatus::Cancelled;
            if (length > 0) {
                if (target->size() + length > maxBytes) {
                    error = QStringLiteral("扫描仪送来的数据超过了它报告的页面大小，页面已丢弃。");
                    return ScanStatus::Invalid;
                }
                target->append(chunk.constData(), length);
            }
            if (st == ScanStatus::Eof)
                break;
            if (st != ScanStatus::Good)
                return m_cancelled ? ScanStatus::Cancelled : st;
            const int percent = expected > 0 ? int((frame * 100 + target->size() * 100 / expected) / frames) : -1;
            if (percent != shown) {
                shown = percent;
                emit progress(percent);
            }
        }
        page.format = f;
        if (f.last)
            return ScanStatus::Good;
    }
    error = QStringLiteral("扫描仪送来的数据格式本程序不能处理。请换一种颜色设置。");
    return ScanStatus::Unsupported;
}

void ScanSession::scan(const QString &source, const QString &mode, int resolution, bool wholeFeeder,
                       const QString &folder, const QString &recordNumber, int jpegQuality)
{
    if (!m_device) {
        emit runEnded(0, false, QStringLiteral("没有打开扫描仪。"));
        return;
    }
    if (const QString e = m_device->apply({source, mode, resolution}); !e.isEmpty()) {
        emit runEnded(0, false, e);
        return;
    }
    const PageFiles files{folder, recordNumber, jpegQuality};
    const bool feeder = wholeFeeder && isFeederSource(source);
    int pages = 0;
    bool cancelled = false;
    QString message;
    while (pages < kMaxPagesPerRun) {
        if (m_cancelled) {
            cancelled = true;
            break;
        }
        emit progress(0);
        ScanStatus st = m_device->start();
        if (st == ScanStatus::NoDocs && feeder && pages > 0)
            break; // the feeder has run empty: the run is done
        QString error;
        PageData page;
        if (st == ScanStatus::Good)
            st = readPage(page, error);
        if (st != ScanStatus::Good) {
            cancelled = st == ScanStatus::Cancelled || m_cancelled;
            if (!cancelled)
                message = error.isEmpty() ? scanStatusText(st) : error;
            break;
        }
        const QImage image = pageImage(page, error);
        const QString path = image.isNull() ? QString() : savePage(image, files, error);
        if (path.isEmpty()) {
            message = error;
            break;
        }
        ++pages;
        emit pageSaved(path, image.scaled(400, 400, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        if (!feeder)
            break;
    }
    // SANE ends a run with a cancel, also after its last page.
    m_device->cancel();
    emit runEnded(pages, cancelled, message);
}

} // namespace pictures
