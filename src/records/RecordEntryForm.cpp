#include "records/RecordEntryForm.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "pictures/SelectFile.h"
#include "records/RecordEntryFields.h"
#include "scan/frmScanner.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/Settings.h"

#include <QAction>
#include <QFileInfo>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

const QString RecordEntryForm::kNumberCaption = QStringLiteral("病案记录号：");
const QString RecordEntryForm::kBlankMessage = QStringLiteral("病案名称、路径、类别均不能空，且不能重复,请检查!");
const QString RecordEntryForm::kApostropheMessage = QStringLiteral("该项目之中有特殊字符") + QStringLiteral("<'>,请删除。");
const QString RecordEntryForm::kApostropheTitle = QStringLiteral("提示：");
const QString RecordEntryForm::kFailureTitle = QStringLiteral("错误提示");
const QString RecordEntryForm::kFileCaption = QStringLiteral("请选择文件");
const QString RecordEntryForm::kPhotoFilter = QStringLiteral("*.jpg|*.jpg|*.bmp|*.bmp");
const QString RecordEntryForm::kAnyFileFilter = QStringLiteral("所有文件(*.*)|*.*|");

namespace {

const QColor kFocusBack(0, 0, 255);
const QColor kFocusText(255, 255, 255);
const QColor kPlainBack(255, 255, 255);
const QColor kPlainText(0, 0, 0);
const QString kConfig = QStringLiteral("Config");
const QString kAddKey = QStringLiteral("Add");

EntryLine *line(QWidget *w) { return static_cast<EntryLine *>(w); }

} // namespace

RecordEntryForm::RecordEntryForm(QWidget *parent, const QString &objectName, const QString &title)
    : QDialog(parent)
{
    platform::setUpFixedDialog(this, objectName, title);
    buildControls();
}

RecordEntryForm::~RecordEntryForm()
{
    // The fields outlive this part of the window by a little (the dialog hides itself as it
    // goes): from here on they report to nobody.
    static_cast<EntryLine *>(txtName)->hooks = {};
    static_cast<EntryLine *>(txtPath)->hooks = {};
    static_cast<EntryText *>(txtDescription)->hooks = {};
    disconnect(txtName, nullptr, this, nullptr);
    disconnect(txtPath, nullptr, this, nullptr);
    disconnect(txtDescription, nullptr, this, nullptr);
}

void RecordEntryForm::buildControls()
{
    using platform::place;

    Frame1 = new QGroupBox(kNumberCaption, this);
    Frame1->setObjectName(QStringLiteral("Frame1"));

    auto *name = new EntryLine(kNameLimit, Frame1);
    auto *path = new EntryLine(kPathLimit, Frame1);
    auto *description = new EntryText(kDescriptionLimit, Frame1);
    txtName = name;
    txtPath = path;
    txtDescription = description;
    txtFields[0] = txtName;
    txtFields[1] = txtPath;
    txtFields[2] = txtDescription;
    FieldHooks *hooks[3] = {&name->hooks, &path->hooks, &description->hooks};
    for (int i = 0; i < 3; ++i) {
        txtFields[i]->setObjectName(QStringLiteral("txtFields(%1)").arg(i));
        platform::setColors(txtFields[i], kPlainBack, kPlainText);
        hooks[i]->gotFocus = [this, i](Qt::FocusReason r) { txtFields_GotFocus(i, r); };
        hooks[i]->lostFocus = [this, i](Qt::FocusReason r) { txtFields_LostFocus(i, r); };
        hooks[i]->keyDown = [this, i](QKeyEvent *e) { return txtFields_KeyDown(i, e); };
    }
    path->hooks.dblClick = [this] { picEditFile_Click(); };
    connect(txtName, &QLineEdit::textChanged, this, [this] { txtFields_Change(); });
    connect(txtPath, &QLineEdit::textChanged, this, [this] { txtFields_Change(); });
    connect(txtDescription, &QPlainTextEdit::textChanged, this, [this] { txtFields_Change(); });

    place(txtName, 1650, 465, 2400, 285);
    place(txtPath, 1650, 960, 4935, 285);
    // The description and the list are big enough for their font as designed; the
    // description starts below the path should the path have grown for its font.
    txtDescription->setGeometry(platform::tw(1650), platform::tw(1320), platform::tw(4935), platform::tw(1005));
    {
        const QRect d = txtDescription->geometry();
        const int top = qMax(d.top(), txtPath->geometry().bottom() + 3);
        txtDescription->setGeometry(d.left(), top, d.width(), d.bottom() + 1 - top);
    }

    SaveAdd = new QPushButton(QStringLiteral("保存记录"), Frame1);
    SaveAdd->setObjectName(QStringLiteral("SaveAdd"));
    place(SaveAdd, 4530, 405, 1230, 405);
    connect(SaveAdd, &QPushButton::clicked, this, [this] { SaveAdd_Click(); });

    picEditFile = new QPushButton(QStringLiteral("..."), Frame1);
    picEditFile->setObjectName(QStringLiteral("picEditFile"));
    place(picEditFile, 6630, 960, 405, 315);
    connect(picEditFile, &QPushButton::clicked, this, &RecordEntryForm::picEditFile_Click);

    List1 = new QListWidget(Frame1);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setGeometry(platform::tw(1650), platform::tw(2430), platform::tw(4935), platform::tw(1320));
    // "..." keeps its plain file dialog; a photo can also be picked with a preview.
    auto *preview = new QAction(QStringLiteral("用图片选择器添加(&P)..."), List1);
    preview->setObjectName(QStringLiteral("MnuPreviewPhoto"));
    connect(preview, &QAction::triggered, this, &RecordEntryForm::MnuPreviewPhoto_Click);
    List1->addAction(preview);
    auto *scan = new QAction(QStringLiteral("扫描..."), List1);
    scan->setObjectName(QStringLiteral("MnuScanPhoto"));
    connect(scan, &QAction::triggered, this, &RecordEntryForm::MnuScanPhoto_Click);
    List1->addAction(scan);
    List1->setContextMenuPolicy(Qt::ActionsContextMenu);

    Command1 = new QPushButton(QStringLiteral("..."), Frame1);
    Command1->setObjectName(QStringLiteral("Command1"));
    place(Command1, 6630, 2430, 405, 315);
    connect(Command1, &QPushButton::clicked, this, &RecordEntryForm::Command1_Click);

    auto *remove = new WrappingButton(QStringLiteral("删除该项"), Frame1);
    Command2 = remove;
    Command2->setObjectName(QStringLiteral("Command2"));
    place(Command2, 6630, 2820, 405, 915);
    // Wide enough for two characters a line: the caption stands in two lines, not four,
    // and its lines fit the design height whatever the font's line spacing.
    {
        const QFontMetrics fm(Command2->font());
        const int twoCharacters = fm.horizontalAdvance(QStringLiteral("删除")) + 6;
        Command2->resize(qMax(Command2->width(), twoCharacters), Command2->height());
        const int needed = fm.height() * int(remove->lines(Command2->width() - 4).size()) + 6;
        Command2->resize(Command2->width(), qMax(Command2->height(), needed));
    }
    connect(Command2, &QPushButton::clicked, this, &RecordEntryForm::Command2_Click);

    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert); // a typed type is saved, never added to the list
    place(Combo1, 1650, 3870, 4935, 300);

    // Each caption stands before its control, centred on it (the design heights are those
    // of the classic font; this one may need more).
    const QString captions[4] = {QStringLiteral("病案名称:"), QStringLiteral("路径名称:"),
                                 QStringLiteral("文件说明:"), QStringLiteral("手术照片:")};
    const int tops[4] = {525, 1020, 1410, 2550};
    for (int i = 0; i < 4; ++i) {
        lblLabels[i] = new QLabel(captions[i], Frame1);
        lblLabels[i]->setObjectName(QStringLiteral("lblLabels(%1)").arg(i));
        platform::placeAutoSize(lblLabels[i], 540, tops[i]);
    }
    lblType = new QLabel(QStringLiteral("病案类别:"), Frame1);
    lblType->setObjectName(QStringLiteral("lblLabels(7)"));
    platform::placeAutoSize(lblType, 540, 3930);
    auto centreOn = [](QLabel *label, QWidget *control) {
        label->move(label->x(), control->y() + (control->height() - label->height()) / 2);
    };
    centreOn(lblLabels[0], txtName);
    centreOn(lblLabels[1], txtPath);
    centreOn(lblType, Combo1);
    // The several-line description and the list: the caption level with their first line.
    lblLabels[2]->move(lblLabels[2]->x(), qMax(lblLabels[2]->y(), txtDescription->y() + 3));
    lblLabels[3]->move(lblLabels[3]->x(), qMax(lblLabels[3]->y(), List1->y() + 3));

    // No button is the window's default: Enter in the type box or the list does nothing,
    // and Enter on a button presses that button (keyPressEvent).
    for (QPushButton *b : Frame1->findChildren<QPushButton *>())
        b->setAutoDefault(false);

    // The buttons beside the list sit below one another whatever their grown heights.
    if (Command2->y() < Command1->geometry().bottom() + 4)
        Command2->move(Command2->x(), Command1->geometry().bottom() + 4);
}

void RecordEntryForm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void RecordEntryForm::fitClientArea(int widthTwips, int heightTwips)
{
    // The frame holds everything; it grows where a control grew past its edge.
    const QRect inside = Frame1->childrenRect();
    Frame1->resize(qMax(Frame1->width(), inside.right() + 1 + platform::tw(120)),
                   qMax(Frame1->height(), inside.bottom() + 1 + platform::tw(120)));
    const QRect frame = Frame1->geometry();
    setFixedSize(qMax(platform::tw(widthTwips), frame.right() + 1 + frame.left()),
                 qMax(platform::tw(heightTwips), frame.bottom() + 1 + frame.top()));
}

// ---------------------------------------------------------------- values

QString RecordEntryForm::recordNumber() const { return Frame1->title().mid(kNumberCaption.size()); }

void RecordEntryForm::setRecordNumber(const QString &number) { Frame1->setTitle(kNumberCaption + number); }

void RecordEntryForm::loadTypes()
{
    QStringList types;
    try {
        store::Connection connection(app::DbPath);
        types = store::readTypes(connection);
    } catch (const store::StoreError &) {
        // The window opens with what could be read, possibly nothing.
    }
    Combo1->clear();
    Combo1->addItems(types);
    // The list is offered, nothing is chosen: the type starts empty.
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
}

QString RecordEntryForm::asShownInABox(const QString &text)
{
    QTextDocument document;
    document.setPlainText(text);
    return document.toPlainText();
}

void RecordEntryForm::setFieldText(int index, const QString &text)
{
    if (index == 2) {
        m_descriptionPutIn = text;
        txtDescription->setPlainText(text);
    } else {
        line(txtFields[index])->setWholeText(text);
    }
}

QString RecordEntryForm::fieldText(int index) const
{
    if (index != 2)
        return line(txtFields[index])->text();
    // A description of an earlier archive saved unchanged keeps its bytes.
    QString shown = txtDescription->toPlainText();
    if (shown == asShownInABox(m_descriptionPutIn))
        return m_descriptionPutIn;
    if (m_descriptionPutIn.contains(QStringLiteral("\r\n")))
        shown.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return shown;
}

void RecordEntryForm::clearFields()
{
    for (int i = 0; i < 3; ++i)
        setFieldText(i, QString());
}

QStringList RecordEntryForm::photoPaths() const
{
    QStringList paths;
    for (int i = 0; i < List1->count(); ++i)
        paths << List1->item(i)->text();
    return paths;
}

bool RecordEntryForm::refuseBlankFields(const QString &title)
{
    if (!fieldText(0).trimmed().isEmpty() && !fieldText(1).trimmed().isEmpty()
        && !Combo1->currentText().trimmed().isEmpty())
        return false;
    platform::message(this, kBlankMessage, title, platform::Buttons::Ok, platform::Icon::Information);
    return true;
}

store::RecordRow RecordEntryForm::enteredRecord(const QString &number) const
{
    // Stored as typed (every value is bound, so an apostrophe is stored too), except the
    // type: the list's types are trimmed, and a blank more would take the record out of
    // its type's node.
    store::RecordRow row;
    row.typeName = Combo1->currentText().trimmed();
    row.number = number;
    row.name = fieldText(0);
    row.path = fieldText(1);
    row.description = fieldText(2);
    return row;
}

void RecordEntryForm::saveTypeOf(store::Connection &connection, const store::RecordRow &record)
{
    // Compared as the tree compares them: a type listed in other letter case shows it.
    if (store::typeExists(connection, record.typeName))
        return;
    if (record.typeName.contains(QLatin1Char('\'')))
        throw TypeRefused{};
    // Anyone who may open this window may add a type in the record type window: saving
    // the record lists its type, rather than sending the operator away from what was typed.
    store::insertType(connection, record.typeName);
    store::Change change;
    change.kind = store::ChangeKind::TypeAdded;
    change.subject = record.typeName;
    change.detail = QStringLiteral("随病案 %1 保存").arg(record.number);
    store::appendHistory(connection, app::currentActor(), change);
}

void RecordEntryForm::refuseType()
{
    platform::message(this, kApostropheMessage, kApostropheTitle, platform::Buttons::Ok, platform::Icon::Exclamation);
    Combo1->setFocus(Qt::OtherFocusReason);
}

void RecordEntryForm::showStoreFailure(const QString &description)
{
    platform::message(this, description, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
}

// ---------------------------------------------------------------- photo list and file dialogs

void RecordEntryForm::Command1_Click()
{
    const QString chosen = platform::openFileName(this, kFileCaption, settings::read(kConfig, kAddKey),
                                                  platform::qtFilter(kPhotoFilter));
    if (!chosen.isEmpty()) {
        List1->addItem(chosen);
        settings::write(kConfig, kAddKey, chosen);
    }
    List1->setFocus(Qt::OtherFocusReason);
}

void RecordEntryForm::MnuPreviewPhoto_Click()
{
    const QString last = settings::read(kConfig, kAddKey);
    const QString chosen =
        pictures::choosePicture(this, last.isEmpty() ? QString() : QFileInfo(last).absolutePath(), deletionRule());
    if (!chosen.isEmpty()) {
        List1->addItem(chosen);
        settings::write(kConfig, kAddKey, chosen);
    }
    List1->setFocus(Qt::OtherFocusReason);
}

pictures::DeletionRule RecordEntryForm::deletionRule()
{
    pictures::DeletionRule rule;
    // Those who may only add records delete nothing, on the disk least of all.
    rule.offered = app::CurrentAuthority != QStringLiteral("只能添加");
    // A file that a record names stays: deleting it would take the record's file or
    // photo away without a word.
    rule.refusal = [](const QString &path) -> QString {
        store::FileReference used;
        try {
            store::Connection connection(app::DbPath);
            used = store::findFileReference(connection, path);
        } catch (const store::StoreError &e) {
            return QStringLiteral("无法确认该文件是否被病案使用，文件没有删除。\n") + e.description();
        }
        if (used.path.isEmpty())
            return QString();
        return QStringLiteral("该文件是病案［%1］（病案号 %2）的%3，不能删除。")
            .arg(used.recordName, used.number, used.photo ? QStringLiteral("手术照片") : QStringLiteral("关联文件"));
    };
    return rule;
}

void RecordEntryForm::MnuScanPhoto_Click()
{
    frmScanner scanner(recordNumber(), this);
    platform::execModal(scanner);
    List1->addItems(scanner.scannedPaths());
    List1->setFocus(Qt::OtherFocusReason);
}

void RecordEntryForm::Command2_Click()
{
    if (List1->count() == 0)
        return;
    QListWidgetItem *item = List1->currentItem();
    if (!item || !item->isSelected())
        return;
    delete List1->takeItem(List1->row(item));
}

void RecordEntryForm::picEditFile_Click()
{
    const QString chosen = platform::openFileName(this, kFileCaption, settings::read(kConfig, kAddKey),
                                                  platform::qtFilter(kAnyFileFilter));
    if (chosen.isEmpty()) {
        QWidget *next = fieldText(1).trimmed().isEmpty() ? txtFields[1] : txtFields[2];
        next->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Kept whole: the typing limit is for typing, and a cut path would name no file.
    setFieldText(1, chosen);
    settings::write(kConfig, kAddKey, chosen);
    txtFields[2]->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------- field behaviour

void RecordEntryForm::txtFields_GotFocus(int index, Qt::FocusReason reason)
{
    QWidget *field = txtFields[index];
    platform::setColors(field, kFocusBack, kFocusText);
    // Coming back from another program, or from the type box's own list, is no arrival.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    // Measured in the box's own text, whose line breaks are one character each.
    const int length = int((index == 2 ? txtDescription->toPlainText() : fieldText(index)).trimmed().size());
    if (index == 2) {
        QTextCursor c = txtDescription->textCursor();
        c.setPosition(0);
        c.setPosition(qMin(length, int(txtDescription->toPlainText().size())), QTextCursor::KeepAnchor);
        txtDescription->setTextCursor(c);
    } else {
        line(field)->setSelection(0, length);
    }
}

void RecordEntryForm::txtFields_LostFocus(int index, Qt::FocusReason reason)
{
    // Switching to another program or opening a list keeps the field where it is.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    QWidget *field = txtFields[index];
    platform::setColors(field, kPlainBack, kPlainText);
    // A field left because another one was just sent back is tested when it is left itself.
    if (m_returningFocus || !isVisible())
        return;
    if (!fieldText(index).contains(QLatin1Char('\'')))
        return;
    platform::message(this, kApostropheMessage, kApostropheTitle, platform::Buttons::Ok, platform::Icon::Exclamation);
    m_returningFocus = true;
    field->setFocus(Qt::OtherFocusReason);
    m_returningFocus = false;
}

bool RecordEntryForm::txtFields_KeyDown(int index, QKeyEvent *event)
{
    if (index == 2)
        return false; // the description keeps its arrows and its line breaks
    switch (event->key()) {
    case Qt::Key_Up:
        if (index == 1) {
            txtFields[0]->setFocus(Qt::OtherFocusReason);
            return true;
        }
        return false;
    case Qt::Key_Down:
        txtFields[index + 1]->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (index == 0)
            focusNextPrevChild(true); // on, as the Tab key would
        else
            picEditFile_Click();
        return true;
    default:
        return false;
    }
}
