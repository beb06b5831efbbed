#include "access/Password.h"

#include <QByteArray>
#include <QList>
#include <cerrno>
#include <iconv.h>

namespace access {

namespace {

constexpr int kShift = 3;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

// One conversion direction of glibc's iconv, opened once per thread.
class Converter {
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // The whole input converted, or false when any of it could not be.
    bool convert(const QByteArray &in, QByteArray &out)
    {
        out.clear();
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        char buffer[16];
        char *inPtr = const_cast<char *>(in.constData());
        size_t inLeft = size_t(in.size());
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1))
            return false;
        if (inLeft != 0)
            return false;
        // A lone lead byte may wait in the converter for its trail: flushing tells.
        if (iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
            return false;
        out = QByteArray(buffer, int(outPtr - buffer));
        return true;
    }

private:
    iconv_t m_cd;
};

Converter &toGbk()
{
    thread_local Converter c("GBK", "UTF-32LE");
    return c;
}

Converter &fromGbk()
{
    thread_local Converter c("UTF-32LE", "GBK");
    return c;
}

QByteArray utf32(char32_t cp)
{
    QByteArray b(4, '\0');
    b[0] = char(cp & 0xFF);
    b[1] = char((cp >> 8) & 0xFF);
    b[2] = char((cp >> 16) & 0xFF);
    b[3] = char((cp >> 24) & 0xFF);
    return b;
}

bool isSurrogate(long cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// The character whose GBK code is `code`, provided that character also encodes back to
// exactly that code, so that decode(encode(x)) returns x wherever the code page allows.
long gbkCharacter(long code)
{
    if (code < 0 || code > 0xFFFF)
        return -1;
    const int cp = fromGbkCode(int(code));
    if (cp < 0 || gbkCode(char32_t(cp)) != code)
        return -1;
    return cp;
}

char32_t shifted(char32_t cp, int delta)
{
    if (const int code = gbkCode(cp); code >= 0) {
        const long target = gbkCharacter(long(code) + delta);
        if (target >= 0)
            return char32_t(target);
    }
    const long moved = long(cp) + delta;
    if (moved < 0 || moved > long(kMaxCodePoint) || isSurrogate(moved))
        return cp; // nowhere to go: the character stays as it is
    return char32_t(moved);
}

QString shiftAll(const QString &text, int delta)
{
    QList<uint> codePoints = text.toUcs4();
    for (uint &cp : codePoints)
        cp = shifted(char32_t(cp), delta);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()), codePoints.size());
}

} // namespace

int gbkCode(char32_t codePoint)
{
    if (codePoint > kMaxCodePoint || isSurrogate(long(codePoint)))
        return -1;
    QByteArray out;
    if (!toGbk().convert(utf32(codePoint), out))
        return -1;
    if (out.size() == 1)
        return uchar(out[0]);
    if (out.size() == 2)
        return uchar(out[0]) * 256 + uchar(out[1]);
    return -1;
}

int fromGbkCode(int code)
{
    if (code < 0 || code > 0xFFFF)
        return -1;
    QByteArray in;
    if (code > 0xFF)
        in.append(char(code >> 8));
    in.append(char(code & 0xFF));
    QByteArray out;
    if (!fromGbk().convert(in, out) || out.size() != 4)
        return -1; // not a character, or two single-byte characters
    const auto *b = reinterpret_cast<const uchar *>(out.constData());
    return int(b[0] | (b[1] << 8) | (b[2] << 16) | (uint(b[3]) << 24));
}

QString encode(const QString &text) { return shiftAll(text, -kShift); }

QString decode(const QString &stored) { return shiftAll(stored, kShift); }

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

namespace {
// U+10FFFF, the last code point, a noncharacter: the encoding lowers every code, so no
// typed text encodes to it, and no earlier window or other tool stored it.
const QString &marker()
{
    static const QString m = QString::fromUcs4(U"\U0010FFFF", 1);
    return m;
}
} // namespace

QString storedForm(const QString &typed) { return marker() + encode(trimBlanks(typed)); }

QString legacyStoredForm(const QString &typed) { return trimBlanks(encode(trimBlanks(typed))); }

bool isCurrentForm(const QString &stored) { return stored.startsWith(marker()); }

QString shownForm(const QString &stored)
{
    if (isCurrentForm(stored))
        return decode(stored.mid(marker().size()));
    return decode(trimBlanks(stored));
}

bool passwordMatches(const QString &typed, const QString &stored)
{
    if (isCurrentForm(stored))
        return storedForm(typed) == stored;
    // The earlier form, or a text another tool wrote: compared trimmed on both sides, so
    // that a password whose '#'s the earlier window dropped still opens with the '#'s
    // typed; every password that opened such an account before still does.
    return legacyStoredForm(typed) == trimBlanks(stored);
}

} // namespace access
