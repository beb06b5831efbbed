#include "store/StoredRows.h"

#include <QSqlDriver>

#include <sqlite3.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace store {

const QString kUnfinishedCopyMark = QStringLiteral("casearchive_unfinished_copy");

namespace {

constexpr int kServerRowsPerStatement = 100;
constexpr int kRowsPerStatement = 32; // at most 13 values a row: within any SQLite's 999
constexpr int kRowsPerBatch = 256;  // handed to the writing thread at a time
constexpr int kBatchesWaiting = 4;  // the most it is behind

struct Shape {
    const char *table;   // in SQL
    const char *columns; // in SQL, in order
    int count;
    unsigned integers = 0; // bit i: column i is a number column (the others hold text)
};

Shape shapeOf(ArchiveTable table)
{
    switch (table) {
    case ArchiveTable::Catalog:
        return {"Catalog", "Name", 1};
    case ArchiveTable::Detail:
        return {"Detail", "type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\"", 5};
    case ArchiveTable::Photo:
        return {"photo", "\"病案号\", \"照片\"", 2};
    case ArchiveTable::History:
        return {"History",
                "changed_at, operator_name, workstation, kind, record_number, record_rowid, subject, "
                "before_state, after_state, detail, record_name, hash",
                12};
    case ArchiveTable::RecycleBin:
        return {"RecycleBin",
                "deleted_at, operator_name, workstation, record_rowid, type_Name, \"病案号\", \"文件名\", "
                "\"路径名\", \"文件说明\", photos",
                10};
    case ArchiveTable::PageText:
        return {"page_text",
                "\"病案号\", \"照片\", state, content_hash, words, reason, engine, languages, done_at, claim, "
                "claimed_until",
                11, 1u << 10};
    case ArchiveTable::User:
        break;
    }
    return {"\"User\"", "UID, PWD, \"权限\"", 3};
}

// The columns as the server should hand them over: text as its UTF-8 bytes, because Qt's
// text conversion drops a leading U+FEFF; a number in its decimal digits.
QString serverColumns(const Shape &shape)
{
    QStringList out;
    int i = 0;
    for (const QString &column : QString::fromUtf8(shape.columns).split(QStringLiteral(", ")))
        out << ((shape.integers >> i++) & 1u ? QStringLiteral("CAST(%1 AS TEXT)") : QStringLiteral("convert_to(%1, 'UTF8')"))
                   .arg(column);
    return out.join(QStringLiteral(", "));
}

// Text in a file kept as UTF-16 is handed over as UTF-8, which says the same exactly as
// long as the UTF-16 is whole; a lone surrogate would come out as another character, so
// such a value is refused (naming its row) rather than changed.
bool wholeUtf16(const char16_t *text, int units)
{
    for (int i = 0; i < units; ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

sqlite3 *fileHandle(Connection &c)
{
    if (c.backend() != Backend::SQLite)
        return nullptr;
    const QVariant handle = c.database().driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.constData());
    throw StoreError(QStringLiteral("数据库驱动没有提供逐字节读写所需的接口。"));
}

[[noreturn]] void fail(sqlite3 *db, const QString &what)
{
    throw StoreError(QStringLiteral("%1“%2”时出错。\n（技术信息：%3）")
                         .arg(what, QString::fromUtf8(sqlite3_db_filename(db, "main")),
                              QString::fromUtf8(sqlite3_errmsg(db))));
}

sqlite3_stmt *prepare(sqlite3 *db, const QString &sql, const QString &what)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        fail(db, what);
    }
    return statement;
}

// True when the file keeps its text as UTF-16.
bool keepsUtf16(sqlite3 *db)
{
    sqlite3_stmt *encoding = prepare(db, QStringLiteral("PRAGMA encoding"), QStringLiteral("读取"));
    const bool utf16 = sqlite3_step(encoding) == SQLITE_ROW
        && qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(encoding, 0)), "UTF-8") != 0;
    sqlite3_finalize(encoding);
    return utf16;
}

} // namespace

bool isNumberColumn(ArchiveTable table, int column) { return (shapeOf(table).integers >> column) & 1u; }

QStringList storedColumns(ArchiveTable table)
{
    switch (table) {
    case ArchiveTable::Catalog:
        return {QStringLiteral("Name")};
    case ArchiveTable::Detail:
        return {QStringLiteral("type_Name"), QStringLiteral("病案号"), QStringLiteral("文件名"), QStringLiteral("路径名"),
                QStringLiteral("文件说明")};
    case ArchiveTable::Photo:
        return {QStringLiteral("病案号"), QStringLiteral("照片")};
    case ArchiveTable::History:
    case ArchiveTable::RecycleBin: {
        QStringList columns;
        for (const QString &c : QString::fromUtf8(shapeOf(table).columns).split(QStringLiteral(", ")))
            columns << (c.startsWith(QLatin1Char('"')) ? c.mid(1, c.size() - 2) : c);
        return columns;
    }
    case ArchiveTable::PageText:
        return {QStringLiteral("病案号"), QStringLiteral("照片"), QStringLiteral("state"), QStringLiteral("content_hash"),
                QStringLiteral("words"), QStringLiteral("reason"), QStringLiteral("engine"), QStringLiteral("languages"),
                QStringLiteral("done_at"), QStringLiteral("claim"), QStringLiteral("claimed_until")};
    case ArchiveTable::User:
        break;
    }
    return {QStringLiteral("UID"), QStringLiteral("PWD"), QStringLiteral("权限")};
}

StoredRows::StoredRows(Connection &c, ArchiveTable table) : m_connection(c), m_table(table)
{
    const Shape shape = shapeOf(table);
    m_columns = shape.count;
    m_integers = shape.integers;
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid");
    if (sqlite3 *db = fileHandle(c)) {
        m_statement = prepare(db, sql.arg(QString::fromUtf8(shape.columns), QString::fromUtf8(shape.table)),
                              QStringLiteral("读取"));
        m_utf16 = keepsUtf16(db);
    } else {
        m_query = c.run(sql.arg(serverColumns(shape), QString::fromUtf8(shape.table)));
    }
}

StoredRows::StoredRows(Connection &c, ArchiveTable table, const QString &condition, qint64 rowId)
    : m_connection(c), m_table(table)
{
    const Shape shape = shapeOf(table);
    m_columns = shape.count;
    m_integers = shape.integers;
    const int marks = int(condition.count(QLatin1Char('?')));
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3 ORDER BY rowid");
    sqlite3 *db = fileHandle(c);
    if (!db) {
        m_query = c.run(sql.arg(serverColumns(shape), QString::fromUtf8(shape.table), condition), QVariantList(marks, rowId));
        return;
    }
    m_statement = prepare(db, sql.arg(QString::fromUtf8(shape.columns), QString::fromUtf8(shape.table), condition),
                          QStringLiteral("读取"));
    m_utf16 = keepsUtf16(db);
    for (int i = 1; i <= marks; ++i) {
        if (sqlite3_bind_int64(m_statement, i, rowId) != SQLITE_OK) {
            sqlite3_finalize(m_statement);
            m_statement = nullptr;
            fail(db, QStringLiteral("读取"));
        }
    }
}

StoredRows::~StoredRows() { sqlite3_finalize(m_statement); }

bool StoredRows::next(StoredRow &row)
{
    row.cells.resize(m_columns);
    if (!m_statement) {
        if (!m_connection.next(m_query))
            return false;
        row.rowId = m_query.value(0).toLongLong();
        // The server's text is UTF-8 without NUL by its own rules.
        for (int i = 0; i < m_columns; ++i) {
            StoredCell &cell = row.cells[i];
            if (m_query.isNull(i + 1)) {
                cell.kind = StoredCell::Null;
                cell.bytes.clear();
            } else {
                cell.kind = (m_integers >> i) & 1u ? StoredCell::Integer : StoredCell::Text;
                cell.bytes = m_query.value(i + 1).toByteArray();
            }
        }
        return true;
    }
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail(sqlite3_db_handle(m_statement), QStringLiteral("读取"));
    row.rowId = sqlite3_column_int64(m_statement, 0);
    for (int i = 0; i < m_columns; ++i) {
        StoredCell &cell = row.cells[i];
        const int column = i + 1;
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_INTEGER:
            cell.kind = StoredCell::Integer;
            cell.bytes = QByteArray::number(qlonglong(sqlite3_column_int64(m_statement, column)));
            break;
        case SQLITE_FLOAT: {
            cell.kind = StoredCell::Real;
            const double v = sqlite3_column_double(m_statement, column);
            cell.bytes = QByteArray(reinterpret_cast<const char *>(&v), sizeof v);
            break;
        }
        case SQLITE_TEXT: {
            cell.kind = StoredCell::Text;
            if (m_utf16) {
                const auto *p = static_cast<const char16_t *>(sqlite3_column_text16(m_statement, column));
                const int units = sqlite3_column_bytes16(m_statement, column) / 2;
                if (!wholeUtf16(p, units))
                    throw StoreError(QStringLiteral("表 %1 标识 %2 的“%3”列是不完整的 UTF-16 文本（有单独的代理项），"
                                                    "无法原样读出，没有复制。请在原档案中改正这个值后再复制。")
                                         .arg(tableName(m_table))
                                         .arg(row.rowId)
                                         .arg(storedColumns(m_table).value(i)));
                cell.bytes = QString::fromUtf16(p, units).toUtf8();
                break;
            }
            const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
            // Into the room the cell already has, when its bytes are its own.
            const int n = sqlite3_column_bytes(m_statement, column);
            cell.bytes.resize(n);
            if (n > 0)
                std::memcpy(cell.bytes.data(), p, size_t(n));
            break;
        }
        case SQLITE_BLOB: {
            cell.kind = StoredCell::Blob;
            const auto *p = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
            cell.bytes = QByteArray(p, sqlite3_column_bytes(m_statement, column));
            break;
        }
        default:
            cell.kind = StoredCell::Null;
            cell.bytes.clear();
            break;
        }
    }
    return true;
}

void keepBulkWriteInMemory(Connection &c)
{
    if (c.backend() != Backend::SQLite)
        return;
    c.run(QStringLiteral("PRAGMA cache_size = -262144"));
    // The journal of each many-row statement (a few dozen rows' pages) too: written to a
    // file, it made most of the writing's system time.
    c.run(QStringLiteral("PRAGMA temp_store = MEMORY"));
}

void insertStoredRows(Connection &c, ArchiveTable table, const QVector<StoredRow> &rows)
{
    if (rows.isEmpty())
        return;
    StoredRowWriter writer(c, table);
    for (const StoredRow &r : rows)
        writer.add(r);
    writer.finish();
}

struct StoredRowWriter::Alongside {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QVector<StoredRow>> full; // batches handed over, oldest first
    // Batches written, handed back: their rows are freed by the thread that made them, as
    // memory freed on another thread costs both threads the allocator's lock.
    std::vector<QVector<StoredRow>> written;
    std::function<bool(qint64)> meanwhile;
    bool resting = false;                // the other work waits for more rows
    qint64 lastWritten = 0;              // the identity of the last row written
    bool stop = false;                   // no more batches come
    bool abandon = false;                // nor are those waiting to be written
    std::exception_ptr error;            // why the thread stopped writing
    std::thread thread;
};

StoredRowWriter::StoredRowWriter(Connection &c, ArchiveTable table, bool alongside)
    : m_connection(c), m_table(table), m_columns(shapeOf(table).count)
{
    sqlite3 *db = fileHandle(c);
    if (!db) {
        m_waiting.reserve(kServerRowsPerStatement);
        return;
    }
    // A statement for one row, and one for many: SQLite's work to start and end a
    // statement is then done once for many rows.
    const Shape shape = shapeOf(table);
    QString marks = QStringLiteral("(?");
    for (int i = 0; i < shape.count; ++i)
        marks += QStringLiteral(", ?");
    marks += QLatin1Char(')');
    QStringList many;
    for (int k = 0; k < kRowsPerStatement; ++k)
        many << marks;
    // OR FAIL: a statement that fails keeps the rows it wrote before, so SQLite needs no
    // journal of its own for each; the transaction the rows belong to is abandoned then
    // anyway. The journals were a quarter of the writing of the records.
    const QString insert = QStringLiteral("INSERT OR FAIL INTO %1 (rowid, %2) VALUES ")
                               .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns));
    m_statement = prepare(db, insert + marks, QStringLiteral("写入"));
    try {
        m_many = prepare(db, insert + many.join(QStringLiteral(", ")), QStringLiteral("写入"));
    } catch (...) {
        sqlite3_finalize(m_statement);
        throw;
    }
    // One connection may serve threads in turn unless SQLite was built for one thread only.
    if (alongside && sqlite3_threadsafe() != 0) {
        m_waiting.reserve(kRowsPerBatch);
        m_alongside = std::make_unique<Alongside>();
        try {
            m_alongside->thread = std::thread(&StoredRowWriter::work, this);
        } catch (const std::system_error &) {
            m_alongside.reset(); // no thread to be had: the rows are written as they come
        }
    }
}

StoredRowWriter::~StoredRowWriter()
{
    if (m_alongside) {
        {
            const std::lock_guard<std::mutex> lock(m_alongside->mutex);
            m_alongside->stop = m_alongside->abandon = true;
        }
        m_alongside->changed.notify_all();
        m_alongside->thread.join();
    }
    sqlite3_finalize(m_many);
    sqlite3_finalize(m_statement);
}

void StoredRowWriter::add(StoredRow &&r)
{
    if (!m_alongside) {
        add(static_cast<const StoredRow &>(r));
        return;
    }
    m_waiting.push_back(std::move(r));
    if (m_waiting.size() == kRowsPerBatch)
        hand();
}

void StoredRowWriter::add(const StoredRow &r)
{
    if (m_alongside) {
        add(StoredRow(r));
        return;
    }
    if (!m_statement) {
        m_waiting.push_back(r);
        if (m_waiting.size() == kServerRowsPerStatement)
            sendToServer();
        return;
    }
    write(&r, 1);
}

// The batch filled to the thread, once it is no more than a few batches behind.
void StoredRowWriter::hand()
{
    Alongside &a = *m_alongside;
    std::unique_lock<std::mutex> lock(a.mutex);
    a.changed.wait(lock, [&a] { return a.error || a.full.size() < kBatchesWaiting; });
    if (a.error)
        std::rethrow_exception(a.error);
    a.full.push_back(std::move(m_waiting));
    std::vector<QVector<StoredRow>> written;
    written.swap(a.written);
    lock.unlock();
    a.changed.notify_all();
    written.clear();
    m_waiting = QVector<StoredRow>();
    m_waiting.reserve(kRowsPerBatch);
}

void StoredRowWriter::work()
{
    Alongside &a = *m_alongside;
    std::unique_lock<std::mutex> lock(a.mutex);
    for (;;) {
        a.changed.wait(lock, [&a] { return a.stop || !a.full.empty() || (a.meanwhile && !a.resting); });
        if (a.abandon || (a.stop && a.full.empty()))
            return;
        std::exception_ptr error;
        if (a.full.empty()) {
            // The rows come first: the other work is done while the caller makes them.
            const std::function<bool(qint64)> step = a.meanwhile;
            const qint64 written = a.lastWritten;
            lock.unlock();
            bool more = false;
            try {
                more = step(written);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            a.resting = !more;
        } else {
            QVector<StoredRow> batch = std::move(a.full.front());
            a.full.pop_front();
            lock.unlock();
            a.changed.notify_all();
            try {
                write(batch.constData(), batch.size());
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (!error) {
                a.lastWritten = batch.constLast().rowId;
                a.resting = false;
            }
            a.written.push_back(std::move(batch));
        }
        if (error) {
            a.error = error;
            a.full.clear();
            a.changed.notify_all();
            return;
        }
    }
}

namespace {

// One row's values from parameter `first` on. Every value is bound on every row, and bound
// where it lies: the row outlives the step.
int bindRow(sqlite3_stmt *statement, int first, int columns, const StoredRow &r)
{
    int rc = sqlite3_bind_int64(statement, first, r.rowId);
    for (int i = 0; i < columns && rc == SQLITE_OK; ++i) {
        static const StoredCell none;
        const StoredCell &cell = i < r.cells.size() ? r.cells.at(i) : none;
        const int at = first + 1 + i;
        switch (cell.kind) {
        case StoredCell::Null:
            rc = sqlite3_bind_null(statement, at);
            break;
        case StoredCell::Integer:
            rc = sqlite3_bind_int64(statement, at, cell.bytes.toLongLong());
            break;
        case StoredCell::Real: {
            double v = 0;
            if (cell.bytes.size() == sizeof v)
                std::memcpy(&v, cell.bytes.constData(), sizeof v);
            rc = sqlite3_bind_double(statement, at, v);
            break;
        }
        case StoredCell::Text:
            // Bound as the bytes they are: no conversion, no byte-order mark handling.
            rc = sqlite3_bind_text(statement, at, cell.bytes.constData(), int(cell.bytes.size()), SQLITE_STATIC);
            break;
        case StoredCell::Blob:
            // An empty BLOB stays an empty BLOB (a null pointer would bind NULL).
            rc = cell.bytes.isEmpty() ? sqlite3_bind_zeroblob(statement, at, 0)
                                      : sqlite3_bind_blob(statement, at, cell.bytes.constData(), int(cell.bytes.size()),
                                                          SQLITE_STATIC);
            break;
        }
    }
    return rc;
}

} // namespace

void StoredRowWriter::write(const StoredRow *rows, qsizetype count)
{
    while (count > 0) {
        const bool many = count >= kRowsPerStatement;
        sqlite3_stmt *statement = many ? m_many : m_statement;
        const int n = many ? kRowsPerStatement : 1;
        int rc = SQLITE_OK;
        for (int k = 0; k < n && rc == SQLITE_OK; ++k)
            rc = bindRow(statement, 1 + k * (m_columns + 1), m_columns, rows[k]);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (rc != SQLITE_DONE)
            fail(sqlite3_db_handle(statement), QStringLiteral("写入"));
        rows += n;
        count -= n;
    }
}

void StoredRowWriter::meanwhile(std::function<bool(qint64 written)> step)
{
    if (!m_alongside)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_alongside->mutex);
        m_alongside->meanwhile = std::move(step);
    }
    m_alongside->changed.notify_all();
}

void StoredRowWriter::finish()
{
    if (m_alongside) {
        Alongside &a = *m_alongside;
        {
            const std::lock_guard<std::mutex> lock(a.mutex);
            if (!m_waiting.isEmpty())
                a.full.push_back(std::move(m_waiting));
            m_waiting = QVector<StoredRow>();
            a.stop = true;
        }
        a.changed.notify_all();
        a.thread.join();
        const std::exception_ptr error = a.error;
        m_alongside.reset();
        if (error)
            std::rethrow_exception(error);
        return;
    }
    if (!m_statement)
        sendToServer();
}

// The bytes go to the server as they are and become its text there; a number column's
// digits become its number.
void StoredRowWriter::sendToServer()
{
    if (m_waiting.isEmpty())
        return;
    const Shape shape = shapeOf(m_table);
    QString one = QStringLiteral("(?");
    for (int i = 0; i < shape.count; ++i)
        one += (shape.integers >> i) & 1u ? QStringLiteral(", CAST(? AS BIGINT)") : QStringLiteral(", convert_from(?, 'UTF8')");
    one += QLatin1Char(')');
    QStringList tuples;
    QVariantList values;
    for (const StoredRow &r : std::as_const(m_waiting)) {
        tuples << one;
        values << r.rowId;
        for (int i = 0; i < shape.count; ++i) {
            const StoredCell cell = r.cells.value(i);
            if ((shape.integers >> i) & 1u)
                values << (cell.kind == StoredCell::Null ? QVariant(QMetaType::fromType<qlonglong>())
                                                         : QVariant(QString::fromLatin1(cell.bytes)));
            else
                values << (cell.kind == StoredCell::Null ? QVariant(QMetaType::fromType<QByteArray>()) : QVariant(cell.bytes));
        }
    }
    m_waiting.clear();
    m_connection.run(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES ")
                         .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns))
                         + tuples.join(QStringLiteral(", ")),
                     values);
}

namespace {
// The photo rows of a record row's number that no other record row keeps; the row's
// identity is bound twice.
QString leavingPhotos(Connection &c)
{
    return QStringLiteral("%1 AND NOT EXISTS (SELECT 1 FROM Detail AS kept WHERE kept.rowid <> ? AND %2)")
        .arg(c.dialect().sameText(QStringLiteral("photo.\"病案号\""),
                                  QStringLiteral("(SELECT d.\"病案号\" FROM Detail AS d WHERE d.rowid = ?)")),
             c.dialect().sameText(QStringLiteral("kept.\"病案号\""), QStringLiteral("photo.\"病案号\"")));
}

// The identity the table gives its next row: the file's rule for a table without
// AUTOINCREMENT, the server's sequence.
qint64 nextRowIdentity(Connection &c, ArchiveTable table)
{
    const QString name = QString::fromUtf8(shapeOf(table).table);
    QSqlQuery q = fileHandle(c)
        ? c.run(QStringLiteral("SELECT coalesce(max(rowid), 0) + 1 FROM %1").arg(name))
        : c.run(QStringLiteral("SELECT nextval(pg_get_serial_sequence('%1', 'rowid'))").arg(name.toLower()));
    if (!c.next(q))
        throw StoreError(QStringLiteral("无法为表 %1 取得新的行标识。").arg(name));
    return q.value(0).toLongLong();
}
} // namespace

std::optional<StoredRow> storedRecordRow(Connection &c, qint64 rowId)
{
    StoredRows rows(c, ArchiveTable::Detail, QStringLiteral("rowid = ?"), rowId);
    StoredRow row;
    if (!rows.next(row))
        return std::nullopt;
    return row;
}

QVector<StoredRow> storedPhotoRowsLeavingWith(Connection &c, qint64 rowId)
{
    StoredRows rows(c, ArchiveTable::Photo, leavingPhotos(c), rowId);
    QVector<StoredRow> leaving;
    for (StoredRow row; rows.next(row);)
        leaving << row;
    return leaving;
}

int deletePhotoRowsLeavingWith(Connection &c, qint64 rowId)
{
    return c.run(QStringLiteral("DELETE FROM photo WHERE ") + leavingPhotos(c), {rowId, rowId}).numRowsAffected();
}

qint64 insertStoredRow(Connection &c, ArchiveTable table, const StoredRow &row, bool ownIdentity)
{
    StoredRow placed = row;
    if (!ownIdentity)
        placed.rowId = nextRowIdentity(c, table);
    insertStoredRows(c, table, {placed});
    return placed.rowId;
}

void markCopyUnfinished(Connection &c)
{
    c.run(QStringLiteral("CREATE TABLE %1 (started TEXT)").arg(kUnfinishedCopyMark));
}

bool copyMarkedUnfinished(Connection &c)
{
    for (const QString &t : tableNames(c))
        if (t.compare(kUnfinishedCopyMark, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void clearCopyUnfinished(Connection &c) { c.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(kUnfinishedCopyMark)); }

} // namespace store
