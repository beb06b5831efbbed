#pragma once
// Putting a backup back: the backup is checked against its checksum list first; a live
// archive is only replaced when asked, and then moved aside with its journal, never
// deleted; the archive file is written under another name and renamed once its bytes
// are those of the backup; the copied files go back where the records name them (or
// under a folder given), never over a file that is there.
#include "trail/History.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace store {

struct RestoreOptions {
    QString backup;   // the backup folder, or its archive file
    QString target;   // an archive file, or a server address (an empty database)
    bool replace = false; // move an existing archive file aside
    QString filesTo;  // put the copied files under this folder instead of their own paths
    // When set, the restored archive's trail says who restored it from which backup (its
    // file upgraded to the current version for that, as by the program's first change).
    std::optional<Actor> actor;
};

struct RestoreResult {
    int exitCode = 1;   // 0 done; 3 done, but copied files could not all be put back; 1 nothing restored
    QString error;      // exit code 1: why
    QStringList done;   // what was done, a line each, for the operator
    QString movedAside; // where the replaced archive went (a file target)
    bool hadOldFile = false;
    unsigned oldMode = 0, oldUid = 0, oldGid = 0; // of the replaced file
};

RestoreResult restoreBackup(const RestoreOptions &options);

} // namespace store
