#include "store/ArchiveIdentity.h"

#include "store/StatementHelpers.h"

#include <QRandomGenerator>

namespace store {

namespace {

QString newIdentity()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString id;
    for (const quint32 w : words)
        id += QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
    return id;
}

bool hasIdentityTable(Connection &c)
{
    QSqlQuery q = server(c) ? c.run(QStringLiteral("SELECT to_regclass('archiveidentity') IS NOT NULL"))
                            : c.run(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                                   "AND name = 'ArchiveIdentity' COLLATE NOCASE"));
    return c.next(q) && q.value(0).toBool();
}

} // namespace

void addArchiveIdentity(Connection &c)
{
    c.run(QStringLiteral("CREATE TABLE IF NOT EXISTS ArchiveIdentity (id TEXT NOT NULL)"));
    c.run(QStringLiteral("INSERT INTO ArchiveIdentity (id) SELECT CAST(? AS TEXT) WHERE NOT EXISTS (SELECT 1 FROM ArchiveIdentity)"),
          {newIdentity()});
}

QString archiveIdentity(Connection &c)
{
    if (!hasIdentityTable(c))
        return QString();
    QSqlQuery q = c.run(QStringLiteral("SELECT min(id) FROM ArchiveIdentity"));
    return c.next(q) ? text(q, 0) : QString();
}

void setArchiveIdentity(Connection &c, const QString &identity)
{
    c.run(QStringLiteral("DELETE FROM ArchiveIdentity"));
    c.run(QStringLiteral("INSERT INTO ArchiveIdentity (id) VALUES (?)"), {identity});
}

QStringList archiveIdentityGrants(const QString &quotedRole)
{
    return {QStringLiteral("GRANT SELECT ON TABLE \"archiveidentity\" TO %1;").arg(quotedRole)};
}

} // namespace store
