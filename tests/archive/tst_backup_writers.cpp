// Saves made while a backup copies an archive too large for one step: they go through at
// once, and the backup is still one state of the archive, counted and checked.
#include "TempArchive.h"

#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "store/Database.h"
#include "store/Statements.h"

#include <QDir>

namespace {

// Another workstation saves a record; the store's own message when it cannot.
QString saveRecord(const QString &archive, const QString &number)
{
    try {
        store::Connection other(archive);
        store::Transaction t(other);
        store::insertRecord(other, {0, QStringLiteral("外科"), number, QStringLiteral("王五"), QString(), QString()});
        t.commit();
    } catch (const store::StoreError &e) {
        return e.description();
    }
    return QString();
}

} // namespace

class TestBackupWriters : public QObject {
    Q_OBJECT

    // Some 3 MB of pages: the copy takes several steps, with room for a save between them.
    struct LargeArchive {
        testing::TempArchive archive;
        QTemporaryDir target;
        LargeArchive()
        {
            archive.addType(QStringLiteral("外科"));
            archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"), QString(),
                              QString(3 << 20, QLatin1Char('x')));
        }
        store::BackupOptions options() const
        {
            store::BackupOptions o;
            o.archivePath = archive.path();
            o.targetFolder = target.path();
            o.includeFiles = false;
            o.when = QDateTime(QDate(2024, 6, 7), QTime(15, 30, 12));
            return o;
        }
    };

private slots:
    void init()
    {
        // A writer kept out by the backup would fail within a moment, not after 5 s.
        store::setBusyTimeout(300);
    }
    void cleanup() { store::setBusyTimeout(5000); }

    void aSaveDuringTheCopySucceedsAndIsInTheBackup()
    {
        LargeArchive a;
        QStringList failures;
        int steps = 0;
        const store::BackupResult r = store::backupArchive(a.options(), [&](const store::BackupProgress &p) {
            if (p.stage == store::BackupProgress::Database && ++steps == 1) {
                const QString failed = saveRecord(a.archive.path(), QStringLiteral("240101100000"));
                if (!failed.isEmpty())
                    failures << failed;
            }
            return true;
        });
        QCOMPARE(failures, QStringList());
        QVERIFY2(steps > 2, "the copy was expected to take several steps");
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        QCOMPARE(a.archive.count(QStringLiteral("Detail")), 2);
        const store::ArchiveReport copy = store::checkArchive(QDir(r.folder).filePath(QStringLiteral("file.dat")), false);
        QVERIFY(copy.integrityOk());
        QCOMPARE(copy.counts, r.counts);
        // The file's copy starts over after the save and so holds it; the server's holds the
        // state its read began with.
        QCOMPARE(r.counts.detail, testing::onServer() ? 1 : 2);
    }

    void anArchiveSavedToWithoutPauseIsNotBackedUpButEverySaveSucceeds()
    {
        if (testing::onServer())
            QSKIP("a server's backup reads one state while workstations write; it never starts over");
        LargeArchive a;
        QStringList failures;
        int saves = 0;
        const store::BackupResult r = store::backupArchive(a.options(), [&](const store::BackupProgress &p) {
            if (p.stage == store::BackupProgress::Database) {
                const QString failed = saveRecord(a.archive.path(), QStringLiteral("2402%1").arg(++saves, 8, 10, QLatin1Char('0')));
                if (!failed.isEmpty())
                    failures << failed;
            }
            return true;
        });
        QCOMPARE(failures, QStringList());
        QCOMPARE(r.outcome, store::BackupResult::Failed);
        QCOMPARE(r.error, QStringLiteral("备份期间病案数据库一直有人在保存，备份已重新开始 20 次仍未能完成。"
                                         "各工作站的保存都不受影响；请在保存较少的时候再备份。"));
        // A save after every step: the first copy and twenty more were started over.
        QCOMPARE(saves, 21);
        QCOMPARE(a.archive.count(QStringLiteral("Detail")), 22);
        QCOMPARE(QDir(a.target.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(TestBackupWriters)
#include "tst_backup_writers.moc"
