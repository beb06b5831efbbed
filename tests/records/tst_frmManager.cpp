// The browser: its tree, the details of the record clicked, the splitter, opening a record's
// photos and file, archive texts shown as plain text, records gone or unreadable, its menu,
// failures of the store and the end of the program.
#include "BrowserFixture.h"

#include "pictures/frmScan.h"
#include "store/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::childTexts;
using testing::typeNode;

class TestBrowser : public testing::BrowserFixture {
    Q_OBJECT

private slots:
    void treeShapeKeysTagsImagesAndOrder()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        for (const char *t : {"外科", "儿科", "内科", "骨科", "空类"})
            archive.addType(QString::fromUtf8(t));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240102080000"), QStringLiteral("张三"));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("李四"));
        archive.addRecord(QStringLiteral("儿科"), QStringLiteral("240103080000"), QStringLiteral("王五"));
        archive.addRecord(QStringLiteral("不存在"), QStringLiteral("240104080000"), QStringLiteral("孤儿"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        QTreeView *tree = testing::child<QTreeView>(w.get(), "TreeView");

        QVERIFY(app::BrowserLoaded);
        QCOMPARE(m->rowCount(), 1);
        const QModelIndex root = m->rootIndex();
        QCOMPARE(m->text(root), QStringLiteral("病案库"));
        QCOMPARE(role(root, ArchiveTreeModel::KeyRole), QStringLiteral("main2009"));
        QCOMPARE(role(root, ArchiveTreeModel::TagRole), QStringLiteral("FileManager"));
        QCOMPARE(role(root, ArchiveTreeModel::ImageKeyRole), QStringLiteral("Open"));
        QVERIFY(!root.data(Qt::DecorationRole).value<QIcon>().isNull());

        // Pinyin order: er, gu, kong, nei, wai; the record of an unlisted type comes last.
        QCOMPARE(childTexts(m, root),
                 (QStringList{QStringLiteral("儿科"), QStringLiteral("骨科"), QStringLiteral("空类"),
                              QStringLiteral("内科"), QStringLiteral("外科"), QStringLiteral("（未登记类型）")}));
        QCOMPARE(childTexts(m, m->typeIndex(5)), QStringList{QStringLiteral("孤儿")});
        const QModelIndex surgery = typeNode(m, QStringLiteral("外科"));
        QCOMPARE(role(surgery, ArchiveTreeModel::KeyRole), QStringLiteral("外科"));
        QCOMPARE(role(surgery, ArchiveTreeModel::TagRole), QStringLiteral("File"));
        QCOMPARE(role(surgery, ArchiveTreeModel::ImageKeyRole), QStringLiteral("Open2"));
        // Records stay in the order stored, not sorted by name or number.
        QCOMPARE(childTexts(m, surgery), (QStringList{QStringLiteral("张三"), QStringLiteral("李四")}));
        const QModelIndex first = m->index(0, 0, surgery);
        QCOMPARE(role(first, ArchiveTreeModel::KeyRole), QStringLiteral("240102080000#"));
        QCOMPARE(role(first, ArchiveTreeModel::TagRole), QStringLiteral("SFile"));
        QCOMPARE(role(first, ArchiveTreeModel::ImageKeyRole), QStringLiteral("File"));
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("空类"))), 0);

        QVERIFY(tree->isExpanded(root));
        for (int i = 0; i < m->typeCount(); ++i)
            QVERIFY(tree->isExpanded(m->typeIndex(i)));
        QVERIFY(tree->uniformRowHeights());
        QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);

        QCOMPARE(w->recordCaption(), QStringLiteral("病案库"));
        QCOMPARE(w->recordNumber(), QString());
        QVERIFY(m_toolbar.value(QStringLiteral("Search")));
        QVERIFY(platform.boxes.isEmpty());
    }

    void searchConditionNarrowsRecordsButKeepsTypes()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addType(QStringLiteral("外科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("肝炎病例"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("肺炎病例"));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("肝移植"));
        app::SearchFilter.text = QStringLiteral("肝");
        app::SearchFilter.inName = true;
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("内科"))), QStringList{QStringLiteral("肝炎病例")});
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("外科"))), QStringList{QStringLiteral("肝移植")});

        app::SearchFilter.text = QStringLiteral("不会有");
        w->cmdLoad_Click();
        QCOMPARE(m->typeCount(), 2);
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 0);
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("外科"))), 0);

        testing::child<QAction>(w.get(), "MnuRefresh")->trigger();
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 2);
    }

    void clicksShowDetailsAndRepeatClickReadsNothing()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        const QString p1 = testing::makePicture(archive.folder(), QStringLiteral("a.png"), 40, 30);
        const QString p2 = testing::makePicture(archive.folder(), QStringLiteral("b.png"), 40, 30);
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("肝炎病例"),
                          QStringLiteral("/data/肝炎.doc"), QStringLiteral("第一行\n第二行"), {p2, p1});
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        const QModelIndex record = m->index(0, 0, type);

        click(w.get(), record);
        QCOMPARE(w->recordCaption(), QStringLiteral("肝炎病例"));
        QCOMPARE(w->recordNumber(), QStringLiteral("240101080000"));
        QCOMPARE(field(w.get(), 0), QStringLiteral("内科"));
        QCOMPARE(field(w.get(), 1), QStringLiteral("/data/肝炎.doc"));
        QCOMPARE(field(w.get(), 2), QStringLiteral("第一行\n第二行"));
        QListWidget *list = w->photoList();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), p2);
        QCOMPARE(list->item(1)->text(), p1);
        QCOMPARE(w->ShownRecordNumber(), QStringLiteral("240101080000"));
        QVERIFY(testing::child<QPushButton>(w.get(), "picEditFile")->isVisible());

        // Caption and number stay centred in the panel.
        QWidget *panel = testing::child<QWidget>(w.get(), "ListView");
        for (const char *name : {"lblFileCaption", "Label4"}) {
            QLabel *l = testing::child<QLabel>(w.get(), name);
            QVERIFY(qAbs(l->geometry().center().x() - panel->width() / 2) <= 1);
        }

        // A second click on the record on show does not read the store: its rows are gone
        // behind the browser's back, and the panel still shows what it read before.
        archive.exec(QStringLiteral("DELETE FROM Detail"));
        archive.exec(QStringLiteral("DELETE FROM photo"));
        click(w.get(), record);
        QCOMPARE(field(w.get(), 1), QStringLiteral("/data/肝炎.doc"));
        QCOMPARE(list->count(), 2);

        // A type: the fields empty, the photos stay, nothing is on show.
        click(w.get(), type);
        QCOMPARE(w->recordCaption(), QStringLiteral("内科"));
        QCOMPARE(w->recordNumber(), QString());
        QCOMPARE(field(w.get(), 0), QString());
        QCOMPARE(field(w.get(), 1), QString());
        QCOMPARE(field(w.get(), 2), QString());
        QCOMPARE(list->count(), 2);
        QCOMPARE(w->ShownRecordNumber(), QString());
        QVERIFY(testing::child<QPushButton>(w.get(), "picEditFile")->isHidden());

        // Clicked again now, the vanished record is reported and the browser carries on.
        platform.answer(Answer::Ok);
        click(w.get(), record);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(platform.boxes[0].text.contains(QStringLiteral("240101080000")));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        QCOMPARE(list->count(), 0);
        QCOMPARE(w->ShownRecordNumber(), QString());
        QVERIFY(!enabled(w.get(), "MnuOpenFile"));
    }

    void sameNameInTwoTypesAndEmptyPath()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addType(QStringLiteral("外科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("同名"),
                          QStringLiteral("/a.doc"));
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("同名"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        QVERIFY(enabled(w.get(), "MnuOpenFile"));
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("外科"))));
        QCOMPARE(field(w.get(), 0), QStringLiteral("外科"));
        QCOMPARE(field(w.get(), 1), QString());
        QVERIFY(testing::child<QPushButton>(w.get(), "picEditFile")->isHidden());
        QVERIFY(!enabled(w.get(), "MnuOpenFile"));
    }

    void duplicateRecordNumbersAreBothShown()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                          QStringLiteral("/a.doc"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("乙"),
                          QStringLiteral("/b.doc"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        QCOMPARE(childTexts(m, type), (QStringList{QStringLiteral("甲"), QStringLiteral("乙")}));
        QCOMPARE(role(m->index(1, 0, type), ArchiveTreeModel::KeyRole), QStringLiteral("240101080000#"));

        click(w.get(), m->index(0, 0, type));
        QCOMPARE(field(w.get(), 1), QStringLiteral("/a.doc"));
        click(w.get(), m->index(1, 0, type));
        QCOMPARE(field(w.get(), 1), QStringLiteral("/b.doc"));
        QCOMPARE(w->recordCaption(), QStringLiteral("乙"));
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(field(w.get(), 1), QStringLiteral("/a.doc"));
        QVERIFY(platform.boxes.isEmpty());
    }

    void splitterRule()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        settings::write(QStringLiteral("Config"), QStringLiteral("Split"), QStringLiteral("2699"));
        auto w = open(archive);
        QCOMPARE(w->splitterLeft(), 2700);
        QTreeView *tree = testing::child<QTreeView>(w.get(), "TreeView");
        QWidget *panel = testing::child<QWidget>(w.get(), "ListView");
        QCOMPARE(tree->width(), 180);
        QCOMPARE(panel->x(), 183);
        QCOMPARE(panel->height(), w->height());

        // Dragging past the left margin stops the bar at 500; the release keeps 2700.
        QWidget *bar = testing::child<QWidget>(w.get(), "SliptBar");
        w->imgSplit_MouseMove(-99999);
        QVERIFY(bar->isHidden());
        w->imgSplit_MouseDown(30);
        QVERIFY(bar->isVisible());
        w->imgSplit_MouseMove(-99999);
        QCOMPARE(w->sliptBarLeft(), 500);
        w->imgSplit_MouseUp(0);
        QVERIFY(bar->isHidden());
        QCOMPARE(w->splitterLeft(), 2700);
        QCOMPARE(settings::read(QStringLiteral("Config"), QStringLiteral("Split")), QStringLiteral("2700"));

        // To the right: bar at inner width − 500, window keeps 2700 on the right.
        const int width = w->width() * 15;
        w->imgSplit_MouseDown(30);
        w->imgSplit_MouseMove(99999);
        QCOMPARE(w->sliptBarLeft(), width - 500);
        w->imgSplit_MouseUp(0);
        QCOMPARE(w->splitterLeft(), width - 2700);
        QCOMPARE(settings::readNumber(QStringLiteral("Config"), QStringLiteral("Split")), double(width - 2700));

        // An ordinary drag lands where the mouse let go.
        w->imgSplit_MouseDown(0);
        w->imgSplit_MouseMove(-3000);
        w->imgSplit_MouseUp(0);
        QCOMPARE(w->splitterLeft(), width - 5700);

        // Narrower than both sides: the tree gets the width less 2700.
        w->resize(300, 400);
        QCOMPARE(w->splitterLeft(), 300 * 15 - 2700);
        // Never smaller than 3000 twips either way.
        w->resize(50, 50);
        QCOMPARE(w->size(), QSize(200, 200));

        // Real mouse on the grab area.
        w->resize(1200, 700);
        QWidget *grab = testing::child<QWidget>(w.get(), "imgSplit");
        QCOMPARE(grab->cursor().shape(), Qt::SplitHCursor);
        QTest::mousePress(grab, Qt::LeftButton, {}, QPoint(2, 100));
        QVERIFY(w->splitterMoving());
        QMouseEvent move(QEvent::MouseMove, QPointF(202, 100), grab->mapToGlobal(QPointF(202, 100)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grab, &move);
        QTest::mouseRelease(grab, Qt::LeftButton, {}, QPoint(202, 100));
        QVERIFY(!w->splitterMoving());
        QCOMPARE(w->splitterLeft(), 2700 + 202 * 15);
    }

    void storedPositionIsPulledBackOnNarrowWindow()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        settings::write(QStringLiteral("Config"), QStringLiteral("Split"), QStringLiteral("15000.5"));
        app::DbPath = archive.path();
        frmManager w;
        QCOMPARE(w.splitterLeft(), 15000);
        w.resize(800, 600);
        w.show();
        QCOMPARE(w.splitterLeft(), 800 * 15 - 2700);
    }

    void photoDoubleClickOpensViewerAndFileOpens()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        const QString p1 = testing::makePicture(archive.folder(), QStringLiteral("a.png"), 40, 30);
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                          QStringLiteral("/文件/甲.doc"), QString(), {p1});
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));

        bool wasViewer = false;
        bool busy = true;
        platform.onModal = [&](QDialog &d) {
            wasViewer = qobject_cast<frmScan *>(&d) != nullptr;
            busy = QApplication::overrideCursor() != nullptr;
            return 0;
        };
        QListWidget *list = w->photoList();
        list->setCurrentRow(0);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(platform.modals.size(), 1);
        QVERIFY(wasViewer);
        QVERIFY(!busy);

        // The attached file's path is a file, opened as one: a missing one opens nothing.
        QTest::mouseClick(testing::child<QPushButton>(w.get(), "picEditFile"), Qt::LeftButton);
        testing::child<QAction>(w.get(), "MnuOpenFile")->trigger();
        QVERIFY(platform.openedFiles.isEmpty());
        QVERIFY(platform.opened.isEmpty());
        platform.openSucceeds = false;
        w->MnuOpenFile_Click(); // a refusal is not reported
        QVERIFY(platform.boxes.isEmpty());
    }

    void attachedFileIsOpenedAsALocalFileOnly()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        QDir(archive.folder()).mkpath(QStringLiteral("病案"));
        QFile doc(archive.folder() + QStringLiteral("/病案/甲.doc"));
        QVERIFY(doc.open(QIODevice::WriteOnly));
        doc.close();
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("相对"), QStringLiteral("病案/甲.doc"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("视窗"), QStringLiteral("D:\\病案\\甲.doc"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("3"), QStringLiteral("网址"), QStringLiteral("www.example.org"));
        const QString before = QDir::currentPath();
        QDir::setCurrent(archive.folder());
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        for (int i = 0; i < 3; ++i) {
            click(w.get(), m->index(i, 0, type));
            w->picEditFile_Click();
        }
        QDir::setCurrent(before);
        // The relative path is taken from the current folder; the others name no file.
        QCOMPARE(platform.openedFiles, QStringList{QFileInfo(doc).absoluteFilePath()});
        QVERIFY(platform.opened.isEmpty()); // never a web browser
        QVERIFY(platform.boxes.isEmpty());
    }

    void openButtonShownAtOpeningUntilTheFirstDetailChange()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("空白路径"), QStringLiteral("   "));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("有路径"), QStringLiteral("/a.doc"));
        auto w = open(archive);
        auto *button = testing::child<QPushButton>(w.get(), "picEditFile");
        QVERIFY(!button->isHidden());
        w->cmdLoad_Click(); // a reload changes no field
        QVERIFY(!button->isHidden());
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        click(w.get(), m->index(0, 0, type)); // a path of blanks only is no file to open
        QVERIFY(button->isHidden());
        QVERIFY(!enabled(w.get(), "MnuOpenFile"));
        click(w.get(), m->index(1, 0, type));
        QVERIFY(!button->isHidden());
        QVERIFY(enabled(w.get(), "MnuOpenFile"));
    }

    void archiveTextsAreShownAsPlainText()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        const QString hidden = QStringLiteral("<font color=#e0e0e0>王五的病案</font>张三");
        const QString picture = QStringLiteral("<img src=\"/x.png\" width=400 height=300>名");
        archive.addType(QStringLiteral("<b>内科</b>"));
        archive.addRecord(QStringLiteral("<b>内科</b>"), QStringLiteral("1"), hidden);
        archive.addRecord(QStringLiteral("<b>内科</b>"), QStringLiteral("2"), picture);
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("<b>内科</b>"));
        QVERIFY(type.isValid());
        auto *caption = testing::child<QLabel>(w.get(), "lblFileCaption");
        QCOMPARE(childTexts(m, type), (QStringList{hidden, picture}));
        click(w.get(), m->index(1, 0, type));
        QCOMPARE(caption->text(), picture);
        QCOMPARE(caption->textFormat(), Qt::PlainText);
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(caption->textFormat(), Qt::PlainText);
        QVERIFY(caption->sizeHint().width() >= caption->fontMetrics().horizontalAdvance(hidden));
        for (QLabel *l : w->findChildren<QLabel *>())
            QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));

        platform.answer(Answer::No);
        w->MnuDeleteFile_Click();
        QCOMPARE(platform.boxes.last().text, QStringLiteral("真的要删除病案［") + hidden + QStringLiteral("］吗？     \r\n [是/否]？     "));
    }

    void vanishedRecordIsToldAndNotOfferedForDeletion()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("乙"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));

        // Gone before the click: the operator is told, and delete is no longer offered.
        archive.exec(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = '1'"));
        platform.answer(Answer::Ok);
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("病案号为 1 的病案已不在档案中，可能已被删除。请刷新仓库。"));
        QVERIFY(!enabled(w.get(), "MnuDeleteFile"));
        QVERIFY(!m_toolbar.value(QStringLiteral("Delete")));
        w->MnuDeleteFile_Click(); // as the toolbar would: nothing to ask about
        QCOMPARE(platform.boxes.size(), 1);

        // Gone between the click and the answer: said so, and the tree shows what is left.
        click(w.get(), m->index(1, 0, type));
        archive.exec(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = '2'"));
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        w->MnuDeleteFile_Click();
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(platform.boxes[2].text, QStringLiteral("病案［乙］已不在档案中，可能已被删除，没有删除任何内容。仓库将重新载入。"));
        QCOMPARE(platform.boxes[2].title, QStringLiteral("提示："));
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 0);
    }

    void aFailedDetailReadOffersNoModifyOrDelete()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("1"), QStringLiteral("甲"), QStringLiteral("/a.doc"),
                          QStringLiteral("说明"), {QStringLiteral("/照片/一.jpg")});
        for (const char *level : {"可以修改", "只能修改"}) {
            app::CurrentAuthority = QString::fromUtf8(level);
            auto w = open(archive);
            ArchiveTreeModel *m = w->treeModel();
            const QModelIndex type = typeNode(m, QStringLiteral("内科"));
            // The photos cannot be read: the record is not on show whole.
            archive.exec(QStringLiteral("ALTER TABLE photo RENAME TO photo_away"));
            platform.answer(Answer::Ok);
            click(w.get(), m->index(0, 0, type));
            QCOMPARE(platform.boxes.size(), 1);
            QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
            QCOMPARE(field(w.get(), 0), QString());
            QCOMPARE(field(w.get(), 2), QString());
            QVERIFY(!enabled(w.get(), "MnuModifyFile"));
            QVERIFY(!enabled(w.get(), "MnuDeleteFile"));
            QVERIFY(!m_toolbar.value(QStringLiteral("Modify")));
            QVERIFY(!m_toolbar.value(QStringLiteral("Delete")));
            // As the toolbar runs them: nothing opens, nothing is asked.
            w->MnuModifyFile_Click();
            w->MnuDeleteFile_Click();
            QVERIFY(platform.modals.isEmpty());
            QCOMPARE(platform.boxes.size(), 1);

            // Read whole on the next click: offered again.
            archive.exec(QStringLiteral("ALTER TABLE photo_away RENAME TO photo"));
            click(w.get(), m->index(0, 0, type));
            QCOMPARE(field(w.get(), 2), QStringLiteral("说明"));
            QVERIFY(enabled(w.get(), "MnuModifyFile"));
            QVERIFY(m_toolbar.value(QStringLiteral("Modify")));
            platform.boxes.clear();
            w->close();
        }
    }

    void popupMenuAndRootImages()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        QMenu *menu = testing::child<QMenu>(w.get(), "MnuControl");
        QCOMPARE(menu->title(), QStringLiteral("操作中心"));
        QStringList items;
        for (QAction *a : menu->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + QLatin1Char(' ') + a->text() + QLatin1Char(' ') + a->shortcut().toString());
        QCOMPARE(items, (QStringList{QStringLiteral("MnuSearchFile &S 查询档案 Ctrl+S"), QStringLiteral("-"),
                                     QStringLiteral("MnuRefresh &R 刷新仓库 Ctrl+F"), QStringLiteral("-"),
                                     QStringLiteral("MnuFolder &C 目录管理 Ctrl+C"), QStringLiteral("-"),
                                     QStringLiteral("MnuAddFile &A 添加档案 Ctrl+N"),
                                     QStringLiteral("MnuModifyFile &M 修改档案 Ctrl+L"),
                                     QStringLiteral("MnuDeleteFile &D 删除档案 Ctrl+D"), QStringLiteral("-"),
                                     QStringLiteral("MnuOpenFile &E 打开档案关联的文件 Ctrl+O"),
                                     QStringLiteral("MnuPrintRecord &P 打印病案... "),
                                     QStringLiteral("MnuRecordHistory &H 历史记录... "), QStringLiteral("-"),
                                     QStringLiteral("MnuBackup &B 备份档案... "),
                                     QStringLiteral("MnuHistory &J 操作历史... "),
                                     QStringLiteral("MnuRecycleBin &G 回收站... ")}));
        QCOMPARE(testing::child<QAction>(w.get(), "MnuExit")->text(), QStringLiteral("退出系统(&X)"));

        // The right button shows the menu and leaves the last clicked node alone.
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        click(w.get(), type);
        QTreeView *tree = testing::child<QTreeView>(w.get(), "TreeView");
        QTest::mousePress(tree->viewport(), Qt::RightButton, {}, tree->visualRect(m->index(0, 0, type)).center());
        QVERIFY(menu->isVisible());
        menu->close();
        QCOMPARE(w->recordCaption(), QStringLiteral("内科"));
        QCOMPARE(tree->currentIndex(), type);

        tree->collapse(m->rootIndex());
        QCOMPARE(role(m->rootIndex(), ArchiveTreeModel::ImageKeyRole), QStringLiteral("SClosed2"));
        tree->expand(m->rootIndex());
        QCOMPARE(role(m->rootIndex(), ArchiveTreeModel::ImageKeyRole), QStringLiteral("Open2"));
        w->cmdLoad_Click();
        QCOMPARE(role(m->rootIndex(), ArchiveTreeModel::ImageKeyRole), QStringLiteral("Open"));
    }

    void failuresLeaveTheWindowUsable()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir empty;
        app::DbPath = empty.filePath(QStringLiteral("missing.dat"));
        platform.answer(Answer::Ok);
        frmManager w;
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        QVERIFY(!platform.boxes[0].text.isEmpty());
        QVERIFY(!m_toolbar.value(QStringLiteral("Search"))); // later load steps skipped
        QCOMPARE(w.treeModel()->rowCount(), 1);
        QCOMPARE(w.treeModel()->typeCount(), 0);
        QVERIFY(app::BrowserLoaded);

        // A reload asked for later fails the same way, without throwing.
        platform.answer(Answer::Ok);
        w.cmdLoad_Click();
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[1].title, QStringLiteral("错误提示"));
    }

    void unloadEndsTheProgramOnce()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        auto w = open(archive);
        m_toolbar[QStringLiteral("Modify")] = true;
        m_toolbar[QStringLiteral("Delete")] = true;
        QVERIFY(app::BrowserLoaded);
        testing::child<QAction>(w.get(), "MnuExit")->trigger(); // the browser is its own window here
        QCOMPARE(m_endings, 1);
        QVERIFY(!app::BrowserLoaded);
        QVERIFY(!m_toolbar.value(QStringLiteral("Modify")));
        QVERIFY(!m_toolbar.value(QStringLiteral("Delete")));
        w->close();
        w.reset();
        QCOMPARE(m_endings, 1);

        auto other = open(archive);
        QVERIFY(app::BrowserLoaded);
        other.reset();
        QVERIFY(!app::BrowserLoaded);
    }

    void screenshot()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        for (const char *t : {"外科", "儿科", "内科", "骨科", "眼科"})
            archive.addType(QString::fromUtf8(t));
        const QString p1 = testing::makePicture(archive.folder(), QStringLiteral("术前.png"), 40, 30);
        const QString p2 = testing::makePicture(archive.folder(), QStringLiteral("术后.png"), 40, 30);
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240315093012"), QStringLiteral("阑尾切除术 张三"),
                          QStringLiteral("/home/病案/2024/阑尾切除术记录.doc"),
                          QStringLiteral("急性阑尾炎，腹腔镜下切除。\n术后恢复良好，七日出院。"), {p1, p2});
        archive.addRecord(QStringLiteral("外科"), QStringLiteral("240316101500"), QStringLiteral("胆囊切除术 李四"));
        archive.addRecord(QStringLiteral("儿科"), QStringLiteral("240317080000"), QStringLiteral("小儿肺炎 王五"));
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("外科"))));
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmManager")));
    }
};

QTEST_MAIN(TestBrowser)
#include "tst_frmManager.moc"
