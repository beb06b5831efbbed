// A restore killed at any step is finished or rolled back by the next one into the same
// place: the target then holds the restored archive, the one it replaced lies aside, and
// nothing tells the operator to delete a file. The kill comes through the restore's own
// seam (afterStep), in a process of this program started for it, never from a timer.
#include "FileBytes.h"
#include "TempArchive.h"

#include "archive/Archive.h"
#include "archive/Backup.h"
#include "archive/Restore.h"
#include "archive/ArchiveCheck.h"
#include "archive/Transfer.h"
#include "store/Database.h"
#include "trail/History.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <csignal>

namespace {

using testing::readFile;
using testing::writeFile;

const char *const kKilledAt = "--restore-killed-at";

// The child: restores BACKUP into TARGET and is killed outright after the step named.
int restoreKilledAt(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    store::RestoreOptions o;
    const QString step = QString::fromUtf8(argv[2]);
    o.backup = QString::fromUtf8(argv[3]);
    o.target = QString::fromUtf8(argv[4]);
    o.filesTo = o.target + QStringLiteral("-files");
    o.replace = true;
    o.actor = store::adminToolActor();
    o.afterStep = [step](const QString &done) {
        if (done == step)
            ::raise(SIGKILL);
    };
    store::restoreBackup(o);
    return 0; // the step never came
}

struct Run {
    int exitCode = -1;
    QString out, err;
};

} // namespace

class TestRestoreInterrupted : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (testing::onServer())
            QSKIP("a restore onto a server is the copy's: one transaction, marked until verified");
    }

    void theNextRunFinishesOrRollsBack_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("finished"); // the new archive was proven before the kill
        QTest::newRow("state written") << QStringLiteral("begun") << false;
        QTest::newRow("archive copied") << QStringLiteral("written") << false;
        QTest::newRow("restore noted") << QStringLiteral("noted") << false;
        QTest::newRow("proven, nothing moved") << QStringLiteral("ready") << true;
        QTest::newRow("old archive moved aside") << QStringLiteral("aside") << true;
        QTest::newRow("its journal moved aside") << QStringLiteral("aside-journal") << true;
        QTest::newRow("between the renames and the end") << QStringLiteral("renamed") << true;
    }

    void theNextRunFinishesOrRollsBack()
    {
        QFETCH(QString, step);
        QFETCH(bool, finished);
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"));
        QTemporaryDir dir;
        store::BackupOptions o;
        o.archivePath = a.path();
        o.targetFolder = dir.path();
        o.includeFiles = false;
        const store::BackupResult backup = store::backupArchive(o);
        QCOMPARE(backup.outcome, store::BackupResult::Verified);
        // The archive being replaced, with a journal of its own.
        const QString target = dir.filePath(QStringLiteral("file.dat"));
        store::initArchive(target);
        const QByteArray old = readFile(target);
        writeFile(target + QStringLiteral("-journal"), "its journal");

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kKilledAt), step, backup.folder, target});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit); // killed at the step

        QProcess next;
        next.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")),
                   {QStringLiteral("restore"), backup.folder, target, QStringLiteral("--replace"), QStringLiteral("--files-to"),
                    dir.filePath(QStringLiteral("f"))});
        QVERIFY(next.waitForFinished(120000));
        const QString out = QString::fromUtf8(next.readAllStandardOutput());
        const QString err = QString::fromUtf8(next.readAllStandardError());
        QCOMPARE(next.exitCode(), 0);
        const QString said = finished ? QStringLiteral("an earlier restore into %1 from %2 was cut short after the new archive was "
                                                       "written and proven: finished it\n")
                                      : QStringLiteral("an earlier restore into %1 from %2 was cut short while writing the new "
                                                       "archive: removed what it had written; %1 is as it was before it\n");
        if (step == QLatin1String("renamed"))
            QVERIFY2(out.startsWith(QStringLiteral("an earlier restore into %1 from %2 had put the new archive in place\n")
                                        .arg(target, backup.folder)),
                     qPrintable(out + err));
        else
            QVERIFY2(out.startsWith(said.arg(target, backup.folder)), qPrintable(out + err));
        QVERIFY2(!(out + err).contains(QStringLiteral("删除")), qPrintable(out + err));

        // The backup's archive is in place, restored once; the old one and its journal aside.
        {
            store::Connection restored(target);
            QCOMPARE(store::countTables(restored).detail, 1);
            QCOMPARE(store::countHistory(restored, {}), 1);
        }
        QVERIFY(store::checkArchive(target, false).sound());
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("file.dat.before-restore-*")}, QDir::Files, QDir::Name);
        QCOMPARE(aside.size(), 2);
        QCOMPARE(readFile(dir.filePath(aside.at(0))), old);
        QCOMPARE(readFile(dir.filePath(aside.at(1))), QByteArray("its journal"));
        for (const QString &left : {store::unfinishedCopyPath(target), store::restoreStatePath(target),
                                    target + QStringLiteral("-journal")})
            QVERIFY2(!QFileInfo::exists(left), qPrintable(left));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], kKilledAt) == 0)
        return restoreKilledAt(argc, argv);
    QCoreApplication app(argc, argv);
    TestRestoreInterrupted test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_restore_interrupted.moc"
