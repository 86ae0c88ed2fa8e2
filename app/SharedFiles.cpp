// Shared files: the SharedDLLs reference counters of the files this application installed,
// and the prompt that asks whether a file nobody else uses may go. The files that must stay
// are left in KeptSharedFiles, which the later removal actions consult.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Globals.h"
#include "Removal.h"
#include "Skin.h"
#include "Progress.h"
#include "qzFileUtils.h"
#include "qzRegIni.h"
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

enum class Counter { Missing, AtEnd, Lowered };

// Lowers the file's reference count by one while others still hold it. The count is read
// as the unsigned number the registry holds, so it never goes below zero; a value that is
// there but is no 32-bit number counts as 1. Without a counter nothing is known about other
// users of the file, which therefore must stay.
Counter ReleaseCounter(const std::string& path) {
    std::vector<uint8_t> data;
    if (!RegReadBytes(SharedDllsKey, path, data)) return Counter::Missing;
    uint32_t count = 1;
    if (data.size() == sizeof count) std::memcpy(&count, data.data(), sizeof count);
    if (count <= 1) return Counter::AtEnd;
    RegWriteInteger(SharedDllsKey, path, static_cast<int32_t>(count - 1));
    return Counter::Lowered;
}

INT_PTR CALLBACK DeleteSharedProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
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

}  // namespace

int AskDeleteSharedFile(const std::string& path) {
    INT_PTR answer = DialogBoxParamA(GetModuleHandleA(nullptr), "DLG_DELSHARED", MainWindow,
                                     DeleteSharedProc, reinterpret_cast<LPARAM>(&path));
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
    int answer = AnswerNone;
    for (int i = 0; i < kept.Count();) {
        std::string path = EntryKey(kept.Strings(i));
        ReportStatus(FormatStringsEntry(18, path));
        // Only files this application installed are counted down; a path holding a NUL
        // would reach the registry as another file's path.
        if (HoldsNul(path) || SectionLines->IndexOfName(path) < 0 ||
            ReleaseCounter(path) != Counter::AtEnd) {
            ++i;
            continue;
        }
        if (answer != AnswerKeepAll && answer != AnswerDeleteAll)
            answer = AskDeleteSharedFile(path);
        if (answer == AnswerDelete || answer == AnswerDeleteAll) {
            DeleteRegValue(SharedDllsKey, path);
            kept.Delete(i);
        } else {
            ++i;
        }
    }
}
