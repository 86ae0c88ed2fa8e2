#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "qzWinUtils.h"

namespace {

struct BoxSeen {
    RECT rect{};
    std::string caption, text;
    LONG_PTR style = 0;
};

// Waits on a second thread for the test process's message box, records it and presses OK.
class BoxCloser {
public:
    BoxCloser()
        : thread_([this] {
              HWND box = test::WaitForWindow([] {
                  auto boxes = test::ProcessWindows(GetCurrentProcessId(), "#32770");
                  return boxes.empty() ? nullptr : boxes.front();
              });
              if (!box) return;
              found_ = true;
              // Read the place once the box has settled (it is shown before it is moved).
              RECT previous{};
              for (int i = 0; i < 40; ++i) {
                  GetWindowRect(box, &seen_.rect);
                  if (i > 0 && EqualRect(&previous, &seen_.rect)) break;
                  previous = seen_.rect;
                  Sleep(50);
              }
              seen_.caption = test::WindowText(box);
              seen_.text = test::StaticTexts(box);
              PostMessageA(box, WM_COMMAND, IDOK, 0);
          }) {}
    ~BoxCloser() {
        if (thread_.joinable()) thread_.join();
    }
    const BoxSeen& Seen() {
        thread_.join();
        return seen_;
    }
    bool Found() const { return found_; }

private:
    BoxSeen seen_;
    bool found_ = false;
    std::thread thread_;
};

void ExpectCentredInWorkArea(const RECT& rect) {
    RECT area = GetWorkArea();
    EXPECT_EQ(rect.left, area.left + (RectWidth(area) - RectWidth(rect)) / 2);
    EXPECT_EQ(rect.top, area.top + (RectHeight(area) - RectHeight(rect)) / 2);
}

// A work area smaller than the screen, as when a taskbar takes part of it; restored at the end.
class ShrunkWorkArea {
public:
    ShrunkWorkArea() : saved_(GetWorkArea()) {
        RECT area{40, 30, saved_.right - 100, saved_.bottom - 60};
        SystemParametersInfoA(SPI_SETWORKAREA, 0, &area, 0);
    }
    ~ShrunkWorkArea() { SystemParametersInfoA(SPI_SETWORKAREA, 0, &saved_, 0); }

private:
    RECT saved_;
};

TEST(WinUtils, ErrorBoxIsCentredOnTheWorkAreaCaptionedWithTheTitle) {
    AppTitle = "Quorvel Uninstaller";
    MainWindow = nullptr;
    for (bool shrunk : {false, true}) {
        std::unique_ptr<ShrunkWorkArea> workArea;
        if (shrunk) workArea = std::make_unique<ShrunkWorkArea>();
        BoxCloser closer;
        ErrorBox("Something 100% went wrong");
        const BoxSeen& seen = closer.Seen();
        ASSERT_TRUE(closer.Found());
        EXPECT_EQ(seen.caption, "Quorvel Uninstaller");
        EXPECT_NE(seen.text.find("Something 100% went wrong"), std::string::npos);
        ExpectCentredInWorkArea(seen.rect);
    }
}

TEST(WinUtils, ShowMessageBoxReturnsTheButtonAndLeavesNoHookBehind) {
    BoxCloser closer;
    EXPECT_EQ(ShowMessageBox(nullptr, "caption", "text", MB_OKCANCEL), IDOK);
    EXPECT_EQ(closer.Seen().caption, "caption");
    // A window activated after the box is not moved any more.
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 5, 7, 50, 40, nullptr,
                                  nullptr, nullptr, nullptr);
    SetActiveWindow(window);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.top, 7);
    DestroyWindow(window);
}

TEST(WinUtils, CenterWindowKeepsTheSizeAndFitsTheScreen) {
    SIZE screen = GetScreenSize();
    HWND small = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                 nullptr, nullptr);
    CenterWindow(small);
    RECT rect;
    GetWindowRect(small, &rect);
    EXPECT_EQ(RectWidth(rect), 300);
    EXPECT_EQ(RectHeight(rect), 200);
    ExpectCentredInWorkArea(rect);
    DestroyWindow(small);

    HWND wide = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, screen.cx + 200, 100, nullptr,
                                nullptr, nullptr, nullptr);
    CenterWindow(wide);
    GetWindowRect(wide, &rect);
    EXPECT_EQ(rect.left, 0);
    DestroyWindow(wide);
}

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(WinUtils, FitRectToScreenMovesWithoutResizing) {
    SIZE s = GetScreenSize();
    const std::pair<RECT, RECT> cases[] = {
        {{s.cx - 50, 10, s.cx + 50, 60}, {s.cx - 100, 10, s.cx, 60}},
        {{-20, -30, 80, 70}, {0, 0, 100, 100}},
        {{-10, -10, s.cx + 90, s.cy + 190}, {0, 0, s.cx + 100, s.cy + 200}},  // too big: kept at the corner
    };
    for (auto [rect, fitted] : cases) {
        FitRectToScreen(rect);
        EXPECT_EQ(Text(rect), Text(fitted));
    }
}

TEST(WinUtils, ProcessMessagesDispatchesUntilAQuitWhichStaysConsumed) {
    test::MessageCounter counter(WM_APP);
    PostMessageA(counter.Window(), WM_APP, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostMessageA(counter.Window(), WM_APP, 0, 0);
    ProcessMessages();
    EXPECT_EQ(counter.Count(), 1);

    MSG message;
    EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_APP));
    ProcessMessages();
    EXPECT_EQ(counter.Count(), 2);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST(WinUtils, SystemQueries) {
    std::string windows = GetWindowsDir();
    EXPECT_EQ(windows.back() == '\\', false);
    EXPECT_NE(GetFileAttributesA(windows.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetModuleName(), test::BinFolder() + "unit_tests.exe");
    EXPECT_TRUE(IsNTPlatform());

    UINT before = SetErrorMode(0);
    SetErrorMode(before);
    EXPECT_EQ(LoadLibraryQuiet("Z:\\no\\such\\library.dll"), nullptr);
    EXPECT_EQ(SetErrorMode(before), before);
    HMODULE kernel = LoadLibraryQuiet("kernel32.dll");
    EXPECT_NE(kernel, nullptr);
    FreeLibrary(kernel);
}

}  // namespace
