#include "ScriptedPlatform.h"

#include "platform/Desktop.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace testing {

using namespace platform;

namespace {
// The platforms alive, oldest first; the newest one's handlers are installed.
QVector<ScriptedPlatform *> &livePlatforms()
{
    static QVector<ScriptedPlatform *> live;
    return live;
}

QString answerName(Answer a)
{
    switch (a) {
    case Answer::Ok: return QStringLiteral("Ok");
    case Answer::Yes: return QStringLiteral("Yes");
    case Answer::No: return QStringLiteral("No");
    case Answer::Retry: return QStringLiteral("Retry");
    case Answer::Cancel: return QStringLiteral("Cancel");
    }
    return QStringLiteral("?");
}
} // namespace

ScriptedPlatform::ScriptedPlatform()
{
    livePlatforms().push_back(this);
    install();
}

void ScriptedPlatform::install()
{
    setMessageHandler([this](QWidget *, const MessageRequest &r) {
        boxes.push_back({r.text, r.title, r.buttons, r.icon, r.defaultButton});
        if (m_answers.empty()) {
            QTest::qFail(qPrintable(QStringLiteral("unexpected message box: ") + r.text), __FILE__, __LINE__);
            if (r.buttons == Buttons::RetryCancel)
                return Answer::Cancel;
            return r.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
        }
        const Answer a = m_answers.front();
        m_answers.pop_front();
        return a;
    });
    setFileHandler([this](QWidget *, const FileRequest &r) {
        fileRequests.push_back(r);
        if (m_files.empty()) {
            QTest::qFail(qPrintable(QStringLiteral("unexpected file dialog: ") + r.caption), __FILE__, __LINE__);
            return QString();
        }
        const QString f = m_files.front();
        m_files.pop_front();
        return f;
    });
    setModalHandler([this](QDialog &d) {
        modals << d.objectName();
        if (onModal)
            return onModal(d);
        return int(QDialog::Rejected);
    });
    setOpenHandler([this](const QString &t) {
        opened << t;
        return openSucceeds;
    });
    setFileOpenHandler([this](const QString &f) {
        openedFiles << f;
        return openSucceeds;
    });
    setStartHandler([this](const QString &c) {
        started << c;
        return startSucceeds;
    });
    setSystemFolderHandler([this] { return systemFolder; });
}

QStringList ScriptedPlatform::takeUnused()
{
    QStringList unused;
    for (Answer a : m_answers)
        unused << QStringLiteral("answer ") + answerName(a);
    for (const QString &f : m_files)
        unused << QStringLiteral("file ") + f;
    m_answers.clear();
    m_files.clear();
    return unused;
}

ScriptedPlatform::~ScriptedPlatform()
{
    const QStringList unused = takeUnused();
    QVector<ScriptedPlatform *> &live = livePlatforms();
    const bool newest = !live.isEmpty() && live.back() == this;
    live.removeAll(this);
    if (!newest)
        return; // a newer one answers; the test that queued these has ended already
    if (!unused.isEmpty() && QTest::currentTestFunction() && !QTest::currentTestFailed())
        QTest::qFail(qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))),
                     __FILE__, __LINE__);
    if (!live.isEmpty()) {
        live.back()->install(); // an outer one, still alive, answers again
        return;
    }
    setMessageHandler({});
    setFileHandler({});
    setModalHandler({});
    setOpenHandler({});
    setFileOpenHandler({});
    setStartHandler({});
    setSystemFolderHandler({});
}

bool screenshot(QWidget *window, const QString &name)
{
    const QPixmap picture = window->grab();
    if (picture.isNull())
        return false;
    const QString folder = qEnvironmentVariable("CASEARCHIVE_SCREENSHOTS");
    if (folder.isEmpty())
        return true;
    QDir().mkpath(folder);
    return picture.save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

QStringList tabChain(QWidget *start, int count)
{
    QStringList names;
    QWidget *w = start;
    for (int i = 0; i < count; ++i) {
        names << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(start->window()) || w->objectName().isEmpty());
    }
    return names;
}

bool showActive(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

void typeText(QLineEdit *box, const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        QTest::keyClicks(box, text);
    else
        box->insert(text); // key clicks carry Latin-1 only
}

} // namespace testing
