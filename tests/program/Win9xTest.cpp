// The program on the Windows 9x road, as Wine simulates it for uninstall.exe, and its
// removal script, which waits for the process however long the closing page stays open.
#include <optional>

#include "ProgramRun.h"

namespace {

using namespace test;

const char AppDefaults[] = "Software\\Wine\\AppDefaults\\uninstall.exe";

// The boot-time rename list, or with ".bak" the name under which a restart keeps it.
std::string Wininit(const char* extension = ".ini") {
    char folder[MAX_PATH] = "";
    GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\wininit" + extension;
}

std::string ShortName(const std::string& path) {
    char name[MAX_PATH] = "";
    return std::string(name, GetShortPathNameA(path.c_str(), name, sizeof name));
}

// The name of the first file that matches the mask, "" when there is none.
std::string FirstFile(const std::string& mask) {
    WIN32_FIND_DATAA found;
    qz::UniqueFind search(FindFirstFileA(mask.c_str(), &found));
    return search.Get() == INVALID_HANDLE_VALUE ? "" : found.cFileName;
}

// Wine reports the Windows 9x family to every uninstall.exe started while the test runs;
// at its end, whatever happened, the setting goes, and so does the line that the program
// added to wininit.ini (line_), from the list or from the copy that a restart kept of it.
class Win9xAlone : public ProgramRun {
protected:
    Win9xAlone() { Set(std::string("HKCU\\") + AppDefaults, "Version", "win98"); }
    ~Win9xAlone() override {
        qz::UniqueKey key;
        if (!RegOpenKeyExA(HKEY_CURRENT_USER, AppDefaults, 0, KEY_SET_VALUE, key.Put())) RegDeleteValueA(key.Get(), "Version");
        for (const char* extension : {".ini", ".bak"}) {
            std::string list = ReadFileBytes(Wininit(extension));
            const size_t at = list.find(line_ + "\r\n");
            if (!line_.empty() && at != std::string::npos) WriteFileBytes(Wininit(extension), list.erase(at, line_.size() + 2));
        }
    }
    std::string line_;
};

// A file in use is left to wininit.ini under its short name, not to the NT list of pending
// renames; restarting now (no shutdown privilege on this road) ends the program normally and
// the restart that Wine simulates carries out the entry; the script removes the program and
// its folder as on the NT road.
TEST_F(Win9xAlone, FileInUseGoesToWininitAndRestartingNowEndsNormally) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n{root}\\busy.dll=1\n[CreateDirs]\n{app}=1\n");
    std::optional<HeldFile> held(std::in_place, X("{root}\\busy.dll"));
    Start();
    Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
    if (HWND page = Page("DLG_REBOOT")) {
        const std::string list = ReadFileBytes(Wininit()), entry = "NUL=" + ShortName(X("{root}\\busy.dll"));
        if (list.find("\r\n" + entry + "\r\n") != std::string::npos) line_ = entry;
        EXPECT_EQ(line_, entry) << list;
        EXPECT_LT(list.find("[Rename]\r\n"), list.find(entry)) << list;
        EXPECT_EQ(Value("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations")
                      .find(X("{root}\\busy.dll")), std::string::npos);
        held.reset();  // the other program has ended by the time the user answers
        Click(page, IDC_RB_NOW), Click(page, IDC_NEXT);
    }
    EXPECT_EQ(Exit(), 0);
    ExpectGone();
    EXPECT_TRUE(WaitUntil([this] { return !Exists("{root}\\busy.dll"); })) << "the restart left the file";
}

// While the closing page is open the program, its marker and its script stay, the script
// waiting (it starts with "@echo off"); once the page is closed the program and folder go.
TEST_F(Win9xAlone, RemovalScriptWaitsWhileTheClosingPageStaysOpen) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
    Start();
    Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
    HWND page = Page("DLG_UNINSTALLSUCCEEDED");
    EXPECT_FALSE(WaitUntil([this] { return !PathExists(exe_) || FirstFile(X("{root}\\*.run")).empty() || !ScriptThere(); }, 3000))
        << "the program, the marker or the script went within 3000 ms of polling";
    EXPECT_EQ(ReadFileBytes(X("{root}\\") + FirstFile(X("{root}\\*.bat"))).substr(0, 11), "@echo off\r\n");
    Click(page, IDC_NEXT);
    EXPECT_EQ(Exit(), 0);
    ExpectGone();
}

}  // namespace
