#pragma once
// The archive's rows exactly as they are stored, for copying a whole archive: every cell
// with its storage class and its bytes. On the file they are read and written through
// SQLite's own interface, because a round trip through Qt's text changes what is not
// valid UTF-8, turns BLOBs into text and drops a leading U+FEFF; a copy compared that way
// would call changed bytes the same.
#include "store/Statements.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

struct sqlite3_stmt;

namespace store {

struct StoredCell {
    enum Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    // Text: the bytes stored (UTF-8 when valid, whatever another tool wrote otherwise);
    // Blob: its bytes; Integer: its decimal digits; Real: the eight bytes of the double.
    QByteArray bytes;
    bool operator==(const StoredCell &o) const { return kind == o.kind && bytes == o.bytes; }
    bool operator!=(const StoredCell &o) const { return !(*this == o); }
};

struct StoredRow {
    qint64 rowId = 0;
    QVector<StoredCell> cells; // the table's columns in order
    bool operator==(const StoredRow &o) const { return rowId == o.rowId && cells == o.cells; }
};

// The table's columns as the operator reads them, in the order of StoredRow::cells.
QStringList storedColumns(ArchiveTable table);
// True for a column that holds numbers (page_text's lease), where every other holds text.
bool isNumberColumn(ArchiveTable table, int column);

// The rows of one table in the order stored, one at a time. Throws StoreError when a row
// cannot be read, or holds text of a UTF-16 file that is not whole UTF-16 (it could not
// be handed over unchanged).
class StoredRows {
public:
    StoredRows(Connection &c, ArchiveTable table);
    ~StoredRows();
    StoredRows(const StoredRows &) = delete;
    StoredRows &operator=(const StoredRows &) = delete;
    bool next(StoredRow &row);

private:
    // The rows where the condition holds, each `?` of it bound to the identity.
    StoredRows(Connection &c, ArchiveTable table, const QString &condition, qint64 rowId);
    friend std::optional<StoredRow> storedRecordRow(Connection &c, qint64 rowId);
    friend QVector<StoredRow> storedPhotoRowsLeavingWith(Connection &c, qint64 rowId);

    Connection &m_connection;
    ArchiveTable m_table;
    sqlite3_stmt *m_statement = nullptr; // on the file
    QSqlQuery m_query;                   // on the server
    int m_columns = 0;
    unsigned m_integers = 0;
    bool m_utf16 = false; // the file keeps its text as UTF-16
};

// Before many rows go into a new archive file: up to 256 MB of the transaction's pages,
// and the statements' own journals, stay in memory instead of going out to files and back
// in as the transaction grows. For this connection only; nothing on a server.
void keepBulkWriteInMemory(Connection &c);

// Adds rows under their own identities. On the file every cell keeps its storage class
// and bytes; on the server a cell must be Null or valid UTF-8 text without NUL (the
// caller refuses anything else before it writes).
void insertStoredRows(Connection &c, ArchiveTable table, const QVector<StoredRow> &rows);

// The same, a row at a time, for a whole table: on the file one statement, prepared once,
// runs for every row; on the server the rows go many to a statement. What is added is
// written by the time finish() returns, or finish() throws; rows added after the last
// finish() are dropped when the writer goes. After a throw some of the rows added may be
// written and some not: the transaction they belong to must be abandoned then.
//
// alongside: on the file, a thread of the writer's own writes the rows while the caller
// makes the next ones, a few hundred rows behind it at most; the caller must not use the
// connection from the first add() until finish() has returned. A row that cannot be
// written throws from a later add() or from finish(). (On the server, and with an SQLite
// built without threads, the rows are written as they come.)
class StoredRowWriter {
public:
    StoredRowWriter(Connection &c, ArchiveTable table, bool alongside = false);
    ~StoredRowWriter();
    StoredRowWriter(const StoredRowWriter &) = delete;
    StoredRowWriter &operator=(const StoredRowWriter &) = delete;
    void add(const StoredRow &row);
    void add(StoredRow &&row); // taken over: the caller's row is left empty
    // Other work for the connection, done a part at a time by the writer's thread whenever
    // no rows wait: step() is given the identity of the last row written (0 before the
    // first), and returns false when it has nothing more to do until more rows are written.
    // What it has not done when finish() comes is the caller's to do. Set before the first
    // add(); step() must use only SQLite's own interface. Nothing is done without a thread
    // of the writer's own.
    void meanwhile(std::function<bool(qint64 written)> step);
    void finish();

private:
    struct Alongside;
    void write(const StoredRow *rows, qsizetype count);
    void hand();
    void work();
    void sendToServer();
    Connection &m_connection;
    ArchiveTable m_table;
    int m_columns = 0;
    sqlite3_stmt *m_statement = nullptr; // on the file: a row
    sqlite3_stmt *m_many = nullptr;      // and many
    QVector<StoredRow> m_waiting;        // on the server, and the batch being filled alongside
    std::unique_ptr<Alongside> m_alongside;
};

// ---- One record's rows, for the recycle bin: every cell as stored ----
// The record row by identity; nothing when it has gone.
std::optional<StoredRow> storedRecordRow(Connection &c, qint64 rowId);
// The photo rows that leave with the record row when it goes: those of its number (as the
// archive compares numbers, against the row's own cell) unless another record row keeps
// the number. In the order stored.
QVector<StoredRow> storedPhotoRowsLeavingWith(Connection &c, qint64 rowId);
// Removes exactly those rows (before the record row itself goes); returns how many went.
int deletePhotoRowsLeavingWith(Connection &c, qint64 rowId);
// Adds one row of Detail or photo, under its own identity when ownIdentity (the caller
// found it free), else under a new one; returns the identity it got. The cells as
// insertStoredRows takes them.
qint64 insertStoredRow(Connection &c, ArchiveTable table, const StoredRow &row, bool ownIdentity);

// A copy into a server's database marks it unfinished in the transaction that fills it and
// clears the mark once the copy has been compared with its original, so that a copy cut
// short after its rows were committed is never taken for a good one.
void markCopyUnfinished(Connection &c);
bool copyMarkedUnfinished(Connection &c);
void clearCopyUnfinished(Connection &c);
// The name of the mark among the database's tables.
extern const QString kUnfinishedCopyMark;

} // namespace store
