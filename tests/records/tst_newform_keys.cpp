// Typing into a new record: the chosen path kept whole and the lengths typing is held to, the
// focused field's colours and selection, the apostrophe's message, arrow keys and Enter.
#include "NewFormFixture.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestNewFormKeys : public testing::NewFormFixture {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(TestNewFormKeys)
#include "tst_newform_keys.moc"
