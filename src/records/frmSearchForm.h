#pragma once
// The search window: the operator types a text and ticks the columns to look in it; the
// record browser then shows every type, with only the records that contain the text.
// The condition stays in force (app::SearchFilter) until the browser's refresh clears it.
#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class frmSearchForm : public QDialog {
    Q_OBJECT
public:
    explicit frmSearchForm(QWidget *parent = nullptr);
    ~frmSearchForm() override;

    static constexpr int kMaxText = 20; // characters txtSearch accepts

    void cmdSearch_Click();
    void txtSearch_Change();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void done(int result) override;

private:
    void buildControls();
    void Form_Load();

    QFrame *Frame1 = nullptr;
    // Numbered 1 to 4 as the columns are, 5 the photos' words; [0] stays empty.
    QCheckBox *chkValue[6] = {};
    QLabel *Label1 = nullptr;
    QLineEdit *txtSearch = nullptr;
    QPushButton *cmdSearch = nullptr;
};
