#include "SecondThread.h"

#include "TestSupport.h"
#include "qzHandles.h"

namespace test {

namespace {

DWORD WINAPI RunWork(LPVOID parameter) {
    (*static_cast<const std::function<void()>*>(parameter))();
    return 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
}

}  // namespace

bool RunOnSecondThread(const std::function<void()>& work,
                       const std::function<void(DWORD)>& onWait, DWORD timeoutMs) {
    DWORD id = 0;
    qz::UniqueHandle thread(CreateThread(nullptr, 0, RunWork,
                                         const_cast<std::function<void()>*>(&work), 0, &id));
    if (!thread) return false;
    bool ended = WaitUntil(
        [&] {
            if (WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0) return true;
            if (onWait) onWait(id);
            return false;
        },
        timeoutMs);
    if (!ended) {
        TerminateThread(thread.Get(), 1);
        WaitForSingleObject(thread.Get(), 5000);
    }
    return ended;
}

HWND ThreadDialog(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace test
