// The search window: as it opens, its text and boxes, Enter, the access key, the message
// when nothing is ticked, closing and where it is kept; and the browser's side: the window
// opened modally, the search in force shown until cleared, a deletion that clears it.
#include "SearchFixture.h"

#include "platform/Twips.h"
#include "store/Settings.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

using testing::typeNode;

class TestSearch : public testing::SearchFixture {
    Q_OBJECT

private slots:
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
