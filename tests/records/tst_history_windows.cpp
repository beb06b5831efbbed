// The windows over the trail and the recycle bin: a record's history, the whole trail with
// its filters, pages, sort and export, and the bin with restore, purge and the retention.
#include "TestSupport.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmHistory.h"
#include "records/frmManager.h"
#include "records/frmRecordHistory.h"
#include "records/frmRecycleBin.h"
#include "trail/RecycleBin.h"
#include "store/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeView>
#include <algorithm>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using store::ChangeKind;

namespace {

const QString kOperator = QStringLiteral("张医生");
const QString kWorkstation = QStringLiteral("病案室-1");
const QString kNumber = QStringLiteral("240101080000");

QSet<QString> distinct(const QStringList &l) { return QSet<QString>(l.begin(), l.end()); }

QStringList column(QTableWidget *t, int c)
{
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << (t->item(r, c) ? t->item(r, c)->text() : QString());
    return out;
}

// Every button, label and check box shows its whole caption.
void verifyCaptionsWhole(QWidget *w)
{
    for (QPushButton *b : w->findChildren<QPushButton *>())
        if (b->isVisibleTo(w))
            QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(), qPrintable(b->text()));
    for (QLabel *l : w->findChildren<QLabel *>()) {
        if (!l->isVisibleTo(w) || l->text().isEmpty())
            continue;
        QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()), qPrintable(l->text()));
    }
    for (QCheckBox *c : w->findChildren<QCheckBox *>())
        QVERIFY2(c->width() >= c->sizeHint().width(), qPrintable(c->text()));
    for (QTableWidget *t : w->findChildren<QTableWidget *>())
        for (int c = 0; c < t->columnCount(); ++c) {
            const QString header = t->horizontalHeaderItem(c)->text();
            QVERIFY2(t->horizontalHeader()->sectionSize(c) >= t->fontMetrics().horizontalAdvance(header),
                     qPrintable(header));
        }
}

} // namespace

class TestHistoryWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    int m_reloads = 0;

    void append(const store::Change &change, const QString &who = kOperator)
    {
        store::Connection c(m_archive->path());
        store::Transaction t(c);
        store::appendHistory(c, store::Actor{who, kWorkstation}, change);
        t.commit();
    }

    qint64 rowIdOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        const auto rows = store::readRecord(c, number);
        return rows.isEmpty() ? 0 : rows.front().rowId;
    }

    std::optional<store::RecordState> stateOf(qint64 rowId)
    {
        store::Connection c(m_archive->path());
        return store::readRecordState(c, rowId);
    }

    QVector<store::BinEntry> bin()
    {
        store::Connection c(m_archive->path());
        return store::readBin(c);
    }

    QVector<store::HistoryEntry> trail()
    {
        store::Connection c(m_archive->path());
        store::HistoryQuery q;
        q.limit = 100000;
        auto entries = store::readHistory(c, q);
        std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.id < b.id; });
        return entries;
    }

    void moveToBin(const QString &number)
    {
        store::Connection c(m_archive->path());
        store::Transaction t(c);
        QVERIFY(store::moveRecordToBin(c, app::currentActor(), rowIdOf(number)));
        t.commit();
    }

    std::unique_ptr<frmManager> browser()
    {
        auto w = std::make_unique<frmManager>();
        w->resize(1000, 650);
        w->show();
        return w;
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        testing::isolateSettings();
        m_archive = std::make_unique<testing::TempArchive>();
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("内科"));
        testing::signIn(*m_archive, QStringLiteral("超级权限"), kOperator, kWorkstation);
        m_reloads = 0;
        frmRecycleBin::clock = [] { return QDateTime::currentDateTimeUtc(); };
    }

    void cleanup()
    {
        app::setWorkstationNameForTests(QString());
        app::setEndProgramHook({});
        app::setBrowserReloadTarget({});
        m_archive.reset();
    }

    // ------------------------------------------------------------ deletion and the bin

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
        auto w = browser();
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
        app::setBrowserReloadTarget([this] { ++m_reloads; });
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
        // Meanwhile another record took the number.
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("乙"));
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
        auto w = browser();
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
