#pragma once
// The desktop shell: opening files and web addresses with their associated programs,
// starting other programs, and the operating system's own folder.
#include <QString>
#include <functional>

namespace platform {

// Opens a web address with the desktop's default browser ("www.example.org" gets
// "http://"). Returns false when the desktop refused.
bool openWithDesktop(const QString &target);
using OpenHandler = std::function<bool(const QString &target)>;
void setOpenHandler(OpenHandler handler);

// Opens a local file with the program the desktop associates with it. A relative path
// is taken from the process's current folder. The path is a file and only a file: it is
// never turned into a web address, and a path that names no existing file opens
// nothing. Returns false when nothing was opened.
bool openFile(const QString &path);
// The absolute path that openFile would open, empty when there is no such file.
QString resolveLocalFile(const QString &path);
using FileOpenHandler = std::function<bool(const QString &absolutePath)>;
// Tests see the resolved path of every file that would be opened.
void setFileOpenHandler(FileOpenHandler handler);

// Starts a command line as a separate process without waiting for it.
// Returns false when it could not be started.
bool startDetached(const QString &commandLine);
using StartHandler = std::function<bool(const QString &commandLine)>;
void setStartHandler(StartHandler handler);

// The operating system's system folder; empty where the platform has none.
QString systemFolder();
using SystemFolderHandler = std::function<QString()>;
void setSystemFolderHandler(SystemFolderHandler handler);

} // namespace platform
