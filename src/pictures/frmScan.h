#pragma once
// The page viewer: a record's photos one at a time, at their own size.
#include <QDialog>

class QListWidget;

class frmScan : public QDialog {
    Q_OBJECT
public:
    // Reads the browser's photo list directly while it pages; does not copy it.
    explicit frmScan(QListWidget *photoList, QWidget *parent = nullptr);
    ~frmScan() override;

    // The photo the paging buttons treat as current; survives the window's closing.
    static int PageIndex;
};
