#pragma once
// The backups in one folder, as a scheduled backup keeps them: the newest so many stay,
// older ones go, and only after the newest has been verified. Only what the backup itself
// made is ever removed: a folder of the same archive whose checksum list says it was made
// there (a copy, a renamed or moved backup, a folder of the user's own that looks like one,
// a symbolic link are not), that still passes its check; the order is the time of making
// each one records, not its name.
#include <QString>
#include <QStringList>

namespace store {

// The folders directly inside folder that carry a backup's dated name (never ".partial"),
// oldest name first; what they hold is not looked at.
QStringList backupsIn(const QString &folder);

struct KeepResult {
    QStringList removed;  // folder names
    QStringList failed;   // could not be removed (wholly)
    QStringList damaged;  // made here, of this archive, but no longer pass their check: left
    QStringList later;    // made later than the backup just made (a clock set back): left
    QStringList others;   // "name: why", not this archive's backups made here: left
};
// Keeps the newest `keep` (>= 1) of the backups made here of the archive that `newest` (the
// backup just made and verified, always kept) holds, and removes the older ones.
KeepResult keepNewestBackups(const QString &folder, int keep, const QString &newest);

} // namespace store
