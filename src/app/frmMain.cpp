#include "app/frmMain.h"

frmMain::frmMain(QWidget *parent) : QMainWindow(parent) {}
frmMain::~frmMain() = default;
