#pragma once
// Files of the earlier Windows system, told apart by their first bytes: its archive was a
// Jet database (Access 97, or Access 2000 where the office had upgraded it). Such a file is
// no archive of this program and is never opened as one, yet it is no damaged file either:
// whoever meets it is told so, and how to import it. A later Access format (ACE, .accdb)
// was never the earlier system's and cannot be imported.
#include <QString>

namespace store {

enum class EarlierFormat { None, Jet3, Jet4, Ace };

// Reads the file's first bytes; None for anything else, a file that cannot be read included.
EarlierFormat earlierFormatOf(const QString &path);
// As the operator reads it: "Jet 3 数据库（Access 97 格式）".
QString earlierFormatName(EarlierFormat format);
// What opening such a file says instead of calling it damaged.
QString earlierFormatMessage(const QString &path, EarlierFormat format);

} // namespace store
