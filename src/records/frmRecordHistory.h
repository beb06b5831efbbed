#pragma once
// "历史记录...": the entries of one record's trail, newest first; below them the fields of
// the chosen entry before and after the change, the changed ones highlighted.
#include "trail/History.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class frmRecordHistory : public QDialog {
    Q_OBJECT
public:
    // Reads the trail of the record (its number and row identity) at once; a failure is
    // shown in "错误提示" and the window opens with an empty list.
    frmRecordHistory(const QString &number, qint64 rowId, const QString &caption, QWidget *parent = nullptr);

    // Fills a table of three columns (项目, 修改前, 修改后) with the change's fields; the
    // rows that differ are highlighted. Shared with the whole trail's window.
    static void showFields(QTableWidget *table, const store::Change &change);
    static QTableWidget *makeFieldTable(QWidget *parent);
    // The colour a changed field is shown in.
    static const QColor kChangedColour;

    const QVector<store::HistoryEntry> &entries() const { return m_entries; }

    QLabel *lblRecord = nullptr;
    QTableWidget *grdEntries = nullptr;
    QTableWidget *grdFields = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    void grdEntries_SelectionChanged();

    QVector<store::HistoryEntry> m_entries;
};
