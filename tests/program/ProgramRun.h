// The built uninstall.exe as Add/Remove Programs runs it: a staged installation below a test
// folder and the test's own registry keys, a copy of the program in its application folder,
// started as a child process and driven through its pages by window messages.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace test {

// The caption of the program's message boxes. The log that the fixture writes captions
// every page and the shared-file prompt with its resource name ("DLG_START", ...), the
// folder browser "Setup folder", and gives DLG_START's Next button the text "Onward".
extern const char BoxCaption[];
extern const char UninstallRoot[];  // ends with a backslash
extern const char SharedDlls[];

class ProgramRun : public ::testing::Test {
protected:
    ProgramRun();
    ~ProgramRun() override;

    // Placeholders: {root} the test folder, {app} the application folder {root}\App (the
    // program's), {key} the test's key HKCU\Software\QzTests\<id>, {id} the name of the
    // staged uninstall key, {rootrel} {root} without its drive, {bin} the helper programs' folder; none ends with a backslash.
    std::string X(const std::string& text) const;
    // Writes the log (the fixture's texts, AppID=appId_, then the sections, written with line
    // feeds) and stages what its lines name, where that is below {root} without "..", or
    // below {key}: the files of CopyFiles and DataFiles, NAME.lnk of Shortcuts, the folders
    // of CreateDirs and DataFolders (these with a file), "installed" for AddReg values and
    // AddIni keys, the keys of CreateKeys, and for SharedFiles the counter that the line's
    // value gives. Also the uninstall key {id} (with a subkey Details) and the repair data
    // file beside the log.
    void Stage(const std::string& sections, const std::string& log = "{app}\\install.log");
    void Set(const std::string& key, const std::string& name, const std::string& text);
    void Set(const std::string& key, const std::string& name, DWORD number);
    // A registry value as text (a number in decimal); "-" when it is missing.
    std::string Value(const std::string& key, const std::string& name) const;
    bool KeyExists(const std::string& key) const;
    bool Exists(const std::string& path) const { return PathExists(X(path)); }
    bool Pending(const std::string& path) const;  // a deletion at the next boot is recorded

    void Start(const std::string& arguments = "");
    // Waits for a dialog window of the program with the caption, not returned before and
    // enabled (no box over it) unless asked otherwise; null, with a failure, when the program
    // ended first or the time passed (the program is then ended).
    HWND Page(const std::string& caption, bool enabled = true);
    void Next(std::initializer_list<const char*> pages);
    // A key press on the page's Next button, as the keyboard makes it, once the page runs its
    // own loop (the one that turns keys into commands): when the page before it is gone.
    void Key(HWND page, WPARAM key);
    // Posts the command to every dialog of the program until it has ended.
    void PostUntilExit(WPARAM id);
    // The exit code once the program has ended, or -1 (it is then ended).
    int Exit();
    // The program ended without finishing: key, log and program are there, no script ran.
    void ExpectKept();
    // After a finished uninstall: the uninstall key, the log and the repair data file are
    // gone, and the script removes the program and its folder after the process ended.
    void ExpectGone(const std::string& log = "{app}\\install.log");

    std::string appId_ = "{id}";
    TempFolder root_{"prog"};
    std::string id_, exe_;
    ChildProcess child_;
    std::vector<HWND> seen_;
    std::vector<std::string> shared_;
};

// Window calls across processes.
void Click(HWND dialog, int id);     // BM_CLICK to the control
void Command(HWND dialog, WPARAM id);  // WM_COMMAND to the dialog
std::string Text(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::string& text);
bool Checked(HWND dialog, int id);
bool Enabled(HWND dialog, int id);

}  // namespace test
