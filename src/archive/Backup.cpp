#include "archive/Backup.h"

#include "archive/BackupManifest.h"
#include "archive/BackupRun.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"
#include "store/Statements.h"
#include "store/FileModes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <sqlite3.h>

#include <cerrno>
#include <memory>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

const QString kBackupManifestName = QStringLiteral("备份清单.txt");
const QString kBackupFilesFolder = QStringLiteral("files");

void endReadQuietly(Connection &c)
{
    try {
        endRead(c);
    } catch (const StoreError &) {
        // Only a read ends here.
    }
}

// Flushes a file or folder to the disk, so that a finished name never stands for data
// still in the cache of a volume about to be pulled out.
namespace {

qint64 spaceForTests = -1;
QString flushFailsForTests;

constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kSpaceMargin = 1 << 20; // journals and folder entries
constexpr int kCopyShare = 980;          // permille for copying; the rest is the check

QString mb(qint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); }

// Why a file the records name is not in the backup, in the words of the list.
QString unreadable(OpenFailure why, const Rights &rights)
{
    switch (why) {
    case OpenFailure::Missing:
        return QStringLiteral("not found");
    case OpenFailure::NotRegular:
        return QStringLiteral("is not a regular file");
    case OpenFailure::Denied:
        if (rights.switched)
            return QStringLiteral("may not be read by %1, whose rights the backup reads the records' files with")
                .arg(rights.text());
        break;
    case OpenFailure::None:
    case OpenFailure::Unreadable:
        break;
    }
    return QStringLiteral("cannot be read");
}

qint64 folderBytes(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// A backup holds a lock on its own folder while it runs (the kernel drops it when the
// program ends, killed or not), so that another backup can tell an abandoned ".partial"
// folder from one still being written.
int lockFolder(const QString &folder, bool wait)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

bool syncFile(int fd, const QString &path)
{
    if (!flushFailsForTests.isEmpty() && path.contains(QStringLiteral(".partial/") + flushFailsForTests))
        return false;
    return ::fsync(fd) == 0;
}

bool syncPath(const QString &path, bool folder)
{
    const int fd = ::open(QFile::encodeName(path).constData(), folder ? (O_RDONLY | O_DIRECTORY) : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = folder ? ::fsync(fd) == 0 : syncFile(fd, path);
    ::close(fd);
    return ok;
}

void BackupRun::report(BackupProgress::Stage stage, const QString &current)
{
    BackupProgress p;
    p.stage = stage;
    p.current = current;
    const qint64 total = qMax<qint64>(1, m_dbBytes + m_filesBytes);
    p.permille = stage == BackupProgress::Verify ? kCopyShare : int(qMin<qint64>(kCopyShare, kCopyShare * m_done / total));
    if (m_progress && !m_progress(p))
        throw Cancel{};
}

void BackupRun::written(qint64 bytes)
{
    m_written += bytes;
    if (spaceForTests >= 0 && m_written > spaceForTests)
        throw Failure{sqliteFailure(SQLITE_FULL, QString())};
}

BackupResult BackupRun::run()
{
    const QString target = m_options.targetFolder;
    if (target.trimmed().isEmpty()) {
        m_result.error = QStringLiteral("请先选择备份的目标文件夹。");
        return m_result;
    }
    try {
        if (!QFileInfo(target).isDir())
            throw Failure{QStringLiteral("备份的目标文件夹“%1”不存在，或所在的磁盘已不在。").arg(target)};
        m_when = m_options.when.isValid() ? m_options.when : QDateTime::currentDateTime();
        // Before the space is counted: what they hold is space this backup may need.
        removeLeftovers(m_when);
        {
            std::unique_ptr<Connection> source;
            try {
                source = std::make_unique<Connection>(m_options.archivePath);
            } catch (const StoreError &e) {
                throw Failure{QStringLiteral("无法读取病案数据库，不能备份。\n") + e.description()};
            }
            try {
                beginRead(*source);
                prepare(*source);
            } catch (const StoreError &e) {
                throw Failure{QStringLiteral("读取病案数据库时出错，不能备份。\n") + e.description()};
            }
            if (source->backend() == Backend::PostgreSQL) {
                // The server lets other workstations write while this read goes on.
                copyFromServer();
                endReadQuietly(*source);
            } else {
                // A file's readers hold its writers off: the copy takes the archive in steps
                // and lets them in between (copyDatabase).
                endReadQuietly(*source);
                copyDatabase(*source);
            }
        }
        if (m_options.includeFiles)
            copyFiles();
        verify();
        writeManifest();
        // Written and proven while only its owner could reach it; only now may the group
        // read it, and never change it.
        if (!protectTree(m_partial, m_protection).isEmpty())
            protectTree(m_partial, ownerOnly()); // the archive's group is not ours to give
        const QString finalPath = QDir(target).filePath(m_finalName);
        if (!QDir(target).rename(QFileInfo(m_partial).fileName(), m_finalName))
            throw Failure{QStringLiteral("备份已写好，但无法把文件夹改名为“%1”。").arg(m_finalName) + kTargetTrouble};
        syncPath(target, true);
        m_result.outcome = BackupResult::Verified;
        m_result.folder = finalPath;
        if (m_progress) {
            BackupProgress end;
            end.stage = BackupProgress::Verify;
            end.permille = 1000;
            m_progress(end); // too late to cancel: the backup is complete
        }
        return m_result;
    } catch (const Failure &f) {
        m_result.outcome = BackupResult::Failed;
        m_result.error = f.message;
    } catch (const Cancel &) {
        m_result.outcome = BackupResult::Cancelled;
    }
    // Nothing that looks complete stays behind; what cannot be removed keeps ".partial".
    if (!m_partial.isEmpty())
        QDir(m_partial).removeRecursively();
    m_result.folder.clear();
    return m_result;
}

void BackupRun::prepare(Connection &source)
{
    if (!isArchive(source))
        throw Failure{QStringLiteral("文件“%1”不是病案数据库，不能备份。").arg(m_options.archivePath)};
    m_result.counts = countTables(source);
    m_identity = archiveIdentity(source);
    m_rights = m_options.readAs ? *m_options.readAs
                                : source.backend() == Backend::SQLite ? rightsOfArchiveFile(m_options.archivePath) : Rights();
    // A server's archive is copied row by row into a file: its size is not known before,
    // so the rows are weighed at what a record's row takes in a file.
    constexpr qint64 kBytesPerRow = 256;
    m_dbBytes = source.backend() == Backend::PostgreSQL
        ? kBytesPerRow * (m_result.counts.catalog + m_result.counts.detail + m_result.counts.photo + m_result.counts.user)
        : QFileInfo(m_options.archivePath).size();
    if (m_options.includeFiles) {
        QSet<QString> seen;
        forEachFileReference(source, [&](const FileReference &ref) {
            m_references.push_back(ref);
            if (!missingReason(ref.path).isEmpty())
                return;
            const QString absolute = QDir::cleanPath(QFileInfo(ref.path).absoluteFilePath());
            if (!seen.contains(absolute)) {
                seen.insert(absolute);
                m_filesBytes += QFileInfo(absolute).size();
            }
        });
    }

    const QDateTime when = m_when;
    const QString target = m_options.targetFolder;
    const QStorageInfo volume(target);
    const qint64 needed = m_dbBytes + m_filesBytes + kSpaceMargin;
    if (volume.isValid() && volume.bytesAvailable() >= 0 && volume.bytesAvailable() < needed)
        throw Failure{QStringLiteral("目标磁盘空间不足：备份约需 %1 MB，只有 %2 MB 可用。请换一个磁盘或腾出空间后再试。")
                          .arg(mb(needed), mb(volume.bytesAvailable()))};

    const QString base = backupFolderName(when);
    QDir dir(target);
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        if (dir.exists(name) || dir.exists(name + QStringLiteral(".partial")))
            continue;
        m_finalName = name;
        break;
    }
    m_partial = dir.filePath(m_finalName + QStringLiteral(".partial"));
    if (!dir.mkdir(QFileInfo(m_partial).fileName())) {
        m_partial.clear(); // nothing of ours to remove
        throw Failure{QStringLiteral("无法在“%1”中建立备份文件夹：该文件夹是只读的，或所在的磁盘已不在。").arg(target)};
    }
    // The owner's alone while it is written, whatever the umask; closed before anything is
    // written into it. Once complete the archive's group may read it (a server's archive:
    // the owner's alone), but never change it.
    const Protection archive = source.backend() == Backend::SQLite ? protectionOf(m_options.archivePath) : ownerOnly();
    m_protection = archive.shared && !m_options.ownerOnly ? readableBy(archive.group) : ownerOnly();
    if (!protect(m_partial, ownerOnly()).isEmpty())
        throw Failure{QStringLiteral("无法设置备份文件夹“%1”的权限。").arg(m_partial) + kTargetTrouble};
    m_lock = lockFolder(m_partial, false);
}

// ".partial" folders of earlier backups that were killed or lost their volume: each may
// hold a whole archive. Removed when older than this backup and no backup holds them;
// whatever stays is reported with its size.
void BackupRun::removeLeftovers(const QDateTime &when)
{
    static const QRegularExpression partialName(
        QStringLiteral("^病案备份-(\\d{8}-\\d{6})(-\\d+)?\\.partial$"));
    const QDir dir(m_options.targetFolder);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
        const QRegularExpressionMatch m = partialName.match(name);
        if (!m.hasMatch())
            continue;
        const QString path = dir.filePath(name);
        const qint64 bytes = folderBytes(path);
        const QDateTime started = QDateTime::fromString(m.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
        const int fd = started.isValid() && started < when ? lockFolder(path, false) : -1;
        bool removed = false;
        if (fd >= 0) {
            removed = QDir(path).removeRecursively();
            ::close(fd);
        }
        if (removed) {
            m_result.leftoversRemoved << name;
            m_result.leftoverBytesFreed += bytes;
        } else {
            m_result.leftoversKept << name;
            m_result.leftoverBytesKept += bytes;
        }
    }
}

void BackupRun::copyFiles()
{
    QSet<QString> done;
    for (const FileReference &ref : std::as_const(m_references)) {
        const QString why = missingReason(ref.path);
        if (!why.isEmpty()) {
            m_result.missing.push_back({ref, why, false});
            continue;
        }
        // Cleaned ("/a//b", "/a/./b"): the copy is kept, listed and restored under one path.
        const QString absolute = QDir::cleanPath(QFileInfo(ref.path).absoluteFilePath());
        if (done.contains(absolute))
            continue;
        done.insert(absolute);
        const QString problem = keepCopyOf(absolute);
        if (!problem.isEmpty())
            m_result.missing.push_back({ref, problem, false});
    }
    // The scanned pages, those no record names yet among them: a disk failure of the PC
    // or server that keeps them must not take them.
    for (const QString &absolute : scanFolderFiles()) {
        if (done.contains(absolute))
            continue;
        done.insert(absolute);
        const QString problem = keepCopyOf(absolute);
        if (problem.isEmpty()) {
            ++m_result.scanFilesCopied;
            continue;
        }
        // Named like a record's file that could not be copied: a backup that left a page
        // out says so, and which.
        FileReference page;
        page.path = absolute;
        m_result.missing.push_back({page, problem, true});
    }
}

// Every plain file below the scan folder, listed with the rights the records' files are
// read with; symbolic links and anything else are left out.
QStringList BackupRun::scanFolderFiles()
{
    QStringList files;
    if (!m_options.includeFiles || m_options.scanFolder.isEmpty())
        return files;
    const QString folder = QFileInfo(m_options.scanFolder).absoluteFilePath();
    const ActingWith acting(m_rights);
    if (!acting.ok() || !QFileInfo(folder).isDir()) {
        m_result.scanFolderProblem = QStringLiteral("the scan folder %1 is not there or cannot be read").arg(folder);
        return files;
    }
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
            files << QDir::cleanPath(path);
    }
    files.sort();
    return files;
}

// Why the source could not be read (the file is listed as missing), or an empty text when
// copied; a failure to write ends the backup.
QString BackupRun::keepCopyOf(const QString &absolute)
{
    const QString relative = backupPathOf(absolute);
    qint64 size = 0;
    QByteArray sha256;
    const QString problem = copyOne(absolute, relative, size, sha256);
    if (problem.isEmpty()) {
        m_copied.push_back({absolute, relative, size, sha256});
        ++m_result.filesCopied;
        m_result.bytesCopied += size;
    }
    return problem;
}

QString BackupRun::copyOne(const QString &source, const QString &relativeTarget, qint64 &copied, QByteArray &sha256)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    OpenFailure why = OpenFailure::None;
    const int fd = openRegularFile(source, m_rights, why);
    if (fd < 0)
        return unreadable(why, m_rights);
    QFile in;
    if (!in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return unreadable(OpenFailure::Unreadable, m_rights);
    }
    const QString targetPath = QDir(m_partial).filePath(relativeTarget);
    if (!QDir().mkpath(QFileInfo(targetPath).path()))
        throw Failure{QStringLiteral("无法在备份中建立文件夹“%1”。").arg(QFileInfo(targetPath).path()) + kTargetTrouble};
    QFile out(targetPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw Failure{QStringLiteral("无法建立备份文件“%1”：%2。").arg(targetPath, out.errorString()) + kTargetTrouble};
    // Inside a folder only its owner may enter; private all the same, whatever the umask.
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    copied = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            out.close();
            out.remove();
            m_filesBytes -= QFileInfo(source).size() - copied;
            return unreadable(OpenFailure::Unreadable, m_rights);
        }
        if (n == 0)
            break;
        written(n);
        hash.addData(QByteArrayView(buffer.constData(), n));
        if (out.write(buffer.constData(), n) != n)
            throw Failure{QStringLiteral("写入备份文件“%1”时出错：%2。").arg(targetPath, out.errorString()) + kTargetTrouble};
        copied += n;
        m_done += n;
        report(BackupProgress::Files, source);
    }
    if (!out.flush() || !syncFile(out.handle(), targetPath))
        throw Failure{QStringLiteral("写入备份文件“%1”时出错：无法写到磁盘上。").arg(targetPath) + kTargetTrouble};
    out.close();
    sha256 = hash.result().toHex();
    if (copied == 0)
        report(BackupProgress::Files, source);
    return QString();
}

void BackupRun::verify()
{
    report(BackupProgress::Verify);
    // Each copy read back from the disk must be the bytes that were read from its original.
    for (const CopiedFile &f : std::as_const(m_copied)) {
        const QString copyPath = QDir(m_partial).filePath(f.target);
        if (!QFileInfo(copyPath).isFile())
            throw Failure{QStringLiteral("备份校验失败：文件“%1”的副本不见了。").arg(f.source) + kTargetTrouble};
        qint64 size = 0;
        QString error;
        const QByteArray sum = sha256OfFile(copyPath, size, error);
        if (size != f.size)
            throw Failure{QStringLiteral("备份校验失败：文件“%1”的副本有 %2 字节，原文件读出 %3 字节。")
                              .arg(f.source)
                              .arg(size)
                              .arg(f.size)
                          + kTargetTrouble};
        if (sum != f.sha256)
            throw Failure{QStringLiteral("备份校验失败：文件“%1”的副本与原文件读出的内容不同。").arg(f.source) + kTargetTrouble};
        report(BackupProgress::Verify);
    }
    const ArchiveReport check = checkArchiveCopy(QDir(m_partial).filePath(m_dbName));
    if (!check.openError.isEmpty())
        throw Failure{QStringLiteral("备份校验失败：无法打开数据库副本。\n") + check.openError};
    if (!check.integrityOk())
        throw Failure{QStringLiteral("备份校验失败：数据库副本没有通过完整性检查（%1）。原档案可能已损坏，请用 casearchive-admin check 检查原档案。")
                          .arg(check.integrity.value(0))};
    if (!check.archiveTables || check.counts != m_result.counts)
        throw Failure{QStringLiteral("备份校验失败：数据库副本的记录数与原档案不同（病案 %1 条，原有 %2 条；照片 %3 条，原有 %4 条）。")
                          .arg(check.counts.detail)
                          .arg(m_result.counts.detail)
                          .arg(check.counts.photo)
                          .arg(m_result.counts.photo)};
    m_result.trailMark = check.chain.newest;
    QString error;
    m_dbSha256 = sha256OfFile(QDir(m_partial).filePath(m_dbName), m_dbSize, error);
    if (m_dbSha256.isEmpty())
        throw Failure{QStringLiteral("备份校验失败：无法读取数据库副本（%1）。").arg(error) + kTargetTrouble};
}

void BackupRun::writeManifest()
{
    QStringList lines;
    const QDateTime when = m_when;
    lines << QStringLiteral("病案备份  %1").arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    const bool server = isServerAddress(m_options.archivePath);
    lines << QStringLiteral("原病案数据库：")
            + (server ? m_options.archivePath : QFileInfo(m_options.archivePath).absoluteFilePath());
    lines << QStringLiteral("数据库副本：%1（完整性检查通过，记录数与原档案相同）").arg(m_dbName);
    lines << QStringLiteral("记录：类型 %1 个，病案 %2 条，照片 %3 条，操作员 %4 名")
                 .arg(m_result.counts.catalog)
                 .arg(m_result.counts.detail)
                 .arg(m_result.counts.photo)
                 .arg(m_result.counts.user);
    lines << QStringLiteral("变更记录 %1 条，回收站中的病案 %2 条").arg(m_result.counts.history).arg(m_result.counts.bin);
    if (m_options.includeFiles) {
        lines << QStringLiteral("病案关联的文件和照片：复制 %1 个（%2 字节，大小和 SHA-256 已核对），缺失 %3 个")
                     .arg(m_result.filesCopied)
                     .arg(m_result.bytesCopied)
                     .arg(m_result.missing.size());
        lines << QStringLiteral("文件的副本在“%1”文件夹中，按原来的完整路径存放。").arg(kBackupFilesFolder);
        if (!m_options.scanFolder.isEmpty())
            lines << (m_result.scanFolderProblem.isEmpty()
                          ? QStringLiteral("扫描文件夹“%1”中的文件也已备份（其中 %2 个还没有病案使用）。")
                                .arg(m_options.scanFolder)
                                .arg(m_result.scanFilesCopied)
                          : QStringLiteral("扫描文件夹“%1”不存在或不能读取，其中的文件没有备份。").arg(m_options.scanFolder));
    } else {
        lines << QStringLiteral("本次只备份了数据库，没有备份病案关联的文件和照片。");
    }
    lines << QString();
    if (server)
        lines << QStringLiteral("恢复方法：在服务器上建立一个空的数据库，用“casearchive-admin restore 本文件夹 服务器地址”"
                                "先核对本备份，再把其中的 %1 复制进去，并把“%2”文件夹中的文件放回原来的路径；"
                                "然后让各工作站使用该地址。")
                     .arg(m_dbName, kBackupFilesFolder);
    else
        lines << QStringLiteral("恢复方法：关闭病案管理程序；用“casearchive-admin restore 本文件夹 原数据库文件 --replace”"
                                "先核对本备份，再把其中的 %1 放回原来的位置（原来的文件改名留存，不会删除），"
                                "并把“%2”文件夹中的文件放回原来的路径（已有的文件不会被覆盖）。")
                     .arg(m_dbName, kBackupFilesFolder);
    if (!m_copied.isEmpty() || !m_result.missing.isEmpty()) {
        lines << QString();
        lines << QStringLiteral("状态\t大小\t原路径\t备份中的位置");
        for (const CopiedFile &f : std::as_const(m_copied))
            lines << QStringLiteral("已复制\t%1\t%2\t%3").arg(f.size).arg(f.source, f.target);
        for (const MissingFile &m : std::as_const(m_result.missing))
            lines << (m.scannedPage ? QStringLiteral("缺失\t-\t%1\t扫描文件夹中的文件：%2").arg(m.reference.path, m.why)
                                       : QStringLiteral("缺失\t-\t%1\t病案 %2（%3）：%4")
                                             .arg(m.reference.path, m.reference.number, m.reference.recordName, m.why));
    }
    lines << QString();
    lines << QStringLiteral("数据库副本和每个文件副本的大小与 SHA-256 记在“%1”中；"
                            "用 casearchive-admin check 本文件夹 可以随时核对本备份是否完好。")
                 .arg(kBackupChecksumsName);
    writeList(kBackupManifestName, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());

    // The checksum list last: it exists only when everything it names was verified.
    QVector<ManifestEntry> entries;
    entries.push_back({ManifestEntry::Archive, m_dbSize, m_dbSha256, m_dbName, QString()});
    for (const CopiedFile &f : std::as_const(m_copied))
        entries.push_back({ManifestEntry::File, f.size, f.sha256, f.target, f.source});
    for (const MissingFile &m : std::as_const(m_result.missing))
        entries.push_back({ManifestEntry::Missing, -1, QByteArray(), QString(), m.reference.path});
    BackupOrigin origin;
    origin.source = isServerAddress(m_options.archivePath) ? maskPasswords(m_options.archivePath)
                                                           : QFileInfo(m_options.archivePath).absoluteFilePath();
    origin.identity = m_identity;
    origin.made = when;
    const QString target = QFileInfo(m_options.targetFolder).canonicalFilePath();
    origin.folder = QDir(target.isEmpty() ? m_options.targetFolder : target).filePath(m_finalName);
    if (m_options.includeFiles && !m_options.scanFolder.isEmpty() && m_result.scanFolderProblem.isEmpty())
        origin.scanFolder = QFileInfo(m_options.scanFolder).absoluteFilePath();
    writeList(kBackupChecksumsName, manifestBytes(entries, origin));
    if (!syncPath(m_partial, true))
        throw Failure{QStringLiteral("写入备份清单时出错：无法写到磁盘上。") + kTargetTrouble};
}

void BackupRun::writeList(const QString &name, const QByteArray &bytes)
{
    QFile f(QDir(m_partial).filePath(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) || f.write(bytes) != bytes.size() || !f.flush()
        || !syncFile(f.handle(), f.fileName()))
        throw Failure{QStringLiteral("写入备份清单时出错：%1。").arg(f.errorString()) + kTargetTrouble};
    f.close();
}

QString scanFolderToKeep(const QString &archivePath, const QString &configured)
{
    const QString set = configured.trimmed();
    if (!set.isEmpty() || isServerAddress(archivePath))
        return set;
    const QString beside = QFileInfo(archivePath).absoluteDir().filePath(QStringLiteral("Scan"));
    return QFileInfo(beside).isDir() ? beside : QString();
}

QString backupFolderName(const QDateTime &when)
{
    return QStringLiteral("病案备份-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

BackupResult backupArchive(const BackupOptions &options, const BackupProgressHandler &progress)
{
    return BackupRun(options, progress).run();
}

void setBackupSpaceForTests(qint64 bytes) { spaceForTests = bytes; }

void setBackupFlushFailureForTests(const QString &inBackupPrefix) { flushFailsForTests = inBackupPrefix; }

} // namespace store