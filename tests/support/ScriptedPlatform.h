#pragma once
// Scripted answers to every seam in src/platform, and the other helpers of tests that
// drive windows without a person in front of them.
#include "platform/Dialogs.h"

#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtTest>
#include <deque>
#include <functional>

namespace testing {

struct RecordedBox {
    QString text;
    QString title;
    platform::Buttons buttons;
    platform::Icon icon;
    platform::Answer defaultButton;
};

// Answers message boxes, file dialogs and modal windows from queues, and records what
// was asked, the desktop openings and the started processes. A box with no queued
// answer fails the running test (and is answered with its escape button) instead of
// blocking. Answers still queued when the object goes fail the running test (unless it
// has failed already) and go with it. When the object goes, the seams go to the newest
// ScriptedPlatform still alive, and back to the real ones only when none is: a test that
// replaces one by the next, or makes one inside another, never meets a real, blocking box.
class ScriptedPlatform {
public:
    ScriptedPlatform();
    ~ScriptedPlatform();
    ScriptedPlatform(const ScriptedPlatform &) = delete;
    ScriptedPlatform &operator=(const ScriptedPlatform &) = delete;

    void answer(platform::Answer a) { m_answers.push_back(a); }
    void answerFile(const QString &path) { m_files.push_back(path); }
    // Called with each modal dialog instead of running it; returns the dialog's result.
    std::function<int(QDialog &)> onModal;

    QVector<RecordedBox> boxes;          // every message box, in order
    QVector<platform::FileRequest> fileRequests;
    QStringList opened;                  // web addresses given to the desktop
    QStringList openedFiles;             // local files given to the desktop, resolved
    QStringList started;                 // command lines started
    QStringList modals;                  // object names of the modal dialogs run
    bool openSucceeds = true;
    bool startSucceeds = true;
    QString systemFolder;

    int pendingAnswers() const { return int(m_answers.size()); }
    // The answers and files queued but never asked for, described; the queues are emptied,
    // so nothing is left for a later test. A cleanup() calls it before anything can fail.
    QStringList takeUnused();

private:
    void install();
    std::deque<platform::Answer> m_answers;
    std::deque<QString> m_files;
};

// Grabs a window as the operator would see it. The picture is written to the folder
// named by CASEARCHIVE_SCREENSHOTS when that is set (for looking at it), and nowhere
// otherwise. Returns false when the window could not be drawn.
bool screenshot(QWidget *window, const QString &name);

// The object names of the widgets Tab visits from a start, in order (count of them).
QStringList tabChain(QWidget *start, int count);

// Shows a window and makes it the one the operator works in, as the program's own windows
// are when they open. False when the window system did not make it active.
bool showActive(QWidget *window);

// Types text at the cursor of a box as the operator would: key by key where key clicks can
// carry the text (ASCII), inserted whole where they cannot.
void typeText(QLineEdit *box, const QString &text);

template <typename T>
T *child(QObject *parent, const QString &name)
{
    T *c = parent->findChild<T *>(name);
    if (!c)
        QTest::qFail(qPrintable(QStringLiteral("no child named ") + name), __FILE__, __LINE__);
    return c;
}

} // namespace testing
