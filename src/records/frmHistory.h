#pragma once
// "操作历史...": the whole trail for a super-user, filtered by time span, operator, kind of
// change and record, sorted by a column header, read a page at a time, and exported to CSV.
#include "trail/History.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class frmHistory : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPageSize = 200;

    explicit frmHistory(QWidget *parent = nullptr);

    // The filters as the fields say, from the first page.
    void cmdQuery_Click();
    void cmdPrevious_Click();
    void cmdNext_Click();
    void cmdExport_Click();
    // A click on a column header: sorts by it, the other way round when it sorts already.
    void header_Clicked(int column);

    // The query the fields and the sort make (offset: the page on show).
    store::HistoryQuery query() const { return m_query; }
    const QVector<store::HistoryEntry> &shownEntries() const { return m_entries; }

    QCheckBox *chkFrom = nullptr;
    QDateTimeEdit *dtFrom = nullptr;
    QCheckBox *chkTo = nullptr;
    QDateTimeEdit *dtTo = nullptr;
    QLineEdit *txtOperator = nullptr;
    QComboBox *cmbKind = nullptr;
    QLineEdit *txtRecord = nullptr;
    QPushButton *cmdQuery = nullptr;
    QTableWidget *grdTrail = nullptr;
    QTableWidget *grdFields = nullptr;
    QLabel *lblPage = nullptr;
    QPushButton *cmdPrevious = nullptr;
    QPushButton *cmdNext = nullptr;
    QPushButton *cmdExport = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    void readFilters();
    void loadPage();
    void grdTrail_SelectionChanged();

    store::HistoryQuery m_query;
    QVector<store::HistoryEntry> m_entries;
    qint64 m_total = 0;
};
