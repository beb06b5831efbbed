#pragma once
// casearchive-admin backup and restore: a scheduled backup, as the backup window makes it,
// and a backup put back, onto a file or a server.
#include <QString>
#include <QStringList>

// Returns the tool's exit code: 0 verified, 3 verified with files missing, 1 failed (or an
// old backup could not be removed), 2 wrong use.
int backupCommand(const QString &archive, QStringList args);
// Returns the restore's own exit code (store/Restore.h), 2 on wrong use.
int restoreCommand(const QString &backup, QStringList args);
