// Shared test support: temporary folders in the prefix, file helpers, helper programs,
// child processes and waiting for windows. Every wait has a bound.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "qzHandles.h"

namespace test {

// Folder of the running test program, with a trailing backslash; helper programs
// (tests/helpers/NAME.cpp) are built into it as NAME.exe.
std::string BinFolder();
std::string HelperProgram(const std::string& name);

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool PathExists(const std::string& path);
// Deletes a folder and everything below it, whatever the attributes.
void RemoveTree(const std::string& folder);

// A fresh folder C:\qztests\<name>-<pid>-<n>\ removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& name = "t");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }  // ends with a backslash
    std::string operator/(const std::string& relative) const { return path_ + relative; }
    // Writes a file below the folder (creating its folders) and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes = "x");

private:
    std::string path_;
};

// A child process, terminated at the end if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();
    // Starts the command line (the program path should be quoted by the caller).
    bool Start(const std::string& commandLine, const std::string& directory = "");
    // Exit code, or -1 when the process did not end within the time-out.
    int Wait(DWORD timeoutMs);
    bool Running() const;
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.Get(); }
    void Terminate();

private:
    qz::UniqueHandle process_;
    DWORD id_ = 0;
};

// Holds a file open in another process (holdfile.exe) with the given share mode until the
// object ends; the constructor returns once the file is open.
class HeldFile {
public:
    explicit HeldFile(const std::string& path, DWORD shareMode = 0);
    bool Held() const { return held_; }

private:
    ChildProcess holder_;
    bool held_ = false;
};

// Polls until the finder returns a window (or true), at most timeoutMs; messages of the
// calling thread keep flowing meanwhile.
HWND WaitForWindow(const std::function<HWND()>& finder, DWORD timeoutMs = 20000);
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000);
// Visible top-level windows of a process, optionally only of one class ("#32770" for
// dialogs and message boxes).
std::vector<HWND> ProcessWindows(DWORD processId, const char* className = nullptr);
std::string WindowText(HWND window);
// Concatenated texts of a window's static children (the text of a message box).
std::string StaticTexts(HWND window);

// A hidden top-level window of the calling thread that counts the messages of one kind it
// is given (posted, sent or broadcast).
class MessageCounter {
public:
    explicit MessageCounter(UINT message);
    HWND Window() const { return window_.Get(); }
    int Count() const { return count_; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    UINT message_;
    int count_ = 0;
    qz::UniqueWindow window_;
};

// Deletes a registry key with all its subkeys, without the units under test.
void DeleteKeyTree(HKEY root, const std::string& subkey);

}  // namespace test
