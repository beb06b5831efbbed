#pragma once
// The statements of the change trail (table History), of the recycle bin (RecycleBin) and
// of the schema version, one function each, values bound (the bin's are written in
// BinStatements.cpp). trail/History.h and trail/RecycleBin.h build on these; nothing
// else should need them.
#include "store/Database.h"
#include "store/Statements.h"
#include "store/StoredRows.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>
#include <functional>
#include <optional>

namespace store {

// ---- Schema ----
// The tables and indexes that version 2 adds (and, on a server, the one-row table that
// holds the version). Every column holds text, as in the four old tables; the identity
// is "rowid" on both engines.
QStringList trailSchema(const Dialect &dialect);
// 1 for an archive that has never been given a version; the number recorded otherwise.
int readSchemaVersion(Connection &c);
// A server's version is remembered for the run once read outside a write; the tables
// dropped, it is forgotten.
void forgetSchemaVersion(Connection &c);
void writeSchemaVersion(Connection &c, int version);
// On a server, after an upgrade: the roles that may add records (the workstations'
// logins, by the grants printed for them) get their rights on the new tables, as
// serverGrants() gives them. Returns the roles. Nothing on a file.
QStringList grantTrailToWorkstations(Connection &c);
// Version 3 on a server: the trigger that numbers and chains every entry a workstation
// adds (each statement safe to run again); nothing on a file, whose writers may write
// anything in it anyway.
QStringList serverTrailChainSchema();
void addServerTrailChain(Connection &c);
// The trail's tables, for the copy (what Catalog ... User are to archiveTables()).
QVector<ArchiveTable> trailTables();

// ---- History ----
struct HistoryRow {
    qint64 id = 0;
    QString when; // ISO 8601, UTC, with milliseconds
    QString operatorName;
    QString workstation;
    QString kind; // the stable code
    QString number;
    QString rowId; // decimal, empty when none
    QString subject;
    QString before; // JSON, empty when none
    QString after;
    QString detail;
    QString recordName; // the record's name from after (else before), for the filter
    QString hash;
};
// The last entry's identity and hash; nothing when the trail is empty.
std::optional<QPair<qint64, QString>> lastHistoryLink(Connection &c);
void insertHistoryRow(Connection &c, const HistoryRow &row);
// On a server: the entry's fields alone; the server's trigger (serverTrailChainSchema())
// gives it the identity one past the last and its hash.
void insertHistoryRowChainedByServer(Connection &c, const HistoryRow &row);
// Every entry in the order of the chain.
void forEachHistoryRow(Connection &c, const std::function<void(const HistoryRow &)> &visit);
// One record's entries, newest first.
QVector<HistoryRow> readHistoryRowsOfRecord(Connection &c, const QString &number, qint64 rowId);

// The filter of the whole-trail window, already in stored form.
struct HistoryFilter {
    QString from, to; // stored times; empty leaves that end open
    QString operatorName;
    QStringList kinds; // codes
    QString record;    // typed text, * and ? as wildcards
    // A run of the record text that the trail's words index finds entries by (see
    // HistoryWords.h); empty: the pattern alone is applied to every entry read.
    QString wordsRun;
    int sortColumn = 0; // 0 time, 1 operator, 2 workstation, 3 kind, 4 number
    bool descending = true;
};
void forEachFilteredHistoryRow(Connection &c, const HistoryFilter &filter, int offset, int limit,
                               const std::function<void(const HistoryRow &)> &visit);
qint64 countFilteredHistoryRows(Connection &c, const HistoryFilter &filter);
qint64 countHistoryRows(Connection &c);

// ---- Recycle bin ----
// What a bin entry keeps of the record beyond its row's text: every cell of the record row
// and of each photo row that left with it, as stored (storage class and bytes).
struct BinCells {
    StoredRow record;              // Detail's columns; the identity is the record's
    QVector<StoredRow> photoRows;  // photo's columns, with their own identities, in order
};
struct BinRow {
    qint64 id = 0;
    QString when;
    QString operatorName;
    QString workstation;
    qint64 rowId = 0;
    RecordRow record;
    QStringList photos; // the number's photo list when the record left, as text (to show)
    // Entries written since the bin keeps bytes; those written before hold the text alone
    // (their record row's cells are the bin row's own, their photos the list above).
    std::optional<BinCells> cells;
};
struct RecordWithPhotos;
struct RecordMovedToBin;
// Moves one Detail row into the bin with the photo list of its number (the row leaves
// Detail), and the photo rows of its number unless another row keeps the number: the
// cells of all of them as stored (BinCells). Nothing when the row has gone. On a server the
// one below does more in one statement.
std::optional<RecordMovedToBin> moveRecordRowToBin(Connection &c, qint64 rowId, const QString &when,
                                                   const QString &operatorName, const QString &workstation);
// The same on a server in one statement, which also writes the deletion's trail entry as
// insertHistoryRowChainedByServer chains one: the record's state before as JSON, and
// `detailTemplate` with %1 replaced by the bin entry's number. Returns that number.
struct BinMoveEntry {
    QString when;
    QString operatorName;
    QString workstation;
    QString kind; // the trail's code
    QString detailTemplate;
};
std::optional<qint64> moveRecordRowToBinWithEntryOnServer(Connection &c, qint64 rowId, const BinMoveEntry &entry);
// Newest deletion first.
QVector<BinRow> readBinRows(Connection &c);
std::optional<BinRow> readBinRow(Connection &c, qint64 binId);
int deleteBinRow(Connection &c, qint64 binId);
qint64 countBinRows(Connection &c);
qint64 countBinRowsBefore(Connection &c, const QString &when);
// Of an entry written before the bin kept bytes: puts its cells back into Detail as they
// were stored; number and rowId replace the stored ones when given. Returns the row
// identity it got.
qint64 insertRecordFromBin(Connection &c, qint64 binId, std::optional<qint64> rowId,
                           const std::optional<QString> &number);
bool recordRowExists(Connection &c, qint64 rowId);
bool photoRowExists(Connection &c, qint64 rowId);
// The entry's type cell and number cell, compared as the archive compares them.
bool binTypeExists(Connection &c, qint64 binId);
int countRecordsWithBinNumber(Connection &c, qint64 binId);
// Re-creates the entry's type from its type cell as stored.
void insertTypeFromBin(Connection &c, qint64 binId);
int countPhotosWithNumber(Connection &c, const QString &number);
// The rows of a type, in the order stored (letter case of A-Z ignored, as the tree ignores it).
QVector<qint64> recordRowIdsOfType(Connection &c, const QString &typeName);
// One record row as stored, by identity.
std::optional<RecordRow> readRecordRow(Connection &c, qint64 rowId);
// The same with the photo list of its number, in order (one statement on a server).
struct RecordWithPhotos {
    RecordRow row;
    QStringList photos;
};
std::optional<RecordWithPhotos> readRecordWithPhotos(Connection &c, qint64 rowId);
// Removes one record row and says what it held (its photo rows stay); nothing when it has
// gone. One statement on a server.
std::optional<RecordWithPhotos> takeRecordRow(Connection &c, qint64 rowId);
struct RecordMovedToBin {
    qint64 binId = 0;
    RecordWithPhotos record;
};

} // namespace store
