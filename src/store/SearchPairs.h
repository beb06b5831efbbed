#pragma once
// The search index's unit: two neighbouring characters. Any text of two characters or more
// that a record holds, it holds as overlapping pairs; a record whose pairs include every
// pair of the text is a candidate, and the search's own pattern then decides. Chinese has
// no spaces to cut words at, and the words searched most (a name, 阑尾, 骨折) are two
// characters long: pairs serve them, where the trigrams of the photos' words cannot.
//
// Both engines hold a pair as one number, the first character's code point above the
// second's, 21 bits each, with the letters A-Z taken as a-z: the search ignores their case
// and no other (store/Dialect.h), so a folded pair is found whatever case was stored or
// typed, and nothing else is folded that the pattern would tell apart.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

namespace store {

using PairKey = quint64;

// The pairs of a record: of its texts joined by U+0001, the way the server's index function
// joins them, in the order met, repeats included.
void appendPairs(QStringView text, std::vector<PairKey> &out);
std::vector<PairKey> pairsOf(const QStringList &texts);
// The same from strict UTF-8 (TreeRows::strictUtf8); false, with nothing added, when the
// bytes are not.
bool appendUtf8Pairs(QByteArrayView bytes, std::vector<PairKey> &out);

// What every match of a search text holds: the pairs of each run of two or more
// characters between its wildcards (* and ?), once each, in the order met; empty when no
// run is that long. %, _ and \ are characters like any other here.
std::vector<PairKey> searchPairs(const QString &text);

// The file's index keeps a pair as a word of nine digits and letters (0-9, a-v), which
// its built-in tokenizer takes whole.
QByteArray pairWord(PairKey key);
// The same word written at `out`, which has room for its nine characters.
void writePairWord(PairKey key, char *out);
// The file index's word for a record one of whose values the index cannot read (not
// UTF-8, a number stored as such, binary data): such a record is a candidate for every
// search, so the pattern decides on it as the scan would.
extern const char *const kUncheckedWord;

} // namespace store
