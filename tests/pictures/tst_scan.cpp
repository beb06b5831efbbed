#include "HostileSamples.h"
#include "TempArchive.h"
#include "ScriptedPlatform.h"
#include "SlowConverter.h"

#include "pictures/PictureFetch.h"

#include "pictures/Metafile.h"
#include "pictures/PictureLoader.h"
#include "pictures/frmScan.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QScopeGuard>
#include <QtEndian>
#include <memory>

namespace {

void putU16(QByteArray &b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

void putU32(QByteArray &b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

// A bottom-up BMP whose pixels are stored RLE-compressed (1 = RLE8, 2 = RLE4).
QByteArray rleBmp(int width, int height, int bitCount, int compression, const QVector<QRgb> &palette,
                  const QByteArray &pixels)
{
    const quint32 offset = 14 + 40 + 4 * palette.size();
    QByteArray b("BM");
    putU32(b, offset + pixels.size());
    putU32(b, 0);
    putU32(b, offset);
    putU32(b, 40);
    putU32(b, width);
    putU32(b, height);
    putU16(b, 1);
    putU16(b, bitCount);
    putU32(b, compression);
    putU32(b, pixels.size());
    putU32(b, 2835);
    putU32(b, 2835);
    putU32(b, palette.size());
    putU32(b, 0);
    for (QRgb c : palette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append(char(0));
    }
    return b + pixels;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestScan : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_small, m_wide, m_large, m_huge, m_tall;
    QListWidget m_list;
    int m_frameW = 0, m_frameH = 0;

    struct Viewer {
        std::unique_ptr<frmScan> dialog;
        QWidget *frame;
        QLabel *photo;
        QScrollBar *h;
        QScrollBar *v;
        void click(int i) { testing::child<QPushButton>(dialog.get(), QStringLiteral("Command1(%1)").arg(i))->click(); }
        QSize photoSize() const { return photo->pixmap().size(); }
    };

    // Opens the viewer on a list of paths with one of them selected, as the browser does.
    Viewer open(const QStringList &paths, int currentRow)
    {
        m_list.clear();
        m_list.addItems(paths);
        m_list.setCurrentRow(currentRow);
        return open();
    }
    Viewer open()
    {
        Viewer v;
        v.dialog = std::make_unique<frmScan>(&m_list);
        v.dialog->show();
        v.frame = v.dialog->findChild<QWidget *>(QStringLiteral("Picture1"));
        v.photo = v.dialog->findChild<QLabel *>(QStringLiteral("Image1"));
        v.h = v.dialog->findChild<QScrollBar *>(QStringLiteral("HScroll1"));
        v.v = v.dialog->findChild<QScrollBar *>(QStringLiteral("VScroll1"));
        return v;
    }

private slots:
    void initTestCase()
    {
        // What a click shows is looked at right after it.
        pictures::setPatienceForTests(-1);
        // Before any viewer has opened in this process.
        QCOMPARE(frmScan::PageIndex, 0);
        testing::isolateSettings();
        const QString d = m_dir.path();
        m_small = testing::makePicture(d, QStringLiteral("small.png"), 200, 150);
        m_wide = testing::makePicture(d, QStringLiteral("wide.jpg"), 1000, 300, "JPG");
        m_large = testing::makePicture(d, QStringLiteral("large.bmp"), 3200, 2000, "BMP");
        m_huge = testing::makePicture(d, QStringLiteral("huge.png"), 40000, 10);
        m_tall = testing::makePicture(d, QStringLiteral("tall.png"), 100, 900);
        m_frameW = platform::tw(11665);
        m_frameH = platform::tw(7335);
    }

    void init() { frmScan::PageIndex = 0; }

    void layoutAsDesigned()
    {
        Viewer v = open({m_small}, 0);
        frmScan *d = v.dialog.get();
        QCOMPARE(d->windowTitle(), QStringLiteral("手术照片分析"));
        QVERIFY(d->width() >= platform::tw(11910));
        QCOMPARE(d->height(), platform::tw(8520));
        QCOMPARE(d->minimumSize(), d->maximumSize()); // never re-lays itself out
        QCOMPARE(v.frame->geometry(), QRect(0, 0, m_frameW, m_frameH));
        QCOMPARE(v.frame->palette().color(QPalette::Window), QColor(Qt::black));
        QCOMPARE(v.photo->parentWidget(), v.frame);
        QCOMPARE(v.h->parentWidget(), d);
        QCOMPARE(v.v->parentWidget(), d);

        const char *captions[5] = {" 第一张", " 下一张", " 上一张", " 最后一张", "关 闭"};
        const int lefts[5] = {2220, 3760, 5300, 6840, 10170};
        for (int i = 0; i < 5; ++i) {
            auto *b = testing::child<QPushButton>(d, QStringLiteral("Command1(%1)").arg(i));
            QCOMPARE(b->text(), QString::fromUtf8(captions[i]));
            QCOMPARE(b->pos(), QPoint(platform::tw(lefts[i]), platform::tw(7680)));
            QVERIFY(b->width() >= platform::tw(1275));
            QVERIFY2(b->sizeHint().width() <= b->width() && b->sizeHint().height() <= b->height(),
                     captions[i]);
            QVERIFY(d->rect().contains(b->geometry()));
        }
        // Both bars fit inside the window beside the frame.
        QVERIFY(d->rect().contains(v.v->geometry()));
        QVERIFY(d->rect().contains(v.h->geometry()));
    }

    void smallPhotoIsCentredWithoutBars()
    {
        Viewer v = open({m_small}, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QCOMPARE(v.photo->geometry(), QRect((m_frameW - 200) / 2, (m_frameH - 150) / 2, 200, 150));
        QVERIFY(!v.h->isVisible());
        QVERIFY(!v.v->isVisible());
        QCOMPARE(v.h->geometry().topLeft(), QPoint(0, m_frameH));
        QCOMPARE(v.h->width(), m_frameW);
        QCOMPARE(v.v->geometry().topLeft(), QPoint(m_frameW, 0));
        QCOMPARE(v.v->height(), m_frameH);
        QVERIFY(QApplication::overrideCursor() == nullptr); // busy pointer given back
    }

    void photoExactlyAsLargeAsTheFrameNeedsNoBars()
    {
        const QString d = m_dir.path();
        Viewer v = open({testing::makePicture(d, QStringLiteral("exact.png"), m_frameW, m_frameH)}, 0);
        QCOMPARE(v.photo->geometry(), QRect(0, 0, m_frameW, m_frameH));
        QVERIFY(!v.h->isVisible());
        QVERIFY(!v.v->isVisible());
        // One pixel more in either direction needs its bar, and only that one.
        Viewer w = open({testing::makePicture(d, QStringLiteral("wider.png"), m_frameW + 1, m_frameH)}, 0);
        QVERIFY(w.h->isVisible());
        QCOMPARE(w.h->maximum(), 1);
        QVERIFY(!w.v->isVisible());
        Viewer t = open({testing::makePicture(d, QStringLiteral("taller.png"), m_frameW, m_frameH + 1)}, 0);
        QVERIFY(!t.h->isVisible());
        QVERIFY(t.v->isVisible());
        QCOMPARE(t.v->maximum(), 1);
    }

    void widePhotoScrollsSidewaysOnly()
    {
        Viewer v = open({m_wide}, 0);
        QCOMPARE(v.photo->geometry(), QRect(0, (m_frameH - 300) / 2, 1000, 300));
        QVERIFY(v.h->isVisible());
        QVERIFY(!v.v->isVisible());
        QCOMPARE(v.h->maximum(), 1000 - m_frameW);
        v.h->setValue(100);
        QCOMPARE(v.photo->pos(), QPoint(-100, (m_frameH - 300) / 2));

        Viewer t = open({m_tall}, 0);
        QCOMPARE(t.photo->pos(), QPoint((m_frameW - 100) / 2, 0));
        QVERIFY(!t.h->isVisible());
        QVERIFY(t.v->isVisible());
        QCOMPARE(t.v->maximum(), 900 - m_frameH);
    }

    void largePhotosScrollToTheirLastPixel()
    {
        Viewer v = open({m_large}, 0);
        QCOMPARE(v.photo->pos(), QPoint(0, 0));
        QVERIFY(v.h->isVisible() && v.v->isVisible());
        QCOMPARE(v.h->maximum(), 3200 - m_frameW);
        QCOMPARE(v.v->maximum(), 2000 - m_frameH);
        v.h->setValue(v.h->maximum());
        v.v->setValue(v.v->maximum());
        QCOMPARE(v.photo->pos(), QPoint(-(3200 - m_frameW), -(2000 - m_frameH)));
        QVERIFY(v.h->pageStep() > 0 && v.h->pageStep() <= m_frameW);
        QVERIFY(v.v->pageStep() > 0 && v.v->pageStep() <= m_frameH);
        QVERIFY(v.h->singleStep() > 1);

        // Beyond what a 16-bit range could hold.
        Viewer w = open({m_huge}, 0);
        QCOMPARE(w.h->maximum(), 40000 - m_frameW);
        w.h->setValue(w.h->maximum());
        QCOMPARE(w.photo->x(), -(40000 - m_frameW));
    }

    void reopeningStartsAgainFromTheTopLeft()
    {
        Viewer v = open({m_large, m_small}, 0);
        v.h->setValue(300);
        v.v->setValue(200);
        v.click(4);
        QVERIFY(!v.dialog->isVisible());
        m_list.setCurrentRow(1);
        v.dialog->show();
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QCOMPARE(v.h->value(), 0);
        QCOMPARE(v.v->value(), 0);
        QCOMPARE(v.photo->pos(), QPoint((m_frameW - 200) / 2, (m_frameH - 150) / 2));
        QVERIFY(!v.h->isVisible() && !v.v->isVisible());
    }

    void pagingThroughTheList()
    {
        Viewer v = open({m_small, m_wide, m_large, m_tall}, 2);
        QCOMPARE(v.photoSize(), QSize(3200, 2000));
        QCOMPARE(frmScan::PageIndex, 0); // the opening shows the selection but keeps the index

        v.click(1);
        QCOMPARE(frmScan::PageIndex, 1);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        v.click(2);
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        v.click(2); // nothing before the first
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        v.click(3);
        QCOMPARE(frmScan::PageIndex, 3);
        QCOMPARE(v.photoSize(), QSize(100, 900));
        v.click(1); // nothing after the last
        QCOMPARE(frmScan::PageIndex, 3);
        QCOMPARE(v.photoSize(), QSize(100, 900));
        v.click(0);
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));

        // Paging replaced only the picture: the bars are those set for the first photo.
        QVERIFY(v.h->isVisible() && v.v->isVisible());
        QCOMPARE(v.h->maximum(), 3200 - m_frameW);
        QCOMPARE(v.v->maximum(), 2000 - m_frameH);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void pagingKeepsThePositionOfTheFirstPhoto()
    {
        Viewer v = open({m_large, m_small}, 0);
        v.h->setValue(120);
        v.v->setValue(45);
        v.click(1);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QCOMPARE(v.photo->pos(), QPoint(-120, -45));
        QCOMPARE(v.h->value(), 120);
        QCOMPARE(v.v->value(), 45);
        QVERIFY(v.h->isVisible() && v.v->isVisible());

        frmScan::PageIndex = 0;
        Viewer s = open({m_small, m_large}, 0);
        const QPoint centred = s.photo->pos();
        s.click(1);
        QCOMPARE(s.photoSize(), QSize(3200, 2000));
        QCOMPARE(s.photo->pos(), centred);
        QVERIFY(!s.h->isVisible() && !s.v->isVisible());
    }

    void listOfOne()
    {
        Viewer v = open({m_wide}, 0);
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 0);
        v.click(2);
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        v.click(3);
        QCOMPARE(frmScan::PageIndex, 0);
    }

    void pageIndexSurvivesClosing()
    {
        {
            Viewer v = open({m_small, m_wide, m_large, m_tall}, 0);
            v.click(1);
            v.click(1);
            QCOMPARE(frmScan::PageIndex, 2);
            v.click(4);
            QVERIFY(!v.dialog->isVisible());
        }
        QCOMPARE(frmScan::PageIndex, 2);
        // A new window shows the selected photo, yet pages from the remembered index.
        m_list.setCurrentRow(0);
        Viewer v = open();
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QCOMPARE(frmScan::PageIndex, 2);
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 3);
        QCOMPARE(v.photoSize(), QSize(100, 900));
    }

    void unreadablePhotoWhenPagingIsNamedAndPassed()
    {
        const QString notAPicture = m_dir.filePath(QStringLiteral("notes.jpg"));
        writeFile(notAPicture, "this is no picture");
        const QString missing = m_dir.filePath(QStringLiteral("gone.jpg"));
        Viewer v = open({m_small, missing, notAPicture, m_wide}, 0);
        auto *notice = v.dialog->findChild<QLabel *>(QStringLiteral("lblNotice"));
        QVERIFY(notice);
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 1);
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY(notice->isVisible());
        QVERIFY2(notice->text().startsWith(QStringLiteral("不能显示第 2 张照片：")), qPrintable(notice->text()));
        QCOMPARE(notice->textFormat(), Qt::PlainText);
        v.click(1); // on past the broken ones to the last photo
        QCOMPARE(frmScan::PageIndex, 2);
        QVERIFY(notice->text().startsWith(QStringLiteral("不能显示第 3 张照片：")));
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 3);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        QVERIFY(!notice->isVisible());
        v.click(2);
        v.click(2);
        v.click(2);
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void indexPastTheEndClearsThePicture()
    {
        frmScan::PageIndex = 5; // left over from a record with more photos
        Viewer v = open({m_small, m_wide}, 1);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        v.click(2);
        QCOMPARE(frmScan::PageIndex, 4);
        QVERIFY(v.photo->pixmap().isNull());
        v.click(1); // 5 > N - 1
        QCOMPARE(frmScan::PageIndex, 4);
        v.click(0);
        QCOMPARE(frmScan::PageIndex, 0);
        QCOMPARE(v.photoSize(), QSize(200, 150));

        // An empty list: "last" reads item -1, which is empty.
        Viewer e = open({}, -1);
        QVERIFY(e.dialog->isVisible());
        QVERIFY(e.photo->pixmap().isNull());
        e.click(3);
        QCOMPARE(frmScan::PageIndex, -1);
        e.click(1);
        e.click(2);
        QCOMPARE(frmScan::PageIndex, -1);
    }

    void rememberedIndexTwoPastTheEndStepsBack()
    {
        frmScan::PageIndex = 3; // left from a record with four photos; this one has two
        Viewer v = open({m_small, m_wide}, 0);
        v.click(2); // 上一张: item 2 does not exist either
        QCOMPARE(frmScan::PageIndex, 2);
        QVERIFY(v.photo->pixmap().isNull());
        v.click(2);
        QCOMPARE(frmScan::PageIndex, 1);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        QVERIFY(v.dialog->isVisible());
    }

    void unreadablePhotoAtOpeningShowsAnEmptyFrame()
    {
        Viewer v = open({m_dir.filePath(QStringLiteral("gone.jpg")), m_large}, 0);
        QVERIFY(v.dialog->isVisible());
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY(!v.h->isVisible() && !v.v->isVisible());
        v.click(3);
        QCOMPARE(v.photoSize(), QSize(3200, 2000));
    }

    // What the frame says, without the break opportunities put into long paths.
    static QString notice(const Viewer &v)
    {
        auto *label = testing::child<QLabel>(v.dialog.get(), QStringLiteral("lblNotice"));
        return label->isVisible() ? label->text().remove(QChar(0x200B)) : QString();
    }

    void unreadablePhotoAtOpeningSaysWhichAndWhy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing") << "gone.jpg" << QStringLiteral("文件不存在");
        QTest::newRow("folder") << "a-folder.jpg" << QStringLiteral("文件夹");
        QTest::newRow("empty") << "empty.jpg" << QStringLiteral("空的");
        QTest::newRow("not a picture") << "letter.jpg" << QStringLiteral("不是能显示的图片");
        QTest::newRow("looks like markup") << "<b>x<i>.jpg" << QStringLiteral("文件不存在");
    }

    void unreadablePhotoAtOpeningSaysWhichAndWhy()
    {
        QFETCH(QString, name);
        QFETCH(QString, why);
        const QString path = m_dir.filePath(name);
        if (name == QLatin1String("a-folder.jpg"))
            QVERIFY(QDir().mkpath(path));
        else if (name == QLatin1String("empty.jpg"))
            writeFile(path, QByteArray());
        else if (name == QLatin1String("letter.jpg"))
            writeFile(path, "Dear colleague, the photos follow.");
        Viewer v = open({path, m_small}, 0);
        auto *label = testing::child<QLabel>(v.dialog.get(), QStringLiteral("lblNotice"));
        QVERIFY(label->isVisible());
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->geometry(), v.frame->rect()); // the whole frame: there is no photo to see
        const QString text = notice(v);
        QVERIFY2(text.contains(path), qPrintable(text));
        QVERIFY2(text.contains(why), qPrintable(text));
        QVERIFY(v.photo->pixmap().isNull());
        if (QByteArray(QTest::currentDataTag()) == "looks like markup")
            QVERIFY(testing::screenshot(v.dialog.get(), QStringLiteral("frmScan-unreadable")));
        // The next photo that can be shown takes the notice away.
        v.click(1);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QVERIFY(notice(v).isEmpty());
    }

    void pagingToAnUnreadablePhotoSaysWhichAndWhy()
    {
        const QString missing = m_dir.filePath(QStringLiteral("gone-while-paging.jpg"));
        Viewer v = open({m_wide, missing, m_small}, 0);
        QVERIFY(notice(v).isEmpty());
        v.click(1);
        // The broken photo takes its turn: the whole frame names it and says why.
        QCOMPARE(frmScan::PageIndex, 1);
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY(notice(v).startsWith(QStringLiteral("不能显示第 2 张照片：") + missing + QLatin1Char('\n')));
        auto *label = testing::child<QLabel>(v.dialog.get(), QStringLiteral("lblNotice"));
        QCOMPARE(label->geometry(), v.frame->rect());
        QVERIFY(testing::screenshot(v.dialog.get(), QStringLiteral("frmScan-paging-unreadable")));
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 2);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QVERIFY(notice(v).isEmpty());
    }

    void enormousPhotoIsRefusedOrShownReduced()
    {
        pictures::setPixelLimitsForTests(2000 * 1000, 0);
        const QString png = testing::makePicture(m_dir.path(), QStringLiteral("over.png"), 2000, 1001);
        const QString jpeg = testing::makePicture(m_dir.path(), QStringLiteral("over.jpg"), 4000, 2000, "JPG");
        Viewer v = open({png, jpeg}, 0);
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY2(notice(v).contains(QStringLiteral("宽 2000 点、高 1001 点")), qPrintable(notice(v)));
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 1);
        QVERIFY(qint64(v.photoSize().width()) * v.photoSize().height() <= 2000 * 1000);
        QVERIFY2(notice(v).startsWith(QStringLiteral("照片很大（宽 4000 点、高 2000 点），缩小为宽 ")), qPrintable(notice(v)));
        pictures::setPixelLimitsForTests(0, 0);
    }

    void pagingToMetafilePhotos()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("wmf2svg")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("emf2svg-conv")).isEmpty())
            QSKIP("the metafile converters (libwmf-bin, emf2svg) are not installed");
        const QString wmf = m_dir.filePath(QStringLiteral("chart.wmf"));
        writeFile(wmf, samples::wmf(900, 600));
        const QString emf = m_dir.filePath(QStringLiteral("chart.emf"));
        writeFile(emf, samples::emf(320, 200));
        const QString broken = m_dir.filePath(QStringLiteral("broken.wmf"));
        writeFile(broken, samples::wmf(900, 600).left(50));
        Viewer v = open({m_small, wmf, broken, emf}, 0);
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 1);
        QCOMPARE(v.photoSize(), QSize(900, 600));
        QVERIFY(notice(v).isEmpty());
        QVERIFY(testing::screenshot(v.dialog.get(), QStringLiteral("frmScan-wmf")));
        v.click(1); // the broken one: the frame says why
        QCOMPARE(frmScan::PageIndex, 2);
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY(notice(v).contains(broken));
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 3);
        QCOMPARE(v.photoSize(), QSize(320, 200));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // A photo that takes long (a converter that never ends, here) is read off the
    // window's thread: the viewer opens at once with the hourglass, pages on past it,
    // and the converter is killed when the operator has gone on.
    void aSlowPhotoLeavesTheViewerFree()
    {
        const testing::SlowConverter converter(m_dir.path());
        const QString pidFile = converter.pidFile();
        const QString slow = m_dir.filePath(QStringLiteral("slow.wmf"));
        writeFile(slow, samples::wmf(300, 200));
        auto converterGone = [&pidFile] {
            QFile f(pidFile);
            return f.open(QIODevice::ReadOnly) && !QFileInfo::exists(QStringLiteral("/proc/") + f.readAll().trimmed());
        };

        Viewer v = open({slow, m_small}, 0);
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        QVERIFY(v.photo->pixmap().isNull());
        QTRY_VERIFY(QFileInfo::exists(pidFile));
        v.click(1);
        QCOMPARE(frmScan::PageIndex, 1);
        QTRY_COMPARE(v.photoSize(), QSize(200, 150));
        // Passed while it was read, it is not read ahead again as the neighbour of the next.
        QCOMPARE(v.dialog->readAheadTaken(), QStringList());
        QVERIFY(notice(v).isEmpty());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QTRY_VERIFY(converterGone());
        // Nor one the operator paged to while it was being read ahead, and then on past it.
        QFile::remove(pidFile);
        frmScan::PageIndex = 0;
        Viewer ahead = open({m_small, slow, m_wide}, 0);
        QTRY_VERIFY(QFileInfo::exists(pidFile));
        QCOMPARE(ahead.dialog->readAheadTaken(), QStringList{slow});
        ahead.click(1);
        ahead.click(1);
        QTRY_COMPARE(ahead.photoSize(), QSize(1000, 300));
        QCOMPARE(ahead.dialog->readAheadTaken(), QStringList());
        QTRY_VERIFY(converterGone());

        // A key pressed while the photo is read is handled: Esc closes the viewer, and
        // the photo is called off with it.
        QFile::remove(pidFile);
        Viewer again = open({slow}, 0);
        QTRY_VERIFY(QFileInfo::exists(pidFile));
        QTest::keyClick(again.dialog.get(), Qt::Key_Escape);
        QVERIFY(!again.dialog->isVisible());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QTRY_VERIFY(converterGone());
    }

    void wheelOverThePhotoScrolls()
    {
        Viewer v = open({m_large}, 0);
        QWheelEvent wheel(QPointF(10, 10), v.frame->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(v.photo, &wheel);
        QVERIFY(v.v->value() > 0);
        QCOMPARE(v.photo->y(), -v.v->value());
    }

    void readsTheFormatsRecordsHold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRgb>("topLeft");
        QTest::addColumn<QRgb>("bottomRight");

        const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), green = qRgb(0, 255, 0), white = qRgb(255, 255, 255);
        // 4 x 2, bottom row first: a run of four 1s; then four literal pixels 0 1 0 1.
        const QByteArray rle8("\x04\x01\x00\x00\x00\x04\x00\x01\x00\x01\x00\x00\x00\x01", 14);
        QTest::newRow("RLE8 BMP") << "rle8.bmp" << rleBmp(4, 2, 8, 1, {red, blue}, rle8) << QSize(4, 2) << red << blue;
        QTest::newRow("RLE file") << "photo.rle" << rleBmp(4, 2, 8, 1, {red, blue}, rle8) << QSize(4, 2) << red << blue;
        // Bottom row a run of 1 2 1 2; top row literal 0 1 2 3.
        const QByteArray rle4("\x04\x12\x00\x00\x00\x04\x01\x23\x00\x00\x00\x01", 12);
        QTest::newRow("RLE4 BMP") << "rle4.bmp" << rleBmp(4, 2, 4, 2, {red, blue, green, white}, rle4)
                                  << QSize(4, 2) << red << green;
        QTest::newRow("GIF") << "anim.gif" << samples::gif(30, 7) << QSize(30, 7) << red << blue;
        QTest::newRow("GIF named .jpg") << "renamed.jpg" << samples::gif(30, 7) << QSize(30, 7) << red << blue;
    }

    void readsTheFormatsRecordsHold()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        QFETCH(QRgb, topLeft);
        QFETCH(QRgb, bottomRight);
        const QString path = m_dir.filePath(name);
        writeFile(path, bytes);
        const pictures::LoadedPicture p = pictures::loadPicture(path);
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.image.size(), size);
        QCOMPARE(p.image.pixel(0, 0), topLeft);
        QCOMPARE(p.image.pixel(size.width() - 1, size.height() - 1), bottomRight);

        Viewer v = open({path}, 0);
        QCOMPARE(v.photoSize(), size);
    }

    void readsIconsAndJpeg()
    {
        const QString ico = testing::makePicture(m_dir.path(), QStringLiteral("icon.ico"), 48, 32, "ICO");
        QCOMPARE(pictures::loadPicture(ico).image.size(), QSize(48, 32));
        QCOMPARE(pictures::loadPicture(m_wide).image.size(), QSize(1000, 300));
        const pictures::LoadedPicture none = pictures::loadPicture(QString());
        QVERIFY(none.ok && none.image.isNull());
        QVERIFY(!pictures::loadPicture(m_dir.filePath(QStringLiteral("gone.jpg"))).ok);
    }

    void cameraPhotosStandUpright()
    {
        // A portrait photo stored landscape, with the camera's orientation mark.
        QImage landscape(300, 100, QImage::Format_RGB32);
        landscape.fill(Qt::gray);
        const QString path = m_dir.filePath(QStringLiteral("camera.jpg"));
        QImageWriter writer(path, "jpeg");
        if (!writer.supportsOption(QImageIOHandler::ImageTransformation))
            QSKIP("this JPEG writer cannot mark the orientation");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(landscape));
        QCOMPARE(pictures::loadPicture(path).image.size(), QSize(100, 300));
    }

    void screenshot()
    {
        Viewer v = open({m_wide}, 0);
        v.h->setValue(50);
        QVERIFY(testing::screenshot(v.dialog.get(), QStringLiteral("frmScan")));
        Viewer both = open({m_large}, 0);
        QVERIFY(testing::screenshot(both.dialog.get(), QStringLiteral("frmScan-large")));
    }
};

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
