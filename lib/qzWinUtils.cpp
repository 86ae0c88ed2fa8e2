#include "qzWinUtils.h"

#include <float.h>

#include <utility>
#include <vector>

#include "qzHandles.h"

std::string AppTitle;
UINT MsgBoxFlags = 0;
HWND MainWindow = nullptr;
int (*BoxObserver)(const std::string& text, UINT type) = nullptr;

namespace {

// The CBT hook that centres the next box the thread activates. One for the whole process:
// boxes are opened on the main thread only.
qz::UniqueHook BoxHook;

// Some systems (Wine among them) activate a message box while it initialises, before it
// has sized and placed itself; such a box is centred again when it is being shown. The
// subclass removes itself then, or when the box goes away first.
WNDPROC BoxOriginalProc = nullptr;

LRESULT CALLBACK CenterWhenShownProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = BoxOriginalProc;
    bool shown = message == WM_SHOWWINDOW && wParam;
    if (shown || message == WM_NCDESTROY)
        SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    LRESULT result = CallWindowProcA(original, box, message, wParam, lParam);
    if (shown) CenterWindow(box);
    return result;
}

void CenterBox(HWND box) {
    CenterWindow(box);
    if (IsWindowVisible(box)) return;
    BoxOriginalProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(box, GWLP_WNDPROC));
    SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CenterWhenShownProc));
}

LRESULT CALLBACK CenterBoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE) return 0;
    CenterBox(reinterpret_cast<HWND>(wParam));
    LRESULT result = CallNextHookEx(BoxHook.Get(), code, wParam, lParam);
    BoxHook.Reset();
    return result;
}

void ShowOwnedBox(const std::string& text, UINT type) {
    ShowMessageBox(GetLastActivePopup(MainWindow), AppTitle, text, type | MB_OK);
}

}  // namespace

int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type) {
    if (BoxObserver)
        if (int answer = BoxObserver(text, type)) return answer;
    BoxHook.Reset(SetWindowsHookExA(WH_CBT, CenterBoxHook, nullptr, GetCurrentThreadId()));
    auto unhook = qz::OnScopeExit([] { BoxHook.Reset(); });
    return MessageBoxA(owner, text.c_str(), caption.c_str(), MsgBoxFlags | MB_TASKMODAL | type);
}

namespace {

// The errors kept by GuardCallback, one per thread at most (the main thread and the
// uninstall worker both run callbacks).
struct CallbackErrors {
    qz::CriticalSection lock;
    std::vector<std::pair<DWORD, std::exception_ptr>> pending;
};

CallbackErrors& Errors() {
    static CallbackErrors errors;
    return errors;
}

}  // namespace

void KeepCallbackError(std::exception_ptr error) {
    qz::Lock guard(Errors().lock);
    if (!CallbackFailed()) Errors().pending.emplace_back(GetCurrentThreadId(), error);
}

bool CallbackFailed() {
    qz::Lock guard(Errors().lock);
    for (const auto& entry : Errors().pending)
        if (entry.first == GetCurrentThreadId()) return true;
    return false;
}

void RethrowCallbackError() {
    std::exception_ptr error;
    {
        qz::Lock guard(Errors().lock);
        auto& pending = Errors().pending;
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->first != GetCurrentThreadId()) continue;
            error = it->second;
            pending.erase(it);
            break;
        }
    }
    if (error) std::rethrow_exception(error);
}

void ErrorBox(const std::string& text) { ShowOwnedBox(text, MB_ICONERROR); }

void WarningBox(const std::string& text) { ShowOwnedBox(text, MB_ICONWARNING); }

void ProcessMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Sleep(1);
}

void CenterWindow(HWND window) {
    RECT workArea = GetWorkArea();
    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    LONG width = RectWidth(rect), height = RectHeight(rect);
    LONG x = workArea.left + (RectWidth(workArea) - width) / 2;
    LONG y = workArea.top + (RectHeight(workArea) - height) / 2;
    rect = {x, y, x + width, y + height};
    FitRectToScreen(rect);
    SetWindowPos(window, nullptr, rect.left, rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitRectToScreen(RECT& rect) {
    SIZE screen = GetScreenSize();
    auto moveX = [&rect](LONG dx) { rect.left += dx; rect.right += dx; };
    auto moveY = [&rect](LONG dy) { rect.top += dy; rect.bottom += dy; };
    if (rect.right > screen.cx) moveX(screen.cx - rect.right);
    if (rect.left < 0) moveX(-rect.left);
    if (rect.bottom > screen.cy) moveY(screen.cy - rect.bottom);
    if (rect.top < 0) moveY(-rect.top);
}

SIZE GetScreenSize() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

RECT GetWorkArea() {
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

void RepaintWindow(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

std::string GetWindowsDir() {
    char buffer[MAX_PATH + 1];
    UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    std::string folder(buffer, length < sizeof buffer ? length : 0);
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    return folder;
}

std::string GetModuleName() {
    std::string name(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

namespace {
// The precision control exists only on the 32-bit floating-point unit.
#ifdef __i386__
constexpr unsigned int ControlWordMask = _MCW_EM | _MCW_RC | _MCW_PC;
#else
constexpr unsigned int ControlWordMask = _MCW_EM | _MCW_RC;
#endif
}  // namespace

bool IsNTPlatform() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

HMODULE LoadLibraryQuiet(const std::string& name) {
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    unsigned int controlWord = _controlfp(0, 0);
    auto restore = qz::OnScopeExit([previousMode, controlWord] {
        _clearfp();
        _controlfp(controlWord, ControlWordMask);
        SetErrorMode(previousMode);
    });
    return LoadLibraryA(name.c_str());
}
