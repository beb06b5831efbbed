#include "common/Module1.h"

#include "common/Installation.h"
#include "platform/Dialogs.h"
#include "store/Dialect.h"
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

HintTarget &searchStateTarget()
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
    return QDir::cleanPath(installationFolder() + QStringLiteral("/Data/file.dat"));
}

namespace {
// Why a file cannot be read, in words for the operator; empty when it can. A server
// address is no file: whether the server answers is for the login's connection to tell,
// with the server's own reason.
QString whyUnreadable(const QString &path)
{
    if (store::isServerAddress(path))
        return QString();
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("文件不存在，或其所在的磁盘、文件夹或网络共享现在无法访问。");
    if (info.isDir())
        return QStringLiteral("这是一个文件夹，不是数据库文件。");
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        return QString();
    if (f.error() == QFileDevice::PermissionsError)
        return QStringLiteral("没有读取该文件的权限。");
    return QStringLiteral("无法读取该文件（%1）。").arg(f.errorString());
}

QString &reportedPath()
{
    static QString p;
    return p;
}
} // namespace

void LocateDatabase(const QString &candidate)
{
    reportedPath().clear();
    const QString remembered = settings::read(QStringLiteral("Data"), QStringLiteral("Path"));
    const QString path = candidate.isEmpty() ? remembered : candidate;
    const QString why = path.isEmpty() ? QStringLiteral("-") : whyUnreadable(path);
    if (why.isEmpty()) {
        DbPath = path;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), DbPath);
        return;
    }
    const QString fallback = defaultDatabasePath();
    if (!candidate.isEmpty() || remembered.isEmpty() || QFileInfo(remembered).absoluteFilePath() == QFileInfo(fallback).absoluteFilePath()) {
        DbPath = fallback;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), DbPath);
        return;
    }

    // The remembered archive is out of reach, perhaps only for a moment (a share that is
    // offline). Switching to the local archive without a word, and for good, would put
    // the records entered meanwhile into the wrong file: the operator decides, for this
    // run only, and the remembered path stays.
    const QString problem = QStringLiteral("无法打开上次使用的病案数据库：\n%1\n原因：%2").arg(remembered, why);
    if (QFileInfo(fallback).isFile()) {
        const platform::Answer a = platform::message(
            nullptr,
            problem + QStringLiteral("\n\n是否本次改用本机的病案数据库：\n%1\n（记住的数据库位置不变，下次启动时仍先打开它。）").arg(fallback),
            platform::kAppTitle, platform::Buttons::YesNo, platform::Icon::Question, platform::Answer::No);
        if (a == platform::Answer::Yes) {
            DbPath = fallback;
            return;
        }
    } else {
        platform::message(nullptr,
                          problem + QStringLiteral("\n\n请检查该文件所在的磁盘或网络共享，然后重新启动程序。"),
                          platform::kAppTitle, platform::Buttons::Ok, platform::Icon::Exclamation);
    }
    DbPath = remembered;
    reportedPath() = remembered;
}

bool DatabaseProblemReported() { return !reportedPath().isEmpty() && reportedPath() == DbPath; }

void ShowHint(const QString &text)
{
    if (hintTarget())
        hintTarget()(text);
}

void setHintTarget(HintTarget target) { hintTarget() = std::move(target); }

void ShowSearchState(const QString &text)
{
    if (searchStateTarget())
        searchStateTarget()(text);
}

void setSearchStateTarget(HintTarget target) { searchStateTarget() = std::move(target); }

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
