#include "archive/ArchiveCheck.h"
#include "store/Dialect.h"

#include <QFileInfo>

namespace store {

namespace {
constexpr int kMaxIntegrityProblems = 100;
constexpr int kMaxBreaksNamed = 20; // besides the first

QString countText(qint64 n) { return n < 0 ? QStringLiteral("?") : QString::number(n); }
} // namespace

QString missingReason(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QStringLiteral("no path given");
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("not found");
    if (info.isDir())
        return QStringLiteral("is a folder, not a file");
    if (!info.isFile())
        return QStringLiteral("is not a regular file");
    if (!info.isReadable())
        return QStringLiteral("cannot be read");
    return QString();
}

namespace {

void examine(Connection &c, ArchiveReport &report, bool checkFiles, const std::optional<TrailMark> &noted)
{
    try {
        report.integrity = integrityProblems(c, kMaxIntegrityProblems);
    } catch (const StoreError &e) {
        // So damaged that the check itself cannot run.
        report.integrity = QStringList{e.description()};
    }
    try {
        report.tables = tableNames(c);
        report.archiveTables = isArchive(c);
        if (report.archiveTables) {
            report.counts = countTables(c);
            forEachRecordWithoutType(c, [&](const RecordRow &r) { report.untyped.push_back(r); });
            report.schemaVersion = schemaVersion(c);
            report.chain = verifyHistoryChain(c, noted);
        }
    } catch (const StoreError &e) {
        report.archiveTables = false;
        if (report.integrityOk())
            report.integrity = QStringList{e.description()};
    }
    if (checkFiles && report.archiveTables) {
        report.filesChecked = true;
        try {
            forEachFileReference(c, [&](const FileReference &ref) {
                ++report.filesNamed;
                const QString why = missingReason(ref.path);
                if (!why.isEmpty())
                    report.missing.push_back({ref, why, false});
            });
            report.orphanPhotos = countOrphanPhotos(c);
            if (report.schemaVersion >= 3)
                report.searchIndex = verifySearchIndex(c);
        } catch (const StoreError &e) {
            report.filesChecked = false;
            if (report.integrityOk())
                report.integrity = QStringList{e.description()};
        }
    }
}

} // namespace

ArchiveReport checkArchive(const QString &path, bool checkFiles, const std::optional<TrailMark> &noted)
{
    ArchiveReport report;
    report.path = path;
    if (!isServerAddress(path)) {
        report.earlier = earlierFormatOf(path);
        if (report.earlier != EarlierFormat::None)
            return report;
    }
    try {
        Connection c(path);
        examine(c, report, checkFiles, noted);
    } catch (const StoreError &e) {
        report.openError = e.description();
    }
    return report;
}

ArchiveReport checkArchiveCopy(const QString &path, const std::optional<TrailMark> &noted)
{
    ArchiveReport report;
    report.path = path;
    try {
        Connection c = Connection::openUnchanging(path);
        examine(c, report, false, noted);
    } catch (const StoreError &e) {
        report.openError = e.description();
    }
    return report;
}

bool ArchiveReport::searchIndexFits() const
{
    for (const SearchIndexCheck &check : searchIndex)
        if (check.state != SearchIndexState::NotBuilt && !check.fits())
            return false;
    return true;
}

int ArchiveReport::exitCode() const
{
    if (earlier == EarlierFormat::Jet3 || earlier == EarlierFormat::Jet4)
        return 4;
    if (!sound())
        return 1;
    return missing.isEmpty() ? 0 : 3;
}

QString ArchiveReport::text() const
{
    QStringList lines;
    lines << QStringLiteral("archive: ") + path;
    if (earlier == EarlierFormat::Ace) {
        lines << QStringLiteral("not an archive: a file of Access 2007 or later (ACE); the earlier system's archives are "
                                "Access 97 or 2000 files, and this format cannot be imported");
        lines << QStringLiteral("result: FAULT (the file is not an archive)");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (earlier != EarlierFormat::None) {
        lines << QStringLiteral("earlier system: a %1 database of the earlier system, not damaged; this program does "
                                "not open it, and nothing in it was changed")
                     .arg(earlier == EarlierFormat::Jet3 ? QStringLiteral("Jet 3 (Access 97)") : QStringLiteral("Jet 4 (Access 2000)"));
        lines << QStringLiteral("import it into a new archive: casearchive-admin import %1 NEW-ARCHIVE").arg(path);
        lines << QStringLiteral("result: EARLIER SYSTEM (import it; the administrator's guide: \"Moving over from the earlier system\")");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (!openError.isEmpty()) {
        lines << QStringLiteral("cannot open: ") + openError;
        // A server that does not answer is no damaged file: say which was tried.
        lines << (isServerAddress(path) ? QStringLiteral("result: FAULT (the archive on the server cannot be opened)")
                                        : QStringLiteral("result: FAULT (the file cannot be opened as an archive)"));
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (integrityOk()) {
        lines << QStringLiteral("integrity: ok");
    } else {
        lines << QStringLiteral("integrity: DAMAGED");
        for (const QString &problem : integrity)
            lines << QStringLiteral("  ") + problem;
    }
    lines << QStringLiteral("tables: ") + (tables.isEmpty() ? QStringLiteral("(none)") : tables.join(QStringLiteral(", ")));
    if (archiveTables)
        lines << QStringLiteral("rows: Catalog %1, Detail %2, photo %3, User %4")
                     .arg(countText(counts.catalog), countText(counts.detail), countText(counts.photo),
                          countText(counts.user));
    else
        lines << QStringLiteral("not an archive: the tables Catalog, Detail, photo and User (UID, PWD, 权限) are not all there");
    if (archiveTables) {
        if (schemaVersion < 2)
            lines << QStringLiteral("schema version: %1 (no trail or recycle bin yet: the program's first change adds them "
                                    "to a file, casearchive-admin upgrade to a server's database)")
                         .arg(schemaVersion);
        else
            lines << QStringLiteral("schema version: %1").arg(schemaVersion);
        if (schemaVersion >= 2 || !chain.whole) {
            if (chain.whole)
                lines << QStringLiteral("trail: %1 entries, hash chain whole").arg(chain.entries);
            else
                lines << QStringLiteral("trail: %1 entries, hash chain BROKEN at entry %2: %3")
                             .arg(chain.entries)
                             .arg(chain.firstBadId)
                             .arg(chain.problem);
            if (!chain.whole) {
                for (qsizetype i = 1; i < chain.breaks.size() && i <= kMaxBreaksNamed; ++i)
                    lines << QStringLiteral("trail: also BROKEN at entry %1: %2")
                                 .arg(chain.breaks.at(i).id)
                                 .arg(chain.breaks.at(i).problem);
                if (chain.breakCount > kMaxBreaksNamed + 1)
                    lines << QStringLiteral("trail: %1 more entries do not fit").arg(chain.breakCount - kMaxBreaksNamed - 1);
                lines << QStringLiteral("trail: %1 of the %2 entries fit the entry before them (every entry checked)")
                             .arg(chain.fitting)
                             .arg(chain.entries);
            }
            if (chain.newest)
                lines << QStringLiteral("trail mark: %1 (note it where the archive's users cannot write; "
                                        "check PATH --trail-mark %1 then shows that no entry up to it was "
                                        "taken out or written anew)")
                             .arg(chain.newest->text());
            if (schemaVersion >= 2)
                lines << QStringLiteral("recycle bin: %1 records").arg(countText(counts.bin));
            if (counts.pageText > 0)
                lines << QStringLiteral("words read from photos: %1 photos").arg(counts.pageText);
        }
    }
    if (!untyped.isEmpty()) {
        lines << QStringLiteral("records whose type is not in Catalog: %1 (the tree has no type for them; not a fault)")
                     .arg(untyped.size());
        for (const RecordRow &r : untyped)
            lines << QStringLiteral("  record %1 (%2): type %3")
                         .arg(r.number, r.name,
                              r.typeName.isNull() ? QStringLiteral("(none)") : QLatin1Char('"') + r.typeName + QLatin1Char('"'));
    }
    if (filesChecked) {
        lines << QStringLiteral("files named by records: %1, missing: %2").arg(filesNamed).arg(missing.size());
        for (const MissingFile &m : missing)
            lines << QStringLiteral("  record %1 (%2): %3 %4 - %5")
                         .arg(m.reference.number, m.reference.recordName,
                              m.reference.photo ? QStringLiteral("photo") : QStringLiteral("attached file"),
                              m.reference.path, m.why);
        if (orphanPhotos > 0)
            lines << QStringLiteral("photo rows of records no longer in the archive: %1 (not shown anywhere; not a fault)")
                         .arg(orphanPhotos);
    }
    for (const SearchIndexCheck &check : searchIndex) {
        const QString what = check.which == IndexedText::Records ? QStringLiteral("search index of the records")
                                                                  : QStringLiteral("search index of the photos' words");
        if (check.state == SearchIndexState::NotBuilt)
            lines << QStringLiteral("%1: not built yet (casearchive-admin upgrade builds it; the search reads every "
                                    "record until then)").arg(what);
        else if (check.fits())
            lines << QStringLiteral("%1: fits all %2 rows").arg(what).arg(check.rows);
        else
            lines << QStringLiteral("%1: DAMAGED (%2); the search reads every record while the index is missing, "
                                    "and may miss records while it does not fit: casearchive-admin upgrade PATH "
                                    "--rebuild-index builds it anew")
                         .arg(what, check.problem.isEmpty() ? QStringLiteral("missing or unreadable") : check.problem);
    }
    switch (exitCode()) {
    case 0:
        lines << QStringLiteral("result: ok");
        break;
    case 3:
        lines << QStringLiteral("result: FAULT (%1 files named by records are missing)").arg(missing.size());
        break;
    default:
        if (openError.isEmpty() && integrityOk() && archiveTables && !chain.whole)
            lines << QStringLiteral("result: FAULT (the trail has been tampered with from entry %1 on)").arg(chain.firstBadId);
        else if (openError.isEmpty() && integrityOk() && archiveTables && !searchIndexFits())
            lines << QStringLiteral("result: FAULT (the search index does not fit the records; the records themselves are sound)");
        else
            lines << QStringLiteral("result: FAULT (the archive file is damaged or is not an archive)");
        break;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace store
