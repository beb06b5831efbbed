#include "app/Main.h"

#include "access/frmLogin.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "catalog/frmCatalog.h"
#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/InstanceGuard.h"
#include "ocr/PageQueue.h"
#include "records/frmManager.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QWidget>

namespace app {

namespace {
QWidget *visibleTopLevel(const char *className)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->inherits(className))
            return w;
    return nullptr;
}
} // namespace

void WireWindows()
{
    frmLogin::openMainWindow = [] {
        auto *m = new frmMain;
        m->setAttribute(Qt::WA_DeleteOnClose);
        m->showMaximized();
    };
    frmManager::openCatalogWindow = [](QWidget *parent) {
        frmCatalog dlg(parent);
        platform::execModal(dlg);
    };
}

QWidget *WindowToActivate()
{
    // Tool tips, pop-up menus and the like are never what the operator wants back.
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    if (QWidget *w = visibleTopLevel("frmMain"))
        return w;
    return visibleTopLevel("frmLogin");
}

int Main()
{
    const QString guardName = QStringLiteral("%1-%2")
                                  .arg(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(),
                                       qEnvironmentVariable("USER", QStringLiteral("user")));
    static platform::InstanceGuard guard(guardName);
    if (!guard.claim()) {
        // The copy that runs comes to the front; this one opens nothing.
        guard.askRunningToActivate();
        return 0;
    }
    QObject::connect(&guard, &platform::InstanceGuard::activationRequested,
                     [] { RestoreWindow(WindowToActivate()); });

    WireWindows();
    // The photos' words are read in the background while the program runs.
    pictures::PageTextQueue::enable(true);
    DbConnect = QStringLiteral(";UID=;PWD=");
    auto *splash = new frmSplash;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    return QApplication::exec();
}

} // namespace app
