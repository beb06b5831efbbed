// The scanner helper that holds SANE's drivers for the scan window: it lives exactly as
// long as the window, and a helper that stops answering or dies cannot keep the window
// from closing, nor leave a process behind.
#include "SaneTestDriver.h"
#include "ScriptedPlatform.h"
#include "TempArchive.h"

#include "scan/ScanHelperLink.h"
#include "scan/Scanner.h"
#include "scan/frmScanner.h"
#include "store/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using platform::Answer;
using platform::Buttons;

namespace {

constexpr int kWait = 60000; // an upper bound only: every wait ends on the window's signal

// The processes this test program started that have not been reaped, zombies included.
QList<int> childProcesses()
{
    QList<int> pids;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/children")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &pid : f.readAll().split(' '))
            if (pid.trimmed().toInt() > 0)
                pids << pid.trimmed().toInt();
    }
    return pids;
}

QString commandOf(int pid)
{
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().trimmed()) : QString();
}

} // namespace

class TestScannerHelper : public QObject {
    Q_OBJECT

    testing::SaneTestDriver m_sane;
    const QString m_number = QStringLiteral("240305140709");

    // SANE's test driver, sending its page slowly: 4 KB every 100 ms.
    bool configureSlowPages()
    {
        return m_sane.configure("number_of_devices 2\nmode Gray\ndepth 8\nresolution 75.0\nbr_x 80.0\nbr_y 100.0\n"
                                "read-limit true\nread-limit-size 4096\nread-delay true\nread-delay-duration 100000\n");
    }

    std::unique_ptr<frmScanner> open()
    {
        auto w = std::make_unique<frmScanner>(m_number);
        QSignalSpy ready(w.get(), &frmScanner::scannerReady);
        w->show();
        if (!ready.wait(kWait))
            QTest::qFail("the scanner never opened", __FILE__, __LINE__);
        return w;
    }

    // Starts a page and waits until some of it has come in; the helper's process number.
    int scanningHelper(frmScanner *w)
    {
        QTest::mouseClick(w->cmdScan, Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return w->ProgressBar1->value() > 0; }, kWait))
            return 0;
        const QList<int> pids = childProcesses();
        return pids.size() == 1 ? pids.first() : 0;
    }

    // Starts a page and, once some of it has come in, sends the helper the signal.
    bool signalHelperMidPage(frmScanner *w, int signal)
    {
        const int helper = scanningHelper(w);
        return helper > 0 && ::kill(helper, signal) == 0;
    }

    QStringList filesThere() const
    {
        return QDir(QDir(m_sane.pagesFolder()).filePath(m_number)).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sane.useOwnConfiguration());
    }

    void init()
    {
        m_sane.freshTest();
        pictures::setScannerHelperGraceForTests(0);
        QVERIFY(configureSlowPages());
    }

    void cleanup() { pictures::setScannerHelperGraceForTests(0); }

    void theDriversLiveInAHelperThatEndsWithTheWindow()
    {
        QVERIFY(childProcesses().isEmpty());
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->cboScanner->itemText(0), QStringLiteral("Noname frontend-tester (test:0)"));
        const QList<int> helpers = childProcesses();
        QCOMPARE(helpers.size(), 1);
        QCOMPARE(commandOf(helpers.first()), QStringLiteral("casearchive-sca")); // as the kernel shortens it
        // Closed in the middle of a page: the helper ends, and is reaped, with the window.
        QSignalSpy finished(w.get(), &frmScanner::runFinished);
        QVERIFY(scanningHelper(w.get()) > 0);
        w->close();
        QVERIFY(finished.wait(kWait));
        w.reset();
        QCOMPARE(childProcesses(), QList<int>());
        QCOMPARE(filesThere(), QStringList());
    }

    void aHelperThatStopsAnsweringIsKilledAndTheWindowStillCloses()
    {
        pictures::setScannerHelperGraceForTests(300);
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = open();
        QSignalSpy finished(w.get(), &frmScanner::runFinished);
        // A driver wedged for good, as one whose thread died holding a lock is.
        QVERIFY(signalHelperMidPage(w.get(), SIGSTOP));
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
        QVERIFY(finished.wait(kWait));
        QCOMPARE(w->lblMessage->text(), QStringLiteral("扫描已取消。"));
        QCOMPARE(childProcesses(), QList<int>()); // killed and reaped, not left stopped
        QCOMPARE(filesThere(), QStringList());
        // Without its helper the window says so, and still closes.
        QVERIFY(w->cmdScan->isEnabled());
        QTest::mouseClick(w->cmdScan, Qt::LeftButton);
        QVERIFY(finished.wait(kWait));
        const QString gone = QStringLiteral("扫描仪的驱动程序意外中止。请关闭扫描窗口后重新打开。");
        QCOMPARE(w->lblMessage->text(), gone);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, gone);
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        w.reset();
        QCOMPARE(childProcesses(), QList<int>());
    }

    void aWindowClosedWhileItsHelperIsWedgedDoesNotWaitForIt()
    {
        pictures::setScannerHelperGraceForTests(300);
        testing::ScriptedPlatform platform;
        auto w = open();
        QVERIFY(signalHelperMidPage(w.get(), SIGSTOP));
        w.reset(); // returns: the helper is given its grace, then killed
        QCOMPARE(childProcesses(), QList<int>());
        QCOMPARE(filesThere(), QStringList());
    }

    // The program's own grace, measured by a clock the test advances at every look: a
    // wedged helper holds the closing window for that grace once, then is killed.
    void aWedgedHelperHoldsTheClosingWindowForOneGraceAtMost()
    {
        std::atomic<qint64> now{0};
        pictures::setScannerHelperClockForTests([&now] { return now += 500; });
        const auto restore = qScopeGuard([] { pictures::setScannerHelperClockForTests({}); });
        testing::ScriptedPlatform platform;
        auto w = open();
        QVERIFY(signalHelperMidPage(w.get(), SIGSTOP));
        const qint64 closing = now;
        w.reset();
        // One grace, and a few looks at the clock besides; a second grace would pass 10 s.
        QVERIFY2(now - closing >= 5000 && now - closing < 2 * 5000, qPrintable(QString::number(now - closing)));
        QCOMPARE(childProcesses(), QList<int>());
    }

    // A frame's head is read before its body: one announcing more than the link's bound is
    // refused before anything is allocated for it, and one at the bound is read whole.
    void aFrameBeyondTheBoundIsRefusedBeforeItsBodyIsRead()
    {
        namespace link = pictures::helper;
        const auto head = [](qint32 size) {
            QByteArray h(4, '\0');
            qToBigEndian(size, h.data());
            return h;
        };
        QCOMPARE(link::announcedSize(head(link::kMaxFrame).constData()), link::kMaxFrame);
        QCOMPARE(link::announcedSize(head(link::kMaxFrame + 1).constData()), -1);
        QCOMPARE(link::announcedSize(head(-1).constData()), -1);
        for (const qint32 size : {link::kMaxFrame + 1, link::kMaxFrame}) {
            int fds[2];
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
            const auto closeBoth = qScopeGuard([&fds] {
                ::close(fds[0]);
                ::close(fds[1]);
            });
            // The body follows only for the frame at the bound; the other's stream ends.
            std::thread writer([&] {
                if (size <= link::kMaxFrame)
                    QVERIFY(link::writeFrame(fds[1], QByteArray(size, 'x')));
                else
                    QCOMPARE(::write(fds[1], head(size).constData(), 4), 4);
                ::shutdown(fds[1], SHUT_WR);
            });
            QByteArray payload;
            const bool read = link::readFrame(fds[0], payload);
            writer.join();
            QCOMPARE(read, size <= link::kMaxFrame);
            QCOMPARE(payload.capacity() == 0, !read);
            QCOMPARE(payload.size(), read ? size : 0);
        }
    }

    void turningToTheOtherScannerEndsAWedgedHelper()
    {
        pictures::setScannerHelperGraceForTests(300);
        testing::ScriptedPlatform platform;
        auto w = open();
        const QList<int> helpers = childProcesses();
        QCOMPARE(helpers.size(), 1);
        QCOMPARE(::kill(helpers.first(), SIGSTOP), 0);
        // The open scanner is closed first, which the wedged helper never answers.
        QSignalSpy ready(w.get(), &frmScanner::scannerReady);
        w->cboScanner->setCurrentIndex(1);
        emit w->cboScanner->activated(1);
        QVERIFY(ready.wait(kWait));
        QCOMPARE(w->lblMessage->text(),
                 QStringLiteral("扫描仪 test:1 无法打开：扫描仪的驱动程序意外中止。请关闭扫描窗口后重新打开。"));
        QVERIFY(!w->cmdScan->isEnabled());
        QCOMPARE(childProcesses(), QList<int>());
        QVERIFY(platform.boxes.isEmpty());
    }

    void aHelperThatDiesInTheMiddleOfAPageEndsTheRunAsALostConnection()
    {
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = open();
        QSignalSpy finished(w.get(), &frmScanner::runFinished);
        QVERIFY(signalHelperMidPage(w.get(), SIGKILL));
        QVERIFY(finished.wait(kWait));
        const QString lost = QStringLiteral("与扫描仪的连接中断（扫描仪可能已断开或关机）。请检查电源和连接线后再扫描。");
        QCOMPARE(w->lblMessage->text(), lost);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, lost);
        QVERIFY(w->scannedPaths().isEmpty());
        QCOMPARE(filesThere(), QStringList());
        QCOMPARE(childProcesses(), QList<int>()); // reaped as soon as it was found dead
        w.reset();
        QCOMPARE(childProcesses(), QList<int>());
    }
};

QTEST_MAIN(TestScannerHelper)
#include "tst_scanner_helper.moc"
