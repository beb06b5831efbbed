#pragma once
// A printed copy of a record (病案复印): its type, number, name, path and description on
// the first page (continued on more pages when they do not fit), then each photo on a page
// of its own, fitted, with the record number and the page number in every footer. Shown
// in a preview first, then sent through the print dialog to a printer or to a PDF file.
#include <QDialog>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

class QLabel;
class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QPrintPreviewWidget;
class QPushButton;

namespace records {

struct PrintedRecord {
    QString type;
    QString number;
    QString name;
    QString path;
    QString description;
    QStringList photos;
    qint64 rowId = 0; // the archive row printed; 0 for a copy that names none (no trail entry)
};

class RecordPrint {
public:
    explicit RecordPrint(PrintedRecord record);

    const PrintedRecord &record() const { return m_record; }

    // Lays the pages out for the device and paints them, the pages from..to (counted
    // from 1; 0 for all). False when the device could not be painted on.
    bool paint(QPagedPaintDevice &device, int fromPage = 0, int toPage = 0);
    // The pages of the last layout (the text pages and one page per photo).
    int pageCount() const { return int(m_textPages.size()) + int(m_record.photos.size()); }
    // Writes the whole record as a PDF file, under a temporary name renamed when whole;
    // the empty text, or why it could not be written.
    QString writePdf(const QString &path);

    // What a photo page says when the photo cannot be shown.
    static const QString kNoPhotoCaption;

private:
    struct TextLine {
        QString label; // on the first line of a field only
        QString text;
        bool heading = false;
    };
    void layOut(QPainter &painter, const QRect &area);
    void paintPage(QPainter &painter, const QRect &area, int page);
    void paintPhoto(QPainter &painter, const QRect &area, const QString &path, int resolution);
    void paintFooter(QPainter &painter, const QRect &area, int page);
    // Draws a text and notes its characters (for the PDF's map back to text).
    void drawText(QPainter &painter, const QRect &rect, int flags, const QString &text);

    PrintedRecord m_record;
    QVector<QVector<TextLine>> m_textPages;
    int m_lineHeight = 0;
    int m_labelWidth = 0;
    int m_footerHeight = 0;
    QString m_drawn; // every text drawn by the last paint
};

// The preview of a record's print, with 打印... and 关闭.
class frmPrintPreview : public QDialog {
    Q_OBJECT
public:
    explicit frmPrintPreview(const PrintedRecord &record, QWidget *parent = nullptr);
    ~frmPrintPreview() override;

    void cmdPrint_Click();

    QPrintPreviewWidget *Preview = nullptr;
    QLabel *lblPages = nullptr;
    QPushButton *cmdPrint = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    RecordPrint m_print;
    QPrinter *m_previewPrinter = nullptr;
};

// The browser's "打印病案...": reads the record (the row of that number the browser shows)
// from the archive and opens the preview. A failure is shown, never thrown.
void printRecord(QWidget *parent, const QString &number, qint64 rowId);

} // namespace records
