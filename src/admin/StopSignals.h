#pragma once
// Ctrl+C, or the SIGTERM a service manager sends at shutdown, asks a long command to stop
// where it leaves everything whole: ocr keeps what it has read, backup and import leave
// nothing half made. The flag is what the command reads; a second signal ends the tool.
#include <atomic>

std::atomic<bool> &stopAsked();
void catchStopSignals();
