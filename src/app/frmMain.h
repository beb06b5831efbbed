#pragma once
// The main window: toolbar, the area the record browser lives in, and the status bar.
#include <QHash>
#include <QMainWindow>
#include <QPointer>

class frmManager;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QTimer;
class QToolBar;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The record browser living inside this window (null until loaded, or once it is gone).
    frmManager *manager() const;

    // Runs the toolbar button with the given key, as a press on it does.
    void Toolbar1_ButtonClick(const QString &key);

    // Panel 4: the current time; the clock timer calls it.
    void updateClock();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    QMenu *createPopupMenu() override;

private:
    void createActions();
    void createToolBars();
    void createLinkPanel();
    void createStatusBar();
    void loadWindow();
    void openBrowser();
    void placeLinkPanel();
    void setLinkColor(const QColor &color);
    void openWebAddress();
    void closeOtherWindows();

    QPointer<frmManager> m_manager;
    QPointer<QMdiSubWindow> m_browserWindow;
    QMdiArea *m_mdiArea = nullptr;
    QToolBar *m_toolbar = nullptr;
    QHash<QString, QAction *> m_buttons;
    QWidget *m_linkStrip = nullptr; // the toolbar's free room to the right of the buttons
    QWidget *m_picture1 = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_www = nullptr;
    QLabel *m_panels[4] = {nullptr, nullptr, nullptr, nullptr};
    QTimer *m_clock = nullptr;
    bool m_closing = false;
};
