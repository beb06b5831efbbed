// The browser's commands: its menus' and buttons' handlers, each of which opens a window,
// asks a question or hands the work to the store.
#include "records/frmManager.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "pictures/frmScan.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/frmBackup.h"
#include "records/frmHistory.h"
#include "records/frmModifyForm.h"
#include "records/frmNewForm.h"
#include "records/frmRecordHistory.h"
#include "records/frmRecycleBin.h"
#include "records/frmManagerShared.h"
#include "records/frmSearchForm.h"
#include "store/Database.h"
#include "trail/RecycleBin.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "store/Statements.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

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

void frmManager::MnuRecordHistory_Click()
{
    // Those who may only add records see no record's contents, nor their history.
    if (m_clickedRowId == 0 || app::CurrentAuthority == kOnlyAdd)
        return;
    const platform::BusyCursor busy;
    frmRecordHistory dlg(Label4->text(), m_clickedRowId, lblFileCaption->text(), this);
    platform::execModal(dlg);
}

void frmManager::MnuHistory_Click()
{
    if (app::CurrentAuthority != kSuperUser)
        return;
    const platform::BusyCursor busy;
    frmHistory dlg(this);
    platform::execModal(dlg);
}

void frmManager::MnuRecycleBin_Click()
{
    if (app::CurrentAuthority != kSuperUser)
        return;
    const platform::BusyCursor busy;
    frmRecycleBin dlg(this); // reloads the browser itself when it closes after a change
    dlg.offerToEmptyOld();
    platform::execModal(dlg);
}

void frmManager::List1_DblClick()
{
    frmScan dlg(List1, this);
    const QString number = m_shownNumber;
    dlg.pageTextOf = [number](const QString &photo) { return pageTextShown(number, photo); };
    // Printing from the viewer as from the pop-up menu: the record on show, for every
    // level that may print it.
    if (m_clickedRowId != 0 && app::CurrentAuthority != kOnlyAdd) {
        const QString printed = Label4->text();
        const qint64 rowId = m_clickedRowId;
        dlg.setPrintHook([printed, rowId](QWidget *parent) { records::printRecord(parent, printed, rowId); });
    }
    platform::execModal(dlg);
}

QString frmManager::pageTextShown(const QString &number, const QString &photo)
{
    try {
        store::Connection connection(app::DbPath);
        if (!store::hasPageTextTable(connection))
            return QStringLiteral("这张照片的文字还没有识别。");
        const store::PageTextRow row = store::readPageText(connection, number, photo);
        if (row.rowId == 0 || (row.state == store::kPagePending && row.words.isNull()))
            return QStringLiteral("这张照片的文字还没有识别，识别后可在这里看到。");
        if (row.state == store::kPageFailed)
            return QStringLiteral("这张照片的文字未能识别：%1").arg(row.reason);
        if (row.words.trimmed().isEmpty())
            return QStringLiteral("这张照片上没有识别出文字。");
        return row.words;
    } catch (const store::StoreError &e) {
        return QStringLiteral("照片文字不能读取：%1").arg(e.description());
    }
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
        // The row on show only (another record of the earlier system may share its number)
        // goes into the recycle bin, its photos with it unless another row keeps the number.
        removed = store::moveRecordToBin(connection, app::currentActor(), rowId) ? 1 : 0;
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

const QColor frmManager::kMatchedPhotoColour(255, 236, 160);

void frmManager::markPhotosWithMatchingText(store::Connection &connection, const QString &number)
{
    const store::SearchFilter &filter = app::SearchFilter;
    if (!filter.inPageText)
        return;
    const QSet<QString> matching = store::photosMatching(connection, number, filter);
    if (matching.isEmpty())
        return;
    // The items keep their text, the photo's path, which other windows read from here.
    for (int i = 0; i < List1->count(); ++i) {
        QListWidgetItem *item = List1->item(i);
        if (!matching.contains(item->text()))
            continue;
        item->setData(kMatchedRole, true);
        item->setBackground(kMatchedPhotoColour);
        item->setToolTip(platform::plainToolTip(QStringLiteral("这张照片的文字中有“%1”").arg(filter.text)));
    }
}

QString frmManager::prepareSearch(store::Connection &connection, store::SearchFilter &filter)
{
    if (filter.isEmpty())
        return QString();
    // An archive whose photos were never read has no page text yet: nothing is found there.
    if (filter.inPageText)
        filter.pageTextReadable = store::hasPageTextTable(connection);
    const store::IndexedSearch indexed = store::prepareIndexedSearch(connection, filter);
    QString note;
    if (filter.inPageText)
        note = QStringLiteral("，其中 %1 条由照片文字找到")
                   .arg(filter.pageTextReadable ? store::countRecordsMatchedByPages(connection, filter) : 0);
    // The scan finds what the index would; the office learns why the search was slow.
    if (indexed.fellBack())
        note += indexed.notBuilt()
            ? QStringLiteral("（搜索索引尚未建立，已逐条查找；请系统管理员运行 casearchive-admin upgrade 建立索引）")
            : QStringLiteral("（搜索索引缺失或已损坏，已逐条查找；请系统管理员运行 casearchive-admin upgrade --rebuild-index 重建索引）");
    return note;
}
