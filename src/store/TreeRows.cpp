#include "store/TreeRows.h"

#include "store/Statements.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <cstdlib>

namespace store {

namespace {

// The handle Qt's driver keeps, by the type name Qt gives it.
template <typename Handle>
Handle *driverHandle(Connection &c, const char *name1, const char *name2)
{
    QSqlDatabase &db = c.database();
    if (!db.isValid() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && (qstrcmp(handle.typeName(), name1) == 0 || qstrcmp(handle.typeName(), name2) == 0))
        return *static_cast<Handle *const *>(handle.constData());
    return nullptr;
}

// libpq numbers its parameters; the statement functions write '?' as Qt's driver does.
// A '?' inside a quoted literal or name stays.
QByteArray numberedParameters(const QString &sql)
{
    const QByteArray in = sql.toUtf8();
    QByteArray out;
    out.reserve(in.size() + 16);
    int n = 0;
    char quote = 0;
    for (const char ch : in) {
        if (quote) {
            if (ch == quote)
                quote = 0;
            out += ch;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
            out += ch;
        } else if (ch == '?') {
            out += '$';
            out += QByteArray::number(++n);
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

struct TreeRows::Sqlite {
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    ~Sqlite()
    {
        if (statement)
            sqlite3_finalize(statement);
        if (db)
            sqlite3_progress_handler(db, 0, nullptr, nullptr);
    }
};

struct TreeRows::Server {
    PGconn *connection = nullptr;
    PGresult *result = nullptr;
    int row = -1;
    int rows = 0;
    ~Server()
    {
        if (result)
            PQclear(result);
    }
};

char16_t *TreeRows::decodeStrict(QByteArrayView bytes, char16_t *out)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const uchar b = *p;
        if (b < 0x80) {
            *out++ = b;
            ++p;
            continue;
        }
        // Chinese text is almost all three-byte sequences: they take the short way.
        if ((b & 0xf0) == 0xe0) {
            if (end - p < 3 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80)
                return nullptr;
            const char32_t c = (char32_t(b & 0x0f) << 12) | (char32_t(p[1] & 0x3f) << 6) | char32_t(p[2] & 0x3f);
            // Only the leads E0 (overlong), ED (surrogates) and EF (U+FFFE, U+FFFF) can
            // begin what is refused.
            if ((b == 0xe0 || b == 0xed || b == 0xef) && (c < 0x800 || (c >= 0xd800 && c <= 0xdfff) || c >= 0xfffe))
                return nullptr;
            *out++ = char16_t(c);
            p += 3;
            continue;
        }
        if (b >= 0xc2 && b <= 0xdf) {
            if (end - p < 2 || (p[1] & 0xc0) != 0x80)
                return nullptr;
            *out++ = char16_t((char32_t(b & 0x1f) << 6) | char32_t(p[1] & 0x3f));
            p += 2;
            continue;
        }
        if (b < 0xf0 || b > 0xf4 || end - p < 4 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80
            || (p[3] & 0xc0) != 0x80)
            return nullptr;
        const char32_t c = (char32_t(b & 0x07) << 18) | (char32_t(p[1] & 0x3f) << 12) | (char32_t(p[2] & 0x3f) << 6)
                         | char32_t(p[3] & 0x3f);
        if (c < 0x10000 || c > 0x10ffff)
            return nullptr;
        *out++ = char16_t(0xd800 + ((c - 0x10000) >> 10));
        *out++ = char16_t(0xdc00 + ((c - 0x10000) & 0x3ff));
        p += 4;
    }
    return out;
}

bool TreeRows::strictUtf8(QByteArrayView bytes)
{
    std::vector<char16_t> room(size_t(bytes.size()) + 1);
    return decodeStrict(bytes, room.data()) != nullptr;
}

TreeRows::TreeRows(Connection &connection, const SearchFilter &filter, Checkpoint checkpoint)
    : m_connection(connection), m_checkpoint(std::move(checkpoint))
{
    const QString sql = treeRecordsSql(connection.dialect(), filter);
    const QVariantList values = filter.boundValues();
    if (connection.backend() == Backend::SQLite) {
        m_sqlite = std::make_unique<Sqlite>();
        m_sqlite->db = driverHandle<sqlite3>(connection, "sqlite3*", "sqlite3 *");
        if (!m_sqlite->db)
            throw StoreError(QStringLiteral("数据库驱动没有提供读取所需的接口。"));
        sqlite3 *db = m_sqlite->db;
        auto failure = [this, db] {
            const int code = sqlite3_extended_errcode(db);
            m_connection.fail(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                                        QString::number(code)));
        };
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_sqlite->statement, nullptr) != SQLITE_OK)
            failure();
        for (int i = 0; i < values.size(); ++i) {
            const QByteArray value = values.at(i).toString().toUtf8();
            if (sqlite3_bind_text(m_sqlite->statement, i + 1, value.constData(), int(value.size()), SQLITE_TRANSIENT)
                != SQLITE_OK)
                failure();
        }
        // A search that finds few rows keeps the engine inside one step for long.
        if (m_checkpoint)
            sqlite3_progress_handler(
                db, 200000,
                [](void *self) {
                    auto *rows = static_cast<TreeRows *>(self);
                    try {
                        rows->m_checkpoint(rows->m_rows);
                    } catch (...) {
                    }
                    return 0;
                },
                this);
        return;
    }

    m_server = std::make_unique<Server>();
    PGconn *pg = driverHandle<PGconn>(connection, "pg_conn*", "PGconn*");
    m_server->connection = pg;
    if (!pg)
        throw StoreError(QStringLiteral("数据库驱动没有提供读取所需的接口。"));
    auto failure = [this, pg](PGresult *result) {
        const QString state = result ? QString::fromUtf8(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QString();
        const QString message = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(pg)).trimmed();
        if (result)
            PQclear(result);
        m_connection.fail(QSqlError(QString(), message, QSqlError::StatementError, state));
    };
    // Whatever Qt's driver left unread on the connection would stand before our answer.
    while (PGresult *left = PQgetResult(pg))
        PQclear(left);
    std::vector<QByteArray> utf8;
    std::vector<const char *> pointers;
    for (const QVariant &v : values)
        utf8.push_back(v.toString().toUtf8());
    for (const QByteArray &v : utf8)
        pointers.push_back(v.constData());
    const QByteArray statement = numberedParameters(sql);
    if (!PQsendQueryParams(pg, statement.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr,
                           nullptr, 0))
        failure(nullptr);
    // The whole answer in one piece, the fastest libpq gives it; the window is kept alive
    // while the server works.
    while (PQisBusy(pg)) {
        pollfd p{PQsocket(pg), POLLIN, 0};
        poll(&p, 1, m_checkpoint ? 50 : -1);
        if (m_checkpoint)
            m_checkpoint(0);
        if (!PQconsumeInput(pg))
            break;
    }
    PGresult *result = PQgetResult(pg);
    while (PGresult *left = PQgetResult(pg))
        PQclear(left);
    if (!result || PQresultStatus(result) != PGRES_TUPLES_OK)
        failure(result);
    m_server->result = result;
    m_server->rows = PQntuples(result);
}

TreeRows::~TreeRows() = default;

bool TreeRows::next()
{
    if (m_checkpoint && m_rows % kCheckpointRows == 0 && m_rows > 0)
        m_checkpoint(m_rows);
    if (m_sqlite) {
        const int rc = sqlite3_step(m_sqlite->statement);
        if (rc == SQLITE_ROW) {
            ++m_rows;
            return true;
        }
        if (rc == SQLITE_DONE)
            return false;
        sqlite3 *db = m_sqlite->db;
        m_connection.fail(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                                    QString::number(sqlite3_extended_errcode(db))));
    }
    if (m_server->row + 1 >= m_server->rows)
        return false;
    ++m_server->row;
    ++m_rows;
    return true;
}

qint64 TreeRows::rowId() const
{
    if (m_sqlite)
        return sqlite3_column_int64(m_sqlite->statement, RowId);
    return std::strtoll(PQgetvalue(m_server->result, m_server->row, RowId), nullptr, 10);
}

bool TreeRows::isNull(int column) const
{
    if (m_sqlite)
        return sqlite3_column_type(m_sqlite->statement, column) == SQLITE_NULL;
    return PQgetisnull(m_server->result, m_server->row, column);
}

QByteArrayView TreeRows::bytes(int column) const
{
    if (m_sqlite) {
        sqlite3_stmt *s = m_sqlite->statement;
        if (sqlite3_column_type(s, column) != SQLITE_TEXT)
            return {};
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, column));
        return QByteArrayView(p ? p : "", sqlite3_column_bytes(s, column));
    }
    // libpq gives a missing value as an empty text: only an empty one needs asking about.
    const int length = PQgetlength(m_server->result, m_server->row, column);
    if (length == 0 && PQgetisnull(m_server->result, m_server->row, column))
        return {};
    return QByteArrayView(PQgetvalue(m_server->result, m_server->row, column), length);
}

QString TreeRows::text(int column) const
{
    if (m_server) {
        if (PQgetisnull(m_server->result, m_server->row, column))
            return {};
        return QString::fromUtf8(PQgetvalue(m_server->result, m_server->row, column));
    }
    // As Qt's driver reads each kind of value, and as Statements turns it into text.
    sqlite3_stmt *s = m_sqlite->statement;
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
        return QString::number(sqlite3_column_int64(s, column));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s, column)).toString();
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(s, column)),
                                   sqlite3_column_bytes(s, column)))
            .toString();
    default:
        // The engine repairs broken UTF-8 on the way to UTF-16, as it does for the driver.
        return QString(static_cast<const QChar *>(sqlite3_column_text16(s, column)),
                       sqlite3_column_bytes16(s, column) / int(sizeof(QChar)));
    }
}

void TreeRows::appendText(int column, QString &out) const
{
    const QByteArrayView raw = bytes(column);
    if (!raw.isNull()) {
        const qsizetype at = out.size();
        const qsizetype needed = at + raw.size(); // never fewer UTF-8 bytes than UTF-16 units
        if (out.capacity() < needed)
            out.reserve(qMax(needed, out.capacity() * 2));
        out.resize(needed);
        const char16_t *end = decodeStrict(raw, reinterpret_cast<char16_t *>(out.data()) + at);
        if (end) {
            out.resize(end - reinterpret_cast<const char16_t *>(out.constData()));
            return;
        }
        out.resize(at); // repaired as Qt's driver would have it
    }
    out += text(column);
}

} // namespace store
