#include "TempArchive.h"

#include "archive/Archive.h"
#include "store/Database.h"
#include "store/Statements.h"

#include <QFileInfo>
#include <QImageReader>
#include <QProcess>

#include <optional>

using namespace store;

class TestArchive : public QObject {
    Q_OBJECT
private slots:
    void initMakesAnArchiveTheLoginCanRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/Data/file.dat"));
        initArchive(path);
        Connection c(path);
        const auto ops = readOperators(c);
        QCOMPARE(ops.size(), 1);
        QCOMPARE(ops[0].name, QStringLiteral("管理员"));
        QVERIFY(ops[0].password.isEmpty());
        QCOMPARE(ops[0].authority, QStringLiteral("超级权限"));
        QVERIFY(readTypes(c).isEmpty());
    }

    void initRefusesToOverwrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("file.dat"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        QVERIFY_THROWS_EXCEPTION(StoreError, initArchive(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }

    void demoHasRecordsFilesAndPhotos()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("demo.dat"));
        makeDemoArchive(path, {300, 15, 7});
        Connection c(path);
        const QStringList types = readTypes(c);
        QCOMPARE(types.size(), 15);
        QVERIFY(types.contains(QStringLiteral("内科")));
        QCOMPARE(QSet<QString>(types.begin(), types.end()).size(), 15);
        int records = 0;
        QSet<QString> numbers;
        for (const QString &t : types)
            forEachRecordOfType(c, t, {}, [&](const RecordHead &h) {
                ++records;
                numbers.insert(h.number);
                QCOMPARE(h.number.size(), 12);
            });
        QCOMPARE(records, 300);
        QCOMPARE(numbers.size(), 300);
        // Every attached file and every photo exists and photos are readable pictures.
        QSqlQuery q = c.run(QStringLiteral("SELECT DISTINCT \"照片\" FROM photo"));
        int pictures = 0;
        while (q.next()) {
            QImageReader r(q.value(0).toString());
            QVERIFY2(r.canRead(), qPrintable(q.value(0).toString()));
            ++pictures;
        }
        QVERIFY(pictures >= 3);
        QSqlQuery files = c.run(QStringLiteral("SELECT DISTINCT \"路径名\" FROM Detail WHERE \"路径名\" <> ''"));
        while (files.next())
            QVERIFY(QFileInfo::exists(files.value(0).toString()));
    }

    // Run by the backup service or cron, the tool has no XDG_RUNTIME_DIR; what it writes
    // to stderr goes into the log read after a failed night, and must be its own words.
    void adminToolWritesNothingButItsOwnMessages()
    {
        const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin");
        if (!QFileInfo::exists(tool))
            QSKIP("admin tool not built beside the tests");
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        auto run = [&](const QStringList &args, QByteArray &err) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(tool, args);
            p.waitForFinished(60000);
            err = p.readAllStandardError();
            return p.exitCode();
        };
        QByteArray err;
        QCOMPARE(run({QStringLiteral("init"), dir.filePath(QStringLiteral("a.dat"))}, err), 0);
        QCOMPARE(err, QByteArray());
        QCOMPARE(run({QStringLiteral("check"), dir.filePath(QStringLiteral("a.dat"))}, err), 0);
        QCOMPARE(err, QByteArray());
        // A failure still says why, and only that.
        QCOMPARE(run({QStringLiteral("init"), dir.filePath(QStringLiteral("a.dat"))}, err), 1);
        QVERIFY2(err.startsWith("casearchive-admin: "), err.constData());
        QVERIFY2(!err.contains("QStandardPaths"), err.constData());
    }

    void adminToolRejectsBadArguments()
    {
        const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin");
        if (!QFileInfo::exists(tool))
            QSKIP("admin tool not built beside the tests");
        QTemporaryDir dir;
        auto run = [&](const QStringList &args) {
            QProcess p;
            p.start(tool, args);
            p.waitForFinished(60000);
            return p.exitCode();
        };
        QVERIFY(run({}) != 0);
        QVERIFY(run({QStringLiteral("frobnicate"), dir.filePath(QStringLiteral("x"))}) != 0);
        QVERIFY(run({QStringLiteral("demo"), dir.filePath(QStringLiteral("x")), QStringLiteral("--records"),
                     QStringLiteral("many")}) != 0);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("x"))));
        QCOMPARE(run({QStringLiteral("init"), dir.filePath(QStringLiteral("a.dat"))}), 0);
        QVERIFY(run({QStringLiteral("init"), dir.filePath(QStringLiteral("a.dat"))}) != 0);
        QCOMPARE(run({QStringLiteral("demo"), dir.filePath(QStringLiteral("d.dat")), QStringLiteral("--records"),
                      QStringLiteral("20"), QStringLiteral("--types"), QStringLiteral("3")}),
                 0);
        Connection c(dir.filePath(QStringLiteral("d.dat")));
        QCOMPARE(readTypes(c).size(), 3);
    }

    void adminToolMakesADemoOnTheArchiveNamedWithItsFilesWhereTold()
    {
        const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin");
        if (!QFileInfo::exists(tool))
            QSKIP("admin tool not built beside the tests");
        // On a server run the archive is a server's empty database, as the administrator's guide offers.
        QTemporaryDir dir;
        std::optional<testing::TempServerDatabase> database;
        if (testing::onServer())
            database.emplace();
        const QString target = database ? database->path() : dir.filePath(QStringLiteral("demo.dat"));
        const QString files = dir.filePath(QStringLiteral("shared/demo files"));
        QProcess p;
        p.start(tool, {QStringLiteral("demo"), target, QStringLiteral("--records"), QStringLiteral("20"),
                       QStringLiteral("--types"), QStringLiteral("3"), QStringLiteral("--files"), files});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 QStringLiteral("prepared %1 with 20 records in 3 types, their files and photos in %2\n").arg(target, files));
        Connection c(target);
        QCOMPARE(readTypes(c).size(), 3);
        QSqlQuery q = c.run(QStringLiteral("SELECT DISTINCT \"照片\" FROM photo"));
        int photos = 0;
        while (q.next()) {
            QVERIFY2(q.value(0).toString().startsWith(files + QLatin1Char('/')), qPrintable(q.value(0).toString()));
            QVERIFY(QFileInfo::exists(q.value(0).toString()));
            ++photos;
        }
        QVERIFY(photos > 0);
        // Without --files, a server's archive keeps them in the current folder.
        QCOMPARE(demoFilesFolder(QStringLiteral("postgresql://dbserver/case_archive?user=clerk")),
                 QDir::current().absoluteFilePath(QStringLiteral("case_archive_files")));
        QCOMPARE(demoFilesFolder(dir.filePath(QStringLiteral("d.dat"))), dir.filePath(QStringLiteral("d_files")));
    }
};

QTEST_MAIN(TestArchive)
#include "tst_archive.moc"
