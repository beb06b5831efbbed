#pragma once
// A verified copy of the archive in a new dated folder: the archive file, taken through
// SQLite's online backup so that it is consistent even while the program or another one
// holds the file, and optionally the attached files and photos its records name.
//
// The copy is made in "<folder>.partial" and only renamed to its dated name once it has
// been written, flushed to the disk and checked; a backup that fails or is cancelled
// removes what it wrote, and whatever could not be removed keeps the ".partial" name.
// A folder with the dated name is therefore always a complete, verified backup, and holds
// the checksum list (archive/BackupManifest.h) that "casearchive-admin check" proves it by.
#include "archive/ArchiveCheck.h"
#include "store/GroupRights.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <functional>

namespace store {

// The folder of scanned pages a backup with the files keeps: the one set ([Scan] Folder,
// given as `configured`), else "Scan" beside a file archive when that is there. A server's
// archive has no such default: its pages are wherever the office set them.
QString scanFolderToKeep(const QString &archivePath, const QString &configured);

// The folder a backup made at that moment is named: "病案备份-20240607-153012".
QString backupFolderName(const QDateTime &when);
// The list of what a backup holds, written inside it.
extern const QString kBackupManifestName;
// The folder inside a backup that holds the copied files, under their full paths.
extern const QString kBackupFilesFolder;

struct BackupOptions {
    QString archivePath;
    QString targetFolder;       // an existing folder; the backup goes into a new one inside it
    bool includeFiles = true;   // also the attached files and photos the records name
    QString scanFolder;         // with the files: the scan folder, every file in it kept too
    QDateTime when;             // names the folder and is recorded as the time of making;
                                // the current time when not set
    // Who may read the finished backup: the archive's group (folders rwxr-x---, files
    // rw-r-----) when the archive is shared with one, else its owner alone; ownerOnly keeps
    // it the owner's alone always. Nobody but the owner may ever change it.
    bool ownerOnly = false;
    // Whose rights the records' files are read with (store/GroupRights.h); when not set,
    // those of whoever could have written the archive file (a server's: this process's own).
    std::optional<Rights> readAs;
};

struct BackupProgress {
    enum Stage { Database, Files, Verify };
    Stage stage = Database;
    int permille = 0;       // of the whole backup
    QString current;        // the file being copied
};

struct BackupResult {
    enum Outcome { Verified, Cancelled, Failed };
    Outcome outcome = Failed;
    QString folder;         // the finished backup (Verified only)
    QString error;          // what went wrong (Failed only), for the operator
    TableCounts counts;     // rows copied
    qint64 filesCopied = 0;
    qint64 bytesCopied = 0; // of the attached files and photos
    QVector<MissingFile> missing; // named by records, or in the scan folder, but not copied
    qint64 scanFilesCopied = 0;   // of the scan folder, beyond those the records name
    QString scanFolderProblem;    // the scan folder is missing or cannot be read
    // The copy's newest trail entry, printed so that a scheduled backup's log keeps a mark
    // for "check --trail-mark"; nothing when its trail is empty or does not fit together.
    std::optional<TrailMark> trailMark;
    // ".partial" folders of earlier backups that were cut short, found in the target folder:
    // removed (older than this backup and no longer being written), or kept, with their sizes.
    QStringList leftoversRemoved;
    qint64 leftoverBytesFreed = 0;
    QStringList leftoversKept;
    qint64 leftoverBytesKept = 0;
};

// Called after every step; returning false cancels the backup.
using BackupProgressHandler = std::function<bool(const BackupProgress &)>;

BackupResult backupArchive(const BackupOptions &options, const BackupProgressHandler &progress = {});

// Tests make the target fill up after so many bytes have been written into the backup
// (the archive copy and the files together); a negative value: never.
void setBackupSpaceForTests(qint64 bytes);
// Tests make flushing a file of the backup to the disk fail: every file whose path in the
// backup starts with the text given (an empty text: none).
void setBackupFlushFailureForTests(const QString &inBackupPrefix);

} // namespace store
