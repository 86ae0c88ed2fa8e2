// Driving the wizard's pages from the thread that runs them, and registry keys for tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <string>

#include "qzHandles.h"

namespace test {

// A script of steps run on the page loop's own thread: a thread timer fires every 10 ms in
// whatever loop the thread runs (a page loop, a message box's loop), and each tick runs the
// next step once its condition holds. When no step becomes ready for 20 s, the script
// records a failure, closes any box and ends the running page with Cancel; when the thread
// stops serving messages altogether for 40 s, a watchdog ends the test program with a
// message. No test hangs. One script at a time.
class PageScript {
public:
    PageScript();
    ~PageScript();
    PageScript(const PageScript&) = delete;
    PageScript& operator=(const PageScript&) = delete;

    // Waits until the named page is current, shown, enabled (no box over it) and has no
    // result yet, then acts on it.
    PageScript& On(const std::string& pageName, std::function<void(HWND page)> action);
    // Waits until the condition holds, then acts.
    PageScript& When(std::function<bool()> condition, std::function<void()> action);
    bool Finished() const { return steps_.empty(); }

private:
    struct Step {
        std::function<bool()> ready;
        std::function<void()> action;
    };
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    static DWORD WINAPI Watch(LPVOID parameter);
    void RunReadyStep();
    void Abandon();

    std::deque<Step> steps_;
    UINT_PTR timer_ = 0;
    DWORD lastProgress_ = 0;
    std::atomic<DWORD> lastTick_{0};
    bool busy_ = false;
    qz::UniqueHandle stopWatching_;
    qz::UniqueHandle watchdog_;
};

// A visible dialog box (a message box) of this thread owned by the window (or unowned),
// other than the wizard's pages; null when there is none.
HWND FindBoxOwnedBy(HWND owner);
// Posts BM_CLICK to a control of the page.
void Click(HWND page, int id);
// Posts a key press to the page's Next button, as the keyboard would.
void PressKey(HWND page, UINT key);
bool IsChecked(HWND page, int id);
bool IsShown(HWND page, int id);
bool IsEnabled(HWND page, int id);
std::string ControlText(HWND page, int id);
void SetControlText(HWND page, int id, const std::string& text);

// A registry key HKCU\Software\QzTests\<name>-<pid>-<n>, deleted with its subkeys at the end.
class TestKey {
public:
    explicit TestKey(const std::string& name);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    // The key in the registry path syntax: "HKCU\Software\QzTests\...".
    const std::string& Path() const { return path_; }
    // Creates the subkey (relative, may be empty) and sets a value there.
    void SetDword(const std::string& subkey, const std::string& name, DWORD value);
    void SetString(const std::string& subkey, const std::string& name, const std::string& text);
    bool Exists(const std::string& subkey) const;

private:
    std::string subkey_;  // below HKEY_CURRENT_USER
    std::string path_;
};

}  // namespace test
