#pragma once
// How passwords are kept in table User.
//
// A password set from now on is kept as an Argon2id hash made by libsodium: salted, slow
// and memory-hard, so that whoever reads the file, a backup or the server's table learns
// no password from it, and two different passwords never share a stored text.
//
// Archives written by the earlier Windows system hold every password character lowered by
// 3 in its GBK (code page 936) code, a double-byte character counting as one 16-bit code
// (lead * 256 + trail); this program stored a marked variant of that until now. Both keep
// opening exactly as before and are replaced by the hash at the first successful login.
#include <QString>

#include <cstddef>
#include <functional>

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
// never count. A hash, and a stored text of this program's earlier form, is opened by
// exactly the password typed when it was set. A stored text of the earlier system's form
// is opened as the earlier login opened it, and also with the '#'s the earlier window
// dropped: any number of '#' before and after the password ("a", "#a", "a#", "##a#" for
// a stored "^").
bool passwordMatches(const QString &typed, const QString &stored);

// ---- The hashed form: what the operator window and the admin tool store from now on ----

// The most characters (Unicode characters, not UTF-16 units) a password may have.
constexpr int kMaxPasswordLength = 20;
// The characters of a typed password that count: blanks before and after do not.
int passwordLength(const QString &typed);
// Why a typed password cannot be set (too long, or a broken character), in the operator's
// words; empty when it can.
QString passwordProblem(const QString &typed);

// What is stored for a typed password: a marker (U+10FFFE, which no earlier form holds)
// and libsodium's Argon2id string with its own random salt. The empty password is stored
// as the marked form of the empty text (U+10FFFF alone), opened by the empty password only:
// a hash would not protect it, and the operator window has to tell it apart. Throws
// store::StoreError when the hash cannot be made (out of memory).
QString hashedForm(const QString &typed);
// True when the stored text is a hash of this program.
bool isHashedForm(const QString &stored);
// True when a typed password would be checked against the stored hash at all: one of
// libsodium's Argon2id strings asking for no more memory and passes than the program
// allows. Any other hash opens nothing, and is refused before any of its work is done.
bool hashCheckAffordable(const QString &stored);
// True when the stored text is what a password set now would store: a hash, or the marked
// empty password. Any other form (no value, the earlier system's) is replaced at the next
// successful login.
bool isUpToDate(const QString &stored);
// True when the stored text holds a password that is not empty (the operator window shows
// a mask for it, never the password).
bool hasPassword(const QString &stored);

// The cost of a hash: libsodium's operations and memory limits. The program uses its own
// choice; tests make hashes cheap (both 0: back to the program's choice).
void setHashCostForTests(unsigned long long operations, size_t memoryBytes);
// Called just before libsodium checks a password against a hash (on the thread that checks).
void setHashCheckObserverForTests(std::function<void()> observer);

// The GBK code of one Unicode code point (single byte: 0..0xFF, double byte:
// lead * 256 + trail), or -1 when GBK has no such character.
int gbkCode(char32_t codePoint);
// The Unicode code point of a GBK code, or -1 when the code is no GBK character.
int fromGbkCode(int code);

} // namespace access
