#include "qzShell.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <initializer_list>

#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// Initialises COM on the calling thread for the shell calls of this unit and undoes that
// when the returned guard ends; a thread already in another apartment keeps it.
auto ComForThisThread() {
    HRESULT result = CoInitialize(nullptr);
    return qz::OnScopeExit([result] {
        if (SUCCEEDED(result)) CoUninitialize();
    });
}

// ---- Folder browser ----

// What the browse callback needs: it reaches the callback through BROWSEINFO's lParam and
// the child enumeration through its LPARAM.
struct BrowseState {
    std::string caption;
    std::string startFolder;
    HFONT font = nullptr;  // the owner's, not ours
    HWND tree = nullptr;
    int32_t buttons = 0;
};

bool ClassStartsWith(const char* className, const char* prefix) {
    return _strnicmp(className, prefix, std::strlen(prefix)) == 0;
}

BOOL CALLBACK SkinBrowseChild(HWND child, LPARAM data) {
    BrowseState& browse = *reinterpret_cast<BrowseState*>(data);
    if (browse.font) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(browse.font), FALSE);
    char className[257] = "";
    GetClassNameA(child, className, sizeof className);
    if (ClassStartsWith(className, "SYSTREE")) {
        browse.tree = child;
    } else if (ClassStartsWith(className, "BUTTON")) {
        ++browse.buttons;
        if (browse.buttons == 1) SetWindowTextA(child, "OK");
        if (browse.buttons == 2) SetWindowTextA(child, "Cancel");
    }
    return TRUE;
}

void SkinBrowseDialog(HWND dialog, LPARAM data) {
    BrowseState& browse = *reinterpret_cast<BrowseState*>(data);
    SetWindowTextA(dialog, browse.caption.c_str());
    if (browse.font) SendMessageA(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(browse.font), FALSE);
    browse.tree = nullptr;
    browse.buttons = 0;
    EnumChildWindows(dialog, SkinBrowseChild, data);
    if (browse.tree) {
        LONG_PTR style = GetWindowLongPtrA(browse.tree, GWL_STYLE);
        SetWindowLongPtrA(browse.tree, GWL_STYLE, style | TVS_SHOWSELALWAYS);
    }
    SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE,
                 reinterpret_cast<LPARAM>(browse.startFolder.c_str()));
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message != BFFM_INITIALIZED) return 0;
    return GuardCallback([dialog, data] {
        SkinBrowseDialog(dialog, data);
        return 0;
    }, 0);
}

// ---- Starting programs ----

bool HasExtension(const std::string& file, std::initializer_list<const char*> extensions) {
    const std::string extension = LowerCaseAscii(ExtractFileExt(file));
    for (const char* known : extensions)
        if (extension == known) return true;
    return false;
}

// What a shortcut starts: its target, its arguments and its working folder.
struct ShortcutTarget {
    std::string file;
    std::string arguments;
    std::string directory;
};

constexpr int kMaxArguments = 1024;

bool ReadShortcut(const std::string& shortcut, ShortcutTarget& target) {
    auto com = ComForThisThread();
    qz::ComPtr<IShellLinkA> link;
    qz::ComPtr<IPersistFile> persist;
    std::vector<wchar_t> wideName = WideText(shortcut);
    char file[MAX_PATH] = "", arguments[kMaxArguments] = "", directory[MAX_PATH] = "";
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(link.Put()))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.Put()))) ||
        FAILED(persist->Load(wideName.data(), STGM_READ)) ||
        link->GetPath(file, MAX_PATH, nullptr, 0) != S_OK ||
        FAILED(link->GetArguments(arguments, kMaxArguments)) ||
        FAILED(link->GetWorkingDirectory(directory, MAX_PATH)))
        return false;
    target = {file, arguments, directory};
    return true;
}

bool StartsThroughCreateProcess(const std::string& file) {
    return HasExtension(file, {".exe", ".com", ".bat", ".pif"}) && FileExists(file);
}

qz::UniqueHandle StartWithCreateProcess(const std::string& file, const std::string& parameters,
                                        const std::string& directory, int show) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    const std::string folder = Trim(StripQuotes(directory, '"'));
    std::string commandLine = Trim("\"" + file + "\" " + parameters);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return qz::UniqueHandle();
    qz::UniqueHandle thread(info.hThread);
    return qz::UniqueHandle(info.hProcess);
}

qz::UniqueHandle StartWithShell(HWND owner, const std::string& file,
                                const std::string& parameters, const std::string& directory,
                                int show) {
    auto com = ComForThisThread();
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    // No error box of the shell's own: a program that cannot be started must not stop an
    // unattended uninstall until somebody answers.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = show;
    if (!ShellExecuteExA(&info)) return qz::UniqueHandle();
    return qz::UniqueHandle(info.hProcess);
}

// Waits for the process to end while the thread's messages keep flowing; a message wakes
// the wait at once instead of after the full 100 ms.
void WaitPumping(HANDLE process) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, 100, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
        ProcessMessages();
    }
}

}  // namespace

bool BrowseForFolder(HWND owner, const std::string& caption, const std::string& instruction,
                     std::string& path) {
    auto com = ComForThisThread();
    qz::UniqueItemList root;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, root.Put()))) return false;
    BrowseState browse;
    browse.caption = caption;
    browse.startFolder = path;
    browse.font = IsWindow(owner)
                      ? reinterpret_cast<HFONT>(SendMessageA(owner, WM_GETFONT, 0, 0))
                      : nullptr;
    char displayName[MAX_PATH] = "";
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.Get();
    info.pszDisplayName = displayName;
    info.lpszTitle = instruction.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&browse);
    qz::UniqueItemList chosen(SHBrowseForFolderA(&info));
    RethrowCallbackError();
    char folder[MAX_PATH] = "";
    if (!chosen || !SHGetPathFromIDListA(chosen.Get(), folder)) return false;
    path = ExcludeTrailingBackslash(folder);
    return true;
}

int32_t RunAndWait(HWND owner, const std::string& file, const std::string& parameters,
                   const std::string& directory, int show) {
    // CreateProcessA cannot start a shortcut (it is no program image), so an existing one
    // starts what it points to by the same rules, with its arguments before ours and its
    // working folder unless the caller gives one. A shortcut that cannot be read, or one
    // that points to another shortcut, goes to the shell.
    std::string program = file, arguments = parameters, folder = directory;
    ShortcutTarget target;
    if (HasExtension(file, {".lnk"}) && FileExists(file) && ReadShortcut(file, target)) {
        program = target.file;
        arguments = Trim(target.arguments + " " + parameters);
        if (folder.empty()) folder = target.directory;
    }
    qz::UniqueHandle process = StartsThroughCreateProcess(program)
                                   ? StartWithCreateProcess(program, arguments, folder, show)
                                   : StartWithShell(owner, program, arguments, folder, show);
    if (!process) return -1;
    WaitPumping(process.Get());
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) return 0;
    return static_cast<int32_t>(exitCode);
}
