#include "HostileSamples.h"
#include "PageDrawing.h"

#include "ocr/PageRecognizer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using pictures::PageReading;
using pictures::PageRecognizer;

// The words on pages are read by the helper under limits; what one page does to its
// helper never costs the pages after it.
class TestPageRecognizer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(file(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return QString();
        return f.fileName();
    }
    // A stand-in helper that does what a page tells it to: "hang", "crash", "fail", or
    // recognise the page's own bytes as its words.
    QString fakeHelper() const
    {
        const QString script = file(QStringLiteral("fake-ocr.sh"));
        QFile f(script);
        if (!f.exists()) {
            f.open(QIODevice::WriteOnly);
            f.write("#!/bin/sh\n"
                    "printf 'Tesseract test\\nfake:0\\n' > engine\n"
                    "shift\n"
                    "n=0\n"
                    "for page in \"$@\"; do\n"
                    "  echo \"begin $n\"\n"
                    "  case \"$(cat \"$page\")\" in\n"
                    "    hang) while :; do :; done ;;\n"
                    "    crash) kill -SEGV $$ ;;\n"
                    "    fail) printf 'not a page' > $n.err ;;\n"
                    "    *) cat \"$page\" > $n.txt ;;\n"
                    "  esac\n"
                    "  echo \"end $n\"\n"
                    "  n=$((n+1))\n"
                    "done\n");
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        return script;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { PageRecognizer::setHelperForTests(QString()); }

    void aCleanPageIsReadAlmostWhole()
    {
        const QString summary = testing::dischargeSummary();
        const QString clean = file(QStringLiteral("clean.png"));
        testing::PageLook look;
        QVERIFY(testing::savePage(testing::drawPage(summary, look), clean));
        look.turnDegrees = 1.2;
        look.speckles = 0.002;
        const QString noisy = file(QStringLiteral("noisy.png"));
        QVERIFY(testing::savePage(testing::drawPage(summary, look), noisy));

        PageRecognizer recognizer;
        const QVector<PageReading> readings = recognizer.read({clean, noisy});
        QCOMPARE(readings.size(), 2);
        QVERIFY2(readings[0].done, qPrintable(readings[0].reason));
        const double share = testing::recognisedShare(summary, readings[0].words);
        qInfo("clean page: %.1f%% of the characters read", share * 100);
        QVERIFY2(share >= 0.95, qPrintable(readings[0].words));
        // The words a search looks for, in Chinese and in Latin letters, whole.
        QVERIFY2(readings[0].words.contains(QStringLiteral("出院小结")), qPrintable(readings[0].words));
        QVERIFY(readings[0].words.contains(QStringLiteral("Atorvastatin")));
        QVERIFY(readings[0].words.contains(QStringLiteral("低盐低脂饮食")));

        QVERIFY2(readings[1].done, qPrintable(readings[1].reason));
        const double noisyShare = testing::recognisedShare(summary, readings[1].words);
        qInfo("speckled, turned page: %.1f%% of the characters read", noisyShare * 100);
        QVERIFY2(noisyShare >= 0.85, qPrintable(readings[1].words));

        // The hash is of the file's bytes as they were read.
        QFile f(clean);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(readings[0].contentHash,
                 QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
        QVERIFY(recognizer.engine().startsWith(QStringLiteral("Tesseract 5.")));
        QVERIFY(recognizer.models().startsWith(QStringLiteral("chi_sim:")));
        QVERIFY(recognizer.models().contains(QStringLiteral("+eng:")));
    }

    void pagesThatCannotBeReadAreToldApart()
    {
        const QString good = file(QStringLiteral("good.png"));
        testing::PageLook look;
        look.widthPx = 1200;
        QVERIFY(testing::savePage(testing::drawPage(QStringLiteral("阿莫西林胶囊 Amoxicillin 0.5g"), look), good));
        // A small JPEG whose header promises 60000 x 60000 pixels.
        const QString hugePath = write(QStringLiteral("huge.jpg"), samples::lyingJpeg(60000, 60000, false));
        const QString garbage = write(QStringLiteral("garbage.jpg"), QByteArray(5000, '\x5a'));
        const QString empty = write(QStringLiteral("empty.png"), QByteArray());
        const QString missing = file(QStringLiteral("no-such-page.png"));
        // A FIFO nobody writes, and a link to it: opening either for reading would wait for ever.
        const QString fifo = file(QStringLiteral("fifo.png"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString link = file(QStringLiteral("fifo-link.png"));
        QVERIFY(QFile::link(fifo, link));

        PageRecognizer recognizer;
        const QVector<PageReading> r = recognizer.read({missing, hugePath, garbage, empty, good, fifo, link, m_dir.path()});
        QCOMPARE(r.size(), 8);
        for (int i = 5; i < 8; ++i) {
            QCOMPARE(r[i].reason, QStringLiteral("不是普通文件（文件夹、管道或设备）"));
            QVERIFY(r[i].contentHash.isEmpty());
        }
        QCOMPARE(PageRecognizer::hashFile(fifo, 1 << 20), QString());
        QCOMPARE(r[0].reason, QStringLiteral("文件不存在"));
        QVERIFY(r[0].contentHash.isEmpty());
        QVERIFY(!r[1].done);
        QCOMPARE(r[1].reason, QStringLiteral("图片太大（60000 × 60000 像素）"));
        QVERIFY(!r[1].contentHash.isEmpty());
        QCOMPARE(r[2].reason, QStringLiteral("不是能识别的图片"));
        QCOMPARE(r[3].reason, QStringLiteral("文件是空的"));
        QVERIFY2(r[4].done, qPrintable(r[4].reason));
        QVERIFY2(r[4].words.contains(QStringLiteral("Amoxicillin")), qPrintable(r[4].words));
    }

    void aPageThatKillsItsHelperCostsOnlyItself()
    {
        PageRecognizer::setHelperForTests(fakeHelper());
        pictures::RecognizerLimits limits;
        limits.pagesPerHelper = 3;
        limits.pageTimeoutMs = 1500;
        limits.startSeconds = 5;
        limits.cpuSecondsPerPage = 1;
        PageRecognizer recognizer(limits);
        QStringList pages;
        const QList<QByteArray> contents{"one", "crash", "two", "fail", "hang", "three", "four"};
        for (int i = 0; i < contents.size(); ++i)
            pages << write(QStringLiteral("fake-%1").arg(i), contents.at(i));
        const QVector<PageReading> r = recognizer.read(pages);
        QCOMPARE(r.size(), 7);
        QVERIFY(r[0].done);
        QCOMPARE(r[0].words, QStringLiteral("one"));
        QVERIFY(!r[1].done);
        QCOMPARE(r[1].reason, QStringLiteral("识别程序异常结束（页面损坏、过大或处理超时）"));
        QVERIFY(r[2].done);
        QCOMPARE(r[2].words, QStringLiteral("two"));
        QCOMPARE(r[3].reason, QStringLiteral("not a page"));
        QVERIFY(!r[4].done);
        // The busy loop meets its processor-time limit (a crash) or the clock, whichever first.
        QVERIFY2(r[4].reason == QStringLiteral("识别超时（超过 1 秒）")
                     || r[4].reason == QStringLiteral("识别程序异常结束（页面损坏、过大或处理超时）"),
                 qPrintable(r[4].reason));
        QCOMPARE(r[5].words, QStringLiteral("three"));
        QCOMPARE(r[6].words, QStringLiteral("four"));
        QCOMPARE(recognizer.engine(), QStringLiteral("Tesseract test"));
    }

    void aHelperThatCannotStartFailsEveryPageWithTheReason()
    {
        PageRecognizer::setHelperForTests(file(QStringLiteral("no-such-helper")));
        PageRecognizer recognizer;
        const QString page = write(QStringLiteral("x"), "words");
        const QVector<PageReading> r = recognizer.read({page, page});
        QCOMPARE(r.size(), 2);
        for (const PageReading &reading : r) {
            QVERIFY(!reading.done);
            QVERIFY2(reading.reason.startsWith(QStringLiteral("识别程序不能启动：")), qPrintable(reading.reason));
        }
    }

    // The page's clock runs from the first byte copied: a photo read too slowly is given up.
    void theCopyOfAPageIsOnItsClock()
    {
        PageRecognizer::setHelperForTests(fakeHelper());
        pictures::RecognizerLimits limits;
        limits.pageTimeoutMs = 0;
        PageRecognizer recognizer(limits);
        const QVector<PageReading> r = recognizer.read({write(QStringLiteral("slow"), "words")});
        QCOMPARE(r[0].reason, QStringLiteral("读取文件超时（超过 0 秒）"));
    }

    void aCancelledRunLeavesTheRestUnread()
    {
        PageRecognizer::setHelperForTests(fakeHelper());
        pictures::CancelFlag cancel{true};
        PageRecognizer recognizer;
        const QString page = write(QStringLiteral("y"), "words");
        const QVector<PageReading> r = recognizer.read({page}, &cancel);
        QVERIFY(!r[0].done);
        QVERIFY(r[0].reason.isEmpty()); // nothing to store: it stays queued
    }
};

QTEST_MAIN(TestPageRecognizer)
#include "tst_page_recognizer.moc"
