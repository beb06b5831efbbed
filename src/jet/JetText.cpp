#include "jet/JetText.h"

#include <iconv.h>

#include <cerrno>

namespace jet {

struct TextDecoder::State {
    QString name;
    iconv_t cd = iconv_t(-1);
    ~State()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

TextDecoder TextDecoder::codePage(const QString &name)
{
    TextDecoder d;
    auto state = std::make_shared<State>();
    state->name = name.trimmed().toUpper();
    state->cd = iconv_open("UTF-8", state->name.toLatin1().constData());
    if (state->cd != iconv_t(-1))
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

bool TextDecoder::decode(const QByteArray &stored, QString &text) const
{
    if (m_utf16)
        return decodeUtf16(stored, text);
    if (!m_state)
        return false;
    bool ascii = true;
    for (const char c : stored)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        text = QString::fromLatin1(stored);
        return true;
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
    text = QString::fromUtf8(out);
    return true;
}

} // namespace jet
