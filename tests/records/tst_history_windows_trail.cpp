// The windows over the trail: a record's history, the whole trail with its filters, pages,
// sort and export, and the browser's menu that opens them and the recycle bin.
#include "HistoryWindowsFixture.h"

#include "records/ArchiveTreeModel.h"
#include "records/frmHistory.h"
#include "records/frmRecordHistory.h"
#include "store/Settings.h"

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>

using platform::Answer;
using platform::Icon;
using store::ChangeKind;

namespace {

QSet<QString> distinct(const QStringList &l) { return QSet<QString>(l.begin(), l.end()); }

} // namespace

class TestHistoryWindowsTrail : public testing::HistoryWindowsFixture {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ a record's history

    void aRecordsHistoryNewestFirstWithTheChangedFieldsMarked()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("甲"), QStringLiteral("/a.doc"),
                             QStringLiteral("说明"), {QStringLiteral("/p1.jpg")});
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("别的"));
        const qint64 rowId = rowIdOf(kNumber);
        const auto first = stateOf(rowId);
        auto second = *first;
        second.row.name = QStringLiteral("<i>乙</i>");
        second.photos << QStringLiteral("/p2.jpg");

        store::Change added;
        added.kind = ChangeKind::RecordAdded;
        added.number = kNumber;
        added.rowId = rowId;
        added.after = first;
        append(added, QStringLiteral("甲操作员"));
        store::Change other = added;
        other.number = QStringLiteral("240101080001");
        other.rowId = rowIdOf(other.number);
        other.after = stateOf(other.rowId);
        append(other);
        store::Change modified;
        modified.kind = ChangeKind::RecordModified;
        modified.number = kNumber;
        modified.rowId = rowId;
        modified.before = first;
        modified.after = second;
        append(modified);
        store::Change printed;
        printed.kind = ChangeKind::RecordPrinted;
        printed.number = kNumber;
        printed.rowId = rowId;
        printed.detail = QStringLiteral("2 页");
        append(printed);

        frmRecordHistory dlg(kNumber, rowId, QStringLiteral("甲"));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("历史记录 - 病案 240101080000"));
        QCOMPARE(dlg.lblRecord->text(), QStringLiteral("病案：甲　病案号：240101080000"));
        QCOMPARE(dlg.lblRecord->textFormat(), Qt::PlainText);
        QCOMPARE(column(dlg.grdEntries, 1),
                 (QStringList{store::changeKindText(ChangeKind::RecordPrinted),
                              store::changeKindText(ChangeKind::RecordModified),
                              store::changeKindText(ChangeKind::RecordAdded)}));
        QCOMPARE(column(dlg.grdEntries, 2), (QStringList{kOperator, kOperator, QStringLiteral("甲操作员")}));
        QCOMPARE(column(dlg.grdEntries, 3), (QStringList{kWorkstation, kWorkstation, kWorkstation}));
        QCOMPARE(column(dlg.grdEntries, 4),
                 (QStringList{QStringLiteral("2 页"), QStringLiteral("改动：病案名称、手术照片"), QString()}));

        // The newest is chosen: a print changes no field.
        QCOMPARE(dlg.grdEntries->currentRow(), 0);
        QCOMPARE(dlg.grdFields->rowCount(), 0);
        dlg.grdEntries->selectRow(1);
        QCOMPARE(dlg.grdFields->rowCount(), 6);
        QStringList marked;
        for (int r = 0; r < 6; ++r) {
            const bool highlighted = dlg.grdFields->item(r, 1)->background().color() == frmRecordHistory::kChangedColour;
            QCOMPARE(dlg.grdFields->item(r, 2)->background().color() == frmRecordHistory::kChangedColour, highlighted);
            if (highlighted)
                marked << dlg.grdFields->item(r, 0)->text();
        }
        QCOMPARE(marked, (QStringList{QStringLiteral("病案名称"), QStringLiteral("手术照片")}));
        QCOMPARE(dlg.grdFields->item(2, 1)->text(), QStringLiteral("甲"));
        QCOMPARE(dlg.grdFields->item(2, 2)->text(), QStringLiteral("<i>乙</i>"));
        QCOMPARE(dlg.grdFields->item(5, 2)->text(), QStringLiteral("/p1.jpg\n/p2.jpg"));
        // The addition: every field it has is new.
        dlg.grdEntries->selectRow(2);
        QCOMPARE(dlg.grdFields->item(2, 1)->text(), QString());
        QCOMPARE(dlg.grdFields->item(2, 2)->text(), QStringLiteral("甲"));
        QVERIFY(dlg.grdFields->item(2, 2)->background().color() == frmRecordHistory::kChangedColour);
        dlg.show();
        verifyCaptionsWhole(&dlg);
        QVERIFY(testing::screenshot(&dlg, QStringLiteral("frmRecordHistory")));
    }

    // ------------------------------------------------------------ the whole trail

    void theTrailFiltersPagesAndSorts()
    {
        testing::ScriptedPlatform platform;
        {
            // 450 entries: alice adds records, bob prints them; every tenth names 240101080000.
            store::Connection c(m_archive->path());
            store::Transaction t(c);
            for (int i = 0; i < 450; ++i) {
                store::Change ch;
                ch.kind = i % 2 ? ChangeKind::RecordPrinted : ChangeKind::RecordAdded;
                ch.number = i % 10 == 0 ? kNumber : QStringLiteral("2402%1").arg(i, 8, 10, QLatin1Char('0'));
                store::appendHistory(c, store::Actor{i % 2 ? QStringLiteral("bob") : QStringLiteral("alice"),
                                                     i % 3 ? kWorkstation : QStringLiteral("护士站")},
                                     ch);
            }
            t.commit();
        }
        frmHistory dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("操作历史"));
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/3 页，共 450 条"));
        QCOMPARE(dlg.grdTrail->rowCount(), frmHistory::kPageSize);
        QVERIFY(!dlg.cmdPrevious->isEnabled());
        QVERIFY(dlg.cmdNext->isEnabled());
        dlg.cmdNext->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 2/3 页，共 450 条"));
        dlg.cmdNext->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 3/3 页，共 450 条"));
        QCOMPARE(dlg.grdTrail->rowCount(), 50);
        QVERIFY(!dlg.cmdNext->isEnabled());
        dlg.cmdNext_Click(); // past the last page: stays
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 3/3 页，共 450 条"));
        dlg.cmdPrevious->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 2/3 页，共 450 条"));

        // A filter starts again from the first page.
        dlg.txtOperator->setText(QStringLiteral("BOB"));
        dlg.cmdQuery->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/2 页，共 225 条"));
        QCOMPARE(distinct(column(dlg.grdTrail, 1)), QSet<QString>{QStringLiteral("bob")});
        dlg.txtOperator->clear();
        dlg.cmbKind->setCurrentText(store::changeKindText(ChangeKind::RecordAdded));
        dlg.txtRecord->setText(kNumber);
        dlg.cmdQuery->click();
        // Numbers 0, 10, ..., 440 that are even: all of them (every tenth is even).
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 45 条"));
        QCOMPARE(distinct(column(dlg.grdTrail, 4)), QSet<QString>{kNumber});
        QCOMPARE(distinct(column(dlg.grdTrail, 3)), QSet<QString>{store::changeKindText(ChangeKind::RecordAdded)});
        QVERIFY(!dlg.cmdNext->isEnabled());

        // Sorting by a header: the operator column from A, then the other way round.
        dlg.cmbKind->setCurrentIndex(0);
        dlg.txtRecord->clear();
        dlg.cmdQuery->click();
        dlg.header_Clicked(1);
        QCOMPARE(dlg.query().sortBy, store::HistoryQuery::Column::Operator);
        QVERIFY(!dlg.query().descending);
        QCOMPARE(dlg.grdTrail->item(0, 1)->text(), QStringLiteral("alice"));
        dlg.header_Clicked(1);
        QVERIFY(dlg.query().descending);
        QCOMPARE(dlg.grdTrail->item(0, 1)->text(), QStringLiteral("bob"));
        QCOMPARE(dlg.grdTrail->horizontalHeader()->sortIndicatorSection(), 1);
        // The description column sorts nothing: the sort in force stays.
        dlg.header_Clicked(5);
        QCOMPARE(dlg.query().sortBy, store::HistoryQuery::Column::Operator);
        QCOMPARE(dlg.grdTrail->horizontalHeader()->sortIndicatorSection(), 1);
        // Time, newest first, is what a click on it gives.
        dlg.header_Clicked(0);
        QCOMPARE(dlg.query().sortBy, store::HistoryQuery::Column::When);
        QVERIFY(dlg.query().descending);
    }

    void theTimeSpanFilter()
    {
        testing::ScriptedPlatform platform;
        store::Change ch;
        ch.kind = ChangeKind::TypeAdded;
        ch.subject = QStringLiteral("外科");
        append(ch);
        const QDateTime when = trail().at(0).when;
        frmHistory dlg;
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 1 条"));
        QCOMPARE(dlg.grdTrail->item(0, 5)->text(), QStringLiteral("外科"));
        dlg.chkFrom->setChecked(true);
        QVERIFY(dlg.dtFrom->isEnabled());
        dlg.dtFrom->setDateTime(when.toLocalTime().addSecs(60));
        dlg.cmdQuery->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 0 条"));
        QVERIFY(!dlg.cmdExport->isEnabled());
        dlg.dtFrom->setDateTime(when.toLocalTime().addSecs(-60));
        dlg.chkTo->setChecked(true);
        dlg.dtTo->setDateTime(when.toLocalTime().addSecs(60));
        dlg.cmdQuery->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 1 条"));
        dlg.dtTo->setDateTime(when.toLocalTime().addSecs(-30));
        dlg.cmdQuery->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 0 条"));
        // Unticked, the end is open again.
        dlg.chkFrom->setChecked(false);
        dlg.chkTo->setChecked(false);
        dlg.cmdQuery->click();
        QCOMPARE(dlg.lblPage->text(), QStringLiteral("第 1/1 页，共 1 条"));
    }

    void theExportIsUtf8WithABomAndHarmlessInASpreadsheet()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("=HYPERLINK(\"http://x\")"));
        store::Change added;
        added.kind = ChangeKind::RecordAdded;
        added.number = kNumber;
        added.rowId = rowIdOf(kNumber);
        added.after = stateOf(added.rowId);
        append(added, QStringLiteral("@王五"));
        store::Change type;
        type.kind = ChangeKind::TypeAdded;
        type.subject = QStringLiteral("-内科");
        append(type);

        frmHistory dlg;
        // Cancelled: nothing written, nothing said.
        platform.answerFile(QString());
        dlg.cmdExport->click();
        QCOMPARE(platform.fileRequests.size(), 1);
        QVERIFY(platform.fileRequests[0].save);
        QCOMPARE(platform.fileRequests[0].caption, QStringLiteral("导出操作历史"));
        QCOMPARE(platform.fileRequests[0].filter, QStringLiteral("CSV 文件 (*.csv)"));
        QVERIFY(platform.boxes.isEmpty());

        const QString path = m_archive->folder() + QStringLiteral("/操作历史.csv");
        platform.answerFile(path);
        platform.answer(Answer::Ok);
        dlg.cmdExport->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("已把 2 条操作历史导出到文件 ") + QDir::toNativeSeparators(path)
                                             + QStringLiteral("。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF\"序号\",\"时间(UTC)\""));
        const QString text = QString::fromUtf8(bytes.mid(3));
        QCOMPARE(text.count(QStringLiteral("\r\n")), 3);
        QVERIFY(text.contains(QStringLiteral("\"'@王五\"")));
        QVERIFY(text.contains(QStringLiteral("\"'-内科\"")));
        QVERIFY(text.contains(QStringLiteral("病案名称==HYPERLINK(\"\"http://x\"\")")));
        QVERIFY(!text.contains(QStringLiteral("\"=")));

        // The filter in force decides what goes.
        dlg.txtOperator->setText(kOperator);
        dlg.cmdQuery->click();
        platform.answerFile(path);
        platform.answer(Answer::Ok);
        dlg.cmdExport->click();
        QCOMPARE(platform.boxes[1].text, QStringLiteral("已把 1 条操作历史导出到文件 ") + QDir::toNativeSeparators(path)
                                             + QStringLiteral("。"));

        // A folder that is not there: told, and nothing left behind.
        const QString nowhere = m_archive->folder() + QStringLiteral("/无此目录/a.csv");
        platform.answerFile(nowhere);
        platform.answer(Answer::Ok);
        dlg.cmdExport->click();
        QCOMPARE(platform.boxes[2].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[2].icon, Icon::Critical);
        QVERIFY2(platform.boxes[2].text.startsWith(QStringLiteral("文件 ") + QDir::toNativeSeparators(nowhere)
                                                   + QStringLiteral(" 无法写入：")),
                 qPrintable(platform.boxes[2].text));
        QVERIFY(!QFileInfo::exists(nowhere));

        dlg.show();
        dlg.grdTrail->selectRow(0);
        verifyCaptionsWhole(&dlg);
        QVERIFY(testing::screenshot(&dlg, QStringLiteral("frmHistory")));
    }

    // ------------------------------------------------------------ the browser's menu

    void theMenuOffersTheTrailAndTheBinToSuperUsersOnly()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("甲"));
        auto w = openBrowser();
        QMenu *menu = testing::child<QMenu>(w.get(), QStringLiteral("MnuControl"));
        auto *recordHistory = testing::child<QAction>(w.get(), QStringLiteral("MnuRecordHistory"));
        auto *history = testing::child<QAction>(w.get(), QStringLiteral("MnuHistory"));
        auto *recycleBin = testing::child<QAction>(w.get(), QStringLiteral("MnuRecycleBin"));
        QCOMPARE(recordHistory->text(), QStringLiteral("&H 历史记录..."));
        QCOMPARE(history->text(), QStringLiteral("&J 操作历史..."));
        QCOMPARE(recycleBin->text(), QStringLiteral("&G 回收站..."));

        emit menu->aboutToShow();
        QVERIFY(!recordHistory->isEnabled()); // no record chosen
        QVERIFY(history->isVisible());
        QVERIFY(recycleBin->isVisible());
        w->MnuRecordHistory_Click();
        QVERIFY(platform.modals.isEmpty());

        ArchiveTreeModel *m = w->treeModel();
        w->TreeView_NodeClick(m->index(0, 0, testing::typeNode(m, QStringLiteral("外科"))));
        emit menu->aboutToShow();
        QVERIFY(recordHistory->isEnabled());
        QString title;
        platform.onModal = [&](QDialog &d) {
            title = d.windowTitle();
            return int(QDialog::Rejected);
        };
        recordHistory->trigger();
        QCOMPARE(title, QStringLiteral("历史记录 - 病案 240101080000"));
        history->trigger();
        recycleBin->trigger();
        QCOMPARE(platform.modals, (QStringList{QStringLiteral("frmRecordHistory"), QStringLiteral("frmHistory"),
                                               QStringLiteral("frmRecycleBin")}));

        // The browser's bin asks about old entries as it opens.
        moveToBin(kNumber);
        settings::write(frmRecycleBin::kSection, frmRecycleBin::kRetentionKey, QStringLiteral("7"));
        frmRecycleBin::clock = [] { return QDateTime::currentDateTimeUtc().addDays(8); };
        platform.answer(Answer::No);
        recycleBin->trigger();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("回收站中有 1 份病案删除已超过 7 天。要把它们彻底删除吗？(Y/N)"));
        QCOMPARE(platform.modals.size(), 4);

        for (const char *level : {"可以修改", "只能修改", "只能添加", "超级权限!"}) {
            app::CurrentAuthority = QString::fromUtf8(level);
            emit menu->aboutToShow();
            QVERIFY2(!history->isVisible(), level);
            QVERIFY2(!recycleBin->isVisible(), level);
            w->MnuHistory_Click();
            w->MnuRecycleBin_Click();
        }
        QCOMPARE(platform.modals.size(), 4);
        // A record's own history: for everyone who may see the record.
        app::CurrentAuthority = QStringLiteral("可以修改");
        emit menu->aboutToShow();
        QVERIFY(recordHistory->isEnabled());
        app::CurrentAuthority = QStringLiteral("只能添加");
        emit menu->aboutToShow();
        QVERIFY(!recordHistory->isEnabled());
        w->MnuRecordHistory_Click();
        QCOMPARE(platform.modals.size(), 4);
        w->close();
    }
};

QTEST_MAIN(TestHistoryWindowsTrail)
#include "tst_history_windows_trail.moc"
