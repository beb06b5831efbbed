// The verified backup and the archive check, on archives made on the spot.
#include "FileBytes.h"
#include "TempArchive.h"

#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "store/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

using testing::readFile;
using testing::writeFile;

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

const QDateTime kWhen(QDate(2024, 6, 7), QTime(15, 30, 12));

} // namespace

class TestBackup : public QObject {
    Q_OBJECT

    // An archive of two records: one with an attached file and two photos (one of them
    // shared with the other record), one whose photo has gone.
    struct Sample {
        testing::TempArchive archive;
        QTemporaryDir files;
        QTemporaryDir target;
        QString attached, photo1, photo2, gone;
        Sample()
        {
            attached = writeFile(files.filePath(QStringLiteral("docs/report.pdf")), QByteArray(300000, 'r'));
            photo1 = writeFile(files.filePath(QStringLiteral("photos/one.jpg")), QByteArray(2500000, '1'));
            photo2 = writeFile(files.filePath(QStringLiteral("photos/two.jpg")), "two");
            gone = files.filePath(QStringLiteral("photos/gone.jpg"));
            archive.addType(QStringLiteral("外科"));
            archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"), attached,
                              QStringLiteral("说明"), {photo1, photo2});
            archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101090000"), QStringLiteral("李四"), QString(),
                              QString(), {photo2, gone});
        }
        store::BackupOptions options(bool includeFiles = true) const
        {
            store::BackupOptions o;
            o.archivePath = archive.path();
            o.targetFolder = target.path();
            o.includeFiles = includeFiles;
            o.when = kWhen;
            return o;
        }
    };

private slots:
    void cleanup()
    {
        store::setBackupSpaceForTests(-1);
        store::setBusyTimeout(5000);
        store::resetDamageForTests();
    }

    void backupIsCompleteAndVerified()
    {
        Sample s;
        QVector<int> permilles;
        QSet<int> stages;
        const store::BackupResult r = store::backupArchive(s.options(), [&](const store::BackupProgress &p) {
            permilles << p.permille;
            stages << int(p.stage);
            return true;
        });
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        QVERIFY(r.error.isEmpty());
        const QString folder = QDir(s.target.path()).filePath(QStringLiteral("病案备份-20240607-153012"));
        QCOMPARE(r.folder, folder);
        QCOMPARE(entries(s.target.path()), QStringList{QStringLiteral("病案备份-20240607-153012")});
        QCOMPARE(entries(folder), (QStringList{QStringLiteral("file.dat"), QStringLiteral("files"), QStringLiteral("manifest.sha256"),
                                            QStringLiteral("备份清单.txt")}));

        // The copy is a sound archive with every row.
        const store::ArchiveReport copy = store::checkArchive(QDir(folder).filePath(QStringLiteral("file.dat")), false);
        QVERIFY(copy.sound());
        QCOMPARE(copy.counts.detail, 2);
        QCOMPARE(copy.counts.photo, 4);
        QCOMPARE(copy.counts.catalog, 1);
        QCOMPARE(copy.counts.user, 1);
        QCOMPARE(r.counts, copy.counts);

        // Each file once, under its full path, byte for byte; the shared photo once.
        QCOMPARE(r.filesCopied, 3);
        QCOMPARE(r.bytesCopied, 300000 + 2500000 + 3);
        for (const QString &original : {s.attached, s.photo1, s.photo2})
            QCOMPARE(readFile(folder + QStringLiteral("/files") + original), readFile(original));
        QCOMPARE(r.missing.size(), 1);
        QCOMPARE(r.missing.at(0).reference.path, s.gone);
        QCOMPARE(r.missing.at(0).reference.number, QStringLiteral("240101090000"));
        QVERIFY(r.missing.at(0).reference.photo);

        const QString manifest = QString::fromUtf8(readFile(QDir(folder).filePath(QStringLiteral("备份清单.txt"))));
        QVERIFY(manifest.contains(QStringLiteral("病案 2 条，照片 4 条")));
        QVERIFY(manifest.contains(QStringLiteral("已复制\t2500000\t") + s.photo1));
        QVERIFY(manifest.contains(QStringLiteral("缺失\t-\t") + s.gone));
        QVERIFY(manifest.contains(QStringLiteral("恢复方法")));

        // Progress only goes forward, through all three stages, and ends full.
        QVERIFY(permilles.size() >= 4);
        for (int i = 1; i < permilles.size(); ++i)
            QVERIFY(permilles.at(i) >= permilles.at(i - 1));
        QCOMPARE(permilles.last(), 1000);
        QCOMPARE(stages.size(), 3);

        // The original is untouched.
        QCOMPARE(s.archive.count(QStringLiteral("Detail")), 2);
    }

    void databaseOnlyAndASecondBackupInTheSameSecond()
    {
        Sample s;
        const store::BackupResult first = store::backupArchive(s.options(false));
        QCOMPARE(first.outcome, store::BackupResult::Verified);
        QCOMPARE(entries(first.folder), (QStringList{QStringLiteral("file.dat"), QStringLiteral("manifest.sha256"), QStringLiteral("备份清单.txt")}));
        QCOMPARE(first.filesCopied, 0);
        QVERIFY(first.missing.isEmpty());
        const store::BackupResult second = store::backupArchive(s.options(false));
        QCOMPARE(second.outcome, store::BackupResult::Verified);
        QVERIFY(second.folder.endsWith(QStringLiteral("病案备份-20240607-153012-2")));
        QCOMPARE(entries(s.target.path()).size(), 2);
    }

    void consistentWhileAnotherProgramWrites()
    {
        Sample s;
        store::setBusyTimeout(50);
        QString writerFailed;
        bool triedToWrite = false;
        const store::BackupResult r = store::backupArchive(s.options(false), [&](const store::BackupProgress &p) {
            if (p.stage == store::BackupProgress::Database && !triedToWrite) {
                triedToWrite = true;
                // Another program adds a record once the archive's pages are copied: it does
                // not wait for the rest of the backup (the check), and the copy stays what
                // was counted.
                try {
                    store::Connection other(s.archive.path());
                    store::Transaction t(other);
                    store::insertRecord(other, {0, QStringLiteral("外科"), QStringLiteral("240101100000"),
                                                QStringLiteral("王五"), QString(), QString()});
                    t.commit();
                } catch (const store::StoreError &e) {
                    writerFailed = e.description();
                }
            }
            return true;
        });
        QCOMPARE(writerFailed, QString());
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        QCOMPARE(r.counts.detail, 2);
        QCOMPARE(store::checkArchive(QDir(r.folder).filePath(QStringLiteral("file.dat")), false).counts.detail, 2);
        QCOMPARE(s.archive.count(QStringLiteral("Detail")), 3);
    }

    void failurePartWayLeavesNoCompleteLookingCopy_data()
    {
        QTest::addColumn<qint64>("space");
        QTest::newRow("disk full in the archive copy") << qint64(100);
        QTest::newRow("disk full among the files") << qint64(-2); // the archive and a little more
    }

    void failurePartWayLeavesNoCompleteLookingCopy()
    {
        QFETCH(qint64, space);
        Sample s;
        if (space == -2)
            space = QFileInfo(s.archive.path()).size() + 400000;
        store::setBackupSpaceForTests(space);
        const store::BackupResult r = store::backupArchive(s.options());
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QVERIFY2(r.error.contains(QStringLiteral("磁盘已满")), qPrintable(r.error));
        QVERIFY(r.folder.isEmpty());
        QCOMPARE(entries(s.target.path()), QStringList());
    }

    // A copy the disk has not confirmed is no copy: a failed flush fails the backup, whichever
    // file it was.
    void aFlushThatFailsFailsTheBackup_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("the archive") << QStringLiteral("file.dat");
        QTest::newRow("a copied photo") << QStringLiteral("files/");
        QTest::newRow("the checksum list") << QStringLiteral("manifest.sha256");
    }

    void aFlushThatFailsFailsTheBackup()
    {
        QFETCH(QString, file);
        Sample s;
        store::setBackupFlushFailureForTests(file);
        const store::BackupResult r = store::backupArchive(s.options());
        store::setBackupFlushFailureForTests(QString());
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QVERIFY2(r.error.endsWith(QStringLiteral("目标磁盘可能已满、只读或已拔出，备份没有完成。")), qPrintable(r.error));
        QCOMPARE(entries(s.target.path()), QStringList());
    }

    void volumeGoneDuringTheFilesFails()
    {
        Sample s;
        bool pulled = false;
        const store::BackupResult r = store::backupArchive(s.options(), [&](const store::BackupProgress &p) {
            if (p.stage == store::BackupProgress::Files && !pulled) {
                // The stick is pulled out: everything written so far is gone.
                for (const QString &e : entries(s.target.path()))
                    QDir(QDir(s.target.path()).filePath(e)).removeRecursively();
                pulled = true;
            }
            return true;
        });
        QVERIFY(pulled);
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QVERIFY2(r.error.contains(QStringLiteral("已拔出")), qPrintable(r.error));
        QCOMPARE(entries(s.target.path()), QStringList());
    }

    void cancelLeavesNothing_data()
    {
        QTest::addColumn<int>("stage");
        QTest::newRow("while copying the archive") << int(store::BackupProgress::Database);
        QTest::newRow("while copying the files") << int(store::BackupProgress::Files);
        QTest::newRow("while checking") << int(store::BackupProgress::Verify);
    }

    void cancelLeavesNothing()
    {
        QFETCH(int, stage);
        Sample s;
        const store::BackupResult r = store::backupArchive(s.options(), [&](const store::BackupProgress &p) {
            return int(p.stage) != stage;
        });
        QCOMPARE(r.outcome, store::BackupResult::Cancelled);
        QVERIFY(r.folder.isEmpty());
        QCOMPARE(entries(s.target.path()), QStringList());
    }

    void unusableTargetsAreRefusedBeforeAnythingIsWritten()
    {
        Sample s;
        store::BackupOptions o = s.options();
        o.targetFolder = QString();
        QCOMPARE(store::backupArchive(o).error, QStringLiteral("请先选择备份的目标文件夹。"));
        o.targetFolder = s.target.filePath(QStringLiteral("not-there"));
        store::BackupResult r = store::backupArchive(o);
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QVERIFY(r.error.contains(o.targetFolder));
        // A file where a folder should be.
        o.targetFolder = writeFile(s.target.filePath(QStringLiteral("a-file")), "x");
        QCOMPARE(store::backupArchive(o).outcome, store::BackupResult::Failed);
        // No archive to copy.
        o = s.options();
        o.archivePath = s.files.filePath(QStringLiteral("docs/report.pdf"));
        r = store::backupArchive(o);
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QCOMPARE(entries(s.target.path()), QStringList{QStringLiteral("a-file")});
    }

    // ---- the check ----

    void checkOfASoundArchive()
    {
        Sample s;
        s.archive.exec(QStringLiteral("DELETE FROM photo WHERE \"照片\" = ?"), {s.gone});
        const store::ArchiveReport r = store::checkArchive(s.archive.path());
        QVERIFY(r.sound());
        QCOMPARE(r.exitCode(), 0);
        QCOMPARE(r.filesNamed, 4); // one attached file, three photos
        QVERIFY(r.missing.isEmpty());
        const QString text = r.text();
        QVERIFY(text.contains(QStringLiteral("integrity: ok")));
        QVERIFY(text.contains(QStringLiteral("rows: Catalog 1, Detail 2, photo 3, User 1")));
        QVERIFY(text.endsWith(QStringLiteral("result: ok\n")));
    }

    void checkFindsMissingFiles()
    {
        Sample s;
        QFile::remove(s.attached);
        QVERIFY(QDir().mkpath(s.files.filePath(QStringLiteral("photos/one.jpg-folder"))));
        s.archive.exec(QStringLiteral("UPDATE photo SET \"照片\" = ? WHERE \"照片\" = ?"),
                       {s.files.filePath(QStringLiteral("photos/one.jpg-folder")), s.photo1});
        // A photo row of a record that no longer exists is no fault.
        s.archive.exec(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES ('999999999999', '/nowhere.jpg')"));
        const store::ArchiveReport r = store::checkArchive(s.archive.path());
        QVERIFY(r.sound());
        QCOMPARE(r.exitCode(), 3);
        QCOMPARE(r.missing.size(), 3);
        QCOMPARE(r.orphanPhotos, 1);
        const QString text = r.text();
        QVERIFY2(text.contains(QStringLiteral("record 240101080000 (张三): attached file ") + s.attached + QStringLiteral(" - not found")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("is a folder")));
        QVERIFY(text.contains(QStringLiteral("record 240101090000 (李四): photo ") + s.gone));
        QVERIFY(!text.contains(QStringLiteral("/nowhere.jpg")));
        QVERIFY(text.contains(QStringLiteral("result: FAULT (3 files")));
    }

    void checkOfADamagedArchive()
    {
        if (testing::onServer())
            QSKIP("damage written into the file itself; a server keeps its files out of reach");
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 399) "
                                    "INSERT INTO Detail SELECT '内科', printf('2401010%05d', i), '病人' || i, '', "
                                    "printf('%.300c', 'x') FROM n"));
        QCOMPARE(archive.count(QStringLiteral("Detail")), 400);
        {
            QFile f(archive.path());
            QVERIFY(f.open(QIODevice::ReadWrite));
            const qint64 size = f.size();
            QVERIFY(size > 40000);
            // Scribble over pages in the middle of the file, leaving its header intact.
            for (qint64 at = 8192; at < size - 4096; at += 8192) {
                f.seek(at + 100);
                f.write(QByteArray(600, char(0x5A)));
            }
        }
        const store::ArchiveReport r = store::checkArchive(archive.path());
        QVERIFY(!r.sound());
        QCOMPARE(r.exitCode(), 1);
        QVERIFY(r.text().contains(QStringLiteral("FAULT")));
        QVERIFY(r.openError.isEmpty()); // the header is intact: it opens, and the check tells
        QVERIFY(!r.integrityOk());
        QVERIFY(r.text().contains(QStringLiteral("integrity: DAMAGED\n")));

        // A backup of it does not pass for a good one.
        QTemporaryDir target;
        store::BackupOptions o;
        o.archivePath = archive.path();
        o.targetFolder = target.path();
        QCOMPARE(store::backupArchive(o).outcome, store::BackupResult::Failed);
        QCOMPARE(entries(target.path()), QStringList());
    }

    void checkOfFilesThatAreNoArchive()
    {
        QTemporaryDir dir;
        const store::ArchiveReport gone = store::checkArchive(dir.filePath(QStringLiteral("none.dat")));
        QCOMPARE(gone.exitCode(), 1);
        QVERIFY(!gone.openError.isEmpty());
        QVERIFY(gone.text().contains(QStringLiteral("cannot open")));
        QVERIFY(gone.text().endsWith(QStringLiteral("\nresult: FAULT (the file cannot be opened as an archive)\n")));

        // No server listens on port 1: the report blames the server, not a file.
        const store::ArchiveReport unreachable = store::checkArchive(QStringLiteral("postgresql://127.0.0.1:1/casearchive?user=clerk"));
        QCOMPARE(unreachable.exitCode(), 1);
        QVERIFY(unreachable.text().startsWith(QStringLiteral("archive: postgresql://127.0.0.1:1/casearchive?user=clerk\ncannot open: ")));
        QVERIFY(unreachable.text().endsWith(QStringLiteral("\nresult: FAULT (the archive on the server cannot be opened)\n")));

        const QString text = writeFile(dir.filePath(QStringLiteral("letter.dat")), QByteArray(5000, 'L'));
        QCOMPARE(store::checkArchive(text).exitCode(), 1);

        // A sound database of another program.
        {
            store::Connection other = store::Connection::createNew(dir.filePath(QStringLiteral("other.db")));
            other.run(QStringLiteral("CREATE TABLE notes (t TEXT)"));
        }
        const store::ArchiveReport other = store::checkArchive(dir.filePath(QStringLiteral("other.db")));
        QVERIFY(other.integrityOk());
        QVERIFY(!other.archiveTables);
        QCOMPARE(other.exitCode(), 1);
        QVERIFY(other.text().contains(QStringLiteral("tables: notes")));
    }

    void adminToolCheckExitsByTheFindings()
    {
        const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin");
        if (!QFileInfo(tool).isExecutable())
            QSKIP("casearchive-admin is not built beside the tests");
        Sample s;
        QProcess p;
        p.start(tool, {QStringLiteral("check"), s.archive.path()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 3); // the photo that has gone
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains(s.gone), qPrintable(out));
        p.start(tool, {QStringLiteral("check")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
    }
};

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
