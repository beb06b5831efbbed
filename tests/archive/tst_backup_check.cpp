// What "casearchive-admin check" proves about a backup: the archive and every copied file
// as backed up, by the checksum list written after the copy; damage told apart from
// missing copies; the records' live originals playing no part. And what a backup does
// with the ".partial" folders earlier backups left.
#include "FileBytes.h"
#include "TempArchive.h"

#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "archive/BackupManifest.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using testing::readFile;
using testing::writeFile;

struct Checked {
    int exitCode = -1;
    QString out;
};

Checked runCheck(const QString &path)
{
    QProcess p;
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")),
            {QStringLiteral("check"), path});
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

const QDateTime kWhen(QDate(2024, 6, 7), QTime(15, 30, 12));

// How the list writes the local time's offset from UTC ("Z", "+08:00").
QString offsetOf(const QDateTime &when)
{
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate).mid(19);
}

// An archive of one record with an attached file and two photos, backed up with its files.
struct Backed {
    testing::TempArchive archive;
    QTemporaryDir files;
    QTemporaryDir target;
    QString attached, photo1, photo2, folder, identity;
    Backed()
    {
        attached = writeFile(files.filePath(QStringLiteral("docs/report.pdf")), QByteArray(30000, 'r'));
        photo1 = writeFile(files.filePath(QStringLiteral("photos/one.jpg")), QByteArray(250000, '1'));
        // As a record may name it, with a "." on the way: kept and listed under its clean path.
        photo2 = writeFile(files.filePath(QStringLiteral("photos/./two\tname.jpg")), "two");
        archive.addType(QStringLiteral("外科"));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("李玉兰"), attached,
                          QStringLiteral("说明"), {photo1, photo2, files.filePath(QStringLiteral("photos/gone.jpg"))});
        for (int i = 0; i < 20; ++i)
            archive.addRecord(QStringLiteral("外科"), QStringLiteral("2401010900%1").arg(i, 2, 10, QLatin1Char('0')),
                              QStringLiteral("病人%1").arg(i), QString(), QString(300, QLatin1Char('x')));
        store::BackupOptions o;
        o.archivePath = archive.path();
        o.targetFolder = target.path();
        o.when = kWhen;
        const store::BackupResult r = store::backupArchive(o);
        if (r.outcome != store::BackupResult::Verified)
            QTest::qFail(qPrintable(r.error), __FILE__, __LINE__);
        folder = r.folder;
        store::Connection c(archive.path());
        identity = store::archiveIdentity(c);
    }
    QString inBackup(const QString &original) const { return folder + QStringLiteral("/files") + original; }
    QString db() const { return folder + QStringLiteral("/file.dat"); }
};

} // namespace

class TestBackupCheck : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { store::resetDamageForTests(); }

    void aGoodBackupWhoseOriginalsAreGoneChecksGood()
    {
        Backed b;
        QVERIFY(QFile::remove(b.attached) && QFile::remove(b.photo1) && QFile::remove(b.photo2));
        if (!testing::onServer())
            QVERIFY(b.archive.remove());
        for (const QString &path : {b.folder, b.db()}) {
            const Checked c = runCheck(path);
            QCOMPARE(c.exitCode, 0);
            QVERIFY2(c.out.startsWith(QStringLiteral("backup: %1\nchecksums: list intact (manifest.sha256)\n"
                                                     "made: 2024-06-07T15:30:12%2, of %3\narchive identity: %4\n"
                                                     "archive file.dat: size and SHA-256 as backed up\n  integrity: ok\n")
                                          .arg(b.folder, offsetOf(kWhen),
                                               testing::onServer() ? b.archive.path() : QFileInfo(b.archive.path()).absoluteFilePath(),
                                               b.identity)),
                     qPrintable(c.out));
            QVERIFY(c.out.contains(QStringLiteral("  rows: Catalog 1, Detail 21, photo 3, User 1\n")));
            QVERIFY(c.out.contains(QStringLiteral("copied files listed: 3, damaged: 0, missing: 0\n")));
            QVERIFY(c.out.contains(QStringLiteral("already missing when the backup was made: 1 ")));
            QVERIFY(c.out.endsWith(QStringLiteral("result: ok (the archive and every copied file are as backed up)\n")));
        }
    }

    void damageIsReportedByName_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("photo copies deleted") << QStringLiteral("delete photos") << 3
                                              << QStringLiteral("  MISSING files%1 (of %1)");
        QTest::newRow("photo copy changed, same size") << QStringLiteral("change photo") << 1
                                                       << QStringLiteral("  DAMAGED files%1 (of %1): same size but other bytes (SHA-256 differs)");
        QTest::newRow("photo copy cut short") << QStringLiteral("truncate photo") << 1
                                              << QStringLiteral("  DAMAGED files%1 (of %1): has 249999 bytes, backed up with 250000 (cut short or grown)");
        QTest::newRow("archive one bit flipped") << QStringLiteral("flip archive") << 1
                                                 << QStringLiteral("archive file.dat: DAMAGED - same size but other bytes (SHA-256 differs)");
        QTest::newRow("archive cut by 1 byte") << QStringLiteral("cut 1") << 1 << QStringLiteral("archive file.dat: DAMAGED - has ");
        QTest::newRow("archive cut by 10 bytes") << QStringLiteral("cut 10") << 1 << QStringLiteral("archive file.dat: DAMAGED - has ");
        QTest::newRow("archive cut by 100 bytes") << QStringLiteral("cut 100") << 1 << QStringLiteral("archive file.dat: DAMAGED - has ");
        QTest::newRow("archive gone") << QStringLiteral("delete archive") << 1 << QStringLiteral("archive file.dat: DAMAGED - is missing");
        QTest::newRow("checksum list edited") << QStringLiteral("edit list") << 1
                                              << QStringLiteral("checksums: DAMAGED - the checksum list has been changed or damaged (its own SHA-256 differs)");
        QTest::newRow("checksum list cut") << QStringLiteral("shorten list") << 1
                                           << QStringLiteral("checksums: DAMAGED - the checksum list is cut short (its own checksum line is missing)");
        QTest::newRow("checksum list gone") << QStringLiteral("delete list") << 1
                                            << QStringLiteral("checksums: DAMAGED - the checksum list manifest.sha256 is missing or cannot be read");
        // Whatever the list does not account for, its own checksum notwithstanding.
        QTest::newRow("journal beside the archive")
            << QStringLiteral("journal") << 1
            << QStringLiteral("  NOT OF THE BACKUP file.dat-journal is a journal beside the archive (opening the archive "
                              "would write it into it)\n");
        QTest::newRow("file put into the backup") << QStringLiteral("plant") << 1
                                                  << QStringLiteral("  NOT OF THE BACKUP files/extra.jpg is not in the checksum list\n");
        QTest::newRow("copy swapped for a link") << QStringLiteral("link") << 1
                                                 << QStringLiteral("  NOT OF THE BACKUP files%1 is a symbolic link\n");
    }

    void damageIsReportedByName()
    {
        QFETCH(QString, what);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        Backed b;
        const QString photo = b.inBackup(b.photo1);
        const QString list = b.folder + QStringLiteral("/manifest.sha256");
        QByteArray bytes;
        if (what == QLatin1String("delete photos")) {
            QVERIFY(QFile::remove(photo) && QFile::remove(b.inBackup(b.photo2)));
        } else if (what == QLatin1String("change photo")) {
            bytes = readFile(photo);
            bytes[1000] = '2';
            writeFile(photo, bytes);
        } else if (what == QLatin1String("truncate photo")) {
            QVERIFY(QFile::resize(photo, 249999));
        } else if (what == QLatin1String("flip archive")) {
            // One bit of a record's name (李玉兰 becomes another name), deep inside the file.
            bytes = readFile(b.db());
            const qsizetype at = bytes.indexOf(QStringLiteral("李玉兰").toUtf8());
            QVERIFY(at > 0);
            bytes[at + 4] = char(bytes[at + 4] ^ 0x01);
            writeFile(b.db(), bytes);
        } else if (what.startsWith(QLatin1String("cut "))) {
            QVERIFY(QFile::resize(b.db(), QFileInfo(b.db()).size() - what.mid(4).toInt()));
        } else if (what == QLatin1String("delete archive")) {
            QVERIFY(QFile::remove(b.db()));
        } else if (what == QLatin1String("edit list")) {
            writeFile(list, readFile(list).replace("\t30000\t", "\t30001\t"));
        } else if (what == QLatin1String("shorten list")) {
            bytes = readFile(list);
            writeFile(list, bytes.left(bytes.size() - 80));
        } else if (what == QLatin1String("journal")) {
            writeFile(b.db() + QStringLiteral("-journal"), QByteArray(4096, '\x07'));
        } else if (what == QLatin1String("plant")) {
            writeFile(b.folder + QStringLiteral("/files/extra.jpg"), "planted");
        } else if (what == QLatin1String("link")) {
            QVERIFY(QFile::remove(photo) && QFile::link(b.photo1, photo));
        } else {
            QVERIFY(QFile::remove(list));
        }
        const QByteArray archiveBefore = readFile(b.db());
        const Checked c = runCheck(b.folder);
        // The check writes nothing into what it checks, nor rolls a journal into it.
        QCOMPARE(readFile(b.db()), archiveBefore);
        if (what == QLatin1String("journal"))
            QCOMPARE(readFile(b.db() + QStringLiteral("-journal")), QByteArray(4096, '\x07'));
        QCOMPARE(c.exitCode, exitCode);
        const QString expected = line.contains(QLatin1String("%1")) ? line.arg(b.photo1) : line;
        QVERIFY2(c.out.contains(expected), qPrintable(c.out));
        // Damage is never taken for files the records miss, nor for a sound backup.
        QVERIFY2(!c.out.contains(QStringLiteral("result: ok")), qPrintable(c.out));
        if (exitCode == 1)
            QVERIFY2(!c.out.contains(QStringLiteral("MISSING")), qPrintable(c.out));
        // Checked through its archive file, the backup is judged the same way.
        if (what != QLatin1String("delete archive") && what != QLatin1String("delete list"))
            QCOMPARE(runCheck(b.db()).exitCode, exitCode);
        // Without its list the file.dat is what a backup made before checksum lists holds:
        // an archive, examined as one; only the folder says the list is gone.
        if (what == QLatin1String("delete list")) {
            const Checked plain = runCheck(b.db());
            QVERIFY2(plain.out.startsWith(QStringLiteral("archive: %1\nintegrity: ok\n").arg(b.db())), qPrintable(plain.out));
            QVERIFY2(!plain.out.contains(QStringLiteral("checksums")), qPrintable(plain.out));
        }
    }

    void aChecksumListNeverLeadsOutOfTheBackup()
    {
        Backed b;
        const QString outside = writeFile(b.target.filePath(QStringLiteral("outside.txt")), "x");
        QVector<store::ManifestEntry> entries;
        entries.push_back({store::ManifestEntry::Archive, 1, QByteArray(64, 'a'), QStringLiteral("../outside.txt"), {}});
        writeFile(b.folder + QStringLiteral("/manifest.sha256"), store::manifestBytes(entries));
        const Checked c = runCheck(b.folder);
        QCOMPARE(c.exitCode, 1);
        QVERIFY2(c.out.contains(QStringLiteral("the checksum list's line 2 is malformed")), qPrintable(c.out));
        QCOMPARE(readFile(outside), QByteArray("x"));
    }

    // A path the records name may hold any character; one entry a line and TAB between
    // fields only hold while %, TAB, line breaks and control characters are escaped.
    void pathsWithTabsLineBreaksAndPercentSurviveTheChecksumList()
    {
        QTemporaryDir dir;
        const QString odd = QStringLiteral("/病案/a\tb\r\nc%41d\x01" "e 100%.jpg");
        QVector<store::ManifestEntry> entries;
        entries.push_back({store::ManifestEntry::Archive, 5, QByteArray(64, 'a'), QStringLiteral("file.dat"), {}});
        entries.push_back({store::ManifestEntry::File, 7, QByteArray(64, 'b'), QStringLiteral("files") + odd, odd});
        entries.push_back({store::ManifestEntry::Missing, -1, {}, {}, odd + QStringLiteral("\n2")});
        const QByteArray bytes = store::manifestBytes(entries);
        QVERIFY2(bytes.contains("\t/病案/a%09b%0D%0Ac%2541d%01e 100%25.jpg\n"), bytes.constData());
        QCOMPARE(bytes.count('\n'), 5); // the heading, three entries, the list's own checksum

        const QString list = writeFile(dir.filePath(QStringLiteral("manifest.sha256")), bytes);
        QVector<store::ManifestEntry> read;
        QCOMPARE(store::readManifest(list, read), QString());
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[1].original, odd);
        QCOMPARE(read[1].inBackup, QStringLiteral("files") + odd);
        QCOMPARE(read[1].size, 7);
        QCOMPARE(read[2].kind, store::ManifestEntry::Missing);
        QCOMPARE(read[2].original, odd + QStringLiteral("\n2"));
    }

    void aLiveArchiveKeepsItsCheckAndListsRecordsWithoutAType()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("外科 "), QStringLiteral("2"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("旧类型"), QStringLiteral("3"), QStringLiteral("丙"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '4', '丁')"));
        const Checked c = runCheck(a.path());
        QCOMPARE(c.exitCode, 0);
        QVERIFY2(c.out.contains(QStringLiteral("records whose type is not in Catalog: 3 (the tree has no type for them; not a fault)\n"
                                               "  record 2 (乙): type \"外科 \"\n"
                                               "  record 3 (丙): type \"旧类型\"\n"
                                               "  record 4 (丁): type (none)\n")),
                 qPrintable(c.out));
        QVERIFY(!c.out.contains(QStringLiteral("(甲)")));
        QVERIFY(c.out.endsWith(QStringLiteral("result: ok\n")));
    }

    // The scheduled backup: the window's backup from a script, with exit codes (what --keep
    // removes is tst_backup_keep's).
    void backupCommandForScripts()
    {
        testing::TempArchive a;
        QTemporaryDir files;
        QTemporaryDir target;
        const QString photo = writeFile(files.filePath(QStringLiteral("p.jpg")), "photo");
        // Root backs a server's archive up with the office's rights, which reach every account's.
        QVERIFY(QFile::setPermissions(files.path(), QFile::permissions(files.path()) | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(photo, QFile::permissions(photo) | QFile::ReadOther));
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("甲"), QString(), QString(),
                    {photo, files.filePath(QStringLiteral("gone.jpg"))});
        QString mark; // the trail's newest entry, which the backup's log keeps
        {
            store::Connection c(a.path());
            store::Transaction tx(c);
            store::appendHistory(c, {QStringLiteral("甲"), QStringLiteral("pc-1")},
                                 {store::ChangeKind::TypeAdded, {}, 0, QStringLiteral("外科"), std::nullopt, std::nullopt, {}});
            tx.commit();
            mark = store::verifyHistoryChain(c).newest->text();
        }
        const QDir t(target.path());
        const QString tool = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin"));
        QProcess p;
        auto run = [&](const QStringList &args) {
            p.start(tool, args);
            return p.waitForFinished(120000) ? p.exitCode() : -1;
        };

        // No backup made: exit 1; wrong use: 2.
        QCOMPARE(run({QStringLiteral("backup"), files.filePath(QStringLiteral("none.dat")), target.path(),
                      QStringLiteral("--keep"), QStringLiteral("1")}),
                 1);
        QCOMPARE(t.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 0);
        QCOMPARE(run({QStringLiteral("backup"), a.path(), target.path(), QStringLiteral("--keep"), QStringLiteral("0")}), 2);
        QCOMPARE(run({QStringLiteral("backup"), a.path()}), 2);

        // Verified, with a file the records name missing: 3; the files copied with --with-files.
        QCOMPARE(run({QStringLiteral("backup"), a.path(), target.path(), QStringLiteral("--with-files")}), 3);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("verified: 1 records, 2 photos, 1 files copied, 1 missing\n"
                                             "  missing: record 1 (甲): %1 - not found\n"
                                             "trail mark: %2\n")
                                  .arg(files.filePath(QStringLiteral("gone.jpg")), mark)),
                 qPrintable(out));
        const QStringList made = t.entryList({QStringLiteral("病案备份-2*")}, QDir::Dirs, QDir::Name);
        QCOMPARE(made.size(), 1);
        QCOMPARE(readFile(t.filePath(made.last()) + QStringLiteral("/files") + photo), QByteArray("photo"));
        QCOMPARE(runCheck(t.filePath(made.last())).exitCode, 0);
    }

    void leftoversOfKilledBackupsAreRemovedOrReported()
    {
        if (testing::onServer())
            QSKIP("the folders are the same on either engine");
        testing::TempArchive a;
        QTemporaryDir target;
        const QDir t(target.path());
        writeFile(t.filePath(QStringLiteral("病案备份-20240606-101010.partial/file.dat")), QByteArray(5000, 'a'));
        writeFile(t.filePath(QStringLiteral("病案备份-20240607-153011-2.partial/files/x")), QByteArray(700, 'b'));
        writeFile(t.filePath(QStringLiteral("病案备份-20240608-000000.partial/file.dat")), QByteArray(300, 'c'));
        writeFile(t.filePath(QStringLiteral("病案备份-20240601-000000.partial/file.dat")), QByteArray(40, 'd'));
        writeFile(t.filePath(QStringLiteral("其他.partial/keep")), "k");
        // One still being written by another backup: it holds its folder's lock.
        const int held = ::open(QFile::encodeName(t.filePath(QStringLiteral("病案备份-20240601-000000.partial"))).constData(),
                                O_RDONLY | O_DIRECTORY);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        store::BackupOptions o;
        o.archivePath = a.path();
        o.targetFolder = target.path();
        o.includeFiles = false;
        o.when = kWhen;
        const store::BackupResult r = store::backupArchive(o);
        ::close(held);
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        QCOMPARE(r.leftoversRemoved, (QStringList{QStringLiteral("病案备份-20240606-101010.partial"),
                                                  QStringLiteral("病案备份-20240607-153011-2.partial")}));
        QCOMPARE(r.leftoverBytesFreed, 5700);
        // Newer than this backup, or still being written: kept and reported.
        QCOMPARE(r.leftoversKept, (QStringList{QStringLiteral("病案备份-20240601-000000.partial"),
                                               QStringLiteral("病案备份-20240608-000000.partial")}));
        QCOMPARE(r.leftoverBytesKept, 340);
        QVERIFY(t.exists(QStringLiteral("其他.partial/keep")));
        QVERIFY(t.exists(QStringLiteral("病案备份-20240607-153012")));
    }
};

QTEST_MAIN(TestBackupCheck)
#include "tst_backup_check.moc"
