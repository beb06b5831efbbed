#include "TempArchive.h"

#include "records/HistoryText.h"
#include "store/FileModes.h"
#include "trail/History.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>

namespace {

store::RecordState state(const QString &name, const QString &description, const QStringList &photos = {})
{
    store::RecordState s;
    s.row.rowId = 7;
    s.row.typeName = QStringLiteral("外科");
    s.row.number = QStringLiteral("240101080000");
    s.row.name = name;
    s.row.path = QStringLiteral("/病案/a.doc");
    s.row.description = description;
    s.photos = photos;
    return s;
}

QStringList changedLabels(const QVector<records::FieldChange> &fields)
{
    QStringList l;
    for (const records::FieldChange &f : fields)
        if (f.changed)
            l << f.label;
    return l;
}

} // namespace

class TestHistoryText : public QObject {
    Q_OBJECT

private slots:
    void csvFieldsAreQuotedAndNeverFormulas_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << QStringLiteral("张三") << QStringLiteral("\"张三\"");
        QTest::newRow("empty") << QString() << QStringLiteral("\"\"");
        QTest::newRow("quote doubled") << QStringLiteral("a\"b") << QStringLiteral("\"a\"\"b\"");
        QTest::newRow("comma and line kept inside") << QStringLiteral("a,b\nc") << QStringLiteral("\"a,b\nc\"");
        QTest::newRow("equals") << QStringLiteral("=1+1") << QStringLiteral("\"'=1+1\"");
        QTest::newRow("plus") << QStringLiteral("+86 10") << QStringLiteral("\"'+86 10\"");
        QTest::newRow("minus") << QStringLiteral("-2") << QStringLiteral("\"'-2\"");
        QTest::newRow("at") << QStringLiteral("@SUM(A1)") << QStringLiteral("\"'@SUM(A1)\"");
        QTest::newRow("tab") << QStringLiteral("\t=x") << QStringLiteral("\"'\t=x\"");
        QTest::newRow("formula with a quote")
            << QStringLiteral("=HYPERLINK(\"x\")") << QStringLiteral("\"'=HYPERLINK(\"\"x\"\")\"");
        QTest::newRow("sign later is left") << QStringLiteral("a=b-c") << QStringLiteral("\"a=b-c\"");
        QTest::newRow("apostrophe first stays one") << QStringLiteral("'a") << QStringLiteral("\"'a\"");
    }
    void csvFieldsAreQuotedAndNeverFormulas()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(records::csvField(text), field);
    }

    void fieldsComparedOneByOne()
    {
        const auto before = state(QStringLiteral("甲"), QStringLiteral("旧"), {QStringLiteral("/p1.jpg")});
        auto after = before;
        // Nothing changed: nothing marked.
        QCOMPARE(changedLabels(records::compareStates(before, after)), QStringList());

        after.row.description = QStringLiteral("新");
        after.photos << QStringLiteral("/p2.jpg");
        const auto fields = records::compareStates(before, after);
        QCOMPARE(fields.size(), 6);
        QCOMPARE(changedLabels(fields), (QStringList{QStringLiteral("文件说明"), QStringLiteral("手术照片")}));
        QCOMPARE(fields[5].before, QStringLiteral("/p1.jpg"));
        QCOMPARE(fields[5].after, QStringLiteral("/p1.jpg\n/p2.jpg"));

        // Photo order is part of the record.
        auto swapped = after;
        std::swap(swapped.photos[0], swapped.photos[1]);
        QCOMPARE(changedLabels(records::compareStates(after, swapped)), QStringList{QStringLiteral("手术照片")});

        store::Change change;
        change.before = before;
        change.after = after;
        QCOMPARE(records::changedFieldsText(change), QStringLiteral("文件说明、手术照片"));
    }

    void aRecordThatAppearsOrGoesMarksTheFieldsItHas()
    {
        const auto s = state(QStringLiteral("甲"), QString());
        const auto added = records::compareStates(std::nullopt, s);
        // The empty description is no change; every field with a value is.
        QCOMPARE(changedLabels(added), (QStringList{QStringLiteral("病案类别"), QStringLiteral("病案号"),
                                                    QStringLiteral("病案名称"), QStringLiteral("文件路径")}));
        QCOMPARE(added[2].before, QString());
        QCOMPARE(added[2].after, QStringLiteral("甲"));
        const auto gone = records::compareStates(s, std::nullopt);
        QCOMPARE(changedLabels(gone), changedLabels(added));
        QCOMPARE(gone[2].before, QStringLiteral("甲"));
        // A list cell names changed fields only for a change with both sides.
        store::Change change;
        change.after = s;
        QCOMPARE(records::changedFieldsText(change), QString());
    }

    void csvLineCarriesEveryColumn()
    {
        store::HistoryEntry e;
        e.id = 12;
        e.when = QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8), Qt::UTC);
        e.operatorName = QStringLiteral("=cmd");
        e.workstation = QStringLiteral("病案室-1");
        e.change.kind = store::ChangeKind::RecordModified;
        e.change.number = QStringLiteral("240101080000");
        e.change.before = state(QStringLiteral("甲"), QStringLiteral("旧"));
        e.change.after = state(QStringLiteral("乙"), QStringLiteral("旧"));
        e.hash = QStringLiteral("ab12");
        const QString line = records::csvLine(e);
        QVERIFY(line.endsWith(QLatin1String("\r\n")));
        QVERIFY2(line.startsWith(QStringLiteral("\"12\",\"2024-03-05 06:07:08\",\"'=cmd\",\"病案室-1\",\"")
                                 + store::changeKindText(store::ChangeKind::RecordModified)
                                 + QStringLiteral("\",\"240101080000\",\"\",\"\",\"病案名称\",\"")),
                 qPrintable(line));
        QVERIFY(line.contains(QStringLiteral("病案名称=甲")));
        QVERIFY(line.contains(QStringLiteral("病案名称=乙")));
        QVERIFY(line.endsWith(QStringLiteral(",\"ab12\"\r\n")));
        QCOMPARE(records::csvHeader().count(QLatin1Char(',')), 11);
    }

    void theExportIsTheOperatorsAloneUnderAnyUmask_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
    }

    // Names and diagnoses: never readable by other accounts, a new file nor one written over.
    void theExportIsTheOperatorsAloneUnderAnyUmask()
    {
        QFETCH(int, mask);
        testing::TempArchive a;
        {
            store::Connection c(a.path());
            store::Transaction t(c);
            store::appendHistory(c, {QStringLiteral("甲"), QStringLiteral("pc")},
                                 {store::ChangeKind::TypeAdded, {}, 0, QStringLiteral("内科"), {}, {}, {}});
            t.commit();
        }
        QTemporaryDir dir;
        const QString fresh = dir.filePath(QStringLiteral("new.csv"));
        const QString over = dir.filePath(QStringLiteral("old.csv"));
        QFile old(over);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        QVERIFY(::chmod(QFile::encodeName(over).constData(), 0644) == 0);
        const mode_t before = ::umask(mode_t(mask));
        store::Connection c(a.path());
        const qint64 written = records::exportHistoryCsv(c, {}, fresh);
        records::exportHistoryCsv(c, {}, over);
        ::umask(before);
        QCOMPARE(written, 1);
        QCOMPARE(store::modeOf(fresh), 0600);
        QCOMPARE(store::modeOf(over), 0600);
    }

    void localTimesOfTheTrail()
    {
        QCOMPARE(records::localTimeText(QDateTime()), QString());
        const QDateTime utc(QDate(2024, 12, 31), QTime(23, 59, 59), Qt::UTC);
        QCOMPARE(records::localTimeText(utc), utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
};

QTEST_MAIN(TestHistoryText)
#include "tst_history_text.moc"
