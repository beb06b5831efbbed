// The server's side of a connection: its address as libpq reads it, and the one
// connection per address kept open for the run, which every operation borrows, checks
// before use, opens again after a server restart and gives back at its end. A file
// keeps nothing open between operations (Database.cpp).
#include "store/ConnectionInternals.h"
#include "store/ServerSettings.h"

#include <QCoreApplication>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>
#include <poll.h>

namespace store {

// ---- Server addresses ----

namespace {
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
    // The server's JIT compiles any statement its planner deems dear, and a search through
    // the pairs index is deemed dear for its rechecks: the compiling took longer than the
    // search itself (a second against a tenth at 1,000,000 records). The address's own
    // options come after, so an office may still turn it on.
    const QString noJit = QStringLiteral("-c jit=off");
    bool optionsSeen = false;
    for (auto &g : given)
        if (g.first == QLatin1String("options")) {
            g.second = noJit + QLatin1Char(' ') + g.second + QLatin1Char(' ') + lockTimeout;
            optionsSeen = true;
        }
    if (!optionsSeen)
        given.append({QStringLiteral("options"), noJit + QLatin1Char(' ') + lockTimeout});

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
} // namespace

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

// ---- The server connections kept for the run, one per address ----

namespace {
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

QString serverSettings(const QString &address)
{
    const ServerAddress a = parseAddress(address, busyTimeoutMs);
    if (!a.problem.isEmpty())
        throw StoreError(a.problem);
    return QString::fromUtf8(a.conninfo);
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

bool Connection::connectionLost()
{
    if (m_backend != Backend::PostgreSQL)
        return false;
    PGconn *handle = serverHandle(m_db);
    return !handle || PQstatus(handle) == CONNECTION_BAD;
}

} // namespace store
