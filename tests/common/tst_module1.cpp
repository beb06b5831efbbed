#include "TestSupport.h"

#include "common/Module1.h"
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

    void firstRunUsesAndStoresTheDefault()
    {
        app::LocateDatabase(QString());
        const QString expected = m_program.path() + QStringLiteral("/Data/file.dat");
        QCOMPARE(app::DbPath, expected);
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), expected);
    }

    void storedFileThatVanishedFallsBack()
    {
        QTemporaryDir elsewhere;
        const QString gone = elsewhere.filePath(QStringLiteral("moved.dat"));
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), gone);
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, app::defaultDatabasePath());
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), app::defaultDatabasePath());
    }

    void storedExistingFileIsKept()
    {
        testing::TempArchive a;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), a.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, a.path());
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), a.path());
    }

    void unreadablePathCountsAsMissing()
    {
        // A folder exists but cannot be opened as a file.
        QTemporaryDir elsewhere;
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), elsewhere.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, app::defaultDatabasePath());
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
