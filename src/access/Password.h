#pragma once
// How passwords are kept in table User. Archives written by the earlier Windows system
// hold every password character lowered by 3 in its GBK (code page 936) code, a
// double-byte character counting as one 16-bit code (lead * 256 + trail). Reading and
// writing the same form lets those archives log in unchanged.
#include <QString>

namespace access {

// Each character's GBK code lowered by 3. Where the lowered code is no GBK character,
// or the character has no GBK code, its Unicode code point is lowered by 3 instead, so
// encoding never fails.
QString encode(const QString &text);
// The reverse: each character's GBK code raised by 3 (Unicode code point as fallback).
QString decode(const QString &stored);

// Leading and trailing blanks (U+0020 only, as the earlier system trimmed) removed.
QString trimBlanks(const QString &text);

// What the operator window stores for a typed password: typed text trimmed, encoded,
// and the encoded text trimmed again.
QString storedForm(const QString &typed);
// What the operator window shows for a stored password.
QString shownForm(const QString &stored);

// True when a typed password opens an account whose PWD column holds `stored`
// (a null value reads as the empty password).
bool passwordMatches(const QString &typed, const QString &stored);

// The GBK code of one Unicode code point (single byte: 0..0xFF, double byte:
// lead * 256 + trail), or -1 when GBK has no such character.
int gbkCode(char32_t codePoint);
// The Unicode code point of a GBK code, or -1 when the code is no GBK character.
int fromGbkCode(int code);

} // namespace access
