#pragma once
// The scanners the scan window talks to. The window and its page loop see only these
// classes: SANE stands behind them in the program (SaneScanner.cpp), and a test may put
// a device of its own in SANE's place. Every call may block for as long as the device
// likes, so all of them but cancel() are made on the scan window's worker thread.
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

namespace pictures {

// What a scanner call came back with, in SANE's terms.
enum class ScanStatus {
    Good,
    Unsupported,
    Cancelled,
    DeviceBusy,
    Invalid,
    Eof,
    Jammed,
    NoDocs,
    CoverOpen,
    IoError,
    NoMemory,
    AccessDenied
};

// The operator's words for a status that ends a scan.
QString scanStatusText(ScanStatus status);

struct ScannerInfo {
    QString name;  // the device's name, as SANE knows it ("test:0", "genesys:libusb:001:004")
    QString label; // what the operator picks from: vendor, model and name
};

// What a device lets the operator choose, and what is chosen now.
struct ScanChoices {
    QStringList sources; // empty: the device has one source only
    QString source;
    QStringList modes;
    QString mode;
    QVector<int> resolutions; // dpi the device offers, ascending
    int resolution = 0;
};

struct ScanSettings {
    QString source;
    QString mode;
    int resolution = 0;
};

// True for a source that takes its sheets from a feeder (SANE's names vary: "ADF",
// "ADF Duplex", "Automatic Document Feeder", "Document Feeder"...).
bool isFeederSource(const QString &source);

enum class FrameKind { Gray, Rgb, Red, Green, Blue, Other };

// One frame of a page as the device announces it (SANE_Parameters).
struct FrameFormat {
    FrameKind kind = FrameKind::Gray;
    bool last = true;      // false: more frames (the other colours) follow for this page
    int bytesPerLine = 0;
    int pixelsPerLine = 0;
    int lines = -1;        // -1: not known until the page ends (hand scanners)
    int depth = 8;         // bits per sample: 1, 8 or 16
};

class ScannerDevice {
public:
    virtual ~ScannerDevice() = default;
    virtual ScanChoices choices() = 0;
    // Applies the operator's choices; the empty text, or why they were refused.
    virtual QString apply(const ScanSettings &settings) = 0;
    // Starts the next frame or page (NoDocs: the feeder is empty).
    virtual ScanStatus start() = 0;
    virtual ScanStatus format(FrameFormat &format) = 0;
    // Reads up to maxLength bytes of the frame (Eof: the frame is complete).
    virtual ScanStatus read(unsigned char *buffer, int maxLength, int &length) = 0;
    // Ends the scan in progress, or the run after its last page. Safe from any thread
    // while read() blocks: the pending read then comes back Cancelled.
    virtual void cancel() = 0;
};

class ScannerSystem {
public:
    virtual ~ScannerSystem() = default;
    // The devices the system finds; error tells why none could be looked for.
    virtual QVector<ScannerInfo> devices(QString &error) = 0;
    virtual std::unique_ptr<ScannerDevice> open(const QString &name, QString &error) = 0;
};

// SANE, unless a test has put a system of its own in its place (an empty factory
// restores SANE). Made on the worker thread.
std::unique_ptr<ScannerSystem> makeScannerSystem();
using ScannerSystemFactory = std::function<std::unique_ptr<ScannerSystem>()>;
void setScannerSystemFactory(ScannerSystemFactory factory);
// SANE as the program sees it: its drivers in the scanner helper, a process of their own.
std::unique_ptr<ScannerSystem> makeSaneSystem();
// SANE's drivers loaded into the calling process: for the scanner helper only.
std::unique_ptr<ScannerSystem> makeSaneSystemInProcess();
// How long a helper that was told to stop is given before it is killed; tests shorten it.
void setScannerHelperGraceForTests(int milliseconds);
// The clock the grace is measured by, in milliseconds (empty: the system's steady clock);
// set before a window starts its helper.
void setScannerHelperClockForTests(std::function<qint64()> milliseconds);

} // namespace pictures
