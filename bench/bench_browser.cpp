// Measures the record browser on a large archive: the tree load, with and without a
// search, against one plain scan of the same columns of Detail by the store; the memory
// the tree keeps per record; the record click. Prints figures; it is not a test and
// asserts nothing. With --server ADDRESS (the address of a PostgreSQL server's
// maintenance database; scripts/bench --server starts a throwaway server) the archive is
// copied into a database of its own on that server and measured there.
#include "common/Module1.h"
#include "records/frmManager.h"
#include "store/Archive.h"
#include "store/Database.h"
#include "store/Statements.h"
#include "store/Transfer.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

template <typename F>
std::vector<double> timeRuns(int runs, F f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
}

// One sequential scan of the columns the tree shows, by one statement with the search's
// conditions, every row fetched and thrown away: what the store alone costs.
int scan(const QString &path, const store::SearchFilter &filter)
{
    store::Connection c(path);
    QString sql = QStringLiteral("SELECT type_Name, rowid, \"病案号\", \"文件名\" FROM Detail");
    if (!filter.isEmpty())
        sql += QStringLiteral(" WHERE 1 = 1") + filter.sqlCondition(c.dialect());
    QSqlQuery q = c.run(sql, filter.boundValues());
    int rows = 0;
    while (q.next())
        ++rows;
    return rows;
}

// The server's address for another database: postgresql://host/db?settings.
QString withDatabase(const QString &address, const QString &database)
{
    const qsizetype hostStart = address.indexOf(QLatin1String("://")) + 3;
    const qsizetype query = address.indexOf(QLatin1Char('?'));
    qsizetype pathStart = address.indexOf(QLatin1Char('/'), hostStart);
    if (pathStart < 0 || (query >= 0 && pathStart > query))
        pathStart = query < 0 ? address.size() : query;
    return address.left(pathStart) + QLatin1Char('/') + database + (query < 0 ? QString() : address.mid(query));
}

int shownRecords(QAbstractItemModel *model)
{
    const QModelIndex root = model->index(0, 0);
    int n = 0;
    for (int t = 0; t < model->rowCount(root); ++t)
        n += model->rowCount(model->index(t, 0, root));
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // leave the operator's own settings alone
    int records = 1000000;
    int types = 100;
    int runs = 5;
    QString searchText = QStringLiteral("阑尾");
    QString server;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--types"))
            types = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--search"))
            searchText = args[i + 1];
        else if (args[i] == QLatin1String("--server"))
            server = args[i + 1];
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Data/file.dat"));
    QElapsedTimer made;
    made.start();
    store::makeDemoArchive(path, {records, types, 2009});
    std::printf("archive: %d records in %d types, made in %.1f s\n", records, types, made.elapsed() / 1000.0);
    if (!server.isEmpty()) {
        try {
            const QString name = QStringLiteral("casearchive_bench");
            {
                store::Connection maintenance(server);
                maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
                maintenance.run(QStringLiteral("CREATE DATABASE %1").arg(name));
            }
            const QString address = withDatabase(server, name);
            QElapsedTimer copied;
            copied.start();
            const store::TransferResult r = store::copyArchive(path, address);
            if (r.outcome != store::TransferResult::Verified) {
                std::fprintf(stderr, "copy to the server failed: %s\n", qPrintable(r.error));
                return 1;
            }
            {
                store::Connection c(address);
                c.run(QStringLiteral("VACUUM ANALYZE"));
            }
            std::printf("copied to %s and verified in %.1f s\n", qPrintable(address), copied.elapsed() / 1000.0);
            path = address;
        } catch (const store::StoreError &e) {
            std::fprintf(stderr, "server: %s\n", qPrintable(e.description()));
            return 1;
        }
    }

    app::DbPath = path;
    app::CurrentAuthority = QStringLiteral("超级权限");
    app::setEndProgramHook([] {});
    store::SearchFilter search;
    search.text = searchText;
    search.inName = search.inPath = search.inDescription = search.inType = true;

    // Warm the file cache once so that every run reads from memory.
    const int scanned = scan(path, {});
    const std::vector<double> plainScan = timeRuns(runs, [&] { scan(path, {}); });

    // The browser first opens on a search that finds nothing, so that what the window
    // itself takes (fonts, collation tables, widgets) can be told from what the records take.
    const long before = residentKiB();
    app::SearchFilter = {QStringLiteral("没有这样的病案"), true, false, false, false};
    auto *browser = new frmManager;
    browser->resize(1200, 800);
    browser->show();
    QApplication::processEvents();
    const long emptyTree = residentKiB();
    app::SearchFilter.clear();
    auto *view = browser->findChild<QTreeView *>(QStringLiteral("TreeView"));
    QAbstractItemModel *model = view ? view->model() : nullptr;
    // The load as the operator waits for it: the tree read and the view laid out.
    auto reload = [&] {
        browser->cmdLoad_Click();
        QApplication::processEvents();
    };
    reload();
    const long afterFirst = residentKiB();
    const std::vector<double> plainLoad = timeRuns(runs, reload);
    const long afterReloads = residentKiB();
    const int shown = model ? shownRecords(model) : -1;

    const int matched = scan(path, search);
    const std::vector<double> searchScan = timeRuns(runs, [&] { scan(path, search); });
    app::SearchFilter = search;
    const std::vector<double> searchLoad = timeRuns(runs, reload);
    const int found = model ? shownRecords(model) : -1;
    app::SearchFilter.clear();
    reload();

    const double scanMs = median(plainScan);
    const double loadMs = median(plainLoad);
    const double searchScanMs = median(searchScan);
    const double searchLoadMs = median(searchLoad);
    std::printf("runs: %d each, medians\n", runs);
    std::printf("without search: scan of Detail %.1f ms (%d rows), cmdLoad_Click %.1f ms (%d records shown)\n",
                scanMs, scanned, loadMs, shown);
    std::printf("  ratio cmdLoad_Click / scan: %.2f (goal: at most 2)\n", loadMs / scanMs);
    std::printf("search \"%s\" in all four columns: scan with the same LIKE conditions %.1f ms (%d rows), "
                "cmdLoad_Click %.1f ms (%d records shown)\n",
                qPrintable(searchText), searchScanMs, matched, searchLoadMs, found);
    std::printf("  ratio cmdLoad_Click / scan: %.2f (goal: at most 1.5)\n", searchLoadMs / searchScanMs);
    const auto perRecord = [records](long from, long to) { return records ? (to - from) * 1024.0 / records : 0.0; };
    std::printf("memory: %.0f bytes per record after the first load, %.0f after %d more (goal: at most 300), "
                "of which the tree alone %.0f; resident %ld KiB before the browser, %ld with no record shown, "
                "%ld after the first load, %ld after the reloads\n",
                perRecord(before, afterFirst), perRecord(before, afterReloads), runs, perRecord(emptyTree, afterFirst),
                before, emptyTree, afterFirst, afterReloads);

    // Clicks on records: the first click reads the record, a second click reads nothing.
    if (!model) {
        std::printf("record clicks: tree view not found\n");
        return 0;
    }
    const QModelIndex root = model->index(0, 0);
    std::vector<QModelIndex> recordsToClick;
    for (int t = 0; t < model->rowCount(root) && recordsToClick.size() < 60; ++t) {
        const QModelIndex type = model->index(t, 0, root);
        for (int r = 0; r < model->rowCount(type) && r < 3; ++r)
            recordsToClick.push_back(model->index(r, 0, type));
    }
    std::vector<double> first;
    std::vector<double> second;
    for (const QModelIndex &idx : recordsToClick) {
        first.push_back(timeRuns(1, [&] { browser->TreeView_NodeClick(idx); })[0]);
        second.push_back(timeRuns(1, [&] { browser->TreeView_NodeClick(idx); })[0]);
    }
    std::printf("record click showing details:        median %.2f ms, worst %.2f ms over %zu records (goal: under 10 ms)\n",
                median(first), *std::max_element(first.begin(), first.end()), first.size());
    std::printf("second click on the same record:     median %.3f ms (reads nothing)\n", median(second));
    delete browser;
    return 0;
}
