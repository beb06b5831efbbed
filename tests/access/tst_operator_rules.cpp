#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/OperatorAccount.h"
#include "access/Password.h"
#include "access/frmOperator.h"
#include "common/Module1.h"
#include "store/Database.h"
#include "store/Settings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

// The operator window's rules that keep an office able to log in: a delete removes exactly
// the row chosen and never the last operator who may manage operators; a password is saved
// exactly as typed or refused, never cut.
class TestOperatorRules : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<testing::ScriptedPlatform> m_platform;

    std::unique_ptr<frmOperator> openWindow()
    {
        auto w = std::make_unique<frmOperator>();
        w->show();
        return w;
    }

    // "name level" of every row, in the order stored.
    QStringList operators()
    {
        store::Connection c(m_archive->path());
        QStringList out;
        for (const store::OperatorRow &r : store::readOperators(c))
            out << r.name + QLatin1Char(' ') + r.authority;
        return out;
    }

    QString storedPassword(const QString &name)
    {
        store::Connection c(m_archive->path());
        for (const store::OperatorRow &r : store::readOperators(c))
            if (r.name == name)
                return r.password;
        return QStringLiteral("<no row>");
    }

    static int rowOf(frmOperator &w, const QString &name)
    {
        for (int r = 0; r < w.Grid1->rowCount(); ++r)
            if (w.Grid1->item(r, 0) && w.Grid1->item(r, 0)->text() == name)
                return r;
        return -1;
    }

    void deleteRow(frmOperator &w, const QString &name)
    {
        const int row = rowOf(w, name);
        QVERIFY2(row >= 0, qPrintable(name));
        w.Grid1->setCurrentCell(row, 0);
        w.MnuDelete_Click();
    }

    static void compareBox(const testing::RecordedBox &b, const QString &text, const QString &title, Icon icon)
    {
        QCOMPARE(b.text, text);
        QCOMPARE(b.title, title);
        QCOMPARE(b.buttons, Buttons::Ok);
        QCOMPARE(b.icon, icon);
    }

    void save(frmOperator &w, const QString &name, const QString &password)
    {
        w.Text1->setText(name);
        w.Text2->setText(password);
        w.Text3->setText(password);
        QTest::mouseClick(w.Command1, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        access::setHashCostForTests(1, 8192);
    }

    void init()
    {
        testing::isolateSettings();
        m_archive = std::make_unique<testing::TempArchive>();
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        m_platform = std::make_unique<testing::ScriptedPlatform>();
    }

    void cleanup()
    {
        QVERIFY2(m_platform->pendingAnswers() == 0, "an answer was queued but never asked for");
        m_platform.reset();
        m_archive.reset();
    }

    void deleteTakesExactlyTheRowChosen()
    {
        // Names differing in case only, and one name twice: each row goes alone.
        m_archive->addOperator(QStringLiteral("Admin"), QString(), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("admin"), QString(), QStringLiteral("只能添加"));
        m_archive->addOperator(QStringLiteral("admin"), QString(), QStringLiteral("不能修改"));
        auto w = openWindow();
        m_platform->answer(Answer::Yes);
        w->Grid1->setCurrentCell(2, 0); // the first "admin"
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].text, QStringLiteral("真的要删除[admin]操作员吗（Y/N）？"));
        QCOMPARE(operators(), (QStringList{QStringLiteral("管理员 超级权限"), QStringLiteral("Admin 可以修改"),
                                           QStringLiteral("admin 不能修改")}));
        QCOMPARE(w->operatorCount(), 3);
    }

    void theLastManagerCannotBeDeleted()
    {
        m_archive->addOperator(QStringLiteral("张三"), QString(), QStringLiteral("超级权限!"));
        auto w = openWindow();
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        deleteRow(*w, QStringLiteral("管理员"));
        QCOMPARE(m_platform->boxes.size(), 2);
        compareBox(m_platform->boxes[1],
                   QStringLiteral("删除[管理员]之后就没有“超级权限”的操作员了，再也没有人能设置操作员，不能删除！"),
                   QStringLiteral("不能删除"), Icon::Exclamation);
        QCOMPARE(operators(), (QStringList{QStringLiteral("管理员 超级权限"), QStringLiteral("张三 超级权限!")}));
        // With a second manager, the first may go.
        m_archive->addOperator(QStringLiteral("李四"), QString(), QStringLiteral("超级权限"));
        m_platform->answer(Answer::Yes);
        deleteRow(*w, QStringLiteral("管理员"));
        QCOMPARE(m_platform->boxes.size(), 3);
        QCOMPARE(operators(), (QStringList{QStringLiteral("张三 超级权限!"), QStringLiteral("李四 超级权限")}));
    }

    void twoWorkstationsDeletingTheLastManagers()
    {
        // This window shows two managers; meanwhile another workstation deletes one. The
        // count inside the delete sees that, whatever the grid showed.
        m_archive->addOperator(QStringLiteral("李四"), QString(), QStringLiteral("超级权限"));
        m_archive->addOperator(QStringLiteral("王五"), QString(), QStringLiteral("可以修改"));
        auto w = openWindow();
        QCOMPARE(w->operatorCount(), 3);
        m_archive->exec(QStringLiteral("DELETE FROM \"User\" WHERE UID = ?"), {QStringLiteral("李四")});
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        deleteRow(*w, QStringLiteral("管理员"));
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("不能删除"));
        QCOMPARE(operators(), (QStringList{QStringLiteral("管理员 超级权限"), QStringLiteral("王五 可以修改")}));
        // The grid shows the table again.
        QCOMPARE(rowOf(*w, QStringLiteral("李四")), -1);
        QCOMPARE(w->operatorCount(), 2);

        // A row deleted elsewhere meanwhile: told, and nothing else goes.
        m_archive->exec(QStringLiteral("DELETE FROM \"User\" WHERE UID = ?"), {QStringLiteral("王五")});
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        deleteRow(*w, QStringLiteral("王五"));
        compareBox(m_platform->boxes[3], QStringLiteral("操作员[王五]已经被删除了。"), QStringLiteral("提示："),
                   Icon::Information);
        QCOMPARE(operators(), QStringList{QStringLiteral("管理员 超级权限")});
        QCOMPARE(w->operatorCount(), 1);
    }

    void passwordLengthInCharacters()
    {
        const QString emoji = QString::fromUcs4(U"\U0001F600", 1);
        auto w = openWindow();
        // 19 letters and an emoji: 20 characters in 21 UTF-16 units, kept whole.
        const QString twenty = QString(19, QLatin1Char('a')) + emoji;
        save(*w, QStringLiteral("甲"), twenty);
        QCOMPARE(m_platform->boxes.size(), 0);
        QVERIFY(access::passwordMatches(twenty, storedPassword(QStringLiteral("甲"))));
        QVERIFY(!access::passwordMatches(twenty.left(19), storedPassword(QStringLiteral("甲"))));

        // 21 characters: refused with a word, nothing saved, the boxes emptied for another try.
        m_platform->answer(Answer::Ok);
        save(*w, QStringLiteral("乙"), QString(21, QLatin1Char('b')));
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes[0], QStringLiteral("口令最长 20 个字符，请重新输入。"), QStringLiteral("提示："),
                   Icon::Exclamation);
        QCOMPARE(storedPassword(QStringLiteral("乙")), QStringLiteral("<no row>"));
        QVERIFY(w->Text2->text().isEmpty() && w->Text3->text().isEmpty());
        QCOMPARE(w->Text1->text(), QStringLiteral("乙"));
        // Twenty Chinese characters are twenty.
        save(*w, QStringLiteral("乙"), QString(20, QChar(0x75C5)));
        QCOMPARE(m_platform->boxes.size(), 1);
        QVERIFY(access::passwordMatches(QString(20, QChar(0x75C5)), storedPassword(QStringLiteral("乙"))));
    }

    void recoveryResetsExactlyTheNamedAccount()
    {
        m_archive->addOperator(QStringLiteral("Admin"), access::storedForm(QStringLiteral("one")), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("admin"), access::storedForm(QStringLiteral("two")), QStringLiteral("只能添加"));
        QCOMPARE(access::setOperatorAccount(m_archive->path(), QStringLiteral("admin"), QStringLiteral("new"),
                                            access::kRecoveryLevel),
                 access::AccountChange::Reset);
        QVERIFY(access::passwordMatches(QStringLiteral("new"), storedPassword(QStringLiteral("admin"))));
        QCOMPARE(storedPassword(QStringLiteral("Admin")), access::storedForm(QStringLiteral("one")));
        QCOMPARE(operators(), (QStringList{QStringLiteral("管理员 超级权限"), QStringLiteral("Admin 可以修改"),
                                           QStringLiteral("admin 超级权限")}));
        // Only case variants there: refused, each listed once.
        try {
            access::setOperatorAccount(m_archive->path(), QStringLiteral("ADMIN"), QString(), access::kRecoveryLevel);
            QFAIL("a name differing in case was reset");
        } catch (const store::StoreError &e) {
            QCOMPARE(e.description(), QStringLiteral("没有名为“ADMIN”的操作员，只有字母大小写不同的：Admin、admin。"
                                                     "请照原样写出要重设的那一个，什么也没有修改。"));
        }
        // A password too long is refused without writing, and the message does not repeat it.
        const QString secret = QString(21, QLatin1Char('s'));
        try {
            access::setOperatorAccount(m_archive->path(), QStringLiteral("Admin"), secret, access::kRecoveryLevel);
            QFAIL("a long password was accepted");
        } catch (const store::StoreError &e) {
            QCOMPARE(e.description(), QStringLiteral("口令最长 20 个字符，请重新输入。"));
        }
        QCOMPARE(storedPassword(QStringLiteral("Admin")), access::storedForm(QStringLiteral("one")));
    }
};

QTEST_MAIN(TestOperatorRules)
#include "tst_operator_rules.moc"
