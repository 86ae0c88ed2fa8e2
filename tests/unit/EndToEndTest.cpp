// The built uninstall.exe run as Add/Remove Programs runs it: a copy in the application
// folder of a staged installation, driven through its wizard, and the machine checked once
// the process has ended.
#include <gtest/gtest.h>

#include "ComSupport.h"
#include "StagedProgram.h"
#include "resource.h"

namespace {

using namespace test;

class EndToEnd : public StagedProgram {};

// Every section of the log. The shared files: last.dll's counter ends (the user lets it go),
// counted.dll is still used by others, kept.dll's counter ends (the user keeps it); busy.dll
// is in use. The uninstaller lists itself. The cache tool leaves its record in {app}, which
// RunApp moves out.
const char FullLog[] = R"(
[PreRunApp]
1={bin}\exitcode.exe,0 --mark {root}\pre.txt,,0,Preparing,1,1
[SharedFiles]
{root}\Common\last.dll=1
{root}\Common\counted.dll=1
{root}\Common\kept.dll=1
[SharedAssemblies]
a=Demo.Lib,Version=1.0.0.0
[Shortcuts]
{root}\Menu\App=1
[AddReg]
{hklm}\Settings\Old=1,previous
{hkcu}\Settings\New=0,
[CreateKeys]
{hklm}\Created=1
{hklm}\Created\Sub=1
[AddIni]
{root}\Win\app.ini,Options,Restored=old
{root}\Win\app.ini,Options,Added=
[RegFonts]
{font}={app}\e2e.ttf
[RegServers]
{app}\e2e server.dll=1
[DataFiles]
{app}\user.dat=1
[CopyFiles]
{app}\uninstall.exe=1
{app}\App.exe=1
{app}\Help\app.hlp=1
{app}\gacutil.exe=1
{app}\e2e server.dll=1
{root}\Common\last.dll=1
{root}\Common\counted.dll=1
{root}\Common\kept.dll=1
{root}\Common\busy.dll=1
[DataFolders]
{app}\Saved=1
[CreateDirs]
{app}=1
{app}\Help=1
{root}\Menu=1
{root}\Common=1
[RunApp]
1={system}\cmd.exe,/c move {app}\gacutil.args {root}\gacutil.args,,0,Moving,1,1
2={bin}\exitcode.exe,0 --mark {root}\post.txt,,0,Done,1,1
)";

TEST_F(EndToEnd, UninstallRoadUndoesEverySectionAndTheProgramRemovesItself) {
    Install(FullLog);
    ASSERT_TRUE(CopyFileA(test::HelperProgram("gacutil").c_str(),
                          inst_->Expand("{app}\\gacutil.exe").c_str(), FALSE));
    const std::string server = inst_->Expand("{app}\\e2e server.dll");
    ASSERT_TRUE(CopyFileA((test::BinFolder() + "comserver.dll").c_str(), server.c_str(), FALSE));
    ASSERT_TRUE(test::RegisterComServer(server));
    inst_->SetValue(NtFonts, FontName(), REG_SZ, Sz(inst_->File("{app}\\e2e.ttf")));
    SetSharedCount("{root}\\Common\\last.dll", 1);
    SetSharedCount("{root}\\Common\\counted.dll", 3);
    SetSharedCount("{root}\\Common\\kept.dll", 1);
    held_.emplace(inst_->Expand("{root}\\Common\\busy.dll"));
    ASSERT_TRUE(held_->Held());

    Start();
    if (HWND page = Page("DLG_START")) {
        EXPECT_TRUE(test::ItemChecked(page, IDC_START_UNINSTALL));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_START_REPAIR)));
        test::PressButton(page, IDC_NEXT);
    }
    if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
        EXPECT_TRUE(test::ItemChecked(page, IDC_BU_DATAFILES));
        test::PressButton(page, IDC_NEXT);
    }
    // No way out of the progress page: the walk goes on to the shared-file prompts.
    if (HWND page = Page("DLG_UNINSTALL")) {
        test::PostCommand(page, IDCANCEL);
        test::PostCommand(page, IDC_CANCEL);
        PostMessageA(page, WM_CLOSE, 0, 0);
        struct Answer {
            const char* file;
            int button;
        };
        for (Answer answer : {Answer{"last.dll", IDC_DS_DELETE}, Answer{"kept.dll", IDC_DS_KEEP}}) {
            HWND prompt = Page("DLG_DELSHARED");
            if (!prompt) break;
            EXPECT_EQ(test::ItemText(prompt, IDC_DS_FILE), answer.file);
            EXPECT_EQ(test::ItemText(prompt, IDC_DS_FOLDER), inst_->Expand("{root}\\Common\\"));
            EXPECT_EQ(test::ItemText(page, IDC_STATUS),
                      inst_->Expand("18:{root}\\Common\\") + answer.file);
            test::PressButton(prompt, answer.button);
        }
    }
    // The file in use asks for a restart; the user declines. Its other program has ended by
    // now, so that a restart would be seen.
    if (HWND page = Page("DLG_REBOOT")) {
        held_.reset();
        EXPECT_TRUE(inst_->DeletionPending("{root}\\Common\\busy.dll"));
        EXPECT_FALSE(inst_->DeletionPending(exe_)) << "its script removes the program";
        EXPECT_TRUE(test::ItemChecked(page, IDC_RB_NOW));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_BACK)));
        test::PressButton(page, IDC_RB_LATER);
        test::PressButton(page, IDC_NEXT);
    }
    NextOn({"DLG_UNINSTALLSUCCEEDED"});
    EXPECT_EQ(run_->WaitForExit(), 0);

    ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
    EXPECT_TRUE(inst_->FileExists("{root}\\pre.txt"));
    EXPECT_TRUE(inst_->FileExists("{root}\\post.txt"));
    EXPECT_EQ(test::ReadFileBytes(inst_->Expand("{root}\\gacutil.args")),
              "/ur Demo.Lib,Version=1.0.0.0\r\n");
    EXPECT_FALSE(inst_->FileExists("{root}\\Menu\\App.lnk"));
    EXPECT_FALSE(inst_->FolderExists("{root}\\Menu"));
    EXPECT_EQ(inst_->Value("{hklm}\\Settings", "Old").Text(), "previous");
    EXPECT_FALSE(inst_->Value("{hkcu}\\Settings", "New").exists);
    EXPECT_FALSE(inst_->KeyExists("{hklm}\\Created"));
    EXPECT_TRUE(inst_->KeyExists("{hklm}\\Settings"));
    std::string ini;
    EXPECT_TRUE(inst_->IniValue("{root}\\Win\\app.ini", "Options", "Restored", ini));
    EXPECT_EQ(ini, "old");
    EXPECT_FALSE(inst_->IniValue("{root}\\Win\\app.ini", "Options", "Added", ini));
    EXPECT_FALSE(inst_->Value(NtFonts, FontName()).exists);
    EXPECT_EQ(test::ComServerMark("e2e server.dll"), "");
    // Shared files: the last user's copy went on request, the counted one and the kept one stay.
    EXPECT_FALSE(inst_->FileExists("{root}\\Common\\last.dll"));
    EXPECT_FALSE(inst_->Value(SharedDlls, "{root}\\Common\\last.dll").exists);
    EXPECT_TRUE(inst_->FileExists("{root}\\Common\\counted.dll"));
    EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Common\\counted.dll").Number(), 2u);
    EXPECT_TRUE(inst_->FileExists("{root}\\Common\\kept.dll"));
    EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Common\\kept.dll").Number(), 1u);
    // The file waits for the next boot, which was not asked for.
    EXPECT_TRUE(inst_->FileExists("{root}\\Common\\busy.dll"));
    EXPECT_TRUE(inst_->DeletionPending("{root}\\Common\\busy.dll"));
}

// The program in a folder whose name the command interpreter could misread, and the log
// elsewhere, named by the argument; the repair data file lies beside the log.
TEST_F(EndToEnd, LogGivenAsArgumentWithoutCountedSectionsStillRemovesEveryTrace) {
    Install("");
    const std::string log = inst_->Expand("{root}\\Logs\\my install.log");
    const std::string repairData = inst_->Expand("{root}\\Logs\\my install.sss");
    inst_->Folder("{root}\\Logs");
    ASSERT_TRUE(MoveFileA(inst_->Log().c_str(), log.c_str()));
    ASSERT_TRUE(MoveFileA(inst_->Expand("{app}\\install.sss").c_str(), repairData.c_str()));
    const std::string folder = inst_->Folder("{root}\\Program Files\\Qz 100%PATH% & Soci\xE9t\xE9");
    ASSERT_TRUE(MoveFileA(exe_.c_str(), (folder + "\\uninstall.exe").c_str()));
    exe_ = folder + "\\uninstall.exe";

    Start("\"" + log + "\"");
    if (HWND page = Page("DLG_START")) {
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_START_REPAIR)));
        test::PressButton(page, IDC_NEXT);
    }
    if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_BU_DATAFILES)));
        test::PressButton(page, IDC_NEXT);
    }
    NextOn({"DLG_UNINSTALLSUCCEEDED"});
    EXPECT_EQ(run_->WaitForExit(), 0);
    EXPECT_EQ(run_->Captions().count("DLG_REBOOT"), 0u);
    ExpectTracesGone(log, repairData);
}

TEST_F(EndToEnd, RepairStartsTheSetupProgramFoundThroughTheKeyOrTheBrowsePage) {
    Install("[CopyFiles]\n{app}\\App.exe=1\n");
    const std::string setup = inst_->File("{root}\\Setup\\setup.exe", 0,
                                          test::ReadFileBytes(test::HelperProgram("fakesetup")));
    inst_->SetValue(key_, "InstallSourceFile", REG_SZ, Sz(setup));
    auto chooseRepair = [this] {
        if (HWND page = Page("DLG_START")) {
            test::PressButton(page, IDC_START_REPAIR);
            test::PressButton(page, IDC_NEXT);
        }
        NextOn({"DLG_BEFOREREPAIR"});
    };
    auto expectRepairStarted = [this](const std::string& folder) {
        EXPECT_EQ(run_->WaitForExit(), 0);
        const std::string record = inst_->Expand(folder + "\\setup.txt");
        ASSERT_TRUE(test::WaitUntil([&] { return test::PathExists(record); }));
        std::string line = test::ReadFileBytes(record);
        line = line.substr(0, line.find('\r'));
        const std::string switches = "-repair " + appId_;
        EXPECT_TRUE(line.size() >= switches.size() &&
                    line.compare(line.size() - switches.size(), switches.size(), switches) == 0)
            << line;
        EXPECT_TRUE(TracesRemain());
        EXPECT_TRUE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_EQ(ScriptsIn(inst_->Root()), 0);
    };

    Start();
    chooseRepair();
    expectRepairStarted("{root}\\Setup");

    // The setup folder was moved: the browse page asks for the new one.
    ASSERT_TRUE(MoveFileA(inst_->Expand("{root}\\Setup").c_str(),
                          inst_->Expand("{root}\\Moved Setup").c_str()));
    Start();
    chooseRepair();
    if (HWND page = Page("DLG_BROWSEFORSETUP")) {
        EXPECT_EQ(test::ItemText(page, IDC_BS_FOLDER), inst_->Expand("{root}\\Setup\\"));
        test::PressButton(page, IDC_NEXT);
        if (HWND box = Page(test::BoxCaption)) {
            EXPECT_EQ(test::StaticTexts(box), "No setup there");
            test::PostCommand(box, IDOK);
        }
        // Typed without the final backslash, then confirmed in the folder browser.
        ASSERT_TRUE(test::WaitUntil([&] { return IsWindowEnabled(page) != FALSE; }));
        test::SetItemText(page, IDC_BS_FOLDER, inst_->Expand("{root}\\Moved Setup"));
        test::PressButton(page, IDC_BS_BROWSE);
        if (HWND browser = Page("Setup folder")) test::PostCommand(browser, IDOK);
        ASSERT_TRUE(test::WaitUntil([&] { return IsWindowEnabled(page) != FALSE; }));
        EXPECT_EQ(test::ItemText(page, IDC_BS_FOLDER), inst_->Expand("{root}\\Moved Setup"));
        test::PressButton(page, IDC_NEXT);
    }
    expectRepairStarted("{root}\\Moved Setup");
}

TEST_F(EndToEnd, CancelOnAnyPageEndsTheProgramAndLeavesTheInstallation) {
    Install("[CopyFiles]\n{app}\\App.exe=1\n{root}\\Common\\busy.dll=1\n");
    inst_->SetValue(key_, "InstallSourceFile", REG_SZ,
                    Sz(inst_->Expand("{root}\\Gone\\setup.exe")));
    struct Case {
        bool repair;  // chosen on DLG_START
        std::vector<const char*> nextOn;
        const char* cancelOn;
        UINT message;  // WM_COMMAND with Cancel, WM_COMMAND with IDCANCEL (Escape), or WM_CLOSE
        WPARAM wParam;
    };
    const Case cases[] = {
        {false, {}, "DLG_START", WM_COMMAND, IDC_CANCEL},
        {false, {"DLG_START"}, "DLG_BEFOREUNINSTALL", WM_COMMAND, IDCANCEL},
        {true, {"DLG_START"}, "DLG_BEFOREREPAIR", WM_CLOSE, 0},
        {true, {"DLG_START", "DLG_BEFOREREPAIR"}, "DLG_BROWSEFORSETUP", WM_COMMAND, IDC_CANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelOn);
        Start();
        for (const char* name : c.nextOn) {
            HWND page = Page(name);
            if (!page) break;
            if (c.repair && std::string(name) == "DLG_START")
                test::PressButton(page, IDC_START_REPAIR);
            test::PressButton(page, IDC_NEXT);
        }
        if (HWND page = Page(c.cancelOn)) PostMessageA(page, c.message, c.wParam, 0);
        EXPECT_EQ(run_->WaitForExit(), 0);
        EXPECT_TRUE(TracesRemain());
        EXPECT_TRUE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_EQ(ScriptsIn(inst_->Root()), 0);
    }

    // Cancel on the restart page: no restart, and the closing page follows.
    held_.emplace(inst_->Expand("{root}\\Common\\busy.dll"));
    ASSERT_TRUE(held_->Held());
    Start();
    NextOn({"DLG_START", "DLG_BEFOREUNINSTALL"});
    if (HWND page = Page("DLG_REBOOT")) {
        held_.reset();
        test::PressButton(page, IDC_CANCEL);
    }
    NextOn({"DLG_UNINSTALLSUCCEEDED"});
    EXPECT_EQ(run_->WaitForExit(), 0);
    ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
    EXPECT_TRUE(inst_->FileExists("{root}\\Common\\busy.dll"));
    EXPECT_TRUE(inst_->DeletionPending("{root}\\Common\\busy.dll"));
}

}  // namespace
