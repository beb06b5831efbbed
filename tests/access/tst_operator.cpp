// The operator window: as drawn, its keys and when it may save, where it is kept, the grid's
// menu and deleting operators, and a delete or a load that fails.
#include "OperatorFixture.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestOperator : public testing::OperatorFixture {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ the window

    void windowAsDrawn()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("#口令 a#")),
                               QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("李四"), QStringLiteral("^_`"), QStringLiteral("超级权限!"));
        auto w = openWindow();
        QCOMPARE(w->objectName(), QStringLiteral("frmOperator"));
        QCOMPARE(w->windowTitle(), QStringLiteral("操作员设置"));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->width() >= 404 && w->height() >= 240);

        QCOMPARE(w->Picture1->toolTip(), QStringLiteral("操作提示"));
        QCOMPARE(w->Picture1->palette().color(QPalette::Window), QColor(37, 148, 160));
        QCOMPARE(w->Label7->text(), QStringLiteral("删除存在的帐号："));
        QCOMPARE(w->Label8->text(), QStringLiteral("双击选定的帐号"));
        QCOMPARE(w->Label6->text(), QStringLiteral("添加新的帐号"));
        QCOMPARE(w->Label5->text(), QStringLiteral("输入各项之后,按保存"));
        QCOMPARE(w->Label7->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(w->Label6->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(w->Label5->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w->Frame1->title(), QStringLiteral("操作员列表"));
        QCOMPARE(w->Frame1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(w->Label1->text(), QStringLiteral("姓名："));
        QCOMPARE(w->Label2->text(), QStringLiteral("口令："));
        QCOMPARE(w->Label3[0]->objectName(), QStringLiteral("Label3(0)"));
        QCOMPARE(w->Label3[0]->text(), QStringLiteral("重复："));
        QCOMPARE(w->Label3[1]->text(), QStringLiteral("权限："));
        QCOMPARE(w->Label3[1]->palette().color(QPalette::WindowText), QColor(192, 0, 0));
        QCOMPARE(w->Command1->text(), QStringLiteral("保存(S)"));
        QCOMPARE(w->Command2->text(), QStringLiteral("关闭(&C)"));
        QVERIFY(!w->Command1->isEnabled());

        // The grid: three centred headers, the twip widths, n + 4 rows with the header row.
        QCOMPARE(w->Grid1->toolTip(), QStringLiteral("双击显示菜单!"));
        QCOMPARE(w->Grid1->columnCount(), 3);
        const QStringList headers{QStringLiteral(" 操作员 "), QStringLiteral("  口令 "), QStringLiteral(" 权限 ")};
        const int widths[] = {53, 81, 75};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(w->Grid1->horizontalHeaderItem(i)->text(), headers[i]);
            QCOMPARE(w->Grid1->horizontalHeader()->defaultAlignment() & Qt::AlignHCenter, Qt::AlignHCenter);
            QVERIFY(w->Grid1->columnWidth(i) >= widths[i]);
        }
        QVERIFY(w->Grid1->verticalHeader()->isHidden());
        QCOMPARE(w->operatorCount(), 3);
        QCOMPARE(w->Grid1->rowCount() + 1, 3 + 4);
        QCOMPARE(gridColumn(*w, 0), (QStringList{QStringLiteral("管理员"), QStringLiteral("张三"),
                                                 QStringLiteral("李四"), QString(), QString(), QString()}));
        // Never a password: a mask for one that is set, nothing for the empty one.
        QCOMPARE(gridColumn(*w, 1).mid(0, 3),
                 (QStringList{QString(), QStringLiteral("******"), QStringLiteral("******")}));
        QCOMPARE(gridColumn(*w, 2).mid(0, 3), (QStringList{QStringLiteral("超级权限"), QStringLiteral("可以修改"),
                                                           QStringLiteral("超级权限!")}));
        QCOMPARE(w->Grid1->currentRow(), 0);
        QCOMPARE(w->Grid1->currentColumn(), 0);
        QCOMPARE(w->Grid1->selectionModel()->selectedIndexes().size(), 3);
        QCOMPARE(w->Grid1->editTriggers(), QAbstractItemView::NoEditTriggers);

        // Entry fields.
        QCOMPARE(w->Text1->maxLength(), 5);
        for (QLineEdit *e : {w->Text2, w->Text3}) {
            QCOMPARE(e->maxLength(), 32767); // a long password is refused on saving, never cut
            QCOMPARE(e->echoMode(), QLineEdit::Password);
            QCOMPARE(e->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, e), int('*'));
            QVERIFY(!e->testAttribute(Qt::WA_InputMethodEnabled));
        }
        QVERIFY(!w->cmbAuthority->isEditable());
        QCOMPARE(w->cmbAuthority->count(), 4);
        const QStringList levels{QStringLiteral("只能添加"), QStringLiteral("不能修改"), QStringLiteral("可以修改"),
                                 QStringLiteral("超级权限!")};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w->cmbAuthority->itemText(i), levels[i]);
        QCOMPARE(w->cmbAuthority->currentText(), QStringLiteral("只能添加"));

        // The menu.
        QCOMPARE(w->MnuOperate->title(), QStringLiteral("帐号操作"));
        QCOMPARE(w->MnuAdd->text(), QStringLiteral("添加帐号[&A]"));
        QCOMPARE(w->MnuAdd->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
        QCOMPARE(w->MnuDelete->text(), QStringLiteral("删除帐号[&D] ..."));
        QCOMPARE(w->MnuDelete->shortcut(), QKeySequence(Qt::Key_Delete));
        const QList<QAction *> items = w->MnuOperate->actions();
        QCOMPARE(items.size(), 3);
        QVERIFY(items[1]->isSeparator());

        // Every caption whole: labels, buttons, the frame's title, the headers, the levels.
        for (QLabel *l : {w->Label1, w->Label2, w->Label3[0], w->Label3[1], w->Label5, w->Label6, w->Label7, w->Label8})
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(),
                     qPrintable(l->objectName()));
        for (QLabel *l : {w->Label5, w->Label6, w->Label7, w->Label8})
            QVERIFY2(w->Picture1->rect().contains(l->geometry()), qPrintable(l->objectName()));
        for (QPushButton *b : {w->Command1, w->Command2})
            QVERIFY2(b->width() >= b->sizeHint().width() && b->height() >= b->sizeHint().height(),
                     qPrintable(b->objectName()));
        QVERIFY(w->Frame1->width() > w->Frame1->fontMetrics().horizontalAdvance(w->Frame1->title()) + 20);
        for (int i = 0; i < 3; ++i)
            QVERIFY(w->Grid1->columnWidth(i) >= w->Grid1->horizontalHeader()->sectionSizeHint(i));
        QVERIFY(w->Grid1->viewport()->width() >= w->Grid1->horizontalHeader()->length());
        QVERIFY(w->cmbAuthority->width() >= w->cmbAuthority->sizeHint().width());
        QVERIFY(w->Frame1->rect().contains(w->Grid1->geometry()));
        QVERIFY(w->rect().contains(w->childrenRect()));
        // The entry fields stand right of the frame, side by side with their captions.
        QVERIFY(w->Label1->x() > w->Frame1->geometry().right());
        const std::pair<QLabel *, QWidget *> pairs[] = {
            {w->Label1, w->Text1}, {w->Label2, w->Text2}, {w->Label3[0], w->Text3}, {w->Label3[1], w->cmbAuthority}};
        for (const auto &[label, box] : pairs)
            QVERIFY2(box->x() > label->geometry().right(), qPrintable(label->objectName()));
        QVERIFY(w->Command1->y() > w->cmbAuthority->geometry().bottom());
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("frmOperator")));
    }

    void tabOrderEnterAndSaveEnabling()
    {
        auto w = openWindow();
        QTRY_VERIFY(w->Text1->hasFocus());
        // A name of blanks only cannot be saved, and Enter does not move on.
        QTest::keyClicks(w->Text1, QStringLiteral("   "));
        QVERIFY(!w->Command1->isEnabled());
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Text1->hasFocus());
        QTest::keyClicks(w->Text1, QStringLiteral("a"));
        QVERIFY(w->Command1->isEnabled());
        w->Text1->setText(QStringLiteral("  "));
        QVERIFY(!w->Command1->isEnabled());
        w->Text1->setText(QStringLiteral(" b "));
        QVERIFY(w->Command1->isEnabled());
        // Enter moves on as Tab does, and presses no button.
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Text2->hasFocus());
        QTest::keyClick(w->Text2, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(w->Text3->hasFocus());
        QTest::keyClick(w->Text3, Qt::Key_Return);
        QVERIFY(w->cmbAuthority->hasFocus());
        QTest::keyClick(w->cmbAuthority, Qt::Key_Return);
        QVERIFY(w->Command1->hasFocus());
        QTest::keyClick(w->Command1, Qt::Key_Tab);
        QVERIFY(w->Command2->hasFocus());
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QVERIFY(w->isVisible());
        QCOMPARE(m_platform->boxes.size(), 0);
    }

    void positionIsStoredOnClose()
    {
        {
            auto w = openWindow();
            QTest::mouseClick(w->Command2, Qt::LeftButton);
            QVERIFY(!w->isVisible());
            QCOMPARE(settings::read(QStringLiteral("Operator"), QStringLiteral("Left")), QString::number(w->x() * 15));
            QCOMPARE(settings::read(QStringLiteral("Operator"), QStringLiteral("Top")), QString::number(w->y() * 15));
        }
        settings::write(QStringLiteral("Operator"), QStringLiteral("Left"), QString());
        {
            auto w = openWindow();
            QTest::keyClick(w->Text1, Qt::Key_Escape);
            QVERIFY(!w->isVisible());
            QVERIFY(!settings::read(QStringLiteral("Operator"), QStringLiteral("Left")).isEmpty());
        }
        settings::write(QStringLiteral("Operator"), QStringLiteral("Left"), QString());
        {
            auto w = openWindow();
            QVERIFY(w->close());
            QVERIFY(!settings::read(QStringLiteral("Operator"), QStringLiteral("Left")).isEmpty());
        }
    }

    // ------------------------------------------------------------ grid, menu, delete

    void menuOnTheGrid()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("x")), QStringLiteral("可以修改"));
        auto w = openWindow();
        // A right click on an empty row: the menu opens with delete disabled.
        QTest::mouseClick(w->Grid1->viewport(), Qt::RightButton, {}, cellCentre(*w, 3));
        QTRY_VERIFY(w->MnuOperate->isVisible());
        QVERIFY(!w->MnuDelete->isEnabled());
        QVERIFY(w->MnuAdd->isEnabled());
        QCOMPARE(m_hints.last(), QStringLiteral("帐号删除、添加操作"));
        // 添加帐号 puts the focus into the name.
        QTest::mouseClick(w->MnuOperate, Qt::LeftButton, {}, w->MnuOperate->actionGeometry(w->MnuAdd).center());
        QTRY_VERIFY(!w->MnuOperate->isVisible());
        QTRY_VERIFY(w->Text1->hasFocus());

        // A left click only sets the rule; a double click opens the menu.
        QTest::mouseClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 1));
        QVERIFY(w->MnuDelete->isEnabled());
        QVERIFY(!w->MnuOperate->isVisible());
        QTest::mouseClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 2));
        QVERIFY(!w->MnuDelete->isEnabled());
        m_hints.clear();
        QTest::mouseDClick(w->Grid1->viewport(), Qt::LeftButton, {}, cellCentre(*w, 1));
        QTRY_VERIFY(w->MnuOperate->isVisible());
        QVERIFY(w->MnuDelete->isEnabled());
        QCOMPARE(m_hints, QStringList{QStringLiteral("帐号删除、添加操作")});
        // 删除帐号 asks first; No (the default) keeps the operator.
        m_platform->answer(Answer::No);
        QTest::mouseClick(w->MnuOperate, Qt::LeftButton, {}, w->MnuOperate->actionGeometry(w->MnuDelete).center());
        QTRY_COMPARE(m_platform->boxes.size(), 1);
        const testing::RecordedBox &b = m_platform->boxes[0];
        QCOMPARE(b.text, QStringLiteral("真的要删除[张三]操作员吗（Y/N）？"));
        QCOMPARE(b.title, QStringLiteral("确认删除"));
        QCOMPARE(b.buttons, Buttons::YesNo);
        QCOMPARE(b.icon, Icon::Critical);
        QCOMPARE(b.defaultButton, Answer::No);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);

        // The shortcuts work on the grid: Del deletes the selected operator, Ctrl+A goes
        // to the name.
        w->Grid1->setFocus();
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        QTest::keyClick(w->Grid1, Qt::Key_Delete);
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        w->Grid1->setFocus();
        QTest::keyClick(w->Grid1, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(w->Text1->hasFocus());
        // Del in a text box deletes a character, never an operator.
        w->Text1->setText(QStringLiteral("ab"));
        w->Text1->setCursorPosition(0);
        QTest::keyClick(w->Text1, Qt::Key_Delete);
        QCOMPARE(w->Text1->text(), QStringLiteral("b"));
    }

    void deleteWithTwoOperatorsThenOne()
    {
        m_archive->addOperator(QStringLiteral("张三"), access::storedForm(QStringLiteral("x")), QStringLiteral("可以修改"));
        auto w = openWindow();
        QCOMPARE(w->operatorCount(), 2);
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        w->MnuDelete_Click();
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        QCOMPARE(w->operatorCount(), 1);
        QCOMPARE(w->Grid1->rowCount() + 1, 1 + 4);
        QCOMPARE(gridColumn(*w, 0).at(1), QString());

        // The last one cannot go.
        selectRow(*w, 0);
        m_platform->answer(Answer::Ok);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
        const testing::RecordedBox &b = m_platform->boxes[1];
        QCOMPARE(b.text, QStringLiteral("仅剩下当前用户了,不能继续,请注意!    "));
        QCOMPARE(b.title, QStringLiteral("不能删除"));
        QCOMPARE(b.icon, Icon::Question);
        QCOMPARE(b.buttons, Buttons::Ok);
        QCOMPARE(m_archive->count(QStringLiteral("User")), 1);
        // An empty row: nothing asked.
        selectRow(*w, 2);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
    }

    void deletingTheLoggedInOperator()
    {
        QCOMPARE(login(QStringLiteral("管理员"), QString()), QStringLiteral("超级权限"));
        // Another operator who may manage operators (the admin tool gives that level).
        m_archive->addOperator(QStringLiteral("接班"), QString(), QStringLiteral("超级权限"));
        auto w = openWindow();
        selectRow(*w, 0);
        m_platform->answer(Answer::Yes);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].text, QStringLiteral("真的要删除[管理员]操作员吗（Y/N）？"));
        // Allowed: the window stays open, the session keeps its level.
        QVERIFY(w->isVisible());
        QCOMPARE(app::CurrentAuthority, QStringLiteral("超级权限"));
        QCOMPARE(gridColumn(*w, 0).mid(0, 2), (QStringList{QStringLiteral("接班"), QString()}));
        w->close();
        frmLogin login;
        QCOMPARE(login.UserTxt->count(), 1);
        QCOMPARE(login.UserTxt->itemText(0), QStringLiteral("接班"));
    }

    // ------------------------------------------------------------ failures

    void failingDeleteIsReportedAndRolledBack()
    {
        // The row goes, then the store fails within the same statement (on the file the
        // statement keeps what it had done): only the rollback brings the row back.
        m_archive->addOperator(QStringLiteral("abc"), access::storedForm(QStringLiteral("1")), QStringLiteral("可以修改"));
        m_archive->addOperator(QStringLiteral("ABC"), access::storedForm(QStringLiteral("2")), QStringLiteral("可以修改"));
        m_archive->failWrites(QStringLiteral("keep"), QStringLiteral("AFTER DELETE ON \"User\""),
                              QStringLiteral("模拟的删除故障"), QStringLiteral("OLD.UID = 'abc'"), true);
        auto w = openWindow();
        selectRow(*w, 1);
        m_platform->answer(Answer::Yes);
        m_platform->answer(Answer::Ok);
        w->MnuDelete_Click();
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("错误提示"));
        QCOMPARE(m_platform->boxes[1].icon, Icon::Critical);
        QVERIFY(m_platform->boxes[1].text.contains(QStringLiteral("模拟的删除故障")));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 3);
        QCOMPARE(gridColumn(*w, 0).mid(0, 3),
                 (QStringList{QStringLiteral("管理员"), QStringLiteral("abc"), QStringLiteral("ABC")}));
        QCOMPARE(w->operatorCount(), 3);
    }

    void failingLoadIsReported()
    {
        app::DbPath = m_program->filePath(QStringLiteral("gone.dat"));
        m_platform->answer(Answer::Ok);
        auto w = openWindow();
        QCOMPARE(m_platform->boxes.size(), 1);
        QCOMPARE(m_platform->boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(m_platform->boxes[0].icon, Icon::Critical);
        QVERIFY(m_platform->boxes[0].text.contains(QStringLiteral("gone.dat")));
        QCOMPARE(w->operatorCount(), 0);
        QCOMPARE(gridColumn(*w, 0), (QStringList{QString(), QString(), QString()}));
        QCOMPARE(w->cmbAuthority->currentIndex(), 0);
        // A save into the missing archive is reported too, and creates no file.
        m_platform->answer(Answer::Ok);
        add(*w, QStringLiteral("甲"), QString());
        QCOMPARE(m_platform->boxes.size(), 2);
        QCOMPARE(m_platform->boxes[1].title, QStringLiteral("错误提示"));
        QVERIFY(!QFile::exists(app::DbPath));
    }
};

QTEST_MAIN(TestOperator)
#include "tst_operator.moc"
