#include "platform/Desktop.h"

#include <QDesktopServices>
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
    QUrl url;
    const QString t = target.trimmed();
    if (t.contains(QLatin1String("://")) || t.startsWith(QLatin1String("mailto:")))
        url = QUrl(t);
    else if (QFileInfo(t).isAbsolute() || QFileInfo::exists(t))
        url = QUrl::fromLocalFile(QFileInfo(t).absoluteFilePath());
    else
        url = QUrl(QStringLiteral("http://") + t); // a bare web address such as www.example.com
    return QDesktopServices::openUrl(url);
}

void setOpenHandler(OpenHandler handler) { openHandler() = std::move(handler); }

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
