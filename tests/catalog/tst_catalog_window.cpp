// The record types window itself: as drawn, with many types and long names, its hints, where
// it is kept, an archive it cannot read, what each level may do in it, how closing refreshes
// the browser, and where it is opened from.
#include "CatalogFixture.h"

#include "app/Main.h"
#include "app/frmMain.h"
#include "platform/Twips.h"
#include "records/frmManager.h"
#include "store/Settings.h"

#include <QEnterEvent>
#include <QScrollBar>

using platform::Answer;

namespace {

const QString kOnlyAdd = QStringLiteral("只能添加");
const QString kNoModify = QStringLiteral("不能修改");

} // namespace

class TestCatalogWindow : public testing::CatalogFixture {
    Q_OBJECT

private slots:
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

QTEST_MAIN(TestCatalogWindow)
#include "tst_catalog_window.moc"
