#include "Jet3Writer.h"

#include <QFile>
#include <QtTest>

#include <iconv.h>

namespace testing {

namespace {

constexpr int kPage = 2048;
constexpr int kMapBits = (kPage - 4) * 8; // pages one usage-map page covers
constexpr int kTypeLong = 0x04, kTypeInt = 0x03, kTypeText = 0x0a, kTypeOle = 0x0b, kTypeMemo = 0x0c;

void put16(QByteArray &b, int at, quint32 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}
void put32(QByteArray &b, int at, quint32 v)
{
    put16(b, at, v & 0xffff);
    put16(b, at + 2, v >> 16);
}

struct Column {
    QByteArray name;
    int type = kTypeText;
    int size = 255;
    bool fixed = false;
    int fixedOffset = 0; // fixed columns: after the column count
    int varIndex = 0;    // variable columns: their place among them
};

struct Table {
    QByteArray name;
    bool system = false;
    QVector<Column> columns;
    QVector<QByteArray> rows; // laid out
    int tdefPage = 0;
    QVector<int> dataPages;
    int mapRow = 0; // its usage map's row on page 1
};

// RC4 keystream of the key the format masks the header with.
QByteArray headerMask(int length)
{
    const unsigned char key[4] = {0xc7, 0xda, 0x39, 0x6b};
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 4]) & 0xff;
        std::swap(s[i], s[j]);
    }
    QByteArray out(length, '\0');
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        out[n] = char(s[(s[i] + s[j]) & 0xff]);
    }
    return out;
}

// One row: the column count, the fixed columns, the variable ones, then from the end
// backwards the null mask, the number of variable columns, the jump table (one entry per
// 256 bytes of row) and the variable columns' offsets with the end of the data first.
QByteArray layRow(const QVector<Column> &columns, const QVector<JetValue> &values)
{
    int fixedSize = 0;
    for (const Column &c : columns)
        if (c.fixed)
            fixedSize = qMax(fixedSize, c.fixedOffset + c.size);
    QByteArray data(1 + fixedSize, '\0');
    data[0] = char(columns.size());
    QVector<int> offsets;
    const int masks = (int(columns.size()) + 7) / 8;
    QByteArray nullMask(masks, '\0');
    for (int i = 0; i < columns.size(); ++i) {
        const Column &c = columns.at(i);
        const JetValue &v = values.at(i);
        if (v)
            nullMask[i / 8] = char(nullMask.at(i / 8) | (1 << (i % 8)));
        if (c.fixed) {
            if (v)
                data.replace(1 + c.fixedOffset, c.size, v->left(c.size).leftJustified(c.size, '\0'));
            continue;
        }
        offsets << int(data.size());
        if (!v)
            continue;
        if (c.type == kTypeMemo) {
            QByteArray memo(12, '\0');
            put32(memo, 0, quint32(v->size()) | 0x80000000u); // kept in the row
            data += memo + *v;
        } else {
            data += *v;
        }
    }
    const int vars = int(offsets.size());
    const int end = int(data.size());
    offsets << end;
    int jumps = 0;
    for (;;) {
        const int length = end + 1 + vars + jumps + 1 + masks;
        const int needed = (length - 1) / 256;
        if (needed == jumps)
            break;
        jumps = needed;
    }
    // The reader takes as many jumps as the end of the data needs; any more is a filler.
    const int used = qMin(jumps, end / 256);
    QByteArray jumpTable(jumps, char(0xff));
    for (int k = 0; k < used; ++k)
        for (int i = 0; i <= vars; ++i)
            if (offsets.at(i) >= (k + 1) * 256) {
                jumpTable[k] = char(i);
                break;
            }
    QByteArray row = data;
    row += char(end & 0xff);
    for (int i = vars - 1; i >= 0; --i)
        row += char(offsets.at(i) & 0xff);
    for (int k = jumps - 1; k >= 0; --k)
        row += jumpTable.at(k);
    row += char(vars);
    row += nullMask;
    return row;
}

QByteArray emptyDataPage(quint32 owner)
{
    QByteArray p(kPage, '\0');
    p[0] = 0x01;
    p[1] = 0x01;
    put32(p, 4, owner);
    put16(p, 2, kPage - 10);
    return p;
}

// Appends a row to a data page; false when it does not fit.
bool addRow(QByteArray &page, const QByteArray &row)
{
    const int rows = quint8(page.at(8)) | (quint8(page.at(9)) << 8);
    const int top = rows == 0 ? kPage : (quint8(page.at(10 + 2 * (rows - 1))) | (quint8(page.at(11 + 2 * (rows - 1))) << 8));
    const int start = top - int(row.size());
    if (start < 10 + 2 * (rows + 1) || rows >= 255)
        return false;
    page.replace(start, row.size(), row);
    put16(page, 10 + 2 * rows, quint32(start));
    put16(page, 8, quint32(rows + 1));
    put16(page, 2, quint32(start - (10 + 2 * (rows + 1))));
    return true;
}

QByteArray tableDefinition(const Table &t, quint32 mapPgRow)
{
    QByteArray p(kPage, '\0');
    p[0] = 0x02;
    p[1] = 0x01;
    p[2] = 'V';
    p[3] = 'C';
    put32(p, 12, quint32(t.rows.size()));
    p[20] = t.system ? 0x53 : 0x4e;
    int vars = 0;
    for (const Column &c : t.columns)
        vars += c.fixed ? 0 : 1;
    put16(p, 21, quint32(t.columns.size()));
    put16(p, 23, quint32(vars));
    put16(p, 25, quint32(t.columns.size()));
    put32(p, 35, mapPgRow); // the pages it owns
    put32(p, 39, mapPgRow); // and those with room (the reader never asks)
    int at = 43;
    for (int i = 0; i < t.columns.size(); ++i) {
        const Column &c = t.columns.at(i);
        p[at] = char(c.type);
        put16(p, at + 1, quint32(i));
        put16(p, at + 3, quint32(c.fixed ? 0 : c.varIndex));
        put16(p, at + 5, quint32(i));
        put16(p, at + 7, 0x0409);
        p[at + 13] = char(c.fixed ? 0x03 : 0x02);
        put16(p, at + 14, quint32(c.fixed ? c.fixedOffset : 0));
        put16(p, at + 16, quint32(c.type == kTypeMemo || c.type == kTypeOle ? 0 : c.size));
        at += 18;
    }
    for (const Column &c : t.columns) {
        p[at++] = char(c.name.size());
        p.replace(at, c.name.size(), c.name);
        at += int(c.name.size());
    }
    put16(p, at, 0xffff);
    at += 2;
    put32(p, 8, quint32(at));
    return p;
}

} // namespace

QByteArray inCodePage(const QString &text, const char *codePage)
{
    iconv_t cd = iconv_open(codePage, "UTF-8");
    if (cd == iconv_t(-1)) {
        QTest::qFail("no such code page", __FILE__, __LINE__);
        return QByteArray();
    }
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 2 + 8, '\0');
    char *ip = in.data();
    size_t il = size_t(in.size());
    char *op = out.data();
    size_t ol = size_t(out.size());
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1))
        QTest::qFail(qPrintable(QStringLiteral("\"%1\" has no form in %2").arg(text, QString::fromLatin1(codePage))), __FILE__,
                     __LINE__);
    out.truncate(out.size() - qsizetype(ol));
    return out;
}

QVector<JetValue> jetRow(const QStringList &values, const char *codePage)
{
    QVector<JetValue> row;
    for (const QString &v : values)
        row << (v.isNull() ? JetValue() : JetValue(inCodePage(v, codePage)));
    return row;
}

void writeJet3(const QString &path, const QVector<JetTableSpec> &wanted, int codePage, const char *nameCodePage)
{
    QVector<Table> tables;
    Table objects;
    objects.name = "MSysObjects";
    objects.system = true;
    objects.columns = {{"Id", kTypeLong, 4, true, 0, 0},   {"Name", kTypeText, 255, false, 0, 0},
                       {"Type", kTypeInt, 2, true, 4, 0}, {"Flags", kTypeLong, 4, true, 6, 0},
                       {"LvProp", kTypeOle, 0, false, 0, 1}};
    tables << objects;
    for (const JetTableSpec &s : wanted) {
        Table t;
        t.name = inCodePage(s.name, nameCodePage);
        int var = 0;
        for (const JetColumnSpec &c : s.columns)
            t.columns << Column{inCodePage(c.name, nameCodePage), c.memo ? kTypeMemo : kTypeText, c.memo ? 0 : c.size, false, 0, var++};
        for (const QVector<JetValue> &r : s.rows) {
            QVERIFY(r.size() == s.columns.size());
            for (int i = 0; i < r.size(); ++i)
                QVERIFY2(!r.at(i) || s.columns.at(i).memo || r.at(i)->size() <= s.columns.at(i).size, "text longer than its column");
            t.rows << layRow(t.columns, r);
        }
        tables << t;
    }
    // Page 0 the header, 1 the usage maps' rows, 2 MSysObjects' definition, then one
    // definition page per table, the data pages, and the usage-map pages last.
    for (int i = 0; i < tables.size(); ++i) {
        tables[i].tdefPage = 2 + i;
        tables[i].mapRow = i;
    }
    auto id = [](quint32 v) {
        QByteArray b(4, '\0');
        put32(b, 0, v);
        return b;
    };
    auto small = [](quint32 v) {
        QByteArray b(2, '\0');
        put16(b, 0, v);
        return b;
    };
    tables[0].rows << layRow(tables[0].columns, {id(2), QByteArray("MSysObjects"), small(1), id(0x80000002u), JetValue()});
    for (int i = 1; i < tables.size(); ++i)
        tables[0].rows << layRow(tables[0].columns, {id(quint32(tables.at(i).tdefPage)), tables.at(i).name, small(1), id(0), JetValue()});

    QVector<QByteArray> pages(2 + tables.size());
    for (Table &t : tables) {
        QByteArray page = emptyDataPage(quint32(t.tdefPage));
        bool any = false;
        for (const QByteArray &row : std::as_const(t.rows)) {
            QVERIFY2(row.size() < kPage - 20, "row longer than a page");
            if (!addRow(page, row)) {
                t.dataPages << int(pages.size());
                pages << page;
                page = emptyDataPage(quint32(t.tdefPage));
                QVERIFY(addRow(page, row));
            }
            any = true;
        }
        if (any) {
            t.dataPages << int(pages.size());
            pages << page;
        }
    }
    // Usage maps of the indirect kind: the row lists map pages, each a bitmap of pages.
    const int mapPagesPerTable = int(pages.size() / kMapBits) + 1;
    QByteArray mapRows = emptyDataPage(0);
    for (Table &t : tables) {
        QByteArray row(1 + 4 * mapPagesPerTable, '\0');
        row[0] = 0x01;
        for (int m = 0; m < mapPagesPerTable; ++m) {
            QByteArray map(kPage, '\0');
            map[0] = 0x05;
            map[1] = 0x01;
            for (int p : std::as_const(t.dataPages))
                if (p / kMapBits == m)
                    map[4 + (p % kMapBits) / 8] = char(map.at(4 + (p % kMapBits) / 8) | (1 << (p % 8)));
            put32(row, 1 + 4 * m, quint32(pages.size()));
            pages << map;
        }
        QVERIFY(addRow(mapRows, row));
    }
    pages[1] = mapRows;
    for (int i = 0; i < tables.size(); ++i)
        pages[tables.at(i).tdefPage] = tableDefinition(tables.at(i), quint32((1 << 8) | tables.at(i).mapRow));

    QByteArray header(kPage, '\0');
    header[1] = 0x01;
    header.replace(4, 15, "Standard Jet DB");
    QByteArray plain(126, '\0');
    put16(plain, 0x3a - 0x18, codePage == 936 ? 0x0804 : 0x0409);
    put16(plain, 0x3c - 0x18, quint32(codePage));
    const QByteArray mask = headerMask(126);
    for (int i = 0; i < 126; ++i)
        header[0x18 + i] = char(plain.at(i) ^ mask.at(i));
    pages[0] = header;

    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QByteArray &p : std::as_const(pages))
        QCOMPARE(f.write(p), qint64(kPage));
}

} // namespace testing
