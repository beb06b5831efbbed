#include "admin/ImportCommand.h"

#include "admin/StopSignals.h"
#include "common/Installation.h"
#include "importing/JetImport.h"
#include "store/Dialect.h"
#include "store/GroupRights.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

void out(const QString &line) { std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout); }
void err(const QString &line)
{
    std::fputs((QStringLiteral("casearchive-admin: ") + line + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

int wrongUse(const char *problem)
{
    std::fprintf(stderr, "casearchive-admin: %s\n", problem);
    std::fputs("usage: casearchive-admin import OLD.dat TARGET [--encoding CP936] [--map-path 'D:\\病案=/srv/病案文件' ...]\n"
               "                                [--replace-unfinished] [--report FILE]\n",
               stderr);
    return 2;
}

} // namespace

int importCommand(const QString &source, QStringList args)
{
    importing::ImportOptions options;
    options.source = source;
    options.actor = store::adminToolActor();
    // Run as root, the records' paths are looked for with the office group's rights, as
    // backup and ocr follow them: what root alone may see is not found.
    options.lookAs = store::rightsOfGroup(app::kArchiveGroup);
    QString reportFile;
    QStringList positional;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--replace-unfinished")) {
            options.replaceUnfinished = true;
            continue;
        }
        if (!a.startsWith(QLatin1String("--"))) {
            positional << a;
            continue;
        }
        if (args.isEmpty())
            return wrongUse("an option lacks its value");
        const QString value = args.takeFirst();
        if (a == QLatin1String("--encoding")) {
            options.encoding = value;
        } else if (a == QLatin1String("--map-path")) {
            importing::PathPrefix prefix;
            QString why;
            if (!importing::parsePathPrefix(value, prefix, &why)) {
                err(why);
                return 2;
            }
            options.paths << prefix;
        } else if (a == QLatin1String("--report")) {
            reportFile = value;
        } else {
            return wrongUse("unknown option");
        }
    }
    if (positional.size() != 1)
        return wrongUse("import takes OLD.dat and TARGET");
    options.target = positional.first();
    // Named before the import runs, not found at its end: the tool may run as root, and a
    // name there already (a link an office member left in /tmp) must not be written through.
    if (!reportFile.isEmpty() && (QFileInfo::exists(reportFile) || QFileInfo(reportFile).isSymLink())) {
        err(QStringLiteral("the report file %1 exists already; nothing imported. Name a new file with --report.").arg(reportFile));
        return 1;
    }

    // The machine's archive is made for the group of its users, as init makes it.
    const bool machine = !store::isServerAddress(options.target)
        && QFileInfo(options.target).absolutePath() == QFileInfo(app::machineFolder() + QStringLiteral("/Data")).absoluteFilePath();
    if (machine) {
        for (const QString &f : {app::machineFolder(), QFileInfo(options.target).absolutePath()}) {
            const QString problem = app::shareFolderWithGroup(f, app::kArchiveGroup);
            if (!problem.isEmpty()) {
                err(problem);
                return 1;
            }
        }
    }

    catchStopSignals();
    options.stopRequested = [] { return stopAsked().load(); };
    const importing::ImportResult r = importing::importEarlierArchive(options, [](const QString &line) {
        out(line);
        std::fflush(stdout);
    });
    if (!r.verified) {
        err(store::maskPasswords(r.error));
        return r.stopped ? 130 : 1;
    }
    if (machine) {
        const QString problem = app::shareFileWithGroup(options.target, app::kArchiveGroup);
        if (!problem.isEmpty())
            err(problem);
    }
    out(QStringLiteral("rows per table, in the earlier file and in the new archive:"));
    for (const importing::TableTally &t : r.tallies)
        out(QStringLiteral("  %1 %2 %3").arg(t.table, -8).arg(t.earlier, 10).arg(t.imported, 10));
    out(QStringLiteral("imported %1 (%2 bytes, SHA-256 %3) into %4 and verified: every cell the same as a second reading "
                       "of the earlier file; the new archive's trail records the import")
            .arg(source)
            .arg(r.sourceSize)
            .arg(r.sourceSha256, store::maskPasswords(options.target)));
    const bool listHere = reportFile.isEmpty();
    std::fputs(r.findings.text(listHere).toUtf8().constData(), stdout);
    if (!listHere) {
        QFile f(reportFile);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)
            || f.write(r.findings.text(true).toUtf8()) < 0 || !f.flush()) {
            err(QStringLiteral("could not write the report to %1").arg(reportFile));
            return 1;
        }
        out(QStringLiteral("the report with every missing file: %1").arg(reportFile));
    }
    return r.findings.missing.isEmpty() ? 0 : 3;
}
