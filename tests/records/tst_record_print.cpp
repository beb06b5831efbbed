// A printed copy of a record, read back from the PDF it makes with poppler's tools:
// the pages, their texts, and the photo on each photo page.
#include "TestSupport.h"

#include "common/Module1.h"
#include "pictures/frmScan.h"
#include "pictures/PictureLoader.h"
#include "platform/PrintDialog.h"
#include "records/RecordPrint.h"
#include "records/frmManager.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

const QString kNumber = QStringLiteral("240101080000");

// Runs one of poppler's tools; its standard output.
QString run(const QString &tool, const QStringList &arguments)
{
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForStarted(30000) || !p.waitForFinished(60000) || p.exitCode() != 0) {
        QTest::qFail(qPrintable(tool + QStringLiteral(" failed: ") + QString::fromUtf8(p.readAllStandardError())),
                     __FILE__, __LINE__);
        return QString();
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString &pdf)
{
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// A text as compared here: without blanks (pdftotext places words by where they stand).
QString plain(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

// The text of one page.
QString pageText(const QString &pdf, int page)
{
    return plain(run(QStringLiteral("pdftotext"),
                     {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page),
                      QStringLiteral("-layout"), pdf, QStringLiteral("-")}));
}

#define CONTAINS(text, expected)                                                                                   \
    QVERIFY2(text.contains(plain(expected)), qPrintable(QStringLiteral("%1 not in: %2").arg(expected, text)))

// The colour in the middle of a page as drawn.
QColor middleOf(const QString &pdf, int page, const QString &scratch)
{
    const QString base = scratch + QStringLiteral("/page");
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                     QString::number(page), QStringLiteral("-r"), QStringLiteral("20"),
                                     QStringLiteral("-singlefile"), QStringLiteral("-png"), pdf, base});
    const QImage image(base + QStringLiteral(".png"));
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

QString photo(const QString &folder, const QString &name, const QColor &colour, const QSize &size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = folder + QLatin1Char('/') + name;
    if (!image.save(path, format, 90))
        QTest::qFail("cannot write a photo", __FILE__, __LINE__);
    return path;
}

} // namespace

class TestRecordPrint : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TempArchive> m_archive;
    QStringList m_photos;

    // Prints the record through the preview and a print dialog that chooses a PDF file.
    QString printToPdf(testing::ScriptedPlatform &platform, const QString &pdf)
    {
        testing::printThroughPreviewTo(platform, pdf);
        records::printRecord(nullptr, kNumber, 0);
        return pdf;
    }

private slots:
    void initTestCase() { testing::isolateSettings(); }

    void init()
    {
        m_archive = std::make_unique<testing::TempArchive>();
        m_archive->addType(QStringLiteral("外科"));
        const QString f = m_archive->folder();
        m_photos = QStringList{photo(f, QStringLiteral("一.jpg"), Qt::red, QSize(3000, 2000), "JPEG"),
                               photo(f, QStringLiteral("二.png"), Qt::blue, QSize(300, 400), "PNG"),
                               photo(f, QStringLiteral("三.bmp"), Qt::green, QSize(200, 100), "BMP")};
        m_archive->addRecord(QStringLiteral("外科"), kNumber, QStringLiteral("张三 阑尾炎"),
                             QStringLiteral("/病案/张三.doc"), QStringLiteral("术后恢复良好\n<b>复查</b>"), m_photos);
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
    }

    void cleanup()
    {
        platform::setPrintHandler({});
        m_archive.reset();
    }

    void aRecordWithThreePhotosPrintsFourPages()
    {
        testing::ScriptedPlatform platform;
        const QString pdf = printToPdf(platform, m_archive->folder() + QStringLiteral("/张三.pdf"));
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmPrintPreview")});
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(pdfPages(pdf), 4);

        const QString first = pageText(pdf, 1);
        for (const QString &expected : {QStringLiteral("病案"), QStringLiteral("病案类别： 外科"),
                                        QStringLiteral("病案号： 240101080000"), QStringLiteral("病案名称： 张三 阑尾炎"),
                                        QStringLiteral("路径名称： /病案/张三.doc"), QStringLiteral("文件说明： 术后恢复良好"),
                                        QStringLiteral("<b>复查</b>"), QStringLiteral("手术照片： 共 3 张，每张一页，附后"),
                                        QStringLiteral("第 1 / 4 页")})
            CONTAINS(first, expected);

        // Each photo on its own page, named at the top, filling the middle, with the footer.
        const QColor colours[] = {Qt::red, Qt::blue, Qt::green};
        for (int i = 0; i < 3; ++i) {
            const QString text = pageText(pdf, i + 2);
            CONTAINS(text, m_photos[i]);
            CONTAINS(text, QStringLiteral("病案号：240101080000"));
            CONTAINS(text, QStringLiteral("第 %1 / 4 页").arg(i + 2));
            const QColor middle = middleOf(pdf, i + 2, m_archive->folder());
            QVERIFY2(qAbs(middle.red() - colours[i].red()) < 40 && qAbs(middle.green() - colours[i].green()) < 40
                         && qAbs(middle.blue() - colours[i].blue()) < 40,
                     qPrintable(middle.name()));
        }
        // The camera's 3000 x 2000 went in at the 300 dpi a page holds, not at its own size.
        const QString images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
        const QStringList rows = images.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
        QCOMPARE(rows.size(), 3);
        const QStringList firstImage = rows[0].simplified().split(QLatin1Char(' '));
        QCOMPARE(firstImage[0], QStringLiteral("2"));
        QVERIFY2(firstImage[3].toInt() < 3000 && firstImage[3].toInt() >= 2000, qPrintable(rows[0]));
        QVERIFY2(QFileInfo(pdf).size() < 2'000'000, qPrintable(QString::number(QFileInfo(pdf).size())));
    }

    // What pdftotext reads is the record's own characters, also where the font draws one
    // with the glyph of a radical (⼀ ⼊ ⽇ ⽂ ⾼ ⾎ ⼿ ⽚ ⻚ and the ideographs look the same).
    void thePdfsTextIsTheRecordsOwnCharacters()
    {
        const QString common = QStringLiteral("一入日文高血手片页");
        const records::PrintedRecord record{QStringLiteral("高血压 文书"), QStringLiteral("240101090000"),
                                            QStringLiteral("入院日期 张三 ") + common, QStringLiteral("/病案/手术照片.doc"),
                                            QStringLiteral("原发性高血压\n一页手写 片"), {}};
        const QString pdf = m_archive->folder() + QStringLiteral("/look-alikes.pdf");
        QCOMPARE(records::RecordPrint(record).writePdf(pdf), QString());
        QCOMPARE(pdfPages(pdf), 1);
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        for (const QString &expected : {record.type, record.number, record.name, record.path, record.description,
                                        QStringLiteral("病案类别："), QStringLiteral("手术照片： 无"),
                                        QStringLiteral("病案号：240101090000"), QStringLiteral("第 1 / 1 页")})
            CONTAINS(plain(text), expected);
        for (const QChar ch : text)
            QVERIFY2(ch.unicode() < 0x2E80 || ch.unicode() > 0x2FDF, qPrintable(QString(ch)));
        QVERIFY(QFileInfo(pdf).size() < 2'000'000);
    }

    void photosAreDecodedNoLargerThanThePageNeeds()
    {
        const QString jpeg = photo(m_archive->folder(), QStringLiteral("大.jpg"), Qt::red, QSize(4000, 3000), "JPEG");
        const pictures::LoadedPicture small = pictures::loadPicture(jpeg, pictures::PictureRequest::within(QSize(400, 400), true));
        QVERIFY(small.ok);
        QCOMPARE(small.image.size(), QSize(400, 300));
        QCOMPARE(small.ownSize, QSize(4000, 3000));
        // A box larger than the photo changes nothing.
        QCOMPARE(pictures::loadPicture(jpeg, pictures::PictureRequest::within(QSize(8000, 8000), true)).image.size(), QSize(4000, 3000));
        // Other formats come no larger than the page needs either.
        const pictures::LoadedPicture png = pictures::loadPicture(m_photos[1], pictures::PictureRequest::within(QSize(30, 40), true));
        QCOMPARE(png.image.size(), QSize(30, 40));
        QCOMPARE(png.ownSize, QSize(300, 400));
    }

    void aPhotoThatCannotBeShownPrintsAPageSayingSo()
    {
        QFile broken(m_archive->folder() + QStringLiteral("/坏.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("this is no picture at all");
        broken.close();
        const QString missing = m_archive->folder() + QStringLiteral("/没有.jpg");
        m_archive->exec(QStringLiteral("DELETE FROM photo"));
        m_archive->exec(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES (?, ?)"), {kNumber, broken.fileName()});
        m_archive->exec(QStringLiteral("INSERT INTO photo (\"病案号\", \"照片\") VALUES (?, ?)"), {kNumber, missing});
        testing::ScriptedPlatform platform;
        const QString pdf = printToPdf(platform, m_archive->folder() + QStringLiteral("/坏.pdf"));
        QCOMPARE(pdfPages(pdf), 3);
        const QString second = pageText(pdf, 2);
        CONTAINS(second, QStringLiteral("此照片无法打印：") + broken.fileName() + QStringLiteral("不是能显示的图片，或图片文件已损坏。"));
        const QString third = pageText(pdf, 3);
        CONTAINS(third, QStringLiteral("此照片无法打印：") + missing + QStringLiteral("文件不存在。"));
        CONTAINS(third, QStringLiteral("第 3 / 3 页"));
    }

    void aLongDescriptionGoesOnToAnotherPage()
    {
        QString description;
        for (int i = 1; i <= 80; ++i)
            description += QStringLiteral("第%1行记录。\n").arg(i);
        m_archive->exec(QStringLiteral("UPDATE Detail SET \"文件说明\" = ?"), {description});
        testing::ScriptedPlatform platform;
        const QString pdf = printToPdf(platform, m_archive->folder() + QStringLiteral("/长.pdf"));
        const int pages = pdfPages(pdf);
        const int textPages = pages - 3;
        QVERIFY2(textPages >= 2, qPrintable(QString::number(pages)));
        const QString first = pageText(pdf, 1);
        const QString second = pageText(pdf, 2);
        const QString last = pageText(pdf, textPages);
        CONTAINS(first, QStringLiteral("文件说明： 第1行记录。"));
        QVERIFY(!first.contains(plain(QStringLiteral("第80行记录。"))));
        QVERIFY(!first.contains(plain(QStringLiteral("手术照片"))));
        CONTAINS(second, QStringLiteral("病案（续）"));
        CONTAINS(last, QStringLiteral("第80行记录。"));
        CONTAINS(last, QStringLiteral("手术照片： 共 3 张"));
        CONTAINS(last, QStringLiteral("第 %1 / %2 页").arg(textPages).arg(pages));
        // Every line printed once: nothing lost at a page's end, nothing repeated.
        QString all;
        for (int p = 1; p <= textPages; ++p)
            all += pageText(pdf, p);
        for (int i = 1; i <= 80; ++i)
            QCOMPARE(all.count(plain(QStringLiteral("第%1行记录。").arg(i))), 1);
    }

    void thePreviewShowsTheFirstPage()
    {
        testing::ScriptedPlatform platform;
        platform::setPrintHandler([](QWidget *, QPrinter &) { return false; }); // the operator cancels
        platform.onModal = [&](QDialog &d) {
            auto *preview = qobject_cast<records::frmPrintPreview *>(&d);
            if (!preview)
                return int(QDialog::Rejected);
            preview->show();
            QTest::qWait(0);
            [&] {
                QCOMPARE(preview->windowTitle(), QStringLiteral("打印病案 - 240101080000"));
                QCOMPARE(preview->Preview->pageCount(), 4);
                QCOMPARE(preview->Preview->currentPage(), 1);
                QCOMPARE(preview->lblPages->text(), QStringLiteral("共 4 页"));
                QCOMPARE(preview->cmdPrint->text(), QStringLiteral("打印..."));
                QVERIFY(testing::screenshot(preview, QStringLiteral("frmPrintPreview")));
            }();
            // Cancelled in the print dialog: the preview stays.
            preview->cmdPrint_Click();
            return preview->isVisible() ? int(QDialog::Rejected) : int(QDialog::Accepted);
        };
        records::printRecord(nullptr, kNumber, 0);
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmPrintPreview")});
        QVERIFY(platform.boxes.isEmpty());
    }

    void aPdfThatCannotBeWrittenIsReportedAndLeavesNothing()
    {
        testing::ScriptedPlatform platform;
        platform.answer(Answer::Ok);
        const QString pdf = m_archive->folder() + QStringLiteral("/没有的文件夹/张三.pdf");
        printToPdf(platform, pdf);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY2(platform.boxes[0].text.startsWith(QStringLiteral("PDF 文件 %1 无法写入：").arg(pdf)),
                 qPrintable(platform.boxes[0].text));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("错误提示"));
        QCOMPARE(platform.boxes[0].icon, Icon::Critical);
        QVERIFY(!QFileInfo::exists(pdf));
    }

    void theBrowserPrintsTheRecordOnShow()
    {
        testing::ScriptedPlatform platform;
        app::SearchFilter.clear();
        frmManager w;
        w.resize(1200, 700);
        w.show();
        auto *print = testing::child<QAction>(&w, QStringLiteral("MnuPrintRecord"));
        QCOMPARE(print->text(), QStringLiteral("&P 打印病案..."));
        QMenu *menu = testing::child<QMenu>(&w, QStringLiteral("MnuControl"));
        // Nothing chosen yet: not offered, and nothing happens.
        emit menu->aboutToShow();
        QVERIFY(!print->isEnabled());
        w.MnuPrintRecord_Click();
        QVERIFY(platform.modals.isEmpty());

        const QModelIndex type = testing::typeNode(w.treeModel(), QStringLiteral("外科"));
        const QModelIndex record = w.treeModel()->index(0, 0, type);
        QTreeView *tree = w.treeView();
        tree->scrollTo(record);
        const QRect r = tree->visualRect(record);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + qMin(r.width() / 2, 24), r.center().y()));
        QCOMPARE(w.recordNumber(), kNumber);
        emit menu->aboutToShow();
        QVERIFY(print->isEnabled());
        QString shown;
        platform.onModal = [&](QDialog &d) {
            if (auto *preview = qobject_cast<records::frmPrintPreview *>(&d))
                shown = preview->lblPages->text();
            return int(QDialog::Rejected);
        };
        print->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("frmPrintPreview")});
        QCOMPARE(shown, QStringLiteral("共 4 页"));

        // One who may only add records sees no record's contents, so prints none either.
        app::CurrentAuthority = QStringLiteral("只能添加");
        emit menu->aboutToShow();
        QVERIFY(!print->isEnabled());
        w.close();
    }

    void theViewerPrintsTheRecordItShows()
    {
        const QString pdf = m_archive->folder() + QStringLiteral("/从查看窗口.pdf");
        testing::ScriptedPlatform platform;
        app::SearchFilter.clear();
        frmManager w;
        w.resize(1200, 700);
        w.show();
        const QModelIndex type = testing::typeNode(w.treeModel(), QStringLiteral("外科"));
        w.TreeView_NodeClick(w.treeModel()->index(0, 0, type));
        QCOMPARE(w.recordNumber(), kNumber);
        QListWidget *list = w.photoList();
        QCOMPARE(list->count(), 3);
        list->setCurrentRow(1);

        platform::setPrintHandler([pdf](QWidget *, QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        bool offered = false;
        bool overTheViewer = false;
        platform.onModal = [&](QDialog &d) {
            if (auto *viewer = qobject_cast<frmScan *>(&d)) {
                auto *print = testing::child<QPushButton>(viewer, QStringLiteral("cmdPrint"));
                offered = !print->isHidden();
                if (offered)
                    QTest::mouseClick(print, Qt::LeftButton);
                return int(QDialog::Rejected);
            }
            if (auto *preview = qobject_cast<records::frmPrintPreview *>(&d)) {
                overTheViewer = qobject_cast<frmScan *>(preview->parentWidget()) != nullptr;
                QTest::mouseClick(preview->cmdPrint, Qt::LeftButton);
                return preview->result();
            }
            return int(QDialog::Rejected);
        };
        w.List1_DblClick();
        QVERIFY(offered);
        QCOMPARE(platform.modals, (QStringList{QStringLiteral("frmScan"), QStringLiteral("frmPrintPreview")}));
        QVERIFY(overTheViewer);
        // The whole record, not the photo on show: the text page and the three photos.
        QCOMPARE(pdfPages(pdf), 4);
        CONTAINS(pageText(pdf, 1), QStringLiteral("张三 阑尾炎"));
        CONTAINS(pageText(pdf, 4), QStringLiteral("第 4 / 4 页"));

        // Levels that may print find the button; one that may only add records does not.
        const struct {
            const char *level;
            bool offered;
        } levels[] = {{"超级权限", true}, {"只能修改", true}, {"只能添加", false}};
        for (const auto &l : levels) {
            app::CurrentAuthority = QString::fromUtf8(l.level);
            platform.modals.clear();
            offered = !l.offered;
            platform.onModal = [&](QDialog &d) {
                if (auto *viewer = qobject_cast<frmScan *>(&d))
                    offered = !testing::child<QPushButton>(viewer, QStringLiteral("cmdPrint"))->isHidden();
                return int(QDialog::Rejected);
            };
            w.List1_DblClick();
            QCOMPARE(platform.modals, QStringList{QStringLiteral("frmScan")});
            QVERIFY2(offered == l.offered, l.level);
        }
        w.close();
    }
};

QTEST_MAIN(TestRecordPrint)
#include "tst_record_print.moc"
