#include "TempArchive.h"

#include "store/FileModes.h"
#include "store/Settings.h"

#include <QSettings>

#include <sys/stat.h>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { testing::isolateSettings(); }

    void missingKeyReadsEmptyAndRoundTrips()
    {
        QCOMPARE(settings::read(QStringLiteral("Nothing"), QStringLiteral("Here")), QString());
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), QStringLiteral("/a b/文件.dat"));
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), QStringLiteral("/a b/文件.dat"));
    }

    void theFileAndItsFolderAreTheUsersAloneUnderAnyUmask_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
    }

    // They name the archive and the photos last chosen: never readable by other accounts,
    // not even for a moment, and an earlier file that was is made private at the next write.
    void theFileAndItsFolderAreTheUsersAloneUnderAnyUmask()
    {
        QFETCH(int, mask);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("config/casearchive"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        const mode_t before = ::umask(mode_t(mask));
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), QStringLiteral("/x.dat"));
        const QString file = QSettings(QSettings::UserScope, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()).fileName();
        QCOMPARE(store::modeOf(dir.filePath(QStringLiteral("config"))), 0700);
        QCOMPARE(store::modeOf(folder), 0700);
        QCOMPARE(store::modeOf(file), 0600);
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), QStringLiteral("/y.dat"));
        ::umask(before);
        QCOMPARE(store::modeOf(file), 0600);
        QCOMPARE(settings::read(QStringLiteral("Data"), QStringLiteral("Path")), QStringLiteral("/y.dat"));
        testing::isolateSettings();
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("words") << QStringLiteral("abc") << 0.0;
        QTest::newRow("plain") << QStringLiteral("2700") << 2700.0;
        QTest::newRow("blanks") << QStringLiteral("  15.5 ") << 15.5;
        QTest::newRow("trailing junk") << QStringLiteral("3000twips") << 3000.0;
        QTest::newRow("negative") << QStringLiteral("-120") << -120.0;
        QTest::newRow("exponent") << QStringLiteral("1.5E3") << 1500.0;
        QTest::newRow("junk first") << QStringLiteral("x12") << 0.0;
        QTest::newRow("no leading digit") << QStringLiteral(".5") << 0.5;
        QTest::newRow("negative fraction") << QStringLiteral("-.25") << -0.25;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(settings::leadingNumber(text), value);
    }

    void numbersAreWrittenShortest()
    {
        QCOMPARE(settings::numberText(2700), QStringLiteral("2700"));
        QCOMPARE(settings::numberText(-45), QStringLiteral("-45"));
        QCOMPARE(settings::numberText(0.5), QStringLiteral("0.5"));
        QCOMPARE(settings::numberText(0.1), QStringLiteral("0.1")); // single precision, not 0.100000001
        QCOMPARE(settings::numberText(12345678), QStringLiteral("12345678"));
    }

    void positionsAreKeptInTwips()
    {
        settings::writePosition(QStringLiteral("Login"), QPoint(100, 40));
        QCOMPARE(settings::read(QStringLiteral("Login"), QStringLiteral("Left")), QStringLiteral("1500"));
        QCOMPARE(settings::read(QStringLiteral("Login"), QStringLiteral("Top")), QStringLiteral("600"));
        QCOMPARE(settings::readPosition(QStringLiteral("Login")), QPoint(100, 40));
        QCOMPARE(settings::readPosition(QStringLiteral("NeverWritten")), QPoint(0, 0));
        settings::write(QStringLiteral("Type"), QStringLiteral("Left"), QStringLiteral("damaged"));
        settings::write(QStringLiteral("Type"), QStringLiteral("Top"), QStringLiteral("1e300"));
        const QPoint p = settings::readPosition(QStringLiteral("Type"));
        QCOMPARE(p.x(), 0);
        QVERIFY(p.y() < 1000000); // a damaged value never throws the window off every screen
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
