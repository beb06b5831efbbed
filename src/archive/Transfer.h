#pragma once
// Copying a whole archive from one place to another: an archive file to a database on a
// server and back, or file to file. Every row keeps its identity, so the copy lists the
// records in the same order and tells apart the same records that share a number.
// The copy is verified before it counts: the same number of rows in every table, and
// every cell the same as its original, byte for byte and with its storage class. What a
// target cannot hold exactly (a BLOB, text that is not UTF-8 or holds a NUL on a server;
// a number in a text column anywhere) refuses the copy before anything is committed,
// naming the row and the column. A copy that fails, is cancelled or does not verify is
// taken away again (the new file deleted, the server's tables removed).
//
// A file is written as "<TO>.unfinished" and renamed to TO only once verified; a server's
// database carries a mark (a table named kUnfinishedCopyMark) until then. Whatever a killed
// copy leaves is recognised by the next copy to the same place, which removes it when
// asked to (replaceUnfinished) and otherwise says what it is.
#include "store/Statements.h"

#include <QString>
#include <functional>

namespace store {

struct TransferProgress {
    enum Stage { Copy, Verify };
    Stage stage = Copy;
    QString table;      // the table at hand
    qint64 done = 0;    // rows copied and rows compared so far
    qint64 total = 0;   // every row twice: once copied, once compared
};

struct TransferResult {
    enum Outcome { Verified, Cancelled, Failed };
    Outcome outcome = Failed;
    QString error;      // what went wrong (Failed only), for the operator
    TableCounts counts; // rows copied (Verified only)
};

// Called after every batch of rows; returning false cancels the copy.
using TransferProgressHandler = std::function<bool(const TransferProgress &)>;
// Called with the verified copy, in a transaction of its own, before the copy gets its
// name (or loses its mark): the admin tool writes its trail entry there. A failure
// (StoreError) fails the copy, which is taken away again.
using TransferFinishing = std::function<void(Connection &)>;

// Copies the archive at from into a new archive at to: a file that does not exist yet,
// or a database on a server that holds no tables yet. The copy is of the current schema
// version; the trail and the recycle bin go with it when the original has them. Never
// throws.
TransferResult copyArchive(const QString &from, const QString &to, const TransferProgressHandler &progress = {},
                           bool replaceUnfinished = false, const TransferFinishing &finishing = {});

// Where a copy to the file "to" is written until it has been verified.
QString unfinishedCopyPath(const QString &to);

// What a copy or an import cut short leaves, and its removal: the unfinished file with
// its journals, or, on a server, the tables it made (still marked unfinished).
bool fileOrJournalExists(const QString &path);
void removeFileWithJournals(const QString &path);
// In a transaction of its own; a failure leaves them as they are, still marked
// unfinished, which says they are not to be used.
void dropUnfinishedTables(const QString &address);

} // namespace store
