// The backup's copy of the archive itself: a file's taken through SQLite's online backup
// in short steps that let other programs save in between, a server's copied row by row
// into a file (archive/Transfer.h). Apart from the rest of the run (Backup.cpp), which
// only hands it the folder and checks what it wrote.
#include "archive/BackupRun.h"

#include "archive/Transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>

#include <sqlite3.h>

#include <optional>

namespace store {

namespace {

constexpr int kPagesPerStep = 256;
constexpr int kBusyRetries = 250;       // of 20 ms: another program's lock, up to 5 s
// Every save made by another program between two steps starts the page copy over; an
// archive saved to without a pause for this many copies is not backed up now.
constexpr int kMaxRestarts = 20;

// Opens a read of one state of the file on the connection (BEGIN DEFERRED alone takes no
// lock) and returns a number that changes whenever another connection has saved since.
qint64 holdReadOfFile(Connection &c)
{
    beginRead(c);
    QSqlQuery q = c.run(QStringLiteral("PRAGMA data_version"));
    return q.next() ? q.value(0).toLongLong() : -1;
}
} // namespace

QString sqliteFailure(int code, const QString &detail)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("目标磁盘已满，备份没有完成。请换一个磁盘或腾出空间后再试。");
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return QStringLiteral("无法写入备份：目标文件夹是只读的，或磁盘已不在。\n（技术信息：%1）").arg(detail);
    case SQLITE_IOERR:
        return QStringLiteral("写入备份时出错。") + kTargetTrouble + QStringLiteral("\n（技术信息：%1）").arg(detail);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("读取病案数据库时发现文件已损坏，不能备份。请用 casearchive-admin check 检查该文件。\n（技术信息：%1）")
            .arg(detail);
    default:
        return QStringLiteral("备份病案数据库时出错，备份没有完成。\n（技术信息：%1）").arg(detail);
    }
}

void BackupRun::copyDatabase(Connection &source)
{
    m_dbName = QFileInfo(m_options.archivePath).fileName();
    const QVariant handle = source.database().driver()->handle();
    sqlite3 *from = nullptr;
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        from = *static_cast<sqlite3 *const *>(handle.constData());
    if (!from)
        throw Failure{QStringLiteral("数据库驱动没有提供备份所需的接口，不能备份。")};

    const QString destPath = QDir(m_partial).filePath(m_dbName);
    sqlite3 *to = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(destPath).constData(), &to,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto closeTarget = [&to] {
        if (to)
            sqlite3_close(to);
        to = nullptr;
    };
    if (rc != SQLITE_OK) {
        const QString detail = to ? QString::fromUtf8(sqlite3_errmsg(to)) : QString();
        closeTarget();
        throw Failure{sqliteFailure(rc, detail)};
    }
    sqlite3_backup *backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup) {
        const int code = sqlite3_errcode(to);
        const QString detail = QString::fromUtf8(sqlite3_errmsg(to));
        closeTarget();
        throw Failure{sqliteFailure(code, detail)};
    }
    int busy = 0;
    int restarts = 0;
    qint64 version = 0;
    qint64 reported = 0;
    try {
        for (int step = 0;; ++step) {
            // Each step holds a read of the file only while it copies its pages, so a save
            // of another program waits for one step at most, never for the whole copy. A
            // save between two steps makes SQLite start the copy over; the copy finished is
            // one state of the archive, the state counted here under the same read.
            bool changed = false;
            try {
                const qint64 now = holdReadOfFile(source);
                changed = step > 0 && now != version;
                version = now;
                rc = sqlite3_backup_step(backup, kPagesPerStep);
                if (rc == SQLITE_DONE)
                    m_result.counts = countTables(source);
                endRead(source);
            } catch (const StoreError &e) {
                endReadQuietly(source);
                throw Failure{QStringLiteral("读取病案数据库时出错，备份没有完成。\n") + e.description()};
            }
            if (changed && rc != SQLITE_DONE && ++restarts > kMaxRestarts)
                throw Failure{QStringLiteral("备份期间病案数据库一直有人在保存，备份已重新开始 %1 次仍未能完成。"
                                             "各工作站的保存都不受影响；请在保存较少的时候再备份。")
                                  .arg(kMaxRestarts)};
            const int total = sqlite3_backup_pagecount(backup);
            const int remaining = sqlite3_backup_remaining(backup);
            const qint64 done = total > 0 ? m_dbBytes * (total - remaining) / total : m_dbBytes;
            if (changed || done < reported) { // started over
                m_done -= reported;
                reported = 0;
            }
            written(done - reported);
            m_done += done - reported;
            reported = done;
            if (rc == SQLITE_DONE)
                break;
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                if (++busy > kBusyRetries)
                    throw Failure{QStringLiteral("病案数据库正被其他程序使用，暂时无法备份。请稍后再试。")};
                sqlite3_sleep(20);
                continue;
            }
            if (rc != SQLITE_OK)
                throw Failure{sqliteFailure(rc, QString::fromUtf8(sqlite3_errstr(rc)))};
            report(BackupProgress::Database, m_dbName);
        }
    } catch (...) {
        sqlite3_backup_finish(backup);
        closeTarget();
        throw;
    }
    rc = sqlite3_backup_finish(backup);
    if (rc != SQLITE_OK) {
        const QString detail = QString::fromUtf8(sqlite3_errmsg(to));
        closeTarget();
        throw Failure{sqliteFailure(rc, detail)};
    }
    rc = sqlite3_close(to);
    to = nullptr;
    if (rc != SQLITE_OK || !syncPath(destPath, false))
        throw Failure{QStringLiteral("写入备份的数据库副本时出错。") + kTargetTrouble};
    report(BackupProgress::Database, m_dbName);
}

// The archive on a server becomes an archive file in the backup, verified row by row
// against one state of the server's archive; restoring it is copying it back.
void BackupRun::copyFromServer()
{
    m_dbName = QStringLiteral("file.dat");
    const QString destPath = QDir(m_partial).filePath(m_dbName);
    std::optional<Failure> full;
    qint64 reported = 0;
    const TransferResult copied = copyArchive(m_options.archivePath, destPath, [&](const TransferProgress &p) {
        const qint64 done = p.total > 0 ? m_dbBytes * p.done / p.total : m_dbBytes;
        try {
            if (p.stage == TransferProgress::Copy)
                written(done - reported);
            m_done += done - reported;
            reported = done;
            report(BackupProgress::Database, m_dbName);
        } catch (const Failure &f) {
            full = f;
            return false;
        } catch (const Cancel &) {
            return false;
        }
        return true;
    });
    if (full)
        throw *full;
    if (copied.outcome == TransferResult::Cancelled)
        throw Cancel{};
    if (copied.outcome == TransferResult::Failed)
        throw Failure{QStringLiteral("备份病案数据库时出错，备份没有完成。\n") + copied.error};
    // What was copied and compared is one state of the archive; the counts taken before
    // may be older already, since other workstations go on writing on a server.
    m_result.counts = copied.counts;
    if (!syncPath(destPath, false))
        throw Failure{QStringLiteral("写入备份的数据库副本时出错。") + kTargetTrouble};
}

} // namespace store
