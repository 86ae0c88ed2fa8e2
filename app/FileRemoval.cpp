// The shared work list of the removal actions, and the removal of the files of DataFiles
// and CopyFiles.
#include <memory>
#include <set>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
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

// Deletes the files that masks find, each named in the status line with one format. The
// files that must stay are recognised by their full long spelling, whatever led to them: a
// mask, a short name, "." or ".." segments, or the help companion of another entry.
class FileRemover {
public:
    explicit FileRemover(const std::string& statusFormat)
        : statusFormat_(statusFormat),
          program_(LongNameKey(GetModuleName())),
          programNames_{UpperCase(ExtractFileName(program_)),
                        UpperCase(ExtractFileName(GetShortName(program_)))},
          kept_(KeptLongNames()) {}

    // The files the mask matches, or the entry's outcome when there is none.
    void DeleteListed(const std::string& mask) const {
        if (!MaySearch(mask))
            Record(Outcome::Refused, "file", mask);
        else if (DeleteMatching(mask) == 0)
            Record(Outcome::Missing, "file", mask);
    }

    // An installed file, with the help index files that Windows builds beside a help file.
    void DeleteInstalled(const std::string& name) const {
        DeleteListed(name);
        if (CompareText(ExtractFileExt(name), ".hlp") != 0 || !MaySearch(name)) return;
        DeleteMatching(ChangeFileExt(name, ".gid"));
        DeleteMatching(ChangeFileExt(name, ".fts"));
    }

private:
    // The files the mask matches (a mask that may be searched); their number.
    int DeleteMatching(const std::string& mask) const {
        const std::string pattern = ExtractFileName(mask);
        // A plain name needs no search: its attributes tell whether it names a file. (The
        // kept files are recognised by the long spelling of the path, however it is written.)
        if (!HasWildcards(pattern)) {
            if (!FileExists(mask)) return 0;
            DeleteFound(mask);
            return 1;
        }
        // The system's search also matches 8.3 short names ("*.htm" finds "page.html"), so a
        // match must hold for the long name too.
        TSearchRecEx record;
        int found = 0;
        for (DWORD result = FindFirstEx(mask, 0, DirectoryOrVolumeLabel, record); result == 0;
             result = FindNextEx(record)) {
            if (!MatchesFileMask(record.Name, pattern)) continue;
            DeleteFound(record.FullName);
            ++found;
        }
        FindCloseEx(record);
        return found;
    }

    // A found file: deleted now, or at the next boot when it is in use. The uninstaller
    // itself, when the log lists it, cannot go while it runs; it needs no deletion at the
    // next boot, nor a restart: its removal script deletes it once it has ended.
    void DeleteFound(const std::string& path) const {
        if (RemovedInDryRun(path)) return;  // listed once in a dry run
        // The long spelling costs a search per component: it is needed only where a file
        // may be one that stays, or the program under another spelling.
        bool maybeProgram = programNames_.count(UpperCase(ExtractFileName(path))) != 0;
        std::string key = kept_.empty() && !maybeProgram ? "" : LongNameKey(path);
        if (kept_.count(key) != 0) return Record(Outcome::Kept, "file", path, "shared with other programs");
        ReportStatus(FormatOneString(statusFormat_, path));
        if (!maybeProgram || key != program_) RemoveFileOrDefer("file", path);
    }

    std::string statusFormat_;
    std::string program_;
    std::set<std::string> programNames_;  // its long and short file names
    std::set<std::string> kept_;
};

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

void RecordMalformedLines() {
    if (!Reporting() || !LoadedLog) return;
    TSectionList& sections = LoadedLog->Sections();
    for (int i = 0; i < sections.Count(); ++i)
        for (const auto& line : sections.LinesAt(i)->Entries())
            if (HoldsNul(line.text))
                Record(Outcome::Malformed, "line", std::string(line.text).c_str(),
                       "in [" + std::string(sections.Strings(i)) + "], cut at a NUL byte");
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

// The status format is read once: the log does not change during the walk.
void RemoveFiles() {
    const FileRemover remover(StringsEntry(10));
    if (RemoveDataFiles) {
        LoadSectionLines("DataFiles");
        for (int i = 0; i < SectionLines->Count(); ++i) {
            remover.DeleteListed(EntryKey(SectionLines->Strings(i)));
            ReportStep();
        }
    }
    LoadSectionLines("CopyFiles");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        remover.DeleteInstalled(EntryKey(SectionLines->Strings(i)));
        ReportStep();
    }
}
