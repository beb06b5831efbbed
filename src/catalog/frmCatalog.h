#pragma once
// The record type window: the list of record types (table Catalog), where an operator
// adds a type, renames one (moving its records along) or deletes one with its records.
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>

class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class frmCatalog : public QDialog {
    Q_OBJECT
public:
    explicit frmCatalog(QWidget *parent = nullptr);
    ~frmCatalog() override;

    // Entry panel captions; the save action tells the two modes apart by Label1's text.
    static const QString kAddCaption;    // "请输入新的病案类型"
    static const QString kRenameCaption; // "输入修改的病案类型"

    QListWidget *ListView1 = nullptr;
    QPushButton *AddB = nullptr;
    QPushButton *cmdModify = nullptr;
    QPushButton *DeleteB = nullptr;
    QPushButton *ExitB = nullptr;
    QFrame *AddPicture = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *NewTypeName = nullptr;
    QPushButton *SaveRecord = nullptr;
    QPushButton *CancelRecord = nullptr;
    QLabel *Picture1 = nullptr; // hidden: the source of image "Top"

    // The window state the Part names.
    QString selectedType() const { return m_selectedType; }
    bool catalogChanged() const { return m_catalogChanged; }
    // ImageList1: the list's icons by key.
    QIcon image(const QString &key) const { return m_imageList1.value(key); }

public slots:
    void AddB_Click();
    void cmdModify_Click();
    void DeleteB_Click();
    void ExitB_Click();
    void SaveRecord_Click();
    void CancelRecord_Click();
    void ListView1_ItemClick(QListWidgetItem *item);
    void NewTypeName_Change();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void done(int result) override;

private:
    void buildControls();
    void Form_Load();
    void ApplyAuthority();
    // Load step 4: one item per Catalog row; throws store::StoreError.
    void fillList();
    // After a write: hide, empty and fill the list again, and show it whatever happens.
    void refillList();
    // Form_KeyDown: the window sees every key before the control that has the focus.
    // Returns true when the key is used up.
    bool Form_KeyDown(QKeyEvent *event);
    void endEntry(QPushButton *focus);
    void showStoreFailure(const QString &description);

    QHash<QString, QIcon> m_imageList1;
    QString m_selectedType;
    QString m_renameFrom; // the type the rename panel was opened for
    bool m_catalogChanged = false;
    bool m_refilling = false;
};
