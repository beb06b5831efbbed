#include "records/RecordPrint.h"

#include "records/PdfTextMap.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "pictures/PictureLoader.h"
#include "platform/Dialogs.h"
#include "platform/PrintDialog.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "trail/History.h"
#include "store/Statements.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QTextLayout>
#include <QVBoxLayout>

namespace records {

const QString RecordPrint::kNoPhotoCaption = QStringLiteral("此照片无法打印：");

namespace {

const QString kFailureTitle = QStringLiteral("错误提示");
// Photos go on paper at no more than this: finer detail no printer shows, and a PDF of a
// camera's full pictures would be enormous.
constexpr int kPhotoDpi = 300;

QFont bodyFont()
{
    return platform::songFont(11);
}
QFont headingFont()
{
    QFont f = platform::songFont(16);
    f.setBold(true);
    return f;
}
QFont footerFont() { return platform::songFont(9); }

// The page as set for every print: A4, 15 mm all round.
void setUpPage(QPagedPaintDevice &device)
{
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
}

} // namespace

RecordPrint::RecordPrint(PrintedRecord record) : m_record(std::move(record)) {}

void RecordPrint::layOut(QPainter &painter, const QRect &area)
{
    QPaintDevice *device = painter.device();
    const QFontMetricsF body(bodyFont(), device);
    const QFontMetricsF heading(headingFont(), device);
    const QFontMetricsF footer(footerFont(), device);
    m_lineHeight = qMax(1, int(body.lineSpacing() * 1.4));
    m_footerHeight = int(footer.lineSpacing() * 2.5);

    const QString labels[] = {QStringLiteral("病案类别："), QStringLiteral("病案号："), QStringLiteral("病案名称："),
                              QStringLiteral("路径名称："), QStringLiteral("文件说明："), QStringLiteral("手术照片：")};
    m_labelWidth = 0;
    for (const QString &l : labels)
        m_labelWidth = qMax(m_labelWidth, int(body.horizontalAdvance(l)) + 1);
    m_labelWidth += int(body.horizontalAdvance(QLatin1Char(' ')));
    const int textWidth = qMax(1, area.width() - m_labelWidth);

    const int photos = int(m_record.photos.size());
    const QString values[] = {m_record.type, m_record.number, m_record.name, m_record.path, m_record.description,
                              photos == 0 ? QStringLiteral("无") : QStringLiteral("共 %1 张，每张一页，附后").arg(photos)};

    // Every field as lines of the width left beside the labels, its own line breaks kept.
    QVector<TextLine> lines;
    for (int i = 0; i < 6; ++i) {
        QString value = values[i];
        value.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        value.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        bool first = true;
        for (const QString &paragraph : value.split(QLatin1Char('\n'))) {
            QTextLayout layout(paragraph, bodyFont(), device);
            layout.beginLayout();
            bool any = false;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(textWidth);
                lines.append({first ? labels[i] : QString(), paragraph.mid(line.textStart(), line.textLength()), false});
                first = false;
                any = true;
            }
            layout.endLayout();
            if (!any) {
                lines.append({first ? labels[i] : QString(), QString(), false});
                first = false;
            }
        }
    }

    // Onto pages: a heading, then as many lines as the page holds above the footer.
    m_textPages.clear();
    const int headingHeight = int(heading.lineSpacing() * 2);
    const int perPage = qMax(1, (area.height() - m_footerHeight - headingHeight) / m_lineHeight);
    for (int at = 0; at < lines.size() || m_textPages.isEmpty(); at += perPage) {
        QVector<TextLine> page;
        page.append({QString(), m_textPages.isEmpty() ? QStringLiteral("病案") : QStringLiteral("病案（续）"), true});
        page += lines.mid(at, perPage);
        m_textPages.append(page);
    }
}

void RecordPrint::drawText(QPainter &painter, const QRect &rect, int flags, const QString &text)
{
    m_drawn += text;
    painter.drawText(rect, flags, text);
}

void RecordPrint::paintFooter(QPainter &painter, const QRect &area, int page)
{
    painter.setFont(footerFont());
    const QRect footer(area.left(), area.bottom() + 1 - m_footerHeight, area.width(), m_footerHeight);
    painter.drawLine(footer.left(), footer.top() + m_footerHeight / 5, footer.right(), footer.top() + m_footerHeight / 5);
    drawText(painter, footer, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("病案号：") + m_record.number);
    drawText(painter, footer, Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("第 %1 / %2 页").arg(page + 1).arg(pageCount()));
}

void RecordPrint::paintPhoto(QPainter &painter, const QRect &area, const QString &path, int resolution)
{
    painter.setFont(footerFont());
    const QFontMetrics caption(footerFont(), painter.device());
    const QRect captionRect(area.left(), area.top(), area.width(), caption.lineSpacing() * 2);
    // The photo's own path heads its page, shortened in the middle should it be long.
    drawText(painter, captionRect, Qt::AlignLeft | Qt::AlignTop,
                     caption.elidedText(path, Qt::ElideMiddle, area.width()));
    const QRect frame(area.left(), captionRect.bottom() + 1, area.width(),
                      area.height() - captionRect.height() - m_footerHeight);
    if (frame.width() <= 0 || frame.height() <= 0)
        return;

    const double toPhoto = qMin(1.0, double(kPhotoDpi) / qMax(1, resolution));
    const QSize box(qMax(1, int(frame.width() * toPhoto)), qMax(1, int(frame.height() * toPhoto)));
    pictures::LoadedPicture loaded = pictures::loadPicture(path, pictures::PictureRequest::within(box, true));
    if (loaded.ok && loaded.image.isNull()) { // an empty path loads "nothing", which prints nothing
        loaded.ok = false;
        loaded.error = QStringLiteral("照片没有路径。");
    }
    if (!loaded.ok) {
        painter.setFont(bodyFont());
        drawText(painter, frame, Qt::AlignCenter | Qt::TextWordWrap,
                         kNoPhotoCaption + QLatin1Char('\n') + pictures::failureText(path, loaded));
        return;
    }
    QImage image = std::move(loaded.image);
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QSize fitted = image.size().scaled(frame.size(), Qt::KeepAspectRatio);
    const QRect target(frame.left() + (frame.width() - fitted.width()) / 2,
                       frame.top() + (frame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
    painter.drawImage(target, image);
}

void RecordPrint::paintPage(QPainter &painter, const QRect &area, int page)
{
    if (page < m_textPages.size()) {
        const QFontMetricsF heading(headingFont(), painter.device());
        int y = area.top();
        for (const TextLine &line : m_textPages.at(page)) {
            if (line.heading) {
                painter.setFont(headingFont());
                const int height = int(heading.lineSpacing() * 2);
                drawText(painter, QRect(area.left(), y, area.width(), height), Qt::AlignHCenter | Qt::AlignTop, line.text);
                y += height;
                continue;
            }
            painter.setFont(bodyFont());
            const QRect row(area.left(), y, area.width(), m_lineHeight);
            if (!line.label.isEmpty())
                drawText(painter, row, Qt::AlignLeft | Qt::AlignVCenter, line.label);
            drawText(painter, row.adjusted(m_labelWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, line.text);
            y += m_lineHeight;
        }
    } else {
        paintPhoto(painter, area, m_record.photos.at(page - int(m_textPages.size())),
                   painter.device()->logicalDpiX());
    }
    paintFooter(painter, area, page);
}

bool RecordPrint::paint(QPagedPaintDevice &device, int fromPage, int toPage)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const QRect area(0, 0, device.width(), device.height());
    layOut(painter, area);
    const int first = fromPage > 0 ? fromPage : 1;
    const int last = toPage > 0 ? qMin(toPage, pageCount()) : pageCount();
    for (int page = first; page <= last; ++page) {
        if (page > first)
            device.newPage();
        paintPage(painter, area, page - 1);
    }
    return painter.end();
}

QString RecordPrint::writePdf(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("PDF 文件 %1 无法写入：%2").arg(QDir::toNativeSeparators(path), file.errorString());
    // Written whole first: its maps back to text are put right once every page is drawn.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    bool painted = false;
    {
        QPdfWriter writer(&pdf);
        setUpPage(writer);
        writer.setResolution(kPhotoDpi);
        writer.setTitle(QStringLiteral("病案 ") + m_record.number);
        writer.setCreator(platform::kAppTitle);
        m_drawn.clear();
        painted = paint(writer);
    }
    const QByteArray bytes = painted ? withDrawnCharacters(pdf.data(), m_drawn, {bodyFont(), headingFont(), footerFont()})
                                     : QByteArray();
    if (!painted || file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return QStringLiteral("PDF 文件 %1 无法写入。").arg(QDir::toNativeSeparators(path));
    }
    if (!file.commit())
        return QStringLiteral("PDF 文件 %1 无法写入：%2").arg(QDir::toNativeSeparators(path), file.errorString());
    return QString();
}

// ---------------------------------------------------------------- the preview

frmPrintPreview::frmPrintPreview(const PrintedRecord &record, QWidget *parent) : QDialog(parent), m_print(record)
{
    setObjectName(QStringLiteral("frmPrintPreview"));
    setWindowTitle(QStringLiteral("打印病案 - ") + record.number);
    setFont(platform::songFont(9));
    resize(platform::tw(9000), platform::tw(11000));

    m_previewPrinter = new QPrinter(QPrinter::ScreenResolution);
    setUpPage(*m_previewPrinter);
    Preview = new QPrintPreviewWidget(m_previewPrinter, this);
    Preview->setObjectName(QStringLiteral("Preview"));
    connect(Preview, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter *printer) { m_print.paint(*printer); });

    lblPages = new QLabel(this);
    lblPages->setObjectName(QStringLiteral("lblPages"));
    cmdPrint = new QPushButton(QStringLiteral("打印..."), this);
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdPrint, &QPushButton::clicked, this, &frmPrintPreview::cmdPrint_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lblPages);
    buttons->addStretch();
    buttons->addWidget(cmdPrint);
    buttons->addWidget(cmdClose);
    auto *all = new QVBoxLayout(this);
    all->addWidget(Preview, 1);
    all->addLayout(buttons);

    Preview->fitInView();
    Preview->updatePreview();
    lblPages->setText(QStringLiteral("共 %1 页").arg(m_print.pageCount()));
}

frmPrintPreview::~frmPrintPreview()
{
    delete Preview;
    delete m_previewPrinter;
}

void frmPrintPreview::cmdPrint_Click()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPage(printer);
    printer.setDocName(QStringLiteral("病案 ") + m_print.record().number);
    printer.setCreator(platform::kAppTitle);
    if (!platform::choosePrinter(this, printer))
        return;
    int from = 0;
    int to = 0;
    if (printer.printRange() == QPrinter::PageRange) {
        from = printer.fromPage();
        to = printer.toPage();
    }
    QString error;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // A PDF is written whole or not at all (a printer's own PDF output is written as it goes).
        error = m_print.writePdf(printer.outputFileName());
    } else if (!m_print.paint(printer, from, to)) {
        error = QStringLiteral("打印机 %1 无法打印。请检查打印机。").arg(printer.printerName());
    }
    if (!error.isEmpty()) {
        platform::message(this, error, kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
        return;
    }
    // Who printed which record is part of its trail: written once the pages have gone.
    if (m_print.record().rowId != 0) {
        try {
            store::Connection connection(app::DbPath);
            store::Transaction transaction(connection);
            store::Change change;
            change.kind = store::ChangeKind::RecordPrinted;
            change.number = m_print.record().number;
            change.rowId = m_print.record().rowId;
            change.detail = QStringLiteral("%1 页").arg(m_print.pageCount());
            store::appendHistory(connection, app::currentActor(), change);
            transaction.commit();
        } catch (const store::StoreError &e) {
            platform::message(this, QStringLiteral("病案已打印，但打印记录没有写入历史记录：") + e.description(),
                              kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
        }
    }
    app::ShowHint(QStringLiteral("病案 %1 已打印，共 %2 页。").arg(m_print.record().number).arg(m_print.pageCount()));
    accept();
}

// ---------------------------------------------------------------- from the browser

void printRecord(QWidget *parent, const QString &number, qint64 rowId)
{
    PrintedRecord printed;
    try {
        store::Connection connection(app::DbPath);
        const QVector<store::RecordRow> rows = store::readRecord(connection, number);
        if (rows.isEmpty()) {
            platform::message(parent,
                              QStringLiteral("病案号为 %1 的病案已不在档案中，可能已被删除。请刷新仓库。").arg(number),
                              kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
            return;
        }
        const store::RecordRow *row = &rows.front();
        for (const store::RecordRow &r : rows)
            if (r.rowId == rowId)
                row = &r;
        printed.type = row->typeName;
        printed.number = row->number;
        printed.name = row->name;
        printed.path = row->path;
        printed.description = row->description;
        printed.photos = store::readPhotos(connection, number);
        printed.rowId = row->rowId;
    } catch (const store::StoreError &e) {
        platform::message(parent, e.description(), kFailureTitle, platform::Buttons::Ok, platform::Icon::Critical);
        return;
    }
    frmPrintPreview preview(printed, parent);
    platform::execModal(preview);
}

} // namespace records
