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
const UINT StageMessage = WM_APP + 2;      // sent to it: the stage in wParam has ended

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

// The stage's last status and the bar drawn first, then its finished icon over its
// in-progress icon (which stays visible below), and the next stage's in-progress icon.
void EndStage(HWND statusLine, int stage) {
    TakeLeftReports(statusLine, false);
    HWND page = GetParent(statusLine);
    RedrawWindow(GetDlgItem(page, IDC_PROGRESS), nullptr, nullptr, RDW_UPDATENOW);
    SetWindowPos(GetDlgItem(page, IDC_STAGE_ICON + 1 + 2 * stage), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (stage < STAGE_COUNT - 1) ShowWindow(GetDlgItem(page, IDC_STAGE_ICON + 2 * (stage + 1)), SW_SHOW);
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
        case StageMessage:
            EndStage(control, static_cast<int>(wParam));
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
    statusLine_ = GetDlgItem(CurrentPage, IDC_STATUS);
    {
        qz::Lock guard(Left.lock);
        Left.statusLine = statusLine_;
        Left.textLeft = Left.percentLeft = Left.pageAwake = false;
    }
    ShowWindow(GetDlgItem(CurrentPage, IDC_STAGE_ICON), SW_SHOW);
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
}

void ProgressPage::Stage() {
    SendMessageA(statusLine_, StageMessage, static_cast<WPARAM>(StageIndex), 0);
    if (StageIndex < STAGE_COUNT - 1) ++StageIndex;
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
