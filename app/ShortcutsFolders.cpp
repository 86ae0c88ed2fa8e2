// Removal of the shortcuts, the data folders and the folders the installer created.
#include <windows.h>

#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "qzFileUtils.h"
#include "qzWinUtils.h"

void RemoveShortcuts() {
    LoadSectionLines("Shortcuts");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        const std::string path = EntryKey(SectionLines->Strings(i));
        ReportStatus(FormatStringsEntry(14, path));
        if (!IsProtectedPath(path)) {
            ForceDeleteFile(ChangeFileExt(path, ".lnk"));
            ForceDeleteFile(ChangeFileExt(path, ".pif"));  // the form for MS-DOS programs
        }
        ReportStep();
    }
}

namespace {

// Removes the folder when it is empty. One that still holds files deferred to the next boot
// is scheduled after them on the NT family, whose boot-time deletion removes a folder once
// it is empty and keeps the order of the entries (one that holds anything else stays then
// too); Windows 9x cannot delete folders at boot.
void RemoveCreatedFolder(const std::string& folder) {
    if (RemoveDirectoryA(folder.c_str()) || !RestartNeeded || !IsNTPlatform()) return;
    if (FolderExists(folder)) MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

void RemoveFolders() {
    if (RemoveDataFiles) {
        LoadSectionLines("DataFolders");
        for (int i = 0; i < SectionLines->Count(); ++i) {
            const std::string folder = EntryKey(SectionLines->Strings(i));
            ReportStatus(FormatStringsEntry(15, folder));
            // A data folder goes with everything below it; links in it are removed as
            // links, never followed.
            if (!IsProtectedPath(folder)) DeleteFolderTree(folder, true);
            ReportStep();
        }
    }
    LoadSectionLines("CreateDirs");
    if (SectionLines->Empty()) return;
    // The log normally lies in the application's folder; later reads of it are served
    // from the engine cached in memory. While RunApp programs are still to run, it stays:
    // should one fail, the uninstall key still leads to an uninstaller that can run again.
    if (SectionEntryCount("RunApp") == 0) ForceDeleteFile(LogPath);
    SortSectionKeys();
    for (int i = SectionLines->Count() - 1; i >= 0; --i) {
        const std::string folder = SectionLines->Strings(i);
        ReportStatus(FormatStringsEntry(15, folder));
        if (!IsProtectedPath(folder)) RemoveCreatedFolder(folder);
        ReportStep();
    }
}

void RemoveLogAndItsFolder() {
    ForceDeleteFile(LogPath);
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(LogPath));
    LoadSectionLines("CreateDirs");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        std::string created = ExcludeTrailingBackslash(EntryKey(SectionLines->Strings(i)));
        if (CompareText(created, folder) == 0 && !IsProtectedPath(folder))
            RemoveDirectoryA(folder.c_str());  // only when empty
    }
}
