#include "admin/OcrCommand.h"

#include "admin/StopSignals.h"
#include "common/Installation.h"

#include "ocr/PageQueue.h"
#include "store/Database.h"
#include "store/PageText.h"

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Pages read before whose file has changed since (another hash) are read again; a file
// that is gone keeps the words it had.
int requeueChanged(store::Connection &c, const pictures::RecognizerLimits &limits)
{
    int changed = 0;
    const QVector<store::PageTextRow> rows = store::readPageTexts(c);
    store::Transaction t(c);
    for (const store::PageTextRow &row : rows) {
        if (row.state == store::kPagePending)
            continue;
        if (stopAsked())
            break;
        const QString hash =
            pictures::PageRecognizer::hashFile(row.photo, limits.maxFileBytes, nullptr, limits.readAs, &stopAsked());
        if (!hash.isEmpty() && hash != row.contentHash) {
            store::requeuePage(c, row.rowId);
            ++changed;
        }
    }
    t.commit();
    return changed;
}

} // namespace

int ocrCommand(const QString &path, QStringList args)
{
    pictures::RecognizerLimits limits;
    int batch = 4;
    while (!args.isEmpty()) {
        const QString flag = args.takeFirst();
        if (flag == QLatin1String("--batch") && !args.isEmpty()) {
            bool ok = false;
            batch = args.takeFirst().toInt(&ok);
            if (!ok || batch < 1 || batch > 64) {
                std::fputs("casearchive-admin: --batch takes a whole number from 1 to 64\n", stderr);
                return 2;
            }
        } else {
            std::fputs("casearchive-admin: ocr takes PATH [--batch N]\n", stderr);
            return 2;
        }
    }
    limits.pagesPerHelper = batch;
    // Stopped, the run stores what it has: the pages under way stay queued for the next run.
    catchStopSignals();
    // Run as root, the photos the records name are read with the rights of whoever may
    // write the archive (a server's: the office's group), never root's.
    limits.readAs = store::isServerAddress(path) ? store::rightsOfGroup(app::kArchiveGroup)
                                                 : store::rightsOfArchiveFile(path);

    store::Connection c(path);
    store::createPageTextTable(c);
    pictures::PageQueueReader::releaseAbandoned(c);
    int queued = 0;
    {
        store::Transaction t(c);
        queued = store::queueMissingPages(c);
        t.commit();
    }
    const int changed = requeueChanged(c, limits);
    const store::PageCounts start = store::countPages(c);
    say(QStringLiteral("%1 photos to read (%2 new, %3 changed since read), %4 read before and unchanged")
            .arg(start.pending)
            .arg(queued)
            .arg(changed)
            .arg(start.done + start.failed));

    pictures::PageQueueReader reader(limits);
    qint64 position = 0;
    int done = 0;
    int failed = 0;
    while (!stopAsked()) {
        const QVector<store::PageJob> jobs = reader.claim(c, batch);
        if (jobs.isEmpty())
            break;
        const QVector<pictures::PageReading> readings = reader.read(jobs, &stopAsked());
        reader.store(c, jobs, readings);
        for (int i = 0; i < jobs.size(); ++i) {
            const pictures::PageReading &r = readings.at(i);
            if (!r.done && r.reason.isEmpty())
                continue;
            ++position;
            if (r.done) {
                ++done;
                say(QStringLiteral("[%1/%2] %3 %4: %5 characters")
                        .arg(position)
                        .arg(start.pending)
                        .arg(jobs.at(i).number, jobs.at(i).photo)
                        .arg(r.words.size()));
            } else {
                ++failed;
                say(QStringLiteral("[%1/%2] %3 %4: not read: %5")
                        .arg(position)
                        .arg(start.pending)
                        .arg(jobs.at(i).number, jobs.at(i).photo, r.reason));
            }
        }
    }
    if (stopAsked()) {
        store::Transaction t(c);
        store::releaseClaim(c, reader.claim());
        t.commit();
        say(QStringLiteral("stopped after %1 photos; run casearchive-admin ocr again to go on").arg(position));
        return 130;
    }
    say(QStringLiteral("done: %1 photos read, %2 could not be read").arg(done).arg(failed));
    return failed > 0 ? 3 : 0;
}
