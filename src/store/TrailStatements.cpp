#include "store/TrailStatements.h"

#include "store/HistoryWords.h"
#include "store/StatementHelpers.h"

#include <QHash>
#include <QSqlRecord>

namespace store {

namespace {
HistoryRow historyRow(const QSqlQuery &q)
{
    HistoryRow r;
    r.id = q.value(0).toLongLong();
    r.when = text(q, 1);
    r.operatorName = text(q, 2);
    r.workstation = text(q, 3);
    r.kind = text(q, 4);
    r.number = text(q, 5);
    r.rowId = text(q, 6);
    r.subject = text(q, 7);
    r.before = text(q, 8);
    r.after = text(q, 9);
    r.detail = text(q, 10);
    r.recordName = text(q, 11);
    r.hash = text(q, 12);
    return r;
}

// The column a sort or a case-blind comparison reads, as its index is made.
QString sortKey(Connection &c, int column)
{
    const bool s = server(c);
    switch (column) {
    case 1:
        return s ? QStringLiteral("lower(operator_name COLLATE \"C\")") : QStringLiteral("operator_name");
    case 2:
        return s ? QStringLiteral("lower(workstation COLLATE \"C\")") : QStringLiteral("workstation");
    case 3:
        return s ? QStringLiteral("kind COLLATE \"C\"") : QStringLiteral("kind");
    case 4:
        return s ? QStringLiteral("lower(record_number COLLATE \"C\")") : QStringLiteral("record_number");
    default:
        break;
    }
    return s ? QStringLiteral("changed_at COLLATE \"C\"") : QStringLiteral("changed_at");
}

// " WHERE ..." of the whole-trail window's filter, with its values.
QString filterCondition(Connection &c, const HistoryFilter &f, QVariantList &values)
{
    QStringList parts;
    const QString time = sortKey(c, 0);
    if (!f.from.isEmpty()) {
        parts << time + QStringLiteral(" >= ?");
        values << f.from;
    }
    if (!f.to.isEmpty()) {
        parts << time + QStringLiteral(" <= ?");
        values << f.to;
    }
    if (!f.operatorName.isEmpty()) {
        parts << c.dialect().sameText(QStringLiteral("operator_name"));
        values << f.operatorName;
    }
    if (!f.kinds.isEmpty()) {
        QStringList marks;
        for (const QString &k : f.kinds) {
            marks << QStringLiteral("?");
            values << k;
        }
        parts << QStringLiteral("kind IN (%1)").arg(marks.join(QStringLiteral(", ")));
    }
    if (!f.record.isEmpty()) {
        if (!f.wordsRun.isEmpty()) {
            parts << historyWordsCondition(c);
            values << historyWordsValues(c, f.wordsRun);
        }
        parts << QStringLiteral("(%1 OR %2)").arg(c.dialect().containsText(QStringLiteral("record_number")),
                                                 c.dialect().containsText(QStringLiteral("record_name")));
        values << containsPattern(f.record) << containsPattern(f.record);
    }
    return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}
} // namespace

// ---- Schema ----

QStringList trailSchema(const Dialect &dialect)
{
    // The trail's identities are given by the writer (one past the last, under the
    // archive's write lock), so that a gap in them means an entry was taken out.
    if (dialect.backend() == Backend::SQLite)
        return {
            QStringLiteral("CREATE TABLE History (id INTEGER PRIMARY KEY, changed_at TEXT, "
                           "operator_name TEXT COLLATE NOCASE, workstation TEXT COLLATE NOCASE, kind TEXT, "
                           "record_number TEXT COLLATE NOCASE, record_rowid TEXT, subject TEXT, before_state TEXT, "
                           "after_state TEXT, detail TEXT, record_name TEXT, hash TEXT)"),
            // Each filter of the trail window with the newest first, and each sort, reads
            // one of these in order and stops at the page's end.
            QStringLiteral("CREATE INDEX idx_history_time ON History (changed_at)"),
            QStringLiteral("CREATE INDEX idx_history_operator ON History (operator_name, changed_at)"),
            QStringLiteral("CREATE INDEX idx_history_workstation ON History (workstation, changed_at)"),
            QStringLiteral("CREATE INDEX idx_history_kind ON History (kind, changed_at)"),
            QStringLiteral("CREATE INDEX idx_history_number ON History (record_number, changed_at)"),
            // A bin entry's number is never given again, even after the newest was purged:
            // a window still showing the old entry must not restore another record.
            QStringLiteral("CREATE TABLE RecycleBin (id INTEGER PRIMARY KEY AUTOINCREMENT, deleted_at TEXT, "
                           "operator_name TEXT, workstation TEXT, record_rowid TEXT, type_Name TEXT COLLATE NOCASE, "
                           "\"病案号\" TEXT COLLATE NOCASE, \"文件名\" TEXT, \"路径名\" TEXT, \"文件说明\" TEXT, "
                           "photos TEXT)"),
            QStringLiteral("CREATE INDEX idx_bin_time ON RecycleBin (deleted_at)"),
        };
    return {
        QStringLiteral("CREATE TABLE History (changed_at TEXT, operator_name TEXT, workstation TEXT, kind TEXT, "
                       "record_number TEXT, record_rowid TEXT, subject TEXT, before_state TEXT, after_state TEXT, "
                       "detail TEXT, record_name TEXT, hash TEXT, rowid BIGINT PRIMARY KEY)"),
        QStringLiteral("CREATE INDEX idx_history_time ON History ((changed_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE INDEX idx_history_operator ON History (lower(operator_name COLLATE \"C\"), "
                       "(changed_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE INDEX idx_history_workstation ON History (lower(workstation COLLATE \"C\"), "
                       "(changed_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE INDEX idx_history_kind ON History ((kind COLLATE \"C\"), (changed_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE INDEX idx_history_number ON History (lower(record_number COLLATE \"C\"), "
                       "(changed_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE TABLE RecycleBin (deleted_at TEXT, operator_name TEXT, workstation TEXT, "
                       "record_rowid TEXT, type_Name TEXT, \"病案号\" TEXT, \"文件名\" TEXT, \"路径名\" TEXT, "
                       "\"文件说明\" TEXT, photos TEXT, rowid BIGSERIAL PRIMARY KEY)"),
        QStringLiteral("CREATE INDEX idx_bin_time ON RecycleBin ((deleted_at COLLATE \"C\"), rowid)"),
        QStringLiteral("CREATE TABLE ArchiveVersion (version INTEGER)"),
    };
}

QStringList serverTrailChainSchema()
{
    // The hashed content as the chain spells it (trail/History.cpp): the identity, then
    // every field, each as its length in bytes, a colon, its UTF-8 bytes and a newline,
    // then the hash of the entry before.
    QString content = QStringLiteral(
        "pg_catalog.convert_to(pg_catalog.length(NEW.rowid::text) || ':' || NEW.rowid::text || pg_catalog.chr(10), 'UTF8')");
    for (const char *field : {"changed_at", "operator_name", "workstation", "kind", "record_number", "record_rowid",
                              "subject", "before_state", "after_state", "detail"})
        content += QStringLiteral(" || pg_catalog.convert_to(pg_catalog.octet_length(pg_catalog.convert_to("
                                  "coalesce(NEW.%1, ''), 'UTF8'))::text || ':' || coalesce(NEW.%1, '') || "
                                  "pg_catalog.chr(10), 'UTF8')")
                       .arg(QLatin1String(field));
    return {
        // The workstations' login may add entries, and an entry it adds gets its identity
        // (one past the last, under the archive's write lock) and its hash here, whatever the
        // insert said: no workstation can place an entry elsewhere in the chain or vouch
        // for its hash. The tables' owner, copying or restoring a trail, brings both along.
        QStringLiteral("CREATE OR REPLACE FUNCTION casearchive_history_chain() RETURNS trigger LANGUAGE plpgsql AS $chain$\n"
                       "DECLARE last_id bigint; last_hash text;\n"
                       "BEGIN\n"
                       "  IF NEW.rowid IS NOT NULL AND NEW.hash IS NOT NULL AND pg_catalog.pg_has_role(current_user, "
                       "(SELECT c.relowner FROM pg_catalog.pg_class c WHERE c.oid = TG_RELID), 'MEMBER') THEN\n"
                       "    RETURN NEW;\n"
                       "  END IF;\n"
                       "  PERFORM pg_catalog.pg_advisory_xact_lock(20090302);\n"
                       "  EXECUTE pg_catalog.format('SELECT rowid, hash FROM %I.%I ORDER BY rowid DESC LIMIT 1', "
                       "TG_TABLE_SCHEMA, TG_TABLE_NAME) INTO last_id, last_hash;\n"
                       "  NEW.rowid := coalesce(last_id, 0) + 1;\n"
                       "  NEW.hash := pg_catalog.encode(pg_catalog.sha256(%1 || "
                       "pg_catalog.convert_to(coalesce(last_hash, ''), 'UTF8')), 'hex');\n"
                       "  RETURN NEW;\n"
                       "END\n"
                       "$chain$")
            .arg(content),
        QStringLiteral("DO $made$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_trigger "
                       "WHERE tgname = 'casearchive_history_chain' AND tgrelid = 'history'::regclass) THEN "
                       "CREATE TRIGGER casearchive_history_chain BEFORE INSERT ON History FOR EACH ROW "
                       "EXECUTE FUNCTION casearchive_history_chain(); END IF; END $made$"),
    };
}

void addServerTrailChain(Connection &c)
{
    if (!server(c))
        return;
    for (const QString &statement : serverTrailChainSchema())
        c.run(statement);
}

namespace {
// A server's version, once read: it only ever goes up (a server's archive is never
// replaced in place; a restore or a copy goes into an empty database), and every write
// asks for it, two round trips each time otherwise. The file's costs nothing to read and
// may be replaced by a restore while the program runs: it is always read.
QHash<QString, int> &serverVersions()
{
    static QHash<QString, int> versions;
    return versions;
}
} // namespace

int readSchemaVersion(Connection &c)
{
    if (!server(c)) {
        QSqlQuery q = c.run(QStringLiteral("PRAGMA user_version"));
        return c.next(q) ? qMax(1, q.value(0).toInt()) : 1;
    }
    const QString key = c.path().trimmed();
    if (const auto known = serverVersions().constFind(key); known != serverVersions().constEnd())
        return *known;
    QSqlQuery present = c.run(QStringLiteral("SELECT to_regclass('archiveversion') IS NOT NULL"));
    if (!c.next(present) || !present.value(0).toBool())
        return 1;
    QSqlQuery q = c.run(QStringLiteral("SELECT max(version) FROM ArchiveVersion"));
    if (!c.next(q) || q.isNull(0))
        return 1;
    // Should this be an upgrade of this transaction that is then rolled back, the next
    // change finds no trail table and fails: it is never made without its entry.
    const int version = qMax(1, q.value(0).toInt());
    serverVersions().insert(key, version);
    return version;
}

void forgetSchemaVersion(Connection &c) { serverVersions().remove(c.path().trimmed()); }

void writeSchemaVersion(Connection &c, int version)
{
    if (!server(c)) {
        // A pragma takes no bound value; the number is the program's own.
        c.run(QStringLiteral("PRAGMA user_version = %1").arg(version));
        return;
    }
    forgetSchemaVersion(c);
    c.run(QStringLiteral("DELETE FROM ArchiveVersion"));
    c.run(QStringLiteral("INSERT INTO ArchiveVersion (version) VALUES (?)"), {version});
}

QStringList grantTrailToWorkstations(Connection &c)
{
    if (!server(c))
        return {};
    QSqlQuery q = c.run(QStringLiteral("SELECT DISTINCT grantee FROM information_schema.role_table_grants "
                                       "WHERE table_schema = current_schema() AND table_name = 'detail' "
                                       "AND privilege_type = 'INSERT' AND grantee <> current_user ORDER BY grantee"));
    QStringList roles;
    while (c.next(q))
        roles << text(q, 0);
    // The trail's words index is made where the server allows (see HistoryWords.h).
    QSqlQuery words = c.run(QStringLiteral("SELECT to_regclass('history_words') IS NOT NULL"));
    const bool hasHistoryWords = c.next(words) && words.value(0).toBool();
    for (const QString &role : std::as_const(roles))
        for (const QString &grant : serverGrants(QString(), role))
            // The photos' words have a table of their own, made by the ocr command or the
            // printed grants: it may not be there yet.
            if (grant.contains(QLatin1String("page_text")))
                continue;
            else if (grant.contains(QLatin1String("\"history\"")) || grant.contains(QLatin1String("\"recyclebin\""))
                || grant.contains(QLatin1String("\"archiveversion\"")) || grant.contains(QLatin1String("SEQUENCE"))
                || grant.contains(QLatin1String("\"archiveidentity\""))
                || (grant.contains(QLatin1String("\"history_words\"")) && hasHistoryWords))
                c.run(grant);
    return roles;
}

QVector<ArchiveTable> trailTables() { return {ArchiveTable::History, ArchiveTable::RecycleBin}; }

// ---- History ----

std::optional<QPair<qint64, QString>> lastHistoryLink(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid, hash FROM History ORDER BY rowid DESC LIMIT 1"));
    if (!c.next(q))
        return std::nullopt;
    return QPair<qint64, QString>(q.value(0).toLongLong(), text(q, 1));
}

void insertHistoryRow(Connection &c, const HistoryRow &r)
{
    c.run(QStringLiteral("INSERT INTO History (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kHistoryColumns),
          {r.id, r.when, r.operatorName, r.workstation, r.kind, r.number, r.rowId, r.subject, r.before, r.after,
           r.detail, r.recordName, r.hash});
}

void insertHistoryRowChainedByServer(Connection &c, const HistoryRow &r)
{
    // The server's trigger gives the entry its identity and hash. The entry goes with the
    // COMMIT: the write costs no extra round trip for it.
    c.runAtCommit(QByteArrayLiteral("casearchive_history_append"),
                  QStringLiteral("INSERT INTO History (%1) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)")
                      .arg(kHistoryColumns.mid(QStringLiteral("rowid, ").size()).chopped(QStringLiteral(", hash").size()))
                      .toUtf8(),
                  {r.when, r.operatorName, r.workstation, r.kind, r.number, r.rowId, r.subject, r.before, r.after,
                   r.detail, r.recordName});
}

void forEachHistoryRow(Connection &c, const std::function<void(const HistoryRow &)> &visit)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM History ORDER BY rowid").arg(kHistoryColumns));
    while (c.next(q))
        visit(historyRow(q));
}

QVector<HistoryRow> readHistoryRowsOfRecord(Connection &c, const QString &number, qint64 rowId)
{
    // The identity alone could name another record: the file gives a deleted row's
    // identity to the next new one.
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM History WHERE %2 AND (record_rowid = ? OR record_rowid = '') "
                                       "ORDER BY rowid DESC")
                            .arg(kHistoryColumns, c.dialect().sameText(QStringLiteral("record_number"))),
                        {number, QString::number(rowId)});
    QVector<HistoryRow> rows;
    while (c.next(q))
        rows.push_back(historyRow(q));
    return rows;
}

void forEachFilteredHistoryRow(Connection &c, const HistoryFilter &filter, int offset, int limit,
                               const std::function<void(const HistoryRow &)> &visit)
{
    QVariantList values;
    const QString where = filterCondition(c, filter, values);
    const QString direction = filter.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    // Ties by time, then as written: the order the indexes hold.
    QString order = sortKey(c, filter.sortColumn) + direction;
    if (filter.sortColumn != 0)
        order += QStringLiteral(", ") + sortKey(c, 0) + direction;
    QString sql = QStringLiteral("SELECT %1 FROM History%2 ORDER BY %3, rowid%4").arg(kHistoryColumns, where, order, direction);
    if (limit >= 0) {
        sql += QStringLiteral(" LIMIT ? OFFSET ?");
        values << limit << qMax(0, offset);
    }
    QSqlQuery q = c.run(sql, values);
    while (c.next(q))
        visit(historyRow(q));
}

qint64 countFilteredHistoryRows(Connection &c, const HistoryFilter &filter)
{
    QVariantList values;
    const QString where = filterCondition(c, filter, values);
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM History") + where, values);
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

qint64 countHistoryRows(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM History"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}
} // namespace store
