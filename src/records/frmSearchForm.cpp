#include "records/frmSearchForm.h"

#include "common/Module1.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Settings.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

const QString kSection = QStringLiteral("SearchForm");
const QColor kBoxColour(192, 64, 0);

constexpr int kClientWidth = 6165;  // twips
constexpr int kClientHeight = 1665; // twips

} // namespace

frmSearchForm::frmSearchForm(QWidget *parent) : QDialog(parent)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmSearchForm"), QStringLiteral("查询"));
    buildControls();
    Form_Load();
}

frmSearchForm::~frmSearchForm() = default;

void frmSearchForm::buildControls()
{
    using platform::place;

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken); // the etched line of a frame without caption
    place(Frame1, 180, 105, 5760, 690);

    struct Box {
        const char *caption;
        int left;
        int width;
    };
    static const Box boxes[6] = {{nullptr, 0, 0},
                                 {"病案名称", 330, 1125},
                                 {"路径名", 1830, 915},
                                 {"文件说明", 3060, 1170},
                                 {"病案类别", 4500, 1035},
                                 {"照片文字", 5700, 1125}};
    for (int i = 1; i <= 5; ++i) {
        chkValue[i] = new QCheckBox(QString::fromUtf8(boxes[i].caption), Frame1);
        chkValue[i]->setObjectName(QStringLiteral("chkValue(%1)").arg(i));
        platform::setTextColor(chkValue[i], kBoxColour);
        place(chkValue[i], boxes[i].left, 255, boxes[i].width, 300);
        // A caption wider than its twip box keeps the box's place and grows to the right.
        chkValue[i]->resize(qMax(chkValue[i]->width(), chkValue[i]->sizeHint().width()), chkValue[i]->height());
    }
    // The frame holds its boxes whole, and vertically centred as the twip layout places them.
    QRect inFrame;
    for (int i = 1; i <= 5; ++i) {
        // Each box starts past the one before it, however wide its caption came out.
        if (i > 1 && chkValue[i]->x() < chkValue[i - 1]->geometry().right() + 1 + platform::tw(120))
            chkValue[i]->move(chkValue[i - 1]->geometry().right() + 1 + platform::tw(120), chkValue[i]->y());
        inFrame |= chkValue[i]->geometry();
    }
    Frame1->resize(qMax(Frame1->width(), inFrame.right() + 1 + platform::tw(120)),
                   qMax(Frame1->height(), inFrame.bottom() + 1 + platform::tw(105)));

    Label1 = new QLabel(QStringLiteral("请输入查询的条件："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    platform::placeAutoSize(Label1, 300, 1080);

    txtSearch = new QLineEdit(this);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    txtSearch->setMaxLength(kMaxText);
    place(txtSearch, 1950, 1035, 2580, 300);
    // The caption stands left of the text box, centred on it, never under it.
    Label1->move(qMin(Label1->x(), txtSearch->x() - Label1->width() - 2),
                 txtSearch->y() + (txtSearch->height() - Label1->height()) / 2);
    if (Label1->x() < 0) {
        const int shift = -Label1->x();
        Label1->move(0, Label1->y());
        txtSearch->move(txtSearch->x() + shift, txtSearch->y());
    }

    cmdSearch = new QPushButton(QStringLiteral("开始搜索(&S)"), this);
    cmdSearch->setObjectName(QStringLiteral("cmdSearch"));
    place(cmdSearch, 4710, 975, 1245, 435);
    cmdSearch->resize(qMax(cmdSearch->width(), cmdSearch->sizeHint().width()), cmdSearch->height());
    if (cmdSearch->x() < txtSearch->geometry().right() + 1 + platform::tw(120))
        cmdSearch->move(txtSearch->geometry().right() + 1 + platform::tw(120), cmdSearch->y());

    // txtSearch first in the tab order, cmdSearch second, then the boxes.
    setTabOrder(txtSearch, cmdSearch);
    for (int i = 1; i <= 5; ++i)
        setTabOrder(i == 1 ? static_cast<QWidget *>(cmdSearch) : chkValue[i - 1], chkValue[i]);
    txtSearch->setFocus();

    connect(txtSearch, &QLineEdit::textChanged, this, &frmSearchForm::txtSearch_Change);
    connect(cmdSearch, &QPushButton::clicked, this, &frmSearchForm::cmdSearch_Click);
    txtSearch->installEventFilter(this);

    QRect used;
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Label1),
                       static_cast<QWidget *>(txtSearch), static_cast<QWidget *>(cmdSearch)})
        used |= w->geometry();
    setFixedSize(qMax(platform::tw(kClientWidth), used.right() + 1 + platform::tw(180)),
                 qMax(platform::tw(kClientHeight), used.bottom() + 1 + platform::tw(120)));
}

void frmSearchForm::Form_Load()
{
    // The stored position, 0, 0 when none is stored; a position that no screen shows
    // any more (a monitor taken away) gives way to the middle of the screen.
    const QPoint stored = settings::readPosition(kSection);
    platform::moveToStoredPosition(this, stored);
    // Every opening starts the same: all four columns ticked, no text, nothing to start.
    // The photos' words are looked in only when asked for: a search there finds more,
    // and the four boxes alone keep finding what they always found.
    for (int i = 1; i <= 4; ++i)
        chkValue[i]->setChecked(true);
    chkValue[5]->setChecked(false);
    txtSearch->clear();
    cmdSearch->setEnabled(false);
}

void frmSearchForm::txtSearch_Change() { cmdSearch->setEnabled(!txtSearch->text().trimmed().isEmpty()); }

void frmSearchForm::cmdSearch_Click()
{
    store::SearchFilter filter;
    filter.text = txtSearch->text().trimmed();
    filter.inName = chkValue[1]->isChecked();
    filter.inPath = chkValue[2]->isChecked();
    filter.inDescription = chkValue[3]->isChecked();
    filter.inType = chkValue[4]->isChecked();
    filter.inPageText = chkValue[5]->isChecked();
    if (filter.isEmpty()) {
        platform::message(this, QStringLiteral("请您选择一个查询项目！"), platform::kAppTitle, platform::Buttons::Ok,
                          platform::Icon::Information);
        return;
    }
    // The text is bound to the statement, never spliced into it: whatever was typed is
    // looked for as typed, with * and ? as wildcards.
    app::SearchFilter = filter;
    app::ReloadBrowser();
    accept();
}

bool frmSearchForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtSearch) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // The whole text is selected, however the focus came; after a click the
            // line edit first places its cursor, so the selection is made once more after it.
            txtSearch->selectAll();
            QTimer::singleShot(0, txtSearch, [this] {
                if (txtSearch->hasFocus())
                    txtSearch->selectAll();
            });
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                // Enter leads on to the button; it never starts the search by itself.
                if (cmdSearch->isEnabled())
                    cmdSearch->setFocus(Qt::TabFocusReason);
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSearchForm::done(int result)
{
    // Every way of closing (the search, Esc, the close box) comes here.
    settings::writePosition(kSection, pos());
    QDialog::done(result);
}
