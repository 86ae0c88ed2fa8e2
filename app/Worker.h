// The uninstall worker thread and the final clean-up after a successful walk.
#pragma once

#include <windows.h>

// Shows the progress page while the worker walks the log; true when every section was
// processed, after which the uninstall key, the log, the repair data file and (once the
// process has ended) the program itself are removed. An error raised on the worker ends
// the walk as failed and is shown in one error box after the worker has ended.
bool RunUninstall();
// The same walk and clean-up on the calling thread, without a page (an unattended run).
bool RunUninstallUnattended();
// The thread function: exit code 0 when the walk completed, 1 otherwise.
DWORD WINAPI UninstallWorker(LPVOID);
