#include "app/Module1.h"

#include "app/frmSplash.h"
#include "platform/InstanceGuard.h"
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
std::function<void()> &endHook()
{
    static std::function<void()> h;
    return h;
}

QWidget *windowToActivate()
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    if (QWidget *w = QApplication::activeWindow())
        return w;
    QWidget *last = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && !w->inherits("QMenu"))
            last = w;
    return last;
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

int Main()
{
    const QString guardName = QStringLiteral("%1-%2")
                                  .arg(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(),
                                       qEnvironmentVariable("USER", QStringLiteral("user")));
    static platform::InstanceGuard guard(guardName);
    if (!guard.claim()) {
        // The copy that runs comes to the front; this one opens nothing.
        guard.askRunningToActivate();
        return 0;
    }
    QObject::connect(&guard, &platform::InstanceGuard::activationRequested,
                     [] { RestoreWindow(windowToActivate()); });

    DbConnect = QStringLiteral(";UID=;PWD=");
    auto *splash = new frmSplash;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    return QApplication::exec();
}

} // namespace app
