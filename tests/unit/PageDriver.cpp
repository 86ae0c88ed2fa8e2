#include "PageDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "Globals.h"
#include "TestSupport.h"
#include "Wizard.h"
#include "qzHandles.h"
#include "resource.h"

namespace test {

namespace {

PageScript* ActiveScript = nullptr;
const DWORD StallLimitMs = 20000;
const DWORD StalledLoopLimitMs = 40000;

struct BoxQuery {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedBox(HWND window, LPARAM parameter) {
    auto* query = reinterpret_cast<BoxQuery*>(parameter);
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (window != CurrentPage && window != PreviousPage && IsWindowVisible(window) &&
        lstrcmpA(name, "#32770") == 0 && GetWindow(window, GW_OWNER) == query->owner) {
        query->found = window;
        return FALSE;
    }
    return TRUE;
}

// Deletes a key below HKEY_CURRENT_USER with everything in it.
void DeleteTree(const std::string& subkey) {
    std::vector<std::string> children;
    {
        qz::UniqueKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
            return;
        char name[256];
        DWORD length = sizeof name;
        for (DWORD i = 0; RegEnumKeyExA(key.Get(), i, name, &length, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
             ++i, length = sizeof name)
            children.push_back(subkey + "\\" + name);
    }
    for (const std::string& child : children) DeleteTree(child);
    RegDeleteKeyA(HKEY_CURRENT_USER, subkey.c_str());
}

}  // namespace

PageScript::PageScript() {
    ActiveScript = this;
    lastProgress_ = GetTickCount();
    lastTick_ = lastProgress_;
    timer_ = SetTimer(nullptr, 0, 10, Tick);
    stopWatching_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    watchdog_.Reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

PageScript::~PageScript() {
    SetEvent(stopWatching_.Get());
    WaitForSingleObject(watchdog_.Get(), INFINITE);
    KillTimer(nullptr, timer_);
    ActiveScript = nullptr;
}

DWORD WINAPI PageScript::Watch(LPVOID parameter) {
    auto* self = static_cast<PageScript*>(parameter);
    while (WaitForSingleObject(self->stopWatching_.Get(), 500) == WAIT_TIMEOUT) {
        if (GetTickCount() - self->lastTick_ > StalledLoopLimitMs) {
            fprintf(stderr, "the page loop stopped serving messages\n");
            fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    return 0;
}

PageScript& PageScript::On(const std::string& pageName, std::function<void(HWND)> action) {
    auto ready = [pageName] {
        // PreviousPage becomes the page just before its own loop starts.
        return CurrentPageName == pageName && CurrentPage && PreviousPage == CurrentPage &&
               IsWindowVisible(CurrentPage) && IsWindowEnabled(CurrentPage) &&
               !FindBoxOwnedBy(CurrentPage) && PageResult == 0;
    };
    steps_.push_back({ready, [action] { action(CurrentPage); }});
    return *this;
}

PageScript& PageScript::When(std::function<bool()> condition, std::function<void()> action) {
    steps_.push_back({std::move(condition), std::move(action)});
    return *this;
}

void CALLBACK PageScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!ActiveScript) return;
    ActiveScript->lastTick_ = GetTickCount();
    ActiveScript->RunReadyStep();
}

void PageScript::RunReadyStep() {
    if (busy_) return;  // a step's action runs a loop of its own
    busy_ = true;
    if (!steps_.empty() && steps_.front().ready()) {
        Step step = std::move(steps_.front());
        steps_.pop_front();
        step.action();
        lastProgress_ = GetTickCount();
    } else if (GetTickCount() - lastProgress_ > StallLimitMs && (!Finished() || PageResult == 0)) {
        Abandon();
    }
    busy_ = false;
}

void PageScript::Abandon() {
    ADD_FAILURE() << "page script stalled on " << CurrentPageName << " with " << steps_.size()
                  << " steps left";
    lastProgress_ = GetTickCount();
    steps_.clear();
    if (HWND box = FindBoxOwnedBy(CurrentPage)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    PageResult = PageCancel;
}

HWND FindBoxOwnedBy(HWND owner) {
    BoxQuery query{owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedBox, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

void Click(HWND page, int id) { PostMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }

void PressKey(HWND page, UINT key) {
    PostMessageA(GetDlgItem(page, IDC_NEXT), WM_KEYDOWN, key, 1);
}

bool IsChecked(HWND page, int id) {
    return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsShown(HWND page, int id) { return IsWindowVisible(GetDlgItem(page, id)) != FALSE; }

bool IsEnabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }

std::string ControlText(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }

void SetControlText(HWND page, int id, const std::string& text) {
    SetDlgItemTextA(page, id, text.c_str());
}

TestKey::TestKey(const std::string& name) {
    static std::atomic<int> counter{0};
    subkey_ = "Software\\QzTests\\" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++counter);
    path_ = "HKCU\\" + subkey_;
    DeleteTree(subkey_);
}

TestKey::~TestKey() { DeleteTree(subkey_); }

namespace {

qz::UniqueKey CreateKey(const std::string& subkey) {
    qz::UniqueKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                    key.Put(), nullptr);
    return key;
}

std::string Join(const std::string& key, const std::string& subkey) {
    return subkey.empty() ? key : key + "\\" + subkey;
}

}  // namespace

void TestKey::SetDword(const std::string& subkey, const std::string& name, DWORD value) {
    qz::UniqueKey key = CreateKey(Join(subkey_, subkey));
    RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
}

void TestKey::SetString(const std::string& subkey, const std::string& name,
                        const std::string& text) {
    qz::UniqueKey key = CreateKey(Join(subkey_, subkey));
    RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

bool TestKey::Exists(const std::string& subkey) const {
    qz::UniqueKey key;
    return RegOpenKeyExA(HKEY_CURRENT_USER, Join(subkey_, subkey).c_str(), 0, KEY_READ,
                         key.Put()) == ERROR_SUCCESS;
}

}  // namespace test
