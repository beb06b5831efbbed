// A day's round trip through the real windows: three pages scanned from SANE's test
// scanner into a new record, seen and paged in the viewer, zoomed and turned, and the
// record printed from the viewer to a PDF read back with poppler's tools.
#include "TestSupport.h"

#include "common/Module1.h"
#include "pictures/frmScan.h"
#include "scan/frmScanner.h"
#include "platform/PrintDialog.h"
#include "platform/Twips.h"
#include "records/ArchiveTreeModel.h"
#include "records/RecordPrint.h"
#include "records/frmManager.h"
#include "records/frmNewForm.h"
#include "store/Settings.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTreeView>

namespace {

constexpr int kWait = 60000;

QString run(const QString &tool, const QStringList &arguments)
{
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForStarted(30000) || !p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)").arg(tool, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Without blanks.
QString pageText(const QString &pdf, int page)
{
    QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                     QString::number(page), pdf, QStringLiteral("-")});
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

} // namespace

class TestScanViewPrint : public QObject {
    Q_OBJECT

    QTemporaryDir m_sane;
    QTemporaryDir m_pages;

    // One page per 扫描 from the glass: an A4 sheet in colour at 100 dpi, wider than the
    // viewer's frame and taller, as a scanned page is.
    QStringList scanThreePages(frmScanner &w)
    {
        QSignalSpy listed(&w, &frmScanner::scannersListed);
        QSignalSpy ready(&w, &frmScanner::scannerReady);
        w.show();
        if (!listed.wait(kWait) || w.cboScanner->count() == 0 || !ready.wait(kWait)) {
            QTest::qFail("the test scanner never came", __FILE__, __LINE__);
            return {};
        }
        w.cboSource->setCurrentIndex(w.cboSource->findData(QStringLiteral("Flatbed")));
        w.cboMode->setCurrentIndex(w.cboMode->findData(QStringLiteral("Color")));
        w.cboResolution->setCurrentIndex(w.cboResolution->findText(QStringLiteral("100 dpi")));
        for (int page = 1; page <= 3; ++page) {
            QSignalSpy finished(&w, &frmScanner::runFinished);
            QTest::mouseClick(w.cmdScan, Qt::LeftButton);
            if (!finished.wait(kWait)) {
                QTest::qFail("a page never came", __FILE__, __LINE__);
                return {};
            }
        }
        testing::screenshot(&w, QStringLiteral("round-trip-1-scanner"));
        return w.scannedPaths();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sane.isValid() && m_pages.isValid());
        QFile dll(m_sane.filePath(QStringLiteral("dll.conf")));
        QVERIFY(dll.open(QIODevice::WriteOnly));
        dll.write("test\n");
        dll.close();
        QFile conf(m_sane.filePath(QStringLiteral("test.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("number_of_devices 1\ntest-picture \"Color pattern\"\nbr_x 210.0\nbr_y 297.0\n");
        conf.close();
        qputenv("SANE_CONFIG_DIR", m_sane.path().toLocal8Bit());
        testing::isolateSettings();
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), m_pages.path());
    }

    void scannedPagesAreViewedAndPrinted()
    {
        testing::TempArchive archive;
        archive.addType(QStringLiteral("外科"));
        app::DbPath = archive.path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        app::SearchFilter.clear();
        app::setEndProgramHook([] {});
        testing::ScriptedPlatform platform;
        frmManager browser;
        browser.resize(1200, 700);
        browser.show();

        // 添加档案: a name, three pages from 扫描..., 保存记录, 关闭返回.
        QStringList scanned;
        QString number;
        platform.onModal = [&](QDialog &d) {
            if (auto *scanner = qobject_cast<frmScanner *>(&d)) {
                scanned = scanThreePages(*scanner);
                return int(QDialog::Accepted);
            }
            auto *form = qobject_cast<frmNewForm *>(&d);
            if (!form)
                return int(QDialog::Rejected);
            form->show();
            form->txtName->setText(QStringLiteral("王五 胫骨骨折"));
            form->txtPath->setText(QStringLiteral("/病案/王五.doc"));
            form->Combo1->setCurrentIndex(form->Combo1->findText(QStringLiteral("外科")));
            testing::child<QAction>(form, QStringLiteral("MnuScanPhoto"))->trigger();
            testing::screenshot(form, QStringLiteral("round-trip-2-new-record"));
            number = form->recordNumber();
            QTest::mouseClick(form->SaveAdd, Qt::LeftButton);
            QTest::mouseClick(form->ExitB, Qt::LeftButton);
            return int(QDialog::Accepted);
        };
        browser.MnuAddFile_Click();
        QCOMPARE(scanned.size(), 3);
        QVERIFY2(platform.boxes.isEmpty(), qPrintable(platform.boxes.value(0).text));
        for (const QString &path : scanned)
            QVERIFY2(QImage(path).width() > platform::tw(11665), qPrintable(path));

        // The browser shows the new record with its three pages, in order.
        ArchiveTreeModel *model = browser.treeModel();
        const QModelIndex type = testing::typeNode(model, QStringLiteral("外科"));
        QCOMPARE(model->rowCount(type), 1);
        browser.TreeView_NodeClick(model->index(0, 0, type));
        QCOMPARE(browser.recordNumber(), number);
        QListWidget *list = browser.photoList();
        QStringList listed;
        for (int i = 0; i < list->count(); ++i)
            listed << list->item(i)->text();
        QCOMPARE(listed, scanned);

        // The viewer: the first page, the keys, zoom and turn, then 打印病案....
        const QString pdf = archive.folder() + QStringLiteral("/王五.pdf");
        platform::setPrintHandler([pdf](QWidget *, QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        QStringList seen;
        QString previewPages;
        platform.onModal = [&](QDialog &d) {
            if (auto *preview = qobject_cast<records::frmPrintPreview *>(&d)) {
                preview->show();
                previewPages = preview->lblPages->text();
                testing::screenshot(preview, QStringLiteral("round-trip-4-preview"));
                QTest::mouseClick(preview->cmdPrint, Qt::LeftButton);
                return preview->result();
            }
            auto *viewer = qobject_cast<frmScan *>(&d);
            if (!viewer)
                return int(QDialog::Rejected);
            viewer->show();
            viewer->activateWindow();
            if (!QTest::qWaitForWindowActive(viewer))
                return int(QDialog::Rejected);
            auto *page = testing::child<QLabel>(viewer, QStringLiteral("lblPage"));
            auto *photo = testing::child<QLabel>(viewer, QStringLiteral("Image1"));
            const auto shown = [&] { return page->text() + QLatin1Char(' ') + QString::number(photo->pixmap().width()); };
            const auto arrived = [&] { return QTest::qWaitFor([&] { return !photo->pixmap().isNull(); }, kWait); };
            if (!arrived())
                return int(QDialog::Rejected);
            seen << shown();
            // Each key's page, once it is read (the one on show stays meanwhile).
            const struct {
                int key;
                int page;
            } keys[] = {{Qt::Key_PageDown, 2}, {Qt::Key_PageDown, 3}, {Qt::Key_PageDown, 3}, {Qt::Key_Home, 1}, {Qt::Key_End, 3}};
            for (const auto &k : keys) {
                QTest::keyClick(viewer, Qt::Key(k.key));
                const QString expected = QStringLiteral("第 %1 / 3 张").arg(k.page);
                QTest::qWaitFor([&] { return page->text() == expected && !photo->pixmap().isNull(); }, kWait);
                seen << shown();
            }
            QTest::keyClick(viewer, Qt::Key_F);
            seen << QStringLiteral("fit %1").arg(viewer->zoom() < 1.0);
            QTest::keyClick(viewer, Qt::Key_Plus);
            QTest::keyClick(viewer, Qt::Key_R);
            seen << QStringLiteral("turned %1x%2").arg(photo->pixmap().width() > photo->pixmap().height()).arg(viewer->zoom() < 1.0);
            testing::screenshot(viewer, QStringLiteral("round-trip-3-viewer"));
            QTest::keyClick(viewer, Qt::Key_P, Qt::ControlModifier);
            // Printing leaves the viewer as it was.
            seen << page->text();
            return int(QDialog::Rejected);
        };
        // A double click on the first page, as the operator opens the viewer.
        list->setCurrentRow(0);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(platform.modals.mid(platform.modals.size() - 2),
                 (QStringList{QStringLiteral("frmScan"), QStringLiteral("frmPrintPreview")}));
        const QString width = QString::number(QImage(scanned[0]).width());
        QCOMPARE(seen, (QStringList{QStringLiteral("第 1 / 3 张 ") + width, QStringLiteral("第 2 / 3 张 ") + width,
                                    QStringLiteral("第 3 / 3 张 ") + width, QStringLiteral("第 3 / 3 张 ") + width,
                                    QStringLiteral("第 1 / 3 张 ") + width, QStringLiteral("第 3 / 3 张 ") + width,
                                    QStringLiteral("fit 1"), QStringLiteral("turned 1x1"), QStringLiteral("第 3 / 3 张")}));
        QCOMPARE(previewPages, QStringLiteral("共 4 页"));

        // The PDF: the record's page, then one page per scanned page, each with its picture.
        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+4\\n"))), qPrintable(info));
        const QString first = pageText(pdf, 1);
        QVERIFY2(first.contains(QStringLiteral("王五胫骨骨折")) && first.contains(number) && first.contains(QStringLiteral("外科")),
                 qPrintable(first));
        for (int p = 2; p <= 4; ++p)
            QVERIFY2(pageText(pdf, p).contains(QStringLiteral("第%1/4页").arg(p)), qPrintable(pageText(pdf, p)));
        const QStringList images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'));
        QStringList pagesWithImages;
        for (const QString &line : images.mid(2)) {
            const QStringList cells = line.simplified().split(QLatin1Char(' '));
            if (cells.size() > 1 && !pagesWithImages.contains(cells[0]))
                pagesWithImages << cells[0];
        }
        QCOMPARE(pagesWithImages, (QStringList{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")}));
        platform::setPrintHandler({});
        browser.close();
    }
};

QTEST_MAIN(TestScanViewPrint)
#include "tst_scan_view_print.moc"
