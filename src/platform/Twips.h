#pragma once
// Window layouts are given in twips; the screen works in pixels (15 twips each).
#include <QFont>
#include <QWidget>

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

} // namespace platform
