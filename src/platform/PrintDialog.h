#pragma once
// Qt's print dialog (the printers CUPS knows, or a PDF file) behind a seam, so that a
// test can answer it: a test's handler sets the printer up as the operator would.
#include <functional>

class QPrinter;
class QWidget;

namespace platform {

// Lets the operator choose the printer, the pages and the copies; true when the
// operator pressed 打印. The printer then carries what was chosen.
bool choosePrinter(QWidget *parent, QPrinter &printer);
using PrintHandler = std::function<bool(QWidget *parent, QPrinter &printer)>;
// An empty handler restores the real dialog.
void setPrintHandler(PrintHandler handler);

} // namespace platform
