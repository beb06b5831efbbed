#include "PageDrawing.h"

#include <QFont>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextLayout>
#include <QTextOption>

#include <vector>

namespace testing {

QString dischargeSummary()
{
    return QStringLiteral("出院小结：患者张某，男，56岁，因反复胸闷气短3年，加重1周于2023年11月2日入院。"
                          "入院后予Aspirin 100mg每日一次，Atorvastatin 20mg每晚一次，Metoprolol 47.5mg每日一次口服，"
                          "症状明显缓解，血压128/76mmHg，心率68次/分。于11月15日出院，嘱低盐低脂饮食，定期复查血脂及肝功能。");
}

QImage drawPage(const QString &text, const PageLook &look)
{
    constexpr int dpi = 300;
    const int margin = dpi * 2 / 3;
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(look.pointSize);
    font.setStyleStrategy(QFont::PreferAntialias);

    // Lay the paragraph out at the page's resolution, as a printer would.
    QImage probe(1, 1, QImage::Format_RGB32);
    probe.setDotsPerMeterX(qRound(dpi / 0.0254));
    probe.setDotsPerMeterY(qRound(dpi / 0.0254));
    QTextLayout layout(text, font, &probe);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    const qreal lineWidth = look.widthPx - 2 * margin;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, y));
        y += line.height() * 1.5;
    }
    layout.endLayout();

    const int height = look.heightPx > 0 ? look.heightPx : int(y) + 2 * margin;
    QImage page(look.widthPx, height, QImage::Format_RGB32);
    page.setDotsPerMeterX(qRound(dpi / 0.0254));
    page.setDotsPerMeterY(qRound(dpi / 0.0254));
    page.fill(Qt::white);
    {
        QPainter p(&page);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        if (look.turnDegrees != 0) {
            p.translate(page.width() / 2.0, page.height() / 2.0);
            p.rotate(look.turnDegrees);
            p.translate(-page.width() / 2.0, -page.height() / 2.0);
        }
        p.setPen(Qt::black);
        layout.draw(&p, QPointF(margin, margin));
    }
    if (look.speckles > 0) {
        QRandomGenerator rng(look.specksVariant);
        const qint64 count = qint64(double(page.width()) * page.height() * look.speckles);
        for (qint64 i = 0; i < count; ++i) {
            const int x = int(rng.bounded(page.width()));
            const int yy = int(rng.bounded(page.height()));
            const int g = int(rng.bounded(256));
            page.setPixel(x, yy, qRgb(g, g, g));
        }
    }
    return page;
}

bool savePage(const QImage &page, const QString &path) { return page.save(path, "PNG"); }

double recognisedShare(const QString &expected, const QString &recognised)
{
    auto strip = [](const QString &s) {
        QString out;
        for (const QChar c : s)
            if (!c.isSpace())
                out += c;
        return out;
    };
    const QString a = strip(expected);
    const QString b = strip(recognised);
    if (a.isEmpty())
        return 1.0;
    std::vector<int> row(size_t(b.size()) + 1, 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = 0;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = a.at(i - 1) == b.at(j - 1) ? diagonal + 1 : qMax(row[size_t(j)], row[size_t(j - 1)]);
            diagonal = above;
        }
    }
    return double(row[size_t(b.size())]) / double(a.size());
}

} // namespace testing
