#include "platform/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace platform {

const QString kAppTitle = QStringLiteral("Karvo电子病案管理系统");

namespace {
MessageHandler &messageHandler()
{
    static MessageHandler h;
    return h;
}
FileHandler &fileHandler()
{
    static FileHandler h;
    return h;
}
ModalHandler &modalHandler()
{
    static ModalHandler h;
    return h;
}

QMessageBox::Icon toQt(Icon icon)
{
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

Answer realMessage(QWidget *parent, const MessageRequest &r)
{
    QMessageBox box(toQt(r.icon), r.title, r.text, QMessageBox::NoButton, parent);
    // Names from the archive and typed text appear in messages; markup in them must
    // show as typed, never be rendered.
    box.setTextFormat(Qt::PlainText);
    if (r.buttons == Buttons::YesNo) {
        QPushButton *yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(r.defaultButton == Answer::Yes ? yes : no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? Answer::Yes : Answer::No;
    }
    if (r.buttons == Buttons::RetryCancel) {
        QPushButton *retry = box.addButton(QStringLiteral("重试(&R)"), QMessageBox::AcceptRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(r.defaultButton == Answer::Cancel ? cancel : retry);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == retry ? Answer::Retry : Answer::Cancel;
    }
    QPushButton *ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return Answer::Ok;
}
} // namespace

Answer message(QWidget *parent, const QString &text, const QString &title, Buttons buttons,
               Icon icon, Answer defaultButton)
{
    MessageRequest r{text, title.isEmpty() ? kAppTitle : title, buttons, icon, defaultButton};
    if (messageHandler())
        return messageHandler()(parent, r);
    return realMessage(parent, r);
}

void setMessageHandler(MessageHandler handler) { messageHandler() = std::move(handler); }

QString openFileName(QWidget *parent, const QString &caption, const QString &initialFile,
                     const QString &filter)
{
    FileRequest r{caption, initialFile, filter};
    if (fileHandler())
        return fileHandler()(parent, r);
    // Only the descriptions are shown, as the filters' own texts name their patterns.
    return QFileDialog::getOpenFileName(parent, caption, initialFile, filter, nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &initialFile,
                     const QString &filter)
{
    FileRequest r{caption, initialFile, filter, true};
    if (fileHandler())
        return fileHandler()(parent, r);
    return QFileDialog::getSaveFileName(parent, caption, initialFile, filter);
}

QString qtFilter(const QString &windowsFilter)
{
    const QStringList pieces = windowsFilter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < pieces.size(); i += 2) {
        const QString description = pieces.at(i).trimmed();
        QStringList patterns = pieces.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        patterns.removeAll(QString());
        if (patterns.isEmpty())
            continue;
        const QString joined = patterns.join(QLatin1Char(' '));
        if (description.isEmpty() || description == joined)
            entries << joined; // the pattern is its own description
        else if (description.endsWith(QLatin1Char('(') + joined + QLatin1Char(')')))
            entries << description;
        else
            entries << description + QStringLiteral(" (") + joined + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

void setFileHandler(FileHandler handler) { fileHandler() = std::move(handler); }

int execModal(QDialog &dialog)
{
    if (modalHandler())
        return modalHandler()(dialog);
    return dialog.exec();
}

void setModalHandler(ModalHandler handler) { modalHandler() = std::move(handler); }

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

} // namespace platform
