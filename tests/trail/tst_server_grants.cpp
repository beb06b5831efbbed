#include "TempArchive.h"

#include "store/Database.h"
#include "store/PageText.h"
#include "trail/RecycleBin.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QProcess>

// The workstations' login on a server gets what the program needs and nothing more.
class TestServerGrants : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void grantsAsPrinted()
    {
        // The role is quoted as PostgreSQL reads it back: a name with a quote cannot end the
        // statement early.
        QCOMPARE(store::serverGrants(QStringLiteral("postgresql://dbserver/casearchive?user=archivist"),
                                     QStringLiteral("clerk\"; DROP TABLE photo; --")).mid(0, 9),
                 (QStringList{
                     QStringLiteral("REVOKE ALL ON DATABASE \"casearchive\" FROM PUBLIC;"),
                     QStringLiteral("GRANT CONNECT ON DATABASE \"casearchive\" TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("REVOKE CREATE ON SCHEMA public FROM PUBLIC;"),
                     QStringLiteral("GRANT USAGE ON SCHEMA public TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE \"catalog\", \"detail\", \"photo\", "
                                    "\"User\" TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("GRANT SELECT, INSERT ON TABLE \"history\" TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("GRANT SELECT, INSERT, DELETE ON TABLE \"recyclebin\" TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("GRANT SELECT ON TABLE \"archiveversion\" TO \"clerk\"\"; DROP TABLE photo; --\";"),
                     QStringLiteral("GRANT USAGE ON SEQUENCE \"catalog_rowid_seq\", \"detail_rowid_seq\", "
                                    "\"photo_rowid_seq\", \"User_rowid_seq\", \"recyclebin_rowid_seq\" "
                                    "TO \"clerk\"\"; DROP TABLE photo; --\";"),
                 }));
        // The photos' words: their table made by the owner who runs these, then granted.
        const QStringList all = store::serverGrants(QStringLiteral("postgresql://dbserver/casearchive?user=archivist"),
                                                    QStringLiteral("clerk"));
        QCOMPARE(all.mid(all.size() - 2),
                 (QStringList{QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE \"page_text\" TO \"clerk\";"),
                              QStringLiteral("GRANT USAGE ON SEQUENCE \"page_text_rowid_seq\" TO \"clerk\";")}));
        // Before them the trail's words index, and pg_trgm, which both need, asked for once;
        // the search brings the index up to date under the workstation's login.
        QCOMPARE(all.at(9), QStringLiteral("CREATE TABLE IF NOT EXISTS history_words (rowid BIGINT PRIMARY KEY, words TEXT);"));
        QCOMPARE(all.at(10), QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm;"));
        QVERIFY(all.at(11).startsWith(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_history_words ON history_words ")));
        QVERIFY(all.at(12).startsWith(QStringLiteral("CREATE TABLE IF NOT EXISTS page_text (")));
        QCOMPARE(all.count(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm;")), 1);
        QVERIFY(all.contains(QStringLiteral("GRANT SELECT, INSERT ON TABLE \"history_words\" TO \"clerk\";")));
        QVERIFY(all.contains(QStringLiteral("GRANT SELECT ON TABLE \"archiveidentity\" TO \"clerk\";")));
        // Without a database in the address, the database-wide lines are left out.
        QCOMPARE(store::serverGrants(QStringLiteral("postgresql://dbserver"), QStringLiteral("clerk")).size(), all.size() - 2);
    }

    void theGrantedRoleWorksAndCannotDoMore()
    {
        if (!testing::onServer())
            QSKIP("needs the test server");
        const QString role = QStringLiteral("clerk_%1").arg(QCoreApplication::applicationPid());
        const QString maintenance = testing::serverAddress(QStringLiteral("postgres"));
        {
            store::Connection server(maintenance);
            server.run(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        }
        auto archive = std::make_unique<testing::TempArchive>();
        for (const QString &statement : store::serverGrants(archive->path(), role))
            archive->exec(statement);
        QString address = archive->path();
        const qsizetype user = address.indexOf(QStringLiteral("user="));
        QVERIFY(user > 0);
        address = address.left(user) + QStringLiteral("user=") + role;

        {
            store::Connection c(address);
            {
                // What the windows and the login do.
                store::Transaction t(c);
                store::insertType(c, QStringLiteral("内科"));
                store::insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("240101080000"),
                                        QStringLiteral("张三"), QString(), QString()});
                store::insertPhoto(c, QStringLiteral("240101080000"), QStringLiteral("/p/1.jpg"));
                store::insertOperator(c, QStringLiteral("甲"), QStringLiteral("x"), QStringLiteral("可以修改"));
                const QVector<store::OperatorRow> rows = store::readOperators(c);
                QCOMPARE(rows.size(), 2);
                QCOMPARE(store::replaceOperatorPassword(c, rows.at(1).rowId, QStringLiteral("x"), QStringLiteral("y")), 1);
                QCOMPARE(store::deleteOperatorRow(c, rows.at(1).rowId), 1);
                store::renameTypeInRecords(c, QStringLiteral("内科"), QStringLiteral("外科"));
                // The photos' words: queued, claimed and stored by the workstation's reader.
                QCOMPARE(store::queuePage(c, QStringLiteral("240101080000"), QStringLiteral("/p/1.jpg")), 1);
                const QVector<store::PageJob> jobs = store::claimPages(c, QStringLiteral("w"), 1, 60, 5);
                QCOMPARE(jobs.size(), 1);
                store::PageResult words;
                words.done = true;
                words.words = QStringLiteral("出院小结");
                QVERIFY(store::finishPage(c, jobs[0].rowId, QStringLiteral("w"), words));
                store::deletePhotoRows(c, QStringLiteral("240101080000"));
                t.commit();
            }
            QCOMPARE(store::readTypes(c), QStringList{QStringLiteral("内科")});
            // Not an owner: no table can be dropped, emptied wholesale, changed or made.
            for (const QString &statement :
                 {QStringLiteral("DROP TABLE photo"), QStringLiteral("TRUNCATE \"User\""),
                  QStringLiteral("ALTER TABLE detail ADD COLUMN x TEXT"), QStringLiteral("CREATE TABLE extra (a TEXT)")})
                QVERIFY_THROWS_EXCEPTION(store::StoreError, c.run(statement));
        }
        QCOMPARE(archive->count(QStringLiteral("photo")), 0);
        {
            // The trail and the bin as the windows use them; the trail cannot be changed.
            store::Connection c(address);
            const store::Actor actor{QStringLiteral("甲"), QStringLiteral("pc")};
            {
                store::Transaction t(c);
                QVERIFY(store::moveRecordToBin(c, actor, store::readRecord(c, QStringLiteral("240101080000"))[0].rowId));
                t.commit();
            }
            {
                store::Transaction t(c);
                QVERIFY(store::restoreFromBin(c, actor, store::readBin(c)[0].id).restored);
                QVERIFY(store::moveRecordToBin(c, actor, store::readRecord(c, QStringLiteral("240101080000"))[0].rowId));
                QVERIFY(store::purgeFromBin(c, actor, store::readBin(c)[0].id));
                t.commit();
            }
            QCOMPARE(store::countHistory(c, {}), 5); // the restore re-made the renamed type
            // A search by a record brings the words index up to date under this login.
            store::HistoryQuery byRecord;
            byRecord.record = QStringLiteral("0101080");
            QCOMPARE(store::countHistory(c, byRecord), 4);
            QCOMPARE(archive->count(QStringLiteral("history_words")), 5);
            for (const QString &statement :
                 {QStringLiteral("UPDATE history SET detail = ''"), QStringLiteral("DELETE FROM history"),
                  QStringLiteral("UPDATE archiveversion SET version = 1"), QStringLiteral("UPDATE recyclebin SET photos = ''"),
                  QStringLiteral("UPDATE archiveidentity SET id = ''")})
                QVERIFY_THROWS_EXCEPTION(store::StoreError, c.run(statement));
            QVERIFY(store::verifyHistoryChain(c).whole);
            // An entry the login writes itself gets the server's identity and hash, not its own.
            c.run(QStringLiteral("INSERT INTO history (rowid, changed_at, operator_name, workstation, kind, record_number, "
                                 "record_rowid, subject, before_state, after_state, detail, record_name, hash) VALUES "
                                 "(1000000, '2024-03-01T08:00:00.000Z', '甲', 'pc', 'type.added', '', '', '外科', '', '', '', "
                                 "'', ?)"),
                  {QString(64, QLatin1Char('0'))});
            const store::ChainReport chain = store::verifyHistoryChain(c);
            QVERIFY2(chain.whole, qPrintable(chain.problem));
            QCOMPARE(chain.entries, 6);
            QVERIFY(chain.newest->hash != QString(64, QLatin1Char('0')));
        }
        archive->exec(QStringLiteral("DROP OWNED BY %1").arg(role));
        archive.reset();
        store::Connection server(maintenance);
        server.run(QStringLiteral("DROP ROLE %1").arg(role));
    }

    void anUpgradeGivesTheWorkstationsTheNewTables()
    {
        if (!testing::onServer())
            QSKIP("needs the test server");
        const QString role = QStringLiteral("clerk_up_%1").arg(QCoreApplication::applicationPid());
        const QString maintenance = testing::serverAddress(QStringLiteral("postgres"));
        {
            store::Connection server(maintenance);
            server.run(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        }
        {
            // An archive as an earlier version made it, with that version's grants.
            testing::TempServerDatabase database;
            {
                store::Connection c = store::Connection::createNew(database.path());
                for (const QString &statement : c.dialect().schema())
                    c.run(statement);
                c.run(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE catalog, detail, photo, \"User\" TO %1").arg(role));
                c.run(QStringLiteral("GRANT USAGE ON SEQUENCE catalog_rowid_seq, detail_rowid_seq, photo_rowid_seq TO %1").arg(role));
            }
            QString address = database.path();
            address = address.left(address.indexOf(QStringLiteral("user="))) + QStringLiteral("user=") + role;
            QProcess tool;
            tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin"),
                       {QStringLiteral("upgrade"), database.path()});
            QVERIFY(tool.waitForFinished(60000));
            QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
            QVERIFY2(QString::fromUtf8(tool.readAllStandardOutput())
                         .endsWith(QStringLiteral("gave the workstations' logins their rights on the new tables: %1\n").arg(role)),
                     "no grants named");
            {
                store::Connection c(address);
                store::Transaction t(c);
                store::insertType(c, QStringLiteral("内科"));
                store::insertRecord(c, {0, QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"), {}, {}});
                const store::Actor actor{QStringLiteral("甲"), QStringLiteral("pc")};
                QVERIFY(store::moveRecordToBin(c, actor, store::readRecord(c, QStringLiteral("1"))[0].rowId));
                QVERIFY(store::purgeFromBin(c, actor, store::readBin(c)[0].id));
                t.commit();
                QCOMPARE(store::countHistory(c, {}), 2);
                QVERIFY_THROWS_EXCEPTION(store::StoreError, c.run(QStringLiteral("DELETE FROM history")));
            }
            store::closeKeptConnections();
            store::Connection owner(database.path());
            owner.run(QStringLiteral("DROP OWNED BY %1").arg(role));
        }
        store::Connection server(maintenance);
        server.run(QStringLiteral("DROP ROLE %1").arg(role));
    }
};

QTEST_MAIN(TestServerGrants)
#include "tst_server_grants.moc"
