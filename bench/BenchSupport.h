#pragma once
// What the benchmarks share.
#include <QString>

namespace bench {

// The server's address for another database: postgresql://host/db?settings.
inline QString withDatabase(const QString &address, const QString &database)
{
    const qsizetype hostStart = address.indexOf(QLatin1String("://")) + 3;
    const qsizetype query = address.indexOf(QLatin1Char('?'));
    qsizetype pathStart = address.indexOf(QLatin1Char('/'), hostStart);
    if (pathStart < 0 || (query >= 0 && pathStart > query))
        pathStart = query < 0 ? address.size() : query;
    return address.left(pathStart) + QLatin1Char('/') + database + (query < 0 ? QString() : address.mid(query));
}

} // namespace bench
