#include "platform/PrintDialog.h"

#include <QPrintDialog>
#include <QPrinter>

namespace platform {

namespace {
PrintHandler &printHandler()
{
    static PrintHandler h;
    return h;
}
} // namespace

bool choosePrinter(QWidget *parent, QPrinter &printer)
{
    if (printHandler())
        return printHandler()(parent, printer);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    return dialog.exec() == QDialog::Accepted;
}

void setPrintHandler(PrintHandler handler) { printHandler() = std::move(handler); }

} // namespace platform
