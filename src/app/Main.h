#pragma once
// The program's start and the place where the windows of every subsystem are wired
// together; the windows themselves only know the shared values of common/Module1.h.
class QWidget;

namespace app {

// Connects the windows that open one another across subsystems (the login opens the
// main window, the browser opens the record type window). Main calls it; tests that
// drive the whole chain call it too.
void WireWindows();

// The window a second start brings forward: the modal window on top if there is one,
// else the main window, else the login window; null when none of them is shown.
QWidget *WindowToActivate();

// The whole start: ends at once when another copy runs (asking it to come to the
// front), otherwise shows the splash window and runs until the last window closes.
int Main();

} // namespace app
