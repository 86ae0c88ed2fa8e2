// The wizard's pages, shown for real and driven by window messages from their own thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "Globals.h"
#include "PageDriver.h"
#include "TestSupport.h"
#include "Wizard.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

using test::Click;
using test::IsChecked;
using test::IsEnabled;
using test::IsShown;
using test::PageScript;
using test::PressKey;

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        WriteLog("");
        UninstallKey = key.Path();
        ApplicationId = "App";
        ActionChoice = 0;
        RemoveDataFiles = true;
        RestartNeeded = false;
        SetupPath.clear();
        MainWindow = nullptr;
        PageResult = 0;
    }
    void TearDown() override {
        DestroyPreviousPage();
        CurrentPage = nullptr;
    }

    // The log holds the Strings section and whatever the test adds.
    void WriteLog(const std::string& sections) {
        ReleaseAllIniFiles();
        LogPath = temp.Write("install.log", "[Strings]\r\nAppID=App\r\n2=Setup not found\r\n" + sections);
    }
    void OfferRepair() { temp.Write("install.sss"); }
    // DLG_START: choose repair and go on.
    static void ChooseRepair(HWND page) {
        Click(page, IDC_START_REPAIR);
        Click(page, IDC_NEXT);
    }

    test::TempFolder temp{"wiz"};
    test::TestKey key{"Wizard"};
};

TEST_F(WizardTest, RepairIsOfferedOnlyWithTheRepairDataFileAndWithoutNoRepair) {
    struct Case {
        bool repairData;
        int noRepair;  // -1: no value
        bool offered;
    };
    for (Case c : {Case{false, -1, false}, Case{true, 1, false}, Case{true, 2, true},
                   Case{true, -1, true}}) {
        if (c.repairData) OfferRepair();
        if (c.noRepair >= 0) key.SetDword("", "NoRepair", static_cast<DWORD>(c.noRepair));
        PageScript script;
        script.On("DLG_START", [&](HWND page) {
            EXPECT_EQ(IsEnabled(page, IDC_START_REPAIR), c.offered) << c.repairData << c.noRepair;
            EXPECT_EQ(IsEnabled(page, IDC_START_REPAIR_TEXT), c.offered);
            EXPECT_TRUE(IsChecked(page, IDC_START_UNINSTALL));
            EXPECT_FALSE(IsChecked(page, IDC_START_REPAIR));
            EXPECT_FALSE(IsEnabled(page, IDC_BACK));
            Click(page, IDC_CANCEL);
        });
        EXPECT_EQ(RunPage("DLG_START"), PageCancel);
        EXPECT_TRUE(script.Finished());
    }
}

TEST_F(WizardTest, BackKeepsTheChoiceOfTheStartPage) {
    OfferRepair();
    PageScript script;
    script.On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BEFOREUNINSTALL", [](HWND page) { Click(page, IDC_BACK); })
        .On("DLG_START",
            [](HWND page) {
                EXPECT_TRUE(IsChecked(page, IDC_START_UNINSTALL));
                ChooseRepair(page);
            })
        .On("DLG_BEFOREREPAIR", [](HWND page) { Click(page, IDC_BACK); })
        .On("DLG_START", [](HWND page) {
            EXPECT_TRUE(IsChecked(page, IDC_START_REPAIR));
            EXPECT_FALSE(IsChecked(page, IDC_START_UNINSTALL));
            PressKey(page, VK_ESCAPE);
        });
    EXPECT_EQ(RunPageSequence(), PageCancel);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(ActionChoice, 1);
}

TEST_F(WizardTest, NextWithNeitherOptionShowsTheStartPageAgain) {
    PageScript script;
    script
        .On("DLG_START",
            [](HWND page) {
                SendDlgItemMessageA(page, IDC_START_UNINSTALL, BM_SETCHECK, BST_UNCHECKED, 0);
                Click(page, IDC_NEXT);
            })
        .On("DLG_START", [](HWND page) {
            EXPECT_EQ(ActionChoice, 2);
            EXPECT_FALSE(IsChecked(page, IDC_START_UNINSTALL));
            EXPECT_FALSE(IsChecked(page, IDC_START_REPAIR));
            Click(page, IDC_CANCEL);
        });
    EXPECT_EQ(RunPageSequence(), PageCancel);
    EXPECT_TRUE(script.Finished());
}

TEST_F(WizardTest, DataFilesBoxIsKeptAcrossBackAndForcedByTheLog) {
    WriteLog("[DataFiles]\r\nC:\\data.txt=1\r\n");
    PageScript script;
    script.On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BEFOREUNINSTALL",
            [](HWND page) {
                EXPECT_TRUE(IsShown(page, IDC_BU_DATAFILES));
                EXPECT_TRUE(IsChecked(page, IDC_BU_DATAFILES));
                Click(page, IDC_BU_DATAFILES);
                Click(page, IDC_BACK);
            })
        .On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BEFOREUNINSTALL", [](HWND page) {
            EXPECT_FALSE(IsChecked(page, IDC_BU_DATAFILES));
            Click(page, IDC_NEXT);
        });
    EXPECT_EQ(RunPageSequence(), PageNext);
    EXPECT_TRUE(script.Finished());
    EXPECT_FALSE(RemoveDataFiles);
    EXPECT_EQ(ActionChoice, 0);

    WriteLog("[DataFolders]\r\nC:\\Data=1\r\n[Display]\r\nForceRemoveDataFiles=1\r\n");
    RemoveDataFiles = true;
    PageScript forced;
    forced.On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BEFOREUNINSTALL", [](HWND page) { Click(page, IDC_BU_DATAFILES); })
        .On("DLG_BEFOREUNINSTALL", [](HWND page) {
            EXPECT_TRUE(IsChecked(page, IDC_BU_DATAFILES));
            PressKey(page, VK_RETURN);
        });
    EXPECT_EQ(RunPageSequence(), PageNext);
    EXPECT_TRUE(forced.Finished());
    EXPECT_TRUE(RemoveDataFiles);
}

TEST_F(WizardTest, DataFilesBoxIsHiddenWithoutDataSectionsAndTheFlagStays) {
    for (bool flag : {false, true}) {
        RemoveDataFiles = flag;
        PageScript script;
        script.On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
            .On("DLG_BEFOREUNINSTALL", [](HWND page) {
                EXPECT_FALSE(IsShown(page, IDC_BU_DATAFILES));
                Click(page, IDC_NEXT);
            });
        EXPECT_EQ(RunPageSequence(), PageNext);
        EXPECT_TRUE(script.Finished());
        EXPECT_EQ(RemoveDataFiles, flag);
    }
}

TEST_F(WizardTest, ExistingSetupProgramEndsTheSequenceAfterTheRepairPage) {
    OfferRepair();
    std::string setup = temp.Write("source\\setup.exe");
    key.SetString("", "InstallSourceFile", setup);
    PageScript script;
    script.On("DLG_START", ChooseRepair).On("DLG_BEFOREREPAIR", [](HWND page) {
        Click(page, IDC_NEXT);
    });
    EXPECT_EQ(RunPageSequence(), PageNext);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(ActionChoice, 1);
    EXPECT_EQ(SetupPath, setup);
}

TEST_F(WizardTest, BrowsePageAcceptsOnlyAFolderHoldingTheSetupProgram) {
    OfferRepair();
    key.SetString("", "InstallSourceFile", temp / "moved\\setup.exe");
    std::string setup = temp.Write("new place\\setup.exe");
    temp.Write("wrong\\other.exe");
    auto warningShown = [] { return test::FindBoxOwnedBy(CurrentPage) != nullptr; };
    auto closeWarning = [] {
        HWND box = test::FindBoxOwnedBy(CurrentPage);
        EXPECT_EQ(CurrentPageName, "DLG_BROWSEFORSETUP");
        EXPECT_NE(test::StaticTexts(box).find("Setup not found"), std::string::npos);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
    PageScript script;
    script.On("DLG_START", ChooseRepair)
        .On("DLG_BEFOREREPAIR", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BROWSEFORSETUP",
            [&](HWND page) {
                EXPECT_EQ(test::ControlText(page, IDC_BS_FOLDER), temp / "moved\\");
                test::SetControlText(page, IDC_BS_FOLDER, temp / "wrong");
                Click(page, IDC_NEXT);
            })
        .When(warningShown, closeWarning)
        .On("DLG_BROWSEFORSETUP",
            [&](HWND page) {
                EXPECT_EQ(test::ControlText(page, IDC_BS_FOLDER), temp / "wrong");
                // Enter checks the folder like Next does.
                PostMessageA(page, WM_COMMAND, IDOK, 0);
            })
        .When(warningShown, closeWarning)
        .On("DLG_BROWSEFORSETUP", [&](HWND page) {
            test::SetControlText(page, IDC_BS_FOLDER, temp / "new place");
            Click(page, IDC_NEXT);
        });
    EXPECT_EQ(RunPageSequence(), PageNext);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(SetupPath, setup);

    PageScript again;
    again.On("DLG_START", ChooseRepair)
        .On("DLG_BEFOREREPAIR", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BROWSEFORSETUP", [](HWND page) { Click(page, IDC_BACK); })
        .On("DLG_BEFOREREPAIR", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BROWSEFORSETUP", [&](HWND page) {
            EXPECT_EQ(test::ControlText(page, IDC_BS_FOLDER), temp / "moved\\");
            test::SetControlText(page, IDC_BS_FOLDER, temp / "new place\\");
            PressKey(page, VK_RETURN);
        });
    EXPECT_EQ(RunPageSequence(), PageNext);
    EXPECT_TRUE(again.Finished());
    EXPECT_EQ(SetupPath, setup);
}

TEST_F(WizardTest, EscapeAndTheCloseBoxCancelEveryPageBeforeTheWork) {
    OfferRepair();
    auto escape = [](HWND page) { PressKey(page, VK_ESCAPE); };
    auto next = [](HWND page) { Click(page, IDC_NEXT); };
    std::vector<std::vector<std::pair<const char*, std::function<void(HWND)>>>> runs = {
        {{"DLG_START", escape}},
        {{"DLG_START", [](HWND page) { PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0); }}},
        {{"DLG_START", next}, {"DLG_BEFOREUNINSTALL", escape}},
        {{"DLG_START", ChooseRepair}, {"DLG_BEFOREREPAIR", escape}},
        {{"DLG_START", ChooseRepair}, {"DLG_BEFOREREPAIR", next}, {"DLG_BROWSEFORSETUP", escape}},
    };
    for (const auto& run : runs) {
        ActionChoice = 0;
        PageScript script;
        for (const auto& step : run) script.On(step.first, step.second);
        EXPECT_EQ(RunPageSequence(), PageCancel) << run.back().first;
        EXPECT_TRUE(script.Finished()) << run.back().first;
    }
}

TEST_F(WizardTest, RestartPageWritesTheChoiceAndCancelMeansNoRestart) {
    struct Case {
        bool before;
        std::function<void(HWND)> act;
        bool after;
    };
    std::vector<Case> cases = {
        {true, [](HWND page) { Click(page, IDC_NEXT); }, true},
        {true, [](HWND page) { PressKey(page, VK_ESCAPE); }, false},
        {true, [](HWND page) { Click(page, IDC_CANCEL); }, false},
        {true, [](HWND page) { Click(page, IDC_RB_LATER); Click(page, IDC_NEXT); }, false},
        {false, [](HWND page) { Click(page, IDC_RB_NOW); Click(page, IDC_NEXT); }, true},
    };
    for (const Case& c : cases) {
        RestartNeeded = c.before;
        PageScript script;
        script.On("DLG_REBOOT", [&](HWND page) {
            EXPECT_EQ(IsChecked(page, IDC_RB_NOW), c.before);
            EXPECT_EQ(IsChecked(page, IDC_RB_LATER), !c.before);
            EXPECT_EQ(GetFocus(), GetDlgItem(page, c.before ? IDC_RB_NOW : IDC_RB_LATER));
            EXPECT_FALSE(IsEnabled(page, IDC_BACK));
            c.act(page);
        });
        RunPage("DLG_REBOOT");
        EXPECT_TRUE(script.Finished());
        EXPECT_EQ(RestartNeeded, c.after);
    }
}

// A second click on Next that arrives while the next page is being shown (the old page is
// still on screen then) must not end the new page.
HWND StaleClickTarget = nullptr;

LRESULT CALLBACK ClickOldPageWhenTheNewOneShows(int code, WPARAM wParam, LPARAM lParam) {
    const auto& call = *reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call.message == WM_SHOWWINDOW && call.wParam &&
        call.hwnd == CurrentPage && CurrentPageName == "DLG_BEFOREUNINSTALL" &&
        IsWindow(PreviousPage)) {
        StaleClickTarget = PreviousPage;
        PostMessageA(GetDlgItem(PreviousPage, IDC_NEXT), BM_CLICK, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WizardTest, ClickReachingThePreviousPageDoesNotEndTheNextPage) {
    qz::UniqueHook hook(SetWindowsHookExA(WH_CALLWNDPROC, ClickOldPageWhenTheNewOneShows, nullptr,
                                          GetCurrentThreadId()));
    ASSERT_TRUE(hook);
    StaleClickTarget = nullptr;
    PageScript script;
    script.On("DLG_START", [](HWND page) { Click(page, IDC_NEXT); })
        .On("DLG_BEFOREUNINSTALL", [](HWND page) {
            EXPECT_NE(StaleClickTarget, nullptr);
            EXPECT_FALSE(IsWindow(StaleClickTarget));
            Click(page, IDC_CANCEL);
        });
    EXPECT_EQ(RunPageSequence(), PageCancel);
    EXPECT_TRUE(script.Finished());
}

TEST_F(WizardTest, MissingTemplateEndsThePageAtOnce) {
    PageScript guard;
    DWORD start = GetTickCount();
    EXPECT_EQ(RunPage("DLG_NOSUCHPAGE"), PageCancel);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(CurrentPage, nullptr);
}

// Stands in for the uninstall worker: resumed by the progress page, it waits for the test's
// signal and then gives the page its result, or ends without one.
struct HeldWorker {
    qz::UniqueHandle release{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> started{false};
    bool reports = true;

    static DWORD WINAPI Run(LPVOID parameter) {
        auto* self = static_cast<HeldWorker*>(parameter);
        self->started = true;
        WaitForSingleObject(self->release.Get(), 30000);
        if (self->reports) PageResult = PageNext;
        return 0;
    }
};

class WizardProgressTest : public WizardTest {
protected:
    void StartWorker(LPTHREAD_START_ROUTINE function, void* parameter) {
        thread.Reset(CreateThread(nullptr, 0, function, parameter, CREATE_SUSPENDED, nullptr));
        WorkerThread = thread.Get();
    }
    void TearDown() override {
        if (thread) WaitForSingleObject(thread.Get(), 30000);
        WorkerThread = nullptr;
        WizardTest::TearDown();
    }
    qz::UniqueHandle thread;
};

TEST_F(WizardProgressTest, IgnoresEscapeEnterAndTheCloseBoxWhileTheWorkerRuns) {
    HeldWorker worker;
    StartWorker(HeldWorker::Run, &worker);
    PageScript script;
    script
        .On("DLG_UNINSTALL",
            [](HWND page) {
                for (int id : {IDC_BACK, IDC_NEXT, IDC_CANCEL}) EXPECT_FALSE(IsEnabled(page, id));
                for (int id = IDC_STAGE_ICON; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
                    EXPECT_FALSE(IsShown(page, id)) << id;
                PressKey(page, VK_ESCAPE);
                PressKey(page, VK_RETURN);
                PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
                for (WPARAM id : {IDOK, IDCANCEL, IDC_BACK, IDC_NEXT, IDC_CANCEL})
                    PostMessageA(page, WM_COMMAND, id, 0);
            })
        .When([&] { return worker.started.load(); },
              [&] {
                  EXPECT_EQ(PageResult, 0);
                  EXPECT_TRUE(IsWindowVisible(CurrentPage));
                  SetEvent(worker.release.Get());
              });
    EXPECT_EQ(RunPage("DLG_UNINSTALL"), PageNext);
    EXPECT_TRUE(script.Finished());
}

TEST_F(WizardProgressTest, EndsWhenTheWorkerEndsWithoutAResult) {
    HeldWorker worker;
    worker.reports = false;
    SetEvent(worker.release.Get());
    StartWorker(HeldWorker::Run, &worker);
    PageScript guard;
    EXPECT_EQ(RunPage("DLG_UNINSTALL"), PageCancel);
    EXPECT_TRUE(worker.started);
}

// Walks the stages and steps from a second thread, as the worker does, and records what the
// page shows.
struct ProgressWalk {
    int32_t total = 0;
    std::vector<int> positions;
    std::string status;

    static DWORD WINAPI Run(LPVOID parameter) {
        auto* self = static_cast<ProgressWalk*>(parameter);
        StageIndex = 0;
        StepsDone = 0;
        StepsTotal = self->total;
        BeginProgress();
        for (int32_t i = 0; i < std::max(self->total, 1); ++i) {
            StepProgress();
            self->positions.push_back(static_cast<int>(
                SendDlgItemMessageA(CurrentPage, IDC_PROGRESS, PBM_GETPOS, 0, 0)));
        }
        SetStatusText("C:\\Program Files\\App\\file.txt");
        self->status = test::ControlText(CurrentPage, IDC_STATUS);
        for (int stage = 0; stage < STAGE_COUNT; ++stage) AdvanceStage();
        PageResult = PageNext;
        return 0;
    }
};

TEST_F(WizardProgressTest, StepsRoundHalfToEvenAndAllStagesEndFinished) {
    ProgressWalk walk;
    walk.total = 8;
    StartWorker(ProgressWalk::Run, &walk);
    EXPECT_EQ(RunPage("DLG_UNINSTALL"), PageNext);
    EXPECT_EQ(walk.positions, (std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100}));
    EXPECT_EQ(walk.status, "C:\\Program Files\\App\\file.txt");
    EXPECT_EQ(StageIndex, STAGE_COUNT - 1);
    for (int id = IDC_STAGE_ICON; id < IDC_STAGE_ICON + 2 * STAGE_COUNT; ++id)
        EXPECT_TRUE(IsShown(PreviousPage, id)) << id;
}

TEST_F(WizardProgressTest, NoCountedStepsLeaveTheBarAtZero) {
    ProgressWalk walk;
    StartWorker(ProgressWalk::Run, &walk);
    EXPECT_EQ(RunPage("DLG_UNINSTALL"), PageNext);
    EXPECT_EQ(walk.positions, std::vector<int>{0});
    EXPECT_EQ(StepsDone, 1);
}

}  // namespace
