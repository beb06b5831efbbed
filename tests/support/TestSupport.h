#pragma once
// Shared helpers for the tests of the windows: scripted answers to every seam in
// src/platform, archives made on the spot, and what a window test needs on top.
#include "ScriptedPlatform.h"
#include "TempArchive.h"
#include "records/ArchiveTreeModel.h"
#include "records/frmManager.h"

#include <QModelIndex>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

namespace testing {

// The program signed in to the archive as an operator of that level, on that workstation:
// what the login leaves behind. The search filter is cleared and ending the program does
// nothing.
void signIn(const TempArchive &archive, const QString &authority, const QString &operatorName = QString(),
            const QString &workstation = QString());

// Answers the record's print preview with its print button and the print dialog by
// choosing a PDF file at `pdf`. The print seam is left set: the test's cleanup resets it.
void printThroughPreviewTo(ScriptedPlatform &platform, const QString &pdf);

// The browser over an archive, shown at a size, as the main window holds it: the program's
// archive is set to it first.
std::unique_ptr<frmManager> openBrowser(const TempArchive &archive, QSize size);

// The browser's tree: the type node of a name (invalid when there is none), and the
// texts of a node's children in the order shown.
QModelIndex typeNode(ArchiveTreeModel *model, const QString &name);
QStringList childTexts(ArchiveTreeModel *model, const QModelIndex &parent);

// Clicks a node of the browser's tree with the mouse, near the start of its label: a long
// label reaches past the visible part of the tree.
void clickNode(frmManager *browser, const QModelIndex &node);

} // namespace testing
