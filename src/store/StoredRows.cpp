#include "store/StoredRows.h"

#include <QSqlDriver>

#include <sqlite3.h>

#include <cstring>

namespace store {

const QString kUnfinishedCopyMark = QStringLiteral("casearchive_unfinished_copy");

namespace {

struct Shape {
    const char *table;   // in SQL
    const char *columns; // in SQL, in order
    int count;
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
    case ArchiveTable::User:
        break;
    }
    return {"\"User\"", "UID, PWD, \"权限\"", 3};
}

// The columns as the server should hand them over: as their UTF-8 bytes, because Qt's
// text conversion drops a leading U+FEFF.
QString serverColumns(const Shape &shape, const QString &wrap)
{
    QStringList out;
    for (const QString &column : QString::fromUtf8(shape.columns).split(QStringLiteral(", ")))
        out << wrap.arg(column);
    return out.join(QStringLiteral(", "));
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

} // namespace

namespace {
// The row at the statement's cursor: its identity in the first column, then the cells.
void readCells(sqlite3_stmt *statement, StoredRow &row)
{
    row.rowId = sqlite3_column_int64(statement, 0);
    for (int i = 0; i < row.cells.size(); ++i) {
        StoredCell &cell = row.cells[i];
        const int column = i + 1;
        switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            cell.kind = StoredCell::Integer;
            cell.bytes = QByteArray::number(qlonglong(sqlite3_column_int64(statement, column)));
            break;
        case SQLITE_FLOAT: {
            cell.kind = StoredCell::Real;
            const double v = sqlite3_column_double(statement, column);
            cell.bytes = QByteArray(reinterpret_cast<const char *>(&v), sizeof v);
            break;
        }
        case SQLITE_TEXT: {
            cell.kind = StoredCell::Text;
            const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
            cell.bytes = QByteArray(p, sqlite3_column_bytes(statement, column));
            break;
        }
        case SQLITE_BLOB: {
            cell.kind = StoredCell::Blob;
            const auto *p = static_cast<const char *>(sqlite3_column_blob(statement, column));
            cell.bytes = QByteArray(p, sqlite3_column_bytes(statement, column));
            break;
        }
        default:
            cell.kind = StoredCell::Null;
            cell.bytes.clear();
            break;
        }
    }
}
// The same for a row the server handed over as its columns' UTF-8 bytes (serverColumns).
void readServerCells(const QSqlQuery &q, StoredRow &row)
{
    row.rowId = q.value(0).toLongLong();
    // The server's text is UTF-8 without NUL by its own rules.
    for (int i = 0; i < row.cells.size(); ++i) {
        StoredCell &cell = row.cells[i];
        if (q.isNull(i + 1)) {
            cell.kind = StoredCell::Null;
            cell.bytes.clear();
        } else {
            cell.kind = StoredCell::Text;
            cell.bytes = q.value(i + 1).toByteArray();
        }
    }
}

// Binds one cell as it is stored: no conversion of its bytes, its storage class kept.
int bindCell(sqlite3_stmt *statement, int at, const StoredCell &cell)
{
    switch (cell.kind) {
    case StoredCell::Null:
        return sqlite3_bind_null(statement, at);
    case StoredCell::Integer:
        return sqlite3_bind_int64(statement, at, cell.bytes.toLongLong());
    case StoredCell::Real: {
        double v = 0;
        if (cell.bytes.size() == sizeof v)
            std::memcpy(&v, cell.bytes.constData(), sizeof v);
        return sqlite3_bind_double(statement, at, v);
    }
    case StoredCell::Text:
        // Bound as the bytes they are: no conversion, no byte-order mark handling.
        return sqlite3_bind_text(statement, at, cell.bytes.constData(), int(cell.bytes.size()), SQLITE_TRANSIENT);
    case StoredCell::Blob:
        // An empty BLOB stays an empty BLOB (a null pointer would bind NULL).
        return cell.bytes.isEmpty()
            ? sqlite3_bind_zeroblob(statement, at, 0)
            : sqlite3_bind_blob(statement, at, cell.bytes.constData(), int(cell.bytes.size()), SQLITE_TRANSIENT);
    }
    return SQLITE_MISUSE;
}

// A cell as the server's statement takes it: its bytes, or no value.
QVariant serverValue(const StoredCell &cell)
{
    return cell.kind == StoredCell::Null ? QVariant(QMetaType::fromType<QByteArray>()) : QVariant(cell.bytes);
}
} // namespace

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
    case ArchiveTable::User:
        break;
    }
    return {QStringLiteral("UID"), QStringLiteral("PWD"), QStringLiteral("权限")};
}

StoredRows::StoredRows(Connection &c, ArchiveTable table) : m_connection(c)
{
    const Shape shape = shapeOf(table);
    m_columns = shape.count;
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid");
    if (sqlite3 *db = fileHandle(c))
        m_statement = prepare(db, sql.arg(QString::fromUtf8(shape.columns), QString::fromUtf8(shape.table)),
                              QStringLiteral("读取"));
    else
        m_query = c.run(sql.arg(serverColumns(shape, QStringLiteral("convert_to(%1, 'UTF8')")),
                                QString::fromUtf8(shape.table)));
}

StoredRows::~StoredRows() { sqlite3_finalize(m_statement); }

bool StoredRows::next(StoredRow &row)
{
    row.cells.resize(m_columns);
    if (!m_statement) {
        if (!m_connection.next(m_query))
            return false;
        readServerCells(m_query, row);
        return true;
    }
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail(sqlite3_db_handle(m_statement), QStringLiteral("读取"));
    readCells(m_statement, row);
    return true;
}

void insertStoredRows(Connection &c, ArchiveTable table, const QVector<StoredRow> &rows)
{
    if (rows.isEmpty())
        return;
    sqlite3 *db = fileHandle(c);
    const Shape shape = shapeOf(table);
    if (!db) {
        // The bytes go to the server as they are and become its text there.
        QString one = QStringLiteral("(?");
        for (int i = 0; i < shape.count; ++i)
            one += QStringLiteral(", convert_from(?, 'UTF8')");
        one += QLatin1Char(')');
        QStringList tuples;
        QVariantList values;
        for (const StoredRow &r : rows) {
            tuples << one;
            values << r.rowId;
            for (int i = 0; i < shape.count; ++i)
                values << serverValue(r.cells.value(i));
        }
        c.run(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES ")
                  .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns))
                  + tuples.join(QStringLiteral(", ")),
              values);
        return;
    }
    QString marks = QStringLiteral("?");
    for (int i = 0; i < shape.count; ++i)
        marks += QStringLiteral(", ?");
    sqlite3_stmt *statement = prepare(db,
                                      QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3)")
                                          .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns), marks),
                                      QStringLiteral("写入"));
    for (const StoredRow &r : rows) {
        int rc = sqlite3_bind_int64(statement, 1, r.rowId);
        for (int i = 0; i < shape.count && rc == SQLITE_OK; ++i)
            rc = bindCell(statement, i + 2, r.cells.value(i));
        if (rc == SQLITE_OK)
            rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(statement);
            fail(db, QStringLiteral("写入"));
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
    sqlite3_finalize(statement);
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

// The rows of the table where the condition holds, every `?` of it bound to rowId.
QVector<StoredRow> storedRowsWhere(Connection &c, ArchiveTable table, const QString &condition, qint64 rowId)
{
    const Shape shape = shapeOf(table);
    const int marks = int(condition.count(QLatin1Char('?')));
    QVector<StoredRow> rows;
    StoredRow row;
    row.cells.resize(shape.count);
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3 ORDER BY rowid");
    sqlite3 *db = fileHandle(c);
    if (!db) {
        QSqlQuery q = c.run(sql.arg(serverColumns(shape, QStringLiteral("convert_to(%1, 'UTF8')")),
                                    QString::fromUtf8(shape.table), condition),
                            QVariantList(marks, rowId));
        while (c.next(q)) {
            readServerCells(q, row);
            rows << row;
        }
        return rows;
    }
    sqlite3_stmt *statement =
        prepare(db, sql.arg(QString::fromUtf8(shape.columns), QString::fromUtf8(shape.table), condition), QStringLiteral("读取"));
    int rc = SQLITE_OK;
    for (int i = 1; i <= marks && rc == SQLITE_OK; ++i)
        rc = sqlite3_bind_int64(statement, i, rowId);
    while (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        readCells(statement, row);
        rows << row;
        rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        fail(db, QStringLiteral("读取"));
    return rows;
}
} // namespace

std::optional<StoredRow> storedRecordRow(Connection &c, qint64 rowId)
{
    const QVector<StoredRow> rows = storedRowsWhere(c, ArchiveTable::Detail, QStringLiteral("rowid = ?"), rowId);
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QVector<StoredRow> storedPhotoRowsLeavingWith(Connection &c, qint64 rowId)
{
    return storedRowsWhere(c, ArchiveTable::Photo, leavingPhotos(c), rowId);
}

int deletePhotoRowsLeavingWith(Connection &c, qint64 rowId)
{
    return c.run(QStringLiteral("DELETE FROM photo WHERE ") + leavingPhotos(c), {rowId, rowId}).numRowsAffected();
}

qint64 insertStoredRow(Connection &c, ArchiveTable table, const StoredRow &row, bool ownIdentity)
{
    const Shape shape = shapeOf(table);
    sqlite3 *db = fileHandle(c);
    if (!db) {
        QString marks = ownIdentity ? QStringLiteral("?") : QStringLiteral("DEFAULT");
        QVariantList values;
        if (ownIdentity)
            values << row.rowId;
        for (int i = 0; i < shape.count; ++i) {
            marks += QStringLiteral(", convert_from(?, 'UTF8')");
            values << serverValue(row.cells.value(i));
        }
        QSqlQuery q = c.run(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3) RETURNING rowid")
                                .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns), marks),
                            values);
        if (!c.next(q))
            throw StoreError(QStringLiteral("无法写入表 %1。").arg(QString::fromUtf8(shape.table)));
        return q.value(0).toLongLong();
    }
    QString marks = QStringLiteral("?");
    for (int i = 0; i < shape.count; ++i)
        marks += QStringLiteral(", ?");
    sqlite3_stmt *statement = prepare(db,
                                      QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3)")
                                          .arg(QString::fromUtf8(shape.table), QString::fromUtf8(shape.columns), marks),
                                      QStringLiteral("写入"));
    // No identity of its own: the file gives the next one.
    int rc = ownIdentity ? sqlite3_bind_int64(statement, 1, row.rowId) : sqlite3_bind_null(statement, 1);
    for (int i = 0; i < shape.count && rc == SQLITE_OK; ++i)
        rc = bindCell(statement, i + 2, row.cells.value(i));
    if (rc == SQLITE_OK)
        rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        fail(db, QStringLiteral("写入"));
    return sqlite3_last_insert_rowid(db);
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
