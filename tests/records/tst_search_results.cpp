// What a search finds: the boxes and their combinations, blanks, wildcards, letter case, a
// search that matches nothing; and the tree a search loads from archives other tools made.
#include "SearchFixture.h"

#include "store/Database.h"
#include "store/Statements.h"
#include "store/TrailStatements.h"

using testing::childTexts;
using testing::typeNode;

class TestSearchResults : public testing::SearchFixture {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ what a search finds

    void combinationsOfBoxes()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲 肝炎"),
                    QStringLiteral("/病案/甲.doc"), QStringLiteral("普通描述"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"),
                    QStringLiteral("/病案/肝炎/乙.doc"), QStringLiteral("普通描述"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("丙"),
                    QStringLiteral("/病案/丙.doc"), QStringLiteral("术后肝炎复发"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080003"), QStringLiteral("丁"),
                    QStringLiteral("/病案/丁.doc"), QStringLiteral("无"));
        const QString hepatitis = QStringLiteral("肝炎");

        QCOMPARE(found(a, hepatitis, {1}), QStringList{QStringLiteral("内科/甲 肝炎")});
        QCOMPARE(found(a, hepatitis, {2}), QStringList{QStringLiteral("内科/乙")});
        QCOMPARE(found(a, hepatitis, {3}), QStringList{QStringLiteral("外科/丙")});
        // A text only in the second chosen column is found.
        QCOMPARE(found(a, hepatitis, {1, 3}), (QStringList{QStringLiteral("内科/甲 肝炎"), QStringLiteral("外科/丙")}));
        QCOMPARE(found(a, hepatitis, {2, 3}), (QStringList{QStringLiteral("内科/乙"), QStringLiteral("外科/丙")}));
        QCOMPARE(found(a, hepatitis, {1, 2, 3, 4}),
                 (QStringList{QStringLiteral("内科/甲 肝炎"), QStringLiteral("内科/乙"), QStringLiteral("外科/丙")}));
        QCOMPARE(app::SearchFilter, (store::SearchFilter{hepatitis, true, true, true, true}));
        // Every type node stays, with or without records.
        auto w = openBrowser(a);
        QCOMPARE(typeTexts(w->treeModel()), (QStringList{QStringLiteral("内科"), QStringLiteral("外科")}));
    }

    void onlyTheTypeTicked()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("神经外科"));
        a.addType(QStringLiteral("外科"));
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("神经外科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("丙"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080003"), QStringLiteral("外科会诊"));
        auto w = openBrowser(a);
        auto d = openSearch();
        search(d.get(), QStringLiteral("外科"), {4});
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(typeTexts(m), (QStringList{QStringLiteral("内科"), QStringLiteral("神经外科"), QStringLiteral("外科")}));
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("神经外科"))), QStringList{QStringLiteral("甲")});
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("外科"))), (QStringList{QStringLiteral("乙"), QStringLiteral("丙")}));
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 0);
    }

    void blanksAroundAreTrimmedInnerBlanksSearched()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("张三 肝炎"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("张三肝炎"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080002"), QStringLiteral("李四 肺炎 "));
        QCOMPARE(found(a, QStringLiteral("  三 肝  "), {1}), QStringList{QStringLiteral("内科/张三 肝炎")});
        QCOMPARE(app::SearchFilter.text, QStringLiteral("三 肝"));
        // Blanks around the text are not looked for: " 炎 " finds every 炎, with or
        // without blanks beside it.
        QCOMPARE(found(a, QStringLiteral(" 炎 "), {1}).size(), 3);
    }

    void wildcardsAndLiteralCharacters()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        const char *names[] = {"file_a", "fileXa", "fileXYa", "O'Brien", "100% ok", "1000 ok", "C:\\data\\x",
                               "C:/data/x", "a_b", "axb"};
        int n = 0;
        for (const char *name : names)
            a.addRecord(QStringLiteral("内科"), QStringLiteral("2401010800%1").arg(n++, 2, 10, QLatin1Char('0')),
                        QString::fromUtf8(name));
        auto names_ = [](std::initializer_list<const char *> l) {
            QStringList r;
            for (const char *s : l)
                r << QStringLiteral("内科/") + QString::fromUtf8(s);
            return r;
        };
        QCOMPARE(found(a, QStringLiteral("file?a"), {1}), names_({"file_a", "fileXa"}));
        QCOMPARE(found(a, QStringLiteral("file*a"), {1}), names_({"file_a", "fileXa", "fileXYa"}));
        QCOMPARE(found(a, QStringLiteral("'Bri"), {1}), names_({"O'Brien"}));
        QCOMPARE(found(a, QStringLiteral("0%"), {1}), names_({"100% ok"}));
        QCOMPARE(found(a, QStringLiteral("a_b"), {1}), names_({"a_b"}));
        QCOMPARE(found(a, QStringLiteral("\\data\\"), {1}), names_({"C:\\data\\x"}));
        QCOMPARE(found(a, QStringLiteral("O'"), {1, 2, 3, 4}), names_({"O'Brien"}));
    }

    void letterCaseIgnored()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("Eye"));
        a.addRecord(QStringLiteral("Eye"), QStringLiteral("240101080000"), QStringLiteral("Cataract left"),
                    QStringLiteral("/Scans/LEFT.JPG"), QStringLiteral("Follow-Up"));
        a.addRecord(QStringLiteral("Eye"), QStringLiteral("240101080001"), QStringLiteral("other"));
        QCOMPARE(found(a, QStringLiteral("CATARACT"), {1}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("left.jpg"), {2}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("follow-up"), {3}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("eYE"), {4}).size(), 2);
    }

    void searchMatchingNothingKeepsEveryType()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        for (const char *t : {"外科", "儿科", "内科"})
            a.addType(QString::fromUtf8(t));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"));
        a.addRecord(QStringLiteral("儿科"), QStringLiteral("240101080001"), QStringLiteral("李四"));
        auto w = openBrowser(a);
        auto d = openSearch();
        search(d.get(), QStringLiteral("没有这样的病案"), {1, 2, 3, 4});
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(typeTexts(m), (QStringList{QStringLiteral("儿科"), QStringLiteral("内科"), QStringLiteral("外科")}));
        for (int i = 0; i < m->typeCount(); ++i)
            QCOMPARE(m->rowCount(m->typeIndex(i)), 0);
        QCOMPARE(m->searchNote(), QStringLiteral("查询：没有这样的病案，找到 0 条"));
        QVERIFY(platform.boxes.isEmpty());
    }

    void aSearchWithoutItsIndexFindsAllAndSaysWhy()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("阑尾炎"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("骨折"), QString(),
                    QStringLiteral("术后阑尾"));
        a.exec(testing::onServer() ? QStringLiteral("DROP INDEX idx_detail_pairs") : QStringLiteral("DROP TABLE search_words"));
        const QStringList both{QStringLiteral("内科/阑尾炎"), QStringLiteral("内科/骨折")};
        QCOMPARE(found(a, QStringLiteral("阑尾"), {1, 2, 3, 4}), both);
        QCOMPARE(m_states.last(), QStringLiteral("查询：阑尾，找到 2 条（搜索索引缺失或已损坏，已逐条查找；"
                                                 "请系统管理员运行 casearchive-admin upgrade --rebuild-index 重建索引）"));
        // One character is read through as always: nothing to say about the index.
        QCOMPARE(found(a, QStringLiteral("尾"), {1, 3}), both);
        QCOMPARE(m_states.last(), QStringLiteral("查询：尾，找到 2 条"));
        // An archive of the version before, not upgraded yet.
        if (testing::onServer()) {
            a.exec(QStringLiteral("UPDATE ArchiveVersion SET version = 2"));
            store::Connection c(a.path());
            store::forgetSchemaVersion(c);
        } else {
            a.exec(QStringLiteral("UPDATE search_index_state SET built = 0"));
        }
        QCOMPARE(found(a, QStringLiteral("阑尾"), {1, 2, 3, 4}), both);
        QCOMPARE(m_states.last(), QStringLiteral("查询：阑尾，找到 2 条（搜索索引尚未建立，已逐条查找；"
                                                 "请系统管理员运行 casearchive-admin upgrade 建立索引）"));
    }

    // ------------------------------------------------------------ the tree load

    void treeLoadOfAnArchiveMadeWithoutCollation()
    {
        // Another tool makes the tables without any collation and without indexes; the
        // type names still match ignoring the case of A to Z, and nothing else.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("other.dat"));
        {
            store::Connection c = store::Connection::createNew(path);
            c.run(QStringLiteral("CREATE TABLE Catalog (Name TEXT)"));
            c.run(QStringLiteral("CREATE TABLE Detail (type_Name TEXT, \"病案号\" TEXT, \"文件名\" TEXT, "
                                 "\"路径名\" TEXT, \"文件说明\" TEXT)"));
            c.run(QStringLiteral("CREATE TABLE photo (\"病案号\" TEXT, \"照片\" TEXT)"));
            for (const char *t : {"Eye", "外科", "ÄRZTE", "Skin", "儿科"})
                store::insertType(c, QString::fromUtf8(t));
            const char *rows[][3] = {
                {"EYE", "090302080000", "upper"},    {"外科", "1", "surgery one"}, {"eye", "090302080001", "lower"},
                {"ärzte", "090302080002", "umlaut"}, {"ÄRZTE", "A-17", "exact"},   {"Eye ", "090302080003", "blank"},
                {"Gone", "090302080004", "orphan"},  {"外科", "", "no number"},    {"Eye", "12345678901234567890", "long"},
                {"skin", "000000000007", "zeros"},
            };
            for (const auto &r : rows)
                c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (?, ?, ?)"),
                      {QString::fromUtf8(r[0]), QString::fromUtf8(r[1]), QString::fromUtf8(r[2])});
            c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '5', 'no type')"));
        }
        ArchiveTreeModel m;
        store::Connection c(path);
        m.load(c, {});
        // Every listed type, each record under its type in the order stored. "Eye " and
        // "Gone" name no type, nor does the record without a type, and "ärzte" differs
        // from "ÄRZTE" in a letter outside A to Z: these four go under the last node.
        QCOMPARE(m.typeCount(), 6);
        QVERIFY(m.isUnlisted(m.typeIndex(5)));
        QCOMPARE(m.text(m.typeIndex(5)), QStringLiteral("（未登记类型）"));
        QCOMPARE(childTexts(&m, m.typeIndex(5)), (QStringList{QStringLiteral("umlaut"), QStringLiteral("blank"),
                                                              QStringLiteral("orphan"), QStringLiteral("no type")}));
        auto records = [&m](const char *type) { return childTexts(&m, typeNode(&m, QString::fromUtf8(type))); };
        QCOMPARE(records("Eye"), (QStringList{QStringLiteral("upper"), QStringLiteral("lower"), QStringLiteral("long")}));
        QCOMPARE(records("ÄRZTE"), QStringList{QStringLiteral("exact")});
        QCOMPARE(records("Skin"), QStringList{QStringLiteral("zeros")});
        QCOMPARE(records("外科"), (QStringList{QStringLiteral("surgery one"), QStringLiteral("no number")}));
        QCOMPARE(records("儿科"), QStringList());
        QCOMPARE(m.recordCount(), 11);
        // The Chinese names in pinyin order: er before wai.
        QVERIFY(typeTexts(&m).indexOf(QStringLiteral("儿科")) < typeTexts(&m).indexOf(QStringLiteral("外科")));
        // Numbers come back exactly as stored, leading zeros and all.
        const QModelIndex eye = typeNode(&m, QStringLiteral("Eye"));
        QCOMPARE(m.number(m.index(0, 0, eye)), QStringLiteral("090302080000"));
        QCOMPARE(m.number(m.index(2, 0, eye)), QStringLiteral("12345678901234567890"));
        QCOMPARE(m.index(0, 0, eye).data(ArchiveTreeModel::KeyRole).toString(), QStringLiteral("090302080000#"));
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("Skin")))), QStringLiteral("000000000007"));
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("ÄRZTE")))), QStringLiteral("A-17"));
        QCOMPARE(m.number(m.index(1, 0, typeNode(&m, QStringLiteral("外科")))), QString());
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("外科")))), QStringLiteral("1"));
        QVERIFY(m.rowId(m.index(1, 0, eye)) > m.rowId(m.index(0, 0, eye)));

        // The same with a search on the type: the condition applies, the match ignores case.
        m.load(c, {QStringLiteral("ye"), false, false, false, true});
        QCOMPARE(m.typeCount(), 6);
        QCOMPARE(records("Eye"), (QStringList{QStringLiteral("upper"), QStringLiteral("lower"), QStringLiteral("long")}));
        QCOMPARE(childTexts(&m, m.typeIndex(5)), QStringList{QStringLiteral("blank")}); // "Eye "
        QCOMPARE(m.recordCount(), 4);
    }

    void typesEqualButForCaseEachShowTheRecords()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("Ward"));
        a.addType(QStringLiteral("WARD"));
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("ward"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("Ward"), QStringLiteral("240101080002"), QStringLiteral("丙"));
        // Stored out of number order: the tree keeps the order stored.
        a.addRecord(QStringLiteral("内科"), QStringLiteral("230101080000"), QStringLiteral("丁"));
        ArchiveTreeModel m;
        store::Connection c(a.path());
        m.load(c, {});
        QCOMPARE(m.typeCount(), 3);
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("Ward"))), (QStringList{QStringLiteral("甲"), QStringLiteral("丙")}));
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("WARD"))), (QStringList{QStringLiteral("甲"), QStringLiteral("丙")}));
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("内科"))), (QStringList{QStringLiteral("乙"), QStringLiteral("丁")}));
        QCOMPARE(m.recordCount(), 6);
    }

    void emptyCatalogShowsTheRecordsUnderTheUnlistedNode()
    {
        testing::TempArchive a;
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        ArchiveTreeModel m;
        store::Connection c(a.path());
        m.load(c, {QStringLiteral("甲"), true, false, false, false});
        QCOMPARE(m.typeCount(), 1);
        QVERIFY(m.isUnlisted(m.typeIndex(0)));
        QCOMPARE(childTexts(&m, m.typeIndex(0)), QStringList{QStringLiteral("甲")});
        QCOMPARE(m.searchNote(), QStringLiteral("查询：甲，找到 1 条"));
        // A search that finds none of them leaves the node out.
        m.load(c, {QStringLiteral("丙"), true, false, false, false});
        QCOMPARE(m.typeCount(), 0);
        QCOMPARE(m.searchNote(), QStringLiteral("查询：丙，找到 0 条"));
    }

    void forEachRecordReadsEveryRecordWithItsType()
    {
        testing::TempArchive a;
        a.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("无此类"), QStringLiteral("1"), QStringLiteral("甲 100%"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '3', '丙')"));
        store::Connection c(a.path());
        QStringList rows;
        store::forEachRecord(c, {}, [&rows](const QString &type, const store::RecordHead &h) {
            rows << type + QLatin1Char('|') + h.number + QLatin1Char('|') + h.name;
        });
        QCOMPARE(rows, (QStringList{QStringLiteral("内科|2|乙"), QStringLiteral("无此类|1|甲 100%"), QStringLiteral("|3|丙")}));
        rows.clear();
        store::forEachRecord(c, {QStringLiteral("0%"), true, false, false, false},
                             [&rows](const QString &type, const store::RecordHead &) { rows << type; });
        QCOMPARE(rows, QStringList{QStringLiteral("无此类")});
    }
};

QTEST_MAIN(TestSearchResults)
#include "tst_search_results.moc"
