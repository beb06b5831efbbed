#include "store/HistoryWords.h"

#include <QSqlQuery>

namespace store {

namespace {
// Entries added to the index per step: about a second of work at most. A file's step is
// a write transaction, which other workstations wait for.
constexpr qint64 kFileStep = 50000;
constexpr qint64 kServerStep = 20000;

bool onServer(const Connection &c) { return c.backend() == Backend::PostgreSQL; }

bool fileHasWords(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'history_words_mark'"));
    return c.next(q) && q.value(0).toInt() > 0;
}

qint64 lastIndexed(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT coalesce(max(last_id), 0) FROM history_words_mark"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

qint64 newestEntry(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT coalesce(max(id), 0) FROM History"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

bool catchUpFile(Connection &c)
{
    // Read first: a search that finds the index up to date writes nothing.
    if (fileHasWords(c) && lastIndexed(c) >= newestEntry(c))
        return true;
    for (;;) {
        Transaction t(c);
        // The trail's entries are only ever added, one past the last: an entry above the
        // mark is one the index has not seen. A copy or a restore that replaced the trail
        // replaced this index and its mark with it, or left neither. The index keeps no
        // copy of the words: it only names entries, and an engine's check of the archive
        // does not take the entries it has not reached yet for damage.
        c.run(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS history_words USING fts5(record_number, "
                             "record_name, content='', tokenize='trigram')"));
        c.run(QStringLiteral("CREATE TABLE IF NOT EXISTS history_words_mark (last_id INTEGER)"));
        const qint64 from = lastIndexed(c);
        const qint64 newest = newestEntry(c);
        if (from >= newest) {
            t.commit(); // the index made, empty as the trail
            return true;
        }
        const qint64 to = qMin(newest, from + kFileStep);
        c.run(QStringLiteral("INSERT INTO history_words (rowid, record_number, record_name) "
                             "SELECT id, coalesce(record_number, ''), coalesce(record_name, '') FROM History "
                             "WHERE id > ? AND id <= ? ORDER BY id"),
              {from, to});
        c.run(QStringLiteral("DELETE FROM history_words_mark"));
        c.run(QStringLiteral("INSERT INTO history_words_mark (last_id) VALUES (?)"), {to});
        t.commit();
        if (to >= newest)
            return true;
    }
}

qint64 newestOnServer(Connection &c, const char *table)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM %1").arg(QLatin1String(table)));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

bool catchUpServer(Connection &c)
{
    // Each step is one statement, whole or not at all, and takes no lock that a writer
    // waits for. Writers commit their entries in the order of their numbers (under the
    // archive's write lock), so an entry above the highest one indexed is one not seen
    // yet. Two searches catching up at once skip what the other added; neither stops
    // before the index holds every entry there was when it began.
    const qint64 target = newestOnServer(c, "History");
    const qint64 start = newestOnServer(c, "history_words");
    for (qint64 step = 0;; ++step) {
        if (newestOnServer(c, "history_words") >= target)
            return true;
        if (step > (target - start) / kServerStep + 100)
            return false; // another search ahead of this one all along, or entries missing
        c.run(QStringLiteral("INSERT INTO history_words (rowid, words) SELECT rowid, coalesce(record_number, '') "
                             "|| chr(10) || coalesce(record_name, '') FROM History "
                             "WHERE rowid > (SELECT coalesce(max(rowid), 0) FROM history_words) "
                             "ORDER BY rowid LIMIT %1 ON CONFLICT (rowid) DO NOTHING")
                  .arg(kServerStep));
    }
}

// Every three characters of the run as the file's index holds them, all required, in any
// order and either column: a cheap superset of the entries that hold the run. (Asked for
// as a phrase, the index reads every position of every common trigram first.) The run
// holds no double quote, the only character a quoted term does not take as itself.
QString trigramsOf(const QString &run)
{
    const QList<uint> points = run.toUcs4();
    QStringList terms;
    for (qsizetype i = 0; i + 3 <= points.size(); ++i) {
        const QString term = QLatin1Char('"') + QString::fromUcs4(points.constData() + i, 3) + QLatin1Char('"');
        if (!terms.contains(term))
            terms << term;
    }
    return terms.join(QStringLiteral(" AND "));
}

// The index's rows that may hold the run. A newline never stands in a filter typed into
// one line, so no run spans a server row's number and name.
QString candidates(const Connection &c)
{
    return onServer(c) ? QStringLiteral("SELECT rowid FROM history_words WHERE words ILIKE ?")
                       : QStringLiteral("SELECT rowid FROM history_words WHERE history_words MATCH ?");
}

// A failed statement spoils the whole transaction on a server: each group is tried behind
// a savepoint, which its failure rolls back to. (Outside a transaction there is no
// savepoint to take, and nothing a failure could spoil.)
void tryOnServer(Connection &c, const QStringList &statements)
{
    bool savepoint = true;
    try {
        c.run(QStringLiteral("SAVEPOINT history_words"));
    } catch (const StoreError &) {
        savepoint = false;
    }
    try {
        for (const QString &statement : statements)
            c.run(statement);
        if (savepoint)
            c.run(QStringLiteral("RELEASE SAVEPOINT history_words"));
    } catch (const StoreError &) {
        if (savepoint)
            c.run(QStringLiteral("ROLLBACK TO SAVEPOINT history_words"));
    }
}
} // namespace

QStringList historyWordsServerSchema()
{
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS history_words (rowid BIGINT PRIMARY KEY, words TEXT)"),
        // pg_trgm comes with the server and may be added by a database's owner.
        QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_history_words ON history_words USING gin (words gin_trgm_ops)"),
    };
}

QString historyWordsGrant(const QString &quotedRole)
{
    // The search brings the index up to date under the searching workstation's login.
    return QStringLiteral("GRANT SELECT, INSERT ON TABLE \"history_words\" TO %1;").arg(quotedRole);
}

void addHistoryWordsOnServer(Connection &c)
{
    const QStringList schema = historyWordsServerSchema();
    // Without pg_trgm the table still spares a search reading the whole trail.
    tryOnServer(c, schema.mid(0, 1));
    tryOnServer(c, schema.mid(1));
}

void dropHistoryWords(Connection &c)
{
    c.run(QStringLiteral("DROP TABLE IF EXISTS history_words"));
    if (!onServer(c))
        c.run(QStringLiteral("DROP TABLE IF EXISTS history_words_mark"));
}

bool catchUpHistoryWords(Connection &c)
{
    try {
        return onServer(c) ? catchUpServer(c) : catchUpFile(c);
    } catch (const StoreError &) {
        return false;
    }
}

qint64 countHistoryWordCandidates(Connection &c, const QString &run, qint64 atMost)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM (%1 LIMIT ?) AS offered").arg(candidates(c)),
                        historyWordsValues(c, run) << atMost);
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

QString historyWordsCondition(Connection &c)
{
    // The index folds more letters to one case than the pattern does: the pattern decides
    // after it.
    return (onServer(c) ? QStringLiteral("rowid IN (%1)") : QStringLiteral("id IN (%1)")).arg(candidates(c));
}

QVariantList historyWordsValues(Connection &c, const QString &run)
{
    if (onServer(c))
        return {QString(QLatin1Char('%') + run + QLatin1Char('%'))};
    return {trigramsOf(run)};
}

} // namespace store
