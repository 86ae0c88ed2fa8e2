// COM servers, type libraries and fonts: their system registrations are undone while the
// files still exist. Files that other programs still share are left alone.
#include <windows.h>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "SafePaths.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
#include "qzFileUtils.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzUtils.h"
#include "qzWinUtils.h"

namespace {

const char FontsKey9x[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts\\";
const char FontsKeyNT[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\";

// Each top-level window gets this long to handle the font change; a window that has
// stopped responding is skipped, so that one hung program cannot stall the uninstall.
constexpr UINT FontChangeTimeoutMs = 5000;

bool IsKeptSharedFile(const std::string& path) { return KeptLongNames().count(LongNameKey(path)) != 0; }

// The file is deleted only where a path can be judged safe, as every file the log names: a
// relative path would be resolved against the current folder and could climb out of it.
void RemoveFont(const std::string& fontsKey, const std::string& name, const std::string& file) {
    ReportStatus(FormatStringsEntry(17, name));
    if (!DryRun) RemoveFontResourceA(file.c_str());
    if (IsProtectedPath(file))
        Record(Outcome::Refused, "font file", file);
    else if (FileExists(file))
        RemoveFileOrDefer("font file", file);
    RemoveRegistryValue("font", fontsKey, name);
    if (DryRun) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG,
                        FontChangeTimeoutMs, &ignored);
}

// A server named without a folder would be loaded through the system's search order, which
// may find the system's own copy: such a name stands for the file in the application's
// folder, and for nothing ("") when it is not there.
std::string ServerFile(const std::string& name) {
    if (name.find_first_of("\\/:") != std::string::npos) return name;
    std::string local = AppFolder + name;
    return FileExists(local) ? local : "";
}

}  // namespace

void UnregisterServers() {
    LoadSectionLines("RegServers");
    for (const auto& line : SectionLines->Entries()) {
        const std::string name = EntryKey(line.text), path = ServerFile(name);
        if (path.empty()) {
            Record(Outcome::Missing, "server", name);
        } else if (IsKeptSharedFile(path)) {
            Record(Outcome::Kept, "server", path, "shared with other programs");
        } else {
            ReportStatus(FormatStringsEntry(16, path));
            if (DryRun || UnregisterComFile(path))
                Record(Outcome::Removed, "server registration", path);
            else
                Record(Outcome::Failed, "server registration", path, "no registration undone");
        }
        ReportStep();
    }
}

void RemoveFonts() {
    LoadSectionLines("RegFonts");
    if (SectionLines->Empty()) return;
    const std::string fontsKey = IsNTPlatform() ? FontsKeyNT : FontsKey9x;
    for (const auto& line : SectionLines->Entries()) {
        std::string file = ValuePart(line.text);
        if (IsKeptSharedFile(file))
            Record(Outcome::Kept, "font", file, "shared with other programs");
        else
            RemoveFont(fontsKey, NamePart(line.text), file);
        ReportStep();
    }
}
