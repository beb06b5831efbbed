// The statements that take the archive as a whole rather than one record, type or
// operator: its schema and a server's grants, the checks and counts of the whole archive,
// and the copy of whole tables row by row. The admin tool, the backup, the restore and
// the transfer use them; the windows' everyday work needs none.
#include "store/ArchiveStatements.h"

#include "store/ArchiveIdentity.h"
#include "store/HistoryWords.h"
#include "store/PageText.h"
#include "store/StatementHelpers.h"
#include "store/Statements.h"
#include "store/TrailStatements.h"

#include <QRegularExpression>
#include <QUrl>

namespace store {

// ---- Schema and the server's grants ----

namespace {
// An identifier as PostgreSQL reads it back unchanged: quoted, inner quotes doubled.
QString quotedIdentifier(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
} // namespace

QStringList serverGrants(const QString &address, const QString &role)
{
    // The tables and their row numbering, as the schema makes them (unquoted names fold to
    // lower case, and so do their sequences' names).
    static const QRegularExpression table(QStringLiteral("^CREATE TABLE (\"[^\"]+\"|\\w+) \\((.*)\\)$"));
    QStringList tables;
    QStringList trail; // the trail's tables, each with its own rights
    QStringList sequences;
    const QStringList statements = Dialect::of(Backend::PostgreSQL).schema();
    const QStringList trailStatements = trailSchema(Dialect::of(Backend::PostgreSQL));
    for (const QString &statement : statements + trailStatements) {
        const QRegularExpressionMatch m = table.match(statement);
        if (!m.hasMatch())
            continue;
        QString name = m.captured(1);
        name = name.startsWith(QLatin1Char('"')) ? name.mid(1, name.size() - 2) : name.toLower();
        (trailStatements.contains(statement) ? trail : tables) << name;
        if (m.captured(2).contains(QLatin1String("rowid BIGSERIAL")))
            sequences << quotedIdentifier(name + QStringLiteral("_rowid_seq"));
    }
    for (QString &t : tables)
        t = quotedIdentifier(t);
    const QString who = quotedIdentifier(role);
    QStringList lines;
    const QString database = QUrl(address.trimmed()).path().mid(1);
    if (!database.isEmpty() && !database.contains(QLatin1Char('/'))) {
        lines << QStringLiteral("REVOKE ALL ON DATABASE %1 FROM PUBLIC;").arg(quotedIdentifier(database));
        lines << QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2;").arg(quotedIdentifier(database), who);
    }
    lines << QStringLiteral("REVOKE CREATE ON SCHEMA public FROM PUBLIC;");
    lines << QStringLiteral("GRANT USAGE ON SCHEMA public TO %1;").arg(who);
    lines << QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE %1 TO %2;").arg(tables.join(QStringLiteral(", ")), who);
    // The trail is written and read, never changed or taken out by a workstation; bin
    // entries go when restored or purged; the schema version is the administrator's.
    for (const QString &t : std::as_const(trail)) {
        QString rights = QStringLiteral("SELECT");
        if (t == QLatin1String("history"))
            rights = QStringLiteral("SELECT, INSERT");
        else if (t == QLatin1String("recyclebin"))
            rights = QStringLiteral("SELECT, INSERT, DELETE");
        lines << QStringLiteral("GRANT %1 ON TABLE %2 TO %3;").arg(rights, quotedIdentifier(t), who);
    }
    if (!sequences.isEmpty())
        lines << QStringLiteral("GRANT USAGE ON SEQUENCE %1 TO %2;").arg(sequences.join(QStringLiteral(", ")), who);
    // The trail's words index, where it could not be made with the trail; and the photos'
    // words, which have a table of their own: the owner makes them here if they are not
    // there yet (the workstations' role could not). Both need pg_trgm: asked for once.
    for (const QString &statement : historyWordsServerSchema() + pageTextSchema(Dialect::of(Backend::PostgreSQL)))
        if (!lines.contains(statement + QLatin1Char(';')))
            lines << statement + QLatin1Char(';');
    lines << historyWordsGrant(who);
    lines << archiveIdentityGrants(who);
    lines << pageTextGrants(who);
    return lines;
}

void createSchema(Connection &c)
{
    for (const QString &s : c.dialect().schema())
        c.run(s);
    // A new archive starts at the current version, with its trail.
    for (const QString &s : trailSchema(c.dialect()))
        c.run(s);
    if (c.backend() == Backend::PostgreSQL)
        addHistoryWordsOnServer(c);
    addServerTrailChain(c);
    addArchiveIdentity(c);
    writeSchemaVersion(c, 3);
}

bool isArchive(Connection &c)
{
    QStringList tables;
    QSqlQuery q = c.run(c.dialect().tablesQuery());
    while (c.next(q))
        tables << q.value(0).toString().toLower();
    for (const char *t : {"catalog", "detail", "photo", "user"})
        if (!tables.contains(QLatin1String(t)))
            return false;
    QStringList columns;
    QSqlQuery info = c.run(c.dialect().userColumnsQuery());
    while (c.next(info))
        columns << info.value(0).toString();
    return columns.size() >= 3 && columns.at(0).compare(QLatin1String("UID"), Qt::CaseInsensitive) == 0
        && columns.at(1).compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0
        && columns.at(2) == QStringLiteral("权限");
}

// ---- Checking and backing up the archive ----

QStringList integrityProblems(Connection &c, int maxProblems)
{
    if (c.backend() == Backend::PostgreSQL) {
        // The server keeps its own files sound and has no check of a whole database to
        // ask for; what can be checked from here is that every table reads to its end.
        for (const QString &table : tableNames(c)) {
            QString quoted = table;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            QSqlQuery all = c.run(QStringLiteral("SELECT * FROM \"%1\"").arg(quoted));
            while (c.next(all)) {
            }
        }
        return {QStringLiteral("ok")};
    }
    QSqlQuery q = c.run(QStringLiteral("PRAGMA integrity_check(%1)").arg(qMax(1, maxProblems)));
    QStringList problems;
    while (c.next(q))
        problems << text(q, 0);
    return problems;
}

QStringList tableNames(Connection &c)
{
    QSqlQuery q = c.run(c.dialect().tablesQuery());
    QStringList names;
    while (c.next(q))
        names << text(q, 0);
    return names;
}

TableCounts countTables(Connection &c)
{
    auto count = [&c](const QString &sql) {
        QSqlQuery q = c.run(sql);
        return c.next(q) ? q.value(0).toLongLong() : 0;
    };
    TableCounts t;
    t.catalog = count(QStringLiteral("SELECT count(*) FROM Catalog"));
    t.detail = count(QStringLiteral("SELECT count(*) FROM Detail"));
    t.photo = count(QStringLiteral("SELECT count(*) FROM photo"));
    t.user = count(QStringLiteral("SELECT count(*) FROM \"User\""));
    const bool trail = readSchemaVersion(c) >= 2;
    t.history = trail ? count(QStringLiteral("SELECT count(*) FROM History")) : 0;
    t.bin = trail ? count(QStringLiteral("SELECT count(*) FROM RecycleBin")) : 0;
    t.pageText = hasPageTextTable(c) ? count(QStringLiteral("SELECT count(*) FROM page_text")) : 0;
    return t;
}

void forEachFileReference(Connection &c, const std::function<void(const FileReference &)> &visit)
{
    QSqlQuery files = c.run(QStringLiteral("SELECT \"病案号\", \"文件名\", \"路径名\" FROM Detail "
                                           "WHERE \"路径名\" IS NOT NULL AND \"路径名\" <> '' ORDER BY rowid"));
    while (c.next(files))
        visit({text(files, 0), text(files, 1), text(files, 2), false});
    // Detail's numbers are matched without regard to case, as every lookup matches them.
    const QString sameNumber = c.dialect().sameText(QStringLiteral("d.\"病案号\""), QStringLiteral("p.\"病案号\""));
    QSqlQuery photos = c.run(QStringLiteral(
        "SELECT p.\"病案号\", (SELECT d.\"文件名\" FROM Detail d WHERE %1 LIMIT 1), "
        "p.\"照片\" FROM photo p WHERE EXISTS (SELECT 1 FROM Detail d WHERE %1) "
        "ORDER BY p.rowid").arg(sameNumber));
    while (c.next(photos))
        visit({text(photos, 0), text(photos, 1), text(photos, 2), true});
}

FileReference findFileReference(Connection &c, const QString &path)
{
    // Letter case aside, as every lookup compares: a refusal too many is the safe side.
    QSqlQuery file = c.run(QStringLiteral("SELECT \"病案号\", \"文件名\", \"路径名\" FROM Detail WHERE %1 ORDER BY rowid LIMIT 1")
                               .arg(same(c, QStringLiteral("\"路径名\""))),
                           {path});
    if (c.next(file))
        return {text(file, 0), text(file, 1), text(file, 2), false};
    const QString sameNumber = c.dialect().sameText(QStringLiteral("d.\"病案号\""), QStringLiteral("p.\"病案号\""));
    QSqlQuery photo = c.run(QStringLiteral("SELECT d.\"病案号\", d.\"文件名\", p.\"照片\" FROM photo p JOIN Detail d ON %1 "
                                           "WHERE %2 ORDER BY p.rowid, d.rowid LIMIT 1")
                                .arg(sameNumber, c.dialect().sameText(QStringLiteral("p.\"照片\""), QStringLiteral("?"))),
                            {path});
    if (c.next(photo))
        return {text(photo, 0), text(photo, 1), text(photo, 2), true};
    return {};
}

qint64 countOrphanPhotos(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM photo p WHERE NOT EXISTS "
                                       "(SELECT 1 FROM Detail d WHERE %1)")
                            .arg(c.dialect().sameText(QStringLiteral("d.\"病案号\""), QStringLiteral("p.\"病案号\""))));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

void forEachRecordWithoutType(Connection &c, const std::function<void(const RecordRow &)> &visit)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT d.rowid, d.type_Name, d.\"病案号\", d.\"文件名\" FROM Detail d "
                                       "WHERE NOT EXISTS (SELECT 1 FROM Catalog t WHERE %1) ORDER BY d.rowid")
                            .arg(c.dialect().sameText(QStringLiteral("t.Name"), QStringLiteral("d.type_Name"))));
    while (c.next(q))
        visit({q.value(0).toLongLong(), text(q, 1), text(q, 2), text(q, 3), QString(), QString()});
}

void beginRead(Connection &c) { c.run(c.dialect().beginRead()); }

void endRead(Connection &c) { c.run(QStringLiteral("COMMIT")); }

// ---- Copying a whole archive ----

namespace {
struct TableShape {
    const char *name;    // in SQL
    const char *columns; // in SQL, in order
    int count;
    const char *sequenceOf; // the table as pg_get_serial_sequence takes it
};
TableShape shapeOf(ArchiveTable table)
{
    switch (table) {
    case ArchiveTable::Catalog:
        return {"Catalog", "Name", 1, "catalog"};
    case ArchiveTable::Detail:
        return {"Detail", "type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\"", 5, "detail"};
    case ArchiveTable::Photo:
        return {"photo", "\"病案号\", \"照片\"", 2, "photo"};
    case ArchiveTable::History:
        return {"History",
                "changed_at, operator_name, workstation, kind, record_number, record_rowid, subject, "
                "before_state, after_state, detail, record_name, hash",
                12, "history"};
    case ArchiveTable::RecycleBin:
        return {"RecycleBin",
                "deleted_at, operator_name, workstation, record_rowid, type_Name, \"病案号\", \"文件名\", "
                "\"路径名\", \"文件说明\", photos",
                10, "recyclebin"};
    case ArchiveTable::PageText:
        return {"page_text",
                "\"病案号\", \"照片\", state, content_hash, words, reason, engine, languages, done_at, claim, "
                "claimed_until",
                11, "page_text"};
    case ArchiveTable::User:
        break;
    }
    return {"\"User\"", "UID, PWD, \"权限\"", 3, "\"User\""};
}
} // namespace

QVector<ArchiveTable> archiveTables()
{
    return {ArchiveTable::Catalog, ArchiveTable::Detail, ArchiveTable::Photo, ArchiveTable::User};
}

QString tableName(ArchiveTable table)
{
    switch (table) {
    case ArchiveTable::Catalog:
        return QStringLiteral("Catalog");
    case ArchiveTable::Detail:
        return QStringLiteral("Detail");
    case ArchiveTable::Photo:
        return QStringLiteral("photo");
    case ArchiveTable::History:
        return QStringLiteral("History");
    case ArchiveTable::RecycleBin:
        return QStringLiteral("RecycleBin");
    case ArchiveTable::PageText:
        return QStringLiteral("page_text");
    case ArchiveTable::User:
        break;
    }
    return QStringLiteral("User");
}

bool TableRow::operator==(const TableRow &o) const
{
    if (rowId != o.rowId || values.size() != o.values.size())
        return false;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &a = values.at(i);
        const QVariant &b = o.values.at(i);
        if (a.isValid() != b.isValid() || (a.isValid() && a.toString() != b.toString()))
            return false;
    }
    return true;
}

TableRows::TableRows(Connection &c, ArchiveTable table) : m_connection(c)
{
    const TableShape shape = shapeOf(table);
    m_columns = shape.count;
    m_query = c.run(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                        .arg(QString::fromUtf8(shape.columns), QString::fromUtf8(shape.name)));
}

bool TableRows::next(TableRow &row)
{
    if (!m_connection.next(m_query))
        return false;
    row.rowId = m_query.value(0).toLongLong();
    row.values.clear();
    for (int i = 1; i <= m_columns; ++i)
        row.values << (m_query.isNull(i) ? QVariant() : QVariant(m_query.value(i).toString()));
    return true;
}

void insertTableRows(Connection &c, ArchiveTable table, const QVector<TableRow> &rows)
{
    if (rows.isEmpty())
        return;
    const TableShape shape = shapeOf(table);
    QString one = QStringLiteral("(?");
    for (int i = 0; i < shape.count; ++i)
        one += QStringLiteral(", ?");
    one += QLatin1Char(')');
    QStringList tuples;
    QVariantList values;
    for (const TableRow &r : rows) {
        tuples << one;
        values << r.rowId;
        for (const QVariant &v : r.values)
            values << v; // a row without a value stays without one
    }
    c.run(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES ")
              .arg(QString::fromUtf8(shape.name), QString::fromUtf8(shape.columns))
              + tuples.join(QStringLiteral(", ")),
          values);
}

void continueRowIdentities(Connection &c)
{
    if (c.backend() != Backend::PostgreSQL)
        return;
    // The trail's own identities are given by its writer; only the bin's are numbered.
    for (ArchiveTable table : archiveTables() + QVector<ArchiveTable>{ArchiveTable::RecycleBin, ArchiveTable::PageText}) {
        const TableShape shape = shapeOf(table);
        if (table == ArchiveTable::RecycleBin && readSchemaVersion(c) < 2)
            continue;
        if (table == ArchiveTable::PageText && !hasPageTextTable(c))
            continue;
        c.run(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'rowid'), "
                             "coalesce((SELECT max(rowid) FROM %2), 0) + 1, false)")
                  .arg(QString::fromUtf8(shape.sequenceOf), QString::fromUtf8(shape.name)));
    }
}

void dropArchiveTables(Connection &c)
{
    for (ArchiveTable table : archiveTables() + trailTables())
        c.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(QString::fromUtf8(shapeOf(table).name)));
    c.run(QStringLiteral("DROP TABLE IF EXISTS page_text"));
    c.run(QStringLiteral("DROP TABLE IF EXISTS ArchiveIdentity"));
    dropHistoryWords(c);
    forgetSchemaVersion(c);
    if (c.backend() == Backend::PostgreSQL)
        c.run(QStringLiteral("DROP TABLE IF EXISTS ArchiveVersion"));
    else
        c.run(QStringLiteral("PRAGMA user_version = 0"));
}

QString textEncoding(Connection &c)
{
    if (server(c))
        return QStringLiteral("UTF-8");
    QSqlQuery q = c.run(QStringLiteral("PRAGMA encoding"));
    return c.next(q) ? text(q, 0) : QStringLiteral("UTF-8");
}

void setTextEncoding(Connection &c, const QString &encoding)
{
    // A pragma takes no bound value: only the engine's own names are spliced in.
    for (const char *known : {"UTF-8", "UTF-16le", "UTF-16be"})
        if (encoding == QLatin1String(known) && !server(c))
            c.run(QStringLiteral("PRAGMA encoding = '%1'").arg(encoding));
}

QStringList tableColumns(Connection &c, ArchiveTable table)
{
    // The row identity (rowid on the server, the file's own or its alias) is no column of
    // the copy's: it goes with every row anyway.
    // The server folds an unquoted name to lower case and keeps a quoted one.
    QString name = QString::fromUtf8(shapeOf(table).sequenceOf);
    const bool quoted = name.startsWith(QLatin1Char('"'));
    if (quoted)
        name = name.mid(1, name.size() - 2);
    QSqlQuery q = server(c)
        ? c.run(QStringLiteral("SELECT column_name FROM information_schema.columns WHERE table_schema = current_schema() "
                               "AND table_name = ? AND column_name <> 'rowid' ORDER BY ordinal_position"),
                {quoted ? name : name.toLower()})
        : c.run(QStringLiteral("SELECT name FROM pragma_table_info(?) WHERE NOT (pk = 1 AND upper(type) = 'INTEGER') "
                               "ORDER BY cid"),
                {name});
    QStringList columns;
    while (c.next(q))
        columns << text(q, 0);
    return columns;
}

} // namespace store
