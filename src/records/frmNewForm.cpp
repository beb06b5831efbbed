#include "records/frmNewForm.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "ocr/PageQueue.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace {
const QString kNumberFormat = QStringLiteral("yyMMddHHmmss");
// How far a save looks for a free number before it gives up (a day of seconds).
constexpr int kMaxNumberSteps = 24 * 60 * 60;
} // namespace

std::function<QDateTime()> frmNewForm::Now = [] { return QDateTime::currentDateTime(); };

frmNewForm::frmNewForm(QWidget *parent)
    : RecordEntryForm(parent, QStringLiteral("frmNewForm"), QStringLiteral("添加新病案记录"))
{
    Frame1->setGeometry(platform::tw(165), platform::tw(75), platform::tw(7305), platform::tw(4380));

    ExitB = new QPushButton(QStringLiteral("关闭返回"), Frame1);
    ExitB->setObjectName(QStringLiteral("ExitB"));
    platform::place(ExitB, 5910, 405, 1230, 405);
    ExitB->setAutoDefault(false);
    connect(ExitB, &QPushButton::clicked, this, &frmNewForm::ExitB_Click);

    // The tab indexes of the design: Command1 1, picEditFile 2, List1 3, Combo1 4,
    // the three fields 5 to 7, ExitB 8, SaveAdd 9, Command2 15.
    QWidget *order[] = {Command1, picEditFile, List1, Combo1, txtFields[0], txtFields[1],
                        txtFields[2], ExitB, SaveAdd, Command2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    fitClientArea(7650, 4620);
    // Centred on the screen.
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    Form_Load();
}

frmNewForm::~frmNewForm() = default;

QString frmNewForm::numberFor(const QDateTime &time) { return time.toString(kNumberFormat); }

QString frmNewForm::numberAfter(const QString &number)
{
    if (number.size() != 12)
        return QString();
    for (const QChar c : number)
        if (!c.isDigit() || c.unicode() > '9')
            return QString();
    auto part = [&number](int at) { return number.mid(at, 2).toInt(); };
    const QDate date(2000 + part(0), part(2), part(4));
    const QTime time(part(6), part(8), part(10));
    if (!date.isValid() || !time.isValid())
        return QString();
    // Counted in universal time, where every second exists once.
    return QDateTime(date, time, Qt::UTC).addSecs(1).toString(kNumberFormat);
}

void frmNewForm::Form_Load()
{
    m_recordDirty = false;
    m_recordSaved = false;
    loadTypes();
    makeRecordNumber();
}

void frmNewForm::showEvent(QShowEvent *event)
{
    RecordEntryForm::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        txtFields[0]->setFocus(Qt::OtherFocusReason);
    }
}

void frmNewForm::makeRecordNumber() { setRecordNumber(numberFor(Now())); }

void frmNewForm::txtFields_Change() { m_recordDirty = true; }

frmNewForm::SaveResult frmNewForm::Save()
{
    if (refuseBlankFields(kFailureTitle))
        return SaveResult::BlankRefused;
    const QString shown = recordNumber();
    try {
        store::Connection connection(app::DbPath);
        store::Transaction transaction(connection);
        // The number must be free at the moment of saving: a record saved within the same
        // second (or any record that took the number meanwhile) moves this one on to the
        // next free second, which the caption then shows. The check and the insert run in
        // one write transaction, so nothing can take the number in between.
        QString number = shown;
        int steps = 0;
        while (store::countRecordsWithNumber(connection, number) > 0
               || !store::readPhotos(connection, number).isEmpty()) {
            QString next = numberAfter(number);
            if (next.isEmpty())
                next = numberFor(Now()); // a caption that holds no number: the clock's
            if (++steps > kMaxNumberSteps || next == number)
                throw store::StoreError(QStringLiteral("找不到可用的病案记录号。"));
            number = next;
        }
        if (number != shown)
            setRecordNumber(number);
        const store::RecordRow record = enteredRecord(number);
        saveTypeOf(connection, record);
        const qint64 rowId = store::insertRecord(connection, record);
        if (rowId == 0)
            throw store::StoreError(QStringLiteral("病案 %1 保存后读不回来，没有保存。").arg(number));
        for (const QString &photo : photoPaths())
            store::insertPhoto(connection, number, photo);
        // The number was free: the row and the photo rows just written are all it has, as
        // they were typed (a cell is stored as it is given).
        store::Change change;
        change.kind = store::ChangeKind::RecordAdded;
        change.number = number;
        change.rowId = rowId;
        store::RecordRow saved = record;
        saved.rowId = rowId;
        change.after = store::RecordState{saved, photoPaths()};
        store::appendHistory(connection, app::currentActor(), change);
        transaction.commit();
        // Their words are read in the background, for the search.
        pictures::PageTextQueue::photosSaved(connection, number, photoPaths());
    } catch (const TypeRefused &) {
        refuseType();
        return SaveResult::NotSaved;
    } catch (const store::StoreError &e) {
        // Rolled back: nothing written, the fields as typed. The caption keeps the number
        // the record was to be saved under; the next save checks it again.
        showStoreFailure(e.description());
        return SaveResult::NotSaved;
    } catch (const std::exception &e) {
        showStoreFailure(QString::fromLocal8Bit(e.what()));
        return SaveResult::NotSaved;
    }
    // A type typed here is in the list from now on.
    const QString typeName = Combo1->currentText().trimmed();
    if (Combo1->findText(typeName, Qt::MatchFixedString) < 0) {
        Combo1->addItem(typeName);
        Combo1->setCurrentIndex(-1);
    }
    Combo1->setEditText(typeName);

    makeRecordNumber();
    clearFields();
    List1->clear();
    // Combo1 keeps its text: the next record starts with the same type.
    txtFields[0]->setFocus(Qt::OtherFocusReason);
    m_recordDirty = false;
    m_recordSaved = true;
    return SaveResult::Saved;
}

void frmNewForm::SaveAdd_Click() { Save(); }

void frmNewForm::ExitB_Click() { close(); }

void frmNewForm::done(int result)
{
    if (!m_unloaded) {
        if (!Form_Unload())
            return; // the record could not be stored: the window stays open as typed
        m_unloaded = true;
    }
    RecordEntryForm::done(result);
}

bool frmNewForm::Form_Unload()
{
    settings::writePosition(QStringLiteral("AddNew"), pos());
    if (m_recordDirty
        && platform::message(this, QStringLiteral("有添加记录，需要保存码？(Y/N)"), QStringLiteral("未保存"),
                             platform::Buttons::YesNo, platform::Icon::Question, platform::Answer::Yes)
            == platform::Answer::Yes) {
        // A blank field refused has shown its message and the window closes all the same;
        // a store that failed would lose the record with the window, so the window stays.
        if (Save() == SaveResult::NotSaved)
            return false;
    }
    if (m_recordSaved)
        app::ReloadBrowser(); // does nothing while no browser is open
    return true;
}
