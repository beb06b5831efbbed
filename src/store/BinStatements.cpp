// The recycle bin's statements (table RecycleBin) and those of the record rows that a
// move into the bin takes out and a restore puts back: a concern of its own
// (trail/RecycleBin.h), kept apart from the trail's statements, whose columns it borrows
// only for the entry that its move on a server writes in the same statement.
#include "store/TrailStatements.h"

#include "store/StatementHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace store {

namespace {
const QString kBinColumns = QStringLiteral(
    "rowid, deleted_at, operator_name, workstation, record_rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", "
    "\"文件说明\", photos");

BinRow binRow(const QSqlQuery &q)
{
    BinRow r;
    r.id = q.value(0).toLongLong();
    r.when = text(q, 1);
    r.operatorName = text(q, 2);
    r.workstation = text(q, 3);
    r.rowId = text(q, 4).toLongLong();
    r.record = {r.rowId, text(q, 5), text(q, 6), text(q, 7), text(q, 8), text(q, 9)};
    r.photos = text(q, 10);
    return r;
}
} // namespace

// ---- Recycle bin ----

QVector<BinRow> readBinRows(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM RecycleBin ORDER BY deleted_at DESC, rowid DESC").arg(kBinColumns));
    QVector<BinRow> rows;
    while (c.next(q))
        rows.push_back(binRow(q));
    return rows;
}

std::optional<BinRow> readBinRow(Connection &c, qint64 binId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT %1 FROM RecycleBin WHERE rowid = ?").arg(kBinColumns), {binId});
    if (!c.next(q))
        return std::nullopt;
    return binRow(q);
}

int deleteBinRow(Connection &c, qint64 binId)
{
    return c.run(QStringLiteral("DELETE FROM RecycleBin WHERE rowid = ?"), {binId}).numRowsAffected();
}

qint64 countBinRows(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM RecycleBin"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

qint64 countBinRowsBefore(Connection &c, const QString &when)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM RecycleBin WHERE deleted_at < ?"), {when});
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

qint64 insertRecordFromBin(Connection &c, qint64 binId, std::optional<qint64> rowId, const std::optional<QString> &number)
{
    QVariantList values;
    QString columns = QStringLiteral("type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\"");
    QString cells = QStringLiteral("type_Name, %1, \"文件名\", \"路径名\", \"文件说明\"")
                        .arg(number ? QStringLiteral("?") : QStringLiteral("\"病案号\""));
    if (rowId) {
        columns = QStringLiteral("rowid, ") + columns;
        cells = QStringLiteral("?, ") + cells;
        values << *rowId;
    }
    if (number)
        values << *number;
    values << binId;
    QSqlQuery q = c.run(QStringLiteral("INSERT INTO Detail (%1) SELECT %2 FROM RecycleBin WHERE rowid = ? RETURNING rowid")
                            .arg(columns, cells),
                        values);
    if (!c.next(q))
        throw StoreError(QStringLiteral("无法恢复病案：回收站中已没有这一项。"));
    return q.value(0).toLongLong();
}

bool recordRowExists(Connection &c, qint64 rowId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM Detail WHERE rowid = ?"), {rowId});
    return c.next(q);
}

int deletePhotoRowsUnlessKept(Connection &c, const QString &number)
{
    return c.runOften(QStringLiteral("DELETE FROM photo WHERE %1 AND NOT EXISTS (SELECT 1 FROM Detail WHERE %2)")
                     .arg(c.dialect().sameText(QStringLiteral("\"病案号\"")),
                          c.dialect().sameText(QStringLiteral("Detail.\"病案号\""))),
                 {number, number})
        .numRowsAffected();
}

int countPhotosWithNumber(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM photo WHERE ") + c.dialect().sameText(QStringLiteral("\"病案号\"")),
                        {number});
    return c.next(q) ? q.value(0).toInt() : 0;
}

QVector<qint64> recordRowIdsOfType(Connection &c, const QString &typeName)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid FROM Detail WHERE %1 ORDER BY rowid")
                            .arg(c.dialect().sameText(QStringLiteral("type_Name"))),
                        {typeName});
    QVector<qint64> ids;
    while (c.next(q))
        ids << q.value(0).toLongLong();
    return ids;
}

std::optional<RecordRow> readRecordRow(Connection &c, qint64 rowId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\" "
                                       "FROM Detail WHERE rowid = ?"),
                        {rowId});
    if (!c.next(q))
        return std::nullopt;
    return RecordRow{q.value(0).toLongLong(), text(q, 1), text(q, 2), text(q, 3), text(q, 4), text(q, 5)};
}

namespace {
// A record's columns as a server statement returns them, then its photo list as a JSON array.
const QString kRecordColumns = QStringLiteral("rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\"");
// The photo list of a number as a JSON text (an empty list when it has none), on a server.
QString serverPhotoList(const QString &numberColumn)
{
    return QStringLiteral("(SELECT coalesce(json_agg(photo.\"照片\" ORDER BY photo.rowid), '[]'::json)::text FROM photo "
                          "WHERE lower(photo.\"病案号\" COLLATE \"C\") = lower(%1 COLLATE \"C\"))")
        .arg(numberColumn);
}

RecordWithPhotos recordWithPhotos(const QSqlQuery &q, int first)
{
    RecordWithPhotos r{{q.value(first).toLongLong(), text(q, first + 1), text(q, first + 2), text(q, first + 3),
                        text(q, first + 4), text(q, first + 5)},
                       {}};
    for (const QJsonValue &p : QJsonDocument::fromJson(text(q, first + 6).toUtf8()).array())
        r.photos << (p.isNull() ? QString() : p.toString());
    return r;
}

QString photoListJson(const QStringList &photos)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(photos)).toJson(QJsonDocument::Compact));
}
} // namespace

std::optional<RecordWithPhotos> readRecordWithPhotos(Connection &c, qint64 rowId)
{
    if (!server(c)) {
        std::optional<RecordRow> row = readRecordRow(c, rowId);
        if (!row)
            return std::nullopt;
        const QString number = row->number;
        return RecordWithPhotos{std::move(*row), readPhotos(c, number)};
    }
    // The photo list comes along: one round trip instead of two.
    QSqlQuery q = c.runOften(QStringLiteral("SELECT %1, %2 FROM Detail WHERE rowid = ?")
                                 .arg(kRecordColumns, serverPhotoList(QStringLiteral("Detail.\"病案号\""))),
                             {rowId});
    if (!c.next(q))
        return std::nullopt;
    return recordWithPhotos(q, 0);
}

std::optional<RecordWithPhotos> takeRecordRow(Connection &c, qint64 rowId)
{
    if (!server(c)) {
        std::optional<RecordWithPhotos> record = readRecordWithPhotos(c, rowId);
        if (record)
            c.run(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId});
        return record;
    }
    // Every part of one statement sees the archive as it was before it: the photo list is
    // the one the row had.
    QSqlQuery q = c.runOften(QStringLiteral("WITH gone AS (DELETE FROM Detail WHERE rowid = ? RETURNING %1) "
                                            "SELECT %1, %2 FROM gone")
                                 .arg(kRecordColumns, serverPhotoList(QStringLiteral("gone.\"病案号\""))),
                             {rowId});
    if (!c.next(q))
        return std::nullopt;
    return recordWithPhotos(q, 0);
}

namespace {
// What a move into the bin writes: every column but the entry's identity.
const QString kBinWrittenColumns = kBinColumns.mid(QStringLiteral("rowid, ").size());

// The parts of a move into the bin on a server that one statement does: `gone` is the
// row, `listed` its number's photo list, `binned` the bin entry, `unkept` the photo rows
// no other row keeps. They all see the archive as it was before the statement: the
// photos read are the row's, and another row keeping the number is one other than the
// row going. Takes the row's identity, then the bin entry's time, operator and workstation.
QString serverBinMoveParts()
{
    return QStringLiteral(
               "WITH gone AS (DELETE FROM Detail WHERE rowid = ? RETURNING %1), "
               "listed AS (SELECT gone.rowid, (SELECT coalesce(json_agg(photo.\"照片\" ORDER BY photo.rowid), '[]'::json) "
               "FROM photo WHERE lower(photo.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\")) AS photos FROM gone), "
               "binned AS (INSERT INTO RecycleBin (%2) SELECT ?::text, ?::text, ?::text, gone.rowid::text, gone.type_Name, "
               "gone.\"病案号\", gone.\"文件名\", gone.\"路径名\", gone.\"文件说明\", listed.photos::text "
               "FROM gone JOIN listed ON listed.rowid = gone.rowid RETURNING rowid), "
               "unkept AS (DELETE FROM photo USING gone "
               "WHERE lower(photo.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\") "
               "AND NOT EXISTS (SELECT 1 FROM Detail AS kept WHERE kept.rowid <> gone.rowid "
               "AND lower(kept.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\")))")
        .arg(kRecordColumns, kBinWrittenColumns);
}
} // namespace

std::optional<RecordMovedToBin> moveRecordRowToBin(Connection &c, qint64 rowId, const QString &when,
                                                   const QString &operatorName, const QString &workstation)
{
    if (server(c)) {
        QSqlQuery q = c.runOften(serverBinMoveParts()
                                     + QStringLiteral(" SELECT binned.rowid, gone.rowid, gone.type_Name, gone.\"病案号\", "
                                                      "gone.\"文件名\", gone.\"路径名\", gone.\"文件说明\", listed.photos "
                                                      "FROM gone JOIN listed ON listed.rowid = gone.rowid CROSS JOIN binned"),
                                 {rowId, when, operatorName, workstation});
        if (!c.next(q))
            return std::nullopt;
        return RecordMovedToBin{q.value(0).toLongLong(), recordWithPhotos(q, 1)};
    }
    std::optional<RecordWithPhotos> record = readRecordWithPhotos(c, rowId);
    if (!record)
        return std::nullopt;
    // The cells go over as they are stored, whatever their bytes.
    QSqlQuery q = c.run(QStringLiteral("INSERT INTO RecycleBin (%1) SELECT ?, ?, ?, ?, type_Name, \"病案号\", "
                                       "\"文件名\", \"路径名\", \"文件说明\", ? FROM Detail WHERE rowid = ? RETURNING rowid")
                            .arg(kBinWrittenColumns),
                        {when, operatorName, workstation, QString::number(rowId), photoListJson(record->photos), rowId});
    if (!c.next(q))
        return std::nullopt;
    const qint64 binId = q.value(0).toLongLong();
    q = QSqlQuery();
    c.run(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId});
    deletePhotoRowsUnlessKept(c, record->row.number);
    return RecordMovedToBin{binId, std::move(*record)};
}

std::optional<qint64> moveRecordRowToBinWithEntryOnServer(Connection &c, qint64 rowId, const BinMoveEntry &entry)
{
    // The entry's hashed content, spelled as the chain spells it: each field's length in
    // bytes, a colon, the field and a newline, then the last entry's hash.
    QStringList hashed{QStringLiteral("n.id::text")};
    for (const char *field : {"e.changed_at", "e.operator_name", "e.workstation", "e.kind", "e.record_number",
                              "e.record_rowid", "e.subject", "e.before_state", "e.after_state", "e.detail"})
        hashed << QString::fromLatin1(field);
    QString content;
    for (const QString &field : std::as_const(hashed))
        content += QStringLiteral("octet_length(%1) || ':' || %1 || chr(10) || ").arg(field);
    // The entry's parts see the archive as it was before the statement too: the last entry
    // is the one before this.
    QSqlQuery q = c.runOften(
        serverBinMoveParts()
            + QStringLiteral(
            ", "
            "e AS (SELECT ?::text AS changed_at, ?::text AS operator_name, ?::text AS workstation, ?::text AS kind, "
            "coalesce(gone.\"病案号\", '') AS record_number, gone.rowid::text AS record_rowid, ''::text AS subject, "
            "json_build_object('rowId', gone.rowid::text, 'type_Name', gone.type_Name, '病案号', gone.\"病案号\", "
            "'文件名', gone.\"文件名\", '路径名', gone.\"路径名\", '文件说明', gone.\"文件说明\", '照片', listed.photos)::text "
            "AS before_state, ''::text AS after_state, replace(?::text, ?::text, binned.rowid::text) AS detail, "
            "coalesce(gone.\"文件名\", '') AS record_name FROM gone JOIN listed ON listed.rowid = gone.rowid CROSS JOIN binned), "
            "n AS (SELECT coalesce(last.rowid, 0) + 1 AS id, coalesce(last.hash, '') AS previous FROM (SELECT 1) AS one "
            "LEFT JOIN (SELECT rowid, hash FROM History ORDER BY rowid DESC LIMIT 1) AS last ON true), "
            "written AS (INSERT INTO History (%3) SELECT n.id, e.changed_at, e.operator_name, e.workstation, e.kind, "
            "e.record_number, e.record_rowid, e.subject, e.before_state, e.after_state, e.detail, e.record_name, "
            "encode(sha256(convert_to(%4n.previous, 'UTF8')), 'hex') FROM e CROSS JOIN n RETURNING rowid) "
            "SELECT binned.rowid FROM binned, written")
                  .arg(kHistoryColumns, content),
        {rowId, entry.when, entry.operatorName, entry.workstation, entry.when, entry.operatorName, entry.workstation,
         entry.kind, entry.detailTemplate, QStringLiteral("%1")});
    if (!c.next(q))
        return std::nullopt;
    return q.value(0).toLongLong();
}

} // namespace store
