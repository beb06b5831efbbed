// Measures what the trail of changes costs: a save, a modification and a deletion, each
// without and with its trail entry, on an archive of 100,000 records; what the search
// index adds to each of them as the windows make them, against an archive without it; and how long the
// whole-trail window waits for its first page and its count on a trail of 1,000,000
// entries. The save and the modification are measured as the entry windows make them
// (the checks before the write and the photos' words queued after it) and as their writes
// alone. Prints figures; it is not a test and asserts nothing. With --server ADDRESS (a
// PostgreSQL server's maintenance database; scripts/bench --server starts a throwaway one
// that flushes every commit to disk, as a records office's server does) the archive is a
// database of its own on that server.
#include "BenchSupport.h"
#include "archive/Archive.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "trail/RecycleBin.h"
#include "store/Statements.h"
#include "store/StoredRows.h"
#include "store/TrailStatements.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace store;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}


const Actor kActor{QStringLiteral("甲"), QStringLiteral("bench-pc")};
const QStringList kPhotos{QStringLiteral("/srv/photos/2024/03/01/a.jpg"), QStringLiteral("/srv/photos/2024/03/01/b.jpg")};

RecordRow recordNumbered(qint64 i)
{
    return {0, QStringLiteral("类型%1").arg(i % 100), QString::number(100000000000LL + i), QStringLiteral("患者%1 急性阑尾炎").arg(i),
            QStringLiteral("/srv/docs/%1.pdf").arg(i), QStringLiteral("患者：某某\r\n主诉：腹痛一天\r\n诊断：急性阑尾炎")};
}

// The photos' words are queued for reading after the record is saved, in a transaction of
// their own.
void queuePages(Connection &c, const QString &number)
{
    Transaction t(c);
    for (const QString &p : kPhotos)
        queuePage(c, number, p);
    t.commit();
}

void fillRecords(const QString &path, int records)
{
    Connection c(path);
    Transaction t(c);
    suspendSearchIndex(c); // built once the rows are in, as a copy builds it
    QVector<TableRow> rows;
    QVector<TableRow> photos;
    qint64 photoId = 0;
    for (int i = 1; i <= records; ++i) {
        const RecordRow r = recordNumbered(i);
        rows.push_back({i, {r.typeName, r.number, r.name, r.path, r.description}});
        for (const QString &p : kPhotos)
            photos.push_back({++photoId, {r.number, p}});
        if (rows.size() == 100 || i == records) {
            insertTableRows(c, ArchiveTable::Detail, rows);
            insertTableRows(c, ArchiveTable::Photo, photos);
            rows.clear();
            photos.clear();
        }
    }
    for (int i = 0; i < 100; ++i)
        insertType(c, QStringLiteral("类型%1").arg(i));
    continueRowIdentities(c);
    buildSearchIndex(c);
    t.commit();
    // As the program makes it at its first start.
    createPageTextTable(c);
}

// A save and a modification as the entry windows make them, each with its trail entry or
// without; `whole` adds what the windows do besides the write (the checks of the number
// and the type before it, and queueing the photos' words after it, a second commit),
// without it they are the writes alone.
double save(const QString &path, qint64 i, bool trail, bool whole)
{
    QElapsedTimer clock;
    clock.start();
    Connection c(path);
    Transaction t(c);
    RecordRow r = recordNumbered(i);
    if (whole && (countRecordsWithNumber(c, r.number) != 0 || !readPhotos(c, r.number).isEmpty() || !typeExists(c, r.typeName)))
        std::printf("  (the number is taken or the type missing?)\n");
    r.rowId = insertRecord(c, r);
    for (const QString &p : kPhotos)
        insertPhoto(c, r.number, p);
    if (trail) {
        Change change;
        change.kind = ChangeKind::RecordAdded;
        change.number = r.number;
        change.rowId = r.rowId;
        change.after = RecordState{r, kPhotos};
        appendHistory(c, kActor, change);
    }
    t.commit();
    if (whole)
        queuePages(c, r.number);
    return clock.nsecsElapsed() / 1e6;
}

double modify(const QString &path, qint64 rowId, bool trail, bool whole)
{
    QElapsedTimer clock;
    clock.start();
    Connection c(path);
    Transaction t(c);
    RecordRow r = recordNumbered(rowId);
    if (whole && (readRecord(c, r.number).size() != 1 || !typeExists(c, r.typeName)))
        std::printf("  (the record or its type missing?)\n");
    std::optional<RecordState> before;
    if (trail)
        before = takeRecordState(c, rowId);
    else
        deleteRecordRow(c, rowId);
    r.rowId = rowId;
    r.description += QStringLiteral("\r\n复查");
    insertRecordRow(c, r);
    deletePhotoRows(c, r.number);
    for (const QString &p : kPhotos)
        insertPhoto(c, r.number, p);
    if (trail) {
        Change change;
        change.kind = ChangeKind::RecordModified;
        change.number = r.number;
        change.rowId = rowId;
        change.before = before;
        change.after = RecordState{r, kPhotos};
        appendHistory(c, kActor, change);
    }
    t.commit();
    if (whole)
        queuePages(c, r.number);
    return clock.nsecsElapsed() / 1e6;
}

// A deletion moves the record into the bin with or without its trail entry; `final` is a
// deletion as it was before there was a bin, to show what the bin and the trail cost together.
enum class Deletion { Final, IntoBin, IntoBinWithTrail };
double remove(const QString &path, qint64 rowId, Deletion how)
{
    QElapsedTimer clock;
    clock.start();
    Connection c(path);
    Transaction t(c);
    if (how == Deletion::IntoBinWithTrail) {
        moveRecordToBin(c, kActor, rowId);
    } else if (how == Deletion::IntoBin) {
        moveRecordRowToBin(c, rowId, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), kActor.operatorName,
                           kActor.workstation);
    } else {
        const QString number = recordNumbered(rowId).number;
        deleteRecordRow(c, rowId);
        if (countRecordsWithNumber(c, number) == 0)
            deletePhotoRows(c, number);
    }
    t.commit();
    return clock.nsecsElapsed() / 1e6;
}

// A trail of that many entries, written in bulk as a copy writes it (their hashes are not
// chained: the window's reads do not look at them).
void fillTrail(const QString &path, qint64 entries)
{
    Connection c(path);
    Transaction t(c);
    const QDateTime start(QDate(2020, 1, 1), QTime(8, 0), Qt::UTC);
    const QStringList operators{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁")};
    const QStringList kinds{QStringLiteral("record.added"), QStringLiteral("record.modified"), QStringLiteral("record.printed")};
    const QString state = recordStateJson(RecordState{recordNumbered(1), kPhotos});
    QVector<StoredRow> batch;
    auto cell = [](const QString &s) { return StoredCell{StoredCell::Text, s.toUtf8()}; };
    const qint64 first = lastHistoryLink(c).value_or(QPair<qint64, QString>(0, QString())).first + 1;
    for (qint64 i = first; i < first + entries; ++i) {
        const RecordRow r = recordNumbered(i % 100000 + 1);
        StoredRow row;
        row.rowId = i;
        row.cells = {cell(start.addSecs(60 * i).toString(Qt::ISODateWithMs)), cell(operators[i % 4]),
                     cell(QStringLiteral("pc-%1").arg(i % 7)), cell(kinds[i % 3]), cell(r.number),
                     cell(QString::number(i % 100000 + 1)), cell(QString()), cell(state), cell(state), cell(QString()),
                     cell(r.name), cell(QString(64, QLatin1Char('0')))};
        batch.push_back(row);
        if (batch.size() == 100) {
            insertStoredRows(c, ArchiveTable::History, batch);
            batch.clear();
        }
    }
    insertStoredRows(c, ArchiveTable::History, batch);
    t.commit();
    if (c.backend() == Backend::PostgreSQL)
        c.run(QStringLiteral("ANALYZE"));
}

void measureWindow(const QString &path, const char *what, const HistoryQuery &query)
{
    std::vector<double> page, count;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        Connection c(path);
        const QVector<HistoryEntry> entries = readHistory(c, query);
        page.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        const qint64 n = countHistory(c, query);
        count.push_back(clock.nsecsElapsed() / 1e6);
        if (run == 0 && entries.isEmpty() && n > 0)
            std::printf("  (no page read?)\n");
    }
    std::printf("  %-44s first page %7.1f ms, count %7.1f ms (median of 5)\n", what, median(page), median(count));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is measured
    int records = 100000;
    qint64 entries = 1000000;
    int operations = 200;
    QString server;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--entries"))
            entries = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--operations"))
            operations = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--server"))
            server = args[i + 1];
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("trail.dat"));
    try {
        if (!server.isEmpty()) {
            const QString name = QStringLiteral("casearchive_bench_trail");
            Connection maintenance(server);
            maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
            maintenance.run(QStringLiteral("CREATE DATABASE %1").arg(name));
            path = bench::withDatabase(server, name);
        }
        initArchive(path);
        QElapsedTimer made;
        made.start();
        fillRecords(path, records);
        std::printf("trail benchmark on %s: %d records made in %.1f s\n", server.isEmpty() ? "an archive file" : "a server",
                    records, made.nsecsElapsed() / 1e9);

        // Alternating, so that a slower disk or a busier machine weighs on both alike.
        // [operation][whole][trail]
        std::vector<double> times[3][2][2];
        std::vector<double> finalDeletions;
        qint64 next = records;
        for (int i = 0; i < operations; ++i) {
            for (int whole = 0; whole < 2; ++whole)
                for (int trail = 0; trail < 2; ++trail) {
                    times[0][whole][trail].push_back(save(path, ++next, trail == 1, whole == 1));
                    times[1][whole][trail].push_back(modify(path, 1 + 4 * i + 2 * whole + trail, trail == 1, whole == 1));
                }
            for (int trail = 0; trail < 2; ++trail)
                times[2][0][trail].push_back(remove(path, records / 2 + 3 * i + trail,
                                                    trail == 1 ? Deletion::IntoBinWithTrail : Deletion::IntoBin));
            finalDeletions.push_back(remove(path, records / 2 + 3 * i + 2, Deletion::Final));
        }
        auto print = [&](const char *name, const std::vector<double> &without, const std::vector<double> &with) {
            std::printf("  %-44s without trail %6.2f ms, with %6.2f ms: %.2f times (median of %d)\n", name,
                        median(without), median(with), median(with) / median(without), operations);
        };
        print("save as the window makes it", times[0][1][0], times[0][1][1]);
        print("  its writes alone (new record, 2 photos)", times[0][0][0], times[0][0][1]);
        print("modification as the window makes it", times[1][1][0], times[1][1][1]);
        print("  its writes alone", times[1][0][0], times[1][0][1]);
        print("deletion (into the bin)", times[2][0][0], times[2][0][1]);
        const double finalDeletion = median(finalDeletions);
        std::printf("  %-44s %6.2f ms; into the bin with the trail %.2f times that\n", "deletion as before the bin",
                    finalDeletion, median(times[2][0][1]) / finalDeletion);
        {
            // The search index: the same writes, as the windows make them with their trail
            // entries, on this archive and on one like it without the index, in turns.
            QString bare = dir.filePath(QStringLiteral("bare.dat"));
            if (!server.isEmpty()) {
                Connection maintenance(server);
                maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS casearchive_bench_bare WITH (FORCE)"));
                maintenance.run(QStringLiteral("CREATE DATABASE casearchive_bench_bare"));
                bare = bench::withDatabase(server, QStringLiteral("casearchive_bench_bare"));
            }
            initArchive(bare);
            fillRecords(bare, records);
            {
                Connection c(bare);
                Transaction t(c);
                dropSearchIndex(c);
                t.commit();
            }
            std::vector<double> with[3], without[3];
            const qint64 first = next;
            for (int i = 0; i < operations; ++i) {
                const qint64 number = first + 1 + i;
                with[0].push_back(save(path, number, true, true));
                without[0].push_back(save(bare, number, true, true));
                with[1].push_back(modify(path, records / 4 + i, true, true));
                without[1].push_back(modify(bare, records / 4 + i, true, true));
                with[2].push_back(remove(path, records / 8 + i, Deletion::IntoBinWithTrail));
                without[2].push_back(remove(bare, records / 8 + i, Deletion::IntoBinWithTrail));
            }
            const char *names[] = {"save as the window makes it", "modification as the window makes it",
                                   "deletion into the bin, with its entry"};
            std::printf("the search index's cost on each write (goal: at most 1.3 times):\n");
            for (int k = 0; k < 3; ++k)
                std::printf("  %-44s without index %6.2f ms, with %6.2f ms: %.2f times (median of %d)\n", names[k],
                            median(without[k]), median(with[k]), median(with[k]) / median(without[k]), operations);
            next += operations;
            if (!server.isEmpty()) {
                closeKeptConnections();
                Connection maintenance(server);
                maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS casearchive_bench_bare WITH (FORCE)"));
            }
        }
        if (entries <= 0)
            return 0;
        made.restart();
        fillTrail(path, entries);
        std::printf("trail of %lld entries made in %.1f s\n", entries, made.nsecsElapsed() / 1e9);
        {
            // On a file the first search by a record's text brings the words index up to
            // the newest entry: here all of them at once, as after an upgrade.
            HistoryQuery first;
            first.record = QStringLiteral("患者4711 *");
            made.restart();
            Connection c(path);
            readHistory(c, first);
            std::printf("  %-44s %7.1f ms\n", "first search by a record's text", made.nsecsElapsed() / 1e6);
        }
        measureWindow(path, "whole trail, newest first", {});
        HistoryQuery byOperator;
        byOperator.operatorName = QStringLiteral("乙");
        measureWindow(path, "one operator, newest first", byOperator);
        HistoryQuery sorted;
        sorted.sortBy = HistoryQuery::Column::Operator;
        measureWindow(path, "whole trail sorted by operator", sorted);
        HistoryQuery kind;
        kind.kinds = {ChangeKind::RecordPrinted};
        kind.from = QDateTime(QDate(2020, 6, 1), QTime(0, 0), Qt::UTC);
        measureWindow(path, "printings since a day", kind);
        HistoryQuery record;
        record.record = QStringLiteral("患者4711 *");
        measureWindow(path, "one record by name", record);
        HistoryQuery common;
        common.record = QStringLiteral("急性阑尾炎");
        measureWindow(path, "a text every entry holds", common);
        HistoryQuery rare;
        rare.record = QStringLiteral("100000004711");
        measureWindow(path, "one record by number", rare);
        QElapsedTimer one;
        one.start();
        {
            Connection c(path);
            readRecordHistory(c, recordNumbered(4711).number, 4711);
        }
        std::printf("  %-44s %7.1f ms\n", "one record's entries (its pop-up item)", one.nsecsElapsed() / 1e6);
        if (!server.isEmpty()) {
            closeKeptConnections();
            Connection maintenance(server);
            maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS casearchive_bench_trail WITH (FORCE)"));
        }
    } catch (const StoreError &e) {
        std::fprintf(stderr, "bench_trail: %s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
