#include "store/ServerPipeline.h"

#include <libpq-fe.h>

#include <string>
#include <vector>

namespace store {

namespace {

PipelineFailure failureOf(PGconn *connection, const PGresult *result)
{
    PipelineFailure f;
    const char *message = result ? PQresultErrorMessage(result) : nullptr;
    f.message = QString::fromUtf8(message && *message ? message : PQerrorMessage(connection)).trimmed();
    if (result)
        if (const char *state = PQresultErrorField(result, PG_DIAG_SQLSTATE))
            f.sqlState = QString::fromLatin1(state);
    if (f.message.isEmpty())
        f.message = QStringLiteral("the server did not answer");
    return f;
}

// The values as libpq takes them: text, except bytes, which go as they are (binary).
struct Values {
    std::vector<QByteArray> bytes;
    std::vector<const char *> pointers;
    std::vector<int> lengths;
    std::vector<int> formats;

    explicit Values(const QVariantList &values)
    {
        bytes.reserve(values.size());
        for (const QVariant &v : values) {
            int format = 0;
            if (v.isNull() && v.typeId() != QMetaType::QString) {
                bytes.emplace_back();
                pointers.push_back(nullptr);
            } else {
                if (v.typeId() == QMetaType::QByteArray) {
                    bytes.push_back(v.toByteArray());
                    format = 1;
                } else {
                    // An empty text is the empty text, never no value, as every bound value.
                    bytes.push_back(v.toString().toUtf8());
                }
                pointers.push_back(bytes.back().constData());
            }
            lengths.push_back(int(bytes.back().size()));
            formats.push_back(format);
        }
    }
};

} // namespace

std::optional<PipelineFailure> runPipelined(PGconn *connection, QSet<QByteArray> &prepared,
                                            const QVector<PendingStatement> &statements, const char *finalCommand)
{
    if (!connection || PQstatus(connection) != CONNECTION_OK)
        return PipelineFailure{QString::fromUtf8(connection ? PQerrorMessage(connection) : "no connection").trimmed(),
                               QStringLiteral("08003")};
    // The session answers in order: what the driver left unread of its last statement goes.
    while (PGresult *left = PQgetResult(connection))
        PQclear(left);
    if (!PQenterPipelineMode(connection))
        return failureOf(connection, nullptr);

    // What each answer is for: the name a prepare is for, or empty for a statement run.
    std::vector<QByteArray> answers;
    QSet<QByteArray> preparing;
    bool sent = true;
    for (const PendingStatement &s : statements) {
        if (!prepared.contains(s.name) && !preparing.contains(s.name)) {
            sent = sent && PQsendPrepare(connection, s.name.constData(), s.sql.constData(), 0, nullptr);
            answers.push_back(s.name);
            preparing.insert(s.name);
        }
        const Values v(s.values);
        sent = sent && PQsendQueryPrepared(connection, s.name.constData(), int(v.pointers.size()), v.pointers.data(),
                                           v.lengths.data(), v.formats.data(), 0);
        answers.emplace_back();
    }
    if (finalCommand) {
        sent = sent && PQsendQueryParams(connection, finalCommand, 0, nullptr, nullptr, nullptr, nullptr, 0);
        answers.emplace_back();
    }
    sent = sent && PQpipelineSync(connection);

    std::optional<PipelineFailure> failure;
    if (!sent)
        failure = failureOf(connection, nullptr);
    // Each statement's answers end with no result; the whole with the sync. Two "no result"
    // in a row mean nothing more is coming (a broken connection).
    size_t answer = 0;
    int empty = 0;
    while (sent) {
        PGresult *result = PQgetResult(connection);
        if (!result) {
            if (++empty >= 2)
                break;
            ++answer;
            continue;
        }
        empty = 0;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_PIPELINE_SYNC) {
            PQclear(result);
            break;
        }
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR) {
            if (!failure)
                failure = failureOf(connection, result);
        } else if (status == PGRES_COMMAND_OK && answer < answers.size() && !answers[answer].isEmpty()) {
            prepared.insert(answers[answer]);
        }
        PQclear(result);
    }
    if (!PQexitPipelineMode(connection)) {
        while (PGresult *left = PQgetResult(connection))
            PQclear(left);
        PQexitPipelineMode(connection);
    }
    if (!failure && PQstatus(connection) != CONNECTION_OK)
        failure = failureOf(connection, nullptr);
    return failure;
}

} // namespace store
