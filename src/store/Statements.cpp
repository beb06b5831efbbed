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
    return c.next(q) ? q.value(0).toInt() : 0;
}

QVector<OperatorRow> readOperators(Connection &c)
{
    // By position: a table whose first three columns are not UID, PWD, 权限 breaks
    // the login, as it always did.
    QSqlQuery q = c.run(QStringLiteral("SELECT * FROM \"User\" ORDER BY rowid"));
    QVector<OperatorRow> rows;
    while (c.next(q))
        rows.push_back({text(q, 0), text(q, 1), text(q, 2)});
    return rows;
}

bool operatorExists(Connection &c, const QString &name)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM \"User\" WHERE UID = ? COLLATE NOCASE LIMIT 1"), {name});
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
    c.run(QStringLiteral("DELETE FROM \"User\" WHERE UID = ? COLLATE NOCASE"), {name});
}

int updateOperator(Connection &c, const QString &name, const QString &encodedPassword,
                   const QString &authority)
{
    return c.run(QStringLiteral("UPDATE \"User\" SET PWD = ?, \"权限\" = ? WHERE UID = ? COLLATE NOCASE"),
                 {encodedPassword, authority, name})
        .numRowsAffected();
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
    QSqlQuery q = c.run(QStringLiteral("SELECT 1 FROM Catalog WHERE Name = ? COLLATE NOCASE LIMIT 1"), {name});
    return c.next(q);
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
    while (c.next(q)) {
        head.rowId = q.value(0).toLongLong();
        head.number = text(q, 1);
        head.name = text(q, 2);
        visit(head);
    }
}

void forEachRecord(Connection &c, const SearchFilter &filter,
                   const std::function<void(const QString &typeName, const RecordHead &)> &visit)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT type_Name, rowid, \"病案号\", \"文件名\" FROM Detail "
                                       "WHERE type_Name IS NOT NULL")
                            + filter.sqlCondition() + QStringLiteral(" ORDER BY rowid"),
                        filter.boundValues());
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
    QSqlQuery q = c.run(QStringLiteral("SELECT rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\" "
                                       "FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE ORDER BY rowid"),
                        {number});
    QVector<RecordRow> rows;
    while (c.next(q))
        rows.push_back({q.value(0).toLongLong(), text(q, 1), text(q, 2), text(q, 3), text(q, 4), text(q, 5)});
    return rows;
}

QStringList readPhotos(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT \"照片\" FROM photo WHERE \"病案号\" = ? COLLATE NOCASE ORDER BY rowid"),
                        {number});
    QStringList photos;
    while (c.next(q))
        photos << text(q, 0);
    return photos;
}

void deleteRecordRows(Connection &c, const QString &number)
{
    c.run(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE"), {number});
}

int deleteRecordRow(Connection &c, qint64 rowId)
{
    return c.run(QStringLiteral("DELETE FROM Detail WHERE rowid = ?"), {rowId}).numRowsAffected();
}

int countRecordsWithNumber(Connection &c, const QString &number)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM Detail WHERE \"病案号\" = ? COLLATE NOCASE"), {number});
    return c.next(q) ? q.value(0).toInt() : 0;
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

void insertRecordRow(Connection &c, const RecordRow &r)
{
    c.run(QStringLiteral("INSERT INTO Detail (rowid, type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                         "VALUES (?, ?, ?, ?, ?, ?)"),
          {r.rowId, r.typeName, r.number, r.name, r.path, r.description});
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

bool isArchive(Connection &c)
{
    QStringList tables;
    QSqlQuery q = c.run(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
    while (c.next(q))
        tables << q.value(0).toString().toLower();
    for (const char *t : {"catalog", "detail", "photo", "user"})
        if (!tables.contains(QLatin1String(t)))
            return false;
    QStringList columns;
    QSqlQuery info = c.run(QStringLiteral("PRAGMA table_info(\"User\")"));
    while (c.next(info))
        columns << info.value(1).toString();
    return columns.size() >= 3 && columns.at(0).compare(QLatin1String("UID"), Qt::CaseInsensitive) == 0
        && columns.at(1).compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0
        && columns.at(2) == QStringLiteral("权限");
}

// ---- Checking and backing up the archive ----

QStringList integrityProblems(Connection &c, int maxProblems)
{
    QSqlQuery q = c.run(QStringLiteral("PRAGMA integrity_check(%1)").arg(qMax(1, maxProblems)));
    QStringList problems;
    while (c.next(q))
        problems << text(q, 0);
    return problems;
}

QStringList tableNames(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    QStringList names;
    while (c.next(q))
        names << text(q, 0);
    return names;
}

TableCounts countTables(Connection &c)
{
    auto count = [&c](const QString &sql) {
        QSqlQuery q = c.run(sql);
        return c.next(q) ? q.value(0).toLongLong() : 0;
    };
    TableCounts t;
    t.catalog = count(QStringLiteral("SELECT count(*) FROM Catalog"));
    t.detail = count(QStringLiteral("SELECT count(*) FROM Detail"));
    t.photo = count(QStringLiteral("SELECT count(*) FROM photo"));
    t.user = count(QStringLiteral("SELECT count(*) FROM \"User\""));
    return t;
}

void forEachFileReference(Connection &c, const std::function<void(const FileReference &)> &visit)
{
    QSqlQuery files = c.run(QStringLiteral("SELECT \"病案号\", \"文件名\", \"路径名\" FROM Detail "
                                           "WHERE \"路径名\" IS NOT NULL AND \"路径名\" <> '' ORDER BY rowid"));
    while (c.next(files))
        visit({text(files, 0), text(files, 1), text(files, 2), false});
    QSqlQuery photos = c.run(QStringLiteral(
        "SELECT p.\"病案号\", (SELECT d.\"文件名\" FROM Detail d WHERE d.\"病案号\" = p.\"病案号\" LIMIT 1), "
        "p.\"照片\" FROM photo p WHERE EXISTS (SELECT 1 FROM Detail d WHERE d.\"病案号\" = p.\"病案号\") "
        "ORDER BY p.rowid"));
    while (c.next(photos))
        visit({text(photos, 0), text(photos, 1), text(photos, 2), true});
}

qint64 countOrphanPhotos(Connection &c)
{
    QSqlQuery q = c.run(QStringLiteral("SELECT count(*) FROM photo p WHERE NOT EXISTS "
                                       "(SELECT 1 FROM Detail d WHERE d.\"病案号\" = p.\"病案号\")"));
    return c.next(q) ? q.value(0).toLongLong() : 0;
}

void beginRead(Connection &c) { c.run(QStringLiteral("BEGIN DEFERRED")); }

void endRead(Connection &c) { c.run(QStringLiteral("COMMIT")); }

} // namespace store
