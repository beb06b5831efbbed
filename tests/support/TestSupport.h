#pragma once
// Shared helpers for the tests of the windows: scripted answers to every seam in
// src/platform, archives made on the spot, and what a window test needs on top.
#include "ScriptedPlatform.h"
#include "TempArchive.h"
#include "records/ArchiveTreeModel.h"

#include <QModelIndex>
#include <QString>
#include <QStringList>

namespace testing {

// The program signed in to the archive as an operator of that level, on that workstation:
// what the login leaves behind. The search filter is cleared and ending the program does
// nothing.
void signIn(const TempArchive &archive, const QString &authority, const QString &operatorName = QString(),
            const QString &workstation = QString());

// Answers the record's print preview with its print button and the print dialog by
// choosing a PDF file at `pdf`. The print seam is left set: the test's cleanup resets it.
void printThroughPreviewTo(ScriptedPlatform &platform, const QString &pdf);

// The browser's tree: the type node of a name (invalid when there is none), and the
// texts of a node's children in the order shown.
QModelIndex typeNode(ArchiveTreeModel *model, const QString &name);
QStringList childTexts(ArchiveTreeModel *model, const QModelIndex &parent);

} // namespace testing
