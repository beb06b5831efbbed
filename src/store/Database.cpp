#include "store/Database.h"
#include "store/ServerSettings.h"

#include "store/FileModes.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>

#include <QCoreApplication>
#include <QHash>

#include <libpq-fe.h>
#include <poll.h>

namespace store {

namespace {
QAtomicInt connectionCounter;

// How long a statement waits for a file that another program holds locked.
int busyTimeoutMs = 5000;

// SQLite's primary result code behind a failure, or 0 when the driver gave none.
int primaryCode(const QSqlError &e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : 0;
}

QString technicalText(const QSqlError &e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    return text;
}

QString withTechnical(const QString &sentence, const QString &technical)
{
    if (technical.isEmpty())
        return sentence;
    return sentence + QStringLiteral("\n（技术信息：") + technical + QStringLiteral("）");
}

// What the operator reads: what happened and what to do, in Chinese, with the store's
// own words after it for whoever looks into the matter.
QString describeFile(const QSqlError &e)
{
    const QString technical = technicalText(e);
    QString sentence;
    switch (primaryCode(e)) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        sentence = QStringLiteral("病案数据库正被其他程序使用，暂时无法读写。请稍后再试；如果一直如此，请关闭正在使用该文件的程序。");
        break;
    case 8: // SQLITE_READONLY
        sentence = QStringLiteral("病案数据库文件是只读的，无法写入。请检查该文件及其所在文件夹的写入权限。");
        break;
    case 13: // SQLITE_FULL
        sentence = QStringLiteral("磁盘已满，无法写入病案数据库。请腾出磁盘空间后再试。");
        break;
    case 11: // SQLITE_CORRUPT
        sentence = QStringLiteral("病案数据库文件已损坏。本次运行不再写入该文件；请从备份恢复，或请系统管理员检查。");
        break;
    case 26: // SQLITE_NOTADB
        sentence = QStringLiteral("该文件不是病案数据库，或已严重损坏。");
        break;
    case 10: // SQLITE_IOERR
        sentence = QStringLiteral("读写病案数据库文件时出错（磁盘或网络故障）。请检查文件所在的磁盘或网络连接后再试。");
        break;
    case 14: // SQLITE_CANTOPEN
        sentence = QStringLiteral("无法打开病案数据库文件。请检查文件是否存在以及是否有访问权限。");
        break;
    case 3:  // SQLITE_PERM
    case 23: // SQLITE_AUTH
        sentence = QStringLiteral("没有访问病案数据库的权限。");
        break;
    default:
        sentence = QStringLiteral("病案数据库操作失败。");
        break;
    }
    return withTechnical(sentence, technical);
}

const QString kServerLost = QStringLiteral(
    "与病案数据库服务器的连接中断了（服务器已停止，或网络出了故障）。本次操作没有完成，也没有留下一半的修改；"
    "已经保存的内容不受影响。请检查网络连接，或请系统管理员检查服务器，然后再试。");

// The server's failures by SQLSTATE (its class in the first two characters), in the
// words the file's failures get where the matter is the same.
QString describeServer(const QSqlError &e, bool lost)
{
    const QString state = e.nativeErrorCode();
    const QString cls = state.left(2);
    QString sentence;
    if (lost || cls == QLatin1String("08") || state == QLatin1String("57P01") || state == QLatin1String("57P02")
        || state == QLatin1String("57P03"))
        sentence = kServerLost;
    else if (state == QLatin1String("55P03") || state == QLatin1String("40P01") || cls == QLatin1String("40"))
        sentence = QStringLiteral("病案数据库正被其他工作站修改，暂时无法读写。请稍后再试。");
    else if (state == QLatin1String("25006"))
        sentence = QStringLiteral("病案数据库服务器只允许读取，无法写入。请系统管理员检查服务器。");
    else if (state == QLatin1String("53100"))
        sentence = QStringLiteral("病案数据库服务器的磁盘已满，无法写入。请系统管理员腾出空间后再试。");
    else if (cls == QLatin1String("53"))
        sentence = QStringLiteral("病案数据库服务器资源不足（内存或连接数已满），暂时无法读写。请稍后再试，或请系统管理员检查服务器。");
    else if (state == QLatin1String("XX001") || state == QLatin1String("XX002"))
        sentence = QStringLiteral("病案数据库已损坏。本次运行不再写入该数据库；请从备份恢复，或请系统管理员检查服务器。");
    else if (state == QLatin1String("42501") || cls == QLatin1String("28"))
        sentence = QStringLiteral("没有访问病案数据库的权限。请系统管理员在服务器上授予权限。");
    else if (state == QLatin1String("42P01"))
        sentence = QStringLiteral("服务器上的这个数据库不是病案数据库，或缺少其数据表。");
    else
        sentence = QStringLiteral("病案数据库操作失败。");
    return withTechnical(sentence, technicalText(e));
}

bool isDamage(Backend backend, const QSqlError &e)
{
    if (backend == Backend::PostgreSQL)
        return e.nativeErrorCode() == QLatin1String("XX001") || e.nativeErrorCode() == QLatin1String("XX002");
    const int code = primaryCode(e);
    return code == 11 || code == 26;
}

bool isLock(const QSqlError &e)
{
    const int code = primaryCode(e);
    return code == 5 || code == 6;
}

// Once the store has reported damage in a file, this run writes nothing more into it:
// writing into a damaged file can spread the damage to records still intact.
QSet<QString> &damagedFiles()
{
    static QSet<QString> files;
    return files;
}

QString fileKey(const QString &path)
{
    return isServerAddress(path) ? path.trimmed() : QFileInfo(path).absoluteFilePath();
}

// ---- Server addresses ----

// An address as libpq reads it, split into what Qt's driver takes apart (host, port,
// database, user) and the rest, passed on as connect options.
struct ServerAddress {
    QString host;
    int port = -1;
    QString database;
    QString user;
    QStringList options;  // key='value', for the driver
    QByteArray conninfo;  // all of it, for libpq's own calls
    QString problem;      // why the address cannot be used
};

QString quotedValue(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    v.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

ServerAddress parseAddress(const QString &address, int lockTimeoutMs)
{
    ServerAddress a;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(address.trimmed().toUtf8().constData(), &error);
    if (!options) {
        a.problem = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        if (error)
            PQfreemem(error);
        return a;
    }
    QList<QPair<QString, QString>> given;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            given.append({QString::fromUtf8(o->keyword), QString::fromUtf8(o->val)});
    PQconninfoFree(options);

    auto has = [&given](const char *key) {
        for (const auto &g : given)
            if (g.first == QLatin1String(key))
                return true;
        return false;
    };
    // A server that does not answer must not hang a workstation: libpq would wait for a
    // connection for ever, and for a vanished server's reply for hours.
    const QPair<const char *, const char *> defaults[] = {
        {"connect_timeout", "10"}, {"application_name", "casearchive"},
        {"keepalives_idle", "30"}, {"keepalives_interval", "10"}, {"keepalives_count", "3"}};
    for (const auto &d : defaults)
        if (!has(d.first))
            given.append({QLatin1String(d.first), QLatin1String(d.second)});
    const QString lockTimeout = QStringLiteral("-c lock_timeout=%1").arg(lockTimeoutMs);
    bool optionsSeen = false;
    for (auto &g : given)
        if (g.first == QLatin1String("options")) {
            g.second += QLatin1Char(' ') + lockTimeout;
            optionsSeen = true;
        }
    if (!optionsSeen)
        given.append({QStringLiteral("options"), lockTimeout});

    QStringList all;
    for (const auto &[key, value] : std::as_const(given)) {
        if (key == QLatin1String("password")) {
            a.problem = QStringLiteral("地址中不能写口令。请把口令写入该用户的 ~/.pgpass 文件（或由服务器信任该用户）。");
            return a;
        }
        all << key + QLatin1Char('=') + quotedValue(value);
        if (key == QLatin1String("host")) {
            a.host = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            a.port = value.toInt(&ok);
            if (!ok) {
                // Several ports for several hosts: left to libpq.
                a.port = -1;
                a.options << all.last();
            }
        } else if (key == QLatin1String("dbname")) {
            a.database = value;
        } else if (key == QLatin1String("user")) {
            a.user = value;
        } else {
            // Qt's driver joins its options with ';' standing for a blank.
            if (value.contains(QLatin1Char(';'))) {
                a.problem = QStringLiteral("地址中的设置“%1”含有分号，无法使用。").arg(key);
                return a;
            }
            a.options << all.last();
        }
    }
    a.conninfo = all.join(QLatin1Char(' ')).toUtf8();
    return a;
}

PGconn *serverHandle(QSqlDatabase &db)
{
    if (!db.isValid() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // Qt names the type by libpq's struct tag.
    if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
        return *static_cast<PGconn *const *>(handle.constData());
    return nullptr;
}

QString uriFor(const QString &path, const char *mode)
{
    QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    return uri + QStringLiteral("?mode=") + QLatin1String(mode);
}
// ---- The server connections kept for the run, one per address ----

struct Kept {
    QString name; // Qt's name of the connection
    bool inUse = false;
};

QHash<QString, Kept> &keptConnections()
{
    static QHash<QString, Kept> kept;
    return kept;
}

int serverOpens = 0;

void closeConnectionNamed(const QString &name)
{
    forgetSessionStatements(name);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// An idle session receives nothing unless the server is ending it (a restart, a stopped
// server, an administrator's pg_terminate_backend): anything waiting to be read, or a
// session that is not plainly idle, means it cannot be trusted with the next operation.
// Costs no round trip.
bool idleAndAlive(QSqlDatabase &db)
{
    PGconn *handle = serverHandle(db);
    if (!handle || PQstatus(handle) != CONNECTION_OK || PQtransactionStatus(handle) != PQTRANS_IDLE)
        return false;
    pollfd p{PQsocket(handle), POLLIN, 0};
    const int ready = poll(&p, 1, 0);
    return ready == 0;
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

// A workstation works with one address; tools and tests go through many, and a session
// the server has ended still holds its socket: such ones, and any beyond a few, go.
void forgetIdleConnections()
{
    constexpr int kMostKept = 4;
    auto &kept = keptConnections();
    for (auto it = kept.begin(); it != kept.end();) {
        QSqlDatabase db = QSqlDatabase::database(it->name, false);
        const bool drop = !it->inUse && (kept.size() >= kMostKept || !idleAndAlive(db));
        db = QSqlDatabase();
        if (drop) {
            closeConnectionNamed(it->name);
            it = kept.erase(it);
        } else {
            ++it;
        }
    }
}
} // namespace

void closeKeptConnections()
{
    auto &kept = keptConnections();
    for (auto it = kept.begin(); it != kept.end();) {
        if (it->inUse) {
            ++it;
            continue;
        }
        closeConnectionNamed(it->name);
        it = kept.erase(it);
    }
}

int serverConnectionsOpened() { return serverOpens; }

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
            damagedFiles().insert(fileKey(m_path));
        throw StoreError(QStringLiteral("文件“%1”不是病案数据库，或已损坏，无法打开。\n（技术信息：%2）")
                             .arg(m_path, technicalText(error)));
    }
}

void Connection::openServer()
{
    const QString driver = QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw StoreError(QStringLiteral("本机无法连接 PostgreSQL 服务器上的病案数据库：没有安装 Qt 的 PostgreSQL 驱动"
                                        "（Debian 软件包 libqt6sql6-psql）。"));
    const ServerAddress address = parseAddress(m_path, busyTimeoutMs);
    if (!address.problem.isEmpty()) {
        // The parser's own words may quote the password some other way (a bad percent
        // sign in it, say): every spelling of it goes.
        QString problem = address.problem;
        for (const QString &secret : passwordsIn(m_path))
            problem.replace(secret, QStringLiteral("***"));
        throw StoreError(QStringLiteral("病案数据库的地址“%1”不能使用：%2").arg(m_path, problem));
    }
    m_name = QStringLiteral("casearchive-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(driver, m_name);
    if (!address.host.isEmpty())
        m_db.setHostName(address.host);
    if (address.port >= 0)
        m_db.setPort(address.port);
    m_db.setDatabaseName(address.database);
    m_db.setUserName(address.user);
    m_db.setConnectOptions(address.options.join(QLatin1Char(';')));
    if (m_db.open()) {
        ++serverOpens;
        // The first connection to an address is the one kept for the run; a second one
        // open at the same time (two operations interleaved) is closed at its end.
        auto &kept = keptConnections();
        if (!m_keptKey.isEmpty() && !kept.contains(m_keptKey)) {
            if (kept.isEmpty())
                qAddPostRoutine(closeKeptConnections);
            forgetIdleConnections();
            kept.insert(m_keptKey, Kept{m_name, true});
            m_kept = true;
        }
        return;
    }
    const QString why = technicalText(m_db.lastError());
    release();
    // The driver says little about why; libpq's ping tells a server that is not there
    // from one that is there and refuses this user or database.
    QString sentence;
    switch (PQping(address.conninfo.constData())) {
    case PQPING_NO_RESPONSE:
        sentence = QStringLiteral("无法连接病案数据库服务器“%1”：服务器没有响应（服务器没有启动、地址有误，或网络不通）。"
                                  "请检查网络连接，或请系统管理员检查服务器。");
        break;
    case PQPING_REJECT:
        sentence = QStringLiteral("病案数据库服务器“%1”正在启动或停止，暂时不接受连接。请稍后再试。");
        break;
    case PQPING_NO_ATTEMPT:
        sentence = QStringLiteral("病案数据库的地址“%1”有误，无法连接。");
        break;
    default:
        sentence = QStringLiteral("病案数据库服务器拒绝了“%1”的连接：服务器上没有这个数据库，或用户名不对、口令"
                                  "（~/.pgpass）不对，或没有访问权限。请系统管理员检查。");
        break;
    }
    throw StoreError(withTechnical(sentence.arg(m_path), why));
}

bool Connection::borrowKept()
{
    auto &kept = keptConnections();
    const auto it = kept.find(m_keptKey);
    if (it == kept.end() || it->inUse)
        return false;
    QSqlDatabase db = QSqlDatabase::database(it->name, false);
    if (!idleAndAlive(db)) {
        // Ended by the server meanwhile: opened again, or, when the server is really
        // gone, reported as a connection that cannot be made, exactly as without keeping.
        const QString name = it->name;
        kept.erase(it);
        db = QSqlDatabase();
        closeConnectionNamed(name);
        return false;
    }
    it->inUse = true;
    m_name = it->name;
    m_db = db;
    m_kept = true;
    m_borrowed = true;
    return true;
}

void Connection::reopenServer()
{
    auto &kept = keptConnections();
    const auto it = kept.find(m_keptKey);
    if (m_kept && it != kept.end() && it->name == m_name)
        kept.erase(it);
    m_kept = false;
    m_borrowed = false;
    m_db = QSqlDatabase();
    closeConnectionNamed(m_name);
    m_name.clear();
    openServer();
}

void Connection::release()
{
    if (m_name.isEmpty())
        return;
    if (m_kept) {
        auto &kept = keptConnections();
        const auto it = kept.find(m_keptKey);
        PGconn *handle = serverHandle(m_db);
        bool clean = handle && PQstatus(handle) == CONNECTION_OK && !m_sessionChanged;
        if (clean && PQtransactionStatus(handle) != PQTRANS_IDLE) {
            // An operation that ended half-way leaves nothing behind for the next one.
            while (PGresult *left = PQgetResult(handle))
                PQclear(left);
            if (PQtransactionStatus(handle) != PQTRANS_IDLE)
                PQclear(PQexec(handle, "ROLLBACK"));
            clean = PQstatus(handle) == CONNECTION_OK && PQtransactionStatus(handle) == PQTRANS_IDLE;
        }
        if (it != kept.end() && it->name == m_name) {
            if (clean) {
                it->inUse = false;
                m_db = QSqlDatabase();
                m_name.clear();
                return;
            }
            kept.erase(it);
        }
    }
    forgetSessionStatements(m_name);
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

Connection::~Connection() { release(); }

bool Connection::connectionLost()
{
    if (m_backend != Backend::PostgreSQL)
        return false;
    PGconn *handle = serverHandle(m_db);
    return !handle || PQstatus(handle) == CONNECTION_BAD;
}

QString Connection::describe(const QSqlError &e)
{
    if (m_backend == Backend::PostgreSQL)
        return describeServer(e, connectionLost());
    return describeFile(e);
}

void Connection::fail(const QSqlError &e)
{
    if (isDamage(m_backend, e))
        damagedFiles().insert(fileKey(m_path));
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

bool writesRefused(const QString &path) { return damagedFiles().contains(fileKey(path)); }
void setBusyTimeout(int milliseconds) { busyTimeoutMs = milliseconds; }

QString serverSettings(const QString &address)
{
    const ServerAddress a = parseAddress(address, busyTimeoutMs);
    if (!a.problem.isEmpty())
        throw StoreError(a.problem);
    return QString::fromUtf8(a.conninfo);
}
void resetDamageForTests() { damagedFiles().clear(); }

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
