#pragma once
// Who is at the keyboard: the login name the operator gave and the host name of this
// workstation. Every change a window writes names them in the archive's trail.
#include "trail/History.h"

#include <QString>

namespace app {

// The login name of the operator who logged in, as stored; set by the login window.
extern QString CurrentOperator;

// The host name of this machine ("本机" when the system gives none).
QString workstationName();
// Tests name a workstation of their own; an empty name gives the real one back.
void setWorkstationNameForTests(const QString &name);

// The operator and the workstation, as the trail records them.
store::Actor currentActor();

} // namespace app
