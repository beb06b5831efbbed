#include "store/GroupRights.h"

#include <QFile>
#include <QVector>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr uid_t kNobodyFallback = 65534;

uid_t nobody()
{
    struct passwd entry;
    struct passwd *found = nullptr;
    QByteArray buffer(16384, '\0');
    if (getpwnam_r("nobody", &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found)
        return found->pw_uid;
    return kNobodyFallback;
}

gid_t groupNamed(const QString &name, bool &known)
{
    struct group entry;
    struct group *found = nullptr;
    QByteArray buffer(16384, '\0');
    known = getgrnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), size_t(buffer.size()), &found) == 0
        && found;
    return known ? found->gr_gid : gid_t(kNobodyFallback);
}

QString nameOfUser(uid_t uid)
{
    struct passwd entry;
    struct passwd *found = nullptr;
    QByteArray buffer(16384, '\0');
    if (getpwuid_r(uid, &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString nameOfGroup(gid_t gid)
{
    struct group entry;
    struct group *found = nullptr;
    QByteArray buffer(16384, '\0');
    if (getgrgid_r(gid, &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

OpenFailure failureOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return OpenFailure::Missing;
    case EACCES:
    case EPERM:
        return OpenFailure::Denied;
    case ENXIO: // a FIFO without writer, opened without blocking for writing; a socket
    case ENODEV:
    case EISDIR:
        return OpenFailure::NotRegular;
    default:
        return OpenFailure::Unreadable;
    }
}

} // namespace

QString Rights::text() const
{
    return switched ? nameOfUser(uid) + QLatin1Char(':') + nameOfGroup(gid) : QStringLiteral("(own)");
}

Rights rightsOfArchiveFile(const QString &archiveFile)
{
    Rights r;
    struct stat st;
    if (::geteuid() != 0 || ::stat(QFile::encodeName(archiveFile).constData(), &st) != 0)
        return r;
    if (st.st_mode & 0002) {
        bool known = false;
        r = {true, nobody(), groupNamed(QStringLiteral("nogroup"), known)};
    } else if (st.st_mode & 0020) {
        r = {true, nobody(), st.st_gid};
    } else if (st.st_uid != 0) {
        r = {true, st.st_uid, st.st_gid};
    }
    return r;
}

Rights rightsOfGroup(const QString &group)
{
    Rights r;
    if (::geteuid() != 0)
        return r;
    bool known = false;
    const gid_t gid = groupNamed(group, known);
    if (!known)
        groupNamed(QStringLiteral("nogroup"), known);
    return {true, nobody(), known ? gid : gid_t(kNobodyFallback)};
}

ActingWith::ActingWith(const Rights &rights)
{
    if (!rights.switched)
        return;
    m_active = true;
    // The supplementary groups first (root's own may open files of group root), then the
    // group, then the user: once the user is switched the thread may no longer change them.
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        m_groups.resize(qsizetype(count) * qsizetype(sizeof(gid_t)));
        if (::getgroups(count, reinterpret_cast<gid_t *>(m_groups.data())) != count)
            m_groups.clear();
    }
    const gid_t only = rights.gid;
    m_ok = ::setgroups(1, &only) == 0;
    m_gid = gid_t(::setfsgid(rights.gid));
    m_uid = uid_t(::setfsuid(rights.uid));
    // setfsuid and setfsgid tell only what was before: asked again, they tell what is now.
    m_ok = m_ok && gid_t(::setfsgid(gid_t(-1))) == rights.gid && uid_t(::setfsuid(uid_t(-1))) == rights.uid;
}

ActingWith::~ActingWith()
{
    if (!m_active)
        return;
    ::setfsuid(m_uid);
    ::setfsgid(m_gid);
    ::setgroups(size_t(m_groups.size()) / sizeof(gid_t), reinterpret_cast<const gid_t *>(m_groups.constData()));
}

int openRegularFile(const QString &path, const Rights &rights, OpenFailure &why)
{
    why = OpenFailure::None;
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    int error = 0;
    {
        const ActingWith acting(rights);
        if (!acting.ok()) {
            why = OpenFailure::Denied; // never read with more rights than meant
            return -1;
        }
        // A device is never opened (opening some has effects of its own); what changes into
        // one after this look is refused below, once open. Without blocking: a FIFO with
        // nobody at its other end would hold the open for ever.
        struct stat before;
        if (::stat(native.constData(), &before) != 0) {
            error = errno;
        } else if (!S_ISREG(before.st_mode)) {
            why = OpenFailure::NotRegular;
            return -1;
        } else {
            fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            error = errno;
        }
    }
    if (fd < 0) {
        why = failureOf(error);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = OpenFailure::NotRegular;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace store
