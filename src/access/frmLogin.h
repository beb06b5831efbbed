#pragma once
// The login window: lists the operators of table User, checks the password typed for
// the chosen one, and opens the main window.
#include <QDialog>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(QWidget *parent = nullptr);
    ~frmLogin() override;

    // Opens the main window after a successful login. The start-up wires it; tests put
    // a hook of their own here so that a login does not have to build the main window.
    static std::function<void()> openMainWindow;

    QLabel *lblLabels[2] = {};
    QComboBox *UserTxt = nullptr;
    QLineEdit *txtPassword = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QLabel *Picture1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *www = nullptr;

    int attempt() const { return m_attempt; }

public slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    void UserTxt_Click();
    void www_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    struct Operator {
        QString name;
        QString password;  // stored form; empty when the row holds none
        QString authority; // empty when the row holds none
        qint64 rowId = 0;
    };

    void buildControls();
    void Form_Load();
    int selectedPosition() const;
    void loginFailed();
    // True when the typed password opens the stored one; replacement: its hash, when the
    // stored one is of an earlier form (empty otherwise, or when it could not be made).
    bool checkOffThread(const QString &typed, const QString &stored, QString &replacement);
    void upgradeStoredPassword(const Operator &op, const QString &hashed);
    void storePosition();

    QVector<Operator> m_operators;
    int m_attempt = 1;
    bool m_positionStored = false;
    bool m_activated = false;
    bool m_checking = false; // a password is being checked
};
