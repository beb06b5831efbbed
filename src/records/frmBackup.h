#pragma once
// The backup window: the folder chosen through the folder chooser, whether the records'
// files go along, a progress bar, and a cancel that leaves nothing half-written behind.
#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class frmBackup : public QDialog {
    Q_OBJECT
public:
    // Backs up the archive at archivePath (the one in use when empty).
    explicit frmBackup(QWidget *parent = nullptr, const QString &archivePath = QString());
    ~frmBackup() override;

    // Runs the folder chooser from the given folder; the chosen folder, or the empty text
    // when it was cancelled. The folder chooser unless a test puts another in its place.
    static std::function<QString(QWidget *parent, const QString &start)> choosePath;

    void cmdBrowse_Click();
    void cmdStart_Click();
    void cmdClose_Click(); // closes, or cancels a backup under way
    bool running() const { return m_running; }

    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void setRunning(bool running);

    QString m_archivePath;
    bool m_running = false;
    bool m_cancel = false;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QCheckBox *Check1 = nullptr;
    QLabel *Label2 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *lblStatus = nullptr;
    QPushButton *cmdStart = nullptr;
    QPushButton *cmdClose = nullptr;
};
