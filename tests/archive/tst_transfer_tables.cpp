// What a copy carries besides the rows of the four tables and the trail: the words read
// from the photos, the archive's identity, the tables' columns and a file's own text
// encoding; and what it refuses rather than change: a column it does not know, text of a
// UTF-16 file that is not whole. Its verification compares the rows' identities too.
#include "TempArchive.h"

#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "archive/Transfer.h"
#include "store/ArchiveIdentity.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/StoredRows.h"

#include <QDir>

using namespace store;

namespace {

QVector<StoredRow> rowsOf(const QString &path, ArchiveTable table)
{
    Connection c(path);
    StoredRows rows(c, table);
    QVector<StoredRow> out;
    StoredRow r;
    while (rows.next(r))
        out << r;
    return out;
}

// An archive with a record whose photo has been read, and one still waiting.
void withWords(testing::TempArchive &a)
{
    a.addType(QStringLiteral("内科"));
    a.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"), {}, {},
                {QStringLiteral("/p/1.png"), QStringLiteral("/p/2.png")});
    Connection c(a.path());
    createPageTextTable(c);
    Transaction t(c);
    queueMissingPages(c);
    const QVector<PageJob> jobs = claimPages(c, QStringLiteral("pc/1/x"), 1700000000, 60, 1);
    PageResult done;
    done.done = true;
    done.words = QStringLiteral("阿莫西林胶囊 Amoxicillin");
    done.contentHash = QString(64, QLatin1Char('a'));
    finishPage(c, jobs.value(0).rowId, QStringLiteral("pc/1/x"), done);
    t.commit();
}

} // namespace

class TestTransferTables : public QObject {
    Q_OBJECT

private slots:
    void theWordsReadFromPhotosAndTheIdentityTravel()
    {
        testing::TempArchive a;
        withWords(a);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        const TransferResult r = copyArchive(a.path(), file);
        QVERIFY2(r.outcome == TransferResult::Verified, qPrintable(r.error));
        QCOMPARE(r.counts.pageText, 2);
        QCOMPARE(rowsOf(file, ArchiveTable::PageText), rowsOf(a.path(), ArchiveTable::PageText));
        {
            Connection original(a.path());
            Connection copy(file);
            QCOMPARE(archiveIdentity(copy), archiveIdentity(original));
            // Found by the search in the copy, through the copy's own index.
            SearchFilter words;
            words.text = QStringLiteral("莫西林");
            words.inPageText = true;
            QCOMPARE(countRecordsMatchedByPages(copy, words), 1);
        }
        if (testing::onServer()) {
            // And back onto a server, where the search finds them through its own index.
            testing::TempServerDatabase back;
            const TransferResult again = copyArchive(file, back.path());
            QVERIFY2(again.outcome == TransferResult::Verified, qPrintable(again.error));
            QCOMPARE(rowsOf(back.path(), ArchiveTable::PageText), rowsOf(a.path(), ArchiveTable::PageText));
        }
        // And in a backup, counted and checked like the other tables.
        BackupOptions o;
        o.archivePath = a.path();
        o.targetFolder = dir.path();
        o.includeFiles = false;
        const BackupResult backup = backupArchive(o);
        QCOMPARE(backup.outcome, BackupResult::Verified);
        QCOMPARE(backup.counts.pageText, 2);
        const ArchiveReport check = checkArchiveCopy(QDir(backup.folder).filePath(QStringLiteral("file.dat")));
        QCOMPARE(check.counts.pageText, 2);
        QVERIFY(check.text().contains(QStringLiteral("\nwords read from photos: 2 photos\n")));
    }

    void aColumnAnotherToolAddedRefusesTheCopy()
    {
        testing::TempArchive a;
        a.exec(QStringLiteral("ALTER TABLE Detail ADD COLUMN ward TEXT"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        const TransferResult r = copyArchive(a.path(), file);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QCOMPARE(r.error, QStringLiteral("不能复制“%1”：表 Detail 有本程序不认识的列“ward”（可能是其他程序加上的）；"
                                         "复制会丢掉其中的数据，所以没有复制。")
                              .arg(a.path()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }

    void theVerificationComparesRowIdentities()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.dat"));
        bool changed = false;
        const TransferResult r = copyArchive(a.path(), file, [&](const TransferProgress &p) {
            if (p.stage == TransferProgress::Verify && !changed) {
                // The copy's records renumbered behind the verification's back.
                Connection copy(unfinishedCopyPath(file));
                copy.run(QStringLiteral("UPDATE Detail SET rowid = rowid + 1000"));
                changed = true;
            }
            return true;
        });
        QVERIFY(changed);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QVERIFY2(r.error.startsWith(QStringLiteral("校验失败：表 Detail 的第 1 行与原档案不同。")), qPrintable(r.error));
        QVERIFY(!QFileInfo::exists(file));
    }

    // A file keeping its text as UTF-16 is copied keeping it so, byte for byte; a value
    // that is not whole UTF-16 (a lone surrogate) is refused, never "corrected".
    void aUtf16FileIsCopiedByteForByteOrRefused()
    {
        if (testing::onServer())
            QSKIP("a file's own encoding");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("utf16.dat"));
        {
            Connection c = Connection::createNew(path);
            setTextEncoding(c, QStringLiteral("UTF-16le"));
            Transaction t(c);
            createSchema(c);
            c.run(QStringLiteral("INSERT INTO Detail (\"病案号\", \"文件说明\") VALUES ('1', CAST(X'41003ED84100' AS TEXT))"));
            t.commit();
        }
        const QString copy = dir.filePath(QStringLiteral("copy.dat"));
        TransferResult r = copyArchive(path, copy);
        QCOMPARE(r.outcome, TransferResult::Failed);
        QVERIFY2(r.error.contains(QStringLiteral("表 Detail 标识 1 的“文件说明”列是不完整的 UTF-16 文本（有单独的代理项），"
                                                 "无法原样读出，没有复制。")),
                 qPrintable(r.error));
        QVERIFY(!QFileInfo::exists(copy));

        {
            Connection c(path);
            c.run(QStringLiteral("UPDATE Detail SET \"文件说明\" = CAST(X'41003ED841DD4100' AS TEXT)"));
        }
        r = copyArchive(path, copy);
        QVERIFY2(r.outcome == TransferResult::Verified, qPrintable(r.error));
        auto stored = [](const QString &file) {
            Connection c(file);
            QSqlQuery q = c.run(QStringLiteral("SELECT hex(CAST(\"文件说明\" AS BLOB)) FROM Detail"));
            return c.next(q) ? q.value(0).toString() : QString();
        };
        QCOMPARE(stored(copy), QStringLiteral("41003ED841DD4100"));
        Connection c(copy);
        QCOMPARE(textEncoding(c), QStringLiteral("UTF-16le"));
    }
};

QTEST_MAIN(TestTransferTables)
#include "tst_transfer_tables.moc"
