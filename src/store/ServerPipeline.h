#pragma once
// Statements sent to a server together, answered together: one round trip for all of them
// instead of one each (libpq's pipeline mode). A write's last statements go with its COMMIT.
#include <QByteArray>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVector>
#include <optional>

typedef struct pg_conn PGconn;

namespace store {

struct PendingStatement {
    QByteArray name; // the session's name for it: prepared once, run by name from then on
    QByteArray sql;  // $1, $2... mark the values
    QVariantList values;
};

struct PipelineFailure {
    QString message; // the server's or libpq's words
    QString sqlState;
};

// Runs the statements in order, then `finalCommand` when given (COMMIT), in one round trip.
// A statement not yet prepared on this session is prepared in the same trip and its name
// added to `prepared`. Returns the first failure (the server skips everything after it);
// nothing when all went well. Whatever an earlier statement left unread is discarded first.
std::optional<PipelineFailure> runPipelined(PGconn *connection, QSet<QByteArray> &prepared,
                                            const QVector<PendingStatement> &statements, const char *finalCommand);

// What a server session has prepared, by the driver's name of its connection; dropped with
// the session.
void forgetSessionStatements(const QString &connectionName);
QSet<QByteArray> &pipelineStatementsOf(const QString &connectionName);

} // namespace store
