// Running the built uninstall.exe as a separate process and driving its windows by window
// messages, as a user would: pages are found by the captions the test log gives them.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace test {

// Log sections that caption every wizard page and the shared-file prompt with its own
// resource name ("DLG_START", ...), so that the driver can tell the pages apart; the folder
// browser of DLG_BROWSEFORSETUP is captioned "Setup folder".
extern const char* const PageCaptions;
// The caption of the program's message boxes.
extern const char* const BoxCaption;

class ProgramRun {
public:
    ProgramRun() = default;
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Starts the program, from its own folder unless another is given; arguments may be "".
    bool Start(const std::string& exe, const std::string& arguments = "",
               const std::string& folder = "");
    // Waits until a window of the process captioned name, other than the windows returned
    // before, is shown and enabled (no box over it). Null, with a test failure, when the
    // process ended first or the time-out passed; the process is then terminated.
    HWND WaitFor(const std::string& name, DWORD timeoutMs = 30000);
    // Waits for the end of the process, serving this thread's messages meanwhile (the
    // simulated restart sends them to every window); its exit code, or -1 on time-out.
    int WaitForExit(DWORD timeoutMs = 60000);
    // The captions of all windows of the process seen while waiting.
    const std::set<std::string>& Captions() const { return captions_; }
    DWORD Id() const { return process_.Id(); }

private:
    std::vector<HWND> Windows();

    ChildProcess process_;
    std::vector<HWND> seen_;
    std::set<std::string> captions_;
};

// Window calls that work across processes.
void PressButton(HWND dialog, int id);      // posts BM_CLICK to the control
void PostCommand(HWND dialog, int id);      // posts WM_COMMAND with the id
std::string ItemText(HWND dialog, int id);  // WM_GETTEXT of the control
void SetItemText(HWND dialog, int id, const std::string& text);
bool ItemChecked(HWND dialog, int id);

}  // namespace test
