#include "admin/BackupCommands.h"

#include "admin/StopSignals.h"
#include "admin/Usage.h"
#include "archive/Backup.h"
#include "archive/BackupSet.h"
#include "archive/Restore.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "store/GroupRights.h"
#include "store/Settings.h"
#include "trail/History.h"

#include <QFileInfo>

#include <cstdio>

// From <unistd.h>, whose access() would clash with the namespace access.
extern "C" int isatty(int fd);

namespace {

// A question of restore, answered at the terminal; without one, the answer is no.
bool askAtTerminal(const QString &question)
{
    if (isatty(fileno(stdin)) != 1 || isatty(fileno(stderr)) != 1)
        return false;
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    char line[16] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    return line[0] == 'y' || line[0] == 'Y';
}

} // namespace

// A scheduled backup: what the backup window does, with a line of progress every tenth.
int backupCommand(const QString &archive, QStringList args)
{
    store::BackupOptions options;
    options.archivePath = archive;
    options.includeFiles = args.removeAll(QStringLiteral("--with-files")) > 0;
    options.ownerOnly = args.removeAll(QStringLiteral("--owner-only")) > 0;
    int keep = 0;
    const qsizetype at = args.indexOf(QStringLiteral("--keep"));
    if (at >= 0) {
        bool ok = false;
        keep = args.value(at + 1).toInt(&ok);
        if (!ok || keep < 1)
            return usage("--keep takes a whole number of 1 or more");
        args.remove(at, 2);
    }
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
        return usage("backup takes ARCHIVE FOLDER [--with-files] [--keep N] [--owner-only]");
    options.targetFolder = args.first();
    if (options.includeFiles)
        options.scanFolder = store::scanFolderToKeep(archive, settings::readOfProgram(QStringLiteral("Scan"), QStringLiteral("Folder")));
    // Run as root, a server's records are followed with the office group's rights (a file
    // archive's: with the rights of whoever could write it, store/GroupRights.h).
    if (store::isServerAddress(archive))
        options.readAs = store::rightsOfGroup(app::kArchiveGroup);
    int shown = -1;
    // A backup stopped (the service manager's SIGTERM at shutdown) leaves no half folder.
    catchStopSignals();
    const store::BackupResult r = store::backupArchive(options, [&](const store::BackupProgress &p) {
        if (p.permille / 100 != shown) {
            shown = p.permille / 100;
            std::fprintf(stderr, "backing up: %d%%\n", p.permille / 10);
        }
        return !stopAsked();
    });
    for (const QString &name : r.leftoversRemoved)
        std::printf("removed the unfinished folder of an interrupted backup: %s\n", qPrintable(name));
    for (const QString &name : r.leftoversKept)
        std::printf("left in place (still being written, or dated later): %s\n", qPrintable(name));
    if (r.outcome == store::BackupResult::Cancelled) {
        std::fprintf(stderr, "casearchive-admin: the backup was stopped before it was finished; nothing of it is left\n");
        return 130;
    }
    if (r.outcome != store::BackupResult::Verified) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(r.error));
        return 1;
    }
    std::printf("backed up %s to %s and verified: %lld records, %lld photos, %lld files copied, %lld missing\n",
                qPrintable(archive), qPrintable(r.folder), r.counts.detail, r.counts.photo, r.filesCopied,
                qlonglong(r.missing.size()));
    for (const store::MissingFile &m : r.missing) {
        if (m.scannedPage)
            std::printf("  missing: a file of the scan folder: %s - %s\n", qPrintable(m.reference.path), qPrintable(m.why));
        else
            std::printf("  missing: record %s (%s): %s - %s\n", qPrintable(m.reference.number),
                        qPrintable(m.reference.recordName), qPrintable(m.reference.path), qPrintable(m.why));
    }
    if (!options.scanFolder.isEmpty()) {
        if (r.scanFolderProblem.isEmpty())
            std::printf("with the scan folder %s: %lld files no record names yet\n", qPrintable(options.scanFolder),
                        r.scanFilesCopied);
        else
            std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(r.scanFolderProblem));
    }
    if (r.trailMark)
        std::printf("trail mark: %s\n", qPrintable(r.trailMark->text()));
    int code = r.missing.isEmpty() ? 0 : 3;
    if (keep > 0) {
        const store::KeepResult kept = store::keepNewestBackups(options.targetFolder, keep, r.folder);
        for (const QString &name : kept.removed)
            std::printf("removed old backup: %s\n", qPrintable(name));
        for (const QString &name : kept.failed)
            std::fprintf(stderr, "casearchive-admin: could not remove the old backup %s\n", qPrintable(name));
        for (const QString &name : kept.damaged)
            std::fprintf(stderr, "casearchive-admin: the old backup %s no longer passes its check; left in place "
                                 "(casearchive-admin check says what is wrong)\n", qPrintable(name));
        for (const QString &name : kept.later)
            std::fprintf(stderr, "casearchive-admin: the backup %s was made later than this one: is the clock right? "
                                 "Left in place, and not counted\n", qPrintable(name));
        for (const QString &other : kept.others)
            std::printf("left alone: %s\n", qPrintable(other));
        if (!kept.failed.isEmpty())
            code = 1;
    }
    return code;
}

int restoreCommand(const QString &backup, QStringList args)
{
    store::RestoreOptions options;
    options.backup = backup;
    options.replace = args.removeAll(QStringLiteral("--replace")) > 0;
    options.trustBackup = args.removeAll(QStringLiteral("--trust-backup")) > 0;
    const qsizetype at = args.indexOf(QStringLiteral("--files-to"));
    if (at >= 0) {
        if (at + 1 >= args.size())
            return usage("--files-to takes a folder");
        options.filesTo = args.at(at + 1);
        args.remove(at, 2);
    }
    if (args.size() > 1 || (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))))
        return usage("restore takes BACKUP [TARGET] [--replace] [--files-to FOLDER] [--trust-backup]");
    options.target = args.isEmpty() ? app::defaultDatabasePath() : args.first();
    options.actor = store::adminToolActor();
    options.confirm = askAtTerminal;
    const bool server = store::isServerAddress(options.target);
    if (server)
        options.writeAs = store::rightsOfGroup(app::kArchiveGroup);
    // The machine's archive and its folders belong to the office's group, as init makes them,
    // even on a PC where nothing was there before the restore.
    const QString folder = QFileInfo(options.target).absolutePath();
    const bool machine = !server && folder == QFileInfo(app::machineFolder() + QStringLiteral("/Data")).absoluteFilePath();
    if (machine && app::runningAsRoot()) {
        for (const QString &f : {app::machineFolder(), folder}) {
            const QString problem = app::shareFolderWithGroup(f, app::kArchiveGroup);
            if (!problem.isEmpty()) {
                std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(problem));
                return 1;
            }
        }
    }
    const store::RestoreResult r = store::restoreBackup(options);
    for (const QString &line : r.done)
        std::printf("%s\n", qPrintable(line));
    if (r.exitCode == 1) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(r.error));
        return 1;
    }
    if (machine && !r.hadOldFile) {
        const QString problem = app::shareFileWithGroup(options.target, app::kArchiveGroup);
        if (!problem.isEmpty())
            std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(problem));
    }
    return r.exitCode;
}
