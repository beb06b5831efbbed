// The browser's controls and menu as they are built, and their layout as the window and
// the splitter between the tree and the detail panel move, the design's twips turned into
// the window's pixels. What the browser shows in them is in frmManager.cpp, its commands
// in frmManagerCommands.cpp.
#include "records/frmManager.h"

#include "common/Module1.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManagerShared.h"
#include "store/Settings.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <functional>

namespace {

constexpr int kBarMargin = 500;    // twips: the dragged bar stops this far from either edge
constexpr int kGrabWidth = 150;    // twips

int twipsOf(int pixels) { return pixels * settings::kTwipsPerPixel; }
int pixelsOf(int twips) { return qRound(twips / double(settings::kTwipsPerPixel)); }

// The invisible strip between the tree and the panel that the operator drags.
// It keeps the mouse while the button is held, so a drag that leaves it still moves
// the bar.
class SplitGrabArea : public QWidget {
public:
    using Handler = std::function<void(int twips)>;
    SplitGrabArea(QWidget *parent, Handler down, Handler move, Handler up)
        : QWidget(parent), m_down(std::move(down)), m_move(std::move(move)), m_up(std::move(up))
    {
        setCursor(Qt::SplitHCursor);
        setMouseTracking(false);
    }

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        if (e->button() == Qt::LeftButton)
            m_down(twipsOf(qRound(e->position().x())));
    }
    void mouseMoveEvent(QMouseEvent *e) override { m_move(twipsOf(qRound(e->position().x()))); }
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        if (e->button() == Qt::LeftButton)
            m_up(twipsOf(qRound(e->position().x())));
    }

private:
    Handler m_down, m_move, m_up;
};

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText); // record names are shown as typed, never as markup
    return l;
}

} // namespace

// ---------------------------------------------------------------- construction

void frmManager::buildControls()
{
    m_model = new ArchiveTreeModel(this);

    TreeView = new QTreeView(this);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setFont(platform::songFont(9));
    TreeView->setModel(m_model);
    TreeView->setHeaderHidden(true);
    TreeView->setUniformRowHeights(true);
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView->setIconSize(QSize(16, 16));
    TreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    // The column is as wide as the widest line (fitTreeColumn), so that a long name can be
    // scrolled to; letting the view measure it would draw a thousand rows' texts per load.
    TreeView->header()->setSectionResizeMode(QHeaderView::Fixed);
    TreeView->header()->setStretchLastSection(false);
    TreeView->viewport()->installEventFilter(this);
    connect(TreeView, &QTreeView::clicked, this, &frmManager::TreeView_NodeClick);
    connect(TreeView, &QTreeView::collapsed, this, &frmManager::TreeView_Collapse);
    connect(TreeView, &QTreeView::expanded, this, &frmManager::TreeView_Expand);

    ListView = new QWidget(this);
    ListView->setObjectName(QStringLiteral("ListView"));
    platform::setColors(ListView, QColor(224, 224, 224));
    platform::place(ListView, 3240, 165, 8580, 6360);
    ListView->installEventFilter(this);

    Label2 = makeLabel(ListView, QStringLiteral("Label2"), QString());
    platform::setColors(Label2, QColor(37, 148, 160));
    Label2->setGeometry(platform::tw(375), -1, platform::tw(2100), platform::tw(1035));

    lblFileCaption = makeLabel(ListView, QStringLiteral("lblFileCaption"), QStringLiteral("档案仓库"));
    lblFileCaption->setFont(platform::songFont(12));
    platform::setTextColor(lblFileCaption, Qt::white);
    platform::placeAutoSize(lblFileCaption, 1530, 330);

    Label4 = makeLabel(ListView, QStringLiteral("Label4"), QStringLiteral(" "));
    Label4->setAlignment(Qt::AlignCenter);
    platform::setTextColor(Label4, QColor(233, 233, 233));
    platform::placeAutoSize(Label4, 2445, 660);

    lblLine = makeLabel(ListView, QStringLiteral("lblLine"), QString());
    platform::setColors(lblLine, QColor(0, 192, 0));
    lblLine->setGeometry(platform::tw(285), platform::tw(990), platform::tw(3435), platform::tw(45));

    const QString captions[4] = {QStringLiteral("病案类别："), QStringLiteral("文件路径："),
                                 QStringLiteral("文件说明："), QStringLiteral("手术照片：")};
    const QColor colours[4] = {QColor(0, 0, 128), QColor(0, 0, 0), QColor(192, 0, 0), QColor(128, 0, 128)};
    const int tops[4] = {1350, 1785, 2190, 3810};
    for (int i = 0; i < 4; ++i) {
        Label1[i] = makeLabel(ListView, QStringLiteral("Label1(%1)").arg(i), captions[i]);
        platform::setTextColor(Label1[i], colours[i]);
        platform::placeAutoSize(Label1[i], 450, tops[i]);
    }

    auto styleField = [](QWidget *w) {
        platform::setColors(w, QColor(224, 224, 224), QColor(0, 0, 0));
    };
    txtType = new QLineEdit(ListView);
    txtPath = new QLineEdit(ListView);
    for (QLineEdit *e : {txtType, txtPath}) {
        e->setReadOnly(true);
        e->setFrame(false);
        styleField(e);
        e->setTextMargins(0, 0, 0, 0);
        connect(e, &QLineEdit::textChanged, this, &frmManager::txtFields_Change);
    }
    txtDescription = new QPlainTextEdit(ListView);
    txtDescription->setReadOnly(true);
    txtDescription->setFrameShape(QFrame::NoFrame);
    txtDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtDescription->document()->setDocumentMargin(0);
    styleField(txtDescription);
    connect(txtDescription, &QPlainTextEdit::textChanged, this, &frmManager::txtFields_Change);
    txtFields[0] = txtType;
    txtFields[1] = txtPath;
    txtFields[2] = txtDescription;
    for (int i = 0; i < 3; ++i)
        txtFields[i]->setObjectName(QStringLiteral("txtFields(%1)").arg(i));
    // The label beside each field sets the row; the field's own font may need more room
    // than the design height leaves, so it is centred on the label rather than clipped.
    platform::place(txtType, 1455, 1365, 4965, 195);
    platform::place(txtPath, 1455, 1785, 4965, 195);
    for (int i = 0; i < 2; ++i) {
        QWidget *f = txtFields[i];
        const int h = qMax(f->height(), f->fontMetrics().height() + 2);
        f->setGeometry(f->x(), Label1[i]->geometry().center().y() - h / 2, f->width(), h);
    }
    platform::place(txtDescription, 1455, 2160, 5010, 1350);

    picEditFile = new QPushButton(QStringLiteral("打开此病案"), ListView);
    picEditFile->setObjectName(QStringLiteral("picEditFile"));
    platform::place(picEditFile, 6570, 1680, 1215, 375);
    connect(picEditFile, &QPushButton::clicked, this, &frmManager::picEditFile_Click);

    List1 = new QListWidget(ListView);
    List1->setObjectName(QStringLiteral("List1"));
    platform::place(List1, 1410, 3720, 5085, 2370);
    List1->viewport()->installEventFilter(this);

    Label3 = makeLabel(ListView, QStringLiteral("Label3"), QStringLiteral("在所选项上双击打开照片"));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    platform::setTextColor(Label3, QColor(41, 160, 157));
    platform::place(Label3, 6600, 4050, 1305, 825);

    lblFileCaption->raise();
    Label4->raise();

    imgSplit = new SplitGrabArea(
        this, [this](int x) { imgSplit_MouseDown(x); }, [this](int x) { imgSplit_MouseMove(x); },
        [this](int x) { imgSplit_MouseUp(x); });
    imgSplit->setObjectName(QStringLiteral("imgSplit"));
    platform::place(imgSplit, 2955, 135, kGrabWidth, 4425);

    SliptBar = new QWidget(this);
    SliptBar->setObjectName(QStringLiteral("SliptBar"));
    platform::setColors(SliptBar, QColor(128, 128, 128));
    platform::place(SliptBar, 2355, 15, 60, 4740);
    SliptBar->hide();

    // picEditFile starts shown: the fields start empty and only their first change
    // decides whether there is a file to open.
}

void frmManager::buildMenu()
{
    MnuControl = new QMenu(QStringLiteral("操作中心"), this);
    MnuControl->setObjectName(QStringLiteral("MnuControl"));

    auto item = [this](const char *name, const QString &caption, const QKeySequence &shortcut,
                       void (frmManager::*handler)()) {
        auto *a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, handler);
        addAction(a); // the shortcuts work while the browser has the focus
        MnuControl->addAction(a);
        return a;
    };
    MnuSearchFile = item("MnuSearchFile", QStringLiteral("&S 查询档案"), QKeySequence(Qt::CTRL | Qt::Key_S),
                         &frmManager::MnuSearchFile_Click);
    MnuControl->addSeparator();
    MnuRefresh = item("MnuRefresh", QStringLiteral("&R 刷新仓库"), QKeySequence(Qt::CTRL | Qt::Key_F),
                      &frmManager::MnuRefresh_Click);
    MnuControl->addSeparator();
    MnuFolder = item("MnuFolder", QStringLiteral("&C 目录管理"), QKeySequence(Qt::CTRL | Qt::Key_C),
                     &frmManager::MnuFolder_Click);
    MnuControl->addSeparator();
    MnuAddFile = item("MnuAddFile", QStringLiteral("&A 添加档案"), QKeySequence(Qt::CTRL | Qt::Key_N),
                      &frmManager::MnuAddFile_Click);
    MnuModifyFile = item("MnuModifyFile", QStringLiteral("&M 修改档案"), QKeySequence(Qt::CTRL | Qt::Key_L),
                         &frmManager::MnuModifyFile_Click);
    MnuDeleteFile = item("MnuDeleteFile", QStringLiteral("&D 删除档案"), QKeySequence(Qt::CTRL | Qt::Key_D),
                         &frmManager::MnuDeleteFile_Click);
    MnuControl->addSeparator();
    MnuOpenFile = item("MnuOpenFile", QStringLiteral("&E 打开档案关联的文件"), QKeySequence(Qt::CTRL | Qt::Key_O),
                       &frmManager::MnuOpenFile_Click);
    MnuPrintRecord = item("MnuPrintRecord", QStringLiteral("&P 打印病案..."), QKeySequence(),
                          &frmManager::MnuPrintRecord_Click);
    MnuRecordHistory = item("MnuRecordHistory", QStringLiteral("&H 历史记录..."), QKeySequence(),
                            &frmManager::MnuRecordHistory_Click);
    // Offered for a record on show: an operator who may only add records sees none. The
    // whole trail and the recycle bin are for "超级权限" alone.
    connect(MnuControl, &QMenu::aboutToShow, this, [this] {
        MnuPrintRecord->setEnabled(m_clickedRowId != 0 && app::CurrentAuthority != kOnlyAdd);
        MnuRecordHistory->setEnabled(m_clickedRowId != 0 && app::CurrentAuthority != kOnlyAdd);
        MnuHistory->setVisible(app::CurrentAuthority == kSuperUser);
        MnuRecycleBin->setVisible(app::CurrentAuthority == kSuperUser);
    });
    MnuControl->addSeparator();
    MnuBackup = item("MnuBackup", QStringLiteral("&B 备份档案..."), QKeySequence(), &frmManager::MnuBackup_Click);
    MnuHistory = item("MnuHistory", QStringLiteral("&J 操作历史..."), QKeySequence(), &frmManager::MnuHistory_Click);
    MnuRecycleBin = item("MnuRecycleBin", QStringLiteral("&G 回收站..."), QKeySequence(),
                         &frmManager::MnuRecycleBin_Click);

    // Not shown on any menu; kept as a command of its own.
    MnuExit = new QAction(QStringLiteral("退出系统(&X)"), this);
    MnuExit->setObjectName(QStringLiteral("MnuExit"));
    connect(MnuExit, &QAction::triggered, this, &frmManager::MnuExit_Click);
}

// ---------------------------------------------------------------- layout and splitter

void frmManager::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The minimum size keeps the window at 3000 twips each way.
    LayoutRule(m_splitLeft);
}

void frmManager::LayoutRule(int x)
{
    const int w = twipsOf(width());
    if (x < kMinSide)
        x = kMinSide;
    if (x > w - kMinSide)
        x = w - kMinSide; // wins over the minimum when the window is narrower than both sides
    m_splitLeft = x;
    const int h = height();
    TreeView->setGeometry(0, 0, qMax(0, pixelsOf(x)), h);
    imgSplit->setGeometry(pixelsOf(x), 0, platform::tw(kGrabWidth), h);
    ListView->setGeometry(pixelsOf(x + 40), 0, qMax(0, pixelsOf(w - (x - 30))), h);
    imgSplit->raise();
}

void frmManager::ListView_Resize()
{
    const int w = ListView->width();
    lblFileCaption->move((w - lblFileCaption->width()) / 2, lblFileCaption->y());
    Label4->move((w - Label4->width()) / 2, Label4->y());
    lblLine->setGeometry(-1, lblLine->y(), w, lblLine->height());
    Label2->setGeometry(-1, Label2->y(), w, Label2->height());
}

void frmManager::imgSplit_MouseDown(int)
{
    m_barLeft = m_splitLeft;
    SliptBar->setGeometry(pixelsOf(m_splitLeft), imgSplit->y(), platform::tw(kGrabWidth / 2),
                          qMax(0, imgSplit->height() - platform::tw(20)));
    SliptBar->show();
    SliptBar->raise();
    m_splitterMoving = true;
}

void frmManager::imgSplit_MouseMove(int x)
{
    if (!m_splitterMoving)
        return;
    const int p = m_splitLeft + x;
    const int inner = twipsOf(width());
    if (p < kBarMargin)
        m_barLeft = kBarMargin;
    else if (p > inner - kBarMargin)
        m_barLeft = inner - kBarMargin;
    else
        m_barLeft = p;
    SliptBar->move(pixelsOf(m_barLeft), SliptBar->y());
}

void frmManager::imgSplit_MouseUp(int)
{
    if (!m_splitterMoving)
        return;
    LayoutRule(m_barLeft);
    SliptBar->hide();
    m_splitterMoving = false;
    settings::writeNumber(QStringLiteral("Config"), QStringLiteral("Split"), m_splitLeft);
}
