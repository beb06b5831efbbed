#pragma once
// The statements of the archive as a whole rather than of one record, type or operator:
// its schema and a server's grants, the checks and counts of the whole archive, and the
// copy of whole tables row by row, for the admin tool, the backup, the restore and the
// transfer. store/Statements.h brings them along, so its includers need not name this.
#include "store/Database.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>
#include <functional>

namespace store {

struct RecordRow; // store/Statements.h

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
    qint64 pageText = -1; // the photos' words; 0 when the archive has no such table yet
    bool operator==(const TableCounts &o) const
    {
        return catalog == o.catalog && detail == o.detail && photo == o.photo && user == o.user
            && history == o.history && bin == o.bin && pageText == o.pageText;
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
// from schema version 2 on; PageText the photos' words (store/PageText.h), present once
// the first photo was read.
enum class ArchiveTable { Catalog, Detail, Photo, User, History, RecycleBin, PageText };
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
// Removes the archive's tables, the trail's and the photos' words' with them (a copy that
// failed its verification).
void dropArchiveTables(Connection &c);
// How a file keeps its text ("UTF-8", "UTF-16le", "UTF-16be"); "UTF-8" on a server. A new
// file takes another's before its first table is made, so that a copy keeps the bytes.
QString textEncoding(Connection &c);
void setTextEncoding(Connection &c, const QString &encoding);
// The columns a table of the archive holds, as stored, in their order: a copy refuses a
// table with a column it does not know (another tool added it) rather than drop it.
QStringList tableColumns(Connection &c, ArchiveTable table);

} // namespace store
