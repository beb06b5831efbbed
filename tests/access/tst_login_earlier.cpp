#include "Jet3Writer.h"
#include "ScriptedPlatform.h"
#include "TempArchive.h"

#include "access/frmLogin.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "store/Settings.h"

#include <QComboBox>
#include <QtTest>

// The login on the earlier system's Jet file: no "damaged", but what the file is and the
// two commands that bring it over, through sudo where the file is the machine's.
class TestLoginEarlier : public QObject {
    Q_OBJECT

private slots:
    void jetFileIsNamedWithTheImportCommands_data()
    {
        QTest::addColumn<bool>("machine");
        QTest::newRow("a copy in its own folder") << false;
        QTest::newRow("the machine's archive") << true;
    }
    void jetFileIsNamedWithTheImportCommands()
    {
        QFETCH(bool, machine);
        testing::isolateSettings();
        QTemporaryDir program;
        QTemporaryDir machineFolder;
        app::setProgramFolder(program.path());
        app::setMachineFolder(machineFolder.path());
        const QString folder = (machine ? machineFolder.path() : program.path()) + QStringLiteral("/Data");
        QDir().mkpath(folder);
        const QString jet = folder + QStringLiteral("/file.dat");
        testing::writeJet3(jet, {{QStringLiteral("Catalog"), {{QStringLiteral("Name")}}, {}}});
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), jet);
        frmLogin::openMainWindow = [] {};

        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        frmLogin w;
        w.show();
        QCOMPARE(platform.boxes.size(), 1);
        const QString sudo = machine ? QStringLiteral("sudo ") : QString();
        QCOMPARE(platform.boxes[0].text,
                 QStringLiteral("无法读取病案数据库“%1”中的操作员，不能登录。\n\n"
                                "文件“%1”是早先的病案管理系统的档案（Jet 3 数据库（Access 97 格式）），本程序不能直接打开它。"
                                "它没有损坏，也没有被改动；用 casearchive-admin import 把它导入为本程序的新档案后，"
                                "其中的病案、类型、操作员和照片就都能使用了。\n\n"
                                "请系统管理员先把它改名放在一旁，再把它导入到本程序打开的位置（导入时逐格核对，原文件不会被改动），"
                                "然后重新启动本程序：\n%2mv %1 %3/file-earlier.dat\n%2%4/casearchive-admin import %3/file-earlier.dat %1")
                     .arg(jet, sudo, folder, program.path()));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("登录"));
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Critical);
        QCOMPARE(w.UserTxt->count(), 0);
        app::setMachineFolder(QString());
    }
};

QTEST_MAIN(TestLoginEarlier)
#include "tst_login_earlier.moc"
