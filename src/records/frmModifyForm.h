#pragma once
// The modification window: changes the record the browser shows (its name, path,
// description, type and photos) under its own number. A save replaces that record's
// row and the number's photo rows in one transaction.
#include "records/RecordEntryForm.h"

class frmManager;

class frmModifyForm : public RecordEntryForm {
    Q_OBJECT
public:
    // Filled from the browser's display of its current record; a null browser gives an
    // empty window that cannot save.
    explicit frmModifyForm(frmManager *browser, QWidget *parent = nullptr);
    ~frmModifyForm() override;

    // Saves and closes; a refused or failed save keeps the window open as typed. A record
    // deleted meanwhile is saved again only when the operator answers Yes to kVanishedTitle.
    void SaveAdd_Click() override;
    static const QString kVanishedTitle; // "确认"

    // The row of the archive the window rewrites (0 when the browser named none).
    qint64 rowId() const { return m_rowId; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load(frmManager *browser);
    enum class Outcome { Saved, Vanished };
    // Vanished: no row of the number is left and saveAgain is false; nothing is written.
    Outcome saveRecord(bool saveAgain); // throws store::StoreError

    qint64 m_rowId = 0;
    bool m_shown = false;
};
