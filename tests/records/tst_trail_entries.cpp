// Every change made through the program's windows leaves its entry in the trail, in the
// same transaction: new records, modifications, types, operators, printing.
#include "SignedInArchive.h"

#include "access/frmOperator.h"
#include "catalog/frmCatalog.h"
#include "platform/PrintDialog.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/frmModifyForm.h"
#include "records/frmNewForm.h"
#include "trail/RecycleBin.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <memory>

using platform::Answer;
using store::ChangeKind;

namespace {

// The table the trail is kept in.
const QString kTrailTable = QStringLiteral("History");

QLineEdit *lineField(QWidget *w, int i) { return testing::child<QLineEdit>(w, QStringLiteral("txtFields(%1)").arg(i)); }

template <typename W>
std::unique_ptr<W> shown(std::unique_ptr<W> w)
{
    if (!testing::showActive(w.get()))
        qWarning("window not active");
    return w;
}

} // namespace

class TestTrailEntries : public testing::SignedInArchive {
    Q_OBJECT

    QVector<ChangeKind> kinds()
    {
        QVector<ChangeKind> k;
        for (const store::HistoryEntry &e : trail())
            k << e.change.kind;
        return k;
    }

    // What the archive holds for a row, to hold an entry's state against.
    store::RecordState storedState(qint64 rowId) { return stateOf(rowId).value_or(store::RecordState{}); }

    void verifyActor(const store::HistoryEntry &e)
    {
        QCOMPARE(e.operatorName, kOperator);
        QCOMPARE(e.workstation, kWorkstation);
        QVERIFY(e.when.isValid());
        QVERIFY(qAbs(e.when.secsTo(QDateTime::currentDateTimeUtc())) < 600);
    }

    // New records are numbered by a clock that stands still.
    void setUp() override
    {
        SignedInArchive::setUp();
        frmNewForm::Now = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
    }

    void tearDown() override
    {
        frmNewForm::Now = [] { return QDateTime::currentDateTime(); };
        platform::setPrintHandler({});
        SignedInArchive::tearDown();
    }

private slots:
    void aNewRecordAndATypeTypedWithIt()
    {
        testing::ScriptedPlatform platform;
        auto w = shown(std::make_unique<frmNewForm>());
        lineField(w.get(), 0)->insert(QStringLiteral("胆囊切除"));
        lineField(w.get(), 1)->insert(QStringLiteral("/病案/胆囊.doc"));
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        platform.answerFile(QStringLiteral("/照片/二.jpg"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        w->Combo1->setEditText(QStringLiteral("眼科"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());

        const auto rows = recordsOf(QStringLiteral("240305140709"));
        QCOMPARE(rows.size(), 1);
        const auto entries = trail();
        QCOMPARE(kinds(), (QVector<ChangeKind>{ChangeKind::TypeAdded, ChangeKind::RecordAdded}));
        QCOMPARE(entries[0].change.subject, QStringLiteral("眼科"));
        const store::Change &added = entries[1].change;
        verifyActor(entries[1]);
        QCOMPARE(added.number, QStringLiteral("240305140709"));
        QCOMPARE(added.rowId, rows[0].rowId);
        QVERIFY(!added.before);
        QVERIFY(added.after);
        QCOMPARE(added.after->row.name, QStringLiteral("胆囊切除"));
        QCOMPARE(added.after->row.typeName, QStringLiteral("眼科"));
        QCOMPARE(added.after->row.path, QStringLiteral("/病案/胆囊.doc"));
        QCOMPARE(added.after->photos, (QStringList{QStringLiteral("/照片/一.jpg"), QStringLiteral("/照片/二.jpg")}));
        QVERIFY(*added.after == storedState(rows[0].rowId));

        // A second record under a type that exists adds no type entry.
        lineField(w.get(), 0)->insert(QStringLiteral("阑尾炎"));
        lineField(w.get(), 1)->insert(QStringLiteral("/病案/阑尾.doc"));
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(kinds(), (QVector<ChangeKind>{ChangeKind::TypeAdded, ChangeKind::RecordAdded, ChangeKind::RecordAdded}));
        w->close();
    }

    void aRecordWhoseEntryCannotBeWrittenIsNotSaved()
    {
        testing::ScriptedPlatform platform;
        // The trail is made by the first write; afterwards its table refuses new entries.
        {
            store::Connection c(m_archive->path());
            store::Transaction t(c);
            store::Change change;
            change.kind = ChangeKind::TypeAdded;
            change.subject = QStringLiteral("外科");
            store::appendHistory(c, app::currentActor(), change);
            t.commit();
        }
        m_archive->failWrites(QStringLiteral("trail_full"), QStringLiteral("BEFORE INSERT ON ") + kTrailTable,
                              QStringLiteral("trail is full"));
        auto w = shown(std::make_unique<frmNewForm>());
        lineField(w.get(), 0)->insert(QStringLiteral("胆囊切除"));
        lineField(w.get(), 1)->insert(QStringLiteral("/病案/胆囊.doc"));
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        w->Combo1->setEditText(QStringLiteral("眼科"));
        platform.answer(Answer::Ok);
        QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QVERIFY2(platform.boxes[0].text.contains(QStringLiteral("trail is full")), qPrintable(platform.boxes[0].text));
        // Nothing of the record, its photos or its new type was kept.
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 0);
        QCOMPARE(m_archive->count(QStringLiteral("photo")), 0);
        QCOMPARE(m_archive->count(QStringLiteral("Catalog")), 2);
        QCOMPARE(trail().size(), 1);
        QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("胆囊切除"));
        platform.answer(Answer::No);
        w->close();
    }

    void aModificationKeepsBeforeAndAfter()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                             QStringLiteral("/a.doc"), QStringLiteral("旧说明"), {QStringLiteral("/p1.jpg")});
        const qint64 rowId = recordsOf(QStringLiteral("240101080000")).at(0).rowId;
        auto browser = openBrowser();
        ArchiveTreeModel *m = browser->treeModel();
        browser->TreeView_NodeClick(m->index(0, 0, testing::typeNode(m, QStringLiteral("外科"))));
        QCOMPARE(browser->shownRowId(), rowId);

        {
            auto w = shown(std::make_unique<frmModifyForm>(browser.get()));
            lineField(w.get(), 0)->selectAll();
            lineField(w.get(), 0)->insert(QStringLiteral("乙"));
            QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
            QVERIFY(platform.boxes.isEmpty());
        }
        auto entries = trail();
        QCOMPARE(entries.size(), 1);
        const store::Change &c = entries[0].change;
        verifyActor(entries[0]);
        QCOMPARE(c.kind, ChangeKind::RecordModified);
        QCOMPARE(c.number, QStringLiteral("240101080000"));
        QCOMPARE(c.rowId, rowId);
        QVERIFY(c.before && c.after);
        QCOMPARE(c.before->row.name, QStringLiteral("甲"));
        QCOMPARE(c.after->row.name, QStringLiteral("乙"));
        QCOMPARE(c.before->row.description, QStringLiteral("旧说明"));
        QCOMPARE(c.after->row.description, QStringLiteral("旧说明"));
        QCOMPARE(c.before->photos, QStringList{QStringLiteral("/p1.jpg")});
        QCOMPARE(c.after->photos, QStringList{QStringLiteral("/p1.jpg")});
        QCOMPARE(c.after->row.rowId, rowId);
        QVERIFY(*c.after == storedState(rowId));

        // Saved again as it stands: nothing changed, nothing written.
        browser->cmdLoad_Click();
        browser->TreeView_NodeClick(m->index(0, 0, testing::typeNode(m, QStringLiteral("外科"))));
        {
            auto w = shown(std::make_unique<frmModifyForm>(browser.get()));
            QCOMPARE(lineField(w.get(), 0)->text(), QStringLiteral("乙"));
            QTest::mouseClick(w->SaveAdd, Qt::LeftButton);
            QVERIFY(platform.boxes.isEmpty());
        }
        QCOMPARE(trail().size(), 1);
        browser->close();
    }

    void theTypeWindowWritesAddRenameAndDelete()
    {
        testing::ScriptedPlatform platform;
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                             QString(), QString(), {QStringLiteral("/p1.jpg")});
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080001"), QStringLiteral("乙"));
        m_archive->addRecord(QStringLiteral("内科"), QStringLiteral("240101080002"), QStringLiteral("丙"));
        auto w = shown(std::make_unique<frmCatalog>());
        w->AddB->click();
        w->NewTypeName->setText(QStringLiteral("眼科"));
        w->SaveRecord->click();
        w->CancelRecord->click();

        auto pick = [&](const QString &text) {
            const auto found = w->ListView1->findItems(text, Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            QTest::mouseClick(w->ListView1->viewport(), Qt::LeftButton, {},
                              w->ListView1->visualItemRect(found.first()).center());
        };
        pick(QStringLiteral("眼科"));
        w->cmdModify->click();
        w->NewTypeName->setText(QStringLiteral("五官科"));
        w->SaveRecord->click();

        pick(QStringLiteral("外科"));
        platform.answer(Answer::Yes);
        w->DeleteB->click();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("真的要删除[外科]类型,及其所有文件吗？（Y/N）    "));

        const auto entries = trail();
        QCOMPARE(kinds(), (QVector<ChangeKind>{ChangeKind::TypeAdded, ChangeKind::TypeRenamed, ChangeKind::RecordDeleted,
                                               ChangeKind::RecordDeleted, ChangeKind::TypeDeleted}));
        QCOMPARE(entries[0].change.subject, QStringLiteral("眼科"));
        QCOMPARE(entries[1].change.subject, QStringLiteral("五官科"));
        QCOMPARE(entries[1].change.detail, QStringLiteral("原名称：眼科"));
        QCOMPARE(entries[4].change.subject, QStringLiteral("外科"));
        QCOMPARE(entries[4].change.detail, QStringLiteral("2 份病案移入回收站"));
        for (const auto &e : entries)
            verifyActor(e);
        // The records of the type are in the bin with their photos; the other type's stays.
        QCOMPARE(m_archive->count(QStringLiteral("Detail")), 1);
        store::Connection c(m_archive->path());
        const auto bin = store::readBin(c);
        QCOMPARE(bin.size(), 2);
        QStringList binned;
        for (const auto &b : bin) {
            binned << b.record.row.name;
            QCOMPARE(b.operatorName, kOperator);
            if (b.record.row.name == QStringLiteral("甲"))
                QCOMPARE(b.record.photos, QStringList{QStringLiteral("/p1.jpg")});
        }
        binned.sort();
        QCOMPARE(binned, (QStringList{QStringLiteral("乙"), QStringLiteral("甲")}));
        w->close();
    }

    void theOperatorWindowWritesAddAndDeleteButNoPassword()
    {
        testing::ScriptedPlatform platform;
        auto w = shown(std::make_unique<frmOperator>());
        w->Text1->setFocus();
        w->Text1->insert(QStringLiteral("lisi"));
        w->Text2->insert(QStringLiteral("Secret77"));
        w->Text3->insert(QStringLiteral("Secret77"));
        w->cmbAuthority->setCurrentIndex(0);
        const QString level = w->cmbAuthority->currentText();
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QVERIFY(platform.boxes.isEmpty());
        int row = -1;
        for (int r = 0; r < w->Grid1->rowCount(); ++r)
            if (w->Grid1->item(r, 0) && w->Grid1->item(r, 0)->text() == QStringLiteral("lisi"))
                row = r;
        QVERIFY(row >= 0);
        w->Grid1->setCurrentCell(row, 0);
        platform.answer(Answer::Yes);
        w->MnuDelete->trigger();
        QCOMPARE(m_archive->count(QStringLiteral("User"), QStringLiteral("UID = 'lisi'")), 0);

        const auto entries = trail();
        QCOMPARE(kinds(), (QVector<ChangeKind>{ChangeKind::OperatorAdded, ChangeKind::OperatorDeleted}));
        QCOMPARE(entries[0].change.subject, QStringLiteral("lisi"));
        QCOMPARE(entries[0].change.detail, QStringLiteral("权限：") + level);
        QCOMPARE(entries[1].change.subject, QStringLiteral("lisi"));
        for (const auto &e : entries) {
            verifyActor(e);
            QVERIFY(!e.change.detail.contains(QStringLiteral("Secret77")));
            QVERIFY(!e.change.subject.contains(QStringLiteral("Secret77")));
        }
        w->close();
    }

    void printingWritesThePageCount()
    {
        testing::ScriptedPlatform platform;
        const QString p1 = testing::makePicture(m_archive->folder(), QStringLiteral("1.png"), 20, 20);
        const QString p2 = testing::makePicture(m_archive->folder(), QStringLiteral("2.png"), 20, 20);
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                             QString(), QString(), {p1, p2});
        const qint64 rowId = recordsOf(QStringLiteral("240101080000")).at(0).rowId;
        const QString pdf = m_archive->folder() + QStringLiteral("/out.pdf");
        testing::printThroughPreviewTo(platform, pdf);
        // Cancelled at the print dialog: nothing printed, nothing written.
        platform::setPrintHandler([](QWidget *, QPrinter &) { return false; });
        records::printRecord(nullptr, QStringLiteral("240101080000"), rowId);
        QCOMPARE(trail().size(), 0);

        platform::setPrintHandler([pdf](QWidget *, QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        records::printRecord(nullptr, QStringLiteral("240101080000"), rowId);
        QVERIFY(QFileInfo::exists(pdf));
        const auto entries = trail();
        QCOMPARE(entries.size(), 1);
        verifyActor(entries[0]);
        QCOMPARE(entries[0].change.kind, ChangeKind::RecordPrinted);
        QCOMPARE(entries[0].change.number, QStringLiteral("240101080000"));
        QCOMPARE(entries[0].change.rowId, rowId);
        QCOMPARE(entries[0].change.detail, QStringLiteral("3 页"));
        QVERIFY(platform.boxes.isEmpty());
    }
};

QTEST_MAIN(TestTrailEntries)
#include "tst_trail_entries.moc"
