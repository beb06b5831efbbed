#pragma once
// Window layouts are given in twips; the screen works in pixels (15 twips each).
#include <QFont>
#include <QWidget>

class QDialog;

namespace platform {

constexpr int tw(int twips) { return (twips + 7) / 15; }

// Places a control at a twip rectangle, growing it where the font needs more room
// than the rectangle leaves, so that no caption is clipped.
void place(QWidget *w, int left, int top, int width, int height);
// Places a label that sizes itself to its text.
void placeAutoSize(QWidget *w, int left, int top);

// The classic Song face, with the CJK faces that this platform ships as fallbacks.
QFont songFont(int pointSize);

// Sets a widget's background colour (and optionally its text colour).
void setColors(QWidget *w, const QColor &background, const QColor &text = QColor());
void setTextColor(QWidget *w, const QColor &text);

// A tool tip that shows the text as it is: tool tips guess at markup, and a name or
// path from the archive may look like markup.
QString plainToolTip(const QString &text);

// Moves a window to a remembered position, or to the middle of the screen when no
// screen would show enough of it there any more (a monitor taken away).
void moveToStoredPosition(QWidget *window, const QPoint &stored);

// The frame every fixed-size dialog of the program shares: title bar with a close box,
// no minimise or maximise button, the program's icon and the Song face.
void setUpFixedDialog(QDialog *dialog, const QString &objectName, const QString &title);

} // namespace platform
