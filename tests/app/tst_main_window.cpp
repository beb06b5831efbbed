#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "common/Module1.h"
#include "app/Main.h"
#include "app/frmMain.h"
#include "access/frmLogin.h"
#include "records/frmManager.h"
#include "store/Settings.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <memory>

namespace {

// Records the order in which watched windows receive their close.
class CloseRecorder : public QObject {
public:
    QStringList order;
    std::function<void()> onClose;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Close) {
            order << o->objectName();
            if (onClose)
                onClose();
        }
        return false;
    }
};

const QString kSentinel = QStringLiteral("<untouched>");

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<testing::ScriptedPlatform> m_platform;
    std::unique_ptr<frmMain> m_window;
    int m_endCalls = 0;
    std::function<void()> m_endAction;

    frmMain *open()
    {
        m_window = std::make_unique<frmMain>();
        return m_window.get();
    }
    // Shown at a desktop size, not maximised, so that layouts are predictable.
    frmMain *openShown(int width = 1280, int height = 800)
    {
        frmMain *w = open();
        w->setWindowState(Qt::WindowNoState);
        w->resize(width, height);
        w->show();
        if (!QTest::qWaitForWindowExposed(w))
            QTest::qFail("main window not exposed", __FILE__, __LINE__);
        return w;
    }
    QString hint() const { return testing::child<QLabel>(m_window.get(), QStringLiteral("Panels(2)"))->text(); }
    void resetHint() { app::ShowHint(kSentinel); }
    QMdiSubWindow *browserWindow() const
    {
        const auto list = m_window->findChild<QMdiArea *>()->subWindowList();
        return list.isEmpty() ? nullptr : list.first();
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        app::setEndProgramHook([this] {
            ++m_endCalls;
            if (m_endAction)
                m_endAction();
        });
    }

    void init()
    {
        m_archive = std::make_unique<testing::TempArchive>();
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        m_platform = std::make_unique<testing::ScriptedPlatform>();
        m_endCalls = 0;
        m_endAction = nullptr;
    }

    void cleanup()
    {
        m_window.reset();
        m_endAction = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Emptied first, so that no answer is left for the next test whatever fails here.
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        m_archive.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }

    void windowAndBrowserAtLoad()
    {
        frmMain *w = open();
        // Without [Site] settings, the office's own words stand in for its name and address.
        QCOMPARE(w->windowTitle(), QStringLiteral("Karvo病案管理软体 使用单位：本院病案室"));
        QCOMPARE(testing::child<QLabel>(w, QStringLiteral("www"))->text(), QStringLiteral("  www.karvo.com  "));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QVERIFY(!w->windowIcon().isNull());
        auto *area = qobject_cast<QMdiArea *>(w->centralWidget());
        QVERIFY(area);
        QCOMPARE(area->background().color(), QColor(128, 128, 128));

        // The browser lives inside as a captionless, frameless, maximised child.
        QVERIFY(w->manager());
        QCOMPARE(area->subWindowList().size(), 1);
        QMdiSubWindow *sub = area->subWindowList().first();
        QCOMPARE(sub->widget(), static_cast<QWidget *>(w->manager()));
        QVERIFY(sub->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(sub->isMaximized());
    }

    void organisationFromSettings()
    {
        settings::write(QStringLiteral("Site"), QStringLiteral("Organisation"), QStringLiteral("城东医院病案室"));
        settings::write(QStringLiteral("Site"), QStringLiteral("Web"), QStringLiteral("www.example.org"));
        frmMain *w = open();
        settings::write(QStringLiteral("Site"), QStringLiteral("Organisation"), QString());
        settings::write(QStringLiteral("Site"), QStringLiteral("Web"), QString());
        QCOMPARE(w->windowTitle(), QStringLiteral("Karvo病案管理软体 使用单位：城东医院病案室"));
        QCOMPARE(testing::child<QLabel>(w, QStringLiteral("www"))->text(), QStringLiteral("  www.example.org  "));
    }

    void toolbarEntries()
    {
        frmMain *w = open();
        auto *bar = testing::child<QToolBar>(w, QStringLiteral("Toolbar1"));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        const QList<QAction *> actions = bar->actions();
        QVERIFY(actions.size() >= 12);
        struct Row { const char *caption, *key, *tip; };
        const Row rows[12] = {
            {nullptr, nullptr, nullptr},
            {"类型设置", "Content", "目录管理中心"},
            {nullptr, nullptr, nullptr},
            {"添加病案记录", "Add", "添加新档案"},
            {"修改病案记录", "Modify", "修改档案内容/说明/参考"},
            {"删除病案记录", "Delete", "删除档案"},
            {nullptr, nullptr, nullptr},
            {"搜索病案记录", "Search", "搜索档案"},
            {nullptr, nullptr, nullptr},
            {"用户设置", "USER", nullptr},
            {"刷新病案记录库", "refresh", nullptr},
            {"退出系统", "Exit", "退出系统"},
        };
        for (int i = 0; i < 12; ++i) {
            QAction *a = actions[i];
            if (!rows[i].key) {
                QVERIFY2(a->isSeparator(), qPrintable(QString::number(i)));
                continue;
            }
            QCOMPARE(a->text(), QString::fromUtf8(rows[i].caption));
            QCOMPARE(a->objectName(), QString::fromUtf8(rows[i].key));
            QVERIFY(!a->icon().isNull());
            if (rows[i].tip)
                QCOMPARE(a->toolTip(), QString::fromUtf8(rows[i].tip));
        }
    }

    void statusPanels()
    {
        frmMain *w = open();
        auto panel = [w](int n) { return testing::child<QLabel>(w, QStringLiteral("Panels(%1)").arg(n)); };
        QCOMPARE(panel(1)->text(), QStringLiteral("提示："));
        QCOMPARE(panel(2)->text(), QStringLiteral("准备就绪..."));
        QCOMPARE(panel(2)->toolTip(), QStringLiteral("工具栏的提示信息"));
        QCOMPARE(panel(3)->toolTip(), QStringLiteral("当前的日期"));
        QCOMPARE(panel(4)->toolTip(), QStringLiteral("当前的时间"));

        const QDate today = QDate::currentDate();
        QVERIFY(panel(3)->text().startsWith(QStringLiteral("日期:")));
        QVERIFY(panel(3)->text().contains(QString::number(today.year())));
        const QLocale system = QLocale::system();
        if (system.language() == QLocale::C || system.language() == QLocale::English) {
            // A system without a language of its own still gets the Chinese long date.
            QCOMPARE(panel(3)->text(), QStringLiteral("日期:")
                                           + QLocale(QLocale::Chinese, QLocale::China).toString(today, QLocale::LongFormat));
            QVERIFY(panel(3)->text().contains(QStringLiteral("年")));
        }

        // The clock panel follows its timer.
        panel(4)->setText(QString());
        QTimer *clock = testing::child<QTimer>(w, QStringLiteral("tmrClock"));
        QVERIFY(clock->isActive());
        QMetaObject::invokeMethod(clock, "timeout", Qt::DirectConnection);
        QVERIFY(panel(4)->text().contains(QLatin1Char(':')));

        // The archive in use can be looked up over the status bar.
        // Shown as written even where the path looks like markup.
        QCOMPARE(QTextDocumentFragment::fromHtml(w->statusBar()->toolTip()).toPlainText(),
                 QStringLiteral("当前数据库路径：") + app::DbPath);

        // ShowHint writes panel 2, and nothing once the window is gone.
        app::ShowHint(QStringLiteral("测试提示"));
        QCOMPARE(panel(2)->text(), QStringLiteral("测试提示"));
        m_window.reset();
        app::ShowHint(QStringLiteral("无处可写"));
    }

    void levelTests_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("runs");
        const QString add = QStringLiteral("Add"), modify = QStringLiteral("Modify"), user = QStringLiteral("USER");
        struct L { const char *tag; QString level; bool add, modify, user; };
        const L levels[] = {
            {"只能修改", QStringLiteral("只能修改"), false, true, false},
            {"只能添加", QStringLiteral("只能添加"), true, false, false},
            {"超级权限", QStringLiteral("超级权限"), true, true, true},
            {"超级权限!", QStringLiteral("超级权限!"), true, true, false},
            {"padded", QStringLiteral(" 超级权限"), true, true, false},
            {"unknown", QStringLiteral("可以修改"), true, true, false},
            {"empty", QString(), true, true, false},
        };
        for (const L &l : levels) {
            QTest::newRow(qPrintable(QStringLiteral("%1/Add").arg(QString::fromUtf8(l.tag)))) << l.level << add << l.add;
            QTest::newRow(qPrintable(QStringLiteral("%1/Modify").arg(QString::fromUtf8(l.tag)))) << l.level << modify << l.modify;
            QTest::newRow(qPrintable(QStringLiteral("%1/USER").arg(QString::fromUtf8(l.tag)))) << l.level << user << l.user;
        }
    }

    void levelTests()
    {
        QFETCH(QString, level);
        QFETCH(QString, key);
        QFETCH(bool, runs);
        frmMain *w = open();
        app::CurrentAuthority = level;
        app::SearchFilter.text = QStringLiteral("张");
        app::SearchFilter.inName = true;
        resetHint();

        w->Toolbar1_ButtonClick(key);

        const QString expectedHint = key == QLatin1String("Add")      ? QStringLiteral("在此类型下添加新病案")
                                     : key == QLatin1String("Modify") ? QStringLiteral("修改选定的病案")
                                                                      : QStringLiteral("操作员配置");
        QCOMPARE(hint(), runs ? expectedHint : kSentinel);
        // Only a modification that ran clears the search so that the reload shows everything.
        QCOMPARE(app::SearchFilter.isEmpty(), runs && key == QLatin1String("Modify"));
        QVERIFY(m_platform->boxes.isEmpty());
        QVERIFY(!QApplication::overrideCursor());
    }

    void otherButtonsWriteTheirHints()
    {
        frmMain *w = open();
        const QString levels[] = {QStringLiteral("只能添加"), QStringLiteral("只能修改"), QString()};
        for (const QString &level : levels) {
            app::CurrentAuthority = level;
            const std::pair<const char *, const char *> cases[] = {
                {"Content", "病案类型添加、删除"},
                {"Delete", "删除选定的病案"},
                {"Search", "搜索病案库，查找匹配病案"},
            };
            for (const auto &c : cases) {
                resetHint();
                w->Toolbar1_ButtonClick(QString::fromUtf8(c.first));
                QCOMPARE(hint(), QString::fromUtf8(c.second));
            }
            app::SearchFilter.text = QStringLiteral("x");
            app::SearchFilter.inPath = true;
            resetHint();
            w->Toolbar1_ButtonClick(QStringLiteral("refresh"));
            QCOMPARE(hint(), QStringLiteral("刷新病案清单库内容"));
            QVERIFY(app::SearchFilter.isEmpty());
        }
        // Keys are compared exactly.
        resetHint();
        w->Toolbar1_ButtonClick(QStringLiteral("add"));
        w->Toolbar1_ButtonClick(QStringLiteral("Refresh"));
        QCOMPARE(hint(), kSentinel);
        QVERIFY(w->manager());
    }

    void browserSwitchesToolbarButtons()
    {
        frmMain *w = open();
        auto *bar = testing::child<QToolBar>(w, QStringLiteral("Toolbar1"));
        QAction *del = testing::child<QAction>(w, QStringLiteral("Delete"));
        app::setToolButtonEnabled(QStringLiteral("Delete"), false);
        QVERIFY(!del->isEnabled());
        QVERIFY(!app::toolButtonEnabled(QStringLiteral("Delete")));
        // A disabled button cannot be pressed.
        resetHint();
        QTest::mouseClick(bar->widgetForAction(del), Qt::LeftButton);
        QCOMPARE(hint(), kSentinel);

        app::setToolButtonEnabled(QStringLiteral("Delete"), true);
        QVERIFY(app::toolButtonEnabled(QStringLiteral("Delete")));
        del->trigger();
        QCOMPARE(hint(), QStringLiteral("删除选定的病案"));
        QVERIFY(!app::toolButtonEnabled(QStringLiteral("NoSuchKey")));

        m_window.reset();
        QVERIFY(!app::toolButtonEnabled(QStringLiteral("Delete")));
        app::setToolButtonEnabled(QStringLiteral("Delete"), true); // nothing left to reach
    }

    void exitAnsweredNoKeepsEverything()
    {
        frmMain *w = openShown();
        QPointer<QMdiSubWindow> sub = browserWindow();
        m_platform->answer(platform::Answer::No);
        testing::child<QAction>(w, QStringLiteral("Exit"))->trigger();

        QCOMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &box = m_platform->boxes.first();
        QCOMPARE(box.text, QStringLiteral("真的退出该系统吗(Y/N)？    "));
        QCOMPARE(box.title, QStringLiteral("请确认..."));
        QCOMPARE(box.buttons, platform::Buttons::YesNo);
        QCOMPARE(box.icon, platform::Icon::Question);
        QCOMPARE(box.defaultButton, platform::Answer::Yes);
        QCOMPARE(hint(), QStringLiteral("退出病案管理系统"));
        QVERIFY(w->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(sub && sub->isVisible());
        QVERIFY(w->manager());
        QCOMPARE(m_endCalls, 0);
    }

    void exitAnsweredYesClosesNewestFirst()
    {
        frmMain *w = openShown();
        CloseRecorder recorder;
        QPointer<QMdiSubWindow> sub = browserWindow();
        sub->installEventFilter(&recorder);
        QWidget first, second;
        first.setObjectName(QStringLiteral("first"));
        second.setObjectName(QStringLiteral("second"));
        first.show();
        second.show();
        first.installEventFilter(&recorder);
        second.installEventFilter(&recorder);

        m_platform->answer(platform::Answer::Yes);
        QVERIFY(w->close());

        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes.first().text, QStringLiteral("真的退出该系统吗(Y/N)？    "));
        QCOMPARE(m_platform->boxes.first().title, QStringLiteral("请确认..."));
        QCOMPARE(m_platform->boxes.first().buttons, platform::Buttons::YesNo);
        QCOMPARE(m_platform->boxes.first().icon, platform::Icon::Question);
        QVERIFY(!w->isVisible());
        QVERIFY(!first.isVisible());
        QVERIFY(!second.isVisible());
        QCOMPARE(recorder.order, (QStringList{QStringLiteral("second"), QStringLiteral("first"),
                                              QStringLiteral("browserWindow")}));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!sub);
        QVERIFY(!w->manager());
    }

    void closingByTheCloseBoxAsksToo()
    {
        frmMain *w = openShown();
        m_platform->answer(platform::Answer::No);
        QVERIFY(!w->close());
        QCOMPARE(m_platform->boxes.size(), 1);
        QVERIFY(w->isVisible());
    }

    void browserUnloadEndingTheProgramAsksOnlyOnce()
    {
        frmMain *w = openShown();
        // Ending the program closes every window again, this one included, while it is
        // still closing its children.
        m_endAction = [] { QApplication::closeAllWindows(); };

        m_platform->answer(platform::Answer::Yes);
        QVERIFY(w->close());
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_endCalls, 1); // the browser's unload
        QVERIFY(!app::BrowserLoaded);
        QVERIFY(!w->isVisible());
    }

    void browserExitCommandAsksTheSameQuestion()
    {
        frmMain *w = openShown();
        m_platform->answer(platform::Answer::No);
        w->manager()->MnuExit_Click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes.first().text, QStringLiteral("真的退出该系统吗(Y/N)？    "));
        QVERIFY(w->isVisible());
        QVERIFY(app::BrowserLoaded);
        QCOMPARE(m_endCalls, 0);
    }

    void refreshAndModifyReloadTheWholeArchive_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("refresh") << QStringLiteral("refresh");
        QTest::newRow("Modify") << QStringLiteral("Modify");
    }

    void refreshAndModifyReloadTheWholeArchive()
    {
        QFETCH(QString, key);
        m_archive->addType(QStringLiteral("内科"));
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("250101080000"), QStringLiteral("张三"));
        frmMain *w = open();
        const QAbstractItemModel *model = w->manager()->treeView()->model();
        auto records = [model] {
            const QModelIndex root = model->index(0, 0);
            const QModelIndex type = model->index(0, 0, root);
            return model->rowCount(type);
        };
        QCOMPARE(records(), 1);
        // A search in force, and a record that arrived since the last load.
        app::SearchFilter.text = QStringLiteral("张");
        app::SearchFilter.inName = true;
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("250101090000"), QStringLiteral("李四"));

        w->Toolbar1_ButtonClick(key);
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(records(), 2);
    }

    void searchInForceIsShownInTheStatusBar()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("250101080000"), QStringLiteral("阑尾炎 张三"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("250101090000"), QStringLiteral("胆结石 李四"));
        frmMain *w = openShown();
        auto *line = testing::child<QLabel>(w, QStringLiteral("SearchState"));
        QVERIFY(line->isHidden());
        m_platform->onModal = [](QDialog &d) {
            d.findChild<QLineEdit *>(QStringLiteral("txtSearch"))->setText(QStringLiteral("阑尾"));
            d.findChild<QPushButton *>(QStringLiteral("cmdSearch"))->click();
            return d.result();
        };
        w->Toolbar1_ButtonClick(QStringLiteral("Search"));
        QCOMPARE(m_platform->modals, QStringList{QStringLiteral("frmSearchForm")});
        QVERIFY(line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("查询：阑尾，找到 1 条"));
        // Right of the hint panel; the four panels keep their texts.
        QVERIFY(line->x() > testing::child<QLabel>(w, QStringLiteral("Panels(2)"))->x());
        QVERIFY(line->x() < testing::child<QLabel>(w, QStringLiteral("Panels(3)"))->x());
        QCOMPARE(testing::child<QLabel>(w, QStringLiteral("Panels(1)"))->text(), QStringLiteral("提示："));

        w->Toolbar1_ButtonClick(QStringLiteral("refresh"));
        QVERIFY(line->isHidden());
        QCOMPARE(line->text(), QString());
    }

    void idleHintOverEmptyArea()
    {
        frmMain *w = openShown();
        auto *area = w->findChild<QMdiArea *>();
        QMdiSubWindow *sub = browserWindow();
        sub->showNormal();
        sub->setGeometry(0, 0, 100, 100);
        w->Toolbar1_ButtonClick(QStringLiteral("Search"));
        QCOMPARE(hint(), QStringLiteral("搜索病案库，查找匹配病案"));

        const QPoint empty(area->viewport()->width() - 20, area->viewport()->height() - 20);
        QTest::mouseMove(area->viewport(), empty);
        QCOMPARE(hint(), QStringLiteral("待命状态..."));

        // Over the browser itself the hint stays.
        app::ShowHint(QStringLiteral("其他"));
        QTest::mouseMove(sub, QPoint(50, 50));
        QCOMPARE(hint(), QStringLiteral("其他"));
    }

    void rightClickOnEmptyAreaShowsNoMenu()
    {
        frmMain *w = openShown();
        auto *area = w->findChild<QMdiArea *>();
        browserWindow()->showMinimized();
        const QPoint p(area->viewport()->width() - 20, area->viewport()->height() - 20);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, p, area->viewport()->mapToGlobal(p));
        QApplication::sendEvent(area->viewport(), &ev);
        QContextMenuEvent onBar(QContextMenuEvent::Mouse, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w, &onBar);
        for (QWidget *tl : QApplication::topLevelWidgets())
            QVERIFY2(!(qobject_cast<QMenu *>(tl) && tl->isVisible()), "a context menu appeared");
    }

    void linkPanel()
    {
        frmMain *w = openShown();
        auto *picture = testing::child<QWidget>(w, QStringLiteral("Picture1"));
        auto *label1 = testing::child<QLabel>(w, QStringLiteral("Label1"));
        auto *www = testing::child<QLabel>(w, QStringLiteral("www"));
        auto *bar = testing::child<QToolBar>(w, QStringLiteral("Toolbar1"));
        QCOMPARE(label1->text(), QStringLiteral("网址："));
        QCOMPARE(www->text(), QStringLiteral("  ") + app::WebAddress() + QStringLiteral("  "));
        QCOMPARE(www->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QCOMPARE(www->font().pointSize(), 9);
        // At its designed place in a wide window, clear of the buttons.
        QCOMPARE(picture->mapTo(bar, QPoint(0, 0)).x(), 12050 / 15);
        for (QAction *a : bar->actions())
            if (QWidget *b = bar->widgetForAction(a); b && !a->isSeparator() && b->isVisible() && !b->isAncestorOf(picture))
                QVERIFY(b->geometry().right() < picture->mapTo(bar, QPoint(0, 0)).x());

        // Red over the panel's own surface, nothing over its labels, black over the toolbar.
        const QPoint surface(2, 2);
        QVERIFY(!picture->childAt(surface));
        QTest::mouseMove(picture, surface);
        QCOMPARE(www->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QTest::mouseMove(label1, QPoint(3, 3));
        QCOMPARE(www->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QTest::mouseMove(bar, QPoint(bar->width() - 3, 3));
        QCOMPARE(www->palette().color(QPalette::WindowText), QColor(0, 0, 0));

        // The link and the panel open the address; the caption beside it does not.
        QTest::mouseClick(www, Qt::LeftButton);
        QTest::mouseClick(picture, Qt::LeftButton, {}, surface);
        QTest::mouseClick(label1, Qt::LeftButton);
        QTest::mouseClick(www, Qt::RightButton);
        QCOMPARE(m_platform->opened, (QStringList{app::WebAddress(), app::WebAddress()}));
    }

    void linkPanelInANarrowWindow()
    {
        frmMain *w = openShown(900, 600);
        auto *picture = testing::child<QWidget>(w, QStringLiteral("Picture1"));
        auto *bar = testing::child<QToolBar>(w, QStringLiteral("Toolbar1"));
        const QRect r(picture->mapTo(bar, QPoint(0, 0)), picture->size());
        QVERIFY(r.right() <= bar->width());
        QVERIFY(picture->isVisible());
        QVERIFY(testing::screenshot(w, QStringLiteral("frmMain_narrow")));
    }

    void screenshotCaptionsWhole()
    {
        frmMain *w = openShown(1280, 800);
        auto *bar = testing::child<QToolBar>(w, QStringLiteral("Toolbar1"));
        for (QAction *a : bar->actions()) {
            if (a->isSeparator() || a->objectName().isEmpty())
                continue;
            auto *b = qobject_cast<QToolButton *>(bar->widgetForAction(a));
            QVERIFY(b && b->isVisible());
            QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(a->text()), qPrintable(a->text()));
            QVERIFY2(b->height() >= b->iconSize().height() + b->fontMetrics().height(), qPrintable(a->text()));
        }
        for (int n = 1; n <= 4; ++n) {
            auto *p = testing::child<QLabel>(w, QStringLiteral("Panels(%1)").arg(n));
            QVERIFY2(p->contentsRect().width() >= p->fontMetrics().horizontalAdvance(p->text()), qPrintable(p->text()));
        }
        auto *www = testing::child<QLabel>(w, QStringLiteral("www"));
        QVERIFY(www->width() >= www->sizeHint().width());
        QVERIFY(www->height() >= www->fontMetrics().height());
        QVERIFY(testing::screenshot(w, QStringLiteral("frmMain")));
    }

    void secondStartBringsForwardModalThenMainThenLogin()
    {
        // A tool tip or a pop-up shown last must never be the window brought back.
        QWidget tip(nullptr, Qt::ToolTip);
        tip.show();
        QCOMPARE(app::WindowToActivate(), static_cast<QWidget *>(nullptr));

        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
        frmLogin login;
        login.show();
        QCOMPARE(app::WindowToActivate(), static_cast<QWidget *>(&login));

        frmMain *w = openShown();
        tip.raise();
        QCOMPARE(app::WindowToActivate(), static_cast<QWidget *>(w));

        QDialog modal(w);
        modal.setModal(true);
        modal.show();
        QCOMPARE(app::WindowToActivate(), static_cast<QWidget *>(&modal));
        modal.hide();
        login.hide();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
