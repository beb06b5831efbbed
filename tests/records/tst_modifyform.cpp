#include "TestSupport.h"

#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "records/frmModifyForm.h"
#include "trail/History.h"
#include "store/Settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::tabChain;

namespace {

const QString kNumber = QStringLiteral("240101080000");

QLineEdit *lineField(QWidget *w, int i) { return testing::child<QLineEdit>(w, QStringLiteral("txtFields(%1)").arg(i)); }
QPlainTextEdit *description(QWidget *w) { return testing::child<QPlainTextEdit>(w, QStringLiteral("txtFields(2)")); }

QStringList items(QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}


} // namespace

class TestModifyForm : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<frmManager> m_browser;
    QString m_photoA, m_photoB;

    frmManager *browser()
    {
        if (!m_browser) {
            app::DbPath = m_archive->path();
            m_browser = std::make_unique<frmManager>();
            m_browser->resize(1000, 650);
            m_browser->show();
        }
        return m_browser.get();
    }

    // A left click on the record of a type at a position, as the operator makes it.
    void clickRecord(const QString &type, int row)
    {
        ArchiveTreeModel *m = browser()->treeModel();
        for (int i = 0; i < m->typeCount(); ++i) {
            const QModelIndex t = m->typeIndex(i);
            if (m->text(t) == type) {
                browser()->TreeView_NodeClick(m->index(row, 0, t));
                return;
            }
        }
        QFAIL("no such type");
    }

    std::unique_ptr<frmModifyForm> open()
    {
        auto w = std::make_unique<frmModifyForm>(browser());
        w->show();
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("window not active");
        return w;
    }

    QVector<store::RecordRow> recordsOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readRecord(c, number);
    }

    QStringList photosOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readPhotos(c, number);
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        testing::isolateSettings();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        app::setEndProgramHook([] {});
        m_archive = std::make_unique<testing::TempArchive>();
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("内科"));
        m_photoA = QStringLiteral("/照片/一.jpg");
        m_photoB = QStringLiteral("/照片/二.bmp");
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("胆囊切除"), QStringLiteral("/病案/胆囊.doc"),
                             QStringLiteral("第一行\n第二行"), {m_photoA, m_photoB});
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("240101090000"), QStringLiteral("肺炎"),
                             QStringLiteral("/病案/肺炎.doc"));
        app::DbPath = m_archive->path();
    }

    void cleanup()
    {
        if (m_browser)
            m_browser->close();
        m_browser.reset();
        app::setEndProgramHook({});
    }

    void windowAsDrawnAndFilledFromTheBrowser()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        QCOMPARE(w->objectName(), QStringLiteral("frmModifyForm"));
        QCOMPARE(w->windowTitle(), QStringLiteral("修改病案记录"));
        QCOMPARE(w->Frame1->title(), QStringLiteral("病案记录号：") + kNumber);
        QCOMPARE(w->recordNumber(), kNumber);
        QCOMPARE(w->SaveAdd->text(), QStringLiteral("修改记录"));
        QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("ExitB")));
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("胆囊切除"));
        QCOMPARE(lineField(w.get(), 1)->text(), QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(description(w.get())->toPlainText(), QStringLiteral("第一行\n第二行"));
        QCOMPARE(items(w->List1), (QStringList{m_photoA, m_photoB}));
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("外科"));
        QCOMPARE(w->Combo1->count(), 2);
        QCOMPARE(w->Combo1->itemText(1), QStringLiteral("内科"));
        QCOMPARE(w->rowId(), browser()->shownRowId());
        QVERIFY(w->rowId() != 0);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[0]);
        QCOMPARE(tabChain(w->Command2, 10),
                 (QStringList{"Command2", "SaveAdd", "txtFields(2)", "txtFields(1)", "txtFields(0)", "Combo1",
                              "List1", "picEditFile", "Command1", "Command2"}));
        for (const char *l : {"lblLabels(0)", "lblLabels(1)", "lblLabels(2)", "lblLabels(3)", "lblLabels(7)"})
            QVERIFY(testing::child<QLabel>(w.get(), QLatin1String(l)));

        // Client area 7890 × 4860 twips at least; every caption whole, nothing overlapping.
        QVERIFY(w->width() >= 526 && w->height() >= 324);
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QGroupBox *frame = w->Frame1;
        QVERIFY(w->rect().contains(frame->geometry()));
        QVERIFY(frame->fontMetrics().horizontalAdvance(frame->title()) + 16 <= frame->width());
        const QList<QWidget *> controls = frame->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget *c : controls) {
            QVERIFY2(frame->contentsRect().contains(c->geometry()), qPrintable(c->objectName()));
            if (auto *l = qobject_cast<QLabel *>(c))
                QVERIFY(l->width() >= l->sizeHint().width());
            if (auto *b = qobject_cast<QPushButton *>(c); b && b != w->Command2)
                QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 4 <= b->width(), qPrintable(b->text()));
            for (QWidget *other : controls)
                QVERIFY2(other == c || !c->geometry().intersects(other->geometry()),
                         qPrintable(c->objectName() + QStringLiteral(" overlaps ") + other->objectName()));
        }
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmModifyForm")));
        QVERIFY(platform.boxes.isEmpty());
    }

    void modificationKeepsTheNumber()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        const qint64 rowId = browser()->shownRowId();
        auto w = open();
        lineField(w.get(), 0)->setText(QStringLiteral("胆囊切除术后"));
        platform.answerFile(QStringLiteral("/病案/新胆囊.pdf"));
        w->picEditFile_Click();
        description(w.get())->setPlainText(QStringLiteral("改过的说明"));
        platform.answerFile(QStringLiteral("/照片/三.jpg"));
        w->Command1_Click();
        QCOMPARE(platform.fileRequests[0].filter, QStringLiteral("所有文件(*.*) (*)"));
        QCOMPARE(platform.fileRequests[1].filter, QStringLiteral("*.jpg;;*.bmp"));
        QCOMPARE(platform.fileRequests[1].initialFile, QStringLiteral("/病案/新胆囊.pdf"));
        QCOMPARE(platform.fileRequests[1].caption, QStringLiteral("请选择文件"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Accepted));

        const auto rows = recordsOf(kNumber);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].rowId, rowId); // replaced in place
        QCOMPARE(rows[0].typeName, QStringLiteral("外科"));
        QCOMPARE(rows[0].name, QStringLiteral("胆囊切除术后"));
        QCOMPARE(rows[0].path, QStringLiteral("/病案/新胆囊.pdf"));
        QCOMPARE(rows[0].description, QStringLiteral("改过的说明"));
        QCOMPARE(photosOf(kNumber), (QStringList{m_photoA, m_photoB, QStringLiteral("/照片/三.jpg")}));
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 2);
        QCOMPARE(settings::read(QStringLiteral("Config"), QStringLiteral("Add")), QStringLiteral("/照片/三.jpg"));
        // The window stores no position.
        QCOMPARE(settings::read(QStringLiteral("AddNew"), QStringLiteral("Left")), QString());

        // A second modification from the browser before any reload still reaches the row.
        auto again = open();
        QCOMPARE(again->rowId(), rowId);
        QTest::mouseClick(again->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(kNumber).size(), 1);
        QCOMPARE(recordsOf(kNumber).value(0).rowId, rowId);
    }

    void savingWithoutAChangeRewritesTheSame()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        const auto before = recordsOf(kNumber);
        auto w = open();
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        const auto after = recordsOf(kNumber);
        QCOMPARE(after.size(), 1);
        QCOMPARE(after[0].rowId, before[0].rowId);
        QCOMPARE(after[0].name, before[0].name);
        QCOMPARE(after[0].path, before[0].path);
        QCOMPARE(after[0].description, before[0].description);
        QCOMPARE(after[0].typeName, before[0].typeName);
        QCOMPARE(photosOf(kNumber), (QStringList{m_photoA, m_photoB}));
        // The record keeps its place in the tree.
        browser()->cmdLoad_Click();
        clickRecord(QStringLiteral("外科"), 0);
        QCOMPARE(browser()->recordCaption(), QStringLiteral("胆囊切除"));
    }

    void removingEveryPhoto()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        while (w->List1->count() > 0) {
            w->List1->setCurrentRow(0);
            QTest::mouseClick(w->Command2, Qt::LeftButton);
        }
        w->Command2_Click(); // an empty list: nothing to remove
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(photosOf(kNumber), QStringList());
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 0);
        QCOMPARE(recordsOf(kNumber).size(), 1);
    }

    void movingARecordToAnotherType()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("内科")));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(kNumber).value(0).typeName, QStringLiteral("内科"));
        browser()->cmdLoad_Click();
        ArchiveTreeModel *m = browser()->treeModel();
        for (int i = 0; i < m->typeCount(); ++i) {
            const QModelIndex t = m->typeIndex(i);
            QCOMPARE(m->rowCount(t), m->text(t) == QStringLiteral("内科") ? 2 : 0);
        }

        // A type is stored trimmed, as the list holds it: the record stays in its node.
        clickRecord(QStringLiteral("内科"), 0);
        auto blank = open();
        const QString moved = blank->recordNumber();
        blank->Combo1->setEditText(QStringLiteral(" 外科  "));
        QTest::mouseClick(blank->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(recordsOf(moved).value(0).typeName, QStringLiteral("外科"));
        QCOMPARE(m_archive->count(QStringLiteral("Catalog")), 2);

        // A typed type that the list lacks joins it with the record, so the tree shows the
        // record; a photo path with an apostrophe is stored as typed.
        clickRecord(QStringLiteral("外科"), 0);
        auto typed = open();
        typed->Combo1->setEditText(QStringLiteral("眼科 "));
        platform.answerFile(QStringLiteral("/照片/it's.jpg"));
        typed->Command1_Click();
        QTest::mouseClick(typed->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        const QString number = typed->recordNumber();
        QCOMPARE(recordsOf(number).value(0).typeName, QStringLiteral("眼科"));
        QCOMPARE(photosOf(number).last(), QStringLiteral("/照片/it's.jpg"));
        {
            store::Connection c(m_archive->path());
            QCOMPARE(store::readTypes(c), (QStringList{QStringLiteral("外科"), QStringLiteral("内科"), QStringLiteral("眼科")}));
        }
        browser()->cmdLoad_Click();
        const QModelIndex eye = testing::typeNode(m, QStringLiteral("眼科"));
        QVERIFY(eye.isValid());
        QCOMPARE(testing::childTexts(m, eye), QStringList{recordsOf(number).value(0).name});

        // One with an apostrophe can never be listed: refused, nothing written.
        clickRecord(QStringLiteral("眼科"), 0);
        auto quoted = open();
        quoted->Combo1->setEditText(QStringLiteral("O'Neil 专科"));
        lineField(quoted.get(), 0)->setText(QStringLiteral("改名"));
        platform.answer(Answer::Ok);
        QTest::mouseClick(quoted->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("该项目之中有特殊字符<'>,请删除。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QVERIFY(quoted->isVisible());
        QCOMPARE(recordsOf(number).value(0).typeName, QStringLiteral("眼科"));
        QVERIFY(recordsOf(number).value(0).name != QStringLiteral("改名"));
        QCOMPARE(m_archive->count(QStringLiteral("Catalog")), 3);
    }

    void aRecordDeletedMeanwhileIsNotBroughtBack()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        // Another workstation deletes the record while the window is open.
        m_archive->exec(QStringLiteral("DELETE FROM Detail WHERE \"病案号\" = ?"), {kNumber});
        m_archive->exec(QStringLiteral("DELETE FROM photo WHERE \"病案号\" = ?"), {kNumber});
        lineField(w.get(), 0)->setText(QStringLiteral("胆囊切除术后"));
        platform.answer(Answer::No);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("病案号为 240101080000 的病案已不在档案中，可能已被删除。\r\n"
                                                        "要把所填的内容作为该病案重新保存吗？(Y/N)"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("确认"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].icon, Icon::Question);
        QCOMPARE(platform.boxes[0].defaultButton, Answer::No);
        // Nothing back, the window open as typed.
        QVERIFY(recordsOf(kNumber).isEmpty());
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 0);
        QVERIFY(w->isVisible());
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("胆囊切除术后"));
        QCOMPARE(items(w->List1), (QStringList{m_photoA, m_photoB}));

        // Asked for explicitly: saved again under its number, with its photos.
        platform.answer(Answer::Yes);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 2);
        QVERIFY(!w->isVisible());
        const auto rows = recordsOf(kNumber);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, QStringLiteral("胆囊切除术后"));
        QCOMPARE(rows[0].typeName, QStringLiteral("外科"));
        QCOMPARE(photosOf(kNumber), (QStringList{m_photoA, m_photoB}));
        // The trail calls it an addition: of the row written now, as it was written.
        store::Connection c(m_archive->path());
        const QVector<store::HistoryEntry> entries = store::readRecordHistory(c, kNumber, rows[0].rowId);
        QVERIFY(!entries.isEmpty());
        QCOMPARE(entries[0].change.kind, store::ChangeKind::RecordAdded);
        QCOMPARE(entries[0].change.rowId, rows[0].rowId);
        QVERIFY(entries[0].change.after && *entries[0].change.after == *store::readRecordState(c, rows[0].rowId));
    }

    void lineBreaksAreStoredAsTypedOrRead()
    {
        testing::ScriptedPlatform platform;
        const QString number = QStringLiteral("240101100000");
        const QString read = QStringLiteral("第一行\r\n第二行\r\n\r\n第四行\u00a0完");
        m_archive->addRecord(QStringLiteral("内科"), number, QStringLiteral("换行"), QStringLiteral("/病案/换行.doc"), read);
        clickRecord(QStringLiteral("内科"), 1);
        QCOMPARE(browser()->fieldText(2), read);
        auto w = open();
        // Saved unchanged: byte for byte.
        lineField(w.get(), 0)->setText(QStringLiteral("换行二"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(recordsOf(number).value(0).description, read);

        // Edited: the record's own line breaks for the new line too.
        m_archive->exec(QStringLiteral("UPDATE Detail SET \"文件说明\" = ? WHERE \"病案号\" = ?"),
                        {QStringLiteral("第一行\r\n第二行\r\n\r\n第四行"), number});
        browser()->cmdLoad_Click();
        clickRecord(QStringLiteral("内科"), 1);
        auto edited = open();
        QPlainTextEdit *text = description(edited.get());
        text->setFocus(); // selects the text, as arriving in the field does
        text->moveCursor(QTextCursor::End);
        QTest::keyClick(text, Qt::Key_Return);
        text->insertPlainText(QStringLiteral("加"));
        QTest::mouseClick(edited->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(number).value(0).description,
                 QStringLiteral("第一行\r\n第二行\r\n\r\n第四行\r\n加"));

        // A description typed here keeps the line break typed.
        clickRecord(QStringLiteral("外科"), 0);
        auto typed = open();
        description(typed.get())->setPlainText(QStringLiteral("甲\n乙"));
        QTest::mouseClick(typed->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(kNumber).value(0).description, QStringLiteral("甲\n乙"));
    }

    void aDuplicatedNumberModifiesOneRecordOnly()
    {
        testing::ScriptedPlatform platform;
        // Two records of the earlier system made in one second; they share their photos.
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("同号乙"), QStringLiteral("/病案/乙.doc"),
                             QStringLiteral("乙的说明"), {QStringLiteral("/照片/乙.jpg")});
        clickRecord(QStringLiteral("外科"), 1);
        QCOMPARE(browser()->recordCaption(), QStringLiteral("同号乙"));
        const auto before = recordsOf(kNumber);
        QCOMPARE(before.size(), 2);
        auto w = open();
        QCOMPARE(lineField(w.get(), 1)->text(), QStringLiteral("/病案/乙.doc"));
        QCOMPARE(w->rowId(), before[1].rowId);
        // Both records show every photo of the number.
        QCOMPARE(items(w->List1), (QStringList{m_photoA, m_photoB, QStringLiteral("/照片/乙.jpg")}));
        lineField(w.get(), 0)->setText(QStringLiteral("同号丙"));
        w->List1->setCurrentRow(0);
        w->Command2_Click();
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());

        const auto after = recordsOf(kNumber);
        QCOMPARE(after.size(), 2);
        // The other record is whole.
        QCOMPARE(after[0].rowId, before[0].rowId);
        QCOMPARE(after[0].name, QStringLiteral("胆囊切除"));
        QCOMPARE(after[0].path, QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(after[0].description, QStringLiteral("第一行\n第二行"));
        // The modified one replaced in place.
        QCOMPARE(after[1].rowId, before[1].rowId);
        QCOMPARE(after[1].name, QStringLiteral("同号丙"));
        QCOMPARE(after[1].path, QStringLiteral("/病案/乙.doc"));
        // The shared list as edited.
        QCOMPARE(photosOf(kNumber), (QStringList{m_photoB, QStringLiteral("/照片/乙.jpg")}));

        // And the first one, from the browser's own menu.
        clickRecord(QStringLiteral("外科"), 0);
        QString shownName;
        platform.onModal = [&](QDialog &d) {
            auto &form = dynamic_cast<frmModifyForm &>(d);
            d.show();
            shownName = form.txtName->text();
            form.txtPath->setText(QStringLiteral("/病案/甲.doc"));
            form.SaveAdd_Click();
            return d.result();
        };
        browser()->MnuModifyFile_Click();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmModifyForm")});
        QCOMPARE(shownName, QStringLiteral("胆囊切除"));
        const auto last = recordsOf(kNumber);
        QCOMPARE(last.size(), 2);
        QCOMPARE(last[0].path, QStringLiteral("/病案/甲.doc"));
        QCOMPARE(last[1].name, QStringLiteral("同号丙"));
        QVERIFY(!QApplication::overrideCursor());

        // Should the browser's row have gone while two rows keep the number, the window
        // cannot tell which to replace: it says so and changes nothing.
        auto stale = open();
        m_archive->exec(QStringLiteral("UPDATE Detail SET rowid = rowid + 100 WHERE rowid = ?"), {stale->rowId()});
        platform.answer(Answer::Ok);
        QTest::mouseClick(stale->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QVERIFY(stale->isVisible());
        QCOMPARE(recordsOf(kNumber).size(), 2);
    }

    void aFailingSaveIsRolledBack()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        const auto before = recordsOf(kNumber);
        m_archive->failWrites(QStringLiteral("no_photos"), QStringLiteral("BEFORE INSERT ON photo"),
                              QStringLiteral("照片表已锁定"));
        auto w = open();
        lineField(w.get(), 0)->setText(QStringLiteral("新名称"));
        w->Combo1->setEditText(QStringLiteral("内科"));
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(platform.boxes[0].text.contains(QStringLiteral("照片表已锁定")));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        // The window open as typed; the old record and its photos intact.
        QVERIFY(w->isVisible());
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("新名称"));
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("内科"));
        QCOMPARE(items(w->List1), (QStringList{m_photoA, m_photoB}));
        const auto after = recordsOf(kNumber);
        QCOMPARE(after.size(), 1);
        QCOMPARE(after[0].rowId, before[0].rowId);
        QCOMPARE(after[0].name, QStringLiteral("胆囊切除"));
        QCOMPARE(after[0].typeName, QStringLiteral("外科"));
        QCOMPARE(photosOf(kNumber), (QStringList{m_photoA, m_photoB}));

        m_archive->allowWrites(QStringLiteral("no_photos"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(!w->isVisible());
        QCOMPARE(recordsOf(kNumber).value(0).name, QStringLiteral("新名称"));
    }

    void blankFieldsAreRefused()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        lineField(w.get(), 1)->setText(QStringLiteral("   "));
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("病案名称、路径、类别均不能空，且不能重复,请检查!"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("病案名有错误"));
        QCOMPARE(platform.boxes[0].icon, Icon::Information);
        QVERIFY(w->isVisible());
        QCOMPARE(recordsOf(kNumber).value(0).path, QStringLiteral("/病案/胆囊.doc"));
    }

    void escapeDoesNothingAndTheCloseBoxDiscards()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        lineField(w.get(), 0)->setText(QStringLiteral("不存"));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QTest::keyClick(lineField(w.get(), 0), Qt::Key_Escape);
        QVERIFY(w->isVisible());
        w->close(); // the title-bar close box
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(recordsOf(kNumber).value(0).name, QStringLiteral("胆囊切除"));
    }

    void fieldBehaviourAsInTheNewRecordWindow()
    {
        testing::ScriptedPlatform platform;
        clickRecord(QStringLiteral("外科"), 0);
        auto w = open();
        QLineEdit *name = lineField(w.get(), 0);
        // Focus colours and the trimmed selection.
        QCOMPARE(name->palette().color(QPalette::Base), QColor(0, 0, 255));
        QCOMPARE(name->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(name->selectedText(), QStringLiteral("胆囊切除"));
        // Enter in the name moves on as Tab would: to the type box here.
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(w->Combo1->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == w->Combo1);
        QCOMPARE(name->palette().color(QPalette::Base), QColor(Qt::white));
        // Arrows between the one-line fields.
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[1]);
        QTest::keyClick(w->txtFields[1], Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[0]);
        // The apostrophe test.
        name->setText(QStringLiteral("O'Brien"));
        platform.answer(Answer::Ok);
        w->txtFields[2]->setFocus(Qt::MouseFocusReason);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("该项目之中有特殊字符<'>,请删除。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[0]);
        name->setText(QStringLiteral("OBrien"));
        // A double click on the path opens the file dialog.
        platform.answerFile(QString());
        QTest::mouseDClick(lineField(w.get(), 1), Qt::LeftButton);
        QCOMPARE(platform.fileRequests.size(), 1);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[2]); // cancelled, with a path there
    }


    void aLongPathFromTheArchiveIsKeptWhole()
    {
        testing::ScriptedPlatform platform;
        const QString longPath = QStringLiteral("/档案/") + QString(114, QLatin1Char('x')) + QStringLiteral(".doc");
        QCOMPARE(longPath.size(), 122);
        const QString longText = QString(150, QChar(0x5b57));
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("240101100000"), QStringLiteral("长"), longPath,
                             longText);
        clickRecord(QStringLiteral("内科"), 1);
        auto w = open();
        QCOMPARE(lineField(w.get(), 1)->text(), longPath);
        QCOMPARE(description(w.get())->toPlainText(), longText);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(QStringLiteral("240101100000")).value(0).path, longPath);
        QCOMPARE(recordsOf(QStringLiteral("240101100000")).value(0).description, longText);
    }

    void theModifyCommandNeedsARecord()
    {
        testing::ScriptedPlatform platform;
        browser()->MnuModifyFile_Click(); // nothing clicked yet
        ArchiveTreeModel *m = browser()->treeModel();
        browser()->TreeView_NodeClick(m->typeIndex(0));
        browser()->MnuModifyFile_Click(); // a type
        QVERIFY(platform.modals.isEmpty());

        // A window opened without a browser has nothing to save.
        frmModifyForm empty(nullptr);
        QCOMPARE(empty.recordNumber(), QString());
        QVERIFY(!empty.SaveAdd->isEnabled());
    }
};

QTEST_MAIN(TestModifyForm)
#include "tst_modifyform.moc"
