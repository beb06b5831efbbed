// Adding operators through the operator window: every level, then logging in with it; names
// that clash or cannot be stored; the repeated password; passwords saved exactly as typed,
// those of earlier archives; a save the store fails.
#include "OperatorFixture.h"

#include <QLabel>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestOperatorAdd : public testing::OperatorFixture {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(TestOperatorAdd)
#include "tst_operator_add.moc"
