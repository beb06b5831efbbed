#include "trail/RecycleBin.h"

#include "store/TrailStatements.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace store {

namespace {

QStringList photosFromJson(const QString &json)
{
    QStringList photos;
    for (const QJsonValue &v : QJsonDocument::fromJson(json.toUtf8()).array())
        photos << v.toString();
    return photos;
}

BinEntry entryOf(const BinRow &r)
{
    BinEntry e;
    e.id = r.id;
    e.deletedAt = QDateTime::fromString(r.when, Qt::ISODateWithMs).toUTC();
    e.operatorName = r.operatorName;
    e.workstation = r.workstation;
    e.record.row = r.record;
    e.record.photos = photosFromJson(r.photos);
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

    if (!entry.record.row.typeName.trimmed().isEmpty() && !typeExists(c, entry.record.row.typeName)) {
        insertType(c, entry.record.row.typeName);
        result.typeRecreated = true;
        Change type;
        type.kind = ChangeKind::TypeAdded;
        type.subject = entry.record.row.typeName;
        type.detail = QStringLiteral("恢复病案 %1 时重新建立").arg(oldNumber);
        appendHistory(c, actor, type);
    }

    std::optional<QString> number;
    if (countRecordsWithNumber(c, oldNumber) > 0) {
        number = freeNumber(c);
        result.renumbered = true;
    }
    result.number = number.value_or(oldNumber);
    std::optional<qint64> rowId;
    if (entry.record.row.rowId > 0 && !recordRowExists(c, entry.record.row.rowId))
        rowId = entry.record.row.rowId;
    result.sameRowId = rowId.has_value();
    const qint64 newRowId = insertRecordFromBin(c, binId, rowId, number);

    // The number's photo rows stay where another deletion left them; never twice.
    if (countPhotosWithNumber(c, result.number) == 0)
        for (const QString &photo : entry.record.photos)
            insertPhoto(c, result.number, photo);
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
