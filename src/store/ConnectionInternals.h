#pragma once
// What the three files of the connection share: Database.cpp (the file's connections, the
// statements and the transactions), ServerConnections.cpp (the server's addresses and the
// connections kept for the run) and EngineFailures.cpp (what a failure of either engine
// means). For those files only, not for the store's callers.
#include "store/Database.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <libpq-fe.h>

namespace store {

// Numbers the names of the connections Qt opens (Database.cpp).
extern QAtomicInt connectionCounter;
// How long a statement waits for a file that another program holds locked (Database.cpp).
extern int busyTimeoutMs;

// libpq's handle of a server connection, or nullptr for any other (ServerConnections.cpp).
PGconn *serverHandle(QSqlDatabase &db);

// EngineFailures.cpp.
// SQLite's primary result code behind a failure, or 0 when the driver gave none.
int primaryCode(const QSqlError &e);
QString technicalText(const QSqlError &e);
QString withTechnical(const QString &sentence, const QString &technical);
bool isDamage(Backend backend, const QSqlError &e);
bool isLock(const QSqlError &e);

} // namespace store
