#pragma once
// The folder chooser: a drive and a folder, whose full path is handed to the window that
// opened it (the destination of a backup).
#include <QDialog>
#include <QPointer>
#include <QString>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pictures {
class DriveList;
class FolderList;

// Runs the chooser modally, starting in the folder given (the process's current folder
// when it is empty or gone); the chosen folder, or the empty text when cancelled.
QString choosePath(QWidget *parent, const QString &start = QString());
} // namespace pictures

class SelectPath : public QDialog {
    Q_OBJECT
public:
    // OK writes the chosen path into target (when given); chosenPath() holds it as well.
    explicit SelectPath(QLineEdit *target = nullptr, QWidget *parent = nullptr, const QString &start = QString());
    ~SelectPath() override;

    QString chosenPath() const { return m_chosen; }

    void Dir1_Change();
    void Drive1_Change();
    void OK_Click();
    void NOOK_Click();

private:
    void buildControls();
    void Form_Load(const QString &start);

    QPointer<QLineEdit> m_target;
    QString m_chosen;

    QLineEdit *PathList = nullptr;
    pictures::FolderList *Dir1 = nullptr;
    pictures::DriveList *Drive1 = nullptr;
    QPushButton *OK = nullptr;
    QPushButton *NOOK = nullptr;
    QFrame *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
};
