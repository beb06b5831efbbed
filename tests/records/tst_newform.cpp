// The window that adds records: as drawn, saving with and without photos, the numbers it
// gives, the type box, the question on closing, failures of the store, and the browser's
// command that opens it.
#include "NewFormFixture.h"

#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "store/Settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::tabChain;

namespace {

// Every label and button shows its whole caption, the frame its whole number, every
// control lies inside the frame and no two controls overlap.
void verifyCaptionsWhole(QDialog *w)
{
    auto *frame = testing::child<QGroupBox>(w, QStringLiteral("Frame1"));
    QVERIFY(w->rect().contains(frame->geometry()));
    QVERIFY2(frame->fontMetrics().horizontalAdvance(frame->title()) + 16 <= frame->width(), qPrintable(frame->title()));
    const QList<QWidget *> controls = frame->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(controls.size() >= 14);
    for (QWidget *c : controls) {
        if (!c->isVisibleTo(w))
            continue;
        QVERIFY2(frame->contentsRect().contains(c->geometry()), qPrintable(c->objectName()));
        if (auto *l = qobject_cast<QLabel *>(c)) {
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->fontMetrics().height(),
                     qPrintable(l->text()));
        } else if (auto *b = qobject_cast<QPushButton *>(c)) {
            const QFontMetrics fm = b->fontMetrics();
            if (b->objectName() == QLatin1String("Command2")) {
                // "删除该项" in two lines of two characters.
                QVERIFY(b->width() >= fm.horizontalAdvance(QStringLiteral("删除")) + 4);
                QVERIFY(b->height() >= 2 * fm.height() + 4);
            } else {
                QVERIFY2(fm.horizontalAdvance(b->text()) + 4 <= b->width(), qPrintable(b->text()));
                QVERIFY2(fm.height() <= b->height(), qPrintable(b->text()));
            }
        }
        for (QWidget *other : controls) {
            if (other == c || !other->isVisibleTo(w))
                continue;
            QVERIFY2(!c->geometry().intersects(other->geometry()),
                     qPrintable(c->objectName() + QStringLiteral(" overlaps ") + other->objectName()));
        }
    }
}

} // namespace

class TestNewForm : public testing::NewFormFixture {
    Q_OBJECT

private slots:
    void windowAsDrawn()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->objectName(), QStringLiteral("frmNewForm"));
        QCOMPARE(w->windowTitle(), QStringLiteral("添加新病案记录"));
        QCOMPARE(w->Frame1->title(), QStringLiteral("病案记录号：240305140709"));
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));
        const char *labels[][2] = {{"lblLabels(0)", "病案名称:"}, {"lblLabels(1)", "路径名称:"},
                                   {"lblLabels(2)", "文件说明:"}, {"lblLabels(3)", "手术照片:"},
                                   {"lblLabels(7)", "病案类别:"}};
        for (auto &l : labels)
            QCOMPARE(testing::child<QLabel>(w.get(), QLatin1String(l[0]))->text(), QString::fromUtf8(l[1]));
        const char *buttons[][2] = {{"SaveAdd", "保存记录"}, {"ExitB", "关闭返回"}, {"picEditFile", "..."},
                                    {"Command1", "..."}, {"Command2", "删除该项"}};
        for (auto &b : buttons)
            QCOMPARE(testing::child<QPushButton>(w.get(), QLatin1String(b[0]))->text(), QString::fromUtf8(b[1]));

        // The types of Catalog in the order stored; nothing chosen; the box takes any text.
        QCOMPARE(w->Combo1->count(), 2);
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("外科"));
        QCOMPARE(w->Combo1->itemText(1), QStringLiteral("内科"));
        QCOMPARE(w->Combo1->currentText(), QString());
        QVERIFY(w->Combo1->isEditable());
        QVERIFY(!w->recordDirty());
        QVERIFY(!w->recordSaved());

        QCOMPARE(QApplication::focusWidget(), w->txtFields[0]);
        QCOMPARE(tabChain(w->Command1, 11),
                 (QStringList{"Command1", "picEditFile", "List1", "Combo1", "txtFields(0)", "txtFields(1)",
                              "txtFields(2)", "ExitB", "SaveAdd", "Command2", "Command1"}));

        // Client area 7650 × 4620 twips at least, fixed.
        QVERIFY(w->width() >= 510 && w->height() >= 308);
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmNewForm")));
        verifyCaptionsWhole(w.get());
        QVERIFY(platform.boxes.isEmpty());
    }

    void saveWithPhotosThenTheNextRecord()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        settings::write(QStringLiteral("Config"), QStringLiteral("Add"), QStringLiteral("/start/here.doc"));

        type(w.get(), 0, QStringLiteral("胆囊切除"));
        platform.answerFile(QStringLiteral("/病案/胆囊.doc"));
        QTest::mouseClick(w->picEditFile, Qt::LeftButton);
        QCOMPARE(lineField(w.get(), 1)->text(), QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(QApplication::focusWidget(), w->txtFields[2]);
        type(w.get(), 2, QStringLiteral("第一行\n第二行"));
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w->List1);
        platform.answerFile(QStringLiteral("/照片/二.bmp"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        w->Combo1->setCurrentIndex(1);

        // Both dialogs: title, filter in the toolkit's form, start from the last chosen file.
        QCOMPARE(platform.fileRequests.size(), 3);
        QCOMPARE(platform.fileRequests[0].caption, QStringLiteral("请选择文件"));
        QCOMPARE(platform.fileRequests[0].filter, QStringLiteral("所有文件(*.*) (*)"));
        QCOMPARE(platform.fileRequests[0].initialFile, QStringLiteral("/start/here.doc"));
        QCOMPARE(platform.fileRequests[1].caption, QStringLiteral("请选择文件"));
        QCOMPARE(platform.fileRequests[1].filter, QStringLiteral("*.jpg;;*.bmp"));
        QCOMPARE(platform.fileRequests[1].initialFile, QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(platform.fileRequests[2].initialFile, QStringLiteral("/照片/一.jpg"));
        QCOMPARE(settings::read(QStringLiteral("Config"), QStringLiteral("Add")), QStringLiteral("/照片/二.bmp"));

        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        const auto rows = recordsOf(QStringLiteral("240305140709"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].typeName, QStringLiteral("内科"));
        QCOMPARE(rows[0].name, QStringLiteral("胆囊切除"));
        QCOMPARE(rows[0].path, QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(rows[0].description, QStringLiteral("第一行\n第二行"));
        QCOMPARE(photosOf(QStringLiteral("240305140709")),
                 (QStringList{QStringLiteral("/照片/一.jpg"), QStringLiteral("/照片/二.bmp")}));

        // Ready for the next record: empty fields and list, same type, a new number, the
        // focus in the name, and nothing to ask about.
        QCOMPARE(lineField(w.get(), 0)->text(), QString());
        QCOMPARE(lineField(w.get(), 1)->text(), QString());
        QCOMPARE(description(w.get())->toPlainText(), QString());
        QCOMPARE(w->List1->count(), 0);
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("内科"));
        QCOMPARE(QApplication::focusWidget(), w->txtFields[0]);
        QVERIFY(!w->recordDirty());
        QVERIFY(w->recordSaved());
        QVERIFY(w->isVisible());

        // A record without photos writes its Detail row only.
        // The number was made right after the save, in the same second; time passes.
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));
        m_now = m_now.addSecs(65);
        type(w.get(), 0, QStringLiteral("阑尾炎"));
        type(w.get(), 1, QStringLiteral("/病案/阑尾.doc"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        // The number on show was taken: the next free second.
        QCOMPARE(recordsOf(QStringLiteral("240305140710")).size(), 1);
        QCOMPARE(photosOf(QStringLiteral("240305140710")), QStringList());
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140814"));
        QCOMPARE(count(QStringLiteral("Detail")), 2);
        QCOMPARE(count(QStringLiteral("photo")), 2);

        // Closing asks nothing, stores the position and reloads the browser once.
        w->move(150, 90);
        QTest::mouseClick(w->ExitB, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(m_reloads, 1);
        QCOMPARE(settings::read(QStringLiteral("AddNew"), QStringLiteral("Left")), QString::number(w->pos().x() * 15));
        QCOMPARE(settings::read(QStringLiteral("AddNew"), QStringLiteral("Top")), QString::number(w->pos().y() * 15));
    }

    void blankFieldsAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        QTest::newRow("name") << QStringLiteral("   ") << QStringLiteral("/a.doc") << QStringLiteral("外科");
        QTest::newRow("path") << QStringLiteral("甲") << QStringLiteral(" ") << QStringLiteral("外科");
        QTest::newRow("type") << QStringLiteral("甲") << QStringLiteral("/a.doc") << QStringLiteral("  ");
    }

    void blankFieldsAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(QString, kind);
        testing::ScriptedPlatform platform;
        auto w = open();
        type(w.get(), 0, name);
        type(w.get(), 1, path);
        w->Combo1->setEditText(kind);
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, kBlank);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Information);
        QCOMPARE(count(QStringLiteral("Detail")), 0);
        QCOMPARE(lineField(w.get(), 0)->text(), name);
        QCOMPARE(lineField(w.get(), 1)->text(), path);
        QVERIFY(w->recordDirty());
        QVERIFY(!w->recordSaved());
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));

        // Closing: No discards, no reload.
        platform.answer(Answer::No);
        w->close();
        QVERIFY(!w->isVisible());
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(m_reloads, 0);
    }

    void yesToTheClosingQuestionWithABlankName()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        type(w.get(), 1, QStringLiteral("/病案/无名.doc"));
        type(w.get(), 2, QStringLiteral("说明"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        QTest::keyClick(w.get(), Qt::Key_Escape); // the cancel button's key
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("有添加记录，需要保存码？(Y/N)"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("未保存"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].icon, Icon::Question);
        QCOMPARE(platform.boxes[1].text, kBlank);
        QVERIFY(!w->isVisible()); // closes all the same
        QCOMPARE(count(QStringLiteral("Detail")), 0);
        QCOMPARE(m_reloads, 0);
    }

    void yesToTheClosingQuestionSaves()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        platform.answer(Answer::Yes);
        w->close();
        QVERIFY(!w->isVisible());
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(count(QStringLiteral("Detail"), QStringLiteral("\"病案号\" = '240305140709'")), 1);
        QCOMPARE(m_reloads, 1);
    }

    void twoSavesWithinOneSecondGetTwoNumbers()
    {
        testing::ScriptedPlatform platform;
        // A record of an earlier session already holds the second the window opens in.
        m_now = QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("231231235958"), QStringLiteral("旧"),
                             QStringLiteral("/old.doc"), QString(), {QStringLiteral("/old.jpg")});
        auto w = open();
        QCOMPARE(w->recordNumber(), QStringLiteral("231231235958"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        const QString names[3] = {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙")};
        const QString expected[3] = {QStringLiteral("231231235959"), QStringLiteral("240101000000"),
                                     QStringLiteral("240101000001")};
        for (int i = 0; i < 3; ++i) {
            type(w.get(), 0, names[i]);
            type(w.get(), 1, QStringLiteral("/%1.doc").arg(i));
            platform.answerFile(QStringLiteral("/%1.jpg").arg(i));
            w->Command1_Click();
            QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
            QVERIFY(platform.boxes.isEmpty());
            // The clock has not moved: the window shows the same second again.
            QCOMPARE(w->recordNumber(), QStringLiteral("231231235958"));
            const auto rows = recordsOf(expected[i]);
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0].name, names[i]);
            QCOMPARE(photosOf(expected[i]), QStringList{QStringLiteral("/%1.jpg").arg(i)});
        }
        // Nothing lost, no number twice, the earlier record untouched.
        QCOMPARE(count(QStringLiteral("Detail")), 4);
        QCOMPARE(count(QStringLiteral("photo")), 4);
        {
            store::Connection c(m_archive->path());
            QSqlQuery q = c.run(QStringLiteral("SELECT count(DISTINCT \"病案号\") FROM Detail"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 4);
        }
        QCOMPARE(photosOf(QStringLiteral("231231235958")), QStringList{QStringLiteral("/old.jpg")});
        QCOMPARE(recordsOf(QStringLiteral("231231235958")).value(0).name, QStringLiteral("旧"));

        // The caption shows the number a record is saved under: seen here where the save
        // then fails, so that the window keeps showing it.
        m_archive->failWrites(QStringLiteral("no_photos"), QStringLiteral("BEFORE INSERT ON photo"),
                              QStringLiteral("no photos"));
        type(w.get(), 0, QStringLiteral("丁"));
        type(w.get(), 1, QStringLiteral("/3.doc"));
        platform.answerFile(QStringLiteral("/3.jpg"));
        w->Command1_Click();
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(w->recordNumber(), QStringLiteral("240101000002"));
        QCOMPARE(count(QStringLiteral("Detail")), 4);
        m_archive->allowWrites(QStringLiteral("no_photos"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(recordsOf(QStringLiteral("240101000002")).value(0).name, QStringLiteral("丁"));
        QCOMPARE(w->recordNumber(), QStringLiteral("231231235958"));

        QCOMPARE(frmNewForm::numberAfter(QStringLiteral("240228235959")), QStringLiteral("240229000000"));
        QCOMPARE(frmNewForm::numberAfter(QStringLiteral("991231235959")), QStringLiteral("000101000000"));
        QCOMPARE(frmNewForm::numberAfter(QStringLiteral("24013")), QString());
    }

    void theTypeIsTrimmedAndAlwaysOneTheTreeShows()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        // A listed type with a blank more: stored as listed, the list unchanged.
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        w->Combo1->setEditText(QStringLiteral("外科 "));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(recordsOf(QStringLiteral("240305140709")).value(0).typeName, QStringLiteral("外科"));
        QCOMPARE(count(QStringLiteral("Catalog")), 2);

        // A typed type the list lacks joins it with the record; a photo path with an
        // apostrophe is stored as typed.
        m_now = m_now.addSecs(1);
        type(w.get(), 0, QStringLiteral("病例"));
        type(w.get(), 1, QStringLiteral("/b.doc"));
        w->Combo1->setEditText(QStringLiteral("  眼科"));
        platform.answerFile(QStringLiteral("/照片/it's.jpg"));
        w->Command1_Click();
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        const auto rows = recordsOf(QStringLiteral("240305140710"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].typeName, QStringLiteral("眼科"));
        QCOMPARE(photosOf(QStringLiteral("240305140710")), QStringList{QStringLiteral("/照片/it's.jpg")});
        {
            store::Connection c(m_archive->path());
            QCOMPARE(store::readTypes(c), (QStringList{QStringLiteral("外科"), QStringLiteral("内科"), QStringLiteral("眼科")}));
        }
        // The window offers it from now on, and keeps it for the next record.
        QCOMPARE(w->Combo1->count(), 3);
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("眼科"));

        // The tree shows both records under their types.
        {
            frmManager browser;
            ArchiveTreeModel *m = browser.treeModel();
            QCOMPARE(testing::childTexts(m, testing::typeNode(m, QStringLiteral("外科"))), QStringList{QStringLiteral("甲")});
            QCOMPARE(testing::childTexts(m, testing::typeNode(m, QStringLiteral("眼科"))), QStringList{QStringLiteral("病例")});
        }

        // A type with an apostrophe can never be listed: refused, nothing written, the
        // window as typed, the focus in the type box.
        m_now = m_now.addSecs(1);
        type(w.get(), 0, QStringLiteral("丙"));
        type(w.get(), 1, QStringLiteral("/c.doc"));
        w->Combo1->setEditText(QStringLiteral("O'Neil 专科"));
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, kApostrophe);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QCOMPARE(count(QStringLiteral("Detail")), 2);
        QCOMPARE(count(QStringLiteral("Catalog")), 3);
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("丙"));
        QCOMPARE(QApplication::focusWidget(), w->Combo1);

        // Closing with Yes then keeps the window open as well: the record would be lost.
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        w->close();
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(platform.boxes[2].text, kApostrophe);
        QVERIFY(w->isVisible());
        w->Combo1->setEditText(QStringLiteral("内科"));
        platform.answer(Answer::Yes);
        w->close();
        QVERIFY(!w->isVisible());
        QCOMPARE(recordsOf(QStringLiteral("240305140711")).value(0).typeName, QStringLiteral("内科"));
    }

    void aStoreFailureOnClosingKeepsTheWindowAsTyped()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        type(w.get(), 2, QStringLiteral("说明"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        m_archive->failWrites(QStringLiteral("locked"), QStringLiteral("BEFORE INSERT ON Detail"),
                              QStringLiteral("database is locked"));
        platform.answer(Answer::Yes);
        platform.answer(Answer::Ok);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("未保存"));
        QCOMPARE(platform.boxes[1].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[1].icon, Icon::Critical);
        QVERIFY2(platform.boxes[1].text.contains(QStringLiteral("database is locked")), qPrintable(platform.boxes[1].text));
        QVERIFY(w->isVisible());
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("甲"));
        QCOMPARE(description(w.get())->toPlainText(), QStringLiteral("说明"));
        QCOMPARE(count(QStringLiteral("Detail")), 0);
        QCOMPARE(m_reloads, 0);

        // Asked again on the next close; now the save goes through and the window closes.
        m_archive->allowWrites(QStringLiteral("locked"));
        platform.answer(Answer::Yes);
        QTest::mouseClick(w->ExitB, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 3);
        QVERIFY(!w->isVisible());
        QCOMPARE(recordsOf(QStringLiteral("240305140709")).value(0).description, QStringLiteral("说明"));
        QCOMPARE(m_reloads, 1);
    }

    void photoRowsWithoutARecordMoveTheNumberOn()
    {
        testing::ScriptedPlatform platform;
        // What a type deletion leaves: photo rows under a number no record carries.
        m_archive->exec(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES (?, ?)"),
                        {QStringLiteral("240305140709"), QStringLiteral("/照片/旧.jpg")});
        auto w = open();
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        platform.answerFile(QStringLiteral("/照片/新.jpg"));
        w->Command1_Click();
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        QVERIFY(recordsOf(QStringLiteral("240305140709")).isEmpty());
        QCOMPARE(recordsOf(QStringLiteral("240305140710")).value(0).name, QStringLiteral("甲"));
        QCOMPARE(photosOf(QStringLiteral("240305140710")), QStringList{QStringLiteral("/照片/新.jpg")});
        QCOMPARE(photosOf(QStringLiteral("240305140709")), QStringList{QStringLiteral("/照片/旧.jpg")});
    }

    void aFailingSaveIsRolledBack()
    {
        testing::ScriptedPlatform platform;
        m_archive->failWrites(QStringLiteral("no_photos"), QStringLiteral("BEFORE INSERT ON photo"),
                              QStringLiteral("照片表已锁定"));
        auto w = open();
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        type(w.get(), 2, QStringLiteral("说明"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        w->Command1_Click();
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY2(platform.boxes[0].text.contains(QStringLiteral("照片表已锁定")), qPrintable(platform.boxes[0].text));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        // Nothing written, the window open with the fields as typed.
        QCOMPARE(count(QStringLiteral("Detail")), 0);
        QCOMPARE(count(QStringLiteral("photo")), 0);
        QVERIFY(w->isVisible());
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("甲"));
        QCOMPARE(lineField(w.get(), 1)->text(), QStringLiteral("/a.doc"));
        QCOMPARE(description(w.get())->toPlainText(), QStringLiteral("说明"));
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));
        QVERIFY(!w->recordSaved());

        // Once the store takes it, the same record saves.
        m_archive->allowWrites(QStringLiteral("no_photos"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(count(QStringLiteral("Detail")), 1);
        QCOMPARE(count(QStringLiteral("photo")), 1);
    }

    void anUnreadableArchiveStillOpensTheWindow()
    {
        testing::ScriptedPlatform platform;
        app::DbPath = m_archive->folder() + QStringLiteral("/missing.dat");
        auto w = open();
        QCOMPARE(w->Combo1->count(), 0);
        QCOMPARE(w->recordNumber(), QStringLiteral("240305140709"));
        QVERIFY(platform.boxes.isEmpty());
        // Saving then reports the store's failure and keeps the record.
        type(w.get(), 0, QStringLiteral("甲"));
        type(w.get(), 1, QStringLiteral("/a.doc"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        platform.answer(Answer::Ok);
        w->SaveAdd_Click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("甲"));
        platform.answer(Answer::No);
        w->close();
    }

    void windowsFiltersInTheToolkitsForm()
    {
        QCOMPARE(platform::qtFilter(QStringLiteral("*.jpg|*.jpg|*.bmp|*.bmp")), QStringLiteral("*.jpg;;*.bmp"));
        QCOMPARE(platform::qtFilter(QStringLiteral("所有文件(*.*)|*.*|")), QStringLiteral("所有文件(*.*) (*)"));
        QCOMPARE(platform::qtFilter(QStringLiteral("图片|*.jpg;*.png|文档(*.doc)|*.doc")),
                 QStringLiteral("图片 (*.jpg *.png);;文档(*.doc)"));
        QCOMPARE(platform::qtFilter(QString()), QString());
    }

    void theBrowsersAddCommandOpensTheWindowAndReloads()
    {
        testing::ScriptedPlatform platform;
        app::setBrowserReloadTarget({});
        app::BrowserLoaded = false;
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::setEndProgramHook([] {});
        frmManager browser;
        browser.resize(900, 600);
        browser.show();
        QCOMPARE(browser.treeModel()->rowCount(browser.treeModel()->typeIndex(0)), 0);
        platform.onModal = [&](QDialog &d) {
            auto &w = dynamic_cast<frmNewForm &>(d);
            d.show();
            w.txtName->setText(QStringLiteral("新病案"));
            w.txtPath->setText(QStringLiteral("/新.doc"));
            w.Combo1->setEditText(QStringLiteral("外科"));
            w.SaveAdd_Click();
            d.close();
            return d.result();
        };
        browser.MnuAddFile_Click();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmNewForm")});
        QVERIFY(platform.boxes.isEmpty());
        ArchiveTreeModel *m = browser.treeModel();
        QModelIndex surgery;
        for (int i = 0; i < m->typeCount(); ++i)
            if (m->text(m->typeIndex(i)) == QStringLiteral("外科"))
                surgery = m->typeIndex(i);
        QCOMPARE(m->rowCount(surgery), 1);
        QCOMPARE(m->text(m->index(0, 0, surgery)), QStringLiteral("新病案"));
        QVERIFY(!QApplication::overrideCursor());

        // Closed without a save: no reload.
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101000000"), QStringLiteral("后加"));
        platform.onModal = [](QDialog &d) {
            d.show();
            d.close();
            return d.result();
        };
        browser.MnuAddFile_Click();
        QCOMPARE(m->rowCount(surgery), 1);
        browser.close();
        app::setEndProgramHook({});
    }
};

QTEST_MAIN(TestNewForm)
#include "tst_newform.moc"
