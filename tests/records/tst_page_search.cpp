#include "PageDrawing.h"
#include "TestSupport.h"

#include "common/Module1.h"
#include "ocr/PageQueue.h"
#include "pictures/frmScan.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "records/frmNewForm.h"
#include "records/frmSearchForm.h"
#include "store/Database.h"
#include "store/PageText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <memory>

using platform::Buttons;
using platform::Icon;

namespace {

QCheckBox *box(QWidget *w, int i) { return testing::child<QCheckBox>(w, QStringLiteral("chkValue(%1)").arg(i)); }

// Every record the tree shows, as "type/name".
QStringList shown(ArchiveTreeModel *m)
{
    QStringList all;
    for (int t = 0; t < m->typeCount(); ++t)
        for (const QString &r : testing::childTexts(m, m->typeIndex(t)))
            all << m->text(m->typeIndex(t)) + QLatin1Char('/') + r;
    return all;
}

} // namespace

// An operator ticks "照片文字", types a word that is only on a scanned page, and finds the
// record; the pages are read in the background after the record is saved.
class TestPageSearch : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    QStringList m_states;
    QTemporaryDir m_pages;

    void searchFor(const QString &text, std::initializer_list<int> ticked)
    {
        frmSearchForm d;
        d.show();
        for (int i = 1; i <= 5; ++i)
            box(&d, i)->setChecked(std::find(ticked.begin(), ticked.end(), i) != ticked.end());
        testing::child<QLineEdit>(&d, QStringLiteral("txtSearch"))->setText(text);
        QTest::mouseClick(testing::child<QPushButton>(&d, QStringLiteral("cmdSearch")), Qt::LeftButton);
    }

    void click(frmManager *w, const QModelIndex &node)
    {
        QTreeView *tree = w->treeView();
        tree->scrollTo(node);
        const QRect r = tree->visualRect(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + qMin(r.width() / 2, 24), r.center().y()));
    }

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        QVERIFY(m_pages.isValid());
    }

    void init()
    {
        testing::isolateSettings();
        m_archive = std::make_unique<testing::TempArchive>();
        m_archive->addType(QStringLiteral("内科"));
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        m_states.clear();
        app::setSearchStateTarget([this](const QString &text) { m_states << text; });
    }

    void cleanup()
    {
        pictures::PageTextQueue::enable(false);
        app::setBrowserReloadTarget({});
        app::BrowserLoaded = false;
        app::SearchFilter.clear();
        m_archive.reset();
    }

    void theFifthBoxIsUntickedAndAloneIsAChoice()
    {
        testing::ScriptedPlatform platform;
        app::BrowserLoaded = true;
        int reloads = 0;
        app::setBrowserReloadTarget([&reloads] { ++reloads; });
        {
            frmSearchForm d;
            d.show();
            QCOMPARE(box(&d, 5)->text(), QStringLiteral("照片文字"));
            QVERIFY(!box(&d, 5)->isChecked());
            for (int i = 1; i <= 4; ++i)
                QVERIFY(box(&d, i)->isChecked());
            // All five side by side inside the frame, none over another.
            auto *frame = testing::child<QFrame>(&d, QStringLiteral("Frame1"));
            for (int i = 1; i <= 5; ++i) {
                QVERIFY2(frame->contentsRect().contains(box(&d, i)->geometry()), qPrintable(QString::number(i)));
                if (i > 1)
                    QVERIFY(box(&d, i)->geometry().left() > box(&d, i - 1)->geometry().right());
            }
            QVERIFY(d.rect().contains(frame->geometry()));
            box(&d, 5)->setChecked(true);
        }
        {
            // Ticked last time, unticked again at the next opening.
            frmSearchForm d;
            QVERIFY(!box(&d, 5)->isChecked());
        }
        // Nothing ticked at all: the window says so and stays.
        {
            frmSearchForm d;
            d.show();
            for (int i = 1; i <= 5; ++i)
                box(&d, i)->setChecked(false);
            testing::child<QLineEdit>(&d, QStringLiteral("txtSearch"))->setText(QStringLiteral("出院"));
            platform.answer(platform::Answer::Ok);
            QTest::mouseClick(testing::child<QPushButton>(&d, QStringLiteral("cmdSearch")), Qt::LeftButton);
            QCOMPARE(platform.boxes.size(), 1);
            QCOMPARE(platform.boxes[0].text, QStringLiteral("请您选择一个查询项目！"));
            QCOMPARE(platform.boxes[0].title, platform::kAppTitle);
            QCOMPARE(platform.boxes[0].icon, Icon::Information);
            QVERIFY(d.isVisible());
        }
        QCOMPARE(reloads, 0);
        searchFor(QStringLiteral(" 出院 "), {5});
        QCOMPARE(reloads, 1);
        QVERIFY(app::SearchFilter.inPageText);
        QVERIFY(!app::SearchFilter.inName && !app::SearchFilter.inPath && !app::SearchFilter.inDescription
                && !app::SearchFilter.inType);
        QCOMPARE(app::SearchFilter.text, QStringLiteral("出院"));
    }

    void anArchiveWithoutPageTextFindsNothingByPages()
    {
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("出院记录"), {}, {},
                             {QStringLiteral("/p/1.png")});
        auto w = std::make_unique<frmManager>();
        w->show();
        searchFor(QStringLiteral("出院"), {5});
        QCOMPARE(shown(w->treeModel()), QStringList());
        QCOMPARE(m_states.last(), QStringLiteral("查询：出院，找到 0 条，其中 0 条由照片文字找到"));
        searchFor(QStringLiteral("出院"), {1, 5});
        QCOMPARE(shown(w->treeModel()), QStringList{QStringLiteral("内科/出院记录")});
    }

    void aWordOnlyOnAPageFindsTheRecord()
    {
        // A page as a scanner gives it, and one that is no picture at all before it.
        testing::PageLook look;
        look.widthPx = 1600;
        const QString page = m_pages.filePath(QStringLiteral("小结.png"));
        QVERIFY(testing::savePage(testing::drawPage(testing::dischargeSummary(), look), page));
        const QString broken = m_pages.filePath(QStringLiteral("坏.jpg"));
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(3000, '\x01'));
        }
        if (testing::onServer()) {
            // On a server the tables' owner makes the table (the program's file makes its own).
            store::Connection c(m_archive->path());
            store::createPageTextTable(c);
        }
        pictures::PageTextQueue::enable(true);
        pictures::PageTextQueue &queue = pictures::PageTextQueue::instance();
        QSignalSpy idle(&queue, &pictures::PageTextQueue::idle);

        auto browser = std::make_unique<frmManager>();
        browser->show();
        QVERIFY(idle.wait(20000)); // the start's sweep: an archive with no photos yet
        idle.clear();
        {
            testing::ScriptedPlatform platform;
            frmNewForm::Now = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
            frmNewForm form;
            form.show();
            form.txtName->setFocus();
            form.txtName->insert(QStringLiteral("张某"));
            form.txtPath->insert(QStringLiteral("/病案/张某.doc"));
            platform.answerFile(broken);
            QTest::mouseClick(form.Command1, Qt::LeftButton);
            platform.answerFile(page);
            QTest::mouseClick(form.Command1, Qt::LeftButton);
            form.Combo1->setCurrentIndex(0);
            QTest::mouseClick(form.SaveAdd, Qt::LeftButton);
            QVERIFY(platform.boxes.isEmpty());
            frmNewForm::Now = [] { return QDateTime::currentDateTime(); };
        }
        // Queued with the save; the window is free at once, the pages read meanwhile.
        QVERIFY(m_archive->count(QStringLiteral("page_text")) == 2);
        QVERIFY(idle.wait(120000));
        {
            store::Connection c(m_archive->path());
            const store::PageTextRow bad = store::readPageText(c, QStringLiteral("240305140709"), broken);
            QCOMPARE(bad.state, store::kPageFailed);
            QCOMPARE(bad.reason, QStringLiteral("不是能识别的图片"));
            const store::PageTextRow good = store::readPageText(c, QStringLiteral("240305140709"), page);
            QCOMPARE(good.state, store::kPageDone);
            QVERIFY2(good.words.contains(QStringLiteral("低盐低脂饮食")), qPrintable(good.words));
            QVERIFY(good.engine.startsWith(QStringLiteral("Tesseract ")));
            QCOMPARE(good.contentHash.size(), 64);
        }

        // The four boxes alone know nothing of the page.
        searchFor(QStringLiteral("低盐低脂"), {1, 2, 3, 4});
        QCOMPARE(shown(browser->treeModel()), QStringList());
        searchFor(QStringLiteral("低盐*饮食"), {5});
        QCOMPARE(shown(browser->treeModel()), QStringList{QStringLiteral("内科/张某")});
        QCOMPARE(m_states.last(), QStringLiteral("查询：低盐*饮食，找到 1 条，其中 1 条由照片文字找到"));

        // The photo list marks the page that matched, and only it.
        ArchiveTreeModel *m = browser->treeModel();
        click(browser.get(), m->index(0, 0, m->typeIndex(0)));
        QListWidget *list = browser->photoList();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), broken);
        QVERIFY(!list->item(0)->data(frmManager::kMatchedRole).toBool());
        QCOMPARE(list->item(1)->text(), page);
        QVERIFY(list->item(1)->data(frmManager::kMatchedRole).toBool());
        QCOMPARE(list->item(1)->background().color(), frmManager::kMatchedPhotoColour);
        QCOMPARE(list->item(1)->toolTip(), platform::plainToolTip(QStringLiteral("这张照片的文字中有“低盐*饮食”")));

        // The viewer shows the words beside the page, and why there are none for the other.
        frmScan::PageIndex = 1;
        list->setCurrentRow(1);
        frmScan viewer(list, browser.get());
        viewer.pageTextOf = [](const QString &photo) { return frmManager::pageTextShown(QStringLiteral("240305140709"), photo); };
        viewer.show();
        auto *toggle = testing::child<QPushButton>(&viewer, QStringLiteral("cmdPageText"));
        auto *words = testing::child<QPlainTextEdit>(&viewer, QStringLiteral("txtPageText"));
        QVERIFY(toggle->isVisible());
        QVERIFY(!words->isVisible());
        const int narrow = viewer.width();
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(words->isVisible());
        QVERIFY(viewer.width() > narrow);
        QVERIFY(words->isReadOnly());
        QTRY_VERIFY(words->toPlainText().contains(QStringLiteral("低盐低脂饮食")));
        viewer.Command1_Click(0);
        QTRY_COMPARE(words->toPlainText(), QStringLiteral("这张照片的文字未能识别：不是能识别的图片"));
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!words->isVisible());
        QCOMPARE(viewer.width(), narrow);
        QCOMPARE(frmManager::pageTextShown(QStringLiteral("240305140709"), QStringLiteral("/not/listed.png")),
                 QStringLiteral("这张照片的文字还没有识别，识别后可在这里看到。"));
    }
};

QTEST_MAIN(TestPageSearch)
#include "tst_page_search.moc"
