#include "trail/RecycleBin.h"

#include "store/TrailStatements.h"

#include <QStringDecoder>

namespace store {

namespace {

BinEntry entryOf(const BinRow &r)
{
    BinEntry e;
    e.id = r.id;
    e.deletedAt = QDateTime::fromString(r.when, Qt::ISODateWithMs).toUTC();
    e.operatorName = r.operatorName;
    e.workstation = r.workstation;
    e.record.row = r.record;
    e.record.photos = r.photos;
    return e;
}

QString storedTime(const QDateTime &t) { return t.toUTC().toString(Qt::ISODateWithMs); }

// A number that no record and no photo row uses, made as the entry window makes one: from
// the clock, a second later while it is taken.
QString freeNumber(Connection &c)
{
    QDateTime when = historyNow().toLocalTime();
    for (int i = 0; i < 100000; ++i, when = when.addSecs(1)) {
        const QString number = when.toString(QStringLiteral("yyMMddHHmmss"));
        if (countRecordsWithNumber(c, number) == 0 && countPhotosWithNumber(c, number) == 0)
            return number;
    }
    throw StoreError(QStringLiteral("找不到可用的新病案号，没有恢复。"));
}

// True when a server's text column holds the cell as it is: valid UTF-8 without NUL, or
// no value.
bool serverHolds(const StoredCell &cell)
{
    if (cell.kind == StoredCell::Null)
        return true;
    if (cell.kind != StoredCell::Text || cell.bytes.contains('\0'))
        return false;
    QStringDecoder strict(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = strict.decode(cell.bytes); // decoded only when taken as a text
    Q_UNUSED(decoded);
    return !strict.hasError();
}

// Puts the record row and the photo rows that left with it back as they were stored: each
// under its own identity where that is free (the photos all or none, so that they keep
// their order), the number's cell replaced when the record comes back under another.
qint64 putBackCells(Connection &c, const BinEntry &entry, BinCells cells, bool ownRowId, const std::optional<QString> &number)
{
    if (c.backend() == Backend::PostgreSQL) {
        // An entry copied from a file may hold what a server's column cannot: refused, never altered.
        bool holds = true;
        for (const StoredRow &row : QVector<StoredRow>{cells.record} + cells.photoRows)
            for (const StoredCell &cell : row.cells)
                holds = holds && serverHolds(cell);
        if (!holds)
            throw StoreError(QStringLiteral("回收站中的病案 %1（%2）有服务器上的档案不能原样保存的内容（不是文本的值，或无效的字符），"
                                            "没有恢复。")
                                 .arg(entry.record.row.number, entry.record.row.name));
    }
    const StoredCell newNumber{StoredCell::Text, number.value_or(QString()).toUtf8()};
    if (number)
        cells.record.cells[1] = newNumber;
    const qint64 rowId = insertStoredRow(c, ArchiveTable::Detail, cells.record, ownRowId);
    bool ownPhotoIds = true;
    for (const StoredRow &photo : std::as_const(cells.photoRows))
        ownPhotoIds = ownPhotoIds && photo.rowId > 0 && !photoRowExists(c, photo.rowId);
    for (StoredRow &photo : cells.photoRows) {
        if (number)
            photo.cells[0] = newNumber;
        insertStoredRow(c, ArchiveTable::Photo, photo, ownPhotoIds);
    }
    return rowId;
}

} // namespace

bool moveRecordToBin(Connection &c, const Actor &actor, qint64 rowId)
{
    requireCurrentSchema(c);
    // Photos are kept by number: another row with the number keeps them; the bin entry
    // has its own list for a restore either way.
    const QString detail = QStringLiteral("放入回收站（第 %1 项）");
    if (c.backend() == Backend::PostgreSQL) {
        // A round trip to the server costs more than all the rest: one statement does it all.
        return moveRecordRowToBinWithEntryOnServer(c, rowId,
                                                   {storedTime(historyNow()), actor.operatorName, actor.workstation,
                                                    changeKindCode(ChangeKind::RecordDeleted), detail})
            .has_value();
    }
    std::optional<RecordMovedToBin> moved =
        moveRecordRowToBin(c, rowId, storedTime(historyNow()), actor.operatorName, actor.workstation);
    if (!moved)
        return false;
    Change change;
    change.kind = ChangeKind::RecordDeleted;
    change.number = moved->record.row.number;
    change.rowId = rowId;
    change.before = RecordState{moved->record.row, moved->record.photos};
    change.detail = detail.arg(moved->binId);
    appendHistory(c, actor, change);
    return true;
}

int moveRecordsOfTypeToBin(Connection &c, const Actor &actor, const QString &typeName)
{
    requireCurrentSchema(c);
    int moved = 0;
    for (qint64 rowId : recordRowIdsOfType(c, typeName))
        if (moveRecordToBin(c, actor, rowId))
            ++moved;
    return moved;
}

QVector<BinEntry> readBin(Connection &c)
{
    QVector<BinEntry> entries;
    if (schemaVersion(c) < 2)
        return entries;
    for (const BinRow &r : readBinRows(c))
        entries << entryOf(r);
    return entries;
}

qint64 countBin(Connection &c) { return schemaVersion(c) < 2 ? 0 : countBinRows(c); }

qint64 countBinOlderThan(Connection &c, const QDateTime &before)
{
    return schemaVersion(c) < 2 ? 0 : countBinRowsBefore(c, storedTime(before));
}

RestoreResult restoreFromBin(Connection &c, const Actor &actor, qint64 binId)
{
    RestoreResult result;
    requireCurrentSchema(c);
    const std::optional<BinRow> row = readBinRow(c, binId);
    if (!row)
        return result;
    const BinEntry entry = entryOf(*row);
    const QString &oldNumber = entry.record.row.number;

    // The type as stored, whatever its bytes: a name that is no valid text comes back the same.
    if (!entry.record.row.typeName.trimmed().isEmpty() && !binTypeExists(c, binId)) {
        insertTypeFromBin(c, binId);
        result.typeRecreated = true;
        Change type;
        type.kind = ChangeKind::TypeAdded;
        type.subject = entry.record.row.typeName;
        type.detail = QStringLiteral("恢复病案 %1 时重新建立").arg(oldNumber);
        appendHistory(c, actor, type);
    }

    // Shared numbers are the archive's own (earlier archives hold them, and the program
    // keeps them): the record comes back under its own number whenever its own row is
    // free, and under a new one only when both its row and its number are taken.
    std::optional<qint64> rowId;
    if (entry.record.row.rowId > 0 && !recordRowExists(c, entry.record.row.rowId))
        rowId = entry.record.row.rowId;
    result.sameRowId = rowId.has_value();
    std::optional<QString> number;
    if (!rowId && countRecordsWithBinNumber(c, binId) > 0) {
        number = freeNumber(c);
        result.renumbered = true;
    }
    result.number = number.value_or(oldNumber);
    qint64 newRowId = 0;
    if (row->cells) {
        // Exactly the photo rows that left with the record come back; rows another tool has
        // added under the number since stay as they are.
        newRowId = putBackCells(c, entry, *row->cells, rowId.has_value(), number);
    } else {
        // An entry of the earlier form: its row's cells are the bin row's, its photos the list.
        newRowId = insertRecordFromBin(c, binId, rowId, number);
        // The number's photo rows stay where another deletion left them; never twice.
        if (countPhotosWithNumber(c, result.number) == 0)
            for (const QString &photo : entry.record.photos)
                insertPhoto(c, result.number, photo);
    }
    deleteBinRow(c, binId);

    Change change;
    change.kind = ChangeKind::RecordRestored;
    change.number = result.number;
    change.rowId = newRowId;
    change.before = entry.record;
    change.after = readRecordState(c, newRowId);
    QStringList detail{QStringLiteral("从回收站恢复（第 %1 项）").arg(binId)};
    if (result.renumbered)
        detail << QStringLiteral("原病案号 %1 已被占用，改用新病案号 %2").arg(oldNumber, result.number);
    if (!result.sameRowId)
        detail << QStringLiteral("原行标识 %1 已被占用").arg(entry.record.row.rowId);
    change.detail = detail.join(QStringLiteral("；"));
    appendHistory(c, actor, change);
    result.restored = true;
    return result;
}

bool purgeFromBin(Connection &c, const Actor &actor, qint64 binId)
{
    requireCurrentSchema(c);
    const std::optional<BinRow> row = readBinRow(c, binId);
    if (!row || deleteBinRow(c, binId) == 0)
        return false;
    const BinEntry entry = entryOf(*row);
    Change change;
    change.kind = ChangeKind::RecordPurged;
    change.number = entry.record.row.number;
    change.rowId = entry.record.row.rowId;
    change.before = entry.record;
    change.detail = QStringLiteral("从回收站彻底删除（第 %1 项，%2 删除）")
                        .arg(binId)
                        .arg(entry.deletedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    appendHistory(c, actor, change);
    return true;
}

} // namespace store
