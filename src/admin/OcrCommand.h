#pragma once
// casearchive-admin ocr: reads the words on every photo of an archive into its page text.
#include <QString>
#include <QStringList>

// Returns the tool's exit code: 0 all read (or skipped), 3 some pages could not be read,
// 130 stopped (run it again to go on), 1 the archive could not be used.
int ocrCommand(const QString &path, QStringList args);
