// Renders the program's SVG icon as the PNG sizes that menus and task bars of every
// desktop can show; run by the build, not installed.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fputs("usage: render_icon SVG SIZE PNG\n", stderr);
        return 2;
    }
    bool ok = false;
    const int size = args.at(2).toInt(&ok);
    QSvgRenderer svg(args.at(1));
    if (!ok || size < 1 || !svg.isValid()) {
        std::fputs("render_icon: cannot read the icon or the size\n", stderr);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    if (!image.save(args.at(3), "PNG")) {
        std::fputs("render_icon: cannot write the picture\n", stderr);
        return 1;
    }
    return 0;
}
