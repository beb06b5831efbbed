#include "records/frmRecycleBin.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/HistoryText.h"
#include "store/Settings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

const QString frmRecycleBin::kSection = QStringLiteral("RecycleBin");
const QString frmRecycleBin::kRetentionKey = QStringLiteral("RetentionDays");
const QString frmRecycleBin::kTitle = QStringLiteral("回收站");
std::function<QDateTime()> frmRecycleBin::clock = [] { return QDateTime::currentDateTimeUtc(); };

namespace {

const QString kFailureTitle = QStringLiteral("错误提示");
const QString kPromptTitle = QStringLiteral("提示：");
// A retention past this many days is as good as none (and keeps the date arithmetic sane).
constexpr double kMaxRetentionDays = 36500;

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

frmRecycleBin::frmRecycleBin(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRecycleBin"));
    setWindowTitle(kTitle);
    setFont(platform::songFont(9));
    resize(platform::tw(12000), platform::tw(7200));

    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    grdBin = new QTableWidget(0, 6, this);
    grdBin->setObjectName(QStringLiteral("grdBin"));
    grdBin->setHorizontalHeaderLabels({QStringLiteral("病案名称"), QStringLiteral("病案号"), QStringLiteral("病案类别"),
                                       QStringLiteral("删除时间"), QStringLiteral("删除人"), QStringLiteral("工作站")});
    grdBin->verticalHeader()->hide();
    grdBin->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdBin->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdBin->setSelectionMode(QAbstractItemView::SingleSelection);
    grdBin->horizontalHeader()->setStretchLastSection(true);

    cmdRestore = new QPushButton(QStringLiteral("恢复"), this);
    cmdRestore->setObjectName(QStringLiteral("cmdRestore"));
    cmdPurge = new QPushButton(QStringLiteral("彻底删除"), this);
    cmdPurge->setObjectName(QStringLiteral("cmdPurge"));
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdRestore, &QPushButton::clicked, this, &frmRecycleBin::cmdRestore_Click);
    connect(cmdPurge, &QPushButton::clicked, this, &frmRecycleBin::cmdPurge_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(this, &QDialog::finished, this, [this] {
        if (m_changed)
            app::ReloadBrowser();
    });

    auto *note = new QLabel(QStringLiteral("恢复或彻底删除都不会改动磁盘上的文件和照片。"), this);
    note->setObjectName(QStringLiteral("lblNote"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(note);
    buttons->addStretch();
    buttons->addWidget(cmdRestore);
    buttons->addWidget(cmdPurge);
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblCount);
    layout->addWidget(grdBin, 1);
    layout->addLayout(buttons);

    loadBin();
}

void frmRecycleBin::showFailure(const QString &description)
{
    platform::message(this, description, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
}

void frmRecycleBin::loadBin()
{
    m_entries.clear();
    try {
        store::Connection connection(app::DbPath);
        m_entries = store::readBin(connection);
    } catch (const store::StoreError &e) {
        showFailure(e.description());
    }
    grdBin->setRowCount(0);
    grdBin->setRowCount(m_entries.size());
    for (int r = 0; r < m_entries.size(); ++r) {
        const store::BinEntry &e = m_entries.at(r);
        grdBin->setItem(r, 0, cell(e.record.row.name));
        grdBin->setItem(r, 1, cell(e.record.row.number));
        grdBin->setItem(r, 2, cell(e.record.row.typeName));
        grdBin->setItem(r, 3, cell(records::localTimeText(e.deletedAt)));
        grdBin->setItem(r, 4, cell(e.operatorName));
        grdBin->setItem(r, 5, cell(e.workstation));
    }
    grdBin->resizeColumnsToContents();
    for (int c = 0; c + 1 < grdBin->columnCount(); ++c)
        grdBin->setColumnWidth(c, grdBin->columnWidth(c) + platform::tw(180));
    lblCount->setText(QStringLiteral("回收站中共有 %1 份病案。").arg(m_entries.size()));
    if (!m_entries.isEmpty())
        grdBin->selectRow(0);
    cmdRestore->setEnabled(!m_entries.isEmpty());
    cmdPurge->setEnabled(!m_entries.isEmpty());
}

const store::BinEntry *frmRecycleBin::selectedEntry() const
{
    const int row = grdBin->currentRow();
    if (row < 0 || row >= m_entries.size() || !grdBin->item(row, 0) || !grdBin->item(row, 0)->isSelected())
        return nullptr;
    return &m_entries.at(row);
}

QString frmRecycleBin::nameOf(const store::BinEntry &entry) const
{
    return QStringLiteral("［") + entry.record.row.name + QStringLiteral("］（病案号 ") + entry.record.row.number
        + QStringLiteral("）");
}

void frmRecycleBin::cmdRestore_Click()
{
    const store::BinEntry *entry = selectedEntry();
    if (!entry)
        return;
    const QString name = nameOf(*entry);
    store::RestoreResult result;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        result = store::restoreFromBin(connection, app::currentActor(), entry->id);
        transaction.commit();
    } catch (const store::StoreError &e) {
        showFailure(e.description());
        loadBin();
        return;
    }
    QString text;
    if (!result.restored) {
        text = QStringLiteral("病案") + name + QStringLiteral("已不在回收站中，可能已在别的工作站恢复或彻底删除。");
    } else {
        m_changed = true;
        text = result.renumbered ? QStringLiteral("病案") + name + QStringLiteral("已恢复。原病案号已被占用，改用新病案号 ")
                    + result.number + QStringLiteral("。")
                                 : QStringLiteral("病案") + name + QStringLiteral("已恢复。");
        if (result.typeRecreated)
            text += QStringLiteral("病案类别［") + entry->record.row.typeName + QStringLiteral("］已重新建立。");
    }
    platform::message(this, text, kPromptTitle, platform::Buttons::Ok, platform::Icon::Information);
    loadBin();
}

void frmRecycleBin::cmdPurge_Click()
{
    const store::BinEntry *entry = selectedEntry();
    if (!entry)
        return;
    const QString name = nameOf(*entry);
    const qint64 id = entry->id;
    if (platform::message(this,
                          QStringLiteral("真的要彻底删除病案") + name + QStringLiteral("吗？(Y/N)"),
                          QStringLiteral("确认"), platform::Buttons::YesNo, platform::Icon::Critical,
                          platform::Answer::No)
        != platform::Answer::Yes)
        return;
    if (platform::message(this,
                          QStringLiteral("彻底删除后，病案") + name
                              + QStringLiteral("再也不能恢复，只在历史记录中留下它的内容。确定吗？(Y/N)"),
                          QStringLiteral("请确认..."), platform::Buttons::YesNo, platform::Icon::Critical,
                          platform::Answer::No)
        != platform::Answer::Yes)
        return;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        store::purgeFromBin(connection, app::currentActor(), id);
        transaction.commit();
    } catch (const store::StoreError &e) {
        showFailure(e.description());
    }
    loadBin();
}

void frmRecycleBin::offerToEmptyOld()
{
    const double days = settings::readNumber(kSection, kRetentionKey);
    if (!(days >= 1))
        return; // none set (or nonsense): nothing is ever offered
    const QDateTime before = clock().addSecs(-qint64(qMin(days, kMaxRetentionDays) * 86400));
    qint64 old = 0;
    try {
        store::Connection connection(app::DbPath);
        old = store::countBinOlderThan(connection, before);
    } catch (const store::StoreError &e) {
        showFailure(e.description());
        return;
    }
    if (old == 0)
        return;
    const QString question = QStringLiteral("回收站中有 %1 份病案删除已超过 %2 天。要把它们彻底删除吗？(Y/N)")
                                 .arg(old)
                                 .arg(settings::numberText(qMin(days, kMaxRetentionDays)));
    if (platform::message(this, question, kTitle, platform::Buttons::YesNo, platform::Icon::Question,
                          platform::Answer::No)
        != platform::Answer::Yes)
        return;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        // Read again inside the transaction: only entries still older than the limit go.
        for (const store::BinEntry &e : store::readBin(connection))
            if (e.deletedAt.isValid() && e.deletedAt < before)
                store::purgeFromBin(connection, app::currentActor(), e.id);
        transaction.commit();
    } catch (const store::StoreError &e) {
        showFailure(e.description());
    }
    loadBin();
}
