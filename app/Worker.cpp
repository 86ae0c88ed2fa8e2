#include "Worker.h"

#include <objbase.h>

#include <atomic>
#include <exception>
#include <string>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "ProgressPage.h"
#include "Report.h"
#include "Wizard.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzUtils.h"
#include "qzWinUtils.h"

namespace {

// Sections whose entries take one progress step each (DataFiles and DataFolders only when
// the data files go). SharedFiles takes no steps.
const char* const SteppedSections[] = {"PreRunApp", "SharedAssemblies", "Shortcuts", "AddReg",
                                       "CreateKeys", "AddIni",  "RegFonts", "RegServers",
                                       "CopyFiles",  "CreateDirs", "RunApp"};

// Set when the progress page never showed: the worker, still suspended, then ends at once.
std::atomic<bool> WorkerAbandoned{false};
// The message of an error that ended the walk; written by the worker before it ends and
// shown by the main thread after it has ended.
std::string WorkerError;

int32_t CountSteps() {
    int32_t total = 0;
    for (const char* section : SteppedSections) total += SectionEntryCount(section);
    if (RemoveDataFiles) total += SectionEntryCount("DataFiles") + SectionEntryCount("DataFolders");
    return total;
}

// The seven stages in their binding order: shared files are decided before any file, font
// or server goes; servers are unregistered while their files exist; files go before their
// folders. False when a program of PreRunApp or RunApp failed.
bool WalkSections() {
    RecordMalformedLines();
    if (!RunSection(true)) return false;
    ReleaseSharedFiles();
    UninstallAssemblies();
    ReportStage();
    RemoveShortcuts();
    ReportStage();
    RemoveRegistryEntries();
    RemoveIniEntries();
    ReportStage();
    RemoveFonts();
    ReportStage();
    UnregisterServers();
    ReportStage();
    RemoveFiles();
    RemoveFolders();
    ReportStage();
    if (!RunSection(false)) return false;
    RemoveLogAndItsFolder();
    ReportStage();
    return true;
}

// Waits for the thread's end while the calling thread's messages keep flowing.
void WaitForThreadEnd(HANDLE thread) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// The walk with COM ready for the servers' unregistration. An error must not escape (in the
// worker it would end the process): it ends the walk as failed and is kept in WorkerError,
// which the main thread shows.
bool WalkGuarded() {
    StageIndex = 0;
    StepsDone = 0;
    StepsTotal = CountSteps();
    HRESULT com = CoInitialize(nullptr);
    auto finish = qz::OnScopeExit([com] {
        if (SUCCEEDED(com)) CoUninitialize();
    });
    try {
        return WalkSections();
    } catch (const std::exception& error) {
        WorkerError = error.what();
    } catch (...) {
        WorkerError = "Unexpected error";
    }
    return false;
}

// What the log does not list: the uninstall key, the log, the repair data file and the
// uninstaller with its folder. Each is attempted whatever became of the others.
void RemoveInstallationTraces() {
    if (!NamesOwnUninstallKey())
        Record(Outcome::Refused, "uninstall key", UninstallKey);
    else if (DryRun || DeleteRegKey(UninstallKey, true))
        Record(Outcome::Removed, "uninstall key", UninstallKey);
    else
        Record(Outcome::Failed, "uninstall key", UninstallKey);
    RemoveFileNow("log", LogPath);
    RemoveFileNow("repair data file", RepairDataFile());
    Record(Outcome::Removed, "uninstaller", GetModuleName(),
           "by its removal script, with its folder when that is empty, once the program has ended");
    if (!DryRun) ScheduleSelfRemoval(true);
}

// The end of a walk: the error shown (in an unattended run, reported), and the traces
// removed after a complete one.
bool FinishWalk(bool complete) {
    if (!WorkerError.empty()) ErrorBox(WorkerError);
    if (complete) RemoveInstallationTraces();
    return complete;
}

}  // namespace

DWORD WINAPI UninstallWorker(LPVOID) {
    if (WorkerAbandoned) return 1;
    auto finish = qz::OnScopeExit([] { PageResult = PageNext; });
    ProgressPage page;
    ProgressSink* previous = SetProgressSink(&page);
    auto restore = qz::OnScopeExit([previous] { SetProgressSink(previous); });
    page.Begin();
    return WalkGuarded() ? 0 : 1;
}

bool RunUninstall() {
    WorkerAbandoned = false;
    WorkerError.clear();
    qz::UniqueHandle worker(
        CreateThread(nullptr, 0, UninstallWorker, nullptr, CREATE_SUSPENDED, nullptr));
    if (!worker) return false;
    WorkerThread = worker.Get();
    auto forget = qz::OnScopeExit([] { WorkerThread = nullptr; });

    bool reported = RunPage("DLG_UNINSTALL") == PageNext;
    WorkerAbandoned = !reported;
    ResumeThread(worker.Get());  // no effect unless the page never showed
    WaitForThreadEnd(worker.Get());
    DWORD exitCode = 1;
    GetExitCodeThread(worker.Get(), &exitCode);
    return FinishWalk(reported && exitCode == 0);
}

bool RunUninstallUnattended() {
    WorkerError.clear();
    return FinishWalk(WalkGuarded());
}
