#include "platform/Twips.h"

#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QTextDocument>

namespace platform {

void place(QWidget *w, int left, int top, int width, int height)
{
    const QSize hint = w->sizeHint();
    int wpx = tw(width);
    int hpx = tw(height);
    if (hint.isValid()) {
        hpx = qMax(hpx, qMin(hint.height(), hpx + 12));
    }
    w->setGeometry(tw(left), tw(top), wpx, hpx);
}

void placeAutoSize(QWidget *w, int left, int top)
{
    w->adjustSize();
    w->move(tw(left), tw(top));
}

QFont songFont(int pointSize)
{
    QFont f;
    f.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("Noto Serif CJK SC"),
                   QStringLiteral("Noto Sans CJK SC")});
    f.setPointSize(pointSize);
    return f;
}

void setColors(QWidget *w, const QColor &background, const QColor &text)
{
    QPalette p = w->palette();
    if (background.isValid()) {
        p.setColor(QPalette::Window, background);
        p.setColor(QPalette::Base, background);
        p.setColor(QPalette::Button, background);
        w->setAutoFillBackground(true);
    }
    if (text.isValid()) {
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::ButtonText, text);
    }
    w->setPalette(p);
}

void setTextColor(QWidget *w, const QColor &text) { setColors(w, QColor(), text); }

void moveToStoredPosition(QWidget *window, const QPoint &stored)
{
    const QRect wanted(stored, window->size());
    for (QScreen *s : QGuiApplication::screens()) {
        const QRect seen = s->availableGeometry().intersected(wanted);
        if (seen.width() >= 40 && seen.height() >= 20) { // enough to take hold of
            window->move(stored);
            return;
        }
    }
    if (QScreen *s = QGuiApplication::primaryScreen())
        window->move(s->availableGeometry().center() - window->rect().center());
}

void setUpFixedDialog(QDialog *dialog, const QString &objectName, const QString &title)
{
    dialog->setObjectName(objectName);
    dialog->setWindowTitle(title);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint);
    dialog->setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    dialog->setFont(songFont(9));
}

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

} // namespace platform
