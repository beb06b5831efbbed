// The search index against the scan: the same records on the hard cases, a write seen by a
// search on another connection, the fall-back when the index is missing, damaged or not
// built, the check that compares it with the records, and the upgrade that builds it.
#include "TempArchive.h"

#include "store/Database.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "store/Statements.h"
#include "store/TrailStatements.h"
#include "store/TreeRows.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

using namespace store;
using testing::TempArchive;

namespace {

enum Box { Name = 1, Path = 2, Description = 4, Type = 8 };

SearchFilter filterFor(const QString &text, int boxes)
{
    SearchFilter f;
    f.text = text;
    f.inName = boxes & Name;
    f.inPath = boxes & Path;
    f.inDescription = boxes & Description;
    f.inType = boxes & Type;
    return f;
}

// The rows a search reads, by both of the tree's reads; they must agree.
QList<qint64> rowsRead(Connection &c, const SearchFilter &f)
{
    QList<qint64> engine;
    TreeRows rows(c, f);
    while (rows.next())
        engine << rows.rowId();
    QList<qint64> qt;
    forEachRecord(c, f, [&](const QString &, const RecordHead &h) { qt << h.rowId; });
    if (engine != qt)
        QTest::qFail("the tree's two reads differ", __FILE__, __LINE__);
    return engine;
}

struct Searched {
    QList<qint64> indexed;
    QList<qint64> scanned;
    IndexedSearch use;
};

Searched searchBoth(const QString &path, const QString &text, int boxes)
{
    Connection c(path);
    Searched s;
    const SearchFilter plain = filterFor(text, boxes);
    s.scanned = rowsRead(c, plain);
    SearchFilter f = plain;
    s.use = prepareIndexedSearch(c, f);
    s.indexed = rowsRead(c, f);
    return s;
}

qint64 countOf(const QString &path, const QString &sql)
{
    Connection c(path);
    QSqlQuery q = c.run(sql);
    return c.next(q) ? q.value(0).toLongLong() : -1;
}

struct Run {
    int exitCode = -1;
    QString out;
};
Run admin(const QStringList &args)
{
    QProcess p;
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")), args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestSearchIndex : public QObject {
    Q_OBJECT

    // The hard cases: a pair at the start and the end of a field, across a line break and
    // across two fields, scripts mixed, full and half width, letters in either case, the
    // characters LIKE would read as wildcards, two rows under one number, a type name.
    static void addHardCases(TempArchive &a)
    {
        a.addType(QStringLiteral("内科"));
        a.addType(QStringLiteral("阑尾外科"));
        const auto add = [&a](const char *type, const char *number, const char *name, const char *path, const char *desc) {
            a.addRecord(QString::fromUtf8(type), QString::fromUtf8(number), QString::fromUtf8(name), QString::fromUtf8(path),
                        QString::fromUtf8(desc));
        };
        add("内科", "001", "阑尾炎", "/病案/阑尾.doc", "急性阑尾炎");
        add("内科", "002", "王伟", "", "诊断：急性阑\r\n尾炎");
        add("内科", "003", "CT检查 阑尾", "/Scans/CT.JPG", "Mixed 阑尾 text");
        add("内科", "004", "ＣＴ检查", "", "全角");
        add("内科", "005", "ct复查", "", "");
        add("内科", "006", "右下腹阑", "尾/x.doc", "");
        add("内科", "007", "100%_ok\\x", "C:\\data\\a_b", "");
        add("内科", "001", "阑尾 复查", "", "同号的第二条");
        add("阑尾外科", "008", "张三", "", "");
        add("内科", "009", "𠮷野家", "", "");
        // No value at all in three of the columns.
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (?, ?, ?)"),
               {QStringLiteral("内科"), QStringLiteral("010"), QStringLiteral("无值 阑尾")});
        if (testing::onServer())
            return;
        // What other tools may have left in a file: broken UTF-8, binary data, a number.
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"文件说明\") VALUES "
                              "('内科', '011', CAST(X'E99891E5B0BEFF' AS TEXT), X'E99891E5B0BE'), "
                              "('内科', '012', 12345, 'x')"));
    }

private slots:
    void theIndexFindsWhatTheScanFinds()
    {
        TempArchive a;
        addHardCases(a);
        const QStringList texts{QStringLiteral("阑尾"), QStringLiteral("阑尾炎"), QStringLiteral("急性阑尾炎"),
                                QStringLiteral("阑?尾"), QStringLiteral("阑*尾"), QStringLiteral("*阑尾*"),
                                QStringLiteral("?阑尾"), QStringLiteral("阑尾?"), QStringLiteral("阑尾*复查"),
                                QStringLiteral("ct"), QStringLiteral("CT"), QStringLiteral("ＣＴ"), QStringLiteral("c?"),
                                QStringLiteral("0%_"), QStringLiteral("%_o"), QStringLiteral("\\d"),
                                QStringLiteral("a_b"), QStringLiteral("𠮷野"), QStringLiteral("阑尾外科"),
                                QStringLiteral("尾/"), QStringLiteral("阑尾 复查"), QStringLiteral("23"),
                                QStringLiteral("王伟"), QStringLiteral("诊断"), QStringLiteral("阑")};
        for (const int boxes : {int(Name | Path | Description | Type), int(Name), int(Path), int(Description), int(Type), int(Name | Description)}) {
            for (const QString &text : texts) {
                const Searched s = searchBoth(a.path(), text, boxes);
                const QString what = QStringLiteral("\"%1\" in boxes %2").arg(text).arg(boxes);
                QVERIFY2(s.indexed == s.scanned, qPrintable(what));
                // Every text with two characters between its wildcards went through the index.
                const bool pairs = !QStringList{QStringLiteral("阑"), QStringLiteral("阑?尾"), QStringLiteral("阑*尾"),
                                                QStringLiteral("c?")}
                                        .contains(text);
                QVERIFY2((s.use.records == IndexUse::Indexed) == pairs, qPrintable(what));
            }
        }
        // The scan itself is the one the search window always ran.
        QCOMPARE(searchBoth(a.path(), QStringLiteral("阑尾"), Name).scanned.size(), testing::onServer() ? 4 : 5);
        QCOMPARE(searchBoth(a.path(), QStringLiteral("ct"), Name).scanned.size(), 2);
    }

    void thePhotosWordsByTheirPairs()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        const QString photo = QStringLiteral("/p/%1.jpg");
        const char *words[] = {"术后阑尾区压痛", "阑\n尾", "无", "CT 复查", nullptr};
        for (int i = 0; i < 5; ++i)
            a.addRecord(QStringLiteral("内科"), QStringLiteral("30%1").arg(i), i == 4 ? QStringLiteral("阑尾") : QStringLiteral("甲%1").arg(i),
                        QString(), QString(), {photo.arg(i)});
        {
            Connection c(a.path());
            createPageTextTable(c);
            Transaction t(c);
            for (int i = 0; i < 5; ++i)
                queuePage(c, QStringLiteral("30%1").arg(i), photo.arg(i));
            for (const PageJob &job : claimPages(c, QStringLiteral("r"), 1, 60, 10)) {
                const char *w = words[job.number.right(1).toInt()];
                PageResult r;
                r.done = w != nullptr;
                r.words = QString::fromUtf8(w);
                r.reason = QStringLiteral("unreadable");
                QVERIFY(finishPage(c, job.rowId, QStringLiteral("r"), r));
            }
            t.commit();
        }
        // A photo taken out of its record no longer counts.
        a.exec(QStringLiteral("DELETE FROM photo WHERE \"照片\" = ?"), {photo.arg(3)});
        for (const int boxes : {0, int(Name)}) {
            for (const QString &text : {QStringLiteral("阑尾"), QStringLiteral("ct"), QStringLiteral("?阑尾"), QStringLiteral("尾区")}) {
                Connection c(a.path());
                SearchFilter f = filterFor(text, boxes);
                f.inPageText = true;
                const QList<qint64> scanned = rowsRead(c, f);
                const IndexedSearch use = prepareIndexedSearch(c, f);
                QCOMPARE(use.pages, IndexUse::Indexed);
                QCOMPARE(use.records, boxes ? IndexUse::Indexed : IndexUse::Scanned);
                QCOMPARE(rowsRead(c, f), scanned);
                QCOMPARE(countRecordsMatchedByPages(c, f), text == QStringLiteral("ct") ? 0 : 1);
            }
        }
        Connection c(a.path());
        SearchFilter f = filterFor(QStringLiteral("阑尾"), Name);
        f.inPageText = true;
        prepareIndexedSearch(c, f);
        QCOMPARE(rowsRead(c, f).size(), 2);
        for (const SearchIndexCheck &check : verifySearchIndex(c))
            QVERIFY2(check.fits(), qPrintable(check.problem));
    }

    void aWriteIsFoundFromAnotherConnection()
    {
        TempArchive a;
        a.addType(QStringLiteral("骨科"));
        a.addRecord(QStringLiteral("骨科"), QStringLiteral("100"), QStringLiteral("旧病人"), QString(), QString());
        Connection reader(a.path());
        const auto found = [&](const QString &text) {
            SearchFilter f = filterFor(text, Name | Description);
            const IndexedSearch use = prepareIndexedSearch(reader, f);
            if (use.records != IndexUse::Indexed)
                QTest::qFail("not through the index", __FILE__, __LINE__);
            return rowsRead(reader, f).size();
        };
        QCOMPARE(found(QStringLiteral("骨折")), 0);
        qint64 row = 0;
        {
            Connection writer(a.path());
            Transaction t(writer);
            row = insertRecord(writer, {0, QStringLiteral("骨科"), QStringLiteral("101"), QStringLiteral("新病人"),
                                        QString(), QStringLiteral("左桡骨骨折")});
            t.commit();
        }
        QCOMPARE(found(QStringLiteral("骨折")), 1);
        {
            // A modification puts the row back under its own identity, as the window does.
            Connection writer(a.path());
            Transaction t(writer);
            QCOMPARE(deleteRecordRow(writer, row), 1);
            insertRecordRow(writer, {row, QStringLiteral("骨科"), QStringLiteral("101"), QStringLiteral("新病人"), QString(),
                                     QStringLiteral("肺炎")});
            t.commit();
        }
        QCOMPARE(found(QStringLiteral("骨折")), 0);
        QCOMPARE(found(QStringLiteral("肺炎")), 1);
        if (!testing::onServer()) {
            // Folded into the index, the log empties and the index still fits the rows.
            QVERIFY(countOf(a.path(), QStringLiteral("SELECT count(*) FROM search_words_log")) > 0);
            QVERIFY(catchUpSearchIndex(reader, IndexedText::Records));
            QCOMPARE(countOf(a.path(), QStringLiteral("SELECT count(*) FROM search_words_log")), 0);
            QCOMPARE(found(QStringLiteral("肺炎")), 1);
        }
        {
            Connection writer(a.path());
            Transaction t(writer);
            QCOMPARE(deleteRecordRow(writer, row), 1);
            t.commit();
        }
        QCOMPARE(found(QStringLiteral("肺炎")), 0);
        // Many changes are folded in by the search itself before it answers.
        {
            Connection writer(a.path());
            Transaction t(writer);
            for (int i = 0; i < 300; ++i)
                insertRecord(writer, {0, QStringLiteral("骨科"), QStringLiteral("2%1").arg(i), QStringLiteral("病人%1").arg(i),
                                      QString(), i % 3 ? QStringLiteral("复查") : QStringLiteral("胫骨骨折")});
            t.commit();
        }
        QCOMPARE(found(QStringLiteral("骨折")), 100);
        if (!testing::onServer())
            QCOMPARE(countOf(a.path(), QStringLiteral("SELECT count(*) FROM search_words_log")), 0);
        for (const SearchIndexCheck &check : verifySearchIndex(reader))
            QVERIFY2(check.fits(), qPrintable(check.problem));
    }

    void aMissingDamagedOrUnbuiltIndexFallsBackToTheScan()
    {
        TempArchive a;
        addHardCases(a);
        const auto expectFallBack = [&](IndexUse use) {
            const Searched s = searchBoth(a.path(), QStringLiteral("阑尾"), Name | Path | Description | Type);
            QCOMPARE(s.use.records, use);
            QCOMPARE(s.indexed, s.scanned);
            QCOMPARE(s.indexed.size(), testing::onServer() ? 5 : 6);
        };
        if (testing::onServer()) {
            a.exec(QStringLiteral("UPDATE pg_index SET indisvalid = false WHERE indexrelid = 'idx_detail_pairs'::regclass"));
            expectFallBack(IndexUse::Unusable);
            a.exec(QStringLiteral("DROP INDEX idx_detail_pairs"));
            expectFallBack(IndexUse::Unusable);
        } else {
            // Its own tables scrambled: the index reports itself corrupt, and the file
            // holding it is not taken for damaged: the records are still written.
            {
                Connection c(a.path());
                QVERIFY(catchUpSearchIndex(c, IndexedText::Records));
            }
            a.exec(QStringLiteral("DELETE FROM search_words_data WHERE id > 10"));
            expectFallBack(IndexUse::Unusable);
            QVERIFY(!writesRefused(a.path()));
            a.addRecord(QStringLiteral("内科"), QStringLiteral("013"), QStringLiteral("新"));
            a.exec(QStringLiteral("DROP TABLE search_words"));
            expectFallBack(IndexUse::Unusable);
            a.exec(QStringLiteral("UPDATE search_index_state SET built = 0"));
            expectFallBack(IndexUse::NotBuilt);
        }
        {
            Connection c(a.path());
            Transaction t(c);
            QCOMPARE(buildSearchIndex(c, true), 1);
            t.commit();
        }
        const Searched s = searchBoth(a.path(), QStringLiteral("阑尾"), Name | Path | Description | Type);
        QCOMPARE(s.use.records, IndexUse::Indexed);
        QCOMPARE(s.indexed, s.scanned);
    }

    void theCheckComparesTheIndexWithTheRecords()
    {
        TempArchive a;
        addHardCases(a);
        {
            Connection c(a.path());
            const QVector<SearchIndexCheck> checks = verifySearchIndex(c);
            QCOMPARE(checks.size(), 1);
            QVERIFY2(checks[0].fits(), qPrintable(checks[0].problem));
            QCOMPARE(checks[0].rows, testing::onServer() ? 11 : 13);
        }
        if (testing::onServer()) {
            a.exec(QStringLiteral("CREATE OR REPLACE FUNCTION casearchive_search_pairs(VARIADIC parts text[]) "
                                  "RETURNS bigint[] LANGUAGE sql IMMUTABLE AS $$ SELECT '{}'::bigint[] $$"));
        } else {
            // A record the index never heard of, and one it lost.
            a.exec(QStringLiteral("INSERT INTO search_words (rowid, words) VALUES (999, 'abc')"));
        }
        Connection c(a.path());
        const SearchIndexCheck check = verifySearchIndex(c).value(0);
        QVERIFY(!check.fits());
        QCOMPARE(check.problem, testing::onServer()
                                    ? QStringLiteral("its function casearchive_search_pairs is not the one the index was made with")
                                    : QStringLiteral("1 of its words do not fit the rows (abc: 1 rows, should be 0)"));
    }

    void anArchiveOfVersionTwoIsSearchedByScanningUntilTheUpgradeBuildsTheIndex()
    {
        TempArchive a;
        addHardCases(a);
        // As the previous version left it: no index, version 2.
        if (testing::onServer()) {
            a.exec(QStringLiteral("DROP INDEX idx_detail_pairs"));
            a.exec(QStringLiteral("DROP FUNCTION casearchive_search_pairs(text[])"));
            a.exec(QStringLiteral("UPDATE ArchiveVersion SET version = 2"));
        } else {
            for (const char *t : {"search_words", "search_words_log", "search_index_state"})
                a.exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(t)));
            a.exec(QStringLiteral("PRAGMA user_version = 2"));
        }
        {
            Connection c(a.path());
            forgetSchemaVersion(c);
        }
        const Searched before = searchBoth(a.path(), QStringLiteral("阑尾"), Name | Path | Description | Type);
        QCOMPARE(before.use.records, IndexUse::NotBuilt);
        QCOMPARE(before.indexed, before.scanned);

        const Run upgraded = admin({QStringLiteral("upgrade"), a.path()});
        QCOMPARE(upgraded.exitCode, 0);
        QVERIFY2(upgraded.out.contains(QStringLiteral("upgraded %1 from schema version 2 to 3: added the archive's identity and "
                                                      "the search index; the recycle bin keeps every byte of the records it "
                                                      "holds%2\n")
                                           .arg(a.path(), testing::onServer() ? QStringLiteral("; the server numbers and "
                                                                                               "chains the trail's entries itself")
                                                                              : QString())),
                 qPrintable(upgraded.out));
        QVERIFY2(upgraded.out.contains(QStringLiteral("building the search index of the records: 100%\n")), qPrintable(upgraded.out));
        QVERIFY2(upgraded.out.contains(QStringLiteral("built the search index in ")), qPrintable(upgraded.out));
        {
            Connection c(a.path());
            forgetSchemaVersion(c);
        }
        const Searched after = searchBoth(a.path(), QStringLiteral("阑尾"), Name | Path | Description | Type);
        QCOMPARE(after.use.records, IndexUse::Indexed);
        QCOMPARE(after.indexed, before.scanned);
        const Run again = admin({QStringLiteral("upgrade"), a.path()});
        QCOMPARE(again.out, QStringLiteral("%1 is at schema version 3 already, its search index built; nothing changed\n")
                                .arg(a.path()));
        const Run checked = admin({QStringLiteral("check"), a.path()});
        QVERIFY2(checked.out.contains(QStringLiteral("\nsearch index of the records: fits all %1 rows\n")
                                          .arg(testing::onServer() ? 11 : 13)),
                 qPrintable(checked.out));
    }
};

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "tst_search_index.moc"
