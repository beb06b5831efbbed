#include "archive/Restore.h"

#include "archive/Backup.h"
#include "archive/BackupManifest.h"
#include "store/Database.h"
#include "store/Dialect.h"
#include "archive/Transfer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr qint64 kChunk = 1 << 20;
const char *const kJournals[] = {"-journal", "-wal", "-shm"};

// Copies a file into a new one (never over one), returning the SHA-256 of what was
// written, flushed to the disk; an empty hash and the reason when it fails.
QByteArray copyNew(const QString &from, const QString &to, QString &error)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly)) {
        error = in.errorString();
        return {};
    }
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = out.errorString();
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0 || (n > 0 && out.write(buffer.constData(), n) != n)) {
            error = n < 0 ? in.errorString() : out.errorString();
            out.close();
            out.remove();
            return {};
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
    }
    if (!out.flush() || ::fsync(out.handle()) != 0) {
        error = out.errorString();
        out.close();
        out.remove();
        return {};
    }
    return hash.result().toHex();
}

// The restore's entry in the restored archive's trail.
void noteRestore(Connection &c, const Actor &actor, const QString &folder)
{
    Change change;
    change.kind = ChangeKind::ArchiveRestored;
    change.subject = maskPasswords(folder);
    change.detail = QStringLiteral("从备份“%1”恢复").arg(maskPasswords(folder));
    appendHistory(c, actor, change);
}

} // namespace

RestoreResult restoreBackup(const RestoreOptions &options)
{
    RestoreResult r;
    const QString folder = backupFolderOf(options.backup);
    if (folder.isEmpty() || !QFileInfo::exists(QDir(folder).filePath(kBackupChecksumsName))) {
        r.error = QStringLiteral("“%1”不是带校验清单（%2）的备份，不能恢复。").arg(options.backup, kBackupChecksumsName);
        return r;
    }
    const BackupReport check = checkBackup(folder);
    if (check.exitCode() == 1) {
        r.error = QStringLiteral("备份已损坏，没有恢复任何内容。检查结果：\n") + check.text();
        return r;
    }
    QVector<ManifestEntry> entries;
    readManifest(QDir(folder).filePath(kBackupChecksumsName), entries);
    const QString source = QDir(folder).filePath(check.archiveName);
    r.done << QStringLiteral("checked the backup %1: archive and copied files as backed up").arg(folder);

    if (isServerAddress(options.target)) {
        TransferFinishing finishing;
        if (options.actor)
            finishing = [&](Connection &c) { noteRestore(c, *options.actor, folder); };
        const TransferResult t = copyArchive(source, options.target, {}, false, finishing);
        if (t.outcome != TransferResult::Verified) {
            r.error = t.error;
            return r;
        }
        r.done << QStringLiteral("copied the archive into %1 and compared every cell: %2 records, %3 photos")
                      .arg(options.target)
                      .arg(t.counts.detail)
                      .arg(t.counts.photo);
    } else {
        const QString target = QFileInfo(options.target).absoluteFilePath();
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        bool present = QFileInfo::exists(target);
        for (const char *j : kJournals)
            present = present || QFileInfo::exists(target + QLatin1String(j));
        const QString work = unfinishedCopyPath(target);
        if (QFileInfo::exists(work)) {
            r.error = QStringLiteral("“%1”是上一次没有完成的恢复或复制留下的；请先删除它。").arg(work);
            return r;
        }
        if (present && !options.replace) {
            r.error = QStringLiteral("“%1”已经存在，不会覆盖。确认要用备份替换它时，加上 --replace："
                                     "原文件和它的日志文件会改名留存，不会删除。")
                          .arg(target);
            return r;
        }
        if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
            r.error = QStringLiteral("无法建立文件夹“%1”。").arg(QFileInfo(target).absolutePath());
            return r;
        }
        struct stat old {};
        if (::stat(QFile::encodeName(target).constData(), &old) == 0) {
            r.hadOldFile = true;
            r.oldMode = old.st_mode & 07777;
            r.oldUid = old.st_uid;
            r.oldGid = old.st_gid;
        }
        // The new archive is complete and its bytes proven before the old one moves.
        QString error;
        const QByteArray sum = copyNew(source, work, error);
        ManifestEntry archiveEntry;
        for (const ManifestEntry &e : std::as_const(entries))
            if (e.kind == ManifestEntry::Archive)
                archiveEntry = e;
        if (sum.isEmpty() || sum != archiveEntry.sha256) {
            QFile::remove(work);
            r.error = QStringLiteral("写入“%1”时出错，没有恢复：%2").arg(work, sum.isEmpty() ? error : QStringLiteral("写入的内容与备份不同"));
            return r;
        }
        if (options.actor) {
            try {
                Connection c(work);
                Transaction t(c);
                noteRestore(c, *options.actor, folder);
                t.commit();
            } catch (const StoreError &e) {
                QFile::remove(work);
                for (const char *j : kJournals)
                    QFile::remove(work + QLatin1String(j));
                r.error = QStringLiteral("无法在恢复的档案中记下这次恢复，没有恢复：%1").arg(e.description());
                return r;
            }
        }
        if (r.hadOldFile) {
            ::chmod(QFile::encodeName(work).constData(), r.oldMode);
            if (::chown(QFile::encodeName(work).constData(), r.oldUid, r.oldGid) != 0) {
                // Only root may give a file away; the file stays the restoring user's.
            }
        }
        if (present) {
            const QString aside = target + QStringLiteral(".before-restore-") + stamp;
            for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
                if (!QFileInfo::exists(target + suffix))
                    continue;
                if (!QFile::rename(target + suffix, aside + suffix)) {
                    QFile::remove(work);
                    r.error = QStringLiteral("无法把“%1”改名为“%2”，没有恢复。").arg(target + suffix, aside + suffix);
                    return r;
                }
                r.done << QStringLiteral("moved %1 aside to %2").arg(target + suffix, aside + suffix);
            }
            r.movedAside = aside;
        }
        if (!QFile::rename(work, target)) {
            r.error = QStringLiteral("无法把“%1”改名为“%2”。").arg(work, target);
            return r;
        }
        const int fd = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        r.done << QStringLiteral("restored the archive %1 (%2 bytes, SHA-256 as backed up)").arg(target).arg(archiveEntry.size);
        if (options.actor)
            r.done << QStringLiteral("the archive's trail records the restore");
    }

    // The copied files, where the records name them or under the folder given.
    qint64 restored = 0, inPlace = 0;
    QStringList trouble;
    for (const ManifestEntry &e : std::as_const(entries)) {
        if (e.kind != ManifestEntry::File)
            continue;
        const QString from = QDir(folder).filePath(e.inBackup);
        const QString to = options.filesTo.isEmpty()
            ? e.original
            : QDir(options.filesTo).filePath(e.inBackup.mid(kBackupFilesFolder.size() + 1));
        if (!QFileInfo::exists(from)) {
            trouble << QStringLiteral("not in the backup: %1").arg(e.original);
            continue;
        }
        if (QFileInfo::exists(to)) {
            qint64 size = 0;
            QString error;
            if (sha256OfFile(to, size, error) == e.sha256)
                ++inPlace;
            else
                trouble << QStringLiteral("left as it is (differs from the backup): %1").arg(to);
            continue;
        }
        QString error;
        if (!QDir().mkpath(QFileInfo(to).absolutePath())) {
            trouble << QStringLiteral("cannot make the folder of %1").arg(to);
            continue;
        }
        const QByteArray sum = copyNew(from, to, error);
        if (sum != e.sha256) {
            QFile::remove(to);
            trouble << QStringLiteral("cannot write %1: %2").arg(to, sum.isEmpty() ? error : QStringLiteral("bytes differ"));
            continue;
        }
        ++restored;
    }
    r.done << QStringLiteral("files put back: %1, already in place: %2, not put back: %3")
                  .arg(restored)
                  .arg(inPlace)
                  .arg(trouble.size());
    for (const QString &t : std::as_const(trouble))
        r.done << QStringLiteral("  ") + t;
    r.exitCode = trouble.isEmpty() ? 0 : 3;
    return r;
}

} // namespace store
