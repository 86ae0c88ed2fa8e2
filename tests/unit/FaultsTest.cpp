// Faults from outside during an uninstall: files held by other programs, an INI file that
// cannot be written, programs to run that are missing or never end, and a log that another
// program deletes or rewrites while the wizard is open. The program must end, lose nothing
// and leave whatever it could not finish ready for another run.
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "StagedProgram.h"
#include "resource.h"

namespace {

using namespace test;

// The first process running exitcode.exe that the given process started; 0 when none.
DWORD ChildExitCodeProgram(DWORD parent) {
    qz::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (snapshot.Get() == INVALID_HANDLE_VALUE) return 0;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry))
        if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, "exitcode.exe") == 0)
            return entry.th32ProcessID;
    return 0;
}

class Faults : public StagedProgram {
protected:
    void StartUninstall() {
        Start();
        NextOn({"DLG_START", "DLG_BEFOREUNINSTALL"});
    }
    // The walk stopped: the program ended without its closing page and left the uninstall
    // key and itself for another run.
    void ExpectStoppedAndRunnableAgain() {
        EXPECT_EQ(run_->WaitForExit(), 0);
        EXPECT_EQ(run_->Captions().count("DLG_UNINSTALLSUCCEEDED"), 0u);
        EXPECT_TRUE(inst_->KeyExists(key_ + "\\Details"));
        EXPECT_TRUE(inst_->FileExists(exe_));
        EXPECT_EQ(ScriptsIn(inst_->Root()), 0);
    }
    void ExpectCompleted() {
        NextOn({"DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(run_->WaitForExit(), 0);
        ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
    }
};

TEST_F(Faults, FileLockedByAnotherProgramIsDeletedAtTheAcceptedRestart) {
    Install("[CopyFiles]\n{app}\\App.exe=1\n{root}\\Common\\inuse.dll=1\n[CreateDirs]\n{app}=1\n");
    held_.emplace(inst_->Expand("{root}\\Common\\inuse.dll"));
    ASSERT_TRUE(held_->Held());

    StartUninstall();
    if (HWND page = Page("DLG_REBOOT")) {
        EXPECT_TRUE(inst_->DeletionPending("{root}\\Common\\inuse.dll"));
        EXPECT_TRUE(inst_->FileExists("{root}\\Common\\inuse.dll"));
        held_.reset();  // the other program has ended by the time the user answers
        EXPECT_TRUE(ItemChecked(page, IDC_RB_NOW));
        PressButton(page, IDC_NEXT);
    }
    EXPECT_EQ(run_->WaitForExit(), 0);
    EXPECT_EQ(run_->Captions().count("DLG_UNINSTALLSUCCEEDED"), 0u);
    EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));

    EXPECT_TRUE(WaitUntil(
        [&] {
            return !inst_->FileExists("{root}\\Common\\inuse.dll") &&
                   !inst_->DeletionPending("{root}\\Common\\inuse.dll");
        },
        RemovalTimeoutMs))
        << "the deletions of the next boot were not carried out";
    ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
}

// An INI file held open by another program cannot be opened for writing: the error is shown
// once (with the path as the INI cache names the file, upper-cased); the registry entries
// before the INI entry are undone, the INI file and everything after it stay as they were,
// and a later run finishes the job.
TEST_F(Faults, IniFileThatCannotBeWrittenStopsTheWalkWithItsErrorAndLosesNothing) {
    const char log[] =
        "[AddReg]\n{hklm}\\Settings\\Old=1,previous\n"
        "[AddIni]\n{root}\\Win\\app.ini,Options,Added=\n"
        "[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n";
    for (DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ)}) {
        SCOPED_TRACE(share ? "shared for reading" : "not shared");
        Install(log);
        const std::string ini = inst_->Expand("{root}\\Win\\app.ini");
        const std::string before = ReadFileBytes(ini);
        held_.emplace(ini, share);
        ASSERT_TRUE(held_->Held());

        StartUninstall();
        if (HWND box = Page(BoxCaption)) {
            std::string upper = ini;
            CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
            EXPECT_EQ(StaticTexts(box), "Cannot open file " + upper);
            PostCommand(box, IDOK);
        }
        ExpectStoppedAndRunnableAgain();
        EXPECT_TRUE(inst_->FileExists(inst_->Log()));
        EXPECT_EQ(inst_->Value("{hklm}\\Settings", "Old").Text(), "previous");
        EXPECT_TRUE(inst_->FileExists("{app}\\App.exe"));
        held_.reset();
        EXPECT_EQ(ReadFileBytes(ini), before);

        StartUninstall();
        ExpectCompleted();
        std::string value;
        EXPECT_FALSE(inst_->IniValue("{root}\\Win\\app.ini", "Options", "Added", value));
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
    }
}

// A missing program fails unless its entry accepts any ending; a failed one stops the
// uninstall before anything is removed.
TEST_F(Faults, PreRunAppProgramThatDoesNotExist) {
    struct Case {
        const char* waitAndRequire;  // fields 6 and 7
        bool fails;
    } cases[] = {{"1,1", true}, {"0,1", true}, {"1,0", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waitAndRequire);
        Install(std::string("[PreRunApp]\n1={root}\\Gone\\prepare.exe,,,0,Preparing,") +
                c.waitAndRequire + "\n[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
        StartUninstall();
        if (c.fails) {
            ExpectStoppedAndRunnableAgain();
            EXPECT_TRUE(TracesRemain());
            EXPECT_TRUE(inst_->FileExists("{app}\\App.exe"));
        } else {
            ExpectCompleted();
            EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        }
    }
}

// The program waits for a RunApp program that never ends, with its page responsive and
// its status line naming the wait; once the program is killed the exit code decides.
TEST_F(Faults, RunAppProgramThatHangsUntilItIsKilled) {
    for (bool requireSuccess : {true, false}) {
        SCOPED_TRACE(requireSuccess ? "exit code 0 required" : "any ending accepted");
        Install(std::string("[RunApp]\n1={bin}\\exitcode.exe,0 --sleep 600000,,0,Cleaning up,1,") +
                (requireSuccess ? "1" : "0") +
                "\n[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
        StartUninstall();
        HWND page = Page("DLG_UNINSTALL");
        ASSERT_NE(page, nullptr);
        DWORD child = 0;
        ASSERT_TRUE(WaitUntil([&] { return (child = ChildExitCodeProgram(run_->Id())) != 0; }));
        EXPECT_EQ(ItemText(page, IDC_STATUS), "Cleaning up");
        DWORD_PTR unused = 0;
        EXPECT_NE(SendMessageTimeoutA(page, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &unused), 0)
            << "the page does not answer while the program waits";
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe")) << "RunApp runs after the removals";
        EXPECT_EQ(run_->WaitForExit(2000), -1) << "the program did not wait";

        qz::UniqueHandle hung(OpenProcess(PROCESS_TERMINATE, FALSE, child));
        ASSERT_TRUE(hung);
        TerminateProcess(hung.Get(), 1);
        if (requireSuccess)
            ExpectStoppedAndRunnableAgain();
        else
            ExpectCompleted();
    }
}

// Once the wizard is open the program works from the log it loaded: a log deleted or
// rewritten by another program changes nothing of what is removed or shown (the closing
// page is still found by the caption the loaded log gives it).
TEST_F(Faults, LogDeletedOrRewrittenBetweenTheWizardAndTheWorker) {
    const char log[] =
        "[AddReg]\n{hklm}\\Settings\\New=0,\n"
        "[CopyFiles]\n{app}\\App.exe=1\n{app}\\Help\\app.hlp=1\n"
        "[DataFolders]\n{app}\\Saved=1\n"
        "[CreateDirs]\n{app}=1\n{app}\\Help=1\n"
        "[RunApp]\n1={bin}\\exitcode.exe,0 --mark {root}\\post.txt,,0,Done,1,1\n";
    for (bool rewritten : {false, true}) {
        SCOPED_TRACE(rewritten ? "rewritten" : "deleted");
        Install(log);
        const std::string kept = inst_->File("{root}\\Other\\keep.txt", 0, "keep");
        Start();
        NextOn({"DLG_START"});
        HWND page = Page("DLG_BEFOREUNINSTALL");
        ASSERT_NE(page, nullptr);
        if (rewritten)
            WriteFileBytes(inst_->Log(), "[CopyFiles]\r\n" + kept + "=1\r\n[CreateDirs]\r\n" +
                                             inst_->Expand("{root}\\Other") + "=1\r\n");
        else
            ASSERT_TRUE(DeleteFileA(inst_->Log().c_str())) << "the program holds its log open";
        PressButton(page, IDC_NEXT);
        ExpectCompleted();
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_FALSE(inst_->FileExists("{app}\\Help\\app.hlp"));
        EXPECT_FALSE(inst_->FolderExists("{app}\\Saved"));
        EXPECT_FALSE(inst_->Value("{hklm}\\Settings", "New").exists);
        EXPECT_TRUE(inst_->FileExists("{root}\\post.txt"));
        EXPECT_EQ(ReadFileBytes(kept), "keep");
    }
}

}  // namespace
