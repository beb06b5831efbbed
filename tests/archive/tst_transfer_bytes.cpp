// Copies keep every stored byte: cells another tool wrote (text that is not UTF-8, BLOBs,
// NULs, a leading U+FEFF, long values, NULL beside empty text) go through file to file and
// file to server to file byte for byte, or the copy is refused naming the row and column;
// a copy is never called verified with one byte different. And a copy cut short is
// recognised by the next one.
#include "TempArchive.h"

#include "archive/Archive.h"
#include "store/Database.h"
#include "store/StoredRows.h"
#include "archive/Transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>

using namespace store;

namespace {

// Every cell of a file archive as SQLite stores it: "Detail 3 文件说明 text 80".
QStringList storedCells(const QString &path)
{
    Connection c(path);
    QStringList out;
    const QList<QPair<QString, QStringList>> tables = {
        {QStringLiteral("Catalog"), {QStringLiteral("Name")}},
        {QStringLiteral("Detail"),
         {QStringLiteral("type_Name"), QStringLiteral("\"病案号\""), QStringLiteral("\"文件名\""), QStringLiteral("\"路径名\""),
          QStringLiteral("\"文件说明\"")}},
        {QStringLiteral("photo"), {QStringLiteral("\"病案号\""), QStringLiteral("\"照片\"")}},
        {QStringLiteral("\"User\""), {QStringLiteral("UID"), QStringLiteral("PWD"), QStringLiteral("\"权限\"")}}};
    for (const auto &t : tables)
        for (const QString &column : t.second) {
            QSqlQuery q = c.run(QStringLiteral("SELECT rowid, typeof(%1), hex(%1) FROM %2 ORDER BY rowid").arg(column, t.first));
            while (c.next(q))
                out << QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(t.first, q.value(0).toString(), column, q.value(1).toString(), q.value(2).toString());
        }
    return out;
}

// A file archive with one record whose 文件说明 is the value of the SQL expression.
QString archiveWith(const QTemporaryDir &dir, const QString &name, const QString &expression,
                    const QString &column = QStringLiteral("\"文件说明\""))
{
    const QString path = dir.filePath(name);
    initArchive(path);
    Connection c(path);
    c.run(QStringLiteral("INSERT INTO Catalog (Name) VALUES ('外科')"));
    c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                         "VALUES ('外科', '240101080000', '张三', '', '说明')"));
    c.run(QStringLiteral("UPDATE Detail SET %1 = %2").arg(column, expression));
    return path;
}

QString tool() { return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")); }

} // namespace

class TestTransferBytes : public QObject {
    Q_OBJECT

    // Values another tool may have written, each in a cell of its own.
    static QString hostileArchive(const QTemporaryDir &dir, bool serverSafe)
    {
        const QString path = dir.filePath(serverSafe ? QStringLiteral("safe.dat") : QStringLiteral("hostile.dat"));
        initArchive(path);
        Connection c(path);
        c.run(QStringLiteral("INSERT INTO Catalog (Name) VALUES (CAST(X'EFBBBFE5A496E7A791' AS TEXT))")); // U+FEFF 外科
        QStringList values = {
            QStringLiteral("CAST(X'EFBBBF41' AS TEXT)"),         // begins with U+FEFF
            QStringLiteral("CAST(replace(hex(zeroblob(100000)), '00', '字') AS TEXT)"), // 100,000 characters
            QStringLiteral("''"),                                // empty, not NULL
            QStringLiteral("NULL"),
            QStringLiteral("CAST(X'E7ACAC0D0A' AS TEXT)"),       // CR LF kept
        };
        if (!serverSafe)
            values << QStringLiteral("CAST(X'80' AS TEXT)")      // not UTF-8
                   << QStringLiteral("CAST(X'E4B8' AS TEXT)")    // a character cut short
                   << QStringLiteral("CAST(X'61006200' AS TEXT)") // NULs inside
                   << QStringLiteral("X'00FF80'")                // a BLOB
                   << QStringLiteral("X''");                     // an empty BLOB
        int n = 0;
        for (const QString &v : values) {
            ++n;
            c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                                 "VALUES (CAST(X'EFBBBFE5A496E7A791' AS TEXT), 'N%1', %2, %2, %2)")
                      .arg(n)
                      .arg(v));
            c.run(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES ('N%1', %2)").arg(n).arg(v));
        }
        c.run(QStringLiteral("INSERT INTO \"User\" (UID, PWD, \"权限\") VALUES (CAST(X'EFBBBF42' AS TEXT), '', NULL)"));
        return path;
    }

private slots:
    void init() { setBusyTimeout(5000); }

    void fileToFileKeepsEveryByte()
    {
        QTemporaryDir dir;
        const QString original = hostileArchive(dir, false);
        const QStringList before = storedCells(original);
        QVERIFY(before.contains(QStringLiteral("Detail 6 \"文件说明\" text 80")));
        QVERIFY(before.contains(QStringLiteral("Detail 9 \"文件说明\" blob 00FF80")));
        QVERIFY(before.contains(QStringLiteral("Detail 10 \"文件说明\" blob ")));
        QVERIFY(before.contains(QStringLiteral("Detail 4 \"文件说明\" null ")));
        QVERIFY(before.contains(QStringLiteral("Detail 3 \"文件说明\" text ")));

        const QString copy = dir.filePath(QStringLiteral("copy.dat"));
        const TransferResult there = copyArchive(original, copy);
        QCOMPARE(there.outcome, TransferResult::Verified);
        QCOMPARE(storedCells(copy), before);
        const QString back = dir.filePath(QStringLiteral("back.dat"));
        QCOMPARE(copyArchive(copy, back).outcome, TransferResult::Verified);
        QCOMPARE(storedCells(back), before);
    }

    void throughTheServerAndBackByteForByte()
    {
        if (!testing::onServer())
            QSKIP("needs the test server");
        QTemporaryDir dir;
        const QString original = hostileArchive(dir, true);
        const QStringList before = storedCells(original);
        testing::TempServerDatabase server;
        QCOMPARE(copyArchive(original, server.path()).outcome, TransferResult::Verified);
        {
            Connection c(server.path());
            QVERIFY(!copyMarkedUnfinished(c));
        }
        const QString back = dir.filePath(QStringLiteral("back.dat"));
        const TransferResult r = copyArchive(server.path(), back);
        QCOMPARE(r.outcome, TransferResult::Verified);
        QCOMPARE(storedCells(back), before);
    }

    void whatTheServerCannotHoldIsRefusedBeforeWriting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("why");
        QTest::newRow("not UTF-8") << QStringLiteral("CAST(X'80' AS TEXT)")
                                   << QStringLiteral("不是有效的 UTF-8 文本，服务器只存有效的 UTF-8");
        QTest::newRow("a NUL") << QStringLiteral("CAST(X'6100' AS TEXT)")
                               << QStringLiteral("含有 NUL 字符，服务器上的文本不能含有");
        QTest::newRow("a BLOB") << QStringLiteral("X'616263'")
                                << QStringLiteral("存为二进制数据（BLOB），服务器上的文本列存不下");
    }

    void whatTheServerCannotHoldIsRefusedBeforeWriting()
    {
        if (!testing::onServer())
            QSKIP("needs the test server");
        QFETCH(QString, value);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString original = archiveWith(dir, QStringLiteral("a.dat"), value);
        testing::TempServerDatabase server;
        const TransferResult r = copyArchive(original, server.path());
        QCOMPARE(r.outcome, TransferResult::Failed);
        QCOMPARE(r.error, QStringLiteral("不能复制：原档案中有 1 个值无法原样存入“%1”，没有写入任何数据。\n"
                                         "表 Detail 标识 1（病案号 “240101080000”）的“文件说明”列：%2\n"
                                         "服务器上的文本必须是有效的 UTF-8，不能含有 NUL 字符，也不能是二进制数据；档案的各列都存文本。"
                                         "请在原档案中改正这些值（用病案管理程序打开该记录，重新输入该项并保存），然后再复制。")
                              .arg(server.path(), why));
        Connection c(server.path());
        QCOMPARE(tableNames(c), QStringList());
    }

    void aNumberInATextColumnIsRefusedAnywhere()
    {
        // Another tool's archive, its columns declared without a type: a number stays a number.
        QTemporaryDir dir;
        const QString original = dir.filePath(QStringLiteral("a.dat"));
        {
            Connection c = Connection::createNew(original);
            c.run(QStringLiteral("CREATE TABLE Catalog (Name)"));
            c.run(QStringLiteral("CREATE TABLE Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\")"));
            c.run(QStringLiteral("CREATE TABLE photo (\"病案号\", \"照片\")"));
            c.run(QStringLiteral("CREATE TABLE \"User\" (UID, PWD, \"权限\")"));
            c.run(QStringLiteral("INSERT INTO Detail VALUES ('外科', 240101080000, '张三', '', '')"));
        }
        const QString copy = dir.filePath(QStringLiteral("copy.dat"));
        const TransferResult r = copyArchive(original, copy);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QVERIFY2(r.error.startsWith(QStringLiteral("不能复制：原档案中有 1 个值无法原样存入“%1”，没有写入任何数据。\n"
                                                   "表 Detail 标识 1（病案号 “240101080000”）的“病案号”列：存为数字，而档案的这一列是文本\n")
                                        .arg(copy)),
                 qPrintable(r.error));
        QVERIFY(!QFile::exists(copy));
        QVERIFY(!QFile::exists(unfinishedCopyPath(copy)));
    }

    // A difference Qt's text cannot see (two invalid bytes both read as U+FFFD, a BLOB
    // with the bytes of a text) is still a difference.
    void aSingleByteDifferenceIsNeverVerified_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("tampered");
        QTest::addColumn<QString>("shown");
        QTest::newRow("another invalid byte") << QStringLiteral("CAST(X'80' AS TEXT)") << QStringLiteral("CAST(X'81' AS TEXT)")
                                              << QStringLiteral("原档案：文本（1 字节，十六进制 80）\n副本：文本（1 字节，十六进制 81）");
        QTest::newRow("text become a BLOB") << QStringLiteral("'abc'") << QStringLiteral("X'616263'")
                                            << QStringLiteral("原档案：文本 \"abc\"（3 字节）\n副本：二进制数据（3 字节，十六进制 61 62 63）");
        QTest::newRow("a byte-order mark lost") << QStringLiteral("CAST(X'EFBBBF41' AS TEXT)") << QStringLiteral("'A'")
                                                << QStringLiteral("原档案：文本 \"\uFEFFA\"（4 字节）\n副本：文本 \"A\"（1 字节）");
    }

    void aSingleByteDifferenceIsNeverVerified()
    {
        QFETCH(QString, value);
        QFETCH(QString, tampered);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        const QString original = archiveWith(dir, QStringLiteral("a.dat"), value);
        const QString copy = dir.filePath(QStringLiteral("copy.dat"));
        bool done = false;
        const TransferResult r = copyArchive(original, copy, [&](const TransferProgress &p) {
            if (p.stage == TransferProgress::Verify && !done) {
                Connection c(unfinishedCopyPath(copy));
                c.run(QStringLiteral("UPDATE Detail SET \"文件说明\" = %1").arg(tampered));
                done = true;
            }
            return true;
        });
        QVERIFY(done);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QCOMPARE(r.error, QStringLiteral("校验失败：表 Detail 的第 1 行与原档案不同：表 Detail 标识 1（病案号 “240101080000”）的“文件说明”列。\n")
                              + shown);
        QVERIFY(!QFile::exists(copy));
    }

    void whatAKilledCopyLeftIsRecognisedAndReplacedOnRequest()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("张三"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        // What a copy killed half-way leaves: the unfinished file and its journal.
        for (const QString &left : {unfinishedCopyPath(file), unfinishedCopyPath(file) + QStringLiteral("-journal")}) {
            QFile f(left);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("half");
        }
        QProcess p;
        p.start(tool(), {QStringLiteral("copy"), a.path(), file});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()).section(QLatin1Char('\n'), -2),
                 QStringLiteral("casearchive-admin: “%1”是上一次复制到“%2”时没有完成（被中断）而留下的，不是可用的档案。"
                                "用 casearchive-admin copy --replace-unfinished 重新复制会先删除它；"
                                "也可以手工删除“%1”和“%1-journal”后再复制。\n")
                     .arg(unfinishedCopyPath(file), file));
        QVERIFY(!QFile::exists(file));

        p.start(tool(), {QStringLiteral("copy"), a.path(), file, QStringLiteral("--replace-unfinished")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(QStringLiteral("every cell the same, byte for byte")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("copy.dat")});

        if (testing::onServer()) {
            // A copy into a server killed after its rows were committed, before the comparison.
            testing::TempServerDatabase server;
            {
                Connection c(server.path());
                createSchema(c);
                markCopyUnfinished(c);
            }
            p.start(tool(), {QStringLiteral("copy"), file, server.path()});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 1);
            QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("是上一次没有完成（被中断、没有校验）的复制")));
            p.start(tool(), {QStringLiteral("copy"), file, server.path(), QStringLiteral("--replace-unfinished")});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            Connection c(server.path());
            QVERIFY(!copyMarkedUnfinished(c));
            QCOMPARE(countTables(c).detail, 1);
        }
    }

    void aCopyKilledMidWayIsRetried()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.exec(testing::onServer()
                   ? QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") "
                                    "SELECT '外科', 'N' || i, repeat('名', 200) FROM generate_series(1, 30000) i")
                   : QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
                                    "INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") "
                                    "SELECT '外科', 'N' || i, printf('%.200c', 'x') FROM n"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        QProcess p;
        p.start(tool(), {QStringLiteral("copy"), a.path(), file});
        QVERIFY(p.waitForStarted());
        // Killed as soon as the unfinished copy is on the disk.
        for (int i = 0; i < 60000 && !QFile::exists(unfinishedCopyPath(file)) && p.state() == QProcess::Running; ++i)
            QThread::msleep(1);
        if (p.state() != QProcess::Running)
            QSKIP("the copy ended before it could be killed");
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY(!QFile::exists(file)); // never the finished name for a half copy
        p.start(tool(), {QStringLiteral("copy"), a.path(), file});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("没有完成（被中断）而留下的")));
        p.start(tool(), {QStringLiteral("copy"), a.path(), file, QStringLiteral("--replace-unfinished")});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        Connection c(file);
        QCOMPARE(countTables(c).detail, 30000);
    }
};

QTEST_MAIN(TestTransferBytes)
#include "tst_transfer_bytes.moc"
