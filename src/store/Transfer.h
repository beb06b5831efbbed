#pragma once
// Copying a whole archive from one place to another: an archive file to a database on a
// server and back, or file to file. Every row keeps its identity, so the copy lists the
// records in the same order and tells apart the same records that share a number.
// The copy is verified before it counts: the same number of rows in every table, and
// every row the same as its original. A copy that fails, is cancelled or does not verify
// is taken away again (the new file deleted, the server's tables removed).
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

// Copies the archive at from into a new archive at to: a file that does not exist yet,
// or a database on a server that holds no tables yet. Never throws.
TransferResult copyArchive(const QString &from, const QString &to, const TransferProgressHandler &progress = {});

} // namespace store
