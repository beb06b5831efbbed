#pragma once
// Deleted records are kept, every cell of their rows as stored, until a super-user
// restores them or lets them go. Files on disk are never touched by either: the archive
// holds paths only. Every function works in the caller's transaction and writes its
// entry to the trail (trail/History.h) there.
#include "trail/History.h"

#include <QDateTime>
#include <QVector>

namespace store {

struct BinEntry {
    qint64 id = 0;
    QDateTime deletedAt; // UTC
    QString operatorName;
    QString workstation;
    RecordState record; // row identity, type, number, name, path, description; photos
};

// Moves one record row into the bin. Its photos go with it when no other row keeps the
// number (photos are kept by number). Returns false when the row had gone already.
bool moveRecordToBin(Connection &c, const Actor &actor, qint64 rowId);
// Every record of the type (letter case ignored, as the tree ignores it); returns how many.
int moveRecordsOfTypeToBin(Connection &c, const Actor &actor, const QString &typeName);

// The bin, newest deletion first.
QVector<BinEntry> readBin(Connection &c);
qint64 countBin(Connection &c);
// Entries deleted before the time (UTC), for the offer to empty old ones.
qint64 countBinOlderThan(Connection &c, const QDateTime &before);

struct RestoreResult {
    bool restored = false;   // false: the entry had gone (restored or purged elsewhere)
    bool renumbered = false; // the number was taken: restored under `number` instead
    bool sameRowId = false;  // put back under its own row identity
    bool typeRecreated = false;
    QString number;
};
// Puts the record back as it was stored, with exactly the photo rows that left with it:
// under its own row identity where that is free, and then under its own number even when
// another record shares it; under a new free number only when both are taken. Re-creates
// its type (as stored) when that was deleted.
RestoreResult restoreFromBin(Connection &c, const Actor &actor, qint64 binId);
// Removes the entry for good (the trail keeps what it held). Returns false when it had gone.
bool purgeFromBin(Connection &c, const Actor &actor, qint64 binId);

} // namespace store
