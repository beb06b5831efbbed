#pragma once
// The main window: toolbar, the area the record browser lives in, and the status bar.
#include <QMainWindow>

class frmManager;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The record browser living inside this window (null until loaded).
    frmManager *manager() const { return m_manager; }

private:
    frmManager *m_manager = nullptr;
};
