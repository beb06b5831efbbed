// The backup window, driven as the operator drives it, and its place on the browser's menu.
#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "common/Module1.h"
#include "platform/Twips.h"
#include "records/frmBackup.h"
#include "records/frmManager.h"
#include "archive/Backup.h"
#include "store/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestBackupWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    QTemporaryDir m_target;
    QString m_photo;
    QStringList m_starts; // where the folder chooser was asked to start
    QString m_chooserAnswer;

    std::unique_ptr<frmBackup> open()
    {
        auto w = std::make_unique<frmBackup>();
        w->show();
        return w;
    }
    static QPushButton *button(frmBackup *w, const char *name) { return testing::child<QPushButton>(w, name); }
    static QLineEdit *text1(frmBackup *w) { return testing::child<QLineEdit>(w, "Text1"); }
    void chooseTarget(frmBackup *w)
    {
        m_chooserAnswer = m_target.path();
        button(w, "cmdBrowse")->click();
    }

private slots:
    void initTestCase()
    {
        // The browser's closing would end the program.
        app::setEndProgramHook([] {});
    }

    void init()
    {
        testing::isolateSettings();
        store::setBackupSpaceForTests(-1);
        m_archive = std::make_unique<testing::TempArchive>();
        m_photo = testing::makePicture(m_archive->folder(), QStringLiteral("photo.png"), 40, 30);
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"), QString(),
                             QString(), {m_photo});
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        for (const QString &e : entries(m_target.path()))
            QDir(QDir(m_target.path()).filePath(e)).removeRecursively();
        m_starts.clear();
        m_chooserAnswer.clear();
        frmBackup::choosePath = [this](QWidget *, const QString &start) {
            m_starts << start;
            return m_chooserAnswer;
        };
    }

    void layoutAndCaptions()
    {
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("备份病案数据"));
        QVERIFY(text1(w.get())->isReadOnly());
        QVERIFY(text1(w.get())->text().isEmpty());
        auto *check = testing::child<QCheckBox>(w.get(), "Check1");
        QVERIFY(check->isChecked());
        QCOMPARE(button(w.get(), "cmdStart")->text(), QStringLiteral("开始备份(&B)"));
        QVERIFY(button(w.get(), "cmdStart")->isDefault());
        QCOMPARE(button(w.get(), "cmdClose")->text(), QStringLiteral("关闭(&C)"));
        QCOMPARE(button(w.get(), "cmdBrowse")->text(), QStringLiteral("..."));
        QCOMPARE(testing::child<QLabel>(w.get(), "lblStatus")->textFormat(), Qt::PlainText);
        // Every caption whole, every control inside the window.
        for (QWidget *c : w->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            QVERIFY2(w->rect().contains(c->geometry()), qPrintable(c->objectName()));
            if (c->objectName() == QLatin1String("cmdBrowse")) // narrower than a button likes to be
                QVERIFY(c->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 10 <= c->width());
            else if (qobject_cast<QPushButton *>(c) || qobject_cast<QCheckBox *>(c))
                QVERIFY2(c->sizeHint().width() <= c->width(), qPrintable(c->objectName()));
        }
        auto *label2 = testing::child<QLabel>(w.get(), "Label2");
        QVERIFY(label2->heightForWidth(label2->width()) <= label2->height());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmBackup")));
    }

    void theFolderComesFromTheChooser()
    {
        auto w = open();
        m_chooserAnswer = QString(); // cancelled: nothing changes
        button(w.get(), "cmdBrowse")->click();
        QVERIFY(text1(w.get())->text().isEmpty());
        chooseTarget(w.get());
        QCOMPARE(text1(w.get())->text(), m_target.path());
        // The chooser starts where the last choice was.
        m_chooserAnswer = QString();
        button(w.get(), "cmdBrowse")->click();
        QCOMPARE(m_starts, (QStringList{QString(), QString(), m_target.path()}));
        QCOMPARE(text1(w.get())->text(), m_target.path());
    }

    void startingWithoutAFolderAsksForOne()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        auto w = open();
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("请先按“...”选择备份的磁盘和文件夹。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("备份"));
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Exclamation);
        QVERIFY(entries(m_target.path()).isEmpty());
    }

    void aVerifiedBackup()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        auto w = open();
        chooseTarget(w.get());
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        const QStringList made = entries(m_target.path());
        QCOMPARE(made.size(), 1);
        QVERIFY(made.at(0).startsWith(QStringLiteral("病案备份-")));
        const QString folder = QDir(m_target.path()).filePath(made.at(0));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("备份完成"));
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Information);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("备份完成，并已校验无误。\n备份文件夹：%1\n病案 1 条，照片 1 条。"
                                                        "\n复制病案关联的文件和照片 1 个，共 0.0 MB。")
                                             .arg(QDir::toNativeSeparators(folder)));
        QVERIFY(QFileInfo(folder + QStringLiteral("/files") + m_photo).isFile());
        QCOMPARE(testing::child<QProgressBar>(w.get(), "ProgressBar1")->value(), 1000);
        QCOMPARE(button(w.get(), "cmdClose")->text(), QStringLiteral("关闭(&C)"));
        QVERIFY(button(w.get(), "cmdStart")->isEnabled());

        // The next opening offers the same folder, and remembers where the window stood.
        w->move(120, 90);
        button(w.get(), "cmdClose")->click();
        QVERIFY(!w->isVisible());
        QCOMPARE(settings::readNumber(QStringLiteral("Backup"), QStringLiteral("Left")), 120 * 15);
        auto again = open();
        QCOMPARE(text1(again.get())->text(), m_target.path());
    }

    void theScanFolderGoesWithTheFiles()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        const QString page = QDir(m_archive->folder()).filePath(QStringLiteral("Scan/240101080000/page1.png"));
        QVERIFY(QDir().mkpath(QFileInfo(page).path()));
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), m_archive->folder() + QStringLiteral("/Scan"));
        testing::makePicture(QFileInfo(page).path(), QStringLiteral("page1.png"), 20, 20);
        auto w = open();
        chooseTarget(w.get());
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY2(platform.boxes[0].text.endsWith(QStringLiteral("共 0.0 MB。\n扫描文件夹中还没有病案使用的文件 1 个也已备份。")),
                 qPrintable(platform.boxes[0].text));
        const QString folder = QDir(m_target.path()).filePath(entries(m_target.path()).value(0));
        QVERIFY(QFileInfo(folder + QStringLiteral("/files") + page).isFile());

        // A folder set that is not there is said, not passed over.
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), m_archive->folder() + QStringLiteral("/gone"));
        platform.answer(platform::Answer::Ok);
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 2);
        QVERIFY2(platform.boxes[1].text.endsWith(QStringLiteral("\n扫描文件夹“%1”不存在或不能读取，其中的文件没有备份。")
                                                     .arg(QDir::toNativeSeparators(m_archive->folder() + QStringLiteral("/gone")))),
                 qPrintable(platform.boxes[1].text));
        QCOMPARE(platform.boxes[1].icon, platform::Icon::Exclamation);
    }

    void leftoversOfAnInterruptedBackupAreCleared()
    {
        // What a backup killed yesterday left: its ".partial" folder with a copy in it;
        // and one dated tomorrow (a PC with another clock), which is only reported.
        const QDir t(m_target.path());
        QVERIFY(t.mkpath(QStringLiteral("病案备份-20000101-000000.partial")));
        QVERIFY(t.mkpath(QStringLiteral("病案备份-29991231-000000.partial")));
        for (const QString &name : {QStringLiteral("病案备份-20000101-000000.partial/file.dat"),
                                    QStringLiteral("病案备份-29991231-000000.partial/file.dat")}) {
            QFile f(t.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(3 << 20, 'x'));
        }
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        auto w = open();
        chooseTarget(w.get());
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(!t.exists(QStringLiteral("病案备份-20000101-000000.partial")));
        QVERIFY(t.exists(QStringLiteral("病案备份-29991231-000000.partial")));
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Exclamation);
        QVERIFY2(platform.boxes[0].text.endsWith(
                     QStringLiteral("\n已删除以前中断的备份留下的 1 个未完成的文件夹，腾出 3.0 MB。"
                                    "\n“%1”中还有 1 个未完成的备份文件夹（共 3.0 MB），可能正由另一次备份写入，没有删除："
                                    "病案备份-29991231-000000.partial。确认没有备份在进行后，可以删除它们。")
                         .arg(QDir::toNativeSeparators(m_target.path()))),
                 qPrintable(platform.boxes[0].text));
    }

    void withoutTheFilesAndWithOneMissing()
    {
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101090000"), QStringLiteral("李四"),
                             QStringLiteral("/no/such/report.pdf"));
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        platform.answer(platform::Answer::Ok);
        auto w = open();
        chooseTarget(w.get());
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Exclamation);
        QVERIFY2(platform.boxes[0].text.endsWith(QStringLiteral("\n有 1 个文件找不到，没有备份，详见备份文件夹中的“备份清单.txt”。")),
                 qPrintable(platform.boxes[0].text));

        testing::child<QCheckBox>(w.get(), "Check1")->setChecked(false);
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 2);
        QVERIFY(platform.boxes[1].text.endsWith(QStringLiteral("病案 2 条，照片 1 条。")));
        QCOMPARE(entries(m_target.path()).size(), 2);
    }

    void cancelDuringTheBackup()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        auto w = open();
        chooseTarget(w.get());
        QString captionWhileRunning;
        bool startEnabledWhileRunning = true;
        // Pressed while the backup runs: the bar's first step lets the press through.
        QTimer::singleShot(0, w.get(), [&] {
            captionWhileRunning = button(w.get(), "cmdClose")->text();
            startEnabledWhileRunning = button(w.get(), "cmdStart")->isEnabled();
            button(w.get(), "cmdClose")->click();
        });
        button(w.get(), "cmdStart")->click();
        QCOMPARE(captionWhileRunning, QStringLiteral("取消(&C)"));
        QVERIFY(!startEnabledWhileRunning);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("备份已取消，没有留下不完整的备份。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("备份"));
        QVERIFY(entries(m_target.path()).isEmpty());
        QVERIFY(w->isVisible()); // the cancel stopped the backup, not the window
        QCOMPARE(button(w.get(), "cmdClose")->text(), QStringLiteral("关闭(&C)"));
    }

    void closingTheWindowDuringTheBackupCancelsIt()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        auto w = open();
        chooseTarget(w.get());
        QTimer::singleShot(0, w.get(), [&] { w->close(); });
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("备份已取消，没有留下不完整的备份。"));
        QVERIFY(entries(m_target.path()).isEmpty());
        QVERIFY(w->isVisible());
    }

    void aBackupThatFailsPartWay()
    {
        testing::ScriptedPlatform platform;
        platform.answer(platform::Answer::Ok);
        store::setBackupSpaceForTests(QFileInfo(m_archive->path()).size() + 10);
        auto w = open();
        chooseTarget(w.get());
        button(w.get(), "cmdStart")->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("备份失败"));
        QCOMPARE(platform.boxes[0].icon, platform::Icon::Critical);
        QVERIFY(platform.boxes[0].text.startsWith(QStringLiteral("目标磁盘已满")));
        QVERIFY(platform.boxes[0].text.endsWith(QStringLiteral("\n\n备份没有完成，也没有留下看似完整的副本。")));
        QVERIFY(entries(m_target.path()).isEmpty());
        QCOMPARE(testing::child<QProgressBar>(w.get(), "ProgressBar1")->value(), 0);
        store::setBackupSpaceForTests(-1);
    }

    void theBrowsersMenuOpensIt()
    {
        testing::ScriptedPlatform platform;
        bool wasBackup = false;
        platform.onModal = [&](QDialog &d) {
            wasBackup = qobject_cast<frmBackup *>(&d) != nullptr;
            return 0;
        };
        frmManager browser;
        auto *menu = testing::child<QMenu>(&browser, "MnuControl");
        const QList<QAction *> actions = menu->actions();
        auto *backup = testing::child<QAction>(&browser, "MnuBackup");
        const int at = int(actions.indexOf(backup));
        QVERIFY(at > 0);
        QVERIFY(actions.at(at - 1)->isSeparator());
        QVERIFY(backup->isEnabled());
        backup->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmBackup")});
        QVERIFY(wasBackup);

        // Not for those who may only add records; for every other level.
        for (const char *level : {"只能添加", "只能修改", "可以修改"}) {
            app::CurrentAuthority = QString::fromUtf8(level);
            frmManager b;
            QCOMPARE(testing::child<QAction>(&b, "MnuBackup")->isEnabled(), app::CurrentAuthority != QStringLiteral("只能添加"));
        }
    }
};

QTEST_MAIN(TestBackupWindow)
#include "tst_frmBackup.moc"
