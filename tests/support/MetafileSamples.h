#pragma once
// Metafiles drawn byte by byte, for the tests of whatever shows pictures.
#include <QByteArray>
#include <QVector>
#include <QtEndian>

#include <cmath>

namespace samples {

template <typename T>
void put(QByteArray &b, T v)
{
    char c[sizeof(T)];
    qToLittleEndian(v, c);
    b.append(c, sizeof(T));
}

// One WMF record: its size in 16-bit words, its function, its parameters.
inline QByteArray wmfRecord(quint16 function, const QVector<qint16> &params)
{
    QByteArray r;
    put<quint32>(r, 3 + params.size());
    put<quint16>(r, function);
    for (qint16 p : params)
        put<qint16>(r, p);
    return r;
}

// A STRETCHDIB record: a 4 x 4 bitmap of one colour drawn into the square at x, y.
inline QByteArray wmfBitmap(qint16 x, qint16 y, qint16 side, quint32 colour)
{
    QByteArray dib;
    for (quint32 v : {40u, 4u, 4u})
        put<quint32>(dib, v);
    put<quint16>(dib, 1);  // planes
    put<quint16>(dib, 24); // bits per pixel
    for (quint32 v : {0u, 48u, 0u, 0u, 0u, 0u})
        put<quint32>(dib, v);
    for (int i = 0; i < 16; ++i) {
        dib.append(char(colour & 0xFF));
        dib.append(char((colour >> 8) & 0xFF));
        dib.append(char((colour >> 16) & 0xFF));
    }
    QByteArray r;
    put<quint32>(r, quint32((6 + 4 + 2 + 16 + dib.size()) / 2));
    put<quint16>(r, 0x0F43);
    put<quint32>(r, 0x00CC0020); // SRCCOPY
    put<quint16>(r, 0);          // RGB colours
    for (qint16 v : {qint16(4), qint16(4), qint16(0), qint16(0), side, side, y, x})
        put<qint16>(r, v);
    return r + dib;
}

// A WMF of width x height logical units: a red rectangle inset by 10 and a diagonal
// line, then the extra records given. Placeable ones carry the size and the units per
// inch in a header of their own.
inline QByteArray wmf(int width, int height, int unitsPerInch = 96, bool placeable = true,
                      const QByteArray &extra = QByteArray())
{
    QByteArray records;
    records += wmfRecord(0x020B, {0, 0});                        // SETWINDOWORG y, x
    records += wmfRecord(0x020C, {qint16(height), qint16(width)}); // SETWINDOWEXT y, x
    QByteArray brush;                                             // CREATEBRUSHINDIRECT
    put<quint32>(brush, 7);
    put<quint16>(brush, 0x02FC);
    put<quint16>(brush, 0);          // solid
    put<quint32>(brush, 0x000000FF); // red, as 0x00BBGGRR
    put<quint16>(brush, 0);
    records += brush;
    records += wmfRecord(0x012D, {0}); // SELECTOBJECT
    records += wmfRecord(0x041B, {qint16(height - 10), qint16(width - 10), 10, 10}); // RECTANGLE b, r, t, l
    records += wmfRecord(0x0325, {2, 0, 0, qint16(width), qint16(height)});         // POLYLINE
    records += extra;
    records += wmfRecord(0x0000, {});                                                // EOF

    QByteArray file;
    if (placeable) {
        QByteArray p;
        put<quint32>(p, 0x9AC6CDD7);
        put<quint16>(p, 0);
        put<qint16>(p, 0);
        put<qint16>(p, 0);
        put<qint16>(p, qint16(width));
        put<qint16>(p, qint16(height));
        put<quint16>(p, quint16(unitsPerInch));
        put<quint32>(p, 0);
        quint16 checksum = 0;
        for (int i = 0; i < 20; i += 2)
            checksum ^= qFromLittleEndian<quint16>(p.constData() + i);
        put<quint16>(p, checksum);
        file += p;
    }
    put<quint16>(file, 1);      // in memory
    put<quint16>(file, 9);      // header words
    put<quint16>(file, 0x0300); // version
    put<quint32>(file, quint32((18 + records.size()) / 2));
    put<quint16>(file, 1);      // objects
    put<quint32>(file, quint32(qMax(8, extra.isEmpty() ? 0 : 64))); // largest record, in words
    put<quint16>(file, 0);
    return file + records;
}

// An EMF of width x height pixels: its frame in hundredths of a millimetre at 96 dpi,
// a rectangle inset by 10 and a diagonal polyline.
inline QByteArray emf(int width, int height)
{
    QByteArray records;
    put<quint32>(records, 43); // RECTANGLE
    put<quint32>(records, 24);
    for (int v : {10, 10, width - 10, height - 10})
        put<qint32>(records, v);
    put<quint32>(records, 4); // POLYLINE
    put<quint32>(records, 44);
    for (int v : {0, 0, width, height, 2, 0, 0, width, height})
        put<qint32>(records, v);
    put<quint32>(records, 14); // EOF
    put<quint32>(records, 20);
    put<quint32>(records, 0);
    put<quint32>(records, 16);
    put<quint32>(records, 20);

    QByteArray h;
    put<quint32>(h, 1);  // HEADER
    put<quint32>(h, 88);
    for (int v : {0, 0, width - 1, height - 1}) // bounds, both edges included
        put<qint32>(h, v);
    for (int v : {0, 0, int(std::lround(width * 2540.0 / 96)), int(std::lround(height * 2540.0 / 96))})
        put<qint32>(h, v);
    put<quint32>(h, 0x464D4520);
    put<quint32>(h, 0x10000);
    put<quint32>(h, quint32(88 + records.size()));
    put<quint32>(h, 4);
    put<quint16>(h, 1);
    put<quint16>(h, 0);
    put<quint32>(h, 0);
    put<quint32>(h, 0);
    put<quint32>(h, 0);
    for (int v : {1024, 768, 320, 240})
        put<qint32>(h, v);
    return h + records;
}

} // namespace samples
