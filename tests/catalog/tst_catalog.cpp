// Changing the record types in their window: adding, renaming and deleting a type, ending an
// entry with 取消 or Esc, changes the store fails, and names with an apostrophe stored before.
#include "CatalogFixture.h"

#include "trail/RecycleBin.h"

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestCatalog : public testing::CatalogFixture {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(TestCatalog)
#include "tst_catalog.moc"
