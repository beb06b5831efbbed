#pragma once
// Everything that would block or leave the process in a test goes through these seams:
// message boxes, file dialogs, modal windows. The program uses the real implementations;
// tests install scripted ones (see tests/support).
#include <QString>
#include <functional>

class QWidget;
class QDialog;

namespace platform {

// The title that boxes show when they name none of their own.
extern const QString kAppTitle;

enum class Icon { None, Information, Question, Exclamation, Critical };
enum class Buttons { Ok, YesNo, RetryCancel };
enum class Answer { Ok, Yes, No, Retry, Cancel };

struct MessageRequest {
    QString text;
    QString title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    Answer defaultButton = Answer::Ok;
};

using MessageHandler = std::function<Answer(QWidget *parent, const MessageRequest &)>;

// Shows a message box and returns the button pressed. A box closed without a
// button answers like its escape button (No for Yes/No boxes, Cancel for Retry/Cancel).
Answer message(QWidget *parent, const QString &text, const QString &title,
               Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
               Answer defaultButton = Answer::Ok);
// An empty handler restores the real message box.
void setMessageHandler(MessageHandler handler);

struct FileRequest {
    QString caption;
    QString initialFile;
    QString filter;
    bool save = false; // a file to write (saveFileName), not one to read
};
using FileHandler = std::function<QString(QWidget *parent, const FileRequest &)>;
// Returns the chosen file, or an empty text when the dialog was cancelled.
// The filter is in the toolkit's syntax; qtFilter translates a Windows-style one.
QString openFileName(QWidget *parent, const QString &caption, const QString &initialFile,
                     const QString &filter);
void setFileHandler(FileHandler handler);
// Asks where to write a file; the same handler answers (the request says save). The dialog
// asks before replacing a file that exists. Returns an empty text when cancelled.
QString saveFileName(QWidget *parent, const QString &caption, const QString &initialFile,
                     const QString &filter);

// Translates a Windows-style filter ("description|pattern|description|pattern|", several
// patterns joined by ";") into the toolkit's ("description (patterns);;..."). Each
// description stays the visible text: one that already shows its pattern is kept as it
// is. "*.*" becomes "*", so that files without an extension are offered too.
QString qtFilter(const QString &windowsFilter);

// Runs a dialog modally and returns its result code.
using ModalHandler = std::function<int(QDialog &)>;
int execModal(QDialog &dialog);
void setModalHandler(ModalHandler handler);

// Hourglass pointer for the life of the object.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace platform
