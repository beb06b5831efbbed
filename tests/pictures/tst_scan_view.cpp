// The page viewer's keys, page number, fitting, zoom, panning and turning.
#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "pictures/PictureFetch.h"
#include "pictures/frmScan.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QWheelEvent>
#include <memory>

class TestScanView : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_small, m_wide, m_large, m_tall, m_marked;
    QListWidget m_list;
    int m_frameW = 0, m_frameH = 0;

    struct Viewer {
        std::unique_ptr<frmScan> dialog;
        QWidget *frame;
        QLabel *photo;
        QLabel *page;
        QLabel *notice;
        QScrollBar *h;
        QScrollBar *v;
        QSize photoSize() const { return photo->pixmap().size(); }
        QPushButton *button(int i) const
        {
            return testing::child<QPushButton>(dialog.get(), QStringLiteral("Command1(%1)").arg(i));
        }
        void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(dialog.get(), Qt::Key(key), mods); }
    };

    Viewer open(const QStringList &paths, int currentRow)
    {
        m_list.clear();
        m_list.addItems(paths);
        m_list.setCurrentRow(currentRow);
        Viewer v;
        v.dialog = std::make_unique<frmScan>(&m_list);
        v.dialog->show();
        // The keys belong to the window the operator is working in.
        v.dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(v.dialog.get()))
            QTest::qFail("the viewer never became the active window", __FILE__, __LINE__);
        v.frame = testing::child<QWidget>(v.dialog.get(), QStringLiteral("Picture1"));
        v.photo = testing::child<QLabel>(v.dialog.get(), QStringLiteral("Image1"));
        v.page = testing::child<QLabel>(v.dialog.get(), QStringLiteral("lblPage"));
        v.notice = testing::child<QLabel>(v.dialog.get(), QStringLiteral("lblNotice"));
        v.h = testing::child<QScrollBar>(v.dialog.get(), QStringLiteral("HScroll1"));
        v.v = testing::child<QScrollBar>(v.dialog.get(), QStringLiteral("VScroll1"));
        return v;
    }

    void mouse(Viewer &v, QEvent::Type type, QPoint at, Qt::MouseButtons held)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, v.frame->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(v.frame, &event);
    }

private slots:
    void initTestCase()
    {
        pictures::setPatienceForTests(-1);
        testing::isolateSettings();
        const QString d = m_dir.path();
        m_small = testing::makePicture(d, QStringLiteral("small.png"), 200, 150);
        m_wide = testing::makePicture(d, QStringLiteral("wide.jpg"), 1000, 300, "JPG");
        m_large = testing::makePicture(d, QStringLiteral("large.bmp"), 3200, 2000, "BMP");
        m_tall = testing::makePicture(d, QStringLiteral("tall.png"), 100, 900);
        // Red in its top-left corner, blue in its bottom-left: shows which way it was turned.
        QImage marked(40, 20, QImage::Format_RGB32);
        marked.fill(Qt::gray);
        marked.setPixel(0, 0, qRgb(255, 0, 0));
        marked.setPixel(0, 19, qRgb(0, 0, 255));
        m_marked = m_dir.filePath(QStringLiteral("marked.png"));
        QVERIFY(marked.save(m_marked));
        m_frameW = platform::tw(11665);
        m_frameH = platform::tw(7335);
    }

    void init() { frmScan::PageIndex = 0; }

    void keysPageLikeTheButtons()
    {
        Viewer v = open({m_small, m_wide, m_large, m_tall}, 0);
        QCOMPARE(v.page->text(), QStringLiteral("第 1 / 4 张"));
        QVERIFY(v.page->isVisible());
        QCOMPARE(v.page->textFormat(), Qt::PlainText);
        QVERIFY(v.frame->rect().contains(v.page->geometry()));

        const struct {
            int key;
            int index;
            QSize size;
        } steps[] = {
            {Qt::Key_PageDown, 1, {1000, 300}}, {Qt::Key_Right, 2, {3200, 2000}}, {Qt::Key_Down, 3, {100, 900}},
            {Qt::Key_PageDown, 3, {100, 900}}, // nothing after the last
            {Qt::Key_Right, 3, {100, 900}},     {Qt::Key_PageUp, 2, {3200, 2000}}, {Qt::Key_Left, 1, {1000, 300}},
            {Qt::Key_Up, 0, {200, 150}},        {Qt::Key_PageUp, 0, {200, 150}}, // nothing before the first
            {Qt::Key_Left, 0, {200, 150}},      {Qt::Key_End, 3, {100, 900}},      {Qt::Key_Home, 0, {200, 150}},
        };
        for (const auto &step : steps) {
            v.key(step.key);
            QCOMPARE(frmScan::PageIndex, step.index);
            QCOMPARE(v.photoSize(), step.size);
            QCOMPARE(v.page->text(), QStringLiteral("第 %1 / 4 张").arg(step.index + 1));
        }
        // With the focus on a paging button the keys still page, and the page number is
        // still the frame's topmost child.
        v.button(4)->setFocus();
        QTest::keyClick(v.button(4), Qt::Key_End);
        QCOMPARE(v.page->text(), QStringLiteral("第 4 / 4 张"));
        QTest::keyClick(v.button(4), Qt::Key_Left);
        QCOMPARE(v.page->text(), QStringLiteral("第 3 / 4 张"));
        QCOMPARE(v.frame->children().last(), v.page);
        QVERIFY(v.dialog->isVisible());
    }

    void pageNumberFollowsWhatIsShown()
    {
        // The opening shows the selection, whatever the remembered index.
        Viewer v = open({m_small, m_wide, m_tall}, 2);
        QCOMPARE(v.photoSize(), QSize(100, 900));
        QCOMPARE(v.page->text(), QStringLiteral("第 3 / 3 张"));
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.page->text(), QStringLiteral("第 2 / 3 张"));

        // A photo that cannot be shown still says which page it is, over its notice.
        const QString missing = m_dir.filePath(QStringLiteral("gone.jpg"));
        Viewer b = open({m_small, missing}, 0);
        b.key(Qt::Key_End);
        QVERIFY(b.notice->isVisible());
        QVERIFY(b.page->isVisible());
        QCOMPARE(b.page->text(), QStringLiteral("第 2 / 2 张"));
        QCOMPARE(b.frame->children().last(), b.page);
        // Zooming, fitting or turning nothing does nothing.
        for (int key : {Qt::Key_Plus, Qt::Key_Minus, Qt::Key_F, Qt::Key_R})
            b.key(key);
        QVERIFY(b.photo->pixmap().isNull());
        QVERIFY(b.notice->text().startsWith(QStringLiteral("不能显示第 2 张照片：")));

        // No selection: nothing shown and no number.
        Viewer none = open({m_small}, -1);
        QVERIFY(!none.page->isVisible());
        frmScan::PageIndex = 5;
        Viewer past = open({m_small, m_wide}, 0);
        past.key(Qt::Key_PageUp); // index 4: past the end, nothing to number
        QVERIFY(!past.page->isVisible());
    }

    void fitAndOneToOne()
    {
        Viewer v = open({m_large, m_small}, 0);
        QCOMPARE(v.photoSize(), QSize(3200, 2000)); // own size, as always
        QVERIFY(v.h->isVisible());
        v.key(Qt::Key_F);
        const double s = qMin(double(m_frameW) / 3200, double(m_frameH) / 2000);
        const QSize fitted(qRound(3200 * s), qRound(2000 * s));
        QCOMPARE(v.photoSize(), fitted);
        QCOMPARE(v.dialog->zoom(), s);
        QVERIFY(!v.h->isVisible() && !v.v->isVisible());
        QCOMPARE(v.photo->pos(), QPoint((m_frameW - fitted.width()) / 2, (m_frameH - fitted.height()) / 2));
        v.key(Qt::Key_F);
        QCOMPARE(v.photoSize(), QSize(3200, 2000));
        QVERIFY(v.h->isVisible() && v.v->isVisible());

        // A photo smaller than the frame is not blown up to fit it.
        v.key(Qt::Key_F);
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        v.key(Qt::Key_F);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        // Paging from a fitted photo placed the next one afresh: no bars left over.
        QVERIFY(!v.h->isVisible() && !v.v->isVisible());
        QCOMPARE(v.photo->pos(), QPoint((m_frameW - 200) / 2, (m_frameH - 150) / 2));
    }

    void zoomWithKeysAndWheel()
    {
        Viewer v = open({m_small, m_wide}, 0);
        v.key(Qt::Key_Plus);
        QCOMPARE(v.photoSize(), QSize(250, 188));
        v.key(Qt::Key_Minus);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QCOMPARE(v.dialog->zoom(), 1.0);
        v.key(Qt::Key_Minus);
        QCOMPARE(v.photoSize(), QSize(160, 120));
        QCOMPARE(v.photo->pos(), QPoint((m_frameW - 160) / 2, (m_frameH - 120) / 2));

        QWheelEvent up(QPointF(10, 10), v.frame->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                       Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(v.photo, &up);
        QCOMPARE(v.photoSize(), QSize(200, 150));
        QApplication::sendEvent(v.frame, &up);
        QCOMPARE(v.photoSize(), QSize(250, 188));

        // Bounded both ways: eight times and a thirty-second.
        for (int i = 0; i < 30; ++i)
            v.key(Qt::Key_Equal);
        QCOMPARE(v.photoSize(), QSize(1600, 1200));
        QVERIFY(v.h->isVisible() && v.v->isVisible());
        // Zooming keeps the middle of the photo in the middle of the frame.
        QVERIFY(qAbs(v.h->value() - qRound(800 - m_frameW / 2.0)) <= 1);
        QVERIFY(qAbs(v.v->value() - qRound(600 - m_frameH / 2.0)) <= 1);
        for (int i = 0; i < 40; ++i)
            v.key(Qt::Key_Minus);
        QCOMPARE(v.photoSize(), QSize(6, 5));

        // The next photo comes at its own size.
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        QCOMPARE(v.dialog->zoom(), 1.0);
    }

    void dragPansThePhoto()
    {
        Viewer v = open({m_large}, 0);
        QCOMPARE(v.h->value(), 0);
        mouse(v, QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
        mouse(v, QEvent::MouseMove, {240, 170}, Qt::LeftButton);
        QCOMPARE(v.h->value(), 60);
        QCOMPARE(v.v->value(), 30);
        QCOMPARE(v.photo->pos(), QPoint(-60, -30));
        // Dragged past the photo's edge: it stops at its first pixel.
        mouse(v, QEvent::MouseMove, {900, 900}, Qt::LeftButton);
        QCOMPARE(v.h->value(), 0);
        QCOMPARE(v.v->value(), 0);
        mouse(v, QEvent::MouseMove, {100, 100}, Qt::LeftButton);
        mouse(v, QEvent::MouseButtonRelease, {100, 100}, Qt::NoButton);
        QCOMPARE(v.h->value(), 200);
        QCOMPARE(v.v->value(), 100);
        // Let go, the pointer moves without taking the photo along.
        mouse(v, QEvent::MouseMove, {0, 0}, Qt::NoButton);
        QCOMPARE(v.h->value(), 200);
        QCOMPARE(v.v->value(), 100);
    }

    void turningIsForViewingOnly()
    {
        QFile file(m_marked);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();

        Viewer v = open({m_marked, m_wide}, 0);
        v.key(Qt::Key_R); // a quarter clockwise: the top-left corner goes to the top-right
        QCOMPARE(v.photoSize(), QSize(20, 40));
        QImage shown = v.photo->pixmap().toImage();
        QCOMPARE(shown.pixel(19, 0), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(v.photo->pos(), QPoint((m_frameW - 20) / 2, (m_frameH - 40) / 2));
        v.key(Qt::Key_R);
        shown = v.photo->pixmap().toImage();
        QCOMPARE(v.photoSize(), QSize(40, 20));
        QCOMPARE(shown.pixel(39, 19), qRgb(255, 0, 0));
        v.key(Qt::Key_L);
        v.key(Qt::Key_L);
        v.key(Qt::Key_L); // a quarter the other way from upright
        shown = v.photo->pixmap().toImage();
        QCOMPARE(shown.pixel(0, 39), qRgb(255, 0, 0));
        // Turned and zoomed at once.
        v.key(Qt::Key_Plus);
        QCOMPARE(v.photoSize(), QSize(25, 50));

        // The file is as it was, and the next photo stands as it was taken.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.photoSize(), QSize(1000, 300));
        v.key(Qt::Key_PageUp);
        QCOMPARE(v.photoSize(), QSize(40, 20));
        QCOMPARE(v.photo->pixmap().toImage().pixel(0, 0), qRgb(255, 0, 0));
    }

    void neighboursAreReadAhead()
    {
        const QString d = m_dir.path();
        const QString a = testing::makePicture(d, QStringLiteral("a.png"), 30, 20);
        const QString b = testing::makePicture(d, QStringLiteral("b.png"), 40, 20);
        const QString c = testing::makePicture(d, QStringLiteral("c.png"), 50, 20);
        const QString e = testing::makePicture(d, QStringLiteral("e.png"), 60, 20);
        const auto held = [](const Viewer &v) {
            QStringList paths = v.dialog->readAheadHeld();
            paths.sort();
            return paths;
        };
        Viewer v = open({a, b, c, e}, 0);
        QTRY_COMPARE(held(v), QStringList{b});
        // What was read ahead is what is shown: the file changed since is not read again.
        QVERIFY(QFile::remove(b));
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.photoSize(), QSize(40, 20));
        QCOMPARE(v.page->text(), QStringLiteral("第 2 / 4 张"));
        QTRY_COMPARE(held(v), (QStringList{a, c}));
        v.key(Qt::Key_PageDown);
        QCOMPARE(v.photoSize(), QSize(50, 20));
        // b is gone now: read again, it fails, and says so when paged to.
        QTRY_COMPARE(held(v), (QStringList{b, e}));
        v.key(Qt::Key_PageUp);
        QVERIFY(v.photo->pixmap().isNull());
        QVERIFY2(v.notice->text().startsWith(QStringLiteral("不能显示第 2 张照片：")), qPrintable(v.notice->text()));
        QCOMPARE(v.page->text(), QStringLiteral("第 2 / 4 张"));
        // Far away, only the new neighbour is held.
        v.key(Qt::Key_End);
        QCOMPARE(v.photoSize(), QSize(60, 20));
        QTRY_COMPARE(held(v), QStringList{c});
        v.dialog->close();
        QVERIFY(v.dialog->readAheadHeld().isEmpty());

        frmScan::ReadAhead = false;
        const auto restore = qScopeGuard([] { frmScan::ReadAhead = true; });
        frmScan::PageIndex = 0;
        Viewer off = open({a, c}, 0);
        QCoreApplication::processEvents();
        QVERIFY(off.dialog->readAheadHeld().isEmpty());
        off.key(Qt::Key_PageDown);
        QCOMPARE(off.photoSize(), QSize(50, 20));
    }

    void printingIsOfferedOnlyThroughAHook()
    {
        Viewer v = open({m_small, m_wide}, 0);
        auto *print = testing::child<QPushButton>(v.dialog.get(), QStringLiteral("cmdPrint"));
        QCOMPARE(print->text(), QStringLiteral("打印病案..."));
        // Nobody said how to print: no button, and the key does nothing.
        QVERIFY(!print->isVisible());
        v.key(Qt::Key_P, Qt::ControlModifier);
        v.dialog->cmdPrint_Click();

        QList<QWidget *> parents;
        v.dialog->setPrintHook([&parents](QWidget *parent) { parents << parent; });
        QVERIFY(print->isVisible());
        // Inside the window, clear of the paging buttons and of 关 闭.
        QVERIFY(v.dialog->rect().contains(print->geometry()));
        for (int i = 0; i < 5; ++i)
            QVERIFY(!print->geometry().intersects(v.button(i)->geometry()));
        v.key(Qt::Key_PageDown);
        QTest::mouseClick(print, Qt::LeftButton);
        QCOMPARE(parents, QList<QWidget *>{v.dialog.get()});
        v.key(Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(parents.size(), 2);
        // Printing leaves the viewer where it was.
        QVERIFY(v.dialog->isVisible());
        QCOMPARE(frmScan::PageIndex, 1);
        QCOMPARE(v.page->text(), QStringLiteral("第 2 / 2 张"));

        v.dialog->setPrintHook({});
        QVERIFY(!print->isVisible());
        QTest::mouseClick(print, Qt::LeftButton);
        QCOMPARE(parents.size(), 2);
    }
};

QTEST_MAIN(TestScanView)
#include "tst_scan_view.moc"
