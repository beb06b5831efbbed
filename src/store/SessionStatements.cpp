// The statements a server session keeps prepared, so that a statement run again and again
// costs one round trip instead of three.
#include "store/Database.h"

#include <QHash>
#include <QSet>
#include <QSqlError>

namespace store {

namespace {
// By connection: the driver's by their text, the pipeline's by name. Never freed at exit:
// the driver may be gone by then; a session's are dropped when it is closed.
struct SessionStatements {
    QHash<QString, QSqlQuery> driver;
    QSet<QByteArray> pipeline;
};

QHash<QString, SessionStatements> &sessionStatements()
{
    static auto *prepared = new QHash<QString, SessionStatements>;
    return *prepared;
}
} // namespace

void forgetSessionStatements(const QString &connectionName) { sessionStatements().remove(connectionName); }

QSet<QByteArray> &pipelineStatementsOf(const QString &connectionName)
{
    return sessionStatements()[connectionName].pipeline;
}

QSqlQuery Connection::runOften(const QString &sql, const QVariantList &values)
{
    // A session's first statement may meet a session the server has just ended; run()
    // opens it again. The file's statements cost no round trip.
    if (m_backend != Backend::PostgreSQL || !m_kept || values.isEmpty() || m_statements == 0 || m_sessionChanged)
        return run(sql, values);
    if (!m_atCommit.isEmpty())
        sendPending(nullptr);
    auto &prepared = sessionStatements()[m_name].driver;
    auto it = prepared.find(sql);
    if (it == prepared.end()) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(q.lastError());
        it = prepared.insert(sql, std::move(q));
    }
    QSqlQuery &q = *it;
    bindValues(q, values);
    if (!q.exec())
        fail(q.lastError());
    ++m_statements;
    // The caller's handle shares the kept one's result, which is the point: Qt deprecates
    // the copy because it surprises those who expect two independent queries.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return q;
    QT_WARNING_POP
}

} // namespace store
