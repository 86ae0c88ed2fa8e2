// Unattended runs as deployment tools start them: /S with its exit codes, the report of
// /LOG= and the dry run, each as a process that must never show a window.
#include "ProgramRun.h"

namespace {

using namespace test;

class UnattendedRun : public ProgramRun {
protected:
    // The exit code once the program has ended; a failure if it ever showed a window.
    int ExitWithoutWindow() {
        bool windowSeen = false;
        const bool ended = WaitUntil([&] {
            windowSeen = windowSeen || !ProcessWindows(child_.Id()).empty();
            return !child_.Running();
        });
        EXPECT_FALSE(windowSeen) << "a window appeared";
        return ended ? child_.Wait(0) : (child_.Terminate(), -1);
    }
    std::string report_ = "{root}\\report.txt";
    std::string Report() const { return ReadFileBytes(X(report_)); }
    void ExpectReported(const std::vector<std::string>& lines) const {
        const std::string report = Report();
        for (const std::string& line : lines) EXPECT_NE(report.find(X(line) + "\r\n"), std::string::npos) << X(line) << "\n" << report;
    }
};
class UnattendedAlone : public UnattendedRun {};

// Every folder and file below {root} with its bytes, and every value below the test's key,
// the uninstall key and the shared counters of {root}.
std::string Files(const std::string& folder) {
    std::string all;
    WIN32_FIND_DATAA found;
    qz::UniqueFind search(FindFirstFileA((folder + "\\*").c_str(), &found));
    for (bool more = search.Get() != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search.Get(), &found)) {
        const std::string name = found.cFileName, path = folder + "\\" + name;
        if (name == "." || name == "..") continue;
        all += path + (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "\\\n" + Files(path) : "=" + ReadFileBytes(path) + "\n");
    }
    return all;
}
std::string Values(HKEY root, const std::string& path, const std::string& only = "") {
    qz::UniqueKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put())) return "";
    std::string all;
    char name[1024], data[4096];
    for (DWORD i = 0, size = sizeof name, length = sizeof data, type = 0;
         !RegEnumValueA(key.Get(), i, name, &size, nullptr, &type, reinterpret_cast<BYTE*>(data), &length);
         ++i, size = sizeof name, length = sizeof data)
        if (std::string(name).find(only) == 0) all += path + "\\" + name + "=" + std::string(data, length) + "\n";
    for (DWORD i = 0, size = sizeof name; !RegEnumKeyExA(key.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr); ++i, size = sizeof name)
        all += Values(root, path + "\\" + name, only);
    return all;
}

// Data files go as the page before the uninstall would have them go; a shared file that no
// other program counts on stays with its counter; a file in use waits for the next boot,
// Windows is not restarted, and the exit code says that it must be. The report, named
// relative to the folder current at the start, has a line for every action.
TEST_F(UnattendedAlone, SilentRunShowsNoWindowKeepsUnclaimedSharedFilesAndEndsWith3010) {
    Stage("[SharedFiles]\n{root}\\Common\\last.dll=1\n{root}\\Common\\used.dll=3\n[AddReg]\n{key}\\Old=1,previous\n"
          "[DataFolders]\n{app}\\Saved=1\n[CopyFiles]\n{app}\\App.exe=1\n{root}\\busy.dll=1\n{root}\\gone.dll=1\n"
          "{root}\\Common\\last.dll=1\n{root}\\Common\\used.dll=1\n[CreateDirs]\n{app}=1\n"
          "[RunApp]\n1={bin}\\exitcode.exe,0,,0,Done,1,1\n");
    DeleteFileA(X("{root}\\gone.dll").c_str());
    HeldFile held(X("{root}\\busy.dll"));
    ASSERT_TRUE(child_.Start("\"" + exe_ + "\" /s App\\install.log /LOG=report.txt", X("{root}")));
    EXPECT_EQ(ExitWithoutWindow(), 3010);
    ExpectGone();
    EXPECT_EQ(Value(SharedDlls, X("{root}\\Common\\last.dll")) + Value(SharedDlls, X("{root}\\Common\\used.dll")), Dword(1) + Dword(2));
    EXPECT_TRUE(Exists("{root}\\Common\\last.dll") && Exists("{root}\\Common\\used.dll") && !Exists("{app}\\Saved"));
    EXPECT_EQ(Report().find(X("Quorvel Uninstaller report\r\nprogram: {app}\\uninstall.exe\r\nlog: {app}\\install.log\r\ndate: ")), 0u);
    ExpectReported({"switches: /s /LOG=report.txt", "kept: shared file {root}\\Common\\last.dll (no other program counts on it)",
                    "kept: shared file {root}\\Common\\used.dll (its counter lowered from 3 to 2)", "restored: registry value {key}\\Old",
                    "removed: folder {app}\\Saved (with everything in it)", "deferred to the next boot: folder {app} (removed then if it is empty)",
                    "removed: file {app}\\App.exe", "not found: file {root}\\gone.dll",
                    "kept: file {root}\\Common\\last.dll (shared with other programs)", "ran: program {bin}\\exitcode.exe 0 (exit code 0)",
                    "removed: uninstall key HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{id}",
                    "result: uninstalled; Windows must restart to delete the files deferred to the next boot (exit code 3010)"});
    EXPECT_NE(Report().find(X("deferred to the next boot: file {root}\\busy.dll (error ")), std::string::npos);
}

// Each outcome has its code with /S, wherever the switches stand, and an error that would
// have shown a box is reported; a bad switch stops the program before anything, with a box
// naming it when /S is not given.
TEST_F(UnattendedRun, ExitCodesTellTheOutcomeAndABadSwitchStopsEverything) {
    const char* done = "[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n";
    const std::string failing = "[PreRunApp]\n1={bin}\\exitcode.exe,2,,0,Preparing,1,1\n[CopyFiles]\n{app}\\App.exe=1\n",
                      unwritable = "[AddIni]\n{root}\\Folder.ini,Options,Key=old\n[CopyFiles]\n{app}\\App.exe=1\n";
    const struct {
        std::string sections, arguments;
        int code;
        std::vector<std::string> lines;  // of the report; none: no report
    } cases[] = {{done, "{app}\\install.log /SILENT /log={root}\\report.txt", 0, {"result: uninstalled (exit code 0)"}},
                 {failing, "/S /LOG={root}\\report.txt", 1603, {"failed: program {bin}\\exitcode.exe 2 (exit code 2)",
                                                                 "result: the uninstall stopped before its end (exit code 1603)"}},
                 {unwritable, "/S /LOG={root}\\report.txt", 1603, {"error: Cannot open file {root}\\Folder.ini"}},
                 {done, "{root}\\none.log /S /LOG={root}\\report.txt", 1619, {"result: the log cannot be found (exit code 1619)"}},
                 {done, "/LOG={root}\\report.txt /S /X", 1639, {}},
                 {done, "/S /LOG=", 1639, {}},
                 {done, "/DRYRUN", 1639, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        Stage(c.sections);
        CreateDirectoryA(X("{root}\\Folder.ini").c_str(), nullptr);
        DeleteFileA(X("{root}\\report.txt").c_str());
        Start(c.arguments);
        EXPECT_EQ(ExitWithoutWindow(), c.code);
        if (c.code == 0) ExpectGone(); else ExpectKept(true);
        ExpectReported(c.lines);
        EXPECT_EQ(Exists("{root}\\report.txt"), !c.lines.empty());
    }
    Stage(done);
    Start("/X /LOG={root}\\report.txt");
    HWND box = Page(BoxCaption);
    EXPECT_EQ(StaticTexts(box), "Unknown command-line switch /X!");
    Command(box, IDOK);
    EXPECT_EQ(Exit(), 0);
    ExpectKept();
}

// A dry run leaves every file, folder, value and counter as it was, starts no program and
// writes no removal script, and reports what the uninstall would do: folders whose files
// would all go are removed, the guard's refusals are listed.
TEST_F(UnattendedRun, DryRunChangesNothingAndReportsWhatTheUninstallWouldDo) {
    Stage("[PreRunApp]\n1={bin}\\exitcode.exe,0 --mark {root}\\pre.txt,,0,Preparing,1,1\n[SharedFiles]\n{root}\\Common\\used.dll=2\n"
          "[Shortcuts]\n{root}\\Menu\\App=1\n[AddReg]\n{key}\\Old=1,previous\n{key}\\New=0,\n[CreateKeys]\n{key}\\Created\\Deeper=1\n{key}\\Created=1\n"
          "[AddIni]\n{root}\\app.ini,Options,Added=\n[DataFolders]\n{app}\\Saved=1\n[CopyFiles]\n{app}\\App.exe=1\n{app}\\Sub\\a.txt=1\n"
          "{root}\\Common\\used.dll=1\nC:\\Windows\\*.dll=1\n[CreateDirs]\n{app}\\Sub=1\n{app}=1\n{root}\\Menu=1\n");
    WriteFileBytes(X("{root}\\app.ini"), "; the user's\r\n[Options]\r\nAdded=1\r\n");
    const auto snapshot = [this] {
        return Files(X("{root}")) + Values(HKEY_CURRENT_USER, X("{key}").substr(5)) +
               Values(HKEY_LOCAL_MACHINE, X(UninstallRoot + id_).substr(5)) + Values(HKEY_LOCAL_MACHINE, std::string(SharedDlls).substr(5), X("{root}"));
    };
    const std::string before = snapshot();
    const TempFolder out("report");
    report_ = out / "report.txt";
    Start("/DRYRUN /LOG=" + report_);
    EXPECT_EQ(ExitWithoutWindow(), 0);
    EXPECT_EQ(snapshot(), before);
    ExpectReported({"dry run: nothing was changed; each line tells what the uninstall would do",
                    "ran: program {bin}\\exitcode.exe 0 --mark {root}\\pre.txt (not started in a dry run)",
                    "kept: shared file {root}\\Common\\used.dll (its counter lowered from 2 to 1)", "removed: shortcut {root}\\Menu\\App.lnk",
                    "restored: registry value {key}\\Old", "removed: registry value {key}\\New", "removed: registry key {key}\\Created\\Deeper",
                    "removed: registry key {key}\\Created", "removed: INI entry {root}\\app.ini [Options] Added", "removed: file {app}\\Sub\\a.txt",
                    "refused by the guard: file C:\\Windows\\*.dll", "removed: folder {app}\\Sub", "removed: folder {root}\\Menu",
                    "kept: folder {app} (not empty)", "removed: log {app}\\install.log", "removed: uninstaller {app}\\uninstall.exe "
                    "(by its removal script, with its folder when that is empty, once the program has ended)", "result: dry run complete (exit code 0)"});
}

}  // namespace
