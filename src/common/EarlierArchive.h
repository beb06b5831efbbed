#pragma once
// What the login says when the archive it was to open is the earlier system's Jet file:
// the commands that bring the records over, as the office's administrator types them.
#include <QString>

namespace app {

// Empty unless the file at `path` is a Jet file of the earlier system. The commands move
// the old file aside and import it into the place the program opens, through sudo where
// that place belongs to the machine.
QString earlierArchiveAdvice(const QString &path);

} // namespace app
