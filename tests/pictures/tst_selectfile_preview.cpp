// The picture chooser's preview: fitted or at its own size, the bars, the corner button,
// panning by dragging, the size read-out, metafiles, slow pictures and pictures that cannot
// be shown.
#include "MetafileSamples.h"
#include "SelectFileFixture.h"
#include "SlowConverter.h"

#include "platform/Twips.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

constexpr int kFrameW = 2925; // the preview frame, in twips
constexpr int kFrameH = 3645;

} // namespace

class TestSelectFilePreview : public testing::SelectFileFixture {
    Q_OBJECT

private slots:
    void previewFitted()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *check1 = c<QCheckBox>(w.get(), "Check1");
        // With no file chosen the box only widens the window.
        check1->setChecked(true);
        QCOMPARE(w->width(), platform::tw(SelectFile::kWideWidth - 90));
        QVERIFY(c<QFrame>(w.get(), "Picture1")->geometry().right() < w->width());
        QVERIFY(picture(w.get())->pixmap().isNull());

        // The picture is drawn into the whole frame, whatever its own shape.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QCOMPARE(picture(w.get())->size(), QSize(platform::tw(kFrameW), platform::tw(kFrameH)));
        QVERIFY(picture(w.get())->hasScaledContents());
        QCOMPARE(picture(w.get())->pixmap().size(), QSize(100, 50));
        QVERIFY(hbar(w.get())->isHidden() && vbar(w.get())->isHidden() && corner(w.get())->isHidden());

        // Off again: narrow, and the picture goes.
        check1->setChecked(false);
        QCOMPARE(w->width(), platform::tw(SelectFile::kNarrowWidth - 90));
        QVERIFY(picture(w.get())->pixmap().isNull());
        QCOMPARE(text1(w.get())->text().isEmpty(), false);
        // On again with a file chosen: the picture comes back at once.
        check1->setChecked(true);
        QCOMPARE(picture(w.get())->pixmap().size(), QSize(100, 50));
        QVERIFY(platform.boxes.isEmpty());
    }

    // Fitted, a picture is read no larger than the frame shows it; 自动大小 reads it whole.
    void fittedPreviewIsReadAtTheFramesSize()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("big.jpg"), 3000, 2000, "JPEG");
        testing::makePicture(m_pics, QStringLiteral("narrow.bmp"), 100, 900, "BMP");
        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        clickFile(w.get(), QStringLiteral("big.jpg"));
        QCOMPARE(picture(w.get())->pixmap().size(), QSize(platform::tw(kFrameW), platform::tw(kFrameH)));
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        QCOMPARE(picture(w.get())->pixmap().size(), QSize(3000, 2000));
        QCOMPARE(picture(w.get())->size(), QSize(3000, 2000));
        c<QCheckBox>(w.get(), "Check2")->setChecked(false);
        // Only the side larger than the frame is reduced.
        clickFile(w.get(), QStringLiteral("narrow.bmp"));
        QCOMPARE(picture(w.get())->pixmap().size(), QSize(100, platform::tw(kFrameH)));
        QVERIFY(platform.boxes.isEmpty());
    }

    void autoSizeLayout_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("h");
        QTest::addColumn<bool>("v");
        QTest::newRow("smaller") << 100 << 100 << false << false;
        QTest::newRow("frame size") << 195 << 243 << false << false;
        QTest::newRow("a pixel wider") << 196 << 100 << true << false;
        QTest::newRow("a pixel higher") << 100 << 244 << false << true;
        QTest::newRow("3000 pixels") << 3000 << 3000 << true << true;
        QTest::newRow("old 16-bit limit") << 2361 << 2409 << true << true;
    }

    void autoSizeLayout()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, h);
        QFETCH(bool, v);
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("p.bmp"), width, height, "BMP");
        auto w = open();
        preview(w.get(), QStringLiteral("p.bmp"), true);
        // Every size loads: the bars count in the full integer range.
        QVERIFY(platform.boxes.isEmpty());
        QLabel *pic = picture(w.get());
        QVERIFY(!pic->hasScaledContents());
        QCOMPARE(pic->size(), QSize(width, height));
        QCOMPARE(pic->pos(), QPoint(0, 0));
        QCOMPARE(!hbar(w.get())->isHidden(), h);
        QCOMPARE(!vbar(w.get())->isHidden(), v);
        QCOMPARE(!corner(w.get())->isHidden(), h || v);
        QCOMPARE(hbar(w.get())->value(), 0);
        QCOMPARE(vbar(w.get())->value(), 0);
        if (h)
            QCOMPARE(hbar(w.get())->maximum(), width * 15 - kFrameW + 280);
        if (v)
            QCOMPARE(vbar(w.get())->maximum(), height * 15 - kFrameH + 280);
        // The last strip comes out from under the bars at the end of the range.
        if (h) {
            hbar(w.get())->setValue(hbar(w.get())->maximum());
            QCOMPARE(pic->x(), -qRound((width * 15 - kFrameW + 280) / 15.0));
        }

        // Back to fitted: frame size, top-left, no bars.
        c<QCheckBox>(w.get(), "Check2")->setChecked(false);
        QCOMPARE(pic->size(), QSize(platform::tw(kFrameW), platform::tw(kFrameH)));
        QCOMPARE(pic->pos(), QPoint(0, 0));
        QVERIFY(pic->hasScaledContents());
        QVERIFY(hbar(w.get())->isHidden() && vbar(w.get())->isHidden() && corner(w.get())->isHidden());
    }

    void metafilesPreviewLikeAnyPicture()
    {
        testing::ScriptedPlatform platform;
        writeText(QDir(m_pics).filePath(QStringLiteral("drawing.wmf")), samples::wmf(300, 260));
        writeText(QDir(m_pics).filePath(QStringLiteral("drawing.emf")), samples::emf(250, 300));
        auto w = open();
        c<QComboBox>(w.get(), "SelectType")->setCurrentIndex(5);
        preview(w.get(), QStringLiteral("drawing.wmf"), true);
        QCOMPARE(picture(w.get())->size(), QSize(300, 260));
        QVERIFY(!hbar(w.get())->isHidden() && !vbar(w.get())->isHidden());
        c<QComboBox>(w.get(), "SelectType")->setCurrentIndex(6);
        clickFile(w.get(), QStringLiteral("drawing.emf"));
        QCOMPARE(picture(w.get())->size(), QSize(250, 300));
        QVERIFY(!hbar(w.get())->isHidden() && !vbar(w.get())->isHidden());
        QVERIFY(platform.boxes.isEmpty());
    }

    // Clicking a picture that takes long leaves the chooser free: the hourglass shows,
    // the next file clicked is previewed, and the slow one is called off.
    void aSlowPictureLeavesTheChooserFree()
    {
        testing::ScriptedPlatform platform;
        const testing::SlowConverter converter(m_dir->path());
        const QString pidFile = converter.pidFile();
        writeText(QDir(m_pics).filePath(QStringLiteral("slow.wmf")), samples::wmf(300, 260));

        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        clickFile(w.get(), QStringLiteral("slow.wmf"));
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        QVERIFY(picture(w.get())->pixmap().isNull());
        QTRY_VERIFY(QFileInfo::exists(pidFile));
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_pics).filePath(QStringLiteral("b.jpg"))));
        QTRY_COMPARE(picture(w.get())->pixmap().size(), QSize(100, 50));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const QString proc = QStringLiteral("/proc/") + QString::fromLatin1(pid.readAll().trimmed());
        QTRY_VERIFY(!QFileInfo::exists(proc));
        QVERIFY(platform.boxes.isEmpty());
    }

    void autoSizeNeedsThePreview()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("big.bmp"), 400, 400, "BMP");
        auto w = open();
        clickFile(w.get(), QStringLiteral("big.bmp"));
        const QSize before = picture(w.get())->size();
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        QCOMPARE(picture(w.get())->size(), before);
        QVERIFY(hbar(w.get())->isHidden() && vbar(w.get())->isHidden());
        // Checking the preview now loads the picture at its own size.
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        QCOMPARE(picture(w.get())->size(), QSize(400, 400));
        QVERIFY(!hbar(w.get())->isHidden() && !vbar(w.get())->isHidden());
    }

    void cornerButton()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("big.bmp"), 3000, 3000, "BMP");
        auto w = open();
        preview(w.get(), QStringLiteral("big.bmp"), true);
        QScrollBar *hs = hbar(w.get());
        QScrollBar *vs = vbar(w.get());
        QPushButton *button = corner(w.get());

        button->click();
        QCOMPARE(hs->value(), 100);
        QCOMPARE(vs->value(), 100);
        QCOMPARE(picture(w.get())->pos(), QPoint(-7, -7)); // 100 twips, to the nearest pixel

        // Just short of the rule's bound a bar still moves; at the bound it stays. The
        // two bars are judged each on its own.
        hs->setValue(hs->maximum() - 101);
        vs->setValue(vs->maximum() - 100);
        button->click();
        QCOMPARE(hs->value(), hs->maximum() - 1);
        QCOMPARE(vs->value(), vs->maximum() - 100);
        button->click();
        QCOMPARE(hs->value(), hs->maximum() - 1);
        QCOMPARE(vs->value(), vs->maximum() - 100);
    }

    void dragPanning()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("wide.bmp"), 3000, 100, "BMP");
        auto w = open();
        preview(w.get(), QStringLiteral("wide.bmp"), true);
        QLabel *pic = picture(w.get());
        QScrollBar *hs = hbar(w.get());
        QScrollBar *vs = vbar(w.get());
        QVERIFY(!hs->isHidden() && vs->isHidden());
        const QImage up = c<QLabel>(w.get(), "picUP")->pixmap().toImage();
        const QImage down = c<QLabel>(w.get(), "picDown")->pixmap().toImage();

        // Moving without a held button pans nothing.
        mouse(pic, QEvent::MouseMove, QPointF(60, 20));
        QCOMPARE(hs->value(), 0);

        mouse(pic, QEvent::MouseButtonPress, QPointF(50, 20));
        QCOMPARE(pic->cursor().pixmap().toImage(), down);
        // Ten pixels right of the press: 150 twips, a fiftieth of it is 3.
        mouse(pic, QEvent::MouseMove, QPointF(60, 20));
        QCOMPARE(hs->value(), 3);
        // The press point stays: the same place pans again.
        mouse(pic, QEvent::MouseMove, QPointF(60, 20));
        QCOMPARE(hs->value(), 6);
        // The vertical step runs too, and is held by its bar's range of 0.
        mouse(pic, QEvent::MouseMove, QPointF(60, 40));
        QCOMPARE(hs->value(), 9);
        QCOMPARE(vs->value(), 0);
        QCOMPARE(pic->y(), 0);
        // Halves go to the even number: 9 + 1.5 is 10.5, shown as 10.
        mouse(pic, QEvent::MouseMove, QPointF(55, 20));
        QCOMPARE(hs->value(), 10);
        mouse(pic, QEvent::MouseMove, QPointF(55, 20)); // 11.5 to 12
        QCOMPARE(hs->value(), 12);

        // Toward the left the value stops short of 0.
        hs->setValue(2);
        mouse(pic, QEvent::MouseMove, QPointF(48, 20)); // 2 - 0.6 = 1.4: 1
        QCOMPARE(hs->value(), 1);
        mouse(pic, QEvent::MouseMove, QPointF(48, 20)); // 0.4 would round to 0: stays
        QCOMPARE(hs->value(), 1);
        mouse(pic, QEvent::MouseMove, QPointF(0, 20)); // below 0: stays
        QCOMPARE(hs->value(), 1);
        // The bar itself still reaches 0.
        hs->setValue(0);
        QCOMPARE(pic->x(), 0);

        // Toward the right it stops at the maximum.
        hs->setValue(hs->maximum() - 1);
        mouse(pic, QEvent::MouseMove, QPointF(52, 20)); // + 0.6: to the maximum
        QCOMPARE(hs->value(), hs->maximum());
        mouse(pic, QEvent::MouseMove, QPointF(52, 20)); // past it: stays
        QCOMPARE(hs->value(), hs->maximum());

        mouse(pic, QEvent::MouseButtonRelease, QPointF(52, 20));
        QCOMPARE(pic->cursor().pixmap().toImage(), up);
        hs->setValue(100);
        mouse(pic, QEvent::MouseMove, QPointF(200, 20));
        QCOMPARE(hs->value(), 100);

        // With no bar shown nothing pans, held button or not.
        c<QCheckBox>(w.get(), "Check2")->setChecked(false);
        mouse(pic, QEvent::MouseButtonPress, QPointF(50, 20));
        mouse(pic, QEvent::MouseMove, QPointF(150, 20));
        QCOMPARE(hs->value(), 100);
        mouse(pic, QEvent::MouseButtonRelease, QPointF(150, 20));
    }

    void sizeReadOut()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("wide.bmp"), 3000, 20, "BMP");
        auto w = open();
        QLabel *pic = picture(w.get());
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        mouse(pic, QEvent::MouseMove, QPointF(5, 5));
        QCOMPARE(pic->toolTip(), QStringLiteral("没有图片装载"));
        clickFile(w.get(), QStringLiteral("wide.bmp"));
        mouse(pic, QEvent::MouseMove, QPointF(5, 5));
        QCOMPARE(pic->toolTip(), QStringLiteral("要想显示图片大小，选取自动大小！"));
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        mouse(pic, QEvent::MouseMove, QPointF(5, 5));
        QCOMPARE(pic->toolTip(), QStringLiteral("图片：宽 3000 点、高 20 点"));
        c<QComboBox>(w.get(), "SelectType")->setCurrentIndex(1);
        mouse(pic, QEvent::MouseMove, QPointF(5, 5));
        QCOMPARE(pic->toolTip(), QStringLiteral("没有图片装载"));
    }

    void pictureThatCannotBeShown_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("autoSize");
        QTest::newRow("not a picture") << "broken.bmp" << QByteArray("this is text, not a bitmap") << false;
        QTest::newRow("empty") << "broken.bmp" << QByteArray() << true;
        QTest::newRow("truncated") << "broken.bmp" << QByteArray("BM\x36\x00\x00\x00", 6) << true;
        // A placeable metafile header and nothing after it.
        QTest::newRow("broken metafile") << "broken.wmf" << QByteArray("\xD7\xCD\xC6\x9A\x00\x00", 6) << false;
    }

    void pictureThatCannotBeShown()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, autoSize);
        testing::ScriptedPlatform platform;
        writeText(QDir(m_pics).filePath(name), bytes);
        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        clickFile(w.get(), QStringLiteral("b.jpg"));
        c<QCheckBox>(w.get(), "Check2")->setChecked(autoSize);
        QVERIFY(!picture(w.get())->pixmap().isNull());

        platform.answer(Answer::Ok);
        clickFile(w.get(), name);
        QCOMPARE(platform.boxes.size(), 1);
        const testing::RecordedBox box = platform.boxes.first();
        const QString path = QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(name));
        // The known message first, then which file and why.
        const QString head = QStringLiteral("图片出错，不能浏览！\n") + path + QLatin1Char('\n');
        QVERIFY2(box.text.startsWith(head), qPrintable(box.text));
        QVERIFY2(box.text.size() > head.size(), qPrintable(box.text));
        QCOMPARE(box.title, QStringLiteral("图片不能安装"));
        QCOMPARE(box.buttons, Buttons::Ok);
        QCOMPARE(box.icon, Icon::Critical);
        // The path stays chosen; the old picture is gone.
        QCOMPARE(text1(w.get())->text(), path);
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(picture(w.get())->pixmap().isNull());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void vanishedPicture()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("gone.bmp"), 10, 10, "BMP");
        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        QVERIFY(QFile::remove(QDir(m_pics).filePath(QStringLiteral("gone.bmp"))));
        platform.answer(Answer::Ok);
        clickFile(w.get(), QStringLiteral("gone.bmp"));
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(platform.boxes.first().text.startsWith(QStringLiteral("图片出错，不能浏览！")));
        QVERIFY(platform.boxes.first().text.contains(QStringLiteral("gone.bmp")));
    }
};

QTEST_MAIN(TestSelectFilePreview)
#include "tst_selectfile_preview.moc"
