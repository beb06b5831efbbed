#include "store/SearchPairs.h"

#include "store/TreeRows.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace store {

const char *const kUncheckedWord = "unchecked";

namespace {

constexpr char32_t kJoint = 0x0001;

inline char32_t folded(char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; }

inline PairKey keyOf(char32_t first, char32_t second)
{
    return (PairKey(folded(first)) << 21) | PairKey(folded(second));
}

// Walks the code points of UTF-16; a lone surrogate counts as the character it is.
template <typename Visit>
void forEachCodePoint(QStringView text, Visit visit)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            visit(QChar::surrogateToUcs4(u, text[i + 1].unicode()));
            ++i;
        } else {
            visit(char32_t(u));
        }
    }
}

} // namespace

void appendPairs(QStringView text, std::vector<PairKey> &out)
{
    bool first = true;
    char32_t before = 0;
    forEachCodePoint(text, [&](char32_t c) {
        if (!first)
            out.push_back(keyOf(before, c));
        first = false;
        before = c;
    });
}

std::vector<PairKey> pairsOf(const QStringList &texts)
{
    std::vector<PairKey> keys;
    QString joined;
    bool any = false;
    for (const QString &t : texts) {
        if (t.isNull())
            continue; // the server's array_to_string leaves out what has no value
        if (any)
            joined += QChar(char16_t(kJoint));
        joined += t;
        any = true;
    }
    appendPairs(joined, keys);
    return keys;
}

bool appendUtf8Pairs(QByteArrayView bytes, std::vector<PairKey> &out)
{
    std::vector<char16_t> units(size_t(bytes.size()) + 1);
    const char16_t *end = TreeRows::decodeStrict(bytes, units.data());
    if (!end)
        return false;
    appendPairs(QStringView(units.data(), end - units.data()), out);
    return true;
}

std::vector<PairKey> searchPairs(const QString &text)
{
    std::vector<PairKey> keys;
    // A lone surrogate or a NUL reaches the engines as something else than typed: such a
    // text is left to the scan, which reads it as the engines do.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == 0)
            return keys;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        else if (QChar::isSurrogate(u))
            return keys;
    }
    QString run;
    const auto endRun = [&] {
        std::vector<PairKey> of;
        appendPairs(run, of);
        for (const PairKey k : of)
            if (std::find(keys.begin(), keys.end(), k) == keys.end())
                keys.push_back(k);
        run.clear();
    };
    for (const QChar c : text) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?'))
            endRun();
        else
            run += c;
    }
    endRun();
    return keys;
}

void writePairWord(PairKey key, char *out)
{
    // Two digits at a time from a table of all 1,024 pairs of them: an index build writes
    // some millions of words.
    static const std::array<char, 2048> twoDigits = [] {
        static const char digits[] = "0123456789abcdefghijklmnopqrstuv";
        std::array<char, 2048> t{};
        for (int v = 0; v < 1024; ++v) {
            t[size_t(2 * v)] = digits[v >> 5];
            t[size_t(2 * v + 1)] = digits[v & 31];
        }
        return t;
    }();
    for (int i = 7; i >= 1; i -= 2) {
        std::memcpy(out + i, &twoDigits[size_t(2 * (key & 1023))], 2);
        key >>= 10;
    }
    out[0] = twoDigits[size_t(2 * (key & 31) + 1)];
}

QByteArray pairWord(PairKey key)
{
    QByteArray word(9, '0');
    writePairWord(key, word.data());
    return word;
}

} // namespace store
