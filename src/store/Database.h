#pragma once
// The archive: an SQLite file, or a database on a PostgreSQL server named by a connection
// address (store/Dialect.h). Every operation opens it, works and closes it again before
// it returns. The file is really closed, so another program (or a copy on a network
// folder) sees a consistent archive whenever this program is idle. The server shares
// nothing through a file: there one connection per address stays open for the run and
// each operation borrows it, checked first and opened again after a server restart.
#include "store/Dialect.h"
#include "store/ServerPipeline.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>
#include <initializer_list>
#include <stdexcept>

namespace store {

// A failure of the store, carrying a description the operator can be shown.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString &description);
    const QString &description() const { return m_description; }

private:
    QString m_description;
};

class Connection {
public:
    // Opens an existing archive file for reading and writing. Never creates a file.
    // Throws StoreError when the file is missing or is not a database. A server address
    // connects to that database on the server; the password comes from the user's
    // ~/.pgpass (or PGPASSFILE) or the server trusts the user's login, never from the
    // address.
    explicit Connection(const QString &path);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Runs one statement with its values bound in order; throws StoreError on failure.
    // The query walks its rows forward only.
    QSqlQuery run(const QString &sql, std::initializer_list<QVariant> values = {});
    QSqlQuery run(const QString &sql, const QVariantList &values);
    // The same, for a statement that every save or deletion runs. Qt's server driver
    // prepares, runs and frees each statement with values: three round trips. On a
    // server's kept session this one is prepared once and from then on run by name, one
    // round trip. Its rows must be read before the same statement runs again.
    QSqlQuery runOften(const QString &sql, const QVariantList &values);
    // For a statement that ends a write and returns nothing (a server's; $1, $2... mark the
    // values): inside a transaction it goes with the COMMIT, one round trip for both, and
    // its failure fails the commit, so the write rolls back. Anything run before the commit
    // sends it first, so statements keep their order. Outside a transaction it runs at once.
    // `name` is the session's name for it, prepared once.
    void runAtCommit(const QByteArray &name, const QByteArray &sql, const QVariantList &values);

    // Moves a read to its next row. Returns false at the end; throws StoreError when the
    // row could not be read, so that a damaged file never passes for a short one.
    bool next(QSqlQuery &query);

    const QString &path() const { return m_path; }
    QSqlDatabase &database() { return m_db; }
    Backend backend() const { return m_backend; }
    const Dialect &dialect() const { return Dialect::of(m_backend); }
    // True when the server connection has broken (server stopped, network gone).
    bool connectionLost();

    // Reports a failure of the engine as every statement does (the damage rule included).
    [[noreturn]] void fail(const QSqlError &e);

    // Creates an empty file for a new archive; used by the admin tool and tests only.
    // For a server address: connects to that database, which must exist already.
    static Connection createNew(const QString &path);
    // Opens an archive file that nobody writes any more (a backup's copy) to read it only:
    // read-only and immutable, so that nothing is written into it or beside it, not even a
    // journal found beside it rolled in. Its statements must not write.
    static Connection openUnchanging(const QString &path);

private:
    struct CreateTag {};
    struct UnchangingTag {};
    Connection(const QString &path, CreateTag);
    Connection(const QString &path, UnchangingTag);
    void open(const QString &uri);
    void openServer();
    void release();
    bool borrowKept();
    void reopenServer();
    QString describe(const QSqlError &e);
    static void bindValues(QSqlQuery &q, const QVariantList &values);
    void sendPending(const char *finalCommand);
    friend class Transaction;

    QString m_path;
    QString m_name;
    QSqlDatabase m_db;
    Backend m_backend = Backend::SQLite;
    QString m_keptKey;       // the address and the lock wait its session was opened with
    bool m_kept = false;     // the address's kept connection, given back at the end
    bool m_borrowed = false; // kept from an earlier operation (not opened for this one)
    int m_statements = 0;    // statements run successfully
    bool m_sessionChanged = false; // a setting of the session changed: not kept for the next
    bool m_inTransaction = false;
    QVector<PendingStatement> m_atCommit; // sent with the COMMIT
};

// Closes the server connections kept open (the program's end; tests).
void closeKeptConnections();
// How many server connections this process has opened so far (tests, the benchmark).
int serverConnectionsOpened();

// True once the store has reported the archive file damaged in this run: every
// transaction on it is refused from then on.
bool writesRefused(const QString &path);
void resetDamageForTests();
// How long an open or a statement waits for another program's lock before it fails
// (5 s unless set; tests shorten it). On a server: the wait for another workstation's
// write lock or row locks.
void setBusyTimeout(int milliseconds);

// The statements of one write operation: all take effect or none does.
// A writer takes the archive's write lock at the start (BEGIN IMMEDIATE on the file, an
// advisory lock on the server) so that it waits for another program's write there
// instead of failing half-way through.
class Transaction {
public:
    explicit Transaction(Connection &connection);
    ~Transaction(); // rolls back unless committed
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    Connection &m_connection;
    bool m_open = false;
};

} // namespace store
