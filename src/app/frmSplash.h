#pragma once
// The first window of a run: the product banner for four seconds, then the login.
#include <QStringList>
#include <QWidget>

class QSvgRenderer;
class QTimer;

class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr);
    ~frmSplash() override;

    // Fires once, four seconds after the window loads.
    QTimer *Timer1 = nullptr;

    // The component registrations, in the order they are started: each file text is
    // appended to its folder exactly as written, leading backslash included.
    static QStringList registrationCommands(const QString &systemFolder, const QString &programFolder);

public slots:
    void Timer1_Timer();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();

    QSvgRenderer *m_banner = nullptr;
    bool m_done = false;
};
