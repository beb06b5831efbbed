// Measures the picture loader on the pictures a records office has most: a 12-megapixel
// camera JPEG, a 4,000 x 3,000 PNG scan and a typical WMF drawing, each at the viewer's
// frame size, at its own size (what the viewer shows) and into the chooser's preview
// frame: the time to load (median of several runs) and the program's peak memory for one
// load. Then paging through such photos in the viewer with and without read-ahead, and
// how long a key press waits while a hostile drawing is being refused. Prints
// figures; it is not a test and asserts nothing.
#include "pictures/PictureLoader.h"
#include "pictures/frmScan.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

qint64 statusKiB(const QByteArray &name)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The peak growth of resident memory during f, in MB; -1 where the peak cannot be reset.
template <typename F>
double peakMb(F f)
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1;
    clear.close();
    const qint64 start = statusKiB("VmRSS:");
    f();
    const double mb = (statusKiB("VmHWM:") - start) / 1024.0;
    malloc_trim(0);
    return mb;
}

// A photo-like picture: gradients and detail, so that it compresses as photos do.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 255) / width, (y * 255) / height, ((x * 7) ^ (y * 13)) & 0xFF);
    }
    return image;
}

void put16(QByteArray &b, int v)
{
    char c[2];
    qToLittleEndian<qint16>(qint16(v), c);
    b.append(c, 2);
}
void put32(QByteArray &b, quint32 v)
{
    char c[4];
    qToLittleEndian<quint32>(v, c);
    b.append(c, 4);
}

QByteArray record(int function, const std::vector<int> &params)
{
    QByteArray r;
    put32(r, quint32(3 + params.size()));
    put16(r, function);
    for (int p : params)
        put16(r, p);
    return r;
}

// A drawing as office programs wrote them: a placeable A4 page at 1440 units per inch
// with a few hundred filled shapes and lines.
QByteArray typicalWmf()
{
    const int w = 11906, h = 16838; // A4 in twips
    QByteArray records;
    records += record(0x020B, {0, 0});
    records += record(0x020C, {h, w});
    for (int i = 0; i < 300; ++i) {
        QByteArray brush;
        put32(brush, 7);
        put16(brush, 0x02FC);
        put16(brush, 0);
        put32(brush, quint32((i * 2654435761u) & 0xFFFFFF));
        put16(brush, 0);
        records += brush;
        records += record(0x012D, {0});
        const int x = (i * 397) % (w - 800), y = (i * 911) % (h - 800);
        records += record(i % 2 ? 0x0418 : 0x041B, {y + 600, x + 700, y, x}); // ELLIPSE / RECTANGLE
        records += record(0x0325, {3, x, y, x + 900, y + 300, x + 200, y + 800});   // POLYLINE
        records += record(0x01F0, {0});                                            // DELETEOBJECT
    }
    records += record(0x0000, {});
    QByteArray p;
    put32(p, 0x9AC6CDD7);
    put16(p, 0);
    put16(p, 0);
    put16(p, 0);
    put16(p, w);
    put16(p, h);
    put16(p, 1440);
    put32(p, 0);
    quint16 checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= qFromLittleEndian<quint16>(p.constData() + i);
    put16(p, checksum);
    QByteArray file = p;
    put16(file, 1);
    put16(file, 9);
    put16(file, 0x0300);
    put32(file, quint32((18 + records.size()) / 2));
    put16(file, 1);
    put32(file, 16);
    put16(file, 0);
    return file + records;
}

} // namespace

int main(int argc, char *argv[])
{
    // Large blocks are mapped and given back when freed, so that the peak of one load is
    // not hidden by memory that an earlier load left to the allocator.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
    QApplication application(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    QTemporaryDir dir;

    QListWidget none;
    QSize viewerFrame;
    {
        frmScan viewer(&none);
        viewerFrame = viewer.findChild<QWidget *>(QStringLiteral("Picture1"))->size();
    }
    const QSize chooserFrame(195, 243);

    struct Sample {
        const char *what;
        QString path;
    };
    const QString jpeg = dir.filePath(QStringLiteral("camera.jpg"));
    const QString png = dir.filePath(QStringLiteral("scan.png"));
    const QString wmf = dir.filePath(QStringLiteral("drawing.wmf"));
    {
        const QImage camera = photo(4000, 3000);
        QImageWriter j(jpeg, "jpeg");
        j.setQuality(90);
        j.write(camera);
        QImageWriter(png, "png").write(camera);
        QFile f(wmf);
        f.open(QIODevice::WriteOnly);
        f.write(typicalWmf());
    }
    const Sample samples[] = {{"12-megapixel JPEG (4000 x 3000)", jpeg},
                              {"PNG of 4000 x 3000", png},
                              {"typical WMF (A4 page, 300 shapes)", wmf}};
    struct Way {
        const char *what;
        pictures::PictureRequest request;
    };
    const Way ways[] = {
        {"at the viewer's frame", pictures::PictureRequest::within(viewerFrame, true)},
        {"at its own size (viewer)", pictures::PictureRequest::ownSize()},
        {"chooser's fitted preview", pictures::PictureRequest::within(chooserFrame, false)},
    };

    std::printf("viewer's frame %d x %d, chooser's frame %d x %d; runs: %d each, medians\n", viewerFrame.width(),
                viewerFrame.height(), chooserFrame.width(), chooserFrame.height(), runs);
    for (const Sample &s : samples) {
        QFileInfo info(s.path);
        std::printf("%s, %.1f MB:\n", s.what, info.size() / 1048576.0);
        if (s.path != wmf) {
            // For comparison: Qt's reader alone, at the picture's own size, without limits.
            std::vector<double> ms;
            QImage plain;
            for (int i = 0; i < runs; ++i) {
                QElapsedTimer t;
                t.start();
                plain = QImageReader(s.path).read();
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            plain = QImage();
            const double peak = peakMb([&] { plain = QImageReader(s.path).read(); });
            std::printf("  %-26s %8.1f ms  peak +%6.1f MB  shown %d x %d\n", "(QImageReader alone)", median(ms), peak,
                        plain.width(), plain.height());
        }
        for (const Way &w : ways) {
            pictures::LoadedPicture shown;
            std::vector<double> ms;
            for (int i = 0; i < runs; ++i) {
                QElapsedTimer t;
                t.start();
                shown = pictures::loadPicture(s.path, w.request);
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            shown = {};
            const double peak = peakMb([&] { shown = pictures::loadPicture(s.path, w.request); });
            std::printf("  %-26s %8.1f ms  peak +%6.1f MB  shown %d x %d%s\n", w.what, median(ms), peak,
                        shown.image.width(), shown.image.height(), shown.ok ? "" : qPrintable(QStringLiteral("  ") + shown.error));
        }
    }

    // Paging through 12-megapixel photos at their own size, the operator looking at each
    // for a moment: from the click to the next photo on show, without and with read-ahead.
    {
        QStringList pages;
        for (int i = 0; i < 6; ++i) {
            const QString copy = dir.filePath(QStringLiteral("page%1.jpg").arg(i));
            QFile::copy(jpeg, copy);
            pages << copy;
        }
        QListWidget pageList;
        pageList.addItems(pages);
        pageList.setCurrentRow(0);
        for (const bool ahead : {false, true}) {
            frmScan::ReadAhead = ahead;
            frmScan::PageIndex = 0;
            frmScan pager(&pageList);
            pager.show();
            auto *image = pager.findChild<QLabel *>(QStringLiteral("Image1"));
            const auto waitFor = [](auto done) {
                QElapsedTimer wait;
                wait.start();
                while (!done() && wait.elapsed() < 10000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            };
            waitFor([&] { return !image->pixmap().isNull(); });
            std::vector<double> ms;
            for (int i = 1; i < pages.size(); ++i) {
                // The operator looks at the page while the next one is read ahead.
                if (ahead)
                    waitFor([&] { return pager.readAheadHeld().contains(pages[i]); });
                const qint64 before = image->pixmap().cacheKey();
                QElapsedTimer t;
                t.start();
                pager.Command1_Click(1);
                waitFor([&] { return image->pixmap().cacheKey() != before; });
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            std::printf("paging onto a 12-megapixel JPEG %s read-ahead: median %.1f ms, worst %.1f ms%s\n",
                        ahead ? "with" : "without", median(ms), *std::max_element(ms.begin(), ms.end()),
                        ahead ? " (goal: under 50 ms)" : "");
            pager.close();
        }
        frmScan::ReadAhead = true;
    }

    // The viewer opening on a hostile drawing (an EMF whose frame declares 2^31-1): how
    // long a key press waits for the window meanwhile.
    const QString hostile = dir.filePath(QStringLiteral("hostile.emf"));
    {
        QByteArray b;
        put32(b, 1);
        put32(b, 88);
        for (int v : {0, 0, 199, 99, 0, 0, 5292, 0x7FFFFFFF})
            put32(b, quint32(v));
        put32(b, 0x464D4520);
        put32(b, 0x10000);
        put32(b, 88 + 20);
        put32(b, 2);
        put16(b, 1);
        put16(b, 0);
        for (int i = 0; i < 3; ++i)
            put32(b, 0);
        for (int v : {1024, 768, 320, 240})
            put32(b, quint32(v));
        for (quint32 v : {14u, 20u, 0u, 16u, 20u})
            put32(b, v);
        QFile f(hostile);
        f.open(QIODevice::WriteOnly);
        f.write(b);
    }
    QListWidget list;
    list.addItem(hostile);
    list.setCurrentRow(0);
    frmScan viewer(&list);
    struct KeyClock : QObject {
        QElapsedTimer sent;
        std::vector<double> waits;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::KeyPress)
                waits.push_back(sent.nsecsElapsed() / 1e6);
            return false;
        }
    } keys;
    viewer.installEventFilter(&keys);
    QElapsedTimer opening;
    opening.start();
    viewer.show();
    const double openMs = opening.nsecsElapsed() / 1e6;
    for (int i = 0; i < 20; ++i) {
        keys.sent.start();
        QCoreApplication::postEvent(&viewer, new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
        QElapsedTimer wait;
        wait.start();
        while (keys.waits.size() <= size_t(i) && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 50)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    std::printf("viewer opening on an EMF declaring a frame of 2^31-1: the window was back after %.1f ms;\n"
                "  key presses while it is being drawn: median %.2f ms, worst %.2f ms (goal: under 100 ms)\n",
                openMs, median(keys.waits), *std::max_element(keys.waits.begin(), keys.waits.end()));
    viewer.close();
    return 0;
}
