// The program as a process, driven through its pages as a user would, from a staged
// installation to what it leaves behind.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "ProgramRun.h"
#include "resource.h"

namespace {

using namespace test;

class ProgramUninstall : public ProgramRun {};
class ProgramWizard : public ProgramRun {};
class ProgramRepair : public ProgramRun {};
class ProgramFaults : public ProgramRun {};
class ProgramDamagedLog : public ProgramRun {};
class ProgramRestartAlone : public ProgramRun {};
class ProgramHostileAlone : public ProgramRun {};

// A section of every kind that the program undoes alone. last.dll's counter ends (the user
// lets it go), counted.dll is still used by others; the program lists itself.
const char FullLog[] = R"([PreRunApp]
1={bin}\exitcode.exe,0 --mark {root}\pre.txt,,0,Preparing,1,1
[SharedFiles]
{root}\Common\last.dll=1
{root}\Common\counted.dll=3
[Shortcuts]
{root}\Menu\App=1
[AddReg]
{key}\Settings\Old=1,previous
{key}\Settings\New=0,
[CreateKeys]
{key}\Created=1
[AddIni]
{root}\app.ini,Options,Restored=old
{root}\app.ini,Options,Added=
[DataFiles]
{app}\user.dat=1
[CopyFiles]
{app}\uninstall.exe=1
{app}\App.exe=1
{root}\Common\last.dll=1
{root}\Common\counted.dll=1
[DataFolders]
{app}\Saved=1
[CreateDirs]
{app}=1
{root}\Menu=1
{root}\Common=1
[RunApp]
1={bin}\exitcode.exe,0 --mark {root}\post.txt,,0,Done,1,1
)";

TEST_F(ProgramUninstall, LogGivenAsArgumentIsUndoneAndTheProgramGoesAfterItsEnd) {
    const std::string log = "{root}\\Logs\\my install.log";
    Stage(FullLog, log);
    Start("\"" + log + "\" second");
    if (HWND page = Page("DLG_START")) {
        std::vector<HWND> main = ProcessWindows(child_.Id(), "QVUninstallMainWindow");
        EXPECT_TRUE(main.size() == 1 && WindowText(main[0]) == "Qz Program");
        EXPECT_EQ(Text(page, IDC_NEXT), "Onward");
        EXPECT_TRUE(Checked(page, IDC_START_UNINSTALL) && Enabled(page, IDC_START_REPAIR));
        Click(page, IDC_NEXT);
    }
    if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
        EXPECT_TRUE(Checked(page, IDC_BU_DATAFILES));
        Click(page, IDC_BU_DATAFILES);
        Click(page, IDC_BACK);
    }
    if (HWND page = Page("DLG_START")) {
        EXPECT_TRUE(Checked(page, IDC_START_UNINSTALL));
        Key(page, VK_RETURN);
    }
    if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
        EXPECT_FALSE(Checked(page, IDC_BU_DATAFILES)) << "the choice is kept across Back";
        Click(page, IDC_BU_DATAFILES);
        Click(page, IDC_NEXT);
    }
    // No way out of the progress page while its worker waits for the shared-file answer.
    if (HWND page = Page("DLG_UNINSTALL", false)) {
        for (WPARAM id : {IDOK, IDCANCEL, IDC_NEXT, IDC_CANCEL}) Command(page, id);
        PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (HWND prompt = Page("DLG_DELSHARED")) {
            EXPECT_EQ(Text(prompt, IDC_DS_FILE) + "|" + Text(prompt, IDC_DS_FOLDER),
                      X("last.dll|{root}\\Common\\"));
            EXPECT_EQ(Text(page, IDC_STATUS), X("Shared {root}\\Common\\last.dll"));
            Click(prompt, IDC_DS_DELETE);
        }
    }
    Next({"DLG_UNINSTALLSUCCEEDED"});
    EXPECT_EQ(Exit(), 0);
    ExpectGone(log);
    EXPECT_TRUE(Exists("{root}\\pre.txt") && Exists("{root}\\post.txt"));
    EXPECT_FALSE(Exists("{root}\\Menu") || Exists("{root}\\Common\\last.dll"));
    EXPECT_TRUE(Exists("{root}\\Common\\counted.dll"));
    EXPECT_EQ(Value(SharedDlls, X("{root}\\Common\\last.dll")), "-");
    EXPECT_EQ(Value(SharedDlls, X("{root}\\Common\\counted.dll")), "2");
    EXPECT_EQ(Value("{key}\\Settings", "Old") + "|" + Value("{key}\\Settings", "New"), "previous|-");
    EXPECT_FALSE(KeyExists("{key}\\Created"));
    const std::string ini = ReadFileBytes(X("{root}\\app.ini"));
    EXPECT_TRUE(ini.find("Restored=old") != std::string::npos && ini.find("Added") == std::string::npos)
        << ini;
}

// Escape (Enter's twin), the close box and Cancel end the program on every page before the
// work; the repair option is there only with the repair data file and without NoRepair.
TEST_F(ProgramWizard, EveryPageBeforeTheWorkCancelsAndRepairIsOfferedOnlyWhereAllowed) {
    enum How { EscapeKey, CloseBox, CancelButton };
    struct Case {
        bool repairData;
        DWORD noRepair;
        std::vector<const char*> nextOn;
        const char* cancelOn;
        How how;
    };
    const Case cases[] = {
        {false, 0, {}, "DLG_START", CloseBox},
        {true, 1, {"DLG_START"}, "DLG_BEFOREUNINSTALL", EscapeKey},
        {true, 2, {"DLG_START"}, "DLG_BEFOREREPAIR", CloseBox},
        {true, 0, {"DLG_START", "DLG_BEFOREREPAIR"}, "DLG_BROWSEFORSETUP", CancelButton},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelOn);
        Stage("[CopyFiles]\n{app}\\App.exe=1\n");
        if (!c.repairData) DeleteFileA(X("{app}\\install.sss").c_str());
        Set(UninstallRoot + id_, "NoRepair", c.noRepair);
        Set(UninstallRoot + id_, "InstallSourceFile", X("{root}\\Gone\\setup.exe"));
        const bool offered = c.repairData && c.noRepair != 1;
        Start();
        for (const char* name : c.nextOn) {
            HWND page = Page(name);
            if (!page) break;
            const bool start = name == std::string("DLG_START");
            EXPECT_TRUE(!start || Enabled(page, IDC_START_REPAIR) == offered);
            if (start && offered) Click(page, IDC_START_REPAIR);
            Click(page, IDC_NEXT);
        }
        if (HWND page = Page(c.cancelOn)) {
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_BU_DATAFILES)) &&
                         c.cancelOn == std::string("DLG_BEFOREUNINSTALL"))
                << "the data-files box of a log without data sections";
            EXPECT_TRUE(c.cancelOn != std::string("DLG_START") || !Enabled(page, IDC_START_REPAIR));
            if (c.how == EscapeKey) Key(page, VK_ESCAPE);
            if (c.how == CloseBox) PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
            if (c.how == CancelButton) Click(page, IDC_CANCEL);
        }
        EXPECT_EQ(Exit(), 0);
        ExpectKept();
        EXPECT_TRUE(Exists("{app}\\App.exe"));
    }
}

// The folder browser has settled once its tree shows the starting folder: the selected item
// lies as deep as the folder has parts below its drive.
bool BrowserSettled(HWND browser, const std::string& folder) {
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    int depth = 0;
    for (LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0); tree && item;
         item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, item))
        ++depth;
    return depth >= static_cast<int>(std::count(folder.begin(), folder.end(), '\\'));
}

TEST_F(ProgramRepair, SetupProgramFoundThroughTheKeyOrTheBrowsePageGetsTheRepairSwitch) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n");
    CreateDirectoryA(X("{root}\\Setup").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(HelperProgram("fakesetup").c_str(), X("{root}\\Setup\\setup.exe").c_str(), FALSE));
    Set(UninstallRoot + id_, "InstallSourceFile", X("{root}\\Setup\\setup.exe"));
    auto expectRepairStarted = [this](const std::string& folder) {
        EXPECT_EQ(Exit(), 0);
        const std::string record = X(folder + "\\setup.txt");
        ASSERT_TRUE(WaitUntil([&] { return PathExists(record); }));
        EXPECT_NE(ReadFileBytes(record).find("setup.exe\" -repair " + id_ + "\r\n"), std::string::npos)
            << ReadFileBytes(record);
        ExpectKept();
        EXPECT_TRUE(Exists("{app}\\App.exe"));
    };
    Start();
    if (HWND page = Page("DLG_START")) Click(page, IDC_START_REPAIR), Click(page, IDC_NEXT);
    if (HWND page = Page("DLG_BEFOREREPAIR")) Click(page, IDC_BACK);
    if (HWND page = Page("DLG_START")) {
        EXPECT_TRUE(Checked(page, IDC_START_REPAIR)) << "the choice is kept across Back";
        Click(page, IDC_NEXT);
    }
    Next({"DLG_BEFOREREPAIR"});
    expectRepairStarted("{root}\\Setup");

    // The setup folder was moved: the browse page takes only a folder holding setup.exe.
    ASSERT_TRUE(MoveFileA(X("{root}\\Setup").c_str(), X("{root}\\Moved Setup").c_str()));
    Start();
    if (HWND page = Page("DLG_START")) Click(page, IDC_START_REPAIR), Click(page, IDC_NEXT);
    Next({"DLG_BEFOREREPAIR"});
    if (HWND page = Page("DLG_BROWSEFORSETUP")) {
        EXPECT_EQ(Text(page, IDC_BS_FOLDER), X("{root}\\Setup\\"));
        SetText(page, IDC_BS_FOLDER, X("{root}"));
        Click(page, IDC_NEXT);
        if (HWND box = Page(BoxCaption)) {
            EXPECT_EQ(StaticTexts(box), "No setup there");
            Command(box, IDOK);
        }
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(page) != FALSE; }));
        SetText(page, IDC_BS_FOLDER, X("{root}\\Moved Setup\\"));
        Click(page, IDC_BS_BROWSE);
        HWND browser = Page("Setup folder");
        ASSERT_TRUE(WaitUntil([&] { return BrowserSettled(browser, X("{root}\\Moved Setup")); }));
        Command(browser, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(page) != FALSE; }));
        EXPECT_EQ(Text(page, IDC_BS_FOLDER), X("{root}\\Moved Setup"));
        Click(page, IDC_NEXT);
    }
    expectRepairStarted("{root}\\Moved Setup");
}

TEST_F(ProgramFaults, FailingOrMissingPreRunAppProgramStopsTheWalkBeforeAnythingGoes) {
    for (const char* program : {"{bin}\\exitcode.exe,1", "{root}\\Gone\\prepare.exe,"}) {
        SCOPED_TRACE(program);
        Stage(std::string("[PreRunApp]\n1=") + program +
              ",,0,Preparing,1,1\n[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
        Start();
        Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
        EXPECT_EQ(Exit(), 0) << "no closing page follows";
        ExpectKept();
        EXPECT_TRUE(Exists("{app}\\App.exe"));
    }
}

// The id of a running exitcode.exe that the process started; 0 when none.
DWORD ExitCodeChildOf(DWORD parent) {
    qz::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
        if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, "exitcode.exe") == 0)
            return entry.th32ProcessID;
    return 0;
}

// The program waits for a RunApp program that does not end, its page served and naming the
// wait; once that program is killed its exit code fails the walk. What the program does is
// the log it loaded, whatever becomes of the file meanwhile.
TEST_F(ProgramFaults, RunAppProgramThatHangsIsWaitedForWithThePageServed) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n[RunApp]\n1={bin}\\exitcode.exe,0 --sleep 600000,,0,Cleaning up,1,1\n");
    const std::string kept = root_.Write("keep.txt");
    Start();
    Next({"DLG_START"});
    if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
        WriteFileBytes(X("{app}\\install.log"), "[CopyFiles]\r\n" + kept + "=1\r\n");
        Click(page, IDC_NEXT);
    }
    HWND page = Page("DLG_UNINSTALL");
    DWORD hung = 0;
    ASSERT_TRUE(WaitUntil([&] { return (hung = ExitCodeChildOf(child_.Id())) != 0; }));
    EXPECT_EQ(Text(page, IDC_STATUS), "Cleaning up");
    EXPECT_FALSE(Exists("{app}\\App.exe")) << "RunApp runs after the removals";
    EXPECT_TRUE(PathExists(kept));
    EXPECT_TRUE(child_.Running());
    qz::UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, hung));
    TerminateProcess(process.Get(), 1);
    EXPECT_EQ(Exit(), 0);
    ExpectKept();
}

// An INI file held open by another program cannot be written: its error is shown once (with
// the path as the INI cache names it), the walk stops, and nothing is lost.
TEST_F(ProgramFaults, IniFileInUseStopsTheWalkWithOneErrorAndLosesNothing) {
    Stage("[AddReg]\n{key}\\Settings\\Old=1,previous\n[AddIni]\n{root}\\app.ini,Options,Added=\n"
          "[CopyFiles]\n{app}\\App.exe=1\n");
    const std::string ini = X("{root}\\app.ini"), before = ReadFileBytes(ini);
    std::string upper = ini;
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    {
        HeldFile held(ini);
        ASSERT_TRUE(held.Held());
        Start();
        Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
        if (HWND box = Page(BoxCaption)) {
            EXPECT_EQ(StaticTexts(box), "Cannot open file " + upper);
            Command(box, IDOK);
        }
        EXPECT_EQ(Exit(), 0);
    }
    ExpectKept();
    EXPECT_EQ(Value("{key}\\Settings", "Old"), "previous");
    EXPECT_TRUE(Exists("{app}\\App.exe"));
    EXPECT_EQ(ReadFileBytes(ini), before);
}

TEST_F(ProgramDamagedLog, MissingLogShowsOneBoxNamingItsPathAndEndsWithZero) {
    Stage("");
    DeleteFileA(X("{app}\\install.log").c_str());
    CreateDirectoryA(X("{app}\\install.log").c_str(), nullptr);  // a folder is no log
    const std::pair<const char*, const char*> cases[] = {
        {"", "{app}\\install.log"},
        {"\"{root}\\no such\\in 100%s.log\" second", "{root}\\no such\\in 100%s.log"}};
    for (const auto& [arguments, path] : cases) {
        Start(arguments);
        if (HWND box = Page(BoxCaption)) {
            EXPECT_EQ(StaticTexts(box), X("Installation log file " + std::string(path) + " not found!"));
            Command(box, IDOK);
        }
        EXPECT_EQ(Exit(), 0);
    }
}

// A file in use waits for the next boot; the restart page offers the restart, which carries
// out the deletion when accepted and leaves it pending otherwise.
TEST_F(ProgramRestartAlone, FileInUseGoesAtTheAcceptedRestartAndStaysPendingOtherwise) {
    struct Case {
        const char* name;
        std::function<void(HWND)> answer;
        bool restart;
    };
    const Case cases[] = {
        {"accepted", [](HWND page) { Click(page, IDC_NEXT); }, true},
        {"later", [](HWND page) { Click(page, IDC_RB_LATER), Click(page, IDC_NEXT); }, false},
        {"escape", [this](HWND page) { Key(page, VK_ESCAPE); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stage("[CopyFiles]\n{app}\\App.exe=1\n{root}\\busy.dll=1\n[CreateDirs]\n{app}=1\n");
        std::optional<HeldFile> held(std::in_place, X("{root}\\busy.dll"));
        ASSERT_TRUE(held->Held());
        Start();
        Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
        if (HWND page = Page("DLG_REBOOT")) {
            EXPECT_TRUE(Pending("{root}\\busy.dll") && Exists("{root}\\busy.dll"));
            EXPECT_TRUE(Checked(page, IDC_RB_NOW) && !Enabled(page, IDC_BACK));
            held.reset();  // the other program has ended by the time the user answers
            c.answer(page);
        }
        if (!c.restart) Next({"DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(Exit(), 0);
        ExpectGone();
        if (c.restart)
            EXPECT_TRUE(WaitUntil([this] { return !Exists("{root}\\busy.dll") && !Pending("{root}\\busy.dll"); }));
        else
            EXPECT_TRUE(Exists("{root}\\busy.dll") && Pending("{root}\\busy.dll"));
    }
}

// Entries that climb out of the application folder, relative ones and other forms aimed at
// sentinels beside it, among the installation's own entries.
const char HostileLog[] = R"([Shortcuts]
..\Outside\keep=1
{app}\..\Outside\keep=1
[DataFiles]
\\?\{root}\Outside\*.*=1
{app}\own.dat=1
[CopyFiles]
{app}\..\Outside\*.*=1
..\Outside\keep.txt=1
{rootrel}\Outside\keep.txt=1
{app}\own.txt=1
[DataFolders]
{app}\..\Outside=1
..\Outside=1
{app}\Data=1
[CreateDirs]
..\Outside\Empty=1
{app}\.\..\Outside\Empty=1
{app}=1
)";

// The hostile log under an AppID that names another key, and under a blank one; an empty
// and a binary log (no AppID at all) walked through as well: no other uninstall key goes.
TEST_F(ProgramHostileAlone, OnlyTheInstallationsOwnEntriesGoAndNoOtherUninstallKey) {
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) % 256);
    const std::pair<const char*, std::string> cases[] = {
        {"{id}\\Details", ""}, {" \t ", ""}, {"", "empty"}, {"", binary}};
    for (const auto& [appId, bytes] : cases) {
        SCOPED_TRACE(bytes.empty() ? appId : bytes.substr(0, 5));
        appId_ = appId;
        Stage(bytes.empty() ? HostileLog : "");
        if (!bytes.empty()) WriteFileBytes(X("{app}\\install.log"), bytes == "empty" ? "" : bytes);
        const std::string sentinels[] = {root_.Write("Outside\\keep.txt"), root_.Write("Outside\\keep.lnk"),
                                         X("{root}\\Outside\\Empty")};
        CreateDirectoryA(sentinels[2].c_str(), nullptr);
        Start();
        PostUntilExit(IDC_NEXT);
        EXPECT_EQ(Exit(), 0);
        EXPECT_TRUE(WaitUntil([this] { return !Exists("{app}"); })) << "the program's own folder";
        for (const std::string& sentinel : sentinels) EXPECT_TRUE(PathExists(sentinel)) << sentinel;
        EXPECT_TRUE(KeyExists(UninstallRoot + id_ + "\\Details"));
    }
}

}  // namespace
