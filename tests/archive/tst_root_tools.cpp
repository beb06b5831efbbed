// The tools the office runs as root (the nightly backup, restore, ocr) follow what the
// records name with the rights of the archive's group, never root's: a record naming a
// root-only file or a FIFO gets neither into a backup nor into the archive's words, a
// backup is the group's to read and never to change, and a restore from a backup the
// group could have changed, or that names a path elsewhere, writes nothing there.
#include "AdminTool.h"
#include "FileBytes.h"
#include "PageDrawing.h"
#include "TempArchive.h"
#include "TestAccount.h"

#include "archive/Archive.h"
#include "archive/BackupManifest.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing::readFile;
using testing::writeFile;

using Run = testing::AdminRun;
Run admin(const QStringList &args) { return testing::runAdmin(args); }

void own(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    QVERIFY(::chown(QFile::encodeName(path).constData(), uid, gid) == 0);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

QString modeAndOwner(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1 %2:%3").arg(st.st_mode & 07777, 0, 8).arg(st.st_uid).arg(st.st_gid);
}

} // namespace

class TestRootTools : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TestAccount> m_member;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_archive, m_page, m_secret, m_pipe, m_pipeLink, m_backups;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString group() const { return QStringLiteral("nobody:") + m_member->name(); }

private slots:
    // An office as the package makes it: the archive's folder the group's, a folder of
    // pages the group reads, a root-only file and a FIFO beside them, all named by a record.
    void initTestCase()
    {
        if (testing::onServer())
            QSKIP("what root may read follows the archive file's group; a server's archive is read the same way, "
                  "with the office group's rights");
        m_member = std::make_unique<testing::TestAccount>();
        if (!m_member->made())
            QSKIP(qPrintable(m_member->why()));
        testing::isolateSettings();
        m_dir = std::make_unique<QTemporaryDir>();
        own(m_dir->path(), 0, 0, 0755);
        const gid_t g = m_member->gid();
        QVERIFY(QDir().mkpath(path(QStringLiteral("office"))) && QDir().mkpath(path(QStringLiteral("pages")))
                && QDir().mkpath(path(QStringLiteral("backups"))) && QDir().mkpath(path(QStringLiteral("rootonly"))));
        own(path(QStringLiteral("office")), 0, g, 02770);
        own(path(QStringLiteral("pages")), 0, g, 02770);
        own(path(QStringLiteral("rootonly")), 0, 0, 0755);
        m_backups = path(QStringLiteral("backups"));
        m_archive = path(QStringLiteral("office/file.dat"));
        store::initArchive(m_archive);
        QCOMPARE(modeAndOwner(m_archive), QStringLiteral("660 0:%1").arg(g));

        m_page = path(QStringLiteral("pages/page.png"));
        testing::PageLook look;
        look.widthPx = 1200;
        QVERIFY(testing::savePage(testing::drawPage(QStringLiteral("阿莫西林胶囊 Amoxicillin 0.5g"), look), m_page));
        own(m_page, 0, g, 0640);
        m_secret = writeFile(path(QStringLiteral("secret")), "root's own");
        own(m_secret, 0, 0, 0600);
        m_pipe = path(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(m_pipe).constData(), 0666) == 0);
        m_pipeLink = path(QStringLiteral("pipe-link"));
        QVERIFY(QFile::link(m_pipe, m_pipeLink));
        store::Connection c(m_archive);
        store::Transaction t(c);
        store::insertType(c, QStringLiteral("内科"));
        store::insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"), QString(), QString()});
        for (const QString &photo : {m_page, m_secret, m_pipe, m_pipeLink})
            store::insertPhoto(c, QStringLiteral("1"), photo);
        t.commit();
    }

    void cleanupTestCase()
    {
        m_dir.reset();
        m_member.reset();
    }

    void theBackupReadsAsTheGroupAndIsTheGroupsToReadOnly()
    {
        const Run r = admin({QStringLiteral("backup"), m_archive, m_backups, QStringLiteral("--with-files")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.out.contains(QStringLiteral("1 files copied, 3 missing\n"
                                               "  missing: record 1 (甲): %1 - may not be read by %2, whose rights the "
                                               "backup reads the records' files with\n"
                                               "  missing: record 1 (甲): %3 - is not a regular file\n"
                                               "  missing: record 1 (甲): %4 - is not a regular file\n")
                                    .arg(m_secret, group(), m_pipe, m_pipeLink)),
                 qPrintable(r.out + r.err));
        const QString folder = QDir(m_backups).filePath(QDir(m_backups).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0));
        QCOMPARE(readFile(folder + QStringLiteral("/files") + m_page), readFile(m_page));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/files") + m_secret));
        // Root's, the group's to read, nobody else's.
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        QCOMPARE(modeAndOwner(folder), QStringLiteral("750 0:%1").arg(m_member->gid()));
        while (it.hasNext()) {
            const QString p = it.next();
            QCOMPARE(modeAndOwner(p), QStringLiteral("%1 0:%2").arg(it.fileInfo().isDir() ? 750 : 640).arg(m_member->gid()));
        }
        QCOMPARE(admin({QStringLiteral("check"), folder}).exitCode, 0);
    }

    void aRootRestoreWritesNothingTheGroupCouldNotHaveWritten()
    {
        // A record names a file in a folder only root may write (the member wrote the
        // record); its copy is in the backup, the original then gone.
        const QString planted = writeFile(path(QStringLiteral("rootonly/planted.txt")), "the member's bytes");
        own(planted, 0, 0, 0644);
        {
            store::Connection c(m_archive);
            store::Transaction t(c);
            store::insertPhoto(c, QStringLiteral("1"), planted);
            t.commit();
        }
        QTemporaryDir backups;
        const Run made = admin({QStringLiteral("backup"), m_archive, backups.path(), QStringLiteral("--with-files")});
        QCOMPARE(made.exitCode, 3);
        const QString folder = QDir(backups.path()).filePath(QDir(backups.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0));
        QVERIFY(QFile::remove(planted));
        QVERIFY(QFile::rename(m_page, m_page + QStringLiteral(".old")));

        // Changeable by others than root: refused unless trusted.
        own(folder, 0, m_member->gid(), 0770);
        const QString target = path(QStringLiteral("office/restored.dat"));
        Run r = admin({QStringLiteral("restore"), folder, target});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QStringLiteral("casearchive-admin: 备份“%1”不只 root 能改动（“%1”的权限是 0770），没有恢复。"
                                       "确认这个备份可信时，加上 --trust-backup。\n")
                            .arg(folder));
        QVERIFY(!QFileInfo::exists(target));

        // Trusted: the page goes back into the group's folder, the group's; nothing is
        // made where the group may not write.
        r = admin({QStringLiteral("restore"), folder, target, QStringLiteral("--trust-backup")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.out.contains(QStringLiteral("files put back: 1, already in place: 0, not put back: 1\n"
                                               "  cannot write %1: Permission denied\n")
                                    .arg(planted)),
                 qPrintable(r.out + r.err));
        QVERIFY(!QFileInfo::exists(planted));
        QCOMPARE(readFile(m_page), readFile(m_page + QStringLiteral(".old")));
        QCOMPARE(modeAndOwner(m_page), QStringLiteral("660 0:%1").arg(m_member->gid()));
        QCOMPARE(modeAndOwner(target), QStringLiteral("660 0:%1").arg(m_member->gid()));

        // A list rewritten to send a copy elsewhere, with its own checksum made anew.
        QVector<store::ManifestEntry> entries;
        store::BackupOrigin origin;
        QCOMPARE(store::readManifest(folder + QStringLiteral("/manifest.sha256"), entries, &origin), QString());
        const QString cron = QStringLiteral("/etc/cron.d/casearchive-test-%1").arg(QCoreApplication::applicationPid());
        entries.push_back({store::ManifestEntry::File, 3, QCryptographicHash::hash("x\n\n", QCryptographicHash::Sha256).toHex(),
                           QStringLiteral("files/x"), cron});
        writeFile(folder + QStringLiteral("/files/x"), "x\n\n");
        writeFile(folder + QStringLiteral("/manifest.sha256"), store::manifestBytes(entries, origin));
        const Run check = admin({QStringLiteral("check"), folder});
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(check.out.contains(QStringLiteral("  FOREIGN ENTRY files/x (of %1): is not the place of its original; "
                                                   "the list was not written by the backup\n").arg(cron)),
                 qPrintable(check.out));
        r = admin({QStringLiteral("restore"), folder, path(QStringLiteral("office/again.dat")), QStringLiteral("--trust-backup")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!QFileInfo::exists(cron));
    }

    void ocrAsRootReadsAsTheGroupAndNeverWaitsOnAFifo()
    {
        QVERIFY(QFile::exists(m_page));
        const Run r = admin({QStringLiteral("ocr"), m_archive});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.out.contains(QStringLiteral("1 %1: not read: 文件不能读取\n").arg(m_secret)), qPrintable(r.out + r.err));
        QVERIFY(r.out.contains(QStringLiteral("1 %1: not read: 不是普通文件（文件夹、管道或设备）\n").arg(m_pipe)));
        QVERIFY(r.out.contains(QStringLiteral("1 %1: not read: 不是普通文件（文件夹、管道或设备）\n").arg(m_pipeLink)));
        store::Connection c(m_archive);
        QVERIFY(store::readPageText(c, QStringLiteral("1"), m_page).words.contains(QStringLiteral("Amoxicillin")));
        QCOMPARE(store::readPageText(c, QStringLiteral("1"), m_secret).state, store::kPageFailed);
    }
};

QTEST_MAIN(TestRootTools)
#include "tst_root_tools.moc"
