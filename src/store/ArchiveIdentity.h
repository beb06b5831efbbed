#pragma once
// Which archive a file or a server's database holds, whatever its place or name: a random
// identity made when the archive is made (schema version 3) and kept with it through
// copies, backups and restores. A backup records it, so that a backup of another archive
// put in place of one of this archive's is told apart, and a restore over an archive of
// another identity is said before it is done.
#include "store/Database.h"

#include <QString>
#include <QStringList>

namespace store {

// The table that holds it (one row), made when missing and given a new identity when
// empty; safe to run again on an archive that has it.
void addArchiveIdentity(Connection &c);
// The archive's identity; empty when it has none (made before version 3).
QString archiveIdentity(Connection &c);
// A copy takes its original's identity in place of the one its schema was made with.
void setArchiveIdentity(Connection &c, const QString &identity);
// What the workstations' role may do with it on a server: read it.
QStringList archiveIdentityGrants(const QString &quotedRole);

} // namespace store
