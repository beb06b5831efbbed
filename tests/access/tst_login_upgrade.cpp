#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/Password.h"
#include "access/frmLogin.h"
#include "common/Module1.h"
#include "store/Database.h"
#include "store/Settings.h"

#include <QComboBox>
#include <QScopeGuard>
#include <QThread>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

using platform::Answer;

// A password stored in an earlier form is replaced by its hash at the first login that it
// opens, and nothing about that may stand in the login's way.
class TestLoginUpgrade : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<QTemporaryDir> m_program;
    int m_mainOpened = 0;

    QVariant storedPassword(const QString &name)
    {
        // Names compared exactly here, whatever the engine's comparison.
        store::Connection c(m_archive->path());
        QSqlQuery q = c.run(QStringLiteral("SELECT UID, PWD FROM \"User\""));
        while (c.next(q))
            if (q.value(0).toString() == name)
                return q.value(1);
        return QVariant(QStringLiteral("<no row>"));
    }

    // Logs in as the operator; true when the main window opened.
    bool logIn(frmLogin &w, const QString &name, const QString &password)
    {
        const int opened = m_mainOpened;
        w.UserTxt->setCurrentIndex(w.UserTxt->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
        w.txtPassword->clear();
        w.txtPassword->insert(password);
        QTest::mouseClick(w.cmdOK, Qt::LeftButton);
        return m_mainOpened == opened + 1;
    }

    bool logIn(const QString &name, const QString &password)
    {
        frmLogin w;
        w.show();
        return logIn(w, name, password);
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        access::setHashCostForTests(1, 8192);
        frmLogin::openMainWindow = [this] { ++m_mainOpened; };
    }

    void init()
    {
        testing::isolateSettings();
        m_program = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_program->path());
        m_archive = std::make_unique<testing::TempArchive>();
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
        m_mainOpened = 0;
    }

    void cleanup() { m_archive.reset(); }

    void everyEarlierFormOpensAndIsReplaced_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("typed");
        QTest::newRow("earlier system") << QVariant(QStringLiteral("官狸援")) << QStringLiteral("管理员");
        QTest::newRow("earlier system, '#' dropped") << QVariant(QStringLiteral("^_`")) << QStringLiteral("abc#");
        QTest::newRow("marked form") << QVariant(access::storedForm(QStringLiteral("#a b#"))) << QStringLiteral("#a b#");
        QTest::newRow("colliding pair") << QVariant(access::storedForm(QStringLiteral("mötley"))) << QStringLiteral("mūtley");
        QTest::newRow("no value") << QVariant() << QString();
        QTest::newRow("empty text") << QVariant(QStringLiteral("")) << QString();
    }

    void everyEarlierFormOpensAndIsReplaced()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, typed);
        m_archive->addOperator(QStringLiteral("张三"), stored, QStringLiteral("可以修改"));
        const QVariant firstOperator = storedPassword(QStringLiteral("管理员"));
        testing::ScriptedPlatform platform;
        QVERIFY(logIn(QStringLiteral("张三"), typed));
        QCOMPARE(platform.boxes.size(), 0);
        QCOMPARE(app::CurrentAuthority, QStringLiteral("可以修改"));

        const QString now = storedPassword(QStringLiteral("张三")).toString();
        QVERIFY(access::isUpToDate(now));
        QCOMPARE(access::isHashedForm(now), !typed.isEmpty());
        // From now on exactly what was typed opens it, and the next login writes nothing.
        QVERIFY(access::passwordMatches(typed, now));
        QVERIFY(logIn(QStringLiteral("张三"), typed));
        QCOMPARE(storedPassword(QStringLiteral("张三")).toString(), now);
        // The other operators are not touched.
        QCOMPARE(storedPassword(QStringLiteral("管理员")), firstOperator);
    }

    void failedUpgradeLeavesTheLoginWorking()
    {
        m_archive->addOperator(QStringLiteral("张三"), QStringLiteral("^_`"), QStringLiteral("只能添加"));
        m_archive->failWrites(QStringLiteral("readonly"), QStringLiteral("BEFORE UPDATE ON \"User\""),
                              QStringLiteral("模拟的写入故障"));
        testing::ScriptedPlatform platform;
        QVERIFY(logIn(QStringLiteral("张三"), QStringLiteral("abc")));
        QCOMPARE(platform.boxes.size(), 0); // not a word: the login is what the operator asked for
        QCOMPARE(app::CurrentAuthority, QStringLiteral("只能添加"));
        QCOMPARE(storedPassword(QStringLiteral("张三")).toString(), QStringLiteral("^_`"));
        // Still the earlier form, still opening; once the archive takes writes, replaced.
        QVERIFY(logIn(QStringLiteral("张三"), QStringLiteral("abc")));
        m_archive->allowWrites(QStringLiteral("readonly"));
        QVERIFY(logIn(QStringLiteral("张三"), QStringLiteral("abc")));
        QVERIFY(access::isHashedForm(storedPassword(QStringLiteral("张三")).toString()));
    }

    // The window read the rows when it opened; 确定 goes by them as they are when it is
    // pressed: a password set since, an operator demoted or deleted since.
    void theLoginGoesByTheRowAsItIsNow()
    {
        m_archive->addOperator(QStringLiteral("张三"), QStringLiteral("^_`"), QStringLiteral("超级权限"));
        m_archive->addOperator(QStringLiteral("李四"), access::hashedForm(QStringLiteral("pw")), QStringLiteral("超级权限"));
        testing::ScriptedPlatform platform;
        frmLogin w;
        w.show();
        const QString reset = access::hashedForm(QStringLiteral("new"));
        m_archive->exec(QStringLiteral("UPDATE \"User\" SET PWD = ? WHERE UID = ?"), {reset, QStringLiteral("张三")});
        // Every hash is checked off the window's thread, which goes on painting meanwhile.
        QList<bool> offTheWindowsThread;
        access::setHashCheckObserverForTests(
            [&] { offTheWindowsThread << (QThread::currentThread() != QCoreApplication::instance()->thread()); });
        const auto restore = qScopeGuard([] { access::setHashCheckObserverForTests({}); });
        platform.answer(Answer::Ok);
        QVERIFY(!logIn(w, QStringLiteral("张三"), QStringLiteral("abc")));
        QCOMPARE(platform.boxes.value(0).text, QStringLiteral("无效的密码，再试一次！"));
        m_archive->exec(QStringLiteral("UPDATE \"User\" SET \"权限\" = ? WHERE UID = ?"),
                        {QStringLiteral("只能添加"), QStringLiteral("张三")});
        QVERIFY(logIn(w, QStringLiteral("张三"), QStringLiteral("new")));
        QCOMPARE(app::CurrentAuthority, QStringLiteral("只能添加"));
        QCOMPARE(storedPassword(QStringLiteral("张三")).toString(), reset); // up to date: left alone
        QCOMPARE(offTheWindowsThread, (QList<bool>{true, true}));

        frmLogin again;
        again.show();
        m_archive->exec(QStringLiteral("DELETE FROM \"User\" WHERE UID = ?"), {QStringLiteral("李四")});
        // Another operator under the deleted one's identity is not the one the window listed.
        m_archive->addOperator(QStringLiteral("王五"), access::hashedForm(QStringLiteral("pw")), QStringLiteral("超级权限"));
        platform.answer(Answer::Ok);
        QVERIFY(!logIn(again, QStringLiteral("李四"), QStringLiteral("pw")));
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(again.attempt(), 2);
    }

    void operatorsSharingANameAreUpgradedOneByOne()
    {
        // Two rows differing in case only: the login upgrades the row it opened, no other.
        m_archive->addOperator(QStringLiteral("Li"), QStringLiteral("^_`"), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("li"), QStringLiteral("^_`"), QStringLiteral("只能添加"));
        testing::ScriptedPlatform platform;
        QVERIFY(logIn(QStringLiteral("li"), QStringLiteral("abc")));
        QCOMPARE(app::CurrentAuthority, QStringLiteral("只能添加"));
        QVERIFY(access::isHashedForm(storedPassword(QStringLiteral("li")).toString()));
        QCOMPARE(storedPassword(QStringLiteral("Li")).toString(), QStringLiteral("^_`"));
    }
};

QTEST_MAIN(TestLoginUpgrade)
#include "tst_login_upgrade.moc"
