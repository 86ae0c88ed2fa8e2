// A staged installation with a copy of the built uninstall.exe in its application folder,
// run as Add/Remove Programs runs it: started from there (without an argument, or with the
// log's path), its wizard driven by window messages from this process, and the machine
// checked once the process has ended. The application's uninstall key has a name of its own;
// everything outside the staging folder is removed again at the end, however the test ends.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Installation.h"
#include "ProgramDriver.h"
#include "TestSupport.h"

namespace test {

// Registry paths as the program writes them; "+ 5" gives the subkey below HKLM.
extern const char UninstallRoot[];
extern const char SharedDlls[];
extern const char NtFonts[];
extern const DWORD RemovalTimeoutMs;

std::string Dword(DWORD value);
std::string Sz(const std::string& text);
std::string Replace(std::string text, const std::string& from, const std::string& to);
// The number of removal scripts (*.bat) in a folder.
int ScriptsIn(const std::string& folder);

class StagedProgram : public ::testing::Test {
protected:
    StagedProgram();
    ~StagedProgram() override;

    // The log sections are written with line feeds and may name {bin} (the helper programs'
    // folder), {system} (the system folder) and {font} besides the placeholders of the
    // installation.
    void Install(const std::string& sections);
    void SetSharedCount(const std::string& path, DWORD count);
    std::string FontName() const { return "Qz " + appId_ + " (TrueType)"; }

    void Start(const std::string& arguments = "");
    HWND Page(const std::string& name) { return run_->WaitFor(name); }
    // Next on each page in turn.
    void NextOn(std::initializer_list<const char*> pages);

    // The key, the log, the repair data file and the program are all still there.
    bool TracesRemain() const;
    // After a complete uninstall: the key, the log and the repair data file are gone at once;
    // the script removes the program and its folder after the process ended, then itself.
    void ExpectTracesGone(const std::string& log, const std::string& repairData);

    std::string appId_, key_, exe_;
    std::vector<std::string> sharedValues_;
    std::unique_ptr<Installation> inst_;
    std::optional<HeldFile> held_;
    std::unique_ptr<ProgramRun> run_;
};

}  // namespace test
