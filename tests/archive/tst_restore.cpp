// casearchive-admin restore: a checked backup back into a fresh folder, over a damaged
// archive (moved aside with its journal, its mode kept) and onto a server; a damaged
// backup restores nothing.
#include "AdminTool.h"
#include "FileBytes.h"
#include "TempArchive.h"

#include "archive/ArchiveCheck.h"
#include "archive/Archive.h"
#include "archive/Backup.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/StoredRows.h"
#include "store/TrailStatements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <sys/stat.h>

namespace {

using testing::readFile;
using testing::writeFile;

unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

using Run = testing::AdminRun;
Run admin(const QStringList &args) { return testing::runAdmin(args); }

struct Backed {
    testing::TempArchive archive;
    QTemporaryDir files;
    QTemporaryDir target;
    QString attached, photo, folder;
    Backed()
    {
        attached = writeFile(files.filePath(QStringLiteral("docs/report.pdf")), QByteArray(3000, 'r'));
        photo = writeFile(files.filePath(QStringLiteral("photos/one.jpg")), QByteArray(2500, '1'));
        archive.addType(QStringLiteral("外科"));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"), attached,
                          QStringLiteral("说明"), {photo});
        store::BackupOptions o;
        o.archivePath = archive.path();
        o.targetFolder = target.path();
        const store::BackupResult r = store::backupArchive(o);
        if (r.outcome != store::BackupResult::Verified)
            QTest::qFail(qPrintable(r.error), __FILE__, __LINE__);
        folder = r.folder;
    }
    QString db() const { return folder + QStringLiteral("/file.dat"); }
};

// The restored archive holds the backup's rows, every cell as stored, and one trail entry
// more: the restore's own.
void sameAsBackupWithTheRestoreNoted(const QString &restored, const QString &backup)
{
    using namespace store;
    Connection original(backup);
    Connection copy(restored);
    for (ArchiveTable table : archiveTables() + trailTables()) {
        StoredRows from(original, table);
        StoredRows to(copy, table);
        StoredRow a, b;
        while (from.next(a)) {
            QVERIFY(to.next(b));
            QCOMPARE(b, a);
        }
        if (table == ArchiveTable::History)
            QVERIFY(to.next(b));
        QVERIFY(!to.next(b));
    }
    const HistoryEntry last = readHistory(copy, {}).value(0);
    QCOMPARE(last.change.kind, ChangeKind::ArchiveRestored);
    QCOMPARE(last.operatorName, QStringLiteral("casearchive-admin"));
    QVERIFY(verifyHistoryChain(copy).whole);
}

} // namespace

class TestRestore : public QObject {
    Q_OBJECT

private slots:
    void intoAFreshFolderWithTheFiles()
    {
        Backed b;
        QTemporaryDir fresh;
        const QString target = fresh.filePath(QStringLiteral("Data/file.dat"));
        const QString filesTo = fresh.filePath(QStringLiteral("restored"));
        const Run r = admin({QStringLiteral("restore"), b.folder, target, QStringLiteral("--files-to"), filesTo});
        QCOMPARE(r.exitCode, 0);
        sameAsBackupWithTheRestoreNoted(target, b.db());
        QCOMPARE(readFile(filesTo + b.photo), readFile(b.photo));
        QCOMPARE(readFile(filesTo + b.attached), readFile(b.attached));
        QVERIFY2(r.out.contains(QStringLiteral("restored the archive %1 (").arg(target)), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("files put back: 2, already in place: 0, not put back: 0")));
        QVERIFY(!QFile::exists(target + QStringLiteral(".unfinished")));
        store::Connection c(target);
        QCOMPARE(store::countTables(c).detail, 1);

        // Into their own places: what is gone comes back, what is there is left alone.
        QVERIFY(QFile::remove(b.photo));
        writeFile(b.attached, "changed since");
        const QString second = fresh.filePath(QStringLiteral("second.dat"));
        const Run own = admin({QStringLiteral("restore"), b.db(), second});
        QCOMPARE(own.exitCode, 3);
        QCOMPARE(readFile(b.photo), QByteArray(2500, '1'));
        QCOMPARE(readFile(b.attached), QByteArray("changed since"));
        QVERIFY2(own.out.contains(QStringLiteral("files put back: 1, already in place: 0, not put back: 1\n"
                                                 "  left as it is (differs from the backup): %1\n")
                                      .arg(b.attached)),
                 qPrintable(own.out));
    }

    void overADamagedArchiveOnlyWhenAskedAndNothingDeleted()
    {
        Backed b;
        QTemporaryDir dir;
        const QString target = writeFile(dir.filePath(QStringLiteral("file.dat")), "damaged archive");
        writeFile(target + QStringLiteral("-journal"), "its journal");
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                                  | QFileDevice::WriteGroup));
        const Run refused = admin({QStringLiteral("restore"), b.folder, target});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.err, QStringLiteral("casearchive-admin: “%1”已经存在。没有恢复。确认要用备份替换时，加上 --replace："
                                             "原文件和它的日志文件会改名留存，不会删除。\n").arg(target));
        QCOMPARE(readFile(target), QByteArray("damaged archive"));

        const Run r = admin({QStringLiteral("restore"), b.folder, target, QStringLiteral("--replace"),
                             QStringLiteral("--files-to"), dir.filePath(QStringLiteral("f"))});
        QCOMPARE(r.exitCode, 0);
        sameAsBackupWithTheRestoreNoted(target, b.db());
        QCOMPARE(modeOf(target), 0660u);
        QVERIFY(!QFile::exists(target + QStringLiteral("-journal")));
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("file.dat.before-restore-*")}, QDir::Files, QDir::Name);
        QCOMPARE(aside.size(), 2);
        QCOMPARE(readFile(dir.filePath(aside.at(0))), QByteArray("damaged archive"));
        QVERIFY(aside.at(1).endsWith(QStringLiteral("-journal")));
        QCOMPARE(readFile(dir.filePath(aside.at(1))), QByteArray("its journal"));
        QVERIFY(r.out.contains(QStringLiteral("moved %1 aside to %2").arg(target, dir.filePath(aside.at(0)))));
    }

    void aDamagedBackupRestoresNothing()
    {
        Backed b;
        QByteArray bytes = readFile(b.db());
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
        writeFile(b.db(), bytes);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("file.dat"));
        const Run r = admin({QStringLiteral("restore"), b.folder, target});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("备份已损坏，没有恢复任何内容。")) && r.err.contains(QStringLiteral("archive file.dat: DAMAGED")),
                 qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }

    // A hot journal another archive's writer left at the target's name would be written
    // into the restored archive by the next open: it is in the way as the file would be.
    void aStaleJournalAtTheTargetNeverSpoilsTheRestoredArchive()
    {
        if (testing::onServer())
            QSKIP("a file's journal; a server restores into an empty database");
        Backed b;
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("file.dat"));
        const QString other = dir.filePath(QStringLiteral("other.dat"));
        QVERIFY(QFile::copy(b.db(), other));
        {
            // Killed in a write larger than its cache: the journal holds pages of its own.
            store::Connection c(other);
            c.run(QStringLiteral("INSERT INTO Detail (\"病案号\", \"文件说明\") WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                 "SELECT i + 1 FROM n WHERE i < 300) SELECT i, printf('%.500c', 'x') FROM n"));
            c.run(QStringLiteral("PRAGMA cache_size = 1"));
            c.run(QStringLiteral("BEGIN IMMEDIATE"));
            c.run(QStringLiteral("UPDATE Detail SET \"文件说明\" = printf('%.500c', 'y')"));
            QVERIFY(QFile::copy(other + QStringLiteral("-journal"), target + QStringLiteral("-journal")));
            c.run(QStringLiteral("ROLLBACK"));
        }
        const QByteArray journal = readFile(target + QStringLiteral("-journal"));
        QVERIFY(journal.size() > 10000);
        const Run refused = admin({QStringLiteral("restore"), b.folder, target});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.err, QStringLiteral("casearchive-admin: “%1”不在，但它的日志文件还在（可能是另一个档案留下的，会被写进恢复的档案）。"
                                             "没有恢复。确认要用备份替换时，加上 --replace：原文件和它的日志文件会改名留存，不会删除。\n")
                                  .arg(target));
        QCOMPARE(readFile(target + QStringLiteral("-journal")), journal);
        QVERIFY(!QFileInfo::exists(target));

        const Run r = admin({QStringLiteral("restore"), b.folder, target, QStringLiteral("--replace"),
                             QStringLiteral("--files-to"), dir.filePath(QStringLiteral("f"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFileInfo::exists(target + QStringLiteral("-journal")));
        sameAsBackupWithTheRestoreNoted(target, b.db());
        QVERIFY(store::checkArchive(target, false).sound());
    }

    // A backup of another archive put where one of this archive's was: check names whose
    // it is, and a restore over this archive says so before it replaces anything.
    void anotherArchivesBackupIsToldApart()
    {
        Backed b;
        QTemporaryDir dir;
        const QString ours = dir.filePath(QStringLiteral("ours.dat"));
        store::initArchive(ours);
        QString ourId, theirId;
        {
            store::Connection c(ours);
            ourId = store::archiveIdentity(c);
            store::Connection t(b.archive.path());
            theirId = store::archiveIdentity(t);
        }
        QCOMPARE(ourId.size(), 32);
        QVERIFY(ourId != theirId);
        const QString renamed = b.target.filePath(QStringLiteral("病案备份-20240101-000000"));
        QVERIFY(QDir().rename(b.folder, renamed));
        const Run check = admin({QStringLiteral("check"), renamed});
        QCOMPARE(check.exitCode, 0);
        QVERIFY2(check.out.contains(QStringLiteral("\narchive identity: %1\n").arg(theirId)), qPrintable(check.out));
        QVERIFY(check.out.contains(QStringLiteral("\nfolder: made as %1 (moved or renamed since)\n").arg(b.folder)));

        const Run refused = admin({QStringLiteral("restore"), renamed, ours});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.err, QStringLiteral("casearchive-admin: “%1”已经存在。其中是另一个档案（标识 %2，备份的是 %3）。没有恢复。"
                                             "确认要用备份替换时，加上 --replace：原文件和它的日志文件会改名留存，不会删除。\n")
                                  .arg(ours, ourId, theirId));
        const Run r = admin({QStringLiteral("restore"), renamed, ours, QStringLiteral("--replace"), QStringLiteral("--files-to"),
                             dir.filePath(QStringLiteral("f"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("%1 held another archive (identity %2; the backup's is %3): replaced as asked\n")
                                    .arg(ours, ourId, theirId)),
                 qPrintable(r.out));
        store::Connection c(ours);
        QCOMPARE(store::archiveIdentity(c), theirId);
    }

    // A folder on the way swapped for a link to another place since the backup: nothing
    // is written through it.
    void neverThroughASymbolicLink()
    {
        Backed b;
        QTemporaryDir dir;
        const QString photos = QFileInfo(b.photo).absolutePath();
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QDir(photos).removeRecursively());
        QVERIFY(QFile::link(elsewhere, photos));
        const Run r = admin({QStringLiteral("restore"), b.folder, dir.filePath(QStringLiteral("new.dat"))});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.out.contains(QStringLiteral("  cannot write %1: the way to it goes through a symbolic link or a file (photos)\n")
                                    .arg(b.photo)),
                 qPrintable(r.out));
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(readFile(b.attached), QByteArray(3000, 'r'));
    }

    // The scan folder's pages, those no record names yet among them, go into a backup made
    // --with-files and come back where they were; a link in the folder is not followed, and
    // a page the backup may not read is named as missing.
    void theScanFolderGoesAndComesBack()
    {
        Backed b;
        QTemporaryDir dir;
        const QString scan = dir.filePath(QStringLiteral("Scan"));
        const QString unsaved = writeFile(scan + QStringLiteral("/240101080000/page-1.png"), "a page not saved yet");
        QVERIFY(QFile::link(b.attached, scan + QStringLiteral("/link.png")));
        const QString closed = writeFile(scan + QStringLiteral("/240101080000/page-2.png"), "a page nobody may read");
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        // Root reads as those who may write the archive: the group, once it may (always on a server).
        if (!testing::onServer())
            QVERIFY(QFile::setPermissions(b.archive.path(), QFile::permissions(b.archive.path()) | QFile::WriteGroup));
        // Run as root, the files are read with the office's rights (nobody, in the archive
        // file's group here).
        for (const QString &open : {dir.path(), b.files.path()})
            QVERIFY(QFile::setPermissions(open, QFile::permissions(open) | QFile::ReadGroup | QFile::ExeGroup
                                                    | QFile::ReadOther | QFile::ExeOther));
        const QString config = dir.filePath(QStringLiteral("config"));
        writeFile(config + QStringLiteral("/casearchive.conf"), "[Scan]\nFolder=" + scan.toUtf8() + "\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        p.setProcessEnvironment(env);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("backups"))));
        p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")),
                {QStringLiteral("backup"), b.archive.path(), dir.filePath(QStringLiteral("backups")), QStringLiteral("--with-files")});
        QVERIFY(p.waitForFinished(120000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(p.exitCode(), 3);
        QVERIFY2(out.contains(QStringLiteral("with the scan folder %1: 1 files no record names yet\n").arg(scan)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("  missing: a file of the scan folder: %1 - ").arg(closed)), qPrintable(out));
        const QString folder = QDir(dir.filePath(QStringLiteral("backups")))
                                   .absoluteFilePath(QDir(dir.filePath(QStringLiteral("backups"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/files") + scan + QStringLiteral("/link.png")));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/files") + closed));
        const QString list = QString::fromUtf8(readFile(folder + QLatin1Char('/') + store::kBackupManifestName));
        QVERIFY2(list.contains(QStringLiteral("\n缺失\t-\t%1\t扫描文件夹中的文件：").arg(closed)), qPrintable(list));

        QVERIFY(QFile::remove(unsaved));
        const Run r = admin({QStringLiteral("restore"), folder, dir.filePath(QStringLiteral("restored.dat"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("files put back: 1, already in place: 2, not put back: 0\n")), qPrintable(r.out));
        QCOMPARE(readFile(unsaved), QByteArray("a page not saved yet"));
    }

    void ontoAServer()
    {
        if (!testing::onServer())
            QSKIP("needs the test server");
        Backed b;
        testing::TempServerDatabase server;
        const Run r = admin({QStringLiteral("restore"), b.folder, server.path(), QStringLiteral("--files-to"),
                             b.target.filePath(QStringLiteral("f"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("copied the archive into %1 and compared every cell: 1 records, 1 photos")
                                    .arg(server.path())),
                 qPrintable(r.out));
        // Never onto a database that holds an archive.
        const Run again = admin({QStringLiteral("restore"), b.folder, server.path()});
        QCOMPARE(again.exitCode, 1);
        QVERIFY(again.err.contains(QStringLiteral("已经有数据表")));
    }
};

QTEST_MAIN(TestRestore)
#include "tst_restore.moc"
