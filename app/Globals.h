// Process-wide state of the uninstaller. Each variable has one writer (see the comments);
// the worker thread writes PageResult, RestartNeeded and KeptSharedFiles, which the main
// thread reads only after the worker has ended (PageResult is polled).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "qzIniFile.h"
#include "qzStringList.h"

extern HWND HiddenMainWindow;                 // main flow
extern std::string AppFolder;                 // main flow; ends with a backslash
extern std::string LogPath;                   // main flow
extern std::unique_ptr<TqzIniFile> LoadedLog; // main flow; used to count section entries
extern std::unique_ptr<TStringList> SectionLines;     // the removal actions' work list
extern std::unique_ptr<TStringList> KeptSharedFiles;  // shared files that must stay
extern std::string ApplicationId;             // main flow
extern std::string UninstallKey;              // main flow
extern uint8_t ActionChoice;                  // wizard: 0 uninstall, 1 repair, 2 neither
extern std::string SetupPath;                 // wizard
extern bool RestartNeeded;                    // removal actions (to true), restart page
extern bool RestartChosen;                    // restart page: the user chose to restart now
extern bool RemoveDataFiles;                  // wizard
extern bool Unattended;                       // main flow (/S): no window, no box, no question
extern bool DryRun;                           // main flow (/DRYRUN): nothing is changed

extern std::string CurrentPageName;           // wizard
extern HWND CurrentPage;                      // wizard
extern HWND PreviousPage;                     // wizard
extern std::atomic<int32_t> PageResult;       // wizard; the worker sets 102 at its end

extern HANDLE WorkerThread;                   // worker
extern int32_t StageIndex;                    // worker
extern int32_t StepsDone;                     // worker
extern int32_t StepsTotal;                    // worker

// Puts every variable above back to its value at program start: the log, the cached INI
// engines and the work lists are released, the previous page destroyed, the flags take their defaults. Windows and
// threads named here stay with whoever created them.
void ResetProcessState();
// Starts a run on the log: the state is reset, AppFolder and LogPath set, the log loaded and
// the work lists created.
void InitProcessState(const std::string& appFolder, const std::string& logPath);

// Whether UninstallKey is the application's own key: an empty or blank identifier would name
// the whole Uninstall key, and one with a backslash another key.
bool NamesOwnUninstallKey();
// LogPath with its extension replaced by ".sss": its existence enables repair.
std::string RepairDataFile();
// Destroys PreviousPage, if it is a window, and clears it.
void DestroyPreviousPage();
