// The record browser at work: its load and unload, the tree's load, a node's click and the
// record's details, and the events it watches. Its controls and their layout are built in
// frmManagerLayout.cpp, its commands are in frmManagerCommands.cpp.
#include "records/frmManager.h"

#include "common/Module1.h"
#include "ocr/PageQueue.h"
#include "pictures/frmScan.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/ReloadFeedback.h"
#include "records/frmBackup.h"
#include "records/frmModifyForm.h"
#include "records/frmNewForm.h"
#include "records/frmManagerShared.h"
#include "records/frmSearchForm.h"
#include "store/Database.h"
#include "store/Settings.h"
#include "store/PageText.h"
#include "store/Statements.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <functional>

namespace {

const QString kFailureTitle = QStringLiteral("错误提示");

constexpr int kMinWindow = 3000;   // twips: the window's least width and height

} // namespace

std::function<void(QWidget *)> frmManager::openCatalogWindow;

frmManager::frmManager(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmManager"));
    setWindowTitle(QString());
    setFont(platform::songFont(9));
    platform::setColors(this, QColor(224, 224, 224));
    setMinimumSize(platform::tw(kMinWindow), platform::tw(kMinWindow));
    buildControls();
    buildMenu();
    Form_Load();
}

frmManager::~frmManager()
{
    // Destroyed without being closed (the main window going away with the program):
    // the toolbar may already be gone, so only the flag is put right.
    if (!m_unloaded) {
        app::BrowserLoaded = false;
        app::setBrowserReloadTarget({});
    }
}

// ---------------------------------------------------------------- load and unload

void frmManager::Form_Load()
{
    app::BrowserLoaded = true;
    app::setBrowserReloadTarget([this] { cmdLoad_Click(); });
    // A failing step ends the load; the window stays open with what could be read.
    reportFailures([this] {
        const double stored = settings::readNumber(QStringLiteral("Config"), QStringLiteral("Split"));
        m_splitLeft = stored < kMinSide ? kMinSide : int(qMin(stored, 1.0e7));
        loadTree();
        app::setToolButtonEnabled(QStringLiteral("Search"), true);
        ApplyAuthority();
    });
    // Photos saved while the program was not running (or by an earlier version) are
    // queued and read now, in the background.
    pictures::PageTextQueue::instance().wake(app::DbPath);
}

void frmManager::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    app::setToolButtonEnabled(QStringLiteral("Modify"), false);
    app::setToolButtonEnabled(QStringLiteral("Delete"), false);
    app::BrowserLoaded = false;
    app::setBrowserReloadTarget({});
    // Unloading the browser ends the program, however the unload came about.
    if (!app::ProgramEnding())
        app::EndProgram();
}

void frmManager::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmManager::showStoreFailure(const QString &description)
{
    platform::message(this, description, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
}

void frmManager::reportFailures(const std::function<void()> &work)
{
    try {
        work();
    } catch (const store::StoreError &e) {
        showStoreFailure(e.description());
    } catch (const std::exception &e) {
        showStoreFailure(QString::fromLocal8Bit(e.what()));
    }
}

// ---------------------------------------------------------------- tree load

std::function<qint64()> frmManager::reloadClock = [] {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
};

void frmManager::cmdLoad_Click()
{
    // A reload asked for by a command or another window: the operator learns why the
    // tree is incomplete, and the browser stays usable with what could be read.
    // One asked for while the window repaints during a load follows that load.
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    do {
        m_readAgain = false;
        reportFailures([this] { loadTree(); });
    } while (m_readAgain);
}

void frmManager::clearDetails()
{
    // Only a real change counts as one: emptying fields that are empty already must not
    // touch picEditFile.
    if (!txtPath->text().isEmpty())
        txtPath->clear();
    if (!txtDescription->document()->isEmpty())
        txtDescription->clear();
    m_shownDescription.clear();
    if (!txtType->text().isEmpty())
        txtType->clear();
}

void frmManager::loadTree()
{
    m_reading = true;
    // Said before anything can fail, undone however the load ends.
    struct Reading {
        bool &flag;
        ~Reading() { flag = false; }
    } reading{m_reading};
    ReloadFeedback feedback(reloadClock);
    const ArchiveTreeModel::Checkpoint checkpoint = [&feedback](qint64 rows) { feedback(rows); };
    const auto finished = [&] { feedback.finished(m_model->recordCount()); };

    lblFileCaption->setText(ArchiveTreeModel::kRootText);
    lblFileCaption->adjustSize();
    Label4->clear();
    Label4->adjustSize();
    ListView_Resize();
    clearDetails();
    List1->clear();
    m_shownNumber.clear();
    m_shownRowId = 0;
    m_clickedRowId = 0;

    app::setToolButtonEnabled(QStringLiteral("Modify"), false);
    app::setToolButtonEnabled(QStringLiteral("Delete"), false);
    MnuModifyFile->setEnabled(false);
    MnuDeleteFile->setEnabled(false);
    MnuOpenFile->setEnabled(false);

    // Expanding right after the reset only records the wish; the view lays the rows out
    // once, when it next paints. Only the root and the types are expanded: records have
    // no children.
    auto expandTree = [this] {
        m_loading = true;
        TreeView->expand(m_model->rootIndex());
        for (int i = 0; i < m_model->typeCount(); ++i)
            TreeView->expand(m_model->typeIndex(i));
        m_loading = false;
        fitTreeColumn();
    };
    m_model->clear();
    QString byPages;
    try {
        store::Connection connection(app::DbPath);
        store::SearchFilter filter = app::SearchFilter;
        byPages = prepareSearch(connection, filter);
        m_model->load(connection, filter, ArchiveTreeModel::Read::Engine, checkpoint);
        m_model->appendSearchNote(byPages);
    } catch (...) {
        expandTree();
        app::ShowSearchState(m_model->searchNote());
        finished();
        throw;
    }
    expandTree();
    finished();
    // While a search is in force the main window says what was looked for and found.
    app::ShowSearchState(m_model->searchNote());

    MnuAddFile->setEnabled(false);
    MnuModifyFile->setEnabled(false);
    MnuDeleteFile->setEnabled(false);
}

void frmManager::fitTreeColumn()
{
    // As the view measures a line: the item's own width and its indentation, the root's
    // decoration included.
    const int indentation = TreeView->indentation();
    int width = 0;
    for (const QModelIndex &node : m_model->widestNodes()) {
        int level = 0;
        for (QModelIndex up = node.parent(); up.isValid(); up = up.parent())
            ++level;
        width = qMax(width, TreeView->sizeHintForIndex(node).width()
                                + (level + (TreeView->rootIsDecorated() ? 1 : 0)) * indentation);
    }
    TreeView->header()->resizeSection(0, width);
}

void frmManager::TreeView_Collapse(const QModelIndex &node)
{
    if (!m_loading && m_model->kind(node) == ArchiveTreeModel::Kind::Root)
        m_model->setRootImage(QStringLiteral("SClosed2"));
}

void frmManager::TreeView_Expand(const QModelIndex &node)
{
    if (!m_loading && m_model->kind(node) == ArchiveTreeModel::Kind::Root)
        m_model->setRootImage(QStringLiteral("Open2"));
}

// ---------------------------------------------------------------- node click and details

void frmManager::setRecordCommands(bool enabled)
{
    MnuAddFile->setEnabled(enabled);
    MnuModifyFile->setEnabled(enabled);
    MnuDeleteFile->setEnabled(enabled);
    app::setToolButtonEnabled(QStringLiteral("Modify"), enabled);
    app::setToolButtonEnabled(QStringLiteral("Delete"), enabled);
}

void frmManager::TreeView_NodeClick(const QModelIndex &node)
{
    using Kind = ArchiveTreeModel::Kind;
    const Kind kind = m_model->kind(node);
    if (kind == Kind::None)
        return;
    const QString text = m_model->text(node);
    const QString number = m_model->number(node);
    const qint64 rowId = m_model->rowId(node);

    lblFileCaption->setText(text);
    lblFileCaption->adjustSize();
    Label4->setText(kind == Kind::Record ? number : QString());
    Label4->adjustSize();
    ListView_Resize();

    if (kind == Kind::Record) {
        m_clickedRowId = rowId;
        setRecordCommands(true);
        ApplyAuthority();
        // Identity is the number and the row together: two rows of the earlier system can
        // share a number, and clicking the second must show the second.
        if (number != m_shownNumber || rowId != m_shownRowId) {
            bool found = false;
            try {
                found = ShowRecordDetails(number, rowId);
                if (found) {
                    m_shownNumber = number;
                    m_shownRowId = rowId;
                }
            } catch (const store::StoreError &e) {
                // The record may well be there, but what is on show is not it: a
                // modification would copy the blanks over its description and photos.
                // Modify and delete come back with a click that reads it whole.
                forgetShownRecord();
                m_clickedRowId = 0;
                setRecordCommands(false);
                showStoreFailure(e.description());
                found = true;
            }
            if (!found) {
                // Nothing left to modify or delete: the commands would act on nothing.
                forgetShownRecord();
                m_clickedRowId = 0;
                setRecordCommands(false);
                showStoreFailure(QStringLiteral("病案号为 %1 的病案已不在档案中，可能已被删除。请刷新仓库。").arg(number));
            }
            MnuOpenFile->setEnabled(!txtPath->text().trimmed().isEmpty() && app::CurrentAuthority != kOnlyAdd);
        }
    } else {
        m_clickedRowId = 0;
        setRecordCommands(false);
        clearDetails();
        m_shownNumber.clear();
        m_shownRowId = 0;
        MnuOpenFile->setEnabled(false);
        // An operator who may only modify records is not offered the add command here.
        // Nor under the records of unlisted types: a new record goes under a listed one.
        if (kind == Kind::Type && !m_model->isUnlisted(node) && text != ArchiveTreeModel::kRootText
            && app::CurrentAuthority != kOnlyModify) {
            MnuAddFile->setEnabled(true);
            app::setToolButtonEnabled(QStringLiteral("Add"), true);
        }
    }
}

void frmManager::forgetShownRecord()
{
    clearDetails();
    List1->clear();
    m_shownNumber.clear();
    m_shownRowId = 0;
}

bool frmManager::ShowRecordDetails(const QString &number, qint64 rowId)
{
    if (app::CurrentAuthority == kOnlyAdd)
        return true;
    store::Connection connection(app::DbPath);
    const QVector<store::RecordRow> rows = store::readRecord(connection, number);
    if (rows.isEmpty())
        return false;
    // The clicked row; should it have been rewritten since the load (a modification
    // keeps the number), the record with that number stands in.
    const store::RecordRow *row = &rows.front();
    for (const store::RecordRow &r : rows) {
        if (r.rowId == rowId) {
            row = &r;
            break;
        }
    }
    const QStringList photos = store::readPhotos(connection, number);
    m_clickedRowId = row->rowId; // the commands act on the row on show

    txtType->setText(row->typeName);
    txtPath->setText(row->path);
    // The box shows line breaks its own way; the record's own text is kept for the
    // windows that read it from here.
    m_shownDescription = row->description;
    txtDescription->setPlainText(row->description);
    List1->clear();
    List1->addItems(photos);
    markPhotosWithMatchingText(connection, number);
    return true;
}

void frmManager::txtFields_Change()
{
    picEditFile->setVisible(!txtPath->text().trimmed().isEmpty());
}

void frmManager::ApplyAuthority()
{
    const QString &level = app::CurrentAuthority;
    // A backup carries the whole archive away: not for those who may only add records.
    MnuBackup->setEnabled(level != kOnlyAdd);
    if (level == kOnlyAdd) {
        MnuAddFile->setEnabled(true);
        MnuModifyFile->setEnabled(false);
        MnuDeleteFile->setEnabled(false);
        MnuSearchFile->setEnabled(false);
        app::setToolButtonEnabled(QStringLiteral("Add"), true);
        app::setToolButtonEnabled(QStringLiteral("Modify"), false);
        app::setToolButtonEnabled(QStringLiteral("Delete"), false);
        app::setToolButtonEnabled(QStringLiteral("Search"), false);
    } else if (level == kOnlyModify) {
        MnuAddFile->setEnabled(false);
        MnuModifyFile->setEnabled(true);
        MnuDeleteFile->setEnabled(false);
        app::setToolButtonEnabled(QStringLiteral("Add"), false);
        app::setToolButtonEnabled(QStringLiteral("Modify"), true);
        app::setToolButtonEnabled(QStringLiteral("Delete"), false);
    }
}

QString frmManager::recordNumber() const { return Label4->text(); }
QString frmManager::recordCaption() const { return lblFileCaption->text(); }

QString frmManager::fieldText(int index) const
{
    switch (index) {
    case 0:
        return txtType->text();
    case 1:
        return txtPath->text();
    case 2:
        // As stored (CR LF and all) while the box shows the record's own text.
        return txtDescription->toPlainText() == RecordEntryForm::asShownInABox(m_shownDescription)
            ? m_shownDescription
            : txtDescription->toPlainText();
    default:
        return {};
    }
}

// ---------------------------------------------------------------- events

bool frmManager::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ListView && event->type() == QEvent::Resize) {
        ListView_Resize();
    } else if (List1 && watched == List1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        auto *me = static_cast<QMouseEvent *>(event);
        // A double click on a photo opens it; on the empty part of the list there is
        // nothing to show.
        if (me->button() == Qt::LeftButton) {
            if (QListWidgetItem *item = List1->itemAt(me->position().toPoint())) {
                List1->setCurrentItem(item);
                List1_DblClick();
                return true;
            }
        }
    } else if (TreeView && watched == TreeView->viewport()
               && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::RightButton) {
            // The menu acts on the node last clicked with the left button, so the right
            // button must not move the tree's selection.
            if (event->type() == QEvent::MouseButtonPress)
                MnuControl->popup(me->globalPosition().toPoint());
            return true;
        }
        if (me->button() != Qt::LeftButton)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}
