#pragma once
// Moving over from the earlier system: its Jet archive (Data\file.dat, Access 97 or 2000)
// imported into a new archive of this program, a file that does not exist yet or an empty
// database on a server, as a copy is written. Every row of the four tables comes over in
// the order stored, with the identities 1, 2, 3, ... in that order, every text decoded
// strictly (a text that does not decode stops the import, naming its row and column),
// the Windows paths of attached files and photos mapped onto this machine, and the
// passwords in the earlier encoded form, which the login opens and upgrades.
//
// The new archive is written as unfinished ("<TARGET>.unfinished", or a server database
// marked so) and compared afterwards, cell by cell, with a second reading of the Jet file;
// only then does it get its trail entry and its name. The Jet file is read from a private
// copy whose SHA-256 the trail keeps, through the helper that runs the reader library
// under limits (jet/JetReader.h). The file itself is never written.
#include "importing/ImportFindings.h"
#include "importing/PathMapping.h"
#include "jet/JetReader.h"
#include "trail/History.h"

#include <QString>
#include <QVector>
#include <functional>

namespace importing {

struct ImportOptions {
    QString source;           // the earlier system's file
    QString target;           // a new archive file, or an empty database on a server
    QString encoding;         // Jet 3 code page as iconv names it; empty: what the file records
    QVector<PathPrefix> paths; // --map-path
    bool replaceUnfinished = false;
    store::Actor actor;
    jet::JetLimits limits;
    store::Rights lookAs; // the rights the mapped paths are looked for with (see PathMapper)
    // Asked now and then; true stops the import, which then leaves nothing behind.
    std::function<bool()> stopRequested;
};

struct TableTally {
    QString table;
    qint64 earlier = 0;   // rows the Jet file holds
    qint64 imported = -1; // rows the new archive holds, as counted after writing
};

struct ImportResult {
    bool verified = false;
    bool stopped = false;   // stopped on request (error says so)
    QString error;          // why not (for the operator)
    QString encoding;       // what the text was decoded as
    QString encodingSource; // where that came from
    QVector<TableTally> tallies;
    ImportFindings findings;
    qint64 sourceSize = 0;
    QString sourceSha256;
};

// Lines for the operator while the import runs: the decoded preview before anything is
// written, then each stage.
using ImportSay = std::function<void(const QString &line)>;

ImportResult importEarlierArchive(const ImportOptions &options, const ImportSay &say = {});

} // namespace importing
