// The trail of changes: what an entry keeps, how the windows find entries, the hash chain
// that shows an entry edited, removed or moved, the upgrade of an archive made before the
// trail existed, and the admin tool's copies and restores that carry the trail and add
// their own entries.
#include "AdminTool.h"
#include "TempArchive.h"

#include "access/OperatorAccount.h"
#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"
#include "trail/RecycleBin.h"
#include "store/StoredRows.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlRecord>

using namespace store;
using testing::TempArchive;

namespace {
using Run = testing::AdminRun;
Run admin(const QStringList &args) { return testing::runAdmin(args); }

const QDateTime kStart(QDate(2024, 3, 1), QTime(8, 0, 0, 250), Qt::UTC);

RecordState state(const QString &number, const QString &name, const QStringList &photos = {}, qint64 rowId = 1)
{
    return {{rowId, QStringLiteral("外科"), number, name, QStringLiteral("/d/a.pdf"), QStringLiteral("说明\n二行")}, photos};
}

void append(Connection &c, const Actor &actor, const Change &change)
{
    Transaction t(c);
    appendHistory(c, actor, change);
    t.commit();
}

// Five entries an hour apart: two of record A (row 1), one of a type, one of record B,
// one of record A that names no row.
void fillTrail(Connection &c, int *hour)
{
    setHistoryClockForTests([hour] { return kStart.addSecs(3600 * *hour); });
    const Actor jia{QStringLiteral("甲"), QStringLiteral("pc-1")};
    const Actor zed{QStringLiteral("Zed"), QStringLiteral("pc-2")};
    const RecordState a1 = state(QStringLiteral("240101080000"), QStringLiteral("张三"), {QStringLiteral("/p/1.jpg")});
    const RecordState a2 = state(QStringLiteral("240101080000"), QStringLiteral("张三丰"), {});
    const RecordState b = state(QStringLiteral("240202090000"), QStringLiteral("李四"), {}, 2);
    const QVector<QPair<Actor, Change>> changes{
        {jia, {ChangeKind::RecordAdded, a1.row.number, 1, {}, std::nullopt, a1, {}}},
        {zed, {ChangeKind::RecordModified, a1.row.number, 1, {}, a1, a2, {}}},
        {jia, {ChangeKind::TypeAdded, {}, 0, QStringLiteral("内科"), std::nullopt, std::nullopt, {}}},
        {zed, {ChangeKind::RecordDeleted, b.row.number, 2, {}, b, std::nullopt, QStringLiteral("放入回收站")}},
        {jia, {ChangeKind::RecordPrinted, a1.row.number, 0, {}, std::nullopt, std::nullopt, QStringLiteral("3 页")}},
    };
    for (const auto &[actor, change] : changes) {
        append(c, actor, change);
        ++*hour;
    }
}

QList<qint64> ids(const QVector<HistoryEntry> &entries)
{
    QList<qint64> out;
    for (const HistoryEntry &e : entries)
        out << e.id;
    return out;
}

// The columns of the four old tables, in order.
QStringList oldColumns(Connection &c)
{
    QStringList columns;
    for (const char *table : {"Catalog", "Detail", "photo", "\"User\""}) {
        const QSqlRecord r = c.run(QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(QLatin1String(table))).record();
        for (int i = 0; i < r.count(); ++i)
            columns << QLatin1String(table) + QLatin1Char('.') + r.fieldName(i);
    }
    return columns;
}

// An archive as versions before the trail made it: the four tables alone.
void makeOldArchive(const QString &path)
{
    Connection c = Connection::createNew(path);
    Transaction t(c);
    for (const QString &s : c.dialect().schema())
        c.run(s);
    insertOperator(c, QStringLiteral("管理员"), QString(), QStringLiteral("超级权限"));
    t.commit();
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { setHistoryClockForTests({}); }

    void kindsKeepTheirCodesAndTexts()
    {
        QStringList texts;
        for (ChangeKind k : changeKinds()) {
            texts << changeKindText(k);
            QCOMPARE(changeKindFromCode(changeKindCode(k)), std::optional<ChangeKind>(k));
        }
        QCOMPARE(texts, (QStringList{QStringLiteral("新增病案"), QStringLiteral("修改病案"), QStringLiteral("删除病案"),
                                     QStringLiteral("恢复病案"), QStringLiteral("彻底删除病案"), QStringLiteral("打印病案"),
                                     QStringLiteral("新增病案类型"), QStringLiteral("病案类型改名"),
                                     QStringLiteral("删除病案类型"), QStringLiteral("新增操作员"),
                                     QStringLiteral("删除操作员"), QStringLiteral("重设操作员口令"),
                                     QStringLiteral("复制档案"), QStringLiteral("恢复档案"),
                                     QStringLiteral("导入早先系统的档案")}));
        QCOMPARE(changeKindCode(ChangeKind::RecordAdded), QStringLiteral("record.added"));
        QCOMPARE(changeKindCode(ChangeKind::ArchiveRestored), QStringLiteral("archive.restored"));
        QCOMPARE(changeKindCode(ChangeKind::ArchiveImported), QStringLiteral("archive.imported"));
        QVERIFY(!changeKindFromCode(QStringLiteral("record.Added")));
    }

    void entriesFoundFilteredSortedAndPaged()
    {
        TempArchive a;
        Connection c(a.path());
        int hour = 0;
        fillTrail(c, &hour);

        const QVector<HistoryEntry> all = readHistory(c, {});
        QCOMPARE(ids(all), (QList<qint64>{5, 4, 3, 2, 1}));
        const HistoryEntry &modified = all[3];
        QCOMPARE(modified.when, kStart.addSecs(3600));
        QCOMPARE(modified.operatorName, QStringLiteral("Zed"));
        QCOMPARE(modified.workstation, QStringLiteral("pc-2"));
        QCOMPARE(modified.change.kind, ChangeKind::RecordModified);
        QCOMPARE(modified.change.before, state(QStringLiteral("240101080000"), QStringLiteral("张三"), {QStringLiteral("/p/1.jpg")}));
        QCOMPARE(modified.change.after->row.name, QStringLiteral("张三丰"));
        QCOMPARE(modified.hash.size(), 64);
        QCOMPARE(all[0].change.detail, QStringLiteral("3 页"));

        // One record: its row's entries and those that name no row, newest first.
        QCOMPARE(ids(readRecordHistory(c, QStringLiteral("240101080000"), 1)), (QList<qint64>{5, 2, 1}));
        QCOMPARE(ids(readRecordHistory(c, QStringLiteral("240101080000"), 9)), (QList<qint64>{5}));

        auto query = [&](auto tweak) {
            HistoryQuery q;
            tweak(q);
            return ids(readHistory(c, q));
        };
        // Both ends of a time span belong to it.
        QCOMPARE(query([](HistoryQuery &q) {
                     q.from = kStart.addSecs(3600);
                     q.to = kStart.addSecs(3 * 3600);
                 }),
                 (QList<qint64>{4, 3, 2}));
        QCOMPARE(query([](HistoryQuery &q) { q.from = kStart.addSecs(3600).addMSecs(1); }), (QList<qint64>{5, 4, 3}));
        QCOMPARE(query([](HistoryQuery &q) { q.operatorName = QStringLiteral("zED"); }), (QList<qint64>{4, 2}));
        QCOMPARE(query([](HistoryQuery &q) { q.operatorName = QStringLiteral("Ze"); }), QList<qint64>{});
        QCOMPARE(query([](HistoryQuery &q) { q.kinds = {ChangeKind::TypeAdded, ChangeKind::RecordDeleted}; }),
                 (QList<qint64>{4, 3}));
        // A record by number or by name, with the search's wildcards.
        QCOMPARE(query([](HistoryQuery &q) { q.record = QStringLiteral("2402*"); }), (QList<qint64>{4}));
        QCOMPARE(query([](HistoryQuery &q) { q.record = QStringLiteral("张?丰"); }), (QList<qint64>{2}));
        QCOMPARE(query([](HistoryQuery &q) { q.record = QStringLiteral("张三"); }), (QList<qint64>{2, 1}));
        QCOMPARE(query([](HistoryQuery &q) { q.record = QStringLiteral("%"); }), QList<qint64>{});
        // Sorted by another column, ties by time and then in the order written.
        QCOMPARE(query([](HistoryQuery &q) {
                     q.sortBy = HistoryQuery::Column::Operator;
                     q.descending = false;
                 }),
                 (QList<qint64>{2, 4, 1, 3, 5}));
        QCOMPARE(query([](HistoryQuery &q) { q.sortBy = HistoryQuery::Column::Workstation; }), (QList<qint64>{4, 2, 5, 3, 1}));
        QCOMPARE(query([](HistoryQuery &q) {
                     q.offset = 1;
                     q.limit = 2;
                 }),
                 (QList<qint64>{4, 3}));
        HistoryQuery paged;
        paged.offset = 3;
        paged.limit = 1;
        paged.operatorName = QStringLiteral("甲");
        QCOMPARE(countHistory(c, paged), 3);
        QList<qint64> exported;
        forEachHistoryEntry(c, paged, [&](const HistoryEntry &e) { exported << e.id; });
        QCOMPARE(exported, (QList<qint64>{5, 3, 1}));
    }

    // A record text of three characters and more is found through the trail's words index
    // (made and brought up to date by the search itself on a file); the pattern's own rules
    // decide what it offers, and a search that cannot bring it up to date reads every entry.
    void aRecordTextFoundThroughTheWordsIndexFollowsThePattern()
    {
        TempArchive a;
        Connection c(a.path());
        int hour = 0;
        setHistoryClockForTests([&hour] { return kStart.addSecs(3600 * hour++); });
        const Actor jia{QStringLiteral("甲"), QStringLiteral("pc-1")};
        auto added = [&](Connection &on, const char *number, const char *name) {
            const RecordState s = state(QString::fromUtf8(number), QString::fromUtf8(name));
            append(on, jia, {ChangeKind::RecordAdded, s.row.number, 1, {}, std::nullopt, s, {}});
        };
        added(c, "240101080000", "张三丰 急性阑尾炎"); // 1
        added(c, "240299990000", "ABCdef 胆囊");       // 2
        added(c, "240301000000", "abc_def");           // 3
        added(c, "240401000000", "ÄBC 外科");          // 4
        added(c, "240501000000", "X%Yz 眼科");         // 5
        auto found = [&](const QString &text) {
            HistoryQuery q;
            q.record = text;
            const QList<qint64> page = ids(readHistory(c, q));
            if (countHistory(c, q) != page.size())
                return QList<qint64>{-1};
            return page;
        };
        QCOMPARE(found(QStringLiteral("急性阑尾炎")), QList<qint64>{1});
        QCOMPARE(found(QStringLiteral("0101080")), QList<qint64>{1});
        QCOMPARE(found(QStringLiteral("2402*0000")), QList<qint64>{2});
        QCOMPARE(found(QStringLiteral("张三丰*炎")), QList<qint64>{1});
        // ASCII letters in either case; beyond them case counts, though the index offers both.
        QCOMPARE(found(QStringLiteral("abcDEF")), QList<qint64>{2});
        QCOMPARE(found(QStringLiteral("äbc")), QList<qint64>{});
        QCOMPARE(found(QStringLiteral("ÄBC")), QList<qint64>{4});
        // "%" and "_" are themselves: the index offers 2 for "abc_def" too.
        QCOMPARE(found(QStringLiteral("abc_def")), QList<qint64>{3});
        QCOMPARE(found(QStringLiteral("X%Yz 眼科")), QList<qint64>{5});
        QCOMPARE(found(QStringLiteral("X_Yz 眼科")), QList<qint64>{});

        // Entries written since the last search are found by the next.
        added(c, "240601000000", "急性阑尾炎 复发");
        QCOMPARE(found(QStringLiteral("急性阑尾炎")), (QList<qint64>{6, 1}));

        // Another workstation's write lock keeps the file's index behind: every entry is read.
        added(c, "240701000000", "急性阑尾炎 三次");
        setBusyTimeout(100);
        {
            Connection other(a.path());
            Connection reader(a.path());
            Transaction held(other);
            HistoryQuery q;
            q.record = QStringLiteral("急性阑尾炎");
            QCOMPARE(ids(readHistory(reader, q)), (QList<qint64>{7, 6, 1}));
            QCOMPARE(countHistory(reader, q), 3);
        }
        setBusyTimeout(5000);
        QCOMPARE(found(QStringLiteral("急性阑尾炎")), (QList<qint64>{7, 6, 1}));

        // The index is no part of what the admin tool's check holds against the archive.
        QCOMPARE(integrityProblems(c, 10), QStringList{QStringLiteral("ok")});
        const ChainReport chain = verifyHistoryChain(c);
        QVERIFY(chain.whole);
        QCOMPARE(chain.entries, 7);
    }

    void aChangeWhoseEntryFailsIsNotMade()
    {
        TempArchive a;
        a.failWrites(QStringLiteral("no_trail"), QStringLiteral("BEFORE INSERT ON History"), QStringLiteral("trail full"));
        Connection c(a.path());
        try {
            Transaction t(c);
            insertType(c, QStringLiteral("内科"));
            appendHistory(c, {QStringLiteral("甲"), QStringLiteral("pc-1")},
                          {ChangeKind::TypeAdded, {}, 0, QStringLiteral("内科"), std::nullopt, std::nullopt, {}});
            t.commit();
            QFAIL("the entry was written");
        } catch (const StoreError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("trail full")), qPrintable(e.description()));
        }
        QCOMPARE(readTypes(c), QStringList());
    }

    void theChainShowsWhatWasTamperedWith_data()
    {
        QTest::addColumn<QStringList>("tampering");
        QTest::addColumn<qint64>("firstBad");
        QTest::addColumn<QString>("problem");
        const QString edited = QStringLiteral("第 %1 条的内容与它的校验值不符（被修改过，或与别的条目调换过位置）");
        QTest::newRow("edited") << QStringList{QStringLiteral("UPDATE History SET detail = '4 页' WHERE rowid = 5")} << qint64(5)
                                << edited.arg(5);
        QTest::newRow("operator edited")
            << QStringList{QStringLiteral("UPDATE History SET operator_name = 'zed' WHERE rowid = 2")} << qint64(2) << edited.arg(2);
        QTest::newRow("deleted") << QStringList{QStringLiteral("DELETE FROM History WHERE rowid = 3")} << qint64(4)
                                 << QStringLiteral("第 4 条之前的第 3 条不见了（被删除过）");
        QTest::newRow("two deleted") << QStringList{QStringLiteral("DELETE FROM History WHERE rowid IN (2, 3)")} << qint64(4)
                                     << QStringLiteral("第 4 条之前的第 2 至 3 条不见了（被删除过）");
        QTest::newRow("first deleted") << QStringList{QStringLiteral("DELETE FROM History WHERE rowid = 1")} << qint64(2)
                                       << QStringLiteral("第 2 条之前的第 1 条不见了（被删除过）");
        QTest::newRow("reordered") << QStringList{QStringLiteral("UPDATE History SET rowid = 0 WHERE rowid = 2"),
                                                  QStringLiteral("UPDATE History SET rowid = 2 WHERE rowid = 4"),
                                                  QStringLiteral("UPDATE History SET rowid = 4 WHERE rowid = 0")}
                                   << qint64(2) << edited.arg(2);
        QTest::newRow("name edited") << QStringList{QStringLiteral("UPDATE History SET record_name = '王五' WHERE rowid = 4")}
                                     << qint64(4) << QStringLiteral("第 4 条的病案名称与它记下的内容不符（被修改过）");
        QTest::newRow("kind swapped") << QStringList{QStringLiteral("UPDATE History SET kind = 'record.purged' WHERE rowid = 4")}
                                      << qint64(4) << edited.arg(4);
        // Every other field an entry holds, each alone.
        QTest::newRow("workstation edited")
            << QStringList{QStringLiteral("UPDATE History SET workstation = 'pc-9' WHERE rowid = 3")} << qint64(3) << edited.arg(3);
        QTest::newRow("time edited") << QStringList{QStringLiteral("UPDATE History SET changed_at = "
                                                                   "'2024-03-01T08:00:00.251Z' WHERE rowid = 1")}
                                     << qint64(1) << edited.arg(1);
        QTest::newRow("number edited")
            << QStringList{QStringLiteral("UPDATE History SET record_number = '240101080001' WHERE rowid = 5")} << qint64(5)
            << edited.arg(5);
        QTest::newRow("row edited") << QStringList{QStringLiteral("UPDATE History SET record_rowid = '9' WHERE rowid = 2")}
                                    << qint64(2) << edited.arg(2);
        QTest::newRow("subject edited") << QStringList{QStringLiteral("UPDATE History SET subject = '外科' WHERE rowid = 3")}
                                        << qint64(3) << edited.arg(3);
        QTest::newRow("before edited")
            << QStringList{QStringLiteral("UPDATE History SET before_state = replace(before_state, '张三', '张四') WHERE rowid = 2")}
            << qint64(2) << edited.arg(2);
        QTest::newRow("after edited")
            << QStringList{QStringLiteral("UPDATE History SET after_state = replace(after_state, '/d/a.pdf', '/d/b.pdf') "
                                          "WHERE rowid = 1")}
            << qint64(1) << edited.arg(1);
    }

    // An entry that does not fit is named, and the entries after it are checked against it
    // all the same: one forged far out hides nothing that follows.
    void everyEntryIsCheckedPastOneThatDoesNotFit()
    {
        TempArchive a;
        int hour = 0;
        {
            Connection c(a.path());
            fillTrail(c, &hour);
        }
        a.exec(QStringLiteral("INSERT INTO History (rowid, changed_at, operator_name, workstation, kind, record_number, "
                              "record_rowid, subject, before_state, after_state, detail, record_name, hash) "
                              "VALUES (1000000, '2024-03-02T08:00:00.000Z', '甲', 'pc-1', 'type.added', '', '', '假', '', '', "
                              "'', '', ?)"),
               {QString(64, QLatin1Char('0'))});
        {
            Connection c(a.path());
            append(c, {QStringLiteral("甲"), QStringLiteral("pc-1")},
                   {ChangeKind::TypeAdded, {}, 0, QStringLiteral("外科"), std::nullopt, std::nullopt, {}});
        }
        const QString gap = QStringLiteral("第 1000000 条之前的第 6 至 999999 条不见了（被删除过）");
        Run check = admin({QStringLiteral("check"), a.path()});
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(check.out.contains(QStringLiteral("trail: 7 entries, hash chain BROKEN at entry 1000000: %1\n"
                                                   "trail: 6 of the 7 entries fit the entry before them (every entry checked)\n")
                                        .arg(gap)),
                 qPrintable(check.out));
        // Another entry edited, after the forged one and before it: all three named.
        a.exec(QStringLiteral("UPDATE History SET detail = 'x' WHERE rowid IN (2, 1000001)"));
        Connection c(a.path());
        const ChainReport report = verifyHistoryChain(c);
        QCOMPARE(report.firstBadId, 2);
        QCOMPARE(report.breaks.size(), 3);
        QCOMPARE(report.breakCount, 3);
        QCOMPARE(report.breaks.at(2).id, 1000001);
        check = admin({QStringLiteral("check"), a.path()});
        QVERIFY2(check.out.contains(QStringLiteral("trail: also BROKEN at entry 1000000: %1\n"
                                                   "trail: also BROKEN at entry 1000001: 第 1000001 条的内容与它的校验值不符"
                                                   "（被修改过，或与别的条目调换过位置）\n"
                                                   "trail: 4 of the 7 entries fit the entry before them (every entry checked)\n")
                                        .arg(gap)),
                 qPrintable(check.out));
    }

    void theChainShowsWhatWasTamperedWith()
    {
        QFETCH(QStringList, tampering);
        QFETCH(qint64, firstBad);
        QFETCH(QString, problem);
        TempArchive a;
        {
            Connection c(a.path());
            int hour = 0;
            fillTrail(c, &hour);
            const ChainReport whole = verifyHistoryChain(c);
            QVERIFY(whole.whole);
            QCOMPARE(whole.entries, 5);
            QCOMPARE(whole.firstBadId, 0);
        }
        for (const QString &sql : tampering)
            a.exec(sql);
        Connection c(a.path());
        const ChainReport report = verifyHistoryChain(c);
        QVERIFY(!report.whole);
        QCOMPARE(report.firstBadId, firstBad);
        QCOMPARE(report.problem, problem);
        // The admin tool's check says so and fails.
        const Run check = admin({QStringLiteral("check"), a.path()});
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(check.out.contains(QStringLiteral("hash chain BROKEN at entry %1: %2\n").arg(firstBad).arg(problem)),
                 qPrintable(check.out));
        QVERIFY(check.out.endsWith(QStringLiteral("result: FAULT (the trail has been tampered with from entry %1 on)\n").arg(firstBad)));
    }

    // The chain cannot show its newest entries taken out, nor a trail written anew with
    // every hash computed again; the mark a check printed earlier shows both.
    void aNotedTrailMarkShowsNewestEntriesTakenOutAndATrailWrittenAnew()
    {
        const auto markIn = [](const QString &out) {
            static const QRegularExpression line(QStringLiteral("\ntrail mark: ([0-9]+:[0-9a-f]{64}) "));
            return line.match(out).captured(1);
        };
        TempArchive a;
        TempArchive rewritten;
        QString mark;
        {
            Connection c(a.path());
            int hour = 0;
            fillTrail(c, &hour);
            const Run check = admin({QStringLiteral("check"), a.path()});
            QCOMPARE(check.exitCode, 0);
            mark = markIn(check.out);
            QCOMPARE(mark, verifyHistoryChain(c).newest->text());
            QVERIFY(mark.startsWith(QStringLiteral("5:")));
            QCOMPARE(admin({QStringLiteral("check"), a.path(), QStringLiteral("--trail-mark"), mark}).exitCode, 0);
            // The same changes an hour later: every entry fits, none is the one noted.
            Connection r(rewritten.path());
            int later = 1;
            fillTrail(r, &later);
            // An entry after the mark is what a trail in use gets; the mark still fits.
            append(c, {QStringLiteral("甲"), QStringLiteral("pc-1")},
                   {ChangeKind::TypeAdded, {}, 0, QStringLiteral("外科"), std::nullopt, std::nullopt, {}});
        }
        const Run grown = admin({QStringLiteral("check"), a.path(), QStringLiteral("--trail-mark"), mark.toUpper()});
        QCOMPARE(grown.exitCode, 0);
        QVERIFY2(grown.out.contains(QStringLiteral("trail: 6 entries, hash chain whole\ntrail mark: 6:")), qPrintable(grown.out));

        const Run other = admin({QStringLiteral("check"), rewritten.path(), QStringLiteral("--trail-mark"), mark});
        QCOMPARE(other.exitCode, 1);
        QVERIFY2(other.out.contains(QStringLiteral("trail: 5 entries, hash chain BROKEN at entry 5: "
                                                   "第 5 条的校验值不是记下的值：到第 5 条为止的条目被改写过\n")),
                 qPrintable(other.out));
        QVERIFY(!other.out.contains(QStringLiteral("trail mark:")));

        // The newest entries up to the mark taken out: the chain alone still fits.
        a.exec(QStringLiteral("DELETE FROM History WHERE rowid >= 5"));
        QCOMPARE(admin({QStringLiteral("check"), a.path()}).exitCode, 0);
        const Run cut = admin({QStringLiteral("check"), a.path(), QStringLiteral("--trail-mark"), mark});
        QCOMPARE(cut.exitCode, 1);
        QVERIFY2(cut.out.contains(QStringLiteral("trail: 4 entries, hash chain BROKEN at entry 5: "
                                                 "记下的第 5 条不见了：第 5 条起的条目被删除过\n")),
                 qPrintable(cut.out));
        QVERIFY(cut.out.endsWith(QStringLiteral("result: FAULT (the trail has been tampered with from entry 5 on)\n")));

        // A mark that is none is refused before anything is read.
        for (const QString &bad : {QStringLiteral("5"), QStringLiteral("0:") + mark.mid(2), mark + QLatin1Char('0'),
                                   QStringLiteral("5:") + QString(64, QLatin1Char('g'))}) {
            const Run refused = admin({QStringLiteral("check"), a.path(), QStringLiteral("--trail-mark"), bad});
            QCOMPARE(refused.exitCode, 2);
            QVERIFY2(refused.err.contains(QStringLiteral("--trail-mark takes the mark a check printed")), qPrintable(bad));
        }
    }

    void anOldArchiveIsUpgradedOnceAndOnlyOnce()
    {
        std::unique_ptr<testing::TempServerDatabase> database;
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("old.dat"));
        if (testing::onServer()) {
            database = std::make_unique<testing::TempServerDatabase>();
            path = database->path();
        }
        makeOldArchive(path);
        QStringList columns;
        {
            Connection c(path);
            columns = oldColumns(c);
            // It opens and reads as before, with an empty trail and bin.
            QCOMPARE(schemaVersion(c), 1);
            QVERIFY(readHistory(c, {}).isEmpty());
            QCOMPARE(countHistory(c, {}), 0);
            QCOMPARE(countBin(c), 0);
            QVERIFY(verifyHistoryChain(c).whole);
            QCOMPARE(countTables(c).history, 0);
            // An upgrade rolled back leaves nothing of itself.
            {
                Transaction t(c);
                QVERIFY(upgradeSchema(c));
            }
            QCOMPARE(schemaVersion(c), 1);
            QVERIFY(!tableNames(c).contains(QStringLiteral("History"), Qt::CaseInsensitive));
        }
        QVERIFY(admin({QStringLiteral("check"), path}).out.contains(QStringLiteral("schema version: 1 (no trail")));
        const Run first = admin({QStringLiteral("upgrade"), path});
        QCOMPARE(first.exitCode, 0);
        QVERIFY2(first.out.startsWith(QStringLiteral("upgraded %1 from schema version 1 to 3: added the trail of changes, "
                                                     "the recycle bin, the archive's identity and the search index; the "
                                                     "recycle bin keeps every byte of the records it holds%2\n")
                                          .arg(path, testing::onServer() ? QStringLiteral("; the server numbers and chains "
                                                                                          "the trail's entries itself")
                                                                         : QString())),
                 qPrintable(first.out + first.err));
        QCOMPARE(first.out.contains(QStringLiteral("--print-grants")), testing::onServer());
        const Run second = admin({QStringLiteral("upgrade"), path});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.out, QStringLiteral("%1 is at schema version 3 already, its search index built; nothing changed\n").arg(path));
        // The usage says what the upgrade grants on a server, and what it leaves to the
        // grants printed again.
        QVERIFY(admin({QStringLiteral("--help")})
                    .out.contains(QStringLiteral(
                        "  casearchive-admin upgrade PATH [--rebuild-index]\n"
                        "      bring an archive made by an earlier version to the current one: adds the\n"
                        "      trail of changes, the recycle bin and the archive's identity, once, and\n"
                        "      builds the search index (showing how far it is); the four old tables stay\n"
                        "      as they are. The program adds the tables to a file itself, but only this\n"
                        "      command builds its index; a server's database is upgraded by its owner\n"
                        "      with this command, which gives the logins that may add records (the\n"
                        "      workstations') their rights on the new tables in the same step; the table\n"
                        "      of the photos' words comes with the grants printed again and run.\n"
                        "      --rebuild-index builds the index anew, for one that check found not to\n"
                        "      fit the records. Other workstations wait to save while the index is built\n")));
        Connection c(path);
        QCOMPARE(schemaVersion(c), 3);
        QCOMPARE(archiveIdentity(c).size(), 32);
        QCOMPARE(oldColumns(c), columns);
        append(c, {QStringLiteral("甲"), QStringLiteral("pc")}, {ChangeKind::TypeAdded, {}, 0, QStringLiteral("内科"), {}, {}, {}});
        QCOMPARE(countHistory(c, {}), 1);
    }

    void theFirstChangeUpgradesAFileButNotAServer()
    {
        std::unique_ptr<testing::TempServerDatabase> database;
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("old.dat"));
        if (testing::onServer()) {
            database = std::make_unique<testing::TempServerDatabase>();
            path = database->path();
        }
        makeOldArchive(path);
        Connection c(path);
        const Actor actor{QStringLiteral("甲"), QStringLiteral("pc")};
        auto addType = [&](const QString &name) {
            Transaction t(c);
            insertType(c, name);
            appendHistory(c, actor, {ChangeKind::TypeAdded, {}, 0, name, {}, {}, {}});
            t.commit();
        };
        if (testing::onServer()) {
            try {
                addType(QStringLiteral("内科"));
                QFAIL("a workstation upgraded the server's database");
            } catch (const StoreError &e) {
                QCOMPARE(e.description(), upgradeNeededMessage());
                QVERIFY(e.description().contains(QStringLiteral("casearchive-admin upgrade")));
            }
            QCOMPARE(readTypes(c), QStringList());
            QCOMPARE(schemaVersion(c), 1);
            return;
        }
        addType(QStringLiteral("内科"));
        QCOMPARE(schemaVersion(c), 3);
        addType(QStringLiteral("外科"));
        QCOMPARE(readTypes(c), (QStringList{QStringLiteral("内科"), QStringLiteral("外科")}));
        QCOMPARE(countHistory(c, {}), 2);
        Transaction t(c);
        QVERIFY(!upgradeSchema(c));
    }

    void copiesAndRestoresCarryTheTrailAndSaySo()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {},
                    {QStringLiteral("/p/a.jpg")});
        QVector<StoredRow> trail;
        {
            Connection c(a.path());
            int hour = 0;
            fillTrail(c, &hour);
            Transaction t(c);
            QVERIFY(moveRecordToBin(c, {QStringLiteral("甲"), QStringLiteral("pc")}, readRecord(c, QStringLiteral("240101080000"))[0].rowId));
            t.commit();
            StoredRows rows(c, ArchiveTable::History);
            StoredRow r;
            while (rows.next(r))
                trail << r;
        }
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("copy.dat"));
        const Run copied = admin({QStringLiteral("copy"), a.path(), copy});
        QCOMPARE(copied.exitCode, 0);
        QVERIFY2(copied.out.contains(QStringLiteral("with the trail's 6 entries and the recycle bin's 1 records; "
                                                    "the copy's trail records the copy\n")),
                 qPrintable(copied.out + copied.err));
        auto checkTrail = [&](const QString &path, ChangeKind last, const QString &subject) {
            Connection c(path);
            StoredRows rows(c, ArchiveTable::History);
            StoredRow r;
            for (const StoredRow &original : std::as_const(trail)) {
                QVERIFY(rows.next(r));
                QCOMPARE(r, original);
            }
            QCOMPARE(countBin(c), 1);
            const ChainReport chain = verifyHistoryChain(c);
            QVERIFY2(chain.whole, qPrintable(chain.problem));
            const HistoryEntry entry = readHistory(c, {}).value(0);
            QCOMPARE(entry.change.kind, last);
            QCOMPARE(entry.operatorName, QStringLiteral("casearchive-admin"));
            QVERIFY(entry.workstation.contains(QLatin1Char('@')));
            QCOMPARE(entry.change.subject, subject);
        };
        checkTrail(copy, ChangeKind::ArchiveCopied, a.path());
        {
            // The original is only read.
            Connection c(a.path());
            QCOMPARE(countHistory(c, {}), 6);
        }

        BackupOptions o;
        o.archivePath = a.path();
        o.targetFolder = dir.path();
        o.includeFiles = false;
        const BackupResult backup = backupArchive(o);
        QVERIFY2(backup.outcome == BackupResult::Verified, qPrintable(backup.error));
        QCOMPARE(backup.counts.history, 6);
        QCOMPARE(backup.counts.bin, 1);
        std::unique_ptr<testing::TempServerDatabase> database;
        QString target = dir.filePath(QStringLiteral("restored/file.dat"));
        if (testing::onServer()) {
            database = std::make_unique<testing::TempServerDatabase>();
            target = database->path();
        }
        const Run restored = admin({QStringLiteral("restore"), backup.folder, target});
        QVERIFY2(restored.exitCode == 0, qPrintable(restored.out + restored.err));
        checkTrail(target, ChangeKind::ArchiveRestored, backup.folder);
    }

    void theOperatorCommandWritesTheTrailWithoutThePassword()
    {
        TempArchive a;
        setHistoryClockForTests([] { return kStart; });
        QCOMPARE(access::setOperatorAccount(a.path(), QStringLiteral("救援"), QStringLiteral("secret-1"),
                                            QStringLiteral("可以修改")),
                 access::AccountChange::Added);
        QCOMPARE(access::setOperatorAccount(a.path(), QStringLiteral("救援"), QStringLiteral("secret-2"),
                                            access::kRecoveryLevel, {QStringLiteral("某人"), QStringLiteral("pc-9")}),
                 access::AccountChange::Reset);
        Connection c(a.path());
        const QVector<HistoryEntry> h = readHistory(c, {});
        QCOMPARE(h.size(), 2);
        QCOMPARE(h[1].change.kind, ChangeKind::OperatorAdded);
        QCOMPARE(h[1].change.subject, QStringLiteral("救援"));
        QCOMPARE(h[1].change.detail, QStringLiteral("权限：可以修改"));
        QCOMPARE(h[1].operatorName, QStringLiteral("casearchive-admin"));
        QCOMPARE(h[1].when, kStart);
        QCOMPARE(h[0].change.kind, ChangeKind::PasswordReset);
        QCOMPARE(h[0].operatorName, QStringLiteral("某人"));
        QCOMPARE(h[0].change.detail, QStringLiteral("权限：超级权限"));
        const QString stored = readOperatorsNamed(c, QStringLiteral("救援")).value(0).password;
        QVERIFY(!stored.isEmpty());
        QCOMPARE(a.count(QStringLiteral("History"), QStringLiteral("detail LIKE ? OR subject LIKE ? OR detail LIKE ?"),
                         {QStringLiteral("%secret%"), QStringLiteral("%secret%"), QStringLiteral("%") + stored.left(20) + QStringLiteral("%")}),
                 0);
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
