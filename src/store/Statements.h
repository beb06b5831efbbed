#pragma once
// Every statement the program issues, one function each. Values are always bound as
// parameters, so an apostrophe, a quote or a semicolon is stored and found as typed.
// Text comparisons ignore letter case, as operators have always relied on.
#include "store/Database.h"
#include "store/SearchFilter.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace store {

// ---- User: the operators, read by position (UID, PWD, 权限) ----
struct OperatorRow {
    QString name;      // null when the row has no name
    QString password;  // stored form (access/Password.h); null when the row holds no value
    QString authority; // null when the row holds no value
    qint64 rowId = 0;  // tells apart rows whose names differ in letter case only, or not at all
};
int countOperators(Connection &c);
QVector<OperatorRow> readOperators(Connection &c);
bool operatorExists(Connection &c, const QString &name);
void insertOperator(Connection &c, const QString &name, const QString &encodedPassword,
                    const QString &authority);
void deleteOperator(Connection &c, const QString &name);
// Sets password and level of every operator of that name; returns how many rows changed.
int updateOperator(Connection &c, const QString &name, const QString &encodedPassword,
                   const QString &authority);
// The operators whose names equal `name` with letter case ignored, in the order stored.
QVector<OperatorRow> readOperatorsNamed(Connection &c, const QString &name);
// Sets password and level of one row; returns how many rows changed (0: it has gone).
int updateOperatorRow(Connection &c, qint64 rowId, const QString &storedPassword, const QString &authority);
// Replaces one row's password, provided it still holds `expected` (a null value counts as
// the empty text): a password changed meanwhile elsewhere is left alone. Returns how many
// rows changed.
int replaceOperatorPassword(Connection &c, qint64 rowId, const QString &expected, const QString &storedPassword);
// Deletes one row; returns how many rows went (0 when it had gone already).
int deleteOperatorRow(Connection &c, qint64 rowId);
// How many operators have exactly this level.
int countOperatorsWithLevel(Connection &c, const QString &authority);

// ---- Catalog: the record types ----
QStringList readTypes(Connection &c);
bool typeExists(Connection &c, const QString &name);
void insertType(Connection &c, const QString &name);
void renameTypeInCatalog(Connection &c, const QString &oldName, const QString &newName);
void renameTypeInRecords(Connection &c, const QString &oldName, const QString &newName);
void deleteTypeFromCatalog(Connection &c, const QString &name);
void deleteRecordsOfType(Connection &c, const QString &name);

// ---- Detail and photo: the records ----
struct RecordRow {
    qint64 rowId = 0; // tells apart two rows that share a record number
    QString typeName;
    QString number;   // 病案号
    QString name;     // 文件名
    QString path;     // 路径名
    QString description; // 文件说明
};

// What the tree needs of a record; read without the long description.
struct RecordHead {
    qint64 rowId = 0;
    QString number;
    QString name;
};

// The records of one type that meet the search condition, in the order stored.
void forEachRecordOfType(Connection &c, const QString &typeName, const SearchFilter &filter,
                         const std::function<void(const RecordHead &)> &visit);
// The SQL text of that query, for the benchmark's plain fetch.
QString recordsOfTypeSql(const Dialect &dialect, const SearchFilter &filter);

// Every record that meets the search condition, in the order stored, with the type
// name it carries (a null text when it has none): the tree load reads the whole archive
// with this one statement and sorts the records into their types itself.
void forEachRecord(Connection &c, const SearchFilter &filter,
                   const std::function<void(const QString &typeName, const RecordHead &)> &visit);
// Its SQL text, columns type name, row identity, number, name, with one bound value per
// filter.boundValues(): the tree's fast read (store/TreeRows.h) runs the same text.
QString treeRecordsSql(const Dialect &dialect, const SearchFilter &filter);

// All rows with the record number, in the order stored (normally one).
QVector<RecordRow> readRecord(Connection &c, const QString &number);
// The record's photo paths in the order they were inserted.
QStringList readPhotos(Connection &c, const QString &number);
void deleteRecordRows(Connection &c, const QString &number);
// One row by its identity, leaving any other row with the same number alone. Returns
// how many rows went (0 when the row had already gone).
int deleteRecordRow(Connection &c, qint64 rowId);
// How many rows carry the record number (normally none or one).
int countRecordsWithNumber(Connection &c, const QString &number);
void deletePhotoRows(Connection &c, const QString &number);
// Returns the new row's identity.
qint64 insertRecord(Connection &c, const RecordRow &record);
// Puts a row back under its own identity (record.rowId): a modification replaces a row in
// place, so the browser's hold on it and its place among its type's records stay.
void insertRecordRow(Connection &c, const RecordRow &record);
void insertPhoto(Connection &c, const QString &number, const QString &photoPath);

// ---- Schema: made only by the admin tool and by tests ----
void createSchema(Connection &c);
// The statements that give a server's login role what the program needs on the archive at
// `address`, and nothing more: to connect, to read and change the rows of the archive's
// tables, and to number new rows. Not ownership: the role cannot drop, alter or create
// tables, nor read other databases.
QStringList serverGrants(const QString &address, const QString &role);
// True when the file holds the four tables of an archive, table User with the columns
// UID, PWD and 权限 first: tells an archive from another program's database.
bool isArchive(Connection &c);

// ---- Checking and backing up the archive ----
// "ok" alone when the file is sound, else the problems the engine found (at most maxProblems).
QStringList integrityProblems(Connection &c, int maxProblems);
// The tables the file holds, as stored.
QStringList tableNames(Connection &c);
struct TableCounts {
    qint64 catalog = -1;
    qint64 detail = -1;
    qint64 photo = -1;
    qint64 user = -1;
    qint64 history = -1; // 0 when the archive has no trail yet
    qint64 bin = -1;
    bool operator==(const TableCounts &o) const
    {
        return catalog == o.catalog && detail == o.detail && photo == o.photo && user == o.user
            && history == o.history && bin == o.bin;
    }
    bool operator!=(const TableCounts &o) const { return !(*this == o); }
};
TableCounts countTables(Connection &c);
// A file a record names: its attached file, or one of its photos.
struct FileReference {
    QString number;     // 病案号
    QString recordName; // 文件名
    QString path;
    bool photo = false;
};
// Every record's attached file (when it names one) and every photo of a record that
// exists, in the order stored; photo rows left behind by deleted records are skipped.
void forEachFileReference(Connection &c, const std::function<void(const FileReference &)> &visit);
// The first record that names the file as its attached file or as one of its photos
// (the attached files first); an empty path when no record names it.
FileReference findFileReference(Connection &c, const QString &path);
// Photo rows whose record no longer exists (left behind when a type was deleted).
qint64 countOrphanPhotos(Connection &c);
// Records whose type is not in Catalog (none, or a name no type has, letter case of A-Z
// ignored as the tree ignores it), in the order stored: the tree has no type to show them under.
void forEachRecordWithoutType(Connection &c, const std::function<void(const RecordRow &)> &visit);
// A read that sees one state of the archive from its first statement to endRead: on the
// file while other programs wait to write, on the server while they go on writing.
void beginRead(Connection &c);
void endRead(Connection &c);

// ---- Copying a whole archive, row by row with each row's identity ----
// History and RecycleBin are the trail's (store/TrailStatements.h: trailTables()), present
// from schema version 2 on.
enum class ArchiveTable { Catalog, Detail, Photo, User, History, RecycleBin };
// The four tables in the order a copy takes them.
QVector<ArchiveTable> archiveTables();
QString tableName(ArchiveTable table); // as the operator reads it
struct TableRow {
    qint64 rowId = 0;
    QVariantList values; // the table's columns in order; a row without a value holds an invalid QVariant
    bool operator==(const TableRow &o) const;
};
// The rows of one table in the order stored, walked one at a time.
class TableRows {
public:
    TableRows(Connection &c, ArchiveTable table);
    bool next(TableRow &row);

private:
    Connection &m_connection;
    QSqlQuery m_query;
    int m_columns = 0;
};
// Adds rows under their own identities, many in one statement.
void insertTableRows(Connection &c, ArchiveTable table, const QVector<TableRow> &rows);
// After rows came in with identities of their own: the server's next new row gets an
// identity past them all (the file does that by itself).
void continueRowIdentities(Connection &c);
// Removes the archive's tables, the trail's with them (a copy that failed its verification).
void dropArchiveTables(Connection &c);

} // namespace store
