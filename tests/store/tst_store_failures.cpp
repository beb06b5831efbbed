#include "TempArchive.h"

#include "store/Database.h"
#include "store/Statements.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

using namespace store;
using testing::TempArchive;

// What the store tells the operator when the archive is in trouble, and what it keeps
// from happening then.
class TestStoreFailures : public QObject {
    Q_OBJECT

    static QString failureOf(const std::function<void()> &work)
    {
        try {
            work();
        } catch (const StoreError &e) {
            return e.description();
        }
        return QString();
    }

private slots:
    void init() { resetDamageForTests(); }
    void cleanup()
    {
        resetDamageForTests();
        setBusyTimeout(5000);
    }

    void emptyTextIsStoredAsEmptyTextNeverAsNoValue()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        {
            Connection c(a.path());
            insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("1"), QString(), QString(), QString()});
            insertOperator(c, QStringLiteral("乙"), QString(), QString());
        }
        QCOMPARE(a.count(QStringLiteral("Detail"), QStringLiteral("\"文件名\" IS NULL OR \"路径名\" IS NULL OR \"文件说明\" IS NULL")), 0);
        QCOMPARE(a.count(QStringLiteral("Detail"), QStringLiteral("\"路径名\" = ''")), 1);
        QCOMPARE(a.count(QStringLiteral("User"), QStringLiteral("PWD IS NULL OR \"权限\" IS NULL")), 0);
    }

    void abandonedTransactionLeavesTheConnectionUsable()
    {
        TempArchive a;
        a.addType(QStringLiteral("旧"));
        Connection c(a.path());
        try {
            Transaction t(c);
            insertType(c, QStringLiteral("新"));
            renameTypeInCatalog(c, QStringLiteral("旧"), QStringLiteral("改"));
            throw std::runtime_error("the operation gave up half-way");
        } catch (const std::runtime_error &) {
        }
        QCOMPARE(readTypes(c), QStringList{QStringLiteral("旧")});
        {
            Transaction again(c);
            insertType(c, QStringLiteral("再"));
            again.commit();
        }
        QCOMPARE(readTypes(c), (QStringList{QStringLiteral("旧"), QStringLiteral("再")}));
    }

    void deletingOneRowByIdentity()
    {
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("乙"));
        Connection c(a.path());
        const auto rows = readRecord(c, QStringLiteral("240101080000"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(deleteRecordRow(c, rows[0].rowId), 1);
        QCOMPARE(countRecordsWithNumber(c, QStringLiteral("240101080000")), 1);
        QCOMPARE(readRecord(c, QStringLiteral("240101080000")).front().name, QStringLiteral("乙"));
        QCOMPARE(deleteRecordRow(c, rows[0].rowId), 0); // gone already
    }

    void lockedArchiveIsReportedAsInUseNotAsForeign()
    {
        if (testing::onServer())
            QSKIP("a lock on the file by another program; tst_server holds the server's write lock");
        TempArchive a;
        setBusyTimeout(50);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other-program"));
        other.setDatabaseName(a.path());
        QVERIFY(other.open());
        {
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO Catalog (Name) VALUES ('x')")));
        }
        const QString why = failureOf([&] { Connection c(a.path()); });
        QVERIFY2(why.contains(QStringLiteral("正被其他程序使用")), qPrintable(why));
        QVERIFY2(!why.contains(QStringLiteral("不是病案数据库")), qPrintable(why));
        QVERIFY2(why.contains(a.path()), qPrintable(why));
        QVERIFY(!writesRefused(a.path()));
        {
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
        }
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
        QVERIFY(failureOf([&] { Connection c(a.path()); }).isEmpty());
    }

    void storeFailuresAreExplainedInChineseWithTheTechnicalText()
    {
        if (testing::onServer())
            QSKIP("SQLite's read-only and full file; tst_server has the server's failures");
        TempArchive a;
        const QString readOnly = failureOf([&] {
            Connection c(a.path());
            c.run(QStringLiteral("PRAGMA query_only = 1"));
            insertType(c, QStringLiteral("内科"));
        });
        QVERIFY2(readOnly.startsWith(QStringLiteral("病案数据库文件是只读的，无法写入。")), qPrintable(readOnly));
        QVERIFY2(readOnly.contains(QStringLiteral("（技术信息：")), qPrintable(readOnly));

        const QString full = failureOf([&] {
            Connection c(a.path());
            QSqlQuery count = c.run(QStringLiteral("PRAGMA page_count"));
            count.next();
            c.run(QStringLiteral("PRAGMA max_page_count = %1").arg(count.value(0).toInt()));
            Transaction t(c);
            for (int i = 0; i < 200; ++i)
                insertRecord(c, {0, QStringLiteral("内科"), QString::number(i), QString(4000, QLatin1Char('x')), {}, {}});
            t.commit();
        });
        QVERIFY2(full.startsWith(QStringLiteral("磁盘已满，无法写入病案数据库。")), qPrintable(full));
        QCOMPARE(a.count(QStringLiteral("Detail")), 0); // nothing of the failed write stayed
        QVERIFY(!writesRefused(a.path()));
    }

    void damagedArchiveIsReportedAndNoLongerWritten()
    {
        if (testing::onServer())
            QSKIP("damage written into the file itself; a server keeps its files out of reach");
        TempArchive a;
        a.addType(QStringLiteral("内科"));
        {
            Connection c(a.path());
            Transaction t(c);
            for (int i = 0; i < 3000; ++i)
                insertRecord(c, {0, QStringLiteral("内科"), QString::number(100000 + i), QStringLiteral("病案%1").arg(i),
                                 QString(), QString(300, QLatin1Char('d'))});
            t.commit();
        }
        // Random bytes over pages in the middle of the records' table.
        QFile f(a.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        for (qint64 at = size / 3; at < size / 3 + 4096 * 6; at += 4096) {
            f.seek(at + 8);
            QByteArray junk(4000, '\0');
            for (int i = 0; i < junk.size(); ++i)
                junk[i] = char((i * 131 + at) % 251);
            f.write(junk);
        }
        f.close();

        QStringList names;
        const QString why = failureOf([&] {
            Connection c(a.path());
            forEachRecordOfType(c, QStringLiteral("内科"), {}, [&](const RecordHead &h) { names << h.name; });
        });
        QVERIFY2(why.startsWith(QStringLiteral("病案数据库文件已损坏。")), qPrintable(why));
        QVERIFY(names.size() < 3000); // a short read never passes for the whole table
        QVERIFY(writesRefused(a.path()));

        // Writing into the damaged file could spread the damage to records still whole:
        // from now on this run refuses every write to it, even one into an intact table.
        const QString refused = failureOf([&] {
            Connection c(a.path());
            Transaction t(c);
            insertType(c, QStringLiteral("新"));
            t.commit();
        });
        QVERIFY2(refused.contains(QStringLiteral("本次运行不再写入")), qPrintable(refused));
        TempArchive healthy;
        QVERIFY(!writesRefused(healthy.path()));
    }
};

QTEST_MAIN(TestStoreFailures)
#include "tst_store_failures.moc"
