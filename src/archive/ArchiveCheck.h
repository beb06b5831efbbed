#pragma once
// Examining an archive file: is it sound, does it hold the archive's tables, and do the
// files its records name still exist. The admin tool's "check" prints this; the backup
// runs the same examination on its copy.
#include "trail/History.h"
#include "store/SearchIndex.h"
#include "store/EarlierFormat.h"
#include "store/Statements.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace store {

struct MissingFile {
    FileReference reference;
    QString why; // "not found", "is a folder"
    bool scannedPage = false; // of the scan folder, named by no record (a backup's)
};

struct ArchiveReport {
    QString path;
    QString openError;      // empty when the file opened as a database
    QStringList integrity;  // "ok" alone when sound; otherwise the engine's findings
    QStringList tables;     // as stored
    bool archiveTables = false; // Catalog, Detail, photo and User, User's columns in order
    TableCounts counts;
    bool filesChecked = false;
    qint64 filesNamed = 0;  // attached files and photos the records name
    QVector<MissingFile> missing;
    qint64 orphanPhotos = 0; // photo rows of records that no longer exist (not a fault)
    // Records whose type is not in Catalog: the tree has no type to show them under.
    // Listed so that they can be found; not a fault of the file.
    QVector<RecordRow> untyped;
    // The earlier system's Jet file (or a later Access file): not opened, not damaged.
    EarlierFormat earlier = EarlierFormat::None;
    int schemaVersion = 0; // 0 when not read
    ChainReport chain;     // the trail's hash chain
    // The search index compared with the records (and the photos' words), by the full
    // check only; none before version 3.
    QVector<SearchIndexCheck> searchIndex;
    // Every index that is built fits its rows (one not built yet is no fault).
    bool searchIndexFits() const;

    bool integrityOk() const { return integrity == QStringList{QStringLiteral("ok")}; }
    // The file itself is sound and is an archive, and its trail is whole.
    bool sound() const { return openError.isEmpty() && integrityOk() && archiveTables && chain.whole && searchIndexFits(); }
    // 0 sound with every file in place; 1 damaged, unreadable, no archive or a trail that
    // does not fit together; 3 files missing; 4 the earlier system's archive, to import.
    int exitCode() const;
    // The report as the admin tool prints it, one finding a line.
    QString text() const;
};

// Examines the file; checkFiles also looks for every file its records name and compares the
// search index with the records; a trail mark
// noted earlier must still be in the trail. Never throws: whatever goes wrong is part of
// the report. Runs no statement that writes.
ArchiveReport checkArchive(const QString &path, bool checkFiles = true,
                           const std::optional<TrailMark> &noted = std::nullopt);

// The same for an archive file nobody writes any more (a backup's copy): opened read-only
// and immutable, so that the check writes nothing into it or beside it. The records' files
// are not looked for: they name the originals, not copies.
ArchiveReport checkArchiveCopy(const QString &path, const std::optional<TrailMark> &noted = std::nullopt);

// Why a file named by a record cannot be found, or an empty text when it is there.
QString missingReason(const QString &path);

} // namespace store
