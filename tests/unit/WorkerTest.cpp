// The uninstall worker with its progress page, and the repair launch. A successful uninstall
// schedules the removal of the running program, so those runs happen in a copy of the test
// program (the WorkerChild tests, run only there), whose own removal is checked as well.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "Globals.h"
#include "PageDriver.h"
#include "Repair.h"
#include "TestSupport.h"
#include "Wizard.h"
#include "Worker.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

// The copy runs beside none of the helper programs: the parent names their folder.
const char HelperFolderVariable[] = "QZ_WORKER_HELPERS";

std::string OriginalHelper(const std::string& name) {
    char folder[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA(HelperFolderVariable, folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(folder) + name + ".exe"
                                           : test::HelperProgram(name);
}

// The state that the main flow sets up before the uninstall: a log in a folder of its own,
// the repair data file beside it, and an uninstall key (with a subkey) below a test key.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        ApplicationId = "App";
        UninstallKey = key.Path() + "\\Uninstall\\" + ApplicationId;
        key.SetString("Uninstall\\App", "DisplayName", "App");
        key.SetString("Uninstall\\App\\Sub", "Value", "x");
        key.SetString("Uninstall\\Other", "DisplayName", "Other");
        RemoveDataFiles = true;
        RestartNeeded = false;
        MainWindow = nullptr;
        PageResult = 0;
        WriteLog("");
    }
    void TearDown() override {
        DestroyPreviousPage();
        CurrentPage = nullptr;
        LoadedLog.reset();
        SectionLines.reset();
        KeptSharedFiles.reset();
        ReleaseAllIniFiles();
    }

    void WriteLog(const std::string& sections) {
        ReleaseAllIniFiles();
        LogPath = temp.Write("install.log", "[Strings]\r\nAppID=App\r\n" + sections);
        temp.Write("install.sss");
        LoadedLog = std::make_unique<TqzIniFile>(LogPath, true);
        SectionLines = std::make_unique<TStringList>();
        KeptSharedFiles = std::make_unique<TStringList>();
    }
    void UseApplicationId(const std::string& id) {
        ApplicationId = id;
        UninstallKey = key.Path() + "\\Uninstall\\" + id;
    }
    bool TracesRemain() const {
        return FileExists(LogPath) && FileExists(RepairDataFile()) && key.Exists("Uninstall\\App");
    }

    test::TempFolder temp{"wrk"};
    test::TestKey key{"Worker"};
};

TEST_F(WorkerTest, ProgressPageThatCannotBeShownEndsTheUninstallAtOnce) {
    // An owner that is no window makes the page's creation fail.
    MainWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF0));
    test::PageScript guard;
    DWORD start = GetTickCount();
    EXPECT_FALSE(RunUninstall());
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_TRUE(TracesRemain());
    EXPECT_EQ(WorkerThread, nullptr);
}

TEST_F(WorkerTest, FailingPreRunProgramStopsTheWalkBeforeAnythingIsRemoved) {
    std::string file = temp.Write("App\\a.txt");
    WriteLog("[PreRunApp]\r\n1=" + (temp / "missing.exe") + ",,,0,Checking,1,1\r\n" +
             "[CopyFiles]\r\n" + file + "=1\r\n");
    test::PageScript guard;
    EXPECT_FALSE(RunUninstall());
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(TracesRemain());
    EXPECT_EQ(StageIndex, 0);
    EXPECT_TRUE(test::IsShown(PreviousPage, IDC_STAGE_ICON));
    for (int id = IDC_STAGE_ICON + 1; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
        EXPECT_FALSE(test::IsShown(PreviousPage, id)) << id;
}

TEST_F(WorkerTest, ErrorOnTheWorkerEndsTheWalkAndIsShownOnceAfterTheWorkerEnded) {
    std::string ini = temp.Write("held.ini", "[Main]\r\nLang=en\r\n");
    std::string file = temp.Write("App\\a.txt");
    WriteLog("[AddIni]\r\n" + ini + ",Main,Lang=\r\n[CopyFiles]\r\n" + file + "=1\r\n");
    test::HeldFile held(ini);
    ASSERT_TRUE(held.Held());
    int boxes = 0;
    test::PageScript script;
    auto errorBox = [] { return test::FindBoxOwnedBy(nullptr); };
    script.When([&] { return errorBox() != nullptr; }, [&] {
        ++boxes;
        HWND box = errorBox();
        EXPECT_NE(test::StaticTexts(box).find("Cannot open file"), std::string::npos)
            << test::StaticTexts(box);
        EXPECT_EQ(WaitForSingleObject(WorkerThread, 0), WAIT_OBJECT_0);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_FALSE(RunUninstall());
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(test::FindBoxOwnedBy(nullptr), nullptr);
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(TracesRemain());
}

// Runs in the copy only.

TEST_F(WorkerTest, DISABLED_ChildCompleteRunStepsThroughEveryEntryToTheEnd) {
    std::string first = temp.Write("App\\a.txt"), second = temp.Write("App\\Sub\\b.txt");
    std::string kept = temp.Write("Data\\c.txt");
    std::string program = temp / "Tools\\after.exe";
    CreateDirectoryA((temp / "Tools").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(OriginalHelper("fakesetup").c_str(), program.c_str(), FALSE));
    WriteLog("[CopyFiles]\r\n" + first + "=1\r\n" + second + "=1\r\n" +
             "[CreateDirs]\r\n" + (temp / "App\\Sub") + "=1\r\n" + (temp / "App") + "=1\r\n" +
             "[DataFiles]\r\n" + kept + "=1\r\n" +
             "[RunApp]\r\n1=" + program + ",,,0,Finishing,1,1\r\n");
    RemoveDataFiles = false;
    test::PageScript guard;
    ASSERT_TRUE(RunUninstall());
    EXPECT_EQ(StepsTotal, 5);
    EXPECT_EQ(StepsDone, 5);
    HWND page = PreviousPage;
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_PROGRESS, PBM_GETPOS, 0, 0), 100);
    for (int id = IDC_STAGE_ICON; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
        EXPECT_TRUE(test::IsShown(page, id)) << id;
    EXPECT_EQ(test::ControlText(page, IDC_STATUS), "Finishing");
    EXPECT_FALSE(test::PathExists(temp / "App"));
    EXPECT_TRUE(FileExists(kept));
    EXPECT_TRUE(FileExists(temp / "Tools\\after.txt"));
    EXPECT_FALSE(FileExists(LogPath));
    EXPECT_FALSE(key.Exists("Uninstall\\App"));
}

TEST_F(WorkerTest, DISABLED_ChildLogWithoutCountedSectionsTicksThroughAllStages) {
    test::PageScript guard;
    ASSERT_TRUE(RunUninstall());
    EXPECT_EQ(WorkerThread, nullptr);
    EXPECT_EQ(StepsTotal, 0);
    EXPECT_EQ(StageIndex, STAGE_COUNT - 1);
    HWND page = PreviousPage;
    for (int id = IDC_STAGE_ICON; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
        EXPECT_TRUE(test::IsShown(page, id)) << id;
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_PROGRESS, PBM_GETPOS, 0, 0), 0);
    EXPECT_FALSE(FileExists(LogPath));
    EXPECT_FALSE(FileExists(RepairDataFile()));
    EXPECT_FALSE(key.Exists("Uninstall\\App"));
    EXPECT_TRUE(key.Exists("Uninstall\\Other"));
}

TEST_F(WorkerTest, DISABLED_ChildBlankOrForeignIdentifierLeavesTheUninstallKeysAlone) {
    key.SetString("Uninstall\\Other\\App", "DisplayName", "Nested");
    for (const char* id : {"", "  ", "\t", "Other\\App", "\\"}) {
        WriteLog("");
        UseApplicationId(id);
        test::PageScript guard;
        EXPECT_TRUE(RunUninstall()) << id;
        EXPECT_FALSE(FileExists(LogPath)) << id;
        EXPECT_TRUE(key.Exists("Uninstall\\App")) << id;
        EXPECT_TRUE(key.Exists("Uninstall\\Other\\App")) << id;
    }
}

// Runs a command line with its output going into a file; the exit code, or -1.
int RunCaptured(const std::string& commandLine, const std::string& outputFile) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    qz::UniqueHandle output(CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output.Get();
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info))
        return -1;
    qz::UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.Get(), 150000) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        return -1;
    }
    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

TEST(WorkerCopy, SuccessfulUninstallsInACopiedProgramRemoveTheCopyAfterItEnded) {
    test::TempFolder temp("wcopy");
    std::string folder = temp / "Program";
    std::string program = folder + "\\uninst.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((test::BinFolder() + "unit_tests.exe").c_str(), program.c_str(), FALSE));
    std::string output = temp / "child.txt";
    SetEnvironmentVariableA(HelperFolderVariable, test::BinFolder().c_str());
    int code = RunCaptured("\"" + program + "\" --gtest_also_run_disabled_tests " +
                               "--gtest_filter=WorkerTest.DISABLED_Child*",
                           output);
    EXPECT_EQ(code, 0) << test::ReadFileBytes(output);
    EXPECT_NE(test::ReadFileBytes(output).find("[  PASSED  ] 3 tests"), std::string::npos);
    EXPECT_TRUE(test::WaitUntil([&] { return !test::PathExists(folder); }))
        << "the copy and its folder were not removed";
}

class RepairTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetupPath = temp / "Setup Files\\setup.exe";
        CreateDirectoryA((temp / "Setup Files").c_str(), nullptr);
        CopyFileA(test::HelperProgram("fakesetup").c_str(), SetupPath.c_str(), FALSE);
    }
    // Launches the repair; the setup program's record: its arguments and current folder.
    std::string Launch(DWORD& elapsed) {
        std::string record = temp / "Setup Files\\setup.txt";
        DeleteFileA(record.c_str());
        DWORD start = GetTickCount();
        LaunchRepair();
        elapsed = GetTickCount() - start;
        test::WaitUntil([&] { return test::PathExists(record); });
        return test::ReadFileBytes(record);
    }
    test::TempFolder temp{"rep"};
};

// The record's first line, the command line, ends with the parameters after the quoted
// program path; its second line is the current folder, inherited from the uninstaller.
TEST_F(RepairTest, StartsTheSetupProgramWithTheRepairSwitchAndTheIdentifier) {
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    ApplicationId = "MyApp";
    DWORD elapsed = 0;
    std::string record = Launch(elapsed);
    EXPECT_NE(record.find("setup.exe\" -repair MyApp\r\n" + std::string(current) + "\r\n"),
              std::string::npos)
        << record;
    EXPECT_GE(elapsed, 950u);

    ApplicationId = "";
    record = Launch(elapsed);
    EXPECT_NE(record.find("setup.exe\" -repair \r\n"), std::string::npos) << record;
}

}  // namespace
