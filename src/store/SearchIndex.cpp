// The search index's schema, its state and how a search uses it; the build, the file's
// catch-up and the check are in SearchIndexUpkeep.cpp.
#include "store/SearchIndex.h"

#include "store/PageText.h"
#include "store/SearchIndexDefinitions.h"
#include "store/SearchPairs.h"
#include "store/Statements.h"
#include "store/TrailStatements.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDriver>

#include <libpq-fe.h>

namespace store {

namespace {

// Past this many changes in a file's log the search folds them into the index first; below
// it, reading them along costs less than the commit the fold would take.
constexpr qint64 kCatchUpAfter = 256;
// A pair held by more than this share of the rows is no help: reading through is quicker
// than fetching that many rows one by one.
constexpr double kCommonShare = 0.25;
// The server's planner is asked about this many of a text's pairs at most.
constexpr int kPairsEstimated = 8;
// A file's pair is counted among at least this many rows to tell whether it is common.
constexpr qint64 kSampledRows = 40000;

bool onServer(const Connection &c) { return c.backend() == Backend::PostgreSQL; }

// The state a file's triggers read: built or not, one row per index.
const QString kStateTable = QStringLiteral("search_index_state");

QStringList fileSchema(const IndexDefinition &d)
{
    const QString words = QLatin1String(d.words);
    const QString log = QLatin1String(d.log);
    const QString table = QLatin1String(d.table);
    QStringList logColumns;
    QStringList newValues;
    QStringList oldValues;
    for (int i = 0; i < d.columns.size(); ++i) {
        logColumns << QStringLiteral("t%1").arg(i + 1);
        newValues << QStringLiteral("new.") + d.columns.at(i);
        oldValues << QStringLiteral("old.") + d.columns.at(i);
    }
    const QString insertLog = QStringLiteral("INSERT INTO %1 (record, added, %2) VALUES ").arg(log, logColumns.join(QStringLiteral(", ")));
    const QString added = insertLog + QStringLiteral("(new.rowid, 1, %1); ").arg(newValues.join(QStringLiteral(", ")));
    const QString removed = insertLog + QStringLiteral("(old.rowid, 0, %1); ").arg(oldValues.join(QStringLiteral(", ")));
    const QString when = QStringLiteral(" WHEN (SELECT built FROM %1 WHERE name = '%2') = 1 BEGIN ").arg(kStateTable, words);
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, built INTEGER NOT NULL)").arg(kStateTable),
        // Without content or sizes: the index only names rows, the search reads them.
        QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5(words, content='', detail='none', "
                       "columnsize=0, tokenize='ascii')")
            .arg(words),
        // What each change wrote or removed, in order: folding the log in needs nothing else,
        // and it removes from the index exactly the words it once added.
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (id INTEGER PRIMARY KEY, record INTEGER NOT NULL, "
                       "added INTEGER NOT NULL, %2)")
            .arg(log, logColumns.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_added AFTER INSERT ON %2").arg(words, table) + when + added
            + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_removed AFTER DELETE ON %2").arg(words, table) + when + removed
            + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_changed AFTER UPDATE%3 ON %2")
                .arg(words, table, d.which == IndexedText::Pages ? QStringLiteral(" OF words") : QString())
            + when + removed + added + QStringLiteral("END"),
        // A table without rows has its index complete from the start.
        QStringLiteral("INSERT OR IGNORE INTO %1 (name, built) SELECT '%2', NOT EXISTS (SELECT 1 FROM %3)")
            .arg(kStateTable, words, table),
    };
}

QString serverIndexStatement(const IndexDefinition &d)
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 USING gin (%3)")
        .arg(QLatin1String(d.serverIndex), QLatin1String(d.table), serverPairsExpression(d, QString()));
}

bool hasRows(Connection &c, const char *table)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(QLatin1String(table)));
    return c.next(q);
}

PGconn *pgHandle(Connection &c)
{
    const QVariant handle = c.database().driver() ? c.database().driver()->handle() : QVariant();
    if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
        return *static_cast<PGconn *const *>(handle.constData());
    return nullptr;
}

// The planner's estimate of the rows a statement returns. Through libpq: Qt's driver
// prepares with PREPARE, which takes no EXPLAIN.
double plannedRows(Connection &c, const QString &sql, const QByteArray &value)
{
    PGconn *pg = pgHandle(c);
    if (!pg)
        throw StoreError(QStringLiteral("数据库驱动没有提供读取所需的接口。"));
    while (PGresult *left = PQgetResult(pg))
        PQclear(left);
    const QByteArray statement = (QStringLiteral("EXPLAIN (FORMAT JSON) ") + sql).toUtf8();
    const char *values[] = {value.constData()};
    PGresult *r = PQexecParams(pg, statement.constData(), 1, nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
    const QByteArray json = ok ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
    const QString message = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
    PQclear(r);
    if (!ok)
        throw StoreError(message);
    return QJsonDocument::fromJson(json).array().at(0).toObject().value(QStringLiteral("Plan")).toObject()
        .value(QStringLiteral("Plan Rows")).toDouble(-1);
}

// True when the pairs are too common for the index to help.
bool tooCommon(Connection &c, const IndexDefinition &d, const std::vector<PairKey> &keys, const QString &asked)
{
    if (!onServer(c)) {
        // Counted in a slice of the rows in the middle of the archive, a tenth of it or
        // 40,000 rows: what a pair is common in there it is common in everywhere, and
        // counting all a common pair's rows would cost what the scan saves.
        QSqlQuery top = c.run(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM %1").arg(QLatin1String(d.table)));
        const qint64 rows = c.next(top) ? top.value(0).toLongLong() : 0;
        const qint64 slice = qMin(rows, qMax<qint64>(kSampledRows, rows / 10));
        const qint64 from = (rows - slice) / 2;
        const qint64 limit = qMax<qint64>(slice == rows ? 1000 : 1, qint64(double(slice) * kCommonShare));
        // Changes the log holds still (a fold-in that could not run) are read along too.
        QSqlQuery pending = c.run(QStringLiteral("SELECT count(*) FROM %1 WHERE added = 1").arg(QLatin1String(d.log)));
        const qint64 logged = c.next(pending) ? pending.value(0).toLongLong() : 0;
        return logged > qMax<qint64>(1000, qint64(double(rows) * kCommonShare))
            || fileCandidates(c, d, asked, from, from + slice, limit) >= limit;
    }
    // The planner's figures from the table's statistics: the rows that hold each pair. The
    // rarest pair bounds what all of them together offer.
    QSqlQuery total = c.run(QStringLiteral("SELECT reltuples FROM pg_class WHERE oid = to_regclass(?)"),
                            {QString::fromLatin1(d.table).toLower()});
    const double rows = c.next(total) ? total.value(0).toDouble() : -1;
    if (rows <= 0)
        return false; // never counted yet: the index is the safe guess
    const double limit = qMax(1000.0, rows * kCommonShare);
    const QString sql = QStringLiteral("SELECT 1 FROM %1 WHERE %2")
                            .arg(QLatin1String(d.table), serverPairsExpression(d, QString()) + QStringLiteral(" @> CAST($1 AS bigint[])"));
    int estimated = 0;
    for (const PairKey key : keys) {
        if (++estimated > kPairsEstimated)
            break;
        const double estimate = plannedRows(c, sql, QByteArray("{") + QByteArray::number(key) + '}');
        if (estimate >= 0 && estimate <= limit)
            return false;
    }
    return true;
}

QString fileQuery(const std::vector<PairKey> &keys)
{
    QStringList terms;
    for (const PairKey k : keys)
        terms << QLatin1Char('"') + QString::fromLatin1(pairWord(k)) + QLatin1Char('"');
    return QStringLiteral("(%1) OR \"%2\"").arg(terms.join(QStringLiteral(" AND ")), QLatin1String(kUncheckedWord));
}

QString serverArray(const std::vector<PairKey> &keys)
{
    QStringList numbers;
    for (const PairKey k : keys)
        numbers << QString::number(k);
    return QLatin1Char('{') + numbers.join(QLatin1Char(',')) + QLatin1Char('}');
}

IndexUse useIndex(Connection &c, IndexedText which, const std::vector<PairKey> &keys, QString &asked)
{
    const SearchIndexState state = searchIndexState(c, which);
    if (state == SearchIndexState::NotBuilt)
        return IndexUse::NotBuilt;
    if (state == SearchIndexState::Unusable)
        return IndexUse::Unusable;
    const IndexDefinition &d = definition(which);
    try {
        if (!onServer(c)) {
            QSqlQuery pending = c.run(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(d.log)));
            if (c.next(pending) && pending.value(0).toLongLong() > kCatchUpAfter)
                catchUpSearchIndex(c, which);
        }
        const QString query = onServer(c) ? serverArray(keys) : fileQuery(keys);
        if (tooCommon(c, d, keys, query))
            return IndexUse::Scanned;
        asked = query;
        return IndexUse::Indexed;
    } catch (const StoreError &) {
        return IndexUse::Unusable;
    }
}

} // namespace

// ---- Schema ----

QString serverPairsExpression(const IndexDefinition &d, const QString &alias)
{
    QStringList columns;
    for (const QString &column : d.columns)
        columns << (alias.isEmpty() ? column : alias + QLatin1Char('.') + column);
    return QStringLiteral("casearchive_search_pairs(%1)").arg(columns.join(QStringLiteral(", ")));
}

const IndexDefinition &definition(IndexedText which)
{
    static const IndexDefinition records{IndexedText::Records, "Detail", "search_words", "search_words_log",
                                         {QStringLiteral("type_Name"), QStringLiteral("\"文件名\""),
                                          QStringLiteral("\"路径名\""), QStringLiteral("\"文件说明\"")},
                                         "idx_detail_pairs"};
    static const IndexDefinition pages{IndexedText::Pages, "page_text", "page_words", "page_words_log",
                                       {QStringLiteral("words")}, "idx_page_text_pairs"};
    return which == IndexedText::Records ? records : pages;
}

// The pairs of a row's texts joined by U+0001, as store/SearchPairs.h computes them: the
// letters A-Z folded by lower() under "C" (and nothing else), each character's code point
// by ascii() in a UTF-8 database. Immutable, so an index may hold it; dear to evaluate, so
// the planner reads it from the index rather than computing it row by row.
QString serverPairsFunction()
{
    return QStringLiteral(
        "CREATE OR REPLACE FUNCTION casearchive_search_pairs(VARIADIC parts text[]) RETURNS bigint[] "
        "LANGUAGE sql IMMUTABLE PARALLEL SAFE COST 10000 AS $$ "
        "SELECT coalesce(array_agg((ascii(x)::bigint << 21) | ascii(y)), '{}') "
        "FROM (SELECT string_to_array(lower(array_to_string(parts, chr(1)) COLLATE \"C\"), NULL) AS s) w, "
        "unnest(w.s[:cardinality(w.s) - 1], w.s[2:]) AS u(x, y) $$");
}

QStringList pageWordsSchema(const Dialect &dialect)
{
    const IndexDefinition &d = definition(IndexedText::Pages);
    if (dialect.backend() == Backend::SQLite)
        return fileSchema(d);
    return {serverPairsFunction(), serverIndexStatement(d)};
}

void addSearchIndex(Connection &c)
{
    const IndexDefinition &records = definition(IndexedText::Records);
    if (onServer(c)) {
        c.run(serverPairsFunction());
        // An archive without records gets its index now; one with records at its build,
        // which takes a while and says how far it is.
        if (!hasRows(c, records.table))
            c.run(serverIndexStatement(records));
    } else {
        for (const QString &s : fileSchema(records))
            c.run(s);
    }
    if (!hasPageTextTable(c))
        return;
    const IndexDefinition &pages = definition(IndexedText::Pages);
    if (!onServer(c)) {
        for (const QString &s : fileSchema(pages))
            c.run(s);
    } else if (!hasRows(c, pages.table)) {
        c.run(serverIndexStatement(pages));
    }
}

QString searchIndexGrant(const QString &quotedRole)
{
    // Every write of a row evaluates the index's function under the writer's login.
    return QStringLiteral("GRANT EXECUTE ON FUNCTION casearchive_search_pairs(text[]) TO %1;").arg(quotedRole);
}

void dropSearchIndex(Connection &c)
{
    if (onServer(c)) {
        QSqlQuery q = c.run(QStringLiteral("SELECT to_regclass('idx_detail_pairs') IS NOT NULL"));
        if (c.next(q) && q.value(0).toBool())
            c.run(QStringLiteral("DROP INDEX idx_detail_pairs"));
        return;
    }
    const IndexDefinition &d = definition(IndexedText::Records);
    // The triggers first: a write to Detail would fail on a log that is gone.
    for (const char *trigger : {"added", "removed", "changed"})
        c.run(QStringLiteral("DROP TRIGGER IF EXISTS %1_%2").arg(QLatin1String(d.words), QLatin1String(trigger)));
    c.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(d.words)));
    c.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(d.log)));
    for (const QString &s : tableNames(c))
        if (s == kStateTable)
            c.run(QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(kStateTable), {QString::fromLatin1(d.words)});
}

// ---- State ----

SearchIndexState searchIndexState(Connection &c, IndexedText which)
{
    const IndexDefinition &d = definition(which);
    try {
        const bool upgraded = readSchemaVersion(c) >= 3;
        if (onServer(c)) {
            // A server in another encoding numbers characters otherwise than the program.
            QSqlQuery q = c.run(QStringLiteral("SELECT current_setting('server_encoding') = 'UTF8' AND coalesce("
                                               "(SELECT indisvalid AND indisready FROM pg_index WHERE indexrelid = to_regclass(?)), false)"),
                                {QString::fromLatin1(d.serverIndex)});
            if (c.next(q) && q.value(0).toBool())
                return SearchIndexState::Ready;
            return upgraded ? SearchIndexState::Unusable : SearchIndexState::NotBuilt;
        }
        bool stated = false;
        for (const QString &t : tableNames(c))
            stated = stated || t == kStateTable;
        if (!stated)
            return upgraded ? SearchIndexState::Unusable : SearchIndexState::NotBuilt;
        QSqlQuery q = c.run(QStringLiteral("SELECT built FROM %1 WHERE name = ?").arg(kStateTable), {QString::fromLatin1(d.words)});
        if (!c.next(q))
            return upgraded ? SearchIndexState::Unusable : SearchIndexState::NotBuilt;
        return q.value(0).toInt() == 1 ? SearchIndexState::Ready : SearchIndexState::NotBuilt;
    } catch (const StoreError &) {
        return SearchIndexState::Unusable;
    }
}

// ---- Searching ----

bool IndexedSearch::fellBack() const
{
    for (IndexUse u : {records, pages})
        if (u == IndexUse::NotBuilt || u == IndexUse::Unusable)
            return true;
    return false;
}

bool IndexedSearch::notBuilt() const
{
    return records != IndexUse::Unusable && pages != IndexUse::Unusable && fellBack();
}

IndexedSearch prepareIndexedSearch(Connection &c, SearchFilter &filter)
{
    IndexedSearch use;
    filter.recordPairs.clear();
    filter.pagePairs.clear();
    const std::vector<PairKey> keys = searchPairs(filter.text);
    if (keys.empty())
        return use;
    if (filter.inName || filter.inPath || filter.inDescription || filter.inType)
        use.records = useIndex(c, IndexedText::Records, keys, filter.recordPairs);
    // A run of three characters and more goes to the photos' words' trigram index.
    if (filter.inPageText && filter.pageTextReadable && trigramQuery(filter.text).isEmpty())
        use.pages = useIndex(c, IndexedText::Pages, keys, filter.pagePairs);
    return use;
}

QString recordCandidates(const Dialect &dialect, const SearchFilter &filter)
{
    const IndexDefinition &d = definition(IndexedText::Records);
    const bool pages = filter.inPageText && filter.pageTextReadable;
    const QString byPages = pages ? QStringLiteral(" UNION ALL SELECT rowid FROM Detail WHERE ")
                                        + pageTextCondition(dialect, filter.text, filter.pagePairs)
                                  : QString();
    if (dialect.backend() == Backend::SQLite)
        return QStringLiteral("rowid IN (SELECT rowid FROM %1 WHERE %1 MATCH ? UNION ALL SELECT record FROM %2 "
                              "WHERE added = 1%3)")
            .arg(QLatin1String(d.words), QLatin1String(d.log), byPages);
    const QString offered = serverPairsExpression(d, QString()) + QStringLiteral(" @> CAST(? AS bigint[])");
    if (!pages)
        return offered;
    return QStringLiteral("rowid IN (SELECT rowid FROM Detail WHERE %1%2)").arg(offered, byPages);
}

QVariantList recordCandidateValues(const Dialect &dialect, const SearchFilter &filter)
{
    QVariantList values{filter.recordPairs};
    if (filter.inPageText && filter.pageTextReadable)
        values += pageTextValues(dialect, filter.text, filter.pagePairs);
    return values;
}

QString pageCandidates(const Dialect &dialect)
{
    const IndexDefinition &d = definition(IndexedText::Pages);
    if (dialect.backend() == Backend::SQLite)
        return QStringLiteral("t.rowid IN (SELECT rowid FROM %1 WHERE %1 MATCH ? UNION ALL SELECT record FROM %2 "
                              "WHERE added = 1)")
            .arg(QLatin1String(d.words), QLatin1String(d.log));
    return serverPairsExpression(d, QStringLiteral("t")) + QStringLiteral(" @> CAST(? AS bigint[])");
}

} // namespace store
