#include "archive/BackupManifest.h"

#include "archive/Backup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace store {

const QString kBackupChecksumsName = QStringLiteral("manifest.sha256");

namespace {

constexpr qint64 kMaxManifestBytes = qint64(512) << 20; // a million files' lines, with room
constexpr qint64 kChunk = 1 << 20;
const QByteArray kHeader = QByteArrayLiteral("casearchive backup 1");
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

} // namespace

QByteArray manifestBytes(const QVector<ManifestEntry> &entries)
{
    QByteArray out = kHeader + '\n';
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

QString readManifest(const QString &path, QVector<ManifestEntry> &entries)
{
    entries.clear();
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
    if (lines.isEmpty() || lines.first() != kHeader)
        return QStringLiteral("the checksum list is of an unknown kind");
    int archives = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split('\t');
        const QString bad = QStringLiteral("the checksum list's line %1 is malformed").arg(i + 1);
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

BackupReport checkBackup(const QString &folder, const std::optional<TrailMark> &noted)
{
    BackupReport report;
    report.folder = folder;
    const QDir dir(folder);
    QVector<ManifestEntry> entries;
    report.manifestProblem = readManifest(dir.filePath(kBackupChecksumsName), entries);
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
    for (const ManifestEntry &e : std::as_const(entries)) {
        QString what;
        switch (e.kind) {
        case ManifestEntry::Archive:
            report.archiveName = e.inBackup;
            if (!compare(e, what))
                report.archiveDiffers = QStringLiteral("is missing");
            else
                report.archiveDiffers = what;
            break;
        case ManifestEntry::File:
            ++report.filesListed;
            if (!compare(e, what))
                report.missing.push_back({e.inBackup, e.original, QStringLiteral("missing")});
            else if (!what.isEmpty())
                report.damaged.push_back({e.inBackup, e.original, what});
            break;
        case ManifestEntry::Missing:
            report.missingAtBackup << e.original;
            break;
        }
    }
    if (report.archiveDiffers != QLatin1String("is missing"))
        report.archive = checkArchive(dir.filePath(report.archiveName), false, noted);
    return report;
}

int BackupReport::exitCode() const
{
    if (!manifestProblem.isEmpty() || !archiveDiffers.isEmpty() || !archive.sound() || !damaged.isEmpty())
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
        lines << QStringLiteral("result: FAULT (the backup is damaged)");
        break;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace store
