#include "records/frmModifyForm.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "ocr/PageQueue.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "records/frmManager.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/Statements.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

frmModifyForm::frmModifyForm(frmManager *browser, QWidget *parent)
    : RecordEntryForm(parent ? parent : browser, QStringLiteral("frmModifyForm"), QStringLiteral("修改病案记录"))
{
    Frame1->setGeometry(platform::tw(300), platform::tw(180), platform::tw(7305), platform::tw(4380));
    SaveAdd->setText(QStringLiteral("修改记录"));
    platform::place(SaveAdd, 5280, 390, 1230, 405);

    // Its own tab order; Enter in the name field, which moves on as Tab would, therefore
    // leads to the type box.
    QWidget *order[] = {Command2, SaveAdd, txtFields[2], txtFields[1], txtFields[0],
                        Combo1, List1, picEditFile, Command1};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    fitClientArea(7890, 4860);
    // Centred on the window that opened it: the dialog's own placement over its parent.
    Form_Load(browser);
}

frmModifyForm::~frmModifyForm() = default;

void frmModifyForm::Form_Load(frmManager *browser)
{
    if (browser) {
        setRecordNumber(browser->recordNumber());
        // The row of the record on show, so that a second record of the earlier system
        // with the same number is left alone.
        m_rowId = browser->shownRowId();
        setFieldText(0, browser->recordCaption());
        setFieldText(1, browser->fieldText(1));
        setFieldText(2, browser->fieldText(2));
        if (QListWidget *photos = browser->photoList())
            for (int i = 0; i < photos->count(); ++i)
                List1->addItem(photos->item(i)->text());
    }
    loadTypes();
    if (browser)
        Combo1->setEditText(browser->fieldText(0));
    // Without a record there is nothing to replace.
    SaveAdd->setEnabled(!recordNumber().isEmpty());
}

void frmModifyForm::showEvent(QShowEvent *event)
{
    RecordEntryForm::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        txtFields[0]->setFocus(Qt::OtherFocusReason);
    }
}

void frmModifyForm::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Esc does nothing; the close box is the way out.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    RecordEntryForm::keyPressEvent(event);
}

namespace {
// The record was deleted (on another workstation, say) while this window was open.
QString vanishedQuestion(const QString &number)
{
    return QStringLiteral("病案号为 %1 的病案已不在档案中，可能已被删除。").arg(number) + QStringLiteral("\r\n")
        + QStringLiteral("要把所填的内容作为该病案重新保存吗？(Y/N)");
}
} // namespace

const QString frmModifyForm::kVanishedTitle = QStringLiteral("确认");

void frmModifyForm::SaveAdd_Click()
{
    if (recordNumber().isEmpty())
        return;
    if (refuseBlankFields(QStringLiteral("病案名有错误")))
        return;
    bool saveAgain = false;
    for (;;) {
        Outcome outcome = Outcome::Saved;
        try {
            outcome = saveRecord(saveAgain);
        } catch (const TypeRefused &) {
            refuseType();
            return;
        } catch (const store::StoreError &e) {
            // Rolled back: the old record and its photos are intact; the window stays as typed.
            showStoreFailure(e.description());
            return;
        } catch (const std::exception &e) {
            showStoreFailure(QString::fromLocal8Bit(e.what()));
            return;
        }
        if (outcome == Outcome::Saved)
            break;
        // Gone meanwhile: saving would bring back a record somebody deleted, so only an
        // explicit Yes does; otherwise the window stays open as typed.
        if (platform::message(this, vanishedQuestion(recordNumber()), kVanishedTitle, platform::Buttons::YesNo,
                              platform::Icon::Question, platform::Answer::No)
            != platform::Answer::Yes)
            return;
        saveAgain = true;
    }
    accept();
}

frmModifyForm::Outcome frmModifyForm::saveRecord(bool saveAgain)
{
    const QString number = recordNumber();
    store::Connection connection(app::DbPath);
    store::Transaction transaction(connection);

    // The row to replace: the browser's; should that have gone, the only row of the number.
    const QVector<store::RecordRow> rows = store::readRecord(connection, number);
    if (rows.isEmpty() && !saveAgain)
        return Outcome::Vanished; // nothing written; the transaction rolls back
    qint64 target = 0;
    for (const store::RecordRow &r : rows)
        if (r.rowId == m_rowId)
            target = r.rowId;
    if (target == 0 && rows.size() == 1)
        target = rows.front().rowId;
    if (target == 0 && rows.size() > 1)
        throw store::StoreError(QStringLiteral("病案号为 %1 的病案有 %2 条，无法确定要修改的是哪一条。请刷新仓库，重新选择该病案后再修改。")
                                    .arg(number)
                                    .arg(rows.size()));

    const store::RecordRow record = enteredRecord(number);
    // The type is one the tree shows: a type typed here joins the list of types with it.
    saveTypeOf(connection, record);
    store::RecordRow stored = record;
    std::optional<store::RecordState> before;
    if (target != 0) {
        // Replaced in place: the row keeps its identity, so the browser still holds it and
        // the record keeps its place among its type's records.
        before = store::takeRecordState(connection, target);
        stored.rowId = target;
        store::insertRecordRow(connection, stored);
    } else {
        // Gone meanwhile, and the operator asked for it back: saved again under its number.
        stored.rowId = store::insertRecord(connection, stored);
    }
    // The photos are keyed by number. The list shown is every photo row of the number (a
    // second record of the earlier system with this number shows the same list), so the
    // list as edited replaces them all.
    store::deletePhotoRows(connection, number);
    for (const QString &photo : photoPaths())
        store::insertPhoto(connection, number, photo);
    store::Change change;
    change.kind = store::ChangeKind::RecordModified;
    change.number = number;
    change.rowId = stored.rowId;
    if (target == 0) {
        // Saved again after it was deleted elsewhere: a new row, which the trail calls an addition.
        change.kind = store::ChangeKind::RecordAdded;
        change.detail = QStringLiteral("病案已不在档案中，按修改窗口所填重新保存");
    }
    change.before = before;
    // What was just written, as written: the row, and the number's photo rows, which are
    // now the list as edited.
    change.after = store::RecordState{stored, photoPaths()};
    // Saved as it was: nothing changed, so the trail has nothing to say.
    if (!(change.before && change.after && *change.before == *change.after))
        store::appendHistory(connection, app::currentActor(), change);
    transaction.commit();
    // Their words are read in the background, for the search.
    pictures::PageTextQueue::photosSaved(connection, number, photoPaths());
    if (target != 0)
        m_rowId = target;
    return Outcome::Saved;
}
