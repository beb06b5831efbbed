#pragma once

#include "store/Database.h"

#include <QString>
#include <QStringList>

namespace store {

// The trail's words: a trigram index over each entry's record number and name, so that
// the whole-trail window finds one record's entries among a million without reading
// every entry. It is a finder only: what it offers is held against the typed pattern.
//
// On a server it is an index of the trail's table, made with the trail by the tables'
// owner. On a file it is an index of its own, brought up to the newest entry when a
// search needs it rather than by every write: each write of the trail costs the file a
// flush of every page it touches, and a trigram index touches many.

// The server's index; each statement may be run again. It needs pg_trgm, which comes
// with most servers and which a database's owner may add from PostgreSQL 13 on.
QStringList historyWordsServerSchema();
// Server: makes the index where the server and the user's rights allow, inside the
// transaction that makes or upgrades the trail; where they do not, the search reads every
// entry, and the owner may make it later with the statements the grants print.
void addHistoryWordsOnServer(Connection &c);
// The server's expression that the index holds, which a condition must spell alike.
QString historyWordsServerExpression();

// File: makes the index if need be and adds the entries written since it was last
// brought up to date, in steps short enough not to keep other workstations waiting.
// False when it cannot (an archive the user may only read, a lock held too long): the
// search then reads every entry.
bool catchUpHistoryWords(Connection &c);
// File: how many entries the index offers for a run of three or more characters, counting
// no further than `atMost`.
qint64 countHistoryWordCandidates(Connection &c, const QString &run, qint64 atMost);
// File: the condition on History's rows of the entries the index offers for a run, and
// its values.
QString historyWordsFileCondition();
QVariantList historyWordsFileValues(const QString &run);

} // namespace store
