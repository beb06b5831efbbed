#include "TempArchive.h"

#include "ocr/PageQueue.h"
#include "records/ArchiveTreeModel.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/Statements.h"

#include <QHostInfo>
#include <QProcess>
#include <QScopeGuard>

using namespace store;
using testing::TempArchive;

// The photos' words: the queue that several readers share, and the search through them,
// alike on the file and on the server.
class TestPageText : public QObject {
    Q_OBJECT

    static PageResult read(const QString &words, const QString &hash = QStringLiteral("h"))
    {
        PageResult r;
        r.done = true;
        r.words = words;
        r.contentHash = hash;
        r.engine = QStringLiteral("Tesseract 5.3.0");
        r.languages = QStringLiteral("chi_sim:1+eng:2");
        r.when = QStringLiteral("2026-12-07T10:00:00");
        return r;
    }

    // Stores the words of one photo as a reader would: claimed, then finished.
    static void give(Connection &c, const QString &number, const QString &photo, const QString &words, bool done = true)
    {
        queuePage(c, number, photo);
        Transaction t(c);
        const QVector<PageJob> jobs = claimPages(c, QStringLiteral("test"), 1000, 60, 100);
        for (const PageJob &job : jobs) {
            PageResult r = read(words);
            r.done = done;
            r.reason = done ? QString() : QStringLiteral("不是能识别的图片");
            QVERIFY(finishPage(c, job.rowId, QStringLiteral("test"), r));
        }
        t.commit();
    }

    // The names of the records the tree shows for a search, read both ways the tree reads.
    static QStringList found(Connection &c, const SearchFilter &f)
    {
        QStringList names[2];
        int i = 0;
        for (auto read : {ArchiveTreeModel::Read::Engine, ArchiveTreeModel::Read::Qt}) {
            ArchiveTreeModel model;
            model.load(c, f, read);
            for (int t = 0; t < model.typeCount(); ++t) {
                const QModelIndex type = model.typeIndex(t);
                for (int r = 0; r < model.rowCount(type); ++r)
                    names[i] << model.text(model.index(r, 0, type));
            }
            names[i].sort();
            ++i;
        }
        if (names[0] != names[1])
            qWarning() << "the two reads differ:" << names[0] << names[1];
        return names[0] == names[1] ? names[0] : QStringList{QStringLiteral("<the two reads differ>")};
    }

    static SearchFilter inPages(const QString &text)
    {
        SearchFilter f;
        f.text = text;
        f.inPageText = true;
        return f;
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void theTableIsMadeOnceAndTheFourStayAsTheyWere()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/1.png")});
        Connection c(a.path());
        const TableCounts before = countTables(c);
        QVERIFY(!hasPageTextTable(c));
        createPageTextTable(c);
        createPageTextTable(c); // again: nothing happens, nothing fails
        QVERIFY(hasPageTextTable(c));
        QVERIFY(isArchive(c));
        QCOMPARE(countTables(c), before);
        QCOMPARE(integrityProblems(c, 5), QStringList{QStringLiteral("ok")});
    }

    void eachPhotoIsQueuedOnce()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/1.png"), QStringLiteral("/p/2.png"), QStringLiteral("/p/1.png")});
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        // Photo rows left behind by a record deleted with its type are nobody's pages.
        a.exec(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES ('999999999999', '/p/orphan.png')"));
        Connection c(a.path());
        createPageTextTable(c);
        {
            Transaction t(c);
            QCOMPARE(queuePage(c, QStringLiteral("240101080000"), QStringLiteral("/p/2.png")), 1);
            QCOMPARE(queuePage(c, QStringLiteral("240101080000"), QStringLiteral("/p/2.png")), 0);
            t.commit();
        }
        {
            Transaction t(c);
            QCOMPARE(queueMissingPages(c), 1); // 1.png, listed twice; 2.png was queued
            QCOMPARE(queueMissingPages(c), 0);
            t.commit();
        }
        QCOMPARE(countPages(c).pending, 2); // 1.png once although listed twice; 2.png once
        QStringList photos;
        for (const PageTextRow &r : readPageTexts(c))
            photos << r.photo;
        QCOMPARE(photos, (QStringList{QStringLiteral("/p/2.png"), QStringLiteral("/p/1.png")}));
        // A page read already is not queued again by a modification that keeps it.
        give(c, QStringLiteral("240101080000"), QStringLiteral("/p/1.png"), QStringLiteral("x"));
        {
            Transaction t(c);
            QCOMPARE(queuePage(c, QStringLiteral("240101080000"), QStringLiteral("/p/1.png")), 0);
            t.commit();
        }
        QCOMPARE(countPages(c).done, 2);
    }

    void claimsShareTheQueueAndAResultCountsOnce()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/1.png"), QStringLiteral("/p/2.png"), QStringLiteral("/p/3.png")});
        Connection c(a.path());
        createPageTextTable(c);
        {
            Transaction t(c);
            queueMissingPages(c);
            t.commit();
        }
        QVector<PageJob> first;
        QVector<PageJob> second;
        {
            Transaction t(c);
            first = claimPages(c, QStringLiteral("A"), 1000, 60, 2);
            second = claimPages(c, QStringLiteral("B"), 1030, 60, 2);
            QCOMPARE(claimPages(c, QStringLiteral("C"), 1059, 60, 2).size(), 0); // A's held until 1060, B's 1090
            t.commit();
        }
        QCOMPARE(first.size(), 2);
        QCOMPARE(second.size(), 1);
        QCOMPARE(first[0].photo, QStringLiteral("/p/1.png"));
        QCOMPARE(second[0].photo, QStringLiteral("/p/3.png"));
        QCOMPARE(second[0].number, QStringLiteral("240101080000"));

        // A's lease runs out: C takes A's pages, and A's late result is not stored.
        QVector<PageJob> taken;
        {
            Transaction t(c);
            taken = claimPages(c, QStringLiteral("C"), 1061, 60, 5);
            t.commit();
        }
        QCOMPARE(taken.size(), 2);
        {
            Transaction t(c);
            QVERIFY(!finishPage(c, first[0].rowId, QStringLiteral("A"), read(QStringLiteral("late"))));
            QVERIFY(finishPage(c, taken[0].rowId, QStringLiteral("C"), read(QStringLiteral("on time"))));
            // Stored once: the same reader finishing again changes nothing.
            QVERIFY(!finishPage(c, taken[0].rowId, QStringLiteral("C"), read(QStringLiteral("twice"))));
            t.commit();
        }
        QCOMPARE(readPageText(c, QStringLiteral("240101080000"), QStringLiteral("/p/1.png")).words, QStringLiteral("on time"));

        // A reader that is gone gives its claim back at once.
        QCOMPARE(pendingClaims(c).size(), 2);
        {
            Transaction t(c);
            QCOMPARE(releaseClaim(c, QStringLiteral("B")), 1);
            const QVector<PageJob> again = claimPages(c, QStringLiteral("D"), 1062, 60, 5);
            QCOMPARE(again.size(), 1);
            QCOMPARE(again[0].photo, QStringLiteral("/p/3.png"));
            t.commit();
        }

        // A page that could not be read keeps its reason and no words.
        {
            Transaction t(c);
            PageResult failed;
            failed.reason = QStringLiteral("识别超时（超过 180 秒）");
            failed.contentHash = QStringLiteral("abc");
            QVERIFY(finishPage(c, taken[1].rowId, QStringLiteral("C"), failed));
            t.commit();
        }
        const PageTextRow row = readPageText(c, QStringLiteral("240101080000"), QStringLiteral("/p/2.png"));
        QCOMPARE(row.state, kPageFailed);
        QCOMPARE(row.reason, QStringLiteral("识别超时（超过 180 秒）"));
        QVERIFY(row.words.isNull());
        QCOMPARE(row.contentHash, QStringLiteral("abc"));
        const PageCounts counts = countPages(c);
        QCOMPARE(counts.done, 1);
        QCOMPARE(counts.failed, 1);
        QCOMPARE(counts.pending, 1);
    }

    // Two readers on one workstation at once (two ocr runs, or one and the program): the
    // claims of a reader still running are never given back by the other, so no page is
    // read twice; those of a reader that has ended are, and those of other machines wait
    // for their leases.
    void onlyTheClaimsOfEndedReadersOfThisMachineAreGivenBack()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/1.png"), QStringLiteral("/p/2.png"), QStringLiteral("/p/3.png"),
                     QStringLiteral("/p/4.png")});
        Connection c(a.path());
        createPageTextTable(c);
        QProcess running;
        running.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(running.waitForStarted());
        const auto stop = qScopeGuard([&running] {
            running.kill();
            running.waitForFinished();
        });
        QProcess ended;
        ended.start(QStringLiteral("true"), {});
        QVERIFY(ended.waitForStarted());
        const qint64 endedPid = ended.processId();
        QVERIFY(ended.waitForFinished());
        const QString host = QHostInfo::localHostName();
        const QString live = QStringLiteral("%1/%2/0000000a").arg(host).arg(running.processId());
        const QString gone = QStringLiteral("%1/%2/0000000b").arg(host).arg(endedPid);
        const QString elsewhere = QStringLiteral("%1-other/%2/0000000c").arg(host).arg(endedPid);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        {
            Transaction t(c);
            queueMissingPages(c);
            for (const QString &claim : {live, gone, elsewhere})
                QCOMPARE(claimPages(c, claim, now, 3600, 1).size(), 1);
            t.commit();
        }
        QCOMPARE(pictures::PageQueueReader::releaseAbandoned(c), 1);
        QStringList held = pendingClaims(c);
        QStringList kept{live, elsewhere};
        held.sort();
        kept.sort();
        QCOMPARE(held, kept);
        // The next reader gets the page given back and the one nobody had, nothing else.
        pictures::PageQueueReader next;
        QStringList photos;
        for (const PageJob &job : next.claim(c, 10))
            photos << job.photo;
        QCOMPARE(photos, (QStringList{QStringLiteral("/p/2.png"), QStringLiteral("/p/4.png")}));
    }

    void theSearchFindsRecordsByTheirPages()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/a1.png"), QStringLiteral("/p/a2.png")});
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"), {}, {},
                    {QStringLiteral("/p/b1.png")});
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("丙 Aspirin"), {}, {},
                    {QStringLiteral("/p/c1.png")});
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080003"), QStringLiteral("丁"), {}, {},
                    {QStringLiteral("/p/d1.png")});
        Connection c(a.path());
        createPageTextTable(c);
        give(c, QStringLiteral("240101080000"), QStringLiteral("/p/a2.png"),
             QStringLiteral("出院小结 予Aspirin 100mg每日一次"));
        give(c, QStringLiteral("240101080001"), QStringLiteral("/p/b1.png"), QStringLiteral("阿莫西林胶囊 0.5g 50%_x\\y"));
        give(c, QStringLiteral("240101080002"), QStringLiteral("/p/c1.png"), QStringLiteral("阿莫西林"), false);
        queuePage(c, QStringLiteral("240101080003"), QStringLiteral("/p/d1.png")); // not read yet

        const QStringList first{QStringLiteral("甲")};
        const QStringList second{QStringLiteral("乙")};
        QCOMPARE(found(c, inPages(QStringLiteral("出院小结"))), first);
        QCOMPARE(found(c, inPages(QStringLiteral("aspirin"))), first);       // A-Z without case
        QCOMPARE(found(c, inPages(QStringLiteral("阿莫"))), second);          // too short for trigrams
        QCOMPARE(found(c, inPages(QStringLiteral("阿莫西林"))), second);      // a page that failed has no words
        QCOMPARE(found(c, inPages(QStringLiteral("Asp*100mg"))), first);
        QCOMPARE(found(c, inPages(QStringLiteral("?莫西林胶"))), second);
        QCOMPARE(found(c, inPages(QStringLiteral("出院?结"))), first);
        QCOMPARE(found(c, inPages(QStringLiteral("出院??结"))), QStringList());
        // %, _ and \ are themselves, never wildcards.
        QCOMPARE(found(c, inPages(QStringLiteral("50%_x\\y"))), second);
        QCOMPARE(found(c, inPages(QStringLiteral("0%"))), second);
        QCOMPARE(found(c, inPages(QStringLiteral("%"))), second);
        QCOMPARE(found(c, inPages(QStringLiteral("1_0"))), QStringList());
        QCOMPARE(found(c, inPages(QStringLiteral("无此文字"))), QStringList());

        // With another box ticked, either finds the record.
        SearchFilter both = inPages(QStringLiteral("aspirin"));
        both.inName = true;
        QCOMPARE(found(c, both), (QStringList{QStringLiteral("丙 Aspirin"), QStringLiteral("甲")}));
        QCOMPARE(countRecordsMatchedByPages(c, both), 1);
        QCOMPARE(countRecordsMatchedByPages(c, inPages(QStringLiteral("阿莫*"))), 1);
        QCOMPARE(countRecordsMatchedByPages(c, inPages(QStringLiteral("*"))), 2);

        QCOMPARE(photosMatching(c, QStringLiteral("240101080000"), inPages(QStringLiteral("100MG"))),
                 QSet<QString>{QStringLiteral("/p/a2.png")});
        QCOMPARE(photosMatching(c, QStringLiteral("240101080001"), inPages(QStringLiteral("100MG"))), QSet<QString>{});
        SearchFilter names;
        names.text = QStringLiteral("100mg");
        names.inName = true;
        QCOMPARE(photosMatching(c, QStringLiteral("240101080000"), names), QSet<QString>{}); // box not ticked

        // A photo taken out of its record no longer finds the record.
        a.exec(QStringLiteral("DELETE FROM photo WHERE \"照片\" = '/p/a2.png'"));
        QCOMPARE(found(c, inPages(QStringLiteral("出院小结"))), QStringList());
        QCOMPARE(countRecordsMatchedByPages(c, inPages(QStringLiteral("出院小结"))), 0);

        // An archive without page text: nothing is found by pages, the other boxes still work.
        SearchFilter unreadable = both;
        unreadable.pageTextReadable = false;
        QCOMPARE(found(c, unreadable), QStringList{QStringLiteral("丙 Aspirin")});
    }

    void wordsReadAgainReplaceTheOldInTheSearch()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/a.png")});
        Connection c(a.path());
        createPageTextTable(c);
        give(c, QStringLiteral("240101080000"), QStringLiteral("/p/a.png"), QStringLiteral("旧的诊断结论"));
        const qint64 row = readPageText(c, QStringLiteral("240101080000"), QStringLiteral("/p/a.png")).rowId;
        {
            Transaction t(c);
            requeuePage(c, row);
            t.commit();
        }
        // Until the new words are in, the old ones still find the record.
        QCOMPARE(found(c, inPages(QStringLiteral("旧的诊断"))), QStringList{QStringLiteral("甲")});
        {
            Transaction t(c);
            const QVector<PageJob> jobs = claimPages(c, QStringLiteral("r"), 5000, 60, 5);
            QCOMPARE(jobs.size(), 1);
            QVERIFY(finishPage(c, jobs[0].rowId, QStringLiteral("r"), read(QStringLiteral("新的诊断结论"), QStringLiteral("h2"))));
            t.commit();
        }
        QCOMPARE(found(c, inPages(QStringLiteral("旧的诊断"))), QStringList());
        QCOMPARE(found(c, inPages(QStringLiteral("新的诊断"))), QStringList{QStringLiteral("甲")});
        QCOMPARE(countPages(c).done, 1);
        // The row goes, and its words with it from the index.
        a.exec(QStringLiteral("DELETE FROM page_text"));
        QCOMPARE(found(c, inPages(QStringLiteral("新的诊断"))), QStringList());
    }

    void trigramQueries()
    {
        QCOMPARE(trigramQuery(QStringLiteral("阿莫")), QString());
        QCOMPARE(trigramQuery(QStringLiteral("阿莫西")), QStringLiteral("阿莫西"));
        QCOMPARE(trigramQuery(QStringLiteral("ab*cdef?gh")), QStringLiteral("cdef"));
        QCOMPARE(trigramQuery(QStringLiteral("5%_x")), QString());
        QCOMPARE(trigramQuery(QStringLiteral("a\\bcd")), QStringLiteral("bcd"));
    }
};

QTEST_MAIN(TestPageText)
#include "tst_page_text.moc"
