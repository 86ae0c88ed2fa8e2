// Running an action on a second thread, as the uninstall worker does, while the test's own
// thread serves the windows it created; and finding the dialogs such a thread shows.
#pragma once

#include <windows.h>

#include <functional>

namespace test {

// Runs work on a new thread and dispatches this thread's messages until it has ended;
// between waits onWait (when given) is called with the thread's id. False when the work
// did not end within the time-out: the thread is then terminated, so that it cannot
// outlive the objects it uses.
bool RunOnSecondThread(const std::function<void()>& work,
                       const std::function<void(DWORD threadId)>& onWait = nullptr,
                       DWORD timeoutMs = 30000);

// The thread's visible dialog (window class "#32770"), or none.
HWND ThreadDialog(DWORD threadId);

}  // namespace test
