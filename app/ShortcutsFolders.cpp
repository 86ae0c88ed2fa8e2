// Removal of the shortcuts, the data folders and the folders the installer created.
#include <windows.h>

#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "qzFileUtils.h"

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
    // from the engine cached in memory.
    ForceDeleteFile(LogPath);
    SortSectionKeys();
    for (int i = SectionLines->Count() - 1; i >= 0; --i) {
        const std::string folder = SectionLines->Strings(i);
        ReportStatus(FormatStringsEntry(15, folder));
        if (!IsProtectedPath(folder)) RemoveDirectoryA(folder.c_str());  // only when empty
        ReportStep();
    }
}
