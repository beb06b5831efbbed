// The picture chooser's preview: the chosen picture read off the window's thread, shown
// fitted into the frame or at its own size with scroll bars, a corner button and
// drag-panning, and the size read-out under the pointer. Choosing the file and the
// window's lists are in SelectFile.cpp.
#include "pictures/SelectFile.h"

#include "pictures/PictureFetch.h"
#include "pictures/PictureLoader.h"
#include "pictures/SelectFileTwips.h"
#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

#include <climits>
#include <cmath>

namespace {

const QString kFailure = QStringLiteral("图片出错，不能浏览！");

int clampToInt(qint64 v) { return int(qBound(qint64(INT_MIN), v, qint64(INT_MAX))); }

QString sizeText(int twips)
{
    // Single precision, at most seven significant digits, as the size read-out has always shown.
    const float pixels = float(twips) / float(kTwipsPerPixel);
    return QString::number(double(pixels), 'g', 7);
}

// One drag step on one bar: a fiftieth of the distance from the press point. The view
// never reaches 0 by dragging (the bar itself can still be moved there).
void dragStep(QScrollBar *bar, int distance)
{
    const double candidate = double(distance) / SelectFile::kDragDivisor + bar->value();
    if (!(candidate > 0 && candidate <= bar->maximum()))
        return;
    const int rounded = int(std::nearbyint(candidate)); // halves to even
    if (rounded > 0)
        bar->setValue(rounded);
}

} // namespace

void SelectFile::Check1_Click()
{
    if (Check1->isChecked()) {
        setWindowWidth(kWideWidth);
        if (!Text1->text().isEmpty())
            previewLoad();
    } else {
        setWindowWidth(kNarrowWidth);
        clearPicture();
    }
}

void SelectFile::Check2_Click()
{
    if (!Check1->isChecked())
        return;
    if (Check2->isChecked()) {
        // The fitted preview was read at the frame's size: its own size is read anew.
        if (!m_picture.isNull() && !m_pictureWhole && !Text1->text().isEmpty()) {
            previewLoad();
            return;
        }
        DisplayPicture->setScaledContents(false);
        if (!m_picture.isNull())
            DisplayPicture->resize(m_picture.size());
        layoutScrollBars();
    } else {
        fitPicture();
        DisplayPicture->move(0, 0);
        VScroll1->hide();
        HScroll1->hide();
        Command3->hide();
    }
}

void SelectFile::Command3_Click()
{
    if (HScroll1->value() < HScroll1->maximum() - kCornerStep)
        HScroll1->setValue(HScroll1->value() + kCornerStep);
    if (VScroll1->value() < VScroll1->maximum() - kCornerStep)
        VScroll1->setValue(VScroll1->value() + kCornerStep);
}

void SelectFile::HScroll1_Change(int value) { DisplayPicture->move(-px(value), DisplayPicture->y()); }

void SelectFile::VScroll1_Change(int value) { DisplayPicture->move(DisplayPicture->x(), -px(value)); }

void SelectFile::previewLoad()
{
    if (Check2->isChecked())
        DisplayPicture->setScaledContents(false);
    else
        fitPicture();
    // Fitted, the picture is stretched over the frame: it is read no larger than that.
    const pictures::PictureRequest request = Check2->isChecked()
        ? pictures::PictureRequest::ownSize()
        : pictures::PictureRequest::within(QSize(px(kFrameWidth), px(kFrameHeight)), false);
    m_fetch->start(Text1->text(), request);
}

void SelectFile::previewLoaded(const QString &path, const pictures::LoadedPicture &loaded)
{
    // Another file chosen, or the preview put away, since: this one is not wanted.
    if (path != Text1->text() || !Check1->isChecked())
        return;
    if (loaded.ok && !loaded.image.isNull()) {
        m_picture = QPixmap::fromImage(loaded.image);
        m_pictureWhole = loaded.image.size() == loaded.ownSize;
        DisplayPicture->setPixmap(m_picture);
        if (Check2->isChecked()) {
            DisplayPicture->setScaledContents(false);
            DisplayPicture->resize(m_picture.size());
            layoutScrollBars();
        } else {
            VScroll1->hide();
            HScroll1->hide();
            Command3->hide();
        }
        return;
    }
    showFailure(loaded);
}

void SelectFile::showFailure(const pictures::LoadedPicture &loaded)
{
    // The operator learns which file failed and why, under the message they know.
    const QString text = kFailure + QLatin1Char('\n') + pictures::failureText(Text1->text(), loaded);
    platform::message(this, text, QStringLiteral("图片不能安装"), platform::Buttons::Ok, platform::Icon::Critical);
    clearPicture();
}

void SelectFile::layoutScrollBars()
{
    HScroll1->setValue(0);
    VScroll1->setValue(0);
    DisplayPicture->move(0, 0);
    const qint64 width = pictureWidthTwips();
    const qint64 height = pictureHeightTwips();
    // The margin lets the last strip of the picture come out from under the bars. The
    // whole integer range is used, so pictures of any size can be scrolled.
    HScroll1->setMaximum(qMax(0, clampToInt(width - kFrameWidth + kScrollMargin)));
    VScroll1->setMaximum(qMax(0, clampToInt(height - kFrameHeight + kScrollMargin)));
    VScroll1->setVisible(kFrameHeight < height);
    HScroll1->setVisible(kFrameWidth < width);
    Command3->setVisible(!VScroll1->isHidden() || !HScroll1->isHidden());
}

void SelectFile::fitPicture()
{
    DisplayPicture->resize(px(kFrameWidth), px(kFrameHeight));
    DisplayPicture->setScaledContents(true);
}

void SelectFile::clearPicture()
{
    m_fetch->cancel();
    m_picture = QPixmap();
    m_pictureWhole = false;
    DisplayPicture->clear();
}

int SelectFile::pictureWidthTwips() const { return clampToInt(qint64(DisplayPicture->width()) * kTwipsPerPixel); }

int SelectFile::pictureHeightTwips() const
{
    return clampToInt(qint64(DisplayPicture->height()) * kTwipsPerPixel);
}

void SelectFile::DisplayPicture_MouseDown(const QPointF &pos)
{
    Dragging = true;
    PressX = int(std::lround(pos.x() * kTwipsPerPixel));
    PressY = int(std::lround(pos.y() * kTwipsPerPixel));
    DisplayPicture->setCursor(QCursor(picDown->pixmap()));
}

void SelectFile::DisplayPicture_MouseMove(const QPointF &pos)
{
    if ((!HScroll1->isHidden() || !VScroll1->isHidden()) && Dragging) {
        MoveX = int(std::lround(pos.x() * kTwipsPerPixel));
        MoveY = int(std::lround(pos.y() * kTwipsPerPixel));
        // Both directions, whichever bar is shown: a hidden bar's range is its own guard.
        dragStep(HScroll1, MoveX - PressX);
        dragStep(VScroll1, MoveY - PressY);
    }
    if (Text1->text().isEmpty())
        DisplayPicture->setToolTip(QStringLiteral("没有图片装载"));
    else if (Check2->isChecked())
        DisplayPicture->setToolTip(QStringLiteral("图片：宽 ") + sizeText(pictureWidthTwips()) + QStringLiteral(" 点、高 ") +
                                   sizeText(pictureHeightTwips()) + QStringLiteral(" 点"));
    else
        DisplayPicture->setToolTip(QStringLiteral("要想显示图片大小，选取自动大小！"));
}

void SelectFile::DisplayPicture_MouseUp()
{
    Dragging = false;
    DisplayPicture->setCursor(QCursor(picUP->pixmap()));
}

bool SelectFile::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == DisplayPicture) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            DisplayPicture_MouseDown(static_cast<QMouseEvent *>(event)->position());
            return true;
        case QEvent::MouseMove:
            DisplayPicture_MouseMove(static_cast<QMouseEvent *>(event)->position());
            return true;
        case QEvent::MouseButtonRelease:
            DisplayPicture_MouseUp();
            return true;
        case QEvent::MouseButtonDblClick:
            if (Command1->isEnabled())
                Command1_Click();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}
