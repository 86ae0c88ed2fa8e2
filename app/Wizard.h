// The wizard: modeless dialog pages, one at a time, each served by its own loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr int32_t PageBack = 101;
constexpr int32_t PageNext = 102;
constexpr int32_t PageCancel = 103;

int32_t RunPage(const std::string& name);
int32_t RunPageSequence();
INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Progress page operations, called from the worker thread.
void AdvanceStage();
void StepProgress();
void SetStatusText(const std::string& text);
