#pragma once
// Setting an operator's account from outside the program: the recovery for an office that
// has locked itself out (for example by deleting its last operator of level "超级权限").
// The admin tool's command "operator" calls this.
#include "trail/History.h"

#include <QString>
#include <QStringList>

namespace access {

// The level texts the system gives a meaning to; the recovery accepts these only.
QStringList knownLevels();
// The level a recovered operator gets when none is named: the one that opens the
// operator window.
extern const QString kRecoveryLevel;

enum class AccountChange { Added, Reset };

// In the existing archive at `path`, sets the password and level of the operator named
// exactly `name` (every row of exactly that name), or adds the operator when no name
// matches even with letter case ignored. When only names differing in letter case exist
// ("Admin" for "admin"), nothing is written and the error lists them: the office names
// the one it means. The password is stored as the operator window stores it (a hash), so
// the operator logs in with exactly `password` (blanks before and after ignored).
// Throws store::StoreError with a description for the operator when the file is missing,
// is no archive, cannot be written, or when the name, password or level cannot be used;
// nothing is written then. The description never holds the password.
// The change goes into the archive's trail, by the actor, in the same transaction.
AccountChange setOperatorAccount(const QString &path, const QString &name, const QString &password,
                                 const QString &level, const store::Actor &actor = store::adminToolActor());

} // namespace access
