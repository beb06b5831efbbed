#pragma once
// The browser's tree read at the engine's own pace: the statement of treeRecordsSql run
// through SQLite's C API on the handle Qt's driver holds, or through libpq on the
// server's, with the cells handed over as the engine keeps them (UTF-8) instead of one
// QVariant and one QString per cell. Every text comes out exactly as Qt's driver gives
// it (what forEachRecord reads), so the two reads build the same tree.
#include "store/Database.h"
#include "store/SearchFilter.h"

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

namespace store {

class TreeRows {
public:
    enum Column { Type = 0, RowId = 1, Number = 2, Name = 3 };
    // Called now and then while the rows are read, also while the engine is still looking
    // for the next row (a search through a large archive), with the number of rows read so
    // far: the caller keeps the window alive from there.
    using Checkpoint = std::function<void(qint64 rowsRead)>;

    // Runs the statement; throws StoreError as Connection::run does.
    TreeRows(Connection &connection, const SearchFilter &filter, Checkpoint checkpoint = {});
    ~TreeRows();
    TreeRows(const TreeRows &) = delete;
    TreeRows &operator=(const TreeRows &) = delete;

    // Moves to the next row; false at the end; throws StoreError when a row cannot be read.
    bool next();
    qint64 rowsRead() const { return m_rows; }

    qint64 rowId() const;
    bool isNull(int column) const;
    // The cell's bytes when the engine holds it as text, valid UTF-8 or not; a null view
    // otherwise (no value, a number, a blob). Equal bytes always give equal text().
    QByteArrayView bytes(int column) const;
    // The cell as Qt's driver gives it: a null text for no value, and broken UTF-8
    // repaired the way the driver's engine repairs it.
    QString text(int column) const;
    // Appends text(column) to out without a text of its own in between.
    void appendText(int column, QString &out) const;

    // True for UTF-8 that every decoder turns into the same characters: no overlong form,
    // no surrogate, nothing past U+10FFFF, no U+FFFE or U+FFFF (which SQLite replaces).
    static bool strictUtf8(QByteArrayView bytes);
    // Decodes strict UTF-8 into out (room for bytes.size() units); returns the end, or
    // nullptr at the first thing that is not strict UTF-8.
    static char16_t *decodeStrict(QByteArrayView bytes, char16_t *out);

    // Rows before each checkpoint.
    static constexpr qint64 kCheckpointRows = 4096;

private:
    struct Sqlite;
    struct Server;
    Connection &m_connection;
    Checkpoint m_checkpoint;
    std::unique_ptr<Sqlite> m_sqlite;
    std::unique_ptr<Server> m_server;
    qint64 m_rows = 0;
};

} // namespace store
