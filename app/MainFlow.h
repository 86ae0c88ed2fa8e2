#pragma once

#include <windows.h>

#include <string>

// The main flow: finds and loads the log, runs the wizard, the uninstall or the repair, and
// gives the log's wording of the restart question for the exit. Errors (EInOutError and
// others) escape to the caller.
void RunMain(std::string& restartQuestion);
HWND CreateHiddenMainWindow();
// The program entry's body: RunMain, the top-level error box, the restart at exit (asked
// for first unless the user chose it on the restart page).
int ProgramEntry();
