#include "ProgressPage.h"

#include <commctrl.h>

#include "Globals.h"
#include "qzHandles.h"
#include "resource.h"

namespace {

const COLORREF ProgressBarColor = RGB(156, 255, 140);
const UINT_PTR FrameTimer = 1;
const UINT FrameMs = 16;                   // about one frame of the screen
const UINT WakeMessage = WM_APP + 1;       // posted to the status line: reports are left
const UINT TakeNowMessage = WM_APP + 2;    // sent to it: take and draw them before going on

// What the worker leaves for the page; the worker writes, the page's thread takes.
struct LeftReports {
    qz::CriticalSection lock;
    HWND statusLine = nullptr;  // of the page the reports are for
    std::string text;
    bool textLeft = false;
    int percent = 0;
    bool percentLeft = false;
    // A wake-up is posted, or the page takes once a frame: the worker need not post.
    bool pageAwake = false;
};

LeftReports Left;

// The status line's own procedure, which the subclass below passes everything else to.
WNDPROC StatusLineProc = nullptr;

// Puts what was left on the page: the text into the status line (a static control draws
// inside WM_SETTEXT), the position into the bar. False when nothing was left; then, with
// lastTake, the page sleeps until the next wake-up (decided under the lock, so that nothing
// left meanwhile goes unseen).
bool TakeLeftReports(HWND statusLine, bool lastTake) {
    std::string text;
    int percent = 0;
    bool newText = false, newPercent = false;
    {
        qz::Lock guard(Left.lock);
        if (statusLine != Left.statusLine) return false;
        newText = Left.textLeft;
        newPercent = Left.percentLeft;
        if (newText) text = Left.text;
        percent = Left.percent;
        Left.textLeft = Left.percentLeft = false;
        if (!newText && !newPercent && lastTake) Left.pageAwake = false;
    }
    if (newText)
        CallWindowProcA(StatusLineProc, statusLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (newPercent) SendDlgItemMessageA(GetParent(statusLine), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    return newText || newPercent;
}

LRESULT CALLBACK ReportedStatusLineProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WakeMessage:
            TakeLeftReports(control, false);
            SetTimer(control, FrameTimer, FrameMs, nullptr);
            return 0;
        case WM_TIMER:
            if (wParam != FrameTimer) break;
            if (!TakeLeftReports(control, true)) KillTimer(control, FrameTimer);
            return 0;
        case TakeNowMessage:
            TakeLeftReports(control, false);
            RedrawWindow(GetDlgItem(GetParent(control), IDC_PROGRESS), nullptr, nullptr, RDW_UPDATENOW);
            return 0;
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH:
            TakeLeftReports(control, false);
            break;
        default:
            break;
    }
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
        GetDlgItem(page, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReportedStatusLineProc)));
}

void ProgressPage::Begin() {
    leftPercent_ = -1;
    {
        qz::Lock guard(Left.lock);
        Left.statusLine = GetDlgItem(CurrentPage, IDC_STATUS);
        Left.textLeft = Left.percentLeft = Left.pageAwake = false;
    }
    ShowControl(IDC_STAGE_ICON);
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
}

void ProgressPage::Stage() {
    SendMessageA(GetDlgItem(CurrentPage, IDC_STATUS), TakeNowMessage, 0, 0);
    // The finished icon lies over the in-progress icon, which stays visible below it.
    SetWindowPos(GetDlgItem(CurrentPage, IDC_STAGE_ICON + 1 + 2 * StageIndex), HWND_TOP, 0, 0, 0,
                 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (StageIndex < STAGE_COUNT - 1) {
        ++StageIndex;
        ShowControl(IDC_STAGE_ICON + 2 * StageIndex);
    }
}

namespace {

// Leaves a report for the page with the lock held by leave, and wakes the page unless it is
// awake already.
template <typename Leave>
void LeaveForPage(Leave leave) {
    HWND wake = nullptr;
    {
        qz::Lock guard(Left.lock);
        leave();
        if (!Left.pageAwake) wake = Left.statusLine;
        Left.pageAwake = Left.pageAwake || wake;
    }
    if (wake) PostMessageA(wake, WakeMessage, 0, 0);
}

}  // namespace

void ProgressPage::Step() {
    ++StepsDone;
    if (StepsTotal <= 0) return;
    int position = ProgressPercent(StepsDone, StepsTotal);
    if (position == leftPercent_) return;
    leftPercent_ = position;
    LeaveForPage([position] {
        Left.percent = position;
        Left.percentLeft = true;
    });
}

void ProgressPage::Status(const std::string& text) {
    LeaveForPage([&text] {
        Left.text = text;
        Left.textLeft = true;
    });
}
