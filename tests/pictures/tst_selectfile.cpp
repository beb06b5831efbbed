#include "MetafileSamples.h"
#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "pictures/PictureFetch.h"

#include "pictures/FileSystemLists.h"
#include "pictures/Metafile.h"
#include "pictures/SelectFile.h"
#include "platform/Twips.h"
#include "store/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QScopeGuard>
#include <QTreeWidget>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

constexpr int kFrameW = 2925; // the preview frame, in twips
constexpr int kFrameH = 3645;

void writeText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList items(QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

// Press, release, double click, release: what an operator's double click sends.
void doubleClick(QWidget *viewport, QPoint at)
{
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

void mouse(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                  : type == QEvent::MouseMove       ? Qt::MouseButtons(Qt::NoButton)
                                                                     : Qt::MouseButtons(button);
    QMouseEvent e(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestSelectFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_volume;  // stands for a drive
    QString m_other;   // a second drive
    QString m_absent;  // a drive without a medium
    QString m_pics;    // the folder the process stands in
    QString m_startFolder;

    std::unique_ptr<SelectFile> open(QLineEdit *target = nullptr)
    {
        auto w = std::make_unique<SelectFile>(target);
        w->show();
        return w;
    }

    template <typename T>
    T *c(QWidget *w, const char *name)
    {
        return testing::child<T>(w, QString::fromUtf8(name));
    }

    QLineEdit *text1(QWidget *w) { return c<QLineEdit>(w, "Text1"); }
    QListWidget *file1(QWidget *w) { return c<QListWidget>(w, "File1"); }
    QLabel *picture(QWidget *w) { return c<QLabel>(w, "DisplayPicture"); }
    QScrollBar *hbar(QWidget *w) { return c<QScrollBar>(w, "HScroll1"); }
    QScrollBar *vbar(QWidget *w) { return c<QScrollBar>(w, "VScroll1"); }
    QPushButton *corner(QWidget *w) { return c<QPushButton>(w, "Command3"); }

    void clickFile(QWidget *w, const QString &name)
    {
        QListWidget *list = file1(w);
        const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(name));
        list->scrollToItem(found.first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
    }

    void openFolder(QWidget *w, const QString &name)
    {
        auto *tree = c<QTreeWidget>(w, "Dir1");
        const QList<QTreeWidgetItem *> found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(found.size() == 1, qPrintable(name));
        tree->scrollToItem(found.first());
        doubleClick(tree->viewport(), tree->visualItemRect(found.first()).center());
    }

    // Shows the preview, auto-sized or fitted, of one picture made for the test.
    void preview(QWidget *w, const QString &name, bool autoSize)
    {
        c<QCheckBox>(w, "Check1")->setChecked(true);
        clickFile(w, name);
        c<QCheckBox>(w, "Check2")->setChecked(autoSize);
    }

    bool cleared(QWidget *w)
    {
        return text1(w)->text().isEmpty() && !c<QPushButton>(w, "Command1")->isEnabled() &&
               !c<QCheckBox>(w, "Check2")->isEnabled() && picture(w)->pixmap().isNull();
    }

private slots:
    void initTestCase()
    {
        // What a click shows is looked at right after it.
        pictures::setPatienceForTests(-1);
        testing::isolateSettings();
        m_startFolder = QDir::currentPath();
    }

    void init()
    {
        testing::isolateSettings();
        m_dir = std::make_unique<QTemporaryDir>();
        QDir top(m_dir->path());
        m_volume = top.filePath(QStringLiteral("vol"));
        m_other = top.filePath(QStringLiteral("vol2"));
        m_absent = top.filePath(QStringLiteral("cdrom"));
        m_pics = QDir(m_volume).filePath(QStringLiteral("pics"));
        QDir().mkpath(m_pics);
        QDir().mkpath(m_other);
        QDir(m_pics).mkpath(QStringLiteral("sub"));
        QDir(m_pics).mkpath(QStringLiteral("album.bmp")); // a folder: never a file of the list
        testing::makePicture(m_pics, QStringLiteral("A.BMP"), 20, 10, "BMP");
        testing::makePicture(m_pics, QStringLiteral("b.jpg"), 100, 50, "JPEG");
        testing::makePicture(m_pics, QStringLiteral("c.Gif"), 30, 30, "PNG"); // its bytes decide
        testing::makePicture(m_pics, QStringLiteral("e.ico"), 16, 16, "ICO");
        testing::makePicture(m_pics, QStringLiteral(".hidden.bmp"), 5, 5, "BMP");
        writeText(QDir(m_pics).filePath(QStringLiteral("f.WMF")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("g.emf")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("h.rle")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("readme.txt")), "words");
        testing::makePicture(m_other, QStringLiteral("x.bmp"), 8, 8, "BMP");
        const QList<pictures::Volume> fake = {{m_volume, QStringLiteral("DATA")}, {m_other, QString()},
                                              {m_absent, QString()}};
        pictures::setVolumeSource([fake] { return fake; });
        QDir::setCurrent(m_pics);
    }

    void cleanup()
    {
        QDir::setCurrent(m_startFolder);
        pictures::setVolumeSource({});
        pictures::setFileRemover({});
        m_dir.reset();
    }

    void firstOpening()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("选择图片文件"));
        QCOMPARE(w->pos(), QPoint(0, 0));
        QCOMPARE(w->width(), platform::tw(SelectFile::kNarrowWidth - 90));
        // The preview frame lies beyond the narrow window's edge.
        QVERIFY(c<QFrame>(w.get(), "Picture1")->geometry().left() >= w->width());

        auto *type = c<QComboBox>(w.get(), "SelectType");
        const QStringList expected = {QStringLiteral("所有图片文件(*.*)"), QStringLiteral("位图文件|*.BMP"),
                                      QStringLiteral("压缩文件|*.JPG"),    QStringLiteral("GIF文件|*.GIF"),
                                      QStringLiteral("图标文件|*.ICO"),    QStringLiteral("WMF|*.WMF"),
                                      QStringLiteral("EMF|*.EMF"),         QStringLiteral("RLE|*.RLE")};
        QStringList shown;
        for (int i = 0; i < type->count(); ++i)
            shown << type->itemText(i);
        QCOMPARE(shown, expected);
        QCOMPARE(type->currentIndex(), 0);
        QVERIFY(!type->isEditable());

        QVERIFY(text1(w.get())->isReadOnly());
        QVERIFY(text1(w.get())->text().isEmpty());
        QVERIFY(!c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isDefault());
        QVERIFY(!c<QCheckBox>(w.get(), "Check1")->isChecked());
        QVERIFY(!c<QCheckBox>(w.get(), "Check2")->isChecked());
        QVERIFY(!c<QCheckBox>(w.get(), "Check2")->isEnabled());
        QVERIFY(hbar(w.get())->isHidden() && vbar(w.get())->isHidden() && corner(w.get())->isHidden());

        // The lists start where the process stands; every picture type, letter case
        // ignored; no folders, no hidden files, nothing else.
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_pics).absolutePath());
        QCOMPARE(c<pictures::DriveList>(w.get(), "Drive1")->drive(), QDir::toNativeSeparators(m_volume));
        QCOMPARE(items(file1(w.get())), (QStringList{QStringLiteral("A.BMP"), QStringLiteral("b.jpg"),
                                                     QStringLiteral("c.Gif"), QStringLiteral("e.ico"),
                                                     QStringLiteral("f.WMF"), QStringLiteral("g.emf"),
                                                     QStringLiteral("h.rle")}));
        // Our own pointer pictures, the released one over the preview.
        const QPixmap up = c<QLabel>(w.get(), "picUP")->pixmap();
        const QPixmap down = c<QLabel>(w.get(), "picDown")->pixmap();
        QVERIFY(!up.isNull() && !down.isNull());
        QVERIFY(up.toImage() != down.toImage());
        QCOMPARE(picture(w.get())->cursor().pixmap().toImage(), up.toImage());
        QVERIFY(platform.boxes.isEmpty());
    }

    void typePatterns_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("bmp") << 1 << "*.bmp" << QStringList{QStringLiteral("A.BMP")};
        QTest::newRow("jpg") << 2 << "*.jpg" << QStringList{QStringLiteral("b.jpg")};
        QTest::newRow("gif") << 3 << "*.gif" << QStringList{QStringLiteral("c.Gif")};
        QTest::newRow("ico") << 4 << "*.ico" << QStringList{QStringLiteral("e.ico")};
        QTest::newRow("wmf") << 5 << "*.wmf" << QStringList{QStringLiteral("f.WMF")};
        QTest::newRow("emf") << 6 << "*.emf" << QStringList{QStringLiteral("g.emf")};
        QTest::newRow("rle") << 7 << "*.rle" << QStringList{QStringLiteral("h.rle")};
        QTest::newRow("all") << 0 << "*.bmp;*.jpg;*.gif;*.ico;*.wmf;*.emf;*.rle"
                             << QStringList{QStringLiteral("A.BMP"), QStringLiteral("b.jpg"),
                                            QStringLiteral("c.Gif"), QStringLiteral("e.ico"),
                                            QStringLiteral("f.WMF"), QStringLiteral("g.emf"),
                                            QStringLiteral("h.rle")};
    }

    void typePatterns()
    {
        QFETCH(int, index);
        QFETCH(QString, pattern);
        QFETCH(QStringList, files);
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *type = c<QComboBox>(w.get(), "SelectType");
        // Start from another type, so that every row is a change.
        type->setCurrentIndex(index == 3 ? 4 : 3);
        type->setCurrentIndex(index);
        QCOMPARE(SelectFile::patternFor(type->itemText(index)), pattern);
        QCOMPARE(c<pictures::FileList>(w.get(), "File1")->pattern(), pattern);
        QCOMPARE(items(file1(w.get())), files);
        // A new file shows up when the type is chosen again: the list is read anew.
        testing::makePicture(m_pics, QStringLiteral("new.bmp"), 4, 4, "BMP");
        type->setCurrentIndex(index == 0 ? 1 : 0);
        QVERIFY(items(file1(w.get())).contains(QStringLiteral("new.bmp")));
        QVERIFY(SelectFile::patternFor(QStringLiteral("位图文件")).isEmpty());
        QVERIFY(SelectFile::patternFor(QStringLiteral("位图文件|*.bmp")).isEmpty());
    }

    void pathJoining()
    {
        // A root already ends in its separator; every other folder gets one inserted.
        QCOMPARE(pictures::joinPath(QStringLiteral("/"), QStringLiteral("a.bmp")), QStringLiteral("/a.bmp"));
        QCOMPARE(pictures::joinPath(QStringLiteral("C:\\"), QStringLiteral("a.bmp")), QStringLiteral("C:\\a.bmp"));
        QCOMPARE(pictures::joinPath(QStringLiteral("/photos"), QStringLiteral("a.bmp")),
                 QStringLiteral("/photos") + QDir::separator() + QStringLiteral("a.bmp"));

        testing::ScriptedPlatform platform;
        auto w = open();
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("b.jpg"))));
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(c<QCheckBox>(w.get(), "Check2")->isEnabled());
        // Without the preview nothing is loaded.
        QVERIFY(picture(w.get())->pixmap().isNull());

        // At the top of a volume the window goes through the same joining.
        auto *drive = c<QComboBox>(w.get(), "Drive1");
        drive->setCurrentIndex(1);
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_other).absolutePath());
        clickFile(w.get(), QStringLiteral("x.bmp"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_other).absoluteFilePath(QStringLiteral("x.bmp"))));
        QVERIFY(platform.boxes.isEmpty());
    }

    void everyWayOfEmptyingText1()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *check1 = c<QCheckBox>(w.get(), "Check1");
        check1->setChecked(true);

        // A type change.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        c<QComboBox>(w.get(), "SelectType")->setCurrentIndex(2);
        QVERIFY(cleared(w.get()));

        // A folder change, by a double click in the folder list.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        openFolder(w.get(), QStringLiteral("sub"));
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_pics).absoluteFilePath(QStringLiteral("sub")));
        QVERIFY(cleared(w.get()));
        QVERIFY(items(file1(w.get())).isEmpty());
        // Back up one level: the type chosen stays on the list.
        openFolder(w.get(), QStringLiteral("pics"));
        QCOMPARE(items(file1(w.get())), QStringList{QStringLiteral("b.jpg")});

        // A drive change.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        c<QComboBox>(w.get(), "Drive1")->setCurrentIndex(1);
        QVERIFY(cleared(w.get()));

        // A deletion.
        c<QComboBox>(w.get(), "Drive1")->setCurrentIndex(0);
        openFolder(w.get(), QStringLiteral("pics"));
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        platform.answer(Answer::Yes);
        w->DelFile_Click();
        QVERIFY(cleared(w.get()));
        QVERIFY(platform.boxes.size() == 1);
    }

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
        const QString pidFile = QDir(m_dir->path()).filePath(QStringLiteral("converter.pid"));
        const QString converter = QDir(m_dir->path()).filePath(QStringLiteral("never-ends.sh"));
        writeText(converter, "#!/bin/sh\necho $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 600\n");
        QFile::setPermissions(converter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, converter);
        pictures::setPatienceForTests(0);
        const auto restore = qScopeGuard([] {
            pictures::setPatienceForTests(-1);
            pictures::setConverterForTests(pictures::MetafileKind::Wmf, QString());
        });
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

    void deleteAnsweredNo()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        const QStringList before = items(file1(w.get()));
        // Nothing selected: the menu offers no deletion.
        w->File1_ContextMenu(QPoint(2, 2));
        QVERIFY(!c<QAction>(w.get(), "DelFile")->isEnabled());
        c<QMenu>(w.get(), "MenuEdit")->close();

        clickFile(w.get(), QStringLiteral("A.BMP"));
        w->File1_ContextMenu(QPoint(2, 2));
        QVERIFY(c<QAction>(w.get(), "DelFile")->isEnabled());
        QCOMPARE(c<QAction>(w.get(), "DelFile")->text(), QStringLiteral("删除(&D)"));
        QCOMPARE(c<QMenu>(w.get(), "MenuEdit")->title(), QStringLiteral("编辑"));
        c<QMenu>(w.get(), "MenuEdit")->close();

        const QString path = text1(w.get())->text();
        platform.answer(Answer::No);
        c<QAction>(w.get(), "DelFile")->trigger();
        QCOMPARE(platform.boxes.size(), 1);
        const testing::RecordedBox box = platform.boxes.first();
        QCOMPARE(box.text, QStringLiteral("真的要删除文件：(Y/N) \n\r") + path);
        QCOMPARE(box.title, QStringLiteral("删除文件"));
        QCOMPARE(box.buttons, Buttons::YesNo);
        QCOMPARE(box.icon, Icon::Critical);
        QCOMPARE(box.defaultButton, Answer::No);
        QVERIFY(QFile::exists(path));
        QCOMPARE(items(file1(w.get())), before);
        QCOMPARE(text1(w.get())->text(), path);
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());
    }

    void deleteAnsweredYes()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        clickFile(w.get(), QStringLiteral("A.BMP"));
        const QString path = text1(w.get())->text();
        platform.answer(Answer::Yes);
        c<QAction>(w.get(), "DelFile")->trigger();
        QVERIFY(!QFile::exists(path));
        QVERIFY(!items(file1(w.get())).contains(QStringLiteral("A.BMP")));
        QCOMPARE(items(file1(w.get())).size(), 6);
        QVERIFY(cleared(w.get()));
        QVERIFY(file1(w.get())->selectedItems().isEmpty());
        QCOMPARE(platform.boxes.size(), 1);
        // The other files are where they were.
        QVERIFY(QFile::exists(QDir(m_pics).filePath(QStringLiteral("b.jpg"))));
    }

    void deleteThatFails()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        clickFile(w.get(), QStringLiteral("b.jpg"));
        const QString path = text1(w.get())->text();
        const QStringList before = items(file1(w.get()));
        // Behind the list's back the file has become a folder with something in it.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
        writeText(QDir(path).filePath(QStringLiteral("keep.txt")), "kept");

        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        c<QAction>(w.get(), "DelFile")->trigger();
        QCOMPARE(platform.boxes.size(), 2);
        const testing::RecordedBox box = platform.boxes.at(1);
        QCOMPARE(box.text, QStringLiteral("删除文件错误，文件被打开或共享"));
        QCOMPARE(box.title, QStringLiteral("警告"));
        QCOMPARE(box.buttons, Buttons::Ok);
        QCOMPARE(box.icon, Icon::Critical);
        QVERIFY(QFile::exists(QDir(path).filePath(QStringLiteral("keep.txt"))));
        QCOMPARE(text1(w.get())->text(), path);
        QCOMPARE(items(file1(w.get())), before);
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());

        // A file that has simply gone since the list was read fails the same way.
        clickFile(w.get(), QStringLiteral("c.Gif"));
        QVERIFY(QFile::remove(text1(w.get())->text()));
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        c<QAction>(w.get(), "DelFile")->trigger();
        QCOMPARE(platform.boxes.size(), 4);
        QCOMPARE(platform.boxes.at(3).title, QStringLiteral("警告"));
        QVERIFY(!text1(w.get())->text().isEmpty());
    }

    void driveWithoutMedium()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *drive = c<pictures::DriveList>(w.get(), "Drive1");
        auto *dir = c<pictures::FolderList>(w.get(), "Dir1");
        clickFile(w.get(), QStringLiteral("b.jpg"));
        const QString folder = dir->path();

        // Retry asks again; Cancel goes back to the drive of the folder on show.
        platform.answer(Answer::Retry);
        platform.answer(Answer::Cancel);
        drive->setCurrentIndex(2);
        QCOMPARE(platform.boxes.size(), 2);
        for (const testing::RecordedBox &box : platform.boxes) {
            QCOMPARE(box.text, QDir::toNativeSeparators(m_absent) + QStringLiteral(" 驱动器没有准备好！"));
            QCOMPARE(box.title, QStringLiteral("驱动器没有准备好！"));
            QCOMPARE(box.buttons, Buttons::RetryCancel);
            QCOMPARE(box.icon, Icon::Critical);
            QCOMPARE(box.defaultButton, Answer::Retry);
        }
        QCOMPARE(drive->currentIndex(), 0);
        QCOMPARE(dir->path(), folder);
        QVERIFY(cleared(w.get()));
        // The list keeps a selection, but with no path there is nothing to delete.
        w->File1_ContextMenu(QPoint(2, 2));
        QVERIFY(!c<QAction>(w.get(), "DelFile")->isEnabled());
        c<QMenu>(w.get(), "MenuEdit")->close();
        w->DelFile_Click();
        QCOMPARE(platform.boxes.size(), 2);

        // The medium goes in while the box is up: Retry then finds it.
        int asked = 0;
        platform::setMessageHandler([&](QWidget *, const platform::MessageRequest &) {
            ++asked;
            QDir().mkpath(m_absent);
            return Answer::Retry;
        });
        drive->setCurrentIndex(2);
        QCOMPARE(asked, 1);
        QCOMPARE(dir->path(), QDir(m_absent).absolutePath());
        QCOMPARE(drive->currentIndex(), 2);
    }

    void resultAndCancel()
    {
        testing::ScriptedPlatform platform;
        QLineEdit field;
        field.setText(QStringLiteral("before"));
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            w->reject(); // Esc, 取消 and the close box end here
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(field.text(), QStringLiteral("before"));
            QVERIFY(w->chosenPath().isEmpty());
        }
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            QTest::keyClick(c<QPushButton>(w.get(), "Command2"), Qt::Key_Escape);
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(field.text(), QStringLiteral("before"));
        }
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            const QString chosen = text1(w.get())->text();
            QTest::mouseClick(c<QPushButton>(w.get(), "Command1"), Qt::LeftButton);
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), chosen);
        }
        {
            // A double click on a file chooses it.
            field.clear();
            auto w = open(&field);
            QListWidget *list = file1(w.get());
            const QRect r = list->visualItemRect(list->findItems(QStringLiteral("e.ico"), Qt::MatchExactly).first());
            doubleClick(list->viewport(), r.center());
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("e.ico"))));
        }
        {
            // A double click on the preview chooses only while there is a choice.
            field.clear();
            auto w = open(&field);
            c<QCheckBox>(w.get(), "Check1")->setChecked(true);
            mouse(picture(w.get()), QEvent::MouseButtonDblClick, QPointF(10, 10));
            QVERIFY(w->isVisible());
            clickFile(w.get(), QStringLiteral("b.jpg"));
            mouse(picture(w.get()), QEvent::MouseButtonDblClick, QPointF(10, 10));
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), text1(w.get())->text());
        }
    }

    void choosePictureRunsTheChooser()
    {
        testing::ScriptedPlatform platform;
        platform.onModal = [this](QDialog &d) {
            d.show();
            clickFile(&d, QStringLiteral("A.BMP"));
            testing::child<QPushButton>(&d, QStringLiteral("Command1"))->click();
            return d.result();
        };
        QCOMPARE(pictures::choosePicture(nullptr),
                 QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("A.BMP"))));
        QCOMPARE(platform.modals, QStringList{QStringLiteral("SelectFile")});
        // A start folder of the caller's; one that has gone gives way to the current folder.
        platform.onModal = [this](QDialog &d) {
            d.show();
            clickFile(&d, QStringLiteral("x.bmp"));
            testing::child<QPushButton>(&d, QStringLiteral("Command1"))->click();
            return d.result();
        };
        QCOMPARE(pictures::choosePicture(nullptr, m_other),
                 QDir::toNativeSeparators(QDir(m_other).absoluteFilePath(QStringLiteral("x.bmp"))));
        QString startedIn;
        platform.onModal = [&startedIn](QDialog &d) {
            startedIn = testing::child<pictures::FolderList>(&d, QStringLiteral("Dir1"))->path();
            return int(QDialog::Rejected);
        };
        QVERIFY(pictures::choosePicture(nullptr, m_absent).isEmpty());
        QCOMPARE(startedIn, QDir(m_pics).absolutePath());
        QCOMPARE(platform.modals.size(), 3);
    }

    void positionIsKept()
    {
        testing::ScriptedPlatform platform;
        {
            auto w = open();
            w->move(120, 45);
            w->reject();
        }
        QCOMPARE(settings::read(QStringLiteral("SelectPhoto"), QStringLiteral("Left")), QStringLiteral("1800"));
        QCOMPARE(settings::read(QStringLiteral("SelectPhoto"), QStringLiteral("Top")), QStringLiteral("675"));
        auto w = open();
        QCOMPARE(w->pos(), QPoint(120, 45));
    }

    void screenshots()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("photo.bmp"), 600, 400, "BMP");
        auto w = open();
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile")));
        preview(w.get(), QStringLiteral("photo.bmp"), false);
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile-preview")));
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile-autosize")));
        // Every caption has the room it needs.
        for (const char *name : {"Label1", "Check1", "Check2"}) {
            QWidget *control = c<QWidget>(w.get(), name);
            QVERIFY2(control->width() >= control->sizeHint().width(), name);
        }
        for (const char *name : {"Command1", "Command2"}) {
            auto *b = c<QPushButton>(w.get(), name);
            QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(b->text()), name);
        }
    }
};

QTEST_MAIN(TestSelectFile)
#include "tst_selectfile.moc"
