// bench_page_text: the photos' words. Prints how long the helper takes to read a 300-dpi A4
// page (the first of a helper with the loading of its models, and the next ones), and how
// long the search through the words of many pages takes (as the tree runs it, with the
// trigram index, and for a text too short for it with the pairs index) against a bare scan
// of the same words.
// Figures only; it asserts nothing. With --server ADDRESS (a PostgreSQL server's maintenance
// database) the archive is built in a database of its own there.
#include "ocr/PageRecognizer.h"
#include "records/ArchiveTreeModel.h"
#include "BenchSupport.h"
#include "archive/Archive.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "store/Statements.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QPainter>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kParagraph = QStringLiteral(
    "出院小结：患者张某，男，56岁，因反复胸闷气短3年，加重1周于2023年11月2日入院。入院后予Aspirin 100mg每日一次，"
    "Atorvastatin 20mg每晚一次，Metoprolol 47.5mg每日一次口服，症状明显缓解，血压128/76mmHg，心率68次/分。"
    "于11月15日出院，嘱低盐低脂饮食，定期复查血脂及肝功能。");

// A full A4 page at 300 dpi: the paragraph again and again, as a printed summary fills it.
QImage a4Page()
{
    constexpr int dpi = 300;
    QImage page(2480, 3508, QImage::Format_RGB32);
    page.setDotsPerMeterX(qRound(dpi / 0.0254));
    page.setDotsPerMeterY(qRound(dpi / 0.0254));
    page.fill(Qt::white);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(11);
    QString text;
    for (int i = 0; i < 9; ++i)
        text += kParagraph + QChar::LineSeparator;
    QTextLayout layout(text, font, &page);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(2480 - 2 * 200);
        line.setPosition(QPointF(0, y));
        y += line.height() * 1.4;
    }
    layout.endLayout();
    QPainter p(&page);
    p.setPen(Qt::black);
    layout.draw(&p, QPointF(200, 200));
    return page;
}

void benchRecognition(const QString &folder)
{
    const QString path = folder + QStringLiteral("/a4.png");
    if (!a4Page().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write the page\n");
        return;
    }
    pictures::PageRecognizer recognizer;
    QElapsedTimer clock;
    clock.start();
    const QVector<pictures::PageReading> one = recognizer.read({path});
    const qint64 first = clock.elapsed();
    clock.restart();
    const QVector<pictures::PageReading> three = recognizer.read({path, path, path});
    const qint64 helperOfThree = clock.elapsed();
    if (!one[0].done) {
        std::fprintf(stderr, "the page was not read: %s\n", qPrintable(one[0].reason));
        return;
    }
    std::printf("recognition of a 300-dpi A4 page (2480 x 3508, %lld characters read, %s, %s):\n",
                qlonglong(one[0].words.size()), qPrintable(recognizer.engine()), qPrintable(recognizer.models()));
    std::printf("  one page in its own helper     %8.2f s (the models loaded with it)\n", first / 1000.0);
    std::printf("  three pages in one helper      %8.2f s, %.2f s a page\n", helperOfThree / 1000.0,
                helperOfThree / 3000.0);
}


// Pages of words drawn from the paragraph's characters; one in every thousand also
// carries the phrase looked for.
void fill(const QString &path, int pages, int chars)
{
    store::Connection c(path);
    store::createPageTextTable(c);
    QRandomGenerator rng(23);
    const QString pool = kParagraph;
    const int perTransaction = 5000;
    for (int start = 0; start < pages; start += perTransaction) {
        store::Transaction t(c);
        const int end = qMin(pages, start + perTransaction);
        for (int i = start; i < end; ++i) {
            const QString number = QStringLiteral("%1").arg(240000000000ll + i);
            const QString photo = QStringLiteral("/scans/%1.png").arg(i);
            store::insertRecord(c, {0, QStringLiteral("内科"), number, QStringLiteral("病案%1").arg(i), QString(), QString()});
            store::insertPhoto(c, number, photo);
            store::queuePage(c, number, photo);
        }
        const QVector<store::PageJob> jobs = store::claimPages(c, QStringLiteral("bench"), 1, 60, end - start);
        for (const store::PageJob &job : jobs) {
            QString words;
            words.reserve(chars + 8);
            for (int k = 0; k < chars; ++k)
                words += pool.at(int(rng.bounded(pool.size())));
            if (job.rowId % 1000 == 7)
                words.insert(chars / 2, QStringLiteral("阑尾炎术后"));
            store::PageResult r;
            r.done = true;
            r.words = words;
            r.engine = QStringLiteral("bench");
            store::finishPage(c, job.rowId, QStringLiteral("bench"), r);
        }
        t.commit();
    }
    if (c.backend() == store::Backend::PostgreSQL)
        c.run(QStringLiteral("VACUUM ANALYZE"));
}

template <typename F>
double best(int runs, F work)
{
    double ms = 1e18;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms = std::min(ms, clock.nsecsElapsed() / 1e6);
    }
    return ms;
}

void benchSearch(const QString &path, int runs)
{
    const auto bare = [&](const QString &text) {
        store::Connection c(path);
        QSqlQuery q = c.run(QStringLiteral("SELECT \"病案号\" FROM page_text WHERE ") + c.dialect().containsText(QStringLiteral("words")),
                            {store::containsPattern(text)});
        int n = 0;
        while (q.next())
            ++n;
        return n;
    };
    const auto tree = [&](const QString &text) {
        store::Connection c(path);
        store::SearchFilter f;
        f.text = text;
        f.inPageText = true;
        f.pageTextReadable = true;
        store::prepareIndexedSearch(c, f);
        ArchiveTreeModel model;
        model.load(c, f);
        return model.recordCount();
    };
    for (const QString &text : {QStringLiteral("阑尾炎术"), QStringLiteral("阑尾")}) {
        int found = 0;
        int scanned = 0;
        const double scanMs = best(runs, [&] { scanned = bare(text); });
        const double treeMs = best(runs, [&] { found = tree(text); });
        std::printf("  \"%s\"%s: the tree's search %8.1f ms (%d records), bare scan of the words %8.1f ms (%d pages); "
                    "%.2f times the scan\n",
                    qPrintable(text), store::trigramQuery(text).isEmpty() ? " (pairs index)" : " (trigram index)", treeMs,
                    found, scanMs, scanned, treeMs / scanMs);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    int pages = 100000;
    int chars = 300;
    int runs = 3;
    bool recognition = true;
    QString server;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--no-recognition"))
            recognition = false;
        else if (i + 1 < args.size() && args[i] == QLatin1String("--pages"))
            pages = args[++i].toInt();
        else if (i + 1 < args.size() && args[i] == QLatin1String("--chars"))
            chars = args[++i].toInt();
        else if (i + 1 < args.size() && args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[++i].toInt());
        else if (i + 1 < args.size() && args[i] == QLatin1String("--server"))
            server = args[++i];
    }
    QTemporaryDir dir;
    if (recognition && server.isEmpty())
        benchRecognition(dir.path());

    try {
        QString path = dir.filePath(QStringLiteral("file.dat"));
        if (!server.isEmpty()) {
            const QString name = QStringLiteral("casearchive_bench_pages");
            store::Connection maintenance(server);
            maintenance.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
            maintenance.run(QStringLiteral("CREATE DATABASE %1").arg(name));
            path = bench::withDatabase(server, name);
        }
        store::initArchive(path);
        {
            store::Connection c(path);
            store::Transaction t(c);
            store::insertType(c, QStringLiteral("内科"));
            t.commit();
        }
        QElapsedTimer made;
        made.start();
        fill(path, pages, chars);
        const double filled = made.elapsed() / 1000.0;
        made.restart();
        qint64 indexBytes = 0;
        {
            // As the upgrade builds it for pages read before.
            store::Connection c(path);
            store::Transaction t(c);
            store::buildSearchIndex(c, true);
            t.commit();
            indexBytes = store::searchIndexBytes(c);
        }
        std::printf("search through the words of %d pages of %d characters (%s), filled in %.1f s, "
                    "their pairs index built in %.1f s (%.1f MB):\n",
                    pages, chars,
                    server.isEmpty() ? "SQLite file, FTS5 trigram index and pairs" : "PostgreSQL, pg_trgm index and pairs",
                    filled, made.elapsed() / 1000.0, indexBytes / 1048576.0);
        benchSearch(path, runs);
    } catch (const store::StoreError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
