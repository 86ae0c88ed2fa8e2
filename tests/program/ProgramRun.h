// The built uninstall.exe as Add/Remove Programs runs it: a staged installation below a test
// folder and the test's own registry keys, a copy of the program in its application folder,
// started as a child process and driven through its pages by window messages.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <sstream>

#include "TestSupport.h"
#include "resource.h"

namespace test {

const char BoxCaption[] = "Quorvel Uninstaller";  // of the program's boxes
const char UninstallRoot[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char SharedDlls[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
// The texts of the log that the fixture writes: each page and the shared-file prompt is
// captioned with its resource name, the folder browser "Setup folder", and every Next button
// reads "Onward"; then the taskbar title, the setup warning and the shared-file status.
const char* const Pages[] = {"DLG_START", "DLG_BEFOREUNINSTALL", "DLG_BEFOREREPAIR", "DLG_BROWSEFORSETUP",
                             "DLG_UNINSTALL", "DLG_REBOOT", "DLG_UNINSTALLSUCCEEDED", "DLG_DELSHARED"};

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

inline std::string Dword(DWORD number) { return std::string(reinterpret_cast<const char*>(&number), 4); }

inline void MakeFile(const std::string& path) {
    SHCreateDirectoryExA(nullptr, path.substr(0, path.rfind('\\')).c_str(), nullptr);
    WriteFileBytes(path, "x");
}

// Window calls across processes, each bounded in time.
inline std::string Text(HWND dialog, int id) {  // "" when the control does not answer in time
    char text[1024] = "";
    return SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                               SMTO_NORMAL, 10000, nullptr) ? text : "";
}
inline void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
inline void Command(HWND dialog, WPARAM id) { PostMessageA(dialog, WM_COMMAND, id, 0); }

class ProgramRun : public ::testing::Test {
protected:
    ~ProgramRun() override {
        WaitUntil([this] { return !ScriptThere(); });  // before its folder goes
        DeleteKeyTree(HKEY_LOCAL_MACHINE, X(UninstallRoot + id_).substr(5));
        DeleteKeyTree(HKEY_CURRENT_USER, X("{key}").substr(5));
    }

    // Placeholders: {root} the test folder, {app} the application folder {root}\App, {key}
    // the test's key HKCU\Software\QzTests\{id}, {id} the staged uninstall key's name, {bin}
    // the helper programs' folder; none ends with a backslash.
    std::string X(const std::string& text) const {
        std::string out = Replace(Replace(text, "{app}", "{root}\\App"), "{key}", "HKCU\\Software\\QzTests\\{id}");
        out = Replace(Replace(out, "{root}", root_.Path().substr(0, root_.Path().size() - 1)), "{id}", id_);
        return Replace(out, "{bin}", BinFolder().substr(0, BinFolder().size() - 1));
    }

    // Writes the log (the texts above, AppID=appId_, then the sections, written with line
    // feeds) and stages what its lines name below {root} (without "..") or {key}: files of
    // CopyFiles and DataFiles, NAME.lnk of Shortcuts, folders of CreateDirs and DataFolders
    // (these with a file), "installed" for AddReg values and in CreateKeys keys (as Kind), and for SharedFiles the counter that the line's value gives. Then the
    // uninstall key {id} (Kind in it and in its subkey Details), the repair data file beside
    // the log, and last the program (which the log may list).
    void Stage(const std::string& sections, const std::string& log = "{app}\\install.log") {
        std::string text = "[Strings]\nAppID=" + X(appId_) + "\n1=Qz Program\n2=No setup there\n18=Shared %s\n", section;
        for (std::string page : Pages) text += "[Dialog." + page + "]\nCaption=" + page + "\n102=Onward\n200=Setup folder\n";
        SHCreateDirectoryExA(nullptr, X("{app}").c_str(), nullptr);
        MakeFile(X(log).substr(0, X(log).size() - 4) + ".sss");
        WriteFileBytes(X(log), Replace(text + X(sections), "\n", "\r\n"));
        for (const char* key : {"", "\\Details"}) Set(UninstallRoot + id_ + key, "Kind", "installed");
        std::istringstream lines(X(sections));
        for (std::string line; std::getline(lines, line);) {
            const std::string key = line.substr(0, line.rfind('=')), name = key.substr(key.find_last_of("\\,") + 1);
            if (line[0] == '[') section = line;
            if ((key.find(X("{root}\\")) != 0 && key.find(X("{key}")) != 0) || key.find("..") != std::string::npos) continue;
            if (section == "[CopyFiles]" || section == "[DataFiles]") MakeFile(key);
            if (section == "[Shortcuts]") MakeFile(key + ".lnk");
            if (section == "[DataFolders]") MakeFile(key + "\\data.txt");
            if (section == "[CreateDirs]") SHCreateDirectoryExA(nullptr, key.c_str(), nullptr);
            if (section == "[AddReg]") Set(key.substr(0, key.size() - name.size() - 1), name, "installed");
            if (section == "[CreateKeys]") Set(key, "Kind", "installed");
            if (section == "[SharedFiles]") Set(SharedDlls, key, Dword(line.back() - '0'), REG_DWORD);
        }
        ASSERT_TRUE(CopyFileA((BinFolder() + "uninstall.exe").c_str(), (exe_ = X("{app}\\uninstall.exe")).c_str(), FALSE));
    }

    // Sets a value (REG_SZ: a text), creating its key ("HKLM\..." or
    // "HKCU\..."); Value gives a value as text (other types as their bytes), "-" when missing.
    void Set(const std::string& key, const std::string& name, const std::string& bytes, DWORD type = REG_SZ) {
        qz::UniqueKey opened;
        RegCreateKeyExA(Root(X(key)), X(key).c_str() + 5, 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.Put(), nullptr);
        RegSetValueExA(opened.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.c_str()), bytes.size() + (type == REG_SZ));
    }
    std::string Value(const std::string& key, const std::string& name) const {
        qz::UniqueKey opened;
        std::string data(65536, '\0');
        DWORD type = 0, size = 65534;
        if (RegOpenKeyExA(Root(X(key)), X(key).c_str() + 5, 0, KEY_READ, opened.Put()) ||
            RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size))
            return "-";
        return type == REG_SZ ? std::string(data.c_str()) : data.substr(0, size);
    }
    static HKEY Root(const std::string& path) { return path[2] == 'L' ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
    bool Exists(const std::string& path) const { return PathExists(X(path)); }
    bool ScriptThere() const {  // the program's removal script, the only .bat in {root}
        WIN32_FIND_DATAA found;
        return qz::UniqueFind(FindFirstFileA(X("{root}\\*.bat").c_str(), &found)).Get() != INVALID_HANDLE_VALUE;
    }

    void Start(const std::string& arguments = "") {
        ASSERT_TRUE(child_.Start("\"" + exe_ + "\" " + X(arguments), X("{root}")));
    }
    // Waits for a dialog window of the program with the caption, not returned before and
    // enabled (no box over it) unless asked otherwise; null, with a failure, when the program
    // ended first or the time passed (the program is then ended).
    HWND Page(const std::string& caption, bool enabled = true) {
        HWND found = WaitForWindow([&]() -> HWND {
            for (HWND window : ProcessWindows(child_.Id(), "#32770"))
                if (WindowText(window) == caption && (!enabled || IsWindowEnabled(window)) &&
                    std::find(seen_.begin(), seen_.end(), window) == seen_.end())
                    return window;
            return child_.Running() ? nullptr : HWND_BOTTOM;  // any handle ends the wait
        });
        if (found && found != HWND_BOTTOM) return seen_.emplace_back(found);
        ADD_FAILURE() << "no window " << caption << (found ? ": the program ended" : " in time");
        child_.Terminate();  // every later wait fails at once
        return nullptr;
    }
    void Next(std::initializer_list<const char*> pages) {
        for (const char* caption : pages)
            if (HWND page = Page(caption)) Click(page, IDC_NEXT);
    }
    // A key press on the page's Next button, as the keyboard makes it, once the page runs its
    // own loop (the one that turns keys into commands): when the page before it is gone.
    void Key(HWND page, WPARAM key) {
        WaitUntil([&] { return ProcessWindows(child_.Id(), "#32770") == std::vector<HWND>{page}; });
        PostMessageA(GetDlgItem(page, IDC_NEXT), WM_KEYDOWN, key, 1);
    }
    // The exit code once the program has ended, or -1 (it is then ended). With a command,
    // posts it to every dialog of the program until then.
    int Exit(WPARAM command = 0) {
        const bool ended = WaitUntil([&] {
            for (HWND window : command ? ProcessWindows(child_.Id(), "#32770") : std::vector<HWND>()) Command(window, command);
            return !child_.Running();
        });
        return ended ? child_.Wait(0) : (child_.Terminate(), -1);
    }
    // The program ended without finishing: key, log and program are there, no script ran, and
    // the staged file {app}\App.exe is there when files are to be kept.
    void ExpectKept(bool files = true) {
        EXPECT_NE(Value(UninstallRoot + id_ + "\\Details", "Kind"), "-");
        EXPECT_TRUE(Exists("{app}\\install.log") && PathExists(exe_) && !ScriptThere());
        EXPECT_EQ(Exists("{app}\\App.exe"), files) << "the staged {app}\\App.exe";
    }
    // After a finished uninstall: the uninstall key, the log and the repair data file are
    // gone, and the script removes the program and its folder after the process ended.
    void ExpectGone(const std::string& log = "{app}\\install.log") {
        EXPECT_EQ(Value(UninstallRoot + id_, "Kind") + Value(UninstallRoot + id_ + "\\Details", "Kind"), "--");
        EXPECT_FALSE(Exists(log) || Exists(log.substr(0, log.size() - 4) + ".sss"));
        EXPECT_TRUE(WaitUntil([this] { return !Exists("{app}") && !ScriptThere(); })) << "the folder or the script";
    }

    static inline std::atomic<int> count_{0};
    std::string appId_ = "{id}", id_ = "QzProgram-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count_);
    TempFolder root_{"prog"};
    std::string exe_;
    ChildProcess child_;
    std::vector<HWND> seen_;
};

}  // namespace test
