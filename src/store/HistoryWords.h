#pragma once

#include "store/Database.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

namespace store {

// The trail's words: a trigram index over each entry's record number and name, so that
// the whole-trail window finds one record's entries among a million without reading
// every entry. It is a finder only: what it offers is held against the typed pattern in
// the trail itself.
//
// It is brought up to the newest entry when a search needs it, not by every write: a
// trail entry is written with every save, and a trigram index would cost each of them
// more than the entry itself (on a file a flush of its many pages, on a server the
// upkeep of its many keys).

// Server: the index's table and index, and the rights a workstation's role needs on the
// table; each statement may be run again. The index needs pg_trgm, which comes with most
// servers and which a database's owner may add from PostgreSQL 13 on.
QStringList historyWordsServerSchema();
QString historyWordsGrant(const QString &quotedRole);
// Server: makes them where the server and the user's rights allow, inside the transaction
// that makes or upgrades the trail; where they do not, the search reads every entry, and
// the owner may make them later with the statements the grants print.
void addHistoryWordsOnServer(Connection &c);

// Removes the index with the archive's tables (a copy cut short, or replaced).
void dropHistoryWords(Connection &c);

// Makes the file's index if need be and adds the entries written since it was last
// brought up to date, in steps short enough not to keep other workstations waiting. False
// when it cannot (an archive the user may only read, a lock held too long, a server
// archive without the index's table): the search then reads every entry.
bool catchUpHistoryWords(Connection &c);
// How many entries the index offers for a run of three or more characters, counting no
// further than `atMost`.
qint64 countHistoryWordCandidates(Connection &c, const QString &run, qint64 atMost);
// The condition on History's rows of the entries the index offers for a run, and its values.
QString historyWordsCondition(Connection &c);
QVariantList historyWordsValues(Connection &c, const QString &run);

} // namespace store
