#include "records/PdfTextMap.h"

#include <QFontDatabase>
#include <QHash>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>
#include <QVector>

namespace records {

namespace {

bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// The code point the writer names for the glyph of each drawn character, where that is
// another one and was not drawn itself, mapped to the drawn one.
QHash<char16_t, char16_t> lookAlikes(const QString &drawn, const QList<QFont> &fonts)
{
    QSet<char16_t> used;
    for (const QChar ch : drawn)
        if (!isSurrogate(ch.unicode()) && ch.unicode() != 0)
            used.insert(ch.unicode());
    // Every code point the writer looks through, in its order, one glyph each.
    QString all;
    all.reserve(0x10000);
    for (uint u = 1; u < 0x10000; ++u)
        if (!isSurrogate(char16_t(u)))
            all += QChar(char16_t(u));
    const auto at = [](char16_t u) { return int(u) - 1 - (u > 0xDFFF ? 0x800 : 0); };

    QHash<char16_t, char16_t> found;
    for (const QFont &font : fonts) {
        const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
        if (!raw.isValid())
            continue;
        const QList<quint32> glyphs = raw.glyphIndexesForString(all);
        if (glyphs.size() != all.size())
            continue;
        QHash<quint32, char16_t> lowest;
        for (qsizetype i = 0; i < glyphs.size(); ++i)
            if (glyphs.at(i) != 0 && !lowest.contains(glyphs.at(i)))
                lowest.insert(glyphs.at(i), all.at(i).unicode());
        for (const char16_t v : std::as_const(used)) {
            const quint32 glyph = glyphs.at(at(v));
            const char16_t named = lowest.value(glyph, v);
            if (glyph != 0 && named != v && !used.contains(named) && !found.contains(named))
                found.insert(named, v);
        }
    }
    return found;
}

QByteArray hex4(uint value) { return QByteArray::number(value, 16).toUpper().rightJustified(4, '0'); }

// The map (a ToUnicode CMap as Qt writes it: bfrange sections) with the look-alikes
// replaced; the map itself when none is in it or it cannot be read.
QByteArray remapped(const QByteArray &cmap, const QHash<char16_t, char16_t> &replace)
{
    static const QRegularExpression section(QStringLiteral("(\\d+) beginbfrange\\n(.*?)endbfrange\\n"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression entry(QStringLiteral(
        "<([0-9A-Fa-f]{4})>\\s*<([0-9A-Fa-f]{4})>\\s*(?:<([0-9A-Fa-f]{4})>|\\[([^\\]]*)\\])"));
    static const QRegularExpression code(QStringLiteral("<([0-9A-Fa-f]{4})>"));
    const QString text = QString::fromLatin1(cmap);
    QVector<QPair<uint, uint>> pairs; // glyph (as the PDF numbers it) -> code point
    qsizetype first = -1;
    qsizetype end = -1;
    for (QRegularExpressionMatchIterator s = section.globalMatch(text); s.hasNext();) {
        const QRegularExpressionMatch m = s.next();
        if (first < 0)
            first = m.capturedStart();
        end = m.capturedEnd();
        for (QRegularExpressionMatchIterator e = entry.globalMatch(m.captured(2)); e.hasNext();) {
            const QRegularExpressionMatch r = e.next();
            const uint from = r.captured(1).toUInt(nullptr, 16);
            const uint to = r.captured(2).toUInt(nullptr, 16);
            if (to < from)
                return cmap;
            if (!r.captured(3).isEmpty()) {
                const uint start = r.captured(3).toUInt(nullptr, 16);
                for (uint g = from; g <= to; ++g)
                    pairs.append({g, start + (g - from)});
            } else {
                uint g = from;
                for (QRegularExpressionMatchIterator c = code.globalMatch(r.captured(4)); c.hasNext(); ++g)
                    pairs.append({g, c.next().captured(1).toUInt(nullptr, 16)});
            }
        }
    }
    bool changed = false;
    for (auto &[glyph, point] : pairs) {
        if (const auto it = replace.constFind(char16_t(point)); point < 0x10000 && it != replace.constEnd()) {
            point = *it;
            changed = true;
        }
    }
    if (!changed)
        return cmap;
    QByteArray chars;
    for (qsizetype i = 0; i < pairs.size(); i += 100) {
        const qsizetype n = qMin<qsizetype>(100, pairs.size() - i);
        chars += QByteArray::number(n) + " beginbfchar\n";
        for (qsizetype k = i; k < i + n; ++k)
            chars += '<' + hex4(pairs.at(k).first) + "> <" + hex4(pairs.at(k).second) + ">\n";
        chars += "endbfchar\n";
    }
    return cmap.left(first) + chars + cmap.mid(end);
}

struct Change {
    qsizetype from = 0; // the bytes [from, to) of the PDF are replaced
    qsizetype to = 0;
    QByteArray with;
};

} // namespace

QByteArray withDrawnCharacters(const QByteArray &pdf, const QString &drawn, const QList<QFont> &fonts)
{
    const QHash<char16_t, char16_t> replace = lookAlikes(drawn, fonts);
    if (replace.isEmpty())
        return pdf;
    // Each map is a stream of its own: "<< /Length N >>\nstream\n", the map, "\nendstream".
    static const QByteArray kMapStart("/CIDInit /ProcSet findresource begin");
    static const QByteArray kStream(" >>\nstream\n");
    static const QByteArray kLength("<< /Length ");
    QVector<Change> changes;
    for (qsizetype at = pdf.indexOf(kMapStart); at >= 0; at = pdf.indexOf(kMapStart, at + 1)) {
        if (pdf.mid(at - kStream.size(), kStream.size()) != kStream)
            return pdf;
        const qsizetype dict = pdf.lastIndexOf(kLength, at);
        bool ok = false;
        const qsizetype length = dict < 0 ? 0 : pdf.mid(dict + kLength.size(), at - kStream.size() - dict - kLength.size()).toLongLong(&ok);
        if (!ok || length <= 0 || at + length > pdf.size() || !pdf.mid(at + length, 12).contains("endstream"))
            return pdf;
        const QByteArray map = pdf.mid(at, length);
        const QByteArray mapped = remapped(map, replace);
        if (mapped != map)
            changes.append({dict, at + length, kLength + QByteArray::number(mapped.size()) + kStream + mapped});
    }
    if (changes.isEmpty())
        return pdf;

    // The cross-reference table and its place move by what the maps grew or shrank before them.
    const auto moved = [&changes](qsizetype offset) {
        qsizetype by = 0;
        for (const Change &c : std::as_const(changes))
            if (c.to <= offset)
                by += c.with.size() - (c.to - c.from);
        return offset + by;
    };
    const qsizetype startxref = pdf.lastIndexOf("startxref\n");
    if (startxref < 0)
        return pdf;
    const qsizetype numberEnd = pdf.indexOf('\n', startxref + 10);
    bool ok = false;
    const qsizetype xref = pdf.mid(startxref + 10, numberEnd - startxref - 10).toLongLong(&ok);
    if (!ok || xref <= changes.last().to || pdf.mid(xref, 5) != "xref\n" || xref > startxref)
        return pdf;
    QByteArray table = pdf.mid(xref, startxref - xref);
    for (qsizetype line = 5; line < table.size();) {
        const qsizetype eol = table.indexOf('\n', line);
        if (eol < 0)
            break;
        const QList<QByteArray> head = table.mid(line, eol - line).trimmed().split(' ');
        if (head.size() != 2)
            break; // "trailer": the entries are done
        const qsizetype count = head.at(1).toLongLong();
        qsizetype entry = eol + 1;
        for (qsizetype i = 0; i < count; ++i, entry += 20) {
            if (entry + 20 > table.size())
                return pdf;
            if (table.at(entry + 17) == 'n') {
                const qsizetype offset = table.mid(entry, 10).toLongLong(&ok);
                if (!ok)
                    return pdf;
                table.replace(entry, 10, QByteArray::number(moved(offset)).rightJustified(10, '0'));
            }
        }
        line = entry;
    }

    QByteArray out;
    out.reserve(pdf.size() + 4096);
    qsizetype from = 0;
    for (const Change &c : std::as_const(changes)) {
        out += QByteArrayView(pdf).sliced(from, c.from - from);
        out += c.with;
        from = c.to;
    }
    out += QByteArrayView(pdf).sliced(from, xref - from);
    out += table;
    out += "startxref\n" + QByteArray::number(moved(xref)) + pdf.mid(numberEnd);
    return out;
}

} // namespace records
