#pragma once
// Hostile pictures drawn by the tests themselves, and what the tests watch while the
// loader reads them: the folder beside the picture, and the memory the program takes.
#include "MetafileSamples.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QStringList>

#include <zlib.h>

namespace samples {

// Every file under a folder with its size and a digest of its bytes, sorted.
inline QStringList listing(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        QByteArray digest;
        if (it.fileInfo().isFile() && f.open(QIODevice::ReadOnly)) {
            QCryptographicHash hash(QCryptographicHash::Sha1);
            hash.addData(&f);
            digest = hash.result().toHex();
        }
        entries << QStringLiteral("%1 %2 %3").arg(QDir(folder).relativeFilePath(path)).arg(it.fileInfo().size())
                       .arg(QString::fromLatin1(digest));
    }
    entries.sort();
    return entries;
}

// The growth of the process's resident memory at its peak, from the moment the object
// was made (the kernel's peak is reset then). -1 where the peak cannot be reset.
class PeakMemory {
public:
    PeakMemory()
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        m_usable = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        clear.close();
        m_start = field("VmRSS:");
    }
    qint64 growthBytes() const { return m_usable ? qMax<qint64>(0, field("VmHWM:") - m_start) : -1; }

private:
    static qint64 field(const QByteArray &name)
    {
        QFile f(QStringLiteral("/proc/self/status"));
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith(name))
                return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
        return 0;
    }
    bool m_usable = false;
    qint64 m_start = 0;
};

// A gzip stream of head, then `fill` bytes of filler, then tail: a compressed bomb
// when the filler is large. Written a block at a time, never held whole.
inline QByteArray gzip(const QByteArray &head, qint64 fill, const QByteArray &tail, char filler = ' ')
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    auto feed = [&](const QByteArray &in, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        z.avail_in = uInt(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(chunk.data());
            z.avail_out = uInt(chunk.size());
            deflate(&z, flush);
            out.append(chunk.constData(), chunk.size() - int(z.avail_out));
        } while (z.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    const QByteArray block(1 << 20, filler);
    for (qint64 left = fill; left > 0; left -= block.size())
        feed(block.left(int(qMin<qint64>(left, block.size()))), Z_NO_FLUSH);
    feed(tail, Z_FINISH);
    deflateEnd(&z);
    return out;
}

inline QByteArray svg(int width, int height, const QByteArray &body)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + QByteArray::number(width) + "\" height=\""
        + QByteArray::number(height) + "\">" + body + "</svg>";
}

// One path of `segments` short lines, zigzagging over the drawing.
inline QByteArray svgLongPath(int segments)
{
    QByteArray d = "M0 0";
    d.reserve(segments * 9);
    for (int i = 0; i < segments; ++i)
        d += (i % 2 ? " L" : " L") + QByteArray::number(i % 997) + ' ' + QByteArray::number((i * 7) % 991);
    return svg(1000, 1000, "<path fill=\"red\" stroke=\"black\" d=\"" + d + "\"/>");
}

inline QByteArray encoded(const QImage &image, const char *format, bool progressive = false, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (progressive)
        writer.setProgressiveScanWrite(true);
    writer.write(image);
    return bytes;
}

inline QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / qMax(1, width), (y * 255) / qMax(1, height), (x ^ y) & 0xFF));
    return image;
}

// A small JPEG whose frame header declares width x height.
inline QByteArray lyingJpeg(int width, int height, bool progressive)
{
    QByteArray bytes = encoded(pattern(64, 64), "jpeg", progressive);
    for (int i = 2; i + 8 < bytes.size(); ++i) {
        const quint8 m = quint8(bytes[i + 1]);
        if (quint8(bytes[i]) == 0xFF && (m == 0xC0 || m == 0xC2)) {
            qToBigEndian<quint16>(quint16(height), bytes.data() + i + 5);
            qToBigEndian<quint16>(quint16(width), bytes.data() + i + 7);
            break;
        }
    }
    return bytes;
}

// The EMF sample with its frame's lower edge moved to y (in hundredths of a millimetre).
inline QByteArray emfWithFrameBottom(qint32 y)
{
    QByteArray b = emf(200, 100);
    qToLittleEndian<qint32>(y, b.data() + 36);
    return b;
}

// The EMF sample with its rectangle record repeated `times` times.
inline QByteArray emfRepeated(int times)
{
    const QByteArray one = emf(200, 100);
    const QByteArray rectangle = one.mid(88, 24);
    QByteArray b = one.left(88);
    b.reserve(88 + rectangle.size() * times + 64);
    for (int i = 0; i < times; ++i)
        b += rectangle;
    b += one.mid(88 + 24);
    qToLittleEndian<quint32>(quint32(b.size()), b.data() + 48);
    qToLittleEndian<quint32>(quint32(times + 3), b.data() + 52);
    return b;
}

// A WMF drawing `count` small bitmaps, each of which wmf2svg would write out as a file.
inline QByteArray wmfWithBitmaps(int count)
{
    QByteArray extra;
    for (int i = 0; i < count; ++i)
        extra += wmfBitmap(qint16(10 + (i % 40) * 4), qint16(10 + (i / 40) * 4), 4, 0x0000FF00u + quint32(i));
    return wmf(200, 100, 96, true, extra);
}

// A GIF whose codes all fit one byte (a 128-colour table, a clear code before the table
// would grow), so that it is written without an LZW coder: a checker of two colours.
inline QByteArray gif(int width, int height)
{
    QByteArray b("GIF89a");
    put<quint16>(b, quint16(width));
    put<quint16>(b, quint16(height));
    b.append(char(0xE6)); // global table of 128 colours
    b.append(char(0));
    b.append(char(0));
    for (int i = 0; i < 128; ++i) {
        // Red and blue for the two colours the checker uses, the rest shades of green.
        b.append(char(i == 0 ? 255 : 0));
        b.append(char(i < 2 ? 0 : i * 2));
        b.append(char(i == 1 ? 255 : 0));
    }
    b.append(char(0x2C));
    put<quint16>(b, 0);
    put<quint16>(b, 0);
    put<quint16>(b, quint16(width));
    put<quint16>(b, quint16(height));
    b.append(char(0));
    b.append(char(7)); // minimum code size
    QByteArray codes;
    int sinceClear = 0;
    codes.append(char(128));
    for (int i = 0; i < width * height; ++i) {
        if (sinceClear == 100) {
            codes.append(char(128));
            sinceClear = 0;
        }
        codes.append(char((i / width + i % width) % 2));
        ++sinceClear;
    }
    codes.append(char(129));
    for (int i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        b.append(char(block.size()));
        b.append(block);
    }
    b.append(char(0));
    b.append(char(0x3B));
    return b;
}

} // namespace samples
