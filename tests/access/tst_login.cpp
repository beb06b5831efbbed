#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/Password.h"
#include "access/frmLogin.h"
#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "store/Settings.h"

#include "store/Database.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestLogin : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<QTemporaryDir> m_program;
    int m_mainOpened = 0;

    std::unique_ptr<frmLogin> openLogin()
    {
        auto w = std::make_unique<frmLogin>();
        w->show();
        QApplication::setActiveWindow(w.get());
        return w;
    }

    void login(frmLogin &w, const QString &password)
    {
        auto *box = testing::child<QLineEdit>(&w, QStringLiteral("txtPassword"));
        box->clear();
        testing::typeText(box, password);
        QTest::mouseClick(testing::child<QPushButton>(&w, QStringLiteral("cmdOK")), Qt::LeftButton);
    }

    static void compareBox(const testing::RecordedBox &b, const QString &text, const QString &title, Icon icon)
    {
        QCOMPARE(b.text, text);
        QCOMPARE(b.title, title);
        QCOMPARE(b.buttons, Buttons::Ok);
        QCOMPARE(b.icon, icon);
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        frmLogin::openMainWindow = [this] { ++m_mainOpened; };
    }

    void init()
    {
        testing::isolateSettings();
        m_program = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_program->path());
        m_archive = std::make_unique<testing::TempArchive>();
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
        app::CurrentAuthority.clear();
        app::CurrentOperator.clear();
        m_mainOpened = 0;
    }

    void windowAsDrawn()
    {
        auto w = openLogin();
        QCOMPARE(w->windowTitle(), QStringLiteral("登录   （初使登录密码为空）"));
        QCOMPARE(w->lblLabels[0]->objectName(), QStringLiteral("lblLabels(0)"));
        QCOMPARE(w->lblLabels[0]->text(), QStringLiteral("用户名(&U):"));
        QCOMPARE(w->lblLabels[1]->text(), QStringLiteral("密码(&P):"));
        QCOMPARE(w->cmdOK->text(), QStringLiteral("确定(O)"));
        QCOMPARE(w->cmdCancel->text(), QStringLiteral("取消(&C)"));
        QVERIFY(w->cmdOK->isDefault());
        QCOMPARE(w->Label1->text(), QStringLiteral("网址："));
        QCOMPARE(w->www->text(), QStringLiteral("  ") + app::WebAddress() + QStringLiteral("  "));
        QCOMPARE(w->www->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QCOMPARE(w->UserTxt->palette().color(QPalette::Base), QColor(37, 148, 160));
        QCOMPARE(w->UserTxt->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(w->txtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(w->txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w->txtPassword),
                 int('*'));
        QVERIFY(!w->txtPassword->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(w->width() >= 384 && w->height() >= 108);
        // Every caption fits its control.
        for (QLabel *l : {w->lblLabels[0], w->lblLabels[1], w->Label1, w->www})
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(),
                     qPrintable(l->objectName()));
        QVERIFY(w->rect().contains(w->childrenRect()));
        QCOMPARE(w->UserTxt->count(), 1);
        QCOMPARE(w->UserTxt->currentText(), QStringLiteral("管理员"));
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmLogin")));
    }

    void tabOrderAndFocus()
    {
        auto w = openLogin();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTRY_VERIFY(w->txtPassword->hasFocus());
        QTest::keyClick(w->txtPassword, Qt::Key_Tab);
        QTRY_VERIFY(w->UserTxt->hasFocus());
        // Leaving the name box always leads to the password.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY(w->txtPassword->hasFocus());
    }

    void rightPasswordOpensTheMainWindow()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("abc")),
                               QStringLiteral("可以修改"));
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        w->UserTxt->setCurrentIndex(1);
        login(*w, QStringLiteral("abc"));
        QCOMPARE(platform.boxes.size(), 0);
        QCOMPARE(m_mainOpened, 1);
        QCOMPARE(app::CurrentAuthority, QStringLiteral("可以修改"));
        QCOMPARE(app::CurrentOperator, QStringLiteral("张三")); // the name the trail records
        QVERIFY(!w->isVisible());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // Its position is stored, in twips, on closing.
        QCOMPARE(settings::readNumber(QStringLiteral("Login"), QStringLiteral("Left")), double(w->x() * 15));
        QCOMPARE(settings::readNumber(QStringLiteral("Login"), QStringLiteral("Top")), double(w->y() * 15));
    }

    void blanksAroundAreIgnoredCaseAndInnerBlanksCount()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("Ab c")),
                               QStringLiteral("只能添加"));
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        w->UserTxt->setCurrentIndex(1);
        platform.answer(Answer::Ok);
        platform.answer(Answer::Ok);
        login(*w, QStringLiteral("ab c"));
        login(*w, QStringLiteral("Abc"));
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(w->attempt(), 3);
        QVERIFY(w->isVisible());
        QCOMPARE(w->txtPassword->selectedText(), QStringLiteral("Abc"));
        login(*w, QStringLiteral("   Ab c  "));
        QCOMPARE(m_mainOpened, 1);
        QCOMPARE(app::CurrentAuthority, QStringLiteral("只能添加"));
    }

    void chinesePasswordWrittenByTheEarlierSystem()
    {
        // As the Windows system stored 管理员: each GBK code lowered by 3.
        m_archive->addOperator(QStringLiteral("李四"), QStringLiteral("官狸援"), QStringLiteral("超级权限"));
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        w->UserTxt->setCurrentIndex(1);
        login(*w, QStringLiteral("管理员"));
        QCOMPARE(m_mainOpened, 1);
        QCOMPARE(app::CurrentAuthority, QStringLiteral("超级权限"));
    }

    void threeFailuresEndTheLogin()
    {
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        for (int i = 0; i < 4; ++i)
            platform.answer(Answer::Ok);
        login(*w, QStringLiteral("x"));
        login(*w, QStringLiteral("y"));
        QCOMPARE(platform.boxes.size(), 2);
        QVERIFY(w->isVisible());
        login(*w, QStringLiteral("z"));
        QCOMPARE(platform.boxes.size(), 4);
        for (int i = 0; i < 3; ++i)
            compareBox(platform.boxes[i], QStringLiteral("无效的密码，再试一次！"), QStringLiteral("登录"), Icon::Question);
        compareBox(platform.boxes[3], QStringLiteral("对不起，您不能使用该系统！"), QStringLiteral("登录失败"),
                   Icon::Information);
        QVERIFY(!w->isVisible());
        QCOMPARE(m_mainOpened, 0);
        QVERIFY(app::CurrentAuthority.isEmpty());
        QVERIFY(app::CurrentOperator.isEmpty());
        QCOMPARE(settings::readNumber(QStringLiteral("Login"), QStringLiteral("Left")), double(w->x() * 15));
    }

    void nullAndEmptyPasswordsAndLevels()
    {
        m_archive->addOperator(QStringLiteral("无值"), QVariant(), QVariant());
        m_archive->addOperator(QStringLiteral("空"), QStringLiteral(""), QStringLiteral("奇怪的级别 "));
        testing::ScriptedPlatform platform;
        {
            auto w = openLogin();
            QCOMPARE(w->UserTxt->count(), 3);
            w->UserTxt->setCurrentIndex(1);
            login(*w, QString());
            QCOMPARE(m_mainOpened, 1);
            QCOMPARE(app::CurrentAuthority, QString());
        }
        {
            auto w = openLogin();
            w->UserTxt->setCurrentIndex(2);
            login(*w, QStringLiteral("    "));
            QCOMPARE(m_mainOpened, 2);
            QCOMPARE(app::CurrentAuthority, QStringLiteral("奇怪的级别 "));
        }
        {
            // The first operator, chosen at load, has the empty password too.
            auto w = openLogin();
            login(*w, QString());
            QCOMPARE(m_mainOpened, 3);
            QCOMPARE(app::CurrentAuthority, QStringLiteral("超级权限"));
        }
        QCOMPARE(platform.boxes.size(), 0);
    }

    void everyOperatorIsListedAndTheTwelfthLogsIn()
    {
        for (int i = 2; i <= 11; ++i)
            m_archive->addOperator(QStringLiteral("员%1").arg(i), QString(), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("员12"), QString(), QStringLiteral("只能修改"));
        m_archive->addOperator(QStringLiteral("员13"), QString(), QStringLiteral("不能修改"));
        testing::ScriptedPlatform platform;
        {
            auto w = openLogin();
            QCOMPARE(w->UserTxt->count(), 13);
            QCOMPARE(w->UserTxt->itemText(0), QStringLiteral("管理员"));
            QCOMPARE(w->UserTxt->itemText(11), QStringLiteral("员12"));
            QCOMPARE(w->UserTxt->itemText(12), QStringLiteral("员13"));
            // The twelfth, typed by name, is chosen and logs in with its own level.
            w->UserTxt->setEditText(QStringLiteral("员12"));
            login(*w, QString());
            QCOMPARE(m_mainOpened, 1);
            QCOMPARE(app::CurrentAuthority, QStringLiteral("只能修改"));
        }
        {
            // The last one, chosen from the list.
            auto w = openLogin();
            w->UserTxt->setCurrentIndex(12);
            login(*w, QString());
            QCOMPARE(m_mainOpened, 2);
            QCOMPARE(app::CurrentAuthority, QStringLiteral("不能修改"));
        }
        QCOMPARE(platform.boxes.size(), 0);
    }

    void missingArchiveIsToldOnceAndTheLoginGoesOn()
    {
        // First start, nothing remembered, no archive at the default place.
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), QString());
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = openLogin();
        QCOMPARE(app::DbPath, app::defaultDatabasePath());
        QCOMPARE(platform.boxes.size(), 1);
        compareBox(platform.boxes[0],
                   QStringLiteral("无法读取病案数据库“%1”中的操作员，不能登录。\n\n找不到数据库文件“%1”。"
                                  "\n\n请运行下面的命令建立一个空的病案数据库（操作员“管理员”，密码为空），"
                                  "然后重新启动本程序：\n%2 init")
                       .arg(app::defaultDatabasePath(), m_program->filePath(QStringLiteral("casearchive-admin"))),
                   QStringLiteral("登录"), Icon::Critical);
        QCOMPARE(w->UserTxt->count(), 0);
        QCOMPARE(w->UserTxt->currentText(), QStringLiteral("UserTxt"));
        platform.answer(Answer::Ok);
        login(*w, QString());
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[1].text, QStringLiteral("无效的密码，再试一次！"));
        QCOMPARE(w->attempt(), 2);
        QCOMPARE(m_mainOpened, 0);
    }

    void rememberedArchiveOutOfReachIsToldOnlyOnce()
    {
        const QString gone = m_program->filePath(QStringLiteral("gone.dat"));
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), gone);
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        auto w = openLogin();
        QCOMPARE(app::DbPath, gone);
        QCOMPARE(platform.boxes.size(), 1); // the start-up's own message, not a second one
        QVERIFY(platform.boxes[0].text.contains(gone));
        QCOMPARE(w->UserTxt->count(), 0);
    }

    void lockedArchiveIsToldInAMessageShownWhole()
    {
        if (testing::onServer())
            QSKIP("a reader never waits for a writer on the server");
        store::setBusyTimeout(50);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other-program"));
        other.setDatabaseName(m_archive->path());
        QVERIFY(other.open());
        QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE"));

        // The real message box, as the operator sees it.
        QString text;
        bool plain = false, whole = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            text = box->text();
            plain = box->textFormat() == Qt::PlainText;
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            whole = label && label->height() >= label->heightForWidth(label->width())
                && label->width() >= label->minimumSizeHint().width();
            testing::screenshot(box, QStringLiteral("frmLogin_locked_archive"));
            box->buttons().first()->click();
        });
        auto w = openLogin();
        QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
        store::setBusyTimeout(5000);

        QVERIFY2(text.contains(QStringLiteral("正被其他程序使用")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("不是病案数据库")), qPrintable(text));
        QVERIFY(plain);
        QVERIFY(whole);
        QCOMPARE(w->UserTxt->count(), 0);
    }

    void storedPasswordWithBlanksAroundStillAccepted()
    {
        // Another tool kept the blanks around the encoded form; the typed password opens.
        m_archive->addOperator(QStringLiteral("乙"), QStringLiteral("  ^_`  "), QStringLiteral("可以修改"));
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        w->UserTxt->setCurrentIndex(1);
        login(*w, QStringLiteral("abc"));
        QCOMPARE(m_mainOpened, 1);
        QCOMPARE(app::CurrentAuthority, QStringLiteral("可以修改"));
    }

    void cancelAndEscapeCloseAndStoreThePosition()
    {
        testing::ScriptedPlatform platform;
        {
            auto w = openLogin();
            w->move(150, 75);
            QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
            QVERIFY(!w->isVisible());
            QCOMPARE(settings::read(QStringLiteral("Login"), QStringLiteral("Left")), QString::number(w->x() * 15));
            QCOMPARE(settings::read(QStringLiteral("Login"), QStringLiteral("Top")), QString::number(w->y() * 15));
        }
        settings::write(QStringLiteral("Login"), QStringLiteral("Left"), QString());
        {
            auto w = openLogin();
            QTest::keyClick(w->txtPassword, Qt::Key_Escape);
            QVERIFY(!w->isVisible());
            QVERIFY(!settings::read(QStringLiteral("Login"), QStringLiteral("Left")).isEmpty());
        }
        settings::write(QStringLiteral("Login"), QStringLiteral("Left"), QString());
        {
            auto w = openLogin();
            QVERIFY(w->close());
            QVERIFY(!settings::read(QStringLiteral("Login"), QStringLiteral("Left")).isEmpty());
        }
        QCOMPARE(m_mainOpened, 0);
    }

    void enterPressesOk()
    {
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        QTest::keyClick(w->txtPassword, Qt::Key_Return);
        QCOMPARE(m_mainOpened, 1);
    }

    void webAddressLink()
    {
        testing::ScriptedPlatform platform;
        auto w = openLogin();
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(w->www, &enter);
        QCOMPARE(w->www->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w->www, &leave);
        QCOMPARE(w->www->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QTest::mouseClick(w->www, Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(platform.opened, QStringList{app::WebAddress()});
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
