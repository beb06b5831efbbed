// The picture loader on its own: metafiles drawn byte by byte, broken and hostile ones,
// pictures that declare enormous sizes, and files that are no pictures at all.
#include "HostileSamples.h"
#include "TempArchive.h"

#include "pictures/Metafile.h"
#include "pictures/PictureLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QImageReader>
#include <QScopeGuard>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtEndian>

#include <cmath>

using samples::emf;
using samples::put;
using samples::wmf;

namespace {

// A PNG that declares a size in its header and then ends: no pixel is ever there.
QByteArray pngDeclaring(quint32 width, quint32 height)
{
    auto chunk = [](const QByteArray &type, const QByteArray &data) {
        QByteArray c;
        put<quint32>(c, 0); // placeholder, big endian below
        qToBigEndian<quint32>(data.size(), c.data());
        c += type + data;
        const QByteArray crcInput = type + data;
        quint32 crc = 0xFFFFFFFFu;
        for (char ch : crcInput) {
            crc ^= quint8(ch);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        crc ^= 0xFFFFFFFFu;
        char be[4];
        qToBigEndian(crc, be);
        c.append(be, 4);
        return c;
    };
    QByteArray ihdr(13, '\0');
    qToBigEndian(width, ihdr.data());
    qToBigEndian(height, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 6; // RGBA
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", QByteArray::fromHex("789c0300000001")) +
        chunk("IEND", {});
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    return path;
}

// A converter stand-in: a shell script given the converter's arguments.
QString script(const QString &folder, const QString &name, const QByteArray &body)
{
    const QString path = writeFile(QDir(folder).filePath(name), "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool isRed(QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; }

} // namespace

class TestPictureLoader : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString file(const QString &name, const QByteArray &bytes) { return writeFile(m_dir.filePath(name), bytes); }

    static bool haveConverters()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("wmf2svg")).isEmpty()
            && !QStandardPaths::findExecutable(QStringLiteral("emf2svg-conv")).isEmpty();
    }

private slots:
    void cleanup()
    {
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, QString());
        pictures::setConverterForTests(pictures::MetafileKind::Emf, QString());
        pictures::setMetafileLimits(pictures::MetafileLimits());
        pictures::setPixelLimitsForTests(0, 0);
    }

    void metafilesAreToldByTheirBytes()
    {
        using pictures::MetafileKind;
        QCOMPARE(pictures::metafileKind(wmf(200, 100)), MetafileKind::Wmf);
        QCOMPARE(pictures::metafileKind(wmf(200, 100, 96, false)), MetafileKind::Wmf);
        QCOMPARE(pictures::metafileKind(emf(200, 100)), MetafileKind::Emf);
        QCOMPARE(pictures::metafileKind(QByteArray("GIF89a........")), MetafileKind::None);
        // The placeable key alone, without the header behind it, is no metafile.
        QCOMPARE(pictures::metafileKind(wmf(200, 100).left(22) + QByteArray(18, '\0')), MetafileKind::None);
        // An EMF header whose signature is wrong.
        QByteArray badEmf = emf(200, 100);
        badEmf[40] = 'X';
        QCOMPARE(pictures::metafileKind(badEmf), MetafileKind::None);

        QCOMPARE(pictures::metafileSize(MetafileKind::Wmf, wmf(200, 100)), QSize(200, 100));
        // 1440 units per inch (twips): 2880 units are two inches, 192 pixels.
        QCOMPARE(pictures::metafileSize(MetafileKind::Wmf, wmf(2880, 1440, 1440)), QSize(192, 96));
        QVERIFY(!pictures::metafileSize(MetafileKind::Wmf, wmf(200, 100, 0)).isValid());
        QVERIFY(!pictures::metafileSize(MetafileKind::Wmf, wmf(200, 100, 96, false)).isValid());
        QCOMPARE(pictures::metafileSize(MetafileKind::Emf, emf(200, 100)), QSize(200, 100));
        QCOMPARE(pictures::metafileSize(MetafileKind::Emf, emf(3000, 17)), QSize(3000, 17));
    }

    void metafilesRenderAtTheirOwnSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::newRow("placeable WMF") << "drawing.wmf" << wmf(200, 100) << QSize(200, 100);
        QTest::newRow("WMF in twips") << "twips.wmf" << wmf(2880, 1440, 1440) << QSize(192, 96);
        QTest::newRow("EMF") << "drawing.emf" << emf(240, 130) << QSize(240, 130);
        // Named as something else: the bytes decide.
        QTest::newRow("EMF named .jpg") << "drawing-emf.jpg" << emf(64, 48) << QSize(64, 48);
    }

    void metafilesRenderAtTheirOwnSize()
    {
        if (!haveConverters())
            QSKIP("the metafile converters (libwmf-bin, emf2svg) are not installed");
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        const pictures::LoadedPicture p = pictures::loadPicture(file(name, bytes));
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.image.size(), size);
        QCOMPARE(p.ownSize, size);
        QVERIFY(!p.reduced());
        // Drawn on white paper (the rectangle leaves a margin of 10 units, less than a
        // pixel in twips), with something drawn on it.
        const QPoint paper(size.width() - 2, 2);
        if (!QByteArray(QTest::currentDataTag()).endsWith("in twips"))
            QCOMPARE(p.image.pixel(paper), qRgb(255, 255, 255));
        bool drawn = false;
        for (int x = 0; x < size.width() && !drawn; ++x)
            drawn = p.image.pixel(x, size.height() / 2) != qRgb(255, 255, 255);
        QVERIFY(drawn);
    }

    void wmfRectangleIsFilledWithItsBrush()
    {
        if (!haveConverters())
            QSKIP("the metafile converters are not installed");
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("red.wmf"), wmf(200, 100)));
        QVERIFY2(p.ok, qPrintable(p.error));
        QVERIFY(isRed(p.image.pixel(150, 30))); // inside the rectangle, off the diagonal
        QCOMPARE(p.image.pixel(196, 50), qRgb(255, 255, 255)); // outside it
    }

    void wmfWithoutPlaceableHeaderTakesTheDrawingsExtent()
    {
        if (!haveConverters())
            QSKIP("the metafile converters are not installed");
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("plain.wmf"), wmf(200, 100, 96, false)));
        QVERIFY2(p.ok, qPrintable(p.error));
        QVERIFY(qAbs(p.image.width() - 200) <= 2);
        QVERIFY(qAbs(p.image.height() - 100) <= 2);
    }

    void brokenMetafilesFailWithAReason_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("WMF truncated in its records") << wmf(200, 100).left(60);
        QTest::newRow("WMF header only") << wmf(200, 100).left(40);
        QTest::newRow("EMF truncated") << emf(200, 100).left(100);
        QByteArray wild = wmf(200, 100);
        wild[40] = char(0xFF); // the first record claims far more words than the file has
        wild[41] = char(0xFF);
        wild[42] = char(0xFF);
        QTest::newRow("WMF with a wild record size") << wild;
        QByteArray emfWild = emf(200, 100);
        emfWild[92] = char(0xFF); // the rectangle record claims 4 GB
        emfWild[93] = char(0xFF);
        emfWild[94] = char(0xFF);
        emfWild[95] = char(0x7F);
        QTest::newRow("EMF with a wild record size") << emfWild;
        QByteArray zeroWmf = wmf(200, 100);
        zeroWmf[14] = 0; // no units per inch, and the records are garbage
        zeroWmf[15] = 0;
        zeroWmf.replace(40, 40, QByteArray(40, char(0xAB)));
        QTest::newRow("WMF with garbage records") << zeroWmf;
    }

    void brokenMetafilesFailWithAReason()
    {
        if (!haveConverters())
            QSKIP("the metafile converters are not installed");
        QFETCH(QByteArray, bytes);
        const QString path = file(QStringLiteral("broken-%1.wmf").arg(QTest::currentDataTag()).replace(' ', '_'), bytes);
        const pictures::LoadedPicture p = pictures::loadPicture(path);
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("已损坏")), qPrintable(p.error));
        QVERIFY(p.image.isNull());
    }

    void oversizedMetafileIsDrawnReduced()
    {
        if (!haveConverters())
            QSKIP("the metafile converters are not installed");
        // 30,000 x 15,000 units at 96 per inch: 450 million pixels declared.
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("vast.wmf"), wmf(30000, 15000)));
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.ownSize, QSize(30000, 15000));
        QVERIFY(p.reduced());
        QVERIFY(qint64(p.image.width()) * p.image.height() <= pictures::kMaxDrawingPixels);
        QVERIFY(qAbs(double(p.image.width()) / p.image.height() - 2.0) < 0.01);

        pictures::setPixelLimitsForTests(0, 5000);
        const pictures::LoadedPicture e = pictures::loadPicture(file(QStringLiteral("vast.emf"), emf(400, 100)));
        QVERIFY2(e.ok, qPrintable(e.error));
        QCOMPARE(e.ownSize, QSize(400, 100));
        QCOMPARE(e.image.size(), QSize(141, 35)); // sqrt(5000 / 40000) of each side
    }

    void aConverterThatCrashesHangsOrFloodsEndsInAFailure()
    {
        const QString wmfPath = file(QStringLiteral("for-stand-in.wmf"), wmf(200, 100));
        const QString emfPath = file(QStringLiteral("for-stand-in.emf"), emf(200, 100));
        using pictures::MetafileKind;

        pictures::setConverterForTests(MetafileKind::Wmf, script(m_dir.path(), "crash.sh", "kill -SEGV $$"));
        pictures::LoadedPicture p = pictures::loadPicture(wmfPath);
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("异常终止")), qPrintable(p.error));

        // Writes far more than it may: the output limit stops it.
        pictures::MetafileLimits limits;
        limits.outputBytes = 1 << 20;
        pictures::setMetafileLimits(limits);
        pictures::setConverterForTests(MetafileKind::Emf, script(m_dir.path(), "flood.sh",
            "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
            "head -c 50000000 /dev/zero > \"$out\"\nexit 0"));
        p = pictures::loadPicture(emfPath);
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("超过 1.0 MB")), qPrintable(p.error));

        // Never ends: stopped at the time limit.
        limits = pictures::MetafileLimits();
        limits.timeoutMs = 300;
        pictures::setMetafileLimits(limits);
        pictures::setConverterForTests(MetafileKind::Wmf, script(m_dir.path(), "hang.sh", "exec sleep 600"));
        p = pictures::loadPicture(wmfPath);
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("已停止")), qPrintable(p.error));

        // Ends well but leaves no SVG, or one that is not a drawing.
        pictures::setMetafileLimits(pictures::MetafileLimits());
        pictures::setConverterForTests(MetafileKind::Wmf, script(m_dir.path(), "silent.sh", "exit 0"));
        QVERIFY(!pictures::loadPicture(wmfPath).ok);
        pictures::setConverterForTests(MetafileKind::Wmf, script(m_dir.path(), "junk.sh",
            "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\necho 'not svg' > \"$out\""));
        p = pictures::loadPicture(wmfPath);
        QVERIFY(!p.ok);
        QVERIFY(!p.error.isEmpty());

        // Fails by its exit code.
        pictures::setConverterForTests(MetafileKind::Emf, script(m_dir.path(), "refuse.sh", "exit 1"));
        p = pictures::loadPicture(emfPath);
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("已损坏")), qPrintable(p.error));

        // Tries to take more memory than allowed: the address-space limit ends it.
        limits = pictures::MetafileLimits();
        limits.memoryBytes = 64 << 20;
        pictures::setMetafileLimits(limits);
        pictures::setConverterForTests(MetafileKind::Wmf, script(m_dir.path(), "greedy.sh",
            "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
            "x=$(head -c 200000000 /dev/zero | tr '\\0' a) || exit 3\n"
            "printf '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>' > \"$out\""));
        p = pictures::loadPicture(wmfPath);
        QVERIFY(!p.ok);

        // Missing altogether: the message names the package to install.
        pictures::setMetafileLimits(pictures::MetafileLimits());
        pictures::setConverterForTests(MetafileKind::Emf, m_dir.filePath(QStringLiteral("no-such-converter")));
        p = pictures::loadPicture(emfPath);
        QVERIFY(!p.ok);
        QVERIFY(p.error.contains(QStringLiteral("no-such-converter")));
    }

    // A converter's good-looking drawing does not outweigh its own word that it failed.
    void aConverterThatWritesADrawingAndThenFailsIsAFailure()
    {
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, script(m_dir.path(), "draws-then-fails.sh",
            "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
            "printf '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"10\">"
            "<rect width=\"20\" height=\"10\" fill=\"red\"/></svg>' > \"$out\"\nexit 1"));
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("drawn-but-failed.wmf"), wmf(200, 100)));
        QVERIFY(!p.ok);
        QVERIFY(p.image.isNull());
        QCOMPARE(p.error, QStringLiteral("这个 WMF 图元文件已损坏，或其格式不受支持，无法转换。"));
    }

    // Converters write what they extract beside their input: they are given a copy in a
    // private folder, and the folder goes, also when the converter has to be killed.
    void metafilesWriteNothingBesideThemselves()
    {
        if (!haveConverters())
            QSKIP("the metafile converters are not installed");
        QTemporaryDir records, scratch;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });
        QCOMPARE(QDir::tempPath(), scratch.path());

        // A scan beside a WMF of the same stem, whose one bitmap wmf2svg would name photo-1.png.
        const QString photo = writeFile(QDir(records.path()).filePath(QStringLiteral("photo.wmf")), samples::wmfWithBitmaps(1));
        testing::makePicture(records.path(), QStringLiteral("photo-1.png"), 300, 200);
        const QString many = writeFile(QDir(records.path()).filePath(QStringLiteral("many.wmf")), samples::wmfWithBitmaps(500));
        const QStringList before = samples::listing(records.path());

        pictures::LoadedPicture p = pictures::loadPicture(photo);
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.image.size(), QSize(200, 100));
        p = pictures::loadPicture(many);
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(samples::listing(records.path()), before);
        QCOMPARE(samples::listing(scratch.path()), QStringList());

        // A converter that writes into its folder and then hangs: killed, folder gone.
        pictures::MetafileLimits limits;
        limits.timeoutMs = 300;
        pictures::setMetafileLimits(limits);
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, script(m_dir.path(), "litter-and-hang.sh",
            "echo litter > litter.txt\ncp \"$2\" \"$(basename \"$3\" .wmf)-1.png\" 2>/dev/null\nexec sleep 600"));
        p = pictures::loadPicture(photo);
        QVERIFY(!p.ok);
        QCOMPARE(p.error, QStringLiteral("转换这个 WMF 图元文件超过了 0.3 秒，已停止。文件可能已损坏。"));
        QCOMPARE(samples::listing(records.path()), before);
        QCOMPARE(samples::listing(scratch.path()), QStringList());
    }

    // The faults a review found, each with what it took: every one ends in a picture or a
    // message, and the program's memory grows by less than the budget.
    void hostilePicturesEndWithinTheBudget_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: a picture, "*": any message
        QTest::newRow("EMF frame of 2^31-1") << "frame.emf" << samples::emfWithFrameBottom(INT_MAX) << "*";
        QTest::newRow("EMF frame of 10^7") << "frame7.emf" << samples::emfWithFrameBottom(10'000'000) << "*";
        QTest::newRow("SVG path of 400,000 segments") << "path.svg" << samples::svgLongPath(400'000) << "*";
        QTest::newRow("SVGZ bomb") << "bomb.svgz"
            << samples::gzip("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><desc>", 100ll << 20,
                             "</desc></svg>")
            << QStringLiteral("这个 SVGZ 图片解压后超过 64.0 MB，已拒绝：压缩的图片不能展开得这么大。");
        QTest::newRow("JPEG declaring 25290 x 25290") << "lying.jpg" << samples::lyingJpeg(25290, 25290, false) << "*";
        QTest::newRow("progressive JPEG declaring 25290 x 25290")
            << "lying-p.jpg" << samples::lyingJpeg(25290, 25290, true)
            << QStringLiteral("图片太大（宽 25290 点、高 25290 点），解码需要的内存超过每张图片 512 MB 的上限，已拒绝。");
        QTest::newRow("EMF of one record 300,000 times") << "repeated.emf" << samples::emfRepeated(300'000) << "*";
    }

    void hostilePicturesEndWithinTheBudget()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        if (name.endsWith(QLatin1String(".emf")) && !haveConverters())
            QSKIP("the metafile converters are not installed");
        // The real limits, with less time: what takes longer is stopped all the same.
        pictures::MetafileLimits limits;
        limits.cpuSeconds = 2;
        limits.timeoutMs = 5000;
        pictures::setMetafileLimits(limits);
        const QString path = file(name, bytes);
        const samples::PeakMemory peak;
        const pictures::LoadedPicture p = pictures::loadPicture(path);
        const qint64 grown = peak.growthBytes();
        qInfo("%s: %s, memory grew by %.1f MB", qPrintable(name),
              p.ok ? qPrintable(QStringLiteral("%1 x %2").arg(p.image.width()).arg(p.image.height())) : qPrintable(p.error),
              grown / 1048576.0);
        QVERIFY(grown < pictures::kPictureBudgetBytes);
        if (error.isEmpty())
            QVERIFY2(p.ok, qPrintable(p.error));
        else if (error == QLatin1String("*"))
            QVERIFY(p.ok || !p.error.isEmpty());
        else
            QCOMPARE(p.error, error);
        if (p.ok) {
            QVERIFY(!p.image.isNull());
            QVERIFY(qint64(p.image.width()) * p.image.height() <= pictures::kMaxPhotoPixels);
        }
    }

    void oversizedInputIsNotHandedToAConverter()
    {
        pictures::MetafileLimits limits;
        limits.inputBytes = 100;
        pictures::setMetafileLimits(limits);
        pictures::setConverterForTests(pictures::MetafileKind::Emf, script(m_dir.path(), "never.sh", "exit 7"));
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("big.emf"), emf(200, 100)));
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(QStringLiteral("太大")), qPrintable(p.error));
    }

    void filesThatAreNoPicturesSayWhy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing") << "missing" << QStringLiteral("不存在");
        QTest::newRow("folder") << "folder" << QStringLiteral("文件夹");
        QTest::newRow("empty") << "empty" << QStringLiteral("空的");
        QTest::newRow("text") << "text" << QStringLiteral("不是能显示的图片");
        QTest::newRow("pipe") << "pipe" << QStringLiteral("不是普通文件");
        QTest::newRow("truncated JPEG") << "truncated" << QStringLiteral("损坏");
    }

    void filesThatAreNoPicturesSayWhy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QString path = m_dir.filePath(QStringLiteral("no-picture-") + kind);
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (kind == QLatin1String("empty"))
            file(QStringLiteral("no-picture-empty"), QByteArray());
        else if (kind == QLatin1String("text"))
            file(QStringLiteral("no-picture-text"), "minutes of the meeting");
        else if (kind == QLatin1String("pipe"))
            QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {path}), 0);
        else if (kind == QLatin1String("truncated")) {
            const QString whole = testing::makePicture(m_dir.path(), QStringLiteral("whole.jpg"), 400, 300, "JPG");
            QFile f(whole);
            QVERIFY(f.open(QIODevice::ReadOnly));
            path = file(QStringLiteral("no-picture-truncated.jpg"), f.read(300));
        }
        const pictures::LoadedPicture p = pictures::loadPicture(path);
        if (kind == QLatin1String("truncated") && p.ok)
            QSKIP("this JPEG reader fills in a truncated picture");
        QVERIFY(!p.ok);
        QVERIFY2(p.error.contains(why), qPrintable(p.error));
        QVERIFY(!p.error.contains(path)); // the path is the caller's to show
        QCOMPARE(pictures::failureText(path, p), path + QLatin1Char('\n') + p.error);
    }

    void enormousDeclaredSizesTakeNoMemory()
    {
        // 700 KB or 122 bytes of file, 16,000 x 16,000 pixels declared.
        const pictures::LoadedPicture png = pictures::loadPicture(file(QStringLiteral("vast.png"), pngDeclaring(16000, 16000)));
        QVERIFY(!png.ok);
        QVERIFY2(png.error.contains(QStringLiteral("宽 16000 点、高 16000 点")), qPrintable(png.error));
        QVERIFY(png.image.isNull());

        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16000\" height=\"16000\">"
                               "<rect width=\"16000\" height=\"8000\" fill=\"red\"/></svg>";
        QVERIFY(svg.size() < 130);
        const pictures::LoadedPicture drawing = pictures::loadPicture(file(QStringLiteral("vast.svg"), svg));
        QVERIFY2(drawing.ok, qPrintable(drawing.error));
        QCOMPARE(drawing.ownSize, QSize(16000, 16000));
        QCOMPARE(drawing.image.size(), QSize(4000, 4000));
        QVERIFY(drawing.reduced());
        QVERIFY(isRed(drawing.image.pixel(2000, 1000)));
    }

    void aDrawingEmbeddingAnEnormousPictureTakesNoMemory()
    {
        // A drawing of a few hundred bytes whose one picture declares 16,000 x 16,000 pixels.
        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                               "width=\"100\" height=\"80\"><image width=\"100\" height=\"80\" xlink:href=\"data:image/png;base64,"
            + pngDeclaring(16000, 16000).toBase64() + "\"/></svg>";
        const pictures::LoadedPicture p = pictures::loadPicture(file(QStringLiteral("embeds.svg"), svg));
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.image.size(), QSize(100, 80));
        // The program's allowance for one picture is its budget.
        QCOMPARE(qint64(QImageReader::allocationLimit()) << 20, pictures::kPictureBudgetBytes);
    }

    void largePhotosAtTheLimit()
    {
        pictures::setPixelLimitsForTests(300 * 200, 0);
        const QString d = m_dir.path();
        // Exactly at the limit: shown whole.
        const pictures::LoadedPicture exact = pictures::loadPicture(testing::makePicture(d, QStringLiteral("exact.png"), 300, 200));
        QVERIFY(exact.ok);
        QCOMPARE(exact.image.size(), QSize(300, 200));
        QVERIFY(!exact.reduced());
        // One row more: a PNG cannot be decoded smaller, so it is refused with its size.
        const pictures::LoadedPicture over = pictures::loadPicture(testing::makePicture(d, QStringLiteral("over.png"), 300, 201));
        QVERIFY(!over.ok);
        QVERIFY2(over.error.contains(QStringLiteral("宽 300 点、高 201 点")), qPrintable(over.error));
        // A JPEG is decoded reduced, keeping its proportions.
        const pictures::LoadedPicture jpeg = pictures::loadPicture(testing::makePicture(d, QStringLiteral("over.jpg"), 1200, 600, "JPG"));
        QVERIFY2(jpeg.ok, qPrintable(jpeg.error));
        QCOMPARE(jpeg.ownSize, QSize(1200, 600));
        QVERIFY(jpeg.reduced());
        QVERIFY(qint64(jpeg.image.width()) * jpeg.image.height() <= 300 * 200);
        QVERIFY(jpeg.image.width() >= 340); // 346 x 173 fits
        QCOMPARE(jpeg.image.width() / 2, jpeg.image.height());
    }

    // A portrait photo stored landscape with the camera's mark, larger than the limit.
    void aTurnedCameraPhotoShownReducedReportsItsOwnSizeTransposed()
    {
        QImage landscape(300, 100, QImage::Format_RGB32);
        landscape.fill(Qt::gray);
        const QString path = m_dir.filePath(QStringLiteral("turned.jpg"));
        QImageWriter writer(path, "jpeg");
        if (!writer.supportsOption(QImageIOHandler::ImageTransformation))
            QSKIP("this JPEG writer cannot mark the orientation");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(landscape));

        pictures::setPixelLimitsForTests(7500, 0);
        const pictures::LoadedPicture p = pictures::loadPicture(path);
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.ownSize, QSize(100, 300));
        QVERIFY(p.reduced());
        QCOMPARE(p.image.size(), QSize(50, 150));

        // Into a frame, the same: upright, and its own size as it stands.
        pictures::setPixelLimitsForTests(0, 0);
        const pictures::LoadedPicture framed = pictures::loadPicture(path, pictures::PictureRequest::within(QSize(60, 60), true));
        QVERIFY2(framed.ok, qPrintable(framed.error));
        QCOMPARE(framed.ownSize, QSize(100, 300));
        QCOMPARE(framed.image.size(), QSize(20, 60));
    }

    void theRealLimitsTakeTheLargestCameras()
    {
        // 100-megapixel camera backs are shown at their own size, within the budget with
        // room for the decoder; the 150-megapixel ones and 1,200 dpi A4 scans are not.
        QVERIFY(qint64(11648) * 8736 <= pictures::kMaxPhotoPixels);
        QVERIFY(4 * pictures::kMaxPhotoPixels <= pictures::kPictureBudgetBytes * 4 / 5);
        QVERIFY(qint64(14204) * 10652 > pictures::kMaxPhotoPixels);
        QVERIFY(qint64(9921) * 14031 > pictures::kMaxPhotoPixels);
    }
};

QTEST_MAIN(TestPictureLoader)
#include "tst_picture_loader.moc"
