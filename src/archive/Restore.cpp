#include "archive/Restore.h"

#include "archive/Backup.h"
#include "archive/BackupManifest.h"
#include "archive/RestoreFiles.h"
#include "archive/Transfer.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"
#include "store/Dialect.h"
#include "store/FileModes.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kMaxStateBytes = 64 << 10;
const char *const kJournals[] = {"-journal", "-wal", "-shm"};
const QByteArray kStateHeader = QByteArrayLiteral("casearchive restore 1");

struct Refusal {
    QString message;
};

QByteArray native(const QString &path) { return QFile::encodeName(path); }

// Copies the backup's archive into a new file, private from its first moment, flushed to
// the disk; the SHA-256 of what was written, or an empty hash and the reason.
QByteArray copyNew(const QString &from, const QString &to, QString &error)
{
    OpenFailure why = OpenFailure::None;
    const int source = openRegularFile(from, Rights(), why);
    if (source < 0) {
        error = QStringLiteral("无法读取备份中的档案");
        return {};
    }
    const int target = ::open(native(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (target < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(source);
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    bool ok = ::fchmod(target, 0600) == 0;
    while (ok) {
        const ssize_t n = ::read(source, buffer.data(), size_t(buffer.size()));
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        hash.addData(QByteArrayView(buffer.constData(), n));
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(target, buffer.constData() + done, size_t(n - done));
            ok = w > 0;
            done += ok ? w : 0;
        }
    }
    const int saved = errno;
    ok = ok && ::fsync(target) == 0;
    ::close(source);
    ::close(target);
    if (!ok) {
        error = QString::fromLocal8Bit(std::strerror(saved));
        QFile::remove(to);
        return {};
    }
    return hash.result().toHex();
}

QByteArray sha256Of(const QString &path)
{
    qint64 size = 0;
    QString error;
    return sha256OfFile(path, size, error);
}

void syncFolderOf(const QString &path)
{
    const int fd = ::open(native(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
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

// What others than root could change in the backup, in words; empty when nothing.
QString changeableByOthers(const QString &folder)
{
    auto judge = [](const QString &path) -> QString {
        struct stat st;
        if (::lstat(native(path).constData(), &st) != 0)
            return QString();
        if (st.st_uid != 0)
            return QStringLiteral("“%1”属于用户 %2").arg(path).arg(st.st_uid);
        if (!S_ISLNK(st.st_mode) && (st.st_mode & 0022))
            return QStringLiteral("“%1”的权限是 %2").arg(path).arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return QString();
    };
    QString found = judge(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (found.isEmpty() && it.hasNext())
        found = judge(it.next());
    return found;
}

// ---- Where a restore into a file stands (TARGET.restoring) ----

struct State {
    QString backup;
    QString aside;   // where the archive replaced goes
    bool ready = false; // the new archive is written and proven: its SHA-256
    QByteArray sha256;
};

QString workPath(const QString &target) { return unfinishedCopyPath(target); }

// Written whole under another name and renamed: the file always says one thing.
bool writeState(const QString &target, const State &state)
{
    QByteArray bytes = kStateHeader + '\n';
    bytes += "backup\t" + state.backup.toUtf8().toPercentEncoding("/ ") + '\n';
    bytes += "aside\t" + state.aside.toUtf8().toPercentEncoding("/ ") + '\n';
    bytes += "stage\t" + QByteArray(state.ready ? "ready" : "writing") + '\n';
    if (state.ready)
        bytes += "sha256\t" + state.sha256 + '\n';
    const QString path = restoreStatePath(target);
    const QString next = path + QStringLiteral(".new");
    QFile::remove(next);
    const int fd = ::open(native(next).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(native(next).constData(), native(path).constData()) != 0) {
        QFile::remove(next);
        return false;
    }
    syncFolderOf(path);
    return true;
}

std::optional<State> readState(const QString &target)
{
    QFile f(restoreStatePath(target));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = f.read(kMaxStateBytes).split('\n');
    if (lines.value(0) != kStateHeader)
        return std::nullopt;
    State s;
    bool staged = false;
    for (const QByteArray &line : lines) {
        const qsizetype tab = line.indexOf('\t');
        const QByteArray key = line.left(tab);
        const QByteArray value = line.mid(tab + 1);
        if (key == "backup")
            s.backup = QString::fromUtf8(QByteArray::fromPercentEncoding(value));
        else if (key == "aside")
            s.aside = QString::fromUtf8(QByteArray::fromPercentEncoding(value));
        else if (key == "stage")
            staged = (s.ready = value == "ready") || value == "writing";
        else if (key == "sha256")
            s.sha256 = value;
    }
    if (!staged || s.aside.isEmpty() || (s.ready && s.sha256.size() != 64))
        return std::nullopt;
    return s;
}

void removeWithJournals(const QString &path)
{
    QFile::remove(path);
    for (const char *j : kJournals)
        QFile::remove(path + QLatin1String(j));
}

// Moves the target and its journals aside (what is still there of them); the names moved.
QStringList moveAside(const QString &target, const QString &aside, const RestoreOptions &options)
{
    QStringList moved;
    for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        struct stat st;
        if (::lstat(native(target + suffix).constData(), &st) != 0)
            continue;
        if (QFileInfo::exists(aside + suffix) || !QFile::rename(target + suffix, aside + suffix))
            throw Refusal{QStringLiteral("无法把“%1”改名为“%2”，没有恢复。").arg(target + suffix, aside + suffix)};
        moved << QStringLiteral("moved %1 aside to %2").arg(target + suffix, aside + suffix);
        if (options.afterStep)
            options.afterStep(QStringLiteral("aside") + suffix);
    }
    return moved;
}

// The last steps, the same whether this run wrote the new archive or an interrupted one
// did: the old archive aside, the new one in its place, the state gone.
void finishInPlace(const QString &target, const State &state, const RestoreOptions &options, RestoreResult &r)
{
    r.done << moveAside(target, state.aside, options);
    if (QFileInfo::exists(state.aside))
        r.movedAside = state.aside;
    // rename() puts the new archive in place in one step: there is always one at the name
    // or, until then, the state says where each lies.
    if (::rename(native(workPath(target)).constData(), native(target).constData()) != 0)
        throw Refusal{QStringLiteral("无法把“%1”改名为“%2”。恢复的档案完好，在“%1”；原来的档案在“%3”。"
                                     "再运行一次同样的恢复会完成它。")
                          .arg(workPath(target), target, state.aside)};
    syncFolderOf(target);
    if (options.afterStep)
        options.afterStep(QStringLiteral("renamed"));
    QFile::remove(restoreStatePath(target));
    syncFolderOf(target);
}

// A restore into the target that was cut short: finished when its new archive was written
// and proven, else rolled back. Returns the backup it was of, when it was finished.
QString resolveInterrupted(const QString &target, const RestoreOptions &options, RestoreResult &r)
{
    const QString statePath = restoreStatePath(target);
    if (!QFileInfo::exists(statePath))
        return QString();
    const std::optional<State> state = readState(target);
    if (!state)
        throw Refusal{QStringLiteral("“%1”说明“%2”上有一次没有完成的恢复，但它不能读取。没有恢复，也没有改动任何文件："
                                     "请看清“%2”、“%3”和“%2.before-restore-*”各是什么之后，再移走“%1”。")
                          .arg(statePath, target, workPath(target))};
    const QString work = workPath(target);
    if (!state->ready) {
        // Cut short while the new archive was written: what it wrote goes, the old stays.
        removeWithJournals(work);
        QFile::remove(statePath);
        r.done << QStringLiteral("an earlier restore into %1 from %2 was cut short while writing the new archive: "
                                 "removed what it had written; %1 is as it was before it")
                      .arg(target, state->backup);
        return QString();
    }
    if (!QFileInfo::exists(work)) {
        if (!QFileInfo::exists(target))
            throw Refusal{QStringLiteral("“%1”说明一次恢复已写好新档案，但“%2”和“%3”都不在。没有恢复，也没有改动任何文件；"
                                         "原来的档案在“%4”（如果有）。")
                              .arg(statePath, work, target, state->aside)};
        QFile::remove(statePath); // it was in place already; only the state was left
        r.done << QStringLiteral("an earlier restore into %1 from %2 had put the new archive in place").arg(target, state->backup);
        return state->backup;
    }
    if (sha256Of(work) != state->sha256)
        throw Refusal{QStringLiteral("“%1”不是一次没有完成的恢复所写好的档案（内容已不同）。没有恢复，也没有改动任何文件；"
                                     "请用 casearchive-admin check 检查它、“%2”和“%3”。")
                          .arg(work, target, state->aside)};
    r.done << QStringLiteral("an earlier restore into %1 from %2 was cut short after the new archive was written and "
                             "proven: finished it")
                  .arg(target, state->backup);
    finishInPlace(target, *state, options, r);
    return state->backup;
}

// The archive file: written beside the target, proven, noted, and put in its place.
void restoreFile(const QString &folder, const QString &source, const ManifestEntry &archiveEntry,
                 const BackupOrigin &origin, const RestoreOptions &options, RestoreResult &r)
{
    const QString target = QFileInfo(options.target).absoluteFilePath();
    const QString work = workPath(target);
    if (QFileInfo::exists(work))
        throw Refusal{QStringLiteral("“%1”是上一次没有完成的恢复或复制留下的，没有记录说明它是否完整，本次没有恢复。"
                                     "“%2”不在时，它可能是唯一的一份档案：先用 casearchive-admin check 检查它，"
                                     "再决定把它改名为“%2”，还是移到别处。")
                          .arg(work, target)};
    bool present = QFileInfo::exists(target);
    for (const char *j : kJournals)
        present = present || QFileInfo::exists(target + QLatin1String(j));
    if (present) {
        // Whose archive is there, when it can be told.
        QString there;
        try {
            Connection c = Connection::openUnchanging(target);
            there = archiveIdentity(c);
        } catch (const StoreError &) {
        }
        const bool other = !there.isEmpty() && !origin.identity.isEmpty() && there != origin.identity;
        const QString whose = other ? QStringLiteral("其中是另一个档案（标识 %1，备份的是 %2）。").arg(there, origin.identity)
                                    : QString();
        if (!options.replace) {
            // Only a journal left there is no less in the way: opened, it would be written
            // into the restored archive.
            const QString there = QFileInfo::exists(target)
                ? QStringLiteral("“%1”已经存在。%2").arg(target, whose)
                : QStringLiteral("“%1”不在，但它的日志文件还在（可能是另一个档案留下的，会被写进恢复的档案）。").arg(target);
            const QString question = there + QStringLiteral("要用备份替换吗？原文件和它的日志文件会改名留存，不会删除。");
            if (!options.confirm || !options.confirm(question))
                throw Refusal{there + QStringLiteral("没有恢复。确认要用备份替换时，加上 --replace："
                                                     "原文件和它的日志文件会改名留存，不会删除。")};
        }
        if (other)
            r.done << QStringLiteral("%1 held another archive (identity %2; the backup's is %3): replaced as asked")
                          .arg(target, there, origin.identity);
    }
    if (!makeProtectedFolders(QFileInfo(target).absolutePath()))
        throw Refusal{QStringLiteral("无法建立文件夹“%1”。").arg(QFileInfo(target).absolutePath())};
    struct stat old {};
    if (::stat(native(target).constData(), &old) == 0) {
        r.hadOldFile = true;
        r.oldMode = old.st_mode & 07777;
        r.oldUid = old.st_uid;
        r.oldGid = old.st_gid;
    }
    State state;
    state.backup = folder;
    state.aside = target + QStringLiteral(".before-restore-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!writeState(target, state))
        throw Refusal{QStringLiteral("无法在“%1”旁写入恢复的进度，没有恢复。").arg(target)};
    auto step = [&](const char *name) {
        if (options.afterStep)
            options.afterStep(QString::fromLatin1(name));
    };
    step("begun");
    auto undo = [&](const QString &message) {
        removeWithJournals(work);
        QFile::remove(restoreStatePath(target));
        return Refusal{message};
    };
    // The new archive is complete and its bytes proven before the old one moves.
    QString error;
    const QByteArray sum = copyNew(source, work, error);
    if (sum.isEmpty() || sum != archiveEntry.sha256)
        throw undo(QStringLiteral("写入“%1”时出错，没有恢复：%2").arg(work, sum.isEmpty() ? error : QStringLiteral("写入的内容与备份不同")));
    step("written");
    if (options.actor) {
        try {
            Connection c(work);
            Transaction t(c);
            noteRestore(c, *options.actor, folder);
            t.commit();
        } catch (const StoreError &e) {
            throw undo(QStringLiteral("无法在恢复的档案中记下这次恢复，没有恢复：%1").arg(e.description()));
        }
        step("noted");
    }
    if (r.hadOldFile) {
        // As the file it replaces, but never for every account (earlier versions made some so).
        ::chmod(native(work).constData(), r.oldMode & ~mode_t(0007));
        if (::chown(native(work).constData(), r.oldUid, r.oldGid) != 0) {
            // Only root may give a file away; the file stays the restoring user's.
        }
    } else {
        // A new archive is kept as one made in that folder would be.
        protect(work, protectionForNewFileIn(QFileInfo(target).absolutePath()));
    }
    state.ready = true;
    state.sha256 = sha256Of(work);
    if (state.sha256.isEmpty() || !writeState(target, state))
        throw undo(QStringLiteral("无法在“%1”旁写入恢复的进度，没有恢复。").arg(target));
    step("ready");
    finishInPlace(target, state, options, r);
    r.done << QStringLiteral("restored the archive %1 (%2 bytes, SHA-256 as backed up)").arg(target).arg(archiveEntry.size);
    if (options.actor)
        r.done << QStringLiteral("the archive's trail records the restore");
}

} // namespace

QString restoreStatePath(const QString &target) { return target + QStringLiteral(".restoring"); }

RestoreResult restoreBackup(const RestoreOptions &options)
{
    RestoreResult r;
    const bool toServer = isServerAddress(options.target);
    try {
        QString finished;
        if (!toServer)
            finished = resolveInterrupted(QFileInfo(options.target).absoluteFilePath(), options, r);
        const QString folder = backupFolderOf(options.backup);
        if (folder.isEmpty() || !QFileInfo::exists(QDir(folder).filePath(kBackupChecksumsName)))
            throw Refusal{QStringLiteral("“%1”不是带校验清单（%2）的备份，不能恢复。").arg(options.backup, kBackupChecksumsName)};
        const BackupReport check = checkBackup(folder);
        if (check.exitCode() == 1)
            throw Refusal{QStringLiteral("备份已损坏，没有恢复任何内容。检查结果：\n") + check.text()};
        // Root follows a backup's list only when no one else could have written it.
        if (::geteuid() == 0 && !options.trustBackup) {
            const QString who = changeableByOthers(folder);
            if (!who.isEmpty()) {
                const QString question = QStringLiteral("备份“%1”不只 root 能改动（%2）：其中的档案和文件清单可能已被别人改过。"
                                                        "仍要以 root 身份从它恢复吗？")
                                             .arg(folder, who);
                if (!options.confirm || !options.confirm(question))
                    throw Refusal{QStringLiteral("备份“%1”不只 root 能改动（%2），没有恢复。确认这个备份可信时，加上 --trust-backup。")
                                      .arg(folder, who)};
            }
        }
        QVector<ManifestEntry> entries;
        BackupOrigin origin;
        readManifest(QDir(folder).filePath(kBackupChecksumsName), entries, &origin);
        ManifestEntry archiveEntry;
        for (const ManifestEntry &e : std::as_const(entries))
            if (e.kind == ManifestEntry::Archive)
                archiveEntry = e;
        const QString source = QDir(folder).filePath(check.archiveName);
        r.done << QStringLiteral("checked the backup %1: archive and copied files as backed up").arg(folder);

        if (toServer) {
            TransferFinishing finishing;
            if (options.actor)
                finishing = [&](Connection &c) { noteRestore(c, *options.actor, folder); };
            const TransferResult t = copyArchive(source, options.target, {}, false, finishing);
            if (t.outcome != TransferResult::Verified)
                throw Refusal{t.error};
            r.done << QStringLiteral("copied the archive into %1 and compared every cell: %2 records, %3 photos")
                          .arg(options.target)
                          .arg(t.counts.detail)
                          .arg(t.counts.photo);
        } else if (QDir::cleanPath(finished) == QDir::cleanPath(folder)) {
            r.done << QStringLiteral("the archive of this backup is in place; the files follow");
        } else {
            restoreFile(folder, source, archiveEntry, origin, options, r);
        }

        // The copied files, where the restored records name them or under the folder given.
        QSet<QString> named;
        Rights rights;
        Protection protection;
        try {
            Connection c(options.target);
            forEachFileReference(c, [&](const FileReference &ref) { named.insert(QDir::cleanPath(ref.path)); });
        } catch (const StoreError &e) {
            r.done << QStringLiteral("cannot read the restored archive's records: %1").arg(e.description());
        }
        // Under --files-to they are kept as the archive is (a server's: the owner's alone).
        if (toServer) {
            rights = options.writeAs.value_or(Rights());
            protection = ownerOnly();
        } else {
            rights = options.writeAs.value_or(rightsOfArchiveFile(options.target));
            protection = protectionOf(options.target);
        }
        const FilesPutBack files = putFilesBack(folder, entries, origin, named, options.filesTo, rights, protection);
        r.done << QStringLiteral("files put back: %1, already in place: %2, not put back: %3")
                      .arg(files.restored)
                      .arg(files.inPlace)
                      .arg(files.trouble.size());
        for (const QString &t : files.trouble)
            r.done << QStringLiteral("  ") + t;
        r.exitCode = files.trouble.isEmpty() ? 0 : 3;
    } catch (const Refusal &refusal) {
        r.error = refusal.message;
        r.exitCode = 1;
    }
    return r;
}

} // namespace store
