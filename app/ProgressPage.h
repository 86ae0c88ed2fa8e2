// The progress page (DLG_UNINSTALL): seven stage icons, a bar and a status line.
#pragma once

#include <windows.h>

#include "Progress.h"

// Prepares a newly created progress page: buttons disabled, stage icons hidden, the status
// line drawn at most once a frame.
void InitProgressPage(HWND page);

// Reports of the worker on the current page. Begin shows stage 0 in progress and sets the
// bar's range to 0..100.
class ProgressPage final : public ProgressSink {
public:
    void Begin();
    void Status(const std::string& text) override;
    void Step() override;
    void Stage() override;

private:
    // The bar's position as Step last set it, and the page it was set on: a step that leaves
    // the rounded position where it is does not call the page.
    int shownPercent_ = -1;
    HWND shownOn_ = nullptr;
};
