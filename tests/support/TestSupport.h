#pragma once
// Shared helpers for the tests: scripted answers to every seam in src/platform, and
// archive files made on the spot.
#include "platform/Dialogs.h"
#include "records/ArchiveTreeModel.h"
#include "store/Statements.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
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

// True when the tests run against a PostgreSQL server (CASEARCHIVE_TEST_BACKEND=postgresql,
// the server named by CASEARCHIVE_TEST_SERVER, an address of its maintenance database).
bool onServer();
// The server's address for a database of that name.
QString serverAddress(const QString &database);

// An archive with its four tables and the first operator: a file in a folder of its own,
// or, on a server, a database of its own that goes when the archive does. folder() is a
// scratch folder in either case.
class TempArchive {
public:
    TempArchive();
    ~TempArchive();
    TempArchive(const TempArchive &) = delete;
    TempArchive &operator=(const TempArchive &) = delete;
    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }

    void addType(const QString &name);
    void addRecord(const QString &type, const QString &number, const QString &name,
                   const QString &path = QString(), const QString &description = QString(),
                   const QStringList &photos = QStringList());
    void addOperator(const QString &name, const QVariant &encodedPassword, const QVariant &authority);
    void clearOperators();
    // Runs one statement of the test's own, for states the program itself never writes.
    void exec(const QString &sql, const QVariantList &values = {});
    int count(const QString &table, const QString &where = QString(), const QVariantList &values = {});

    // From now on the store fails every write the event names ("BEFORE UPDATE ON Catalog",
    // "AFTER INSERT ON \"User\""), where the condition (a trigger's WHEN, for instance
    // "NEW.UID = 'x'") holds, with the message; a trigger of that name on either engine.
    // keepRow: on the file the failing statement keeps what it did until the transaction
    // rolls back (RAISE(FAIL)); the server always undoes the whole statement.
    void failWrites(const QString &name, const QString &event, const QString &message,
                    const QString &condition = QString(), bool keepRow = false);
    void allowWrites(const QString &name);
    // The archive goes away: the file is deleted, the server's database dropped.
    bool remove();

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_database; // on a server
    QHash<QString, QString> m_failing; // trigger name -> table
};

// An empty database on the test server, dropped again with the object (on a server run
// only: it needs CASEARCHIVE_TEST_SERVER).
class TempServerDatabase {
public:
    TempServerDatabase();
    ~TempServerDatabase();
    TempServerDatabase(const TempServerDatabase &) = delete;
    TempServerDatabase &operator=(const TempServerDatabase &) = delete;
    QString path() const { return m_path; }
    QString name() const { return m_name; }

private:
    QString m_name;
    QString m_path;
};

// Points the settings store at a scratch location of this process and empties it.
void isolateSettings();

// The program signed in to the archive as an operator of that level, on that workstation:
// what the login leaves behind. The search filter is cleared and ending the program does
// nothing.
void signIn(const TempArchive &archive, const QString &authority, const QString &operatorName = QString(),
            const QString &workstation = QString());

// Answers the record's print preview with its print button and the print dialog by
// choosing a PDF file at `pdf`. The print seam is left set: the test's cleanup resets it.
void printThroughPreviewTo(ScriptedPlatform &platform, const QString &pdf);

// Writes a picture of the given size and format into a folder; returns its path.
QString makePicture(const QString &folder, const QString &name, int width, int height,
                    const char *format = "PNG");

// Grabs a window as the operator would see it. The picture is written to the folder
// named by CASEARCHIVE_SCREENSHOTS when that is set (for looking at it), and nowhere
// otherwise. Returns false when the window could not be drawn.
bool screenshot(QWidget *window, const QString &name);

// The browser's tree: the type node of a name (invalid when there is none), and the
// texts of a node's children in the order shown.
QModelIndex typeNode(ArchiveTreeModel *model, const QString &name);
QStringList childTexts(ArchiveTreeModel *model, const QModelIndex &parent);

// The object names of the widgets Tab visits from a start, in order (count of them).
QStringList tabChain(QWidget *start, int count);

template <typename T>
T *child(QObject *parent, const QString &name)
{
    T *c = parent->findChild<T *>(name);
    if (!c)
        QTest::qFail(qPrintable(QStringLiteral("no child named ") + name), __FILE__, __LINE__);
    return c;
}

} // namespace testing
