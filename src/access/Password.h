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

// Stored forms. The earlier operator window stored the typed text trimmed, encoded, and
// the encoded text trimmed again; as '#' encodes to a blank, a password beginning or
// ending with '#' lost those characters, and "a", "a#" and "#a" all came to the same
// stored text.
//
// This program stores a marker, U+10FFFF (a code point that no encoded text contains),
// then the encoding of the typed text without its blanks before and after, untrimmed:
// the marker tells the form apart from every text the earlier window or another tool
// wrote, and the encoding keeps the blank of every '#'.

// What this program's operator window and admin tool store for a typed password.
QString storedForm(const QString &typed);
// What the earlier operator window stored for it (kept for reading old archives).
QString legacyStoredForm(const QString &typed);
// True when the stored text is in this program's form.
bool isCurrentForm(const QString &stored);
// The password as the operator window shows it: decoded, without the form's marker
// (a text of the earlier form is trimmed before decoding, as the earlier window did).
QString shownForm(const QString &stored);

// True when a typed password opens an account whose PWD column holds `stored`
// (a null value reads as the empty password). Blanks before and after the typed text
// never count. A stored text of this program's form is opened by exactly the password
// typed when it was set. A stored text of the earlier form is opened as the earlier
// login opened it, and also with the '#'s the earlier window dropped: any number of
// '#' before and after the password ("a", "#a", "a#", "##a#" for a stored "^").
bool passwordMatches(const QString &typed, const QString &stored);

// The GBK code of one Unicode code point (single byte: 0..0xFF, double byte:
// lead * 256 + trail), or -1 when GBK has no such character.
int gbkCode(char32_t codePoint);
// The Unicode code point of a GBK code, or -1 when the code is no GBK character.
int fromGbkCode(int code);

} // namespace access
