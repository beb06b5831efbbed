#pragma once
// The backups in one folder, as a scheduled backup keeps them: the newest so many stay,
// older ones go, and only after the newest has been verified.
#include <QString>
#include <QStringList>

namespace store {

// The complete backups directly inside folder (dated names, never ".partial"), oldest first.
QStringList backupsIn(const QString &folder);

struct KeepResult {
    QStringList removed; // folder names
    QStringList failed;  // could not be removed (wholly)
};
// Removes all but the newest keep backups in folder (keep >= 1).
KeepResult keepNewestBackups(const QString &folder, int keep);

} // namespace store
