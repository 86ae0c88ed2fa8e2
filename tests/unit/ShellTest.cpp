#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include <shlobj.h>

#include "TestSupport.h"
#include "qzShell.h"

namespace {

// The two lines of an exitcode.exe mark file: its command line and working directory.
struct Mark {
    std::string commandLine;
    std::string directory;
};

Mark ReadMark(const std::string& path) {
    const std::string text = test::ReadFileBytes(path);
    const size_t end = text.find("\r\n");
    if (end == std::string::npos) return {};
    return {text.substr(0, end), text.substr(end + 2, text.find("\r\n", end + 2) - end - 2)};
}

// Sets an environment variable of the test process (inherited by children) for a scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(name_, nullptr); }

private:
    const char* name_;
};

std::string CopyOfExitCode(test::TempFolder& temp, const std::string& relative) {
    const std::string path = temp.Write(relative);
    EXPECT_TRUE(CopyFileA(test::HelperProgram("exitcode").c_str(), path.c_str(), FALSE));
    return path;
}

}  // namespace

TEST(RunAndWait, StartsProgramWithQuotedPathAndUnquotedWorkingFolder) {
    test::TempFolder temp("run");
    const std::string program = CopyOfExitCode(temp, "Program Files\\Exit Code.EXE");
    const std::string workFolder = temp / "work dir";
    ASSERT_TRUE(CreateDirectoryA(workFolder.c_str(), nullptr));

    for (const std::string& directory : {"\"" + workFolder + "\"", workFolder + " \t"}) {
        const std::string markFile = workFolder + "\\mark.txt";
        DeleteFileA(markFile.c_str());
        EXPECT_EQ(RunAndWait(nullptr, program, "7 --mark mark.txt", directory, SW_HIDE), 7);
        Mark mark = ReadMark(markFile);
        EXPECT_EQ(mark.commandLine, "\"" + program + "\" 7 --mark mark.txt");
        EXPECT_EQ(mark.directory, workFolder);
    }

    ScopedEnvironment marked("EXITCODE_MARK", temp / "bare.txt");
    EXPECT_EQ(RunAndWait(nullptr, program, "", "", SW_HIDE), 0);
    EXPECT_EQ(ReadMark(temp / "bare.txt").commandLine, "\"" + program + "\"");
}

TEST(RunAndWait, RunsBatchFileWithBlanksInItsPath) {
    test::TempFolder temp("runbat");
    const std::string script = temp.Write("my scripts\\run me.bat", "@exit %1\r\n");
    EXPECT_EQ(RunAndWait(nullptr, script, "5", "", SW_HIDE), 5);
}

namespace {

// Saves a shell shortcut to target with the given arguments and working folder.
bool SaveShortcut(const std::string& path, const std::string& target, const std::string& arguments,
                  const std::string& directory) {
    HRESULT com = CoInitialize(nullptr);
    auto uninitialize = qz::OnScopeExit([com] { if (SUCCEEDED(com)) CoUninitialize(); });
    qz::ComPtr<IShellLinkA> link;
    qz::ComPtr<IPersistFile> file;
    const std::wstring widePath(path.begin(), path.end());  // the test paths are ASCII
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<void**>(link.Put()))) &&
           SUCCEEDED(link->SetPath(target.c_str())) &&
           SUCCEEDED(link->SetArguments(arguments.c_str())) &&
           SUCCEEDED(link->SetWorkingDirectory(directory.c_str())) &&
           SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()))) &&
           SUCCEEDED(file->Save(widePath.c_str(), TRUE));
}

}  // namespace

// CreateProcessA refuses a shortcut (error 193), so it must start the shortcut's target.
TEST(RunAndWait, ShortcutStartsItsTargetWithItsArgumentsAndFolder) {
    test::TempFolder temp("runlnk");
    const std::string program = CopyOfExitCode(temp, "bin dir\\exitcode.exe");
    const std::string folder = temp / "link work";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string shortcut = temp / "Run It.LNK";
    ASSERT_TRUE(SaveShortcut(shortcut, program, "6", folder));
    EXPECT_EQ(RunAndWait(nullptr, shortcut, "--mark m.txt", "", SW_HIDE), 6);
    Mark mark = ReadMark(folder + "\\m.txt");
    EXPECT_EQ(mark.commandLine, "\"" + program + "\" 6 --mark m.txt");
    EXPECT_EQ(mark.directory, folder);
}

TEST(RunAndWait, ProgramThatCannotStartGivesMinusOneWithoutWaiting) {
    test::TempFolder temp("runbad");
    const std::string broken = temp.Write("broken.exe", "this is not a program");
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunAndWait(nullptr, temp / "missing.exe", "", "", SW_HIDE), -1);
    EXPECT_EQ(RunAndWait(nullptr, "qz-no-such-program", "1", "", SW_HIDE), -1);
    EXPECT_EQ(RunAndWait(nullptr, broken, "", "", SW_HIDE), -1);
    EXPECT_EQ(RunAndWait(nullptr, temp / "missing.qzdoc", "", "", SW_HIDE), -1);
    EXPECT_LT(GetTickCount() - start, 15000u) << "no error box may wait for an answer";
}

// A document type of its own, opened by exitcode.exe, registered for the test's duration.
class DocumentType : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string command =
            "\"" + test::HelperProgram("exitcode") + "\" 9 --mark \"%1.mark\"";
        ASSERT_TRUE(SetDefault(".qzdoc", "QzTestDocument"));
        ASSERT_TRUE(SetDefault("QzTestDocument\\shell\\open\\command", command));
    }
    void TearDown() override {
        for (const char* key : {"QzTestDocument\\shell\\open\\command", "QzTestDocument\\shell\\open",
                                "QzTestDocument\\shell", "QzTestDocument", ".qzdoc"})
            RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    }
    static bool SetDefault(const std::string& subkey, const std::string& value) {
        qz::UniqueKey key;
        return RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0, KEY_WRITE,
                               nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
               RegSetValueExA(key.Get(), nullptr, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
};

TEST_F(DocumentType, DocumentOpensThroughTheShellWithItsPathUnchanged) {
    test::TempFolder temp("rundoc");
    const std::string document = temp.Write("a folder\\notes.qzdoc");
    EXPECT_EQ(RunAndWait(nullptr, document, "", "", SW_HIDE), 9);
    EXPECT_NE(ReadMark(document + ".mark").commandLine.find(document), std::string::npos);
}

TEST(RunAndWait, ProgramNameThatIsNoPathGoesThroughTheShell) {
    ScopedEnvironment path("PATH", test::BinFolder());
    EXPECT_EQ(RunAndWait(nullptr, "exitcode.exe", "4", "", SW_HIDE), 4);
}

namespace {

std::atomic<bool> Waiting{false};
std::atomic<int> HandledWhileWaiting{0};

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP && Waiting) ++HandledWhileWaiting;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

TEST(RunAndWait, DispatchesTheThreadsMessagesWhileWaiting) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QzRunAndWaitTest";
    RegisterClassA(&windowClass);
    qz::UniqueWindow window(CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 10,
                                            10, nullptr, nullptr, windowClass.hInstance, nullptr));
    ASSERT_TRUE(window);
    HandledWhileWaiting = 0;
    std::atomic<DWORD_PTR> sentResult{0};
    std::thread other([&] {
        Sleep(300);
        PostMessageA(window.Get(), WM_APP, 0, 0);
        SendMessageTimeoutA(window.Get(), WM_APP, 0, 0, SMTO_BLOCK, 5000, nullptr);
        sentResult = 1;
    });
    Waiting = true;
    int32_t code = RunAndWait(nullptr, test::HelperProgram("exitcode"), "2 --sleep 1500", "", SW_HIDE);
    Waiting = false;
    other.join();
    EXPECT_EQ(code, 2);
    EXPECT_EQ(HandledWhileWaiting, 2) << "a posted and a sent message, both served during the wait";
}
