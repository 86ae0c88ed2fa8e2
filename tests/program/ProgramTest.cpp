// The program as a process, driven through its pages as a user would, from a staged
// installation to what it leaves behind.
#include <optional>

#include "ProgramRun.h"

namespace {

using namespace test;

class ProgramRestartAlone : public ProgramRun {};
class ProgramHostileAlone : public ProgramRun {};

// Every kind of section the program undoes by itself; last.dll's counter ends and the user
// lets it go. The program lists itself among the files.
TEST_F(ProgramRun, LogGivenAsArgumentIsUndoneAndTheProgramGoesAfterItsEnd) {
    const std::string log = "{root}\\Logs\\my install.log";
    Stage("[PreRunApp]\n1={bin}\\exitcode.exe,0 --mark {root}\\pre.txt,,0,Preparing,1,1\n"
          "[SharedFiles]\n{root}\\Common\\last.dll=1\n[Shortcuts]\n{root}\\Menu\\App=1\n"
          "[AddReg]\n{key}\\Settings\\Old=1,previous\n{key}\\Settings\\New=0,\n[CreateKeys]\n{key}\\Created=1\n"
          "[AddIni]\n{root}\\app.ini,Options,Restored=old\n{root}\\app.ini,Options,Added=\n"
          "[DataFiles]\n{app}\\user.dat=1\n[DataFolders]\n{app}\\Saved=1\n"
          "[CopyFiles]\n{app}\\uninstall.exe=1\n{app}\\App.exe=1\n{root}\\Common\\last.dll=1\n"
          "[CreateDirs]\n{app}=1\n{root}\\Menu=1\n{root}\\Common=1\n"
          "[RunApp]\n1={bin}\\exitcode.exe,0 --mark {root}\\post.txt,,0,Done,1,1\n", log);
    Start("\"" + log + "\" second");
    HWND start = Page("DLG_START");
    EXPECT_EQ(Text(start, IDC_NEXT), "Onward");
    Click(start, IDC_NEXT);
    Next({"DLG_BEFOREUNINSTALL"});
    // No way out of the progress page while its worker waits for the shared-file answer.
    HWND page = Page("DLG_UNINSTALL", false), prompt = Page("DLG_DELSHARED");
    for (WPARAM id : {IDOK, IDCANCEL, IDC_NEXT, IDC_CANCEL}) Command(page, id);
    PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(Text(prompt, IDC_DS_FILE) + "|" + Text(prompt, IDC_DS_FOLDER) + "|" + Text(page, IDC_STATUS),
              X("last.dll|{root}\\Common\\|Shared {root}\\Common\\last.dll"));
    Click(prompt, IDC_DS_DELETE);
    Next({"DLG_UNINSTALLSUCCEEDED"});
    EXPECT_EQ(Exit(), 0);
    ExpectGone(log);
    EXPECT_TRUE(Exists("{root}\\pre.txt") && Exists("{root}\\post.txt") && !Exists("{root}\\Menu") && !Exists("{root}\\Common"));
    EXPECT_EQ(Value(SharedDlls, X("{root}\\Common\\last.dll")) + "|" + Value("{key}\\Created", "Kind") + "|" +
                  Value("{key}\\Settings", "Old") + "|" + Value("{key}\\Settings", "New") + "|" +
                  std::to_string(ReadFileBytes(X("{root}\\app.ini")).find("Restored=old") != std::string::npos), "-|-|previous|-|1");
}

// Every way a run ends before the work is done leaves the installation as it was: Escape, the
// close box or Cancel on each page before the work; a PreRunApp program that fails or is
// missing (before anything goes); an INI file held by another program, whose error is shown
// once with the path as the INI cache names it (after the registry entries before it); a
// RunApp program that fails (after the removals), waited for with the page served. Repair is
// offered only with the repair data file and without NoRepair=1.
TEST_F(ProgramRun, EveryRunStoppedBeforeTheEndLeavesTheInstallation) {
    const char *none = "", *ini = "[AddIni]\n{root}\\app.ini,Options,Added=\n";
    const char *pre = "[PreRunApp]\n1={bin}\\exitcode.exe,1,,0,Preparing,1,1\n", *missing = "[PreRunApp]\n1={root}\\Gone\\prepare.exe,,,0,Preparing,1,1\n";
    const char* run = "[RunApp]\n1={bin}\\exitcode.exe,1 --sleep 4000 --mark {root}\\ran.txt,,0,Waiting,1,1\n";
    const std::vector<const char*> uninstall = {"DLG_START", "DLG_BEFOREUNINSTALL"}, repair = {"DLG_START", "DLG_BEFOREREPAIR"};
    const struct {
        const char* sections;
        DWORD noRepair;  // 9: no repair data file
        std::vector<const char*> pages;
        int act;  // on the last page: the Escape key, the close box, Cancel or Next
    } cases[] = {
        {none, 9, {"DLG_START"}, SC_CLOSE}, {none, 1, uninstall, VK_ESCAPE}, {none, 2, repair, SC_CLOSE},
        {none, 0, {"DLG_START", "DLG_BEFOREREPAIR", "DLG_BROWSEFORSETUP"}, IDC_CANCEL}, {pre, 0, uninstall, IDC_NEXT},
        {missing, 0, uninstall, IDC_NEXT}, {ini, 0, uninstall, IDC_NEXT}, {run, 0, uninstall, IDC_NEXT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sections + std::string(c.pages.back()));
        Stage(c.sections + std::string("[AddReg]\n{key}\\Settings\\Old=1,previous\n[CopyFiles]\n{app}\\App.exe=1\n"));
        if (c.noRepair == 9) DeleteFileA(X("{app}\\install.sss").c_str());
        Set(UninstallRoot + id_, "NoRepair", Dword(c.noRepair), REG_DWORD);
        std::optional<HeldFile> holder;
        if (c.sections == ini) holder.emplace(X("{root}\\app.ini"));
        Start();
        HWND page = Page("DLG_START");
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, IDC_START_REPAIR)) != FALSE, c.noRepair != 9 && c.noRepair != 1);
        if (c.pages.size() > 1 && c.pages[1] == repair[1]) Click(page, IDC_START_REPAIR);
        for (size_t i = 1; i < c.pages.size() && page; ++i) Click(page, IDC_NEXT), page = Page(c.pages[i]);
        if (c.act == VK_ESCAPE) EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_BU_DATAFILES))) << "no data sections";
        if (c.act == VK_ESCAPE) Key(page, VK_ESCAPE);
        if (c.act == SC_CLOSE) PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (c.act == IDC_CANCEL || c.act == IDC_NEXT) Click(page, c.act);
        if (c.sections == ini) EXPECT_STRCASEEQ(StaticTexts(page = Page(BoxCaption)).c_str(), X("Cannot open file {root}\\app.ini").c_str());
        if (c.sections == ini) Command(page, IDOK);
        if (c.sections == run && (page = Page("DLG_UNINSTALL"))) EXPECT_TRUE(WaitUntil([&] { return Text(page, IDC_STATUS) == "Waiting"; }) && !Exists("{root}\\ran.txt"));
        if (c.sections == run) {  // the last stage begun, at 2 of 3 steps
            auto shown = [&](int id) { return IsWindowVisible(GetDlgItem(page, id)) ? "+" : "-"; };
            DWORD_PTR bar = 0;
            SendMessageTimeoutA(GetDlgItem(page, IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_NORMAL, 10000, &bar);
            EXPECT_EQ(shown(310) + std::string(shown(311)) + shown(312) + shown(313) + std::to_string(bar), "+++-67");
        }
        EXPECT_EQ(Exit(), 0) << "no closing page follows";
        holder.reset();
        ExpectKept(c.sections != run);
        EXPECT_EQ(Value("{key}\\Settings", "Old"), c.sections == ini || c.sections == run ? "previous" : "installed");
        EXPECT_TRUE(ReadFileBytes(X("{root}\\app.ini")).empty() && Exists("{root}\\ran.txt") == (c.sections == run));
    }
}

TEST_F(ProgramRun, MissingLogShowsOneBoxNamingItsPathAndEndsWithZero) {
    Stage("", "{root}\\elsewhere.log");  // none beside the program
    Start();
    HWND box = Page(BoxCaption);
    EXPECT_EQ(StaticTexts(box), X("Installation log file {app}\\install.log not found!"));
    Command(box, IDOK);
    EXPECT_EQ(Exit(), 0);
}

// The folder browser has settled once its tree shows the starting folder: the selected item
// lies as deep as the folder has parts below its drive.
bool BrowserSettled(HWND browser, const std::string& folder) {
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    int depth = 0;
    for (LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0); tree && item; ++depth) item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, item);
    return depth >= static_cast<int>(std::count(folder.begin(), folder.end(), '\\'));
}

// The setup program named by the key, and once it was moved the one in the folder given on
// the browse page (which takes only a folder that holds it), is started to repair.
TEST_F(ProgramRun, SetupProgramFoundThroughTheKeyOrTheBrowsePageGetsTheRepairSwitch) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n");
    MakeFile(X("{root}\\Setup\\setup.exe"));
    ASSERT_TRUE(CopyFileA(HelperProgram("fakesetup").c_str(), X("{root}\\Setup\\setup.exe").c_str(), FALSE));
    Set(UninstallRoot + id_, "InstallSourceFile", X("{root}\\Setup\\setup.exe"));
    for (const std::string folder : {"{root}\\Setup", "{root}\\Moved"}) {
        if (folder == "{root}\\Moved") ASSERT_TRUE(MoveFileA(X("{root}\\Setup").c_str(), X(folder).c_str()));
        Start();
        if (HWND page = Page("DLG_START")) Click(page, IDC_START_REPAIR), Click(page, IDC_NEXT);
        if (HWND page = Page("DLG_BEFOREREPAIR")) Click(page, IDC_BACK);
        HWND page = Page("DLG_START"), other = nullptr;
        EXPECT_TRUE(IsDlgButtonChecked(page, IDC_START_REPAIR)) << "the choice is kept across Back";
        Click(page, IDC_NEXT);
        Next({"DLG_BEFOREREPAIR"});
        if (folder == "{root}\\Moved" && (page = Page("DLG_BROWSEFORSETUP"))) {
            EXPECT_EQ(Text(page, IDC_BS_FOLDER), X("{root}\\Setup\\"));
            Click(page, IDC_NEXT);  // setup.exe is no longer there
            EXPECT_EQ(StaticTexts(other = Page(BoxCaption)), "No setup there");
            Command(other, IDOK);
            SetDlgItemTextA(page, IDC_BS_FOLDER, X(folder + "\\").c_str());
            Click(page, IDC_BS_BROWSE);
            other = Page("Setup folder");
            ASSERT_TRUE(WaitUntil([&] { return BrowserSettled(other, X(folder)); }));
            Command(other, IDOK);
            ASSERT_TRUE(WaitUntil([&] { return Text(page, IDC_BS_FOLDER) == X(folder); }));
            Click(page, IDC_NEXT);
        }
        EXPECT_EQ(Exit(), 0);
        ASSERT_TRUE(WaitUntil([&] { return Exists(folder + "\\setup.txt"); }));
        EXPECT_NE(ReadFileBytes(X(folder + "\\setup.txt")).find("setup.exe\" -repair " + id_ + "\r\n"), std::string::npos);
        ExpectKept();
    }
}

// A file in use waits for the next boot; the restart page offers the restart, which carries
// out the deletion when accepted and leaves it pending otherwise.
TEST_F(ProgramRestartAlone, FileInUseGoesAtTheAcceptedRestartAndStaysPendingOtherwise) {
    const std::string sessionManager = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";
    auto pending = [&] { return Value(sessionManager, "PendingFileRenameOperations").find(X("{root}\\busy.dll") + '\0') != std::string::npos; };
    for (int answer : {IDC_RB_NOW, IDC_RB_LATER, IDCANCEL}) {  // IDCANCEL: the Escape key
        Stage("[CopyFiles]\n{app}\\App.exe=1\n{root}\\busy.dll=1\n[CreateDirs]\n{app}=1\n");
        std::optional<HeldFile> held(std::in_place, X("{root}\\busy.dll"));
        Start();
        Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
        if (HWND page = Page("DLG_REBOOT")) {
            EXPECT_TRUE(pending() && Exists("{root}\\busy.dll") && !IsWindowEnabled(GetDlgItem(page, IDC_BACK)) && IsDlgButtonChecked(page, IDC_RB_NOW));
            held.reset();  // the other program has ended by the time the user answers
            if (answer != IDCANCEL) Click(page, answer), Click(page, IDC_NEXT);
            if (answer == IDCANCEL) Key(page, VK_ESCAPE);
        }
        if (answer != IDC_RB_NOW) Next({"DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(Exit(), 0);
        ExpectGone();
        EXPECT_TRUE(WaitUntil([&] { return Exists("{root}\\busy.dll") == pending() && pending() == (answer != IDC_RB_NOW); }));
    }
}

// Entries that climb out of the application folder, relative ones and a device form, aimed
// at sentinels beside it, among the installation's own entries; under an AppID that names
// another key and a blank one. An empty and a binary log (no AppID) are walked through too.
TEST_F(ProgramHostileAlone, OnlyTheInstallationsOwnEntriesGoAndNoOtherUninstallKey) {
    const char log[] = "[Shortcuts]\n..\\Outside\\keep=1\n{app}\\..\\Outside\\keep=1\n[DataFiles]\n\\\\?\\{root}\\Outside\\*.*=1\n"
                       "[CopyFiles]\n{app}\\..\\Outside\\*.*=1\n..\\Outside\\keep.txt=1\n{app}\\own.txt=1\n"
                       "[DataFolders]\n{app}\\..\\Outside=1\n..\\Outside=1\n{app}\\Data=1\n"
                       "[CreateDirs]\n..\\Outside\\Empty=1\n{app}\\.\\..\\Outside\\Empty=1\n{app}=1\n";
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) % 256);
    for (const auto& [appId, bytes] : {std::pair<std::string, std::string>{"{id}\\Details", "-"}, {" \t ", "-"}, {"", ""}, {"", binary}}) {
        appId_ = appId;
        Stage(bytes == "-" ? log : "");
        if (bytes != "-") WriteFileBytes(X("{app}\\install.log"), bytes);
        for (const char* sentinel : {"keep.txt", "keep.lnk", "Empty\\x"}) MakeFile(X("{root}\\Outside\\") + sentinel);
        DeleteFileA(X("{root}\\Outside\\Empty\\x").c_str());
        Start();
        EXPECT_EQ(Exit(IDOK), 0);
        EXPECT_TRUE(WaitUntil([this] { return !Exists("{app}"); })) << "the program's own folder, AppID " << appId;
        EXPECT_TRUE(Exists("{root}\\Outside\\keep.txt") && Exists("{root}\\Outside\\keep.lnk") && Exists("{root}\\Outside\\Empty") &&
                    Value(UninstallRoot + id_ + "\\Details", "Kind") != "-") << "a sentinel or the other uninstall key went";
    }
}

}  // namespace
