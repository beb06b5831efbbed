#include "catalog/frmCatalog.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "trail/RecycleBin.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>

const QString frmCatalog::kAddCaption = QStringLiteral("请输入新的病案类型");
const QString frmCatalog::kRenameCaption = QStringLiteral("输入修改的病案类型");

namespace {

const QString kSection = QStringLiteral("Type");
const QString kTopKey = QStringLiteral("Top");
const QString kOnlyAdd = QStringLiteral("只能添加");
const QString kNoModify = QStringLiteral("不能修改");
const QString kSystemTitle = QStringLiteral("病案管理系统");
const QString kPromptTitle = QStringLiteral("提示：");
const QString kFailureTitle = QStringLiteral("错误提示");
const QColor kModeColour(192, 64, 0);

constexpr int kClientWidth = 7845;  // twips
constexpr int kClientHeight = 5070; // twips

// A tool tip that shows a type name as it is, even one that looks like markup.
} // namespace

frmCatalog::frmCatalog(QWidget *parent) : QDialog(parent)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmCatalog"), QStringLiteral("病案类型维护"));
    buildControls();
    Form_Load();
}

frmCatalog::~frmCatalog() = default;

// ---------------------------------------------------------------- construction

void frmCatalog::buildControls()
{
    using platform::place;

    ListView1 = new QListWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setStatusTip(QStringLiteral("已经定义的病案类型"));
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers); // never edited in place
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    place(ListView1, 60, 60, 5685, 4965);

    auto button = [this](const char *name, const QString &caption, const QString &hint, int top) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setStatusTip(hint);
        place(b, 5955, top, 1575, 330);
        // The four stand edge to edge, as designed, while the caption has room.
        if (b->fontMetrics().height() + 4 <= platform::tw(330))
            b->resize(b->width(), platform::tw(330));
        return b;
    };
    AddB = button("AddB", QStringLiteral("添 加(&A)"), QStringLiteral("添加新的病案类型"), 210);
    cmdModify = button("cmdModify", QStringLiteral("修 改(&M)"), QStringLiteral("修改左边选定的病案类型"), 540);
    DeleteB = button("DeleteB", QStringLiteral("删 除(&D)"), QStringLiteral("删除左边选定的病案类型"), 870);
    ExitB = button("ExitB", QStringLiteral("关 闭(&C)"), QStringLiteral("关闭"), 1200);

    AddPicture = new QFrame(this);
    AddPicture->setObjectName(QStringLiteral("AddPicture"));
    AddPicture->setFrameShape(QFrame::StyledPanel);
    AddPicture->setFrameShadow(QFrame::Sunken);
    place(AddPicture, 5745, 1605, 1860, 1440);

    Label1 = new QLabel(kAddCaption, AddPicture);
    Label1->setObjectName(QStringLiteral("Label1"));
    platform::setTextColor(Label1, kModeColour);
    place(Label1, 165, 195, 1620, 180);
    {
        // Either caption must show whole.
        const QFontMetrics fm(Label1->font());
        const int need = qMax(fm.horizontalAdvance(kAddCaption), fm.horizontalAdvance(kRenameCaption)) + 2;
        Label1->resize(qMax(Label1->width(), need), qMax(Label1->height(), fm.height()));
    }

    NewTypeName = new QLineEdit(AddPicture);
    NewTypeName->setObjectName(QStringLiteral("NewTypeName"));
    NewTypeName->setStatusTip(kAddCaption);
    place(NewTypeName, 195, 480, 1590, 300);

    SaveRecord = new QPushButton(QStringLiteral("保存"), AddPicture);
    SaveRecord->setObjectName(QStringLiteral("SaveRecord"));
    SaveRecord->setStatusTip(QStringLiteral("保存新类型并返回"));
    SaveRecord->setDefault(true); // Enter saves while it is enabled
    SaveRecord->setEnabled(false);
    place(SaveRecord, 210, 885, 795, 390);

    CancelRecord = new QPushButton(QStringLiteral("取消"), AddPicture);
    CancelRecord->setObjectName(QStringLiteral("CancelRecord"));
    CancelRecord->setStatusTip(QStringLiteral("放弃保存病案新类型"));
    place(CancelRecord, 1020, 885, 795, 390);

    // The panel grows where its captions need more room than the design leaves.
    {
        QRect used;
        for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(NewTypeName),
                           static_cast<QWidget *>(SaveRecord), static_cast<QWidget *>(CancelRecord)})
            used |= w->geometry();
        AddPicture->resize(qMax(AddPicture->width(), used.right() + 1 + platform::tw(60)),
                           qMax(AddPicture->height(), used.bottom() + 1 + platform::tw(60)));
    }
    AddPicture->hide();

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(QIcon(QStringLiteral(":/icons/catalog.svg")).pixmap(32, 32));
    Picture1->setGeometry(0, 0, 32, 32);
    Picture1->hide();

    setTabOrder(ListView1, AddB);
    setTabOrder(AddB, cmdModify);
    setTabOrder(cmdModify, DeleteB);
    setTabOrder(DeleteB, ExitB);
    setTabOrder(ExitB, NewTypeName);
    setTabOrder(NewTypeName, SaveRecord);
    setTabOrder(SaveRecord, CancelRecord);

    connect(AddB, &QPushButton::clicked, this, &frmCatalog::AddB_Click);
    connect(cmdModify, &QPushButton::clicked, this, &frmCatalog::cmdModify_Click);
    connect(DeleteB, &QPushButton::clicked, this, &frmCatalog::DeleteB_Click);
    connect(ExitB, &QPushButton::clicked, this, &frmCatalog::ExitB_Click);
    connect(SaveRecord, &QPushButton::clicked, this, &frmCatalog::SaveRecord_Click);
    connect(CancelRecord, &QPushButton::clicked, this, &frmCatalog::CancelRecord_Click);
    connect(NewTypeName, &QLineEdit::textChanged, this, &frmCatalog::NewTypeName_Change);
    connect(ListView1, &QListWidget::itemClicked, this, &frmCatalog::ListView1_ItemClick);
    // An item chosen with the keys counts as clicked, as in the list view of old.
    connect(ListView1, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_refilling)
            return;
        const QList<QListWidgetItem *> chosen = ListView1->selectedItems();
        if (!chosen.isEmpty())
            ListView1_ItemClick(chosen.first());
    });

    // Hints on the mouse's arrival, and the keys before the focused control sees them.
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    // The client area is 7845 × 5070 twips, grown where the captions need room.
    QRect used;
    for (QWidget *w : {static_cast<QWidget *>(ListView1), static_cast<QWidget *>(AddB),
                       static_cast<QWidget *>(cmdModify), static_cast<QWidget *>(DeleteB),
                       static_cast<QWidget *>(ExitB), static_cast<QWidget *>(AddPicture)})
        used |= w->geometry();
    setFixedSize(qMax(platform::tw(kClientWidth), used.right() + 1 + platform::tw(60)),
                 qMax(platform::tw(kClientHeight), used.bottom() + 1 + platform::tw(45)));
}

// ---------------------------------------------------------------- load and unload

void frmCatalog::Form_Load()
{
    // 1. The stored position (0, 0 when none is stored); a position that no screen
    // shows any more (a monitor taken away) gives way to the middle of the screen.
    const QPoint stored = settings::readPosition(kSection);
    platform::moveToStoredPosition(this, stored);

    // 2.
    ApplyAuthority();

    // 3. Image 1 of ImageList1, key "Top"; the list shows large icons.
    m_imageList1.insert(kTopKey, QIcon(Picture1->pixmap()));
    ListView1->setViewMode(QListView::IconMode);
    ListView1->setIconSize(QSize(32, 32));
    ListView1->setMovement(QListView::Static); // items stay where the list puts them
    ListView1->setDragEnabled(false);
    ListView1->setAcceptDrops(false);
    ListView1->setFlow(QListView::LeftToRight);
    ListView1->setWrapping(true);
    ListView1->setResizeMode(QListView::Adjust);
    ListView1->setWordWrap(true);
    ListView1->setTextElideMode(Qt::ElideRight);
    ListView1->setSpacing(0);
    {
        const QFontMetrics fm(ListView1->font());
        const int width = qMax(76, fm.horizontalAdvance(QStringLiteral("病案类型名称")) + 10);
        ListView1->setGridSize(QSize(width, 32 + 8 + 2 * fm.lineSpacing() + 4));
    }

    // 4. A failing read leaves the list as far as it got; the window opens all the same.
    try {
        fillList();
    } catch (const store::StoreError &) {
    } catch (const std::exception &) {
    }

    // 5.
    m_selectedType.clear();
    m_catalogChanged = false;
}

void frmCatalog::done(int result)
{
    // Every way of closing (关 闭, Esc, the close box) comes here.
    settings::writePosition(kSection, pos());
    QDialog::done(result);
}

// ---------------------------------------------------------------- the list

void frmCatalog::fillList()
{
    store::Connection connection(app::DbPath);
    const QStringList names = store::readTypes(connection);
    const QIcon top = m_imageList1.value(kTopKey);
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(top, name);
        item->setData(Qt::UserRole, name); // the item's key
        item->setToolTip(platform::plainToolTip(name));  // a long name is cut short under its icon
        ListView1->addItem(item);
    }
}

void frmCatalog::refillList()
{
    const bool hadFocus = ListView1->hasFocus();
    m_refilling = true;
    ListView1->hide();
    ListView1->clear();
    QString failure;
    try {
        fillList();
    } catch (const store::StoreError &e) {
        failure = e.description();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    // The list comes back whatever the read did.
    ListView1->show();
    m_refilling = false;
    if (hadFocus && !AddPicture->isVisible())
        ListView1->setFocus();
    if (!failure.isEmpty())
        showStoreFailure(failure);
}

void frmCatalog::ListView1_ItemClick(QListWidgetItem *item)
{
    if (item)
        m_selectedType = item->text();
}

void frmCatalog::NewTypeName_Change() { SaveRecord->setEnabled(!NewTypeName->text().trimmed().isEmpty()); }

// ---------------------------------------------------------------- authority

void frmCatalog::ApplyAuthority()
{
    // Only ever switches off; nothing is switched on here.
    const QString &level = app::CurrentAuthority;
    if (level == kOnlyAdd || level == kNoModify) {
        cmdModify->setEnabled(false);
        DeleteB->setEnabled(false);
    }
}

// ---------------------------------------------------------------- commands

void frmCatalog::AddB_Click()
{
    DeleteB->setEnabled(false);
    ExitB->setEnabled(false);
    AddB->setEnabled(false);
    cmdModify->setEnabled(false);
    AddPicture->show();
    NewTypeName->setFocus();
    Label1->setText(kAddCaption);
}

void frmCatalog::cmdModify_Click()
{
    if (m_selectedType.isEmpty()) {
        platform::message(this, QStringLiteral("请先选择一个病案类型，然后按修改按钮。     "), kSystemTitle,
                          platform::Buttons::Ok, platform::Icon::Information);
        return;
    }
    DeleteB->setEnabled(false);
    ExitB->setEnabled(false);
    AddB->setEnabled(false);
    AddPicture->show();
    cmdModify->setEnabled(false);
    // The rename is for this type, whatever the list selects while the panel is open.
    m_renameFrom = m_selectedType;
    NewTypeName->setText(m_selectedType);
    NewTypeName->setFocus();
    Label1->setText(kRenameCaption);
}

void frmCatalog::endEntry(QPushButton *focus)
{
    AddPicture->hide();
    cmdModify->setEnabled(true);
    DeleteB->setEnabled(true);
    ExitB->setEnabled(true);
    AddB->setEnabled(true);
    focus->setFocus();
}

void frmCatalog::SaveRecord_Click()
{
    const QString typed = NewTypeName->text();
    // 1. Refused before anything is opened, as the Part asks, although every value is
    // bound and an apostrophe would be stored as typed.
    if (typed.contains(QLatin1Char('\''))) {
        platform::message(this, QStringLiteral("该项目之中有特殊字符") + QStringLiteral("<'>,请删除。"), kPromptTitle,
                          platform::Buttons::Ok, platform::Icon::Exclamation);
        NewTypeName->setFocus();
        return;
    }
    const QString name = typed.trimmed();
    if (name.isEmpty())
        return; // 保存 is disabled then; a blank name is never stored
    const bool adding = Label1->text() == kAddCaption;

    // 3.1 A rename to the same name writes nothing.
    if (!adding && name == m_renameFrom) {
        NewTypeName->clear();
        endEntry(cmdModify);
        ApplyAuthority();
        return;
    }

    // 2-4. The check and the write in one transaction; the file is closed again before
    // any message is shown, so that no box holds the archive locked.
    bool duplicate = false;
    QString failure;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        if (store::typeExists(connection, name)) {
            duplicate = true; // nothing written; the transaction simply ends
        } else {
            store::Change change;
            change.subject = name;
            if (adding) {
                store::insertType(connection, name);
                change.kind = store::ChangeKind::TypeAdded;
            } else {
                store::renameTypeInCatalog(connection, m_renameFrom, name);
                store::renameTypeInRecords(connection, m_renameFrom, name);
                change.kind = store::ChangeKind::TypeRenamed;
                change.detail = QStringLiteral("原名称：") + m_renameFrom;
            }
            store::appendHistory(connection, app::currentActor(), change);
            transaction.commit();
        }
    } catch (const store::StoreError &e) {
        failure = e.description();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    if (duplicate) {
        platform::message(this, QStringLiteral("该病案类型已经存在，请重新列入。    "), kPromptTitle,
                          platform::Buttons::Ok, platform::Icon::Exclamation);
        NewTypeName->setFocus();
        return;
    }
    if (!failure.isEmpty()) {
        // Rolled back: the entry stays open with the text as typed.
        showStoreFailure(failure);
        NewTypeName->setFocus();
        return;
    }

    // 5.
    refillList();
    NewTypeName->clear();
    NewTypeName->setFocus();
    m_catalogChanged = true;

    // 6. A rename ends the entry; after an add the panel stays open for the next name.
    if (!adding) {
        m_selectedType.clear();
        NewTypeName->clear();
        endEntry(cmdModify);
    }

    // 7.
    ApplyAuthority();
}

void frmCatalog::CancelRecord_Click()
{
    NewTypeName->clear();
    AddPicture->hide();
    DeleteB->setEnabled(true);
    ExitB->setEnabled(true);
    AddB->setEnabled(true);
    cmdModify->setEnabled(true);
    AddB->setFocus();
    ApplyAuthority();
}

void frmCatalog::DeleteB_Click()
{
    if (m_selectedType.isEmpty()) {
        platform::message(this, QStringLiteral("请先选择一个病案类型，然后按删除按钮。     "), kSystemTitle,
                          platform::Buttons::Ok, platform::Icon::Exclamation);
        return;
    }
    const QString question =
        QStringLiteral("真的要删除[") + m_selectedType + QStringLiteral("]类型,及其所有文件吗？（Y/N）    ");
    if (platform::message(this, question, QStringLiteral("确认"), platform::Buttons::YesNo, platform::Icon::Critical,
                          platform::Answer::No)
        != platform::Answer::Yes)
        return;

    // The type and its records go together or not at all.
    QString failure;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        // Its records go into the recycle bin, each with an entry of its own.
        const int moved = store::moveRecordsOfTypeToBin(connection, app::currentActor(), m_selectedType);
        store::deleteTypeFromCatalog(connection, m_selectedType);
        store::Change change;
        change.kind = store::ChangeKind::TypeDeleted;
        change.subject = m_selectedType;
        change.detail = QStringLiteral("%1 份病案移入回收站").arg(moved);
        store::appendHistory(connection, app::currentActor(), change);
        transaction.commit();
    } catch (const store::StoreError &e) {
        failure = e.description();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    if (!failure.isEmpty()) {
        // Rolled back; the list still shows what the archive holds.
        showStoreFailure(failure);
        return;
    }

    refillList();
    m_selectedType.clear();
    m_catalogChanged = true;
}

void frmCatalog::ExitB_Click()
{
    if (app::BrowserLoaded && m_catalogChanged)
        app::ReloadBrowser();
    close();
}

void frmCatalog::showStoreFailure(const QString &description)
{
    platform::message(this, description, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
}

// ---------------------------------------------------------------- keys and hints

bool frmCatalog::Form_KeyDown(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Delete:
        if (DeleteB->isEnabled())
            DeleteB_Click();
        return false; // the key goes on to the control
    case Qt::Key_Escape:
        // 关 闭 is the cancel button while it is enabled; while an entry is open (and
        // 关 闭 is disabled) Esc cancels the entry instead.
        if (ExitB->isEnabled())
            ExitB_Click();
        else if (AddPicture->isVisible())
            CancelRecord_Click();
        return true;
    default:
        return false;
    }
}

bool frmCatalog::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
        if (auto *w = qobject_cast<QWidget *>(watched); w && !w->statusTip().isEmpty())
            app::ShowHint(w->statusTip());
        break;
    case QEvent::KeyPress:
        // Seen once, at the control that has the focus, before the control itself.
        if (watched == QApplication::focusWidget() && Form_KeyDown(static_cast<QKeyEvent *>(event)))
            return true;
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void frmCatalog::keyPressEvent(QKeyEvent *event)
{
    // Keys that reach the window itself: previewed here only when no control of the
    // window had the focus (otherwise the filter above has seen them already).
    QWidget *focus = QApplication::focusWidget();
    const bool previewed = focus && focus != this && isAncestorOf(focus);
    if (!previewed && Form_KeyDown(event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        // Esc has been dealt with above; the dialog's own Esc must not close the window.
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
