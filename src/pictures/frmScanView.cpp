// How the viewer shows the photo on show: placed in the frame with the scroll bars it
// needs, dragged and scrolled with the mouse and the wheel, fitted, zoomed and turned for
// viewing, never the file itself. Reading the photos and paging through them are in
// frmScan.cpp.
#include "pictures/frmScan.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTransform>
#include <QWheelEvent>

#include <cmath>

namespace {
constexpr double kZoomStep = 1.25;       // one key press or wheel notch
constexpr double kMinZoom = 1.0 / 32;
constexpr double kMaxZoom = 8.0;
// Zooming in draws the photo anew on the window's thread: a photo larger than this is
// only ever shown smaller than its own size, so that zooming never takes the memory a
// photo of its own is refused for.
constexpr double kMaxViewPixels = 40'000'000;
} // namespace

void frmScan::placeOpeningPhoto()
{
    HScroll1->setValue(0);
    VScroll1->setValue(0);

    const int frameW = Picture1->width();
    const int frameH = Picture1->height();
    const int photoW = Image1->width();
    const int photoH = Image1->height();
    Image1->move(frameW > photoW ? (frameW - photoW) / 2 : 0, frameH > photoH ? (frameH - photoH) / 2 : 0);

    HScroll1->setGeometry(0, frameH, frameW, HScroll1->height());
    VScroll1->setGeometry(frameW, 0, VScroll1->width(), frameH);

    // The whole integer range: any photo, however wide, can be scrolled to its last pixel.
    HScroll1->setRange(0, qMax(0, photoW - frameW));
    VScroll1->setRange(0, qMax(0, photoH - frameH));

    VScroll1->setVisible(frameH < photoH);
    HScroll1->setVisible(frameW < photoW);
}

void frmScan::HScroll1_Change(int value) { Image1->move(-value, Image1->y()); }

void frmScan::VScroll1_Change(int value) { Image1->move(Image1->x(), -value); }

bool frmScan::eventFilter(QObject *watched, QEvent *event)
{
    // The wheel over the photo scrolls it, sideways with Shift or a sideways wheel.
    if (watched != Picture1 && watched != Image1)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        // Where the photo moves under the pointer, the frame does not: measure on the screen.
        m_dragging = true;
        m_dragFrom = mouse->globalPosition().toPoint();
        m_dragBars = QPoint(HScroll1->value(), VScroll1->value());
        Picture1->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_dragging)
            break;
        const QPoint moved = static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_dragFrom;
        HScroll1->setValue(m_dragBars.x() - moved.x());
        VScroll1->setValue(m_dragBars.y() - moved.y());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragging || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            break;
        m_dragging = false;
        Picture1->unsetCursor();
        return true;
    default:
        break;
    }
    if (event->type() == QEvent::Wheel) {
        auto *wheel = static_cast<QWheelEvent *>(event);
        // With Ctrl the wheel zooms, as in every viewer and browser.
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int delta = wheel->angleDelta().y();
            if (delta != 0)
                zoomBy(delta > 0 ? 1 : -1);
            return true;
        }
        const bool sideways = (wheel->modifiers() & Qt::ShiftModifier) ||
                              qAbs(wheel->angleDelta().x()) > qAbs(wheel->angleDelta().y());
        QScrollBar *bar = sideways ? HScroll1 : VScroll1;
        if (bar->isVisible()) {
            QApplication::sendEvent(bar, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

double frmScan::zoom() const
{
    if (!m_fit || m_image.isNull())
        return m_scale;
    const bool across = m_turns % 2 != 0;
    const double w = across ? m_image.height() : m_image.width();
    const double h = across ? m_image.width() : m_image.height();
    // Fitting shrinks a large photo into the frame; a small one stays sharp at its own size.
    return qMin(1.0, qMin(Picture1->width() / w, Picture1->height() / h));
}

void frmScan::toggleFit()
{
    if (m_image.isNull())
        return;
    if (m_fit) {
        m_fit = false;
        m_scale = 1.0;
    } else {
        m_fit = true;
    }
    renderView(0);
}

void frmScan::zoomBy(int steps)
{
    if (m_image.isNull() || steps == 0)
        return;
    const double now = zoom();
    double scale = steps > 0 ? now * kZoomStep : now / kZoomStep;
    if (std::abs(scale - 1.0) < 1e-9)
        scale = 1.0;
    const double pixels = double(m_image.width()) * m_image.height();
    const double largest = qMin(kMaxZoom, std::sqrt(qMax(kMaxViewPixels, pixels) / pixels));
    scale = qBound(kMinZoom, scale, largest);
    if (scale == now && !m_fit)
        return;
    m_fit = false;
    m_scale = scale;
    renderView(0);
}

void frmScan::rotateBy(int quarters)
{
    if (m_image.isNull())
        return;
    m_turns = ((m_turns + quarters) % 4 + 4) % 4;
    renderView(quarters);
}

void frmScan::renderView(int turned)
{
    const int frameW = Picture1->width();
    const int frameH = Picture1->height();
    // The point at the frame's centre, as a share of the photo's width and height.
    const QSize before = Image1->size();
    double cx = before.width() > 0 ? (frameW / 2.0 - Image1->x()) / before.width() : 0.5;
    double cy = before.height() > 0 ? (frameH / 2.0 - Image1->y()) / before.height() : 0.5;
    for (int i = 0; i < ((turned % 4) + 4) % 4; ++i) { // a clockwise quarter: (x, y) -> (1 - y, x)
        const double x = cx;
        cx = 1.0 - cy;
        cy = x;
    }

    const QImage upright =
        m_turns == 0 ? m_image : m_image.transformed(QTransform().rotate(90.0 * m_turns));
    const double scale = zoom();
    const QSize size(qMax(1, qRound(upright.width() * scale)), qMax(1, qRound(upright.height() * scale)));
    const QPixmap pixmap = QPixmap::fromImage(
        size == upright.size() ? upright : upright.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    Image1->setPixmap(pixmap);
    Image1->resize(pixmap.size());
    // "Shown reduced to ..." no longer describes what is on show.
    hideNotice();
    placeOpeningPhoto();
    HScroll1->setValue(qRound(cx * pixmap.width() - frameW / 2.0));
    VScroll1->setValue(qRound(cy * pixmap.height() - frameH / 2.0));
    lblPage->raise();
}
