#include "store/FileModes.h"

#include "store/Database.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {
QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray native(const QString &path) { return QFile::encodeName(path); }

mode_t modeFor(const Protection &p, bool folder)
{
    if (p.shared && !p.groupWrites)
        return folder ? 0750 : 0640;
    if (p.shared)
        return folder ? (S_ISGID | 0770) : 0660;
    return folder ? 0700 : 0600;
}
} // namespace

Protection ownerOnly() { return Protection{}; }

Protection sharedWith(gid_t group) { return Protection{true, group, true}; }

Protection readableBy(gid_t group) { return Protection{true, group, false}; }

PrivateUmask::PrivateUmask() : m_before(::umask(077)) { ::umask(m_before | 077); }

PrivateUmask::~PrivateUmask() { ::umask(m_before); }

Protection protectionOf(const QString &archiveFile)
{
    struct stat st;
    if (::stat(native(archiveFile).constData(), &st) != 0)
        return ownerOnly();
    if ((st.st_mode & 0060) == 0060)
        return sharedWith(st.st_gid);
    return ownerOnly();
}

Protection protectionForNewFileIn(const QString &folder)
{
    struct stat st;
    if (::stat(native(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ownerOnly();
    if ((st.st_mode & S_ISGID) && (st.st_mode & 0070) == 0070)
        return sharedWith(st.st_gid);
    return ownerOnly();
}

QString protect(const QString &path, const Protection &p)
{
    const QByteArray n = native(path);
    struct stat st;
    if (::stat(n.constData(), &st) != 0)
        return QStringLiteral("无法读取“%1”的权限：%2").arg(path, systemError());
    if (p.shared && st.st_gid != p.group && ::chown(n.constData(), uid_t(-1), p.group) != 0)
        return QStringLiteral("无法把“%1”交给它的用户组：%2").arg(path, systemError());
    if (::chmod(n.constData(), modeFor(p, S_ISDIR(st.st_mode))) != 0)
        return QStringLiteral("无法设置“%1”的权限：%2").arg(path, systemError());
    return QString();
}

QString protectTree(const QString &folder, const Protection &p)
{
    QString problem = protect(folder, p);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(native(path).constData(), &st) != 0 || S_ISLNK(st.st_mode))
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue;
        const QString again = protect(path, p);
        if (problem.isEmpty())
            problem = again;
    }
    return problem;
}

bool makeProtectedFolders(const QString &folder, const Protection &p)
{
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent != clean && !makeProtectedFolders(parent, p))
        return false;
    if (::mkdir(native(clean).constData(), 0700) != 0)
        return errno == EEXIST && QFileInfo(clean).isDir();
    return protect(clean, p).isEmpty();
}

void createProtectedFile(const QString &path, const Protection &p)
{
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            throw StoreError(QStringLiteral("文件“%1”已经存在。").arg(path));
        throw StoreError(QStringLiteral("无法建立文件“%1”：%2").arg(path, systemError()));
    }
    bool ok = true;
    struct stat st;
    if (p.shared) // a shared folder's setgid bit has handed the group on already
        ok = ::fstat(fd, &st) == 0 && (st.st_gid == p.group || ::fchown(fd, uid_t(-1), p.group) == 0);
    ok = ok && ::fchmod(fd, modeFor(p, false)) == 0;
    const QString why = ok ? QString() : systemError();
    ::close(fd);
    if (!ok) {
        QFile::remove(path);
        throw StoreError(QStringLiteral("无法设置“%1”的权限：%2").arg(path, why));
    }
}

QStringList companionFiles(const QString &archiveFile)
{
    return {archiveFile + QStringLiteral("-journal"), archiveFile + QStringLiteral("-wal"),
            archiveFile + QStringLiteral("-shm")};
}

int modeOf(const QString &path)
{
    struct stat st;
    if (::stat(native(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace store
