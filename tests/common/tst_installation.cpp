#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "access/frmLogin.h"
#include "app/frmSplash.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "archive/Archive.h"
#include "store/Settings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <memory>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Answer;

// Where an installed program and a copy in a folder of its own keep their archive and
// marker file, what the first start without an archive says, and the site settings
// that the administrator of a PC gives every user.
class TestInstallation : public QObject {
    Q_OBJECT

    QTemporaryDir m_siteRoot;
    QString m_site;
    std::unique_ptr<QTemporaryDir> m_root; // each test's program folders and machine folder
    QString m_machine;

    QString folder(const QString &relative)
    {
        const QString path = m_root->filePath(relative);
        QDir().mkpath(path);
        return path;
    }

    static void touch(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    static QString modeOf(const QString &path)
    {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return QStringLiteral("missing");
        return QString::number(st.st_mode & 07777, 8);
    }

    static gid_t groupOf(const QString &path)
    {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_gid : gid_t(-1);
    }

private slots:
    void initTestCase()
    {
        // The machine-wide settings file of this test program, in place of /etc/xdg.
        m_site = m_siteRoot.filePath(QStringLiteral("xdg"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_site);
    }

    void init()
    {
        testing::isolateSettings();
        QDir(m_site).removeRecursively();
        m_root = std::make_unique<QTemporaryDir>();
        m_machine = m_root->filePath(QStringLiteral("var/lib/casearchive"));
        app::setMachineFolder(m_machine);
        app::DbPath.clear();
    }

    void cleanup()
    {
        app::setProgramFolder(QString());
        app::setMachineFolder(QString());
    }

    void theRuleForEveryKindOfProgramFolder()
    {
        const QString own = folder(QStringLiteral("casearchive"));
        const QString bin = folder(QStringLiteral("usr/bin"));
        // A copy unpacked into a folder of its own keeps its archive there, as always.
        QCOMPARE(app::installationFolderFor(own, true, m_machine), own);
        // The same copy on a folder it may not write (a read-only share, a folder of
        // root's): the machine's folder.
        QCOMPARE(app::installationFolderFor(own, false, m_machine), m_machine);
        // A bin folder is every program's: never, not even for root who may write there.
        QCOMPARE(app::installationFolderFor(bin, true, m_machine), m_machine);
        QCOMPARE(app::installationFolderFor(bin + QLatin1Char('/'), true, m_machine), m_machine);
        QCOMPARE(app::installationFolderFor(folder(QStringLiteral("bin-tools")), true, m_machine),
                 m_root->filePath(QStringLiteral("bin-tools")));

        // An archive already beside the program stays in use, writable folder or not.
        touch(own + QStringLiteral("/Data/file.dat"));
        QCOMPARE(app::installationFolderFor(own, false, m_machine), own);
        touch(bin + QStringLiteral("/Data/file.dat"));
        QCOMPARE(app::installationFolderFor(bin, true, m_machine), bin);
        // A folder named like the archive is no archive.
        const QString odd = folder(QStringLiteral("odd/Data/file.dat"));
        QVERIFY(QFileInfo(odd).isDir());
        QCOMPARE(app::installationFolderFor(m_root->filePath(QStringLiteral("odd")), false, m_machine), m_machine);
    }

    void defaultArchiveFollowsTheProgramFolder()
    {
        const QString own = folder(QStringLiteral("portable"));
        app::setProgramFolder(own);
        QCOMPARE(app::installationFolder(), own);
        QCOMPARE(app::defaultDatabasePath(), own + QStringLiteral("/Data/file.dat"));

        app::setProgramFolder(folder(QStringLiteral("usr/local/bin")));
        QCOMPARE(app::installationFolder(), m_machine);
        QCOMPARE(app::defaultDatabasePath(), m_machine + QStringLiteral("/Data/file.dat"));

        // The first start of an installed program settles on the machine's archive, and
        // leaves the user's own settings without a path: a site's path set later counts.
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, m_machine + QStringLiteral("/Data/file.dat"));
        QVERIFY(!settings::hasOwn(QStringLiteral("Data"), QStringLiteral("Path")));
    }

    void writableIsAskedOfTheFileSystem()
    {
        const QString own = folder(QStringLiteral("asked"));
        QVERIFY(app::canWriteIn(own));
        QVERIFY(!app::canWriteIn(m_root->filePath(QStringLiteral("no-such-folder"))));
        touch(own + QStringLiteral("/plain-file"));
        QVERIFY(!app::canWriteIn(own + QStringLiteral("/plain-file")));
        if (::geteuid() == 0)
            QSKIP("for root every folder is writable; the rule itself is checked with the answer given");

        // A Data folder that may not be written makes the whole folder unfit.
        const QString data = folder(QStringLiteral("asked/Data"));
        QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(!app::canWriteIn(own));
        QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(app::canWriteIn(own));

        QVERIFY(QFile::setPermissions(own, QFile::ReadOwner | QFile::ExeOwner));
        app::setProgramFolder(own);
        QCOMPARE(app::defaultDatabasePath(), m_machine + QStringLiteral("/Data/file.dat"));
        QVERIFY(QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(app::defaultDatabasePath(), own + QStringLiteral("/Data/file.dat"));
    }

    void firstStartOfAnInstalledProgramSaysHowToMakeTheArchive()
    {
        const QString bin = folder(QStringLiteral("usr/bin"));
        app::setProgramFolder(bin);
        const QString archive = m_machine + QStringLiteral("/Data/file.dat");
        {
            testing::ScriptedPlatform platform;
            platform.answer(Answer::Ok);
            frmLogin w;
            QCOMPARE(platform.boxes.size(), 1); // one message, not a second one
            QCOMPARE(platform.boxes[0].text,
                     QStringLiteral("无法读取病案数据库“%1”中的操作员，不能登录。\n\n找不到数据库文件“%1”。"
                                    "\n\n本机还没有病案数据库。请系统管理员运行下面的命令建立一个空的病案数据库"
                                    "（操作员“管理员”，密码为空），然后重新启动本程序：\n"
                                    "sudo %2/casearchive-admin init\n"
                                    "需要录入或修改病案的用户，还要由系统管理员加入用户组 casearchive：\n"
                                    "sudo adduser 用户名 casearchive")
                         .arg(archive, bin));
            QCOMPARE(platform.boxes[0].title, QStringLiteral("登录"));
            QCOMPARE(platform.boxes[0].icon, platform::Icon::Critical);
        }

        // Once the administrator made it, the next start logs in on it without a word.
        store::initArchive(archive);
        testing::ScriptedPlatform platform;
        frmLogin w;
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(app::DbPath, archive);
        auto *names = testing::child<QComboBox>(&w, QStringLiteral("UserTxt"));
        QCOMPARE(names->count(), 1);
        QCOMPARE(names->itemText(0), store::kFirstOperator);
    }

    void setupCommandAsTheShellReadsIt()
    {
        const QString own = folder(QStringLiteral("我的 病案 程序"));
        app::setProgramFolder(own);
        const QString admin = QLatin1Char('\'') + own + QStringLiteral("/casearchive-admin'");
        QCOMPARE(app::archiveSetupCommand(app::defaultDatabasePath()), admin + QStringLiteral(" init"));
        // Another archive than the default is named, quoted where the shell would split it.
        QCOMPARE(app::archiveSetupCommand(QStringLiteral("/srv/病案/o'brien.dat")),
                 admin + QStringLiteral(" init '/srv/病案/o'\\''brien.dat'"));
        QCOMPARE(app::archiveSetupCommand(QStringLiteral("/srv/records/file.dat")),
                 admin + QStringLiteral(" init /srv/records/file.dat"));
        // Only what lies in the machine's folder needs the administrator.
        QCOMPARE(app::archiveSetupCommand(m_machine + QStringLiteral("/other.dat")),
                 QStringLiteral("sudo ") + admin + QStringLiteral(" init ") + m_machine + QStringLiteral("/other.dat"));
        QCOMPARE(app::archiveSetupCommand(m_machine + QStringLiteral("-old/file.dat")),
                 admin + QStringLiteral(" init ") + m_machine + QStringLiteral("-old/file.dat"));

        // An archive that exists needs no advice; one that is missing gets the command.
        testing::TempArchive present;
        QVERIFY(app::archiveSetupAdvice(present.path()).isEmpty());
        QVERIFY(app::archiveSetupAdvice(QString()).isEmpty());
        QCOMPARE(app::archiveSetupAdvice(app::defaultDatabasePath()),
                 QStringLiteral("\n\n请运行下面的命令建立一个空的病案数据库（操作员“管理员”，密码为空），"
                                "然后重新启动本程序：\n")
                     + admin + QStringLiteral(" init"));

        QCOMPARE(app::shellQuoted(QStringLiteral("a'b")), QStringLiteral("'a'\\''b'"));
        QCOMPARE(app::shellQuoted(QStringLiteral("$HOME")), QStringLiteral("'$HOME'"));
        QCOMPARE(app::shellQuoted(QString()), QStringLiteral("''"));
    }

    void theMachineFolderIsSharedWithTheGroup()
    {
        struct group *own = ::getgrgid(::getegid());
        QVERIFY(own);
        const QString group = QString::fromLocal8Bit(own->gr_name);
        const QString data = m_machine + QStringLiteral("/Data");

        // A group that does not exist leaves nothing half made.
        const QString problem = app::shareFolderWithGroup(data, QStringLiteral("no-such-group-casearchive"));
        QCOMPARE(problem, QStringLiteral("系统中没有用户组“no-such-group-casearchive”。"
                                         "请先用“sudo addgroup --system no-such-group-casearchive”建立它。"));
        QVERIFY(!QFileInfo::exists(m_machine));

        // The records office only, whatever the umask: the group, and nobody else.
        const mode_t umaskBefore = ::umask(0);
        QCOMPARE(app::shareFolderWithGroup(data, group), QString());
        QCOMPARE(modeOf(data), QStringLiteral("2770"));
        QCOMPARE(groupOf(data), ::getegid());
        QCOMPARE(modeOf(m_machine), QStringLiteral("700")); // made on the way: the owner's
        store::initArchive(data + QStringLiteral("/file.dat"));
        // Made in the shared folder: the group's from its first moment.
        QCOMPARE(modeOf(data + QStringLiteral("/file.dat")), QStringLiteral("660"));
        QCOMPARE(app::shareFileWithGroup(data + QStringLiteral("/file.dat"), group), QString());
        QCOMPARE(modeOf(data + QStringLiteral("/file.dat")), QStringLiteral("660"));
        // Preparing it again changes nothing and is no failure.
        QCOMPARE(app::shareFolderWithGroup(data, group), QString());
        QVERIFY(QFileInfo(data + QStringLiteral("/file.dat")).isFile());

        // An installation made by an earlier version, readable by everyone, is tightened:
        // both folders, the archive, a journal left behind, the marker.
        for (const QString &f : {m_machine, data})
            QVERIFY(::chmod(QFile::encodeName(f).constData(), 02775) == 0);
        const QString journal = data + QStringLiteral("/file.dat-journal");
        const QString marker = m_machine + QStringLiteral("/INFORMATION.INI");
        for (const QString &f : {data + QStringLiteral("/file.dat"), journal, marker}) {
            touch(f);
            QVERIFY(::chmod(QFile::encodeName(f).constData(), 0664) == 0);
        }
        QStringList problems;
        const QStringList done = app::secureArchive(data + QStringLiteral("/file.dat"), problems, group);
        QCOMPARE(problems, QStringList());
        QCOMPARE(done.size(), 5);
        for (const QString &f : {m_machine, data})
            QCOMPARE(modeOf(f), QStringLiteral("2770"));
        for (const QString &f : {data + QStringLiteral("/file.dat"), journal, marker})
            QCOMPARE(modeOf(f), QStringLiteral("660"));
        QVERIFY(done.contains(QStringLiteral("0660 ") + journal));
        ::umask(umaskBefore);

        QVERIFY(!app::shareFileWithGroup(m_machine + QStringLiteral("/missing.dat"), group).isEmpty());
    }

    void markerFileOfAnInstalledProgramIsInTheMachineFolder()
    {
        app::setProgramFolder(folder(QStringLiteral("usr/bin")));
        {
            // Beside an installed program the marker means nothing.
            touch(m_root->filePath(QStringLiteral("usr/bin/INFORMATION.INI")));
            testing::ScriptedPlatform platform;
            frmSplash splash;
            QVERIFY(platform.started.isEmpty());
        }
        touch(m_machine + QStringLiteral("/INFORMATION.INI"));
        testing::ScriptedPlatform platform;
        platform.systemFolder = QStringLiteral("C:\\WINDOWS\\system32");
        frmSplash splash;
        QCOMPARE(platform.started.size(), 8);
        QCOMPARE(platform.started.last(),
                 QStringLiteral("regsvr32 /s ") + QDir::toNativeSeparators(m_machine) + QStringLiteral("\\SPR32X60.ocx"));
    }

    void siteSettingsOfThePcReachEveryUser()
    {
        // What the administrator writes into the machine-wide file (/etc/xdg/<program>.conf).
        QDir().mkpath(m_site);
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        testing::TempArchive office;
        {
            QSettings site(QSettings::SystemScope, name);
            QCOMPARE(QFileInfo(site.fileName()).absolutePath(), m_site);
            site.setValue(QStringLiteral("Site/Organisation"), QStringLiteral("某某市人民医院病案室"));
            site.setValue(QStringLiteral("Site/Web"), QStringLiteral("www.example.org"));
            site.setValue(QStringLiteral("Data/Path"), office.path());
        }
        QCOMPARE(app::OrganisationName(), QStringLiteral("某某市人民医院病案室"));
        QCOMPARE(app::WebAddress(), QStringLiteral("www.example.org"));
        // The office's archive named there is where a user's first start goes.
        app::setProgramFolder(folder(QStringLiteral("usr/bin")));
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, office.path());

        // A user's own setting wins over the machine's.
        settings::write(QStringLiteral("Site"), QStringLiteral("Web"), QStringLiteral("intranet.local"));
        QCOMPARE(app::WebAddress(), QStringLiteral("intranet.local"));
        QCOMPARE(app::OrganisationName(), QStringLiteral("某某市人民医院病案室"));
    }

    void siteArchiveMovedAfterTheFirstStartIsFollowed()
    {
        QDir().mkpath(m_site);
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        auto siteNames = [&](const QString &path) {
            QSettings site(QSettings::SystemScope, name);
            if (path.isEmpty())
                site.remove(QStringLiteral("Data/Path"));
            else
                site.setValue(QStringLiteral("Data/Path"), path);
        };
        const QString data = QStringLiteral("Data");
        const QString key = QStringLiteral("Path");
        testing::TempArchive office, restored, mine;
        app::setProgramFolder(folder(QStringLiteral("usr/bin")));
        store::initArchive(app::defaultDatabasePath()); // the PC's own archive, used before

        siteNames(office.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, office.path());
        QVERIFY(!settings::hasOwn(data, key)); // read from the site's file, not copied

        // The administrator moves every user to the archive restored elsewhere.
        siteNames(restored.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, restored.path());

        // An earlier version copied the site's path into the user's file at the first
        // start; the copy goes, so the next move reaches this user too.
        settings::write(data, key, restored.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, restored.path());
        QVERIFY(!settings::hasOwn(data, key));
        siteNames(office.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, office.path());

        // A PC that first ran on its own file had the default copied: the site's archive counts.
        settings::write(data, key, app::defaultDatabasePath());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, office.path());
        QVERIFY(!settings::hasOwn(data, key));

        // A path the user wrote for another archive is the user's choice: it wins and stays.
        settings::write(data, key, mine.path());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, mine.path());
        QCOMPARE(settings::readOwn(data, key), mine.path());

        // Without a site's path nor a path of the user's, the PC's own archive.
        settings::removeOwn(data, key);
        siteNames(QString());
        app::LocateDatabase(QString());
        QCOMPARE(app::DbPath, app::defaultDatabasePath());
    }
};

QTEST_MAIN(TestInstallation)
#include "tst_installation.moc"
