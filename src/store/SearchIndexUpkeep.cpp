// The search index's upkeep: its build from the rows, the file's log folded in, its size,
// and the check that compares it with the rows. The file's rows are read through SQLite's
// own interface, with their bytes and storage classes as stored: the words taken out of the
// index on a change must be exactly the words once put in.
#include "store/SearchIndex.h"

#include "store/PageText.h"
#include "store/SearchIndexDefinitions.h"
#include "store/SearchPairs.h"
#include "store/Statements.h"
#include "store/TreeRows.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace store {

namespace {

constexpr int kProgressRows = 4096;
// FTS5's pending words held in memory during a build, and its own defaults kept afterwards.
constexpr int kBuildHashBytes = 64 << 20;
constexpr int kKeptHashBytes = 1 << 20;
constexpr int kKeptAutomerge = 4;
constexpr int kServerBatch = 5000; // rows a check reads from a server at a time
constexpr int kProblemsNamed = 5;

bool onServer(const Connection &c) { return c.backend() == Backend::PostgreSQL; }

template <typename Handle>
Handle *handleOf(Connection &c, const char *name1, const char *name2)
{
    const QVariant handle = c.database().driver() ? c.database().driver()->handle() : QVariant();
    if (handle.isValid() && (qstrcmp(handle.typeName(), name1) == 0 || qstrcmp(handle.typeName(), name2) == 0))
        return *static_cast<Handle *const *>(handle.constData());
    throw StoreError(QStringLiteral("数据库驱动没有提供读取所需的接口。"));
}

// One statement through SQLite's interface. A failure inside the index itself (FTS5's
// "corrupt") is the index's, not the file's: the file is not marked damaged for it.
class FileStatement {
public:
    FileStatement(Connection &c, const QString &sql) : m_connection(c), m_db(handleOf<sqlite3>(c, "sqlite3*", "sqlite3 *"))
    {
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_statement, nullptr) != SQLITE_OK)
            fail();
    }
    ~FileStatement() { sqlite3_finalize(m_statement); }
    FileStatement(const FileStatement &) = delete;
    FileStatement &operator=(const FileStatement &) = delete;

    void bind(int at, qint64 value) { sqlite3_bind_int64(m_statement, at, value); }
    void bind(int at, const QByteArray &value)
    {
        sqlite3_bind_text(m_statement, at, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    // Bound where it lies, not copied: `value` must outlive the statement's next run().
    void bindKept(int at, const QByteArray &value)
    {
        sqlite3_bind_text(m_statement, at, value.constData(), int(value.size()), SQLITE_STATIC);
    }
    bool step()
    {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    void run()
    {
        step();
        sqlite3_reset(m_statement);
    }
    sqlite3_stmt *get() const { return m_statement; }

private:
    [[noreturn]] void fail()
    {
        const int code = sqlite3_extended_errcode(m_db);
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        if (code == SQLITE_CORRUPT_VTAB)
            throw StoreError(message);
        m_connection.fail(QSqlError(QString(), message, QSqlError::StatementError, QString::number(code)));
    }
    Connection &m_connection;
    sqlite3 *m_db;
    sqlite3_stmt *m_statement = nullptr;
};

// The words of one row for the file's index: its pairs, once each in order, and the
// word for a value the index cannot read. Columns from `first` on, `count` of them.
QByteArray fileWords(sqlite3_stmt *s, int first, int count)
{
    // Kept from row to row: a build makes a million of them.
    thread_local QString joined;
    thread_local std::vector<PairKey> keys;
    joined.resize(0);
    keys.clear();
    bool any = false;
    bool unchecked = false;
    for (int i = first; i < first + count; ++i) {
        const int type = sqlite3_column_type(s, i);
        if (type == SQLITE_NULL)
            continue;
        if (type != SQLITE_TEXT) {
            unchecked = true;
            continue;
        }
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, i));
        const QByteArrayView bytes(p ? p : "", sqlite3_column_bytes(s, i));
        const qsizetype at = joined.size();
        joined.resize(at + (any ? 1 : 0) + bytes.size());
        char16_t *out = reinterpret_cast<char16_t *>(joined.data()) + at;
        if (any)
            *out++ = u'\x0001';
        const char16_t *end = TreeRows::decodeStrict(bytes, out);
        if (!end) {
            joined.resize(at);
            unchecked = true;
            continue;
        }
        joined.resize(end - reinterpret_cast<const char16_t *>(joined.constData()));
        any = true;
    }
    appendPairs(joined, keys);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    // Nine characters and a space a pair, written in place.
    QByteArray words(qsizetype(keys.size()) * 10, ' ');
    char *at = words.data();
    for (const PairKey k : keys) {
        writePairWord(k, at);
        at += 10;
    }
    if (!words.isEmpty())
        words.chop(1);
    if (unchecked) {
        if (!words.isEmpty())
            words += ' ';
        words += kUncheckedWord;
    }
    return words;
}

QStringList logColumns(const IndexDefinition &d)
{
    QStringList columns;
    for (int i = 0; i < d.columns.size(); ++i)
        columns << QStringLiteral("t%1").arg(i + 1);
    return columns;
}

qint64 countRows(Connection &c, const char *table)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

// Asked first: DROP INDEX IF EXISTS would have the server say it skipped one not there.
void dropServerIndex(Connection &c, const IndexDefinition &d)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {QString::fromLatin1(d.serverIndex)});
    if (c.next(q) && q.value(0).toBool())
        c.run(QStringLiteral("DROP INDEX %1").arg(QLatin1String(d.serverIndex)));
}

} // namespace

// A file's index under way: its rows read in order, their words put in.
struct FileBuild {
    FileBuild(Connection &c, const IndexDefinition &d)
        : definition(d),
          rows(c, QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ? AND rowid <= ? ORDER BY rowid LIMIT ?")
                      .arg(d.columns.join(QStringLiteral(", ")), QLatin1String(d.table))),
          insert(c, QStringLiteral("INSERT INTO %1 (rowid, words) VALUES (?, ?)").arg(QLatin1String(d.words)))
    {
    }
    const IndexDefinition &definition;
    FileStatement rows;
    FileStatement insert;
    SearchIndexProgress progress;
    qint64 last = std::numeric_limits<qint64>::min(); // the identity of the last row put in
};

namespace {

void dropTriggers(Connection &c, const IndexDefinition &d)
{
    for (const char *change : {"added", "removed", "changed"})
        c.run(QStringLiteral("DROP TRIGGER IF EXISTS %1_%2").arg(QLatin1String(d.words), QLatin1String(change)));
}

QString settingStatement(const IndexDefinition &d)
{
    return QStringLiteral("INSERT INTO %1 (%1, rank) VALUES (?, ?)").arg(QLatin1String(d.words));
}

std::unique_ptr<FileBuild> startFile(Connection &c, const IndexDefinition &d)
{
    const QString words = QLatin1String(d.words);
    // Made anew: an index found damaged may not even empty itself.
    c.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(words));
    if (d.which == IndexedText::Pages) {
        for (const QString &s : pageWordsSchema(c.dialect()))
            c.run(s);
    } else {
        addSearchIndex(c);
    }
    c.run(QStringLiteral("DELETE FROM %1").arg(QLatin1String(d.log)));
    // Until the index holds the rows no change of a row is logged for it (the build is in
    // the transaction that holds the write lock): the rows are written the faster
    // meanwhile, and the triggers come back in endFile.
    dropTriggers(c, d);
    // Built in few large pieces and merged once at the end, not merged piece by piece as
    // they come: FTS5 would otherwise write a piece at each megabyte and merge as it goes,
    // which made the build a third slower. The settings the searches' own writes keep are
    // put back (endFile).
    c.run(settingStatement(d), {QStringLiteral("hashsize"), kBuildHashBytes});
    c.run(settingStatement(d), {QStringLiteral("automerge"), 0});
    auto build = std::make_unique<FileBuild>(c, d);
    build->progress = SearchIndexProgress{d.which, 0, countRows(c, d.table)};
    return build;
}

// Through SQLite's own interface only: this part may run on a thread other than the one
// the connection's Qt side belongs to.
bool addFileRows(FileBuild &b, int count, qint64 upTo)
{
    b.rows.bind(1, b.last);
    b.rows.bind(2, upTo);
    b.rows.bind(3, qint64(count));
    int added = 0;
    while (b.rows.step()) {
        const QByteArray rowWords = fileWords(b.rows.get(), 1, int(b.definition.columns.size()));
        b.last = sqlite3_column_int64(b.rows.get(), 0);
        b.insert.bind(1, b.last);
        b.insert.bindKept(2, rowWords);
        b.insert.run();
        ++b.progress.done;
        ++added;
    }
    sqlite3_reset(b.rows.get());
    return added == count;
}

void endFile(Connection &c, const IndexDefinition &d)
{
    const QString words = QLatin1String(d.words);
    if (d.which == IndexedText::Pages) {
        for (const QString &s : pageWordsSchema(c.dialect()))
            c.run(s);
    } else {
        addSearchIndex(c);
    }
    // One segment: the searches read each pair's rows in one piece.
    c.run(QStringLiteral("INSERT INTO %1 (%1) VALUES ('optimize')").arg(words));
    c.run(settingStatement(d), {QStringLiteral("hashsize"), kKeptHashBytes});
    c.run(settingStatement(d), {QStringLiteral("automerge"), kKeptAutomerge});
    c.run(QStringLiteral("UPDATE search_index_state SET built = 1 WHERE name = ?"), {words});
}

// CREATE INDEX runs while a second connection reads how far it is.
void buildServer(Connection &c, const IndexDefinition &d, const SearchIndexProgressHandler &progress)
{
    c.run(serverPairsFunction());
    dropServerIndex(c, d);
    PGconn *pg = handleOf<PGconn>(c, "pg_conn*", "PGconn*");
    while (PGresult *left = PQgetResult(pg))
        PQclear(left);
    const QByteArray sql = QStringLiteral("CREATE INDEX %1 ON %2 USING gin (%3)")
                               .arg(QLatin1String(d.serverIndex), QLatin1String(d.table), serverPairsExpression(d, QString()))
                               .toUtf8();
    if (!PQsendQuery(pg, sql.constData()))
        throw StoreError(QString::fromUtf8(PQerrorMessage(pg)).trimmed());
    std::unique_ptr<Connection> watcher;
    if (progress) {
        try {
            watcher = std::make_unique<Connection>(c.path());
        } catch (const StoreError &) {
            // The build goes on without saying how far it is.
        }
    }
    const int pid = PQbackendPID(pg);
    SearchIndexProgress p{d.which, 0, 0};
    while (PQisBusy(pg)) {
        pollfd f{PQsocket(pg), POLLIN, 0};
        poll(&f, 1, 500);
        if (!PQconsumeInput(pg))
            break;
        if (!watcher)
            continue;
        try {
            QSqlQuery q = watcher->run(QStringLiteral("SELECT blocks_done, blocks_total FROM pg_stat_progress_create_index "
                                                      "WHERE pid = ?"),
                                       {pid});
            if (watcher->next(q) && q.value(1).toLongLong() > 0) {
                p.done = q.value(0).toLongLong();
                p.total = q.value(1).toLongLong();
                progress(p);
            }
        } catch (const StoreError &) {
            watcher.reset();
        }
    }
    PGresult *r = PQgetResult(pg);
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    const QString message = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(pg)).trimmed();
    if (r)
        PQclear(r);
    while (PGresult *left = PQgetResult(pg))
        PQclear(left);
    if (!ok)
        throw StoreError(message);
    // The planner learns how common each pair is, which the search asks it about.
    c.run(QStringLiteral("ANALYZE %1").arg(QLatin1String(d.table)));
    if (progress) {
        p.total = qMax<qint64>(p.total, 1);
        p.done = p.total;
        progress(p);
    }
}

QVector<IndexedText> indexesOf(Connection &c)
{
    QVector<IndexedText> which{IndexedText::Records};
    if (hasPageTextTable(c))
        which << IndexedText::Pages;
    return which;
}

// ---- The check ----

void checkFile(Connection &c, const IndexDefinition &d, SearchIndexCheck &check)
{
    QHash<QByteArray, qint64> expected;
    const auto count = [&expected](const QByteArray &words, qint64 by) {
        for (const QByteArray &w : words.split(' '))
            if (!w.isEmpty())
                expected[w] += by;
    };
    FileStatement rows(c, QStringLiteral("SELECT rowid, %1 FROM %2").arg(d.columns.join(QStringLiteral(", ")), QLatin1String(d.table)));
    while (rows.step()) {
        count(fileWords(rows.get(), 1, int(d.columns.size())), 1);
        ++check.rows;
    }
    // The index has not seen the logged changes yet: it holds what they removed and lacks
    // what they added.
    FileStatement log(c, QStringLiteral("SELECT added, %1 FROM %2 ORDER BY id")
                             .arg(logColumns(d).join(QStringLiteral(", ")), QLatin1String(d.log)));
    while (log.step())
        count(fileWords(log.get(), 1, int(d.columns.size())), sqlite3_column_int(log.get(), 0) ? -1 : 1);
    const QString vocabulary = QStringLiteral("%1_check").arg(QLatin1String(d.words));
    c.run(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS temp.%1 USING fts5vocab(main, %2, 'row')")
              .arg(vocabulary, QLatin1String(d.words)));
    QStringList named;
    try {
        FileStatement held(c, QStringLiteral("SELECT term, doc FROM temp.%1").arg(vocabulary));
        while (held.step()) {
            const QByteArray term(reinterpret_cast<const char *>(sqlite3_column_text(held.get(), 0)),
                                  sqlite3_column_bytes(held.get(), 0));
            const qint64 rows_ = sqlite3_column_int64(held.get(), 1);
            const qint64 want = expected.take(term);
            if (want != rows_) {
                ++check.mismatches;
                if (named.size() < kProblemsNamed)
                    named << QStringLiteral("%1: %2 rows, should be %3").arg(QString::fromLatin1(term)).arg(rows_).arg(want);
            }
        }
    } catch (const StoreError &e) {
        check.problem = e.description();
    }
    c.run(QStringLiteral("DROP TABLE IF EXISTS temp.%1").arg(vocabulary));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.value() == 0)
            continue;
        ++check.mismatches;
        if (named.size() < kProblemsNamed)
            named << QStringLiteral("%1: 0 rows, should be %2").arg(QString::fromLatin1(it.key())).arg(it.value());
    }
    if (check.problem.isEmpty() && check.mismatches > 0)
        check.problem = QStringLiteral("%1 of its words do not fit the rows (%2)")
                            .arg(check.mismatches)
                            .arg(named.join(QStringLiteral("; ")));
}

// The server keeps its index with every write; what can go astray is the function it was
// made with (replaced by hand) or the way this server numbers characters. Each row's pairs
// by the server's function are compared with the program's.
void checkServer(Connection &c, const IndexDefinition &d, SearchIndexCheck &check)
{
    const QString function = serverPairsFunction();
    const QString body = function.mid(function.indexOf(QLatin1String("$$")) + 2).chopped(2);
    QSqlQuery defined = c.run(QStringLiteral("SELECT prosrc FROM pg_proc WHERE oid = to_regprocedure('casearchive_search_pairs(text[])')"));
    if (!c.next(defined) || defined.value(0).toString() != body) {
        check.problem = QStringLiteral("its function casearchive_search_pairs is not the one the index was made with");
        return;
    }
    QStringList named;
    qint64 after = std::numeric_limits<qint64>::min();
    for (;;) {
        QSqlQuery q = c.run(QStringLiteral("SELECT rowid, %1, %2::text FROM %3 WHERE rowid > ? ORDER BY rowid LIMIT %4")
                                .arg(d.columns.join(QStringLiteral(", ")), serverPairsExpression(d, QString()),
                                     QLatin1String(d.table))
                                .arg(kServerBatch),
                            {after});
        int read = 0;
        while (c.next(q)) {
            ++read;
            ++check.rows;
            after = q.value(0).toLongLong();
            QStringList texts;
            for (int i = 0; i < d.columns.size(); ++i)
                texts << (q.isNull(i + 1) ? QString() : q.value(i + 1).toString());
            std::vector<PairKey> mine = pairsOf(texts);
            std::vector<PairKey> theirs;
            const QString array = q.value(int(d.columns.size()) + 1).toString();
            for (const QString &n : array.mid(1, array.size() - 2).split(QLatin1Char(','), Qt::SkipEmptyParts))
                theirs.push_back(n.toULongLong());
            for (std::vector<PairKey> *v : {&mine, &theirs}) {
                std::sort(v->begin(), v->end());
                v->erase(std::unique(v->begin(), v->end()), v->end());
            }
            if (mine != theirs) {
                ++check.mismatches;
                if (named.size() < kProblemsNamed)
                    named << QStringLiteral("row %1").arg(after);
            }
        }
        if (read < kServerBatch)
            break;
    }
    if (check.mismatches > 0)
        check.problem = QStringLiteral("%1 rows get other pairs from the server than the program looks for (%2)")
                            .arg(check.mismatches)
                            .arg(named.join(QStringLiteral(", ")));
}

} // namespace

void suspendSearchIndex(Connection &c)
{
    for (IndexedText which : indexesOf(c)) {
        const IndexDefinition &d = definition(which);
        if (onServer(c)) {
            dropServerIndex(c, d);
        } else if (tableNames(c).contains(QLatin1String(d.log))) {
            c.run(QStringLiteral("UPDATE search_index_state SET built = 0 WHERE name = ?"), {QString::fromLatin1(d.words)});
            c.run(QStringLiteral("DELETE FROM %1").arg(QLatin1String(d.log)));
            // Each row written would ask whether the index is built; the build puts the
            // triggers back.
            dropTriggers(c, d);
        }
    }
}

qint64 fileCandidates(Connection &c, const IndexDefinition &d, const QString &asked, qint64 after, qint64 upTo,
                      qint64 limit)
{
    FileStatement q(c, QStringLiteral("SELECT count(*) FROM (SELECT rowid FROM %1 WHERE %1 MATCH ? "
                                      "AND rowid > ? AND rowid <= ? LIMIT ?)")
                           .arg(QLatin1String(d.words)));
    q.bind(1, asked.toUtf8());
    q.bind(2, after);
    q.bind(3, upTo);
    q.bind(4, limit);
    return q.step() ? sqlite3_column_int64(q.get(), 0) : 0;
}

SearchIndexBuild::SearchIndexBuild(Connection &c, bool again, const SearchIndexProgressHandler &progress)
    : m_connection(c), m_progress(progress)
{
    for (IndexedText which : indexesOf(c))
        if (again || searchIndexState(c, which) != SearchIndexState::Ready)
            m_left << which;
    next();
}

SearchIndexBuild::~SearchIndexBuild() = default;

bool SearchIndexBuild::addRows(int count, qint64 upTo)
{
    if (!m_file)
        return false;
    const qint64 before = m_file->progress.done;
    const bool more = addFileRows(*m_file, count, upTo);
    if (m_progress && m_file->progress.done / kProgressRows != before / kProgressRows)
        m_progress(m_file->progress);
    return more;
}

bool SearchIndexBuild::next()
{
    if (m_file) {
        while (addRows(kProgressRows)) {
        }
        endFile(m_connection, m_file->definition);
        if (m_progress)
            m_progress(m_file->progress);
        m_file.reset();
    }
    while (!m_left.isEmpty()) {
        const IndexDefinition &d = definition(m_left.takeFirst());
        ++m_built;
        if (onServer(m_connection)) {
            buildServer(m_connection, d, m_progress);
            continue;
        }
        m_file = startFile(m_connection, d);
        return true;
    }
    return false;
}

int buildSearchIndex(Connection &c, bool again, const SearchIndexProgressHandler &progress)
{
    SearchIndexBuild build(c, again, progress);
    while (build.next()) {
    }
    return build.built();
}

bool catchUpSearchIndex(Connection &c, IndexedText which)
{
    if (onServer(c))
        return true;
    const IndexDefinition &d = definition(which);
    // A search waits for another program's write a moment only: the log serves it meanwhile.
    sqlite3 *db = handleOf<sqlite3>(c, "sqlite3*", "sqlite3 *");
    QSqlQuery waited = c.run(QStringLiteral("PRAGMA busy_timeout"));
    const int wait = c.next(waited) ? waited.value(0).toInt() : 0;
    waited = QSqlQuery();
    sqlite3_busy_timeout(db, qMin(wait, 250));
    try {
        Transaction t(c);
        if (searchIndexState(c, which) != SearchIndexState::Ready)
            return false;
        const int columns = int(d.columns.size());
        FileStatement log(c, QStringLiteral("SELECT id, record, added, %1 FROM %2 ORDER BY id")
                                 .arg(logColumns(d).join(QStringLiteral(", ")), QLatin1String(d.log)));
        FileStatement add(c, QStringLiteral("INSERT INTO %1 (rowid, words) VALUES (?, ?)").arg(QLatin1String(d.words)));
        FileStatement remove(c, QStringLiteral("INSERT INTO %1 (%1, rowid, words) VALUES ('delete', ?, ?)")
                                    .arg(QLatin1String(d.words)));
        qint64 last = 0;
        while (log.step()) {
            last = sqlite3_column_int64(log.get(), 0);
            FileStatement &into = sqlite3_column_int(log.get(), 2) ? add : remove;
            into.bind(1, sqlite3_column_int64(log.get(), 1));
            into.bind(2, fileWords(log.get(), 3, columns));
            into.run();
        }
        c.run(QStringLiteral("DELETE FROM %1 WHERE id <= ?").arg(QLatin1String(d.log)), {last});
        t.commit();
    } catch (const StoreError &) {
        sqlite3_busy_timeout(db, wait);
        return false;
    }
    sqlite3_busy_timeout(db, wait);
    return true;
}

qint64 searchIndexBytes(Connection &c)
{
    if (onServer(c)) {
        QSqlQuery q = c.run(QStringLiteral("SELECT coalesce(pg_relation_size(to_regclass('idx_detail_pairs')), 0) "
                                           "+ coalesce(pg_relation_size(to_regclass('idx_page_text_pairs')), 0)"));
        return c.next(q) ? q.value(0).toLongLong() : 0;
    }
    QSqlQuery q = c.run(QStringLiteral("SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE name LIKE 'search\\_words%' "
                                       "ESCAPE '\\' OR name LIKE 'page\\_words%' ESCAPE '\\'"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

QVector<SearchIndexCheck> verifySearchIndex(Connection &c)
{
    QVector<SearchIndexCheck> checks;
    for (IndexedText which : indexesOf(c)) {
        SearchIndexCheck check;
        check.which = which;
        check.state = searchIndexState(c, which);
        if (check.state == SearchIndexState::Ready) {
            try {
                if (onServer(c))
                    checkServer(c, definition(which), check);
                else
                    checkFile(c, definition(which), check);
            } catch (const StoreError &e) {
                check.problem = e.description();
            }
        }
        checks << check;
    }
    return checks;
}

} // namespace store
