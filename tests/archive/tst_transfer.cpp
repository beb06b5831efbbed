#include "TempArchive.h"

#include "store/Database.h"
#include "store/Statements.h"
#include "archive/Transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

using namespace store;
using testing::TempArchive;

// Copying an archive between a file and a server, verified row by row. On a file run the
// copies go file to file; on a server run the archive starts on the server, goes to a
// file and back to a second database on the server.
class TestTransfer : public QObject {
    Q_OBJECT

    static QVector<TableRow> rowsOf(const QString &path, ArchiveTable table)
    {
        Connection c(path);
        TableRows rows(c, table);
        QVector<TableRow> all;
        TableRow r;
        while (rows.next(r))
            all << r;
        return all;
    }

    static void compareArchives(const QString &a, const QString &b)
    {
        for (ArchiveTable t : archiveTables()) {
            const QVector<TableRow> left = rowsOf(a, t);
            const QVector<TableRow> right = rowsOf(b, t);
            QCOMPARE(left.size(), right.size());
            for (int i = 0; i < left.size(); ++i)
                QVERIFY2(left[i] == right[i], qPrintable(tableName(t) + QStringLiteral(" row ") + QString::number(i)));
        }
    }

    // Two records with one number, rows without values, empty texts, characters that are
    // special to SQL and to patterns, a type deleted under its records, a photo of a
    // record that is gone, and gaps in the identities left by deleted rows.
    static void fill(TempArchive &a)
    {
        a.addType(QStringLiteral("外科"));
        a.addType(QStringLiteral("O'Brien \\ 100% _x_"));
        a.addType(QStringLiteral("Eye"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"),
                    QStringLiteral("/病案/a.doc"), QStringLiteral("第一行\r\n第二行"),
                    {QStringLiteral("/p/1.jpg"), QStringLiteral("/p/2.jpg")});
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("同号"), QString(), QString());
        a.addRecord(QStringLiteral("eye"), QStringLiteral("A1"), QStringLiteral("Ａ全角"), QStringLiteral("C:\\x\\y"));
        a.addRecord(QStringLiteral("已删除的类型"), QStringLiteral("9"), QStringLiteral("孤儿"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("gone"), QStringLiteral("会被删除"), QString(), QString(),
                    {QStringLiteral("/p/gone.jpg")});
        a.exec(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = 'gone'"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\", \"路径名\", \"文件说明\") "
                              "VALUES (NULL, '10', NULL, NULL, NULL)"));
        a.exec(QStringLiteral("DELETE FROM Catalog WHERE Name = 'Eye'"));
        a.addOperator(QStringLiteral("乙"), QVariant(), QStringLiteral("只能添加"));
        a.addOperator(QStringLiteral("丙"), QStringLiteral(""), QVariant());
    }

private slots:
    void init() { setBusyTimeout(5000); }

    void copiedThereAndBackEveryRowTheSame()
    {
        TempArchive a;
        fill(a);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy/file.dat"));
        QVector<TransferProgress> steps;
        const TransferResult there = copyArchive(a.path(), file, [&](const TransferProgress &p) {
            steps << p;
            return true;
        });
        QVERIFY2(there.outcome == TransferResult::Verified, qPrintable(there.error));
        QVERIFY(there.error.isEmpty());
        QCOMPARE(there.counts.catalog, 2);
        QCOMPARE(there.counts.detail, 5);
        QCOMPARE(there.counts.photo, 3);
        QCOMPARE(there.counts.user, 3);
        QVERIFY(!steps.isEmpty());
        QCOMPARE(steps.last().stage, TransferProgress::Verify);
        QCOMPARE(steps.last().done, steps.last().total);
        QCOMPARE(steps.last().total, 2 * (2 + 5 + 3 + 3));
        for (int i = 1; i < steps.size(); ++i)
            QVERIFY(steps[i].done >= steps[i - 1].done);
        compareArchives(a.path(), file);

        QString back;
        std::unique_ptr<testing::TempServerDatabase> second;
        if (testing::onServer()) {
            second = std::make_unique<testing::TempServerDatabase>();
            back = second->path();
        } else {
            back = dir.filePath(QStringLiteral("back.dat"));
        }
        QCOMPARE(copyArchive(file, back).outcome, TransferResult::Verified);
        compareArchives(a.path(), back);

        // The copy works as the archive did: the same records in the same order, the
        // same case rules, and a new record after every one copied.
        Connection c(back);
        QVERIFY(typeExists(c, QStringLiteral("O'BRIEN \\ 100% _X_")));
        QCOMPARE(readRecord(c, QStringLiteral("240101080000")).size(), 2);
        QCOMPARE(readRecord(c, QStringLiteral("a1")).size(), 1);
        QCOMPARE(readRecord(c, QStringLiteral("ａ1")).size(), 0);
        QStringList names;
        forEachRecord(c, {}, [&](const QString &, const RecordHead &h) { names << h.name; });
        // The record without a type or a name too: the browser shows it among the unlisted.
        QCOMPARE(names, (QStringList{QStringLiteral("张三"), QStringLiteral("同号"), QStringLiteral("Ａ全角"),
                                     QStringLiteral("孤儿"), QString()}));
        const qint64 last = rowsOf(back, ArchiveTable::Detail).last().rowId;
        insertRecord(c, {0, QStringLiteral("外科"), QStringLiteral("new"), QStringLiteral("新"), QString(), QString()});
        QCOMPARE(readRecord(c, QStringLiteral("new")).front().rowId > last, true);
        insertOperator(c, QStringLiteral("丁"), QString(), QString());
        QCOMPARE(readOperators(c).last().name, QStringLiteral("丁"));
    }

    void aCopyNeverOverwrites()
    {
        TempArchive a;
        QTemporaryDir dir;
        const QString existing = dir.filePath(QStringLiteral("existing.dat"));
        QFile f(existing);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        const TransferResult r = copyArchive(a.path(), existing);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QVERIFY2(r.error.contains(QStringLiteral("已经存在")), qPrintable(r.error));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));

        // An archive is never copied onto itself, nor onto another archive.
        QCOMPARE(copyArchive(a.path(), a.path()).outcome, TransferResult::Failed);
        TempArchive other;
        other.addType(QStringLiteral("留着"));
        if (testing::onServer()) {
            const TransferResult onto = copyArchive(a.path(), other.path());
            QCOMPARE(onto.outcome, TransferResult::Failed);
            QVERIFY2(onto.error.contains(QStringLiteral("已经有数据表")), qPrintable(onto.error));
        }
        QCOMPARE(other.count(QStringLiteral("Catalog")), 1);

        // Something that is no archive is not copied.
        const QString foreign = dir.filePath(QStringLiteral("foreign.dat"));
        {
            Connection c = Connection::createNew(foreign);
            c.run(QStringLiteral("CREATE TABLE t (x)"));
        }
        const TransferResult notArchive = copyArchive(foreign, dir.filePath(QStringLiteral("x.dat")));
        QCOMPARE(notArchive.outcome, TransferResult::Failed);
        QVERIFY(notArchive.error.contains(QStringLiteral("不是病案数据库")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x.dat"))));
    }

    void aCopyThatDiffersFromItsOriginalIsRemoved()
    {
        TempArchive a;
        fill(a);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        bool tampered = false;
        const TransferResult r = copyArchive(a.path(), file, [&](const TransferProgress &p) {
            // Between the copy and its comparison a row of the copy changes (a disk that
            // returns other bytes than it took).
            if (p.stage == TransferProgress::Verify && p.table == QLatin1String("Catalog") && !tampered) {
                // Until it is verified the copy is written under another name.
                if (QFile::exists(file))
                    return false;
                Connection c(unfinishedCopyPath(file));
                c.run(QStringLiteral("UPDATE Detail SET \"文件名\" = '改了' WHERE \"文件名\" = '同号'"));
                tampered = true;
            }
            return true;
        });
        QVERIFY(tampered);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QCOMPARE(r.error, QStringLiteral("校验失败：表 Detail 的第 2 行与原档案不同：表 Detail 标识 2（病案号 “240101080000”）的“文件名”列。\n"
                                         "原档案：文本 \"同号\"（6 字节）\n副本：文本 \"改了\"（6 字节）"));
        QVERIFY(!QFile::exists(file));
        QVERIFY(!QFile::exists(unfinishedCopyPath(file)));
    }

    void aCancelledCopyLeavesNothing()
    {
        TempArchive a;
        fill(a);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        int calls = 0;
        const TransferResult r = copyArchive(a.path(), file, [&](const TransferProgress &) { return ++calls < 3; });
        QCOMPARE(r.outcome, TransferResult::Cancelled);
        QVERIFY(!QFile::exists(file));

        if (testing::onServer()) {
            // Into a server's database: cut short in the copy, and cut short in the
            // comparison after the rows were committed; either way the database is empty.
            testing::TempServerDatabase target;
            QCOMPARE(copyArchive(a.path(), target.path(), [](const TransferProgress &p) {
                         return p.stage == TransferProgress::Copy && p.done < 4;
                     }).outcome,
                     TransferResult::Cancelled);
            Connection c(target.path());
            QVERIFY(tableNames(c).isEmpty());
            QCOMPARE(copyArchive(a.path(), target.path(), [](const TransferProgress &p) {
                         return p.stage == TransferProgress::Copy;
                     }).outcome,
                     TransferResult::Cancelled);
            QVERIFY(tableNames(c).isEmpty());
        }
    }

    void manyRowsInBatchesWithProgress()
    {
        TempArchive a;
        {
            Connection c(a.path());
            Transaction t(c);
            for (int i = 0; i < 1234; ++i) {
                insertRecord(c, {0, QStringLiteral("外科"), QString::number(i), QStringLiteral("病案%1").arg(i), {}, {}});
                if (i % 3 == 0)
                    insertPhoto(c, QString::number(i), QStringLiteral("/p/%1.jpg").arg(i));
            }
            t.commit();
        }
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        int copySteps = 0;
        const TransferResult r = copyArchive(a.path(), file, [&](const TransferProgress &p) {
            copySteps += p.stage == TransferProgress::Copy;
            return true;
        });
        QCOMPARE(r.outcome, TransferResult::Verified);
        QCOMPARE(r.counts.detail, 1234);
        QCOMPARE(r.counts.photo, 412);
        QVERIFY(copySteps >= 12 + 4); // at least one report per hundred rows
        compareArchives(a.path(), file);
    }

    void adminToolCopiesAndReports()
    {
        TempArchive a;
        fill(a);
        QTemporaryDir dir;
        const QString tool = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin"));
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        QProcess p;
        p.start(tool, {QStringLiteral("copy"), a.path(), file});
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(out.contains(QStringLiteral("verified: 2 record types, 5 records, 3 photos, 3 operators")), qPrintable(out));
        QVERIFY2(err.contains(QStringLiteral("copying Detail:")) && err.contains(QStringLiteral("verifying User: 100%")),
                 qPrintable(err));
        compareArchives(a.path(), file);

        // A second copy onto the first is refused, and says why.
        p.start(tool, {QStringLiteral("copy"), a.path(), file});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("已经存在")));
        p.start(tool, {QStringLiteral("copy"), a.path()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
    }
};

QTEST_MAIN(TestTransfer)
#include "tst_transfer.moc"
