#include "ScriptedPlatform.h"

#include "pictures/FileSystemLists.h"
#include "pictures/SelectPath.h"
#include "platform/Twips.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestSelectPath : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_volume;
    QString m_other;
    QString m_absent;
    QString m_start; // the folder the process stands in
    QString m_startFolder;

    std::unique_ptr<SelectPath> open(QLineEdit *target = nullptr, const QString &start = QString())
    {
        auto w = std::make_unique<SelectPath>(target, nullptr, start);
        w->show();
        return w;
    }

    template <typename T>
    T *c(QWidget *w, const char *name)
    {
        return testing::child<T>(w, QString::fromUtf8(name));
    }

    void openFolder(QWidget *w, const QString &name)
    {
        auto *tree = c<QTreeWidget>(w, "Dir1");
        const QList<QTreeWidgetItem *> found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(found.size() == 1, qPrintable(name));
        tree->scrollToItem(found.first());
        const QPoint at = tree->visualItemRect(found.first()).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
    }

    QString native(const QString &path) { return QDir::toNativeSeparators(QDir(path).absolutePath()); }

private slots:
    void initTestCase() { m_startFolder = QDir::currentPath(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir top(m_dir->path());
        m_volume = top.filePath(QStringLiteral("vol"));
        m_other = top.filePath(QStringLiteral("vol2"));
        m_absent = top.filePath(QStringLiteral("cdrom"));
        m_start = QDir(m_volume).filePath(QStringLiteral("data/backup"));
        QDir().mkpath(m_start);
        QDir().mkpath(QDir(m_start).filePath(QStringLiteral("2024")));
        QDir().mkpath(m_other);
        const QList<pictures::Volume> fake = {{m_volume, QString()}, {m_other, QString()}, {m_absent, QString()}};
        pictures::setVolumeSource([fake] { return fake; });
        QDir::setCurrent(m_start);
    }

    void cleanup()
    {
        QDir::setCurrent(m_startFolder);
        pictures::setVolumeSource({});
        m_dir.reset();
    }

    void opening()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("请选择路径"));
        auto *path = c<QLineEdit>(w.get(), "PathList");
        QVERIFY(path->isReadOnly());
        QCOMPARE(path->text(), native(m_start));
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_start).absolutePath());
        QCOMPARE(c<pictures::DriveList>(w.get(), "Drive1")->currentIndex(), 0);
        auto *ok = c<QPushButton>(w.get(), "OK");
        auto *nook = c<QPushButton>(w.get(), "NOOK");
        QCOMPARE(ok->text(), QStringLiteral("确定(&O)"));
        QCOMPARE(nook->text(), QStringLiteral("取消(&C)"));
        QVERIFY(ok->isDefault());
        QCOMPARE(w->focusWidget(), ok);
        QCOMPARE(ok->nextInFocusChain(), nook);
        auto *label = c<QLabel>(w.get(), "Label1");
        QCOMPARE(label->text(), QStringLiteral("请选择要备份的数据磁盘和路径,然后按确定按钮,否则按取消按钮。"));
        QVERIFY(label->wordWrap());
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(label->parentWidget(), c<QFrame>(w.get(), "Frame1"));
        // The wrapped text fits its box.
        QVERIFY(label->heightForWidth(label->width()) <= label->height());
        QVERIFY(platform.boxes.isEmpty());

        // A start folder of the caller's wins; one that has gone gives way to the current folder.
        auto other = open(nullptr, m_other);
        QCOMPARE(c<QLineEdit>(other.get(), "PathList")->text(), native(m_other));
        QCOMPARE(c<pictures::DriveList>(other.get(), "Drive1")->currentIndex(), 1);
        auto gone = open(nullptr, m_absent);
        QCOMPARE(c<QLineEdit>(gone.get(), "PathList")->text(), native(m_start));
    }

    void pathMirrorsTheFolderList()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *path = c<QLineEdit>(w.get(), "PathList");
        openFolder(w.get(), QStringLiteral("2024"));
        QCOMPARE(path->text(), native(QDir(m_start).filePath(QStringLiteral("2024"))));
        openFolder(w.get(), QStringLiteral("data"));
        QCOMPARE(path->text(), native(QDir(m_volume).filePath(QStringLiteral("data"))));

        // A drive's top folder; the file system's root keeps its one separator.
        c<QComboBox>(w.get(), "Drive1")->setCurrentIndex(1);
        QCOMPARE(path->text(), native(m_other));
        QVERIFY(!path->text().endsWith(QDir::separator()));
        c<pictures::FolderList>(w.get(), "Dir1")->setPath(QDir::rootPath());
        QCOMPARE(path->text(), QDir::toNativeSeparators(QDir::rootPath()));
        QVERIFY(path->text().endsWith(QDir::separator()));
        QVERIFY(platform.boxes.isEmpty());
    }

    void driveWithoutMedium()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *drive = c<pictures::DriveList>(w.get(), "Drive1");
        auto *path = c<QLineEdit>(w.get(), "PathList");
        platform.answer(Answer::Retry);
        platform.answer(Answer::Retry);
        platform.answer(Answer::Cancel);
        drive->setCurrentIndex(2);
        QCOMPARE(platform.boxes.size(), 3);
        for (const testing::RecordedBox &box : platform.boxes) {
            QCOMPARE(box.text, QDir::toNativeSeparators(m_absent) + QStringLiteral(" 驱动器没有准备好！"));
            QCOMPARE(box.title, QStringLiteral("驱动器没有准备好！"));
            QCOMPARE(box.buttons, Buttons::RetryCancel);
            QCOMPARE(box.icon, Icon::Critical);
        }
        QCOMPARE(drive->currentIndex(), 0);
        QCOMPARE(path->text(), native(m_start));
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_start).absolutePath());
    }

    void resultAndCancel()
    {
        testing::ScriptedPlatform platform;
        QLineEdit Text1;
        Text1.setText(QStringLiteral("D:\\old"));
        {
            auto w = open(&Text1);
            openFolder(w.get(), QStringLiteral("2024"));
            c<QPushButton>(w.get(), "NOOK")->click();
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(Text1.text(), QStringLiteral("D:\\old"));
        }
        {
            auto w = open(&Text1);
            QTest::keyClick(w.get(), Qt::Key_Escape);
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(Text1.text(), QStringLiteral("D:\\old"));
        }
        {
            auto w = open(&Text1);
            openFolder(w.get(), QStringLiteral("2024"));
            // Enter on the default button hands the path over, unchanged.
            QTest::keyClick(c<QPushButton>(w.get(), "OK"), Qt::Key_Return);
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(Text1.text(), native(QDir(m_start).filePath(QStringLiteral("2024"))));
            QCOMPARE(w->chosenPath(), Text1.text());
        }
    }

    void choosePathRunsTheChooser()
    {
        testing::ScriptedPlatform platform;
        platform.onModal = [](QDialog &d) {
            testing::child<QPushButton>(&d, QStringLiteral("OK"))->click();
            return d.result();
        };
        QCOMPARE(pictures::choosePath(nullptr, m_other), native(m_other));
        QCOMPARE(pictures::choosePath(nullptr), native(m_start));
        QCOMPARE(platform.modals, (QStringList{QStringLiteral("SelectPath"), QStringLiteral("SelectPath")}));
        platform.onModal = [](QDialog &) { return int(QDialog::Rejected); };
        QVERIFY(pictures::choosePath(nullptr, m_other).isEmpty());
    }

    void mountedVolumes()
    {
        pictures::setVolumeSource({});
        const QList<pictures::Volume> list = pictures::volumes();
        QVERIFY(!list.isEmpty());
        QCOMPARE(list.first().root, QDir::rootPath());
        for (const pictures::Volume &v : list) {
            QVERIFY2(!v.root.startsWith(QStringLiteral("/proc")) && !v.root.startsWith(QStringLiteral("/sys")),
                     qPrintable(v.root));
            QVERIFY2(QFileInfo(v.root).isDir(), qPrintable(v.root));
        }
    }

    void screenshot()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectPath")));
        for (const char *name : {"OK", "NOOK"}) {
            auto *b = c<QPushButton>(w.get(), name);
            QVERIFY2(b->width() >= b->sizeHint().width() - 10, name);
        }
        // Everything lies inside the window.
        for (QWidget *child : w->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (!child->isHidden())
                QVERIFY2(w->rect().contains(child->geometry()), qPrintable(child->objectName()));
    }
};

QTEST_MAIN(TestSelectPath)
#include "tst_selectpath.moc"
