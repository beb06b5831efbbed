#include "store/PageText.h"

#include "store/SearchIndex.h"
#include "store/Statements.h"

#include <QSqlError>

namespace store {

const QString kPagePending = QStringLiteral("pending");
const QString kPageDone = QStringLiteral("done");
const QString kPageFailed = QStringLiteral("failed");

namespace {

QString text(const QSqlQuery &q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}

bool onFile(Connection &c) { return c.backend() == Backend::SQLite; }

// Record numbers compare as everywhere else in the archive: A-Z without regard to case.
QString sameNumber(Connection &c, const QString &left, const QString &right)
{
    return c.dialect().sameText(left, right);
}

const QString kColumns = QStringLiteral("rowid, \"病案号\", \"照片\", state, content_hash, words, reason, engine, "
                                        "languages, done_at");

PageTextRow rowOf(const QSqlQuery &q)
{
    PageTextRow r;
    r.rowId = q.value(0).toLongLong();
    r.number = text(q, 1);
    r.photo = text(q, 2);
    r.state = text(q, 3);
    r.contentHash = text(q, 4);
    r.words = text(q, 5);
    r.reason = text(q, 6);
    r.engine = text(q, 7);
    r.languages = text(q, 8);
    r.when = text(q, 9);
    return r;
}

// The longest run of characters that LIKE without an escape reads as themselves: the
// trigram indexes find rows by it, and the exact pattern is applied to what they find.
QString longestPlainRun(const QString &searchText)
{
    QString best;
    QString run;
    for (const QChar ch : searchText + QLatin1Char('*')) {
        const ushort u = ch.unicode();
        if (u == '*' || u == '?' || u == '%' || u == '_' || u == '\\' || u == '"') {
            if (run.size() > best.size())
                best = run;
            run.clear();
        } else {
            run += ch;
        }
    }
    return best.size() >= 3 ? best : QString();
}

} // namespace

QStringList pageTextSchema(const Dialect &dialect)
{
    if (dialect.backend() == Backend::SQLite)
        return QStringList{
            QStringLiteral("CREATE TABLE IF NOT EXISTS page_text (\"病案号\" TEXT COLLATE NOCASE, \"照片\" TEXT, "
                           "state TEXT NOT NULL, content_hash TEXT, words TEXT, reason TEXT, engine TEXT, "
                           "languages TEXT, done_at TEXT, claim TEXT, claimed_until INTEGER)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_photo ON page_text (\"病案号\" COLLATE NOCASE, \"照片\")"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_state ON page_text (state)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_hash ON page_text (content_hash)"),
            // The trigram index holds the words of every row and follows the table by triggers.
            QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS page_text_index USING fts5(words, content='page_text', "
                           "content_rowid='rowid', tokenize='trigram')"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS page_text_added AFTER INSERT ON page_text BEGIN "
                           "INSERT INTO page_text_index (rowid, words) VALUES (new.rowid, new.words); END"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS page_text_removed AFTER DELETE ON page_text BEGIN "
                           "INSERT INTO page_text_index (page_text_index, rowid, words) "
                           "VALUES ('delete', old.rowid, old.words); END"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS page_text_changed AFTER UPDATE OF words ON page_text BEGIN "
                           "INSERT INTO page_text_index (page_text_index, rowid, words) "
                           "VALUES ('delete', old.rowid, old.words); "
                           "INSERT INTO page_text_index (rowid, words) VALUES (new.rowid, new.words); END"),
        } + pageWordsSchema(dialect); // the pairs, for texts of two characters
    return QStringList{
        QStringLiteral("CREATE TABLE IF NOT EXISTS page_text (\"病案号\" TEXT, \"照片\" TEXT, state TEXT NOT NULL, "
                       "content_hash TEXT, words TEXT, reason TEXT, engine TEXT, languages TEXT, done_at TEXT, "
                       "claim TEXT, claimed_until BIGINT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_photo ON page_text (lower(\"病案号\" COLLATE \"C\"), \"照片\")"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_state ON page_text (state)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_hash ON page_text (content_hash)"),
        // pg_trgm comes with the server and may be added by a database's owner.
        QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_page_text_words ON page_text USING gin (words gin_trgm_ops)"),
    } + pageWordsSchema(dialect);
}

void createPageTextTable(Connection &c)
{
    Transaction t(c);
    for (const QString &s : pageTextSchema(c.dialect()))
        c.run(s);
    t.commit();
}

bool hasPageTextTable(Connection &c)
{
    for (const QString &t : tableNames(c))
        if (t.compare(QLatin1String("page_text"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QStringList pageTextGrants(const QString &quotedRole)
{
    return {
        QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE \"page_text\" TO %1;").arg(quotedRole),
        QStringLiteral("GRANT USAGE ON SEQUENCE \"page_text_rowid_seq\" TO %1;").arg(quotedRole),
    };
}

int queuePage(Connection &c, const QString &number, const QString &photo)
{
    QSqlQuery q = c.runOften(QStringLiteral("INSERT INTO page_text (\"病案号\", \"照片\", state) SELECT ?, ?, ? "
                                       "WHERE NOT EXISTS (SELECT 1 FROM page_text WHERE %1 AND \"照片\" = ?)")
                            .arg(sameNumber(c, QStringLiteral("\"病案号\""), QStringLiteral("?"))),
                        {number, photo, kPagePending, number, photo});
    return q.numRowsAffected();
}

int queueMissingPages(Connection &c)
{
    QSqlQuery q = c.run(
        QStringLiteral("INSERT INTO page_text (\"病案号\", \"照片\", state) "
                       "SELECT p.\"病案号\", p.\"照片\", ? FROM photo p "
                       "WHERE p.\"照片\" IS NOT NULL AND p.\"照片\" <> '' "
                       "AND EXISTS (SELECT 1 FROM Detail d WHERE %1) "
                       "AND NOT EXISTS (SELECT 1 FROM page_text t WHERE %2 AND t.\"照片\" = p.\"照片\") "
                       "ORDER BY p.rowid")
            .arg(sameNumber(c, QStringLiteral("d.\"病案号\""), QStringLiteral("p.\"病案号\"")),
                 sameNumber(c, QStringLiteral("t.\"病案号\""), QStringLiteral("p.\"病案号\""))),
        {kPagePending});
    const int added = q.numRowsAffected();
    // Two photo rows naming the same file twice in one record are one page.
    QSqlQuery twice = c.run(QStringLiteral("DELETE FROM page_text WHERE state = ? AND claim IS NULL AND rowid NOT IN "
                         "(SELECT min(rowid) FROM page_text GROUP BY %1, \"照片\")")
              .arg(onFile(c) ? QStringLiteral("\"病案号\"") : QStringLiteral("lower(\"病案号\" COLLATE \"C\")")),
          {kPagePending});
    return added - twice.numRowsAffected();
}

void requeuePage(Connection &c, qint64 rowId)
{
    c.run(QStringLiteral("UPDATE page_text SET state = ?, claim = NULL, claimed_until = NULL WHERE rowid = ?"),
          {kPagePending, rowId});
}

QVector<PageJob> claimPages(Connection &c, const QString &claim, qint64 now, int leaseSeconds, int count)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid, \"病案号\", \"照片\" FROM page_text WHERE state = ? "
                                       "AND (claimed_until IS NULL OR claimed_until < ?) ORDER BY rowid LIMIT ?"),
                        {kPagePending, now, count});
    QVector<PageJob> jobs;
    while (c.next(q))
        jobs.push_back({q.value(0).toLongLong(), text(q, 1), text(q, 2)});
    for (const PageJob &job : jobs)
        c.run(QStringLiteral("UPDATE page_text SET claim = ?, claimed_until = ? WHERE rowid = ?"),
              {claim, now + leaseSeconds, job.rowId});
    return jobs;
}

QStringList pendingClaims(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT DISTINCT claim FROM page_text WHERE state = ? AND claim IS NOT NULL"),
                        {kPagePending});
    QStringList claims;
    while (c.next(q))
        claims << text(q, 0);
    return claims;
}

int releaseClaim(Connection &c, const QString &claim)
{
    QSqlQuery q = c.run(QStringLiteral("UPDATE page_text SET claim = NULL, claimed_until = NULL WHERE state = ? AND claim = ?"),
                        {kPagePending, claim});
    return q.numRowsAffected();
}

bool finishPage(Connection &c, qint64 rowId, const QString &claim, const PageResult &result)
{
    QSqlQuery q = c.runOften(QStringLiteral("UPDATE page_text SET state = ?, content_hash = ?, words = ?, reason = ?, "
                                       "engine = ?, languages = ?, done_at = ?, claim = NULL, claimed_until = NULL "
                                       "WHERE rowid = ? AND state = ? AND claim = ?"),
                        {result.done ? kPageDone : kPageFailed, result.contentHash,
                         result.done ? QVariant(result.words.isNull() ? QStringLiteral("") : result.words) : QVariant(),
                         result.done ? QVariant() : QVariant(result.reason), result.engine, result.languages,
                         result.when, rowId, kPagePending, claim});
    return q.numRowsAffected() == 1;
}

QString wordsForContent(Connection &c, const QString &contentHash, const QString &engine, const QString &languages)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT words FROM page_text WHERE content_hash = ? AND state = ? "
                                       "AND engine = ? AND languages = ? ORDER BY rowid LIMIT 1"),
                        {contentHash, kPageDone, engine, languages});
    if (!c.next(q))
        return QString();
    const QString words = text(q, 0);
    return words.isNull() ? QStringLiteral("") : words;
}

PageTextRow readPageText(Connection &c, const QString &number, const QString &photo)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM page_text WHERE %2 AND \"照片\" = ? ORDER BY rowid LIMIT 1")
                            .arg(kColumns, sameNumber(c, QStringLiteral("\"病案号\""), QStringLiteral("?"))),
                        {number, photo});
    return c.next(q) ? rowOf(q) : PageTextRow();
}

QVector<PageTextRow> readPageTexts(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM page_text ORDER BY rowid").arg(kColumns));
    QVector<PageTextRow> rows;
    while (c.next(q))
        rows.push_back(rowOf(q));
    return rows;
}

PageCounts countPages(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT state, count(*) FROM page_text GROUP BY state"));
    PageCounts counts;
    while (c.next(q)) {
        const QString state = text(q, 0);
        const qint64 n = q.value(1).toLongLong();
        if (state == kPagePending)
            counts.pending = n;
        else if (state == kPageDone)
            counts.done = n;
        else if (state == kPageFailed)
            counts.failed = n;
    }
    return counts;
}

QString trigramQuery(const QString &searchText) { return longestPlainRun(searchText); }

// Only the words of photos the record still lists count: a photo taken out of a record
// by a modification leaves its row behind, and the row is not the record's any more.
// A row queued again keeps its words until new ones replace them; one that could not be
// read has none.
QString pageTextCondition(const Dialect &dialect, const QString &searchText, const QString &pagePairs)
{
    const bool file = dialect.backend() == Backend::SQLite;
    const QString run = longestPlainRun(searchText);
    QString sql = file ? QStringLiteral("\"病案号\" IN (SELECT t.\"病案号\" ")
                       : QStringLiteral("lower(\"病案号\" COLLATE \"C\") IN (SELECT lower(t.\"病案号\" COLLATE \"C\") ");
    sql += QStringLiteral("FROM page_text t JOIN photo p ON ") + dialect.sameText(QStringLiteral("p.\"病案号\""), QStringLiteral("t.\"病案号\""))
        + QStringLiteral(" AND p.\"照片\" = t.\"照片\" WHERE ");
    if (!run.isEmpty()) {
        // Without an escape the engines find a plain run through their trigram indexes;
        // their case folding is wider than ours, so the exact pattern decides after them.
        sql += file ? QStringLiteral("t.rowid IN (SELECT rowid FROM page_text_index WHERE words LIKE ?) AND ")
                    : QStringLiteral("t.words ILIKE ? AND ");
    } else if (!pagePairs.isEmpty()) {
        sql += pageCandidates(dialect) + QStringLiteral(" AND ");
    }
    sql += dialect.containsText(QStringLiteral("t.words")) + QLatin1Char(')');
    return sql;
}

QVariantList pageTextValues(const Dialect &, const QString &searchText, const QString &pagePairs)
{
    QVariantList values;
    const QString run = longestPlainRun(searchText);
    if (!run.isEmpty())
        values << QString(QLatin1Char('%') + run + QLatin1Char('%'));
    else if (!pagePairs.isEmpty())
        values << pagePairs;
    values << containsPattern(searchText);
    return values;
}

QSet<QString> photosMatching(Connection &c, const QString &number, const SearchFilter &filter)
{
    QSet<QString> photos;
    if (!filter.inPageText || filter.text.isEmpty() || !hasPageTextTable(c))
        return photos;
    QVariantList values{number};
    values << containsPattern(filter.text);
    QSqlQuery q = c.run(QStringLiteral("SELECT \"照片\" FROM page_text WHERE %1 AND %2")
                            .arg(sameNumber(c, QStringLiteral("\"病案号\""), QStringLiteral("?")),
                                 c.dialect().containsText(QStringLiteral("words"))),
                        values);
    while (c.next(q))
        photos.insert(text(q, 0));
    return photos;
}

qint64 countRecordsMatchedByPages(Connection &c, const SearchFilter &filter)
{
    if (!filter.inPageText || !hasPageTextTable(c))
        return 0;
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM Detail WHERE ")
                            + pageTextCondition(c.dialect(), filter.text, filter.pagePairs),
                        pageTextValues(c.dialect(), filter.text, filter.pagePairs));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

} // namespace store
