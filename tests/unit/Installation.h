// A staged installation for the removal actions: from a log text written by the test it
// creates, in the Wine prefix and the registry, what an installer would have left behind,
// makes that log the program's log, and lets the test check the machine state item by item
// afterwards. Everything it created is removed again when it ends.
//
// Placeholders in every text: {root} the staging folder, {app} the application folder
// ({root}\App, which holds install.log), {hklm} and {hkcu} registry keys of this
// installation (HKLM\Software\QzTests\<id>, HKCU\Software\QzTests\<id>). Items are staged
// only below {root} and below the two keys, so a log may name other paths safely.
//
// Staged per section (key = text before the last "=", name = text before the first "="):
//   CopyFiles, DataFiles  the file of each key without wildcards (a .hlp file with its .gid
//                         and .fts beside it); masks stage nothing (use File)
//   Shortcuts             the key's .lnk and .pif
//   DataFolders           the folder with data.txt, a read-only readonly.txt, a hidden
//                         sub\hidden.dat and sub\deeper\deep.txt
//   CreateDirs            the empty folder
//   AddReg                the value of each name as REG_SZ "installed" (its key created)
//   CreateKeys            the key
//   AddIni                "key=installed" in the section of the file (fields of the name,
//                         split at commas)
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace test {

// Status formats for Strings entries 10 to 19, each naming its entry: "10:%s" and so on.
extern const char* const StatusStrings;

struct RegValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::string data;  // the raw bytes

    std::string Text() const;  // REG_SZ / REG_EXPAND_SZ without the terminating NUL
    DWORD Number() const;      // REG_DWORD
    std::vector<std::string> Strings() const;  // REG_MULTI_SZ
};

class Installation {
public:
    explicit Installation(const std::string& logText, const std::string& name = "inst");
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    std::string Expand(const std::string& text) const;
    const std::string& Root() const { return root_; }  // without a trailing backslash
    const std::string& App() const { return app_; }    // without a trailing backslash
    const std::string& Log() const { return log_; }

    // Extra items (paths with placeholders). File creates the folders it needs and returns
    // the expanded path; Link makes a Unix symbolic link (false where none can be made).
    std::string File(const std::string& path, DWORD attributes = 0, const std::string& bytes = "x");
    std::string Folder(const std::string& path);
    bool Link(const std::string& link, const std::string& target);
    void SetValue(const std::string& key, const std::string& name, DWORD type,
                  const std::string& bytes);

    // Machine state (paths and keys with placeholders).
    bool FileExists(const std::string& path) const;
    bool FolderExists(const std::string& path) const;
    bool KeyExists(const std::string& key) const;
    RegValue Value(const std::string& key, const std::string& name) const;
    // The value of key in section of the INI file as the file on disk holds it; false when
    // the file, the section or the key is missing.
    bool IniValue(const std::string& file, const std::string& section, const std::string& key,
                  std::string& value) const;
    // Whether a deletion of the file at the next boot is recorded (NT family). Records for
    // files below {root} are removed when the installation ends.
    bool DeletionPending(const std::string& path) const;

private:
    void Stage(const std::string& logText);
    void StageSectionLine(const std::string& section, const std::string& line);
    bool Ours(const std::string& path) const;
    bool OurKey(const std::string& key) const;

    TempFolder temp_;
    std::string id_, root_, app_, log_, hklm_, hkcu_;
    std::vector<std::string> links_;
};

// The path of a shell folder (CSIDL_...), created when missing.
std::string ShellFolder(int csidl);

// Makes a folder the current folder until the object ends.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& folder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::string previous_;
};

// Stands in for the progress page: CurrentPage becomes a window whose status line
// (control 105) and progress bar (control 106) record what they are given; StepsDone
// starts at 0 and StepsTotal at 1000.
class ProgressRecorder {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    const std::vector<std::string>& Texts() const { return texts_; }
    int Steps() const;
    void Clear();

private:
    static LRESULT CALLBACK RecordProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    qz::UniqueWindow page_;
    HWND previousPage_;
    std::vector<std::string> texts_;
};

}  // namespace test
