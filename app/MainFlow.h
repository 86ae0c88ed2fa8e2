#pragma once

#include <windows.h>

// The main flow: finds and loads the log, runs the wizard, the uninstall or the repair.
// Errors (EInOutError and others) escape to the caller.
void RunMain();
HWND CreateHiddenMainWindow();
// The program entry's body: RunMain, the top-level error box, the restart at exit.
int ProgramEntry();
