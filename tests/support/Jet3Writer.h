#pragma once
// A Jet 3 (Access 97) file laid out from the mdbtools project's description of the format
// (its HACKING.md, in Debian's libmdb3 package): text and memo columns only, in a code page
// of the test's choosing, recorded in the file's header. No tool on Debian writes Jet
// files, and the earlier system's archive is one, so the tests make their own; mdbtools'
// mdb-tables, mdb-schema and mdb-export read them back to show that the layout is right.
#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

namespace testing {

struct JetColumnSpec {
    QString name;
    bool memo = false; // a memo (long text) column, else text of up to `size` bytes
    int size = 255;
};

using JetValue = std::optional<QByteArray>; // the stored bytes; no value: nullopt

struct JetTableSpec {
    QString name;
    QVector<JetColumnSpec> columns;
    QVector<QVector<JetValue>> rows;
};

// The text in a code page as iconv names it ("CP936"); fails the test when it has no such text.
QByteArray inCodePage(const QString &text, const char *codePage = "CP936");
// A row's values in the code page, a null QString standing for no value.
QVector<JetValue> jetRow(const QStringList &values, const char *codePage = "CP936");

// Writes the file (replacing any there). codePage is recorded in the header (0: none),
// and names are written in it too.
void writeJet3(const QString &path, const QVector<JetTableSpec> &tables, int codePage = 936,
               const char *nameCodePage = "CP936");

} // namespace testing
