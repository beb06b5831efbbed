// What the browser offers each level of operator, in its menu and on the toolbar, on the
// archive's root, a type and a record.
#include "BrowserFixture.h"

using testing::typeNode;

class TestBrowserLevels : public testing::BrowserFixture {
    Q_OBJECT

private slots:
    void enabledStatesForAnOrdinaryLevel_data()
    {
        // "不能修改" (may not modify) is held back only in the record types window: here it
        // modifies and deletes like the others.
        QTest::addColumn<QString>("level");
        for (const char *level : {"可以修改", "不能修改", "超级权限!", ""})
            QTest::newRow(*level ? level : "none") << QString::fromUtf8(level);
    }

    void enabledStatesForAnOrdinaryLevel()
    {
        QFETCH(QString, level);
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                          QStringLiteral("/a.doc"));
        app::CurrentAuthority = level;
        m_toolbar[QStringLiteral("Add")] = true;
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        // Columns: menu Add Modify Delete Open Search, toolbar Add Modify Delete Search.
        QCOMPARE(states(w.get()), QStringLiteral("00001 1001"));
        click(w.get(), type);
        QCOMPARE(states(w.get()), QStringLiteral("10001 1001"));
        click(w.get(), m->rootIndex());
        QCOMPARE(states(w.get()), QStringLiteral("00001 1001"));
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(states(w.get()), QStringLiteral("11111 1111"));
        w->cmdLoad_Click();
        QCOMPARE(states(w.get()), QStringLiteral("00001 1001"));
    }

    void onlyAddLevelNeverLoadsDetails()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"),
                          QStringLiteral("/a.doc"), QStringLiteral("说明"));
        app::CurrentAuthority = QStringLiteral("只能添加");
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(states(w.get()), QStringLiteral("10000 1000"));
        click(w.get(), m->index(0, 0, typeNode(m, QStringLiteral("内科"))));
        QCOMPARE(w->recordNumber(), QStringLiteral("240101080000"));
        QCOMPARE(field(w.get(), 1), QString());
        QCOMPARE(field(w.get(), 2), QString());
        QCOMPARE(states(w.get()), QStringLiteral("10000 1000"));
    }

    void onlyModifyLevelIsNeverOfferedAdd()
    {
        testing::ScriptedPlatform platform;
        testing::TempArchive archive;
        archive.addType(QStringLiteral("内科"));
        archive.addRecord(QStringLiteral("内科"), QStringLiteral("240101080000"), QStringLiteral("甲"));
        app::CurrentAuthority = QStringLiteral("只能修改");
        auto w = open(archive);
        ArchiveTreeModel *m = w->treeModel();
        QCOMPARE(states(w.get()), QStringLiteral("01001 0101"));
        const QModelIndex type = typeNode(m, QStringLiteral("内科"));
        click(w.get(), type);
        QCOMPARE(states(w.get()), QStringLiteral("00001 0001"));
        click(w.get(), m->index(0, 0, type));
        QCOMPARE(states(w.get()), QStringLiteral("01001 0101"));
    }
};

QTEST_MAIN(TestBrowserLevels)
#include "tst_frmManager_levels.moc"
