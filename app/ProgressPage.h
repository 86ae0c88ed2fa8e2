// The progress page (DLG_UNINSTALL): seven stage icons, a bar and a status line.
#pragma once

#include <windows.h>

#include "Progress.h"

// Prepares a newly created progress page: buttons disabled, stage icons hidden, the status
// line and the bar fed with what the worker leaves for them.
void InitProgressPage(HWND page);

// Reports of the worker on the current page. Begin shows stage 0 in progress and sets the
// bar's range to 0..100.
//
// A status text or a step does not wait for the page: the worker leaves the latest text and
// bar position under a lock and posts one wake-up when none is pending; the page takes what
// is left at once, then once a frame while more comes, and whenever the status line's text
// is asked for, so the line never shows an older text than the worker last left. A stage
// waits for the page, in one call: what was left is taken and drawn first, so each stage's
// last status and the bar are on screen before the stage's icons change.
class ProgressPage final : public ProgressSink {
public:
    void Begin();
    void Status(const std::string& text) override;
    void Step() override;
    void Stage() override;

private:
    HWND statusLine_ = nullptr;
    int leftPercent_ = -1;  // the bar position last left: a step that keeps it leaves nothing
};
