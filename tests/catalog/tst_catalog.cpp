#include "TempArchive.h"
#include "ScriptedPlatform.h"

#include "app/Main.h"
#include "app/frmMain.h"
#include "catalog/frmCatalog.h"
#include "common/Module1.h"
#include "platform/Twips.h"
#include "records/frmManager.h"
#include "trail/RecycleBin.h"
#include "store/Settings.h"

#include <QEnterEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

const QString kOnlyAdd = QStringLiteral("只能添加");
const QString kNoModify = QStringLiteral("不能修改");

const QString kAddCaption = QStringLiteral("请输入新的病案类型");
const QString kRenameCaption = QStringLiteral("输入修改的病案类型");
const QString kApostrophe = QStringLiteral("该项目之中有特殊字符<'>,请删除。");
const QString kDuplicate = QStringLiteral("该病案类型已经存在，请重新列入。    ");
const QString kModifyNothing = QStringLiteral("请先选择一个病案类型，然后按修改按钮。     ");
const QString kDeleteNothing = QStringLiteral("请先选择一个病案类型，然后按删除按钮。     ");

QString deleteQuestion(const QString &type)
{
    return QStringLiteral("真的要删除[") + type + QStringLiteral("]类型,及其所有文件吗？（Y/N）    ");
}

QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

} // namespace

class TestCatalog : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    std::unique_ptr<testing::ScriptedPlatform> m_platform;
    QStringList m_hints;
    int m_reloads = 0;

    std::unique_ptr<frmCatalog> open()
    {
        auto w = std::make_unique<frmCatalog>();
        w->show();
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            QTest::qFail("record type window not active", __FILE__, __LINE__);
        return w;
    }

    // The database as it stands, read by the test itself.
    QStringList typesInArchive()
    {
        store::Connection c(m_archive->path());
        return store::readTypes(c);
    }
    int recordsOfType(const QString &type)
    {
        // Exactly, not letter-case blind: a rename must write the new spelling.
        // Exactly that name: the file's column compares without case unless told otherwise.
        return m_archive->count(QStringLiteral("Detail"),
                                testing::onServer() ? QStringLiteral("type_Name = ?")
                                                    : QStringLiteral("type_Name = ? COLLATE BINARY"),
                                {type});
    }

    static void clickItem(frmCatalog &w, const QString &text)
    {
        const QList<QListWidgetItem *> found = w.ListView1->findItems(text, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(text));
        const QRect r = w.ListView1->visualItemRect(found.first());
        QVERIFY(!r.isEmpty());
        QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }

    static void compareBox(const testing::RecordedBox &b, const QString &text, const QString &title,
                           Buttons buttons, Icon icon)
    {
        QCOMPARE(b.text, text);
        QCOMPARE(b.title, title);
        QCOMPARE(b.buttons, buttons);
        QCOMPARE(b.icon, icon);
    }

    static void verifyIdle(frmCatalog &w, bool mayChange = true)
    {
        QVERIFY(!w.AddPicture->isVisible());
        QVERIFY(w.AddB->isEnabled());
        QCOMPARE(w.cmdModify->isEnabled(), mayChange);
        QCOMPARE(w.DeleteB->isEnabled(), mayChange);
        QVERIFY(w.ExitB->isEnabled());
        QVERIFY(!w.SaveRecord->isEnabled());
        QVERIFY(w.NewTypeName->text().isEmpty());
        QVERIFY(w.ListView1->isVisible());
    }

    static void verifyEntry(frmCatalog &w, const QString &caption)
    {
        QVERIFY(w.AddPicture->isVisible());
        QCOMPARE(w.Label1->text(), caption);
        QVERIFY(!w.AddB->isEnabled());
        QVERIFY(!w.cmdModify->isEnabled());
        QVERIFY(!w.DeleteB->isEnabled());
        QVERIFY(!w.ExitB->isEnabled());
        QCOMPARE(w.SaveRecord->isEnabled(), !w.NewTypeName->text().trimmed().isEmpty());
        QVERIFY(w.ListView1->isVisible());
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        testing::isolateSettings();
        m_archive = std::make_unique<testing::TempArchive>();
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::BrowserLoaded = false;
        m_reloads = 0;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
        m_hints.clear();
        app::setHintTarget([this](const QString &t) { m_hints << t; });
        m_platform = std::make_unique<testing::ScriptedPlatform>();
    }

    void cleanup()
    {
        // Emptied first, so that no answer is left for the next test whatever fails here.
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        app::setBrowserReloadTarget({});
        app::setHintTarget({});
        app::BrowserLoaded = false;
        m_archive.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }

    // ---------------------------------------------------------------- the window

    void windowAsDrawn()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        m_archive->addType(QStringLiteral("内科手术病案"));
        auto w = open();
        QCOMPARE(w->objectName(), QStringLiteral("frmCatalog"));
        QCOMPARE(w->windowTitle(), QStringLiteral("病案类型维护"));
        QVERIFY(qobject_cast<QDialog *>(w.get()));
        QVERIFY(w->width() >= platform::tw(7845) && w->height() >= platform::tw(5070));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));

        struct Expected {
            QPushButton *button;
            const char *name;
            const char *caption;
            int top;
        };
        const Expected buttons[] = {{w->AddB, "AddB", "添 加(&A)", 210},
                                    {w->cmdModify, "cmdModify", "修 改(&M)", 540},
                                    {w->DeleteB, "DeleteB", "删 除(&D)", 870},
                                    {w->ExitB, "ExitB", "关 闭(&C)", 1200}};
        for (const Expected &e : buttons) {
            QCOMPARE(e.button->objectName(), QString::fromUtf8(e.name));
            QCOMPARE(e.button->text(), QString::fromUtf8(e.caption));
            QCOMPARE(e.button->pos(), QPoint(platform::tw(5955), platform::tw(e.top)));
            QVERIFY(e.button->width() >= platform::tw(1575));
            QVERIFY2(e.button->sizeHint().width() <= e.button->width()
                         && e.button->fontMetrics().height() + 4 <= e.button->height(),
                     e.name);
        }
        // Edge to edge, none covering the next.
        QVERIFY(w->AddB->geometry().bottom() < w->cmdModify->y());
        QVERIFY(w->cmdModify->geometry().bottom() < w->DeleteB->y());
        QVERIFY(w->DeleteB->geometry().bottom() < w->ExitB->y());
        QCOMPARE(w->ListView1->objectName(), QStringLiteral("ListView1"));
        QCOMPARE(w->ListView1->geometry().topLeft(), QPoint(platform::tw(60), platform::tw(60)));
        QVERIFY(w->ListView1->width() >= platform::tw(5685) && w->ListView1->height() >= platform::tw(4965));
        QCOMPARE(w->ListView1->viewMode(), QListView::IconMode);
        QCOMPARE(w->ListView1->iconSize(), QSize(32, 32));
        QCOMPARE(w->ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(w->ListView1->movement(), QListView::Static);
        QVERIFY(!w->ListView1->dragEnabled());

        // Image "Top" of a hidden picture, on every item.
        QVERIFY(!w->Picture1->isVisible());
        QVERIFY(!w->image(QStringLiteral("Top")).isNull());
        QCOMPARE(w->Picture1->pixmap().size(), QSize(32, 32));
        QCOMPARE(itemTexts(w->ListView1),
                 (QStringList{QStringLiteral("外科"), QStringLiteral("儿科"), QStringLiteral("内科手术病案")}));
        for (int i = 0; i < w->ListView1->count(); ++i) {
            QListWidgetItem *item = w->ListView1->item(i);
            QVERIFY(!item->icon().isNull());
            QCOMPARE(item->data(Qt::UserRole).toString(), item->text()); // the key
        }

        // The entry panel: hidden, its captions and places.
        QCOMPARE(w->AddPicture->objectName(), QStringLiteral("AddPicture"));
        QVERIFY(!w->AddPicture->isVisible());
        QCOMPARE(w->AddPicture->pos(), QPoint(platform::tw(5745), platform::tw(1605)));
        QCOMPARE(w->Label1->text(), kAddCaption);
        QCOMPARE(w->Label1->palette().color(QPalette::WindowText), QColor(192, 64, 0));
        QCOMPARE(w->Label1->pos(), QPoint(platform::tw(165), platform::tw(195)));
        QCOMPARE(w->NewTypeName->pos(), QPoint(platform::tw(195), platform::tw(480)));
        QCOMPARE(w->SaveRecord->text(), QStringLiteral("保存"));
        QCOMPARE(w->SaveRecord->pos(), QPoint(platform::tw(210), platform::tw(885)));
        QCOMPARE(w->CancelRecord->text(), QStringLiteral("取消"));
        QCOMPARE(w->CancelRecord->pos(), QPoint(platform::tw(1020), platform::tw(885)));
        QVERIFY(w->SaveRecord->isDefault());
        QVERIFY(!w->SaveRecord->isEnabled());
        verifyIdle(*w);
        QVERIFY(w->selectedType().isEmpty());
        QVERIFY(!w->catalogChanged());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmCatalog")));

        // Both captions of the label, and every caption of the panel, show whole.
        w->AddB->click();
        for (const QString &caption : {kAddCaption, kRenameCaption}) {
            w->Label1->setText(caption);
            QVERIFY(w->Label1->width() >= w->Label1->sizeHint().width());
            QVERIFY(w->Label1->height() >= w->Label1->sizeHint().height());
        }
        w->Label1->setText(kAddCaption);
        // The style's least width of a push button (about 80 pixels) is wider than these
        // two; what matters is that the caption fits.
        for (QPushButton *b : {w->SaveRecord, w->CancelRecord}) {
            const int text = b->fontMetrics().horizontalAdvance(b->text());
            QVERIFY2(text + 12 <= b->width() && b->sizeHint().height() <= b->height(), qPrintable(b->objectName()));
        }
        for (QWidget *c : {static_cast<QWidget *>(w->Label1), static_cast<QWidget *>(w->NewTypeName),
                           static_cast<QWidget *>(w->SaveRecord), static_cast<QWidget *>(w->CancelRecord)})
            QVERIFY2(w->AddPicture->rect().contains(c->geometry()), qPrintable(c->objectName()));
        QVERIFY(w->rect().contains(w->AddPicture->geometry()));
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmCatalog-entry")));
    }

    void manyTypesAndLongNames()
    {
        const QString longName = QStringLiteral("心胸外科与血管外科联合会诊病案<b>加粗</b>");
        m_archive->addType(longName);
        for (int i = 0; i < 60; ++i)
            m_archive->addType(QStringLiteral("类型%1").arg(i));
        auto w = open();
        QCOMPARE(w->ListView1->count(), 61);
        // A long name stays under its own icon; its tip shows it whole, markup as typed.
        const QRect first = w->ListView1->visualItemRect(w->ListView1->item(0));
        QVERIFY(first.width() <= w->ListView1->gridSize().width());
        const QString tip = w->ListView1->item(0)->toolTip();
        QVERIFY(tip.contains(QStringLiteral("&lt;b&gt;")));
        QVERIFY(w->ListView1->verticalScrollBar()->maximum() > 0);
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmCatalog-many")));
    }

    void hintsOnTheMouse()
    {
        auto w = open();
        w->AddB->click(); // shows the panel, so that its controls can be reached
        const std::pair<QWidget *, const char *> cases[] = {
            {w->AddB, "添加新的病案类型"},
            {w->cmdModify, "修改左边选定的病案类型"},
            {w->DeleteB, "删除左边选定的病案类型"},
            {w->ExitB, "关闭"},
            {w->ListView1, "已经定义的病案类型"},
            {w->NewTypeName, "请输入新的病案类型"},
            {w->SaveRecord, "保存新类型并返回"},
            {w->CancelRecord, "放弃保存病案新类型"},
        };
        for (const auto &c : cases) {
            m_hints.clear();
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QApplication::sendEvent(c.first, &enter);
            QCOMPARE(m_hints, QStringList{QString::fromUtf8(c.second)});
        }
        // The label and the panel itself have no hint.
        m_hints.clear();
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(w->Label1, &enter);
        QApplication::sendEvent(w->AddPicture, &enter);
        QVERIFY(m_hints.isEmpty());
    }

    void positionStoredAndReadUnderType()
    {
        settings::writeNumber(QStringLiteral("Type"), QStringLiteral("Left"), 1500);
        settings::writeNumber(QStringLiteral("Type"), QStringLiteral("Top"), 1200);
        auto w = std::make_unique<frmCatalog>();
        QCOMPARE(w->pos(), QPoint(100, 80));
        w->show();
        w->move(120, 90);
        w->close(); // the close box
        QCOMPARE(settings::readNumber(QStringLiteral("Type"), QStringLiteral("Left")), double(w->x() * 15));
        QCOMPARE(settings::readNumber(QStringLiteral("Type"), QStringLiteral("Top")), double(w->y() * 15));
    }

    void failingLoadStillOpens()
    {
        app::DbPath = m_archive->folder() + QStringLiteral("/missing.dat");
        auto w = open();
        QCOMPARE(w->ListView1->count(), 0);
        verifyIdle(*w);
        QCOMPARE(m_platform->boxes.size(), 0);
    }

    // ---------------------------------------------------------------- add

    void addStoresTheTrimmedNameAndStaysOpen()
    {
        m_archive->addType(QStringLiteral("外科"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        w->AddB->click();
        verifyEntry(*w, kAddCaption);
        QVERIFY(w->NewTypeName->hasFocus());

        // Blanks only: 保存 stays disabled and Enter saves nothing.
        w->NewTypeName->setText(QStringLiteral("   "));
        QVERIFY(!w->SaveRecord->isEnabled());
        QTest::keyClick(w->NewTypeName, Qt::Key_Return);
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        QVERIFY(w->AddPicture->isVisible());

        w->NewTypeName->setText(QStringLiteral("  儿 科  "));
        QVERIFY(w->SaveRecord->isEnabled());
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 0);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("外科"), QStringLiteral("儿 科")}));
        QCOMPARE(itemTexts(w->ListView1), (QStringList{QStringLiteral("外科"), QStringLiteral("儿 科")}));
        QVERIFY(w->catalogChanged());
        // Ready for the next name; the type clicked before is still the selection.
        QVERIFY(w->NewTypeName->text().isEmpty());
        QVERIFY(w->NewTypeName->hasFocus());
        verifyEntry(*w, kAddCaption);
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));

        // Enter on the name saves too.
        w->NewTypeName->setText(QStringLiteral("骨科"));
        QTest::keyClick(w->NewTypeName, Qt::Key_Return);
        QCOMPARE(typesInArchive(),
                 (QStringList{QStringLiteral("外科"), QStringLiteral("儿 科"), QStringLiteral("骨科")}));
        verifyEntry(*w, kAddCaption);

        // 取消 after the adds: 修 改 acts on the type clicked before.
        w->CancelRecord->click();
        verifyIdle(*w);
        QVERIFY(w->AddB->hasFocus());
        w->cmdModify->click();
        QCOMPARE(w->NewTypeName->text(), QStringLiteral("外科"));
    }

    void addRefusesADuplicateDifferingOnlyInCase()
    {
        m_archive->addType(QStringLiteral("Surgery"));
        auto w = open();
        w->AddB->click();
        m_platform->answer(Answer::Ok);
        w->NewTypeName->setText(QStringLiteral(" SURGERY "));
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes.at(0), kDuplicate, QStringLiteral("提示："), Buttons::Ok, Icon::Exclamation);
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("Surgery")});
        QCOMPARE(w->NewTypeName->text(), QStringLiteral(" SURGERY ")); // as typed
        QVERIFY(w->NewTypeName->hasFocus());
        verifyEntry(*w, kAddCaption);
        QVERIFY(!w->catalogChanged());
    }

    void apostropheIsRefusedBeforeTheArchiveIsOpened()
    {
        auto w = open();
        // Nothing is opened: a missing archive raises no failure.
        app::DbPath = m_archive->folder() + QStringLiteral("/missing.dat");
        w->AddB->click();
        w->NewTypeName->setText(QStringLiteral(" O'Brien"));
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes.at(0), kApostrophe, QStringLiteral("提示："), Buttons::Ok, Icon::Exclamation);
        QVERIFY(w->NewTypeName->hasFocus());
        QCOMPARE(w->NewTypeName->text(), QStringLiteral(" O'Brien"));
        verifyEntry(*w, kAddCaption);
        app::DbPath = m_archive->path();
        QVERIFY(typesInArchive().isEmpty());
    }

    // ---------------------------------------------------------------- rename

    void renameMovesTheRecords()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"),
                             QStringLiteral("/a.doc"), QStringLiteral("说明"),
                             {QStringLiteral("/p1.jpg"), QStringLiteral("/p2.jpg")});
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("李四"));
        m_archive->addRecord(QStringLiteral("儿科"), QStringLiteral("240101080002"), QStringLiteral("王五"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        w->cmdModify->click();
        verifyEntry(*w, kRenameCaption);
        QCOMPARE(w->NewTypeName->text(), QStringLiteral("外科"));
        QVERIFY(w->SaveRecord->isEnabled());
        QVERIFY(w->NewTypeName->hasFocus());

        w->NewTypeName->setText(QStringLiteral(" 普外科 "));
        QTest::keyClick(w->NewTypeName, Qt::Key_Enter);
        QCOMPARE(m_platform->boxes.size(), 0);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("普外科"), QStringLiteral("儿科")}));
        QCOMPARE(recordsOfType(QStringLiteral("普外科")), 2);
        QCOMPARE(recordsOfType(QStringLiteral("外科")), 0);
        QCOMPARE(recordsOfType(QStringLiteral("儿科")), 1);
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 2); // photos untouched
        QCOMPARE(m_archive->count(QStringLiteral("photo"), QStringLiteral("\"病案号\" = '240101080000'")), 2);
        QCOMPARE(itemTexts(w->ListView1), (QStringList{QStringLiteral("普外科"), QStringLiteral("儿科")}));
        QVERIFY(w->selectedType().isEmpty());
        QVERIFY(w->catalogChanged());
        verifyIdle(*w);
        QVERIFY(w->cmdModify->hasFocus());
        QCOMPARE(w->Label1->text(), kRenameCaption);

        // SelectedType is empty again: 修 改 asks for a choice first.
        m_platform->answer(Answer::Ok);
        w->cmdModify->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes.at(0), kModifyNothing, QStringLiteral("病案管理系统"), Buttons::Ok,
                   Icon::Information);
        verifyIdle(*w);
    }

    void renameStaysWithTheTypeItWasOpenedFor()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"));
        m_archive->addRecord(QStringLiteral("儿科"), QStringLiteral("240101080002"), QStringLiteral("王五"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        w->cmdModify->click();
        verifyEntry(*w, kRenameCaption);
        // While the panel is open the operator clicks another type, then moves on with a key.
        clickItem(*w, QStringLiteral("儿科"));
        w->ListView1->setFocus();
        QTest::keyClick(w->ListView1, Qt::Key_Left);
        QTest::keyClick(w->ListView1, Qt::Key_Right);
        w->NewTypeName->setText(QStringLiteral("普外科"));
        QTest::mouseClick(w->SaveRecord, Qt::LeftButton);
        QCOMPARE(m_platform->boxes.size(), 0);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("普外科"), QStringLiteral("儿科")}));
        QCOMPARE(recordsOfType(QStringLiteral("普外科")), 1);
        QCOMPARE(recordsOfType(QStringLiteral("儿科")), 1);
        QCOMPARE(recordsOfType(QStringLiteral("外科")), 0);

        // Saved under the name it had: nothing written, even with another type selected.
        clickItem(*w, QStringLiteral("儿科"));
        w->cmdModify->click();
        clickItem(*w, QStringLiteral("普外科"));
        w->NewTypeName->setText(QStringLiteral("儿科"));
        QTest::mouseClick(w->SaveRecord, Qt::LeftButton);
        QCOMPARE(m_platform->boxes.size(), 0);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("普外科"), QStringLiteral("儿科")}));
        verifyIdle(*w);
    }

    void renameRefusesAnotherTypesNameInAnyCase()
    {
        m_archive->addType(QStringLiteral("Surgery"));
        m_archive->addType(QStringLiteral("Children"));
        m_archive->addRecord(QStringLiteral("Children"), QStringLiteral("240101080000"), QStringLiteral("a"));
        auto w = open();
        clickItem(*w, QStringLiteral("Children"));
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("sURGERY"));
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes.at(0), kDuplicate, QStringLiteral("提示："), Buttons::Ok, Icon::Exclamation);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("Surgery"), QStringLiteral("Children")}));
        QCOMPARE(recordsOfType(QStringLiteral("Children")), 1);
        QCOMPARE(w->NewTypeName->text(), QStringLiteral("sURGERY"));
        QVERIFY(w->NewTypeName->hasFocus());
        verifyEntry(*w, kRenameCaption);
        QCOMPARE(w->selectedType(), QStringLiteral("Children"));
        QVERIFY(!w->catalogChanged());
    }

    void renameToTheSameNameWritesNothing()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("a"));
        // Any write would fail and show a box, which the test does not expect.
        m_archive->failWrites(QStringLiteral("no_update"), QStringLiteral("BEFORE UPDATE ON Catalog"),
                              QStringLiteral("no writes"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("  外科 "));
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 0);
        verifyIdle(*w);
        QVERIFY(w->cmdModify->hasFocus());
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        QVERIFY(!w->catalogChanged());
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
    }

    void renameWithNothingSelected()
    {
        m_archive->addType(QStringLiteral("外科"));
        auto w = open();
        m_platform->answer(Answer::Ok);
        w->cmdModify->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        compareBox(m_platform->boxes.at(0), kModifyNothing, QStringLiteral("病案管理系统"), Buttons::Ok,
                   Icon::Information);
        verifyIdle(*w);
    }

    void aTypeChosenWithTheKeysCountsAsClicked()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        auto w = open();
        w->ListView1->setFocus();
        QVERIFY(w->selectedType().isEmpty()); // focus alone chooses nothing
        w->ListView1->setCurrentRow(1);
        QCOMPARE(w->selectedType(), QStringLiteral("儿科"));
    }

    // ---------------------------------------------------------------- delete

    void deleteMovesTheTypesRecordsWithTheirPhotosIntoTheBin()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"),
                             QString(), QString(), {QStringLiteral("/p1.jpg"), QStringLiteral("/p2.jpg")});
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("李四"));
        m_archive->addRecord(QStringLiteral("儿科"), QStringLiteral("240101080002"), QStringLiteral("王五"),
                             QString(), QString(), {QStringLiteral("/p3.jpg")});
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        m_platform->answer(Answer::Yes);
        w->DeleteB->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &q = m_platform->boxes.at(0);
        compareBox(q, deleteQuestion(QStringLiteral("外科")), QStringLiteral("确认"), Buttons::YesNo, Icon::Critical);
        QCOMPARE(q.defaultButton, Answer::No);

        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("儿科")});
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 1);
        QCOMPARE(recordsOfType(QStringLiteral("儿科")), 1);
        // The photos went into the recycle bin with their record; the other type's stay.
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 1);
        {
            store::Connection c(m_archive->path());
            QCOMPARE(store::countBin(c), 2);
        }
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("儿科")});
        QVERIFY(w->selectedType().isEmpty());
        QVERIFY(w->catalogChanged());
        verifyIdle(*w);

        // Nothing selected any more.
        m_platform->answer(Answer::Ok);
        w->DeleteB->click();
        QCOMPARE(m_platform->boxes.size(), 2);
        compareBox(m_platform->boxes.at(1), kDeleteNothing, QStringLiteral("病案管理系统"), Buttons::Ok,
                   Icon::Exclamation);
    }

    void deleteAnsweredNoChangesNothing()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        m_platform->answer(Answer::No);
        w->DeleteB->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        QCOMPARE(recordsOfType(QStringLiteral("外科")), 1);
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("外科")});
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        QVERIFY(!w->catalogChanged());
        verifyIdle(*w);
    }

    void deleteKeyDeletes()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("儿科"));
        auto w = open();
        clickItem(*w, QStringLiteral("儿科"));
        QTRY_VERIFY(w->ListView1->hasFocus());
        m_platform->answer(Answer::Yes);
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes.at(0).text, deleteQuestion(QStringLiteral("儿科")));
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});

        // On a button too, and with nothing selected it says so.
        w->AddB->setFocus();
        m_platform->answer(Answer::Ok);
        QTest::keyClick(w->AddB, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes.at(1).text, kDeleteNothing);

        // Not while an entry is open: 删 除 is disabled then.
        w->AddB->click();
        QTest::keyClick(w->NewTypeName, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 2);
    }

    // ---------------------------------------------------------------- cancel and Esc

    void cancelEndsTheEntry()
    {
        m_archive->addType(QStringLiteral("外科"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("新名"));
        w->CancelRecord->click();
        verifyIdle(*w);
        QVERIFY(w->AddB->hasFocus());
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        QCOMPARE(w->Label1->text(), kRenameCaption); // left as it was
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        QVERIFY(w->isVisible());
    }

    void escCancelsAnOpenEntryAndClosesOtherwise()
    {
        auto w = open();
        w->AddB->click();
        w->NewTypeName->setText(QStringLiteral("未保存"));
        QVERIFY(w->NewTypeName->hasFocus());
        QTest::keyClick(w->NewTypeName, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        verifyIdle(*w);
        QVERIFY(w->AddB->hasFocus());
        QVERIFY(typesInArchive().isEmpty());

        // In Idle, Esc closes, as 关 闭 does.
        QTest::keyClick(w->AddB, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(m_platform->boxes.size(), 0);
    }

    // ---------------------------------------------------------------- authority

    void stateTable_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("mayChange");
        QTest::newRow("只能添加") << kOnlyAdd << false;
        QTest::newRow("不能修改") << kNoModify << false;
        QTest::newRow("可以修改") << QStringLiteral("可以修改") << true;
        QTest::newRow("超级权限") << QStringLiteral("超级权限") << true;
        QTest::newRow("只能修改") << QStringLiteral("只能修改") << true;
        QTest::newRow("none") << QString() << true;
    }

    void stateTable()
    {
        QFETCH(QString, level);
        QFETCH(bool, mayChange);
        app::CurrentAuthority = level;
        m_archive->addType(QStringLiteral("外科"));
        auto w = open();
        verifyIdle(*w, mayChange);

        // A selection enables nothing.
        clickItem(*w, QStringLiteral("外科"));
        verifyIdle(*w, mayChange);

        // The Delete key does nothing where 删 除 is disabled.
        if (!mayChange) {
            QTest::keyClick(w->ListView1, Qt::Key_Delete);
            QCOMPARE(m_platform->boxes.size(), 0);
            QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        }

        // Add, a saved add, cancel.
        w->AddB->click();
        verifyEntry(*w, kAddCaption);
        w->NewTypeName->setText(QStringLiteral("儿科"));
        verifyEntry(*w, kAddCaption);
        w->SaveRecord->click();
        verifyEntry(*w, kAddCaption);
        w->CancelRecord->click();
        verifyIdle(*w, mayChange);
        if (!mayChange) {
            QTest::keyClick(w->AddB, Qt::Key_Delete);
            QCOMPARE(m_platform->boxes.size(), 0);
            return;
        }

        // Rename, refused and unchanged, then a saved rename.
        w->cmdModify->click();
        verifyEntry(*w, kRenameCaption);
        w->NewTypeName->setText(QStringLiteral("儿科"));
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        verifyEntry(*w, kRenameCaption);
        w->NewTypeName->setText(QStringLiteral("外科"));
        w->SaveRecord->click();
        verifyIdle(*w, true);
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("内科"));
        w->SaveRecord->click();
        verifyIdle(*w, true);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("内科"), QStringLiteral("儿科")}));
    }

    // ---------------------------------------------------------------- failures

    void failedRenameIsRolledBack()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("a"));
        // The second statement fails, after the first has run.
        m_archive->failWrites(QStringLiteral("no_move"), QStringLiteral("BEFORE UPDATE ON Detail"),
                              QStringLiteral("records locked"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("普外科"));
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &b = m_platform->boxes.at(0);
        QCOMPARE(b.title, QStringLiteral("错误提示"));
        QCOMPARE(b.icon, Icon::Critical);
        QCOMPARE(b.buttons, Buttons::Ok);
        QVERIFY2(b.text.contains(QStringLiteral("records locked")), qPrintable(b.text));

        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        QCOMPARE(recordsOfType(QStringLiteral("外科")), 1);
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("外科")});
        QVERIFY(w->ListView1->isVisible());
        verifyEntry(*w, kRenameCaption);
        QCOMPARE(w->NewTypeName->text(), QStringLiteral("普外科"));
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        QVERIFY(!w->catalogChanged());
        // The archive is not left locked.
        m_archive->addType(QStringLiteral("儿科"));
    }

    void failedDeleteIsRolledBack()
    {
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("a"));
        m_archive->failWrites(QStringLiteral("keep_records"), QStringLiteral("BEFORE DELETE ON Detail"),
                              QStringLiteral("records kept"));
        auto w = open();
        clickItem(*w, QStringLiteral("外科"));
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 2);
        const testing::RecordedBox &b = m_platform->boxes.at(1);
        QCOMPARE(b.title, QStringLiteral("错误提示"));
        QCOMPARE(b.icon, Icon::Critical);
        QVERIFY2(b.text.contains(QStringLiteral("records kept")), qPrintable(b.text));
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("外科")});
        QCOMPARE(recordsOfType(QStringLiteral("外科")), 1);
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("外科")});
        QVERIFY(w->ListView1->isVisible());
        QCOMPARE(w->selectedType(), QStringLiteral("外科"));
        QVERIFY(!w->catalogChanged());
        verifyIdle(*w);
    }

    void failedAddIsReported()
    {
        m_archive->addType(QStringLiteral("外科"));
        auto w = open();
        w->AddB->click();
        w->NewTypeName->setText(QStringLiteral("儿科"));
        // The archive goes away under the window.
        QVERIFY(m_archive->remove());
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes.at(0).title, QStringLiteral("错误提示"));
        QCOMPARE(m_platform->boxes.at(0).icon, Icon::Critical);
        QVERIFY(!m_platform->boxes.at(0).text.isEmpty());
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("外科")});
        QVERIFY(w->ListView1->isVisible());
        verifyEntry(*w, kAddCaption);
        QCOMPARE(w->NewTypeName->text(), QStringLiteral("儿科"));
        QVERIFY(!w->catalogChanged());
    }

    // ---------------------------------------------------------------- names with an apostrophe

    void aNameWithAnApostropheAlreadyStoredCanBeRenamedAndDeleted()
    {
        m_archive->addType(QStringLiteral("O'Brien"));
        m_archive->addType(QStringLiteral("St. Mary's"));
        m_archive->addRecord(QStringLiteral("O'Brien"), QStringLiteral("240101080000"), QStringLiteral("a"));
        m_archive->addRecord(QStringLiteral("St. Mary's"), QStringLiteral("240101080001"), QStringLiteral("b"),
                             QString(), QString(), {QStringLiteral("/p.jpg")});
        auto w = open();
        QCOMPARE(itemTexts(w->ListView1), (QStringList{QStringLiteral("O'Brien"), QStringLiteral("St. Mary's")}));

        clickItem(*w, QStringLiteral("O'Brien"));
        w->cmdModify->click();
        // The old name itself cannot be saved again, as the Part asks.
        m_platform->answer(Answer::Ok);
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes.at(0).text, kApostrophe);
        w->NewTypeName->setText(QStringLiteral("OBrien"));
        w->SaveRecord->click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(typesInArchive(), (QStringList{QStringLiteral("OBrien"), QStringLiteral("St. Mary's")}));
        QCOMPARE(recordsOfType(QStringLiteral("OBrien")), 1);
        QCOMPARE(recordsOfType(QStringLiteral("O'Brien")), 0);

        clickItem(*w, QStringLiteral("St. Mary's"));
        m_platform->answer(Answer::Yes);
        w->DeleteB->click();
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes.at(1).text, deleteQuestion(QStringLiteral("St. Mary's")));
        QCOMPARE(typesInArchive(), QStringList{QStringLiteral("OBrien")});
        QCOMPARE(recordsOfType(QStringLiteral("St. Mary's")), 0);
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 0); // in the recycle bin with its record
        QCOMPARE(itemTexts(w->ListView1), QStringList{QStringLiteral("OBrien")});
    }

    // ---------------------------------------------------------------- closing and the browser

    void closingRefreshesTheBrowserOnlyThroughCloseOrEsc_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("change");
        QTest::addColumn<bool>("browser");
        QTest::addColumn<int>("reloads");
        QTest::newRow("关 闭 after a change") << "button" << true << true << 1;
        QTest::newRow("Esc after a change") << "esc" << true << true << 1;
        QTest::newRow("close box after a change") << "box" << true << true << 0;
        QTest::newRow("关 闭 without a change") << "button" << false << true << 0;
        QTest::newRow("Esc without a change") << "esc" << false << true << 0;
        QTest::newRow("关 闭 without a browser") << "button" << true << false << 0;
    }

    void closingRefreshesTheBrowserOnlyThroughCloseOrEsc()
    {
        QFETCH(QString, how);
        QFETCH(bool, change);
        QFETCH(bool, browser);
        QFETCH(int, reloads);
        app::BrowserLoaded = browser;
        auto w = open();
        if (change) {
            w->AddB->click();
            w->NewTypeName->setText(QStringLiteral("外科"));
            w->SaveRecord->click();
            w->CancelRecord->click();
            QVERIFY(w->catalogChanged());
        }
        QCOMPARE(m_reloads, 0);
        w->move(150, 75);
        if (how == QLatin1String("button"))
            QTest::mouseClick(w->ExitB, Qt::LeftButton);
        else if (how == QLatin1String("esc"))
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w.get(), Qt::Key_Escape);
        else
            w->close();
        QVERIFY(!w->isVisible());
        QCOMPARE(m_reloads, reloads);
        QCOMPARE(m_platform->boxes.size(), 0);
        QCOMPARE(settings::readPosition(QStringLiteral("Type")), w->pos());
    }

    // ---------------------------------------------------------------- where it is opened

    void openedFromTheToolbarAndTheBrowserMenu()
    {
        app::WireWindows();
        QVERIFY(bool(frmManager::openCatalogWindow));
        int runs = 0;
        m_platform->onModal = [&runs](QDialog &d) {
            ++runs;
            auto *w = qobject_cast<frmCatalog *>(&d);
            if (!w)
                QTest::qFail("not the record type window", __FILE__, __LINE__);
            return int(QDialog::Rejected);
        };
        QWidget parent;
        frmManager::openCatalogWindow(&parent);
        QCOMPARE(m_platform->modals, QStringList{QStringLiteral("frmCatalog")});

        frmMain main;
        app::ShowHint(QString());
        main.Toolbar1_ButtonClick(QStringLiteral("Content"));
        QCOMPARE(m_platform->modals, (QStringList{QStringLiteral("frmCatalog"), QStringLiteral("frmCatalog")}));
        QCOMPARE(runs, 2);
    }
};

QTEST_MAIN(TestCatalog)
#include "tst_catalog.moc"
