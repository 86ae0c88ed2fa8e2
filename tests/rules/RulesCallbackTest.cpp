// An exception cannot unwind through the system code that calls a window procedure.
#include <gtest/gtest.h>

#include "qzErrors.h"
#include "qzHandles.h"
#include "qzWinUtils.h"

namespace {

LRESULT CALLBACK ThrowingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
    return GuardCallback([]() -> LRESULT { throw EInOutError("Cannot open file x.ini"); }, LRESULT{7});
}

// The guard keeps the error, the window call returns the fallback, and the code that made
// the call rethrows the error, once.
TEST(RulesCallback, AnErrorInAWindowProcedureReachesTheCodeThatCalledTheSystem) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ThrowingProc;
    windowClass.lpszClassName = "QzThrowingWindow";
    RegisterClassA(&windowClass);
    qz::UniqueWindow window(CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                            nullptr, nullptr));
    EXPECT_EQ(SendMessageA(window.Get(), WM_USER, 0, 0), 7);
    EXPECT_TRUE(CallbackFailed());
    EXPECT_THROW(RethrowCallbackError(), EInOutError);
    EXPECT_FALSE(CallbackFailed());
    EXPECT_NO_THROW(RethrowCallbackError());
}

}  // namespace
