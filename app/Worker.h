// The uninstall worker thread and the final clean-up after a successful walk.
#pragma once

#include <windows.h>

bool RunUninstall();
DWORD WINAPI UninstallWorker(LPVOID);
