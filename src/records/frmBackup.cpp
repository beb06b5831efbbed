#include "records/frmBackup.h"

#include "common/Module1.h"
#include "pictures/SelectPath.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "archive/Backup.h"
#include "store/Settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {

const QString kSection = QStringLiteral("Backup");
const QString kTitle = QStringLiteral("备份");

constexpr int kClientWidth = 6075;  // twips
constexpr int kClientHeight = 3300; // twips

QString megabytes(qint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); }

} // namespace

std::function<QString(QWidget *, const QString &)> frmBackup::choosePath =
    [](QWidget *parent, const QString &start) { return pictures::choosePath(parent, start); };

frmBackup::frmBackup(QWidget *parent, const QString &archivePath)
    : QDialog(parent), m_archivePath(archivePath.isEmpty() ? app::DbPath : archivePath)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmBackup"), QStringLiteral("备份病案数据"));
    buildControls();
    Form_Load();
}

frmBackup::~frmBackup() = default;

void frmBackup::buildControls()
{
    using platform::place;

    Label1 = new QLabel(QStringLiteral("备份到文件夹："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    platform::placeAutoSize(Label1, 180, 240);

    // Only the folder chooser fills it: a folder typed by hand is where backups go astray.
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    place(Text1, 180, 510, 5220, 315);

    cmdBrowse = new QPushButton(QStringLiteral("..."), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setToolTip(platform::plainToolTip(QStringLiteral("选择备份的磁盘和文件夹")));
    place(cmdBrowse, 5475, 495, 420, 345);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmBackup::cmdBrowse_Click);

    Check1 = new QCheckBox(QStringLiteral("同时备份病案关联的文件和照片"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setChecked(true);
    place(Check1, 180, 975, 4800, 300);

    Label2 = new QLabel(QStringLiteral("备份放在所选文件夹中新建的“病案备份-日期-时间”文件夹里，写完后逐项校验；"
                                       "没有完成或被取消的备份不会留下。"),
                        this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Label2, 180, 1365, 5715, 480);
    const int needed = Label2->heightForWidth(Label2->width());
    if (needed > Label2->height())
        Label2->resize(Label2->width(), needed);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    place(ProgressBar1, 180, qMax(1935, (Label2->geometry().bottom() + 8) * 15), 5715, 270);

    // The file being copied: a path from the archive, shown as it is.
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    place(lblStatus, 180, ProgressBar1->geometry().bottom() * 15 + 120, 5715, 270);

    const int buttonsTop = qMax(2715, lblStatus->geometry().bottom() * 15 + 150);
    cmdStart = new QPushButton(QStringLiteral("开始备份(&B)"), this);
    cmdStart->setObjectName(QStringLiteral("cmdStart"));
    cmdStart->setDefault(true);
    place(cmdStart, 3000, buttonsTop, 1335, 405);
    connect(cmdStart, &QPushButton::clicked, this, &frmBackup::cmdStart_Click);

    cmdClose = new QPushButton(QStringLiteral("关闭(&C)"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    place(cmdClose, 4560, buttonsTop, 1335, 405);
    connect(cmdClose, &QPushButton::clicked, this, &frmBackup::cmdClose_Click);

    QRect used;
    for (QWidget *w : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        used |= w->geometry();
    setFixedSize(qMax(platform::tw(kClientWidth), used.right() + 1 + platform::tw(180)),
                 qMax(platform::tw(kClientHeight), used.bottom() + 1 + platform::tw(180)));
}

void frmBackup::Form_Load()
{
    const QPoint stored = settings::readPosition(kSection);
    platform::moveToStoredPosition(this, stored);
    // The folder of the last backup, while it is still there.
    const QString last = settings::read(kSection, QStringLiteral("Path"));
    if (!last.isEmpty() && QFileInfo(last).isDir())
        Text1->setText(last);
    cmdBrowse->setEnabled(bool(choosePath));
}

void frmBackup::cmdBrowse_Click()
{
    if (!choosePath || m_running)
        return;
    const QString chosen = choosePath(this, Text1->text());
    if (!chosen.isEmpty())
        Text1->setText(chosen);
}

void frmBackup::setRunning(bool running)
{
    m_running = running;
    cmdStart->setEnabled(!running);
    cmdBrowse->setEnabled(!running && bool(choosePath));
    Check1->setEnabled(!running);
    cmdClose->setText(running ? QStringLiteral("取消(&C)") : QStringLiteral("关闭(&C)"));
}

void frmBackup::cmdStart_Click()
{
    if (m_running)
        return;
    const QString target = Text1->text();
    if (target.trimmed().isEmpty()) {
        platform::message(this, QStringLiteral("请先按“...”选择备份的磁盘和文件夹。"), kTitle, platform::Buttons::Ok,
                          platform::Icon::Exclamation);
        return;
    }
    settings::write(kSection, QStringLiteral("Path"), target);

    store::BackupOptions options;
    options.archivePath = m_archivePath;
    options.targetFolder = target;
    options.includeFiles = Check1->isChecked();
    // The scanned pages are the office's too, whether a record names them yet or not.
    if (options.includeFiles)
        options.scanFolder = store::scanFolderToKeep(m_archivePath, settings::read(QStringLiteral("Scan"), QStringLiteral("Folder")));

    m_cancel = false;
    setRunning(true);
    ProgressBar1->setValue(0);
    const store::BackupResult result = store::backupArchive(options, [this](const store::BackupProgress &p) {
        ProgressBar1->setValue(p.permille);
        QString status;
        switch (p.stage) {
        case store::BackupProgress::Database:
            status = QStringLiteral("正在复制病案数据库……");
            break;
        case store::BackupProgress::Files:
            status = QStringLiteral("正在复制：") + p.current;
            break;
        case store::BackupProgress::Verify:
            status = QStringLiteral("正在校验备份……");
            break;
        }
        lblStatus->setText(lblStatus->fontMetrics().elidedText(status, Qt::ElideMiddle, lblStatus->width()));
        // The one thread keeps drawing the bar and hears the cancel button.
        QCoreApplication::processEvents();
        return !m_cancel;
    });
    setRunning(false);

    switch (result.outcome) {
    case store::BackupResult::Verified: {
        ProgressBar1->setValue(1000);
        lblStatus->setText(QStringLiteral("备份完成。"));
        QString text = QStringLiteral("备份完成，并已校验无误。\n备份文件夹：%1\n病案 %2 条，照片 %3 条。")
                           .arg(QDir::toNativeSeparators(result.folder))
                           .arg(result.counts.detail)
                           .arg(result.counts.photo);
        if (options.includeFiles)
            text += QStringLiteral("\n复制病案关联的文件和照片 %1 个，共 %2 MB。")
                        .arg(result.filesCopied)
                        .arg(megabytes(result.bytesCopied));
        if (!options.scanFolder.isEmpty())
            text += result.scanFolderProblem.isEmpty()
                ? QStringLiteral("\n扫描文件夹中还没有病案使用的文件 %1 个也已备份。").arg(result.scanFilesCopied)
                : QStringLiteral("\n扫描文件夹“%1”不存在或不能读取，其中的文件没有备份。")
                      .arg(QDir::toNativeSeparators(options.scanFolder));
        if (!result.missing.isEmpty())
            text += QStringLiteral("\n有 %1 个文件找不到，没有备份，详见备份文件夹中的“%2”。")
                        .arg(result.missing.size())
                        .arg(store::kBackupManifestName);
        if (!result.leftoversRemoved.isEmpty())
            text += QStringLiteral("\n已删除以前中断的备份留下的 %1 个未完成的文件夹，腾出 %2 MB。")
                        .arg(result.leftoversRemoved.size())
                        .arg(megabytes(result.leftoverBytesFreed));
        if (!result.leftoversKept.isEmpty())
            text += QStringLiteral("\n“%1”中还有 %2 个未完成的备份文件夹（共 %3 MB），可能正由另一次备份写入，没有删除：%4。"
                                   "确认没有备份在进行后，可以删除它们。")
                        .arg(QDir::toNativeSeparators(options.targetFolder))
                        .arg(result.leftoversKept.size())
                        .arg(megabytes(result.leftoverBytesKept))
                        .arg(result.leftoversKept.join(QStringLiteral("、")));
        const bool remark = !result.missing.isEmpty() || !result.leftoversKept.isEmpty() || !result.scanFolderProblem.isEmpty();
        platform::message(this, text, QStringLiteral("备份完成"), platform::Buttons::Ok,
                          remark ? platform::Icon::Exclamation : platform::Icon::Information);
        break;
    }
    case store::BackupResult::Cancelled:
        ProgressBar1->setValue(0);
        lblStatus->setText(QStringLiteral("备份已取消。"));
        platform::message(this, QStringLiteral("备份已取消，没有留下不完整的备份。"), kTitle, platform::Buttons::Ok,
                          platform::Icon::Information);
        break;
    case store::BackupResult::Failed:
        ProgressBar1->setValue(0);
        lblStatus->setText(QStringLiteral("备份失败。"));
        platform::message(this, result.error + QStringLiteral("\n\n备份没有完成，也没有留下看似完整的副本。"),
                          QStringLiteral("备份失败"), platform::Buttons::Ok, platform::Icon::Critical);
        break;
    }
}

void frmBackup::cmdClose_Click()
{
    if (m_running) {
        m_cancel = true;
        return;
    }
    close();
}

void frmBackup::closeEvent(QCloseEvent *event)
{
    // The title bar's close box during a backup cancels it; the window closes afterwards
    // by the operator's next request.
    if (m_running) {
        m_cancel = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmBackup::done(int result)
{
    if (m_running) { // Esc during a backup
        m_cancel = true;
        return;
    }
    settings::writePosition(kSection, pos());
    QDialog::done(result);
}
