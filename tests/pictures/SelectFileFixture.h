#pragma once
// What the tests of the picture chooser (SelectFile) share: a scratch folder that stands for
// the drives, the process standing in the folder of pictures on the first, and the chooser's
// controls by name.
//
// A test class derives from it and has its init() and cleanup(): by default every test
// starts from a picture of each type the chooser lists (fillWithEveryType()), on the first
// of three drives; a program that starts from other files overrides setUp().
#include "ScriptedPlatform.h"
#include "TempArchive.h"

#include "pictures/FileSystemLists.h"
#include "pictures/PictureFetch.h"
#include "pictures/SelectFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <memory>

namespace testing {

class SelectFileFixture : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_volume;  // stands for a drive
    QString m_other;   // a second drive, listed when setUp() is asked for it
    QString m_absent;  // a drive without a medium
    QString m_pics;    // the folder the process stands in, on m_volume
    QString m_startFolder;

    // Before each test: the drives and the files it starts from.
    virtual void setUp()
    {
        setUpDrives(true, QStringLiteral("DATA"));
        fillWithEveryType();
    }

    // Whether the picture a click shows is looked at right after it, rather than waited for
    // from the loader thread.
    virtual bool picturesAtOnce() const { return true; }

    // The drives as the chooser lists them: m_volume (labelled as given), m_other when
    // secondDrive, then m_absent, which is not there.
    void setUpDrives(bool secondDrive, const QString &label = QString())
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir top(m_dir->path());
        m_volume = top.filePath(QStringLiteral("vol"));
        m_other = top.filePath(QStringLiteral("vol2"));
        m_absent = top.filePath(QStringLiteral("cdrom"));
        m_pics = QDir(m_volume).filePath(QStringLiteral("pics"));
        QDir().mkpath(m_pics);
        QList<pictures::Volume> drives = {{m_volume, label}};
        if (secondDrive) {
            QDir().mkpath(m_other);
            drives.append({m_other, QString()});
        }
        drives.append({m_absent, QString()});
        pictures::setVolumeSource([drives] { return drives; });
        QDir::setCurrent(m_pics);
    }

    // A picture of every type the chooser lists, letter case mixed, and what it must leave
    // off the list: a hidden picture, a folder named like a picture, a text file; a folder
    // sub; one picture on the second drive.
    void fillWithEveryType()
    {
        QDir(m_pics).mkpath(QStringLiteral("sub"));
        QDir(m_pics).mkpath(QStringLiteral("album.bmp")); // a folder: never a file of the list
        makePicture(m_pics, QStringLiteral("A.BMP"), 20, 10, "BMP");
        makePicture(m_pics, QStringLiteral("b.jpg"), 100, 50, "JPEG");
        makePicture(m_pics, QStringLiteral("c.Gif"), 30, 30, "PNG"); // its bytes decide
        makePicture(m_pics, QStringLiteral("e.ico"), 16, 16, "ICO");
        makePicture(m_pics, QStringLiteral(".hidden.bmp"), 5, 5, "BMP");
        writeText(QDir(m_pics).filePath(QStringLiteral("f.WMF")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("g.emf")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("h.rle")), "not read here");
        writeText(QDir(m_pics).filePath(QStringLiteral("readme.txt")), "words");
        makePicture(m_other, QStringLiteral("x.bmp"), 8, 8, "BMP");
    }


    // The chooser as the program opens it: starting where the process stands.
    std::unique_ptr<SelectFile> open(QLineEdit *target = nullptr)
    {
        auto w = std::make_unique<SelectFile>(target);
        w->show();
        return w;
    }

    template <typename T>
    static T *c(QWidget *w, const char *name)
    {
        return child<T>(w, QString::fromUtf8(name));
    }

    static QLineEdit *text1(QWidget *w) { return c<QLineEdit>(w, "Text1"); }
    static QListWidget *file1(QWidget *w) { return c<QListWidget>(w, "File1"); }
    static QLabel *picture(QWidget *w) { return c<QLabel>(w, "DisplayPicture"); }
    static QScrollBar *hbar(QWidget *w) { return c<QScrollBar>(w, "HScroll1"); }
    static QScrollBar *vbar(QWidget *w) { return c<QScrollBar>(w, "VScroll1"); }
    static QPushButton *corner(QWidget *w) { return c<QPushButton>(w, "Command3"); }

    static void clickFile(QWidget *w, const QString &name)
    {
        QListWidget *list = file1(w);
        const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(name));
        list->scrollToItem(found.first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
    }

    static void openFolder(QWidget *w, const QString &name)
    {
        auto *tree = c<QTreeWidget>(w, "Dir1");
        const QList<QTreeWidgetItem *> found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(found.size() == 1, qPrintable(name));
        tree->scrollToItem(found.first());
        doubleClick(tree->viewport(), tree->visualItemRect(found.first()).center());
    }

    // Shows the preview, auto-sized or fitted, of one picture made for the test.
    static void preview(QWidget *w, const QString &name, bool autoSize)
    {
        c<QCheckBox>(w, "Check1")->setChecked(true);
        clickFile(w, name);
        c<QCheckBox>(w, "Check2")->setChecked(autoSize);
    }

    // Nothing chosen: no path, 确定 and 自动大小 disabled, no picture.
    static bool cleared(QWidget *w)
    {
        return text1(w)->text().isEmpty() && !c<QPushButton>(w, "Command1")->isEnabled() &&
               !c<QCheckBox>(w, "Check2")->isEnabled() && picture(w)->pixmap().isNull();
    }

    static void writeText(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QStringList items(QListWidget *list)
    {
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->item(i)->text();
        return names;
    }

    // Press, release, double click, release: what an operator's double click sends.
    static void doubleClick(QWidget *viewport, QPoint at)
    {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    }

    static void mouse(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::LeftButton)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                      : type == QEvent::MouseMove       ? Qt::MouseButtons(Qt::NoButton)
                                                                         : Qt::MouseButtons(button);
        QMouseEvent e(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }

private slots:
    void initTestCase()
    {
        if (picturesAtOnce())
            pictures::setPatienceForTests(-1);
        isolateSettings();
        m_startFolder = QDir::currentPath();
    }

    void init()
    {
        isolateSettings();
        setUp();
    }

    void cleanup()
    {
        QDir::setCurrent(m_startFolder);
        pictures::setVolumeSource({});
        pictures::setFileRemover({});
        m_dir.reset();
    }
};

} // namespace testing
