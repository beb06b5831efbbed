#include "common/Installation.h"

#include "common/Module1.h"
#include "store/Dialect.h"
#include "store/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

const QString kArchiveGroup = QStringLiteral("casearchive");

namespace {
const QString kBuiltInMachineFolder = QStringLiteral("/var/lib/casearchive");

QString &machineOverride()
{
    static QString f;
    return f;
}

QString dataFile(const QString &folder) { return QDir::cleanPath(folder + QStringLiteral("/Data/file.dat")); }

bool underFolder(const QString &path, const QString &folder)
{
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return p.startsWith(f + QLatin1Char('/'));
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The group's id, or a problem in words.
QString groupId(const QString &group, gid_t &gid)
{
    const QByteArray name = group.toLocal8Bit();
    struct group entry;
    struct group *found = nullptr;
    QByteArray buffer(16384, '\0');
    const int rc = getgrnam_r(name.constData(), &entry, buffer.data(), size_t(buffer.size()), &found);
    if (rc != 0 || !found)
        return QStringLiteral("系统中没有用户组“%1”。请先用“sudo addgroup --system %1”建立它。").arg(group);
    gid = found->gr_gid;
    return QString();
}

QString changeGroupAndMode(const QString &path, const QString &group, mode_t mode)
{
    gid_t gid = 0;
    const QString problem = groupId(group, gid);
    if (!problem.isEmpty())
        return problem;
    const QByteArray native = QFile::encodeName(path);
    if (::chown(native.constData(), uid_t(-1), gid) != 0)
        return QStringLiteral("无法把“%1”交给用户组“%2”：%3").arg(path, group, systemError());
    if (::chmod(native.constData(), mode) != 0)
        return QStringLiteral("无法设置“%1”的权限：%2").arg(path, systemError());
    return QString();
}
} // namespace

QString machineFolder() { return machineOverride().isEmpty() ? kBuiltInMachineFolder : machineOverride(); }

void setMachineFolder(const QString &folder) { machineOverride() = folder; }

QString installationFolderFor(const QString &programFolder, bool programFolderWritable,
                              const QString &machineFolder)
{
    if (QFileInfo(dataFile(programFolder)).isFile())
        return programFolder;
    if (QFileInfo(QDir::cleanPath(programFolder)).fileName() == QLatin1String("bin"))
        return machineFolder;
    return programFolderWritable ? programFolder : machineFolder;
}

bool runningAsRoot() { return ::geteuid() == 0; }

bool canWriteIn(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable())
        return false;
    const QFileInfo data(QDir(folder).filePath(QStringLiteral("Data")));
    return !data.exists() || (data.isDir() && data.isWritable());
}

QString installationFolder()
{
    const QString folder = programFolder();
    return installationFolderFor(folder, canWriteIn(folder), machineFolder());
}

QString shellQuoted(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_/.:,+=@%-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString archiveSetupCommand(const QString &path)
{
    QString command = shellQuoted(QDir(programFolder()).filePath(QStringLiteral("casearchive-admin")))
        + QStringLiteral(" init");
    if (QDir::cleanPath(QFileInfo(path).absoluteFilePath()) != QFileInfo(defaultDatabasePath()).absoluteFilePath())
        command += QLatin1Char(' ') + shellQuoted(path);
    if (underFolder(path, machineFolder()))
        command.prepend(QStringLiteral("sudo "));
    return command;
}

QString archiveSetupAdvice(const QString &path)
{
    // An archive on a server is prepared there by its administrator; the connection's
    // own message tells what is wrong.
    if (path.isEmpty() || QFileInfo::exists(path) || store::isServerAddress(path))
        return QString();
    if (underFolder(path, machineFolder()))
        return QStringLiteral("\n\n本机还没有病案数据库。请系统管理员运行下面的命令建立一个空的病案数据库"
                              "（操作员“管理员”，密码为空），然后重新启动本程序：\n%1\n"
                              "需要录入或修改病案的用户，还要由系统管理员加入用户组 %2：\n"
                              "sudo adduser 用户名 %2")
            .arg(archiveSetupCommand(path), kArchiveGroup);
    return QStringLiteral("\n\n请运行下面的命令建立一个空的病案数据库（操作员“管理员”，密码为空），"
                          "然后重新启动本程序：\n%1")
        .arg(archiveSetupCommand(path));
}

QString shareFolderWithGroup(const QString &folder, const QString &group)
{
    gid_t gid = 0;
    const QString problem = groupId(group, gid); // nothing is made for a group that is missing
    if (!problem.isEmpty())
        return problem;
    if (!store::makeProtectedFolders(folder))
        return QStringLiteral("无法建立文件夹“%1”。").arg(folder);
    return changeGroupAndMode(folder, group, S_ISGID | 0770);
}

QString shareFileWithGroup(const QString &file, const QString &group)
{
    return changeGroupAndMode(file, group, 0660);
}

QStringList secureArchive(const QString &archivePath, QStringList &problems, const QString &group)
{
    QStringList done;
    auto note = [&](const QString &path, const QString &problem) {
        if (!problem.isEmpty())
            problems << problem;
        else
            done << QStringLiteral("%1 %2").arg(store::modeOf(path), 4, 8, QLatin1Char('0')).arg(path);
    };
    const QString file = QFileInfo(archivePath).absoluteFilePath();
    const QString folder = QFileInfo(file).absolutePath();
    const QString machineData = QFileInfo(machineFolder() + QStringLiteral("/Data")).absoluteFilePath();
    QStringList files{file};
    for (const QString &companion : store::companionFiles(file))
        if (QFileInfo::exists(companion))
            files << companion;

    if (folder == machineData) {
        // The machine's folder and its Data folder, with INFORMATION.INI beside them.
        for (const QString &f : {QFileInfo(machineFolder()).absoluteFilePath(), machineData})
            if (QFileInfo(f).isDir())
                note(f, shareFolderWithGroup(f, group));
        const QString marker = QFileInfo(machineFolder() + QStringLiteral("/INFORMATION.INI")).absoluteFilePath();
        if (QFileInfo(marker).isFile())
            files << marker;
        for (const QString &f : std::as_const(files))
            note(f, shareFileWithGroup(f, group));
        return done;
    }
    const bool ownFolder = QFileInfo(defaultDatabasePath()).absoluteFilePath() == file;
    const store::Protection p = ownFolder ? store::ownerOnly() : store::protectionOf(file);
    if (ownFolder)
        note(folder, store::protect(folder, p));
    for (const QString &f : std::as_const(files))
        note(f, store::protect(f, p));
    return done;
}

} // namespace app
