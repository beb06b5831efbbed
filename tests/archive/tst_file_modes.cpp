#include "TempArchive.h"

#include "common/Installation.h"
#include "common/Module1.h"
#include "archive/Archive.h"
#include "archive/Backup.h"
#include "archive/Restore.h"
#include "store/Database.h"
#include "store/FileModes.h"
#include "archive/Transfer.h"

#include <QDirIterator>

#include <sys/stat.h>
#include <unistd.h>

// Patients' records are for the records office only: every file and folder the program
// makes for an archive is closed to other accounts, under any umask.
class TestFileModes : public QObject {
    Q_OBJECT

    mode_t m_umask = 0;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    static QString mode(const QString &p) { return QString::number(store::modeOf(p), 8); }

    static gid_t groupOf(const QString &p)
    {
        struct stat st;
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? st.st_gid : gid_t(-1);
    }

    // Every folder and file under a folder (the folder too), with its mode: "path mode".
    static QStringList modesUnder(const QString &folder)
    {
        QStringList out{QStringLiteral(". ") + mode(folder)};
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            out << QDir(folder).relativeFilePath(p) + QLatin1Char(' ') + mode(p);
        }
        out.sort();
        return out;
    }

    static void chmodTo(const QString &p, mode_t m) { QVERIFY(::chmod(QFile::encodeName(p).constData(), m) == 0); }

    static void writeFile(const QString &p, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void initTestCase()
    {
        if (testing::onServer())
            QSKIP("the files' permissions do not depend on the server");
        testing::isolateSettings();
        // The most permissive umask: nothing below may rely on it.
        m_umask = ::umask(0);
    }

    void cleanupTestCase() { ::umask(m_umask); }

    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void newArchiveIsTheOwnersAlone()
    {
        const QString file = path(QStringLiteral("a/b/file.dat"));
        store::initArchive(file);
        QCOMPARE(mode(path(QStringLiteral("a"))), QStringLiteral("700"));
        QCOMPARE(mode(path(QStringLiteral("a/b"))), QStringLiteral("700"));
        QCOMPARE(mode(file), QStringLiteral("600"));
        // SQLite's journal takes the file's mode while a write is under way.
        {
            store::Connection c(file);
            store::Transaction t(c);
            store::insertType(c, QStringLiteral("内科"));
            QCOMPARE(mode(file + QStringLiteral("-journal")), QStringLiteral("600"));
            t.commit();
        }
        // A folder that was there already is not the archive's to change.
        QVERIFY(QDir().mkpath(path(QStringLiteral("open"))));
        chmodTo(path(QStringLiteral("open")), 0755);
        store::initArchive(path(QStringLiteral("open/x.dat")));
        QCOMPARE(mode(path(QStringLiteral("open"))), QStringLiteral("755"));
        QCOMPARE(mode(path(QStringLiteral("open/x.dat"))), QStringLiteral("600"));
        // An existing file is refused, and keeps its mode.
        QVERIFY_THROWS_EXCEPTION(store::StoreError, store::createProtectedFile(file, store::ownerOnly()));
        QCOMPARE(mode(file), QStringLiteral("600"));
    }

    void newArchiveInASharedFolderIsTheGroups()
    {
        const QString shared = path(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(shared));
        chmodTo(shared, 02770);
        store::initArchive(shared + QStringLiteral("/file.dat"));
        QCOMPARE(mode(shared + QStringLiteral("/file.dat")), QStringLiteral("660"));
        QCOMPARE(groupOf(shared + QStringLiteral("/file.dat")), groupOf(shared));
        // Group-writable without setgid is no shared folder.
        const QString loose = path(QStringLiteral("loose"));
        QVERIFY(QDir().mkpath(loose));
        chmodTo(loose, 0777);
        store::initArchive(loose + QStringLiteral("/file.dat"));
        QCOMPARE(mode(loose + QStringLiteral("/file.dat")), QStringLiteral("600"));
    }

    void demoAndCopyAreTheOwnersAlone()
    {
        store::DemoOptions options;
        options.records = 3;
        options.types = 2;
        const QString demo = path(QStringLiteral("demo/demo.dat"));
        store::makeDemoArchive(demo, options);
        QCOMPARE(mode(path(QStringLiteral("demo"))), QStringLiteral("700"));
        QCOMPARE(mode(demo), QStringLiteral("600"));
        const QStringList files = modesUnder(store::demoFilesFolder(demo));
        QVERIFY(files.size() > 5);
        for (const QString &line : files)
            QVERIFY2(line.endsWith(line.startsWith(QLatin1String(". ")) ? QLatin1String(" 700") : QLatin1String(" 600")),
                     qPrintable(line));

        const QString copy = path(QStringLiteral("copies/new/demo.dat"));
        const store::TransferResult r = store::copyArchive(demo, copy);
        QCOMPARE(r.outcome, store::TransferResult::Verified);
        QCOMPARE(mode(path(QStringLiteral("copies"))), QStringLiteral("700"));
        QCOMPARE(mode(path(QStringLiteral("copies/new"))), QStringLiteral("700"));
        QCOMPARE(mode(copy), QStringLiteral("600"));
    }

    void backupKeepsTheArchivesPermissions()
    {
        const QString archive = path(QStringLiteral("office/file.dat"));
        store::initArchive(archive);
        const QString photo = path(QStringLiteral("photos/1.png"));
        writeFile(photo, "not really a picture");
        chmodTo(photo, 0644);
        {
            store::Connection c(archive);
            store::Transaction t(c);
            store::insertType(c, QStringLiteral("内科"));
            store::insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("张三"),
                                    QString(), QString()});
            store::insertPhoto(c, QStringLiteral("240101080000"), photo);
            t.commit();
        }
        const QString target = path(QStringLiteral("usb"));
        QVERIFY(QDir().mkpath(target));
        chmodTo(target, 0777);

        // The owner's archive: the owner's backup, folders and files alike.
        store::BackupOptions options;
        options.archivePath = archive;
        options.targetFolder = target;
        options.when = QDateTime(QDate(2024, 6, 7), QTime(15, 30, 12));
        store::BackupResult r = store::backupArchive(options);
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        QCOMPARE(r.filesCopied, qint64(1));
        for (const QString &line : modesUnder(r.folder)) {
            const bool folder = QFileInfo(r.folder + QLatin1Char('/') + line.section(QLatin1Char(' '), 0, -2)).isDir();
            QVERIFY2(line.endsWith(folder ? QLatin1String(" 700") : QLatin1String(" 600")), qPrintable(line));
        }
        QCOMPARE(mode(target), QStringLiteral("777")); // the chosen folder is the operator's

        // The office's archive (shared with its group): the group may read the backup, only
        // its owner change it; or the owner alone, when asked.
        chmodTo(archive, 0660);
        options.when = options.when.addSecs(1);
        r = store::backupArchive(options);
        QCOMPARE(r.outcome, store::BackupResult::Verified);
        for (const QString &line : modesUnder(r.folder)) {
            const bool folder = QFileInfo(r.folder + QLatin1Char('/') + line.section(QLatin1Char(' '), 0, -2)).isDir();
            QVERIFY2(line.endsWith(folder ? QLatin1String(" 750") : QLatin1String(" 640")), qPrintable(line));
        }
        QCOMPARE(groupOf(r.folder), groupOf(archive));
        options.when = options.when.addSecs(1);
        options.ownerOnly = true;
        r = store::backupArchive(options);
        for (const QString &line : modesUnder(r.folder))
            QVERIFY2(line.endsWith(QLatin1String(" 700")) || line.endsWith(QLatin1String(" 600")), qPrintable(line));
    }

    void aRestoreIsPrivateUnderAnyUmask_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
    }

    // A restore into folders that are not there yet, and its files put under --files-to:
    // the owner's alone, folders and files, from their first moment.
    void aRestoreIsPrivateUnderAnyUmask()
    {
        QFETCH(int, mask);
        const QString archive = path(QStringLiteral("office/file.dat"));
        store::initArchive(archive);
        const QString photo = path(QStringLiteral("photos/1.png"));
        writeFile(photo, "a photo");
        {
            store::Connection c(archive);
            store::Transaction t(c);
            store::insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("张三"), QString(), QString()});
            store::insertPhoto(c, QStringLiteral("1"), photo);
            t.commit();
        }
        store::BackupOptions options;
        options.archivePath = archive;
        options.targetFolder = path(QStringLiteral("office"));
        const store::BackupResult backup = store::backupArchive(options);
        QCOMPARE(backup.outcome, store::BackupResult::Verified);

        ::umask(mode_t(mask));
        store::RestoreOptions restore;
        restore.backup = backup.folder;
        restore.target = path(QStringLiteral("new/Data/file.dat"));
        restore.filesTo = path(QStringLiteral("new/files"));
        const store::RestoreResult r = store::restoreBackup(restore);
        ::umask(0);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QFileInfo(path(QStringLiteral("new/files")) + photo).isFile());
        const QStringList modes = modesUnder(path(QStringLiteral("new")));
        QVERIFY(modes.size() > 5);
        for (const QString &line : modes) {
            const bool folder = QFileInfo(path(QStringLiteral("new/")) + line.section(QLatin1Char(' '), 0, -2)).isDir();
            QVERIFY2(line.endsWith(folder ? QLatin1String(" 700") : QLatin1String(" 600")), qPrintable(line));
        }
    }

    void secureTightensAnArchiveInTheProgramsFolder()
    {
        // An archive beside the program, made by an earlier version under umask 022.
        const QString program = path(QStringLiteral("prog"));
        const QString data = program + QStringLiteral("/Data");
        const QString file = data + QStringLiteral("/file.dat");
        store::initArchive(file);
        writeFile(file + QStringLiteral("-wal"), "wal");
        chmodTo(data, 0755);
        chmodTo(file, 0644);
        chmodTo(file + QStringLiteral("-wal"), 0644);
        app::setProgramFolder(program);
        QCOMPARE(QFileInfo(app::defaultDatabasePath()).absoluteFilePath(), QFileInfo(file).absoluteFilePath());

        QStringList problems;
        const QStringList done = app::secureArchive(file, problems);
        QCOMPARE(problems, QStringList());
        QCOMPARE(done, (QStringList{QStringLiteral("0700 ") + QFileInfo(data).absoluteFilePath(),
                                    QStringLiteral("0600 ") + QFileInfo(file).absoluteFilePath(),
                                    QStringLiteral("0600 ") + QFileInfo(file).absoluteFilePath() + QStringLiteral("-wal")}));
        QCOMPARE(mode(data), QStringLiteral("700"));
        QCOMPARE(mode(file), QStringLiteral("600"));

        // Any other archive file: its folder is left alone; a file its group may write stays
        // the group's, without the others' read.
        const QString other = path(QStringLiteral("elsewhere/x.dat"));
        store::initArchive(other);
        chmodTo(path(QStringLiteral("elsewhere")), 0755);
        chmodTo(other, 0664);
        app::secureArchive(other, problems);
        QCOMPARE(problems, QStringList());
        QCOMPARE(mode(other), QStringLiteral("660"));
        QCOMPARE(mode(path(QStringLiteral("elsewhere"))), QStringLiteral("755"));
        chmodTo(other, 0644);
        app::secureArchive(other, problems);
        QCOMPARE(mode(other), QStringLiteral("600"));
        app::setProgramFolder(QString());
    }
};

QTEST_MAIN(TestFileModes)
#include "tst_file_modes.moc"
