#pragma once
// The search index: the pairs of characters (store/SearchPairs.h) of the records' four
// searchable columns (type, name, path, description), and of the photos' words, so that a
// search of two characters or more reads only the records that hold its pairs. What the
// index offers is a superset: the search's own condition (store/SearchFilter.h) is checked
// on every record it offers, so the result is the scan's, character for character.
//
// On a file: an FTS5 table without content whose words are the pairs (search_words,
// page_words). Triggers on Detail and page_text note each change with the values it wrote
// or removed in a log (search_words_log, page_words_log), which costs a write little more
// than the row itself; the search adds the log's records to what the index offers, and a
// search that finds many changes logged brings the index up to date first. The index is
// trusted only while search_index_state says it is built: the triggers log nothing before.
//
// On a server: a GIN index over an immutable function that gives a row's pairs
// (casearchive_search_pairs), kept by the server in the write's own transaction.
//
// The index is derived data: the build makes it from the records, a copy builds it anew,
// and the admin tool's check compares it with the records.
#include "store/Database.h"
#include "store/SearchFilter.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <functional>
#include <limits>
#include <memory>

namespace store {

// The two indexes: of the records, and of the photos' words.
enum class IndexedText { Records, Pages };

// ---- Schema ----
// What version 3 adds: the records' index (on a file also its log, its triggers and the
// state), and the photos' words' index where the archive has page_text. An archive without
// records gets its index ready; one with records gets it to build (buildSearchIndex).
// Each statement may be run again.
void addSearchIndex(Connection &c);
// The statements of the photos' words' index, made with page_text (pageTextSchema); an
// index made empty this way counts as built.
QStringList pageWordsSchema(const Dialect &dialect);
// Server: the right a workstation's role needs to write rows the index holds.
QString searchIndexGrant(const QString &quotedRole);
// Removes the records' index and what keeps it: with the archive's tables (a copy cut
// short or replaced), or to measure an archive without it.
void dropSearchIndex(Connection &c);

// ---- State ----
enum class SearchIndexState {
    Ready,    // complete and followed by every write
    NotBuilt, // an archive of an earlier version, or one whose build has not run
    Unusable, // missing, damaged or unreadable: the search reads every record
};
SearchIndexState searchIndexState(Connection &c, IndexedText which);

// ---- Building ----
struct SearchIndexProgress {
    IndexedText which = IndexedText::Records;
    qint64 done = 0;
    qint64 total = 0;
};
using SearchIndexProgressHandler = std::function<void(const SearchIndexProgress &)>;
// Before many rows go into a new archive: the index stops following the writes, to be
// built once after them. In the caller's transaction.
void suspendSearchIndex(Connection &c);
// Builds the indexes that are not ready (every one when `again`) from the rows, in the
// caller's transaction, which holds the archive's write lock meanwhile. Returns how many
// it built.
int buildSearchIndex(Connection &c, bool again = false, const SearchIndexProgressHandler &progress = {});
// The same a part at a time, for a caller with other work for the connection in between
// (the import writes the records and the photos while the records' words go in). Once
// made, the first index's rows are added by addRows() a few at a time in the order of
// their identities, those up to `upTo` (the rows written so far) only; false once there
// are no more of them for now. next() adds what is left, finishes that index and starts
// the next, false once none is left. addRows() uses only SQLite's own interface, so it may
// run on another thread while the caller's waits; on a server it does nothing, and next()
// builds each index whole.
struct FileBuild;
class SearchIndexBuild {
public:
    explicit SearchIndexBuild(Connection &c, bool again = false, const SearchIndexProgressHandler &progress = {});
    ~SearchIndexBuild();
    SearchIndexBuild(const SearchIndexBuild &) = delete;
    SearchIndexBuild &operator=(const SearchIndexBuild &) = delete;
    bool addRows(int count, qint64 upTo = std::numeric_limits<qint64>::max());
    bool next();
    int built() const { return m_built; }

private:
    Connection &m_connection;
    SearchIndexProgressHandler m_progress;
    QVector<IndexedText> m_left;
    std::unique_ptr<FileBuild> m_file;
    int m_built = 0;
};
// On a file: folds the logged changes into the index and empties the log, in a
// transaction of its own; false when it could not (another program writing, an archive
// that may only be read). Nothing to do on a server.
bool catchUpSearchIndex(Connection &c, IndexedText which);
// How much room the index takes in the archive, in bytes (both indexes, with the log).
qint64 searchIndexBytes(Connection &c);

// ---- Searching ----
enum class IndexUse {
    Indexed,  // the index offers the records the condition is checked on
    Scanned,  // every record read, as it should be: no run of two characters, or a pair
              // so common that reading through is quicker
    NotBuilt, // every record read: the index is not built yet
    Unusable, // every record read: the index is missing or damaged
};
struct IndexedSearch {
    IndexUse records = IndexUse::Scanned;
    IndexUse pages = IndexUse::Scanned; // the photos' words by pairs
    bool fellBack() const;
    bool notBuilt() const;
};
// Chooses how the search runs and puts what the index is asked into the filter (a copy
// that the tree's read then runs with): a file's log is folded in when it has grown, the
// indexes' states are read, and a pair that most records hold leaves the search to the scan.
IndexedSearch prepareIndexedSearch(Connection &c, SearchFilter &filter);

// The conditions SearchFilter::sqlCondition puts before its own when the index is used:
// the records the records' index offers (with those of the photos' words' part when that
// is ticked too), and the photos' words' rows the page index offers, with their values.
QString recordCandidates(const Dialect &dialect, const SearchFilter &filter);
QVariantList recordCandidateValues(const Dialect &dialect, const SearchFilter &filter);
QString pageCandidates(const Dialect &dialect);

// ---- Checking ----
struct SearchIndexCheck {
    IndexedText which = IndexedText::Records;
    SearchIndexState state = SearchIndexState::NotBuilt;
    qint64 rows = 0;       // the rows compared
    qint64 mismatches = 0; // pairs (file) or rows (server) that differ
    QString problem;       // what does not fit, for the report
    bool fits() const { return state == SearchIndexState::Ready && problem.isEmpty(); }
};
// Compares each index with the rows it was made from, the log's changes folded in;
// writes nothing. The photos' words' only where the archive has page_text.
QVector<SearchIndexCheck> verifySearchIndex(Connection &c);

} // namespace store
