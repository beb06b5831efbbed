#pragma once
// The words recognised on the records' photos, one row per photo of a record: the queue of
// pages still to read and the text of those read. A table of its own beside the four of
// the archive, which stay as they are; an archive without it simply has no page text yet.
//
// A row is 'pending' until a reader has finished the page, then 'done' (with its words)
// or 'failed' (with the reason). A reader claims pending rows for a while (a lease) in a
// write transaction, and its result counts only while its claim still holds: a reader
// killed half-way leaves its rows pending, to be claimed again once the lease runs out,
// and a page is never stored twice.
#include "store/Database.h"
#include "store/SearchFilter.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

namespace store {

// The states a row goes through, as stored.
extern const QString kPagePending;
extern const QString kPageDone;
extern const QString kPageFailed;

// The statements that make the table, its indexes and (where the engine has it) the
// trigram index that finds substrings of three characters and more; each may be run
// again on an archive that has them.
QStringList pageTextSchema(const Dialect &dialect);
// Makes what pageTextSchema lists, in one transaction. On the server only the tables'
// owner may do it (casearchive-admin ocr, or the grants the owner runs).
void createPageTextTable(Connection &c);
bool hasPageTextTable(Connection &c);
// The table name and the grants the workstations' role needs on it.
QStringList pageTextGrants(const QString &quotedRole);

// Queues one photo of a record, unless the photo has a row already (pending, read or
// failed): a modification that keeps a photo keeps its words. Returns 1 when queued.
int queuePage(Connection &c, const QString &number, const QString &photo);
// Queues every photo of an existing record that has no row yet; returns how many.
int queueMissingPages(Connection &c);
// Puts a read or failed page back in the queue (its file changed); its words stay
// searchable until the new ones replace them.
void requeuePage(Connection &c, qint64 rowId);

struct PageJob {
    qint64 rowId = 0;
    QString number;
    QString photo;
};
// Claims up to `count` pending rows whose lease (if any) ran out before `now` (seconds
// since the epoch) for `claim` until now + leaseSeconds, in the order queued. Run it in
// a Transaction, so that two readers never claim the same row.
QVector<PageJob> claimPages(Connection &c, const QString &claim, qint64 now, int leaseSeconds, int count);

// The claims held on pending rows (a reader killed with them leaves them behind).
QStringList pendingClaims(Connection &c);
// Gives the rows of a claim back to the queue at once, without waiting for its lease.
int releaseClaim(Connection &c, const QString &claim);

struct PageResult {
    bool done = false;      // false: failed, with reason
    QString contentHash;    // SHA-256 of the bytes read, in hex
    QString words;
    QString reason;
    QString engine;         // engine name and version
    QString languages;      // the language models used, with their identities
    QString when;           // ISO date and time
};
// Stores the outcome of a claimed row; false (nothing stored) when the claim no longer
// holds, because the lease ran out and another reader took the row.
bool finishPage(Connection &c, qint64 rowId, const QString &claim, const PageResult &result);

// Words already read from a file with these bytes by the same engine and models, for a
// copy of a page in another record or under another name; null when none.
QString wordsForContent(Connection &c, const QString &contentHash, const QString &engine, const QString &languages);

struct PageTextRow {
    qint64 rowId = 0;
    QString number;
    QString photo;
    QString state;
    QString contentHash;
    QString words;
    QString reason;
    QString engine;
    QString languages;
    QString when;
};
// The row of one photo of a record; rowId 0 when the photo has none.
PageTextRow readPageText(Connection &c, const QString &number, const QString &photo);
// Every row, in the order queued (the admin tool walks them to see which files changed).
QVector<PageTextRow> readPageTexts(Connection &c);
struct PageCounts {
    qint64 pending = 0;
    qint64 done = 0;
    qint64 failed = 0;
};
PageCounts countPages(Connection &c);

// The photos of the record whose words contain the filter's text (* and ? as wildcards).
QSet<QString> photosMatching(Connection &c, const QString &number, const SearchFilter &filter);
// How many records the filter's page-text condition alone finds.
qint64 countRecordsMatchedByPages(Connection &c, const SearchFilter &filter);

// The page-text part of a search condition (SearchFilter::sqlCondition): the record
// numbers whose photos' words match, and the values it binds. pagePairs: what the pairs
// index of the photos' words is asked (store/SearchIndex.h), for a text whose runs are
// too short for the trigram index; empty to read the words through.
QString pageTextCondition(const Dialect &dialect, const QString &text, const QString &pagePairs = QString());
QVariantList pageTextValues(const Dialect &dialect, const QString &text, const QString &pagePairs = QString());
// The trigram index's query for a search text: each run of three or more characters
// between wildcards as a phrase, all required; empty when no run is that long.
QString trigramQuery(const QString &text);

} // namespace store
