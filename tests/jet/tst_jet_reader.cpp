#include "Jet3Writer.h"

#include "jet/JetReader.h"
#include "jet/JetText.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <iconv.h>

using namespace jet;
using testing::JetColumnSpec;
using testing::JetTableSpec;

// The reader against Debian's mdbtools programs: every table and cell of Access's own
// files as mdb-export prints them, after the reader's conversions (strict decoding, NULLs
// told from empty texts, the stored order); and the tests' Jet 3 writer read back by
// mdb-tables, mdb-schema and mdb-export, so that the files the import tests make are
// checked by a reader that is not ours.
class TestJetReader : public QObject {
    Q_OBJECT

    static QString data(const char *name) { return QStringLiteral(CASEARCHIVE_TEST_DATA "/jet/") + QLatin1String(name); }

    static QByteArray run(const QString &program, const QStringList &args, const QString &charset = QString())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!charset.isEmpty())
            env.insert(QStringLiteral("MDB_JET3_CHARSET"), charset);
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            return QByteArray("FAILED");
        return p.readAllStandardOutput();
    }

    // mdb-export's CSV: quoted fields with doubled quotes, NULLs as the bare token.
    static QVector<QStringList> parseCsv(const QByteArray &bytes)
    {
        const QString text = QString::fromUtf8(bytes);
        QVector<QStringList> rows;
        QStringList row;
        QString field;
        bool quoted = false, inQuotes = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (inQuotes) {
                if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else if (c == QLatin1Char('"')) {
                    inQuotes = false;
                } else {
                    field += c;
                }
            } else if (c == QLatin1Char('"')) {
                inQuotes = quoted = true;
            } else if (c == QLatin1Char(',') || c == QLatin1Char('\n')) {
                row << (quoted ? QLatin1Char('=') + field : field);
                field.clear();
                quoted = false;
                if (c == QLatin1Char('\n')) {
                    rows << row;
                    row.clear();
                }
            } else {
                field += c;
            }
        }
        return rows;
    }

    // Every user table of the file, through the reader and through mdb-export, cell by
    // cell: text as "=text", NULL as "NULL" (mdb-export's bare token), OLE columns blank.
    static void compareWithExport(const QString &file, const QString &charset)
    {
        JetReader reader(file);
        const JetListing listing = reader.list();
        const TextDecoder decoder =
            listing.version == 4 ? TextDecoder::utf16() : TextDecoder::codePage(charset.isEmpty() ? TextDecoder::codePageName(listing.codePage) : charset);
        QVERIFY(decoder.valid());
        auto name = [&](const QByteArray &raw) {
            QString s;
            if (listing.version == 4)
                return QString::fromUtf8(raw);
            return decoder.decode(raw, s) ? s : QStringLiteral("?");
        };
        QStringList names;
        for (const JetTable &t : listing.tables)
            if (!t.systemTable())
                names << name(t.name);
        const QStringList listed =
            QString::fromUtf8(run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), file}, charset)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(names, listed);
        for (const JetTable &t : listing.tables) {
            if (t.systemTable())
                continue;
            const QVector<QStringList> expected = parseCsv(run(QStringLiteral("mdb-export"),
                {QStringLiteral("-0"), QStringLiteral("NULL"), QStringLiteral("-b"), QStringLiteral("strip"), file, name(t.name)}, charset));
            QVERIFY2(!expected.isEmpty(), qPrintable(name(t.name)));
            QStringList header;
            for (const JetColumn &c : t.columns)
                header << name(c.name);
            QCOMPARE(expected.first(), header);
            qint64 n = 0;
            reader.readRows(t, name(t.name), [&](const QVector<JetCell> &cells) {
                ++n;
                if (n >= expected.size())
                    return false;
                QStringList mine;
                for (int i = 0; i < cells.size(); ++i) {
                    const JetCell &cell = cells.at(i);
                    QString text;
                    if (t.columns.at(i).type == 0x0b)
                        mine << expected.at(n).at(i); // OLE objects are not read
                    else if (cell.kind == JetCell::Null || (cell.kind == JetCell::Raw && cell.bytes.isEmpty()))
                        mine << QStringLiteral("NULL"); // mdb-export prints an empty text as NULL
                    else if (cell.kind == JetCell::Raw)
                        mine << (decoder.decode(cell.bytes, text) ? QLatin1Char('=') + text : QStringLiteral("UNDECODED"));
                    else
                        mine << (expected.at(n).at(i).startsWith(QLatin1Char('=')) ? QStringLiteral("=") : QString())
                                    + QString::fromUtf8(cell.bytes);
                }
                if (mine != expected.at(n))
                    qWarning() << mine << expected.at(n);
                return mine == expected.at(n);
            });
            QCOMPARE(n, qint64(expected.size() - 1));
            QCOMPARE(t.statedRows, n); // what the import holds a file cut short against
        }
    }

private slots:
    void accessFilesReadAsMdbExportPrintsThem_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("Jet 3, code page 1252") << data("nwind.mdb");
        QTest::newRow("Jet 4") << data("DateTestDatabase.mdb");
    }
    void accessFilesReadAsMdbExportPrintsThem()
    {
        QFETCH(QString, file);
        compareWithExport(file, QString());
    }

    // Chinese names and texts in code page 936, NULLs beside empty texts, CR LF in a memo,
    // and rows long enough for the jump table: mdbtools' own programs read the writer's
    // file as the writer meant it, and so does the reader.
    void writtenJet3ReadBackByMdbtools()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("file.dat"));
        JetTableSpec t;
        t.name = QStringLiteral("病案表");
        t.columns = {{QStringLiteral("编号"), false, 50}, {QStringLiteral("名称"), false, 255},
                     {QStringLiteral("路径名"), false, 255}, {QStringLiteral("说明"), true, 0}};
        const QString longer = QString(120, QChar(0x75c5)); // 240 bytes in GBK
        t.rows << testing::jetRow({QStringLiteral("1"), QStringLiteral("张三"), QStringLiteral("D:\\病案\\a.jpg"),
                                   QStringLiteral("第一行\r\n第二行")})
               << testing::jetRow({QStringLiteral("2"), QString(), QStringLiteral(""), QString()})
               << testing::jetRow({QStringLiteral("3"), longer, longer, longer + longer});
        for (int i = 4; i < 400; ++i)
            t.rows << testing::jetRow({QString::number(i), QStringLiteral("李四%1").arg(i), QString(), QStringLiteral("备注")});
        testing::writeJet3(file, {t});

        QCOMPARE(run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), file}, QStringLiteral("CP936")), QByteArray("病案表\n"));
        const QString schema = QString::fromUtf8(run(QStringLiteral("mdb-schema"), {file}, QStringLiteral("CP936")));
        QVERIFY2(schema.contains(QStringLiteral("CREATE TABLE [病案表]")), qPrintable(schema));
        QVERIFY2(schema.contains(QStringLiteral("[路径名]\t\t\tText (255)")), qPrintable(schema));
        QVERIFY2(schema.contains(QStringLiteral("[说明]\t\t\tMemo/Hyperlink")), qPrintable(schema));
        const QVector<QStringList> rows = parseCsv(run(QStringLiteral("mdb-export"),
            {QStringLiteral("-0"), QStringLiteral("NULL"), file, QStringLiteral("病案表")}, QStringLiteral("CP936")));
        QCOMPARE(rows.size(), 400);
        QCOMPARE(rows.at(1), QStringList({QStringLiteral("=1"), QStringLiteral("=张三"), QStringLiteral("=D:\\病案\\a.jpg"),
                                          QStringLiteral("=第一行\r\n第二行")}));
        QCOMPARE(rows.at(3), QStringList({QStringLiteral("=3"), QLatin1Char('=') + longer, QLatin1Char('=') + longer,
                                          QLatin1Char('=') + longer + longer}));
        QCOMPARE(rows.at(399).at(1), QStringLiteral("=李四399"));
        compareWithExport(file, QStringLiteral("CP936"));

        // mdb-export prints an empty text as it prints NULL; the reader tells them apart.
        JetReader reader(file);
        const JetTable table = reader.list().tables.last();
        QVector<JetCell> second;
        reader.readRows(table, QStringLiteral("病案表"), [&](const QVector<JetCell> &cells) { second = cells; return true; }, 2);
        QCOMPARE(second.at(1).kind, JetCell::Null);
        QCOMPARE(second.at(2).kind, JetCell::Raw);
        QCOMPARE(second.at(2).bytes, QByteArray());
        QCOMPARE(second.at(3).kind, JetCell::Null);
    }

    void decodingIsStrict()
    {
        const TextDecoder gbk = TextDecoder::codePage(QStringLiteral("cp936"));
        QString text;
        QVERIFY(gbk.decode(testing::inCodePage(QStringLiteral("病案 A")), text));
        QCOMPARE(text, QStringLiteral("病案 A"));
        QVERIFY(!gbk.decode(QByteArray("\xb2", 1), text));       // a lead byte without its trail
        QVERIFY(!gbk.decode(QByteArray("a\xff" "b", 3), text));  // no GBK byte
        QVERIFY(!TextDecoder::codePage(QStringLiteral("NO-SUCH-PAGE")).valid());
        QCOMPARE(TextDecoder::codePageName(936), QStringLiteral("CP936"));
        QCOMPARE(TextDecoder::codePageName(0), QString());
        // A leading U+FEFF is part of the text; letters are not taken for ASCII where the
        // code page has others there (EBCDIC).
        QByteArray kept;
        QVERIFY(TextDecoder::codePage(QStringLiteral("UTF-8")).decode(QByteArray("\xef\xbb\xbfX"), &text, &kept));
        QCOMPARE(text, QStringLiteral("\ufeffX"));
        QCOMPARE(kept, QByteArray("\xef\xbb\xbfX"));
        QVERIFY(TextDecoder::codePage(QStringLiteral("IBM037")).decode(QByteArray("AB"), text));
        QCOMPARE(text, QStringLiteral("\u00a0\u00e2"));

        const TextDecoder utf16 = TextDecoder::utf16();
        QVERIFY(utf16.decode(QByteArray("\xff\xfe" "ab\0\x45\x75\0c", 9), text)); // compressed, switching to UTF-16 and back
        QCOMPARE(text, QStringLiteral("ab\u7545c"));
        QVERIFY(utf16.decode(QByteArray("\x40\xd8\x00\xdc", 4), text)); // a surrogate pair
        QCOMPARE(text, QString::fromUcs4(U"\U00020000"));
        QVERIFY(!utf16.decode(QByteArray("\x00\xdc", 2), text)); // a low surrogate alone
        QVERIFY(!utf16.decode(QByteArray("a", 1), text));        // half a unit
    }

    // The decoder keeps each character of a code page as converted once; every byte and
    // every pair of bytes, alone and between others, must come out as iconv converts the
    // whole text, or be refused where iconv refuses it.
    void charactersDecodeAsWholeTextsDo_data()
    {
        QTest::addColumn<QString>("page");
        for (const char *page : {"CP936", "CP932", "CP1252"})
            QTest::newRow(page) << QString::fromLatin1(page);
    }
    void charactersDecodeAsWholeTextsDo()
    {
        QFETCH(QString, page);
        const TextDecoder decoder = TextDecoder::codePage(page);
        const iconv_t cd = iconv_open("UTF-8", page.toLatin1().constData());
        QVERIFY(decoder.valid() && cd != iconv_t(-1));
        auto iconvText = [cd](QByteArray in, QByteArray &out) {
            out = QByteArray(4 * in.size() + 16, Qt::Uninitialized);
            char *i = in.data(), *o = out.data();
            size_t inLeft = size_t(in.size()), outLeft = size_t(out.size());
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool ok = iconv(cd, &i, &inLeft, &o, &outLeft) != size_t(-1) && inLeft == 0;
            out.truncate(out.size() - qsizetype(outLeft));
            return ok;
        };
        int differ = 0;
        QString first;
        for (int lead = 0; lead < 256; ++lead) {
            for (int trail = -1; trail < 256; ++trail) {
                QByteArray bytes(1, char(lead));
                if (trail >= 0)
                    bytes += char(trail);
                for (const QByteArray &text : {bytes, "x" + bytes + "y"}) {
                    QString mine;
                    QByteArray mineUtf8, alone, theirs;
                    const bool ok = decoder.decode(text, &mine, &mineUtf8);
                    if (ok == iconvText(text, theirs) && ok == decoder.decode(text, nullptr, &alone)
                        && (!ok || (mineUtf8 == theirs && alone == theirs && mine.toUtf8() == theirs)))
                        continue;
                    if (differ++ == 0)
                        first = QString::fromLatin1(text.toHex(' '));
                }
            }
        }
        iconv_close(cd);
        QVERIFY2(differ == 0, qPrintable(QStringLiteral("%1 texts decode otherwise than iconv, the first: %2").arg(differ).arg(first)));
    }

    // A helper that crashes, hangs or says nonsense ends the read with words naming the table.
    void brokenHelperNamesTheTable_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("words");
        QTest::newRow("crash") << QStringLiteral("printf 'CAJET1\\n'; kill -SEGV $$") << QStringLiteral("读取表 Detail 时，读取程序异常结束");
        QTest::newRow("hang") << QStringLiteral("printf 'CAJET1\\n'; exec sleep 30") << QStringLiteral("读取表 Detail 时，读取程序超过 1 秒没有进展");
        QTest::newRow("nonsense") << QStringLiteral("printf 'HELLO!!\\n'") << QStringLiteral("读取表 Detail 时，读取程序给出了无法理解的数据");
        QTest::newRow("cut short") << QStringLiteral("printf 'CAJET1\\nB\\4\\0\\0\\0\\0\\0\\0\\0'") << QStringLiteral("读取表 Detail 时，读取程序没有读完");
    }
    void brokenHelperNamesTheTable()
    {
        QFETCH(QString, script);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const QString helper = dir.filePath(QStringLiteral("helper.sh"));
        QFile f(helper);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\n" + script + "\n").toUtf8());
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        JetReader::setHelperForTests(helper);
        JetLimits limits;
        limits.stallMs = 1000;
        JetReader reader(data("nwind.mdb"), limits);
        JetTable table;
        table.index = 0;
        try {
            reader.readRows(table, QStringLiteral("Detail"), [](const QVector<JetCell> &) { return true; });
            QFAIL("no error");
        } catch (const JetError &e) {
            QVERIFY2(e.message.startsWith(words), qPrintable(e.message));
        }
        JetReader::setHelperForTests(QString());
    }
};

QTEST_GUILESS_MAIN(TestJetReader)
#include "tst_jet_reader.moc"
