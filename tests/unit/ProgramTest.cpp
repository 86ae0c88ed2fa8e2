// The built uninstall.exe started as a separate process, as Add/Remove Programs starts it.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

const char NotFoundCaption[] = "Quorvel Uninstaller";

// An application folder (with a blank in its name) holding a copy of the uninstaller.
class AppFolderFixture : public ::testing::Test {
protected:
    AppFolderFixture() : root_("program") {
        folder_ = root_ / "My App\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        exe_ = folder_ + "uninstall.exe";
        CopyFileA((test::BinFolder() + "uninstall.exe").c_str(), exe_.c_str(), FALSE);
    }

    // Starts the uninstaller with the given argument text (may be empty), from another folder.
    void Start(const std::string& arguments) {
        std::string commandLine = "\"" + exe_ + "\"" + (arguments.empty() ? "" : " " + arguments);
        ASSERT_TRUE(process_.Start(commandLine, root_.Path()));
    }

    // The texts of the one message box the process shows, which is then closed; "" when the
    // process ended (or showed a wizard page) without a box.
    std::string CloseOnlyBox() {
        HWND box = test::WaitForWindow([this]() -> HWND {
            for (HWND window : test::ProcessWindows(process_.Id(), "#32770"))
                if (test::WindowText(window) == NotFoundCaption) return window;
            if (!process_.Running()) return HWND(1);
            return nullptr;
        });
        if (box == HWND(1) || !box) return "";
        std::string text = test::StaticTexts(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }

    // Cancels every wizard page the process shows until it ends; its exit code.
    int CancelPagesUntilExit() {
        for (int round = 0; round < 50 && process_.Running(); ++round) {
            for (HWND page : test::ProcessWindows(process_.Id(), "#32770"))
                if (test::WindowText(page) != NotFoundCaption) PostMessageA(page, WM_COMMAND, IDCANCEL, 0);
            if (process_.Wait(200) != -1) break;
        }
        return process_.Wait(20000);
    }

    std::string TaskbarTitle() {
        HWND main = test::WaitForWindow([this] {
            auto windows = test::ProcessWindows(process_.Id(), "QVUninstallMainWindow");
            return windows.empty() ? HWND(nullptr) : windows.front();
        });
        return main ? test::WindowText(main) : "<no main window>";
    }

    test::TempFolder root_;
    std::string folder_, exe_;
    test::ChildProcess process_;
};

TEST_F(AppFolderFixture, MissingLogShowsOneBoxNamingThePathAndEndsWithZero) {
    struct Case {
        std::string arguments, path;
    };
    const Case cases[] = {
        {"", folder_ + "install.log"},  // a folder of that name counts as missing
        {"\"" + root_.Path() + "no such\\in 100%s.log\"", root_.Path() + "no such\\in 100%s.log"},
        {root_.Path() + "plain.log second", root_.Path() + "plain.log"},
    };
    CreateDirectoryA((folder_ + "install.log").c_str(), nullptr);
    for (const Case& c : cases) {
        Start(c.arguments);
        EXPECT_EQ(CloseOnlyBox(), "Installation log file " + c.path + " not found!") << c.arguments;
        EXPECT_EQ(process_.Wait(20000), 0);
        EXPECT_TRUE(test::ProcessWindows(process_.Id()).empty());
    }
}

// The log beside the program is read without arguments; a (quoted) argument wins over it.
TEST_F(AppFolderFixture, LogIsTheArgumentOrTheOneBesideTheProgram) {
    test::WriteFileBytes(folder_ + "install.log", "[Strings]\r\n1=Beside Title\r\nAppID=Beside\r\n");
    std::string other = root_.Write("other place\\my log.txt", "[Strings]\r\n1=Argument Title\r\n");
    for (const auto& [arguments, title] : {std::pair<std::string, std::string>{"", "Beside Title"},
                                           {"\"" + other + "\" ignored-second", "Argument Title"}}) {
        Start(arguments);
        EXPECT_EQ(TaskbarTitle(), title);
        EXPECT_EQ(CancelPagesUntilExit(), 0);
    }
}

TEST_F(AppFolderFixture, ABinaryOrEmptyLogNeverCrashesTheProgram) {
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) % 256);
    for (const std::string& bytes : {binary, std::string()}) {
        test::WriteFileBytes(folder_ + "install.log", bytes);
        Start("");
        EXPECT_EQ(CancelPagesUntilExit(), 0);
    }
}

}  // namespace
