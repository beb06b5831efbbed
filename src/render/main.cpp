// casearchive-render: draws one SVG into a picture, for the program that starts it.
//
// Drawings come from outside (SVG pictures, and the SVG that the metafile converters
// write) and can be made to take any time and any memory while they are drawn. The
// program therefore never draws them itself: it starts this helper under limits on
// processor time, address space and output, with a clock of its own, and reads back
// only the finished picture, no larger than the frame it is shown in.
//
//   casearchive-render INPUT OUTPUT OWN_W OWN_H MAX_PIXELS FRAME_W FRAME_H KEEP WHITE
//
// OWN_W x OWN_H is the size the drawing gives itself (0 x 0: the size its SVG
// declares); FRAME_W x FRAME_H the frame (0 x 0: at its own size), KEEP 1 when the
// proportions are kept in the frame; WHITE 1 draws on white paper (metafiles), else on
// a transparent ground. OUTPUT receives the header of pictures/RenderedPicture.h and the
// rows of the picture. Exit codes: 0 drawn, 2 not a drawing, 3 no size, 4 no memory,
// 5 cannot write, 64 wrong arguments.
#include "pictures/PictureSize.h"
#include "pictures/RenderedPicture.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

namespace {
enum Exit { Drawn = 0, NotADrawing = 2, NoSize = 3, NoMemory = 4, CannotWrite = 5, Usage = 64 };
}

int main(int argc, char **argv)
{
    // No display is needed, nor wanted: the helper only draws into memory.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nor anything of its own outside the private folder it runs in.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(QDir::currentPath()));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 10) {
        std::fputs("usage: casearchive-render INPUT OUTPUT OWN_W OWN_H MAX_PIXELS FRAME_W FRAME_H KEEP WHITE\n", stderr);
        return Usage;
    }
    bool ok = true;
    auto number = [&](int i) {
        bool good = false;
        const qint64 v = args.at(i).toLongLong(&good);
        ok = ok && good && v >= 0;
        return v;
    };
    const QSize given(int(number(3)), int(number(4)));
    const qint64 maxPixels = number(5);
    const QSize frame(int(number(6)), int(number(7)));
    const bool keep = number(8) != 0;
    const bool white = number(9) != 0;
    if (!ok || maxPixels <= 0)
        return Usage;

    // A drawing may embed pictures that declare any size; they get a modest allowance.
    QImageReader::setAllocationLimit(128);

    QFile input(args.at(1));
    if (!input.open(QIODevice::ReadOnly))
        return NotADrawing;
    QSvgRenderer renderer(input.readAll());
    input.close();
    if (!renderer.isValid())
        return NotADrawing;

    const QSize own = given.isEmpty() ? renderer.defaultSize() : given;
    if (own.width() <= 0 || own.height() <= 0)
        return NoSize;
    const pictures::PictureRequest request = frame.isEmpty()
        ? pictures::PictureRequest::ownSize()
        : pictures::PictureRequest::within(frame, keep);
    const QSize size = pictures::shownSize(own, request, maxPixels);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return NoMemory;
    image.fill(white ? Qt::white : Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }

    QFile output(args.at(2));
    if (!output.open(QIODevice::WriteOnly) || !pictures::writeRendered(output, own, image))
        return CannotWrite;
    return Drawn;
}
