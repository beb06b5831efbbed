#include "common/Module1.h"

#include "store/Settings.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

namespace app {

QString DbPath;
QString DbConnect;
QString CurrentAuthority;
bool BrowserLoaded = false;
store::SearchFilter SearchFilter;

namespace {
QString &folderOverride()
{
    static QString f;
    return f;
}
HintTarget &hintTarget()
{
    static HintTarget t;
    return t;
}

ToolButtonTarget &toolButtons()
{
    static ToolButtonTarget t;
    return t;
}
std::function<void()> &browserReload()
{
    static std::function<void()> r;
    return r;
}

std::function<void()> &endHook()
{
    static std::function<void()> h;
    return h;
}

} // namespace

QString programFolder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString &folder) { folderOverride() = folder; }

QString defaultDatabasePath()
{
    return QDir::cleanPath(programFolder() + QStringLiteral("/Data/file.dat"));
}

void LocateDatabase(const QString &candidate)
{
    const QString path = candidate.isEmpty() ? settings::read(QStringLiteral("Data"), QStringLiteral("Path"))
                                              : candidate;
    bool readable = false;
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QFile f(path);
        readable = f.open(QIODevice::ReadOnly);
    }
    DbPath = readable ? path : defaultDatabasePath();
    settings::write(QStringLiteral("Data"), QStringLiteral("Path"), DbPath);
}

void ShowHint(const QString &text)
{
    if (hintTarget())
        hintTarget()(text);
}

void setHintTarget(HintTarget target) { hintTarget() = std::move(target); }

void setToolButtonEnabled(const QString &key, bool enabled)
{
    if (toolButtons().setEnabled)
        toolButtons().setEnabled(key, enabled);
}

bool toolButtonEnabled(const QString &key)
{
    return toolButtons().isEnabled ? toolButtons().isEnabled(key) : false;
}

void setToolButtonTarget(ToolButtonTarget target) { toolButtons() = std::move(target); }

void ReloadBrowser()
{
    if (BrowserLoaded && browserReload())
        browserReload()();
}

void setBrowserReloadTarget(std::function<void()> target) { browserReload() = std::move(target); }

namespace {
bool ending = false;
}

bool ProgramEnding() { return ending; }

QString OrganisationName()
{
    const QString stored = settings::read(QStringLiteral("Site"), QStringLiteral("Organisation")).trimmed();
    return stored.isEmpty() ? QStringLiteral("本院病案室") : stored;
}

QString WebAddress()
{
    const QString stored = settings::read(QStringLiteral("Site"), QStringLiteral("Web")).trimmed();
    return stored.isEmpty() ? QStringLiteral("www.karvo.com") : stored;
}

void EndProgram()
{
    if (endHook()) {
        endHook()();
        return;
    }
    ending = true;
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

void setEndProgramHook(std::function<void()> hook) { endHook() = std::move(hook); }

void RestoreWindow(QWidget *window)
{
    if (!window)
        return;
    // Back to the state it had before it was minimised (the main window stays maximised).
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace app
