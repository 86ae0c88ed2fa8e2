#include "qzWinUtils.h"
// Placeholder until message boxes land.
std::string AppTitle;
UINT MsgBoxFlags = 0;
HWND MainWindow = nullptr;
void ErrorBox(const std::string& text) { MessageBoxA(MainWindow, text.c_str(), AppTitle.c_str(), MB_ICONERROR | MB_TASKMODAL | MsgBoxFlags); }
std::string GetModuleName() { char b[MAX_PATH]; DWORD n = GetModuleFileNameA(nullptr, b, MAX_PATH); return std::string(b, n); }
std::string GetWindowsDir() { char b[MAX_PATH]; UINT n = GetWindowsDirectoryA(b, MAX_PATH); return std::string(b, n); }
