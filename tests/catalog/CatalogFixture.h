#pragma once
// What the tests of the record types window (frmCatalog) share: an archive of its own for
// every test with the program signed in to it, the answers scripted for the whole test (an
// answer left unasked fails it), the hints and the browser's reloads counted, and the
// window's states held against what it should offer.
#include "ScriptedPlatform.h"
#include "TempArchive.h"

#include "catalog/frmCatalog.h"
#include "common/Module1.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

namespace testing {

class CatalogFixture : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TempArchive> m_archive;
    std::unique_ptr<ScriptedPlatform> m_platform;
    QStringList m_hints;
    int m_reloads = 0;

    // What the window says.
    static inline const QString kAddCaption = QStringLiteral("请输入新的病案类型");
    static inline const QString kRenameCaption = QStringLiteral("输入修改的病案类型");
    static inline const QString kApostrophe = QStringLiteral("该项目之中有特殊字符<'>,请删除。");
    static inline const QString kDuplicate = QStringLiteral("该病案类型已经存在，请重新列入。    ");
    static inline const QString kModifyNothing = QStringLiteral("请先选择一个病案类型，然后按修改按钮。     ");
    static inline const QString kDeleteNothing = QStringLiteral("请先选择一个病案类型，然后按删除按钮。     ");

    std::unique_ptr<frmCatalog> open()
    {
        auto w = std::make_unique<frmCatalog>();
        if (!showActive(w.get()))
            QTest::qFail("record type window not active", __FILE__, __LINE__);
        return w;
    }

    static QString deleteQuestion(const QString &type)
    {
        return QStringLiteral("真的要删除[") + type + QStringLiteral("]类型,及其所有文件吗？（Y/N）    ");
    }

    static QStringList itemTexts(const QListWidget *list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    // The database as it stands, read by the test itself.
    QStringList typesInArchive()
    {
        store::Connection c(m_archive->path());
        return store::readTypes(c);
    }
    int recordsOfType(const QString &type)
    {
        // Exactly, not letter-case blind: a rename must write the new spelling.
        // Exactly that name: the file's column compares without case unless told otherwise.
        return m_archive->count(QStringLiteral("Detail"),
                                onServer() ? QStringLiteral("type_Name = ?")
                                           : QStringLiteral("type_Name = ? COLLATE BINARY"),
                                {type});
    }

    static void clickItem(frmCatalog &w, const QString &text)
    {
        const QList<QListWidgetItem *> found = w.ListView1->findItems(text, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(text));
        const QRect r = w.ListView1->visualItemRect(found.first());
        QVERIFY(!r.isEmpty());
        QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }

    static void compareBox(const RecordedBox &b, const QString &text, const QString &title,
                           platform::Buttons buttons, platform::Icon icon)
    {
        QCOMPARE(b.text, text);
        QCOMPARE(b.title, title);
        QCOMPARE(b.buttons, buttons);
        QCOMPARE(b.icon, icon);
    }

    static void verifyIdle(frmCatalog &w, bool mayChange = true)
    {
        QVERIFY(!w.AddPicture->isVisible());
        QVERIFY(w.AddB->isEnabled());
        QCOMPARE(w.cmdModify->isEnabled(), mayChange);
        QCOMPARE(w.DeleteB->isEnabled(), mayChange);
        QVERIFY(w.ExitB->isEnabled());
        QVERIFY(!w.SaveRecord->isEnabled());
        QVERIFY(w.NewTypeName->text().isEmpty());
        QVERIFY(w.ListView1->isVisible());
    }

    static void verifyEntry(frmCatalog &w, const QString &caption)
    {
        QVERIFY(w.AddPicture->isVisible());
        QCOMPARE(w.Label1->text(), caption);
        QVERIFY(!w.AddB->isEnabled());
        QVERIFY(!w.cmdModify->isEnabled());
        QVERIFY(!w.DeleteB->isEnabled());
        QVERIFY(!w.ExitB->isEnabled());
        QCOMPARE(w.SaveRecord->isEnabled(), !w.NewTypeName->text().trimmed().isEmpty());
        QVERIFY(w.ListView1->isVisible());
    }

private slots:
    void initTestCase() { isolateSettings(); }

    void init()
    {
        isolateSettings();
        m_archive = std::make_unique<TempArchive>();
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::BrowserLoaded = false;
        m_reloads = 0;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
        m_hints.clear();
        app::setHintTarget([this](const QString &t) { m_hints << t; });
        m_platform = std::make_unique<ScriptedPlatform>();
    }

    void cleanup()
    {
        // Emptied first, so that no answer is left for the next test whatever fails here.
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        app::setBrowserReloadTarget({});
        app::setHintTarget({});
        app::BrowserLoaded = false;
        m_archive.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }
};

} // namespace testing
