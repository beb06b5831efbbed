#pragma once
// What an import found in the earlier archive and kept as it was: the report at its end.
// None of it stops an import; the program shows such records as they are.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace importing {

// A file a record names that is not there, its line of the report made only when it is
// shown: an archive whose shared folder is not mapped yet may miss every one of its files.
struct MissingFile {
    QByteArray number; // UTF-8, as the archive keeps it
    QByteArray name;   // of the first record with that number
    bool photo = false;
    QString path; // as the archive keeps it
    QString why;
    QString line() const; // "record N (name): photo PATH - why"
};

} // namespace importing

// Moved in memory as it is when the list grows: hundreds of thousands of them may be listed.
Q_DECLARE_TYPEINFO(importing::MissingFile, Q_RELOCATABLE_TYPE);

namespace importing {

struct ImportFindings {
    // Files named by records (attached files and photos).
    qint64 filesNamed = 0;
    qint64 filesFound = 0;
    qint64 filesFoundOtherCase = 0; // found with letter case ignored, stored as spelled on disk
    QVector<MissingFile> missing;
    // Records and types.
    qint64 recordsWithoutType = 0;   // their type is not in Catalog (letters A-Z of any case)
    qint64 duplicateNumbers = 0;     // record numbers held by more than one record
    qint64 recordsSharingNumbers = 0;
    qint64 duplicateTypeNames = 0;   // type names held more than once, letter case ignored
    qint64 nullValues = 0;           // cells without a value, in the four tables
    qint64 emptyTexts = 0;
    // Operators: listed, never dropped.
    QStringList operatorNotes;
    QStringList otherTables; // tables of the file that are not the archive's, not imported

    // The report as the admin tool prints it; the missing files listed unless listMissing is false.
    QString text(bool listMissing) const;
    QStringList missingLines() const;
};

} // namespace importing

#include "importing/PathMapping.h"

#include <QHash>
#include <QSet>
#include <QVector>

namespace importing {

struct Value;

// Gathers the findings while the rows are written, table by table in the import's order
// (Catalog first, so that the records' types can be looked up).
class FindingsCollector {
public:
    explicit FindingsCollector(ImportFindings &findings) : m_f(findings) {}
    void countValues(const QVector<Value> &values);
    void type(const QVector<Value> &row);
    void record(const QVector<Value> &row);
    void operatorRow(qint64 rowNumber, const QVector<Value> &row);
    // A file a record names, as the import mapped it.
    void file(const QByteArray &number, bool photo, const QString &original, const MappedPath &mapped);
    // After the last row.
    void finish();

private:
    ImportFindings &m_f;
    // Types, numbers and names as their UTF-8: the records' are not decoded to text for it.
    QSet<QByteArray> m_types;        // letters A-Z folded
    QHash<QString, int> m_typeCounts;
    struct Number {
        int records = 0;
        QByteArray name; // of its first record
    };
    QHash<QByteArray, Number> m_numbers; // one look-up a record
    // The number looked up last, and the name it has: a record's files come with it, its
    // photos one after another.
    QByteArray m_lastNumber;
    QByteArray m_lastName;
    bool m_haveLast = false;
    QHash<QString, QStringList> m_operators; // name folded -> names as stored
    QStringList m_operatorOrder;
};

} // namespace importing
