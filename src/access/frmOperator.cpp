#include "access/frmOperator.h"

#include "access/Password.h"
#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <functional>

namespace {

const QString kSection = QStringLiteral("Operator");
const QString kFailureTitle = QStringLiteral("错误提示");
const QColor kPanelColour(37, 148, 160);
const QColor kFrameCaptionColour(0, 0, 128);
const QColor kLevelCaptionColour(192, 0, 0);

constexpr int kMaxName = 5;
// What the 口令 column shows for a password that is set: the same for every password, so
// the grid tells nothing about it but that it is there.
const QString kPasswordMask = QStringLiteral("******");
// The level that opens this window: a delete never leaves the archive without one.
const QString kManagingLevel = QStringLiteral("超级权限");

// The grid's three columns: header captions (centred) and widths in twips.
const char *const kHeaders[] = {" 操作员 ", "  口令 ", " 权限 "};
constexpr int kColumnWidths[] = {800, 1210, 1130};
// Rows below the operators: the flexible grid had n + 4 rows with its header row.
constexpr int kEmptyRows = 3;

// The grid reports mouse presses and double clicks after it has moved its selection, so
// that the menu's enabling rule sees the row that was clicked.
class OperatorGrid : public QTableWidget {
public:
    using QTableWidget::QTableWidget;
    std::function<void(Qt::MouseButton)> pressed;
    std::function<void()> doubleClicked;

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        QTableWidget::mousePressEvent(e);
        if (pressed)
            pressed(e->button());
    }
    void mouseDoubleClickEvent(QMouseEvent *e) override
    {
        QTableWidget::mouseDoubleClickEvent(e);
        if (doubleClicked)
            doubleClicked();
    }
};

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    return l;
}

// A label at its twip rectangle, grown where its caption needs more room.
void placeLabel(QLabel *l, int left, int top, int width, int height)
{
    const QSize hint = l->sizeHint();
    l->setGeometry(platform::tw(left), platform::tw(top), qMax(platform::tw(width), hint.width()),
                   qMax(platform::tw(height), hint.height()));
}

QLineEdit *makePasswordBox(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    // No cut at a length: a box cuts UTF-16 units, which may leave half a character and
    // would save a password other than the one typed. Saving refuses a long one instead.
    e->setEchoMode(QLineEdit::Password);
    e->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    e->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    return e;
}

} // namespace

const QStringList &frmOperator::offeredLevels()
{
    static const QStringList levels{QStringLiteral("只能添加"), QStringLiteral("不能修改"),
                                    QStringLiteral("可以修改"), QStringLiteral("超级权限!")};
    return levels;
}

frmOperator::frmOperator(QWidget *parent) : QDialog(parent)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmOperator"), QStringLiteral("操作员设置"));
    buildControls();
    buildMenu();
    Form_Load();
}

frmOperator::~frmOperator() = default;

// ---------------------------------------------------------------- construction

void frmOperator::buildControls()
{
    using platform::place;
    using platform::tw;

    // The coloured panel with its four labels.
    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setToolTip(QStringLiteral("操作提示"));
    platform::setColors(Picture1, kPanelColour);
    Label7 = makeLabel(Picture1, "Label7", QStringLiteral("删除存在的帐号："));
    platform::setTextColor(Label7, Qt::white);
    placeLabel(Label7, 150, 150, 1440, 180);
    Label8 = makeLabel(Picture1, "Label8", QStringLiteral("双击选定的帐号"));
    platform::setTextColor(Label8, Qt::black);
    placeLabel(Label8, 540, 405, 1260, 180);
    Label6 = makeLabel(Picture1, "Label6", QStringLiteral("添加新的帐号"));
    platform::setTextColor(Label6, Qt::white);
    placeLabel(Label6, 2610, 150, 1080, 180);
    Label5 = makeLabel(Picture1, "Label5", QStringLiteral("输入各项之后,按保存"));
    platform::setTextColor(Label5, Qt::black);
    placeLabel(Label5, 2835, 405, 1710, 180);
    {
        QRect r(tw(165), tw(180), tw(5775), tw(750));
        const QRect used = Picture1->childrenRect();
        r.setWidth(qMax(r.width(), used.right() + 1 + tw(60)));
        r.setHeight(qMax(r.height(), used.bottom() + 1 + tw(60)));
        Picture1->setGeometry(r);
    }

    // The frame with the grid.
    Frame1 = new QGroupBox(QStringLiteral("操作员列表"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    platform::setTextColor(Frame1, kFrameCaptionColour);

    auto *grid = new OperatorGrid(Frame1);
    Grid1 = grid;
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setFont(platform::songFont(9));
    platform::setTextColor(Grid1, Qt::black);
    Grid1->setToolTip(QStringLiteral("双击显示菜单!"));
    Grid1->setColumnCount(3);
    QStringList headers;
    for (const char *h : kHeaders)
        headers << QString::fromUtf8(h);
    Grid1->setHorizontalHeaderLabels(headers);
    Grid1->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    Grid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Grid1->horizontalHeader()->setHighlightSections(false);
    Grid1->verticalHeader()->hide(); // no fixed column
    Grid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Grid1->verticalHeader()->setDefaultSectionSize(qMax(tw(240), Grid1->fontMetrics().height() + 4));
    Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid1->setWordWrap(false);
    Grid1->setCornerButtonEnabled(false);
    Grid1->setTabKeyNavigation(false);
    Grid1->setRowCount(kEmptyRows);
    int columnsWidth = 0;
    for (int i = 0; i < 3; ++i) {
        // A column is never narrower than its header caption.
        const int width = qMax(tw(kColumnWidths[i]), Grid1->horizontalHeader()->sectionSizeHint(i));
        Grid1->setColumnWidth(i, width);
        columnsWidth += width;
    }
    const int frameWidth = 2 * Grid1->frameWidth();
    const int scrollWidth = Grid1->verticalScrollBar()->sizeHint().width();
    Grid1->setGeometry(tw(120), qMax(tw(315), Frame1->fontMetrics().height() + 4),
                       qMax(tw(3135), columnsWidth + frameWidth + scrollWidth), tw(1695));
    Grid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->pressed = [this](Qt::MouseButton b) { Grid1_MouseDown(b); };
    grid->doubleClicked = [this] { Grid1_DblClick(); };
    connect(Grid1, &QTableWidget::currentCellChanged, this, [this] { updateDeleteEnabled(); });
    Frame1->setGeometry(tw(210), tw(1185), qMax(tw(3375), Grid1->geometry().right() + 1 + tw(120)),
                        qMax(tw(2160), Grid1->geometry().bottom() + 1 + tw(120)));

    // The entry fields, right of the frame (moved right when the frame had to grow).
    const int shift = qMax(0, Frame1->geometry().right() + 1 + tw(90) - tw(3765));
    auto right = [shift](int twips) { return twips + shift * 15; };

    Label1 = makeLabel(this, "Label1", QStringLiteral("姓名："));
    Label2 = makeLabel(this, "Label2", QStringLiteral("口令："));
    Label3[0] = makeLabel(this, "Label3(0)", QStringLiteral("重复："));
    Label3[1] = makeLabel(this, "Label3(1)", QStringLiteral("权限："));
    platform::setTextColor(Label3[1], kLevelCaptionColour);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setMaxLength(kMaxName);
    place(Text1, right(4365), 1305, 1530, 300);
    Text2 = makePasswordBox(this, "Text2");
    place(Text2, right(4365), 1650, 1530, 300);
    Text3 = makePasswordBox(this, "Text3");
    place(Text3, right(4365), 1995, 1530, 300);

    cmbAuthority = new QComboBox(this);
    cmbAuthority->setObjectName(QStringLiteral("cmbAuthority"));
    cmbAuthority->setEditable(false);
    cmbAuthority->addItems(offeredLevels());
    place(cmbAuthority, right(4365), 2355, 1530, 300);
    // Every level text shows whole.
    cmbAuthority->resize(qMax(cmbAuthority->width(), cmbAuthority->sizeHint().width()), cmbAuthority->height());

    // Each caption stands left of its box, on the box's middle line.
    const struct {
        QLabel *label;
        QWidget *box;
        int left, top, width;
    } captions[] = {{Label1, Text1, 3765, 1350, 615},
                    {Label2, Text2, 3765, 1710, 615},
                    {Label3[0], Text3, 3765, 2055, 615},
                    {Label3[1], cmbAuthority, 3765, 2415, 540}};
    for (const auto &c : captions) {
        placeLabel(c.label, right(c.left), c.top, c.width, 180);
        // The twip widths reach a little into the boxes; the caption stops at its box.
        c.label->resize(qMax(c.label->sizeHint().width(), qMin(c.label->width(), c.box->x() - c.label->x())),
                        c.label->height());
        c.label->move(c.label->x(), c.box->y() + (c.box->height() - c.label->height()) / 2);
        c.label->setBuddy(c.box);
    }

    Command1 = new QPushButton(QStringLiteral("保存(S)"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setEnabled(false);
    place(Command1, right(3660), 2970, 1110, 375);
    Command2 = new QPushButton(QStringLiteral("关闭(&C)"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    place(Command2, right(4830), 2970, 1110, 375);
    for (QPushButton *b : {Command1, Command2}) {
        b->setAutoDefault(true); // Enter presses the button that has the focus
        b->resize(qMax(b->width(), b->sizeHint().width()), b->height());
    }
    // The buttons stand below the entry fields, never over them.
    const int buttonsTop = qMax(Command1->y(), cmbAuthority->geometry().bottom() + 1 + tw(150));
    Command1->move(Command1->x(), buttonsTop);
    Command2->move(qMax(Command2->x(), Command1->geometry().right() + 1 + tw(60)), buttonsTop);

    // Tab order: name, password, repeat, level, save, close; then the grid.
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, cmbAuthority);
    setTabOrder(cmbAuthority, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Grid1);

    connect(Text1, &QLineEdit::textChanged, this, &frmOperator::Text1_Change);
    connect(Command1, &QPushButton::clicked, this, &frmOperator::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmOperator::Command2_Click);
    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Text2),
                       static_cast<QWidget *>(Text3), static_cast<QWidget *>(cmbAuthority)})
        w->installEventFilter(this);

    // The client area is 6060 × 3600 twips, grown where the captions need room.
    const QRect used = childrenRect();
    setFixedSize(qMax(tw(6060), used.right() + 1 + tw(120)), qMax(tw(3600), used.bottom() + 1 + tw(180)));
    // The panel spans the window, as it did at the designed size.
    Picture1->resize(qMax(Picture1->width(), width() - 2 * Picture1->x()), Picture1->height());
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void frmOperator::buildMenu()
{
    MnuOperate = new QMenu(QStringLiteral("帐号操作"), this);
    MnuOperate->setObjectName(QStringLiteral("MnuOperate"));

    MnuAdd = new QAction(QStringLiteral("添加帐号[&A]"), this);
    MnuAdd->setObjectName(QStringLiteral("MnuAdd"));
    MnuAdd->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    MnuDelete = new QAction(QStringLiteral("删除帐号[&D] ..."), this);
    MnuDelete->setObjectName(QStringLiteral("MnuDelete"));
    MnuDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction *a : {MnuAdd, MnuDelete}) {
        // The shortcuts work on the grid; in the entry fields the keys keep their
        // usual meaning (select all, delete a character).
        a->setShortcutContext(Qt::WidgetShortcut);
        Grid1->addAction(a);
    }
    MnuOperate->addAction(MnuAdd);
    QAction *line = MnuOperate->addSeparator();
    line->setObjectName(QStringLiteral("Line02"));
    MnuOperate->addAction(MnuDelete);

    connect(MnuAdd, &QAction::triggered, this, &frmOperator::MnuAdd_Click);
    connect(MnuDelete, &QAction::triggered, this, &frmOperator::MnuDelete_Click);
    connect(MnuOperate, &QMenu::aboutToShow, this, [] { app::ShowHint(QStringLiteral("帐号删除、添加操作")); });
}

// ---------------------------------------------------------------- load

void frmOperator::Form_Load()
{
    LoadOperators();
    cmbAuthority->setCurrentIndex(0);
    updateDeleteEnabled();
}

void frmOperator::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        Text1->setFocus(); // tab position 0
    }
}

bool frmOperator::LoadOperators(bool report)
{
    // Everything is read before the grid changes, so a failed read leaves the grid as
    // the last successful load showed it.
    int n = 0;
    QVector<store::OperatorRow> rows;
    try {
        store::Connection c(app::DbPath);
        n = store::countOperators(c);
        rows = store::readOperators(c);
    } catch (const store::StoreError &e) {
        if (report)
            showFailure(e.description());
        return false;
    }

    m_operatorCount = n;
    Grid1->setUpdatesEnabled(false);
    Grid1->clearContents();
    Grid1->setRowCount(qMax(n, int(rows.size())) + kEmptyRows);
    for (int r = 0; r < rows.size(); ++r) {
        const store::OperatorRow &row = rows.at(r);
        const QString cells[] = {row.name, access::hasPassword(row.password) ? kPasswordMask : QString(),
                                 row.authority};
        for (int col = 0; col < 3; ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            Grid1->setItem(r, col, item);
        }
        // The row a delete removes, whatever other rows share its name.
        Grid1->item(r, 0)->setData(Qt::UserRole, row.rowId);
    }
    Grid1->setCurrentCell(0, 0);
    Grid1->selectRow(0);
    Grid1->setUpdatesEnabled(true);
    updateDeleteEnabled();
    return true;
}

void frmOperator::showFailure(const QString &description)
{
    platform::message(this, description, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
}

// ---------------------------------------------------------------- entry fields

void frmOperator::Text1_Change() { Command1->setEnabled(!access::trimBlanks(Text1->text()).isEmpty()); }

bool frmOperator::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            // Enter moves on as Tab does; in the name box only once a name is there.
            if (watched != Text1 || !access::trimBlanks(Text1->text()).isEmpty())
                focusNextChild();
            return true;
        }
    } else if (watched == Text3 && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        // Another program taking the focus, a pop-up, or the window closing do not count
        // as leaving the box; nor does pressing 保存, which makes the same test itself.
        if (!m_closing && isVisible() && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
            && QApplication::focusWidget() != Command1)
            Text3_LostFocus();
    }
    return QDialog::eventFilter(watched, event);
}

void frmOperator::Text3_LostFocus()
{
    if (access::trimBlanks(Text3->text()) != access::trimBlanks(Text2->text()))
        passwordsDiffer();
}

void frmOperator::passwordsDiffer()
{
    platform::message(this, QStringLiteral("两次口令不符，请重新再来    "), QStringLiteral("口令不符"),
                      platform::Buttons::Ok, platform::Icon::Information);
    Text2->clear();
    Text3->clear();
    Text2->setFocus();
}

// ---------------------------------------------------------------- save

void frmOperator::Command1_Click()
{
    const QString name = access::trimBlanks(Text1->text());
    if (name.isEmpty())
        return; // the button is disabled then; a click from elsewhere does nothing
    if (name.contains(QLatin1Char('\''))) {
        platform::message(this, QStringLiteral("操作员姓名之中有特殊字符") + QStringLiteral("<'>,请删除。"),
                          QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Exclamation);
        Text1->setFocus();
        return;
    }
    // The two password boxes must agree when the operator saves, too: otherwise a
    // changed password could be saved unconfirmed.
    if (access::trimBlanks(Text2->text()) != access::trimBlanks(Text3->text())) {
        passwordsDiffer();
        return;
    }
    if (const QString problem = access::passwordProblem(Text2->text()); !problem.isEmpty()) {
        platform::message(this, problem, QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Exclamation);
        Text2->clear();
        Text3->clear();
        Text2->setFocus();
        return;
    }

    bool exists = false;
    try {
        QString stored;
        {
            platform::BusyCursor busy; // the hash takes a moment
            stored = access::hashedForm(Text2->text());
        }
        store::Connection c(app::DbPath);
        store::Transaction t(c);
        exists = store::operatorExists(c, name);
        if (!exists) {
            store::insertOperator(c, name, stored, cmbAuthority->currentText());
            store::Change change;
            change.kind = store::ChangeKind::OperatorAdded;
            change.subject = name;
            change.detail = QStringLiteral("权限：") + cmbAuthority->currentText();
            store::appendHistory(c, app::currentActor(), change);
            t.commit();
        }
        // The transaction ends (rolled back when nothing was written) and the database
        // closes before any message.
    } catch (const store::StoreError &e) {
        // Nothing was saved: the transaction was rolled back. The entries stay for another
        // try, and the grid shows what the table holds.
        showFailure(e.description());
        LoadOperators(false);
        return;
    }
    if (exists) {
        platform::message(this, QStringLiteral("操作员< ") + name + QStringLiteral(" >已经存在,不能继续!    "),
                          platform::kAppTitle, platform::Buttons::Ok, platform::Icon::Information);
        Text1->clear();
        Text1->setFocus();
        return;
    }

    LoadOperators();
    Text1->clear();
    Text2->clear();
    Text3->clear();
    Text1->setFocus();
}

void frmOperator::Command2_Click() { close(); }

// ---------------------------------------------------------------- grid and menu

QString frmOperator::selectedName() const
{
    const int row = Grid1->currentRow();
    if (row < 0)
        return QString();
    const QTableWidgetItem *item = Grid1->item(row, 0);
    return item ? item->text() : QString();
}

void frmOperator::updateDeleteEnabled() { MnuDelete->setEnabled(!selectedName().isEmpty()); }

void frmOperator::showMenu() { MnuOperate->popup(QCursor::pos()); }

void frmOperator::Grid1_MouseDown(Qt::MouseButton button)
{
    updateDeleteEnabled();
    if (button == Qt::RightButton)
        showMenu();
}

void frmOperator::Grid1_DblClick()
{
    updateDeleteEnabled();
    showMenu();
}

void frmOperator::MnuAdd_Click() { Text1->setFocus(); }

void frmOperator::MnuDelete_Click() { DeleteOperator(); }

void frmOperator::lastOperatorLeft()
{
    platform::message(this, QStringLiteral("仅剩下当前用户了,不能继续,请注意!    "), QStringLiteral("不能删除"),
                      platform::Buttons::Ok, platform::Icon::Question);
}

void frmOperator::DeleteOperator()
{
    const QString name = selectedName();
    if (name.isEmpty())
        return;
    const QTableWidgetItem *item = Grid1->item(Grid1->currentRow(), 0);
    const qint64 rowId = item->data(Qt::UserRole).toLongLong();
    if (m_operatorCount == 1) {
        lastOperatorLeft();
        return;
    }
    if (platform::message(this, QStringLiteral("真的要删除[") + name + QStringLiteral("]操作员吗（Y/N）？"),
                          QStringLiteral("确认删除"), platform::Buttons::YesNo, platform::Icon::Critical,
                          platform::Answer::No)
        != platform::Answer::Yes)
        return;

    // The grid may be old: another workstation may have deleted operators since. What is
    // left is counted inside the delete's transaction, which holds the write lock, so two
    // workstations deleting the last two operators cannot both succeed.
    enum { Deleted, Gone, LastOne, NoManager } outcome = Deleted;
    try {
        store::Connection c(app::DbPath);
        store::Transaction t(c);
        if (store::deleteOperatorRow(c, rowId) == 0)
            outcome = Gone;
        else if (store::countOperators(c) == 0)
            outcome = LastOne;
        else if (store::countOperatorsWithLevel(c, kManagingLevel) == 0)
            outcome = NoManager;
        if (outcome == Deleted) {
            store::Change change;
            change.kind = store::ChangeKind::OperatorDeleted;
            change.subject = name;
            store::appendHistory(c, app::currentActor(), change);
            t.commit();
        }
    } catch (const store::StoreError &e) {
        // Rolled back: the row is still there, and the grid says so.
        showFailure(e.description());
        LoadOperators(false);
        return;
    }
    switch (outcome) {
    case Deleted:
        break;
    case Gone:
        platform::message(this, QStringLiteral("操作员[") + name + QStringLiteral("]已经被删除了。"),
                          QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Information);
        break;
    case LastOne:
        lastOperatorLeft();
        break;
    case NoManager:
        platform::message(this,
                          QStringLiteral("删除[") + name + QStringLiteral("]之后就没有“") + kManagingLevel
                              + QStringLiteral("”的操作员了，再也没有人能设置操作员，不能删除！"),
                          QStringLiteral("不能删除"), platform::Buttons::Ok, platform::Icon::Exclamation);
        break;
    }
    LoadOperators();
}

// ---------------------------------------------------------------- close

void frmOperator::done(int result)
{
    // Every way of closing (关闭, Esc, the close box) comes here.
    m_closing = true;
    if (!m_positionStored) {
        m_positionStored = true;
        settings::writePosition(kSection, pos());
    }
    QDialog::done(result);
}
