#include "TempArchive.h"

#include "store/Database.h"
#include "store/Statements.h"

#include <QFile>

using namespace store;
using testing::TempArchive;

class TestStatements : public QObject {
    Q_OBJECT

    static QStringList namesOf(const QString &path, const QString &type, const SearchFilter &f = {})
    {
        Connection c(path);
        QStringList names;
        forEachRecordOfType(c, type, f, [&](const RecordHead &h) { names << h.name; });
        return names;
    }

private slots:
    void openingFailsWithDescription()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("nothing.dat"));
        try {
            Connection c(missing);
            QFAIL("a missing file opened");
        } catch (const StoreError &e) {
            QVERIFY(e.description().contains(missing));
        }
        QVERIFY2(!QFile::exists(missing), "opening must never create the file");

        const QString foreign = dir.filePath(QStringLiteral("foreign.dat"));
        QFile f(foreign);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        try {
            Connection c(foreign);
            QFAIL("a foreign file opened");
        } catch (const StoreError &e) {
            QVERIFY(e.description().contains(QStringLiteral("不是病案数据库")));
            QVERIFY(!e.description().isEmpty());
        }
    }

    void typeNamesCompareWithoutCase()
    {
        TempArchive a;
        a.addType(QStringLiteral("Surgery"));
        Connection c(a.path());
        QVERIFY(typeExists(c, QStringLiteral("surgery")));
        QVERIFY(typeExists(c, QStringLiteral("SURGERY")));
        QVERIFY(!typeExists(c, QStringLiteral("Surgery ")));
        QVERIFY(operatorExists(c, QStringLiteral("管理员")));
        insertOperator(c, QStringLiteral("Bob"), QString(), QString());
        QVERIFY(operatorExists(c, QStringLiteral("bob")));
    }

    void typedTextIsStoredAndFoundAsTyped()
    {
        TempArchive a;
        const QString nasty = QStringLiteral("O'Brien \"x\"; DROP TABLE Detail; --");
        a.addType(nasty);
        a.addRecord(nasty, QStringLiteral("090302080000"), nasty, nasty, nasty, {nasty});
        Connection c(a.path());
        QVERIFY(typeExists(c, nasty));
        QCOMPARE(readTypes(c), QStringList{nasty});
        const auto rows = readRecord(c, QStringLiteral("090302080000"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, nasty);
        QCOMPARE(rows[0].description, nasty);
        QCOMPARE(readPhotos(c, QStringLiteral("090302080000")), QStringList{nasty});
        SearchFilter f{QStringLiteral("'Brien \"x\";"), true, false, false, false};
        QCOMPARE(namesOf(a.path(), nasty, f), QStringList{nasty});
    }

    void containsPatternWithWildcardsAndLiterals()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("Heart 100% ok"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("Heart 1000 ok"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("3"), QStringLiteral("file_a"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("4"), QStringLiteral("fileXa"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("5"), QStringLiteral("C:\\data\\x"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("6"), QStringLiteral("it's"));
        const QString type = QStringLiteral("内科");
        auto search = [&](const QString &t) { return namesOf(a.path(), type, {t, true, false, false, false}); };

        QCOMPARE(search(QStringLiteral("100%")), QStringList{QStringLiteral("Heart 100% ok")});
        QCOMPARE(search(QStringLiteral("file_a")), QStringList{QStringLiteral("file_a")});
        QCOMPARE(search(QStringLiteral("\\data\\")), QStringList{QStringLiteral("C:\\data\\x")});
        QCOMPARE(search(QStringLiteral("t's")), QStringList{QStringLiteral("it's")});
        QCOMPARE(search(QStringLiteral("file?a")), (QStringList{QStringLiteral("file_a"), QStringLiteral("fileXa")}));
        QCOMPARE(search(QStringLiteral("heart*ok")),
                 (QStringList{QStringLiteral("Heart 100% ok"), QStringLiteral("Heart 1000 ok")}));
        QCOMPARE(search(QStringLiteral("HEART 1")).size(), 2); // letter case is ignored
        QVERIFY(search(QStringLiteral("nowhere")).isEmpty());
    }

    void filterChoosesColumnsAndType()
    {
        TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addType(QStringLiteral("Eye"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("甲"), QStringLiteral("/x/report.txt"),
                    QStringLiteral("术后恢复良好"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("2"), QStringLiteral("乙"), QString(), QString());
        a.addRecord(QStringLiteral("eye"), QStringLiteral("3"), QStringLiteral("丙"));
        QCOMPARE(namesOf(a.path(), QStringLiteral("外科"), {QStringLiteral("恢复"), false, false, true, false}),
                 QStringList{QStringLiteral("甲")});
        QCOMPARE(namesOf(a.path(), QStringLiteral("外科"), {QStringLiteral("report"), true, false, false, false}),
                 QStringList());
        QCOMPARE(namesOf(a.path(), QStringLiteral("外科"), {QStringLiteral("report"), false, true, false, false}),
                 QStringList{QStringLiteral("甲")});
        // Only the type chosen: every record of a matching type, none of the others.
        QCOMPARE(namesOf(a.path(), QStringLiteral("外科"), {QStringLiteral("外"), false, false, false, true}).size(), 2);
        QVERIFY(namesOf(a.path(), QStringLiteral("Eye"), {QStringLiteral("外"), false, false, false, true}).isEmpty());
        // The record whose type differs in letter case belongs to the type.
        QCOMPARE(namesOf(a.path(), QStringLiteral("Eye")), QStringList{QStringLiteral("丙")});
    }

    void photosComeBackInInsertOrder()
    {
        TempArchive a;
        a.addType(QStringLiteral("T"));
        const QStringList photos{QStringLiteral("/p/z.jpg"), QStringLiteral("/p/a.jpg"), QStringLiteral("/p/m.jpg"),
                                 QStringLiteral("/p/a.jpg")};
        a.addRecord(QStringLiteral("T"), QStringLiteral("090101000000"), QStringLiteral("n"), QString(), QString(),
                    photos);
        Connection c(a.path());
        QCOMPARE(readPhotos(c, QStringLiteral("090101000000")), photos);
        QVERIFY(readPhotos(c, QStringLiteral("000000000000")).isEmpty());
    }

    void failingStatementRollsBackTheWholeWrite()
    {
        TempArchive a;
        a.addType(QStringLiteral("T"));
        a.addRecord(QStringLiteral("T"), QStringLiteral("1"), QStringLiteral("keep"), QString(), QString(),
                    {QStringLiteral("/p/1.jpg")});
        try {
            Connection c(a.path());
            Transaction t(c);
            deleteRecordRows(c, QStringLiteral("1"));
            c.run(QStringLiteral("DELETE FROM no_such_table"));
            t.commit();
            QFAIL("the failing statement did not fail");
        } catch (const StoreError &e) {
            QVERIFY(!e.description().isEmpty());
        }
        QCOMPARE(a.count(QStringLiteral("Detail")), 1);
        QCOMPARE(a.count(QStringLiteral("photo")), 1);
    }

    void renameAndDeleteCascades()
    {
        TempArchive a;
        a.addType(QStringLiteral("Old"));
        a.addRecord(QStringLiteral("Old"), QStringLiteral("1"), QStringLiteral("r1"), QStringLiteral("/f"),
                    QStringLiteral("d"), {QStringLiteral("/p.jpg")});
        {
            Connection c(a.path());
            Transaction t(c);
            renameTypeInCatalog(c, QStringLiteral("old"), QStringLiteral("New"));
            renameTypeInRecords(c, QStringLiteral("old"), QStringLiteral("New"));
            t.commit();
        }
        {
            Connection c(a.path());
            QCOMPARE(readTypes(c), QStringList{QStringLiteral("New")});
            const auto rows = readRecord(c, QStringLiteral("1"));
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0].typeName, QStringLiteral("New"));
            QCOMPARE(rows[0].path, QStringLiteral("/f"));
            Transaction t(c);
            deleteTypeFromCatalog(c, QStringLiteral("New"));
            deleteRecordsOfType(c, QStringLiteral("New"));
            t.commit();
        }
        QCOMPARE(a.count(QStringLiteral("Catalog")), 0);
        QCOMPARE(a.count(QStringLiteral("Detail")), 0);
        QCOMPARE(a.count(QStringLiteral("photo")), 1); // photos of a deleted type stay, unreachable
    }

    void operatorsReadByPositionWithNulls()
    {
        TempArchive a;
        a.addOperator(QStringLiteral("nopwd"), QVariant(), QVariant());
        a.addOperator(QStringLiteral("empty"), QString(""), QStringLiteral("只能添加"));
        Connection c(a.path());
        QCOMPARE(countOperators(c), 3);
        const auto rows = readOperators(c);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].name, QStringLiteral("管理员"));
        QCOMPARE(rows[0].authority, QStringLiteral("超级权限"));
        QVERIFY(rows[1].password.isNull());
        QVERIFY(rows[1].authority.isNull());
        QVERIFY(!rows[2].password.isNull());
        QVERIFY(rows[2].password.isEmpty());
        deleteOperator(c, QStringLiteral("NOPWD"));
        QCOMPARE(countOperators(c), 2);
    }

    void duplicateRecordNumbersAreAllRead()
    {
        TempArchive a;
        a.addType(QStringLiteral("T"));
        a.addRecord(QStringLiteral("T"), QStringLiteral("090101000000"), QStringLiteral("first"));
        a.addRecord(QStringLiteral("T"), QStringLiteral("090101000000"), QStringLiteral("second"));
        Connection c(a.path());
        const auto rows = readRecord(c, QStringLiteral("090101000000"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].name, QStringLiteral("first"));
        QVERIFY(rows[0].rowId != rows[1].rowId);
    }
};

QTEST_GUILESS_MAIN(TestStatements)
#include "tst_statements.moc"
