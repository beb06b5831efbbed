// The scan window against SANE's own "test" backend, a real SANE driver that delivers
// test pages (enabled through a private SANE_CONFIG_DIR), and against a device of the
// test's own for what that driver cannot do (a cable pulled in the middle of a page).
#include "SaneTestDriver.h"
#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "common/Module1.h"
#include "scan/ScanSession.h"
#include "scan/Scanner.h"
#include "scan/frmScanner.h"
#include "records/frmNewForm.h"
#include "store/Database.h"
#include "store/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <algorithm>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

constexpr int kWait = 60000; // an upper bound only: every wait ends on the window's signal

// A device of the test's own: grey pages of the format it announces, each sending
// `sends` bytes, unplugged halfway through page `unpluggedAt` (0: never).
struct FakeSetUp {
    pictures::FrameFormat format{pictures::FrameKind::Gray, true, 20, 20, 10, 8};
    qint64 sends = 200;
    int unpluggedAt = 0;
};

class FakeDevice : public pictures::ScannerDevice {
public:
    explicit FakeDevice(const FakeSetUp &setUp) : m_setUp(setUp) {}
    pictures::ScanChoices choices() override
    {
        pictures::ScanChoices c;
        c.sources = QStringList{QStringLiteral("ADF")};
        c.source = c.sources.first();
        c.modes = QStringList{QStringLiteral("Gray")};
        c.mode = c.modes.first();
        c.resolutions = {150};
        c.resolution = 150;
        return c;
    }
    QString apply(const pictures::ScanSettings &) override { return QString(); }
    pictures::ScanStatus start() override
    {
        ++m_page;
        m_sent = 0;
        return pictures::ScanStatus::Good;
    }
    pictures::ScanStatus format(pictures::FrameFormat &f) override
    {
        f = m_setUp.format;
        return pictures::ScanStatus::Good;
    }
    pictures::ScanStatus read(unsigned char *buffer, int maxLength, int &length) override
    {
        length = 0;
        if (m_sent >= m_setUp.sends)
            return pictures::ScanStatus::Eof;
        if (m_page == m_setUp.unpluggedAt && m_sent >= m_setUp.sends / 2)
            return pictures::ScanStatus::IoError;
        length = int(qMin<qint64>(qMin(maxLength, 50), m_setUp.sends - m_sent));
        memset(buffer, 0x80, size_t(length));
        m_sent += length;
        return pictures::ScanStatus::Good;
    }
    void cancel() override {}

private:
    FakeSetUp m_setUp;
    int m_page = 0;
    qint64 m_sent = 0;
};

class FakeSystem : public pictures::ScannerSystem {
public:
    explicit FakeSystem(const FakeSetUp &setUp) : m_setUp(setUp) {}
    QVector<pictures::ScannerInfo> devices(QString &) override
    {
        return {pictures::ScannerInfo{QStringLiteral("fake:0"), QStringLiteral("Fake (fake:0)")}};
    }
    std::unique_ptr<pictures::ScannerDevice> open(const QString &, QString &) override
    {
        return std::make_unique<FakeDevice>(m_setUp);
    }

private:
    FakeSetUp m_setUp;
};

// Two scanners; the first is busy with another program.
class BusyFirstSystem : public FakeSystem {
public:
    BusyFirstSystem() : FakeSystem(FakeSetUp()) {}
    QVector<pictures::ScannerInfo> devices(QString &) override
    {
        return {pictures::ScannerInfo{QStringLiteral("busy:0"), QStringLiteral("Busy (busy:0)")},
                pictures::ScannerInfo{QStringLiteral("fake:0"), QStringLiteral("Fake (fake:0)")}};
    }
    std::unique_ptr<pictures::ScannerDevice> open(const QString &name, QString &error) override
    {
        if (name == QLatin1String("busy:0")) {
            error = QStringLiteral("扫描仪 busy:0 无法打开：") + pictures::scanStatusText(pictures::ScanStatus::DeviceBusy);
            return nullptr;
        }
        return FakeSystem::open(name, error);
    }
};

void useFake(const FakeSetUp &setUp)
{
    pictures::setScannerSystemFactory([setUp] { return std::make_unique<FakeSystem>(setUp); });
}

} // namespace

class TestScanner : public QObject {
    Q_OBJECT

    testing::SaneTestDriver m_sane;
    const QString m_number = QStringLiteral("240305140709");

    // The test driver's settings for the next window (read when SANE starts).
    void configure(const QStringList &extraLines, bool withTestDriver = true)
    {
        QByteArray conf("number_of_devices 2\nmode Gray\ndepth 8\nresolution 50.0\n"
                        "test-picture \"Color pattern\"\nbr_x 80.0\nbr_y 100.0\n");
        for (const QString &l : extraLines)
            conf += l.toUtf8() + '\n';
        QVERIFY(m_sane.configure(conf, withTestDriver));
    }

    std::unique_ptr<frmScanner> open()
    {
        auto w = std::make_unique<frmScanner>(m_number);
        QSignalSpy listed(w.get(), &frmScanner::scannersListed);
        QSignalSpy ready(w.get(), &frmScanner::scannerReady);
        w->show();
        if (!listed.wait(kWait))
            QTest::qFail("the scanner list never came", __FILE__, __LINE__);
        if (w->cboScanner->count() > 0 && !ready.wait(kWait))
            QTest::qFail("the scanner never opened", __FILE__, __LINE__);
        return w;
    }

    // By the driver's name of a source or mode, or the text of a resolution.
    void choose(QComboBox *box, const QString &name)
    {
        int i = box->findData(name);
        if (i < 0)
            i = box->findText(name);
        QVERIFY2(i >= 0, qPrintable(name));
        box->setCurrentIndex(i);
    }

    bool runScan(frmScanner *w)
    {
        QSignalSpy finished(w, &frmScanner::runFinished);
        QTest::mouseClick(w->cmdScan, Qt::LeftButton);
        return finished.wait(kWait);
    }

    QString folder() const { return QDir(m_sane.pagesFolder()).filePath(m_number); }
    QStringList filesThere() const
    {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QString page(int n, const char *suffix) const
    {
        return QDir(folder()).filePath(QStringLiteral("%1-%2.%3").arg(m_number).arg(n, 3, 10, QLatin1Char('0')).arg(QLatin1String(suffix)));
    }

    // Scans one flatbed page at 75 dpi with the driver set up so; the picture saved.
    QImage scanOnePage(const QStringList &setUp, const QString &mode)
    {
        configure(setUp);
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboMode, mode);
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        if (!runScan(w.get()) || w->scannedPaths().size() != 1) {
            QTest::qFail(qPrintable(QStringLiteral("no page: ") + w->lblMessage->text()), __FILE__, __LINE__);
            return QImage();
        }
        const QImage image(w->scannedPaths().first());
        for (const QString &path : w->scannedPaths())
            QFile::remove(path);
        return image;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sane.useOwnConfiguration());
    }

    void init()
    {
        m_sane.freshTest();
        configure({});
    }

    void cleanup() { pictures::setScannerSystemFactory({}); }

    void withoutAScannerTheWindowSaysHowToCheck()
    {
        configure({}, false);
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("扫描"));
        QCOMPARE(w->cboScanner->count(), 0);
        QCOMPARE(w->lblMessage->text(),
                 QStringLiteral("没有找到扫描仪。请检查扫描仪已接通电源、连接好，并已装好它的驱动程序；"
                                "在终端中运行 scanimage -L（sane-utils 软件包）可以查看系统能否找到它。"));
        QVERIFY(!w->cmdScan->isEnabled());
        QVERIFY(!w->cmdCancel->isEnabled());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmScanner-none")));
        w->cmdClose_Click();
        QVERIFY(w->scannedPaths().isEmpty());
        QVERIFY(!QFileInfo::exists(folder()));
        QVERIFY(platform.boxes.isEmpty());
    }

    void listsTheScannersAndWhatTheyOffer()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->cboScanner->count(), 2);
        QCOMPARE(w->cboScanner->itemText(0), QStringLiteral("Noname frontend-tester (test:0)"));
        QCOMPARE(w->cboScanner->itemData(1).toString(), QStringLiteral("test:1"));
        QCOMPARE(w->lblMessage->text(), QString());
        QCOMPARE(w->cboSource->count(), 2);
        // The driver's English names in the operator's words.
        QCOMPARE(w->cboSource->itemText(0), QStringLiteral("平板"));
        QCOMPARE(w->cboSource->itemText(1), QStringLiteral("进纸器"));
        QCOMPARE(w->cboSource->itemData(1).toString(), QStringLiteral("Automatic Document Feeder"));
        QCOMPARE(w->cboMode->count(), 2);
        QCOMPARE(w->cboMode->currentText(), QStringLiteral("灰度"));
        QCOMPARE(w->cboMode->itemText(1), QStringLiteral("彩色"));
        // From the driver's 1..1200 dpi, the usual steps and its own 50 dpi; 300 to begin with.
        QCOMPARE(w->cboResolution->count(), 9);
        QCOMPARE(w->cboResolution->itemText(0), QStringLiteral("50 dpi"));
        QCOMPARE(w->cboResolution->itemText(8), QStringLiteral("1200 dpi"));
        QCOMPARE(w->cboResolution->currentText(), QStringLiteral("300 dpi"));
        // The whole-feeder run is offered for the feeder only.
        choose(w->cboSource, QStringLiteral("Flatbed"));
        QVERIFY(!w->chkFeeder->isEnabled());
        choose(w->cboSource, QStringLiteral("Automatic Document Feeder"));
        QVERIFY(w->chkFeeder->isEnabled());
        QVERIFY(w->cmdScan->isEnabled());
        QVERIFY(!w->cmdCancel->isEnabled());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmScanner")));
    }

    void onePageInGreyIsAJpegUnderTheRecordsFolder()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        QVERIFY(runScan(w.get()));
        QCOMPARE(filesThere(), QStringList{QFileInfo(page(1, "jpg")).fileName()});
        QCOMPARE(w->scannedPaths(), QStringList{page(1, "jpg")});
        QImageReader reader(page(1, "jpg"));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage image = reader.read();
        // 80 x 100 mm at 75 dpi.
        QCOMPARE(image.size(), QSize(236, 295));
        QVERIFY(image.isGrayscale());
        QCOMPARE(w->lblPages->text(), QStringLiteral("已扫描 1 页"));
        QCOMPARE(w->lblMessage->text(), QStringLiteral("扫描完成，本次 1 页。"));
        QCOMPARE(w->ProgressBar1->value(), 100); // done, not "0%"
        QVERIFY(w->picPreview->pixmap().width() > 0);
        // A second page is numbered on, never written over the first.
        choose(w->cboMode, QStringLiteral("Color"));
        QVERIFY(runScan(w.get()));
        QCOMPARE(w->scannedPaths(), (QStringList{page(1, "jpg"), page(2, "jpg")}));
        QVERIFY(!QImage(page(2, "jpg")).isGrayscale());
        QCOMPARE(filesThere().size(), 2);
        QVERIFY(platform.boxes.isEmpty());
        // The choices are remembered for the next window.
        QCOMPARE(settings::read(QStringLiteral("Scan"), QStringLiteral("Mode")), QStringLiteral("Color"));
        QCOMPARE(settings::read(QStringLiteral("Scan"), QStringLiteral("Resolution")), QStringLiteral("75"));
    }

    void lineartIsAPngInBlackAndWhite()
    {
        configure({QStringLiteral("depth 1"), QStringLiteral("test-picture \"Solid black\"")});
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        QVERIFY(runScan(w.get()));
        QCOMPARE(w->scannedPaths(), QStringList{page(1, "png")});
        const QImage image(page(1, "png"));
        QCOMPARE(image.size(), QSize(236, 295));
        QCOMPARE(image.format(), QImage::Format_Mono);
        // SANE's set bit is ink: a black page is black.
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) != QColor(Qt::black))
                    QFAIL(qPrintable(QStringLiteral("white at %1,%2").arg(x).arg(y)));
    }

    void everyWayTheDriverSendsAPageMakesTheSamePicture_data()
    {
        QTest::addColumn<QStringList>("setUp");
        QTest::addColumn<QString>("mode");
        QTest::newRow("colour in three passes") << QStringList{QStringLiteral("three-pass true")} << "Color";
        QTest::newRow("three passes, blue first")
            << QStringList{QStringLiteral("three-pass true"), QStringLiteral("three-pass-order BGR")} << "Color";
    }

    void everyWayTheDriverSendsAPageMakesTheSamePicture()
    {
        QFETCH(QStringList, setUp);
        QFETCH(QString, mode);
        const QImage reference = scanOnePage({}, mode);
        const QImage image = scanOnePage(setUp, mode);
        QCOMPARE(image.size(), reference.size());
        QCOMPARE(image.isGrayscale(), reference.isGrayscale());
        // The same test pattern, sample by sample (both went through JPEG).
        int worst = 0;
        for (int y = 2; y < image.height(); y += 7)
            for (int x = 2; x < image.width(); x += 7) {
                const QColor a = image.pixelColor(x, y), b = reference.pixelColor(x, y);
                worst = std::max({worst, qAbs(a.red() - b.red()), qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue())});
            }
        QVERIFY2(worst < 48, qPrintable(QString::number(worst)));
    }

    void sixteenBitSamplesAreReadInTheirByteOrder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("grey") << "Gray";
        QTest::newRow("colour") << "Color";
    }

    void sixteenBitSamplesAreReadInTheirByteOrder()
    {
        // At 16 bits the driver's pattern has a ramp across the page: read with
        // the bytes the wrong way round it would be noise.
        QFETCH(QString, mode);
        const QImage image = scanOnePage({QStringLiteral("depth 16")}, mode);
        QCOMPARE(image.size(), QSize(236, 295));
        const int y = 150;
        int lowest = 255, highest = 0, jump = 0;
        for (int x = 12; x < 224; ++x) {
            const int v = qRed(image.pixel(x, y)); // grey, or the red ramp of the colour pattern
            lowest = qMin(lowest, v);
            highest = qMax(highest, v);
            jump = qMax(jump, qAbs(v - qRed(image.pixel(x + 1, y))));
        }
        QVERIFY2(highest - lowest > 150, qPrintable(QStringLiteral("%1..%2").arg(lowest).arg(highest)));
        QVERIFY2(jump <= 16, qPrintable(QString::number(jump)));
    }

    void aHandScannersPageOfUnknownLength()
    {
        const QImage image = scanOnePage({QStringLiteral("hand-scanner true")}, QStringLiteral("Gray"));
        QVERIFY(!image.isNull());
        // A hand scanner is 11 cm wide.
        QCOMPARE(image.width(), 324);
        QVERIFY(image.height() > 0);
    }

    void feederSourcesAreToldFromTheGlass()
    {
        QVERIFY(pictures::isFeederSource(QStringLiteral("ADF")));
        QVERIFY(pictures::isFeederSource(QStringLiteral("ADF Duplex")));
        QVERIFY(pictures::isFeederSource(QStringLiteral("Automatic Document Feeder")));
        QVERIFY(pictures::isFeederSource(QStringLiteral("Duplex")));
        QVERIFY(!pictures::isFeederSource(QStringLiteral("Flatbed")));
        QVERIFY(!pictures::isFeederSource(QStringLiteral("Transparency Adapter")));
    }

    void theWholeFeederRunsToItsEnd()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Automatic Document Feeder"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        w->chkFeeder->setChecked(true);
        QVERIFY(runScan(w.get()));
        // The test driver's feeder holds ten sheets.
        QCOMPARE(w->scannedPaths().size(), 10);
        QCOMPARE(w->scannedPaths().last(), page(10, "jpg"));
        QCOMPARE(filesThere().size(), 10);
        QCOMPARE(w->lblPages->text(), QStringLiteral("已扫描 10 页"));
        QCOMPARE(w->lblMessage->text(), QStringLiteral("扫描完成，本次 10 页。"));
        QVERIFY(platform.boxes.isEmpty());
        // Refilled: numbered on after the pages already there.
        QVERIFY(runScan(w.get()));
        QCOMPARE(w->scannedPaths().size(), 20);
        QCOMPARE(w->scannedPaths().at(10), page(11, "jpg"));
        QCOMPARE(filesThere().size(), 20);
    }

    void oneSheetAtATimeFromTheFeeder()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Automatic Document Feeder"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        QVERIFY(!w->chkFeeder->isChecked());
        QVERIFY(runScan(w.get()));
        QCOMPARE(w->scannedPaths(), QStringList{page(1, "jpg")});
    }

    void aJamOrAnErrorOfTheDriverLeavesNoFile_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("jammed") << "SANE_STATUS_JAMMED" << "扫描仪卡纸。请取出卡住的纸，再重新扫描。";
        QTest::newRow("cover") << "SANE_STATUS_COVER_OPEN" << "扫描仪的盖子没有盖好。请盖好后再扫描。";
        QTest::newRow("unplugged") << "SANE_STATUS_IO_ERROR"
                                   << "与扫描仪的连接中断（扫描仪可能已断开或关机）。请检查电源和连接线后再扫描。";
        QTest::newRow("no memory") << "SANE_STATUS_NO_MEM" << "内存不足，扫描无法继续。";
        QTest::newRow("feeder empty") << "SANE_STATUS_NO_DOCS" << "进纸器中没有纸。请放好要扫描的纸，再按“扫描”。";
    }

    void aJamOrAnErrorOfTheDriverLeavesNoFile()
    {
        QFETCH(QString, status);
        QFETCH(QString, message);
        configure({QStringLiteral("read-status-code \"%1\"").arg(status)});
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = open();
        choose(w->cboSource, QStringLiteral("Automatic Document Feeder"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        w->chkFeeder->setChecked(true);
        QVERIFY(runScan(w.get()));
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, message);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("扫描"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QCOMPARE(w->lblMessage->text(), message);
        QVERIFY(w->scannedPaths().isEmpty());
        QCOMPARE(filesThere(), QStringList());
        // The window is ready for another try.
        QVERIFY(w->cmdScan->isEnabled());
        QVERIFY(!w->cmdCancel->isEnabled());
    }

    void cancelInTheMiddleOfAPageLeavesNoHalfFile()
    {
        // Slow pages: 4 KB every 100 ms.
        configure({QStringLiteral("read-limit true"), QStringLiteral("read-limit-size 4096"),
                   QStringLiteral("read-delay true"), QStringLiteral("read-delay-duration 100000")});
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        auto *bar = w->ProgressBar1;
        QSignalSpy finished(w.get(), &frmScanner::runFinished);
        QTest::mouseClick(w->cmdScan, Qt::LeftButton);
        QVERIFY(w->scanning());
        QVERIFY(!w->cmdScan->isEnabled());
        QVERIFY(w->cmdCancel->isEnabled());
        // The window goes on answering while the page comes in.
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, kWait);
        QVERIFY(bar->value() < 100);
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
        QVERIFY(finished.wait(kWait));
        QCOMPARE(w->lblMessage->text(), QStringLiteral("扫描已取消。"));
        QCOMPARE(bar->value(), 0);
        QVERIFY(platform.boxes.isEmpty()); // no page taken: nothing to ask
        QVERIFY(w->scannedPaths().isEmpty());
        QCOMPARE(filesThere(), QStringList());
        QVERIFY(!w->scanning());
        QVERIFY(w->cmdScan->isEnabled());
    }

    void pagesTakenBeforeAFailureAreKeptOrDiscarded_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::newRow("kept") << true;
        QTest::newRow("discarded") << false;
    }

    void pagesTakenBeforeAFailureAreKeptOrDiscarded()
    {
        QFETCH(bool, keep);
        FakeSetUp unplugged;
        unplugged.unpluggedAt = 3;
        useFake(unplugged);
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->cboScanner->currentText(), QStringLiteral("Fake (fake:0)"));
        w->chkFeeder->setChecked(true);
        platform.answer(keep ? Answer::Yes : Answer::No);
        QVERIFY(runScan(w.get()));
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text,
                 QStringLiteral("与扫描仪的连接中断（扫描仪可能已断开或关机）。请检查电源和连接线后再扫描。")
                     + QStringLiteral("\r\n本次已扫描好的 2 页要保留吗？ [是/否]"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].defaultButton, Answer::Yes);
        // The third page, half sent, is never a file.
        if (keep) {
            QCOMPARE(w->scannedPaths(), (QStringList{page(1, "jpg"), page(2, "jpg")}));
            QCOMPARE(filesThere().size(), 2);
            QCOMPARE(w->lblPages->text(), QStringLiteral("已扫描 2 页"));
        } else {
            QVERIFY(w->scannedPaths().isEmpty());
            QCOMPARE(filesThere(), QStringList());
            QCOMPARE(w->lblPages->text(), QStringLiteral("已扫描 0 页"));
        }
    }

    void aPageLargerThanAllowedIsRefusedBeforeItIsRead()
    {
        pictures::ScanSession::setPixelLimitForTests(10'000);
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        const bool ran = runScan(w.get());
        pictures::ScanSession::setPixelLimitForTests(0);
        QVERIFY(ran);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("页面太大（宽 236 点），超过能保存的大小。请降低分辨率。"));
        QCOMPARE(filesThere(), QStringList());
    }

    void aDeviceThatLiesAboutItsPageIsStopped_data()
    {
        QTest::addColumn<int>("bytesPerLine");
        QTest::addColumn<int>("lines");
        QTest::addColumn<qint64>("sends");
        QTest::addColumn<QString>("message");
        QTest::newRow("lines padded a millionfold") << 1'000'000 << 10 << qint64(200)
                                                    << "扫描仪报告的页面大小不对（每行 20 点、1000000 字节，10 行）。";
        QTest::newRow("lines shorter than their pixels") << 19 << 10 << qint64(190)
                                                         << "扫描仪报告的页面大小不对（每行 20 点、19 字节，10 行）。";
        QTest::newRow("more than it announced") << 20 << 10 << qint64(100'000)
                                                << "扫描仪送来的数据超过了它报告的页面大小，页面已丢弃。";
        QTest::newRow("less than it announced") << 20 << 10 << qint64(150) << "扫描仪送来的页面不完整，已丢弃。";
        QTest::newRow("endless page of unknown length") << 20 << -1 << qint64(1'000'000)
                                                        << "扫描仪送来的数据超过了它报告的页面大小，页面已丢弃。";
    }

    void aDeviceThatLiesAboutItsPageIsStopped()
    {
        QFETCH(int, bytesPerLine);
        QFETCH(int, lines);
        QFETCH(qint64, sends);
        QFETCH(QString, message);
        FakeSetUp liar;
        liar.format.bytesPerLine = bytesPerLine;
        liar.format.lines = lines;
        liar.sends = sends;
        useFake(liar);
        pictures::ScanSession::setPixelLimitForTests(20 * 1000);
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = open();
        const bool ran = runScan(w.get());
        pictures::ScanSession::setPixelLimitForTests(0);
        QVERIFY(ran);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, message);
        QCOMPARE(filesThere(), QStringList());
        QVERIFY(w->scannedPaths().isEmpty());
    }

    void aScannerThatWillNotOpenLeavesTheOthersToChoose()
    {
        pictures::setScannerSystemFactory([] { return std::make_unique<BusyFirstSystem>(); });
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->lblMessage->text(), QStringLiteral("扫描仪 busy:0 无法打开：扫描仪正忙，可能另一个程序正在使用它。请稍后再试。"));
        QVERIFY(!w->cmdScan->isEnabled());
        QVERIFY(w->cboScanner->isEnabled());
        QSignalSpy ready(w.get(), &frmScanner::scannerReady);
        w->cboScanner->setCurrentIndex(1);
        emit w->cboScanner->activated(1);
        QVERIFY(ready.wait(kWait));
        QCOMPARE(w->lblMessage->text(), QString());
        QVERIFY(w->cmdScan->isEnabled());
        QVERIFY(runScan(w.get()));
        QCOMPARE(w->scannedPaths(), QStringList{page(1, "jpg")});
    }

    void closingWhileScanningStopsFirst()
    {
        configure({QStringLiteral("read-limit true"), QStringLiteral("read-limit-size 4096"),
                   QStringLiteral("read-delay true"), QStringLiteral("read-delay-duration 100000")});
        testing::ScriptedPlatform platform;
        auto w = open();
        choose(w->cboSource, QStringLiteral("Flatbed"));
        choose(w->cboResolution, QStringLiteral("75 dpi"));
        QSignalSpy finished(w.get(), &frmScanner::runFinished);
        QTest::mouseClick(w->cmdScan, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->ProgressBar1->value() > 0, kWait);
        w->close();
        QVERIFY(w->isVisible()); // not before the page has been thrown away
        QVERIFY(finished.wait(kWait));
        QVERIFY(!w->isVisible());
        QCOMPARE(filesThere(), QStringList());
    }

    void scannedPagesJoinTheNewRecordsPhotos()
    {
        testing::TempArchive archive;
        archive.addType(QStringLiteral("外科"));
        app::DbPath = archive.path();
        frmNewForm::Now = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
        app::BrowserLoaded = false;
        testing::ScriptedPlatform platform;
        frmNewForm form;
        form.show();
        auto *item = testing::child<QAction>(&form, QStringLiteral("MnuScanPhoto"));
        QCOMPARE(item->text(), QStringLiteral("扫描..."));
        // Offered after the picture chooser in the photo list's pop-up.
        const QList<QAction *> actions = form.List1->actions();
        QCOMPARE(actions.indexOf(item), actions.indexOf(testing::child<QAction>(&form, QStringLiteral("MnuPreviewPhoto"))) + 1);
        form.List1->addItem(QStringLiteral("/照片/先前.jpg"));
        platform.onModal = [&](QDialog &d) {
            auto *scanner = qobject_cast<frmScanner *>(&d);
            if (!scanner)
                return int(QDialog::Rejected);
            QSignalSpy ready(scanner, &frmScanner::scannerReady);
            if (!ready.wait(kWait))
                return int(QDialog::Rejected);
            choose(scanner->cboSource, QStringLiteral("Automatic Document Feeder"));
            choose(scanner->cboResolution, QStringLiteral("75 dpi"));
            scanner->chkFeeder->setChecked(true);
            runScan(scanner);
            scanner->cmdClose_Click();
            return scanner->result();
        };
        item->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmScanner")});
        QCOMPARE(form.List1->count(), 11);
        QCOMPARE(form.List1->item(1)->text(), page(1, "jpg"));
        QCOMPARE(form.List1->item(10)->text(), page(10, "jpg"));

        // Saved with the record, in list order.
        form.txtName->setText(QStringLiteral("张三"));
        form.txtPath->setText(QStringLiteral("/病案/张三.doc"));
        form.Combo1->setEditText(QStringLiteral("外科"));
        form.SaveAdd_Click();
        store::Connection c(archive.path());
        const QStringList photos = store::readPhotos(c, m_number);
        QCOMPARE(photos.size(), 11);
        QCOMPARE(photos.at(3), page(3, "jpg"));
    }

    void theDefaultFolderIsBesideTheArchive()
    {
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), QString());
        app::DbPath = QStringLiteral("/srv/病案/Data/file.dat");
        QCOMPARE(pictures::scanFolder(m_number), QStringLiteral("/srv/病案/Data/Scan/240305140709"));
        // A server's archive has no folder of this PC: the window says which setting to make,
        // and looks for no scanner.
        app::DbPath = QStringLiteral("postgresql://dbserver/casearchive?user=clerk");
        QCOMPARE(pictures::scanFolder(m_number), QString());
        {
            frmScanner w(m_number);
            QCOMPARE(w.lblMessage->text(),
                     QStringLiteral("病案数据库在服务器上，扫描的页面要保存到各工作站和备份都能访问的共享文件夹，本机没有这样的默认文件夹。"
                                    "请系统管理员在站点设置 /etc/xdg/casearchive.conf 的 [Scan] 一节中设置 Folder"
                                    "（例如 Folder=/srv/病案文件/扫描），然后再扫描。"));
            QVERIFY(!w.cmdScan->isEnabled());
            QCOMPARE(w.cboScanner->count(), 0);
        }
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), QStringLiteral("/扫描件"));
        QCOMPARE(pictures::scanFolder(m_number), QStringLiteral("/扫描件/240305140709"));
        // A number read from the archive never leads out of the folder.
        QCOMPARE(pictures::scanFolder(QStringLiteral("../../etc/passwd")), QStringLiteral("/扫描件/______etc_passwd"));
        QCOMPARE(pictures::scanFolder(QString()), QStringLiteral("/扫描件/_"));
        QCOMPARE(pictures::pageName(QStringLiteral("甲-01")), QStringLiteral("甲-01"));
    }
};

QTEST_MAIN(TestScanner)
#include "tst_scanner.moc"
