#include "store/Database.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlError>
#include <QUrl>

namespace store {

namespace {
QAtomicInt connectionCounter;

// How long a statement waits for a file that another program holds locked.
constexpr int kBusyTimeoutMs = 5000;

QString describe(const QSqlError &e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    return text;
}

QString uriFor(const QString &path, const char *mode)
{
    QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    return uri + QStringLiteral("?mode=") + QLatin1String(mode);
}
} // namespace

StoreError::StoreError(const QString &description)
    : std::runtime_error(description.toStdString()), m_description(description)
{
}

Connection::Connection(const QString &path) : m_path(path)
{
    if (path.trimmed().isEmpty())
        throw StoreError(QStringLiteral("没有指定数据库文件。"));
    if (!QFileInfo(path).isFile())
        throw StoreError(QStringLiteral("找不到数据库文件“%1”。").arg(path));
    open(uriFor(path, "rw"));
}

Connection::Connection(const QString &path, CreateTag) : m_path(path)
{
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("文件“%1”已经存在。").arg(path));
    open(uriFor(path, "rwc"));
}

Connection Connection::createNew(const QString &path) { return Connection(path, CreateTag{}); }

void Connection::open(const QString &uri)
{
    m_name = QStringLiteral("casearchive-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(uri);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!m_db.open()) {
        const QString why = describe(m_db.lastError());
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw StoreError(QStringLiteral("无法打开数据库文件“%1”：%2").arg(m_path, why));
    }
    // SQLite accepts any file at open time and only fails at the first statement,
    // so read something cheap now and report a foreign file clearly.
    QSqlQuery probe(m_db);
    probe.setForwardOnly(true);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const QString why = describe(probe.lastError());
        probe = QSqlQuery();
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw StoreError(QStringLiteral("文件“%1”不是病案数据库：%2").arg(m_path, why));
    }
}

Connection::~Connection()
{
    if (m_name.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlQuery Connection::run(const QString &sql, std::initializer_list<QVariant> values)
{
    return run(sql, QVariantList(values));
}

QSqlQuery Connection::run(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw StoreError(describe(q.lastError()));
    for (const QVariant &v : values) {
        // Every value the windows write is a text; an empty one is stored as the empty
        // text, never as no value, so that readers and other tools see what was typed.
        if (v.typeId() == QMetaType::QString && v.isNull())
            q.addBindValue(QStringLiteral(""));
        else
            q.addBindValue(v);
    }
    if (!q.exec())
        throw StoreError(describe(q.lastError()));
    return q;
}

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    m_connection.run(QStringLiteral("BEGIN IMMEDIATE"));
    m_open = true;
}

Transaction::~Transaction()
{
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
    m_connection.run(QStringLiteral("COMMIT"));
    m_open = false;
}

} // namespace store
