#include "archive/BackupSet.h"

#include "archive/Backup.h"
#include "archive/BackupManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>

namespace store {

namespace {

const QRegularExpression &backupName()
{
    static const QRegularExpression name(QStringLiteral("^病案备份-(\\d{8}-\\d{6})(?:-(\\d+))?$"));
    return name;
}

bool isSymbolicLink(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISLNK(st.st_mode);
}

bool sameArchive(const BackupOrigin &a, const BackupOrigin &b)
{
    if (!a.identity.isEmpty() || !b.identity.isEmpty())
        return a.identity == b.identity;
    // Archives made before they had an identity: the same file or address.
    return a.source == b.source;
}

} // namespace

QStringList backupsIn(const QString &folder)
{
    const QDir dir(folder);
    struct Found {
        QString stamp;
        int n;
        QString name;
    };
    QVector<Found> found;
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QRegularExpressionMatch m = backupName().match(entry);
        if (m.hasMatch())
            found.push_back({m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt(), entry});
    }
    // "-10" after "-9": the number, not the text.
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.n < b.n;
    });
    QStringList names;
    for (const Found &f : found)
        names << f.name;
    return names;
}

KeepResult keepNewestBackups(const QString &folder, int keep, const QString &newest)
{
    KeepResult result;
    QVector<ManifestEntry> entries;
    BackupOrigin made;
    if (!readManifest(QDir(newest).filePath(kBackupChecksumsName), entries, &made).isEmpty() || !made.made.isValid())
        return result; // nothing to measure the others by: nothing goes
    const QString newestPath = QFileInfo(newest).canonicalFilePath();
    struct Candidate {
        QDateTime made;
        QString name;
    };
    QVector<Candidate> candidates;
    const QDir dir(folder);
    for (const QString &name : backupsIn(folder)) {
        const QString path = dir.absoluteFilePath(name);
        if (isSymbolicLink(path)) {
            result.others << QStringLiteral("%1: a symbolic link, not a backup made here").arg(name);
            continue;
        }
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical == newestPath)
            continue;
        BackupOrigin origin;
        if (!readManifest(QDir(path).filePath(kBackupChecksumsName), entries, &origin).isEmpty()) {
            result.others << QStringLiteral("%1: no whole checksum list of a backup").arg(name);
            continue;
        }
        if (!origin.made.isValid()) {
            result.others << QStringLiteral("%1: made by an earlier version, which did not name its archive").arg(name);
            continue;
        }
        if (origin.folder != canonical) {
            result.others << QStringLiteral("%1: made as %2, a copy or a backup moved here").arg(name, origin.folder);
            continue;
        }
        if (!sameArchive(origin, made)) {
            result.others << QStringLiteral("%1: a backup of another archive (%2)").arg(name, origin.source);
            continue;
        }
        if (origin.made > made.made) {
            result.later << name;
            continue;
        }
        candidates.push_back({origin.made, name});
    }
    // Newest first; the backup just made counts as the first kept.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.made > b.made; });
    int kept = 1;
    for (const Candidate &c : std::as_const(candidates)) {
        const QString path = dir.absoluteFilePath(c.name);
        if (checkBackup(path).exitCode() != 0) {
            result.damaged << c.name;
            continue;
        }
        if (kept < keep) {
            ++kept;
            continue;
        }
        // Looked at again just before: a folder swapped for a link since is not followed.
        if (!isSymbolicLink(path) && QDir(path).removeRecursively())
            result.removed << c.name;
        else
            result.failed << c.name;
    }
    return result;
}

} // namespace store
