#pragma once

#include <windows.h>

#include <string>

HWND CreateHiddenMainWindow();
// The program entry's body: reads the command line, finds and loads the log, runs the
// wizard with the uninstall or the repair, or the unattended uninstall; shows an error that
// escapes in one box, restarts Windows at the exit when needed (asked for first unless the
// user chose it on the restart page; never in an unattended run), closes the report. The
// exit code: 0, or in an unattended run the outcome (0, 3010, 1603, 1619, 1639).
int ProgramEntry();
