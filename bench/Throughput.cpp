// Uninstall throughput: the real RunUninstall (worker thread and progress page) against a
// bare loop that deletes the same files, and the cost of each step the removal takes for
// one file. scripts/bench stages the files afresh before every run.
#include "Modes.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <memory>

#include "BenchSupport.h"
#include "Globals.h"
#include "MainFlow.h"
#include "ProgressPage.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Wizard.h"
#include "Worker.h"
#include "qzFileFind.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

const char UninstallRoot[] = "HKCU\\Software\\QzBench\\Uninstall\\";

std::string InstalledPath(int index) { return bench::AppRoot + bench::InstalledFile(index); }

int RemainingFiles(int files) {
    int remaining = 0;
    for (int i = 0; i < files; ++i) remaining += FileExists(InstalledPath(i));
    return remaining;
}

// What the main flow has done when the user confirms the uninstall: the log loaded, the
// identifier read, the main window titled and shown, the uninstall key in place.
void PrepareAsMainFlow(const std::string& log) {
    InitCommonControls();
    MsgBoxFlags = MB_SETFOREGROUND;
    AppTitle = "Quorvel Uninstaller";
    InitProcessState(ExtractFilePath(GetModuleName()), log);
    HiddenMainWindow = CreateHiddenMainWindow();
    MainWindow = HiddenMainWindow;
    ApplicationId = ReadLogText("Strings", "AppID", "");
    UninstallKey = UninstallRoot + ApplicationId;
    RegWriteString(UninstallKey, "DisplayName", "Quorvel Bench");
    SetWindowTextA(HiddenMainWindow, StringsEntry(1).c_str());
    ShowWindow(HiddenMainWindow, SW_SHOW);
}

struct ProfileRun {
    int files;
    int round;
    std::string results;
};

// Times one step over every file and records its cost per file in microseconds.
template <typename Step>
void TimeStep(const ProfileRun& run, const char* name, Step step) {
    double start = bench::NowMs();
    for (int i = 0; i < run.files; ++i) step(InstalledPath(i));
    double perFile = (bench::NowMs() - start) * 1000.0 / run.files;
    bench::Record(run.results, std::string("step-") + name, run.files, run.round, perFile);
}

// Runs on a thread of its own while the main thread serves the progress page, as the worker
// does: each step that the removal of one file takes, alone, over all files.
DWORD WINAPI ProfileSteps(LPVOID parameter) {
    const ProfileRun& run = *static_cast<ProfileRun*>(parameter);
    auto finish = qz::OnScopeExit([] { PageResult = PageNext; });
    StepsDone = 0;
    StepsTotal = run.files;
    static ProgressPage page;
    page.Begin();
    IsProtectedPath(bench::AppRoot);  // finds the protected folders, once per process
    TimeStep(run, "check", [](const std::string& path) { IsProtectedPath(path); });
    TimeStep(run, "search", [](const std::string& path) {
        TSearchRecEx record;
        for (DWORD r = FindFirstEx(path, 0, 0x18, record); r == 0; r = FindNextEx(record)) {
        }
        FindCloseEx(record);
    });
    TimeStep(run, "exists", [](const std::string& path) { FileExists(path); });
    std::string text;
    TimeStep(run, "format", [&](const std::string& path) { text = FormatStringsEntry(10, path); });
    TimeStep(run, "roundtrip", [](const std::string&) {
        SendDlgItemMessageA(CurrentPage, IDC_STATUS, WM_NULL, 0, 0);
    });
    TimeStep(run, "status", [](const std::string& path) { page.Status("Removing file " + path); });
    TimeStep(run, "step", [](const std::string&) { page.Step(); });
    TimeStep(run, "self", [](const std::string& path) { CompareText(path, GetModuleName()); });
    TimeStep(run, "delete", [](const std::string& path) { ForceDeleteFile(path); });
    return 0;
}

}  // namespace

int UninstallMode(const std::string& log, int files, int round, const std::string& results) {
    long long logBytes = bench::FileSize(log);
    PrepareAsMainFlow(log);
    double start = bench::NowMs();
    bool completed = RunUninstall();
    double elapsed = bench::NowMs() - start;
    int remaining = RemainingFiles(files);
    if (!completed || remaining != 0) {
        fprintf(stderr, "uninstall of %d files: completed %d, %d files left\n", files, completed,
                remaining);
        return 1;
    }
    double workingSet = 0, pagefile = 0;
    bench::PeakMemory(GetCurrentProcess(), workingSet, pagefile);
    bench::Record(results, "uninstall", files, round, elapsed);
    bench::Record(results, "uninstall-peak-ws", files, round, workingSet);
    bench::Record(results, "uninstall-peak-pf", files, round, pagefile);
    bench::Record(results, "uninstall-log-bytes", files, round, static_cast<double>(logBytes));
    DestroyPreviousPage();
    return 0;
}

int BareMode(int files, int round, const std::string& results) {
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i) paths.push_back(InstalledPath(i));
    double start = bench::NowMs();
    for (const std::string& path : paths) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    double elapsed = bench::NowMs() - start;
    if (int remaining = RemainingFiles(files)) {
        fprintf(stderr, "bare loop: %d of %d files left\n", remaining, files);
        return 1;
    }
    bench::Record(results, "bare", files, round, elapsed);
    return 0;
}

int ProfileMode(const std::string& log, int files, int round, const std::string& results) {
    PrepareAsMainFlow(log);
    ProfileRun run{files, round, results};
    qz::UniqueHandle worker(CreateThread(nullptr, 0, ProfileSteps, &run, CREATE_SUSPENDED, nullptr));
    if (!worker) return 1;
    WorkerThread = worker.Get();
    RunPage("DLG_UNINSTALL");
    WaitForSingleObject(worker.Get(), INFINITE);
    WorkerThread = nullptr;
    DestroyPreviousPage();
    return RemainingFiles(files) == 0 ? 0 : 1;
}
