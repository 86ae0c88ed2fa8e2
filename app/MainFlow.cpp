#include "MainFlow.h"

#include <commctrl.h>

#include <exception>

#include "Globals.h"
#include "Repair.h"
#include "Skin.h"
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

// The log path: the first command-line argument, or install.log beside the executable, as a
// full path (against the program's folder, the current one by now): the file checked is the
// file read, never a log of the same name in the Windows folder, where the INI rules would
// look for a name without a folder.
std::string ChooseLogPath(const std::string& appFolder) {
    std::string argument = ParamStr(GetCommandLineA(), 1);
    return ExpandFileName(argument.empty() ? appFolder + "install.log" : argument);
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

void RunLoadedLog() {
    ApplicationId = ReadLogText("Strings", "AppID", "");
    UninstallKey = std::string(UninstallRoot) + "Uninstall\\" + ApplicationId;

    SetWindowTextA(HiddenMainWindow, StringsEntry(1).c_str());
    ShowWindow(HiddenMainWindow, SW_SHOW);

    if (RunPageSequence() != PageNext) return;
    switch (ActionChoice) {
        case 0:
            if (RunUninstall()) {
                if (RestartNeeded) RunPage("DLG_REBOOT");
                if (!RestartNeeded) RunPage("DLG_UNINSTALLSUCCEEDED");
            }
            break;
        case 1:
            LaunchRepair();
            break;
        default:
            break;
    }
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

void RunMain(std::string& restartQuestion) {
    InitCommonControls();
    MsgBoxFlags = MB_SETFOREGROUND;
    AppTitle = "Quorvel Uninstaller";
    std::string appFolder = ExtractFilePath(GetModuleName());
    HWND window = CreateHiddenMainWindow();
    MainWindow = window;
    SetCurrentDirectoryA(appFolder.c_str());

    std::string logPath = ChooseLogPath(appFolder);
    if (!FileExists(logPath)) {
        ErrorBox(FormatOneString("Installation log file %s not found!", logPath));
        return;
    }

    // The restart decision outlives the run: Windows restarts once everything is released.
    auto cleanUp = qz::OnScopeExit([] {
        bool needed = RestartNeeded, chosen = RestartChosen;
        ResetProcessState();
        RestartNeeded = needed;
        RestartChosen = chosen;
    });
    InitProcessState(appFolder, logPath);
    restartQuestion = RestartQuestion();
    HiddenMainWindow = window;
    RunLoadedLog();
}

int ProgramEntry() {
    std::string restartQuestion = PlainRestartQuestion;
    try {
        RunMain(restartQuestion);
    } catch (const std::exception& error) {
        ErrorBox(error.what());
    } catch (...) {
        ErrorBox("Unexpected error");
    }
    if (RestartNeeded && ConfirmRestart(restartQuestion)) RestartWindows(false);
    return 0;
}
