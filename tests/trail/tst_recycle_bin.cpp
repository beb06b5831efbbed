// The recycle bin: a deleted record keeps every cell of its rows as stored until it is
// restored (under its own number and row identity where free) or purged; two workstations
// deleting and restoring at once never lose or double a record.
#include "TempArchive.h"

#include "store/Database.h"
#include "trail/RecycleBin.h"
#include "store/StoredRows.h"
#include "store/TrailStatements.h"

#include <thread>

using namespace store;
using testing::TempArchive;

namespace {
const Actor kClerk{QStringLiteral("甲"), QStringLiteral("pc-1")};
const Actor kOther{QStringLiteral("乙"), QStringLiteral("pc-2")};

// A Detail row exactly as stored, for comparing before and after a round trip.
StoredRow storedRecord(Connection &c, qint64 rowId)
{
    StoredRows rows(c, ArchiveTable::Detail);
    StoredRow r;
    while (rows.next(r))
        if (r.rowId == rowId)
            return r;
    return {};
}

qint64 rowIdOf(Connection &c, const QString &number, int which = 0)
{
    return readRecord(c, number).value(which).rowId;
}

template <typename Work>
void inTransaction(Connection &c, Work work)
{
    Transaction t(c);
    work();
    t.commit();
}
} // namespace

class TestRecycleBin : public QObject {
    Q_OBJECT

    // The type 外科 with one record, 240101080000, and its one photo.
    static void addOneRecord(TempArchive &a)
    {
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/a.jpg")});
    }

private slots:
    void init() { setHistoryClockForTests({}); }

    void aDeletedRecordComesBackWithEverythingItHad()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        const QString description = QStringLiteral("第一行\r\n第二行 'quoted' \"双\" ;--\t😀");
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三 O'Brien"),
                    QStringLiteral("/docs/a b.pdf"), description,
                    {QStringLiteral("/p/3.jpg"), QStringLiteral("/p/1.jpg"), QStringLiteral("/p/2.jpg")});
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101090000"), QStringLiteral("李四"));
        Connection c(a.path());
        const qint64 rowId = rowIdOf(c, QStringLiteral("240101080000"));
        const StoredRow original = storedRecord(c, rowId);
        const std::optional<RecordState> before = readRecordState(c, rowId);
        QVERIFY(before);

        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowId)); });
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        QCOMPARE(a.count(QStringLiteral("photo")), 0);
        const QVector<BinEntry> bin = readBin(c);
        QCOMPARE(bin.size(), 1);
        QCOMPARE(bin[0].record, *before);
        QCOMPARE(bin[0].operatorName, kClerk.operatorName);
        QCOMPARE(bin[0].workstation, kClerk.workstation);
        // A second delete of the same row finds nothing and writes nothing.
        inTransaction(c, [&] { QVERIFY(!moveRecordToBin(c, kOther, rowId)); });
        QCOMPARE(countBin(c), 1);

        RestoreResult r;
        inTransaction(c, [&] { r = restoreFromBin(c, kOther, bin[0].id); });
        QVERIFY(r.restored);
        QVERIFY(!r.renumbered);
        QVERIFY(r.sameRowId);
        QVERIFY(!r.typeRecreated);
        QCOMPARE(r.number, QStringLiteral("240101080000"));
        QCOMPARE(storedRecord(c, rowId), original);
        QCOMPARE(readRecordState(c, rowId), before);
        QCOMPARE(countBin(c), 0);

        // The trail says who did what, with the values before and after.
        const QVector<HistoryEntry> h = readRecordHistory(c, QStringLiteral("240101080000"), rowId);
        QCOMPARE(h.size(), 2);
        QCOMPARE(h[0].change.kind, ChangeKind::RecordRestored);
        QCOMPARE(h[0].operatorName, kOther.operatorName);
        QCOMPARE(h[0].change.after, before);
        QCOMPARE(h[0].change.detail, QStringLiteral("从回收站恢复（第 %1 项）").arg(bin[0].id));
        QCOMPARE(h[1].change.kind, ChangeKind::RecordDeleted);
        QCOMPARE(h[1].change.before, before);
        QVERIFY(!h[1].change.after);
        // A restored entry cannot be restored twice.
        inTransaction(c, [&] { QVERIFY(!restoreFromBin(c, kOther, bin[0].id).restored); });
        QCOMPARE(countRecordsWithNumber(c, QStringLiteral("240101080000")), 1);
    }

    // Cells written by earlier versions and other tools go through the bin as stored: every
    // byte and storage class of the record, of each photo row and of the type's name. The
    // server holds UTF-8 text alone; the file whatever it was given.
    void oddCellsComeBackAsTheyWereStored()
    {
        TempArchive a;
        Connection c(a.path());
        const bool file = !testing::onServer();
        const auto text = [](const QByteArray &bytes) { return StoredCell{StoredCell::Text, bytes}; };
        const StoredCell type = file ? text("\xCD\xE2\xBF\xC6") : text("\xEF\xBB\xBF外科"); // 外科 in GBK
        const StoredCell number = text("240101080000");
        const StoredRow record{7, {type, number, file ? text("\xD5\xC5\xC8\xFD") : text("张三 😀"),
                                   file ? StoredCell{StoredCell::Blob, QByteArray("\0\1", 2)} : text(""), StoredCell()}};
        const QVector<StoredRow> photos{
            {3, {number, file ? text("/p/\xD5\xC5.jpg") : text("/p/张.jpg")}},
            {4, {number, file ? StoredCell{StoredCell::Blob, QByteArray("\xFF\0", 2)} : text("\xEF\xBB\xBF/p/b.jpg")}},
            {5, {number, StoredCell()}},
            {6, {number, file ? text("/p/\xED\xA0\x80.jpg") : text("/p/\xF0\xA0\xAE\xB7.jpg")}}, // a lone surrogate
        };
        inTransaction(c, [&] {
            insertStoredRows(c, ArchiveTable::Catalog, {{1, {type}}});
            insertStoredRows(c, ArchiveTable::Detail, {record});
            insertStoredRows(c, ArchiveTable::Photo, photos);
            QVERIFY(moveRecordToBin(c, kClerk, 7));
        });
        QCOMPARE(a.count(QStringLiteral("photo")), 0);
        a.exec(QStringLiteral("DELETE FROM Catalog")); // the type deleted meanwhile
        RestoreResult r;
        inTransaction(c, [&] { r = restoreFromBin(c, kClerk, readBin(c).value(0).id); });
        QVERIFY(r.restored && r.sameRowId && r.typeRecreated && !r.renumbered);
        const auto all = [&c](ArchiveTable table) {
            QVector<StoredRow> rows;
            StoredRows read(c, table);
            for (StoredRow row; read.next(row);)
                rows << row;
            return rows;
        };
        QCOMPARE(all(ArchiveTable::Detail), QVector<StoredRow>{record});
        QCOMPARE(all(ArchiveTable::Photo), photos);
        QCOMPARE(all(ArchiveTable::Catalog).value(0).cells, QVector<StoredCell>{type});
        if (!file) {
            // An entry a copy brought from a file, with a photo in GBK: refused, nothing written.
            inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, 7)); });
            a.exec(QStringLiteral("UPDATE RecycleBin SET photos = replace(photos, ?, 't:2f702fd5c52e6a7067')"),
                   {QStringLiteral("t:") + QString::fromLatin1(QByteArray("/p/张.jpg").toHex())});
            try {
                inTransaction(c, [&] { restoreFromBin(c, kClerk, readBin(c).value(0).id); });
                QFAIL("restored what the server cannot hold");
            } catch (const StoreError &e) {
                QCOMPARE(e.description(), QStringLiteral("回收站中的病案 240101080000（张三 😀）有服务器上的档案不能原样保存的内容"
                                                         "（不是文本的值，或无效的字符），没有恢复。"));
            }
            QCOMPARE(a.count(QStringLiteral("Detail")), 0);
            QCOMPARE(countBin(c), 1);
        }
    }

    // Entries the bin held before it kept bytes (their photos a list of texts) come back as
    // they always did.
    void entriesOfTheEarlierFormStillComeBack()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        Connection c(a.path());
        inTransaction(c, [&] { upgradeSchema(c); });
        a.exec(QStringLiteral("INSERT INTO RecycleBin (deleted_at, operator_name, workstation, record_rowid, type_Name, "
                              "\"病案号\", \"文件名\", \"路径名\", \"文件说明\", photos) "
                              "VALUES ('2024-03-01T08:00:00.000Z', '甲', 'pc', '9', '外科', '240101080000', '张三', '', '', ?)"),
               {QStringLiteral("[\"/p/2.jpg\",\"/p/1.jpg\"]")});
        const QVector<BinEntry> bin = readBin(c);
        QCOMPARE(bin.value(0).record.photos, (QStringList{QStringLiteral("/p/2.jpg"), QStringLiteral("/p/1.jpg")}));
        inTransaction(c, [&] { QVERIFY(restoreFromBin(c, kClerk, bin.value(0).id).sameRowId); });
        QCOMPARE(readRecord(c, QStringLiteral("240101080000")).value(0).rowId, 9);
        QCOMPARE(readPhotos(c, QStringLiteral("240101080000")), (QStringList{QStringLiteral("/p/2.jpg"), QStringLiteral("/p/1.jpg")}));
    }

    void aTypeDeletedWithItsRecordsAndBroughtBack()
    {
        TempArchive a;
        a.addType(QStringLiteral("Surgery"));
        a.addType(QStringLiteral("内科"));
        // Two rows share a number: its photos stay until the last of them goes.
        a.addRecord(QStringLiteral("surgery"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/a.jpg"), QStringLiteral("/p/b.jpg")});
        a.addRecord(QStringLiteral("Surgery"), QStringLiteral("240101080000"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("SURGERY"), QStringLiteral("240101090000"), QStringLiteral("丙"), {}, {},
                    {QStringLiteral("/p/c.jpg")});
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101100000"), QStringLiteral("丁"), {}, {},
                    {QStringLiteral("/p/d.jpg")});
        Connection c(a.path());
        const qint64 first = rowIdOf(c, QStringLiteral("240101080000"), 0);
        const qint64 second = rowIdOf(c, QStringLiteral("240101080000"), 1);

        int moved = 0;
        inTransaction(c, [&] {
            moved = moveRecordsOfTypeToBin(c, kClerk, QStringLiteral("surgery"));
            deleteTypeFromCatalog(c, QStringLiteral("surgery"));
        });
        QCOMPARE(moved, 3);
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        QCOMPARE(readPhotos(c, QStringLiteral("240101100000")), QStringList{QStringLiteral("/p/d.jpg")});
        QCOMPARE(a.count(QStringLiteral("photo")), 1);
        // Each bin entry lists the photos it saw, the shared number's in both.
        QVector<BinEntry> bin = readBin(c);
        QCOMPARE(bin.size(), 3);
        for (const BinEntry &e : bin)
            QCOMPARE(e.record.photos, e.record.row.number == QLatin1String("240101090000")
                                          ? QStringList{QStringLiteral("/p/c.jpg")}
                                          : (QStringList{QStringLiteral("/p/a.jpg"), QStringLiteral("/p/b.jpg")}));

        auto binIdOf = [&](qint64 rowId) {
            for (const BinEntry &e : readBin(c))
                if (e.record.row.rowId == rowId)
                    return e.id;
            return qint64(0);
        };
        RestoreResult r;
        inTransaction(c, [&] { r = restoreFromBin(c, kClerk, binIdOf(second)); });
        QVERIFY(r.restored);
        QVERIFY(r.typeRecreated);
        QVERIFY(!r.renumbered);
        // Re-created under the name the record carries, once, and said so in the trail.
        QCOMPARE(readTypes(c), (QStringList{QStringLiteral("内科"), QStringLiteral("Surgery")}));
        QCOMPARE(readPhotos(c, QStringLiteral("240101080000")), (QStringList{QStringLiteral("/p/a.jpg"), QStringLiteral("/p/b.jpg")}));

        // The other row of that number shares it again, under its own identity: the number
        // is the archive's to share, not the bin's to change. No photo row left with it (the
        // other row kept them), so none comes back twice.
        const qint64 firstBin = binIdOf(first);
        inTransaction(c, [&] { r = restoreFromBin(c, kClerk, firstBin); });
        QVERIFY(r.restored);
        QVERIFY(!r.typeRecreated);
        QVERIFY(!r.renumbered);
        QVERIFY(r.sameRowId);
        QCOMPARE(r.number, QStringLiteral("240101080000"));
        QCOMPARE(readRecord(c, r.number).size(), 2);
        QCOMPARE(readRecord(c, r.number).value(0).rowId, first);
        QCOMPARE(readRecord(c, r.number).value(0).name, QStringLiteral("甲"));
        QCOMPARE(readPhotos(c, QStringLiteral("240101080000")), (QStringList{QStringLiteral("/p/a.jpg"), QStringLiteral("/p/b.jpg")}));
        QCOMPARE(readTypes(c).size(), 2);
        const QVector<HistoryEntry> h = readRecordHistory(c, r.number, first);
        QCOMPARE(h.value(0).change.detail, QStringLiteral("从回收站恢复（第 %1 项）").arg(firstBin));
        QCOMPARE(countBin(c), 1);
        HistoryQuery typeAdded;
        typeAdded.kinds = {ChangeKind::TypeAdded};
        QCOMPARE(countHistory(c, typeAdded), 1);
    }

    // Exactly the photo rows that left with the record come back; rows another tool added
    // under the number meanwhile stay as they are, and are not taken for the record's own.
    void theRecordsOwnPhotoRowsComeBackBesideRowsAddedMeanwhile()
    {
        TempArchive a;
        addOneRecord(a);
        Connection c(a.path());
        const qint64 rowId = rowIdOf(c, QStringLiteral("240101080000"));
        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowId)); });
        insertPhoto(c, QStringLiteral("240101080000"), QStringLiteral("/p/left.jpg"));
        inTransaction(c, [&] { QVERIFY(restoreFromBin(c, kClerk, readBin(c)[0].id).restored); });
        QStringList photos = readPhotos(c, QStringLiteral("240101080000"));
        photos.sort(); // the file gave the left row the record's photo row's identity: it comes back under a new one
        QCOMPARE(photos, (QStringList{QStringLiteral("/p/a.jpg"), QStringLiteral("/p/left.jpg")}));
    }

    // The move itself, which the deletion wraps with its trail entry: the row with its
    // photo list into the bin, the photo rows gone unless another row keeps the number.
    void aRowMovedIntoTheBinTakesItsPhotoListAndLeavesKeptPhotos()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        const QString number = QStringLiteral("240101080000");
        a.addRecord(QStringLiteral("外科"), number, QStringLiteral("张三"), QStringLiteral("/d/a.pdf"), QStringLiteral("说明"),
                    {QStringLiteral("/p/2.jpg"), QStringLiteral("/p/1.jpg")});
        a.addRecord(QStringLiteral("外科"), number, QStringLiteral("张三 旧"));
        Connection c(a.path());
        const qint64 first = rowIdOf(c, number, 0);
        const qint64 second = rowIdOf(c, number, 1);
        const std::optional<RecordState> before = readRecordState(c, first);
        QVERIFY(before);
        const qint64 entries = countHistoryRows(c);

        std::optional<RecordMovedToBin> moved;
        inTransaction(c, [&] { moved = moveRecordRowToBin(c, first, QStringLiteral("2024-03-01T08:00:00.000Z"),
                                                          kClerk.operatorName, kClerk.workstation); });
        QVERIFY(moved);
        QCOMPARE((RecordState{moved->record.row, moved->record.photos}), *before);
        const QVector<BinEntry> bin = readBin(c);
        QCOMPARE(bin.size(), 1);
        QCOMPARE(bin[0].id, moved->binId);
        QCOMPARE(bin[0].record, *before);
        QCOMPARE(bin[0].operatorName, kClerk.operatorName);
        // The other row of the number keeps the photos; no trail entry of its own.
        QCOMPARE(readPhotos(c, number), (QStringList{QStringLiteral("/p/2.jpg"), QStringLiteral("/p/1.jpg")}));
        QCOMPARE(countHistoryRows(c), entries);

        inTransaction(c, [&] { QVERIFY(moveRecordRowToBin(c, second, QStringLiteral("2024-03-01T09:00:00.000Z"),
                                                          kClerk.operatorName, kClerk.workstation)); });
        QCOMPARE(readPhotos(c, number), QStringList{});
        QCOMPARE(readBin(c).size(), 2);
        // A row already gone moves nothing.
        inTransaction(c, [&] { QVERIFY(!moveRecordRowToBin(c, second, QStringLiteral("2024-03-01T10:00:00.000Z"),
                                                           kClerk.operatorName, kClerk.workstation)); });
        QCOMPARE(readBin(c).size(), 2);
    }

    void aNumberAndARowTakenMeanwhile()
    {
        TempArchive a;
        addOneRecord(a);
        Connection c(a.path());
        const qint64 rowId = rowIdOf(c, QStringLiteral("240101080000"));
        setHistoryClockForTests([] { return QDateTime(QDate(2024, 3, 5), QTime(9, 30, 0), Qt::UTC); });
        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowId)); });
        // Another record under the same number and, as the file gives it, the same row.
        inTransaction(c, [&] { insertRecordRow(c, {rowId, QStringLiteral("外科"), QStringLiteral("240101080000"),
                                                   QStringLiteral("新"), {}, {}}); });
        insertPhoto(c, QStringLiteral("240101080000"), QStringLiteral("/p/new.jpg"));
        // The first free number from the clock is taken too, by a photo row alone.
        const QString clockNumber = historyNow().toLocalTime().toString(QStringLiteral("yyMMddHHmmss"));
        insertPhoto(c, clockNumber, QStringLiteral("/p/orphan.jpg"));
        RestoreResult r;
        inTransaction(c, [&] { r = restoreFromBin(c, kOther, readBin(c)[0].id); });
        QVERIFY(r.renumbered);
        QVERIFY(!r.sameRowId);
        QCOMPARE(r.number, historyNow().toLocalTime().addSecs(1).toString(QStringLiteral("yyMMddHHmmss")));
        QCOMPARE(readRecord(c, QStringLiteral("240101080000")).size(), 1);
        QCOMPARE(readRecord(c, QStringLiteral("240101080000"))[0].name, QStringLiteral("新"));
        QCOMPARE(readPhotos(c, QStringLiteral("240101080000")), QStringList{QStringLiteral("/p/new.jpg")});
        QCOMPARE(readRecord(c, r.number).value(0).name, QStringLiteral("甲"));
        QVERIFY(readRecord(c, r.number).value(0).rowId != rowId);
        QCOMPARE(readPhotos(c, r.number), QStringList{QStringLiteral("/p/a.jpg")});
    }

    void purgedForGoodButNotFromTheTrail()
    {
        TempArchive a;
        addOneRecord(a);
        Connection c(a.path());
        const qint64 rowId = rowIdOf(c, QStringLiteral("240101080000"));
        const RecordState before = *readRecordState(c, rowId);
        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowId)); });
        const qint64 binId = readBin(c)[0].id;
        inTransaction(c, [&] { QVERIFY(purgeFromBin(c, kOther, binId)); });
        QCOMPARE(countBin(c), 0);
        inTransaction(c, [&] { QVERIFY(!purgeFromBin(c, kOther, binId)); });
        inTransaction(c, [&] { QVERIFY(!restoreFromBin(c, kOther, binId).restored); });
        QCOMPARE(a.count(QStringLiteral("Detail")), 0);
        const QVector<HistoryEntry> h = readRecordHistory(c, QStringLiteral("240101080000"), rowId);
        QCOMPARE(h.size(), 2);
        QCOMPARE(h[0].change.kind, ChangeKind::RecordPurged);
        QCOMPARE(h[0].change.before, before);
        QCOMPARE(h[0].operatorName, QStringLiteral("乙"));
        // A purged entry's number is never given to the next deletion.
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101090000"), QStringLiteral("乙"));
        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowIdOf(c, QStringLiteral("240101090000")))); });
        QVERIFY(readBin(c)[0].id > binId);
    }

    void aFailureHalfWayLeavesTheRecordWhereItWas()
    {
        TempArchive a;
        addOneRecord(a);
        Connection c(a.path());
        const qint64 rowId = rowIdOf(c, QStringLiteral("240101080000"));
        // The row is in the bin and gone from Detail when the trail refuses its entry.
        a.failWrites(QStringLiteral("no_trail"), QStringLiteral("BEFORE INSERT ON History"), QStringLiteral("trail full"),
                     QString(), true);
        QVERIFY_THROWS_EXCEPTION(StoreError, inTransaction(c, [&] { moveRecordToBin(c, kClerk, rowId); }));
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        QCOMPARE(a.count(QStringLiteral("photo")), 1);
        QCOMPARE(a.count(QStringLiteral("RecycleBin")), 0);
        a.allowWrites(QStringLiteral("no_trail"));
        inTransaction(c, [&] { QVERIFY(moveRecordToBin(c, kClerk, rowId)); });
        const qint64 binId = readBin(c)[0].id;
        // The restore too: written back, then refused with its entry.
        a.failWrites(QStringLiteral("no_trail"), QStringLiteral("BEFORE INSERT ON History"), QStringLiteral("trail full"),
                     QString(), true);
        QVERIFY_THROWS_EXCEPTION(StoreError, inTransaction(c, [&] { restoreFromBin(c, kClerk, binId); }));
        QCOMPARE(a.count(QStringLiteral("Detail")), 0);
        QCOMPARE(a.count(QStringLiteral("photo")), 0);
        QCOMPARE(countBin(c), 1);
        QVERIFY_THROWS_EXCEPTION(StoreError, inTransaction(c, [&] { purgeFromBin(c, kClerk, binId); }));
        QCOMPARE(countBin(c), 1);
        a.allowWrites(QStringLiteral("no_trail"));
        QCOMPARE(countHistory(c, {}), 1);
        QVERIFY(verifyHistoryChain(c).whole);
    }

    void oldDeletionsAreCountedForTheOfferToEmpty()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        for (const char *n : {"240101080000", "240101090000", "240101100000"})
            a.addRecord(QStringLiteral("外科"), QString::fromLatin1(n), QStringLiteral("甲"));
        Connection c(a.path());
        const QDateTime start(QDate(2024, 3, 1), QTime(8, 0, 0), Qt::UTC);
        int day = 0;
        setHistoryClockForTests([&] { return start.addDays(day); });
        for (const char *n : {"240101080000", "240101090000", "240101100000"}) {
            inTransaction(c, [&] { moveRecordToBin(c, kClerk, rowIdOf(c, QString::fromLatin1(n))); });
            day += 10;
        }
        QCOMPARE(countBinOlderThan(c, start), 0);
        QCOMPARE(countBinOlderThan(c, start.addMSecs(1)), 1);
        QCOMPARE(countBinOlderThan(c, start.addDays(10)), 1);
        QCOMPARE(countBinOlderThan(c, start.addDays(25)), 3);
        // Newest deletion first.
        QCOMPARE(readBin(c).value(0).record.row.number, QStringLiteral("240101100000"));
        QCOMPARE(readBin(c).value(0).deletedAt, start.addDays(20));
    }

    void twoWorkstationsOnOneRecord()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        Connection first(a.path());
        Connection second(a.path());
        const qint64 rowId = rowIdOf(first, QStringLiteral("240101080000"));
        // Both had the record on screen; both delete it.
        inTransaction(first, [&] { QVERIFY(moveRecordToBin(first, kClerk, rowId)); });
        inTransaction(second, [&] { QVERIFY(!moveRecordToBin(second, kOther, rowId)); });
        // Both had the bin on screen; both restore it.
        const qint64 binId = readBin(first)[0].id;
        QCOMPARE(readBin(second)[0].id, binId);
        inTransaction(second, [&] { QVERIFY(restoreFromBin(second, kOther, binId).restored); });
        RestoreResult late;
        inTransaction(first, [&] { late = restoreFromBin(first, kClerk, binId); });
        QVERIFY(!late.restored);
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        QCOMPARE(countHistory(first, {}), 2);
        QVERIFY(verifyHistoryChain(second).whole);
    }

    void twoWorkstationsAtTheSameMoment()
    {
        if (testing::onServer())
            QSKIP("a process keeps one server connection per address; two processes are tried on the file");
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        constexpr int kEach = 15;
        for (int i = 0; i < 2 * kEach; ++i)
            a.addRecord(QStringLiteral("外科"), QString::number(240101000000LL + i), QStringLiteral("病案%1").arg(i));
        std::atomic<int> failures{0};
        auto workstation = [&](int offset, Actor actor) {
            try {
                Connection c(a.path());
                for (int i = offset; i < offset + kEach; ++i) {
                    const QString number = QString::number(240101000000LL + i);
                    inTransaction(c, [&] { moveRecordToBin(c, actor, readRecord(c, number).value(0).rowId); });
                    if (i % 2 == 0)
                        inTransaction(c, [&] {
                            for (const BinEntry &e : readBin(c))
                                if (e.record.row.number == number)
                                    restoreFromBin(c, actor, e.id);
                        });
                }
            } catch (const StoreError &) {
                ++failures;
            }
        };
        std::thread one(workstation, 0, kClerk);
        std::thread two(workstation, kEach, kOther);
        one.join();
        two.join();
        QCOMPARE(failures.load(), 0);
        Connection c(a.path());
        QCOMPARE(a.count(QStringLiteral("Detail")), kEach);
        QCOMPARE(countBin(c), qint64(kEach));
        const ChainReport chain = verifyHistoryChain(c);
        QVERIFY2(chain.whole, qPrintable(chain.problem));
        QCOMPARE(chain.entries, qint64(3 * kEach));
    }
};

QTEST_MAIN(TestRecycleBin)
#include "tst_recycle_bin.moc"
