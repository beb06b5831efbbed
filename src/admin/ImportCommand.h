#pragma once
// casearchive-admin import: the earlier system's Jet archive into a new archive, verified.
#include <QString>
#include <QStringList>

// Returns the tool's exit code: 0 imported and verified, every file the records name in
// place; 3 imported and verified, but files missing; 1 nothing imported; 2 wrong use.
int importCommand(const QString &source, QStringList args);
