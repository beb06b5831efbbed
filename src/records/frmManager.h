#pragma once
// The record browser: the tree of record types and records, and the detail panel of
// the record last clicked.
#include <QWidget>

class QListWidget;

class frmManager : public QWidget {
    Q_OBJECT
public:
    explicit frmManager(QWidget *parent = nullptr);
    ~frmManager() override;

    // Commands the main toolbar runs.
    void cmdLoad_Click();
    void MnuAddFile_Click();
    void MnuModifyFile_Click();
    void MnuDeleteFile_Click();
    void MnuSearchFile_Click();
};
