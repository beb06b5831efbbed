// Deleting a file from the picture chooser's menu: the question, a No, a Yes, and a file
// that cannot be deleted.
#include "SelectFileFixture.h"

#include <QAction>
#include <QMenu>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestSelectFileDelete : public testing::SelectFileFixture {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(TestSelectFileDelete)
#include "tst_selectfile_delete.moc"
