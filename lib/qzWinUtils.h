// Window-side utilities: centred message boxes, window placement, the message pump used
// while waiting; and the system queries: Windows folder, module name, platform, quiet
// library loading.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

// Settings read at each use.
extern std::string AppTitle;  // caption of error and warning boxes
extern UINT MsgBoxFlags;      // or-ed into the type of every box
extern HWND MainWindow;       // owner of boxes (through its last active pop-up) and dialogs
// When set, sees every box first: it returns the answer of a box that is not to be shown
// (a run without windows), or 0 to show it.
extern int (*BoxObserver)(const std::string& text, UINT type);

int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type);
void ErrorBox(const std::string& text);
void WarningBox(const std::string& text);
// Dispatches the calling thread's messages until the queue is empty, then sleeps 1 ms; a
// WM_QUIT ends it at once and stays consumed.
void ProcessMessages();

// A C++ exception cannot unwind through the system code that calls a window or dialog
// procedure or a callback: it would end the process. Such callbacks run their body through
// GuardCallback, which keeps an escaping error for the calling thread and returns the
// fallback instead; the code that handed the callback to the system calls
// RethrowCallbackError once the system call returns, so that the error takes the road that
// every other error of that code takes. CallbackFailed tells a message loop to stop.
void KeepCallbackError(std::exception_ptr error);  // the thread's first error is kept
bool CallbackFailed();
void RethrowCallbackError();
template <typename Body, typename Result>
Result GuardCallback(Body body, Result fallback) {
    try {
        return body();
    } catch (...) {
        KeepCallbackError(std::current_exception());
        return fallback;
    }
}
void CenterWindow(HWND window);
void FitRectToScreen(RECT& rect);
inline LONG RectWidth(const RECT& r) { return r.right - r.left; }
inline LONG RectHeight(const RECT& r) { return r.bottom - r.top; }
SIZE GetScreenSize();
RECT GetWorkArea();
void RepaintWindow(HWND window);

std::string GetWindowsDir();  // without a trailing backslash
std::string GetModuleName();  // full path of the running executable
bool IsNTPlatform();          // VER_PLATFORM_WIN32_NT; false means the Windows 9x family
HMODULE LoadLibraryQuiet(const std::string& name);
