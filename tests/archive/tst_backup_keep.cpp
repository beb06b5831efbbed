// backup --keep N: only older backups of the same archive that the backup made where they
// lie, that still pass their check, go; the order is the time each records, and a folder
// made later (a clock set back) is reported, not taken for the newest.
#include "FileBytes.h"
#include "TempArchive.h"

#include "archive/Backup.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

namespace {

using testing::readFile;
using testing::writeFile;

QString backUp(const QString &archive, const QString &target, const QDateTime &when)
{
    store::BackupOptions o;
    o.archivePath = archive;
    o.targetFolder = target;
    o.includeFiles = false;
    o.when = when;
    const store::BackupResult r = store::backupArchive(o);
    if (r.outcome != store::BackupResult::Verified)
        QTest::qFail(qPrintable(r.error), __FILE__, __LINE__);
    return QFileInfo(r.folder).fileName();
}

QDateTime day(int d) { return QDateTime(QDate(2020, 1, d), QTime(0, 0)); }

} // namespace

class TestBackupKeep : public QObject {
    Q_OBJECT

private slots:
    void onlyOlderVerifiedBackupsOfThisArchiveMadeHereGo()
    {
        testing::TempArchive a;
        testing::TempArchive other;
        a.addType(QStringLiteral("外科"));
        QTemporaryDir target;
        QTemporaryDir elsewhere;
        const QDir t(target.path());
        const QString oldest = backUp(a.path(), target.path(), day(1));
        const QString damaged = backUp(a.path(), target.path(), day(2));
        const QString older = backUp(a.path(), target.path(), day(3));
        const QString later = backUp(a.path(), target.path(), QDateTime(QDate(2099, 1, 1), QTime(0, 0)));
        const QString foreign = backUp(other.path(), target.path(), day(4));
        QByteArray bytes = readFile(t.filePath(damaged + QStringLiteral("/file.dat")));
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
        writeFile(t.filePath(damaged + QStringLiteral("/file.dat")), bytes);
        // A user's copy of a backup under a backup's name, a folder of notes, and a link to
        // a backup kept elsewhere.
        const QString copy = QStringLiteral("病案备份-20200105-000000");
        QVERIFY(QDir().mkpath(t.filePath(copy)));
        for (const QString &f : QDir(t.filePath(oldest)).entryList(QDir::Files))
            QVERIFY(QFile::copy(t.filePath(oldest + QLatin1Char('/') + f), t.filePath(copy + QLatin1Char('/') + f)));
        writeFile(t.filePath(QStringLiteral("病案备份-20200106-000000/备份清单.txt")), "notes");
        const QString kept = backUp(a.path(), elsewhere.path(), day(7));
        QVERIFY(QFile::link(QDir(elsewhere.path()).filePath(kept), t.filePath(QStringLiteral("病案备份-20200107-000000"))));

        QProcess p;
        p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")),
                {QStringLiteral("backup"), a.path(), target.path(), QStringLiteral("--keep"), QStringLiteral("2")});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        // The new one and the newest older one stay; the oldest goes.
        QVERIFY2(out.contains(QStringLiteral("removed old backup: %1\n").arg(oldest)), qPrintable(out + err));
        QCOMPARE(out.count(QStringLiteral("removed old backup")), 1);
        QVERIFY(!t.exists(oldest));
        QVERIFY(t.exists(older));
        QVERIFY2(err.contains(QStringLiteral("casearchive-admin: the old backup %1 no longer passes its check; left in place "
                                             "(casearchive-admin check says what is wrong)\n").arg(damaged)),
                 qPrintable(err));
        QVERIFY(err.contains(QStringLiteral("casearchive-admin: the backup %1 was made later than this one: is the clock right? "
                                            "Left in place, and not counted\n").arg(later)));
        QVERIFY(out.contains(QStringLiteral("left alone: %1: a backup of another archive (%2)\n")
                                 .arg(foreign, testing::onServer() ? other.path() : QFileInfo(other.path()).absoluteFilePath())));
        QVERIFY(out.contains(QStringLiteral("left alone: %1: made as %2, a copy or a backup moved here\n")
                                 .arg(copy, QFileInfo(t.filePath(oldest)).absoluteFilePath())));
        QVERIFY(out.contains(QStringLiteral("left alone: 病案备份-20200106-000000: no whole checksum list of a backup\n")));
        QVERIFY(out.contains(QStringLiteral("left alone: 病案备份-20200107-000000: a symbolic link, not a backup made here\n")));
        for (const QString &name : {damaged, later, foreign, copy, QStringLiteral("病案备份-20200106-000000")})
            QVERIFY2(t.exists(name), qPrintable(name));
        QCOMPARE(QDir(QDir(elsewhere.path()).filePath(kept)).entryList(QDir::Files).size(), 3);
    }
};

QTEST_MAIN(TestBackupKeep)
#include "tst_backup_keep.moc"
