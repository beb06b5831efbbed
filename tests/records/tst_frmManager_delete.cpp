// Deleting a record from the browser: the question and both answers, the files it named left
// on the disk, a deletion the store fails, records that share a number, a record without one.
#include "BrowserFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::childTexts;
using testing::typeNode;

class TestBrowserDelete : public testing::BrowserFixture {
    Q_OBJECT

private slots:
    void deletionAnsweredNoThenYes()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("肝炎病例"),
                          QStringLiteral("/a.doc"), QString(), {QStringLiteral("/p1.jpg"), QStringLiteral("/p2.jpg")});
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("肝炎病例"));
        app::SearchFilter.text = QStringLiteral("肝");
        app::SearchFilter.inName = true;
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));

        platform.answer(Answer::No);
        testing::child<QAction>(w.get(), "MnuDeleteFile")->trigger();
        QCOMPARE(platform.boxes.size(), 1);
        const testing::RecordedBox &box = platform.boxes[0];
        QCOMPARE(box.text, QStringLiteral("真的要删除病案［肝炎病例］吗？     \r\n [是/否]？     "));
        QCOMPARE(box.title, QStringLiteral("删除后将不能恢复!"));
        QCOMPARE(box.buttons, Buttons::YesNo);
        QCOMPARE(box.icon, Icon::Critical);
        QCOMPARE(box.defaultButton, Answer::No);
        QCOMPARE(archive.count(QStringLiteral("Detail")), 2);
        QCOMPARE(archive.count(QStringLiteral("photo")), 2);
        QCOMPARE(w->recordNumber(), QStringLiteral("240101080000"));

        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(archive.count(QStringLiteral("Detail"), QStringLiteral("\"病案号\" = '240101080000'")), 0);
        QCOMPARE(archive.count(QStringLiteral("photo")), 0);
        QCOMPARE(archive.count(QStringLiteral("Detail")), 1); // same name, other number: kept
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(w->recordNumber(), QString());
        QCOMPARE(w->recordCaption(), QStringLiteral("病案库"));
        QCOMPARE(field(w.get(), 1), QString());
        QCOMPARE(w->photoList()->count(), 0);
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 1);
        QCOMPARE(states(w.get()), QStringLiteral("00001 0001"));
    }

    void deletionLeavesTheFilesOnTheDisk()
    {
        // The archive holds paths only: its rows go, the files they named stay.
        testing::ScriptedPlatform platform;
        QTemporaryDir files;
        const QString photo = testing::makePicture(files.path(), QStringLiteral("p.png"), 8, 8);
        const QString attached = files.filePath(QStringLiteral("a.txt"));
        {
            QFile f(attached);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), attached,
                          QString(), {photo});
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QCOMPARE(archive.count(QStringLiteral("Detail")), 0);
        QCOMPARE(archive.count(QStringLiteral("photo")), 0);
        QVERIFY(QFileInfo::exists(photo));
        QVERIFY(QFileInfo::exists(attached));
    }

    void failedDeletionRollsBack()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                          QString(), QString(), {QStringLiteral("/p1.jpg")});
        archive.failWrites(QStringLiteral("keep_photos"), QStringLiteral("BEFORE DELETE ON photo"),
                           QStringLiteral("photo is locked"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        w->MnuDeleteFile_Click();
        QCOMPARE(platform.boxes.size(), 2);
        QVERIFY(platform.boxes[1].text.contains(QStringLiteral("photo is locked")));
        QCOMPARE(platform.boxes[1].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[1].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[1].icon, Icon::Critical);
        QCOMPARE(archive.count(QStringLiteral("Detail")), 1);
        QCOMPARE(archive.count(QStringLiteral("photo")), 1);
        // Not reloaded: the record stays chosen.
        QCOMPARE(w->recordNumber(), QStringLiteral("240101080000"));
    }

    void deletingOneOfTwoRecordsThatShareANumber()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), QString(), QString(),
                          {QStringLiteral("/p1.jpg"), QStringLiteral("/p2.jpg")});
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("乙"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QCOMPARE(platform.boxes.last().text, QStringLiteral("真的要删除病案［甲］吗？     \r\n [是/否]？     "));
        // 乙 was not named in the question and stays, with the photos it shows too.
        QCOMPARE(archive.count(QStringLiteral("Detail")), 1);
        QCOMPARE(archive.count(QStringLiteral("Detail"), QStringLiteral("\"文件名\" = '乙'")), 1);
        QCOMPARE(archive.count(QStringLiteral("photo")), 2);
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("内科"))), QStringList{QStringLiteral("乙")});

        // The last record of the number takes the photos with it.
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QCOMPARE(archive.count(QStringLiteral("Detail")), 0);
        QCOMPARE(archive.count(QStringLiteral("photo")), 0);
        QCOMPARE(platform.boxes.size(), 2);
    }

    void recordWithAnEmptyNumberCanBeDeleted()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QString(), QStringLiteral("无号"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("有号"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        QVERIFY(enabled(w.get(), "MnuDeleteFile"));
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QCOMPARE(archive.count(QStringLiteral("Detail")), 1);
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("内科"))), QStringList{QStringLiteral("有号")});
    }
};

QTEST_MAIN(TestBrowserDelete)
#include "tst_frmManager_delete.moc"
