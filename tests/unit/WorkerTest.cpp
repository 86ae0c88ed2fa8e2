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

// Runs in the copy only.

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
    int code = RunCaptured("\"" + program + "\" --gtest_also_run_disabled_tests " +
                               "--gtest_filter=WorkerTest.DISABLED_Child*",
                           output);
    EXPECT_EQ(code, 0) << test::ReadFileBytes(output);
    EXPECT_NE(test::ReadFileBytes(output).find("[  PASSED  ] 2 tests"), std::string::npos);
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

TEST_F(RepairTest, StartsTheSetupProgramWithTheRepairSwitchAndTheIdentifier) {
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    ApplicationId = "MyApp";
    DWORD elapsed = 0;
    EXPECT_EQ(Launch(elapsed), "-repair MyApp\r\n" + std::string(current) + "\r\n");
    EXPECT_GE(elapsed, 950u);

    ApplicationId = "";
    EXPECT_EQ(Launch(elapsed).substr(0, 10), "-repair \r\n");
}

}  // namespace
