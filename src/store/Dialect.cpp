#include "store/Dialect.h"

#include <QRegularExpression>
#include <QUrl>

namespace store {

bool isServerAddress(const QString &location)
{
    const QString l = location.trimmed();
    return l.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || l.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

Backend backendFor(const QString &location)
{
    return isServerAddress(location) ? Backend::PostgreSQL : Backend::SQLite;
}

namespace {
// scheme://user:PASSWORD@ (up to the last '@' before the path: an '@' in a password
// hides nothing after it), and
// the password=PASSWORD of the address's settings.
const QRegularExpression &credentials()
{
    static const QRegularExpression re(QStringLiteral("(postgres(?:ql)?://[^:/?#@\\s]*:)[^/\\s\"”]*@"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}
const QRegularExpression &passwordSetting()
{
    static const QRegularExpression re(QStringLiteral("([?&]password=)[^&#\\s\"'”]*"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}
} // namespace

QString maskPasswords(const QString &text)
{
    QString masked = text;
    masked.replace(credentials(), QStringLiteral("\\1***@"));
    masked.replace(passwordSetting(), QStringLiteral("\\1***"));
    return masked;
}

QStringList passwordsIn(const QString &location)
{
    QStringList found;
    auto add = [&found](const QString &written) {
        if (written.isEmpty())
            return;
        found << written;
        const QString decoded = QUrl::fromPercentEncoding(written.toUtf8());
        if (decoded != written && !decoded.isEmpty())
            found << decoded;
    };
    QRegularExpressionMatchIterator it = credentials().globalMatch(location);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        add(m.captured(0).mid(m.captured(1).size()).chopped(1));
    }
    it = passwordSetting().globalMatch(location);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        add(m.captured(0).mid(m.captured(1).size()));
    }
    return found;
}

const Dialect &Dialect::of(Backend backend)
{
    static const Dialect sqlite(Backend::SQLite);
    static const Dialect server(Backend::PostgreSQL);
    return backend == Backend::SQLite ? sqlite : server;
}

// PostgreSQL's lower() folds by the collation's rules, Unicode-wide under most locales;
// under the "C" collation it folds A-Z alone, as SQLite's NOCASE does. The same text is
// then the same record number on either engine, whatever locale the server was set up
// with. The index expressions in schema() are exactly these, so the lookups use them.
QString Dialect::sameText(const QString &left, const QString &right) const
{
    if (m_backend == Backend::SQLite)
        return left + QStringLiteral(" = ") + right + QStringLiteral(" COLLATE NOCASE");
    return QStringLiteral("lower(%1 COLLATE \"C\") = lower(%2 COLLATE \"C\")").arg(left, right);
}

// SQLite's LIKE ignores the case of A-Z only; ILIKE under "C" does the same.
QString Dialect::containsText(const QString &column) const
{
    if (m_backend == Backend::SQLite)
        return column + QStringLiteral(" LIKE ? ESCAPE '\\'");
    return column + QStringLiteral(" COLLATE \"C\" ILIKE ? ESCAPE '\\'");
}

// The server has no lock on the whole archive; a transaction-wide advisory lock, the same
// number on every workstation, makes writers take turns as they do on the file. Its wait
// is bounded by lock_timeout (set when connecting), as the file's by the busy timeout.
QStringList Dialect::beginWrite() const
{
    if (m_backend == Backend::SQLite)
        return {QStringLiteral("BEGIN IMMEDIATE")};
    return {QStringLiteral("BEGIN"), QStringLiteral("SELECT pg_advisory_xact_lock(20090302)")};
}

QString Dialect::beginRead() const
{
    if (m_backend == Backend::SQLite)
        return QStringLiteral("BEGIN DEFERRED");
    return QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

QStringList Dialect::schema() const
{
    // Columns in the order readers rely on; the indexes serve the case-blind lookups.
    if (m_backend == Backend::SQLite)
        return {
            QStringLiteral("CREATE TABLE Catalog (Name TEXT COLLATE NOCASE)"),
            QStringLiteral("CREATE TABLE Detail (type_Name TEXT COLLATE NOCASE, \"病案号\" TEXT COLLATE NOCASE, "
                           "\"文件名\" TEXT, \"路径名\" TEXT, \"文件说明\" TEXT)"),
            QStringLiteral("CREATE TABLE photo (\"病案号\" TEXT COLLATE NOCASE, \"照片\" TEXT)"),
            QStringLiteral("CREATE TABLE \"User\" (UID TEXT COLLATE NOCASE, PWD TEXT, \"权限\" TEXT)"),
            QStringLiteral("CREATE INDEX idx_detail_type ON Detail (type_Name COLLATE NOCASE)"),
            QStringLiteral("CREATE INDEX idx_detail_number ON Detail (\"病案号\" COLLATE NOCASE)"),
            QStringLiteral("CREATE INDEX idx_photo_number ON photo (\"病案号\" COLLATE NOCASE)"),
        };
    return {
        QStringLiteral("CREATE TABLE Catalog (Name TEXT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE TABLE Detail (type_Name TEXT, \"病案号\" TEXT, \"文件名\" TEXT, \"路径名\" TEXT, "
                       "\"文件说明\" TEXT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE TABLE photo (\"病案号\" TEXT, \"照片\" TEXT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE TABLE \"User\" (UID TEXT, PWD TEXT, \"权限\" TEXT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE INDEX idx_catalog_name ON Catalog (lower(Name COLLATE \"C\"))"),
        QStringLiteral("CREATE INDEX idx_detail_type ON Detail (lower(type_Name COLLATE \"C\"))"),
        QStringLiteral("CREATE INDEX idx_detail_number ON Detail (lower(\"病案号\" COLLATE \"C\"))"),
        QStringLiteral("CREATE INDEX idx_photo_number ON photo (lower(\"病案号\" COLLATE \"C\"))"),
    };
}

QString Dialect::tablesQuery() const
{
    if (m_backend == Backend::SQLite)
        return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    return QStringLiteral("SELECT table_name FROM information_schema.tables "
                          "WHERE table_schema = current_schema() AND table_type = 'BASE TABLE' ORDER BY table_name");
}

QString Dialect::userColumnsQuery() const
{
    if (m_backend == Backend::SQLite)
        return QStringLiteral("SELECT name FROM pragma_table_info('User') ORDER BY cid");
    return QStringLiteral("SELECT column_name FROM information_schema.columns "
                          "WHERE table_schema = current_schema() AND table_name = 'User' ORDER BY ordinal_position");
}

} // namespace store
