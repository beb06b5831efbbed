#pragma once
// Archives made on the spot for the tests, on a file or on the test server, and the other
// scratch state a test starts from.
#include "store/Statements.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

namespace testing {

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

// Writes a picture of the given size and format into a folder; returns its path.
QString makePicture(const QString &folder, const QString &name, int width, int height,
                    const char *format = "PNG");

} // namespace testing
