#pragma once
// The per-user settings, kept under the executable's base name so that a copy of the
// program started under another name keeps settings of its own.
#include <QPoint>
#include <QString>

namespace settings {

// The stored text, or the empty text when the key is missing: the user's own value, else
// the site's (/etc/xdg/<name>.conf, for every user of the PC).
QString read(const QString &section, const QString &key);
// Into the user's own file, which holds only what the user chose: a site value is read from
// the site's file at every start and never copied, so that a change there reaches everyone.
void write(const QString &section, const QString &key, const QString &value);

// The user's own value alone, and the site's alone; empty when missing.
QString readOwn(const QString &section, const QString &key);
QString readSite(const QString &section, const QString &key);
// True when the user's own file holds the key, even with an empty value.
bool hasOwn(const QString &section, const QString &key);
// Takes the key out of the user's own file, so the site's value (if any) counts again.
void removeOwn(const QString &section, const QString &key);

// The program's own value (the user's, else the site's) as the program itself reads it,
// for the admin tool, which runs under a name of its own.
QString readOfProgram(const QString &section, const QString &key);

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
