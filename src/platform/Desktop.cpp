#include "platform/Desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace platform {

namespace {
OpenHandler &openHandler()
{
    static OpenHandler h;
    return h;
}
FileOpenHandler &fileOpenHandler()
{
    static FileOpenHandler h;
    return h;
}
StartHandler &startHandler()
{
    static StartHandler h;
    return h;
}
SystemFolderHandler &folderHandler()
{
    static SystemFolderHandler h;
    return h;
}
} // namespace

bool openWithDesktop(const QString &target)
{
    if (openHandler())
        return openHandler()(target);
    if (target.trimmed().isEmpty())
        return false;
    const QString t = target.trimmed();
    const bool hasScheme = t.contains(QLatin1String("://")) || t.startsWith(QLatin1String("mailto:"));
    return QDesktopServices::openUrl(QUrl(hasScheme ? t : QStringLiteral("http://") + t));
}

void setOpenHandler(OpenHandler handler) { openHandler() = std::move(handler); }

QString resolveLocalFile(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QString();
    const QFileInfo info(QDir::current(), path);
    if (!info.isFile())
        return QString();
    return info.absoluteFilePath();
}

bool openFile(const QString &path)
{
    const QString file = resolveLocalFile(path);
    if (file.isEmpty())
        return false;
    if (fileOpenHandler())
        return fileOpenHandler()(file);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

void setFileOpenHandler(FileOpenHandler handler) { fileOpenHandler() = std::move(handler); }

bool startDetached(const QString &commandLine)
{
    if (startHandler())
        return startHandler()(commandLine);
    QStringList args = QProcess::splitCommand(commandLine);
    if (args.isEmpty())
        return false;
    const QString program = args.takeFirst();
    return QProcess::startDetached(program, args);
}

void setStartHandler(StartHandler handler) { startHandler() = std::move(handler); }

QString systemFolder()
{
    if (folderHandler())
        return folderHandler()();
    return QString(); // no system folder on this platform
}

void setSystemFolderHandler(SystemFolderHandler handler) { folderHandler() = std::move(handler); }

} // namespace platform
