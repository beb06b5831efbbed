#include "app/frmMain.h"

#include "access/frmOperator.h"
#include "catalog/frmCatalog.h"
#include "common/Module1.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/frmManager.h"
#include "store/Dialect.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <algorithm>

namespace {

const QString kReady = QStringLiteral("准备就绪...");
const QString kIdle = QStringLiteral("待命状态...");

// The window whose toolbar and hint panel the process-wide helpers act on. A second
// main window (tests make several in a row) must not lose them when an older one goes.
frmMain *g_current = nullptr;

struct ToolbarEntry {
    const char *caption;
    const char *key; // empty for a separator
    const char *tip;
    const char *icon;
};

const ToolbarEntry kToolbar[] = {
    {"", "", "", ""},
    {"类型设置", "Content", "目录管理中心", "content"},
    {"", "", "", ""},
    {"添加病案记录", "Add", "添加新档案", "add"},
    {"修改病案记录", "Modify", "修改档案内容/说明/参考", "modify"},
    {"删除病案记录", "Delete", "删除档案", "delete"},
    {"", "", "", ""},
    {"搜索病案记录", "Search", "搜索档案", "search"},
    {"", "", "", ""},
    {"用户设置", "USER", "", "user"},
    {"刷新病案记录库", "refresh", "", "refresh"},
    {"退出系统", "Exit", "退出系统", "exit"},
};

// The dates and times are shown the way the operator's system writes them; a system
// that only speaks C or English still gets the Chinese forms the rest of the screen uses.
QLocale displayLocale()
{
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C || system.language() == QLocale::English)
        return QLocale(QLocale::Chinese, QLocale::China);
    return system;
}

// A status bar panel: asks for its design width, but gives way down to its text when
// the window is narrower than all panels together.
class StatusPanel : public QLabel {
public:
    StatusPanel(int widthTwips, QWidget *parent) : QLabel(parent), m_width(platform::tw(widthTwips))
    {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setTextFormat(Qt::PlainText);
        setMargin(1);
        setIndent(3);
        setMinimumHeight(platform::tw(330) - 4);
    }
    QSize sizeHint() const override
    {
        const QSize h = QLabel::sizeHint();
        return QSize(std::max(m_width, h.width()), h.height());
    }

private:
    int m_width;
};

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Karvo病案管理软体 使用单位：") + app::OrganisationName());
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));

    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("mdiArea"));
    m_mdiArea->setBackground(QBrush(QColor(128, 128, 128)));
    m_mdiArea->viewport()->setMouseTracking(true);
    m_mdiArea->viewport()->installEventFilter(this);
    setCentralWidget(m_mdiArea);

    createActions();
    createToolBars();
    createStatusBar();

    g_current = this;
    app::setHintTarget([this](const QString &text) { m_panels[1]->setText(text); });
    app::ToolButtonTarget target;
    target.setEnabled = [this](const QString &key, bool enabled) {
        if (QAction *a = m_buttons.value(key))
            a->setEnabled(enabled);
    };
    target.isEnabled = [this](const QString &key) {
        const QAction *a = m_buttons.value(key);
        return a && a->isEnabled();
    };
    app::setToolButtonTarget(std::move(target));

    resize(platform::tw(12000), platform::tw(8000));
    // Without a window manager (a kiosk session, a virtual display) maximising is not
    // honoured, so the window also starts as large as the screen allows.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    setWindowState(Qt::WindowMaximized);
    loadWindow();
}

frmMain::~frmMain()
{
    // The browser is destroyed with this window and switches toolbar buttons off as it
    // goes; by then nothing may reach these widgets any more.
    if (g_current == this) {
        app::setHintTarget({});
        app::setSearchStateTarget({});
        app::setToolButtonTarget({});
        g_current = nullptr;
    }
}

frmManager *frmMain::manager() const { return m_manager.data(); }

void frmMain::createActions()
{
    for (const ToolbarEntry &e : kToolbar) {
        const QString key = QString::fromUtf8(e.key);
        if (key.isEmpty())
            continue;
        auto *action = new QAction(QIcon(QStringLiteral(":/icons/toolbar/%1.svg").arg(QString::fromUtf8(e.icon))),
                                   QString::fromUtf8(e.caption), this);
        action->setObjectName(key);
        action->setToolTip(QString::fromUtf8(e.tip));
        connect(action, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
        m_buttons.insert(key, action);
    }
}

void frmMain::createToolBars()
{
    m_toolbar = new QToolBar(QStringLiteral("Toolbar1"), this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(32, 32));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setMinimumHeight(platform::tw(840));
    m_toolbar->setMouseTracking(true);
    m_toolbar->installEventFilter(this);
    for (const ToolbarEntry &e : kToolbar) {
        const QString key = QString::fromUtf8(e.key);
        if (key.isEmpty()) {
            m_toolbar->addSeparator();
            continue;
        }
        QAction *action = m_buttons.value(key);
        m_toolbar->addAction(action);
        // A button without a tip of its own shows none, rather than repeating its caption.
        if (QString::fromUtf8(e.tip).isEmpty()) {
            if (QWidget *button = m_toolbar->widgetForAction(action))
                button->installEventFilter(this);
        }
    }
    createLinkPanel();
    addToolBar(Qt::TopToolBarArea, m_toolbar);
}

void frmMain::createLinkPanel()
{
    // The free room right of the buttons holds the link panel: at its designed place
    // when the window is wide enough, pushed to the right edge otherwise.
    m_linkStrip = new QWidget(m_toolbar);
    m_linkStrip->setObjectName(QStringLiteral("linkStrip"));
    m_linkStrip->setMouseTracking(true);
    m_linkStrip->installEventFilter(this);

    m_picture1 = new QWidget(m_linkStrip);
    m_picture1->setObjectName(QStringLiteral("Picture1"));
    m_picture1->setMouseTracking(true);
    m_picture1->installEventFilter(this);

    m_label1 = new QLabel(QStringLiteral("网址："), m_picture1);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setFont(platform::songFont(9));
    platform::place(m_label1, 270, 150, 540, 180);
    m_label1->resize(std::max(m_label1->width(), m_label1->sizeHint().width()), m_label1->height());

    m_www = new QLabel(QStringLiteral("  ") + app::WebAddress() + QStringLiteral("  "), m_picture1);
    m_www->setObjectName(QStringLiteral("www"));
    m_www->setTextFormat(Qt::PlainText);
    m_www->setFont(platform::songFont(9));
    m_www->setCursor(Qt::PointingHandCursor);
    m_www->installEventFilter(this);
    platform::place(m_www, 900, 150, 1710, 180);
    m_www->resize(std::max(m_www->width(), m_www->sizeHint().width()), m_www->height());
    setLinkColor(QColor(0, 128, 0));

    const int width = std::max(platform::tw(2925), m_www->geometry().right() + platform::tw(270));
    const int height = std::max(platform::tw(525), m_www->geometry().bottom() + platform::tw(150));
    m_picture1->resize(width, height);

    m_linkStrip->setMinimumSize(width, height);
    m_linkStrip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_toolbar->addWidget(m_linkStrip);
}

void frmMain::placeLinkPanel()
{
    const int room = m_linkStrip->width() - m_picture1->width();
    const int x = std::clamp(platform::tw(12050) - m_linkStrip->x(), 0, std::max(0, room));
    const int y = std::clamp(platform::tw(240) - m_linkStrip->y(), 0,
                             std::max(0, m_linkStrip->height() - m_picture1->height()));
    m_picture1->move(x, y);
}

void frmMain::createStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    bar->setMinimumHeight(platform::tw(330));
    static const int widths[4] = {1411, 7056, 6528, 4939};
    for (int i = 0; i < 4; ++i) {
        m_panels[i] = new StatusPanel(widths[i], bar);
        m_panels[i]->setObjectName(QStringLiteral("Panels(%1)").arg(i + 1));
        // Permanent, so that no passing status tip can hide the panels.
        bar->addPermanentWidget(m_panels[i], i == 1 ? 1 : 0);
    }
    m_panels[0]->setText(QStringLiteral("提示："));
    m_panels[1]->setToolTip(QStringLiteral("工具栏的提示信息"));
    m_panels[2]->setToolTip(QStringLiteral("当前的日期"));
    m_panels[3]->setToolTip(QStringLiteral("当前的时间"));
    m_panels[1]->setMinimumWidth(platform::tw(2000));

    // While a search is in force, a panel right of the hints says what was looked for and
    // how many records were found; it is hidden otherwise.
    auto *searchState = new StatusPanel(0, bar);
    searchState->setObjectName(QStringLiteral("SearchState"));
    searchState->setToolTip(QStringLiteral("树中只列出查到的病案；刷新仓库后重新列出全部病案"));
    searchState->hide();
    bar->insertPermanentWidget(2, searchState);
    app::setSearchStateTarget([searchState](const QString &text) {
        searchState->setText(text);
        searchState->setVisible(!text.isEmpty());
    });

    m_clock = new QTimer(this);
    m_clock->setObjectName(QStringLiteral("tmrClock"));
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &frmMain::updateClock);
    updateClock();
    m_clock->start();
}

void frmMain::updateClock()
{
    m_panels[3]->setText(displayLocale().toString(QTime::currentTime(), QLocale::ShortFormat));
}

void frmMain::loadWindow()
{
    {
        platform::BusyCursor busy;
        m_panels[2]->setText(QStringLiteral("日期:")
                             + displayLocale().toString(QDate::currentDate(), QLocale::LongFormat));
    }
    // Whatever fails from here on, the window still opens with what it has.
    try {
        m_panels[1]->setText(kReady);
    } catch (...) {
    }
    // The archive's path has no place on the screen of its own; the status bar shows it
    // as its tip (over the "提示：" panel), where the office can look it up when needed.
    try {
        statusBar()->setToolTip(platform::plainToolTip(QStringLiteral("当前数据库路径：") + store::maskPasswords(app::DbPath)));
    } catch (...) {
    }
    try {
        platform::BusyCursor busy;
        openBrowser();
    } catch (...) {
    }
}

void frmMain::openBrowser()
{
    if (m_browserWindow && m_manager) {
        m_mdiArea->setActiveSubWindow(m_browserWindow);
        m_manager->setFocus();
        return;
    }
    auto *browser = new frmManager;
    auto *sub = new QMdiSubWindow(nullptr, Qt::FramelessWindowHint);
    sub->setObjectName(QStringLiteral("browserWindow"));
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWidget(browser);
    // No caption, no frame, no system menu: nothing that could close the browser by
    // accident, which would end the program without the exit question.
    sub->setSystemMenu(nullptr);
    m_mdiArea->addSubWindow(sub);
    m_manager = browser;
    m_browserWindow = sub;
    sub->showMaximized();
    browser->setFocus();
}

void frmMain::Toolbar1_ButtonClick(const QString &key)
{
    const QString level = app::CurrentAuthority;
    if (key == QLatin1String("Content")) {
        app::ShowHint(QStringLiteral("病案类型添加、删除"));
        frmCatalog dlg(this);
        platform::execModal(dlg);
    } else if (key == QLatin1String("Add")) {
        if (level == QStringLiteral("只能修改"))
            return;
        app::ShowHint(QStringLiteral("在此类型下添加新病案"));
        if (m_manager)
            m_manager->MnuAddFile_Click();
    } else if (key == QLatin1String("Modify")) {
        if (level == QStringLiteral("只能添加"))
            return;
        app::ShowHint(QStringLiteral("修改选定的病案"));
        if (m_manager) {
            m_manager->MnuModifyFile_Click();
            // The modified record may no longer match a search in force: show everything.
            app::SearchFilter.clear();
            if (m_manager)
                m_manager->cmdLoad_Click();
        }
    } else if (key == QLatin1String("Delete")) {
        app::ShowHint(QStringLiteral("删除选定的病案"));
        if (m_manager)
            m_manager->MnuDeleteFile_Click();
    } else if (key == QLatin1String("Search")) {
        app::ShowHint(QStringLiteral("搜索病案库，查找匹配病案"));
        if (m_manager)
            m_manager->MnuSearchFile_Click();
    } else if (key == QLatin1String("USER")) {
        if (level != QStringLiteral("超级权限"))
            return;
        platform::BusyCursor busy;
        app::ShowHint(QStringLiteral("操作员配置"));
        frmOperator dlg(this);
        platform::execModal(dlg);
    } else if (key == QLatin1String("Exit")) {
        app::ShowHint(QStringLiteral("退出病案管理系统"));
        close();
    } else if (key == QLatin1String("refresh")) {
        app::ShowHint(QStringLiteral("刷新病案清单库内容"));
        app::SearchFilter.clear();
        if (m_manager)
            m_manager->cmdLoad_Click();
    }
}

void frmMain::setLinkColor(const QColor &color)
{
    platform::setTextColor(m_www, color);
}

void frmMain::openWebAddress()
{
    // A desktop without a browser simply does nothing, as a link would.
    platform::openWithDesktop(app::WebAddress());
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_mdiArea->viewport()) {
        if (type == QEvent::MouseMove) {
            if (m_panels[1]->text() != kIdle)
                m_panels[1]->setText(kIdle);
        } else if (type == QEvent::ContextMenu) {
            return true; // the main window has no menu of its own to offer here
        }
        return false;
    }
    if (watched == m_picture1) {
        if (type == QEvent::MouseMove) {
            const QPoint p = static_cast<QMouseEvent *>(event)->position().toPoint();
            if (!m_picture1->childAt(p))
                setLinkColor(QColor(255, 0, 0));
            return true; // the toolbar underneath must not turn it black again
        }
        if (type == QEvent::MouseButtonRelease) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            const QPoint p = mouse->position().toPoint();
            if (mouse->button() == Qt::LeftButton && m_picture1->rect().contains(p) && !m_picture1->childAt(p))
                openWebAddress();
            return true;
        }
        return false;
    }
    if (watched == m_www) {
        if (type == QEvent::MouseButtonRelease) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && m_www->rect().contains(mouse->position().toPoint()))
                openWebAddress();
            return true;
        }
        return false;
    }
    if (watched == m_linkStrip) {
        if (type == QEvent::Resize || type == QEvent::Move)
            placeLinkPanel();
        else if (type == QEvent::MouseMove)
            setLinkColor(QColor(0, 0, 0));
        return false;
    }
    if (watched == m_toolbar) {
        if (type == QEvent::MouseMove)
            setLinkColor(QColor(0, 0, 0));
        return false;
    }
    if (type == QEvent::ToolTip && qobject_cast<QToolButton *>(watched))
        return true; // buttons without a tip of their own
    return QMainWindow::eventFilter(watched, event);
}

QMenu *frmMain::createPopupMenu()
{
    // No menu to hide the toolbar or the status bar: the window has a fixed layout.
    return nullptr;
}

void frmMain::closeOtherWindows()
{
    // Every other top-level window, the most recently opened first (the platform keeps
    // its windows in the order they were made)...
    const QWindowList order = QGuiApplication::topLevelWindows();
    QList<QWidget *> others;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w == this || !w->isVisible() || !w->windowHandle())
            continue;
        if (w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip || qobject_cast<QMenu *>(w))
            continue;
        others << w;
    }
    std::sort(others.begin(), others.end(), [&order](QWidget *a, QWidget *b) {
        return order.indexOf(a->windowHandle()) > order.indexOf(b->windowHandle());
    });
    for (const QPointer<QWidget> &w : QList<QPointer<QWidget>>(others.begin(), others.end()))
        if (w)
            w->close();

    // ...then the windows inside this one, down to the browser that was opened first.
    QList<QMdiSubWindow *> children = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    std::reverse(children.begin(), children.end());
    for (const QPointer<QMdiSubWindow> &c : QList<QPointer<QMdiSubWindow>>(children.begin(), children.end()))
        if (c)
            c->close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The browser's unload ends the program and closes every window, this one too,
    // while this window is still closing its children: no second question then.
    if (m_closing || app::ProgramEnding()) {
        event->accept();
        return;
    }
    const platform::Answer answer =
        platform::message(this, QStringLiteral("真的退出该系统吗(Y/N)？    "), QStringLiteral("请确认..."),
                          platform::Buttons::YesNo, platform::Icon::Question, platform::Answer::Yes);
    if (answer != platform::Answer::Yes) {
        event->ignore();
        return;
    }
    m_closing = true;
    closeOtherWindows();
    event->accept();
}
