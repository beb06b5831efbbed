#include "jet/JetText.h"

#include <QStringDecoder>
#include <QStringList>

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace jet {

namespace {

// Windows code pages whose characters are one byte, or a lead byte and one more, and that
// carry nothing from one character to the next: a text decodes as its characters do one
// by one, so each is converted once and kept. (glibc composes characters in CP1255 and
// CP1258; those, and any other name, go through iconv a whole text at a time.)
bool charByChar(const QString &name)
{
    static const QStringList pages{QStringLiteral("CP874"),  QStringLiteral("CP932"),  QStringLiteral("CP936"),
                                   QStringLiteral("CP949"),  QStringLiteral("CP950"),  QStringLiteral("CP1250"),
                                   QStringLiteral("CP1251"), QStringLiteral("CP1252"), QStringLiteral("CP1253"),
                                   QStringLiteral("CP1254"), QStringLiteral("CP1256"), QStringLiteral("CP1257")};
    return pages.contains(name);
}

// One byte, or a lead byte and its trail, as iconv converts it: its UTF-16 and its UTF-8.
struct Character {
    enum Kind : quint8 { Unknown, Invalid, Complete, Lead, Longer };
    Kind kind = Unknown;
    quint8 units = 0;
    quint8 bytes = 0;
    char16_t unit[2] = {};
    char utf8[8] = {};
};

// QString::fromUtf8() would drop a leading U+FEFF, which is part of the text.
QString textOfUtf8(const QByteArray &utf8)
{
    QStringDecoder toText(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return toText.decode(utf8);
}

} // namespace

struct TextDecoder::State {
    QString name;
    iconv_t cd = iconv_t(-1);   // to UTF-8, a whole text at a time
    iconv_t cd16 = iconv_t(-1); // to UTF-16, a character at a time
    bool asciiSame = false;     // bytes below 0x80 are those characters
    bool byCharacter = false;
    std::vector<Character> singles; // by byte
    std::vector<Character> pairs;   // by lead byte and trail, once a lead byte is met
    ~State()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
        if (cd16 != iconv_t(-1))
            iconv_close(cd16);
    }
    Character convert(const unsigned char *bytes, int n);
    int decodeByCharacter(const QByteArray &stored, QString *text, QByteArray *utf8);
};

Character TextDecoder::State::convert(const unsigned char *bytes, int n)
{
    Character c;
    char out[32];
    char *o = out;
    size_t outLeft = sizeof out;
    char *in = reinterpret_cast<char *>(const_cast<unsigned char *>(bytes));
    size_t inLeft = size_t(n);
    iconv(cd16, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd16, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
        c.kind = errno == EILSEQ ? Character::Invalid : errno == EINVAL && n == 1 ? Character::Lead : Character::Longer;
        return c;
    }
    const size_t made = sizeof out - outLeft;
    if (inLeft != 0 || iconv(cd16, nullptr, nullptr, &o, &outLeft) == size_t(-1) || made != sizeof out - outLeft
        || made % 2 != 0 || made / 2 > sizeof c.unit / sizeof c.unit[0]) {
        c.kind = Character::Longer;
        return c;
    }
    // Its UTF-8 as iconv makes it for a whole text.
    o = c.utf8;
    outLeft = sizeof c.utf8;
    in = reinterpret_cast<char *>(const_cast<unsigned char *>(bytes));
    inLeft = size_t(n);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0) {
        c.kind = Character::Longer;
        return c;
    }
    c.kind = Character::Complete;
    c.units = quint8(made / 2);
    c.bytes = quint8(sizeof c.utf8 - outLeft);
    for (int k = 0; k < c.units; ++k)
        c.unit[k] = char16_t(quint8(out[2 * k]) | (quint8(out[2 * k + 1]) << 8));
    return c;
}

// 1: decoded; 0: no text of the code page; -1: a character longer than two bytes, which
// only iconv can tell. Each character is written straight into the text and its UTF-8.
int TextDecoder::State::decodeByCharacter(const QByteArray &stored, QString *text, QByteArray *utf8)
{
    const auto *p = reinterpret_cast<const unsigned char *>(stored.constData());
    const qsizetype n = stored.size();
    // Room for the common case, a unit and three bytes at most for each byte read; more
    // when a character needs it.
    qsizetype used16 = 0, used8 = 0;
    char16_t *out16 = nullptr;
    char *out8 = nullptr;
    // The room each already has when it is its own, else new room: what a shared one holds
    // is not copied only to be written over.
    if (text) {
        if (text->isDetached())
            text->resize(n + 2);
        else
            *text = QString(n + 2, Qt::Uninitialized);
        out16 = reinterpret_cast<char16_t *>(text->data());
    }
    if (utf8) {
        if (utf8->isDetached())
            utf8->resize(3 * n + 8);
        else
            *utf8 = QByteArray(3 * n + 8, Qt::Uninitialized);
        out8 = utf8->data();
    }
    // Room for `units` more UTF-16 units and `bytes` more UTF-8 bytes.
    auto room = [&](qsizetype units, qsizetype bytes) {
        if (text && used16 + units > text->size()) {
            text->resize(qMax(2 * text->size(), used16 + units));
            out16 = reinterpret_cast<char16_t *>(text->data());
        }
        if (utf8 && used8 + bytes > utf8->size()) {
            utf8->resize(qMax(2 * utf8->size(), used8 + bytes));
            out8 = utf8->data();
        }
    };
    auto put = [&](const Character &c) {
        room(2, 8);
        if (text) {
            out16[used16] = c.unit[0];
            out16[used16 + 1] = c.unit[1];
            used16 += c.units;
        }
        if (utf8) {
            std::memcpy(out8 + used8, c.utf8, 8);
            used8 += c.bytes;
        }
    };
    for (qsizetype i = 0; i < n;) {
        // Digits and Latin letters, most of a path or a number, a run at a time.
        if (asciiSame && p[i] < 0x80) {
            qsizetype end = i + 1;
            while (end < n && p[end] < 0x80)
                ++end;
            room(end - i, end - i);
            if (text)
                for (qsizetype k = i; k < end; ++k)
                    out16[used16++] = p[k];
            if (utf8) {
                std::memcpy(out8 + used8, p + i, size_t(end - i));
                used8 += end - i;
            }
            i = end;
            continue;
        }
        Character &single = singles[p[i]];
        if (single.kind == Character::Unknown)
            single = convert(p + i, 1);
        if (single.kind == Character::Complete) {
            put(single);
            ++i;
            continue;
        }
        if (single.kind == Character::Invalid || (single.kind == Character::Lead && i + 1 == n))
            return 0;
        if (single.kind != Character::Lead)
            return -1;
        if (pairs.empty())
            pairs.resize(1 << 16);
        Character &pair = pairs[size_t(p[i]) << 8 | p[i + 1]];
        if (pair.kind == Character::Unknown)
            pair = convert(p + i, 2);
        if (pair.kind == Character::Invalid)
            return 0;
        if (pair.kind != Character::Complete)
            return -1;
        put(pair);
        i += 2;
    }
    if (text)
        text->truncate(used16);
    if (utf8)
        utf8->truncate(used8);
    return 1;
}

TextDecoder TextDecoder::codePage(const QString &name)
{
    TextDecoder d;
    auto state = std::make_shared<State>();
    state->name = name.trimmed().toUpper();
    const QByteArray page = state->name.toLatin1();
    state->cd = iconv_open("UTF-8", page.constData());
    if (state->cd == iconv_t(-1))
        return d;
    // Most text of an archive is digits and Latin letters, which most code pages keep as
    // they are; that is checked, not assumed (EBCDIC does not).
    QByteArray ascii(128, Qt::Uninitialized);
    for (int b = 0; b < 128; ++b)
        ascii[b] = char(b);
    QByteArray out(512, Qt::Uninitialized);
    char *in = ascii.data();
    size_t inLeft = size_t(ascii.size());
    char *o = out.data();
    size_t outLeft = size_t(out.size());
    state->asciiSame = iconv(state->cd, &in, &inLeft, &o, &outLeft) != size_t(-1) && inLeft == 0
        && iconv(state->cd, nullptr, nullptr, &o, &outLeft) != size_t(-1) && out.left(out.size() - qsizetype(outLeft)) == ascii;
    if (charByChar(state->name)) {
        state->cd16 = iconv_open("UTF-16LE", page.constData());
        state->byCharacter = state->cd16 != iconv_t(-1);
        state->singles.resize(256);
    }
    d.m_state = state;
    return d;
}

TextDecoder TextDecoder::utf16()
{
    TextDecoder d;
    d.m_utf16 = true;
    return d;
}

QString TextDecoder::codePageName(int number)
{
    switch (number) {
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
        return QStringLiteral("CP%1").arg(number);
    default:
        return QString();
    }
}

TextDecoder TextDecoder::another() const
{
    if (m_utf16)
        return utf16();
    return m_state ? codePage(m_state->name) : TextDecoder();
}

QString TextDecoder::name() const { return m_utf16 ? QStringLiteral("UTF-16") : m_state ? m_state->name : QString(); }

namespace {

bool decodeUtf16(const QByteArray &stored, QString &text)
{
    QByteArray units;
    const auto *p = reinterpret_cast<const unsigned char *>(stored.constData());
    const qsizetype n = stored.size();
    if (n >= 2 && p[0] == 0xff && p[1] == 0xfe) {
        // Compressed: single bytes stand for characters below U+0100; a zero byte switches
        // between that and plain UTF-16.
        units.reserve(2 * n);
        bool compressed = true;
        for (qsizetype i = 2; i < n;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units.append(char(p[i]));
                units.append('\0');
                ++i;
            } else {
                if (i + 1 >= n)
                    return false;
                units.append(char(p[i]));
                units.append(char(p[i + 1]));
                i += 2;
            }
        }
    } else {
        units = stored;
    }
    if (units.size() % 2 != 0)
        return false;
    text.resize(units.size() / 2);
    const auto *u = reinterpret_cast<const unsigned char *>(units.constData());
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(u[2 * i] | (u[2 * i + 1] << 8)));
    // Surrogates only in pairs, high then low.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

} // namespace

bool TextDecoder::decode(const QByteArray &stored, QString *text, QByteArray *utf8) const
{
    if (m_utf16) {
        QString decoded;
        QString &t = text ? *text : decoded;
        if (!decodeUtf16(stored, t))
            return false;
        if (utf8)
            *utf8 = t.toUtf8();
        return true;
    }
    if (!m_state)
        return false;
    bool ascii = m_state->asciiSame;
    for (qsizetype i = 0; ascii && i < stored.size(); ++i)
        ascii = static_cast<unsigned char>(stored.at(i)) < 0x80;
    if (ascii) {
        if (text) {
            // Into the room the text already has, when it is its own.
            text->resize(stored.size());
            QChar *out = text->data();
            for (qsizetype i = 0; i < stored.size(); ++i)
                out[i] = QLatin1Char(stored.at(i));
        }
        if (utf8)
            *utf8 = stored;
        return true;
    }
    if (m_state->byCharacter) {
        const int done = m_state->decodeByCharacter(stored, text, utf8);
        if (done >= 0)
            return done == 1;
        m_state->byCharacter = false;
    }
    iconv(m_state->cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(stored.size() * 4 + 4, Qt::Uninitialized);
    char *in = const_cast<char *>(stored.constData());
    size_t inLeft = size_t(stored.size());
    char *o = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(m_state->cd, &in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0)
        return false;
    // A code page that shifts state must end in its initial one.
    if (iconv(m_state->cd, nullptr, nullptr, &o, &outLeft) == size_t(-1))
        return false;
    out.truncate(out.size() - qsizetype(outLeft));
    if (text)
        *text = textOfUtf8(out);
    if (utf8)
        *utf8 = out;
    return true;
}

} // namespace jet
