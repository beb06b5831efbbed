#include "scan/frmScanner.h"

#include "common/Module1.h"
#include "scan/ScanSession.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Dialect.h"
#include "store/Settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

const QString frmScanner::kNoScannerMessage = QStringLiteral(
    "没有找到扫描仪。请检查扫描仪已接通电源、连接好，并已装好它的驱动程序；"
    "在终端中运行 scanimage -L（sane-utils 软件包）可以查看系统能否找到它。");
const QString frmScanner::kLookingMessage = QStringLiteral("正在查找扫描仪……");
const QString frmScanner::kNoFolderMessage = QStringLiteral(
    "病案数据库在服务器上，扫描的页面要保存到各工作站和备份都能访问的共享文件夹，本机没有这样的默认文件夹。"
    "请系统管理员在站点设置 /etc/xdg/casearchive.conf 的 [Scan] 一节中设置 Folder"
    "（例如 Folder=/srv/病案文件/扫描），然后再扫描。");

namespace {
const QString kSection = QStringLiteral("Scan");
const QString kTitle = QStringLiteral("扫描");
constexpr int kDefaultQuality = 85;
constexpr int kPreferredResolution = 300; // what a records office files pages at
// SANE's drivers name their sources and modes in English, each driver a little
// differently; the usual names are shown in the operator's words, others as they are.
QString shownName(const QString &name)
{
    static const QHash<QString, QString> words{
        {QStringLiteral("flatbed"), QStringLiteral("平板")},
        {QStringLiteral("adf"), QStringLiteral("进纸器")},
        {QStringLiteral("automatic document feeder"), QStringLiteral("进纸器")},
        {QStringLiteral("adf front"), QStringLiteral("进纸器（正面）")},
        {QStringLiteral("adf back"), QStringLiteral("进纸器（背面）")},
        {QStringLiteral("adf duplex"), QStringLiteral("进纸器（双面）")},
        {QStringLiteral("duplex"), QStringLiteral("进纸器（双面）")},
        {QStringLiteral("transparency adapter"), QStringLiteral("透扫适配器")},
        {QStringLiteral("color"), QStringLiteral("彩色")},
        {QStringLiteral("colour"), QStringLiteral("彩色")},
        {QStringLiteral("gray"), QStringLiteral("灰度")},
        {QStringLiteral("grey"), QStringLiteral("灰度")},
        {QStringLiteral("lineart"), QStringLiteral("黑白")},
        {QStringLiteral("binary"), QStringLiteral("黑白")},
        {QStringLiteral("halftone"), QStringLiteral("半色调")},
    };
    return words.value(name.trimmed().toLower(), name);
}

} // namespace

namespace pictures {

QString pageName(const QString &recordNumber)
{
    QString name;
    for (const QChar c : recordNumber)
        name += c.isLetterOrNumber() || c == QLatin1Char('-') ? c : QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("_") : name.left(64);
}

QString scanFolder(const QString &recordNumber)
{
    QString base = settings::read(kSection, QStringLiteral("Folder")).trimmed();
    if (base.isEmpty()) {
        // Pages scanned into a server's archive belong where every workstation and the
        // backup reach them: no folder of this PC stands in for that.
        if (store::isServerAddress(app::DbPath))
            return QString();
        const QString archive = app::DbPath.isEmpty() ? app::defaultDatabasePath() : app::DbPath;
        base = QFileInfo(archive).absoluteDir().filePath(QStringLiteral("Scan"));
    }
    return QDir(base).filePath(pageName(recordNumber));
}

} // namespace pictures

frmScanner::frmScanner(const QString &recordNumber, QWidget *parent) : QDialog(parent), m_number(recordNumber)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmScanner"), kTitle);
    buildControls();

    if (pictures::scanFolder(m_number).isEmpty()) {
        // Nowhere to put the pages: no scanner is looked for, and 扫描 stays off.
        showMessage(kNoFolderMessage);
        updateButtons();
        return;
    }
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("scanner"));
    m_session = new pictures::ScanSession;
    m_session->moveToThread(m_thread);
    connect(m_session, &pictures::ScanSession::scannersFound, this, &frmScanner::showScanners);
    connect(m_session, &pictures::ScanSession::scannerOpened, this, &frmScanner::showChoices);
    connect(m_session, &pictures::ScanSession::pageSaved, this, &frmScanner::showPage);
    connect(m_session, &pictures::ScanSession::progress, this, &frmScanner::showProgress);
    connect(m_session, &pictures::ScanSession::runEnded, this, &frmScanner::endRun);
    m_thread->start();

    m_busy = true;
    showMessage(kLookingMessage);
    updateButtons();
    QMetaObject::invokeMethod(m_session, &pictures::ScanSession::findScanners, Qt::QueuedConnection);
}

frmScanner::~frmScanner()
{
    if (!m_session)
        return;
    // A device may still be reading: it is told to stop, and closed on its own thread.
    m_session->cancel();
    QMetaObject::invokeMethod(m_session, &pictures::ScanSession::shutDown, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_session;
}

void frmScanner::buildControls()
{
    auto label = [this](const QString &name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    auto combo = [this](const QString &name) {
        auto *c = new QComboBox(this);
        c->setObjectName(name);
        c->setMinimumWidth(platform::tw(3600));
        return c;
    };
    cboScanner = combo(QStringLiteral("cboScanner"));
    cboSource = combo(QStringLiteral("cboSource"));
    cboMode = combo(QStringLiteral("cboMode"));
    cboResolution = combo(QStringLiteral("cboResolution"));
    chkFeeder = new QCheckBox(QStringLiteral("连续扫描进纸器中的全部页面"), this);
    chkFeeder->setObjectName(QStringLiteral("chkFeeder"));

    auto *form = new QGridLayout;
    form->addWidget(label(QStringLiteral("lblScanner"), QStringLiteral("扫描仪:")), 0, 0);
    form->addWidget(cboScanner, 0, 1);
    form->addWidget(label(QStringLiteral("lblSource"), QStringLiteral("来源:")), 1, 0);
    form->addWidget(cboSource, 1, 1);
    form->addWidget(label(QStringLiteral("lblMode"), QStringLiteral("颜色:")), 2, 0);
    form->addWidget(cboMode, 2, 1);
    form->addWidget(label(QStringLiteral("lblResolution"), QStringLiteral("分辨率:")), 3, 0);
    form->addWidget(cboResolution, 3, 1);
    form->addWidget(chkFeeder, 4, 1);

    lblMessage = label(QStringLiteral("lblMessage"), QString());
    lblMessage->setWordWrap(true);
    lblMessage->setMinimumHeight(platform::tw(900));
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    lblPages = label(QStringLiteral("lblPages"), QStringLiteral("已扫描 0 页"));

    cmdScan = new QPushButton(QStringLiteral("扫描"), this);
    cmdScan->setObjectName(QStringLiteral("cmdScan"));
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdClose = new QPushButton(QStringLiteral("完成"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    for (QPushButton *b : {cmdScan, cmdCancel, cmdClose})
        b->setAutoDefault(false);
    connect(cmdScan, &QPushButton::clicked, this, &frmScanner::cmdScan_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmScanner::cmdCancel_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmScanner::cmdClose_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdScan);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdClose);

    auto *left = new QVBoxLayout;
    left->addLayout(form);
    left->addWidget(lblMessage);
    left->addWidget(ProgressBar1);
    left->addWidget(lblPages);
    left->addStretch();

    picPreview = new QLabel(this);
    picPreview->setObjectName(QStringLiteral("picPreview"));
    picPreview->setFixedSize(platform::tw(4500), platform::tw(5400));
    picPreview->setAlignment(Qt::AlignCenter);
    picPreview->setFrameShape(QFrame::Box);
    picPreview->setStyleSheet(QStringLiteral("background: white"));

    auto *top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(picPreview);
    auto *all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);

    connect(cboScanner, qOverload<int>(&QComboBox::activated), this, [this](int) {
        if (cboScanner->currentData().toString().isEmpty() || m_scanning)
            return;
        m_busy = true;
        m_deviceOpen = false;
        updateButtons();
        const QString name = cboScanner->currentData().toString();
        QMetaObject::invokeMethod(m_session, [this, name] { m_session->openScanner(name); }, Qt::QueuedConnection);
    });
    connect(cboSource, &QComboBox::currentIndexChanged, this, [this] { updateButtons(); });
}

void frmScanner::showMessage(const QString &text) { lblMessage->setText(text); }

void frmScanner::updateButtons()
{
    const bool idle = !m_busy && !m_scanning;
    const bool ready = idle && m_deviceOpen;
    cmdScan->setEnabled(ready);
    cmdCancel->setEnabled(m_scanning);
    // Another scanner may be picked when this one would not open.
    cboScanner->setEnabled(idle && cboScanner->count() > 0);
    for (QComboBox *box : {cboSource, cboMode, cboResolution})
        box->setEnabled(ready && box->count() > 0);
    // A flatbed never runs empty: only a feeder is scanned to its end.
    chkFeeder->setEnabled(ready && pictures::isFeederSource(cboSource->currentData().toString()));
}

void frmScanner::showScanners(const QVector<pictures::ScannerInfo> &scanners, const QString &error)
{
    cboScanner->clear();
    if (scanners.isEmpty()) {
        m_busy = false;
        showMessage(error.isEmpty() ? kNoScannerMessage : error + QLatin1Char('\n') + kNoScannerMessage);
        updateButtons();
        emit scannersListed();
        return;
    }
    const QString remembered = settings::read(kSection, QStringLiteral("Device"));
    int chosen = 0;
    for (const pictures::ScannerInfo &s : scanners) {
        if (s.name == remembered)
            chosen = cboScanner->count();
        cboScanner->addItem(s.label, s.name);
    }
    cboScanner->setCurrentIndex(chosen);
    showMessage(QString());
    emit scannersListed();
    const QString name = cboScanner->currentData().toString();
    QMetaObject::invokeMethod(m_session, [this, name] { m_session->openScanner(name); }, Qt::QueuedConnection);
}

void frmScanner::showChoices(const pictures::ScanChoices &choices, const QString &error)
{
    m_busy = false;
    auto fill = [](QComboBox *box, const QStringList &items, const QString &remembered, const QString &current) {
        box->clear();
        for (const QString &item : items)
            box->addItem(shownName(item), item);
        const int at = items.indexOf(remembered);
        box->setCurrentIndex(at >= 0 ? at : qMax(0, int(items.indexOf(current))));
    };
    fill(cboSource, choices.sources, settings::read(kSection, QStringLiteral("Source")), choices.source);
    fill(cboMode, choices.modes, settings::read(kSection, QStringLiteral("Mode")), choices.mode);
    cboResolution->clear();
    const int remembered = int(settings::readNumber(kSection, QStringLiteral("Resolution")));
    int chosen = -1;
    for (int r : choices.resolutions) {
        cboResolution->addItem(QStringLiteral("%1 dpi").arg(r), r);
        if (r == remembered)
            chosen = cboResolution->count() - 1;
    }
    if (chosen < 0)
        chosen = cboResolution->findData(choices.resolutions.contains(kPreferredResolution) ? kPreferredResolution
                                                                                          : choices.resolution);
    cboResolution->setCurrentIndex(qMax(0, chosen));
    m_deviceOpen = error.isEmpty();
    showMessage(error);
    updateButtons();
    emit scannerReady();
}

void frmScanner::cmdScan_Click()
{
    if (!cmdScan->isEnabled())
        return;
    const QString source = cboSource->currentData().toString();
    const QString mode = cboMode->currentData().toString();
    const int resolution = cboResolution->currentData().toInt();
    const bool feeder = chkFeeder->isEnabled() && chkFeeder->isChecked();
    settings::write(kSection, QStringLiteral("Device"), cboScanner->currentData().toString());
    settings::write(kSection, QStringLiteral("Source"), source);
    settings::write(kSection, QStringLiteral("Mode"), mode);
    if (resolution > 0)
        settings::writeNumber(kSection, QStringLiteral("Resolution"), resolution);
    const QString quality = settings::read(kSection, QStringLiteral("Quality"));
    const int jpegQuality = quality.isEmpty() ? kDefaultQuality : qBound(1, int(settings::leadingNumber(quality)), 100);
    const QString folder = pictures::scanFolder(m_number);
    if (folder.isEmpty()) {
        showMessage(kNoFolderMessage);
        return;
    }

    m_thisRun.clear();
    m_scanning = true;
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    showMessage(QStringLiteral("正在扫描……"));
    updateButtons();
    m_session->beginRun();
    QMetaObject::invokeMethod(
        m_session,
        [=] { m_session->scan(source, mode, resolution, feeder, folder, pictures::pageName(m_number), jpegQuality); },
        Qt::QueuedConnection);
}

void frmScanner::cmdCancel_Click()
{
    if (!m_scanning)
        return;
    showMessage(QStringLiteral("正在取消……"));
    m_session->cancel();
}

void frmScanner::cmdClose_Click()
{
    if (m_scanning) {
        m_closeAfterRun = true;
        cmdCancel_Click();
        return;
    }
    accept();
}

void frmScanner::reject()
{
    // Closing waits for the run to stop: a page half read is thrown away first.
    if (m_scanning) {
        m_closeAfterRun = true;
        cmdCancel_Click();
        return;
    }
    QDialog::reject();
}

void frmScanner::closeEvent(QCloseEvent *event)
{
    if (m_scanning) {
        event->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(event);
}

void frmScanner::showProgress(int percent)
{
    if (percent < 0) {
        ProgressBar1->setRange(0, 0); // a page of unknown length: busy, not measured
        return;
    }
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(qBound(0, percent, 100));
}

void frmScanner::showPage(const QString &path, const QImage &preview)
{
    m_thisRun << path;
    picPreview->setPixmap(QPixmap::fromImage(
        preview.scaled(picPreview->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    lblPages->setText(QStringLiteral("已扫描 %1 页").arg(m_kept.size() + m_thisRun.size()));
}

void frmScanner::endRun(int pages, bool cancelled, const QString &message)
{
    Q_UNUSED(pages);
    m_scanning = false;
    ProgressBar1->setRange(0, 100);
    // A run that ended well shows its last page whole; any other shows nothing done.
    ProgressBar1->setValue(!cancelled && message.isEmpty() ? 100 : 0);
    if (!cancelled && message.isEmpty()) {
        m_kept += m_thisRun;
        showMessage(QStringLiteral("扫描完成，本次 %1 页。").arg(m_thisRun.size()));
    } else {
        const QString why = cancelled ? QStringLiteral("扫描已取消。") : message;
        showMessage(why);
        if (!m_thisRun.isEmpty()) {
            const QString question = why + QStringLiteral("\r\n本次已扫描好的 %1 页要保留吗？ [是/否]").arg(m_thisRun.size());
            if (platform::message(this, question, kTitle, platform::Buttons::YesNo, platform::Icon::Question,
                                  platform::Answer::Yes)
                == platform::Answer::Yes) {
                m_kept += m_thisRun;
            } else {
                for (const QString &path : std::as_const(m_thisRun))
                    QFile::remove(path);
            }
        } else if (!cancelled) {
            platform::message(this, why, kTitle, platform::Buttons::Ok, platform::Icon::Exclamation);
        }
    }
    m_thisRun.clear();
    lblPages->setText(QStringLiteral("已扫描 %1 页").arg(m_kept.size()));
    updateButtons();
    emit runFinished();
    if (m_closeAfterRun) {
        m_closeAfterRun = false;
        QDialog::accept();
    }
}
