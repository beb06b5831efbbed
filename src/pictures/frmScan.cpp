// The viewer's window and its paging: the photos read off the window's thread, those
// before and after read ahead, what the frame says of a photo that cannot be shown, the
// page number and the words read on the photo. How the photo on show is viewed (placed,
// scrolled, zoomed, turned) is in frmScanView.cpp.
#include "pictures/frmScan.h"

#include "pictures/PictureFetch.h"
#include "pictures/PictureLoader.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"

#include <QFrame>
#include <QLabel>
#include <QKeySequence>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>

int frmScan::PageIndex = 0;
bool frmScan::ReadAhead = true;

namespace {
constexpr int kClientWidth = 11910;
constexpr int kClientHeight = 8520;
constexpr int kFrameWidth = 11665;
constexpr int kFrameHeight = 7335;
constexpr int kScrollBarThickness = 255; // the toolkit's usual scroll bar, in twips
constexpr int kArrowStep = 20;           // pixels per arrow click, as text views do
constexpr int kNoticeMargin = 8;         // pixels around the notice text

// A path may be longer than the frame is wide and has no blanks to wrap at: let it break
// after each folder separator.
QString breakable(const QString &path)
{
    QString out;
    out.reserve(path.size() + path.size() / 8);
    for (const QChar c : path) {
        out += c;
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            out += QChar(0x200B);
    }
    return out;
}
} // namespace

frmScan::frmScan(QListWidget *photoList, QWidget *parent) : QDialog(parent), m_list(photoList)
{
    setObjectName(QStringLiteral("frmScan"));
    setWindowTitle(QStringLiteral("手术照片分析"));
    setFont(platform::songFont(9));

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::NoFrame);
    platform::setColors(Picture1, Qt::black);
    Picture1->setGeometry(0, 0, platform::tw(kFrameWidth), platform::tw(kFrameHeight));

    // A child of the frame, so that the frame clips whatever of the photo lies outside it.
    Image1 = new QLabel(Picture1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(false);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setGeometry(0, 0, 0, 0);
    Image1->installEventFilter(this);
    Picture1->installEventFilter(this);

    // Why a photo cannot be shown, or that it is shown reduced. Paths and reasons are
    // plain text, whatever they look like.
    lblNotice = new QLabel(Picture1);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setWordWrap(true);
    lblNotice->setMargin(kNoticeMargin);
    lblNotice->setAutoFillBackground(true);
    lblNotice->setFont(platform::songFont(10));
    lblNotice->hide();

    lblPage = new QLabel(Picture1);
    lblPage->setObjectName(QStringLiteral("lblPage"));
    lblPage->setTextFormat(Qt::PlainText);
    lblPage->setMargin(4);
    lblPage->setAutoFillBackground(true);
    lblPage->setFont(platform::songFont(10));
    platform::setColors(lblPage, QColor(40, 40, 40), Qt::white);
    lblPage->hide();

    const int thickness =
        qMax(platform::tw(kScrollBarThickness), style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
    const int frameW = Picture1->width();
    const int frameH = Picture1->height();

    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setGeometry(0, frameH, frameW, thickness);
    VScroll1 = new QScrollBar(Qt::Vertical, this);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setGeometry(frameW, 0, thickness, frameH);
    // Nothing to scroll until a photo larger than the frame is shown.
    for (QScrollBar *bar : {HScroll1, VScroll1}) {
        bar->setRange(0, 0);
        bar->setSingleStep(kArrowStep);
        bar->hide();
    }
    // A page is what the frame shows, less one arrow step so that the eye keeps its place.
    HScroll1->setPageStep(frameW - kArrowStep);
    VScroll1->setPageStep(frameH - kArrowStep);
    connect(HScroll1, &QScrollBar::valueChanged, this, &frmScan::HScroll1_Change);
    connect(VScroll1, &QScrollBar::valueChanged, this, &frmScan::VScroll1_Change);

    static const char *const captions[5] = {" 第一张", " 下一张", " 上一张", " 最后一张", "关 闭"};
    static const int lefts[5] = {2220, 3760, 5300, 6840, 10170};
    for (int i = 0; i < 5; ++i) {
        Command1[i] = new QPushButton(QString::fromUtf8(captions[i]), this);
        Command1[i]->setObjectName(QStringLiteral("Command1(%1)").arg(i));
        platform::place(Command1[i], lefts[i], 7680, 1275, 495);
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    // Between the paging buttons and 关 闭, apart from both; shown once printing is offered.
    cmdPrint = new QPushButton(QStringLiteral("打印病案..."), this);
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    platform::place(cmdPrint, 8430, 7680, 1530, 495);
    cmdPrint->hide();
    connect(cmdPrint, &QPushButton::clicked, this, &frmScan::cmdPrint_Click);

    // The window never lays itself out again, so it keeps its size; it grows only
    // where the vertical bar beside the frame would otherwise be cut off.
    setFixedSize(qMax(platform::tw(kClientWidth), frameW + thickness),
                 qMax(platform::tw(kClientHeight), Command1[0]->geometry().bottom() + 1));
    m_baseSize = size();

    // The words read on the photo, beside the frame, as plain text to select and copy.
    cmdPageText = new QPushButton(QStringLiteral("照片文字"), this);
    cmdPageText->setObjectName(QStringLiteral("cmdPageText"));
    cmdPageText->setCheckable(true);
    platform::place(cmdPageText, 360, 7680, 1275, 495);
    cmdPageText->hide(); // until someone says where the words come from
    connect(cmdPageText, &QPushButton::clicked, this, &frmScan::togglePageText);
    txtPageText = new QPlainTextEdit(this);
    txtPageText->setObjectName(QStringLiteral("txtPageText"));
    txtPageText->setReadOnly(true);
    txtPageText->setGeometry(frameW + thickness + 4, 0, platform::tw(4200), frameH + thickness);
    txtPageText->hide();

    // The keys work wherever the focus is, on a paging button too.
    const auto addKeys = [this](std::initializer_list<QKeySequence> keys, auto action) {
        for (const QKeySequence &key : keys) {
            auto *shortcut = new QShortcut(key, this);
            connect(shortcut, &QShortcut::activated, this, action);
        }
    };
    addKeys({Qt::Key_Home}, [this] { Command1_Click(0); });
    addKeys({Qt::Key_PageDown, Qt::Key_Down, Qt::Key_Right}, [this] { Command1_Click(1); });
    addKeys({Qt::Key_PageUp, Qt::Key_Up, Qt::Key_Left}, [this] { Command1_Click(2); });
    addKeys({Qt::Key_End}, [this] { Command1_Click(3); });
    addKeys({Qt::Key_Plus, Qt::Key_Equal, QKeySequence::ZoomIn}, [this] { zoomBy(1); });
    addKeys({Qt::Key_Minus, QKeySequence::ZoomOut}, [this] { zoomBy(-1); });
    addKeys({Qt::Key_F, Qt::Key_0}, [this] { toggleFit(); });
    addKeys({Qt::Key_R}, [this] { rotateBy(1); });
    addKeys({Qt::Key_L}, [this] { rotateBy(-1); });
    addKeys({QKeySequence::Print}, [this] { cmdPrint_Click(); });

    m_fetch = new pictures::PictureFetch(this);
    connect(m_fetch, &pictures::PictureFetch::loaded, this, &frmScan::photoLoaded);
    for (int slot = 0; slot < 2; ++slot) {
        m_ahead[slot].fetch = new pictures::PictureFetch(this);
        connect(m_ahead[slot].fetch, &pictures::PictureFetch::loaded, this,
                [this, slot](const QString &path, const pictures::LoadedPicture &picture) {
                    aheadLoaded(slot, path, picture);
                });
    }
    // A closed viewer reads no more photos, and holds none but the one on show.
    connect(this, &QDialog::finished, this, [this] {
        m_fetch->cancel();
        m_waiting = -1;
        for (Ahead &ahead : m_ahead)
            letGo(ahead);
    });
}

frmScan::~frmScan() = default;

void frmScan::setPrintHook(PrintHook hook)
{
    m_printHook = std::move(hook);
    cmdPrint->setVisible(bool(m_printHook));
}

void frmScan::cmdPrint_Click()
{
    if (!m_printHook)
        return;
    // The preview comes over the viewer, which stays where it was, on the same photo.
    const PrintHook hook = m_printHook;
    hook(this);
}

void frmScan::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Coming back from the task bar is not an opening.
    if (!event->spontaneous())
        Form_Show();
}

void frmScan::Form_Show()
{
    cmdPageText->setVisible(bool(pageTextOf));
    const QString selected =
        (m_list && m_list->currentItem()) ? m_list->currentItem()->text() : QString();
    loadPhoto(selected, true, PageIndex);
}

void frmScan::Command1_Click(int index)
{
    const int count = itemCount();
    int target = 0;
    switch (index) {
    case 0:
        target = 0;
        break;
    case 1:
        if (PageIndex + 1 > count - 1)
            return;
        target = PageIndex + 1;
        break;
    case 2:
        if (PageIndex - 1 < 0)
            return;
        target = PageIndex - 1;
        break;
    case 3:
        target = count - 1;
        break;
    case 4:
        close();
        return;
    default:
        return;
    }
    // A photo that cannot be shown takes its turn all the same: the frame says which
    // photo it is and why, and the next click goes on past it. Staying on the photo
    // before would leave every photo after a broken one out of reach of " 下一张".
    // So does a photo still being read: the next click calls it off and goes on.
    PageIndex = target;
    loadPhoto(itemText(target), false, target);
}

QString frmScan::itemText(int index) const
{
    if (!m_list || index < 0 || index >= m_list->count())
        return QString();
    return m_list->item(index)->text();
}

int frmScan::itemCount() const { return m_list ? m_list->count() : 0; }

void frmScan::loadPhoto(const QString &path, bool opening, int target)
{
    m_opening = opening;
    m_target = target;
    // The opening shows the list's selection, which need not be the remembered index.
    m_shown = opening ? (m_list ? m_list->currentRow() : -1) : target;
    // A photo the operator pages away from while it is still being read (a hostile
    // drawing, a converter that hangs) is not read ahead again: it would keep the loader,
    // which reads one photo at a time, from the photos the operator pages to.
    if (m_fetch->pending() && !m_pendingPath.isEmpty())
        m_slowPaths.insert(m_pendingPath);
    if (m_waiting >= 0) {
        m_slowPaths.insert(m_ahead[m_waiting].path);
        letGo(m_ahead[m_waiting]);
        m_waiting = -1;
    }
    m_pendingPath = path;
    if (!opening && !path.isEmpty()) {
        for (int slot = 0; slot < 2; ++slot) {
            Ahead &ahead = m_ahead[slot];
            if (ahead.index != target || ahead.path != path)
                continue;
            m_fetch->cancel();
            if (ahead.ready) {
                const pictures::LoadedPicture picture = std::move(ahead.picture);
                letGo(ahead);
                photoLoaded(path, picture);
            } else {
                m_waiting = slot;
                ahead.fetch->hurry();
            }
            return;
        }
    }
    // The loader reads one photo at a time: a photo still being read ahead would keep the
    // operator waiting, and one read for elsewhere is of no more use.
    for (Ahead &ahead : m_ahead) {
        if (!ahead.ready || qAbs(ahead.index - target) != 1)
            letGo(ahead);
    }
    m_fetch->start(path, pictures::PictureRequest::ownSize());
}

void frmScan::photoLoaded(const QString &path, const pictures::LoadedPicture &picture)
{
    // Each photo comes at its own size and upright; one shown zoomed or turned before it
    // leaves bars that have nothing to do with it, so it is placed afresh.
    const bool placeAfresh = m_opening || viewChanged();
    m_fit = false;
    m_scale = 1.0;
    m_turns = 0;
    m_image = picture.ok ? picture.image : QImage();
    showPageNumber(path.isEmpty() ? -1 : m_shown);
    // The buttons page from the remembered index, whatever the opening showed.
    readAround(PageIndex);
    if (picture.ok) {
        showPhoto(picture);
        if (placeAfresh)
            placeOpeningPhoto();
        lblPage->raise();
        return;
    }
    Image1->clear();
    if (m_opening) {
        // The opening stops here: nothing to scroll, and the frame says which photo
        // cannot be shown and why, instead of staying black without a word.
        Image1->resize(0, 0);
        HScroll1->hide();
        VScroll1->hide();
        showNotice(QStringLiteral("不能显示这张照片：\n") + breakable(path) + QLatin1Char('\n') + picture.error, true);
        return;
    }
    showNotice(QStringLiteral("不能显示第 %1 张照片：").arg(m_target + 1) + breakable(path) + QLatin1Char('\n') +
                   picture.error,
               true);
}

void frmScan::showPhoto(const pictures::LoadedPicture &picture)
{
    hideNotice();
    if (picture.image.isNull()) {
        Image1->clear();
        Image1->resize(0, 0);
        return;
    }
    const QSize own = picture.ownSize;
    const bool reduced = picture.reduced();
    const QPixmap pixmap = QPixmap::fromImage(picture.image);
    Image1->setPixmap(pixmap);
    Image1->resize(pixmap.size());
    if (reduced)
        showNotice(QStringLiteral("照片很大（宽 %1 点、高 %2 点），缩小为宽 %3 点、高 %4 点显示。")
                       .arg(own.width())
                       .arg(own.height())
                       .arg(pixmap.width())
                       .arg(pixmap.height()),
                   false);
}

void frmScan::showNotice(const QString &text, bool wholeFrame)
{
    lblNotice->setText(text);
    const int frameW = Picture1->width();
    const int frameH = Picture1->height();
    if (wholeFrame) {
        platform::setColors(lblNotice, Qt::black, Qt::white);
        lblNotice->setAlignment(Qt::AlignCenter);
        lblNotice->setGeometry(0, 0, frameW, frameH);
    } else {
        // A dark band over the photo's lower edge, leaving the photo itself in view.
        platform::setColors(lblNotice, QColor(40, 40, 40), Qt::white);
        lblNotice->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        const int h = qMin(frameH, lblNotice->heightForWidth(frameW));
        lblNotice->setGeometry(0, frameH - h, frameW, h);
    }
    lblNotice->raise();
    lblNotice->show();
    lblPage->raise();
}

void frmScan::hideNotice() { lblNotice->hide(); }

void frmScan::togglePageText()
{
    const bool show = !txtPageText->isVisible();
    cmdPageText->setChecked(show);
    if (show) {
        setFixedSize(txtPageText->geometry().right() + 1 + 4, m_baseSize.height());
        txtPageText->show();
        showPageText(m_shown);
    } else {
        txtPageText->hide();
        setFixedSize(m_baseSize);
    }
}

void frmScan::showPageText(int index)
{
    if (!txtPageText->isVisible() || !pageTextOf)
        return;
    const QString path = itemText(index);
    txtPageText->setPlainText(path.isEmpty() ? QString() : pageTextOf(path));
}

void frmScan::showPageNumber(int index)
{
    showPageText(index);
    const int count = itemCount();
    if (index < 0 || index >= count) {
        lblPage->hide();
        return;
    }
    lblPage->setText(QStringLiteral("第 %1 / %2 张").arg(index + 1).arg(count));
    lblPage->adjustSize();
    lblPage->move(Picture1->width() - lblPage->width() - kNoticeMargin, kNoticeMargin);
    lblPage->raise();
    lblPage->show();
}

void frmScan::letGo(Ahead &ahead)
{
    ahead.fetch->cancel();
    ahead.index = -1;
    ahead.path.clear();
    ahead.ready = false;
    ahead.picture = pictures::LoadedPicture();
}

void frmScan::readAround(int index)
{
    if (!ReadAhead)
        return;
    const int count = itemCount();
    // The way the operator usually goes first.
    const int wanted[2] = {index + 1, index - 1};
    for (Ahead &ahead : m_ahead) {
        if ((ahead.index != wanted[0] && ahead.index != wanted[1]) || ahead.path != itemText(ahead.index))
            letGo(ahead);
    }
    for (const int n : wanted) {
        if (n < 0 || n >= count || itemText(n).isEmpty() || m_slowPaths.contains(itemText(n)))
            continue;
        Ahead *free = nullptr;
        bool held = false;
        for (Ahead &ahead : m_ahead) {
            held = held || ahead.index == n;
            if (ahead.index < 0 && !free)
                free = &ahead;
        }
        if (held || !free)
            continue;
        free->index = n;
        free->path = itemText(n);
        free->fetch->prefetch(free->path, pictures::PictureRequest::ownSize());
    }
}

void frmScan::aheadLoaded(int slot, const QString &path, const pictures::LoadedPicture &picture)
{
    Ahead &ahead = m_ahead[slot];
    if (m_waiting == slot) {
        m_waiting = -1;
        letGo(ahead);
        photoLoaded(path, picture);
        return;
    }
    ahead.ready = true;
    ahead.picture = picture;
}

QStringList frmScan::readAheadHeld() const
{
    QStringList held;
    for (const Ahead &ahead : m_ahead) {
        if (ahead.ready)
            held << ahead.path;
    }
    return held;
}

QStringList frmScan::readAheadTaken() const
{
    QStringList taken;
    for (const Ahead &ahead : m_ahead) {
        if (ahead.index >= 0)
            taken << ahead.path;
    }
    return taken;
}
