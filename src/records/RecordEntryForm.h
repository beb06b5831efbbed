#pragma once
// What the new record window (frmNewForm) and the modification window (frmModifyForm)
// share: the frame with the record number, the three fields with their typing limits,
// focus colours, apostrophe test, arrow keys and Enter, the photo list with its buttons,
// the type box and the two file dialogs. Each window adds its own buttons, tab order,
// load and save.
#include "pictures/SelectFile.h"
#include "store/Statements.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QFocusEvent;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

class RecordEntryForm : public QDialog {
    Q_OBJECT
public:
    ~RecordEntryForm() override;

    // Texts the operator sees.
    static const QString kNumberCaption;     // "病案记录号：", the frame caption before the number
    static const QString kBlankMessage;      // the refusal of a blank name, path or type
    static const QString kApostropheMessage; // "该项目之中有特殊字符<'>,请删除。"
    static const QString kApostropheTitle;   // "提示："
    static const QString kFailureTitle;      // "错误提示"
    static const QString kFileCaption;       // "请选择文件", both file dialogs
    static const QString kPhotoFilter;       // "*.jpg|*.jpg|*.bmp|*.bmp"
    static const QString kAnyFileFilter;     // "所有文件(*.*)|*.*|"

    // Characters the operator may type into each field. A longer text put there by the
    // program (a chosen path, a record read from the archive) is kept whole; typing
    // cannot make it longer still.
    static constexpr int kNameLimit = 50;
    static constexpr int kPathLimit = 50;
    static constexpr int kDescriptionLimit = 100;

    // What a several-line box shows of a text: it keeps its line breaks its own way (CR LF
    // and a lone CR become LF), so a text read and saved unchanged is told by this.
    static QString asShownInABox(const QString &text);

    // The number on show: the frame caption from its 7th character on.
    QString recordNumber() const;

    void Command1_Click();    // "..." beside the photo list: add a photo
    // The photo list's pop-up item: add a photo through the picture chooser, which
    // previews it first.
    void MnuPreviewPhoto_Click();
    // The photo list's pop-up item "扫描...": the scan window; the pages it kept join the list.
    void MnuScanPhoto_Click();
    void Command2_Click();    // "删除该项": remove the selected photo
    void picEditFile_Click(); // "..." beside the path, Enter or a double click in it
    virtual void SaveAdd_Click() = 0;

    QGroupBox *Frame1 = nullptr;
    QLabel *lblLabels[4] = {}; // lblLabels(0) to lblLabels(3)
    QLabel *lblType = nullptr; // lblLabels(7)
    QWidget *txtFields[3] = {};
    QLineEdit *txtName = nullptr;             // txtFields(0)
    QLineEdit *txtPath = nullptr;             // txtFields(1)
    QPlainTextEdit *txtDescription = nullptr; // txtFields(2)
    QPushButton *SaveAdd = nullptr;
    QPushButton *picEditFile = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QComboBox *Combo1 = nullptr;

protected:
    // Builds the frame and its controls at the places of the new record window; the client area and
    // the frame's own place are the window's.
    RecordEntryForm(QWidget *parent, const QString &objectName, const QString &title);

    // Sizes the window to its client area (twips), grown where the frame needs more room.
    void fitClientArea(int widthTwips, int heightTwips);

    void setRecordNumber(const QString &number);
    // Fills Combo1's list from table Catalog; a failure leaves the list as read so far.
    void loadTypes();
    // Text fields, path kept whole however long. The description comes back as it was
    // put in while it is unchanged, CR LF and all; once edited, with the line breaks of
    // the text put in (CR LF when that had them).
    void setFieldText(int index, const QString &text);
    QString fieldText(int index) const;
    void clearFields();
    QStringList photoPaths() const;
    // True, after showing the blank-field message with the given title, when the name,
    // path or type is blank.
    bool refuseBlankFields(const QString &title);
    // The record as entered, under a number; the type trimmed, as the list holds types.
    store::RecordRow enteredRecord(const QString &number) const;
    // Inside a save's transaction: a record is never saved under a type that the browser's
    // tree (built from table Catalog) does not show, so a type typed here that the list
    // lacks is added to it in the same transaction. Throws TypeRefused for one that holds
    // an apostrophe (no listed type does), store::StoreError when the store fails.
    struct TypeRefused {};
    static void saveTypeOf(store::Connection &connection, const store::RecordRow &record);
    // After a TypeRefused: the apostrophe message, the focus back in the type box.
    void refuseType();
    // What the picture chooser opened from here may delete: nothing for "只能添加", and
    // never a file that a record names.
    static pictures::DeletionRule deletionRule();
    void showStoreFailure(const QString &description);

    // Enter presses the button that has the focus and nothing else (no default button).
    void keyPressEvent(QKeyEvent *event) override;

    // Any change of one of the three text fields.
    virtual void txtFields_Change() {}

private:
    void buildControls();
    void txtFields_GotFocus(int index, Qt::FocusReason reason);
    void txtFields_LostFocus(int index, Qt::FocusReason reason);
    bool txtFields_KeyDown(int index, QKeyEvent *event); // true when the key was used

    bool m_returningFocus = false;
    QString m_descriptionPutIn; // the description as read, before any edit
};
