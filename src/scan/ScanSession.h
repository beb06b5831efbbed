#pragma once
// The scan window's worker: lives on a thread of its own, where every scanner call may
// block as long as the device likes, and reports to the window through queued signals.
// Pages are assembled from the device's frames and saved whole or not at all.
#include "scan/Scanner.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

namespace pictures {

// Turns one page's raw frames into a picture: lineart (1 bit) as a two-colour picture,
// grey and colour at 8 bits a sample. Null with error set for data it cannot take.
struct PageData {
    FrameFormat format; // of the last frame; the page's size and depth
    QByteArray gray;    // a grey page: lines of bytesPerLine
    QByteArray channels[3]; // a colour page: interleaved RGB in [0], or one band each
    bool interleaved = true;
};
QImage pageImage(const PageData &page, QString &error);

// Where the page files go and how they are written.
struct PageFiles {
    QString folder;       // made when the first page is saved
    QString recordNumber; // the files' names: <number>-001.jpg, -002.png...
    int jpegQuality = 85;
};

// Saves a page under the first free name: JPEG for grey and colour, PNG for lineart.
// Written under a temporary name in the folder and renamed only when whole; returns
// the path, or the empty text with error set (and nothing left behind).
QString savePage(const QImage &page, const PageFiles &files, QString &error);

class ScanSession : public QObject {
    Q_OBJECT
public:
    ScanSession();
    ~ScanSession() override;

    // From the window's thread, before it asks for a run: forgets an earlier cancel.
    void beginRun();
    // From the window's thread, at any time: the page being read ends at once and is
    // thrown away; no further page is started.
    void cancel();

    // The most a page may hold, in pixels; tests lower it.
    static void setPixelLimitForTests(qint64 pixels);

public slots:
    void findScanners();
    void openScanner(const QString &name);
    // One page, or sheet after sheet until the feeder is empty.
    void scan(const QString &source, const QString &mode, int resolution, bool wholeFeeder,
              const QString &folder, const QString &recordNumber, int jpegQuality);
    // Closes the device and the scanner system; the last call before the thread ends.
    void shutDown();

signals:
    void scannersFound(const QVector<pictures::ScannerInfo> &scanners, const QString &error);
    void scannerOpened(const pictures::ScanChoices &choices, const QString &error);
    void progress(int percent); // -1: the page's length is not known
    void pageSaved(const QString &path, const QImage &preview);
    // The run is over: message is empty when it ended as asked, else why it stopped.
    void runEnded(int pages, bool cancelled, const QString &message);

private:
    ScanStatus readPage(PageData &page, QString &error);

    std::unique_ptr<ScannerSystem> m_system;
    std::unique_ptr<ScannerDevice> m_device;
    QMutex m_deviceLock; // guards m_device against cancel() from the window's thread
    std::atomic_bool m_cancelled{false};
};

} // namespace pictures

Q_DECLARE_METATYPE(pictures::ScannerInfo)
Q_DECLARE_METATYPE(pictures::ScanChoices)
