// The picture chooser's window: its drive, folder, file and type lists, the chosen path
// handed back, and the deletion of the chosen file. The preview beside the lists is in
// SelectFilePreview.cpp.
#include "pictures/SelectFile.h"

#include "pictures/FileSystemLists.h"
#include "pictures/PictureFetch.h"
#include "pictures/PictureLoader.h"
#include "pictures/SelectFileTwips.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

namespace pictures {

namespace {
FileRemover &fileRemover()
{
    static FileRemover remover;
    return remover;
}

bool removeFile(const QString &path)
{
    if (fileRemover())
        return fileRemover()(path);
    // A folder of the same name, a file gone since the list was read, a locked one:
    // the file system says no and nothing is touched.
    return QFile::remove(path);
}
} // namespace

void setFileRemover(FileRemover remover) { fileRemover() = std::move(remover); }

QString choosePicture(QWidget *parent, const QString &startFolder, const DeletionRule &deletion)
{
    SelectFile chooser(nullptr, parent, startFolder);
    chooser.setDeletionRule(deletion);
    if (platform::execModal(chooser) != QDialog::Accepted)
        return QString();
    return chooser.chosenPath();
}

} // namespace pictures

namespace {

const QString kSection = QStringLiteral("SelectPhoto");

// The window's edges, which its outer widths include.
constexpr int kBorderTwips = 90;
// Arrow step of the preview's scroll bars, in twips: twenty pixels, as text views scroll.
constexpr int kArrowStep = 300;

struct PictureType {
    const char *text;
    const char *pattern;
};
const PictureType kTypes[] = {
    {"所有图片文件(*.*)", "*.bmp;*.jpg;*.gif;*.ico;*.wmf;*.emf;*.rle"},
    {"位图文件|*.BMP", "*.bmp"},
    {"压缩文件|*.JPG", "*.jpg"},
    {"GIF文件|*.GIF", "*.gif"},
    {"图标文件|*.ICO", "*.ico"},
    {"WMF|*.WMF", "*.wmf"},
    {"EMF|*.EMF", "*.emf"},
    {"RLE|*.RLE", "*.rle"},
};

void placeAt(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

} // namespace

QStringList SelectFile::typeItems()
{
    QStringList items;
    for (const PictureType &t : kTypes)
        items << QString::fromUtf8(t.text);
    return items;
}

QString SelectFile::patternFor(const QString &itemText)
{
    for (const PictureType &t : kTypes)
        if (itemText == QString::fromUtf8(t.text))
            return QString::fromUtf8(t.pattern);
    return QString();
}

SelectFile::SelectFile(QLineEdit *target, QWidget *parent, const QString &startFolder)
    : QDialog(parent), m_target(target)
{
    setObjectName(QStringLiteral("SelectFile"));
    setWindowTitle(QStringLiteral("选择图片文件"));
    setFont(platform::songFont(9));
    m_fetch = new pictures::PictureFetch(this);
    connect(m_fetch, &pictures::PictureFetch::loaded, this, &SelectFile::previewLoaded);
    buildControls();
    Form_Load(startFolder);
}

SelectFile::~SelectFile() = default;

void SelectFile::buildControls()
{
    Label1 = new QLabel(QStringLiteral("选定的文件名称及路径"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    platform::place(Label1, 435, 315, 1800, 180);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    platform::place(Text1, 180, 705, 2325, 270);

    File1 = new pictures::FileList(this);
    File1->setObjectName(QStringLiteral("File1"));
    platform::place(File1, 165, 1110, 2340, 1890);

    Check1 = new QCheckBox(QStringLiteral("预览图片"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    platform::place(Check1, 195, 3105, 1155, 300);

    Check2 = new QCheckBox(QStringLiteral("自动大小"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check2->setEnabled(false);
    platform::place(Check2, 1455, 3135, 1065, 240);

    // The captions keep their whole text in any font: the boxes grow to the right, where
    // there is room before the folder list.
    for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(Check1), static_cast<QWidget *>(Check2)})
        w->resize(qMax(w->width(), w->sizeHint().width()), w->height());

    SelectType = new QComboBox(this);
    SelectType->setObjectName(QStringLiteral("SelectType"));
    SelectType->setEditable(false);
    platform::place(SelectType, 165, 3525, 2340, 300);

    Command1 = new QPushButton(QStringLiteral("确定(&O)"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    Command1->setEnabled(false);
    platform::place(Command1, 3420, 330, 1380, 390);

    Command2 = new QPushButton(QStringLiteral("取消(&C)"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    platform::place(Command2, 3420, 780, 1380, 390);

    Dir1 = new pictures::FolderList(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    platform::place(Dir1, 2715, 1575, 2235, 1770);

    Drive1 = new pictures::DriveList(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    platform::place(Drive1, 2715, 3510, 2235, 300);

    // The preview frame clips the picture and carries the scroll bars over its edges.
    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::NoFrame);
    platform::setColors(Picture1, palette().color(QPalette::Window));
    placeAt(Picture1, 5325, 195, kFrameWidth, kFrameHeight);

    DisplayPicture = new QLabel(Picture1);
    DisplayPicture->setObjectName(QStringLiteral("DisplayPicture"));
    DisplayPicture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DisplayPicture->setMouseTracking(true); // the size read-out follows the pointer
    placeAt(DisplayPicture, -15, -15, kFrameWidth, kFrameHeight);
    DisplayPicture->setScaledContents(true);
    DisplayPicture->installEventFilter(this);

    HScroll1 = new QScrollBar(Qt::Horizontal, Picture1);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    placeAt(HScroll1, -15, 3375, 2685, 270);
    VScroll1 = new QScrollBar(Qt::Vertical, Picture1);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    placeAt(VScroll1, 2655, -15, 270, 3405);
    // The bars count in twips; the picture moves a pixel for every fifteen.
    for (QScrollBar *bar : {HScroll1, VScroll1}) {
        bar->setRange(0, 0);
        bar->setSingleStep(kArrowStep);
        bar->hide();
    }
    HScroll1->setPageStep(kFrameWidth - kArrowStep);
    VScroll1->setPageStep(kFrameHeight - kArrowStep);

    Command3 = new QPushButton(Picture1);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setAutoDefault(false);
    Command3->setFocusPolicy(Qt::NoFocus);
    placeAt(Command3, 2655, 3375, 285, 285);
    Command3->hide();

    // The two pointer pictures, kept out of sight.
    picUP = new QLabel(this);
    picUP->setObjectName(QStringLiteral("picUP"));
    picUP->setPixmap(QPixmap(QStringLiteral(":/cursors/picUP.svg")));
    picUP->hide();
    picDown = new QLabel(this);
    picDown->setObjectName(QStringLiteral("picDown"));
    picDown->setPixmap(QPixmap(QStringLiteral(":/cursors/picDown.svg")));
    picDown->hide();

    MenuEdit = new QMenu(QStringLiteral("编辑"), this);
    MenuEdit->setObjectName(QStringLiteral("MenuEdit"));
    DelFile = MenuEdit->addAction(QStringLiteral("删除(&D)"));
    DelFile->setObjectName(QStringLiteral("DelFile"));
    File1->setContextMenuPolicy(Qt::CustomContextMenu);

    setTabOrder(Text1, File1);
    setTabOrder(File1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, SelectType);
    setTabOrder(SelectType, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Dir1);
    setTabOrder(Dir1, Drive1);

    QRect used;
    for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(Text1), static_cast<QWidget *>(File1),
                       static_cast<QWidget *>(Check1), static_cast<QWidget *>(Check2),
                       static_cast<QWidget *>(SelectType), static_cast<QWidget *>(Dir1),
                       static_cast<QWidget *>(Drive1), static_cast<QWidget *>(Picture1)})
        used |= w->geometry();
    setFixedHeight(used.bottom() + 1 + platform::tw(195));
    setWindowWidth(kNarrowWidth);

    connect(SelectType, &QComboBox::currentIndexChanged, this, &SelectFile::SelectType_Click);
    connect(Text1, &QLineEdit::textChanged, this, &SelectFile::Text1_Change);
    connect(File1, &pictures::FileList::fileClicked, this, &SelectFile::File1_Click);
    connect(File1, &QListWidget::itemDoubleClicked, this, &SelectFile::File1_DblClick);
    connect(File1, &QWidget::customContextMenuRequested, this, &SelectFile::File1_ContextMenu);
    connect(Check1, &QCheckBox::toggled, this, &SelectFile::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &SelectFile::Check2_Click);
    connect(Command1, &QPushButton::clicked, this, &SelectFile::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Command3, &QPushButton::clicked, this, &SelectFile::Command3_Click);
    connect(HScroll1, &QScrollBar::valueChanged, this, &SelectFile::HScroll1_Change);
    connect(VScroll1, &QScrollBar::valueChanged, this, &SelectFile::VScroll1_Change);
    connect(DelFile, &QAction::triggered, this, &SelectFile::DelFile_Click);
}

void SelectFile::setWindowWidth(int twips) { setFixedWidth(platform::tw(twips - kBorderTwips)); }

void SelectFile::Form_Load(const QString &startFolder)
{
    // The stored position, 0, 0 when none is stored; a position that no screen shows
    // any more gives way to the middle of the screen.
    const QPoint stored = settings::readPosition(kSection);
    platform::moveToStoredPosition(this, stored);

    // The lists start where the caller asks, or else where the process stands.
    if (startFolder.isEmpty() || !Dir1->setPath(startFolder))
        Dir1->setPath(QDir::currentPath());
    Drive1->setDriveOf(Dir1->path());
    File1->setPath(Dir1->path());
    connect(Dir1, &pictures::FolderList::pathChanged, this, &SelectFile::Dir1_Change);
    connect(Drive1, &pictures::DriveList::driveChanged, this, &SelectFile::Drive1_Change);

    SelectType->addItems(typeItems());
    SelectType->setCurrentIndex(0);
    File1->setPattern(QString::fromUtf8(kTypes[0].pattern));

    DisplayPicture->setCursor(QCursor(picUP->pixmap()));
    Text1->setFocus();
}

void SelectFile::SelectType_Click()
{
    Text1->clear();
    const QString pattern = patternFor(SelectType->currentText());
    if (!pattern.isEmpty())
        File1->setPattern(pattern); // reads the folder again
    else
        File1->refresh();
}

void SelectFile::Drive1_Change()
{
    for (;;) {
        const QString drive = Drive1->drive();
        // The folder change that follows clears the path as well.
        if (Dir1->setPath(drive)) {
            Text1->clear();
            return;
        }
        const platform::Answer answer =
            platform::message(this, drive + QStringLiteral(" 驱动器没有准备好！"), QStringLiteral("驱动器没有准备好！"),
                              platform::Buttons::RetryCancel, platform::Icon::Critical, platform::Answer::Retry);
        if (answer != platform::Answer::Retry) {
            Drive1->setDriveOf(Dir1->path());
            Text1->clear();
            // The path and the list's choice go together: with the path gone, a click on
            // the same file must fill it in again.
            File1->clearSelection();
            return;
        }
    }
}

void SelectFile::Dir1_Change()
{
    File1->setPath(Dir1->path());
    const QString pattern = patternFor(SelectType->currentText());
    if (!pattern.isEmpty())
        File1->setPattern(pattern);
    Text1->clear();
    // The drive list names the volume of the folder on show, wherever the folder list went.
    Drive1->setDriveOf(Dir1->path());
}

void SelectFile::File1_Click(const QString &fileName)
{
    Text1->setText(pictures::joinPath(QDir::toNativeSeparators(Dir1->path()), fileName));
    if (Check1->isChecked())
        previewLoad();
}

void SelectFile::File1_DblClick()
{
    // The first click of the two has put the file's path into Text1.
    if (!Text1->text().trimmed().isEmpty())
        Command1_Click();
}

void SelectFile::File1_ContextMenu(const QPoint &pos)
{
    if (!m_deletion.offered)
        return; // deleting is the menu's only command
    // Deleting needs both a file chosen in the list and its path in the box, which a
    // cancelled drive change empties while the list keeps its selection.
    DelFile->setEnabled(!File1->selectedFile().isEmpty() && !Text1->text().trimmed().isEmpty());
    MenuEdit->popup(File1->viewport()->mapToGlobal(pos));
}

void SelectFile::Text1_Change()
{
    const bool chosen = !Text1->text().trimmed().isEmpty();
    Command1->setEnabled(chosen);
    Check2->setEnabled(chosen);
    if (!chosen)
        clearPicture();
}

void SelectFile::Command1_Click()
{
    // Handed over as it stands: the window itself put it there.
    m_chosen = Text1->text();
    if (m_target)
        m_target->setText(m_chosen);
    accept();
}

void SelectFile::DelFile_Click()
{
    const QString path = Text1->text();
    if (!m_deletion.offered || path.trimmed().isEmpty())
        return;
    if (m_deletion.refusal) {
        const QString why = m_deletion.refusal(path);
        if (!why.isEmpty()) {
            platform::message(this, why, QStringLiteral("提示："), platform::Buttons::Ok, platform::Icon::Exclamation);
            return;
        }
    }
    const QString question = QStringLiteral("真的要删除文件：(Y/N) ") + QStringLiteral("\n\r") + path;
    if (platform::message(this, question, QStringLiteral("删除文件"), platform::Buttons::YesNo,
                          platform::Icon::Critical, platform::Answer::No) != platform::Answer::Yes)
        return;
    if (!pictures::removeFile(path)) {
        platform::message(this, QStringLiteral("删除文件错误，文件被打开或共享"), QStringLiteral("警告"),
                          platform::Buttons::Ok, platform::Icon::Critical);
        return;
    }
    Text1->clear();
    if (Check1->isChecked())
        clearPicture();
    File1->refresh();
}

void SelectFile::done(int result)
{
    // Every way of closing (a choice, Esc, 取消, the close box) comes here.
    m_fetch->cancel();
    settings::writePosition(kSection, pos());
    QDialog::done(result);
}
