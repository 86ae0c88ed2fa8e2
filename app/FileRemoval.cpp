// The shared work list of the removal actions, and the removal of the files of DataFiles
// and CopyFiles.
#include <memory>

#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Wizard.h"
#include "qzFileFind.h"
#include "qzFileUtils.h"
#include "qzRegIni.h"

namespace {

constexpr int32_t DirectoryOrVolumeLabel = 0x18;

// A mask with wildcards deletes nothing in a protected folder; any mask, and the file it
// names, needs a full path without "." or ".." components.
bool MaySearch(const std::string& mask) {
    if (IsProtectedPath(mask)) return false;
    return !HasWildcards(ExtractFileName(mask)) || !IsProtectedPath(ExtractFilePath(mask));
}

// A file the mask found: deleted now, or at the next boot when it is in use.
void DeleteFoundFile(const std::string& path) {
    SetStatusText(FormatStringsEntry(10, path));
    if (ForceDeleteFile(path) || !FileExists(path)) return;
    DeleteFileAtReboot(path);
    RestartNeeded = true;
}

// An installed file, with the help index files that Windows builds beside a help file.
void DeleteInstalledFile(const std::string& name) {
    DeleteMatchingFiles(name);
    if (CompareText(ExtractFileExt(name), ".hlp") != 0) return;
    DeleteMatchingFiles(ChangeFileExt(name, ".gid"));
    DeleteMatchingFiles(ChangeFileExt(name, ".fts"));
}

bool IsKeptSharedFile(const std::string& name) {
    return KeptSharedFiles && KeptSharedFiles->IndexOfName(name) >= 0;
}

}  // namespace

void LoadSectionLines(const std::string& section) {
    if (!SectionLines) SectionLines = std::make_unique<TStringList>();
    SectionLines->Clear();
    ReadIniSection(LogPath, section, *SectionLines);
}

std::string EntryKey(const std::string& line) {
    size_t equals = line.rfind('=');
    return equals == std::string::npos ? std::string() : line.substr(0, equals);
}

void SortSectionKeys() {
    for (int i = 0; i < SectionLines->Count(); ++i)
        SectionLines->SetString(i, EntryKey(SectionLines->Strings(i)));
    SectionLines->Sort();
}

void DeleteMatchingFiles(const std::string& mask) {
    if (!MaySearch(mask)) return;
    // The system's search also matches 8.3 short names ("*.htm" finds "page.html"), so a
    // wildcard match must hold for the long name too.
    const std::string pattern = ExtractFileName(mask);
    const bool wildcards = HasWildcards(pattern);
    TSearchRecEx record;
    for (DWORD result = FindFirstEx(mask, 0, DirectoryOrVolumeLabel, record); result == 0;
         result = FindNextEx(record)) {
        if (!wildcards || MatchesFileMask(record.Name, pattern)) DeleteFoundFile(record.FullName);
    }
    FindCloseEx(record);
}

void RemoveFiles() {
    if (RemoveDataFiles) {
        LoadSectionLines("DataFiles");
        for (int i = 0; i < SectionLines->Count(); ++i) {
            DeleteMatchingFiles(EntryKey(SectionLines->Strings(i)));
            StepProgress();
        }
    }
    LoadSectionLines("CopyFiles");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        const std::string name = EntryKey(SectionLines->Strings(i));
        if (!IsKeptSharedFile(name)) DeleteInstalledFile(name);
        StepProgress();
    }
}
