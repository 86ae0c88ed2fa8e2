// Removal of the shortcuts, the data folders and the folders the installer created.
#include <windows.h>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
#include "qzFileUtils.h"
#include "qzWinUtils.h"

void RemoveShortcuts() {
    LoadSectionLines("Shortcuts");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        const std::string path = EntryKey(SectionLines->Strings(i));
        ReportStatus(FormatStringsEntry(14, path));
        if (IsProtectedPath(path)) {
            Record(Outcome::Refused, "shortcut", path);
        } else {
            RemoveFileNow("shortcut", ChangeFileExt(path, ".lnk"));
            RemoveFileNow("shortcut", ChangeFileExt(path, ".pif"));  // the form for MS-DOS programs
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
            if (IsProtectedPath(folder))
                Record(Outcome::Refused, "folder", folder);
            else
                RemoveFolderTree(folder);
            ReportStep();
        }
    }
    LoadSectionLines("CreateDirs");
    if (SectionLines->Empty()) return;
    // The log normally lies in the application's folder; later reads of it are served
    // from the engine cached in memory. While RunApp programs are still to run, it stays:
    // should one fail, the uninstall key still leads to an uninstaller that can run again.
    if (SectionEntryCount("RunApp") == 0) RemoveFileNow("log", LogPath);
    SortSectionKeys();
    for (int i = SectionLines->Count() - 1; i >= 0; --i) {
        const std::string folder = SectionLines->Strings(i);
        ReportStatus(FormatStringsEntry(15, folder));
        if (IsProtectedPath(folder))
            Record(Outcome::Refused, "folder", folder);
        else
            RemoveFolderIfEmpty(folder, true);
        ReportStep();
    }
}

void RemoveLogAndItsFolder() {
    RemoveFileNow("log", LogPath);
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(LogPath));
    LoadSectionLines("CreateDirs");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        std::string created = ExcludeTrailingBackslash(EntryKey(SectionLines->Strings(i)));
        if (CompareText(created, folder) == 0 && !IsProtectedPath(folder))
            RemoveFolderIfEmpty(folder, false);
    }
}
