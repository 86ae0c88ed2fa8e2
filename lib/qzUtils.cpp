#include "qzUtils.h"

#include <oleauto.h>

#include <vector>

#include "qzErrors.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// False only when the privilege could not be enabled; a token or privilege name that
// cannot be had leaves the decision to ExitWindowsEx.
bool EnableShutdownPrivilege() {
    qz::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) return true;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return true;
    return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

// A path as a quoted batch-file argument; "%" is doubled so that the command interpreter
// reads it as itself and never expands a variable into the path.
std::string BatchPath(const std::string& path) { return "\"" + ReplaceAll(path, "%", "%%") + "\""; }

// Deletions of the executable that the script attempts once the process has ended, a
// second apart, counted by growing a short variable (the Windows 9x command interpreter has
// no arithmetic). Only something else holding the file open can make them fail.
constexpr int kAttempts = 60;

// A second's pause: ping of the local host is the one that both command interpreters have.
const char kPause[] = "ping -n 2 127.0.0.1 >nul";

// The marker that this process holds open, without sharing, until it ends: the script can
// delete it only then. The handle is not inherited by the programs this process starts.
qz::UniqueHandle HeldMarker;

// The script first waits, for as long as it takes, until the process has ended (the marker
// can be deleted then); then it deletes the executable, trying for a minute at most, the
// folder (only when it is empty by then) and itself. It echoes nothing into the console.
std::vector<std::string> RemovalScript(const std::string& marker, const std::string& exe,
                                       const std::string& folder, const std::string& script) {
    std::vector<std::string> lines = {
        "@echo off",
        ":wait",
        "del " + BatchPath(marker),
        "if not exist " + BatchPath(marker) + " goto ended",
        kPause,
        "goto wait",
        ":ended",
        "set QZTRY=",
        ":try",
        "del " + BatchPath(exe),
        "if not exist " + BatchPath(exe) + " goto done",
        kPause,
        "set QZTRY=%QZTRY%x",
        "if not \"%QZTRY%\"==\"" + std::string(kAttempts, 'x') + "\" goto try",
        ":done",
    };
    if (!folder.empty()) lines.push_back("rd " + BatchPath(folder));
    lines.push_back("del " + BatchPath(script));
    return lines;
}

void WriteRemovalScript(const std::string& path, const std::vector<std::string>& lines) {
    qz::UniqueHandle file(OpenFileHandle(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!UsableHandle(file.Get())) throw EInOutError("Cannot create file " + path);
    for (const std::string& line : lines) WriteOemLine(file.Get(), line);
}

void StartHidden(const std::string& script, const std::string& folder) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + script + "\"";
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS,
                        nullptr, folder.c_str(), &startup, &info))
        return;
    qz::UniqueHandle process(info.hProcess), thread(info.hThread);
}

using DllUnregisterServerProc = HRESULT(STDAPICALLTYPE*)();
using UnRegisterTypeLibProc = HRESULT(STDAPICALLTYPE*)(REFGUID, WORD, WORD, LCID, SYSKIND);
using LoadTypeLibExProc = HRESULT(STDAPICALLTYPE*)(LPCOLESTR, REGKIND, ITypeLib**);

bool UnregisterInProcessServer(const std::string& path) {
    qz::UniqueModule library(LoadLibraryQuiet(path));
    if (!library) return false;
    auto unregister = reinterpret_cast<DllUnregisterServerProc>(
        GetProcAddress(library.Get(), "DllUnregisterServer"));
    return unregister && SUCCEEDED(unregister());
}

// Started hidden and not waited for. A path with blanks is quoted, or the system could
// start another program whose name is a leading part of it.
bool UnregisterLocalServer(const std::string& path) {
    if (lstrcmpiA(ExtractFileExt(path).c_str(), ".exe") != 0) return false;
    std::string program = path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
    return WinExec((program + " /UNREGSERVER").c_str(), SW_HIDE) > 31;
}

}  // namespace

bool ExitWindowsWithPrivilege(UINT flags) {
    constexpr UINT kPowerFlags = EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF;
    if (IsNTPlatform() && (flags & kPowerFlags) != 0 && !EnableShutdownPrivilege()) return false;
    return ExitWindowsEx(flags, 0) != FALSE;
}

bool RestartWindows(bool force) {
    return ExitWindowsWithPrivilege(EWX_REBOOT | (force ? EWX_FORCE : 0));
}

void ScheduleSelfRemoval(bool removeFolder) {
    std::string exe = GetModuleName();
    std::string appFolder = ExcludeTrailingBackslash(ExtractFilePath(exe));
    // An executable in a drive root leaves the root alone and keeps its script beside it.
    bool inRoot = appFolder.size() <= 2;
    std::string scriptFolder = inRoot ? IncludeTrailingBackslash(appFolder) : ExtractFilePath(appFolder);
    // The marker exists before the script starts, or the script would not wait for it; one
    // that cannot be made leaves the script only its minute of attempts.
    std::string marker = scriptFolder + MakeUniqueFileName(scriptFolder, "", ".run", true);
    HeldMarker.Reset(OpenFileHandle(marker, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    std::string script = scriptFolder + MakeUniqueFileName(scriptFolder, "", ".bat", true);
    WriteRemovalScript(script, RemovalScript(marker, exe, removeFolder && !inRoot ? appFolder : "",
                                             script));
    StartHidden(script, scriptFolder);
    // The application folder must not stay the current folder either: every program this
    // process starts from now on would hold it in use while the script removes it (Wine,
    // for one, restarts Windows through a program).
    SetCurrentDirectoryA(scriptFolder.c_str());
}

void WriteOemLine(HANDLE file, const std::string& text) {
    if (!WriteTextLine(file, ToOem(text))) throw EInOutError("Cannot write file");
}

bool UnregisterComFile(const std::string& path) {
    return UnregisterServerFile(path) || UnregisterTypeLibrary(path);
}

bool UnregisterServerFile(const std::string& path) {
    return UnregisterInProcessServer(path) || UnregisterLocalServer(path);
}

// Both calls are looked up at run time: the OLE Automation library of the first Windows 95
// release has neither, and without them nothing can be unregistered. The library stays
// loaded until the type library is released.
bool UnregisterTypeLibrary(const std::string& path) {
    qz::UniqueModule oleaut(LoadLibraryQuiet("OLEAUT32.DLL"));
    if (!oleaut) return false;
    auto load = reinterpret_cast<LoadTypeLibExProc>(GetProcAddress(oleaut.Get(), "LoadTypeLibEx"));
    auto unregister =
        reinterpret_cast<UnRegisterTypeLibProc>(GetProcAddress(oleaut.Get(), "UnRegisterTypeLib"));
    if (!load || !unregister) return false;
    qz::ComPtr<ITypeLib> library;
    if (FAILED(load(WideText(ExpandFileName(path)).data(), REGKIND_NONE, library.Put())))
        return false;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return false;
    auto release = qz::OnScopeExit([&] { library->ReleaseTLibAttr(attributes); });
    return SUCCEEDED(unregister(attributes->guid, attributes->wMajorVerNum,
                                attributes->wMinorVerNum, attributes->lcid, attributes->syskind));
}
