#pragma once
// The desktop shell: opening files and web addresses with their associated programs,
// starting other programs, and the operating system's own folder.
#include <QString>
#include <functional>

namespace platform {

// Opens a local file or a web address with the desktop's default handler.
// Returns false when the desktop refused; callers decide whether to tell the operator.
bool openWithDesktop(const QString &target);
using OpenHandler = std::function<bool(const QString &target)>;
void setOpenHandler(OpenHandler handler);

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
