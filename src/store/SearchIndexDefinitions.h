#pragma once
// What SearchIndex.cpp and SearchIndexUpkeep.cpp share: the two indexes' tables and
// columns, and the server's function that gives a row's pairs. For those files only.
#include "store/SearchIndex.h"

#include <QString>
#include <QStringList>

namespace store {

struct IndexDefinition {
    IndexedText which;
    const char *table;       // the rows indexed
    const char *words;       // the file's FTS5 table, also the index's name in the state
    const char *log;         // the file's log of changes not yet folded in
    QStringList columns;     // the texts indexed, in the log's order (t1, t2, ...)
    const char *serverIndex; // the server's GIN index
};
const IndexDefinition &definition(IndexedText which);

// casearchive_search_pairs(columns) as the server's index holds it (alias.column when an
// alias is given): a query must spell it the same to be answered by the index.
QString serverPairsExpression(const IndexDefinition &d, const QString &alias);
QString serverPairsFunction();

// File: how many rows with an identity above `after` and up to `upTo` the index offers
// for its query, counting no further than `limit`. A fault of the index is reported as the
// index's, without marking the file damaged.
qint64 fileCandidates(Connection &c, const IndexDefinition &d, const QString &asked, qint64 after, qint64 upTo,
                      qint64 limit);

} // namespace store
