#include "MainFlow.h"

#include <commctrl.h>

#include <exception>
#include <string>

#include "Globals.h"
#include "Report.h"
#include "Repair.h"
#include "Skin.h"
#include "Switches.h"
#include "Wizard.h"
#include "Worker.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzStrUtils.h"
#include "qzUtils.h"
#include "qzWinUtils.h"

namespace {

const char MainWindowClass[] = "QVUninstallMainWindow";
const char UninstallRoot[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    HICON icon = LoadIconA(instance, "MAINICON");
    WNDCLASSEXA classEx{};
    classEx.cbSize = sizeof classEx;
    classEx.style = CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE;
    classEx.lpfnWndProc = MainWindowProc;
    classEx.hInstance = instance;
    classEx.hIcon = icon;
    classEx.lpszClassName = MainWindowClass;
    if (RegisterClassExA(&classEx)) return true;

    WNDCLASSA plain{};
    plain.style = classEx.style;
    plain.lpfnWndProc = MainWindowProc;
    plain.hInstance = instance;
    plain.hIcon = icon;
    plain.lpszClassName = MainWindowClass;
    return RegisterClassA(&plain) != 0;
}

const char PlainRestartQuestion[] =
    "Some files will be removed when Windows restarts. Restart Windows now?";

// Exit codes of an unattended run, as deployment tools read them. Other runs end with 0.
constexpr int ExitDone = 0;
constexpr int ExitRestartNeeded = 3010;
constexpr int ExitStopped = 1603;
constexpr int ExitNoLog = 1619;
constexpr int ExitBadSwitch = 1639;

// How a run ended: its exit code and the report's result line.
struct RunResult {
    int exitCode;
    std::string text;
};

// Set for an unattended run: its boxes are not shown but written to the report.
bool NoBoxes = false;

int ObserveBox(const std::string& text, UINT type) {
    if ((type & MB_ICONMASK) == MB_ICONERROR) RecordError(text);
    if (!NoBoxes) return 0;
    const UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_OK ? IDOK : buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDNO : IDCANCEL;
}

std::string ReportHeader(const Switches& switches, const std::string& logPath) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[64];
    wsprintfA(date, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond);
    std::string header = "Quorvel Uninstaller report\r\nprogram: " + GetModuleName() + "\r\nlog: " +
                         logPath + "\r\ndate: " + date + "\r\nswitches: " + switches.given;
    if (switches.dryRun) header += "\r\ndry run: nothing was changed; each line tells what the uninstall would do";
    return header;
}

// The restart page's text, when the log has one, followed by the question.
std::string RestartQuestion() {
    std::string text = ReadLogText("Dialog.DLG_REBOOT", "104", "");
    return text.empty() ? PlainRestartQuestion : text + "\r\n\r\nRestart Windows now?";
}

// A restart that the user did not choose on the restart page (the walk failed after a file
// was deferred, or the page could not be shown) is asked for first: other programs would
// lose unsaved work. No leaves the deletions pending for the next restart.
bool ConfirmRestart(const std::string& question) {
    return RestartChosen ||
           ShowMessageBox(MainWindow, AppTitle, question, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void ReadApplicationKey() {
    ApplicationId = ReadLogText("Strings", "AppID", "");
    UninstallKey = std::string(UninstallRoot) + "Uninstall\\" + ApplicationId;
}

RunResult UninstalledResult() {
    if (!RestartNeeded) return {ExitDone, "uninstalled"};
    return {ExitRestartNeeded, "uninstalled; Windows must restart to delete the files deferred to the next boot"};
}

RunResult RunLoadedLog() {
    ReadApplicationKey();
    SetWindowTextA(HiddenMainWindow, StringsEntry(1).c_str());
    ShowWindow(HiddenMainWindow, SW_SHOW);

    if (RunPageSequence() != PageNext) return {ExitDone, "cancelled; nothing was removed"};
    switch (ActionChoice) {
        case 0:
            if (!RunUninstall()) return {ExitStopped, "the uninstall stopped before its end"};
            if (RestartNeeded) RunPage("DLG_REBOOT");
            if (!RestartNeeded) RunPage("DLG_UNINSTALLSUCCEEDED");
            return UninstalledResult();
        case 1:
            LaunchRepair();
            return {ExitDone, "the setup program was started for a repair"};
        default:
            return {ExitDone, "neither uninstall nor repair was chosen"};
    }
}

// The uninstall without pages: data files go as the page before the uninstall would have
// them go by default, shared files that no other program counts on stay.
RunResult RunUnattended() {
    ReadApplicationKey();
    const bool complete = RunUninstallUnattended();
    if (DryRun) return {ExitDone, complete ? "dry run complete" : "dry run: the uninstall would stop there"};
    return complete ? UninstalledResult() : RunResult{ExitStopped, "the uninstall stopped before its end"};
}

// Opens the report, loads the log and runs the wizard or the unattended uninstall.
RunResult RunMain(const Switches& switches, std::string& restartQuestion) {
    std::string appFolder = ExtractFilePath(GetModuleName());
    HWND window = switches.silent ? nullptr : CreateHiddenMainWindow();
    MainWindow = window;
    SetCurrentDirectoryA(appFolder.c_str());

    // The file checked is the file read: a full path, never a log of the same name in the
    // Windows folder, where the INI rules would look for a name without a folder.
    std::string logPath = switches.logPath.empty() ? appFolder + "install.log" : switches.logPath;
    if (!switches.reportPath.empty() && !OpenReport(switches.reportPath, ReportHeader(switches, logPath))) {
        ErrorBox(FormatOneString("Cannot create the report file %s!", switches.reportPath));
        return {ExitBadSwitch, ""};
    }
    if (!FileExists(logPath)) {
        ErrorBox(FormatOneString("Installation log file %s not found!", logPath));
        return {ExitNoLog, "the log cannot be found"};
    }

    // The restart decision outlives the run: Windows restarts once everything is released.
    auto cleanUp = qz::OnScopeExit([] {
        bool needed = RestartNeeded, chosen = RestartChosen;
        ResetProcessState();
        RestartNeeded = needed;
        RestartChosen = chosen;
    });
    try {
        InitProcessState(appFolder, logPath);
    } catch (const std::exception& error) {
        ErrorBox(error.what());
        return {ExitNoLog, "the log cannot be read"};
    }
    Unattended = switches.silent;
    DryRun = switches.dryRun;
    restartQuestion = RestartQuestion();
    HiddenMainWindow = window;
    return switches.silent ? RunUnattended() : RunLoadedLog();
}

}  // namespace

HWND CreateHiddenMainWindow() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterMainWindowClass(instance)) {
        ErrorBox("Cannot register main window class!");
        return nullptr;
    }
    return CreateWindowExA(0, MainWindowClass, "", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0,
                           nullptr, nullptr, instance, nullptr);
}

int ProgramEntry() {
    InitCommonControls();
    MsgBoxFlags = MB_SETFOREGROUND;
    AppTitle = "Quorvel Uninstaller";
    const Switches switches = ParseSwitches(GetCommandLineA());
    if (!switches.bad.empty()) {
        if (switches.silent) return ExitBadSwitch;
        ErrorBox(FormatOneString("Unknown command-line switch %s!", switches.bad));
        return 0;
    }
    NoBoxes = switches.silent;
    BoxObserver = ObserveBox;
    std::string restartQuestion = PlainRestartQuestion;
    RunResult result{ExitStopped, "stopped by an error"};
    try {
        result = RunMain(switches, restartQuestion);
    } catch (const std::exception& error) {
        ErrorBox(error.what());
    } catch (...) {
        ErrorBox("Unexpected error");
    }
    const bool restart = !switches.silent && RestartNeeded && ConfirmRestart(restartQuestion);
    if (restart) result.text += "; Windows restarts now";
    const int exitCode = switches.silent ? result.exitCode : 0;
    CloseReport(result.text + " (exit code " + std::to_string(exitCode) + ")");
    if (restart) RestartWindows(false);
    return exitCode;
}
