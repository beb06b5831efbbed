// What a failure of either engine means to the operator: a sentence in Chinese that
// says what happened and what to do, with the engine's own words after it, and which
// failures are damage or another program's lock. Kept apart from the connection itself,
// which only reports them (Database.cpp).
#include "store/ConnectionInternals.h"

#include <QSqlError>

namespace store {

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

namespace {
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
} // namespace

bool isDamage(Backend backend, const QSqlError &e)
{
    if (backend == Backend::PostgreSQL)
        return e.nativeErrorCode() == QLatin1String("XX001") || e.nativeErrorCode() == QLatin1String("XX002");
    // SQLITE_CORRUPT_VTAB: a full-text index's own tables do not fit together. That is the
    // search index's fault, which the search survives by reading every record; the file
    // holding it is sound, and the records' writes go on.
    if (e.nativeErrorCode() == QLatin1String("267"))
        return false;
    const int code = primaryCode(e);
    return code == 11 || code == 26;
}

bool isLock(const QSqlError &e)
{
    const int code = primaryCode(e);
    return code == 5 || code == 6;
}

QString Connection::describe(const QSqlError &e)
{
    if (m_backend == Backend::PostgreSQL)
        return describeServer(e, connectionLost());
    return describeFile(e);
}

} // namespace store
