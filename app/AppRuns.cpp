// Programs run on behalf of the log: the .NET assembly cache tool for each shared assembly,
// and the programs the installer asked to run before and after the removal.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>

#include "Globals.h"
#include "Removal.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
#include "qzFileUtils.h"
#include "qzShell.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// The numeric field n of a run entry, or fallback when it is empty or no number.
int32_t NumberField(int32_t n, const std::string& value, int32_t fallback) {
    int32_t number = 0;
    return TryStrToInt(GetField(n, value, ","), number) ? number : fallback;
}

// Writes the outcome of a program that was waited for; true when it counts as succeeded.
bool RecordExit(Outcome done, const char* kind, const std::string& command, int32_t code, bool judged) {
    const bool succeeded = !judged || code == 0;
    if (!Reporting()) return succeeded;
    char detail[48];
    wsprintfA(detail, code == -1 ? "could not be started" : "exit code %ld", static_cast<long>(code));
    Record(succeeded ? done : Outcome::Failed, kind, command, detail);
    return succeeded;
}

int ShowCommand(int32_t mode) {
    switch (mode) {
        case 0: return SW_HIDE;
        case 2: return SW_SHOWMAXIMIZED;
        case 3: return SW_SHOWMINNOACTIVE;
        default: return SW_SHOWNORMAL;
    }
}

}  // namespace

void UninstallAssemblies() {
    LoadSectionLines("SharedAssemblies");
    if (SectionLines->Empty()) return;
    const std::string tool = ExtractFilePath(GetModuleName()) + "gacutil.exe";
    for (const auto& line : SectionLines->Entries()) {
        std::string assembly = ValuePart(line.text);
        ReportStatus(FormatStringsEntry(19, GetField(1, assembly, ",")));
        if (!FileExists(tool))
            Record(Outcome::Kept, "assembly", assembly, "no gacutil.exe beside the uninstaller");
        else if (DryRun)
            Record(Outcome::Removed, "assembly", assembly);
        else
            RecordExit(Outcome::Removed, "assembly", assembly,
                       RunAndWait(nullptr, tool, "/ur " + assembly, "", SW_HIDE), true);
        ReportStep();
    }
}

bool RunEntry(const std::string& value) {
    std::string program = StripQuotes(GetField(1, value, ","), '"');
    std::string parameters = GetField(2, value, ",");
    std::string folder = GetField(3, value, ",");
    int show = ShowCommand(NumberField(4, value, 1));
    ReportStatus(StripQuotes(GetField(5, value, ","), '"'));
    bool wait = NumberField(6, value, 1) != 0;
    bool judgeExitCode = NumberField(7, value, 1) != 0;

    const std::string command = Trim(program + " " + parameters);
    if (DryRun) {
        Record(Outcome::Ran, "program", command, "not started in a dry run");
        return true;
    }
    if (wait) {
        int32_t code = RunAndWait(HiddenMainWindow, program, parameters, folder, show);
        return RecordExit(Outcome::Ran, "program", command, code, judgeExitCode);
    }
    auto optional = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
    HINSTANCE started = ShellExecuteA(HiddenMainWindow, nullptr, program.c_str(),
                                      optional(parameters), optional(folder), show);
    bool ok = reinterpret_cast<INT_PTR>(started) > 32;
    Record(ok ? Outcome::Ran : Outcome::Failed, "program", command, ok ? "not waited for" : "could not be started");
    return ok;
}

bool RunSection(bool pre) {
    LoadSectionLines(pre ? "PreRunApp" : "RunApp");
    for (const auto& line : SectionLines->Entries()) {
        if (!RunEntry(ValuePart(line.text))) return false;
        ReportStep();
    }
    return true;
}

int SectionEntryCount(const std::string& section) {
    if (!LoadedLog) return 0;
    TSectionList& sections = LoadedLog->Sections();
    int index = sections.IndexOf(section);
    if (index < 0) return 0;
    // Lines holding a NUL are left out of every removal, so they take no step either.
    const auto& lines = sections.LinesAt(index)->Entries();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [](const auto& line) { return !HoldsNul(line.text); }));
}
