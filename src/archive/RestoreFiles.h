#pragma once
// The second half of a restore: the backup's copies of the records' files put back, for
// Restore.cpp only. A file goes back only to a path the restored archive's records name,
// or below the scan folder the backup holds, or below the folder the operator gives;
// every folder on the way is opened without following a symbolic link, and the file is
// written under a name of its own and linked into place, never over a file that is there
// and never left half-written under its real name.
#include "archive/BackupManifest.h"
#include "store/FileModes.h"
#include "store/GroupRights.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

namespace store {

struct FilesPutBack {
    qint64 restored = 0;
    qint64 inPlace = 0;   // there already, with the backup's bytes
    QStringList trouble;  // a line each: what was not put back, and why
};

// entries: the backup's list; named: the paths the restored archive's records name;
// filesTo: empty for their own paths; rights: what the files are made with at their own
// paths, where they are kept as their folder keeps what is made in it (the group's in a
// shared folder, else the owner's alone); protection: what they and the folders made for
// them are given under filesTo.
FilesPutBack putFilesBack(const QString &folder, const QVector<ManifestEntry> &entries, const BackupOrigin &origin,
                          const QSet<QString> &named, const QString &filesTo, const Rights &rights,
                          const Protection &protection);

} // namespace store
