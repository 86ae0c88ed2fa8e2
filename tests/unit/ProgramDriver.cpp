#include "ProgramDriver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace test {

const char* const PageCaptions =
    "[Dialog.DLG_START]\r\nCaption=DLG_START\r\n"
    "[Dialog.DLG_BEFOREUNINSTALL]\r\nCaption=DLG_BEFOREUNINSTALL\r\n"
    "[Dialog.DLG_BEFOREREPAIR]\r\nCaption=DLG_BEFOREREPAIR\r\n"
    "[Dialog.DLG_BROWSEFORSETUP]\r\nCaption=DLG_BROWSEFORSETUP\r\n200=Setup folder\r\n"
    "[Dialog.DLG_UNINSTALL]\r\nCaption=DLG_UNINSTALL\r\n"
    "[Dialog.DLG_REBOOT]\r\nCaption=DLG_REBOOT\r\n"
    "[Dialog.DLG_UNINSTALLSUCCEEDED]\r\nCaption=DLG_UNINSTALLSUCCEEDED\r\n"
    "[Dialog.DLG_DELSHARED]\r\nCaption=DLG_DELSHARED\r\n";

const char* const BoxCaption = "Quorvel Uninstaller";

namespace {

const DWORD CallTimeoutMs = 10000;

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, CallTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

}  // namespace

bool ProgramRun::Start(const std::string& exe, const std::string& arguments,
                       const std::string& folder) {
    seen_.clear();
    captions_.clear();
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    return process_.Start(commandLine,
                          folder.empty() ? exe.substr(0, exe.find_last_of('\\')) : folder);
}

HWND ProgramRun::WaitFor(const std::string& name, DWORD timeoutMs) {
    bool ended = false;
    HWND found = WaitForWindow(
        [&]() -> HWND {
            for (HWND window : Windows())
                if (WindowText(window) == name && IsWindowEnabled(window) &&
                    std::find(seen_.begin(), seen_.end(), window) == seen_.end())
                    return window;
            ended = !process_.Running();
            return ended ? HWND_BOTTOM : nullptr;  // any handle ends the wait
        },
        timeoutMs);
    if (found && !ended) {
        seen_.push_back(found);
        return found;
    }
    ADD_FAILURE() << "no window " << name << (ended ? ": the program ended" : " in time");
    process_.Terminate();  // every later wait then fails at once
    return nullptr;
}

int ProgramRun::WaitForExit(DWORD timeoutMs) {
    WaitUntil([this] { return Windows(), !process_.Running(); }, timeoutMs);
    return process_.Wait(0);
}

std::vector<HWND> ProgramRun::Windows() {
    std::vector<HWND> windows = ProcessWindows(process_.Id());
    for (HWND window : windows) captions_.insert(WindowText(window));
    return windows;
}

void PressButton(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PostCommand(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

std::string ItemText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    std::string text(static_cast<size_t>(Send(control, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(
        Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool ItemChecked(HWND dialog, int id) {
    return Send(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace test
