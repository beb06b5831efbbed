#pragma once
// The archive's four tables as they are found in a Jet file, and one Jet row turned into
// the archive's cells: each text decoded strictly, a cell without a value kept without one.
#include "jet/JetReader.h"
#include "jet/JetText.h"
#include "store/Statements.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace importing {

// Why an import stops, for the operator.
struct Refusal {
    QString message;
};

struct TablePlan {
    store::ArchiveTable table = store::ArchiveTable::Catalog;
    jet::JetTable jet;
    QString jetName;       // decoded
    QVector<int> columnOf; // the archive's column -> the Jet table's
    QVector<int> extra;    // Jet columns the archive has no place for: they must be empty
    QStringList extraNames;
    int pathColumn = -1;   // the archive's column that names a file
};

// Catalog, Detail, photo and User in that order, found by name with letter case ignored,
// every column of the archive present and holding text. Throws Refusal naming what is not
// there; the file's other tables are named in otherTables.
QVector<TablePlan> planTables(const jet::JetListing &listing, const jet::TextDecoder &decoder,
                              QStringList *otherTables);

struct Value {
    bool null = true;
    QString text;    // where it was asked for
    QByteArray utf8; // the text as the archive keeps it
    // To be stored as `t` (a path mapped): `text` keeps what was read, and its room for
    // the next row's.
    void storeAs(const QString &t)
    {
        if (!t.isSharedWith(text))
            utf8 = t.toUtf8();
    }
};

// One Jet row as the archive's values. Throws Refusal naming the row (rowNumber counts
// from 1 in the order stored) and the column when a text does not decode, a column the
// archive has no place for holds a value, or a server could not keep a text as it is.
// textColumns: the archive's columns (a bit each) whose text is wanted beside its UTF-8.
void decodeRow(const TablePlan &plan, const jet::TextDecoder &decoder, bool toServer, qint64 rowNumber,
               const QVector<jet::JetCell> &cells, QVector<Value> &values, quint32 textColumns = ~0u);

// "表 Detail 第 12 行（病案号 “240101080000”）", for messages.
QString rowLabel(const TablePlan &plan, qint64 rowNumber, const QVector<Value> &values);

} // namespace importing
