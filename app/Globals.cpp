#include "Globals.h"

#include "Changes.h"
#include "qzFileUtils.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"

HWND HiddenMainWindow = nullptr;
std::string AppFolder;
std::string LogPath;
std::unique_ptr<TqzIniFile> LoadedLog;
std::unique_ptr<TStringList> SectionLines;
std::unique_ptr<TStringList> KeptSharedFiles;
std::string ApplicationId;
std::string UninstallKey;
uint8_t ActionChoice = 0;
std::string SetupPath;
bool RestartNeeded = false;
bool RestartChosen = false;
bool RemoveDataFiles = true;
bool Unattended = false;
bool DryRun = false;

std::string CurrentPageName;
HWND CurrentPage = nullptr;
HWND PreviousPage = nullptr;
std::atomic<int32_t> PageResult{0};

HANDLE WorkerThread = nullptr;
int32_t StageIndex = 0;
int32_t StepsDone = 0;
int32_t StepsTotal = 0;

bool NamesOwnUninstallKey() {
    return !Trim(ApplicationId).empty() && ApplicationId.find('\\') == std::string::npos;
}

std::string RepairDataFile() { return ChangeFileExt(LogPath, ".sss"); }

void DestroyPreviousPage() {
    if (IsWindow(PreviousPage)) DestroyWindow(PreviousPage);
    PreviousPage = nullptr;
}

void ResetProcessState() {
    DestroyPreviousPage();
    HiddenMainWindow = nullptr;
    AppFolder.clear();
    LogPath.clear();
    LoadedLog.reset();
    ReleaseAllIniFiles();  // the cached engines, the log's among them
    SectionLines.reset();
    KeptSharedFiles.reset();
    ApplicationId.clear();
    UninstallKey.clear();
    ActionChoice = 0;
    SetupPath.clear();
    RestartNeeded = false;
    RestartChosen = false;
    RemoveDataFiles = true;
    Unattended = false;
    DryRun = false;
    ForgetDryRun();
    CurrentPageName.clear();
    CurrentPage = nullptr;
    PageResult = 0;
    WorkerThread = nullptr;
    StageIndex = 0;
    StepsDone = 0;
    StepsTotal = 0;
}

void InitProcessState(const std::string& appFolder, const std::string& logPath) {
    ResetProcessState();
    AppFolder = appFolder;
    LogPath = logPath;
    LoadedLog = std::make_unique<TqzIniFile>(LogPath, true);
    CacheIniFile(*LoadedLog);  // one parse of the log for both
    SectionLines = std::make_unique<TStringList>();
    KeptSharedFiles = std::make_unique<TStringList>();
}
