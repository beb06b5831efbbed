#pragma once
// The record browser: the tree of record types and records, and the detail panel of
// the record last clicked.
#include <QColor>
#include <QWidget>
#include <functional>

class ArchiveTreeModel;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
namespace store {
class Connection;
struct SearchFilter;
} // namespace store

class frmManager : public QWidget {
    Q_OBJECT
public:
    explicit frmManager(QWidget *parent = nullptr);
    ~frmManager() override;

    // Opens the record type window for MnuFolder; the start-up wires it, since that
    // window belongs to another subsystem.
    static std::function<void(QWidget *parent)> openCatalogWindow;

    // The clock a reload measures itself by (records/ReloadFeedback.h), in milliseconds;
    // tests set their own.
    static std::function<qint64()> reloadClock;

    // The photo list marks a photo whose words matched the search with this role (true),
    // a background of kMatchedPhotoColour and a tool tip.
    static constexpr int kMatchedRole = Qt::UserRole + 7;
    static const QColor kMatchedPhotoColour;

    // Commands the main toolbar and other windows run.
    void cmdLoad_Click(); // reloads the tree; a failure is shown, never thrown
    void MnuAddFile_Click();
    void MnuModifyFile_Click();
    void MnuDeleteFile_Click();
    void MnuSearchFile_Click();

    // The pop-up menu's other commands.
    void MnuRefresh_Click();
    void MnuFolder_Click();
    void MnuOpenFile_Click();
    void MnuBackup_Click(); // the backup window
    void MnuPrintRecord_Click(); // "打印病案...": the record on show, previewed, then printed
    void MnuRecordHistory_Click(); // "历史记录...": the trail of the record on show
    void MnuHistory_Click();       // "操作历史...": the whole trail, for "超级权限" only
    void MnuRecycleBin_Click();    // "回收站...": deleted records, for "超级权限" only
    void MnuExit_Click();
    void picEditFile_Click();
    void List1_DblClick();

    // A left click on a node of the tree.
    void TreeView_NodeClick(const QModelIndex &node);
    void TreeView_Collapse(const QModelIndex &node);
    void TreeView_Expand(const QModelIndex &node);

    // The splitter drag; x is the mouse's position within the grab area, in twips.
    void imgSplit_MouseDown(int x);
    void imgSplit_MouseMove(int x);
    void imgSplit_MouseUp(int x);
    int splitterLeft() const { return m_splitLeft; } // twips
    int sliptBarLeft() const { return m_barLeft; }   // twips
    bool splitterMoving() const { return m_splitterMoving; }

    // The record on show, as other windows read it.
    QString ShownRecordNumber() const { return m_shownNumber; }
    // The archive row of the record on show, the one the record commands act on (two rows of
    // the earlier system may share a number); 0 when no record is chosen.
    qint64 shownRowId() const { return m_clickedRowId; }
    QString recordNumber() const;  // Label4: the record last clicked, empty for a type or the root
    QString recordCaption() const; // lblFileCaption: the text of the node last clicked
    QString fieldText(int index) const; // txtFields(0..2): type, attached file, description
    QListWidget *photoList() const { return List1; }
    // What the viewer shows as a photo's words: the words, or why there are none.
    static QString pageTextShown(const QString &number, const QString &photo);

    ArchiveTreeModel *treeModel() const { return m_model; }
    QTreeView *treeView() const { return TreeView; }

    void ApplyAuthority();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void Form_Load();
    void Form_Unload();
    void loadTree(); // throws store::StoreError
    void fitTreeColumn();
    // False when no row of the number is left; throws store::StoreError when it cannot read.
    bool ShowRecordDetails(const QString &number, qint64 rowId);
    void forgetShownRecord();
    // A search's preparation: whether the archive has photos' words, and how the search
    // index serves it; the search note's addition saying how many records the pages found
    // and, where the index could not serve, that every record was read and why.
    QString prepareSearch(store::Connection &connection, store::SearchFilter &filter);
    // While the search looks in the photos' words, marks the photos whose words match.
    void markPhotosWithMatchingText(store::Connection &connection, const QString &number);
    void clearDetails();
    void LayoutRule(int x);
    void ListView_Resize();
    void txtFields_Change();
    void setRecordCommands(bool enabled);
    // Runs work, showing a store failure (or any other) in "错误提示" instead of passing it on.
    void reportFailures(const std::function<void()> &work);
    void showStoreFailure(const QString &description);

    ArchiveTreeModel *m_model = nullptr;
    QTreeView *TreeView = nullptr;
    QWidget *imgSplit = nullptr;
    QWidget *SliptBar = nullptr;
    QWidget *ListView = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *lblFileCaption = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblLine = nullptr;
    QLabel *Label1[4] = {};
    QWidget *txtFields[3] = {};          // the same three controls, by index
    QLineEdit *txtType = nullptr;        // txtFields(0)
    QLineEdit *txtPath = nullptr;        // txtFields(1)
    QPlainTextEdit *txtDescription = nullptr; // txtFields(2)
    QPushButton *picEditFile = nullptr;
    QListWidget *List1 = nullptr;
    QLabel *Label3 = nullptr;

    QMenu *MnuControl = nullptr;
    QAction *MnuSearchFile = nullptr;
    QAction *MnuRefresh = nullptr;
    QAction *MnuFolder = nullptr;
    QAction *MnuAddFile = nullptr;
    QAction *MnuModifyFile = nullptr;
    QAction *MnuDeleteFile = nullptr;
    QAction *MnuOpenFile = nullptr;
    QAction *MnuBackup = nullptr;
    QAction *MnuPrintRecord = nullptr;
    QAction *MnuRecordHistory = nullptr;
    QAction *MnuHistory = nullptr;
    QAction *MnuRecycleBin = nullptr;
    QAction *MnuExit = nullptr;

    int m_splitLeft = 2700; // twips
    int m_barLeft = 0;      // twips
    bool m_splitterMoving = false;
    QString m_shownNumber;
    QString m_shownDescription; // the description on show, as stored
    qint64 m_shownRowId = 0;
    qint64 m_clickedRowId = 0; // the record node last clicked; 0 for the root or a type
    bool m_loading = false;
    bool m_reading = false;     // a tree load is under way (the window repaints meanwhile)
    bool m_readAgain = false;   // a reload was asked for during it
    bool m_unloaded = false;
};
