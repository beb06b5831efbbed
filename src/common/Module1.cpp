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

namespace {
bool samePath(const QString &a, const QString &b)
{
    if (store::isServerAddress(a) || store::isServerAddress(b))
        return a == b;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// Earlier versions wrote the archive they settled on into the user's own file at every
// start: the site's [Data] Path, or the default archive, then stuck to every user who had
// started the program once, and a later move of the archive by the administrator reached
// none of them. Such a copy is no choice of the user's; it goes, and the site's value or
// the default counts again. A path of the user's own that names another archive stays.
void forgetCopiedPath(const QString &section, const QString &key)
{
    if (!settings::hasOwn(section, key))
        return;
    const QString own = settings::readOwn(section, key);
    const QString site = settings::readSite(section, key);
    if (own.trimmed().isEmpty() || (!site.isEmpty() && samePath(own, site)) || samePath(own, defaultDatabasePath()))
        settings::removeOwn(section, key);
}
} // namespace

void LocateDatabase(const QString &candidate)
{
    reportedPath().clear();
    const QString section = QStringLiteral("Data");
    const QString key = QStringLiteral("Path");
    forgetCopiedPath(section, key);
    // The user's own path, else the site's; neither is written back, so the site's file
    // stays the one place where the administrator moves every user to another archive.
    const QString remembered = settings::read(section, key);
    const QString path = candidate.isEmpty() ? remembered : candidate;
    const QString why = path.isEmpty() ? QStringLiteral("-") : whyUnreadable(path);
    if (why.isEmpty()) {
        DbPath = path;
        if (!candidate.isEmpty() && !samePath(candidate, remembered))
            settings::write(section, key, DbPath); // chosen by the user
        return;
    }
    const QString fallback = defaultDatabasePath();
    if (!candidate.isEmpty() || remembered.isEmpty() || samePath(remembered, fallback)) {
        DbPath = fallback;
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
