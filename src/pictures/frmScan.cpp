#include "pictures/frmScan.h"

int frmScan::PageIndex = 0;

frmScan::frmScan(QListWidget *photoList, QWidget *parent) : QDialog(parent) { Q_UNUSED(photoList); }
frmScan::~frmScan() = default;
