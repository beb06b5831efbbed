#pragma once
// What the tests of the search window (frmSearchForm) share: the search line of the main
// window, the browser's reloads and the end of the program stood in for; the window's boxes,
// text and button; searches run on a browser over an archive each test makes, and what the
// tree shows afterwards.
#include "TestSupport.h"

#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"
#include "records/frmSearchForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <memory>

namespace testing {

class SearchFixture : public QObject {
    Q_OBJECT

protected:
    QStringList m_states; // what the browser told the main window's search line
    int m_reloads = 0;
    int m_endings = 0;

    std::unique_ptr<frmManager> openBrowser(const TempArchive &archive)
    {
        return testing::openBrowser(archive, QSize(900, 600));
    }

    // The search window as the operator meets it: shown and active.
    std::unique_ptr<frmSearchForm> openSearch()
    {
        auto d = std::make_unique<frmSearchForm>();
        d->show();
        d->activateWindow();
        if (!QTest::qWaitForWindowActive(d.get()))
            QTest::qFail("search window not active", __FILE__, __LINE__);
        return d;
    }

    // Ticks exactly the boxes named (1 to 4), types the text and presses the button.
    void search(frmSearchForm *d, const QString &text, std::initializer_list<int> ticked)
    {
        for (int i = 1; i <= 4; ++i)
            box(d, i)->setChecked(std::find(ticked.begin(), ticked.end(), i) != ticked.end());
        textBox(d)->setText(text);
        QVERIFY(button(d)->isEnabled());
        QTest::mouseClick(button(d), Qt::LeftButton);
    }

    // One search on a browser over the archive: what the tree shows afterwards.
    QStringList found(const TempArchive &archive, const QString &text, std::initializer_list<int> ticked)
    {
        auto w = openBrowser(archive);
        auto d = openSearch();
        search(d.get(), text, ticked);
        if (d->isVisible())
            QTest::qFail("the window stayed open after a search", __FILE__, __LINE__);
        return shown(w->treeModel());
    }

    // Stands in for an open browser and counts the reloads asked of it.
    const int &countReloads()
    {
        m_reloads = 0;
        app::BrowserLoaded = true;
        app::setBrowserReloadTarget([this] { ++m_reloads; });
        return m_reloads;
    }

    static QStringList typeTexts(ArchiveTreeModel *m) { return childTexts(m, m->rootIndex()); }

    // Every record the tree shows, as "type/name", types in tree order.
    static QStringList shown(ArchiveTreeModel *m)
    {
        QStringList all;
        for (int t = 0; t < m->typeCount(); ++t)
            for (const QString &r : childTexts(m, m->typeIndex(t)))
                all << m->text(m->typeIndex(t)) + QLatin1Char('/') + r;
        return all;
    }

    static QCheckBox *box(QWidget *w, int i) { return child<QCheckBox>(w, QStringLiteral("chkValue(%1)").arg(i)); }
    static QLineEdit *textBox(QWidget *w) { return child<QLineEdit>(w, QStringLiteral("txtSearch")); }
    static QPushButton *button(QWidget *w) { return child<QPushButton>(w, QStringLiteral("cmdSearch")); }

private slots:
    void initTestCase() { isolateSettings(); }

    void init()
    {
        isolateSettings();
        m_reloads = 0;
        m_states.clear();
        m_endings = 0;
        app::setSearchStateTarget([this](const QString &text) { m_states << text; });
        app::setEndProgramHook([this] { ++m_endings; });
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
    }

    void cleanup()
    {
        app::setSearchStateTarget({});
        app::setEndProgramHook({});
        app::setBrowserReloadTarget({});
        app::BrowserLoaded = false;
        app::SearchFilter.clear();
    }
};

} // namespace testing
