#include "archive/BackupManifest.h"

#include "archive/Backup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace store {

const QString kBackupChecksumsName = QStringLiteral("manifest.sha256");

namespace {

constexpr qint64 kMaxManifestBytes = qint64(512) << 20; // a million files' lines, with room
constexpr qint64 kChunk = 1 << 20;
const QByteArray kHeader = QByteArrayLiteral("casearchive backup 1");  // before a backup named its source
const QByteArray kHeader2 = QByteArrayLiteral("casearchive backup 2");
const QByteArray kSumTag = QByteArrayLiteral("sha256\t");

QByteArray encodePath(const QString &path)
{
    const QByteArray utf8 = path.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7f || b == '%')
            out += '%' + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
        else
            out += ch;
    }
    return out;
}

QString decodePath(const QByteArray &field) { return QString::fromUtf8(QByteArray::fromPercentEncoding(field)); }

bool isHexSha(const QByteArray &h)
{
    if (h.size() != 64)
        return false;
    for (const char c : h)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// A path inside the backup, as a list may name it: relative, and never leading out.
bool safeInside(const QString &relative)
{
    if (relative.isEmpty() || relative.startsWith(QLatin1Char('/')) || relative.contains(QLatin1Char('\\'))
        || relative.contains(QChar(0)))
        return false;
    for (const QString &part : relative.split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    return relative != kBackupChecksumsName;
}

// A path as the records name a file: absolute, and without a part that leads elsewhere.
bool plainAbsolute(const QString &path)
{
    if (path.contains(QChar(0)) || path.contains(QLatin1Char('\\')))
        return false;
    QString rest = path;
    if (rest.size() >= 3 && rest.at(1) == QLatin1Char(':') && rest.at(2) == QLatin1Char('/'))
        rest = rest.mid(2); // a path of the earlier system: "C:/..."
    if (!rest.startsWith(QLatin1Char('/')) || rest.size() < 2)
        return false;
    for (const QString &part : rest.mid(1).split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    return true;
}

} // namespace

QString backupPathOf(const QString &original)
{
    QString rel = QDir::cleanPath(QDir::fromNativeSeparators(original));
    if (rel.size() >= 2 && rel.at(1) == QLatin1Char(':'))
        rel.remove(1, 1);
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    return kBackupFilesFolder + QLatin1Char('/') + rel;
}

QByteArray manifestBytes(const QVector<ManifestEntry> &entries, const BackupOrigin &origin)
{
    QByteArray out;
    if (origin.made.isValid()) {
        out = kHeader2 + '\n';
        out += "source\t" + encodePath(origin.source) + '\n';
        out += "identity\t" + (origin.identity.isEmpty() ? QByteArray("-") : encodePath(origin.identity)) + '\n';
        // With its offset from UTC: the order of backups made across a change of the clocks.
        out += "made\t" + origin.made.toOffsetFromUtc(origin.made.offsetFromUtc()).toString(Qt::ISODate).toUtf8() + '\n';
        out += "folder\t" + encodePath(origin.folder) + '\n';
        if (!origin.scanFolder.isEmpty())
            out += "scan\t" + encodePath(origin.scanFolder) + '\n';
    } else {
        out = kHeader + '\n';
    }
    for (const ManifestEntry &e : entries) {
        switch (e.kind) {
        case ManifestEntry::Archive:
            out += "archive\t" + QByteArray::number(e.size) + '\t' + e.sha256 + '\t' + encodePath(e.inBackup) + '\n';
            break;
        case ManifestEntry::File:
            out += "file\t" + QByteArray::number(e.size) + '\t' + e.sha256 + '\t' + encodePath(e.inBackup) + '\t'
                + encodePath(e.original) + '\n';
            break;
        case ManifestEntry::Missing:
            out += "missing\t-\t-\t-\t" + encodePath(e.original) + '\n';
            break;
        }
    }
    return out + kSumTag + QCryptographicHash::hash(out, QCryptographicHash::Sha256).toHex() + '\n';
}

QString readManifest(const QString &path, QVector<ManifestEntry> &entries, BackupOrigin *origin)
{
    entries.clear();
    BackupOrigin found;
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        return QStringLiteral("the checksum list %1 is missing or cannot be read").arg(kBackupChecksumsName);
    if (f.size() > kMaxManifestBytes)
        return QStringLiteral("the checksum list is implausibly large (%1 bytes)").arg(f.size());
    const QByteArray all = f.read(kMaxManifestBytes + 1);
    if (all.size() != f.size() || all.size() > kMaxManifestBytes)
        return QStringLiteral("the checksum list cannot be read to its end");
    // Its own checksum covers every byte before its last line.
    const qsizetype last = all.endsWith('\n') ? all.lastIndexOf('\n', all.size() - 2) + 1 : -1;
    if (last <= 0 || !all.mid(last).startsWith(kSumTag))
        return QStringLiteral("the checksum list is cut short (its own checksum line is missing)");
    const QByteArray body = all.left(last);
    const QByteArray stated = all.mid(last + kSumTag.size()).trimmed();
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() != stated)
        return QStringLiteral("the checksum list has been changed or damaged (its own SHA-256 differs)");
    const QList<QByteArray> lines = body.split('\n');
    if (lines.isEmpty() || (lines.first() != kHeader && lines.first() != kHeader2))
        return QStringLiteral("the checksum list is of an unknown kind");
    const bool named = lines.first() == kHeader2;
    int archives = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split('\t');
        const QString bad = QStringLiteral("the checksum list's line %1 is malformed").arg(i + 1);
        if (named && f.size() == 2 && QByteArrayList{"source", "identity", "made", "folder", "scan"}.contains(f.first())) {
            const QString value = decodePath(f.at(1));
            if (f.first() == "source")
                found.source = value;
            else if (f.first() == "identity")
                found.identity = value == QLatin1String("-") ? QString() : value;
            else if (f.first() == "made")
                found.made = QDateTime::fromString(value, Qt::ISODate);
            else if (f.first() == "folder")
                found.folder = value;
            else
                found.scanFolder = value;
            continue;
        }
        ManifestEntry e;
        if (f.first() == "missing" && f.size() == 5) {
            e.kind = ManifestEntry::Missing;
            e.original = decodePath(f.at(4));
            entries.push_back(e);
            continue;
        }
        if (!((f.first() == "archive" && f.size() == 4) || (f.first() == "file" && f.size() == 5)))
            return bad;
        e.kind = f.first() == "archive" ? ManifestEntry::Archive : ManifestEntry::File;
        bool ok = false;
        e.size = f.at(1).toLongLong(&ok);
        if (!ok || e.size < 0 || !isHexSha(f.at(2)))
            return bad;
        e.sha256 = f.at(2);
        e.inBackup = decodePath(f.at(3));
        if (!safeInside(e.inBackup))
            return bad;
        if (e.kind == ManifestEntry::File) {
            e.original = decodePath(f.at(4));
            if (!e.inBackup.startsWith(kBackupFilesFolder + QLatin1Char('/')))
                return bad;
        } else {
            ++archives;
        }
        entries.push_back(e);
    }
    if (archives != 1)
        return QStringLiteral("the checksum list does not name exactly one archive");
    if (named && (!found.made.isValid() || found.folder.isEmpty() || found.source.isEmpty()))
        return QStringLiteral("the checksum list does not say whose archive it holds and when it was made");
    if (origin)
        *origin = found;
    return QString();
}

QByteArray sha256OfFile(const QString &path, qint64 &size, QString &error)
{
    size = 0;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = f.errorString();
        return QByteArray();
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    for (;;) {
        const qint64 n = f.read(buffer.data(), buffer.size());
        if (n < 0) {
            error = f.errorString();
            return QByteArray();
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        size += n;
    }
    return hash.result().toHex();
}

QString backupFolderOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QDir dir(path);
        return dir.exists(kBackupChecksumsName) || dir.exists(kBackupManifestName) ? info.absoluteFilePath() : QString();
    }
    if (info.isFile() && info.dir().exists(kBackupChecksumsName))
        return info.absolutePath();
    return QString();
}

namespace {

// What lies in the backup's folder that its list does not account for: files it does not
// name, symbolic links, FIFOs and the like, anywhere below. A journal beside the archive
// is named as what it is: SQLite would roll it into the archive.
QStringList unaccounted(const QString &folder, const QSet<QString> &listed, const QString &archiveName)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            found << QStringLiteral("%1 is a symbolic link").arg(relative);
        else if (S_ISDIR(st.st_mode))
            continue;
        else if (!S_ISREG(st.st_mode))
            found << QStringLiteral("%1 is not a plain file").arg(relative);
        else if (relative.startsWith(archiveName + QLatin1Char('-')) && !listed.contains(relative))
            found << QStringLiteral("%1 is a journal beside the archive (opening the archive would write it into it)")
                         .arg(relative);
        else if (!listed.contains(relative))
            found << QStringLiteral("%1 is not in the checksum list").arg(relative);
    }
    found.sort();
    return found;
}

} // namespace

BackupReport checkBackup(const QString &folder, const std::optional<TrailMark> &noted)
{
    BackupReport report;
    report.folder = folder;
    const QDir dir(folder);
    QVector<ManifestEntry> entries;
    report.manifestProblem = readManifest(dir.filePath(kBackupChecksumsName), entries, &report.origin);
    if (!report.manifestProblem.isEmpty())
        return report;
    report.checksummed = true;
    // The bytes first, before anything opens the archive as a database.
    auto compare = [&dir](const ManifestEntry &e, QString &what) -> bool {
        const QString path = dir.filePath(e.inBackup);
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return false;
        if (!info.isFile() || info.isSymLink()) {
            what = QStringLiteral("is not a plain file");
            return true;
        }
        qint64 size = 0;
        QString error;
        const QByteArray sum = sha256OfFile(path, size, error);
        if (sum.isEmpty())
            what = QStringLiteral("cannot be read: ") + error;
        else if (size != e.size)
            what = QStringLiteral("has %1 bytes, backed up with %2 (cut short or grown)").arg(size).arg(e.size);
        else if (sum != e.sha256)
            what = QStringLiteral("same size but other bytes (SHA-256 differs)");
        return true;
    };
    QSet<QString> listed{kBackupChecksumsName, kBackupManifestName};
    for (const ManifestEntry &e : std::as_const(entries)) {
        QString what;
        switch (e.kind) {
        case ManifestEntry::Archive:
            report.archiveName = e.inBackup;
            listed.insert(e.inBackup);
            if (!compare(e, what))
                report.archiveDiffers = QStringLiteral("is missing");
            else
                report.archiveDiffers = what;
            break;
        case ManifestEntry::File:
            ++report.filesListed;
            listed.insert(e.inBackup);
            // A copy is kept under its original path and restored there: an entry that
            // pairs a copy with another path would send its bytes elsewhere.
            if (!plainAbsolute(e.original) || backupPathOf(e.original) != e.inBackup)
                report.misplaced.push_back({e.inBackup, e.original, QStringLiteral("is not the place of its original")});
            else if (!compare(e, what))
                report.missing.push_back({e.inBackup, e.original, QStringLiteral("missing")});
            else if (!what.isEmpty())
                report.damaged.push_back({e.inBackup, e.original, what});
            break;
        case ManifestEntry::Missing:
            report.missingAtBackup << e.original;
            break;
        }
    }
    report.strays = unaccounted(folder, listed, report.archiveName);
    // Read-only and immutable: a journal beside it is reported above, never rolled in.
    if (report.archiveDiffers != QLatin1String("is missing"))
        report.archive = checkArchiveCopy(dir.filePath(report.archiveName), noted);
    return report;
}

int BackupReport::exitCode() const
{
    if (!manifestProblem.isEmpty() || !archiveDiffers.isEmpty() || !archive.sound() || !damaged.isEmpty()
        || !misplaced.isEmpty() || !strays.isEmpty())
        return 1;
    return missing.isEmpty() ? 0 : 3;
}

QString BackupReport::text() const
{
    QStringList lines;
    lines << QStringLiteral("backup: ") + folder;
    if (!manifestProblem.isEmpty()) {
        lines << QStringLiteral("checksums: DAMAGED - ") + manifestProblem;
        lines << QStringLiteral("result: FAULT (the backup cannot be proven: its checksum list is missing or damaged)");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    lines << QStringLiteral("checksums: list intact (%1)").arg(kBackupChecksumsName);
    if (origin.made.isValid()) {
        lines << QStringLiteral("made: %1, of %2")
                     .arg(origin.made.toOffsetFromUtc(origin.made.offsetFromUtc()).toString(Qt::ISODate), origin.source);
        lines << QStringLiteral("archive identity: %1")
                     .arg(origin.identity.isEmpty() ? QStringLiteral("none (the archive was made before archives had one)")
                                                    : origin.identity);
        // A backup moved or renamed since (or another archive's put in one's place) says so.
        const QString now = QFileInfo(folder).canonicalFilePath();
        if (!now.isEmpty() && now != origin.folder)
            lines << QStringLiteral("folder: made as %1 (moved or renamed since)").arg(origin.folder);
    } else {
        lines << QStringLiteral("made: not recorded (a backup of an earlier version, which did not name its source)");
    }
    if (archiveDiffers.isEmpty())
        lines << QStringLiteral("archive %1: size and SHA-256 as backed up").arg(archiveName);
    else
        lines << QStringLiteral("archive %1: DAMAGED - %2").arg(archiveName, archiveDiffers);
    if (archiveDiffers != QLatin1String("is missing")) {
        // The archive as an archive, without the records' own paths: those name the
        // originals, not the copies in this backup.
        QString inner = archive.text();
        inner.chop(1);
        for (const QString &line : inner.split(QLatin1Char('\n')))
            if (!line.startsWith(QLatin1String("result: ")) && !line.startsWith(QLatin1String("archive: ")))
                lines << QStringLiteral("  ") + line;
    }
    lines << QStringLiteral("copied files listed: %1, damaged: %2, missing: %3")
                 .arg(filesListed)
                 .arg(damaged.size())
                 .arg(missing.size());
    for (const BackupFinding &f : damaged)
        lines << QStringLiteral("  DAMAGED %1 (of %2): %3").arg(f.inBackup, f.original, f.what);
    for (const BackupFinding &f : missing)
        lines << QStringLiteral("  MISSING %1 (of %2)").arg(f.inBackup, f.original);
    for (const BackupFinding &f : misplaced)
        lines << QStringLiteral("  FOREIGN ENTRY %1 (of %2): %3; the list was not written by the backup").arg(f.inBackup, f.original, f.what);
    for (const QString &stray : strays)
        lines << QStringLiteral("  NOT OF THE BACKUP %1").arg(stray);
    if (!missingAtBackup.isEmpty())
        lines << QStringLiteral("files the records named that were already missing when the backup was made: %1 "
                                "(not in the backup; not a fault of the backup)")
                     .arg(missingAtBackup.size());
    switch (exitCode()) {
    case 0:
        lines << QStringLiteral("result: ok (the archive and every copied file are as backed up)");
        break;
    case 3:
        lines << QStringLiteral("result: FAULT (%1 copied files are missing from the backup)").arg(missing.size());
        break;
    default:
        if (manifestProblem.isEmpty() && archiveDiffers.isEmpty() && archive.sound() && damaged.isEmpty())
            lines << QStringLiteral("result: FAULT (the backup holds what its checksum list does not account for)");
        else
            lines << QStringLiteral("result: FAULT (the backup is damaged)");
        break;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace store
