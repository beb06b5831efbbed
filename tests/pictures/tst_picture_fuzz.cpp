// The fuzz harness of the picture loader: pictures of every format a record may hold,
// drawn here, mutated deterministically (bit flips, truncations, absurd sizes, repeated
// records, compression bombs) and each loaded the way the viewer and the chooser load
// it. Every case must end in a picture or a message within its limits, with the
// program's memory under the budget, and nothing created or changed beside the pictures
// or left in the temporary folder. Not a timing test: the limits are lowered so that
// the run stays short, and a case only has to end.
#include "HostileSamples.h"
#include "TempArchive.h"

#include "pictures/Metafile.h"
#include "pictures/PictureFetch.h"
#include "pictures/PictureLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <random>

namespace {

struct Original {
    const char *name;
    QString ext;
    QByteArray bytes;
};

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

QByteArray drawingSvg()
{
    return samples::svg(120, 80,
        "<defs><linearGradient id=\"g\"><stop offset=\"0\" stop-color=\"red\"/><stop offset=\"1\" stop-color=\"blue\"/>"
        "</linearGradient></defs><rect x=\"5\" y=\"5\" width=\"110\" height=\"70\" fill=\"url(#g)\"/>"
        "<path d=\"M10 10 C 40 70, 80 0, 110 70\" stroke=\"black\" fill=\"none\"/>"
        "<text x=\"10\" y=\"40\" font-size=\"12\">病案 12</text>"
        "<image x=\"60\" y=\"10\" width=\"16\" height=\"16\" xlink:href=\"data:image/png;base64,"
        + samples::encoded(samples::pattern(16, 16), "png").toBase64() + "\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"/>");
}

QList<Original> originals()
{
    return {
        {"png", QStringLiteral("png"), samples::encoded(samples::pattern(64, 48), "png")},
        {"jpeg", QStringLiteral("jpg"), samples::encoded(samples::pattern(64, 48), "jpeg")},
        {"progressive jpeg", QStringLiteral("jpg"), samples::encoded(samples::pattern(64, 48), "jpeg", true)},
        {"bmp", QStringLiteral("bmp"), samples::encoded(samples::pattern(40, 30), "bmp")},
        {"gif", QStringLiteral("gif"), samples::gif(40, 30)},
        {"svg", QStringLiteral("svg"), drawingSvg()},
        {"svgz", QStringLiteral("svgz"), samples::gzip(drawingSvg(), 0, QByteArray())},
        {"wmf", QStringLiteral("wmf"), samples::wmfWithBitmaps(3)},
        {"emf", QStringLiteral("emf"), samples::emf(200, 100)},
    };
}

// A deterministic stream of numbers: the same cases on every run and every machine.
class Dice {
public:
    explicit Dice(quint32 start) : m_rng(start) {}
    quint32 operator()(quint32 n) { return n ? quint32(m_rng() % n) : 0; }

private:
    std::mt19937 m_rng;
};

const quint32 kAbsurd[] = {0u, 1u, 0x7FFFu, 0xFFFFu, 65500u, 30000u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u};

void put16le(QByteArray &b, int at, quint32 v)
{
    if (at + 2 <= b.size())
        qToLittleEndian<quint16>(quint16(v), b.data() + at);
}
void put32le(QByteArray &b, int at, quint32 v)
{
    if (at + 4 <= b.size())
        qToLittleEndian<quint32>(v, b.data() + at);
}
void put16be(QByteArray &b, int at, quint32 v)
{
    if (at + 2 <= b.size())
        qToBigEndian<quint16>(quint16(v), b.data() + at);
}

// The sizes a format declares, set to something absurd.
QByteArray absurdSize(const Original &original, Dice &dice)
{
    QByteArray b = original.bytes;
    const quint32 w = kAbsurd[dice(std::size(kAbsurd))];
    const quint32 h = kAbsurd[dice(std::size(kAbsurd))];
    const QByteArray name(original.name);
    if (name == "png") {
        qToBigEndian<quint32>(w, b.data() + 16);
        qToBigEndian<quint32>(h, b.data() + 20);
        if (dice(2)) // a valid checksum, so that the reader believes the header
            qToBigEndian<quint32>(crc32(b.mid(12, 17)), b.data() + 29);
    } else if (name.contains("jpeg")) {
        for (int i = 2; i + 8 < b.size(); ++i)
            if (quint8(b[i]) == 0xFF && (quint8(b[i + 1]) == 0xC0 || quint8(b[i + 1]) == 0xC2)) {
                put16be(b, i + 5, h);
                put16be(b, i + 7, w);
                break;
            }
    } else if (name == "bmp") {
        put32le(b, 18, w);
        put32le(b, 22, h);
    } else if (name == "gif") {
        put16le(b, 6, w);
        put16le(b, 8, h);
        put16le(b, 13 + 384 + 5, w); // the image's own size
        put16le(b, 13 + 384 + 7, h);
    } else if (name == "svg" || name == "svgz") {
        static const char *const numbers[] = {"1e9", "2147483647", "-5", "0", "1e38", "99999999999999999999", "nan"};
        QByteArray svg = drawingSvg();
        svg.replace("width=\"120\" height=\"80\"", QByteArray("width=\"") + numbers[dice(7)] + "\" height=\"" + numbers[dice(7)] + "\"");
        b = name == "svg" ? svg : samples::gzip(svg, 0, QByteArray());
    } else if (name == "wmf") {
        put16le(b, 6 + 2 * dice(4), w); // the bounding box
        if (dice(2))
            put16le(b, 14, h); // units per inch
    } else if (name == "emf") {
        put32le(b, 8 + 4 * dice(8), w); // bounds or frame
        put32le(b, 8 + 4 * dice(8), h);
    }
    return b;
}

// A run of the file's bytes repeated where it stands: records, chunks, elements.
QByteArray repeated(const Original &original, Dice &dice)
{
    const QByteArray &b = original.bytes;
    const int headerEnd = qMin(b.size() - 1, 16);
    const int start = headerEnd + int(dice(quint32(qMax(1, b.size() - headerEnd - 1))));
    const int length = 4 + int(dice(60));
    const QByteArray run = b.mid(start, length);
    const int times = 1000 + int(dice(40000));
    QByteArray out = b.left(start);
    out.reserve(b.size() + run.size() * times);
    for (int i = 0; i < times && out.size() < (4 << 20); ++i)
        out += run;
    return out + b.mid(start);
}

// Small files that expand to a great deal.
QByteArray bomb(const Original &original, Dice &dice)
{
    const QByteArray name(original.name);
    if (name == "svg" || name == "svgz") {
        if (name == "svg" || dice(2) == 0) {
            // Entities that expand a thousandfold at every level.
            QByteArray doc = "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY a0 \"lol lol lol lol\">";
            for (int i = 1; i < 8; ++i) {
                doc += "<!ENTITY a" + QByteArray::number(i) + " \"";
                for (int k = 0; k < 10; ++k)
                    doc += "&a" + QByteArray::number(i - 1) + ";";
                doc += "\">";
            }
            doc += "]>" + samples::svg(50, 50, "<text x=\"1\" y=\"20\">&a7;</text>");
            return name == "svg" ? doc : samples::gzip(doc, 0, QByteArray());
        }
        return samples::gzip("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><desc>",
                             (65ll + dice(200)) << 20, "</desc></svg>");
    }
    if (name == "png") {
        // A valid PNG of zeros, its pixels compressed a thousandfold.
        const int side = 2000 + int(dice(4000));
        QImage image(side, side / 2, QImage::Format_Grayscale8);
        image.fill(0);
        return samples::encoded(image, "png");
    }
    if (name.contains("jpeg"))
        return samples::lyingJpeg(20000 + int(dice(45000)), 20000 + int(dice(45000)), name.startsWith("progressive"));
    if (name == "emf")
        return samples::emfRepeated(50000 + int(dice(250000)));
    if (name == "wmf")
        return samples::wmfWithBitmaps(200 + int(dice(800)));
    return repeated(original, dice);
}

QByteArray mutate(const Original &original, int kind, Dice &dice)
{
    QByteArray b = original.bytes;
    switch (kind) {
    case 0: // bit flips
        for (quint32 k = 1 + dice(8); k > 0; --k) {
            const int at = int(dice(quint32(b.size())));
            b[at] = char(quint8(b[at]) ^ (1u << dice(8)));
        }
        return b;
    case 1: // truncated
        return b.left(1 + int(dice(quint32(b.size() - 1))));
    case 2:
        return absurdSize(original, dice);
    case 3:
        return repeated(original, dice);
    case 4:
        return bomb(original, dice);
    default: // bit flips past a cut
        b = b.left(1 + int(dice(quint32(b.size() - 1))));
        for (quint32 k = 1 + dice(16); k > 0; --k) {
            const int at = int(dice(quint32(b.size())));
            b[at] = char(quint8(b[at]) ^ (1u << dice(8)));
        }
        return b;
    }
}

constexpr int kCasesPerOriginal = 30; // and the original itself
const char *const kKinds[] = {"bit flips", "truncated", "absurd size", "repeated", "bomb", "cut and flipped"};

} // namespace

class TestPictureFuzz : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Each case is handed over when it has ended, as the windows' tests look at it.
        pictures::setPatienceForTests(-1);
        // Less time than an operator's pictures get: a case only has to end.
        pictures::MetafileLimits limits;
        limits.cpuSeconds = 2;
        limits.timeoutMs = 4000;
        pictures::setMetafileLimits(limits);
    }

    void everyCaseEndsInAPictureOrAMessage()
    {
        QTemporaryDir records, scratch;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });
        // A scan beside every picture, of the stem that converters name what they extract after.
        const QList<Original> all = originals();

        pictures::PictureFetch fetch;
        pictures::LoadedPicture got;
        QString gotPath;
        int delivered = 0;
        connect(&fetch, &pictures::PictureFetch::loaded, this, [&](const QString &path, const pictures::LoadedPicture &p) {
            gotPath = path;
            got = p;
            ++delivered;
        });

        int cases = 0, pictures = 0, messages = 0;
        qint64 worstGrowth = 0;
        for (int s = 0; s < all.size(); ++s) {
            const Original &original = all.at(s);
            Dice dice(20261207u + quint32(s));
            for (int c = 0; c <= kCasesPerOriginal; ++c) {
                const int kind = (c - 1) % int(std::size(kKinds));
                const QByteArray bytes = c == 0 ? original.bytes : mutate(original, kind, dice);
                const QString stem = QStringLiteral("case-%1-%2").arg(s).arg(c);
                const QString path = QDir(records.path()).filePath(stem + QLatin1Char('.') + original.ext);
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
                f.close();
                testing::makePicture(records.path(), stem + QStringLiteral("-1.png"), 8, 8);
                const QStringList before = samples::listing(records.path());

                // The viewer at its own size, the chooser into its frame, in turn.
                const pictures::PictureRequest request = c % 2 ? pictures::PictureRequest::within(QSize(195, 243), false)
                                                               : pictures::PictureRequest::ownSize();
                const int deliveredBefore = delivered;
                const samples::PeakMemory peak;
                QElapsedTimer clock;
                clock.start();
                fetch.start(path, request);
                const qint64 took = clock.elapsed();
                const qint64 grown = peak.growthBytes();
                worstGrowth = qMax(worstGrowth, grown);

                const QString what = QStringLiteral("%1 #%2 (%3, %4 bytes)")
                                         .arg(QLatin1String(original.name))
                                         .arg(c)
                                         .arg(QLatin1String(c == 0 ? "original" : kKinds[kind]))
                                         .arg(bytes.size());
                QVERIFY2(delivered == deliveredBefore + 1 && gotPath == path, qPrintable(what));
                QVERIFY2(got.ok || !got.error.isEmpty(), qPrintable(what));
                if (got.ok) {
                    ++pictures;
                    QVERIFY2(!got.image.isNull(), qPrintable(what));
                    QVERIFY2(qint64(got.image.width()) * got.image.height() <= pictures::kMaxPhotoPixels, qPrintable(what));
                    if (!request.atOwnSize())
                        QVERIFY2(got.image.width() <= 195 && got.image.height() <= 243, qPrintable(what));
                } else {
                    ++messages;
                }
                if (c == 0)
                    QVERIFY2(got.ok, qPrintable(what + QLatin1String(": ") + got.error));
                // Ends within its limits: the converter's and the helper's clocks, with room
                // for a loaded machine; a hang would take far longer.
                QVERIFY2(took < 30000, qPrintable(what + QStringLiteral(" took %1 ms").arg(took)));
                QVERIFY2(grown < pictures::kPictureBudgetBytes,
                         qPrintable(what + QStringLiteral(" took %1 MB").arg(grown >> 20)));
                QVERIFY2(samples::listing(records.path()) == before, qPrintable(what + QLatin1String(": the folder changed")));
                QVERIFY2(samples::listing(scratch.path()).isEmpty(), qPrintable(what + QLatin1String(": left files behind")));
                QVERIFY(QApplication::overrideCursor() == nullptr);
                ++cases;
                QFile::remove(path);
                QFile::remove(QDir(records.path()).filePath(stem + QStringLiteral("-1.png")));
            }
        }
        qInfo("%d cases: %d pictures, %d messages; the most memory one took: %.1f MB", cases, pictures, messages,
              worstGrowth / 1048576.0);
        QCOMPARE(cases, all.size() * (kCasesPerOriginal + 1));
    }
};

QTEST_MAIN(TestPictureFuzz)
#include "tst_picture_fuzz.moc"
