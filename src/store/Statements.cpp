#include "store/Statements.h"

namespace store {

namespace {
QString text(const QSqlQuery &q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}
} // namespace

// ---- User ----

int countOperators(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM \"User\""));
    return q.next() ? q.value(0).toInt() : 0;
}

QVector<OperatorRow> readOperators(Connection &c)
{
    // By position: a table whose first three columns are not UID, PWD, 权限 breaks
    // the login, as it always did.
    QSqlQuery q = c.run(QStringLiteral("SELECT * FROM \"User\" ORDER BY rowid"));
    QVector<OperatorRow> rows;
    while (q.next())
        rows.push_back({text(q, 0), text(q, 1), text(q, 2)});
    return rows;
}

bool operatorExists(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM \"User\" WHERE UID = ? COLLATE NOCASE LIMIT 1"), {name});
    return q.next();
}

void insertOperator(Connection &c, const QString &name, const QString &encodedPassword,
                    const QString &authority)
{
    c.run(QStringLiteral("INSERT INTO \"User\" (UID, PWD, \"权限\") VALUES (?, ?, ?)"),
          {name, encodedPassword, authority});
}

void deleteOperator(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM \"User\" WHERE UID = ? COLLATE NOCASE"), {name});
}

// ---- Catalog ----

QStringList readTypes(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT Name FROM Catalog ORDER BY rowid"));
    QStringList names;
    while (q.next())
        names << text(q, 0);
    return names;
}

bool typeExists(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM Catalog WHERE Name = ? COLLATE NOCASE LIMIT 1"), {name});
    return q.next();
}

void insertType(Connection &c, const QString &name)
{
    c.run(QStringLiteral("INSERT INTO Catalog (Name) VALUES (?)"), {name});
}

void renameTypeInCatalog(Connection &c, const QString &oldName, const QString &newName)
{
    c.run(QStringLiteral("UPDATE Catalog SET Name = ? WHERE Name = ? COLLATE NOCASE"), {newName, oldName});
}

void renameTypeInRecords(Connection &c, const QString &oldName, const QString &newName)
{
    c.run(QStringLiteral("UPDATE Detail SET type_Name = ? WHERE type_Name = ? COLLATE NOCASE"),
          {newName, oldName});
}

void deleteTypeFromCatalog(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM Catalog WHERE Name = ? COLLATE NOCASE"), {name});
}

void deleteRecordsOfType(Connection &c, const QString &name)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE type_Name = ? COLLATE NOCASE"), {name});
}

// ---- Detail and photo ----

QString recordsOfTypeSql(const SearchFilter &filter)
{
    return QStringLiteral("SELECT rowid, \"病案号\", \"文件名\" FROM Detail WHERE type_Name = ? COLLATE NOCASE")
        + filter.sqlCondition() + QStringLiteral(" ORDER BY rowid");
}

void forEachRecordOfType(Connection &c, const QString &typeName, const SearchFilter &filter,
                         const std::function<void(const RecordHead &)> &visit)
{
    QVariantList values{typeName};
    values += filter.boundValues();
    QSqlQuery q = c.run(recordsOfTypeSql(filter), values);
    RecordHead head;
    while (q.next()) {
        head.rowId = q.value(0).toLongLong();
        head.number = text(q, 1);
        head.name = text(q, 2);
        visit(head);
    }
}

QVector<RecordRow> readRecord(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\" "
                                       "FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE ORDER BY rowid"),
                        {number});
    QVector<RecordRow> rows;
    while (q.next())
        rows.push_back({q.value(0).toLongLong(), text(q, 1), text(q, 2), text(q, 3), text(q, 4), text(q, 5)});
    return rows;
}

QStringList readPhotos(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT \"照片\" FROM photo WHERE \"病案号\" = ? COLLATE NOCASE ORDER BY rowid"),
                        {number});
    QStringList photos;
    while (q.next())
        photos << text(q, 0);
    return photos;
}

void deleteRecordRows(Connection &c, const QString &number)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE"), {number});
}

void deleteRecordRow(Connection &c, qint64 rowId)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId});
}

int countRecordsWithNumber(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE"), {number});
    return q.next() ? q.value(0).toInt() : 0;
}

void deletePhotoRows(Connection &c, const QString &number)
{
    c.run(QStringLiteral("DELETE FROM photo WHERE \"病案号\" = ? COLLATE NOCASE"), {number});
}

void insertRecord(Connection &c, const RecordRow &r)
{
    c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                         "VALUES (?, ?, ?, ?, ?)"),
          {r.typeName, r.number, r.name, r.path, r.description});
}

void insertPhoto(Connection &c, const QString &number, const QString &photoPath)
{
    c.run(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES (?, ?)"), {number, photoPath});
}

// ---- Schema ----

void createSchema(Connection &c)
{
    // Columns in the order readers rely on; NOCASE indexes serve the case-blind lookups.
    const char *statements[] = {
        "CREATE TABLE Catalog (Name TEXT COLLATE NOCASE)",
        "CREATE TABLE Detail (type_Name TEXT COLLATE NOCASE, \"病案号\" TEXT COLLATE NOCASE, "
        "\"文件名\" TEXT, \"路径名\" TEXT, \"文件说明\" TEXT)",
        "CREATE TABLE photo (\"病案号\" TEXT COLLATE NOCASE, \"照片\" TEXT)",
        "CREATE TABLE \"User\" (UID TEXT COLLATE NOCASE, PWD TEXT, \"权限\" TEXT)",
        "CREATE INDEX idx_detail_type ON Detail (type_Name COLLATE NOCASE)",
        "CREATE INDEX idx_detail_number ON Detail (\"病案号\" COLLATE NOCASE)",
        "CREATE INDEX idx_photo_number ON photo (\"病案号\" COLLATE NOCASE)",
    };
    for (const char *s : statements)
        c.run(QString::fromUtf8(s));
}

} // namespace store
