#pragma once
// Putting a backup back: the backup is checked against its checksum list first; a live
// archive is only replaced when asked, and then moved aside with its journal, never
// deleted; the archive file is written under another name and renamed once its bytes
// are those of the backup; the copied files go back where the records name them (or
// under a folder given), never over a file that is there.
//
// A restore into a file says where it stands in TARGET.restoring (the backup, where the
// old archive goes, and once the new one is written and proven, its SHA-256), so that a
// restore cut short at any point (killed, the power gone) is finished or rolled back by
// the next restore into the same place, without anyone having to choose which file is the
// good one.
//
// Run as root it trusts nothing the office's members can write: a backup they could
// have changed is restored only when the operator says so; the copied files are put back
// only at paths the restored archive's records name (or under the scan folder the backup
// names, or below --files-to), never through a symbolic link, and made with the rights
// of the archive's group, so never where the group itself could not make them.
#include "store/GroupRights.h"
#include "trail/History.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace store {

struct RestoreOptions {
    QString backup;   // the backup folder, or its archive file
    QString target;   // an archive file, or a server address (an empty database)
    bool replace = false; // move an existing archive file aside, even one of another archive
    QString filesTo;  // put the copied files under this folder instead of their own paths
    // Root restores from a backup that others than root could have changed only when this
    // is set or confirm() says so.
    bool trustBackup = false;
    // Asks the operator a question (yes: go on). Without it, a question is a refusal.
    std::function<bool(const QString &question)> confirm;
    // When set, the restored archive's trail says who restored it from which backup (its
    // file upgraded to the current version for that, as by the program's first change).
    std::optional<Actor> actor;
    // Whose rights the copied files are put back at their own paths with; by default those
    // of whoever may write the restored archive file (store/GroupRights.h).
    std::optional<Rights> writeAs;
    // Tests: called after each step of writing the archive file, by its name, to end the
    // process there as a kill would.
    std::function<void(const QString &step)> afterStep;
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

// The file in which a restore into the file target says where it stands.
QString restoreStatePath(const QString &target);

} // namespace store
