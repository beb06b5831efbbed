#include "access/Password.h"

#include "store/Database.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <cerrno>
#include <iconv.h>
#include <sodium.h>

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

namespace {
// U+10FFFE, a noncharacter next to the earlier marker: no encoded text holds it (the
// encoding lowers every code), and it tells a hash from a text of either earlier form
// that happens to begin like libsodium's string.
const QString &hashMarker()
{
    static const QString m = QString::fromUcs4(U"\U0010FFFE", 1);
    return m;
}

// A fraction of a second per check (bench_login measures it): slow enough that guessing
// through a stolen file costs an attacker that much per guess and per account, quick
// enough for a login.
constexpr unsigned long long kOperations = 3;
constexpr size_t kMemoryBytes = size_t(64) << 20;
unsigned long long testOperations = 0;
size_t testMemoryBytes = 0;
std::function<void()> hashCheckObserver;

// The most a stored hash may ask for before it is checked: an archive is a file from
// outside, and a hash claiming gigabytes or hours would hang the login. Memory and passes
// are bounded each, and together: a gibibyte once, or 64 MiB sixteen times, is about five
// times what the program's own hash costs; a gibibyte sixteen times would be seconds of
// work and of the memory, at every attempt.
constexpr long long kMaxStoredMemoryKiB = 1LL << 20; // 1 GiB
constexpr long long kMaxStoredOperations = 16;
constexpr long long kMaxStoredWorkKiB = 1LL << 20; // memory times passes

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The hash string (ASCII) when it is one of libsodium's Argon2id strings within the bounds
// above; empty otherwise.
QByteArray checkedHash(const QString &stored)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\$argon2id\\$v=19\\$m=([0-9]{1,10}),t=([0-9]{1,4}),p=1\\$[A-Za-z0-9+/]{10,64}\\$[A-Za-z0-9+/]{10,128}$"));
    const QString hash = stored.mid(hashMarker().size());
    const QRegularExpressionMatch m = form.match(hash);
    if (!m.hasMatch())
        return QByteArray();
    const long long memory = m.captured(1).toLongLong();
    const long long operations = m.captured(2).toLongLong();
    if (memory > kMaxStoredMemoryKiB || operations > kMaxStoredOperations || operations < 1
        || memory * operations > kMaxStoredWorkKiB)
        return QByteArray();
    const QByteArray bytes = hash.toLatin1();
    if (bytes.size() >= crypto_pwhash_STRBYTES)
        return QByteArray();
    return bytes;
}

// The bytes a password is hashed from: the typed text without blanks before and after,
// as UTF-8.
QByteArray secretBytes(const QString &typed) { return trimBlanks(typed).toUtf8(); }
} // namespace

int passwordLength(const QString &typed) { return int(trimBlanks(typed).toUcs4().size()); }

QString passwordProblem(const QString &typed)
{
    if (!trimBlanks(typed).isValidUtf16())
        return QStringLiteral("口令之中有无法保存的字符，请重新输入。");
    if (passwordLength(typed) > kMaxPasswordLength)
        return QStringLiteral("口令最长 %1 个字符，请重新输入。").arg(kMaxPasswordLength);
    return QString();
}

QString hashedForm(const QString &typed)
{
    const QByteArray secret = secretBytes(typed);
    if (secret.isEmpty())
        return marker();
    char out[crypto_pwhash_STRBYTES];
    const unsigned long long operations = testOperations ? testOperations : kOperations;
    const size_t memory = testMemoryBytes ? testMemoryBytes : kMemoryBytes;
    if (!sodiumReady()
        || crypto_pwhash_str_alg(out, secret.constData(), size_t(secret.size()), operations, memory,
                                 crypto_pwhash_ALG_ARGON2ID13)
            != 0)
        throw store::StoreError(QStringLiteral("内存不足，无法保存口令。请关闭其他程序后再试。"));
    return hashMarker() + QString::fromLatin1(out);
}

bool isHashedForm(const QString &stored) { return stored.startsWith(hashMarker()); }

bool hashCheckAffordable(const QString &stored) { return isHashedForm(stored) && !checkedHash(stored).isEmpty(); }

bool isUpToDate(const QString &stored) { return isHashedForm(stored) || stored == marker(); }

bool hasPassword(const QString &stored)
{
    if (isHashedForm(stored))
        return true;
    if (isCurrentForm(stored))
        return stored.size() > marker().size();
    return !trimBlanks(stored).isEmpty();
}

void setHashCostForTests(unsigned long long operations, size_t memoryBytes)
{
    testOperations = operations;
    testMemoryBytes = memoryBytes;
}

void setHashCheckObserverForTests(std::function<void()> observer) { hashCheckObserver = std::move(observer); }

bool passwordMatches(const QString &typed, const QString &stored)
{
    if (isHashedForm(stored)) {
        // libsodium compares in constant time; a hash out of bounds opens nothing.
        const QByteArray hash = checkedHash(stored);
        if (hash.isEmpty())
            return false;
        if (hashCheckObserver)
            hashCheckObserver();
        const QByteArray secret = secretBytes(typed);
        return sodiumReady() && crypto_pwhash_str_verify(hash.constData(), secret.constData(), size_t(secret.size())) == 0;
    }
    if (isCurrentForm(stored))
        return storedForm(typed) == stored;
    // The earlier form, or a text another tool wrote: compared trimmed on both sides, so
    // that a password whose '#'s the earlier window dropped still opens with the '#'s
    // typed; every password that opened such an account before still does.
    return legacyStoredForm(typed) == trimBlanks(stored);
}

} // namespace access
