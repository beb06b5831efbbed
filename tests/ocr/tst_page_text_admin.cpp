#include "PageDrawing.h"
#include "TempArchive.h"

#include "store/Database.h"
#include "store/PageText.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

// casearchive-admin ocr fills an existing archive, survives being killed outright, and
// reads again only the pages whose file changed.
class TestPageTextAdmin : public QObject {
    Q_OBJECT

    QTemporaryDir m_pages;

    static QString tool() { return QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin"); }

    QString drawn(const QString &name, const QString &text)
    {
        testing::PageLook look;
        look.widthPx = 1600;
        const QString path = m_pages.filePath(name);
        if (!testing::savePage(testing::drawPage(text, look), path))
            return QString();
        return path;
    }

    struct Run {
        int exitCode = -1;
        QString output;
    };
    static Run ocr(const QString &archive)
    {
        QProcess p;
        p.start(tool(), {QStringLiteral("ocr"), archive, QStringLiteral("--batch"), QStringLiteral("1")});
        p.waitForFinished(300000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
    }

    static QHash<QString, store::PageTextRow> rowsByPhoto(const QString &archive)
    {
        store::Connection c(archive);
        QHash<QString, store::PageTextRow> rows;
        for (const store::PageTextRow &r : store::readPageTexts(c))
            rows.insert(r.photo, r);
        return rows;
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        QVERIFY(m_pages.isValid());
        // Run as root on a server's archive, ocr reads with the office's rights, which reach
        // what every account may read.
        QVERIFY(QFile::setPermissions(m_pages.path(), QFile::permissions(m_pages.path()) | QFile::ReadOther | QFile::ExeOther));
    }

    void killedOutrightThenRunAgainNothingLostNothingTwice()
    {
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        const QString one = drawn(QStringLiteral("1.png"), QStringLiteral("患者张某，男，56岁，因反复胸闷气短3年入院。"));
        const QString two = drawn(QStringLiteral("2.png"), QStringLiteral("入院后予Aspirin 100mg每日一次口服。"));
        const QString three = drawn(QStringLiteral("3.png"), QStringLiteral("嘱低盐低脂饮食，定期复查血脂及肝功能。"));
        const QString bad = m_pages.filePath(QStringLiteral("bad.png"));
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("\x89PNG\r\n\x1a\n and then nothing a decoder wants");
        }
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"), {}, {}, {one, bad});
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"), {}, {}, {two, three});

        // Killed with SIGKILL once the first page is stored: no chance to tidy up.
        {
            QProcess p;
            p.start(tool(), {QStringLiteral("ocr"), archive.path(), QStringLiteral("--batch"), QStringLiteral("1")});
            QVERIFY(p.waitForStarted());
            QByteArray out;
            QVERIFY(QTest::qWaitFor(
                [&] {
                    out += p.readAllStandardOutput();
                    return out.contains("[1/4]") || p.state() == QProcess::NotRunning;
                },
                120000));
            QVERIFY2(p.state() == QProcess::Running, out.constData());
            p.kill();
            QVERIFY(p.waitForFinished());
            QVERIFY2(out.startsWith("4 photos to read (4 new, 0 changed since read), 0 read before and unchanged\n"), out.constData());
        }
        QHash<QString, store::PageTextRow> rows = rowsByPhoto(archive.path());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[one].state, store::kPageDone);
        const QString firstDone = rows[one].when;
        QVERIFY(!firstDone.isEmpty());

        // Run again: it goes on where the killed one stopped, the page done is not read again.
        const Run second = ocr(archive.path());
        QCOMPARE(second.exitCode, 3); // the broken page could not be read
        QVERIFY2(second.output.startsWith(QStringLiteral("3 photos to read (0 new, 0 changed since read), 1 read before and unchanged\n")),
                 qPrintable(second.output));
        QVERIFY2(second.output.contains(QStringLiteral("240101080000 %1: not read: 不是能识别的图片\n").arg(bad)),
                 qPrintable(second.output));
        QVERIFY(second.output.endsWith(QStringLiteral("done: 2 photos read, 1 could not be read\n")));
        rows = rowsByPhoto(archive.path());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[one].when, firstDone);
        QCOMPARE(rows[bad].state, store::kPageFailed);
        QVERIFY2(rows[two].words.contains(QStringLiteral("Aspirin")), qPrintable(rows[two].words));
        QVERIFY2(rows[three].words.contains(QStringLiteral("低盐低脂饮食")), qPrintable(rows[three].words));
        QVERIFY2(rows[one].words.contains(QStringLiteral("患者张某")), qPrintable(rows[one].words));

        // Nothing changed: nothing read.
        const Run third = ocr(archive.path());
        QCOMPARE(third.exitCode, 0);
        QCOMPARE(third.output, QStringLiteral("0 photos to read (0 new, 0 changed since read), 4 read before and unchanged\n"
                                              "done: 0 photos read, 0 could not be read\n"));

        // A page whose file was replaced is read again, and its new words replace the old.
        QVERIFY(QFile::remove(three));
        QCOMPARE(drawn(QStringLiteral("3.png"), QStringLiteral("于11月15日出院，症状明显缓解。")), three);
        const Run fourth = ocr(archive.path());
        QCOMPARE(fourth.exitCode, 0);
        QVERIFY2(fourth.output.startsWith(QStringLiteral("1 photos to read (0 new, 1 changed since read), 3 read before and unchanged\n")),
                 qPrintable(fourth.output));
        rows = rowsByPhoto(archive.path());
        QVERIFY2(rows[three].words.contains(QStringLiteral("11月15日出院")), qPrintable(rows[three].words));
        QVERIFY(!rows[three].words.contains(QStringLiteral("低盐")));
        QCOMPARE(rows.size(), 4);
    }

    // SIGTERM (as systemd or kill sends it) ends the run once its page under way is called
    // off; the pages not read stay queued, claimed by nobody, for the next run.
    void aStopRequestLeavesThePagesNotReadPending()
    {
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        QStringList pages;
        for (int i = 0; i < 3; ++i)
            pages << drawn(QStringLiteral("stop%1.png").arg(i), QStringLiteral("第%1页：嘱低盐低脂饮食，定期复查。").arg(i));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080009"), QStringLiteral("丙"), {}, {}, pages);
        QProcess p;
        p.start(tool(), {QStringLiteral("ocr"), archive.path(), QStringLiteral("--batch"), QStringLiteral("1")});
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += p.readAllStandardOutput();
                return out.contains("[1/3]") || p.state() == QProcess::NotRunning;
            },
            120000));
        p.terminate();
        QVERIFY(p.waitForFinished(60000));
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        store::Connection c(archive.path());
        const store::PageCounts counts = store::countPages(c);
        QVERIFY(counts.pending >= 1);
        QVERIFY2(out.endsWith(QStringLiteral("stopped after %1 photos; run casearchive-admin ocr again to go on\n")
                                  .arg(3 - counts.pending)
                                  .toUtf8()),
                 out.constData());
        QCOMPARE(store::pendingClaims(c), QStringList());
    }

    void wrongArguments()
    {
        QProcess p;
        p.start(tool(), {QStringLiteral("ocr"), QStringLiteral("/nowhere/file.dat"), QStringLiteral("--batch"), QStringLiteral("0")});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 2);
        const QStringList lines = QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'));
        // The refusal is the tool's last line, whole, ended by a line break.
        QVERIFY(lines.size() >= 2 && lines.last().isEmpty());
        QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("casearchive-admin: --batch takes a whole number from 1 to 64"));
        p.start(tool(), {QStringLiteral("ocr"), QStringLiteral("/nowhere/file.dat")});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("/nowhere/file.dat")));
    }
};

QTEST_MAIN(TestPageTextAdmin)
#include "tst_page_text_admin.moc"
