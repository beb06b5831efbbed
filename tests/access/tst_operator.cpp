#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/OperatorAccount.h"
#include "access/Password.h"
#include "access/frmLogin.h"
#include "access/frmOperator.h"
#include "app/frmMain.h"
#include "common/Module1.h"
#include "store/Database.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

struct Row {
    QString name;
    QVariant password;
    QString level;
};

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestOperator : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<testing::ScriptedPlatform> m_platform;
    int m_mainOpened = 0;
    QStringList m_hints;

    std::unique_ptr<frmOperator> openWindow()
    {
        auto w = std::make_unique<frmOperator>();
        w->show();
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            QTest::qFail("operator window not active", __FILE__, __LINE__);
        return w;
    }

    static void typeInto(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->clear();
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(box, text);
        else
            box->insert(text); // key clicks carry Latin-1 only
    }

    // Fills the entry fields and presses 保存.
    static void add(frmOperator &w, const QString &name, const QString &password, int level = 0,
                    const QString &repeat = QStringLiteral("\x01same"))
    {
        typeInto(w.Text1, name);
        typeInto(w.Text2, password);
        typeInto(w.Text3, repeat == QStringLiteral("\x01same") ? password : repeat);
        w.cmbAuthority->setCurrentIndex(level);
        QTest::mouseClick(w.Command1, Qt::LeftButton);
    }

    QVector<Row> rows() const
    {
        store::Connection c(m_archive->path());
        QVector<Row> out;
        QSqlQuery q = c.run(QStringLiteral("SELECT UID, PWD, \"权限\" FROM \"User\" ORDER BY rowid"));
        while (q.next())
            out.push_back({q.value(0).toString(), q.value(1), q.value(2).toString()});
        return out;
    }

    static QStringList gridColumn(frmOperator &w, int column)
    {
        QStringList out;
        for (int r = 0; r < w.Grid1->rowCount(); ++r) {
            const QTableWidgetItem *item = w.Grid1->item(r, column);
            out << (item ? item->text() : QString());
        }
        return out;
    }

    static void selectRow(frmOperator &w, int row) { w.Grid1->setCurrentCell(row, 0); }

    static QPoint cellCentre(frmOperator &w, int row)
    {
        return w.Grid1->visualRect(w.Grid1->model()->index(row, 0)).center();
    }

    // Logs in through the real login window; returns the level passed on, or a null text
    // when nothing opened. A refusal shows a box, which fails the test unless answered.
    QString attemptLogin(const QString &name, const QString &password)
    {
        const int opened = m_mainOpened;
        app::CurrentAuthority = QStringLiteral("<none>");
        frmLogin w;
        w.show();
        const int index = w.UserTxt->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            QTest::qFail(qPrintable(QStringLiteral("no operator listed as ") + name), __FILE__, __LINE__);
            return QString();
        }
        w.UserTxt->setCurrentIndex(index);
        w.txtPassword->clear();
        w.txtPassword->insert(password);
        QTest::mouseClick(w.cmdOK, Qt::LeftButton);
        return m_mainOpened == opened + 1 ? app::CurrentAuthority : QString();
    }

    QString login(const QString &name, const QString &password) { return attemptLogin(name, password); }

    // True when the login window refuses the password with its message.
    bool refused(const QString &name, const QString &password)
    {
        const int boxes = int(m_platform->boxes.size());
        m_platform->answer(Answer::Ok);
        const bool opened = !attemptLogin(name, password).isNull();
        if (opened) {
            QTest::qFail(qPrintable(QStringLiteral("password opened the account: ") + password), __FILE__, __LINE__);
            return false;
        }
        return m_platform->boxes.size() == boxes + 1
            && m_platform->boxes.last().text == QStringLiteral("无效的密码，再试一次！");
    }

    static QString adminTool() { return QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin"); }

    // Runs casearchive-admin; returns its exit code, or -1 when it did not run.
    static int runAdmin(const QStringList &arguments, QString *errors = nullptr, const QByteArray &input = {})
    {
        QProcess p;
        p.start(adminTool(), arguments);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        if (errors)
            *errors = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        access::setHashCostForTests(1, 8192); // the cheapest hash: the tests check what, not how slow
        frmLogin::openMainWindow = [this] { ++m_mainOpened; };
        app::setHintTarget([this](const QString &t) { m_hints << t; });
        app::setEndProgramHook([] {});
    }

    void init()
    {
        testing::isolateSettings();
        m_program = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_program->path());
        m_archive = std::make_unique<testing::TempArchive>();
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        m_platform = std::make_unique<testing::ScriptedPlatform>();
        m_mainOpened = 0;
        m_hints.clear();
        app::setHintTarget([this](const QString &t) { m_hints << t; });
    }

    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Emptied first, so that no answer is left for the next test whatever fails here.
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        m_archive.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }

    // ------------------------------------------------------------ the window

    void windowAsDrawn()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("#口令 a#")),
                               QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("李四"), QStringLiteral("^_`"), QStringLiteral("超级权限!"));
        auto w = openWindow();
        QCOMPARE(w->objectName(), QStringLiteral("frmOperator"));
        QCOMPARE(w->windowTitle(), QStringLiteral("操作员设置"));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->width() >= 404 && w->height() >= 240);

        QCOMPARE(w->Picture1->toolTip(), QStringLiteral("操作提示"));
        QCOMPARE(w->Picture1->palette().color(QPalette::Window), QColor(37, 148, 160));
        QCOMPARE(w->Label7->text(), QStringLiteral("删除存在的帐号："));
        QCOMPARE(w->Label8->text(), QStringLiteral("双击选定的帐号"));
        QCOMPARE(w->Label6->text(), QStringLiteral("添加新的帐号"));
        QCOMPARE(w->Label5->text(), QStringLiteral("输入各项之后,按保存"));
        QCOMPARE(w->Label7->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(w->Label6->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(w->Label5->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w->Frame1->title(), QStringLiteral("操作员列表"));
        QCOMPARE(w->Frame1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(w->Label1->text(), QStringLiteral("姓名："));
        QCOMPARE(w->Label2->text(), QStringLiteral("口令："));
        QCOMPARE(w->Label3[0]->objectName(), QStringLiteral("Label3(0)"));
        QCOMPARE(w->Label3[0]->text(), QStringLiteral("重复："));
        QCOMPARE(w->Label3[1]->text(), QStringLiteral("权限："));
        QCOMPARE(w->Label3[1]->palette().color(QPalette::WindowText), QColor(192, 0, 0));
        QCOMPARE(w->Command1->text(), QStringLiteral("保存(S)"));
        QCOMPARE(w->Command2->text(), QStringLiteral("关闭(&C)"));
        QVERIFY(!w->Command1->isEnabled());

        // The grid: three centred headers, the twip widths, n + 4 rows with the header row.
        QCOMPARE(w->Grid1->toolTip(), QStringLiteral("双击显示菜单!"));
        QCOMPARE(w->Grid1->columnCount(), 3);
        const QStringList headers{QStringLiteral(" 操作员 "), QStringLiteral("  口令 "), QStringLiteral(" 权限 ")};
        const int widths[] = {53, 81, 75};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(w->Grid1->horizontalHeaderItem(i)->text(), headers[i]);
            QCOMPARE(w->Grid1->horizontalHeader()->defaultAlignment() & Qt::AlignHCenter, Qt::AlignHCenter);
            QVERIFY(w->Grid1->columnWidth(i) >= widths[i]);
        }
        QVERIFY(w->Grid1->verticalHeader()->isHidden());
        QCOMPARE(w->operatorCount(), 3);
        QCOMPARE(w->Grid1->rowCount() + 1, 3 + 4);
        QCOMPARE(gridColumn(*w, 0), (QStringList{QStringLiteral("管理员"), QStringLiteral("张三"),
                                                 QStringLiteral("李四"), QString(), QString(), QString()}));
        // Never a password: a mask for one that is set, nothing for the empty one.
        QCOMPARE(gridColumn(*w, 1).mid(0, 3),
                 (QStringList{QString(), QStringLiteral("******"), QStringLiteral("******")}));
        QCOMPARE(gridColumn(*w, 2).mid(0, 3), (QStringList{QStringLiteral("超级权限"), QStringLiteral("可以修改"),
                                                           QStringLiteral("超级权限!")}));
        QCOMPARE(w->Grid1->currentRow(), 0);
        QCOMPARE(w->Grid1->currentColumn(), 0);
        QCOMPARE(w->Grid1->selectionModel()->selectedIndexes().size(), 3);
        QCOMPARE(w->Grid1->editTriggers(), QAbstractItemView::NoEditTriggers);

        // Entry fields.
        QCOMPARE(w->Text1->maxLength(), 5);
        for (QLineEdit *e : {w->Text2, w->Text3}) {
            QCOMPARE(e->maxLength(), 32767); // a long password is refused on saving, never cut
            QCOMPARE(e->echoMode(), QLineEdit::Password);
            QCOMPARE(e->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, e), int('*'));
            QVERIFY(!e->testAttribute(Qt::WA_InputMethodEnabled));
        }
        QVERIFY(!w->cmbAuthority->isEditable());
        QCOMPARE(w->cmbAuthority->count(), 4);
        const QStringList levels{QStringLiteral("只能添加"), QStringLiteral("不能修改"), QStringLiteral("可以修改"),
                                 QStringLiteral("超级权限!")};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w->cmbAuthority->itemText(i), levels[i]);
        QCOMPARE(w->cmbAuthority->currentText(), QStringLiteral("只能添加"));

        // The menu.
        QCOMPARE(w->MnuOperate->title(), QStringLiteral("帐号操作"));
        QCOMPARE(w->MnuAdd->text(), QStringLiteral("添加帐号[&A]"));
        QCOMPARE(w->MnuAdd->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
        QCOMPARE(w->MnuDelete->text(), QStringLiteral("删除帐号[&D] ..."));
        QCOMPARE(w->MnuDelete->shortcut(), QKeySequence(Qt::Key_Delete));
        const QList<QAction *> items = w->MnuOperate->actions();
        QCOMPARE(items.size(), 3);
        QVERIFY(items[1]->isSeparator());

        // Every caption whole: labels, buttons, the frame's title, the headers, the levels.
        for (QLabel *l : {w->Label1, w->Label2, w->Label3[0], w->Label3[1], w->Label5, w->Label6, w->Label7, w->Label8})
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(),
                     qPrintable(l->objectName()));
        for (QLabel *l : {w->Label5, w->Label6, w->Label7, w->Label8})
            QVERIFY2(w->Picture1->rect().contains(l->geometry()), qPrintable(l->objectName()));
        for (QPushButton *b : {w->Command1, w->Command2})
            QVERIFY2(b->width() >= b->sizeHint().width() && b->height() >= b->sizeHint().height(),
                     qPrintable(b->objectName()));
        QVERIFY(w->Frame1->width() > w->Frame1->fontMetrics().horizontalAdvance(w->Frame1->title()) + 20);
        for (int i = 0; i < 3; ++i)
            QVERIFY(w->Grid1->columnWidth(i) >= w->Grid1->horizontalHeader()->sectionSizeHint(i));
        QVERIFY(w->Grid1->viewport()->width() >= w->Grid1->horizontalHeader()->length());
        QVERIFY(w->cmbAuthority->width() >= w->cmbAuthority->sizeHint().width());
        QVERIFY(w->Frame1->rect().contains(w->Grid1->geometry()));
        QVERIFY(w->rect().contains(w->childrenRect()));
        // The entry fields stand right of the frame, side by side with their captions.
        QVERIFY(w->Label1->x() > w->Frame1->geometry().right());
        const std::pair<QLabel *, QWidget *> pairs[] = {
            {w->Label1, w->Text1}, {w->Label2, w->Text2}, {w->Label3[0], w->Text3}, {w->Label3[1], w->cmbAuthority}};
        for (const auto &[label, box] : pairs)
            QVERIFY2(box->x() > label->geometry().right(), qPrintable(label->objectName()));
        QVERIFY(w->Command1->y() > w->cmbAuthority->geometry().bottom());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmOperator")));
    }

    void tabOrderEnterAndSaveEnabling()
    {
        auto w = openWindow();
        QTRY_VERIFY(w->Text1->hasFocus());
        // A name of blanks only cannot be saved, and Enter does not move on.
        QTest::keyClicks(w->Text1, QStringLiteral("   "));
        QVERIFY(!w->Command1->isEnabled());
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Text1->hasFocus());
        QTest::keyClicks(w->Text1, QStringLiteral("a"));
        QVERIFY(w->Command1->isEnabled());
        w->Text1->setText(QStringLiteral("  "));
        QVERIFY(!w->Command1->isEnabled());
        w->Text1->setText(QStringLiteral(" b "));
        QVERIFY(w->Command1->isEnabled());
        // Enter moves on as Tab does, and presses no button.
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Text2->hasFocus());
        QTest::keyClick(w->Text2, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(w->Text3->hasFocus());
        QTest::keyClick(w->Text3, Qt::Key_Return);
        QVERIFY(w->cmbAuthority->hasFocus());
        QTest::keyClick(w->cmbAuthority, Qt::Key_Return);
        QVERIFY(w->Command1->hasFocus());
        QTest::keyClick(w->Command1, Qt::Key_Tab);
        QVERIFY(w->Command2->hasFocus());
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QVERIFY(w->isVisible());
        QCOMPARE(m_platform->boxes.size(), 0);
    }

    void addWithEachLevelThenLogIn()
    {
        auto w = openWindow();
        const QStringList names{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁")};
        for (int level = 0; level < 4; ++level)
            add(*w, names[level], QStringLiteral("pw%1").arg(level), level);
        QCOMPARE(m_platform->boxes.size(), 0);
        const QVector<Row> stored = rows();
        QCOMPARE(stored.size(), 5);
        for (int level = 0; level < 4; ++level) {
            QCOMPARE(stored[level + 1].name, names[level]);
            QVERIFY(access::isHashedForm(stored[level + 1].password.toString()));
            QVERIFY(access::passwordMatches(QStringLiteral("pw%1").arg(level), stored[level + 1].password.toString()));
            QCOMPARE(stored[level + 1].level, frmOperator::offeredLevels().at(level));
        }
        QCOMPARE(w->operatorCount(), 5);
        QCOMPARE(w->Grid1->rowCount() + 1, 5 + 4);
        QCOMPARE(gridColumn(*w, 1).mid(1, 4), QStringList(4, QStringLiteral("******")));
        QCOMPARE(gridColumn(*w, 2).mid(1, 4), frmOperator::offeredLevels());
        // The fields are emptied, the level stays, the focus is back in the name.
        QVERIFY(w->Text1->text().isEmpty() && w->Text2->text().isEmpty() && w->Text3->text().isEmpty());
        QCOMPARE(w->cmbAuthority->currentIndex(), 3);
        QVERIFY(w->Text1->hasFocus());
        QVERIFY(!w->Command1->isEnabled());
        w->close();

        // Each logs in at once with the password typed, carrying its level.
        for (int level = 0; level < 4; ++level) {
            QCOMPARE(login(names[level], QStringLiteral("pw%1").arg(level)), frmOperator::offeredLevels().at(level));
            QVERIFY(refused(names[level], QStringLiteral("pw%1").arg(level + 1)));
        }
    }

    void eachLevelSeesTheToolbarItAllows()
    {
        // End to end: added here, logged in through the login window, the main window's
        // "USER" button opens this window only for the level 超级权限 (which this window
        // never gives; "超级权限!" is not it).
        {
            auto w = openWindow();
            for (int level = 0; level < 4; ++level)
                add(*w, QStringLiteral("员%1").arg(level), QStringLiteral("x"), level);
        }
        QString hint;
        auto tryUser = [this, &hint](const QString &name, const QString &password) {
            if (login(name, password).isNull())
                return QStringList{QStringLiteral("<refused>")};
            frmMain main;
            m_platform->modals.clear();
            main.Toolbar1_ButtonClick(QStringLiteral("USER"));
            hint = testing::child<QLabel>(&main, QStringLiteral("Panels(2)"))->text();
            return m_platform->modals;
        };
        for (int level = 0; level < 4; ++level)
            QCOMPARE(tryUser(QStringLiteral("员%1").arg(level), QStringLiteral("x")), QStringList());
        int operatorsSeen = -1;
        bool busy = false;
        m_platform->onModal = [&](QDialog &d) {
            operatorsSeen = static_cast<frmOperator &>(d).operatorCount();
            busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            return int(QDialog::Rejected);
        };
        QCOMPARE(tryUser(QStringLiteral("管理员"), QString()), QStringList{QStringLiteral("frmOperator")});
        QCOMPARE(operatorsSeen, 5);
        QVERIFY(busy);
        QCOMPARE(hint, QStringLiteral("操作员配置"));
        QVERIFY(!QApplication::overrideCursor());
        m_platform->onModal = nullptr;
    }

    void duplicateDifferingOnlyInCase()
    {
        auto w = openWindow();
        add(*w, QStringLiteral("Abc"), QStringLiteral("1"));
        m_platform->answer(Answer::Ok);
        add(*w, QStringLiteral(" aBC "), QStringLiteral("2"), 2);
        QCOMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &b = m_platform->boxes[0];
        QCOMPARE(b.text, QStringLiteral("操作员< aBC >已经存在,不能继续!    "));
        QCOMPARE(b.title, platform::kAppTitle);
        QCOMPARE(b.buttons, Buttons::Ok);
        QCOMPARE(b.icon, Icon::Information);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);
        QVERIFY(w->Text1->text().isEmpty());
        QVERIFY(w->Text1->hasFocus());
        // The database is free again: nothing was left open.
        add(*w, QStringLiteral("xyz"), QString());
        QCOMPARE(m_archive->count(QStringLiteral("User")), 3);
    }

    void apostropheAndBlankName()
    {
        auto w = openWindow();
        m_platform->answer(Answer::Ok);
        add(*w, QStringLiteral("a'b"), QStringLiteral("x"));
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].text, QStringLiteral("操作员姓名之中有特殊字符<'>,请删除。"));
        QCOMPARE(m_platform->boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(m_platform->boxes[0].icon, Icon::Exclamation);
        QCOMPARE(w->Text1->text(), QStringLiteral("a'b"));
        QVERIFY(w->Text1->hasFocus());
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);

        // Blanks only: the button stays disabled, a click does nothing.
        w->Text1->setText(QStringLiteral("     "));
        QVERIFY(!w->Command1->isEnabled());
        w->Command1_Click();
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QCOMPARE(m_platform->boxes.size(), 1);
        // Blanks around a name are not stored.
        add(*w, QStringLiteral(" 王 "), QString());
        QCOMPARE(rows().last().name, QStringLiteral("王"));
    }

    void mismatchMessage()
    {
        auto w = openWindow();
        typeInto(w->Text1, QStringLiteral("abc"));
        typeInto(w->Text2, QStringLiteral("secret"));
        typeInto(w->Text3, QStringLiteral("secreT"));
        m_platform->answer(Answer::Ok);
        QTest::keyClick(w->Text3, Qt::Key_Tab);
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].text, QStringLiteral("两次口令不符，请重新再来    "));
        QCOMPARE(m_platform->boxes[0].title, QStringLiteral("口令不符"));
        QCOMPARE(m_platform->boxes[0].icon, Icon::Information);
        QCOMPARE(m_platform->boxes[0].buttons, Buttons::Ok);
        QVERIFY(w->Text2->text().isEmpty());
        QVERIFY(w->Text3->text().isEmpty());
        QVERIFY(w->Text2->hasFocus());

        // Blanks around do not count; equal texts pass without a message.
        typeInto(w->Text2, QStringLiteral("same"));
        typeInto(w->Text3, QStringLiteral("  same "));
        QTest::keyClick(w->Text3, Qt::Key_Return);
        QCOMPARE(m_platform->boxes.size(), 1);

        // A password changed after its repeat is caught when saving: nothing is written.
        typeInto(w->Text2, QStringLiteral("changed"));
        m_platform->answer(Answer::Ok);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("口令不符"));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QVERIFY(w->Text2->text().isEmpty() && w->Text3->text().isEmpty());
        QVERIFY(w->Text2->hasFocus());

        // Pressing 保存 straight from a differing repeat shows the message once.
        typeInto(w->Text2, QStringLiteral("one"));
        typeInto(w->Text3, QStringLiteral("two"));
        m_platform->answer(Answer::Ok);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(m_platform->boxes.size(), 3);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        // Escape closes without asking.
        typeInto(w->Text2, QStringLiteral("one"));
        typeInto(w->Text3, QStringLiteral("two"));
        QTest::keyClick(w->Text3, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(m_platform->boxes.size(), 3);
    }

    void passwordsAsTyped_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("wrong");
        QTest::newRow("hash at the end") << QStringLiteral("abc#") << QStringLiteral("abc#")
                                         << QStringList{QStringLiteral("abc"), QStringLiteral("abc##"),
                                                        QStringLiteral("#abc")};
        QTest::newRow("hash at both ends") << QStringLiteral("#ab#") << QStringLiteral("#ab#")
                                           << QStringList{QStringLiteral("ab"), QStringLiteral("#ab"),
                                                          QStringLiteral("ab#")};
        QTest::newRow("hash only") << QStringLiteral("#") << QStringLiteral("#")
                                   << QStringList{QString(), QStringLiteral("##")};
        QTest::newRow("plain") << QStringLiteral("abc") << QStringLiteral("abc")
                               << QStringList{QStringLiteral("abc#"), QStringLiteral("#abc")};
        QTest::newRow("star") << QStringLiteral("a*b") << QStringLiteral("a*b")
                              << QStringList{QStringLiteral("a'b"), QStringLiteral("ab")};
        QTest::newRow("stars only") << QStringLiteral("**") << QStringLiteral("**")
                                    << QStringList{QStringLiteral("*"), QStringLiteral("''")};
        QTest::newRow("chinese") << QStringLiteral("病案口令") << QStringLiteral("病案口令")
                                 << QStringList{QStringLiteral("病案"), QStringLiteral("病案口令#")};
        QTest::newRow("blanks") << QStringLiteral("  a b  ") << QStringLiteral("a b")
                                << QStringList{QStringLiteral("ab"), QStringLiteral("a  b")};
        QTest::newRow("empty") << QString() << QString() << QStringList{QStringLiteral("#"), QStringLiteral("x")};
        QTest::newRow("everything") << QStringLiteral("# 管*理 #") << QStringLiteral("# 管*理 #")
                                    << QStringList{QStringLiteral("管*理"), QStringLiteral("# 管'理 #")};
    }

    void passwordsAsTyped()
    {
        QFETCH(QString, password);
        QFETCH(QString, shown);
        QFETCH(QStringList, wrong);
        {
            auto w = openWindow();
            add(*w, QStringLiteral("新员"), password, 2);
            QCOMPARE(m_platform->boxes.size(), 0);
            QCOMPARE(gridColumn(*w, 0).at(1), QStringLiteral("新员"));
            QCOMPARE(gridColumn(*w, 1).at(1), shown.isEmpty() ? QString() : QStringLiteral("******"));
        }
        // A hash with a salt of its own; the empty password in its marked form.
        const QString stored = rows().last().password.toString();
        if (shown.isEmpty()) {
            QCOMPARE(stored, access::storedForm(QString()));
        } else {
            QVERIFY(access::isHashedForm(stored));
            QVERIFY(!stored.contains(shown) && !stored.contains(access::encode(shown)));
        }
        QCOMPARE(login(QStringLiteral("新员"), password), QStringLiteral("可以修改"));
        QCOMPARE(login(QStringLiteral("新员"), QStringLiteral("  ") + password + QStringLiteral(" ")),
                 QStringLiteral("可以修改"));
        for (const QString &other : wrong)
            QVERIFY2(refused(QStringLiteral("新员"), other), qPrintable(other));
    }

    void passwordsOfEarlierArchivesStillOpen()
    {
        // As the earlier window stored "abc#" (trimmed: "^_`") and "#" (the empty text).
        m_archive->addOperator(QStringLiteral("旧甲"), QStringLiteral("^_`"), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("旧乙"), QStringLiteral(""), QStringLiteral("只能添加"));
        m_archive->addOperator(QStringLiteral("旧丙"), QStringLiteral("官狸援"), QStringLiteral("不能修改"));
        {
            auto w = openWindow();
            QCOMPARE(gridColumn(*w, 1).mid(1, 3), (QStringList{QStringLiteral("******"), QString(), QStringLiteral("******")}));
        }
        // Each variant the earlier login took still opens; the first login replaces the
        // stored form with the hash of what was typed, which then opens alone.
        for (const QString &typed : {QStringLiteral("abc"), QStringLiteral("abc#"), QStringLiteral("#abc")}) {
            m_archive->exec(QStringLiteral("UPDATE \"User\" SET PWD = ? WHERE UID = ?"), {QStringLiteral("^_`"), QStringLiteral("旧甲")});
            QCOMPARE(login(QStringLiteral("旧甲"), typed), QStringLiteral("可以修改"));
            const QString stored = rows().at(1).password.toString();
            QVERIFY(access::isHashedForm(stored));
            QVERIFY(access::passwordMatches(typed, stored));
            QCOMPARE(login(QStringLiteral("旧甲"), typed), QStringLiteral("可以修改"));
        }
        QVERIFY(refused(QStringLiteral("旧甲"), QStringLiteral("abc##")));
        for (const QString &typed : {QString(), QStringLiteral("#")}) {
            m_archive->exec(QStringLiteral("UPDATE \"User\" SET PWD = ? WHERE UID = ?"), {QStringLiteral(""), QStringLiteral("旧乙")});
            QCOMPARE(login(QStringLiteral("旧乙"), typed), QStringLiteral("只能添加"));
            QCOMPARE(login(QStringLiteral("旧乙"), typed), QStringLiteral("只能添加"));
            QVERIFY(access::isUpToDate(rows().at(2).password.toString()));
        }
        QVERIFY(refused(QStringLiteral("旧乙"), QString()));
        QCOMPARE(login(QStringLiteral("旧丙"), QStringLiteral("管理员")), QStringLiteral("不能修改"));
        QCOMPARE(login(QStringLiteral("管理员"), QString()), QStringLiteral("超级权限"));
        QVERIFY(refused(QStringLiteral("旧甲"), QStringLiteral("ab")));
    }

    // ------------------------------------------------------------ grid, menu, delete

    void menuOnTheGrid()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("x")), QStringLiteral("可以修改"));
        auto w = openWindow();
        // A right click on an empty row: the menu opens with delete disabled.
        QTest::mouseClick(w->Grid1->viewport(), Qt::RightButton, {}, cellCentre(*w, 3));
        QTRY_VERIFY(w->MnuOperate->isVisible());
        QVERIFY(!w->MnuDelete->isEnabled());
        QVERIFY(w->MnuAdd->isEnabled());
        QCOMPARE(m_hints.last(), QStringLiteral("帐号删除、添加操作"));
        // 添加帐号 puts the focus into the name.
        QTest::mouseClick(w->MnuOperate, Qt::LeftButton, {}, w->MnuOperate->actionGeometry(w->MnuAdd).center());
        QTRY_VERIFY(!w->MnuOperate->isVisible());
        QTRY_VERIFY(w->Text1->hasFocus());

        // A left click only sets the rule; a double click opens the menu.
        QTest::mouseClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 1));
        QVERIFY(w->MnuDelete->isEnabled());
        QVERIFY(!w->MnuOperate->isVisible());
        QTest::mouseClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 2));
        QVERIFY(!w->MnuDelete->isEnabled());
        m_hints.clear();
        QTest::mouseDClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 1));
        QTRY_VERIFY(w->MnuOperate->isVisible());
        QVERIFY(w->MnuDelete->isEnabled());
        QCOMPARE(m_hints, QStringList{QStringLiteral("帐号删除、添加操作")});
        // 删除帐号 asks first; No (the default) keeps the operator.
        m_platform->answer(Answer::No);
        QTest::mouseClick(w->MnuOperate, Qt::LeftButton, {}, w->MnuOperate->actionGeometry(w->MnuDelete).center());
        QTRY_COMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &b = m_platform->boxes[0];
        QCOMPARE(b.text, QStringLiteral("真的要删除[张三]操作员吗（Y/N）？"));
        QCOMPARE(b.title, QStringLiteral("确认删除"));
        QCOMPARE(b.buttons, Buttons::YesNo);
        QCOMPARE(b.icon, Icon::Critical);
        QCOMPARE(b.defaultButton, Answer::No);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);

        // The shortcuts work on the grid: Del deletes the selected operator, Ctrl+A goes
        // to the name.
        w->Grid1->setFocus();
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        QTest::keyClick(w->Grid1, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        w->Grid1->setFocus();
        QTest::keyClick(w->Grid1, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(w->Text1->hasFocus());
        // Del in a text box deletes a character, never an operator.
        w->Text1->setText(QStringLiteral("ab"));
        w->Text1->setCursorPosition(0);
        QTest::keyClick(w->Text1, Qt::Key_Delete);
        QCOMPARE(w->Text1->text(), QStringLiteral("b"));
    }

    void deleteWithTwoOperatorsThenOne()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("x")), QStringLiteral("可以修改"));
        auto w = openWindow();
        QCOMPARE(w->operatorCount(), 2);
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        w->MnuDelete_Click();
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QCOMPARE(w->operatorCount(), 1);
        QCOMPARE(w->Grid1->rowCount() + 1, 1 + 4);
        QCOMPARE(gridColumn(*w, 0).at(1), QString());

        // The last one cannot go.
        selectRow(*w, 0);
        m_platform->answer(Answer::Ok);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
        const testing::RecordedBox &b = m_platform->boxes[1];
        QCOMPARE(b.text, QStringLiteral("仅剩下当前用户了,不能继续,请注意!    "));
        QCOMPARE(b.title, QStringLiteral("不能删除"));
        QCOMPARE(b.icon, Icon::Question);
        QCOMPARE(b.buttons, Buttons::Ok);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        // An empty row: nothing asked.
        selectRow(*w, 2);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
    }

    void deletingTheLoggedInOperator()
    {
        QCOMPARE(login(QStringLiteral("管理员"), QString()), QStringLiteral("超级权限"));
        // Another operator who may manage operators (the admin tool gives that level).
        m_archive->addOperator(QStringLiteral("接班"), QString(), QStringLiteral("超级权限"));
        auto w = openWindow();
        selectRow(*w, 0);
        m_platform->answer(Answer::Yes);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].text, QStringLiteral("真的要删除[管理员]操作员吗（Y/N）？"));
        // Allowed: the window stays open, the session keeps its level.
        QVERIFY(w->isVisible());
        QCOMPARE(app::CurrentAuthority, QStringLiteral("超级权限"));
        QCOMPARE(gridColumn(*w, 0).mid(0, 2), (QStringList{QStringLiteral("接班"), QString()}));
        w->close();
        frmLogin login;
        QCOMPARE(login.UserTxt->count(), 1);
        QCOMPARE(login.UserTxt->itemText(0), QStringLiteral("接班"));
    }

    // ------------------------------------------------------------ failures

    void failingSaveIsReportedAndRolledBack()
    {
        // The row goes in, then the store fails within the same statement (on the file
        // the statement keeps what it had done): only the rollback takes it out again.
        m_archive->failWrites(QStringLiteral("refuse"), QStringLiteral("AFTER INSERT ON \"User\""),
                              QStringLiteral("模拟的写入故障"), QStringLiteral("NEW.UID = '坏'"), true);
        auto w = openWindow();
        m_platform->answer(Answer::Ok);
        add(*w, QStringLiteral("坏"), QStringLiteral("pw"), 1);
        QCOMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &b = m_platform->boxes[0];
        QCOMPARE(b.title, QStringLiteral("错误提示"));
        QCOMPARE(b.icon, Icon::Critical);
        QCOMPARE(b.buttons, Buttons::Ok);
        QVERIFY2(b.text.contains(QStringLiteral("模拟的写入故障")), qPrintable(b.text));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QCOMPARE(m_archive->count(QStringLiteral("User"), QStringLiteral("UID = ?"), {QStringLiteral("坏")}), 0);
        // The grid shows what the table holds; the entries stay for another try.
        QCOMPARE(w->operatorCount(), 1);
        QCOMPARE(gridColumn(*w, 0).mid(0, 2), (QStringList{QStringLiteral("管理员"), QString()}));
        QCOMPARE(w->Text1->text(), QStringLiteral("坏"));
        QCOMPARE(w->Text2->text(), QStringLiteral("pw"));
        // No transaction was left open: the next save goes through.
        typeInto(w->Text1, QStringLiteral("好"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);
        QCOMPARE(login(QStringLiteral("好"), QStringLiteral("pw")), QStringLiteral("不能修改"));
    }

    void failingDeleteIsReportedAndRolledBack()
    {
        // The row goes, then the store fails within the same statement (on the file the
        // statement keeps what it had done): only the rollback brings the row back.
        m_archive->addOperator(QStringLiteral("abc"), access::storedForm(QStringLiteral("1")), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("ABC"), access::storedForm(QStringLiteral("2")), QStringLiteral("可以修改"));
        m_archive->failWrites(QStringLiteral("keep"), QStringLiteral("AFTER DELETE ON \"User\""),
                              QStringLiteral("模拟的删除故障"), QStringLiteral("OLD.UID = 'abc'"), true);
        auto w = openWindow();
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("错误提示"));
        QCOMPARE(m_platform->boxes[1].icon, Icon::Critical);
        QVERIFY(m_platform->boxes[1].text.contains(QStringLiteral("模拟的删除故障")));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 3);
        QCOMPARE(gridColumn(*w, 0).mid(0, 3),
                 (QStringList{QStringLiteral("管理员"), QStringLiteral("abc"), QStringLiteral("ABC")}));
        QCOMPARE(w->operatorCount(), 3);
    }

    void failingLoadIsReported()
    {
        app::DbPath = m_program->filePath(QStringLiteral("gone.dat"));
        m_platform->answer(Answer::Ok);
        auto w = openWindow();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(m_platform->boxes[0].icon, Icon::Critical);
        QVERIFY(m_platform->boxes[0].text.contains(QStringLiteral("gone.dat")));
        QCOMPARE(w->operatorCount(), 0);
        QCOMPARE(gridColumn(*w, 0), (QStringList{QString(), QString(), QString()}));
        QCOMPARE(w->cmbAuthority->currentIndex(), 0);
        // A save into the missing archive is reported too, and creates no file.
        m_platform->answer(Answer::Ok);
        add(*w, QStringLiteral("甲"), QString());
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("错误提示"));
        QVERIFY(!QFile::exists(app::DbPath));
    }

    void positionIsStoredOnClose()
    {
        {
            auto w = openWindow();
            QTest::mouseClick(w->Command2, Qt::LeftButton);
            QVERIFY(!w->isVisible());
            QCOMPARE(settings::read(QStringLiteral("Operator"), QStringLiteral("Left")), QString::number(w->x() * 15));
            QCOMPARE(settings::read(QStringLiteral("Operator"), QStringLiteral("Top")), QString::number(w->y() * 15));
        }
        settings::write(QStringLiteral("Operator"), QStringLiteral("Left"), QString());
        {
            auto w = openWindow();
            QTest::keyClick(w->Text1, Qt::Key_Escape);
            QVERIFY(!w->isVisible());
            QVERIFY(!settings::read(QStringLiteral("Operator"), QStringLiteral("Left")).isEmpty());
        }
        settings::write(QStringLiteral("Operator"), QStringLiteral("Left"), QString());
        {
            auto w = openWindow();
            QVERIFY(w->close());
            QVERIFY(!settings::read(QStringLiteral("Operator"), QStringLiteral("Left")).isEmpty());
        }
    }

    // ------------------------------------------------------------ recovery

    void recoveryOnAGoodArchive()
    {
        // Locked out: the only operator left has a level that cannot manage operators.
        m_archive->clearOperators();
        m_archive->addOperator(QStringLiteral("王五"), access::storedForm(QStringLiteral("w")), QStringLiteral("可以修改"));
        QCOMPARE(access::setOperatorAccount(m_archive->path(), QStringLiteral(" 救援 "), QStringLiteral("#r*1#"),
                                            access::kRecoveryLevel),
                 access::AccountChange::Added);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("#r*1#")), QStringLiteral("超级权限"));
        QVERIFY(refused(QStringLiteral("救援"), QStringLiteral("r*1")));
        // Resetting an existing operator: the name exactly. With only a name that differs in
        // letter case, nothing is written and the names there are are listed.
        m_archive->addOperator(QStringLiteral("Tom"), access::storedForm(QStringLiteral("old")), QStringLiteral("只能添加"));
        const QByteArray unchanged = fileHash(m_archive->path());
        try {
            access::setOperatorAccount(m_archive->path(), QStringLiteral("tom"), QStringLiteral("new"),
                                       QStringLiteral("超级权限"));
            QFAIL("a name differing in letter case was reset");
        } catch (const store::StoreError &e) {
            QCOMPARE(e.description(), QStringLiteral("没有名为“tom”的操作员，只有字母大小写不同的：Tom。"
                                                     "请照原样写出要重设的那一个，什么也没有修改。"));
        }
        QCOMPARE(fileHash(m_archive->path()), unchanged);
        QCOMPARE(access::setOperatorAccount(m_archive->path(), QStringLiteral("Tom"), QStringLiteral("new"),
                                            QStringLiteral("超级权限")),
                 access::AccountChange::Reset);
        QCOMPARE(login(QStringLiteral("Tom"), QStringLiteral("new")), QStringLiteral("超级权限"));
        QVERIFY(refused(QStringLiteral("Tom"), QStringLiteral("old")));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 3);
        // Refused without writing: unknown level, apostrophe, blank name, long new name.
        const QByteArray before = fileHash(m_archive->path());
        for (const auto &bad : {QStringList{QStringLiteral("x"), QStringLiteral("超级权限 ")},
                                QStringList{QStringLiteral("o'k"), QStringLiteral("超级权限")},
                                QStringList{QStringLiteral("  "), QStringLiteral("超级权限")},
                                QStringList{QStringLiteral("abcdef"), QStringLiteral("超级权限")}}) {
            QVERIFY_THROWS_EXCEPTION(store::StoreError,
                                     access::setOperatorAccount(m_archive->path(), bad[0], QString(), bad[1]));
        }
        QCOMPARE(fileHash(m_archive->path()), before);
    }

    void recoveryRefusesMissingAndForeignFiles()
    {
        const QString missing = m_program->filePath(QStringLiteral("nowhere/file.dat"));
        try {
            access::setOperatorAccount(missing, QStringLiteral("甲"), QString(), access::kRecoveryLevel);
            QFAIL("a missing archive was accepted");
        } catch (const store::StoreError &e) {
            QVERIFY(e.description().contains(QStringLiteral("找不到")));
            QVERIFY(e.description().contains(missing));
        }
        QVERIFY(!QFile::exists(missing));

        // Not a database at all.
        const QString text = m_program->filePath(QStringLiteral("notes.dat"));
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("这不是病案数据库\n");
        }
        // A database of another program.
        const QString other = m_program->filePath(QStringLiteral("other.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(other);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE \"User\" (name TEXT, mail TEXT, role TEXT)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        for (const QString &foreign : {text, other}) {
            const QByteArray before = fileHash(foreign);
            try {
                access::setOperatorAccount(foreign, QStringLiteral("甲"), QString(), access::kRecoveryLevel);
                QFAIL("a foreign file was accepted");
            } catch (const store::StoreError &e) {
                QVERIFY2(e.description().contains(QStringLiteral("不是病案数据库")), qPrintable(e.description()));
            }
            QCOMPARE(fileHash(foreign), before);
        }
    }

    void adminCommand()
    {
        if (!QFile::exists(adminTool()))
            QSKIP("casearchive-admin is not built beside the tests");
        QString errors;
        // A good archive: add, then reset.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"),
                           QStringLiteral("--password"), QStringLiteral("a#")}, &errors),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("a#")), QStringLiteral("超级权限"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"),
                           QStringLiteral("--level"), QStringLiteral("只能添加")}),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QString()), QStringLiteral("只能添加"));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);

        // "-" takes the password from standard input, off the command line: its first line,
        // without the line break, as typed.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-"), QStringLiteral("--level"), QStringLiteral("可以修改")},
                          &errors, QByteArray("病案室 b#2\r\nsecond line\n")),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("病案室 b#2")), QStringLiteral("可以修改"));
        QVERIFY(refused(QStringLiteral("救援"), QStringLiteral("-")));
        // Nothing to read sets no empty password behind the office's back.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-")},
                          &errors),
                 1);
        QCOMPARE(errors, QStringLiteral("casearchive-admin: no password on standard input (--password - reads its first line)\n"));
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("病案室 b#2")), QStringLiteral("可以修改"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-")},
                          &errors, QByteArray(2000, 'x')),
                 1);
        QCOMPARE(errors, QStringLiteral("casearchive-admin: the password on standard input is too long\n"));

        // A missing file.
        const QString missing = m_program->filePath(QStringLiteral("missing.dat"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), missing, QStringLiteral("甲")}, &errors), 1);
        QVERIFY2(errors.contains(QStringLiteral("找不到")) && errors.contains(missing), qPrintable(errors));
        QVERIFY(!QFile::exists(missing));

        // A foreign file.
        const QString foreign = m_program->filePath(QStringLiteral("foreign.dat"));
        {
            QFile f(foreign);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("name,password\n");
        }
        const QByteArray before = fileHash(foreign);
        QCOMPARE(runAdmin({QStringLiteral("operator"), foreign, QStringLiteral("甲")}, &errors), 1);
        QVERIFY2(errors.contains(QStringLiteral("不是病案数据库")), qPrintable(errors));
        QCOMPARE(fileHash(foreign), before);

        // Wrong use: the usage, another exit code.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path()}, &errors), 2);
        QVERIFY(errors.contains(QStringLiteral("operator PATH NAME")));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("甲"),
                           QStringLiteral("--level"), QStringLiteral("boss")}, &errors),
                 1);
        QVERIFY(errors.contains(QStringLiteral("可用的权限")));
    }
};

QTEST_MAIN(TestOperator)
#include "tst_operator.moc"
