// Shared files: the SharedDLLs reference counters of the files this application installed,
// and the prompt that asks whether a file nobody else uses may go. The files that must stay
// are left in KeptSharedFiles, which the later removal actions consult.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

const char SharedDllsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\";

// Prompt answers.
constexpr int AnswerNone = 0;
constexpr int AnswerDelete = 6;
constexpr int AnswerKeep = 7;
constexpr int AnswerKeepAll = 9;
constexpr int AnswerDeleteAll = 10;

enum class Counter { AtEnd, Lowered };

// The file's reference count: the number the value holds, read as unsigned so that it never
// goes below zero. A binary value of another size than four bytes gives its low bytes (a
// longer one its low 32 bits), a text value the number it spells. A counter that is missing
// or cannot be read counts as 1: nothing is known about other users, and the user decides.
uint32_t ReadCounter(const std::string& path) {
    DWORD type = RegValueType(SharedDllsKey, path);
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return StrToDWordDef(Trim(RegReadString(SharedDllsKey, path, "")), 1);
    std::vector<uint8_t> data;
    if (!RegReadBytes(SharedDllsKey, path, data)) return 1;
    uint32_t count = 0;
    std::memcpy(&count, data.data(), std::min(data.size(), sizeof count));
    return count;
}

// Lowers the count by one while others still hold the file.
Counter ReleaseCounter(const std::string& path) {
    uint32_t count = ReadCounter(path);
    if (count <= 1) return Counter::AtEnd;
    if (!DryRun) RegWriteInteger(SharedDllsKey, path, static_cast<int32_t>(count - 1));
    char detail[64];
    wsprintfA(detail, "its counter lowered from %lu to %lu", static_cast<unsigned long>(count),
              static_cast<unsigned long>(count - 1));
    Record(Outcome::Kept, "shared file", path, detail);
    return Counter::Lowered;
}

// What earlier runs on this log decided about its shared files, kept as one value under the
// application's uninstall key, which goes with a successful uninstall. A walk that stopped
// after the counters were lowered (a program that failed, an INI file that could not be
// opened) must not lower them again when it is run once more: a file already released is
// neither counted down nor asked about again. The record belongs to one log, known by its
// size and last-write time, so a reinstall, which writes a new log, starts afresh.
class ReleaseRecord {
public:
    static constexpr char Stays = 'S';
    static constexpr char Goes = 'G';

    ReleaseRecord() : identity_(LogIdentity()) {
        if (!NamesOwnUninstallKey() || identity_.empty()) return;
        std::string text = RegReadString(UninstallKey, RecordValue, "");
        size_t start = text.find('|');
        if (start == std::string::npos || text.compare(0, start, identity_) != 0) return;
        // Entries "|<outcome><path>"; a path holds no "|", which no file name may.
        for (size_t end; start != std::string::npos; start = end) {
            end = text.find('|', start + 1);
            std::string entry = text.substr(start + 1, end == std::string::npos ? end : end - start - 1);
            if (entry.size() > 1) outcomes_[UpperCase(entry.substr(1))] = entry[0];
        }
    }

    // Stays or Goes, or 0 when no run on this log has decided about the file yet.
    char Outcome(const std::string& path) const {
        auto found = outcomes_.find(UpperCase(path));
        return found == outcomes_.end() ? 0 : found->second;
    }

    // Written at once: the walk may stop anywhere after it.
    void Remember(const std::string& path, char outcome) {
        if (!NamesOwnUninstallKey() || identity_.empty() || DryRun) return;
        outcomes_[UpperCase(path)] = outcome;
        std::string text = identity_;
        for (const auto& entry : outcomes_) text += '|' + std::string(1, entry.second) + entry.first;
        RegWriteString(UninstallKey, RecordValue, text);
    }

private:
    static constexpr const char* RecordValue = "ReleasedSharedFiles";

    // The log's size and last-write time (FindFirstFileA: Windows 95 has no
    // GetFileAttributesExA); empty when the log cannot be found.
    static std::string LogIdentity() {
        WIN32_FIND_DATAA data;
        qz::UniqueFind search(FindFirstFileA(LogPath.c_str(), &data));
        if (!search) return "";
        char identity[64];
        wsprintfA(identity, "%lu:%lu:%08lX%08lX", data.nFileSizeHigh, data.nFileSizeLow,
                  data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
        return identity;
    }

    std::string identity_;
    std::map<std::string, char> outcomes_;  // by upper-cased path
};

INT_PTR HandlePromptMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const std::string& path = *reinterpret_cast<const std::string*>(lParam);
            ApplyPageTexts(dialog, "DLG_DELSHARED");
            SetDlgItemTextA(dialog, IDC_DS_FILE, ExtractFileName(path).c_str());
            SetDlgItemTextA(dialog, IDC_DS_FOLDER, ExtractFilePath(path).c_str());
            break;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_DS_DELETE: EndDialog(dialog, AnswerDelete); break;
                case IDC_DS_DELETE_ALL: EndDialog(dialog, AnswerDeleteAll); break;
                case IDC_DS_KEEP:
                case IDCANCEL: EndDialog(dialog, AnswerKeep); break;
                case IDC_DS_KEEP_ALL: EndDialog(dialog, AnswerKeepAll); break;
                default: break;
            }
            break;
        default:
            break;
    }
    return 0;
}

INT_PTR CALLBACK DeleteSharedProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardCallback([=] { return HandlePromptMessage(dialog, message, wParam, lParam); },
                         INT_PTR{0});
}

}  // namespace

std::string LongNameKey(const std::string& path) { return UpperCase(GetLongName(path)); }

std::set<std::string> KeptLongNames() {
    std::set<std::string> names;
    if (KeptSharedFiles)
        for (int i = 0; i < KeptSharedFiles->Count(); ++i)
            names.insert(LongNameKey(EntryKey(KeptSharedFiles->Strings(i))));
    return names;
}

int AskDeleteSharedFile(const std::string& path) {
    // Without a user, a file that no other program counts on stays, its counter untouched.
    if (Unattended) return AnswerKeepAll;
    INT_PTR answer = DialogBoxParamA(GetModuleHandleA(nullptr), "DLG_DELSHARED", MainWindow,
                                     DeleteSharedProc, reinterpret_cast<LPARAM>(&path));
    RethrowCallbackError();
    // A prompt that could not be shown decides nothing: the file stays.
    switch (answer) {
        case AnswerDelete:
        case AnswerDeleteAll:
        case AnswerKeepAll:
            return static_cast<int>(answer);
        default:
            return AnswerKeep;
    }
}

void ReleaseSharedFiles() {
    if (!KeptSharedFiles) KeptSharedFiles = std::make_unique<TStringList>();
    TStringList& kept = *KeptSharedFiles;
    ReadIniSection(LogPath, "SharedFiles", kept);
    if (kept.Empty()) return;

    LoadSectionLines("CopyFiles");
    ReleaseRecord record;
    int answer = AnswerNone;
    for (int i = 0; i < kept.Count();) {
        std::string path = EntryKey(kept.Strings(i));
        ReportStatus(FormatStringsEntry(18, path));
        // Only files this application installed are counted down; a path holding a NUL
        // would reach the registry as another file's path.
        if (HoldsNul(path) || SectionLines->IndexOfName(path) < 0) {
            ++i;
            continue;
        }
        char outcome = record.Outcome(path);
        if (outcome == ReleaseRecord::Stays)
            Record(Outcome::Kept, "shared file", path, "released by an earlier run");
        else if (outcome == 0 && ReleaseCounter(path) == Counter::Lowered)
            outcome = ReleaseRecord::Stays;
        if (outcome == 0) {
            if (answer != AnswerKeepAll && answer != AnswerDeleteAll)
                answer = AskDeleteSharedFile(path);
            bool goes = answer == AnswerDelete || answer == AnswerDeleteAll;
            if (goes)
                RemoveRegistryValue("shared counter", SharedDllsKey, path);
            else
                Record(Outcome::Kept, "shared file", path, "no other program counts on it");
            outcome = goes ? ReleaseRecord::Goes : ReleaseRecord::Stays;
        }
        record.Remember(path, outcome);
        if (outcome == ReleaseRecord::Goes)
            kept.Delete(i);
        else
            ++i;
    }
}
