#include "store/Database.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QUrl>

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

// What the operator reads: what happened and what to do, in Chinese, with the store's
// own words after it for whoever looks into the matter.
QString describe(const QSqlError &e)
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
    if (technical.isEmpty())
        return sentence;
    return sentence + QStringLiteral("\n（技术信息：") + technical + QStringLiteral("）");
}

bool isDamage(const QSqlError &e)
{
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

QString fileKey(const QString &path) { return QFileInfo(path).absoluteFilePath(); }

[[noreturn]] void fail(const QString &path, const QSqlError &e)
{
    if (isDamage(e))
        damagedFiles().insert(fileKey(path));
    throw StoreError(describe(e));
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
        fail(m_path, q.lastError());
    for (const QVariant &v : values) {
        // Every value the windows write is a text; an empty one is stored as the empty
        // text, never as no value, so that readers and other tools see what was typed.
        if (v.typeId() == QMetaType::QString && static_cast<const QString *>(v.constData())->isNull())
            q.addBindValue(QStringLiteral(""));
        else
            q.addBindValue(v);
    }
    if (!q.exec())
        fail(m_path, q.lastError());
    return q;
}

bool Connection::next(QSqlQuery &query)
{
    if (query.next())
        return true;
    // The driver ends a walk the same way at the last row and at a row it could not
    // read (a damaged page): only the error tells the two apart.
    if (query.lastError().isValid())
        fail(m_path, query.lastError());
    return false;
}

bool writesRefused(const QString &path) { return damagedFiles().contains(fileKey(path)); }
void setBusyTimeout(int milliseconds) { busyTimeoutMs = milliseconds; }
void resetDamageForTests() { damagedFiles().clear(); }

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    if (writesRefused(connection.path()))
        throw StoreError(QStringLiteral("病案数据库文件已损坏，本次运行不再写入，以免损坏扩大。请从备份恢复，或请系统管理员检查后重新启动程序。"));
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
