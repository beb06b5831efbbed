#include "records/frmHistory.h"

#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/HistoryText.h"
#include "records/frmRecordHistory.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString kFailureTitle = QStringLiteral("错误提示");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The grid's columns and the order each sorts by; the last column sorts by nothing.
const store::HistoryQuery::Column kSortColumns[] = {
    store::HistoryQuery::Column::When, store::HistoryQuery::Column::Operator,
    store::HistoryQuery::Column::Workstation, store::HistoryQuery::Column::Kind,
    store::HistoryQuery::Column::Number};
constexpr int kSortable = 5;

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QLabel *label(QWidget *parent, const char *name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

QDateTimeEdit *timeEdit(QWidget *parent, const char *name, const QDateTime &start)
{
    auto *e = new QDateTimeEdit(start, parent);
    e->setObjectName(QLatin1String(name));
    e->setDisplayFormat(kTimeFormat);
    e->setCalendarPopup(true);
    e->setEnabled(false); // until its check box says the span has that end
    return e;
}

} // namespace

frmHistory::frmHistory(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("操作历史"));
    setFont(platform::songFont(9));
    resize(platform::tw(15000), platform::tw(9600));

    const QDateTime now = QDateTime::currentDateTime();
    chkFrom = new QCheckBox(QStringLiteral("从"), this);
    chkFrom->setObjectName(QStringLiteral("chkFrom"));
    dtFrom = timeEdit(this, "dtFrom", QDateTime(now.date().addDays(-30), QTime(0, 0)));
    chkTo = new QCheckBox(QStringLiteral("到"), this);
    chkTo->setObjectName(QStringLiteral("chkTo"));
    dtTo = timeEdit(this, "dtTo", QDateTime(now.date(), QTime(23, 59, 59)));
    connect(chkFrom, &QCheckBox::toggled, dtFrom, &QWidget::setEnabled);
    connect(chkTo, &QCheckBox::toggled, dtTo, &QWidget::setEnabled);

    txtOperator = new QLineEdit(this);
    txtOperator->setObjectName(QStringLiteral("txtOperator"));
    cmbKind = new QComboBox(this);
    cmbKind->setObjectName(QStringLiteral("cmbKind"));
    cmbKind->addItem(QStringLiteral("全部操作"));
    for (store::ChangeKind k : store::changeKinds())
        cmbKind->addItem(store::changeKindText(k), int(k));
    txtRecord = new QLineEdit(this);
    txtRecord->setObjectName(QStringLiteral("txtRecord"));
    txtRecord->setPlaceholderText(QStringLiteral("可用 * 和 ?"));
    cmdQuery = new QPushButton(QStringLiteral("查询"), this);
    cmdQuery->setObjectName(QStringLiteral("cmdQuery"));
    cmdQuery->setDefault(true);

    // The time edits are wide enough for the whole time they show.
    const int timeWidth = dtFrom->fontMetrics().horizontalAdvance(QStringLiteral("2000-00-00 00:00:00")) + 48;
    dtFrom->setMinimumWidth(timeWidth);
    dtTo->setMinimumWidth(timeWidth);
    txtOperator->setMinimumWidth(platform::tw(1800));
    txtRecord->setMinimumWidth(platform::tw(2400));
    auto *span = new QHBoxLayout;
    span->addWidget(chkFrom);
    span->addWidget(dtFrom);
    span->addSpacing(platform::tw(150));
    span->addWidget(chkTo);
    span->addWidget(dtTo);
    span->addSpacing(platform::tw(300));
    span->addWidget(label(this, "lblOperator", QStringLiteral("操作员：")));
    span->addWidget(txtOperator);
    span->addStretch();
    auto *choice = new QHBoxLayout;
    choice->addWidget(label(this, "lblKind", QStringLiteral("操作：")));
    choice->addWidget(cmbKind);
    choice->addSpacing(platform::tw(300));
    choice->addWidget(label(this, "lblRecord", QStringLiteral("病案号或病案名称：")));
    choice->addWidget(txtRecord);
    choice->addSpacing(platform::tw(300));
    choice->addWidget(cmdQuery);
    choice->addStretch();
    auto *filters = new QVBoxLayout;
    filters->addLayout(span);
    filters->addLayout(choice);

    grdTrail = new QTableWidget(0, 6, this);
    grdTrail->setObjectName(QStringLiteral("grdTrail"));
    grdTrail->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作员"), QStringLiteral("工作站"),
                                         QStringLiteral("操作"), QStringLiteral("病案号"), QStringLiteral("说明")});
    grdTrail->verticalHeader()->hide();
    grdTrail->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTrail->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdTrail->setSelectionMode(QAbstractItemView::SingleSelection);
    grdTrail->horizontalHeader()->setStretchLastSection(true);
    grdTrail->horizontalHeader()->setSectionsClickable(true);
    grdTrail->horizontalHeader()->setSortIndicatorShown(true);
    grdTrail->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    grdFields = frmRecordHistory::makeFieldTable(this);
    grdFields->setObjectName(QStringLiteral("grdFields"));

    lblPage = label(this, "lblPage", QString());
    cmdPrevious = new QPushButton(QStringLiteral("上一页"), this);
    cmdPrevious->setObjectName(QStringLiteral("cmdPrevious"));
    cmdNext = new QPushButton(QStringLiteral("下一页"), this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdExport = new QPushButton(QStringLiteral("导出CSV..."), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(grdTrail);
    split->addWidget(grdFields);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lblPage);
    buttons->addStretch();
    buttons->addWidget(cmdPrevious);
    buttons->addWidget(cmdNext);
    buttons->addSpacing(platform::tw(300));
    buttons->addWidget(cmdExport);
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(cmdQuery, &QPushButton::clicked, this, &frmHistory::cmdQuery_Click);
    connect(cmdPrevious, &QPushButton::clicked, this, &frmHistory::cmdPrevious_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmHistory::cmdNext_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmHistory::cmdExport_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(grdTrail->horizontalHeader(), &QHeaderView::sectionClicked, this, &frmHistory::header_Clicked);
    connect(grdTrail, &QTableWidget::itemSelectionChanged, this, &frmHistory::grdTrail_SelectionChanged);

    m_query.limit = kPageSize;
    cmdQuery_Click();
}

void frmHistory::readFilters()
{
    m_query.from = chkFrom->isChecked() ? dtFrom->dateTime().toUTC() : QDateTime();
    m_query.to = chkTo->isChecked() ? dtTo->dateTime().toUTC() : QDateTime();
    m_query.operatorName = txtOperator->text().trimmed();
    m_query.kinds.clear();
    if (cmbKind->currentIndex() > 0)
        m_query.kinds.append(store::ChangeKind(cmbKind->currentData().toInt()));
    m_query.record = txtRecord->text().trimmed();
}

void frmHistory::cmdQuery_Click()
{
    readFilters();
    m_query.offset = 0;
    loadPage();
}

void frmHistory::cmdPrevious_Click()
{
    if (m_query.offset == 0)
        return;
    m_query.offset = qMax(0, m_query.offset - kPageSize);
    loadPage();
}

void frmHistory::cmdNext_Click()
{
    if (m_query.offset + kPageSize >= m_total)
        return;
    m_query.offset += kPageSize;
    loadPage();
}

void frmHistory::header_Clicked(int column)
{
    if (column < 0 || column >= kSortable) {
        // Not a column the trail sorts by: the indicator goes back to the sort in force.
        for (int c = 0; c < kSortable; ++c)
            if (kSortColumns[c] == m_query.sortBy)
                grdTrail->horizontalHeader()->setSortIndicator(
                    c, m_query.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        return;
    }
    if (m_query.sortBy == kSortColumns[column]) {
        m_query.descending = !m_query.descending;
    } else {
        m_query.sortBy = kSortColumns[column];
        // Times read newest first, names from A.
        m_query.descending = column == 0;
    }
    grdTrail->horizontalHeader()->setSortIndicator(column,
                                                   m_query.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    m_query.offset = 0;
    loadPage();
}

void frmHistory::loadPage()
{
    m_entries.clear();
    m_total = 0;
    try {
        const platform::BusyCursor busy;
        store::Connection connection(app::DbPath);
        m_total = store::countHistory(connection, m_query);
        m_entries = store::readHistory(connection, m_query);
    } catch (const store::StoreError &e) {
        platform::message(this, e.description(), kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
    }
    grdTrail->setRowCount(0);
    grdFields->setRowCount(0);
    grdTrail->setRowCount(m_entries.size());
    for (int r = 0; r < m_entries.size(); ++r) {
        const store::HistoryEntry &e = m_entries.at(r);
        grdTrail->setItem(r, 0, cell(records::localTimeText(e.when)));
        grdTrail->setItem(r, 1, cell(e.operatorName));
        grdTrail->setItem(r, 2, cell(e.workstation));
        grdTrail->setItem(r, 3, cell(store::changeKindText(e.change.kind)));
        grdTrail->setItem(r, 4, cell(e.change.number));
        grdTrail->setItem(r, 5, cell(records::entrySummary(e)));
    }
    grdTrail->resizeColumnsToContents();
    for (int c = 0; c + 1 < grdTrail->columnCount(); ++c)
        grdTrail->setColumnWidth(c, grdTrail->columnWidth(c) + platform::tw(180));
    const qint64 pages = qMax<qint64>(1, (m_total + kPageSize - 1) / kPageSize);
    const qint64 page = m_query.offset / kPageSize + 1;
    lblPage->setText(QStringLiteral("第 %1/%2 页，共 %3 条").arg(page).arg(pages).arg(m_total));
    cmdPrevious->setEnabled(m_query.offset > 0);
    cmdNext->setEnabled(m_query.offset + kPageSize < m_total);
    cmdExport->setEnabled(m_total > 0);
}

void frmHistory::grdTrail_SelectionChanged()
{
    const int row = grdTrail->currentRow();
    if (row < 0 || row >= m_entries.size())
        grdFields->setRowCount(0);
    else
        frmRecordHistory::showFields(grdFields, m_entries.at(row).change);
}

void frmHistory::cmdExport_Click()
{
    const QString path = platform::saveFileName(this, QStringLiteral("导出操作历史"),
                                                QDir::home().filePath(QStringLiteral("操作历史.csv")),
                                                QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    qint64 written = 0;
    try {
        const platform::BusyCursor busy;
        store::Connection connection(app::DbPath);
        written = records::exportHistoryCsv(connection, m_query, path);
    } catch (const store::StoreError &e) {
        platform::message(this, e.description(), kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
        return;
    }
    platform::message(this,
                      QStringLiteral("已把 %1 条操作历史导出到文件 %2。").arg(written).arg(QDir::toNativeSeparators(path)),
                      QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Information);
}
