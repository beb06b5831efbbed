#pragma once
// What a backup proves about itself. Beside the readable list (备份清单.txt) a backup holds
// a checksum list, written after everything was copied and verified:
//
//   casearchive backup 2
//   source   <TAB> the archive's path or server address
//   identity <TAB> the archive's identity (store/ArchiveIdentity.h), or - when it has none
//   made     <TAB> when the backup was made (ISO 8601, with the offset from UTC)
//   folder   <TAB> the backup's own folder, as made (a copy moved or renamed is not it)
//   scan     <TAB> the scan folder whose files it holds (only when it holds them)
//   archive <TAB> size <TAB> sha256 <TAB> name in the backup
//   file    <TAB> size <TAB> sha256 <TAB> path in the backup <TAB> path the records name
//   missing <TAB> -    <TAB> -      <TAB> -                  <TAB> path the records name
//   sha256  <TAB> SHA-256 of every byte above this line
//
// one entry a line, UTF-8, in each path the bytes %, TAB, CR, LF and other control
// characters written as %XX. Backups of earlier versions begin "casearchive backup 1" and
// lack the first five lines. Checking a backup compares the archive and every copied file
// with their sizes and SHA-256 there; the records' own paths (the live originals) play no
// part, so a backup checks good after a disk failure took the originals. A file's place
// in the backup is its original path under files/, nothing else: an entry that says
// otherwise, or a file in the folder that the list does not name, is damage whatever the
// list's own checksum says (that checksum proves the list whole, not who wrote it).
#include "archive/ArchiveCheck.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

namespace store {

extern const QString kBackupChecksumsName; // "manifest.sha256"

struct ManifestEntry {
    enum Kind { Archive, File, Missing };
    Kind kind = File;
    qint64 size = -1;
    QByteArray sha256;   // lower-case hexadecimal
    QString inBackup;    // relative to the backup folder
    QString original;    // as the records name it (File, Missing)
};

// Where a backup keeps a copy of the file at that full path: under files/ with the path
// made relative ("/home/a/b.jpg" -> "files/home/a/b.jpg", "C:/a/b.jpg" -> "files/C/a/b.jpg").
QString backupPathOf(const QString &original);

// Whose archive a backup holds, and when and where it was made.
struct BackupOrigin {
    QString source;     // the archive's path or server address
    QString identity;   // empty when the archive had none
    QDateTime made;     // invalid for a backup of an earlier version, which did not say
    QString folder;     // the backup's folder as made
    QString scanFolder; // empty when the scan folder's files are not in it
};

// The list's bytes, its own checksum line last.
QByteArray manifestBytes(const QVector<ManifestEntry> &entries, const BackupOrigin &origin = BackupOrigin());
// Reads a checksum list; an empty text when it is whole and well-formed, else what is
// wrong with it. Reads at most a bounded amount; never follows a path out of the backup.
QString readManifest(const QString &path, QVector<ManifestEntry> &entries, BackupOrigin *origin = nullptr);

// SHA-256 (lower-case hexadecimal) and size of a file as it reads now; an empty hash and
// the reason in error when it cannot be read to its end.
QByteArray sha256OfFile(const QString &path, qint64 &size, QString &error);

struct BackupFinding {
    QString inBackup;
    QString original;
    QString what; // what differs, for the report
};

struct BackupReport {
    QString folder;
    QString manifestProblem;  // the list is missing or damaged: nothing can be proven
    bool checksummed = false; // the list was read whole
    BackupOrigin origin;
    QString archiveName;
    QString archiveDiffers;   // the archive's size or bytes are not what was backed up
    ArchiveReport archive;    // the archive copy examined as an archive
    qint64 filesListed = 0;
    QVector<BackupFinding> damaged; // copies whose size or bytes differ
    QVector<BackupFinding> missing; // copies that are gone
    QStringList missingAtBackup;    // named by records but already missing when backed up
    // Entries whose place in the backup is not their original path under files/ (a list
    // written by another hand), and what lies in the folder that the list does not name
    // (a journal beside the archive, a symbolic link, a file put there afterwards).
    QVector<BackupFinding> misplaced;
    QStringList strays;

    // 0 everything as backed up; 1 damaged (archive, a copy, the list, or anything the list
    // does not account for); 3 copies missing.
    int exitCode() const;
    QString text() const;
};

// The backup folder a path names (the folder itself, or a file directly inside it), or
// an empty text when the path is no backup.
QString backupFolderOf(const QString &path);
// Checks a backup against its checksum list. Never throws; writes nothing.
BackupReport checkBackup(const QString &folder, const std::optional<TrailMark> &noted = std::nullopt);

} // namespace store
