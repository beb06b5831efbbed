#include "archive/RestoreFiles.h"

#include "archive/Backup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <utility>
#include <vector>

namespace store {

namespace {

constexpr qint64 kChunk = 1 << 20;

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// An open descriptor, closed with its holder.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd &&o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Fd &operator=(Fd &&o) noexcept
    {
        if (this != &o) {
            reset();
            fd = std::exchange(o.fd, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// Gives what this restore made the protection wanted: the owner is whoever runs the
// restore (a folder or file made with the group's rights belongs to nobody until then).
void give(int fd, const Protection &p, bool folder)
{
    if (::fchown(fd, ::geteuid(), p.shared ? p.group : gid_t(-1)) != 0 && p.shared) {
        // Not a member of the group: the file stays this account's own, mode as below.
    }
    const mode_t mode = p.shared ? (folder ? (S_ISGID | 0770) : 0660) : (folder ? 0700 : 0600);
    ::fchmod(fd, mode);
}

// How a file made in the open folder is kept: shared with the folder's group in a shared
// folder (setgid, the group's to write), its owner's alone elsewhere.
Protection protectionOfFolder(int folder)
{
    struct stat st;
    if (::fstat(folder, &st) == 0 && (st.st_mode & S_ISGID) && (st.st_mode & 0070) == 0070)
        return sharedWith(st.st_gid);
    return ownerOnly();
}

// Opens the folder `parts` below the open folder `base`, making what is missing; never
// through a symbolic link. The folders it made are added to `made`; `kept` tells how the
// folder it made them in is kept.
Fd openBelow(int base, const QStringList &parts, std::vector<Fd> &made, Protection &kept, QString &why)
{
    Fd at(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    for (const QString &part : parts) {
        const QByteArray name = QFile::encodeName(part);
        int fd = ::openat(at.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (made.empty())
                kept = protectionOfFolder(at.fd);
            if (::mkdirat(at.fd, name.constData(), 0700) != 0 && errno != EEXIST) {
                why = QStringLiteral("cannot make the folder %1: %2").arg(part, systemError(errno));
                return Fd();
            }
            fd = ::openat(at.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0)
                made.emplace_back(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        }
        if (fd < 0) {
            why = errno == ELOOP || errno == ENOTDIR
                ? QStringLiteral("the way to it goes through a symbolic link or a file (%1)").arg(part)
                : QStringLiteral("cannot open the folder %1: %2").arg(part, systemError(errno));
            return Fd();
        }
        at = Fd(fd);
    }
    return at;
}

QByteArray sha256Of(int fd)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return QByteArray();
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
    }
    return hash.result().toHex();
}

// What lies at the name already: nothing (empty), the backup's bytes ("same"), or why it
// is left as it is.
QString alreadyThere(int folder, const QByteArray &name, const QByteArray &sha256)
{
    struct stat st;
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return QString();
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("left as it is (a symbolic link or not a plain file)");
    Fd fd(::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.fd >= 0 && sha256Of(fd.fd) == sha256)
        return QStringLiteral("same");
    return QStringLiteral("left as it is (differs from the backup)");
}

struct Placed {
    bool restored = false;
    bool inPlace = false;
    QString trouble;
};

// One copy back: `parts` the folders below `base`, `leaf` its name; kept with `fixed`, or
// when not given as the folder it goes into keeps what is made in it.
Placed placeOne(int base, const QStringList &parts, const QString &leaf, const QString &from, const ManifestEntry &e,
                const Rights &rights, const std::optional<Protection> &fixed)
{
    Placed out;
    const QByteArray name = QFile::encodeName(leaf);
    const QByteArray temporary = ".casearchive-restoring-" + QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex().left(16);
    std::vector<Fd> made;
    Protection madeIn;
    Fd folder;
    Fd written;
    QString why;
    {
        // Made with the rights given: only where they may make files.
        const ActingWith acting(rights);
        folder = acting.ok() ? openBelow(base, parts, made, madeIn, why) : Fd();
        if (folder.fd < 0) {
            out.trouble = why.isEmpty() ? QStringLiteral("cannot take the rights of %1").arg(rights.text()) : why;
            return out;
        }
        const QString there = alreadyThere(folder.fd, name, e.sha256);
        if (there == QLatin1String("same")) {
            out.inPlace = true;
            return out;
        }
        if (!there.isEmpty()) {
            out.trouble = there;
            return out;
        }
        // A restore killed half-way leaves its own file under this name: it goes.
        ::unlinkat(folder.fd, temporary.constData(), 0);
        written = Fd(::openat(folder.fd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (written.fd < 0) {
            out.trouble = systemError(errno);
            return out;
        }
    }
    for (Fd &f : made)
        give(f.fd, fixed.value_or(madeIn), true);
    give(written.fd, fixed.value_or(protectionOfFolder(folder.fd)), false);

    OpenFailure failure = OpenFailure::None;
    Fd in(openRegularFile(from, Rights(), failure));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool ok = in.fd >= 0;
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    while (ok) {
        const ssize_t n = ::read(in.fd, buffer.data(), size_t(buffer.size()));
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        hash.addData(QByteArrayView(buffer.constData(), n));
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(written.fd, buffer.constData() + done, size_t(n - done));
            ok = w > 0;
            done += ok ? w : 0;
        }
    }
    ok = ok && ::fsync(written.fd) == 0 && hash.result().toHex() == e.sha256;
    {
        const ActingWith acting(rights);
        // link() never replaces a file that appeared at the name meanwhile.
        if (ok && ::linkat(folder.fd, temporary.constData(), folder.fd, name.constData(), 0) != 0) {
            out.trouble = errno == EEXIST ? QStringLiteral("left as it is (appeared while it was restored)")
                                          : systemError(errno);
            ok = false;
        } else if (!ok) {
            out.trouble = QStringLiteral("the bytes written are not the backup's");
        }
        ::unlinkat(folder.fd, temporary.constData(), 0);
        if (ok)
            ::fsync(folder.fd);
    }
    out.restored = ok;
    return out;
}

} // namespace

FilesPutBack putFilesBack(const QString &folder, const QVector<ManifestEntry> &entries, const BackupOrigin &origin,
                          const QSet<QString> &named, const QString &filesTo, const Rights &rights,
                          const Protection &protection)
{
    FilesPutBack result;
    Fd base;
    if (!filesTo.isEmpty()) {
        // The operator's folder: made as the one who runs the restore, and followed as given.
        if (!makeProtectedFolders(filesTo, protection)) {
            result.trouble << QStringLiteral("cannot make the folder %1").arg(filesTo);
            return result;
        }
        base = Fd(::open(QFile::encodeName(filesTo).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    } else {
        base = Fd(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    const QString scan = origin.scanFolder.isEmpty() ? QString() : QDir::cleanPath(origin.scanFolder) + QLatin1Char('/');
    for (const ManifestEntry &e : entries) {
        if (e.kind != ManifestEntry::File)
            continue;
        const QString from = QDir(folder).filePath(e.inBackup);
        if (!QFileInfo::exists(from)) {
            result.trouble << QStringLiteral("not in the backup: %1").arg(e.original);
            continue;
        }
        QString to;
        QStringList parts;
        if (!filesTo.isEmpty()) {
            parts = e.inBackup.mid(kBackupFilesFolder.size() + 1).split(QLatin1Char('/'));
            to = QDir(filesTo).filePath(parts.join(QLatin1Char('/')));
        } else {
            to = e.original;
            // Only where the restored records keep their files; never a path the list alone names.
            if (!to.startsWith(QLatin1Char('/')) || !(named.contains(to) || (!scan.isEmpty() && to.startsWith(scan)))) {
                result.trouble << QStringLiteral("not put back (no record of the restored archive names it; "
                                                 "--files-to puts it elsewhere): %1")
                                      .arg(to);
                continue;
            }
            parts = to.mid(1).split(QLatin1Char('/'));
        }
        if (base.fd < 0) {
            result.trouble << QStringLiteral("cannot write %1: %2").arg(to, QStringLiteral("the folder cannot be opened"));
            continue;
        }
        const QString leaf = parts.takeLast();
        const Placed placed = filesTo.isEmpty() ? placeOne(base.fd, parts, leaf, from, e, rights, std::nullopt)
                                                : placeOne(base.fd, parts, leaf, from, e, Rights(), protection);
        if (placed.restored)
            ++result.restored;
        else if (placed.inPlace)
            ++result.inPlace;
        else if (placed.trouble.startsWith(QLatin1String("left as it is")))
            result.trouble << QStringLiteral("%1: %2").arg(placed.trouble, to);
        else
            result.trouble << QStringLiteral("cannot write %1: %2").arg(to, placed.trouble);
    }
    return result;
}

} // namespace store
