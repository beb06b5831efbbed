#include "records/frmManager.h"

frmManager::frmManager(QWidget *parent) : QWidget(parent) {}
frmManager::~frmManager() = default;
void frmManager::cmdLoad_Click() {}
void frmManager::MnuAddFile_Click() {}
void frmManager::MnuModifyFile_Click() {}
void frmManager::MnuDeleteFile_Click() {}
void frmManager::MnuSearchFile_Click() {}
