// The wizard: modeless dialog pages, one at a time, each served by its own loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr int32_t PageBack = 101;
constexpr int32_t PageNext = 102;
constexpr int32_t PageCancel = 103;

// Shows the page and serves the thread's messages until it has a result: 101, 102 or 103.
// 103 also when the template cannot be created, or when the worker ends without a result.
int32_t RunPage(const std::string& name);
// The pages before the uninstall or repair: 102 to go ahead with ActionChoice, 103 to stop.
int32_t RunPageSequence();
INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
