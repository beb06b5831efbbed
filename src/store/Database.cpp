// A connection to the archive and its statements and transactions, and the rule that a
// damaged file is written no more. The server's side of a connection (its address, the
// connection kept for the run) is in ServerConnections.cpp, the words for the engines'
// failures in EngineFailures.cpp.
#include "store/Database.h"

#include "store/ConnectionInternals.h"
#include "store/EarlierFormat.h"
#include "store/FileModes.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QUrl>

namespace store {

QAtomicInt connectionCounter;

// How long a statement waits for a file that another program holds locked.
int busyTimeoutMs = 5000;

namespace {
// Once the store has reported damage in a file, this run writes nothing more into it:
// writing into a damaged file can spread the damage to records still intact.
// Connections to a file may be opened on more than one thread (the import builds its
// search index beside its verification), so the list is read and written under a lock.
struct DamagedFiles {
    QMutex lock;
    QSet<QString> files;
};
DamagedFiles &damagedFiles()
{
    static DamagedFiles damaged;
    return damaged;
}

void markDamaged(const QString &key)
{
    DamagedFiles &d = damagedFiles();
    QMutexLocker locker(&d.lock);
    d.files.insert(key);
}

QString fileKey(const QString &path)
{
    return isServerAddress(path) ? path.trimmed() : QFileInfo(path).absoluteFilePath();
}

QString uriFor(const QString &path, const char *mode)
{
    QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    return uri + QStringLiteral("?mode=") + QLatin1String(mode);
}

// A statement whose effect outlives its transaction in the session (the program issues
// none; tools and tests may): such a session is not handed to the next operation.
bool changesSession(const QString &sql)
{
    const QString s = sql.trimmed().toUpper();
    if (s.startsWith(QLatin1String("SET ")))
        return !s.startsWith(QLatin1String("SET LOCAL ")) && !s.startsWith(QLatin1String("SET TRANSACTION "));
    for (const char *start : {"RESET", "DISCARD", "LISTEN", "PREPARE", "LOAD", "CREATE TEMP", "SET SESSION"})
        if (s.startsWith(QLatin1String(start)))
            return true;
    return false;
}
} // namespace

// Whatever a failure quotes (an address, the driver's words), no password goes on to a
// message box or a terminal.
StoreError::StoreError(const QString &description)
    : std::runtime_error(maskPasswords(description).toStdString()), m_description(maskPasswords(description))
{
}

Connection::Connection(const QString &path) : m_path(path), m_backend(backendFor(path))
{
    if (path.trimmed().isEmpty())
        throw StoreError(QStringLiteral("没有指定数据库文件。"));
    if (m_backend == Backend::PostgreSQL) {
        m_keptKey = path.trimmed() + QLatin1Char('\n') + QString::number(busyTimeoutMs);
        if (!borrowKept())
            openServer();
        return;
    }
    if (!QFileInfo(path).isFile())
        throw StoreError(QStringLiteral("找不到数据库文件“%1”。").arg(path));
    // The earlier system's archive is no damaged file: it is never handed to SQLite.
    if (const EarlierFormat earlier = earlierFormatOf(path); earlier != EarlierFormat::None)
        throw StoreError(earlierFormatMessage(path, earlier));
    open(uriFor(path, "rw"));
}

Connection::Connection(const QString &path, CreateTag) : m_path(path), m_backend(backendFor(path))
{
    if (m_backend == Backend::PostgreSQL) {
        openServer();
        return;
    }
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("文件“%1”已经存在。").arg(path));
    // The file is made here, private from its first moment (SQLite would make it with the
    // umask's mode): shared with the folder's group in the office's shared folder, the
    // owner's alone elsewhere. SQLite takes an empty file for a new database.
    createProtectedFile(path, protectionForNewFileIn(QFileInfo(path).absolutePath()));
    try {
        open(uriFor(path, "rw"));
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

Connection Connection::createNew(const QString &path) { return Connection(path, CreateTag{}); }

Connection::Connection(const QString &path, UnchangingTag) : m_path(path), m_backend(Backend::SQLite)
{
    if (isServerAddress(path) || !QFileInfo(path).isFile())
        throw StoreError(QStringLiteral("找不到数据库文件“%1”。").arg(path));
    open(uriFor(path, "ro") + QStringLiteral("&immutable=1"));
}

Connection Connection::openUnchanging(const QString &path) { return Connection(path, UnchangingTag{}); }

void Connection::open(const QString &uri)
{
    m_name = QStringLiteral("casearchive-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(uri);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    if (!m_db.open()) {
        const QString why = technicalText(m_db.lastError());
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw StoreError(QStringLiteral("无法打开病案数据库文件“%1”。请检查文件是否存在以及是否有访问权限。\n（技术信息：%2）").arg(m_path, why));
    }
    // SQLite accepts any file at open time and only fails at the first statement,
    // so read something cheap now and report a foreign file clearly.
    QSqlQuery probe(m_db);
    probe.setForwardOnly(true);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const QSqlError error = probe.lastError();
        probe = QSqlQuery();
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        // A lock is no reason to think the file foreign: saying so could lead staff to
        // replace a healthy archive.
        if (isLock(error))
            throw StoreError(QStringLiteral("病案数据库“%1”正被其他程序使用，暂时无法打开。请稍后再试；如果一直如此，请关闭正在使用该文件的程序。\n（技术信息：%2）")
                                 .arg(m_path, technicalText(error)));
        if (primaryCode(error) == 11)
            markDamaged(fileKey(m_path));
        throw StoreError(QStringLiteral("文件“%1”不是病案数据库，或已损坏，无法打开。\n（技术信息：%2）")
                             .arg(m_path, technicalText(error)));
    }
}

Connection::~Connection() { release(); }

void Connection::fail(const QSqlError &e)
{
    if (isDamage(m_backend, e))
        markDamaged(fileKey(m_path));
    throw StoreError(describe(e));
}

QSqlQuery Connection::run(const QString &sql, std::initializer_list<QVariant> values)
{
    return run(sql, QVariantList(values));
}

QSqlQuery Connection::run(const QString &sql, const QVariantList &values)
{
    if (!m_atCommit.isEmpty())
        sendPending(nullptr);
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (m_kept && changesSession(sql))
        m_sessionChanged = true;
    // A kept session that the server ended just after the check before use: its first
    // statement is run again on a new session (nothing of it can have taken effect).
    const auto failed = [&](const QSqlError &e) -> bool {
        if (m_borrowed && m_statements == 0 && connectionLost()) {
            q = QSqlQuery();
            reopenServer();
            return true;
        }
        fail(e);
    };
    // The server cannot prepare BEGIN, COMMIT or SET; a statement without values needs no
    // preparing anyway, and goes to the server in one round trip.
    if (m_backend == Backend::PostgreSQL && values.isEmpty()) {
        if (!q.exec(sql) && failed(q.lastError()))
            return run(sql, values);
        ++m_statements;
        return q;
    }
    if (!q.prepare(sql) && failed(q.lastError()))
        return run(sql, values);
    bindValues(q, values);
    if (!q.exec() && failed(q.lastError()))
        return run(sql, values);
    ++m_statements;
    return q;
}

void Connection::bindValues(QSqlQuery &q, const QVariantList &values)
{
    for (const QVariant &v : values) {
        // Every value the windows write is a text; an empty one is stored as the empty
        // text, never as no value, so that readers and other tools see what was typed.
        if (v.typeId() == QMetaType::QString && static_cast<const QString *>(v.constData())->isNull())
            q.addBindValue(QStringLiteral(""));
        else
            q.addBindValue(v);
    }
}

void Connection::runAtCommit(const QByteArray &name, const QByteArray &sql, const QVariantList &values)
{
    if (m_backend != Backend::PostgreSQL)
        throw StoreError(QStringLiteral("程序错误：该语句只能在服务器上运行。"));
    m_atCommit.push_back({name, sql, values});
    if (!m_inTransaction)
        sendPending(nullptr);
}

void Connection::sendPending(const char *finalCommand)
{
    const QVector<PendingStatement> pending = std::exchange(m_atCommit, {});
    const std::optional<PipelineFailure> failure =
        runPipelined(serverHandle(m_db), pipelineStatementsOf(m_name), pending, finalCommand);
    if (!failure) {
        m_statements += int(pending.size()) + (finalCommand ? 1 : 0);
        return;
    }
    fail(QSqlError(QStringLiteral("QPSQL: Unable to run the statements"), failure->message,
                   QSqlError::StatementError, failure->sqlState));
}

bool Connection::next(QSqlQuery &query)
{
    if (query.next())
        return true;
    // The driver ends a walk the same way at the last row and at a row it could not
    // read (a damaged page): only the error tells the two apart.
    if (query.lastError().isValid())
        fail(query.lastError());
    return false;
}

bool writesRefused(const QString &path)
{
    DamagedFiles &d = damagedFiles();
    QMutexLocker locker(&d.lock);
    return d.files.contains(fileKey(path));
}
void setBusyTimeout(int milliseconds) { busyTimeoutMs = milliseconds; }
void resetDamageForTests()
{
    DamagedFiles &d = damagedFiles();
    QMutexLocker locker(&d.lock);
    d.files.clear();
}

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    if (writesRefused(connection.path()))
        throw StoreError(QStringLiteral("病案数据库文件已损坏，本次运行不再写入，以免损坏扩大。请从备份恢复，或请系统管理员检查后重新启动程序。"));
    const QStringList begin = connection.dialect().beginWrite();
    m_connection.run(begin.front());
    try {
        for (int i = 1; i < begin.size(); ++i)
            m_connection.run(begin.at(i));
    } catch (const StoreError &) {
        try {
            m_connection.run(QStringLiteral("ROLLBACK"));
        } catch (const StoreError &) {
        }
        throw;
    }
    m_open = true;
    m_connection.m_inTransaction = true;
}

Transaction::~Transaction()
{
    m_connection.m_atCommit.clear();
    m_connection.m_inTransaction = false;
    if (!m_open)
        return;
    try {
        m_connection.run(QStringLiteral("ROLLBACK"));
    } catch (const StoreError &) {
        // SQLite has already rolled back when a statement failed fatally.
    }
}

void Transaction::commit()
{
    try {
        if (m_connection.m_atCommit.isEmpty())
            m_connection.run(QStringLiteral("COMMIT"));
        else
            m_connection.sendPending("COMMIT");
    } catch (const StoreError &) {
        // The server may have committed just before the connection broke: saying the
        // change was lost could make the operator enter it twice.
        if (m_connection.connectionLost())
            throw StoreError(QStringLiteral("保存修改时与病案数据库服务器的连接中断了，无法确定这次修改是否已经保存。"
                                            "请在服务器恢复后刷新仓库，查看有关的病案，再决定是否重做。"));
        throw;
    }
    m_open = false;
    m_connection.m_inTransaction = false;
}

} // namespace store
