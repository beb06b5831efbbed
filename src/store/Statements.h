#pragma once
// Every statement the program issues, one function each. Values are always bound as
// parameters, so an apostrophe, a quote or a semicolon is stored and found as typed.
// Text comparisons ignore letter case, as operators have always relied on. Here those of
// the operators, the types and the records; those of the archive as a whole (its schema,
// checks, counts and the copy of whole tables) are in store/ArchiveStatements.h, which
// comes with this header.
#include "store/ArchiveStatements.h"
#include "store/Database.h"
#include "store/SearchFilter.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

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
// One row as it is now, by identity and by position as readOperators reads it; nothing
// when it has gone.
std::optional<OperatorRow> readOperatorRow(Connection &c, qint64 rowId);
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

} // namespace store
