#include "TestSupport.h"

#include "common/Module1.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "records/frmSearchForm.h"
#include "store/Database.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::childTexts;
using testing::typeNode;

namespace {

QStringList typeTexts(ArchiveTreeModel *m) { return childTexts(m, m->rootIndex()); }

// Every record the tree shows, as "type/name", types in tree order.
QStringList shown(ArchiveTreeModel *m)
{
    QStringList all;
    for (int t = 0; t < m->typeCount(); ++t)
        for (const QString &r : childTexts(m, m->typeIndex(t)))
            all << m->text(m->typeIndex(t)) + QLatin1Char('/') + r;
    return all;
}

QCheckBox *box(QWidget *w, int i) { return testing::child<QCheckBox>(w, QStringLiteral("chkValue(%1)").arg(i)); }
QLineEdit *textBox(QWidget *w) { return testing::child<QLineEdit>(w, QStringLiteral("txtSearch")); }
QPushButton *button(QWidget *w) { return testing::child<QPushButton>(w, QStringLiteral("cmdSearch")); }

} // namespace

class TestSearch : public QObject {
    Q_OBJECT

    QStringList m_states; // what the browser told the main window's search line
    int m_reloads = 0;
    int m_endings = 0;

    std::unique_ptr<frmManager> openBrowser(const testing::TempArchive &archive)
    {
        app::DbPath = archive.path();
        auto w = std::make_unique<frmManager>();
        w->resize(900, 600);
        w->show();
        return w;
    }

    // The search window as the operator meets it: shown and active.
    std::unique_ptr<frmSearchForm> openSearch()
    {
        auto d = std::make_unique<frmSearchForm>();
        d->show();
        d->activateWindow();
        if (!QTest::qWaitForWindowActive(d.get()))
            QTest::qFail("search window not active", __FILE__, __LINE__);
        return d;
    }

    // Ticks exactly the boxes named (1 to 4), types the text and presses the button.
    void search(frmSearchForm *d, const QString &text, std::initializer_list<int> ticked)
    {
        for (int i = 1; i <= 4; ++i)
            box(d, i)->setChecked(std::find(ticked.begin(), ticked.end(), i) != ticked.end());
        textBox(d)->setText(text);
        QVERIFY(button(d)->isEnabled());
        QTest::mouseClick(button(d), Qt::LeftButton);
    }

    // One search on a browser over the archive: what the tree shows afterwards.
    QStringList found(const testing::TempArchive &archive, const QString &text, std::initializer_list<int> ticked)
    {
        auto w = openBrowser(archive);
        auto d = openSearch();
        search(d.get(), text, ticked);
        if (d->isVisible())
            QTest::qFail("the window stayed open after a search", __FILE__, __LINE__);
        return shown(w->treeModel());
    }

    // Stands in for an open browser and counts the reloads asked of it.
    const int &countReloads()
    {
        m_reloads = 0;
        app::BrowserLoaded = true;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
        return m_reloads;
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        testing::isolateSettings();
        m_reloads = 0;
        m_states.clear();
        m_endings = 0;
        app::setSearchStateTarget([this](const QString &text) { m_states << text; });
        app::setEndProgramHook([this] { ++m_endings; });
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
    }

    void cleanup()
    {
        app::setSearchStateTarget({});
        app::setEndProgramHook({});
        app::setBrowserReloadTarget({});
        app::BrowserLoaded = false;
        app::SearchFilter.clear();
    }

    // ------------------------------------------------------------ the window itself

    void layoutAndOpeningState()
    {
        testing::ScriptedPlatform platform;
        frmSearchForm d;
        QCOMPARE(d.objectName(), QStringLiteral("frmSearchForm"));
        QCOMPARE(d.windowTitle(), QStringLiteral("查询"));
        QCOMPARE(d.minimumSize(), d.maximumSize()); // fixed size
        QVERIFY(d.width() >= platform::tw(6165));
        QVERIFY(d.height() >= platform::tw(1665));
        QVERIFY(d.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(d.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(d.windowFlags() & Qt::WindowMaximizeButtonHint));

        auto *frame = testing::child<QFrame>(&d, QStringLiteral("Frame1"));
        const char *captions[] = {"病案名称", "路径名", "文件说明", "病案类别"};
        for (int i = 1; i <= 4; ++i) {
            QCheckBox *b = box(&d, i);
            QCOMPARE(b->text(), QString::fromUtf8(captions[i - 1]));
            QVERIFY(b->isChecked());
            QCOMPARE(b->parentWidget(), frame);
            QCOMPARE(b->palette().color(QPalette::WindowText), QColor(192, 64, 0));
            // Left to right in their order, each whole inside the frame.
            QVERIFY(frame->rect().contains(b->geometry()));
            QVERIFY(b->sizeHint().width() <= b->width());
            if (i > 1)
                QVERIFY(box(&d, i - 1)->geometry().right() < b->x());
        }
        QCOMPARE(testing::child<QLabel>(&d, QStringLiteral("Label1"))->text(), QStringLiteral("请输入查询的条件："));
        QLineEdit *text = textBox(&d);
        QCOMPARE(text->text(), QString());
        QCOMPARE(text->maxLength(), 20);
        QPushButton *start = button(&d);
        QCOMPARE(start->text(), QStringLiteral("开始搜索(&S)"));
        QVERIFY(!start->isEnabled());
        QVERIFY(start->sizeHint().width() <= start->width());
        // Tab order: the text first, the button second.
        QCOMPARE(text->nextInFocusChain(), static_cast<QWidget *>(start));
        QVERIFY(d.rect().contains(start->geometry()));
        QVERIFY(testing::child<QLabel>(&d, QStringLiteral("Label1"))->geometry().right() < text->x());
        QVERIFY(platform.boxes.isEmpty());
    }

    void everyOpeningStartsTicked()
    {
        testing::ScriptedPlatform platform;
        {
            auto d = openSearch();
            for (int i = 1; i <= 4; ++i)
                box(d.get(), i)->setChecked(false);
            textBox(d.get())->setText(QStringLiteral("外科"));
            d->close();
        }
        auto d = openSearch();
        for (int i = 1; i <= 4; ++i)
            QVERIFY(box(d.get(), i)->isChecked());
        QCOMPARE(textBox(d.get())->text(), QString());
        QVERIFY(!button(d.get())->isEnabled());
    }

    void textOfTwentyCharactersAtMost()
    {
        testing::ScriptedPlatform platform;
        auto d = openSearch();
        QTest::keyClicks(textBox(d.get()), QStringLiteral("abcdefghij0123456789XYZ"));
        QCOMPARE(textBox(d.get())->text(), QStringLiteral("abcdefghij0123456789"));
    }

    void wholeTextSelectedOnFocus()
    {
        testing::ScriptedPlatform platform;
        auto d = openSearch();
        QLineEdit *text = textBox(d.get());
        text->setText(QStringLiteral("外科 病例"));
        box(d.get(), 1)->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!text->hasFocus());
        text->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(text->selectedText(), QStringLiteral("外科 病例"));
        // A click into the text selects it all as well.
        box(d.get(), 1)->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!text->hasFocus());
        QTest::mouseClick(text, Qt::LeftButton, {}, QPoint(3, text->height() / 2));
        QTRY_COMPARE(text->selectedText(), QStringLiteral("外科 病例"));
    }

    void blanksOnlyLeaveTheButtonDisabledAndEnterDoesNothing()
    {
        testing::ScriptedPlatform platform;
        const int &reloads = countReloads();
        auto d = openSearch();
        QLineEdit *text = textBox(d.get());
        text->setFocus();
        QTRY_VERIFY(text->hasFocus());
        QTest::keyClicks(text, QStringLiteral("   "));
        QCOMPARE(text->text(), QStringLiteral("   "));
        QVERIFY(!button(d.get())->isEnabled());
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClick(text, Qt::Key_Enter);
        QVERIFY(text->hasFocus());
        QVERIFY(d->isVisible());
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(reloads, 0);

        // A letter among the blanks enables the button; taking it away disables it again.
        QTest::keyClicks(text, QStringLiteral("x"));
        QVERIFY(button(d.get())->isEnabled());
        QTest::keyClick(text, Qt::Key_Backspace);
        QVERIFY(!button(d.get())->isEnabled());
    }

    void enterMovesToTheButtonWithoutSearching()
    {
        testing::ScriptedPlatform platform;
        const int &reloads = countReloads();
        auto d = openSearch();
        QLineEdit *text = textBox(d.get());
        text->setFocus();
        QTRY_VERIFY(text->hasFocus());
        QTest::keyClicks(text, QStringLiteral(" abc "));
        QVERIFY(button(d.get())->isEnabled());
        QTest::keyClick(text, Qt::Key_Return);
        QTRY_VERIFY(button(d.get())->hasFocus());
        QVERIFY(d->isVisible());
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(reloads, 0);

        // Enter on the button starts the search.
        QTest::keyClick(button(d.get()), Qt::Key_Return);
        QCOMPARE(reloads, 1);
        QVERIFY(!d->isVisible());
        QCOMPARE(app::SearchFilter, (store::SearchFilter{QStringLiteral("abc"), true, true, true, true}));
    }

    void accessKeyStartsTheSearch()
    {
        testing::ScriptedPlatform platform;
        const int &reloads = countReloads();
        auto d = openSearch();
        textBox(d.get())->setText(QStringLiteral("外科"));
        QTest::keyClick(d.get(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(reloads, 1); // the button shows itself pressed for a moment first
        QCOMPARE(app::SearchFilter.text, QStringLiteral("外科"));
    }

    void noBoxTickedShowsTheMessageAndStaysOpen()
    {
        testing::ScriptedPlatform platform;
        const int &reloads = countReloads();
        const store::SearchFilter before{QStringLiteral("旧"), true, false, false, false};
        app::SearchFilter = before;
        auto d = openSearch();
        platform.answer(Answer::Ok);
        search(d.get(), QStringLiteral("外科"), {});
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("请您选择一个查询项目！"));
        QCOMPARE(platform.boxes[0].title, platform::kAppTitle);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("Karvo电子病案管理系统"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Information);
        QVERIFY(d->isVisible());
        QCOMPARE(app::SearchFilter, before);
        QCOMPARE(reloads, 0);
    }

    void closeBoxChangesNothing()
    {
        testing::ScriptedPlatform platform;
        const int &reloads = countReloads();
        const store::SearchFilter before{QStringLiteral("旧"), false, true, false, false};
        app::SearchFilter = before;
        auto d = openSearch();
        box(d.get(), 3)->setChecked(false);
        textBox(d.get())->setText(QStringLiteral("外科"));
        d->close();
        QVERIFY(!d->isVisible());
        QCOMPARE(app::SearchFilter, before);
        QCOMPARE(reloads, 0);
        // Esc closes it the same way.
        auto again = openSearch();
        textBox(again.get())->setText(QStringLiteral("外科"));
        QTest::keyClick(again.get(), Qt::Key_Escape);
        QVERIFY(!again->isVisible());
        QCOMPARE(app::SearchFilter, before);
        QCOMPARE(reloads, 0);
    }

    void positionStoredUnderSearchForm()
    {
        testing::ScriptedPlatform platform;
        settings::write(QStringLiteral("SearchForm"), QStringLiteral("Left"), QStringLiteral("1500"));
        settings::write(QStringLiteral("SearchForm"), QStringLiteral("Top"), QStringLiteral("750"));
        {
            frmSearchForm d;
            QCOMPARE(d.pos(), QPoint(100, 50));
            d.move(200, 120);
            d.show();
            d.close();
        }
        QCOMPARE(settings::readNumber(QStringLiteral("SearchForm"), QStringLiteral("Left")), 3000.0);
        QCOMPARE(settings::readNumber(QStringLiteral("SearchForm"), QStringLiteral("Top")), 1800.0);
    }

    // ------------------------------------------------------------ what a search finds

    void combinationsOfBoxes()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲 肝炎"),
                    QStringLiteral("/病案/甲.doc"), QStringLiteral("普通描述"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"),
                    QStringLiteral("/病案/肝炎/乙.doc"), QStringLiteral("普通描述"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("丙"),
                    QStringLiteral("/病案/丙.doc"), QStringLiteral("术后肝炎复发"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080003"), QStringLiteral("丁"),
                    QStringLiteral("/病案/丁.doc"), QStringLiteral("无"));
        const QString hepatitis = QStringLiteral("肝炎");

        QCOMPARE(found(a, hepatitis, {1}), QStringList{QStringLiteral("内科/甲 肝炎")});
        QCOMPARE(found(a, hepatitis, {2}), QStringList{QStringLiteral("内科/乙")});
        QCOMPARE(found(a, hepatitis, {3}), QStringList{QStringLiteral("外科/丙")});
        // A text only in the second chosen column is found.
        QCOMPARE(found(a, hepatitis, {1, 3}), (QStringList{QStringLiteral("内科/甲 肝炎"), QStringLiteral("外科/丙")}));
        QCOMPARE(found(a, hepatitis, {2, 3}), (QStringList{QStringLiteral("内科/乙"), QStringLiteral("外科/丙")}));
        QCOMPARE(found(a, hepatitis, {1, 2, 3, 4}),
                 (QStringList{QStringLiteral("内科/甲 肝炎"), QStringLiteral("内科/乙"), QStringLiteral("外科/丙")}));
        QCOMPARE(app::SearchFilter, (store::SearchFilter{hepatitis, true, true, true, true}));
        // Every type node stays, with or without records.
        auto w = openBrowser(a);
        QCOMPARE(typeTexts(w->treeModel()), (QStringList{QStringLiteral("内科"), QStringLiteral("外科")}));
    }

    void onlyTheTypeTicked()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("神经外科"));
        a.addType(QStringLiteral("外科"));
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("神经外科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("丙"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080003"), QStringLiteral("外科会诊"));
        auto w = openBrowser(a);
        auto d = openSearch();
        search(d.get(), QStringLiteral("外科"), {4});
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(typeTexts(m), (QStringList{QStringLiteral("内科"), QStringLiteral("神经外科"), QStringLiteral("外科")}));
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("神经外科"))), QStringList{QStringLiteral("甲")});
        QCOMPARE(childTexts(m, typeNode(m, QStringLiteral("外科"))), (QStringList{QStringLiteral("乙"), QStringLiteral("丙")}));
        QCOMPARE(m->rowCount(typeNode(m, QStringLiteral("内科"))), 0);
    }

    void blanksAroundAreTrimmedInnerBlanksSearched()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("张三 肝炎"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("张三肝炎"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080002"), QStringLiteral("李四 肺炎 "));
        QCOMPARE(found(a, QStringLiteral("  三 肝  "), {1}), QStringList{QStringLiteral("内科/张三 肝炎")});
        QCOMPARE(app::SearchFilter.text, QStringLiteral("三 肝"));
        // Blanks around the text are not looked for: " 炎 " finds every 炎, with or
        // without blanks beside it.
        QCOMPARE(found(a, QStringLiteral(" 炎 "), {1}).size(), 3);
    }

    void wildcardsAndLiteralCharacters()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("内科"));
        const char *names[] = {"file_a", "fileXa", "fileXYa", "O'Brien", "100% ok", "1000 ok", "C:\\data\\x",
                               "C:/data/x", "a_b", "axb"};
        int n = 0;
        for (const char *name : names)
            a.addRecord(QStringLiteral("内科"), QStringLiteral("2401010800%1").arg(n++, 2, 10, QLatin1Char('0')),
                        QString::fromUtf8(name));
        auto names_ = [](std::initializer_list<const char *> l) {
            QStringList r;
            for (const char *s : l)
                r << QStringLiteral("内科/") + QString::fromUtf8(s);
            return r;
        };
        QCOMPARE(found(a, QStringLiteral("file?a"), {1}), names_({"file_a", "fileXa"}));
        QCOMPARE(found(a, QStringLiteral("file*a"), {1}), names_({"file_a", "fileXa", "fileXYa"}));
        QCOMPARE(found(a, QStringLiteral("'Bri"), {1}), names_({"O'Brien"}));
        QCOMPARE(found(a, QStringLiteral("0%"), {1}), names_({"100% ok"}));
        QCOMPARE(found(a, QStringLiteral("a_b"), {1}), names_({"a_b"}));
        QCOMPARE(found(a, QStringLiteral("\\data\\"), {1}), names_({"C:\\data\\x"}));
        QCOMPARE(found(a, QStringLiteral("O'"), {1, 2, 3, 4}), names_({"O'Brien"}));
    }

    void letterCaseIgnored()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("Eye"));
        a.addRecord(QStringLiteral("Eye"), QStringLiteral("240101080000"), QStringLiteral("Cataract left"),
                    QStringLiteral("/Scans/LEFT.JPG"), QStringLiteral("Follow-Up"));
        a.addRecord(QStringLiteral("Eye"), QStringLiteral("240101080001"), QStringLiteral("other"));
        QCOMPARE(found(a, QStringLiteral("CATARACT"), {1}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("left.jpg"), {2}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("follow-up"), {3}), QStringList{QStringLiteral("Eye/Cataract left")});
        QCOMPARE(found(a, QStringLiteral("eYE"), {4}).size(), 2);
    }

    void searchMatchingNothingKeepsEveryType()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        for (const char *t : {"外科", "儿科", "内科"})
            a.addType(QString::fromUtf8(t));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("张三"));
        a.addRecord(QStringLiteral("儿科"), QStringLiteral("240101080001"), QStringLiteral("李四"));
        auto w = openBrowser(a);
        auto d = openSearch();
        search(d.get(), QStringLiteral("没有这样的病案"), {1, 2, 3, 4});
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(typeTexts(m), (QStringList{QStringLiteral("儿科"), QStringLiteral("内科"), QStringLiteral("外科")}));
        for (int i = 0; i < m->typeCount(); ++i)
            QCOMPARE(m->rowCount(m->typeIndex(i)), 0);
        QCOMPARE(m->searchNote(), QStringLiteral("查询：没有这样的病案，找到 0 条"));
        QVERIFY(platform.boxes.isEmpty());
    }

    // ------------------------------------------------------------ the browser's side

    void browserOpensTheWindowModallyWithTheBusyPointer()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("阑尾炎"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("胆结石"));
        auto w = openBrowser(a);
        bool busy = false;
        bool ticked = true;
        platform.onModal = [&](QDialog &d) {
            busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            for (int i = 1; i <= 4; ++i)
                ticked = ticked && box(&d, i)->isChecked();
            textBox(&d)->setText(QStringLiteral("阑尾"));
            button(&d)->click();
            return d.result();
        };
        testing::child<QAction>(w.get(), "MnuSearchFile")->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmSearchForm")});
        QVERIFY(busy);
        QVERIFY(ticked);
        QVERIFY(!QApplication::overrideCursor());
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(shown(m), QStringList{QStringLiteral("外科/阑尾炎")});

        // Closed without a search: nothing changes.
        platform.onModal = [](QDialog &d) {
            textBox(&d)->setText(QStringLiteral("胆"));
            d.close();
            return d.result();
        };
        w->MnuSearchFile_Click();
        QCOMPARE(app::SearchFilter.text, QStringLiteral("阑尾"));
        QCOMPARE(shown(m), QStringList{QStringLiteral("外科/阑尾炎")});
    }

    void searchInForceIsShownUntilCleared()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080002"), QStringLiteral("外科会诊 <b>丙</b>"));
        auto w = openBrowser(a);
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(m_states, QStringList{QString()}); // no search: the line is hidden
        QVERIFY(!m->rootIndex().data(Qt::ToolTipRole).isValid());

        auto d = openSearch();
        search(d.get(), QStringLiteral("外科"), {1, 4});
        const QString note = QStringLiteral("查询：外科，找到 3 条");
        QCOMPARE(m_states.last(), note);
        QCOMPARE(m->searchNote(), note);
        // The root's tool tip says the same, as plain text.
        const QString tip = m->rootIndex().data(Qt::ToolTipRole).toString();
        QVERIFY(tip.contains(note));
        // A later reload keeps the search and tells the new count.
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080003"), QStringLiteral("丁"));
        w->cmdLoad_Click();
        QCOMPARE(m_states.last(), QStringLiteral("查询：外科，找到 4 条"));

        // The refresh command clears the search and the line.
        testing::child<QAction>(w.get(), "MnuRefresh")->trigger();
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(m_states.last(), QString());
        QCOMPARE(m->searchNote(), QString());
        QVERIFY(!m->rootIndex().data(Qt::ToolTipRole).isValid());
        QCOMPARE(m->recordCount(), 4);

        // Markup in the text is shown as typed.
        auto again = openSearch();
        search(again.get(), QStringLiteral("<b>"), {1});
        QCOMPARE(m_states.last(), QStringLiteral("查询：<b>，找到 1 条"));
        QVERIFY(m->rootIndex().data(Qt::ToolTipRole).toString().contains(QStringLiteral("&lt;b&gt;")));
    }

    void deletionClearsTheSearch()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive a;
        a.addType(QStringLiteral("外科"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("外科"), QStringLiteral("240101080002"), QStringLiteral("甲乙"));
        auto w = openBrowser(a);
        auto d = openSearch();
        search(d.get(), QStringLiteral("甲"), {1});
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(m->recordCount(), 2);
        const QModelIndex first = m->index(0, 0, typeNode(m, QStringLiteral("外科")));
        w->TreeView_NodeClick(first);
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        QVERIFY(app::SearchFilter.isEmpty());
        QCOMPARE(shown(m), (QStringList{QStringLiteral("外科/乙"), QStringLiteral("外科/甲乙")}));
        QCOMPARE(m_states.last(), QString());
    }

    // ------------------------------------------------------------ the tree load

    void treeLoadOfAnArchiveMadeWithoutCollation()
    {
        // Another tool makes the tables without any collation and without indexes; the
        // type names still match ignoring the case of A to Z, and nothing else.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("other.dat"));
        {
            store::Connection c = store::Connection::createNew(path);
            c.run(QStringLiteral("CREATE TABLE Catalog (Name TEXT)"));
            c.run(QStringLiteral("CREATE TABLE Detail (type_Name TEXT, \"病案号\" TEXT, \"文件名\" TEXT, "
                                 "\"路径名\" TEXT, \"文件说明\" TEXT)"));
            c.run(QStringLiteral("CREATE TABLE photo (\"病案号\" TEXT, \"照片\" TEXT)"));
            for (const char *t : {"Eye", "外科", "ÄRZTE", "Skin", "儿科"})
                store::insertType(c, QString::fromUtf8(t));
            const char *rows[][3] = {
                {"EYE", "090302080000", "upper"},    {"外科", "1", "surgery one"}, {"eye", "090302080001", "lower"},
                {"ärzte", "090302080002", "umlaut"}, {"ÄRZTE", "A-17", "exact"},   {"Eye ", "090302080003", "blank"},
                {"Gone", "090302080004", "orphan"},  {"外科", "", "no number"},    {"Eye", "12345678901234567890", "long"},
                {"skin", "000000000007", "zeros"},
            };
            for (const auto &r : rows)
                c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (?, ?, ?)"),
                      {QString::fromUtf8(r[0]), QString::fromUtf8(r[1]), QString::fromUtf8(r[2])});
            c.run(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '5', 'no type')"));
        }
        ArchiveTreeModel m;
        store::Connection c(path);
        m.load(c, {});
        // Every listed type, each record under its type in the order stored. "Eye " and
        // "Gone" name no type, nor does the record without a type, and "ärzte" differs
        // from "ÄRZTE" in a letter outside A to Z: these four go under the last node.
        QCOMPARE(m.typeCount(), 6);
        QVERIFY(m.isUnlisted(m.typeIndex(5)));
        QCOMPARE(m.text(m.typeIndex(5)), QStringLiteral("（未登记类型）"));
        QCOMPARE(childTexts(&m, m.typeIndex(5)), (QStringList{QStringLiteral("umlaut"), QStringLiteral("blank"),
                                                              QStringLiteral("orphan"), QStringLiteral("no type")}));
        auto records = [&m](const char *type) { return childTexts(&m, typeNode(&m, QString::fromUtf8(type))); };
        QCOMPARE(records("Eye"), (QStringList{QStringLiteral("upper"), QStringLiteral("lower"), QStringLiteral("long")}));
        QCOMPARE(records("ÄRZTE"), QStringList{QStringLiteral("exact")});
        QCOMPARE(records("Skin"), QStringList{QStringLiteral("zeros")});
        QCOMPARE(records("外科"), (QStringList{QStringLiteral("surgery one"), QStringLiteral("no number")}));
        QCOMPARE(records("儿科"), QStringList());
        QCOMPARE(m.recordCount(), 11);
        // The Chinese names in pinyin order: er before wai.
        QVERIFY(typeTexts(&m).indexOf(QStringLiteral("儿科")) < typeTexts(&m).indexOf(QStringLiteral("外科")));
        // Numbers come back exactly as stored, leading zeros and all.
        const QModelIndex eye = typeNode(&m, QStringLiteral("Eye"));
        QCOMPARE(m.number(m.index(0, 0, eye)), QStringLiteral("090302080000"));
        QCOMPARE(m.number(m.index(2, 0, eye)), QStringLiteral("12345678901234567890"));
        QCOMPARE(m.index(0, 0, eye).data(ArchiveTreeModel::KeyRole).toString(), QStringLiteral("090302080000#"));
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("Skin")))), QStringLiteral("000000000007"));
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("ÄRZTE")))), QStringLiteral("A-17"));
        QCOMPARE(m.number(m.index(1, 0, typeNode(&m, QStringLiteral("外科")))), QString());
        QCOMPARE(m.number(m.index(0, 0, typeNode(&m, QStringLiteral("外科")))), QStringLiteral("1"));
        QVERIFY(m.rowId(m.index(1, 0, eye)) > m.rowId(m.index(0, 0, eye)));

        // The same with a search on the type: the condition applies, the match ignores case.
        m.load(c, {QStringLiteral("ye"), false, false, false, true});
        QCOMPARE(m.typeCount(), 6);
        QCOMPARE(records("Eye"), (QStringList{QStringLiteral("upper"), QStringLiteral("lower"), QStringLiteral("long")}));
        QCOMPARE(childTexts(&m, m.typeIndex(5)), QStringList{QStringLiteral("blank")}); // "Eye "
        QCOMPARE(m.recordCount(), 4);
    }

    void typesEqualButForCaseEachShowTheRecords()
    {
        testing::TempArchive a;
        a.addType(QStringLiteral("Ward"));
        a.addType(QStringLiteral("WARD"));
        a.addType(QStringLiteral("内科"));
        a.addRecord(QStringLiteral("ward"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("Ward"), QStringLiteral("240101080002"), QStringLiteral("丙"));
        // Stored out of number order: the tree keeps the order stored.
        a.addRecord(QStringLiteral("内科"), QStringLiteral("230101080000"), QStringLiteral("丁"));
        ArchiveTreeModel m;
        store::Connection c(a.path());
        m.load(c, {});
        QCOMPARE(m.typeCount(), 3);
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("Ward"))), (QStringList{QStringLiteral("甲"), QStringLiteral("丙")}));
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("WARD"))), (QStringList{QStringLiteral("甲"), QStringLiteral("丙")}));
        QCOMPARE(childTexts(&m, typeNode(&m, QStringLiteral("内科"))), (QStringList{QStringLiteral("乙"), QStringLiteral("丁")}));
        QCOMPARE(m.recordCount(), 6);
    }

    void emptyCatalogShowsTheRecordsUnderTheUnlistedNode()
    {
        testing::TempArchive a;
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        a.addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        ArchiveTreeModel m;
        store::Connection c(a.path());
        m.load(c, {QStringLiteral("甲"), true, false, false, false});
        QCOMPARE(m.typeCount(), 1);
        QVERIFY(m.isUnlisted(m.typeIndex(0)));
        QCOMPARE(childTexts(&m, m.typeIndex(0)), QStringList{QStringLiteral("甲")});
        QCOMPARE(m.searchNote(), QStringLiteral("查询：甲，找到 1 条"));
        // A search that finds none of them leaves the node out.
        m.load(c, {QStringLiteral("丙"), true, false, false, false});
        QCOMPARE(m.typeCount(), 0);
        QCOMPARE(m.searchNote(), QStringLiteral("查询：丙，找到 0 条"));
    }

    void forEachRecordReadsEveryRecordWithItsType()
    {
        testing::TempArchive a;
        a.addRecord(QStringLiteral("内科"), QStringLiteral("2"), QStringLiteral("乙"));
        a.addRecord(QStringLiteral("无此类"), QStringLiteral("1"), QStringLiteral("甲 100%"));
        a.exec(QStringLiteral("INSERT INTO Detail (type_Name, \"病案号\", \"文件名\") VALUES (NULL, '3', '丙')"));
        store::Connection c(a.path());
        QStringList rows;
        store::forEachRecord(c, {}, [&rows](const QString &type, const store::RecordHead &h) {
            rows << type + QLatin1Char('|') + h.number + QLatin1Char('|') + h.name;
        });
        QCOMPARE(rows, (QStringList{QStringLiteral("内科|2|乙"), QStringLiteral("无此类|1|甲 100%"), QStringLiteral("|3|丙")}));
        rows.clear();
        store::forEachRecord(c, {QStringLiteral("0%"), true, false, false, false},
                             [&rows](const QString &type, const store::RecordHead &) { rows << type; });
        QCOMPARE(rows, QStringList{QStringLiteral("无此类")});
    }

    void screenshot()
    {
        testing::ScriptedPlatform platform;
        auto d = openSearch();
        textBox(d.get())->setText(QStringLiteral("阑尾炎"));
        box(d.get(), 2)->setChecked(false);
        // Every caption whole: each control at least as large as its text needs.
        for (int i = 1; i <= 4; ++i)
            QVERIFY(box(d.get(), i)->sizeHint().width() <= box(d.get(), i)->width());
        auto *label = testing::child<QLabel>(d.get(), QStringLiteral("Label1"));
        QVERIFY(label->sizeHint().width() <= label->width());
        QVERIFY(testing::screenshot(d.get(), QStringLiteral("frmSearchForm")));
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
