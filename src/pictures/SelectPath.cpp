#include "pictures/SelectPath.h"

#include "pictures/FileSystemLists.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pictures {

QString choosePath(QWidget *parent, const QString &start)
{
    SelectPath chooser(nullptr, parent, start);
    if (platform::execModal(chooser) != QDialog::Accepted)
        return QString();
    return chooser.chosenPath();
}

} // namespace pictures

namespace {
constexpr int kClientWidth = 4575;  // twips
constexpr int kClientHeight = 3195; // twips
const QColor kDarkBlue(0, 0, 128);
} // namespace

SelectPath::SelectPath(QLineEdit *target, QWidget *parent, const QString &start)
    : QDialog(parent), m_target(target)
{
    setObjectName(QStringLiteral("SelectPath"));
    setWindowTitle(QStringLiteral("请选择路径"));
    setFont(platform::songFont(9));
    buildControls();
    Form_Load(start);
}

SelectPath::~SelectPath() = default;

void SelectPath::buildControls()
{
    OK = new QPushButton(QStringLiteral("确定(&O)"), this);
    OK->setObjectName(QStringLiteral("OK"));
    OK->setDefault(true);
    platform::place(OK, 2835, 285, 1410, 405);

    NOOK = new QPushButton(QStringLiteral("取消(&C)"), this);
    NOOK->setObjectName(QStringLiteral("NOOK"));
    platform::place(NOOK, 2835, 765, 1395, 405);

    PathList = new QLineEdit(this);
    PathList->setObjectName(QStringLiteral("PathList"));
    PathList->setReadOnly(true);
    platform::place(PathList, 180, 300, 2265, 315);

    Dir1 = new pictures::FolderList(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    platform::place(Dir1, 195, 765, 2250, 1770);

    Drive1 = new pictures::DriveList(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    platform::place(Drive1, 195, 2685, 2250, 300);

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    platform::place(Frame1, 2655, 1620, 1665, 1380);

    Label1 = new QLabel(QStringLiteral("请选择要备份的数据磁盘和路径,然后按确定按钮,否则按取消按钮。"), Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    platform::setTextColor(Label1, kDarkBlue);
    platform::place(Label1, 135, 375, 1455, 945);
    // The wrapped text keeps every line: where the font needs more height than the box
    // gives, the label moves up into the room a caption would take, then the frame grows.
    const int margin = platform::tw(90);
    const int needed = Label1->heightForWidth(Label1->width());
    if (needed > Label1->height()) {
        const int top = qMax(margin, qMin(Label1->y(), Frame1->height() - margin - needed));
        Label1->setGeometry(Label1->x(), top, Label1->width(), needed);
        if (top + needed + margin > Frame1->height())
            Frame1->resize(Frame1->width(), top + needed + margin);
    }

    setTabOrder(OK, NOOK);
    setTabOrder(NOOK, PathList);
    setTabOrder(PathList, Dir1);
    setTabOrder(Dir1, Drive1);

    QRect used;
    for (QWidget *w : {static_cast<QWidget *>(OK), static_cast<QWidget *>(NOOK), static_cast<QWidget *>(PathList),
                       static_cast<QWidget *>(Dir1), static_cast<QWidget *>(Drive1), static_cast<QWidget *>(Frame1)})
        used |= w->geometry();
    setFixedSize(qMax(platform::tw(kClientWidth), used.right() + 1 + platform::tw(180)),
                 qMax(platform::tw(kClientHeight), used.bottom() + 1 + platform::tw(120)));

    connect(OK, &QPushButton::clicked, this, &SelectPath::OK_Click);
    connect(NOOK, &QPushButton::clicked, this, &SelectPath::NOOK_Click);
}

void SelectPath::Form_Load(const QString &start)
{
    if (start.isEmpty() || !Dir1->setPath(start))
        Dir1->setPath(QDir::currentPath());
    PathList->setText(QDir::toNativeSeparators(Dir1->path()));
    Drive1->setDriveOf(Dir1->path());
    connect(Dir1, &pictures::FolderList::pathChanged, this, &SelectPath::Dir1_Change);
    connect(Drive1, &pictures::DriveList::driveChanged, this, &SelectPath::Drive1_Change);
    OK->setFocus();
}

void SelectPath::Dir1_Change()
{
    PathList->setText(QDir::toNativeSeparators(Dir1->path()));
    Drive1->setDriveOf(Dir1->path());
}

void SelectPath::Drive1_Change()
{
    for (;;) {
        const QString drive = Drive1->drive();
        if (Dir1->setPath(drive))
            return; // the folder change puts the path into PathList
        const platform::Answer answer =
            platform::message(this, drive + QStringLiteral(" 驱动器没有准备好！"), QStringLiteral("驱动器没有准备好！"),
                              platform::Buttons::RetryCancel, platform::Icon::Critical, platform::Answer::Retry);
        if (answer != platform::Answer::Retry) {
            Drive1->setDriveOf(Dir1->path());
            return;
        }
    }
}

void SelectPath::OK_Click()
{
    m_chosen = PathList->text();
    if (m_target)
        m_target->setText(m_chosen);
    accept();
}

void SelectPath::NOOK_Click() { reject(); }
