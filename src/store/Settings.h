#pragma once
// The per-user settings, kept under the executable's base name so that a copy of the
// program started under another name keeps settings of its own.
#include <QPoint>
#include <QString>

namespace settings {

// The stored text, or the empty text when the key is missing.
QString read(const QString &section, const QString &key);
void write(const QString &section, const QString &key, const QString &value);

// The leading number of a text; an empty or non-numeric text reads as 0.
double leadingNumber(const QString &text);
// The shortest text of the single-precision value, without thousands separators.
QString numberText(double value);

double readNumber(const QString &section, const QString &key);
void writeNumber(const QString &section, const QString &key, double value);

// Window positions are kept in twips (pixels × 15) under "Left" and "Top".
constexpr int kTwipsPerPixel = 15;
QPoint readPosition(const QString &section); // in pixels
void writePosition(const QString &section, const QPoint &pixels);

} // namespace settings
