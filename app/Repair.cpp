#include "Repair.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "Globals.h"

void LaunchRepair() {
    std::string parameters = "-repair " + ApplicationId;
    ShellExecuteA(nullptr, nullptr, SetupPath.c_str(), parameters.c_str(), nullptr, SW_SHOW);
    Sleep(1000);  // give the setup program a moment before the uninstaller ends
}
