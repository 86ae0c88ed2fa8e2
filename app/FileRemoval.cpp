// The shared work list of the removal actions, and the removal of the files of DataFiles
// and CopyFiles.
#include <memory>

#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "qzFileFind.h"
#include "qzFileUtils.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

constexpr int32_t DirectoryOrVolumeLabel = 0x18;

// A mask with wildcards deletes nothing in a protected folder; any mask, and the file it
// names, needs a full path without "." or ".." components.
bool MaySearch(const std::string& mask) {
    if (IsProtectedPath(mask)) return false;
    return !HasWildcards(ExtractFileName(mask)) || !IsProtectedPath(ExtractFilePath(mask));
}

// The uninstaller itself, when the log lists it, cannot go while it runs. It needs no
// deletion at the next boot, nor a restart: its removal script deletes it once it has ended.
bool IsRunningProgram(const std::string& path) { return CompareText(path, GetModuleName()) == 0; }

// A file the mask found: deleted now, or at the next boot when it is in use.
void DeleteFoundFile(const std::string& path, const std::string& statusFormat) {
    ReportStatus(FormatOneString(statusFormat, path));
    if (IsRunningProgram(path) || ForceDeleteFile(path) || !FileExists(path)) return;
    DeleteFileAtReboot(path);
    RestartNeeded = true;
}

// The files the mask matches, each named in the status line with the format.
void DeleteMatching(const std::string& mask, const std::string& statusFormat) {
    if (!MaySearch(mask)) return;
    // The system's search also matches 8.3 short names ("*.htm" finds "page.html"), so a
    // wildcard match must hold for the long name too.
    const std::string pattern = ExtractFileName(mask);
    const bool wildcards = HasWildcards(pattern);
    TSearchRecEx record;
    for (DWORD result = FindFirstEx(mask, 0, DirectoryOrVolumeLabel, record); result == 0;
         result = FindNextEx(record)) {
        if (!wildcards || MatchesFileMask(record.Name, pattern))
            DeleteFoundFile(record.FullName, statusFormat);
    }
    FindCloseEx(record);
}

// An installed file, with the help index files that Windows builds beside a help file.
void DeleteInstalledFile(const std::string& name, const std::string& statusFormat) {
    DeleteMatching(name, statusFormat);
    if (CompareText(ExtractFileExt(name), ".hlp") != 0) return;
    DeleteMatching(ChangeFileExt(name, ".gid"), statusFormat);
    DeleteMatching(ChangeFileExt(name, ".fts"), statusFormat);
}

bool IsKeptSharedFile(const std::string& name) {
    return KeptSharedFiles && KeptSharedFiles->IndexOfName(name) >= 0;
}

}  // namespace

bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// A line holding a NUL byte is dropped: every system call would see only the text before
// the NUL and act on another file, key or entry than the line names.
void LoadSectionLines(const std::string& section) {
    if (!SectionLines) SectionLines = std::make_unique<TStringList>();
    SectionLines->Clear();
    ReadIniSection(LogPath, section, *SectionLines);
    for (int i = SectionLines->Count() - 1; i >= 0; --i)
        if (HoldsNul(SectionLines->Strings(i))) SectionLines->Delete(i);
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

void DeleteMatchingFiles(const std::string& mask) { DeleteMatching(mask, StringsEntry(10)); }

// The status format is read once per section: the log does not change during the walk.
void RemoveFiles() {
    const std::string statusFormat = StringsEntry(10);
    if (RemoveDataFiles) {
        LoadSectionLines("DataFiles");
        for (int i = 0; i < SectionLines->Count(); ++i) {
            DeleteMatching(EntryKey(SectionLines->Strings(i)), statusFormat);
            ReportStep();
        }
    }
    LoadSectionLines("CopyFiles");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        const std::string name = EntryKey(SectionLines->Strings(i));
        if (!IsKeptSharedFile(name)) DeleteInstalledFile(name, statusFormat);
        ReportStep();
    }
}
