#pragma once
// What the files of statements read their rows and compare their texts with, written once
// for all of them (Statements.cpp, ArchiveStatements.cpp, TrailStatements.cpp and
// BinStatements.cpp); for those files only, not for the store's callers.
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

inline bool server(Connection &c) { return c.backend() == Backend::PostgreSQL; }

// The trail's columns in the order its statements read and write them; the recycle bin's
// move on a server writes the deletion's entry with them too.
const QString kHistoryColumns = QStringLiteral(
    "rowid, changed_at, operator_name, workstation, kind, record_number, record_rowid, subject, "
    "before_state, after_state, detail, record_name, hash");

} // namespace store
