// One server connection per address kept for the run: reused, never shared by two
// operations at once, checked before use, and left clean for the next operation.
#include "TempArchive.h"

#include "store/Database.h"
#include "store/Statements.h"

using namespace store;

class TestKeptConnection : public QObject {
    Q_OBJECT

    static qint64 session(Connection &c)
    {
        QSqlQuery q = c.run(QStringLiteral("SELECT pg_backend_pid()"));
        return c.next(q) ? q.value(0).toLongLong() : 0;
    }

    static qint64 sessionOf(const QString &path)
    {
        Connection c(path);
        return session(c);
    }

    // Ends a session from the server's maintenance database, as an administrator would.
    static void endSession(qint64 pid)
    {
        Connection administrator(qEnvironmentVariable("CASEARCHIVE_TEST_SERVER"));
        QSqlQuery ended = administrator.run(QStringLiteral("SELECT pg_terminate_backend(?, 5000)"), {pid});
        QVERIFY(administrator.next(ended));
        QVERIFY(ended.value(0).toBool());
    }

private slots:
    void init()
    {
        if (!testing::onServer())
            QSKIP("the file is opened and closed for every operation");
    }

    void oneSessionServesOperationAfterOperation()
    {
        testing::TempArchive a;
        const qint64 first = sessionOf(a.path());
        const int opened = serverConnectionsOpened();
        QCOMPARE(sessionOf(a.path()), first);
        QCOMPARE(sessionOf(a.path()), first);
        QCOMPARE(serverConnectionsOpened(), opened);

        // Two operations at once never share a session (nor its transaction).
        Connection outer(a.path());
        QCOMPARE(session(outer), first);
        const qint64 inner = sessionOf(a.path());
        QVERIFY(inner != first);
        QVERIFY(sessionOf(a.path()) != inner); // that second one was closed at its end
        QCOMPARE(serverConnectionsOpened(), opened + 2);
    }

    void aSessionEndedByTheServerIsReplacedUnnoticed()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        const qint64 first = sessionOf(a.path());
        endSession(first);
        Connection c(a.path());
        QCOMPARE(readTypes(c), QStringList{QStringLiteral("内科")});
        QVERIFY(session(c) != first);
    }

    void anOperationEndedHalfWayLeavesNothingBehind()
    {
        testing::TempArchive a;
        {
            Connection c(a.path());
            c.run(QStringLiteral("BEGIN"));
            insertType(c, QStringLiteral("未提交"));
        }
        {
            Connection c(a.path());
            beginRead(c);
            QCOMPARE(readTypes(c), QStringList());
            // ended without endRead
        }
        Connection c(a.path());
        {
            Transaction t(c); // would fail inside a transaction left open
            insertType(c, QStringLiteral("内科"));
            t.commit();
        }
        QCOMPARE(readTypes(c), QStringList{QStringLiteral("内科")});
        // A statement that failed leaves the session usable for the next operation.
        try {
            c.run(QStringLiteral("SELECT * FROM no_such_table"));
            QFAIL("no failure");
        } catch (const StoreError &) {
        }
    }

    void aSessionWithItsSettingsChangedIsNotHandedOn()
    {
        testing::TempArchive a;
        {
            Connection c(a.path());
            c.run(QStringLiteral("SET default_transaction_read_only = on"));
        }
        Connection c(a.path());
        Transaction t(c);
        insertType(c, QStringLiteral("内科"));
        t.commit();
    }

    // The statements a save runs again and again are prepared once per session: each run
    // must read its own values, and a session the server replaced must prepare them anew.
    void aStatementPreparedOnceReadsEachRunsOwnRows()
    {
        testing::TempArchive a;
        a.addRecord(QStringLiteral("内科"), QStringLiteral("A1"), QStringLiteral("甲"), {}, {}, {QStringLiteral("/p/a1.jpg")});
        a.addRecord(QStringLiteral("内科"), QStringLiteral("B2"), QStringLiteral("乙"), {}, {},
                    {QStringLiteral("/p/b1.jpg"), QStringLiteral("/p/b2.jpg")});
        for (int round = 0; round < 3; ++round) {
            Connection c(a.path());
            beginRead(c);
            QCOMPARE(readPhotos(c, QStringLiteral("b2")), (QStringList{QStringLiteral("/p/b1.jpg"), QStringLiteral("/p/b2.jpg")}));
            QCOMPARE(readPhotos(c, QStringLiteral("a1")), QStringList{QStringLiteral("/p/a1.jpg")});
            QCOMPARE(readPhotos(c, QStringLiteral("C3")), QStringList());
            QCOMPARE(countRecordsWithNumber(c, QStringLiteral("A1")), 1);
            endRead(c);
            if (round == 1)
                endSession(session(c));
        }
        Connection c(a.path());
        Transaction t(c);
        insertPhoto(c, QStringLiteral("C3"), QStringLiteral("/p/c.jpg"));
        t.commit();
        QCOMPARE(readPhotos(c, QStringLiteral("C3")), QStringList{QStringLiteral("/p/c.jpg")});
    }

    // A write's last statement goes with its COMMIT: it takes effect with the write, in
    // its order, or the whole write is undone.
    void aStatementSentWithTheCommitIsPartOfTheWrite()
    {
        testing::TempArchive a;
        const QByteArray insert = "INSERT INTO Catalog (Name) VALUES ($1)";
        {
            Connection c(a.path());
            Transaction t(c);
            c.runAtCommit("test_add_type", insert, {QStringLiteral("内科")});
            insertType(c, QStringLiteral("外科")); // runs the pending one first
            c.runAtCommit("test_add_type", insert, {QStringLiteral("儿科")});
            t.commit();
        }
        {
            Connection c(a.path());
            QCOMPARE(readTypes(c), (QStringList{QStringLiteral("内科"), QStringLiteral("外科"), QStringLiteral("儿科")}));
        }
        // One that fails at the commit undoes the write, and says why.
        try {
            Connection c(a.path());
            Transaction t(c);
            insertType(c, QStringLiteral("眼科"));
            c.runAtCommit("test_bad", "INSERT INTO no_such_table (Name) VALUES ($1)", {QStringLiteral("x")});
            t.commit();
            QFAIL("the commit went through");
        } catch (const StoreError &e) {
            QVERIFY2(e.description().startsWith(QStringLiteral("服务器上的这个数据库不是病案数据库，或缺少其数据表。")),
                     qPrintable(e.description()));
        }
        // Rolled back without a sent statement left behind, and the session serves on.
        {
            Connection c(a.path());
            Transaction t(c);
            c.runAtCommit("test_add_type", insert, {QStringLiteral("口腔科")});
        } // not committed
        Connection c(a.path());
        QCOMPARE(readTypes(c).size(), 3);
        // Outside a write it runs at once; after the server replaced the session it is
        // prepared there again.
        endSession(session(c));
        Connection d(a.path());
        d.runAtCommit("test_add_type", insert, {QStringLiteral("皮肤科")});
        QVERIFY(readTypes(d).contains(QStringLiteral("皮肤科")));
        QCOMPARE(readTypes(d).size(), 4);
    }

    void aShorterLockWaitGetsASessionOfItsOwn()
    {
        testing::TempArchive a;
        const qint64 normal = sessionOf(a.path());
        setBusyTimeout(200);
        Connection c(a.path());
        QVERIFY(session(c) != normal);
        QSqlQuery q = c.run(QStringLiteral("SHOW lock_timeout"));
        QVERIFY(c.next(q));
        QCOMPARE(q.value(0).toString(), QStringLiteral("200ms"));
        setBusyTimeout(5000);
    }
};

QTEST_MAIN(TestKeptConnection)
#include "tst_kept_connection.moc"
