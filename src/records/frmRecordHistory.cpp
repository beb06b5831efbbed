#include "records/frmRecordHistory.h"

#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/HistoryText.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

const QColor frmRecordHistory::kChangedColour = QColor(255, 236, 160);

namespace {

QTableWidgetItem *cell(const QString &text)
{
    // QTableWidgetItem shows its text as it is: archived text is never read as markup.
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    // Tool tips read markup: the text goes in escaped.
    item->setToolTip(text.size() > 40 ? platform::plainToolTip(text.left(2000)) : QString());
    return item;
}

} // namespace

QTableWidget *frmRecordHistory::makeFieldTable(QWidget *parent)
{
    auto *t = new QTableWidget(0, 3, parent);
    t->setHorizontalHeaderLabels({QStringLiteral("项目"), QStringLiteral("修改前"), QStringLiteral("修改后")});
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setWordWrap(true);
    t->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    t->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    t->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    t->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return t;
}

void frmRecordHistory::showFields(QTableWidget *table, const store::Change &change)
{
    table->setRowCount(0);
    if (!change.before && !change.after)
        return;
    const QVector<records::FieldChange> fields = records::compareStates(change.before, change.after);
    table->setRowCount(fields.size());
    for (int r = 0; r < fields.size(); ++r) {
        const records::FieldChange &f = fields.at(r);
        QTableWidgetItem *items[3] = {cell(f.label), cell(f.before), cell(f.after)};
        for (int c = 0; c < 3; ++c) {
            if (f.changed) {
                items[c]->setBackground(kChangedColour);
                QFont bold = table->font();
                bold.setBold(true);
                items[c]->setFont(bold);
            }
            table->setItem(r, c, items[c]);
        }
    }
}

frmRecordHistory::frmRecordHistory(const QString &number, qint64 rowId, const QString &caption, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRecordHistory"));
    setWindowTitle(QStringLiteral("历史记录 - 病案 ") + number);
    setFont(platform::songFont(9));
    resize(platform::tw(12000), platform::tw(8400));

    lblRecord = new QLabel(QStringLiteral("病案：%1　病案号：%2").arg(caption, number), this);
    lblRecord->setObjectName(QStringLiteral("lblRecord"));
    lblRecord->setTextFormat(Qt::PlainText);

    grdEntries = new QTableWidget(0, 5, this);
    grdEntries->setObjectName(QStringLiteral("grdEntries"));
    grdEntries->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作"), QStringLiteral("操作员"),
                                           QStringLiteral("工作站"), QStringLiteral("说明")});
    grdEntries->verticalHeader()->hide();
    grdEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdEntries->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdEntries->setSelectionMode(QAbstractItemView::SingleSelection);
    grdEntries->horizontalHeader()->setStretchLastSection(true);

    grdFields = makeFieldTable(this);
    grdFields->setObjectName(QStringLiteral("grdFields"));

    auto *lblFields = new QLabel(QStringLiteral("所选操作前后的病案内容（有改动的项目以底色标出）："), this);
    lblFields->setObjectName(QStringLiteral("lblFields"));

    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(grdEntries);
    auto *lower = new QWidget(split);
    auto *lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(lblFields);
    lowerLayout->addWidget(grdFields);
    split->addWidget(lower);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblRecord);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    try {
        store::Connection connection(app::DbPath);
        m_entries = store::readRecordHistory(connection, number, rowId);
    } catch (const store::StoreError &e) {
        platform::message(this, e.description(), QStringLiteral("错误提示"), platform::Buttons::Ok,
                          platform::Icon::Critical);
    }
    grdEntries->setRowCount(m_entries.size());
    for (int r = 0; r < m_entries.size(); ++r) {
        const store::HistoryEntry &e = m_entries.at(r);
        grdEntries->setItem(r, 0, cell(records::localTimeText(e.when)));
        grdEntries->setItem(r, 1, cell(store::changeKindText(e.change.kind)));
        grdEntries->setItem(r, 2, cell(e.operatorName));
        grdEntries->setItem(r, 3, cell(e.workstation));
        grdEntries->setItem(r, 4, cell(records::entrySummary(e)));
    }
    grdEntries->resizeColumnsToContents();
    for (int c = 0; c + 1 < grdEntries->columnCount(); ++c)
        grdEntries->setColumnWidth(c, grdEntries->columnWidth(c) + platform::tw(180));
    connect(grdEntries, &QTableWidget::itemSelectionChanged, this, &frmRecordHistory::grdEntries_SelectionChanged);
    if (!m_entries.isEmpty())
        grdEntries->selectRow(0);
}

void frmRecordHistory::grdEntries_SelectionChanged()
{
    const int row = grdEntries->currentRow();
    if (row < 0 || row >= m_entries.size()) {
        grdFields->setRowCount(0);
        return;
    }
    showFields(grdFields, m_entries.at(row).change);
}
