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

// The log path: the first command-line argument, or install.log beside the executable.
std::string ChooseLogPath(const std::string& appFolder) {
    std::string argument = ParamStr(GetCommandLineA(), 1);
    return argument.empty() ? appFolder + "install.log" : argument;
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

void RunMain() {
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
        bool restart = RestartNeeded;
        ResetProcessState();
        RestartNeeded = restart;
    });
    InitProcessState(appFolder, logPath);
    HiddenMainWindow = window;
    RunLoadedLog();
}

int ProgramEntry() {
    try {
        RunMain();
    } catch (const std::exception& error) {
        ErrorBox(error.what());
    } catch (...) {
        ErrorBox("Unexpected error");
    }
    if (RestartNeeded) RestartWindows(false);
    return 0;
}
