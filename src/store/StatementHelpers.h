#pragma once
// What the files of statements read their rows and compare their texts with, written once
// for both of them (Statements.cpp and ArchiveStatements.cpp); for those files only, not
// for the store's callers.
#include "store/Database.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace store {

inline QString text(const QSqlQuery &q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}

// "column = ?" with letter case ignored, as the archive's engine spells it.
inline QString same(Connection &c, const QString &column) { return c.dialect().sameText(column); }

} // namespace store
