#pragma once
// The trail of every change made to the archive: who (the operator's login name), from
// where (the workstation's host name), when (UTC), what, and the values before and after.
// A change and its entry are written in one transaction, so a change whose entry cannot
// be written is not made. Each entry carries a SHA-256 over its content and over the hash
// of the entry before it: an entry edited, removed or moved afterwards breaks the chain,
// and the admin tool's check names the first entry that does not fit.
#include "store/Database.h"
#include "store/Statements.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

namespace store {

// ---- The archive's schema version ----
// 1: the four tables of every archive; 2: with the trail and the recycle bin; 3: with the
// archive's identity (store/ArchiveIdentity.h), a server numbering and chaining the trail's
// entries itself, the bin keeping the bytes of what it holds, and the search index
// (store/SearchIndex.h), which the admin tool's upgrade builds. An archive of an older
// version opens and reads as before; the first write of this version (or the admin
// tool's upgrade) brings it up once and records the version (the file's user_version; a
// one-row table on a server). The four tables never change shape.
constexpr int kCurrentSchemaVersion = 3;
int schemaVersion(Connection &c);
// Brings the archive to the current version in the caller's transaction; does nothing
// when it is there already. Returns true when it changed anything.
bool upgradeSchema(Connection &c);
// Before a write that keeps the trail: a file of an older version is upgraded (in the
// caller's transaction); a server's is not, since the workstations' login may not make
// tables there, and the StoreError says to have the administrator run
// "casearchive-admin upgrade" (upgradeNeededMessage()). An archive of a newer version
// than this program's is refused.
void requireCurrentSchema(Connection &c);
const QString &upgradeNeededMessage();

// Who makes a change. The program: the login name and the host name; the admin tool: its
// own name and the system account that ran it.
struct Actor {
    QString operatorName;
    QString workstation;
};
// The admin tool: "casearchive-admin", and the system account that runs it ("user@host").
Actor adminToolActor();

enum class ChangeKind {
    RecordAdded,
    RecordModified,
    RecordDeleted, // moved into the recycle bin
    RecordRestored, // back from the recycle bin
    RecordPurged, // removed from the recycle bin for good
    RecordPrinted,
    TypeAdded,
    TypeRenamed,
    TypeDeleted,
    OperatorAdded,
    OperatorDeleted,
    PasswordReset,
    ArchiveCopied,
    ArchiveRestored,
    ArchiveImported, // from the earlier system's Jet file
};
// Every kind, in the order above (for filters).
QVector<ChangeKind> changeKinds();
// The stable code stored in the trail ("record.added", ...): never changes once written.
QString changeKindCode(ChangeKind kind);
std::optional<ChangeKind> changeKindFromCode(const QString &code);
// What the operator reads ("新增病案", "修改病案", ...).
QString changeKindText(ChangeKind kind);

// A record as the trail keeps it: every column, and its photo list in order.
struct RecordState {
    RecordRow row;
    QStringList photos;
    bool operator==(const RecordState &o) const;
};
// A record's state as stored now (its row by identity, its photos by number); nothing
// when the row has gone.
std::optional<RecordState> readRecordState(Connection &c, qint64 rowId);
// Removes a record's row (its photo rows stay) and returns its state as it was, for a
// modification that writes the row again; nothing when the row has gone.
std::optional<RecordState> takeRecordState(Connection &c, qint64 rowId);
// The state as an entry stores it: JSON with every column and the photo list.
QString recordStateJson(const RecordState &state);

// The time an entry or a bin entry gets (UTC); tests set the clock.
QDateTime historyNow();
void setHistoryClockForTests(std::function<QDateTime()> now);

// What one entry says about the change.
struct Change {
    ChangeKind kind = ChangeKind::RecordAdded;
    QString number;  // the record's number (病案号); empty for a change that is not a record's
    qint64 rowId = 0; // the record row's identity; 0 when none
    QString subject; // a type's or an operator's name, or the archive's address
    std::optional<RecordState> before; // a record's values before the change
    std::optional<RecordState> after;  // and after it
    QString detail;  // anything else the entry should say ("3 页", "原名称：外科")
};

struct HistoryEntry {
    qint64 id = 0; // its place in the chain, from 1
    QDateTime when; // UTC
    QString operatorName;
    QString workstation;
    Change change;
    QString hash; // hex SHA-256 over the content and the hash of the entry before
};

// Appends one entry, chained to the last, in the caller's transaction (which holds the
// archive's write lock, so two workstations never chain onto the same entry). Upgrades
// the schema first when needed. Throws StoreError when the entry cannot be written: the
// caller's transaction then rolls back and the change is not made.
void appendHistory(Connection &c, const Actor &actor, const Change &change);

// The entries of one record (by row identity, and by number for entries that name no
// row), newest first.
QVector<HistoryEntry> readRecordHistory(Connection &c, const QString &number, qint64 rowId);

// The whole trail, filtered, sorted and read a page at a time.
struct HistoryQuery {
    QDateTime from, to;            // UTC; an invalid time leaves that end open
    QString operatorName;          // exact, letter case ignored; empty: everyone
    QVector<ChangeKind> kinds;     // empty: every kind
    QString record;                // a record number or name, with * and ? as in the search
    enum class Column { When, Operator, Workstation, Kind, Number } sortBy = Column::When;
    bool descending = true;
    int offset = 0;
    int limit = 200;
};
QVector<HistoryEntry> readHistory(Connection &c, const HistoryQuery &query);
qint64 countHistory(Connection &c, const HistoryQuery &query); // ignores offset and limit
// Every entry the query selects (offset and limit ignored), for an export.
void forEachHistoryEntry(Connection &c, const HistoryQuery &query,
                         const std::function<void(const HistoryEntry &)> &visit);

// An entry's place and hash, noted outside the archive ("7:9f86d0…"). The chain alone
// cannot show that its newest entries were taken out, nor a trail rewritten from its
// first entry on with every hash computed anew; a mark noted earlier can.
struct TrailMark {
    qint64 id = 0;
    QString hash; // 64 hex digits, lower case
    QString text() const; // "ID:HASH"
};
// Reads "ID:HASH"; nothing when it is not one.
std::optional<TrailMark> parseTrailMark(const QString &text);

// The chain check: whole, or every entry that does not fit and why. Each entry is held
// against the one before it as stored, so that the entries after one that does not fit are
// checked all the same.
struct ChainBreak {
    qint64 id = 0;
    QString problem; // what the operator reads about that entry
};
constexpr int kMaxChainBreaksKept = 100;
struct ChainReport {
    bool whole = true;
    qint64 entries = 0;
    qint64 fitting = 0;    // entries that fit the one before them
    qint64 firstBadId = 0; // 0 when whole
    QString problem;       // the first break's
    // The entries that do not fit, in the order of the chain: the first kMaxChainBreaksKept
    // of them (a trail forged throughout would otherwise fill the memory), and how many.
    QVector<ChainBreak> breaks;
    qint64 breakCount = 0;
    std::optional<TrailMark> newest; // the newest entry's mark, when the chain is whole
};
// With a mark, the trail must still hold that entry with that hash.
ChainReport verifyHistoryChain(Connection &c, const std::optional<TrailMark> &noted = std::nullopt);

} // namespace store
