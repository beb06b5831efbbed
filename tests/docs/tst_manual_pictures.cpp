// The pictures of the documents: every window the operators' manual shows, opened on a
// demonstration archive in a fixed state as an operator meets it, from the main window and
// the browser's menus, and drawn. In the suite it checks that each window draws and that the
// pictures the documents show are the ones taken here; scripts/docs runs it with
// CASEARCHIVE_SCREENSHOTS=docs/images to renew them.
#include "PageDrawing.h"
#include "TestSupport.h"

#include "access/Password.h"
#include "access/frmLogin.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "archive/Archive.h"
#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "pictures/SelectFile.h"
#include "pictures/frmScan.h"
#include "pictures/SelectPath.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/frmBackup.h"
#include "records/frmHistory.h"
#include "records/frmManager.h"
#include "records/frmModifyForm.h"
#include "records/frmNewForm.h"
#include "records/frmRecordHistory.h"
#include "records/frmRecycleBin.h"
#include "records/frmSearchForm.h"
#include "scan/frmScanner.h"
#include "store/Database.h"
#include "store/Settings.h"
#include "store/Statements.h"
#include "trail/History.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTreeView>

namespace {

constexpr int kWait = 60000;

// Writing the pictures for the documents, the archive stands in a folder of a fixed name, so
// that the paths the windows show are the same at every renewal; otherwise in one of its own.
QString baseFolder(QTemporaryDir &scratch)
{
    if (qEnvironmentVariableIsEmpty("CASEARCHIVE_SCREENSHOTS"))
        return scratch.path();
    const QString fixed = QDir::tempPath() + QStringLiteral("/病案演示");
    QDir(fixed).removeRecursively();
    QDir().mkpath(fixed);
    return fixed;
}

} // namespace

class TestManualPictures : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;
    QTemporaryDir m_sane;
    QString m_base;
    std::unique_ptr<testing::ScriptedPlatform> m_platform;
    std::unique_ptr<frmMain> m_main;
    QStringList m_taken;
    QString m_record; // the number of the record the pictures show
    QString m_page;   // its scanned page

    frmManager *browser() const { return m_main->manager(); }

    void take(QWidget *w, const QString &name)
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY2(testing::screenshot(w, name), qPrintable(name));
        m_taken << name;
    }

    // The window a command opens, handed to `look` while it is open; what it returns closes it.
    template <typename Window>
    void whileOpen(const std::function<void()> &command, const std::function<int(Window &)> &look)
    {
        bool seen = false;
        m_platform->onModal = [&](QDialog &d) {
            auto *w = qobject_cast<Window *>(&d);
            if (!w)
                return int(QDialog::Rejected);
            seen = true;
            w->show();
            return look(*w);
        };
        command();
        m_platform->onModal = {};
        QVERIFY2(seen, Window::staticMetaObject.className());
    }

    // The record nodes of the browser's tree, type by type.
    QModelIndexList recordNodes() const
    {
        QModelIndexList nodes;
        ArchiveTreeModel *model = browser()->treeModel();
        for (int t = 0; t < model->typeCount(); ++t)
            for (int r = 0; r < model->rowCount(model->typeIndex(t)); ++r)
                nodes << model->index(r, 0, model->typeIndex(t));
        return nodes;
    }

    // Clicks the record of that number in the browser's tree, its type opened.
    void showRecord(const QString &number)
    {
        for (const QModelIndex &record : recordNodes())
            if (browser()->treeModel()->number(record) == number) {
                browser()->treeView()->expand(record.parent());
                testing::clickNode(browser(), record);
                return;
            }
        QFAIL(qPrintable(QStringLiteral("no record %1 in the tree").arg(number)));
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        m_base = baseFolder(m_scratch);
        settings::write(QStringLiteral("Site"), QStringLiteral("Organisation"), QStringLiteral("某某市人民医院病案室"));
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), m_base + QStringLiteral("/扫描"));
        // The tree as wide as its names.
        settings::writeNumber(QStringLiteral("Config"), QStringLiteral("Split"), 3600);
        m_page = m_base + QStringLiteral("/病案文件/出院小结_第1页.png");
        const QString archive = m_base + QStringLiteral("/Data/file.dat");
        store::DemoOptions demo;
        demo.records = 40;
        demo.types = 6;
        demo.filesFolder = m_base + QStringLiteral("/病案文件");
        store::makeDemoArchive(archive, demo);
        {
            store::Connection c(archive);
            store::Transaction t(c);
            const struct {
                const char *name, *level;
            } staff[] = {{"张红", "可以修改"}, {"李明", "不能修改"}, {"王芳", "只能添加"}};
            for (const auto &s : staff)
                store::insertOperator(c, QString::fromUtf8(s.name), access::hashedForm(QStringLiteral("123456")),
                                      QString::fromUtf8(s.level));
            t.commit();
        }
        // The login and the main window find the archive where a site's settings name it.
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), archive);
        app::DbPath = archive;
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::CurrentOperator = QStringLiteral("管理员");
        app::setWorkstationNameForTests(QStringLiteral("病案室-1"));
        app::SearchFilter.clear();
        app::setEndProgramHook([] {});
        // The clocks of the fixed state: the new record's number, and the trail's entries a
        // minute apart, so that a picture changes only when its window does.
        frmNewForm::Now = [] { return QDateTime(QDate(2024, 6, 7), QTime(9, 30, 12)); };
        store::setHistoryClockForTests([minutes = 0]() mutable {
            return QDateTime(QDate(2024, 6, 7), QTime(1, 40), Qt::UTC).addSecs(60 * minutes++);
        });
        m_platform = std::make_unique<testing::ScriptedPlatform>();

        // The scan window's scanner: SANE's test scanner, a grid on an A4 sheet.
        QFile dll(m_sane.filePath(QStringLiteral("dll.conf")));
        QVERIFY(dll.open(QIODevice::WriteOnly) && dll.write("test\n") > 0);
        dll.close();
        QFile conf(m_sane.filePath(QStringLiteral("test.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("number_of_devices 1\ntest-picture \"Grid\"\nbr_x 210.0\nbr_y 297.0\n");
        conf.close();
        qputenv("SANE_CONFIG_DIR", m_sane.path().toLocal8Bit());
    }

    void cleanupTestCase()
    {
        m_main.reset();
        m_platform.reset();
        frmNewForm::Now = {};
        store::setHistoryClockForTests({});
        if (!qEnvironmentVariableIsEmpty("CASEARCHIVE_SCREENSHOTS"))
            QDir(m_base).removeRecursively();
    }

    void startAndLogin()
    {
        {
            frmSplash splash;
            take(&splash, QStringLiteral("splash"));
        }
        frmLogin login;
        login.txtPassword->setText(QStringLiteral("123456"));
        take(&login, QStringLiteral("login"));
    }

    // The main window with the browser, a record with its photos on show.
    void mainWindow()
    {
        m_main = std::make_unique<frmMain>();
        m_main->setWindowState(Qt::WindowNoState);
        m_main->resize(1000, 660);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QVERIFY(browser());
        // The first record with an attached file and three photos or more.
        store::Connection c(app::DbPath);
        for (const QModelIndex &node : recordNodes()) {
            const QString number = browser()->treeModel()->number(node);
            const QVector<store::RecordRow> rows = store::readRecord(c, number);
            if (!rows.isEmpty() && !rows.first().path.isEmpty() && store::readPhotos(c, number).size() >= 3) {
                m_record = number;
                break;
            }
        }
        QVERIFY(!m_record.isEmpty());
        // Its last photo a scanned page of text, as most of a record's photos are.
        testing::PageLook look;
        look.widthPx = 1100;
        look.heightPx = 1500;
        look.pointSize = 6;
        QVERIFY(testing::savePage(testing::drawPage(testing::dischargeSummary(), look), m_page));
        {
            store::Transaction t(c);
            store::insertPhoto(c, m_record, m_page);
            t.commit();
        }
        browser()->cmdLoad_Click();
        showRecord(m_record);
        QCOMPARE(browser()->recordNumber(), m_record);
        take(m_main.get(), QStringLiteral("main"));
    }

    void recordWindows()
    {
        whileOpen<frmNewForm>([this] { browser()->MnuAddFile_Click(); }, [this](frmNewForm &w) {
            w.txtName->setText(QStringLiteral("张伟 急性阑尾炎"));
            m_platform->answerFile(m_base + QStringLiteral("/病案文件/手术记录_05.txt"));
            w.picEditFile_Click();
            w.txtDescription->setPlainText(QStringLiteral("患者：张伟\n入院日期：2024-06-05\n主诉：转移性右下腹痛一天"));
            for (const char *photo : {"照片_640x480.jpg", "照片_竖_600x900.jpg"}) {
                m_platform->answerFile(m_base + QStringLiteral("/病案文件/") + QString::fromUtf8(photo));
                w.Command1_Click();
            }
            w.Combo1->setCurrentIndex(0);
            take(&w, QStringLiteral("new-record"));
            return int(QDialog::Rejected);
        });
        // The modification is saved: the record's history shows it.
        whileOpen<frmModifyForm>([this] { browser()->MnuModifyFile_Click(); }, [this](frmModifyForm &w) {
            w.txtDescription->setPlainText(w.txtDescription->toPlainText() + QStringLiteral("\n复查：恢复良好。"));
            take(&w, QStringLiteral("modify-record"));
            w.SaveAdd_Click();
            return w.result();
        });
        browser()->cmdLoad_Click();
        showRecord(m_record);
        whileOpen<frmSearchForm>([this] { browser()->MnuSearchFile_Click(); }, [this](frmSearchForm &w) {
            testing::typeText(testing::child<QLineEdit>(&w, QStringLiteral("txtSearch")), QStringLiteral("阑尾"));
            testing::child<QCheckBox>(&w, QStringLiteral("chkValue(5)"))->setChecked(true);
            take(&w, QStringLiteral("search"));
            return int(QDialog::Rejected);
        });
    }

    void photos()
    {
        {
            SelectFile chooser(nullptr, nullptr, m_base + QStringLiteral("/病案文件"));
            chooser.show();
            testing::child<QCheckBox>(&chooser, QStringLiteral("Check1"))->setChecked(true);
            auto *files = testing::child<QListWidget>(&chooser, QStringLiteral("File1"));
            const QList<QListWidgetItem *> found = files->findItems(QStringLiteral("照片_640x480.jpg"), Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(found.first()).center());
            auto *picture = testing::child<QLabel>(&chooser, QStringLiteral("DisplayPicture"));
            QVERIFY(QTest::qWaitFor([&] { return !picture->pixmap().isNull(); }, kWait));
            take(&chooser, QStringLiteral("picture-chooser"));
        }
        QListWidget *list = browser()->photoList();
        list->setCurrentRow(list->count() - 1);
        QCOMPARE(list->currentItem()->text(), m_page);
        whileOpen<frmScan>([this] { browser()->List1_DblClick(); }, [this](frmScan &w) {
            auto *photo = testing::child<QLabel>(&w, QStringLiteral("Image1"));
            if (!QTest::qWaitFor([&] { return !photo->pixmap().isNull(); }, kWait))
                return int(QDialog::Rejected);
            take(&w, QStringLiteral("viewer"));
            return int(QDialog::Rejected);
        });
        {
            frmScanner scanner(m_record);
            QSignalSpy listed(&scanner, &frmScanner::scannersListed);
            QSignalSpy ready(&scanner, &frmScanner::scannerReady);
            scanner.show();
            QVERIFY(listed.wait(kWait) && scanner.cboScanner->count() > 0 && ready.wait(kWait));
            scanner.cboMode->setCurrentIndex(scanner.cboMode->findData(QStringLiteral("Color")));
            scanner.cboResolution->setCurrentIndex(scanner.cboResolution->findText(QStringLiteral("100 dpi")));
            QSignalSpy finished(&scanner, &frmScanner::runFinished);
            QTest::mouseClick(scanner.cmdScan, Qt::LeftButton);
            QVERIFY(finished.wait(kWait));
            take(&scanner, QStringLiteral("scanner"));
        }
        whileOpen<records::frmPrintPreview>([this] { browser()->MnuPrintRecord_Click(); },
                                            [this](records::frmPrintPreview &w) {
                                                take(&w, QStringLiteral("print-preview"));
                                                return int(QDialog::Rejected);
                                            });
    }

    void typesAndOperators()
    {
        whileOpen<QDialog>([this] { m_main->Toolbar1_ButtonClick(QStringLiteral("Content")); }, [this](QDialog &w) {
            take(&w, QStringLiteral("record-types"));
            return int(QDialog::Rejected);
        });
        whileOpen<QDialog>([this] { m_main->Toolbar1_ButtonClick(QStringLiteral("USER")); }, [this](QDialog &w) {
            take(&w, QStringLiteral("operators"));
            return int(QDialog::Rejected);
        });
    }

    // A record deleted into the recycle bin, then the history of the modified one and the
    // whole history.
    void binAndHistory()
    {
        ArchiveTreeModel *model = browser()->treeModel();
        const QModelIndex type = model->typeIndex(1);
        browser()->treeView()->expand(type);
        testing::clickNode(browser(), model->index(0, 0, type));
        m_platform->answer(platform::Answer::Yes);
        browser()->MnuDeleteFile_Click();
        whileOpen<frmRecycleBin>([this] { browser()->MnuRecycleBin_Click(); }, [this](frmRecycleBin &w) {
            take(&w, QStringLiteral("recycle-bin"));
            return int(QDialog::Rejected);
        });
        showRecord(m_record);
        whileOpen<frmRecordHistory>([this] { browser()->MnuRecordHistory_Click(); }, [this](frmRecordHistory &w) {
            auto *entries = testing::child<QTableWidget>(&w, QStringLiteral("grdEntries"));
            entries->selectRow(0);
            take(&w, QStringLiteral("record-history"));
            return int(QDialog::Rejected);
        });
        whileOpen<frmHistory>([this] { browser()->MnuHistory_Click(); }, [this](frmHistory &w) {
            // The modification chosen: what it changed shows below.
            w.grdTrail->selectRow(1);
            take(&w, QStringLiteral("history"));
            return int(QDialog::Rejected);
        });
    }

    void backup()
    {
        const QString folder = m_base + QStringLiteral("/备份");
        QDir().mkpath(folder);
        whileOpen<frmBackup>([this] { browser()->MnuBackup_Click(); }, [&](frmBackup &w) {
            testing::child<QLineEdit>(&w, QStringLiteral("Text1"))->setText(folder);
            take(&w, QStringLiteral("backup"));
            return int(QDialog::Rejected);
        });
        SelectPath chooser(nullptr, nullptr, folder);
        take(&chooser, QStringLiteral("folder-chooser"));
    }

    // Every picture the documents show is taken here, and docs/images holds no other.
    void theDocumentsShowThesePictures()
    {
        const QString source = QStringLiteral(CASEARCHIVE_SOURCE_DIR);
        QStringList shown;
        static const QRegularExpression image(QStringLiteral("!\\[[^\\]]*\\]\\((?:docs/)?images/([\\w-]+)\\.png\\)"));
        QStringList documents{source + QStringLiteral("/README.md")};
        for (const QString &f : QDir(source + QStringLiteral("/docs")).entryList({QStringLiteral("*.md")}))
            documents << source + QStringLiteral("/docs/") + f;
        for (const QString &path : documents) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (const QRegularExpressionMatch &m : image.globalMatch(QString::fromUtf8(f.readAll())))
                if (!shown.contains(m.captured(1)))
                    shown << m.captured(1);
        }
        QStringList stored = QDir(source + QStringLiteral("/docs/images")).entryList({QStringLiteral("*.png")});
        stored.replaceInStrings(QStringLiteral(".png"), QString());
        QStringList taken = m_taken;
        for (QStringList *l : {&shown, &stored, &taken})
            l->sort();
        QCOMPARE(shown, taken);
        QCOMPARE(stored, taken);
    }
};

QTEST_MAIN(TestManualPictures)
#include "tst_manual_pictures.moc"
