#include "TestSupport.h"

#include "pictures/SelectFile.h"

#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "records/frmNewForm.h"
#include "store/Settings.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::tabChain;

namespace {

const QString kBlank = QStringLiteral("病案名称、路径、类别均不能空，且不能重复,请检查!");
const QString kApostrophe = QStringLiteral("该项目之中有特殊字符<'>,请删除。");

QLineEdit *lineField(QWidget *w, int i) { return testing::child<QLineEdit>(w, QStringLiteral("txtFields(%1)").arg(i)); }
QPlainTextEdit *description(QWidget *w) { return testing::child<QPlainTextEdit>(w, QStringLiteral("txtFields(2)")); }

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

class TestNewForm : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    QDateTime m_now;
    int m_reloads = 0;

    std::unique_ptr<frmNewForm> open()
    {
        auto w = std::make_unique<frmNewForm>();
        w->show();
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("window not active");
        return w;
    }

    // Text as the operator would put it in: the field has the focus while it changes.
    void type(frmNewForm *w, int field, const QString &text)
    {
        w->txtFields[field]->setFocus(Qt::MouseFocusReason);
        if (field == 2)
            description(w)->insertPlainText(text);
        else
            lineField(w, field)->insert(text);
    }

    int count(const QString &table, const QString &where = QString(), const QVariantList &values = {})
    {
        return m_archive->count(table, where, values);
    }

    QStringList photosOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readPhotos(c, number);
    }

    QVector<store::RecordRow> recordsOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readRecord(c, number);
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        testing::isolateSettings();
        m_archive = std::make_unique<testing::TempArchive>();
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("内科"));
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        m_now = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
        frmNewForm::Now = [this] { return m_now; };
        m_reloads = 0;
        app::BrowserLoaded = true;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
    }

    void cleanup()
    {
        app::setBrowserReloadTarget({});
        app::setEndProgramHook({});
        app::BrowserLoaded = false;
        frmNewForm::Now = [] { return QDateTime::currentDateTime(); };
    }

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

    void photoPickedThroughThePreviewChooser()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir photos;
        const QString picture = testing::makePicture(photos.path(), QStringLiteral("术中.png"), 64, 48);
        settings::write(QStringLiteral("Config"), QStringLiteral("Add"), photos.filePath(QStringLiteral("earlier.jpg")));
        auto w = open();
        platform.onModal = [&](QDialog &d) {
            auto *chooser = qobject_cast<SelectFile *>(&d);
            if (!chooser)
                return int(QDialog::Rejected);
            // The chooser starts in the folder of the last photo chosen.
            chooser->File1_Click(QStringLiteral("术中.png"));
            QTest::mouseClick(testing::child<QPushButton>(chooser, QStringLiteral("Command1")), Qt::LeftButton);
            return chooser->result();
        };
        auto *item = testing::child<QAction>(w.get(), QStringLiteral("MnuPreviewPhoto"));
        QCOMPARE(item->text(), QStringLiteral("用图片选择器添加(&P)..."));
        QVERIFY(w->List1->actions().contains(item));
        item->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("SelectFile")});
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(w->List1->item(0)->text(), picture);
        QCOMPARE(settings::read(QStringLiteral("Config"), QStringLiteral("Add")), picture);
        // Cancelled: nothing added.
        platform.onModal = [](QDialog &) { return int(QDialog::Rejected); };
        item->trigger();
        QCOMPARE(w->List1->count(), 1);
    }

    void photosAloneDoNotMakeTheCloseAsk()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        platform.answerFile(QStringLiteral("/照片/二.jpg"));
        w->Command1_Click();
        w->Command1_Click();
        w->Combo1->setEditText(QStringLiteral("外科"));
        QCOMPARE(w->List1->count(), 2);

        // Removing needs a selected entry.
        w->List1->clearSelection();
        w->List1->setCurrentRow(-1);
        w->Command2_Click();
        QCOMPARE(w->List1->count(), 2);
        w->List1->setCurrentRow(0);
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(w->List1->item(0)->text(), QStringLiteral("/照片/二.jpg"));

        // A cancelled dialog changes nothing and leaves the focus on the list.
        platform.answerFile(QString());
        w->Command1_Click();
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(QApplication::focusWidget(), w->List1);

        QVERIFY(!w->recordDirty());
        w->close(); // an unexpected question would fail the test
        QVERIFY(!w->isVisible());
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(m_reloads, 0);
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

    void aChosenPathIsKeptWholeAndTypingIsLimited()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QString longPath = QStringLiteral("/档案/");
        while (longPath.size() < 116)
            longPath += QStringLiteral("子目录/");
        longPath = longPath.left(116) + QStringLiteral(".doc");
        QCOMPARE(longPath.size(), 120);

        platform.answerFile(longPath);
        lineField(w.get(), 1)->setFocus();
        QTest::keyClick(lineField(w.get(), 1), Qt::Key_Return); // Enter in the path opens the dialog
        QCOMPARE(platform.fileRequests.size(), 1);
        QCOMPARE(lineField(w.get(), 1)->text(), longPath);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[2]);

        // Typing cannot lengthen it, but may edit it.
        QLineEdit *path = lineField(w.get(), 1);
        path->setFocus();
        path->end(false);
        QTest::keyClick(path, Qt::Key_X);
        QCOMPARE(path->text(), longPath);
        QTest::keyClick(path, Qt::Key_Backspace);
        QCOMPARE(path->text(), longPath.left(119));
        QTest::keyClick(path, Qt::Key_C);
        QCOMPARE(path->text(), longPath.left(119));

        // Saved whole: a new choice replaces the edited text.
        platform.answerFile(longPath);
        QTest::mouseDClick(path, Qt::LeftButton); // so does a double click
        QCOMPARE(path->text(), longPath);
        type(w.get(), 0, QStringLiteral("长路径"));
        w->Combo1->setEditText(QStringLiteral("外科"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(recordsOf(QStringLiteral("240305140709")).value(0).path, longPath);

        // The typing limits: 50, 50 and 100 characters.
        QLineEdit *name = lineField(w.get(), 0);
        name->setFocus();
        QTest::keyClicks(name, QString(60, QLatin1Char('a')));
        QCOMPARE(name->text(), QString(50, QLatin1Char('a')));
        path->setFocus();
        QTest::keyClicks(path, QString(55, QLatin1Char('b')));
        QCOMPARE(path->text(), QString(50, QLatin1Char('b')));
        QPlainTextEdit *text = description(w.get());
        text->setFocus();
        QTest::keyClicks(text, QString(98, QLatin1Char('c')));
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClicks(text, QStringLiteral("dd"));
        QCOMPARE(text->toPlainText(), QString(98, QLatin1Char('c')) + QStringLiteral("\nd"));
        QTest::keyClick(text, Qt::Key_Backspace);
        QTest::keyClick(text, Qt::Key_E);
        QCOMPARE(text->toPlainText().size(), 100);
        QVERIFY(text->toPlainText().endsWith(QStringLiteral("\ne")));
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

    void aCurrentButUnselectedPhotoIsNotRemoved()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        w->Command1_Click();
        w->List1->clearSelection();
        // Tabbing into the list makes an entry current without selecting it.
        w->List1->selectionModel()->setCurrentIndex(w->List1->model()->index(0, 0), QItemSelectionModel::NoUpdate);
        QCOMPARE(w->List1->currentRow(), 0);
        QVERIFY(w->List1->selectedItems().isEmpty());
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->List1->count(), 1);
    }

    void theChooserKeepsFilesThatRecordsName()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir photos;
        const QString photo = testing::makePicture(photos.path(), QStringLiteral("术中.png"), 8, 8);
        const QString attached = testing::makePicture(photos.path(), QStringLiteral("附件.png"), 8, 8);
        const QString loose = testing::makePicture(photos.path(), QStringLiteral("多余.png"), 8, 8);
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("胆囊切除"), attached,
                             QString(), {photo});
        QStringList removed;
        pictures::setFileRemover([&](const QString &path) {
            removed << path;
            return QFile::remove(path);
        });
        settings::write(QStringLiteral("Config"), QStringLiteral("Add"), loose);
        auto w = open();
        // In the chooser: try to delete a file, answer the boxes the test queued.
        auto tryDelete = [&](const QString &file) {
            platform.onModal = [&, file](QDialog &d) {
                auto *chooser = qobject_cast<SelectFile *>(&d);
                testing::child<QLineEdit>(chooser, QStringLiteral("Text1"))->setText(file);
                testing::child<QAction>(chooser, QStringLiteral("DelFile"))->trigger();
                return int(QDialog::Rejected);
            };
            w->MnuPreviewPhoto_Click();
        };

        platform.answer(Answer::Ok);
        tryDelete(photo);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("该文件是病案［胆囊切除］（病案号 240101080000）的手术照片，不能删除。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        platform.answer(Answer::Ok);
        tryDelete(attached);
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[1].text, QStringLiteral("该文件是病案［胆囊切除］（病案号 240101080000）的关联文件，不能删除。"));
        QVERIFY(removed.isEmpty());
        QVERIFY(QFile::exists(photo) && QFile::exists(attached));

        // A file no record names is asked about and deleted as ever.
        platform.answer(Answer::Yes);
        tryDelete(loose);
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(platform.boxes[2].title, QStringLiteral("删除文件"));
        QCOMPARE(removed, QStringList{loose});

        // Those who may only add records are not offered the command at all.
        app::CurrentAuthority = QStringLiteral("只能添加");
        bool menuShown = true;
        platform.onModal = [&](QDialog &d) {
            auto *chooser = qobject_cast<SelectFile *>(&d);
            testing::child<QLineEdit>(chooser, QStringLiteral("Text1"))->setText(attached);
            chooser->File1_ContextMenu(QPoint(2, 2));
            menuShown = testing::child<QMenu>(chooser, QStringLiteral("MenuEdit"))->isVisible();
            chooser->DelFile_Click();
            return int(QDialog::Rejected);
        };
        w->MnuPreviewPhoto_Click();
        QVERIFY(!menuShown);
        QCOMPARE(platform.boxes.size(), 3);
        QVERIFY(QFile::exists(attached));
        app::CurrentAuthority = QStringLiteral("超级权限");
        pictures::setFileRemover({});
    }

    void focusedFieldColoursAndSelection()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        const QColor blue(0, 0, 255);
        auto back = [](QWidget *f) { return f->palette().color(QPalette::Base); };
        auto fore = [](QWidget *f) { return f->palette().color(QPalette::Text); };

        QLineEdit *name = lineField(w.get(), 0);
        name->setText(QStringLiteral("胆囊 切除   "));
        w->txtFields[1]->setFocus(Qt::TabFocusReason);
        QCOMPARE(back(name), QColor(Qt::white));
        QCOMPARE(fore(name), QColor(Qt::black));
        QCOMPARE(back(w->txtFields[1]), blue);
        QCOMPARE(fore(w->txtFields[1]), QColor(Qt::white));

        name->setFocus(Qt::TabFocusReason);
        QCOMPARE(back(name), blue);
        QCOMPARE(fore(name), QColor(Qt::white));
        QCOMPARE(back(w->txtFields[1]), QColor(Qt::white));
        // The selection starts at the first character, as long as the trimmed text.
        QCOMPARE(name->selectionStart(), 0);
        QCOMPARE(name->selectedText(), QStringLiteral("胆囊 切除"));

        QPlainTextEdit *text = description(w.get());
        text->setPlainText(QStringLiteral("  两行\n说明  "));
        text->setFocus(Qt::MouseFocusReason);
        QCOMPARE(back(text), blue);
        QCOMPARE(text->textCursor().selectionStart(), 0);
        QCOMPARE(text->textCursor().selectedText().size(), QStringLiteral("两行\n说明").size());
        w->Combo1->setFocus(Qt::TabFocusReason);
        QCOMPARE(back(text), QColor(Qt::white));
        QCOMPARE(fore(text), QColor(Qt::black));
    }

    void apostropheMessageSendsTheFocusBack()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QLineEdit *name = lineField(w.get(), 0);
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("O'Brien"));
        platform.answer(Answer::Ok);
        QTest::keyClick(name, Qt::Key_Tab);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, kApostrophe);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QCOMPARE(QApplication::focusWidget(), name);
        QCOMPARE(name->palette().color(QPalette::Base), QColor(0, 0, 255));

        // Two fields with an apostrophe: the second is tested when it is left itself, and
        // the focus never bounces between them.
        lineField(w.get(), 1)->setText(QStringLiteral("/it's.doc"));
        platform.answer(Answer::Ok);
        w->txtFields[1]->setFocus(Qt::MouseFocusReason);
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(QApplication::focusWidget(), name);
        QCOMPARE(w->txtFields[1]->palette().color(QPalette::Base), QColor(Qt::white));

        // Description too; the type box is never tested.
        name->setText(QStringLiteral("OBrien"));
        lineField(w.get(), 1)->setText(QStringLiteral("/a.doc"));
        description(w.get())->setFocus();
        description(w.get())->insertPlainText(QStringLiteral("a'b"));
        platform.answer(Answer::Ok);
        w->Combo1->setFocus(Qt::MouseFocusReason);
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(QApplication::focusWidget(), w->txtFields[2]);
        description(w.get())->setPlainText(QStringLiteral("ab"));
        w->Combo1->setFocus(Qt::MouseFocusReason);
        w->Combo1->setEditText(QStringLiteral("a'b"));
        w->List1->setFocus(Qt::MouseFocusReason);
        QCOMPARE(platform.boxes.size(), 3);
    }

    void arrowKeysAndEnter()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QWidget *const *f = w->txtFields;
        f[0]->setFocus();
        QTest::keyClick(f[0], Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), f[1]);
        QTest::keyClick(f[1], Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), f[0]);
        QTest::keyClick(f[0], Qt::Key_Up); // nothing above the name
        QCOMPARE(QApplication::focusWidget(), f[0]);
        QTest::keyClick(f[0], Qt::Key_Return); // as Tab: to the path
        QCOMPARE(QApplication::focusWidget(), f[1]);
        QTest::keyClick(f[1], Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), f[2]);
        // The description keeps its arrows and its line breaks.
        QTest::keyClicks(f[2], QStringLiteral("ab"));
        QTest::keyClick(f[2], Qt::Key_Return);
        QTest::keyClicks(f[2], QStringLiteral("cd"));
        QTest::keyClick(f[2], Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), f[2]);
        QCOMPARE(description(w.get())->toPlainText(), QStringLiteral("ab\ncd"));
        QVERIFY(w->isVisible());

        // Enter in the path: a cancelled dialog leaves the focus in an empty path, or moves
        // it on to the description when there is a path.
        f[1]->setFocus();
        platform.answerFile(QString());
        QTest::keyClick(f[1], Qt::Key_Enter);
        QCOMPARE(QApplication::focusWidget(), f[1]);
        lineField(w.get(), 1)->setText(QStringLiteral("/typed.doc"));
        platform.answerFile(QString());
        QTest::keyClick(f[1], Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), f[2]);
        QCOMPARE(lineField(w.get(), 1)->text(), QStringLiteral("/typed.doc"));
        QCOMPARE(platform.fileRequests.size(), 2);
        QVERIFY(platform.boxes.isEmpty());

        // No button is the default: Enter in the type box or the list does nothing; Enter
        // on a button presses it.
        w->Combo1->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        w->List1->setFocus();
        QTest::keyClick(w->List1, Qt::Key_Enter);
        QVERIFY(w->isVisible());
        QVERIFY(platform.boxes.isEmpty());
        w->SaveAdd->setFocus();
        platform.answer(Answer::Ok);
        QTest::keyClick(w->SaveAdd, Qt::Key_Return);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, kBlank);
        platform.answer(Answer::No); // the typed path and description are discarded
        w->ExitB->setFocus();
        QTest::keyClick(w->ExitB, Qt::Key_Return);
        QVERIFY(!w->isVisible());
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
