#pragma once
// The operator window: lists the operators of table User with their levels (a password
// shows as a mask only), adds new operators and deletes existing ones. Opened modally by the main
// window's toolbar button "USER" for the level "超级权限".
#include <QDialog>
#include <QString>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;

class frmOperator : public QDialog {
    Q_OBJECT
public:
    explicit frmOperator(QWidget *parent = nullptr);
    ~frmOperator() override;

    // The level texts offered, in list order; the first is preselected.
    static const QStringList &offeredLevels();

    QFrame *Picture1 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label8 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QTableWidget *Grid1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3[2] = {};
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    QComboBox *cmbAuthority = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QMenu *MnuOperate = nullptr;
    QAction *MnuAdd = nullptr;
    QAction *MnuDelete = nullptr;

    // The number of rows of table User found by the last successful LoadOperators.
    int operatorCount() const { return m_operatorCount; }

public slots:
    void Command1_Click(); // 保存: save a new operator
    void Command2_Click(); // 关闭
    void Text1_Change();
    void MnuAdd_Click();
    void MnuDelete_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    void buildControls();
    void buildMenu();
    void Form_Load();
    // Fills the grid from table User. A failure is reported (when `report`) and leaves
    // the grid as the last successful load left it. Returns false on failure.
    bool LoadOperators(bool report = true);
    void DeleteOperator();
    void lastOperatorLeft();
    void Text3_LostFocus();
    void passwordsDiffer();
    void Grid1_MouseDown(Qt::MouseButton button);
    void Grid1_DblClick();
    void updateDeleteEnabled();
    void showMenu();
    QString selectedName() const;
    void showFailure(const QString &description);

    int m_operatorCount = 0;
    bool m_closing = false;
    bool m_positionStored = false;
    bool m_activated = false;
};
