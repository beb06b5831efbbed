// The recycle bin's window: a deleted record restored with everything it had, under a new
// number when its own is taken, an entry restored elsewhere, purging, and the retention.
#include "HistoryWindowsFixture.h"

#include "records/ArchiveTreeModel.h"
#include "store/Settings.h"

#include <QFileInfo>

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using store::ChangeKind;

class TestHistoryWindows : public testing::HistoryWindowsFixture {
    Q_OBJECT

private slots:
    void aDeletedRecordComesBackWithEverythingItHad()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir files;
        const QString photo = testing::makePicture(files.path(), QStringLiteral("p.png"), 8, 8);
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("阑尾切除 <b>张三</b>"),
                             QStringLiteral("/病案/a.doc"), QStringLiteral("第一行\r\n第二行"),
                             {photo, QStringLiteral("/照片/二.jpg")});
        const qint64 rowId = rowIdOf(kNumber);
        const auto original = stateOf(rowId);
        QVERIFY(original);
        auto w = openBrowser();
        ArchiveTreeModel *m = w->treeModel();
        w->TreeView_NodeClick(m->index(0, 0, testing::typeNode(m, QStringLiteral("外科"))));
        platform.answer(Answer::Yes);
        w->MnuDeleteFile_Click();
        // The question is the one it always was.
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text,
                 QStringLiteral("真的要删除病案［阑尾切除 <b>张三</b>］吗？     \r\n [是/否]？     "));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("删除后将不能恢复!"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 0);
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 0);
        QVERIFY(QFileInfo::exists(photo));
        const auto binned = bin();
        QCOMPARE(binned.size(), 1);
        QVERIFY(binned[0].record == *original);
        QCOMPARE(binned[0].operatorName, kOperator);
        QCOMPARE(binned[0].workstation, kWorkstation);
        const auto deleted = trail();
        QCOMPARE(deleted.size(), 1);
        QCOMPARE(deleted[0].change.kind, ChangeKind::RecordDeleted);
        QVERIFY(deleted[0].change.before && *deleted[0].change.before == *original);

        // The bin shows it, as plain text.
        countReloads();
        frmRecycleBin dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("回收站"));
        QCOMPARE(dlg.lblCount->text(), QStringLiteral("回收站中共有 1 份病案。"));
        QCOMPARE(column(dlg.grdBin, 0), QStringList{QStringLiteral("阑尾切除 <b>张三</b>")});
        QCOMPARE(column(dlg.grdBin, 1), QStringList{kNumber});
        QCOMPARE(column(dlg.grdBin, 2), QStringList{QStringLiteral("外科")});
        QCOMPARE(column(dlg.grdBin, 4), QStringList{kOperator});
        QCOMPARE(column(dlg.grdBin, 5), QStringList{kWorkstation});
        platform.answer(Answer::Ok);
        dlg.cmdRestore->click();
        QCOMPARE(platform.boxes.last().text,
                 QStringLiteral("病案［阑尾切除 <b>张三</b>］（病案号 240101080000）已恢复。"));
        QCOMPARE(platform.boxes.last().title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes.last().icon, Icon::Information);
        QCOMPARE(dlg.grdBin->rowCount(), 0);
        QVERIFY(!dlg.cmdRestore->isEnabled());
        QVERIFY(!dlg.cmdPurge->isEnabled());
        // Same number, same row, every column and photo as it was.
        QCOMPARE(rowIdOf(kNumber), rowId);
        const auto restored = stateOf(rowId);
        QVERIFY(restored && *restored == *original);
        QCOMPARE(trail().last().change.kind, ChangeKind::RecordRestored);
        QCOMPARE(m_reloads, 0);
        dlg.accept(); // the browser shows it again once the window closes
        QCOMPARE(m_reloads, 1);
        w->close();
    }

    void aTakenNumberRestoresUnderANewOneAndATypeComesBack()
    {
        testing::ScriptedPlatform platform;
        m_archive->addType(QStringLiteral("眼科"));
        m_archive->addRecord(QStringLiteral("眼科"), kNumber, QStringLiteral("甲"));
        {
            store::Connection c(m_archive->path());
            store::Transaction t(c);
            QCOMPARE(store::moveRecordsOfTypeToBin(c, app::currentActor(), QStringLiteral("眼科")), 1);
            store::deleteTypeFromCatalog(c, QStringLiteral("眼科"));
            t.commit();
        }
        // Meanwhile another record took the number and the row (as the file gives the row to
        // the next record): under its own number it would be taken for the other.
        m_archive->exec(QStringLiteral("INSERT INTO Detail (rowid, type_Name, \"病案号\", \"文件名\") VALUES (?, ?, ?, ?)"),
                        {bin().at(0).record.row.rowId, QStringLiteral("外科"), kNumber, QStringLiteral("乙")});
        frmRecycleBin dlg;
        platform.answer(Answer::Ok);
        dlg.cmdRestore_Click();
        QCOMPARE(platform.boxes.size(), 1);
        const QString text = platform.boxes[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("病案［甲］（病案号 240101080000）已恢复。原病案号已被占用，改用新病案号 ")),
                 qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("。病案类别［眼科］已重新建立。")), qPrintable(text));
        const QString newNumber = text.section(QStringLiteral("改用新病案号 "), 1).section(QStringLiteral("。"), 0, 0);
        QVERIFY(newNumber != kNumber && !newNumber.isEmpty());
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 2);
        QCOMPARE(rowIdOf(newNumber) != 0, true);
        QCOMPARE(m_archive->count(QStringLiteral("Catalog"), QStringLiteral("Name = ?"), {QStringLiteral("眼科")}), 1);
    }

    void anEntryRestoredElsewhereIsToldAndNotRestoredTwice()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("甲"));
        moveToBin(kNumber);
        frmRecycleBin dlg;
        {
            store::Connection c(m_archive->path());
            store::Transaction t(c);
            QVERIFY(store::restoreFromBin(c, app::currentActor(), bin().at(0).id).restored);
            t.commit();
        }
        platform.answer(Answer::Ok);
        dlg.cmdRestore->click();
        QCOMPARE(platform.boxes[0].text,
                 QStringLiteral("病案［甲］（病案号 240101080000）已不在回收站中，可能已在别的工作站恢复或彻底删除。"));
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 1);
        QCOMPARE(dlg.grdBin->rowCount(), 0);
    }

    void purgeAsksTwiceAndLeavesTheFiles()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir files;
        const QString photo = testing::makePicture(files.path(), QStringLiteral("p.png"), 8, 8);
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("甲"), QString(), QString(), {photo});
        moveToBin(kNumber);
        frmRecycleBin dlg;
        const QString first = QStringLiteral("真的要彻底删除病案［甲］（病案号 240101080000）吗？(Y/N)");
        const QString second =
            QStringLiteral("彻底删除后，病案［甲］（病案号 240101080000）再也不能恢复，只在历史记录中留下它的内容。确定吗？(Y/N)");

        platform.answer(Answer::No);
        dlg.cmdPurge->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, first);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("确认"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        QCOMPARE(platform.boxes[0].defaultButton, Answer::No);
        QCOMPARE(bin().size(), 1);

        platform.answer(Answer::Yes);
        platform.answer(Answer::No);
        dlg.cmdPurge->click();
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(platform.boxes[2].text, second);
        QCOMPARE(platform.boxes[2].title, QStringLiteral("请确认..."));
        QCOMPARE(platform.boxes[2].defaultButton, Answer::No);
        QCOMPARE(bin().size(), 1);

        platform.answer(Answer::Yes);
        platform.answer(Answer::Yes);
        dlg.cmdPurge->click();
        QCOMPARE(platform.boxes.size(), 5);
        QCOMPARE(bin().size(), 0);
        QCOMPARE(dlg.grdBin->rowCount(), 0);
        QCOMPARE(dlg.lblCount->text(), QStringLiteral("回收站中共有 0 份病案。"));
        QVERIFY(QFileInfo::exists(photo));
        const auto entries = trail();
        QCOMPARE(entries.last().change.kind, ChangeKind::RecordPurged);
        QCOMPARE(entries.last().change.number, kNumber);
        // Nothing chosen: nothing asked.
        dlg.cmdPurge_Click();
        QCOMPARE(platform.boxes.size(), 5);
    }

    void theRetentionIsOfferedOnlyPastItsDays()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("甲"));
        moveToBin(kNumber);
        const QDateTime deleted = bin().at(0).deletedAt;
        QVERIFY(deleted.isValid());
        frmRecycleBin dlg;

        // No setting: nothing is ever offered, however old.
        frmRecycleBin::clock = [deleted] { return deleted.addDays(3650); };
        dlg.offerToEmptyOld();
        QVERIFY(platform.boxes.isEmpty());

        settings::write(frmRecycleBin::kSection, frmRecycleBin::kRetentionKey, QStringLiteral("30"));
        // Exactly 30 days: not older yet.
        frmRecycleBin::clock = [deleted] { return deleted.addDays(30); };
        dlg.offerToEmptyOld();
        QVERIFY(platform.boxes.isEmpty());

        frmRecycleBin::clock = [deleted] { return deleted.addDays(30).addSecs(1); };
        platform.answer(Answer::No);
        dlg.offerToEmptyOld();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("回收站中有 1 份病案删除已超过 30 天。要把它们彻底删除吗？(Y/N)"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("回收站"));
        QCOMPARE(platform.boxes[0].buttons, Buttons::YesNo);
        QCOMPARE(platform.boxes[0].defaultButton, Answer::No);
        QCOMPARE(bin().size(), 1);

        platform.answer(Answer::Yes);
        dlg.offerToEmptyOld();
        QCOMPARE(bin().size(), 0);
        QCOMPARE(dlg.grdBin->rowCount(), 0);
        QCOMPARE(trail().last().change.kind, ChangeKind::RecordPurged);

        // A retention of nothing sensible offers nothing.
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        moveToBin(QStringLiteral("240101080001"));
        for (const char *value : {"0", "-5", "abc"}) {
            settings::write(frmRecycleBin::kSection, frmRecycleBin::kRetentionKey, QLatin1String(value));
            dlg.offerToEmptyOld();
        }
        QCOMPARE(platform.boxes.size(), 2);
    }

    void theBinWindowAsDrawn()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("阑尾切除术 张三"));
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("240101080001"), QStringLiteral("肺炎 李四"));
        moveToBin(kNumber);
        moveToBin(QStringLiteral("240101080001"));
        frmRecycleBin dlg;
        dlg.show();
        QCOMPARE(dlg.grdBin->rowCount(), 2);
        // Newest deletion first.
        QCOMPARE(column(dlg.grdBin, 0), (QStringList{QStringLiteral("肺炎 李四"), QStringLiteral("阑尾切除术 张三")}));
        verifyCaptionsWhole(&dlg);
        QVERIFY(testing::screenshot(&dlg, QStringLiteral("frmRecycleBin")));
    }
};

QTEST_MAIN(TestHistoryWindows)
#include "tst_history_windows.moc"
