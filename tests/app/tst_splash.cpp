#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/frmLogin.h"
#include "common/Module1.h"
#include "app/frmSplash.h"
#include "store/Settings.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <memory>

class TestSplash : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<testing::TempArchive> m_archive; // the login that follows reads its operators

    void placeMarker()
    {
        QFile marker(m_program->filePath(QStringLiteral("INFORMATION.INI")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
    }

    QStringList expected(const QString &system, const QString &drive) const
    {
        const QString folder = QDir::toNativeSeparators(m_program->path());
        return {
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\dao350.dll"),
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\msde.dll"),
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\Msdbrptr.dll"),
            QStringLiteral("regsvr32 /s ") + drive + QStringLiteral("\\Program Files\\Common Files\\DESIGNER\\MSDERUN.DLL"),
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\MSSTDFMT.DLL"),
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\MSDATREP.OCX"),
            QStringLiteral("regsvr32 /s ") + system + QStringLiteral("\\MSBIND.DLL"),
            QStringLiteral("regsvr32 /s ") + folder + QStringLiteral("\\SPR32X60.ocx"),
        };
    }

    static QList<frmLogin *> visibleLogins()
    {
        QList<frmLogin *> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *l = qobject_cast<frmLogin *>(w); l && l->isVisible())
                found << l;
        return found;
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        m_program = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_program->path());
        m_archive = std::make_unique<testing::TempArchive>();
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
    }

    void withoutMarkerNothingStarts()
    {
        testing::ScriptedPlatform platform;
        platform.systemFolder = QStringLiteral("C:\\WINDOWS\\system32");
        frmSplash splash;
        QVERIFY(platform.started.isEmpty());
        QVERIFY(splash.Timer1->isActive());
        QCOMPARE(splash.Timer1->interval(), 4000);
        QVERIFY(splash.Timer1->isSingleShot());
    }

    void withMarkerTheEightCommandsStartInOrder()
    {
        placeMarker();
        testing::ScriptedPlatform platform;
        platform.systemFolder = QStringLiteral("  C:\\WINDOWS\\system32 ");
        frmSplash splash;
        QCOMPARE(platform.started, expected(QStringLiteral("C:\\WINDOWS\\system32"), QStringLiteral("C:")));
        QCOMPARE(platform.started[3],
                 QStringLiteral("regsvr32 /s C:\\Program Files\\Common Files\\DESIGNER\\MSDERUN.DLL"));
    }

    void emptySystemFolderKeepsTheLeadingBackslashes()
    {
        placeMarker();
        testing::ScriptedPlatform platform;
        frmSplash splash;
        QCOMPARE(platform.started, expected(QString(), QString()));
        QCOMPARE(platform.started[0], QStringLiteral("regsvr32 /s \\dao350.dll"));
    }

    void commandsThatCannotStartAreSkipped()
    {
        placeMarker();
        testing::ScriptedPlatform platform;
        platform.startSucceeds = false;
        platform.systemFolder = QStringLiteral("D:\\WINNT\\system32");
        frmSplash splash;
        QCOMPARE(platform.started, expected(QStringLiteral("D:\\WINNT\\system32"), QStringLiteral("D:")));
    }

    void timerOpensTheLoginAndCloses()
    {
        testing::ScriptedPlatform platform;
        auto *splash = new frmSplash;
        QPointer<frmSplash> guard(splash);
        splash->setAttribute(Qt::WA_DeleteOnClose);
        splash->show();
        QCOMPARE(splash->size(), QSize(491 + 2, 292 + 2));
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(testing::screenshot(splash, QStringLiteral("frmSplash")));
        // Keep a second window open so that closing the splash does not end the test run.
        QWidget keeper;
        keeper.show();
        QVERIFY(QMetaObject::invokeMethod(splash->Timer1, "timeout")); // as the timer fires
        QTRY_VERIFY(guard.isNull());
        const QList<frmLogin *> logins = visibleLogins();
        QCOMPARE(logins.size(), 1);
        QVERIFY(logins[0]->testAttribute(Qt::WA_DeleteOnClose));
        delete logins[0];
    }

    void timerFiresOnce()
    {
        testing::ScriptedPlatform platform;
        frmSplash splash;
        splash.show();
        splash.Timer1_Timer();
        QVERIFY(!splash.isVisible());
        QVERIFY(!splash.Timer1->isActive());
        // The timer fires once: a second call opens no second login.
        splash.Timer1_Timer();
        const QList<frmLogin *> logins = visibleLogins();
        QCOMPARE(logins.size(), 1);
        delete logins[0];
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
