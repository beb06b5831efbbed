// The recycle bin's statements (table RecycleBin) and those of the record rows that a
// move into the bin takes out and a restore puts back: a concern of its own
// (trail/RecycleBin.h), kept apart from the trail's statements, whose columns it borrows
// only for the entry that its move on a server writes in the same statement.
#include "store/TrailStatements.h"

#include "store/StatementHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>

namespace store {

namespace {
const QString kBinColumns = QStringLiteral(
    "rowid, deleted_at, operator_name, workstation, record_rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", "
    "\"文件说明\", photos");

// A bin entry's photos column. Entries written before the bin kept bytes hold the photo
// list alone, as a JSON array of texts. Those written since hold an object: the list (to
// show), then the record row's cells and each photo row's identity and cells, each cell
// as its storage class and its bytes in hexadecimal ("t:e4b880", "b:00ff", "i:3132",
// "r:…", null for no value), so that nothing in them depends on their being valid text.
// The server's move writes the same form (serverBinContent()).
const QString kListKey = QStringLiteral("photos");
const QString kRecordKey = QStringLiteral("record");
const QString kPhotoRowsKey = QStringLiteral("photoRows");

QJsonValue cellJson(const StoredCell &cell)
{
    static const char kinds[] = {'n', 'i', 'r', 't', 'b'}; // StoredCell::Kind's order
    if (cell.kind == StoredCell::Null)
        return QJsonValue(QJsonValue::Null);
    return QString::fromLatin1(QByteArray(1, kinds[cell.kind]) + ':' + cell.bytes.toHex());
}

std::optional<StoredCell> cellFromJson(const QJsonValue &v)
{
    if (v.isNull())
        return StoredCell();
    const QString s = v.toString();
    if (s.size() < 2 || s.at(1) != QLatin1Char(':') || (s.size() - 2) % 2 != 0)
        return std::nullopt;
    StoredCell cell;
    switch (s.at(0).unicode()) {
    case 'i':
        cell.kind = StoredCell::Integer;
        break;
    case 'r':
        cell.kind = StoredCell::Real;
        break;
    case 't':
        cell.kind = StoredCell::Text;
        break;
    case 'b':
        cell.kind = StoredCell::Blob;
        break;
    default:
        return std::nullopt;
    }
    const QByteArray hex = s.mid(2).toLatin1();
    for (const char ch : hex)
        if (!isxdigit(uchar(ch)))
            return std::nullopt;
    cell.bytes = QByteArray::fromHex(hex);
    return cell;
}

// One row: its identity (a decimal text) and its cells, as a JSON array.
QJsonArray rowJson(const StoredRow &row)
{
    QJsonArray a{QString::number(row.rowId)};
    for (const StoredCell &cell : row.cells)
        a << cellJson(cell);
    return a;
}

std::optional<StoredRow> rowFromJson(const QJsonValue &v, int cells)
{
    const QJsonArray a = v.toArray();
    if (a.size() != cells + 1)
        return std::nullopt;
    StoredRow row;
    bool ok = false;
    row.rowId = a.at(0).toString().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    for (int i = 1; i <= cells; ++i) {
        const std::optional<StoredCell> cell = cellFromJson(a.at(i));
        if (!cell)
            return std::nullopt;
        row.cells << *cell;
    }
    return row;
}

QStringList textList(const QJsonArray &a)
{
    QStringList list;
    for (const QJsonValue &p : a)
        list << (p.isNull() ? QString() : p.toString());
    return list;
}

QString binContent(const QStringList &photos, const StoredRow &record, const QVector<StoredRow> &photoRows)
{
    QJsonArray rows;
    for (const StoredRow &r : photoRows)
        rows << rowJson(r);
    const QJsonObject o{{kListKey, QJsonArray::fromStringList(photos)}, {kRecordKey, rowJson(record)}, {kPhotoRowsKey, rows}};
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// Reads the photos column into the entry; a text neither form reads holds no photos and
// no cells (the entry is then restored as the earlier form was).
void readBinContent(const QString &json, BinRow &r)
{
    const QJsonDocument d = QJsonDocument::fromJson(json.toUtf8());
    if (!d.isObject()) {
        r.photos = textList(d.array());
        return;
    }
    const QJsonObject o = d.object();
    r.photos = textList(o.value(kListKey).toArray());
    const std::optional<StoredRow> record = rowFromJson(o.value(kRecordKey), 5);
    if (!record)
        return;
    BinCells cells{*record, {}};
    for (const QJsonValue &v : o.value(kPhotoRowsKey).toArray()) {
        const std::optional<StoredRow> photo = rowFromJson(v, 2);
        if (!photo)
            return;
        cells.photoRows << *photo;
    }
    r.cells = std::move(cells);
}

BinRow binRow(const QSqlQuery &q)
{
    BinRow r;
    r.id = q.value(0).toLongLong();
    r.when = text(q, 1);
    r.operatorName = text(q, 2);
    r.workstation = text(q, 3);
    r.rowId = text(q, 4).toLongLong();
    r.record = {r.rowId, text(q, 5), text(q, 6), text(q, 7), text(q, 8), text(q, 9)};
    readBinContent(text(q, 10), r);
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

bool photoRowExists(Connection &c, qint64 rowId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM photo WHERE rowid = ?"), {rowId});
    return c.next(q);
}

bool binTypeExists(Connection &c, qint64 binId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM Catalog WHERE %1 LIMIT 1")
                            .arg(c.dialect().sameText(QStringLiteral("Name"),
                                                      QStringLiteral("(SELECT type_Name FROM RecycleBin WHERE rowid = ?)"))),
                        {binId});
    return c.next(q);
}

int countRecordsWithBinNumber(Connection &c, qint64 binId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM Detail WHERE %1")
                            .arg(c.dialect().sameText(QStringLiteral("\"病案号\""),
                                                      QStringLiteral("(SELECT b.\"病案号\" FROM RecycleBin AS b WHERE b.rowid = ?)"))),
                        {binId});
    return c.next(q) ? q.value(0).toInt() : 0;
}

void insertTypeFromBin(Connection &c, qint64 binId)
{
    c.run(QStringLiteral("INSERT INTO Catalog (Name) SELECT type_Name FROM RecycleBin WHERE rowid = ?"), {binId});
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

// A cell of a server's row as the bin keeps it (binContent()): the server's text is UTF-8.
QString serverCell(const QString &column)
{
    return QStringLiteral("'t:' || encode(convert_to(%1, 'UTF8'), 'hex')").arg(column);
}

// The bin entry's photos column, written on the server from the row that goes (`gone`),
// its number's photo list (`listed`) and the photo rows that go with it (`unkept`).
QString serverBinContent()
{
    QStringList record{QStringLiteral("gone.rowid::text")};
    for (const char *column : {"type_Name", "\"病案号\"", "\"文件名\"", "\"路径名\"", "\"文件说明\""})
        record << serverCell(QStringLiteral("gone.") + QString::fromUtf8(column));
    return QStringLiteral("json_build_object('%1', listed.photos, '%2', json_build_array(%3), '%4', "
                          "(SELECT coalesce(json_agg(json_build_array(unkept.rowid::text, %5, %6) ORDER BY unkept.rowid), "
                          "'[]'::json) FROM unkept))::text")
        .arg(kListKey, kRecordKey, record.join(QStringLiteral(", ")), kPhotoRowsKey,
             serverCell(QStringLiteral("unkept.\"病案号\"")), serverCell(QStringLiteral("unkept.\"照片\"")));
}

// The parts of a move into the bin on a server that one statement does: `gone` is the
// row, `listed` its number's photo list, `unkept` the photo rows no other row keeps (they
// leave with it), `binned` the bin entry. They all see the archive as it was before the
// statement: the photos read are the row's, and another row keeping the number is one
// other than the row going. Takes the row's identity, then the bin entry's time, operator
// and workstation.
QString serverBinMoveParts()
{
    return QStringLiteral(
               "WITH gone AS (DELETE FROM Detail WHERE rowid = ? RETURNING %1), "
               "listed AS (SELECT gone.rowid, (SELECT coalesce(json_agg(photo.\"照片\" ORDER BY photo.rowid), '[]'::json) "
               "FROM photo WHERE lower(photo.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\")) AS photos FROM gone), "
               "unkept AS (DELETE FROM photo USING gone "
               "WHERE lower(photo.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\") "
               "AND NOT EXISTS (SELECT 1 FROM Detail AS kept WHERE kept.rowid <> gone.rowid "
               "AND lower(kept.\"病案号\" COLLATE \"C\") = lower(gone.\"病案号\" COLLATE \"C\")) "
               "RETURNING photo.rowid, photo.\"病案号\", photo.\"照片\"), "
               "binned AS (INSERT INTO RecycleBin (%2) SELECT ?::text, ?::text, ?::text, gone.rowid::text, gone.type_Name, "
               "gone.\"病案号\", gone.\"文件名\", gone.\"路径名\", gone.\"文件说明\", %3 "
               "FROM gone JOIN listed ON listed.rowid = gone.rowid RETURNING rowid)")
        .arg(kRecordColumns, kBinWrittenColumns, serverBinContent());
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
    const std::optional<StoredRow> cells = storedRecordRow(c, rowId);
    if (!record || !cells)
        return std::nullopt;
    // The bin keeps the cells as they are stored, whatever their bytes, and the photo rows
    // that leave with the record: exactly these come back with it.
    const QString content = binContent(record->photos, *cells, storedPhotoRowsLeavingWith(c, rowId));
    QSqlQuery q = c.run(QStringLiteral("INSERT INTO RecycleBin (%1) SELECT ?, ?, ?, ?, type_Name, \"病案号\", "
                                       "\"文件名\", \"路径名\", \"文件说明\", ? FROM Detail WHERE rowid = ? RETURNING rowid")
                            .arg(kBinWrittenColumns),
                        {when, operatorName, workstation, QString::number(rowId), content, rowId});
    if (!c.next(q))
        return std::nullopt;
    const qint64 binId = q.value(0).toLongLong();
    q = QSqlQuery();
    deletePhotoRowsLeavingWith(c, rowId);
    c.run(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId});
    return RecordMovedToBin{binId, std::move(*record)};
}

std::optional<qint64> moveRecordRowToBinWithEntryOnServer(Connection &c, qint64 rowId, const BinMoveEntry &entry)
{
    // The entry's parts see the archive as it was before the statement too; the server's
    // trigger gives the entry its identity and hash.
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
            "written AS (INSERT INTO History (%1) SELECT e.changed_at, e.operator_name, e.workstation, e.kind, "
            "e.record_number, e.record_rowid, e.subject, e.before_state, e.after_state, e.detail, e.record_name "
            "FROM e RETURNING rowid) "
            "SELECT binned.rowid FROM binned, written")
                  .arg(kHistoryColumns.mid(QStringLiteral("rowid, ").size()).chopped(QStringLiteral(", hash").size())),
        {rowId, entry.when, entry.operatorName, entry.workstation, entry.when, entry.operatorName, entry.workstation,
         entry.kind, entry.detailTemplate, QStringLiteral("%1")});
    if (!c.next(q))
        return std::nullopt;
    return q.value(0).toLongLong();
}

} // namespace store
