// The browser's tree load: the engine's own read against Qt's, the node of records whose
// type is not listed, what a long load shows, and the kept server connection between clicks.
#include "TestSupport.h"

#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/ReloadFeedback.h"
#include "records/frmManager.h"
#include "records/frmModifyForm.h"
#include "store/Database.h"
#include "store/TreeRows.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QTimer>
#include <QHeaderView>
#include <QTreeView>
#include <QUrlQuery>
#include <memory>
#include <vector>
#include <unistd.h>

using Read = ArchiveTreeModel::Read;
using store::SearchFilter;

namespace {

// The whole tree as text: every type (with a star for the node of unlisted types) and
// under it every record's name, number, row and key.
QStringList dump(const ArchiveTreeModel &m)
{
    QStringList out{m.searchNote()};
    for (int t = 0; t < m.typeCount(); ++t) {
        const QModelIndex type = m.typeIndex(t);
        out << QStringLiteral("[%1]%2").arg(m.text(type), m.isUnlisted(type) ? QStringLiteral("*") : QString());
        for (int r = 0; r < m.rowCount(type); ++r) {
            const QModelIndex rec = m.index(r, 0, type);
            out << m.text(rec) + QLatin1Char('|') + m.number(rec) + QLatin1Char('|') + QString::number(m.rowId(rec))
                    + QLatin1Char('|') + rec.data(ArchiveTreeModel::KeyRole).toString();
        }
    }
    return out;
}

// The tree by the engine's read, after checking that Qt's read builds the very same.
QStringList bothReads(const QString &path, const SearchFilter &filter)
{
    ArchiveTreeModel fast;
    ArchiveTreeModel plain;
    store::Connection c(path);
    fast.load(c, filter, Read::Engine);
    plain.load(c, filter, Read::Qt);
    const QStringList tree = dump(fast);
    if (tree != dump(plain)) {
        qWarning() << "engine:" << tree;
        qWarning() << "Qt:    " << dump(plain);
        return {QStringLiteral("the two reads differ")};
    }
    return tree;
}

SearchFilter search(const QString &text, bool name, bool path, bool description, bool type)
{
    return {text, name, path, description, type};
}

// The data folder of the throwaway test server and who runs it (the address names the
// socket folder the server was started with, the data beside it).
QString serverFolder()
{
    const QString address = qEnvironmentVariable("CASEARCHIVE_TEST_SERVER");
    return QUrlQuery(QUrl(address).query()).queryItemValue(QStringLiteral("host"));
}

// pg_ctl on the test server; restart starts it with the options it was started with.
bool pgCtl(const QString &command)
{
    const QString data = serverFolder() + QStringLiteral("/data");
    const QStringList found = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (found.isEmpty() || !QFileInfo(data).isDir())
        return false;
    const QString pgctl = QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(found.last());
    QStringList args{pgctl, QStringLiteral("-D"), data, QStringLiteral("-l"), serverFolder() + QStringLiteral("/server.log"),
                     QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("-s"), command};
    QString program = args.takeFirst();
    const QString owner = QFileInfo(data).owner();
    if (getuid() == 0 && owner != QLatin1String("root")) {
        args = QStringList{QStringLiteral("-u"), owner, QStringLiteral("--"), program} + args;
        program = QStringLiteral("runuser");
    }
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestReload : public QObject {
    Q_OBJECT

    QStringList m_hints;

    std::unique_ptr<frmManager> open(const testing::TempArchive &archive)
    {
        return testing::openBrowser(archive, QSize(1000, 600));
    }

    void click(frmManager *w, const QModelIndex &node) { testing::clickNode(w, node); }

    static void addRecords(testing::TempArchive &a, const QString &type, int n)
    {
        using namespace store;
        Connection c(a.path());
        Transaction t(c);
        QVector<TableRow> batch;
        for (int i = 1; i <= n; ++i) {
            batch.push_back({i, {type, QString::number(240000000000LL + i), QStringLiteral("病案%1").arg(i), QString(),
                                 QString()}});
            if (batch.size() == 500 || i == n) {
                insertTableRows(c, ArchiveTable::Detail, batch);
                batch.clear();
            }
        }
        continueRowIdentities(c);
        t.commit();
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        app::setEndProgramHook([] {});
        m_hints.clear();
        app::setHintTarget([this](const QString &t) { m_hints << t; });
    }

    void cleanup()
    {
        app::setHintTarget({});
        app::setEndProgramHook({});
        app::SearchFilter.clear();
        frmManager::reloadClock = [] {
            static QElapsedTimer clock;
            if (!clock.isValid())
                clock.start();
            return clock.elapsed();
        };
    }

    // ------------------------------------------------------------ the two reads agree

    void engineReadBuildsTheSameTreeAsQtsRead()
    {
        testing::TempArchive a;
        for (const char *t : {"Ward", "外科", "WARD", "内科"})
            a.addType(QString::fromUtf8(t));
        a.addRecord(QStringLiteral("ward"), QStringLiteral("240101080000"), QStringLiteral("甲"), QStringLiteral("/a/甲.doc"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, QStringLiteral("同号"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QString());
        a.addRecord(QStringLiteral("外科"), QString(), QStringLiteral("空号"));
        a.addRecord(QStringLiteral("不存在"), QStringLiteral("240101080002"), QStringLiteral("孤儿 100%_\\"));
        a.addRecord(QStringLiteral("内科 "), QStringLiteral("A-17"), QStringLiteral("带空格的类型"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("012345678901234567890"), QStringLiteral("长号"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("00000000000000007"), QStringLiteral("😀"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '9', '无类型')"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES ('内科', NULL, NULL)"));

        const QStringList whole = bothReads(a.path(), {});
        // Not merely equal: the tree the browser has always shown, and the unlisted last.
        const QStringList expected{
            QString(),
            QStringLiteral("[内科]"),
            QStringLiteral("甲|240101080000|2|240101080000#"),
            QStringLiteral("长号|012345678901234567890|7|012345678901234567890#"),
            QStringLiteral("😀|00000000000000007|8|00000000000000007#"),
            QStringLiteral("||10|#"),
            QStringLiteral("[外科]"),
            QStringLiteral("|240101080001|3|240101080001#"),
            QStringLiteral("空号||4|#"),
            QStringLiteral("[Ward]"),
            QStringLiteral("甲|240101080000|1|240101080000#"),
            QStringLiteral("[WARD]"),
            QStringLiteral("甲|240101080000|1|240101080000#"),
            QStringLiteral("[（未登记类型）]*"),
            QStringLiteral("孤儿 100%_\\|240101080002|5|240101080002#"),
            QStringLiteral("带空格的类型|A-17|6|A-17#"),
            QStringLiteral("无类型|9|9|9#"),
        };
        QCOMPARE(whole, expected);

        QCOMPARE(bothReads(a.path(), search(QStringLiteral("甲"), true, false, false, false)),
                 (QStringList{QStringLiteral("查询：甲，找到 3 条"), QStringLiteral("[内科]"),
                              QStringLiteral("甲|240101080000|2|240101080000#"), QStringLiteral("[外科]"),
                              QStringLiteral("[Ward]"), QStringLiteral("甲|240101080000|1|240101080000#"),
                              QStringLiteral("[WARD]"), QStringLiteral("甲|240101080000|1|240101080000#")}));
        // The search's wildcards and escapes, on the type too; the unlisted node only with a find.
        QCOMPARE(bothReads(a.path(), search(QStringLiteral("100%_"), true, false, false, false)).mid(5),
                 (QStringList{QStringLiteral("[（未登记类型）]*"),
                              QStringLiteral("孤儿 100%_\\|240101080002|5|240101080002#")}));
        QCOMPARE(bothReads(a.path(), search(QStringLiteral("WAR?"), false, false, false, true)).size(), 7);
        QCOMPARE(bothReads(a.path(), search(QStringLiteral("同号"), true, true, true, true)).mid(0, 3),
                 (QStringList{QStringLiteral("查询：同号，找到 1 条"), QStringLiteral("[内科]"),
                              QStringLiteral("甲|240101080000|2|240101080000#")}));
        QCOMPARE(bothReads(a.path(), search(QStringLiteral("*"), true, true, true, true)).size(), whole.size());
    }

    void valuesThatAreNotPlainTextAreShownAsQtShowsThem()
    {
        if (testing::onServer())
            QSKIP("the server keeps its text valid UTF-8 and its columns typed");
        // An earlier archive's table without declared types keeps numbers, blobs and bytes
        // that are not UTF-8 as they were written.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.dat"));
        {
            store::Connection c = store::Connection::createNew(path);
            c.run(QStringLiteral("CREATE TABLE Catalog (Name)"));
            c.run(QStringLiteral("CREATE TABLE Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\")"));
            c.run(QStringLiteral("CREATE TABLE photo (\"病案号\", \"照片\")"));
            c.run(QStringLiteral("INSERT INTO Catalog VALUES ('外科'), (CAST(X'E5A4' AS TEXT)), (12)"));
            const char *rows[] = {
                "'外科', 240101080000, 1.5",                          // numbers of both kinds
                "'外科', X'3234', X'E794B2'",                          // blobs
                "CAST(X'E5A4' AS TEXT), CAST(X'3180' AS TEXT), CAST(X'E5A4' AS TEXT)", // cut short
                "12, '1', CAST(X'C0AF41' AS TEXT)",                    // overlong
                "'外科', '2', CAST(X'EDA080' AS TEXT)",                // a surrogate's bytes
                "'外科', '3', CAST(X'EFBFBF41EFBFBE' AS TEXT)",        // U+FFFF, U+FFFE
                "'外科', '4', CAST(X'F8888080804180' AS TEXT)",        // five bytes, a lone follower
                "'外科', '5', CAST(X'F4908080' AS TEXT)",              // past U+10FFFF
                "'外科', '6', CAST(X'EFBBBF41F09F9880' AS TEXT)",      // valid: BOM, emoji
                "'外科', CAST(X'3700' AS TEXT), CAST(X'410042' AS TEXT)", // an inner NUL
            };
            for (const char *r : rows)
                c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (%1)").arg(QString::fromUtf8(r)));
        }
        const QStringList tree = bothReads(path, {});
        QCOMPARE(tree.size(), 14);
        // Repaired as SQLite repairs them for Qt's driver; the last type is the cut-short name.
        QCOMPARE(tree.mid(0, 4), (QStringList{QString(), QStringLiteral("[12]"), QStringLiteral("\uFFFDA|1|4|1#"),
                                              QStringLiteral("[外科]")}));
        QVERIFY(tree.contains(QStringLiteral("\uFFFD|2|5|2#")));
        QVERIFY(tree.contains(QStringLiteral("\uFFFDA\uFFFD|3|6|3#")));
        QVERIFY(tree.contains(QStringLiteral("1.5|240101080000|1|240101080000#")));
        QVERIFY(tree.contains(QStringLiteral("甲|24|2|24#")));
        QVERIFY(tree.contains(QStringLiteral("\uFEFFA😀|6|9|6#")));
        QVERIFY(tree.contains(QString(QStringLiteral("A")) + QChar(0) + QStringLiteral("B|7") + QChar(0) + QStringLiteral("|10|7")
                              + QChar(0) + QStringLiteral("#")));
        QCOMPARE(bothReads(path, search(QStringLiteral("A"), true, false, false, false)).first(),
                 QStringLiteral("查询：A，找到 5 条"));
    }

    void strictUtf8IsWhatEveryDecoderReadsAlike_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("strict");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("ascii and nul") << QByteArray("a\0b", 3) << true;
        QTest::newRow("chinese") << QByteArray("病案") << true;
        QTest::newRow("last of two bytes") << QByteArray("\xdf\xbf") << true;
        QTest::newRow("overlong two") << QByteArray("\xc1\xbf") << false;
        QTest::newRow("first of three") << QByteArray("\xe0\xa0\x80") << true;
        QTest::newRow("overlong three") << QByteArray("\xe0\x9f\xbf") << false;
        QTest::newRow("before surrogates") << QByteArray("\xed\x9f\xbf") << true;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("last surrogate") << QByteArray("\xed\xbf\xbf") << false;
        QTest::newRow("after surrogates") << QByteArray("\xee\x80\x80") << true;
        QTest::newRow("U+FFFD") << QByteArray("\xef\xbf\xbd") << true;
        QTest::newRow("U+FFFE") << QByteArray("\xef\xbf\xbe") << false;
        QTest::newRow("first of four") << QByteArray("\xf0\x90\x80\x80") << true;
        QTest::newRow("overlong four") << QByteArray("\xf0\x8f\xbf\xbf") << false;
        QTest::newRow("U+10FFFF") << QByteArray("\xf4\x8f\xbf\xbf") << true;
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("cut at the end") << QByteArray("a\xe7\x97") << false;
        QTest::newRow("follower alone") << QByteArray("\x80") << false;
        QTest::newRow("lead then ascii") << QByteArray("\xe7\x41\x41") << false;
        QTest::newRow("two cut at the end") << QByteArray("ab\xc3") << false;
        QTest::newRow("two then ascii") << QByteArray("\xc3\x41") << false;
        QTest::newRow("four cut at the end") << QByteArray("\xf0\x90\x80") << false;
        QTest::newRow("four with ascii last") << QByteArray("\xf0\x90\x80\x41") << false;
        QTest::newRow("lead past four") << QByteArray("\xf5\x80\x80\x80") << false;
        QTest::newRow("mixed widths") << QByteArray("a\xc3\xa9\xe7\x97\x85\xf0\x9f\x98\x80z") << true;
    }

    void strictUtf8IsWhatEveryDecoderReadsAlike()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, strict);
        QCOMPARE(store::TreeRows::strictUtf8(bytes), strict);
        if (!strict)
            return;
        // Accepted is not enough: the characters are those every decoder reads.
        std::vector<char16_t> room(size_t(bytes.size()) + 1);
        const char16_t *end = store::TreeRows::decodeStrict(bytes, room.data());
        QVERIFY(end);
        QCOMPARE(QString(reinterpret_cast<const QChar *>(room.data()), end - room.data()), QString::fromUtf8(bytes));
    }

    // ------------------------------------------------------------ records of unlisted types

    void recordsOfUnlistedTypesAreShownAndCanBeWorkedOn()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("旧类型"), QStringLiteral("090101080000"), QStringLiteral("旧病案"),
                    QStringLiteral("/旧/文件.doc"), QStringLiteral("早期的说明"), {QStringLiteral("/旧/照片.jpg")});
        auto w = open(a);
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(testing::childTexts(m, m->rootIndex()), (QStringList{QStringLiteral("内科"), QStringLiteral("（未登记类型）")}));
        const QModelIndex unlisted = m->typeIndex(1);
        QVERIFY(w->treeView()->isExpanded(unlisted));
        QVERIFY(unlisted.data(Qt::ToolTipRole).toString().contains(QStringLiteral("类型不在病案类型列表中")));

        // The node is no type to add a record under.
        click(w.get(), unlisted);
        QCOMPARE(w->recordCaption(), QStringLiteral("（未登记类型）"));
        QVERIFY(!testing::child<QAction>(w.get(), "MnuAddFile")->isEnabled());
        click(w.get(), m->typeIndex(0));
        QVERIFY(testing::child<QAction>(w.get(), "MnuAddFile")->isEnabled());

        // Its record is shown whole and offered for modification and deletion.
        click(w.get(), m->index(0, 0, unlisted));
        QCOMPARE(w->recordNumber(), QStringLiteral("090101080000"));
        QCOMPARE(w->fieldText(0), QStringLiteral("旧类型"));
        QCOMPARE(w->fieldText(2), QStringLiteral("早期的说明"));
        QCOMPARE(w->photoList()->count(), 1);
        QVERIFY(testing::child<QAction>(w.get(), "MnuModifyFile")->isEnabled());
        QVERIFY(testing::child<QAction>(w.get(), "MnuDeleteFile")->isEnabled());
        QString typeOffered;
        QString numberOffered;
        platform.onModal = [&](QDialog &d) {
            auto *form = qobject_cast<frmModifyForm *>(&d);
            if (form) {
                numberOffered = form->recordNumber();
                typeOffered = testing::child<QComboBox>(form, "Combo1")->currentText();
            }
            return 0;
        };
        testing::child<QAction>(w.get(), "MnuModifyFile")->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmModifyForm")});
        QCOMPARE(numberOffered, QStringLiteral("090101080000"));
        QCOMPARE(typeOffered, QStringLiteral("旧类型"));

        // A search finds it there too.
        app::SearchFilter = search(QStringLiteral("旧"), true, false, false, false);
        w->cmdLoad_Click();
        QCOMPARE(testing::childTexts(m, m->rootIndex()), (QStringList{QStringLiteral("内科"), QStringLiteral("（未登记类型）")}));
        QCOMPARE(testing::childTexts(m, m->typeIndex(1)), QStringList{QStringLiteral("旧病案")});
        app::SearchFilter.clear();
        w->cmdLoad_Click();

        platform.answer(platform::Answer::Yes);
        click(w.get(), m->index(0, 0, m->typeIndex(1)));
        testing::child<QAction>(w.get(), "MnuDeleteFile")->trigger();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("真的要删除病案［旧病案］吗？     \r\n [是/否]？     "));
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        // Without such records the node is gone.
        QCOMPARE(testing::childTexts(m, m->rootIndex()), QStringList{QStringLiteral("内科")});
    }

    // ------------------------------------------------------------ a long load

    void theColumnFitsTheWidestLineWhereverItIs()
    {
        // The widest line far down a long type, then among records of no listed type, then
        // a type's name: each time the column is exactly as wide as the widest line.
        const QString longName = QStringLiteral("很长的名字").repeated(8);
        const struct {
            const char *where;
            QString type;
            QString name;
        } cases[] = {
            {"deep in a type", QStringLiteral("内科"), longName},
            {"no listed type", QStringLiteral("已撤销的类型"), longName + QStringLiteral("再长一点")},
            {"wide letters", QStringLiteral("内科"), QStringLiteral("W").repeated(70)},
            {"a type's name", QStringLiteral("内科"), QStringLiteral("短")},
        };
        for (const auto &c : cases) {
            testing::TempArchive a;
            a.addType(QStringLiteral("内科"));
            a.addType(QStringLiteral("外科"));
            if (QLatin1String(c.where) == QLatin1String("a type's name"))
                a.addType(QStringLiteral("类型").repeated(30));
            addRecords(a, QStringLiteral("内科"), 1500);
            a.addRecord(QStringLiteral("外科"), QStringLiteral("250101080000"), QStringLiteral("iiiiiiiiiiiiiiiiiiii"));
            a.addRecord(c.type, QStringLiteral("250101080001"), c.name);
            auto w = open(a);
            QTreeView *tree = w->treeView();
            ArchiveTreeModel *m = w->treeModel();
            int widest = 0;
            const auto measure = [&](const QModelIndex &node, int level) {
                widest = qMax(widest, tree->sizeHintForIndex(node).width() + (level + 1) * tree->indentation());
            };
            measure(m->rootIndex(), 0);
            for (int t = 0; t < m->typeCount(); ++t) {
                measure(m->typeIndex(t), 1);
                for (int r = 0; r < m->rowCount(m->typeIndex(t)); ++r)
                    measure(m->recordIndex(t, r), 2);
            }
            QVERIFY2(tree->header()->sectionSize(0) == widest,
                     qPrintable(QStringLiteral("%1: %2 for %3").arg(QLatin1String(c.where)).arg(tree->header()->sectionSize(0)).arg(widest)));
        }
    }

    void busyPointerAfterAQuarterSecondProgressAfterTwo()
    {
        qint64 now = 1000;
        {
            ReloadFeedback feedback([&now] { return now; });
            now = 1250;
            feedback(4096);
            QVERIFY(!feedback.busy());
            QVERIFY(!QApplication::overrideCursor());
            now = 1251;
            feedback(8192);
            QVERIFY(feedback.busy());
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            now = 3000;
            feedback(12288);
            QVERIFY(m_hints.isEmpty());
            now = 3001;
            feedback(16384);
            feedback(0); // the engine still looking for rows
            QCOMPARE(m_hints, (QStringList{QStringLiteral("正在读取病案库，已读取 16384 条病案……"),
                                           QStringLiteral("正在读取病案库……")}));
            feedback.finished(20000);
            QCOMPARE(m_hints.last(), QStringLiteral("病案库读取完毕，共 20000 条病案"));
        }
        QVERIFY(!QApplication::overrideCursor());
        {
            // A load that ends before the bounds shows nothing at all.
            ReloadFeedback feedback([&now] { return now; });
            feedback(4096);
            feedback.finished(5);
            QVERIFY(!feedback.busy());
        }
        QCOMPARE(m_hints.size(), 3);
    }

    void aLongReloadKeepsTheWindowAliveAndTellsTheOperator()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        addRecords(a, QStringLiteral("内科"), 3 * int(store::TreeRows::kCheckpointRows) + 10);
        auto w = open(a);
        ArchiveTreeModel *m = w->treeModel();
        QVERIFY(m_hints.isEmpty()); // the real clock: a quick load says nothing
        QCOMPARE(m->recordCount(), 3 * int(store::TreeRows::kCheckpointRows) + 10);

        // Every look at the clock a second later.
        qint64 now = 0;
        frmManager::reloadClock = [&now] { return now += 1000; };
        bool busyWhenTold = false;
        app::setHintTarget([&](const QString &t) {
            m_hints << t;
            busyWhenTold = busyWhenTold
                || (QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        });
        // Events are served during the load: a timer due now fires before the tree is there.
        int typesWhenTimerFired = -1;
        QTimer::singleShot(0, w.get(), [&] { typesWhenTimerFired = m->typeCount(); });
        w->cmdLoad_Click();
        QCOMPARE(typesWhenTimerFired, 0);
        QVERIFY(busyWhenTold);
        QVERIFY(m_hints.size() >= 2);
        QVERIFY2(m_hints.first().startsWith(QStringLiteral("正在读取病案库")), qPrintable(m_hints.first()));
        QCOMPARE(m_hints.last(), QStringLiteral("病案库读取完毕，共 12298 条病案"));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(m->recordCount(), 12298);
        QVERIFY(platform.boxes.isEmpty());
    }

    // ------------------------------------------------------------ the kept server connection

    void theKeptConnectionOutlivesAServerRestartBetweenTwoClicks()
    {
        if (!testing::onServer())
            QSKIP("the file is opened for every operation");
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, QStringLiteral("一"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"), {}, QStringLiteral("二"));
        auto w = open(a);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = m->typeIndex(0);
        click(w.get(), m->index(0, 0, type));
        const int opened = store::serverConnectionsOpened();
        click(w.get(), m->index(1, 0, type));
        QCOMPARE(w->fieldText(2), QStringLiteral("二"));
        QCOMPARE(store::serverConnectionsOpened(), opened); // no connection per click

        QVERIFY(pgCtl(QStringLiteral("restart")));
        click(w.get(), m->index(0, 0, type));
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(w->fieldText(2), QStringLiteral("一"));
        QCOMPARE(store::serverConnectionsOpened(), opened + 1);

        // A server that stays down is told as a connection that cannot be made.
        QVERIFY(pgCtl(QStringLiteral("stop")));
        platform.answer(platform::Answer::Ok);
        QString expected;
        try {
            store::Connection c(a.path());
        } catch (const store::StoreError &e) {
            expected = e.description();
        }
        click(w.get(), m->index(1, 0, type));
        const bool restarted = pgCtl(QStringLiteral("restart"));
        QVERIFY(expected.startsWith(QStringLiteral("无法连接病案数据库服务器")));
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, expected);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QVERIFY(restarted);
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(w->fieldText(2), QStringLiteral("一"));
        QCOMPARE(platform.boxes.size(), 1);
    }
};

QTEST_MAIN(TestReload)
#include "tst_reload.moc"
