// casearchive-ocr: reads the words on photos of pages, for the program that starts it.
//
// Photos come from outside and can be made to take any time and any memory while they
// are decoded and recognised. The program never does either itself: it copies each page
// into a private folder and starts this helper there, under limits on processor time,
// address space and output, with a clock of its own per page (ocr/PageRecognizer.h).
// One helper reads several pages in turn, so that the language models are loaded once.
//
//   casearchive-ocr LANGUAGES PAGE...
//
// LANGUAGES as Tesseract names them ("chi_sim+eng"). Written into the working folder:
// "engine" (two lines: the engine and its version; the models with their identities)
// once the models are loaded, then per page N (counted from 0) "N.txt" with the words,
// or "N.err" with why the page could not be read. Standard output says "begin N" as a
// page is started and "end N" when it is finished, so that the program knows which page
// a helper that had to be stopped was on. Exit codes: 0 every page finished (read or
// not), 3 the models cannot be loaded, 64 wrong arguments.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>

#include <tesseract/baseapi.h>

#include <cstdio>
#include <memory>

namespace {

enum Exit { Finished = 0, NoModels = 3, Usage = 64 };

// Larger photos are not pages anyone scanned; they are refused before decoding.
constexpr qint64 kMaxPixels = 80ll * 1000 * 1000;
constexpr int kAllocationMb = 512;

void say(const char *what, int page)
{
    std::printf("%s %d\n", what, page);
    std::fflush(stdout);
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A model's identity: its name with the start of its file's SHA-256, so that words read
// with another model are told apart from those read with this one.
QString modelIdentity(const QString &folder, const QString &language)
{
    QFile f(QDir(folder).filePath(language + QStringLiteral(".traineddata")));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return language;
    return language + QLatin1Char(':') + QString::fromLatin1(hash.result().toHex().left(16));
}

bool isIdeograph(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x3000 && u <= 0x9fff) || (u >= 0xf900 && u <= 0xfaff) || (u >= 0xff00 && u <= 0xffef);
}

// The engine puts a blank between Chinese characters, which nobody types in a search;
// blanks between words of Latin letters and digits stay.
QString tidy(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    const qsizetype n = raw.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char(' ')) {
            qsizetype j = i;
            while (j < n && raw.at(j) == QLatin1Char(' '))
                ++j;
            const bool between = !out.isEmpty() && j < n && isIdeograph(out.back()) && isIdeograph(raw.at(j));
            if (!between && j < n && raw.at(j) != QLatin1Char('\n') && !out.isEmpty() && out.back() != QLatin1Char('\n'))
                out += QLatin1Char(' ');
            i = j - 1;
            continue;
        }
        // A paragraph of Chinese wraps anywhere: a line break between two characters
        // would hide a word that runs across it.
        if (c == QLatin1Char('\n') && !out.isEmpty() && i + 1 < n && isIdeograph(out.back()) && isIdeograph(raw.at(i + 1)))
            continue;
        out += c;
    }
    // Empty lines between paragraphs say nothing a search needs.
    static const QRegularExpression blankLines(QStringLiteral("\n{2,}"));
    out.replace(blankLines, QStringLiteral("\n"));
    return out.trimmed();
}

// Why a page could not be read, in the operator's words.
QString readPage(const QString &file, QImage &gray, int &dpi)
{
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!reader.canRead())
        return QStringLiteral("不是能识别的图片");
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels)
        return QStringLiteral("图片太大（%1 × %2 像素）").arg(size.width()).arg(size.height());
    QImage image = reader.read();
    if (image.isNull())
        return QStringLiteral("图片不能解码：%1").arg(reader.errorString());
    if (qint64(image.width()) * image.height() > kMaxPixels)
        return QStringLiteral("图片太大（%1 × %2 像素）").arg(image.width()).arg(image.height());
    // Pages scanned without a resolution are taken as 300 dpi, as scanners write them.
    dpi = image.dotsPerMeterX() > 0 ? qRound(image.dotsPerMeterX() * 0.0254) : 300;
    if (dpi < 70 || dpi > 2400)
        dpi = 300;
    // Transparent parts of a picture are white paper.
    if (image.hasAlphaChannel()) {
        QImage paper(image.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        for (int y = 0; y < image.height(); ++y) {
            const QRgb *from = reinterpret_cast<const QRgb *>(image.convertToFormat(QImage::Format_ARGB32).constScanLine(y));
            QRgb *to = reinterpret_cast<QRgb *>(paper.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int a = qAlpha(from[x]);
                to[x] = qRgb((qRed(from[x]) * a + 255 * (255 - a)) / 255, (qGreen(from[x]) * a + 255 * (255 - a)) / 255,
                             (qBlue(from[x]) * a + 255 * (255 - a)) / 255);
            }
        }
        image = paper;
    }
    gray = image.convertToFormat(QImage::Format_Grayscale8);
    if (gray.isNull())
        return QStringLiteral("内存不足，图片不能处理");
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(QDir::currentPath()));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: casearchive-ocr LANGUAGES PAGE...\n", stderr);
        return Usage;
    }
    QImageReader::setAllocationLimit(kAllocationMb);
    const QString languages = args.at(1);

    auto api = std::make_unique<tesseract::TessBaseAPI>();
    // The engine's own chatter goes nowhere; the program reads only the files.
    api->SetVariable("debug_file", "/dev/null");
    if (api->Init(nullptr, languages.toUtf8().constData(), tesseract::OEM_LSTM_ONLY) != 0)
        return NoModels;
    api->SetVariable("preserve_interword_spaces", "1");
    QStringList models;
    for (const QString &l : languages.split(QLatin1Char('+'), Qt::SkipEmptyParts))
        models << modelIdentity(QString::fromUtf8(api->GetDatapath()), l);
    writeFile(QStringLiteral("engine"), QStringLiteral("Tesseract %1\n%2\n")
                                            .arg(QString::fromLatin1(tesseract::TessBaseAPI::Version()),
                                                 models.join(QLatin1Char('+')))
                                            .toUtf8());

    for (int i = 2; i < args.size(); ++i) {
        const int page = i - 2;
        say("begin", page);
        QImage gray;
        int dpi = 300;
        const QString problem = readPage(args.at(i), gray, dpi);
        if (!problem.isEmpty()) {
            writeFile(QStringLiteral("%1.err").arg(page), problem.toUtf8());
        } else {
            // The layout analysis finds no text on a page with a line or two on it; such a
            // page is read again as one block of text.
            QString text;
            bool read = false;
            for (const auto mode : {tesseract::PSM_AUTO, tesseract::PSM_SINGLE_BLOCK}) {
                api->SetPageSegMode(mode);
                api->SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
                api->SetSourceResolution(dpi);
                std::unique_ptr<char[]> words(api->GetUTF8Text());
                api->Clear();
                if (!words)
                    continue;
                read = true;
                text = tidy(QString::fromUtf8(words.get()));
                if (!text.isEmpty())
                    break;
            }
            if (read)
                writeFile(QStringLiteral("%1.txt").arg(page), text.toUtf8());
            else
                writeFile(QStringLiteral("%1.err").arg(page), QStringLiteral("识别失败").toUtf8());
        }
        say("end", page);
    }
    api->End();
    return Finished;
}
