#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <commctrl.h>
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

std::string CopyOfExitCode(test::TempFolder& temp, const std::string& relative) {
    const std::string path = temp.Write(relative);
    EXPECT_TRUE(CopyFileA(test::HelperProgram("exitcode").c_str(), path.c_str(), FALSE));
    return path;
}

}  // namespace

TEST(ShellRunAndWait, StartsProgramWithQuotedPathAndUnquotedWorkingFolder) {
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

    SetEnvironmentVariableA("EXITCODE_MARK", (temp / "bare.txt").c_str());
    auto unmark = qz::OnScopeExit([] { SetEnvironmentVariableA("EXITCODE_MARK", nullptr); });
    EXPECT_EQ(RunAndWait(nullptr, program, "", "", SW_HIDE), 0);
    EXPECT_EQ(ReadMark(temp / "bare.txt").commandLine, "\"" + program + "\"");
}

TEST(ShellRunAndWait, RunsBatchFileWithBlanksInItsPath) {
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
TEST(ShellRunAndWait, ShortcutStartsItsTargetWithItsArgumentsAndFolder) {
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

TEST(ShellRunAndWait, ProgramThatCannotStartGivesMinusOneWithoutWaiting) {
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
class ShellDocumentType : public ::testing::Test {
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

TEST_F(ShellDocumentType, DocumentOpensThroughTheShellWithItsPathUnchanged) {
    test::TempFolder temp("rundoc");
    const std::string document = temp.Write("a folder\\notes.qzdoc");
    EXPECT_EQ(RunAndWait(nullptr, document, "", "", SW_HIDE), 9);
    EXPECT_NE(ReadMark(document + ".mark").commandLine.find(document), std::string::npos);
}

// Nothing but the wait can serve the messages: the test's thread is blocked in join after it.
TEST(ShellRunAndWait, DispatchesTheThreadsMessagesWhileWaiting) {
    test::MessageCounter counter(WM_APP);
    std::thread other([&] {
        Sleep(300);
        PostMessageA(counter.Window(), WM_APP, 0, 0);
        SendMessageTimeoutA(counter.Window(), WM_APP, 0, 0, SMTO_BLOCK, 5000, nullptr);
    });
    int32_t code = RunAndWait(nullptr, test::HelperProgram("exitcode"), "2 --sleep 1500", "", SW_HIDE);
    other.join();
    EXPECT_EQ(code, 2);
    EXPECT_EQ(counter.Count(), 2) << "a posted and a sent message, both served during the wait";
}

namespace {

// What the driver thread saw in the browse dialog.
struct BrowseDialogView {
    bool found = false;
    std::vector<std::string> buttons;  // texts, in the order of the dialog's children
    bool treeShowsSelectionAlways = false;
    HFONT firstButtonFont = nullptr;  // a dialog keeps its template font, its controls take ours
    std::string selectedItem;
};

std::string SelectedTreeItem(HWND tree) {
    char text[MAX_PATH] = "";
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = sizeof text;
    return item.hItem && SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) ? text : "";
}

// Looks at the dialog from the driver thread and clicks the button with the given text.
BrowseDialogView ViewAndPress(HWND dialog, const std::string& press) {
    BrowseDialogView view;
    view.found = true;
    HWND pressed = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "SysTreeView32") == 0) {
            view.treeShowsSelectionAlways = GetWindowLongPtrA(child, GWL_STYLE) & TVS_SHOWSELALWAYS;
            view.selectedItem = SelectedTreeItem(child);
        } else if (lstrcmpiA(className, "Button") == 0) {
            if (view.buttons.empty())
                view.firstButtonFont = reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0));
            view.buttons.push_back(test::WindowText(child));
            if (view.buttons.back() == press) pressed = child;
        }
    }
    if (pressed)
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(pressed), BN_CLICKED),
                     reinterpret_cast<LPARAM>(pressed));
    return view;
}

// Runs the browse on this thread (the owner's) while a second thread finds the dialog by
// its caption, looks at it and presses a button; a dialog still open afterwards is
// cancelled, so that a failing test cannot stay in the browse.
BrowseDialogView BrowseDriven(HWND owner, const std::string& caption, const std::string& press,
                              std::string& path, bool& chosen) {
    std::atomic<bool> done{false};
    BrowseDialogView view;
    auto findDialog = [&caption] { return FindWindowA("#32770", caption.c_str()); };
    std::thread driver([&] {
        HWND dialog = test::WaitForWindow([&] {
            HWND found = findDialog();
            return found && IsWindowVisible(found) ? found : nullptr;
        });
        if (dialog) view = ViewAndPress(dialog, press);
        test::WaitUntil([&] {
            if (HWND open = findDialog(); open && !done) PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
            return done.load();
        });
    });
    chosen = BrowseForFolder(owner, caption, "Choose a folder", path);
    done = true;
    driver.join();
    return view;
}

// A top-level window of the test thread that holds a font, as a dialog page would.
class FontOwner {
public:
    FontOwner()
        : font_(CreateFontA(-15, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma")),
          window_(CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 10, 10, 50, 50,
                                  nullptr, nullptr, nullptr, nullptr)) {
        SendMessageA(window_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    }
    HWND Window() const { return window_.Get(); }
    HFONT Font() const { return static_cast<HFONT>(font_.Get()); }

private:
    qz::UniqueGdiObject font_;
    qz::UniqueWindow window_;
};

}  // namespace

TEST(ShellBrowseForFolder, DialogIsSkinnedAndOkReturnsTheStartFolderWithoutBackslash) {
    test::TempFolder temp("pick");
    FontOwner owner;
    std::string path = temp.Path();
    bool chosen = false;
    BrowseDialogView view = BrowseDriven(owner.Window(), "Pick a folder here", "OK", path, chosen);
    ASSERT_TRUE(view.found);
    ASSERT_GE(view.buttons.size(), 2u);
    EXPECT_EQ(view.buttons[0] + "|" + view.buttons[1], "OK|Cancel");
    EXPECT_TRUE(view.treeShowsSelectionAlways);
    EXPECT_EQ(view.firstButtonFont, owner.Font());
    const std::string folder = temp.Path().substr(0, temp.Path().size() - 1);
    EXPECT_EQ(view.selectedItem, folder.substr(folder.rfind('\\') + 1));
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, folder);
}

// A drive root comes back without its backslash; Cancel leaves the path, also when the start
// folder is missing.
TEST(ShellBrowseForFolder, DriveRootAndCancel) {
    struct Case {
        const char *start, *press, *result;
        bool chosen;
    } cases[] = {{"C:\\", "OK", "C:", true},
                 {"C:\\qztests\\no such folder\\below", "Cancel", "C:\\qztests\\no such folder\\below", false}};
    for (const Case& c : cases) {
        std::string path = c.start;
        bool chosen = !c.chosen;
        ASSERT_TRUE(BrowseDriven(nullptr, std::string("Pick ") + c.press, c.press, path, chosen).found);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(path, c.result);
    }
}
