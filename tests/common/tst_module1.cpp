#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/InstanceGuard.h"
#include "store/Settings.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QUuid>

class TestModule1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_program;

private slots:
    void init()
    {
        testing::isolateSettings();
        app::setProgramFolder(m_program.path());
        app::DbPath.clear();
    }

    void firstRunUsesTheDefaultWithoutStoringIt()
    {
        app::LocateDatabase(QString());
        const QString expected = m_program.path() + QStringLiteral("/Data/file.dat");
        QCOMPARE(app::DbPath, expected);
        // Stored, it would hold this user on the local file after a site's path is set.
        QVERIFY(!settings::hasOwn(QStringLiteral("Data"), QStringLiteral("Path")));
    }

    void rememberedArchiveOutOfReachWithoutALocalOne()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir elsewhere;
        const QString gone = elsewhere.filePath(QStringLiteral("share/file.dat"));
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), gone);
        platform.answer(platform::Answer::Ok);
        app::LocateDatabase(QString());
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text,
                 QStringLiteral("无法打开上次使用的病案数据库：\n") + gone
                     + QStringLiteral("\n原因：文件不存在，或其所在的磁盘、文件夹或网络共享现在无法访问。"
                                      "\n\n请检查该文件所在的磁盘或网络共享，然后重新启动程序。"));
        QCOMPARE(platform.boxes[0].title, platform::kAppTitle);
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Exclamation);
        // Nothing is switched: the next start tries the remembered archive again.
        QCOMPARE(app::DbPath, gone);
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), gone);
        QVERIFY(app::DatabaseProblemReported());
    }

    void rememberedArchiveOutOfReachTheOperatorChooses()
    {
        testing::ScriptedPlatform platform;
        QDir().mkpath(m_program.path() + QStringLiteral("/Data"));
        QFile local(app::defaultDatabasePath());
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.close();
        QTemporaryDir elsewhere; // a folder where a file was expected
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), elsewhere.path());

        platform.answer(platform::Answer::No);
        app::LocateDatabase(QString());
        QCOMPARE(platform.boxes.size(), 1);
        const testing::RecordedBox &box = platform.boxes[0];
        QCOMPARE(box.text, QStringLiteral("无法打开上次使用的病案数据库：\n") + elsewhere.path()
                               + QStringLiteral("\n原因：这是一个文件夹，不是数据库文件。\n\n是否本次改用本机的病案数据库：\n")
                               + app::defaultDatabasePath()
                               + QStringLiteral("\n（记住的数据库位置不变，下次启动时仍先打开它。）"));
        QCOMPARE(box.buttons, platform::Buttons::YesNo);
        QCOMPARE(box.defaultButton, platform::Answer::No);
        QCOMPARE(box.icon, platform::Icon::Question);
        QCOMPARE(app::DbPath, elsewhere.path());
        QVERIFY(app::DatabaseProblemReported());

        platform.answer(platform::Answer::Yes);
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, app::defaultDatabasePath()); // for this run only
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), elsewhere.path());
        QVERIFY(!app::DatabaseProblemReported());
        QFile::remove(app::defaultDatabasePath());
    }

    void storedExistingFileIsKept()
    {
        testing::TempArchive a;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), a.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, a.path());
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), a.path());
    }

    void rememberedDefaultThatIsMissingIsNoQuestion()
    {
        // The first start after installing remembers the default itself: nothing to choose.
        testing::ScriptedPlatform platform;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), app::defaultDatabasePath());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, app::defaultDatabasePath());
        QVERIFY(platform.boxes.isEmpty());
        QVERIFY(!app::DatabaseProblemReported());
        // That copy of the default is no choice of the user's and is dropped.
        QVERIFY(!settings::hasOwn(QStringLiteral("Data"), QStringLiteral("Path")));
    }

    void candidateWinsOverTheSetting()
    {
        testing::TempArchive a, b;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), a.path());
        app::LocateDatabase(b.path());
        QCOMPARE(app::DbPath, b.path());
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), b.path());
    }

    void hintWithoutMainWindowIsHarmless()
    {
        app::setHintTarget({});
        app::ShowHint(QStringLiteral("nobody listens"));
        QString got;
        app::setHintTarget([&](const QString &t) { got = t; });
        app::ShowHint(QStringLiteral("准备就绪..."));
        QCOMPARE(got, QStringLiteral("准备就绪..."));
        app::setHintTarget({});
    }

    void secondInstanceAsksTheFirstToActivate()
    {
        const QString name = QStringLiteral("casearchive-test-") + QUuid::createUuid().toString(QUuid::Id128);
        platform::InstanceGuard first(name);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &platform::InstanceGuard::activationRequested);

        platform::InstanceGuard second(name);
        QVERIFY(!second.claim());
        QVERIFY(second.askRunningToActivate());
        QTRY_COMPARE(activated.count(), 1);
    }

    void guardIsFreeAgainAfterTheFirstEnds()
    {
        const QString name = QStringLiteral("casearchive-test-") + QUuid::createUuid().toString(QUuid::Id128);
        {
            platform::InstanceGuard first(name);
            QVERIFY(first.claim());
        }
        platform::InstanceGuard next(name);
        QVERIFY(next.claim());
        QVERIFY(!platform::InstanceGuard(name).askRunningToActivate(100) || true);
    }

    void restoreWindowBringsBackAMinimisedWindow()
    {
        QWidget w;
        w.showMinimized();
        app::RestoreWindow(&w);
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QVERIFY(w.isVisible());
        app::RestoreWindow(nullptr);
    }
};

QTEST_MAIN(TestModule1)
#include "tst_module1.moc"
