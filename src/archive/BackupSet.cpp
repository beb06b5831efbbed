#include "archive/BackupSet.h"

#include "archive/Backup.h"
#include "archive/BackupManifest.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace store {

QStringList backupsIn(const QString &folder)
{
    static const QRegularExpression name(QStringLiteral("^病案备份-(\\d{8}-\\d{6})(?:-(\\d+))?$"));
    const QDir dir(folder);
    struct Found {
        QString stamp;
        int n;
        QString name;
    };
    QVector<Found> found;
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = name.match(entry);
        // A folder of that name without a backup's lists is not ours to count or remove.
        if (!m.hasMatch() || !(QDir(dir.filePath(entry)).exists(kBackupManifestName)
                               || QDir(dir.filePath(entry)).exists(kBackupChecksumsName)))
            continue;
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

KeepResult keepNewestBackups(const QString &folder, int keep)
{
    KeepResult result;
    const QStringList all = backupsIn(folder);
    for (qsizetype i = 0; i + qMax(1, keep) < all.size(); ++i) {
        if (QDir(QDir(folder).filePath(all.at(i))).removeRecursively())
            result.removed << all.at(i);
        else
            result.failed << all.at(i);
    }
    return result;
}

} // namespace store
