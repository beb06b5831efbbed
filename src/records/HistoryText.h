#pragma once
// How the history windows put the trail into words: the fields of a record side by side
// before and after a change, times as the operator reads them, and the trail written out
// as CSV for a spreadsheet.
#include "trail/History.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVector>

namespace records {

// One field of a record before and after a change.
struct FieldChange {
    QString label;  // "病案名称", ...
    QString before; // empty when there was no record before
    QString after;  // empty when there is none after
    bool changed = false;
};
// Every field of the record (type, number, name, path, description, photos one a line),
// in that order; `changed` marks those that differ. Either side may be missing.
QVector<FieldChange> compareStates(const std::optional<store::RecordState> &before,
                                   const std::optional<store::RecordState> &after);
// The fields that differ, by label, joined: what a list shows in one cell ("病案名称、文件说明").
QString changedFieldsText(const store::Change &change);

// What an entry says besides its kind, in one cell: the type's or operator's name, the
// detail, and the fields that changed ("外科；改动：病案名称").
QString entrySummary(const store::HistoryEntry &e);

// A UTC time as local time, "yyyy-MM-dd HH:mm:ss".
QString localTimeText(const QDateTime &utc);

// One CSV field: quoted, inner quotes doubled, and a text that a spreadsheet would take
// for a formula (starting with =, +, -, @, a tab or a carriage return) led by an apostrophe,
// so that an archived text is shown, never run.
QString csvField(const QString &text);
// The header line and one line per entry (CRLF ends every line).
QString csvHeader();
QString csvLine(const store::HistoryEntry &entry);

// Writes the entries the query selects to the file as UTF-8 with a byte-order mark (a
// spreadsheet then reads the Chinese right), under a temporary name renamed when whole.
// Returns how many entries were written; throws store::StoreError with what the operator
// reads when the file cannot be written (nothing is left at the path then).
qint64 exportHistoryCsv(store::Connection &c, const store::HistoryQuery &query, const QString &path);

} // namespace records
