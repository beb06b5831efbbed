#pragma once
// What the tests of the browser (frmManager) share: the main window's toolbar and the end of
// the program stood in for, a browser over an archive each test makes for itself, and the
// browser's commands, fields and tree as the operator meets them.
#include "TestSupport.h"

#include "common/Module1.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"

#include <QAction>
#include <QMap>
#include <memory>

namespace testing {

class BrowserFixture : public QObject {
    Q_OBJECT

protected:
    QMap<QString, bool> m_toolbar; // the main window's toolbar buttons, enabled or not
    int m_endings = 0;             // the program's ends asked for

    std::unique_ptr<frmManager> open(const TempArchive &archive) { return openBrowser(archive, QSize(1200, 700)); }

    static QString role(const QModelIndex &i, int r) { return i.data(r).toString(); }

    bool enabled(frmManager *w, const char *action) { return child<QAction>(w, action)->isEnabled(); }

    // Menu items Add, Modify, Delete, Open and toolbar Add, Modify, Delete, Search as one text.
    QString states(frmManager *w)
    {
        auto b = [](bool on) { return on ? QLatin1Char('1') : QLatin1Char('0'); };
        QString s;
        s += b(enabled(w, "MnuAddFile"));
        s += b(enabled(w, "MnuModifyFile"));
        s += b(enabled(w, "MnuDeleteFile"));
        s += b(enabled(w, "MnuOpenFile"));
        s += b(enabled(w, "MnuSearchFile"));
        s += QLatin1Char(' ');
        for (const char *k : {"Add", "Modify", "Delete", "Search"})
            s += b(m_toolbar.value(QLatin1String(k)));
        return s;
    }

    QString field(frmManager *w, int i) { return w->fieldText(i); }

    void click(frmManager *w, const QModelIndex &node) { clickNode(w, node); }

private slots:
    void initTestCase() { isolateSettings(); }

    void init()
    {
        isolateSettings();
        m_toolbar.clear();
        m_endings = 0;
        app::setToolButtonTarget({[this](const QString &k, bool on) { m_toolbar[k] = on; },
                                  [this](const QString &k) { return m_toolbar.value(k); }});
        app::setEndProgramHook([this] { ++m_endings; });
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        app::BrowserLoaded = false;
    }

    void cleanup()
    {
        app::setToolButtonTarget({});
        app::setEndProgramHook({});
        app::SearchFilter.clear();
    }
};

} // namespace testing
