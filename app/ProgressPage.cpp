#include "ProgressPage.h"

#include <commctrl.h>

#include "Globals.h"
#include "resource.h"

namespace {

const COLORREF ProgressBarColor = RGB(156, 255, 140);
const UINT_PTR StatusLineTimer = 1;
const UINT StatusLineFrameMs = 16;  // about one frame of the screen

// The status line's own procedure, which the subclass below passes everything else to, and
// the status line whose drawing is due.
WNDPROC StatusLineProc = nullptr;
HWND StatusLineDue = nullptr;

// The worker names every file in the status line, and waits for each such call to return;
// a static control would draw each text at once, inside WM_SETTEXT, up to thousands of
// times a second. The status line keeps every text at once but draws the current one at
// most once a frame, which is all that the screen can show anyway.
LRESULT CALLBACK FramedStatusLineProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        LRESULT stored = DefWindowProcA(control, message, wParam, lParam);
        if (StatusLineDue != control && SetTimer(control, StatusLineTimer, StatusLineFrameMs, nullptr))
            StatusLineDue = control;
        else if (StatusLineDue != control)
            InvalidateRect(control, nullptr, FALSE);
        return stored;
    }
    if (message == WM_TIMER && wParam == StatusLineTimer) {
        KillTimer(control, StatusLineTimer);
        StatusLineDue = nullptr;
        InvalidateRect(control, nullptr, FALSE);
        return 0;
    }
    if (message == WM_DESTROY && StatusLineDue == control) StatusLineDue = nullptr;
    return CallWindowProcA(StatusLineProc, control, message, wParam, lParam);
}

void ShowControl(int id) { ShowWindow(GetDlgItem(CurrentPage, id), SW_SHOW); }

}  // namespace

void InitProgressPage(HWND page) {
    for (int id : {IDC_BACK, IDC_NEXT, IDC_CANCEL}) EnableWindow(GetDlgItem(page, id), FALSE);
    for (int id = IDC_STAGE_ICON; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
        ShowWindow(GetDlgItem(page, id), SW_HIDE);
    SendDlgItemMessageA(page, IDC_PROGRESS, PBM_SETBARCOLOR, 0, ProgressBarColor);
    StatusLineProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        GetDlgItem(page, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FramedStatusLineProc)));
}

void ProgressPage::Begin() {
    shownPercent_ = -1;
    ShowControl(IDC_STAGE_ICON);
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
}

void ProgressPage::Stage() {
    // The finished icon lies over the in-progress icon, which stays visible below it.
    SetWindowPos(GetDlgItem(CurrentPage, IDC_STAGE_ICON + 1 + 2 * StageIndex), HWND_TOP, 0, 0, 0,
                 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (StageIndex < STAGE_COUNT - 1) {
        ++StageIndex;
        ShowControl(IDC_STAGE_ICON + 2 * StageIndex);
    }
}

void ProgressPage::Step() {
    ++StepsDone;
    if (StepsTotal <= 0) return;
    int position = ProgressPercent(StepsDone, StepsTotal);
    if (position == shownPercent_ && CurrentPage == shownOn_) return;
    shownPercent_ = position;
    shownOn_ = CurrentPage;
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ProgressPage::Status(const std::string& text) {
    SetDlgItemTextA(CurrentPage, IDC_STATUS, text.c_str());
}
