// The browser's commands: its menus' and buttons' handlers, each of which opens a window,
// asks a question or hands the work to the store.
#include "records/frmManager.h"

#include "common/Module1.h"
#include "pictures/frmScan.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/frmBackup.h"
#include "records/frmModifyForm.h"
#include "records/frmNewForm.h"
#include "records/frmSearchForm.h"
#include "store/Database.h"
#include "store/Statements.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

namespace {

const QString kOnlyAdd = QStringLiteral("只能添加");

} // namespace

void frmManager::MnuSearchFile_Click()
{
    const platform::BusyCursor busy;
    frmSearchForm dlg(this);
    platform::execModal(dlg);
}

void frmManager::MnuFolder_Click()
{
    const platform::BusyCursor busy;
    if (openCatalogWindow)
        openCatalogWindow(this);
}

void frmManager::MnuAddFile_Click()
{
    const platform::BusyCursor busy;
    frmNewForm dlg(this); // reloads the browser itself when it closes after a save
    platform::execModal(dlg);
}

void frmManager::MnuModifyFile_Click()
{
    if (m_clickedRowId == 0)
        return; // no record chosen: nothing to modify
    const platform::BusyCursor busy;
    frmModifyForm dlg(this);
    platform::execModal(dlg);
}

void frmManager::MnuRefresh_Click()
{
    app::SearchFilter.clear();
    cmdLoad_Click();
}

void frmManager::MnuOpenFile_Click() { picEditFile_Click(); }

void frmManager::picEditFile_Click()
{
    const QString path = txtPath->text();
    if (path.trimmed().isEmpty())
        return;
    const platform::BusyCursor busy;
    // The path names a file and only a file; a missing one opens nothing and, as always,
    // says nothing.
    platform::openFile(path);
}

void frmManager::MnuExit_Click()
{
    // Inside the main window this reaches the main window, whose closing ends the program.
    window()->close();
}

void frmManager::MnuBackup_Click()
{
    frmBackup dlg(this);
    platform::execModal(dlg);
}

void frmManager::MnuPrintRecord_Click()
{
    if (m_clickedRowId == 0 || app::CurrentAuthority == kOnlyAdd)
        return;
    records::printRecord(this, Label4->text(), m_clickedRowId);
}

void frmManager::List1_DblClick()
{
    frmScan dlg(List1, this);
    // Printing from the viewer as from the pop-up menu: the record on show, for every
    // level that may print it.
    if (m_clickedRowId != 0 && app::CurrentAuthority != kOnlyAdd) {
        const QString number = Label4->text();
        const qint64 rowId = m_clickedRowId;
        dlg.setPrintHook([number, rowId](QWidget *parent) { records::printRecord(parent, number, rowId); });
    }
    platform::execModal(dlg);
}

void frmManager::MnuDeleteFile_Click()
{
    if (m_clickedRowId == 0)
        return; // no record chosen: the root or a type was clicked last
    const QString number = Label4->text();
    const qint64 rowId = m_clickedRowId;
    const QString question = QStringLiteral("真的要删除病案［") + lblFileCaption->text() + QStringLiteral("］吗？     ")
        + QStringLiteral("\r\n") + QStringLiteral(" [是/否]？     ");
    if (platform::message(this, question, QStringLiteral("删除后将不能恢复!"), platform::Buttons::YesNo,
                          platform::Icon::Critical, platform::Answer::No)
        != platform::Answer::Yes)
        return;
    int removed = 0;
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        // The row on show only: another record of the earlier system may share its number.
        removed = store::deleteRecordRow(connection, rowId);
        // The photos are keyed by number; while another record keeps that number it shows
        // them too, so they go only with the last record of the number.
        if (removed > 0 && store::countRecordsWithNumber(connection, number) == 0)
            store::deletePhotoRows(connection, number);
        transaction.commit();
    } catch (const store::StoreError &e) {
        showStoreFailure(e.description());
        return;
    }
    if (removed == 0)
        platform::message(this,
                          QStringLiteral("病案［") + lblFileCaption->text()
                              + QStringLiteral("］已不在档案中，可能已被删除，没有删除任何内容。仓库将重新载入。"),
                          QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Information);
    app::setToolButtonEnabled(QStringLiteral("Add"), false);
    app::setToolButtonEnabled(QStringLiteral("Modify"), false);
    app::setToolButtonEnabled(QStringLiteral("Delete"), false);
    MnuAddFile->setEnabled(false);
    MnuModifyFile->setEnabled(false);
    MnuDeleteFile->setEnabled(false);
    app::SearchFilter.clear();
    cmdLoad_Click();
}
