#pragma once
// The picture file chooser: drive, folder and file lists filtered by picture type, the
// chosen file's full path, a preview (fitted into a frame, or at its own size with scroll
// bars and drag-panning) and deletion of the chosen file.
#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class QScrollBar;

namespace pictures {
struct LoadedPicture;
class PictureFetch;
class DriveList;
class FolderList;
class FileList;

// Which files the chooser's "删除(&D)" may remove from the disk.
struct DeletionRule {
    bool offered = true; // false: the command is not offered at all
    // Why the file must stay, as the operator reads it, or the empty text when it may go.
    std::function<QString(const QString &path)> refusal;
};

// Runs the chooser modally, its lists starting in the folder given (the process's
// current folder when it is empty or gone); the chosen picture's full path, or the empty
// text when the operator cancelled.
QString choosePicture(QWidget *parent, const QString &startFolder = QString(), const DeletionRule &deletion = {});

// Removes a file from the disk; false when it could not be removed. Tests replace it to
// watch or refuse deletions; an empty function restores the real one.
using FileRemover = std::function<bool(const QString &path)>;
void setFileRemover(FileRemover remover);
} // namespace pictures

class SelectFile : public QDialog {
    Q_OBJECT
public:
    // The chosen path is written into target (when given) as the window closes with a
    // choice; chosenPath() holds it as well.
    explicit SelectFile(QLineEdit *target = nullptr, QWidget *parent = nullptr,
                        const QString &startFolder = QString());
    ~SelectFile() override;

    QString chosenPath() const { return m_chosen; }
    void setDeletionRule(const pictures::DeletionRule &rule) { m_deletion = rule; }

    // The type list's item texts, in order, and the pattern each one puts on the file list.
    static QStringList typeItems();
    // The pattern for an item text; the empty text for a text not in the list.
    static QString patternFor(const QString &itemText);

    // Sizes of the preview frame and of the window's two widths, in twips.
    static constexpr int kFrameWidth = 2925;
    static constexpr int kFrameHeight = 3645;
    static constexpr int kNarrowWidth = 5355;
    static constexpr int kWideWidth = 8475;
    static constexpr int kScrollMargin = 280;
    static constexpr int kCornerStep = 100;
    static constexpr int kDragDivisor = 50;

    void SelectType_Click();
    void Drive1_Change();
    void Dir1_Change();
    void File1_Click(const QString &fileName);
    void File1_DblClick();
    void File1_ContextMenu(const QPoint &pos);
    void Check1_Click();
    void Check2_Click();
    void Text1_Change();
    void Command1_Click();
    void Command3_Click();
    void HScroll1_Change(int value);
    void VScroll1_Change(int value);
    void DelFile_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void done(int result) override;

private:
    void buildControls();
    void Form_Load(const QString &startFolder);
    void previewLoad();
    void previewLoaded(const QString &path, const pictures::LoadedPicture &loaded);
    void layoutScrollBars();
    void fitPicture();
    void clearPicture();
    void showFailure(const pictures::LoadedPicture &loaded);
    // Pictures are measured in twips, as the scroll bars count.
    int pictureWidthTwips() const;
    int pictureHeightTwips() const;
    void DisplayPicture_MouseDown(const QPointF &pos);
    void DisplayPicture_MouseMove(const QPointF &pos);
    void DisplayPicture_MouseUp();
    void setWindowWidth(int twips);

    pictures::DeletionRule m_deletion;
    QPointer<QLineEdit> m_target;
    QString m_chosen;
    QPixmap m_picture;
    bool m_pictureWhole = false; // m_picture is at the picture's own size, not the frame's
    pictures::PictureFetch *m_fetch = nullptr;

    bool Dragging = false;
    int PressX = 0;
    int PressY = 0;
    int MoveX = 0;
    int MoveY = 0;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    pictures::FileList *File1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QCheckBox *Check2 = nullptr;
    QComboBox *SelectType = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    pictures::FolderList *Dir1 = nullptr;
    pictures::DriveList *Drive1 = nullptr;
    QFrame *Picture1 = nullptr;
    QLabel *DisplayPicture = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QScrollBar *VScroll1 = nullptr;
    QPushButton *Command3 = nullptr;
    QLabel *picUP = nullptr;
    QLabel *picDown = nullptr;
    QMenu *MenuEdit = nullptr;
    QAction *DelFile = nullptr;
};
