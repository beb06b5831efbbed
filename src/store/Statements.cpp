#include "store/Statements.h"

#include "store/StatementHelpers.h"

#include <QSqlRecord>

namespace store {

// ---- User ----

int countOperators(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM \"User\""));
    return c.next(q) ? q.value(0).toInt() : 0;
}

QVector<OperatorRow> readOperators(Connection &c)
{
    // By position: a table whose first three columns are not UID, PWD, 权限 breaks
    // the login, as it always did.
    // The row identity comes last (on the server it is also one of the table's columns).
    QSqlQuery q = c.run(QStringLiteral("SELECT *, rowid FROM \"User\" ORDER BY rowid"));
    QVector<OperatorRow> rows;
    while (c.next(q))
        rows.push_back({text(q, 0), text(q, 1), text(q, 2), q.value(q.record().count() - 1).toLongLong()});
    return rows;
}

std::optional<OperatorRow> readOperatorRow(Connection &c, qint64 rowId)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT *, rowid FROM \"User\" WHERE rowid = ?"), {rowId});
    if (!c.next(q))
        return std::nullopt;
    return OperatorRow{text(q, 0), text(q, 1), text(q, 2), q.value(q.record().count() - 1).toLongLong()};
}

bool operatorExists(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM \"User\" WHERE %1 LIMIT 1").arg(same(c, QStringLiteral("UID"))), {name});
    return c.next(q);
}

void insertOperator(Connection &c, const QString &name, const QString &encodedPassword,
                    const QString &authority)
{
    c.run(QStringLiteral("INSERT INTO \"User\" (UID, PWD, \"权限\") VALUES (?, ?, ?)"),
          {name, encodedPassword, authority});
}

void deleteOperator(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM \"User\" WHERE ") + same(c, QStringLiteral("UID")), {name});
}

int updateOperator(Connection &c, const QString &name, const QString &encodedPassword,
                   const QString &authority)
{
    return c.run(QStringLiteral("UPDATE \"User\" SET PWD = ?, \"权限\" = ? WHERE ") + same(c, QStringLiteral("UID")),
                 {encodedPassword, authority, name})
        .numRowsAffected();
}

QVector<OperatorRow> readOperatorsNamed(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT UID, PWD, \"权限\", rowid FROM \"User\" WHERE %1 ORDER BY rowid")
                            .arg(same(c, QStringLiteral("UID"))),
                        {name});
    QVector<OperatorRow> rows;
    while (c.next(q))
        rows.push_back({text(q, 0), text(q, 1), text(q, 2), q.value(3).toLongLong()});
    return rows;
}

int updateOperatorRow(Connection &c, qint64 rowId, const QString &storedPassword, const QString &authority)
{
    return c.run(QStringLiteral("UPDATE \"User\" SET PWD = ?, \"权限\" = ? WHERE rowid = ?"),
                 {storedPassword, authority, rowId})
        .numRowsAffected();
}

int replaceOperatorPassword(Connection &c, qint64 rowId, const QString &expected, const QString &storedPassword)
{
    return c.run(QStringLiteral("UPDATE \"User\" SET PWD = ? WHERE rowid = ? AND COALESCE(PWD, '') = ?"),
                 {storedPassword, rowId, expected.isNull() ? QStringLiteral("") : expected})
        .numRowsAffected();
}

int deleteOperatorRow(Connection &c, qint64 rowId)
{
    return c.run(QStringLiteral("DELETE FROM \"User\" WHERE rowid = ?"), {rowId}).numRowsAffected();
}

int countOperatorsWithLevel(Connection &c, const QString &authority)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM \"User\" WHERE \"权限\" = ?"), {authority});
    return c.next(q) ? q.value(0).toInt() : 0;
}

// ---- Catalog ----

QStringList readTypes(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT Name FROM Catalog ORDER BY rowid"));
    QStringList names;
    while (c.next(q))
        names << text(q, 0);
    return names;
}

bool typeExists(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM Catalog WHERE %1 LIMIT 1").arg(same(c, QStringLiteral("Name"))), {name});
    return c.next(q);
}

void insertType(Connection &c, const QString &name)
{
    c.run(QStringLiteral("INSERT INTO Catalog (Name) VALUES (?)"), {name});
}

void renameTypeInCatalog(Connection &c, const QString &oldName, const QString &newName)
{
    c.run(QStringLiteral("UPDATE Catalog SET Name = ? WHERE ") + same(c, QStringLiteral("Name")), {newName, oldName});
}

void renameTypeInRecords(Connection &c, const QString &oldName, const QString &newName)
{
    c.run(QStringLiteral("UPDATE Detail SET type_Name = ? WHERE ") + same(c, QStringLiteral("type_Name")),
          {newName, oldName});
}

void deleteTypeFromCatalog(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM Catalog WHERE ") + same(c, QStringLiteral("Name")), {name});
}

void deleteRecordsOfType(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE ") + same(c, QStringLiteral("type_Name")), {name});
}

// ---- Detail and photo ----

QString recordsOfTypeSql(const Dialect &dialect, const SearchFilter &filter)
{
    return QStringLiteral("SELECT rowid, \"病案号\", \"文件名\" FROM Detail WHERE ") + dialect.sameText(QStringLiteral("type_Name"))
        + filter.sqlCondition(dialect) + QStringLiteral(" ORDER BY rowid");
}

void forEachRecordOfType(Connection &c, const QString &typeName, const SearchFilter &filter,
                         const std::function<void(const RecordHead &)> &visit)
{
    QVariantList values{typeName};
    values += filter.boundValues();
    QSqlQuery q = c.run(recordsOfTypeSql(c.dialect(), filter), values);
    RecordHead head;
    while (c.next(q)) {
        head.rowId = q.value(0).toLongLong();
        head.number = text(q, 1);
        head.name = text(q, 2);
        visit(head);
    }
}

QString treeRecordsSql(const Dialect &dialect, const SearchFilter &filter)
{
    return QStringLiteral("SELECT type_Name, rowid, \"病案号\", \"文件名\" FROM Detail WHERE 1 = 1")
        + filter.sqlCondition(dialect) + QStringLiteral(" ORDER BY rowid");
}

void forEachRecord(Connection &c, const SearchFilter &filter,
                   const std::function<void(const QString &typeName, const RecordHead &)> &visit)
{
    QSqlQuery q = c.run(treeRecordsSql(c.dialect(), filter), filter.boundValues());
    QString typeName;
    RecordHead head;
    while (c.next(q)) {
        typeName = text(q, 0);
        head.rowId = q.value(1).toLongLong();
        head.number = text(q, 2);
        head.name = text(q, 3);
        visit(typeName, head);
    }
}

QVector<RecordRow> readRecord(Connection &c, const QString &number)
{
    QSqlQuery q = c.runOften(QStringLiteral("SELECT rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\" "
                                       "FROM Detail WHERE %1 ORDER BY rowid")
                            .arg(same(c, QStringLiteral("\"病案号\""))),
                        {number});
    QVector<RecordRow> rows;
    while (c.next(q))
        rows.push_back({q.value(0).toLongLong(), text(q, 1), text(q, 2), text(q, 3), text(q, 4), text(q, 5)});
    return rows;
}

QStringList readPhotos(Connection &c, const QString &number)
{
    QSqlQuery q = c.runOften(QStringLiteral("SELECT \"照片\" FROM photo WHERE %1 ORDER BY rowid")
                            .arg(same(c, QStringLiteral("\"病案号\""))),
                        {number});
    QStringList photos;
    while (c.next(q))
        photos << text(q, 0);
    return photos;
}

void deleteRecordRows(Connection &c, const QString &number)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE ") + same(c, QStringLiteral("\"病案号\"")), {number});
}

int deleteRecordRow(Connection &c, qint64 rowId)
{
    return c.runOften(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId}).numRowsAffected();
}

int countRecordsWithNumber(Connection &c, const QString &number)
{
    QSqlQuery q = c.runOften(QStringLiteral("SELECT count(*) FROM Detail WHERE ") + same(c, QStringLiteral("\"病案号\"")), {number});
    return c.next(q) ? q.value(0).toInt() : 0;
}

void deletePhotoRows(Connection &c, const QString &number)
{
    c.runOften(QStringLiteral("DELETE FROM photo WHERE ") + same(c, QStringLiteral("\"病案号\"")), {number});
}

qint64 insertRecord(Connection &c, const RecordRow &r)
{
    QSqlQuery q = c.runOften(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                                            "VALUES (?, ?, ?, ?, ?) RETURNING rowid"),
                             {r.typeName, r.number, r.name, r.path, r.description});
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

void insertRecordRow(Connection &c, const RecordRow &r)
{
    c.runOften(QStringLiteral("INSERT INTO Detail (rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                         "VALUES (?, ?, ?, ?, ?, ?)"),
          {r.rowId, r.typeName, r.number, r.name, r.path, r.description});
}

void insertPhoto(Connection &c, const QString &number, const QString &photoPath)
{
    c.runOften(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES (?, ?)"), {number, photoPath});
}

} // namespace store
