#pragma once
// The archive the tests of the record windows start from: a fresh one with the types 外科
// and 内科, the program signed in to it as a super user, 张医生 at the workstation 病案室-1.
// With it: the browser over it, the browser's reloads counted, and what the archive holds
// read back, to hold the windows against.
//
// A test class derives from it and has its init() and cleanup(); a test class or fixture
// that starts from more overrides setUp() and tearDown() and calls them on.
#include "TestSupport.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "records/frmManager.h"
#include "trail/History.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace testing {

class SignedInArchive : public QObject {
    Q_OBJECT

protected:
    static inline const QString kOperator = QStringLiteral("张医生");
    static inline const QString kWorkstation = QStringLiteral("病案室-1");

    std::unique_ptr<TempArchive> m_archive;
    int m_reloads = 0; // the browser's reloads asked for since countReloads()

    virtual void setUp()
    {
        isolateSettings();
        m_archive = std::make_unique<TempArchive>();
        m_archive->addType(QStringLiteral("外科"));
        m_archive->addType(QStringLiteral("内科"));
        signIn(*m_archive, QStringLiteral("超级权限"), kOperator, kWorkstation);
        m_reloads = 0;
    }

    virtual void tearDown()
    {
        app::setWorkstationNameForTests(QString());
        app::setEndProgramHook({});
        app::setBrowserReloadTarget({});
        app::BrowserLoaded = false;
        m_archive.reset();
    }

    // From now on the program has a browser open, and its reloads are counted.
    void countReloads()
    {
        m_reloads = 0;
        app::BrowserLoaded = true;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
    }

    std::unique_ptr<frmManager> openBrowser() { return testing::openBrowser(*m_archive, QSize(1000, 650)); }

    QVector<store::RecordRow> recordsOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readRecord(c, number);
    }

    // The row of the first record of that number; 0 when there is none.
    qint64 rowIdOf(const QString &number)
    {
        const auto rows = recordsOf(number);
        return rows.isEmpty() ? 0 : rows.front().rowId;
    }

    std::optional<store::RecordState> stateOf(qint64 rowId)
    {
        store::Connection c(m_archive->path());
        return store::readRecordState(c, rowId);
    }

    QStringList photosOf(const QString &number)
    {
        store::Connection c(m_archive->path());
        return store::readPhotos(c, number);
    }

    // The whole trail, oldest first.
    QVector<store::HistoryEntry> trail()
    {
        store::Connection c(m_archive->path());
        store::HistoryQuery q;
        q.limit = 100000;
        QVector<store::HistoryEntry> entries = store::readHistory(c, q);
        std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.id < b.id; });
        return entries;
    }

private slots:
    void initTestCase() { isolateSettings(); }
    void init() { setUp(); }
    void cleanup() { tearDown(); }
};

} // namespace testing
