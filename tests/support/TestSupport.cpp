#include "TestSupport.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/PrintDialog.h"
#include "records/RecordPrint.h"

#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QTreeView>
#include <QWidget>

namespace testing {

void signIn(const TempArchive &archive, const QString &authority, const QString &operatorName, const QString &workstation)
{
    app::DbPath = archive.path();
    app::CurrentAuthority = authority;
    if (!operatorName.isNull())
        app::CurrentOperator = operatorName;
    if (!workstation.isNull())
        app::setWorkstationNameForTests(workstation);
    app::SearchFilter.clear();
    app::setEndProgramHook([] {});
}

void printThroughPreviewTo(ScriptedPlatform &platform, const QString &pdf)
{
    platform.onModal = [](QDialog &d) {
        auto *preview = qobject_cast<records::frmPrintPreview *>(&d);
        if (!preview)
            return int(QDialog::Rejected);
        QTest::mouseClick(preview->cmdPrint, Qt::LeftButton);
        return preview->result();
    };
    platform::setPrintHandler([pdf](QWidget *, QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
}

std::unique_ptr<frmManager> openBrowser(const TempArchive &archive, QSize size)
{
    app::DbPath = archive.path();
    auto w = std::make_unique<frmManager>();
    w->resize(size);
    w->show();
    return w;
}

QModelIndex typeNode(ArchiveTreeModel *m, const QString &name)
{
    for (int i = 0; i < m->typeCount(); ++i)
        if (m->text(m->typeIndex(i)) == name)
            return m->typeIndex(i);
    return {};
}

QStringList childTexts(ArchiveTreeModel *m, const QModelIndex &parent)
{
    QStringList texts;
    for (int i = 0; i < m->rowCount(parent); ++i)
        texts << m->text(m->index(i, 0, parent));
    return texts;
}

void clickNode(frmManager *browser, const QModelIndex &node)
{
    QTreeView *tree = browser->treeView();
    tree->scrollTo(node);
    const QRect r = tree->visualRect(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + qMin(r.width() / 2, 24), r.center().y()));
}

} // namespace testing
