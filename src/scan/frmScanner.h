#pragma once
// The scan window: pages from a scanner into the record being entered or modified.
// It lists the scanners SANE finds, lets the operator choose source, colour, resolution
// and a page-at-a-time or whole-feeder run, shows each page as it arrives, and hands the
// saved pages' paths to the window that opened it. Every scanner call runs on a worker
// thread, so the window answers (and 取消 works) while a device takes its time.
#include "scan/Scanner.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QImage;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

namespace pictures {
class ScanSession;

// The folder a record's pages go into: [Scan] Folder, else "Scan" beside the archive
// file; one folder per number. Empty for an archive on a server without [Scan] Folder.
QString scanFolder(const QString &recordNumber);
// A record number as it may stand in a file name: a number of the earlier system read from
// the archive could hold anything, "../" too, and must not lead out of the folder.
QString pageName(const QString &recordNumber);
} // namespace pictures

class frmScanner : public QDialog {
    Q_OBJECT
public:
    static const QString kNoScannerMessage;
    static const QString kLookingMessage;
    // What the window says instead of looking for scanners when scanFolder() has no folder.
    static const QString kNoFolderMessage;

    explicit frmScanner(const QString &recordNumber, QWidget *parent = nullptr);
    ~frmScanner() override;

    // The pages saved and kept, in the order scanned.
    QStringList scannedPaths() const { return m_kept; }
    bool scanning() const { return m_scanning; }

    void cmdScan_Click();
    void cmdCancel_Click();
    void cmdClose_Click();

    QComboBox *cboScanner = nullptr;
    QComboBox *cboSource = nullptr;
    QComboBox *cboMode = nullptr;
    QComboBox *cboResolution = nullptr;
    QCheckBox *chkFeeder = nullptr; // the whole feeder in one run
    QLabel *picPreview = nullptr;
    QLabel *lblPages = nullptr;
    QLabel *lblMessage = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *cmdScan = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdClose = nullptr;

signals:
    // The worker has answered: the scanner list, a scanner's choices, a run's end.
    void scannersListed();
    void scannerReady();
    void runFinished();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void showScanners(const QVector<pictures::ScannerInfo> &scanners, const QString &error);
    void showChoices(const pictures::ScanChoices &choices, const QString &error);
    void showPage(const QString &path, const QImage &preview);
    void showProgress(int percent);
    void endRun(int pages, bool cancelled, const QString &message);
    void updateButtons();
    void showMessage(const QString &text);

    QString m_number;
    QThread *m_thread = nullptr;
    pictures::ScanSession *m_session = nullptr;
    QStringList m_kept;      // pages kept from every run
    QStringList m_thisRun;   // pages of the run in progress
    bool m_scanning = false;
    bool m_busy = false;     // looking for scanners or opening one
    bool m_deviceOpen = false;
    bool m_closeAfterRun = false;
};
