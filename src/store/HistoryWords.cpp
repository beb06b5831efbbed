#include "store/HistoryWords.h"

#include <QSqlQuery>

namespace store {

namespace {
// Entries added to the file's index per transaction: about a second of work at most.
constexpr qint64 kCatchUpStep = 50000;

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

// Every three characters of the run as the index holds them, all required, in any order
// and either column: a cheap superset of the entries that hold the run. (Asked for as a
// phrase, the index reads every position of every common trigram first.) The run holds
// no double quote, the only character a quoted term does not take as itself.
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
} // namespace

QStringList historyWordsServerSchema()
{
    return {
        // pg_trgm comes with the server and may be added by a database's owner.
        QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_history_words ON History USING gin ((%1) gin_trgm_ops)")
            .arg(historyWordsServerExpression()),
    };
}

void addHistoryWordsOnServer(Connection &c)
{
    // A failed statement spoils the whole transaction on a server: it is tried behind a
    // savepoint, which the failure rolls back to. (Outside a transaction there is no
    // savepoint to take, and nothing a failure could spoil.)
    bool savepoint = true;
    try {
        c.run(QStringLiteral("SAVEPOINT history_words"));
    } catch (const StoreError &) {
        savepoint = false;
    }
    try {
        for (const QString &statement : historyWordsServerSchema())
            c.run(statement);
        if (savepoint)
            c.run(QStringLiteral("RELEASE SAVEPOINT history_words"));
    } catch (const StoreError &) {
        if (savepoint)
            c.run(QStringLiteral("ROLLBACK TO SAVEPOINT history_words"));
    }
}

QString historyWordsServerExpression()
{
    // A newline never stands in a filter typed into one line, so no run of the filter's
    // spans the two.
    return QStringLiteral("coalesce(record_number, '') || chr(10) || coalesce(record_name, '')");
}

bool catchUpHistoryWords(Connection &c)
{
    try {
        // Read first: a search that finds the index up to date writes nothing.
        if (fileHasWords(c) && lastIndexed(c) >= newestEntry(c))
            return true;
        for (;;) {
            Transaction t(c);
            // The trail's entries are only ever added, one past the last: an entry above
            // the mark is one the index has not seen. A copy or a restore that replaced
            // the trail replaced this index and its mark with it, or left neither. The
            // index keeps no copy of the words: it only names entries, which the pattern
            // then reads in the trail itself; and an engine's check of the archive does
            // not take the entries it has not reached yet for damage.
            c.run(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS history_words USING fts5(record_number, "
                                 "record_name, content='', tokenize='trigram')"));
            c.run(QStringLiteral("CREATE TABLE IF NOT EXISTS history_words_mark (last_id INTEGER)"));
            const qint64 from = lastIndexed(c);
            const qint64 newest = newestEntry(c);
            if (from >= newest) {
                t.commit(); // the index made, empty as the trail
                return true;
            }
            const qint64 to = qMin(newest, from + kCatchUpStep);
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
    } catch (const StoreError &) {
        return false;
    }
}

qint64 countHistoryWordCandidates(Connection &c, const QString &run, qint64 atMost)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM (SELECT rowid FROM history_words WHERE history_words MATCH ? LIMIT ?)"),
                        {trigramsOf(run), atMost});
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

QString historyWordsFileCondition()
{
    // The tokenizer folds more letters to one case than the pattern does: the pattern
    // decides after it.
    return QStringLiteral("id IN (SELECT rowid FROM history_words WHERE history_words MATCH ?)");
}

QVariantList historyWordsFileValues(const QString &run) { return {trigramsOf(run)}; }

} // namespace store
