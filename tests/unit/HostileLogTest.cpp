// A hostile log: every removal section names drive roots, the system's and the user's
// folders, masks over them, relative and ".." paths that climb out of the application folder,
// device forms and links out of a data folder, and the AppID names other applications' keys.
// A sentinel file (or key) lies in each of those real places; every one must survive, while
// the installation's own entries in the same log are removed. The guard is checked by direct
// calls, each removal action in-process, and the built program through its wizard.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "SafePaths.h"
#include "SecondThread.h"
#include "StagedProgram.h"
#include "qzFileUtils.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

using test::Replace;

std::string Pid() { return std::to_string(GetCurrentProcessId()); }

std::string SystemFolder() {
    char buffer[MAX_PATH] = "";
    GetSystemDirectoryA(buffer, sizeof buffer);
    return buffer;
}

std::string TempVariable() {
    char buffer[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", buffer, sizeof buffer);
    return ExcludeTrailingBackslash(buffer);
}

// The real places nothing may reach, without a trailing backslash ("C:" for the drive root).
// Under Wine some shell folders (Desktop, Documents, Templates) are Unix links to the home
// folder outside the prefix: those are left out, so that no test writes or risks anything
// there.
std::vector<std::string> AllProtectedPlaces() {
    std::vector<std::string> places = {"C:", GetWindowsDir(), SystemFolder(), TempVariable()};
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE,
                      CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU,
                      CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTUP, CSIDL_FONTS,
                      CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PERSONAL,
                      CSIDL_TEMPLATES, CSIDL_SENDTO})
        places.push_back(ExcludeTrailingBackslash(test::ShellFolder(csidl)));
    // The folder of the profiles ("C:\users").
    places.push_back(ExcludeTrailingBackslash(ExtractFilePath(test::ShellFolder(CSIDL_PROFILE))));
    return places;
}

// Whether the folder, or any folder above it, is a link (reported without a trailing
// backslash only: with one the attributes are those of the link's target).
bool UnderALink(const std::string& folder) {
    for (size_t end = folder.find('\\', 3); ; end = folder.find('\\', end + 1)) {
        const std::string part = folder.substr(0, end);
        DWORD attributes = GetFileAttributesA(part.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
        if (end == std::string::npos) return false;
    }
}

std::vector<std::string> ProtectedPlaces() {
    std::vector<std::string> places;
    for (const std::string& place : AllProtectedPlaces())
        if (place.size() <= 2 || !UnderALink(place)) places.push_back(place);
    return places;
}

std::string LastName(const std::string& folder) { return folder.substr(folder.rfind('\\') + 1); }

// Sentinel files, written at once and deleted at the end however the test ends.
class Sentinels {
public:
    Sentinels() = default;
    Sentinels(const Sentinels&) = delete;
    Sentinels& operator=(const Sentinels&) = delete;
    ~Sentinels() {
        for (const std::string& path : paths_) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    void Add(const std::string& path) {
        test::WriteFileBytes(path, "sentinel");
        paths_.push_back(path);
    }
    // Every sentinel that is gone, named in a failure with the stage that removed it.
    void ExpectAllSurvive(const std::string& stage) const {
        for (const std::string& path : paths_)
            EXPECT_TRUE(test::PathExists(path)) << path << " removed by " << stage;
    }

private:
    std::vector<std::string> paths_;
};

// The hostile log with the installation's own entries, in sections written with line feeds,
// and the sentinels in the protected places it names. Paths outside the application folder
// but inside the staging folder ({root}\Outside, {root}\EmptyOutside) are reached only
// through ".." paths, relative ones (the current folder being {app}), device forms and
// "{rootrel}" (the staging folder without its drive), which StageOutside fills in.
struct HostileLog {
    std::string text;
    std::vector<std::string> shared;  // the SharedFiles paths, with placeholders
};

const std::string& Stem() {
    static const std::string stem = "qz-sentinel-" + Pid() + "-";
    return stem;
}

HostileLog MakeHostileLog(Sentinels& sentinels) {
    std::string copy, data, shortcuts, folders, dirs, fonts, shared;
    auto files = [&](const std::string& mask) { copy += mask + "=1\n"; data += mask + "=1\n"; };
    int fontCount = 0;
    auto font = [&](const std::string& file) {
        fonts += "Qz Hostile " + std::to_string(++fontCount) + "=" + file + "\n";
    };
    HostileLog log;
    for (const std::string& place : ProtectedPlaces()) {
        const std::string n = std::to_string(shortcuts.size());  // unique per place
        sentinels.Add(place + "\\" + Stem() + n + ".lnk");
        if (place.size() > 2) sentinels.Add(place + ".lnk");  // what the shortcut "place" names
        const std::string shortPlace = place.size() > 2 ? GetShortName(place) : place;
        for (const std::string& mask : {place + "\\*.*", place + "\\*", place + "\\*.lnk",
                                        place + "\\" + Stem() + "*.lnk", shortPlace + "\\*.*",
                                        "\\\\?\\" + place + "\\*.*"})
            files(mask);
        log.shared.push_back(place + "\\*.*");
        for (const std::string& path : {place, place + "\\*", place + "\\" + Stem() + "*"})
            shortcuts += path + "=1\n";
        for (const std::string& folder : {place, place + "\\", shortPlace, place + ".",
                                          place + "\\..\\" + LastName(place),
                                          place + "::$INDEX_ALLOCATION", "\\\\?\\" + place})
            folders += folder + "=1\n";
        dirs += place + "=1\n";
        font(place + "\\*.lnk");
        font(place + "\\" + Stem() + n + "*");
    }
    // A wildcard in a folder part, share roots, the current drive's root and the forms that
    // leave the application folder.
    files("C:\\*\\" + Stem() + "*.lnk");
    for (const char* root : {"\\\\server\\share", "\\\\server\\share\\", "\\", "\\\\?\\C:\\"}) {
        files(std::string(root) + "*.*");
        folders += std::string(root) + "=1\n";
        dirs += std::string(root) + "=1\n";
    }
    const std::string outside = Stem() + "out";
    for (const char* at : {"{app}\\..\\Outside", "..\\Outside", "C:..\\Outside",
                           "\\\\?\\{root}\\Outside", "{rootrel}\\Outside", "{app}\\.\\..\\Outside"}) {
        const std::string folder = at;
        files(folder + "\\*.*");
        files(folder + "\\" + outside + ".lnk");
        log.shared.push_back(folder + "\\*.*");
        shortcuts += folder + "\\" + outside + "=1\n";
        folders += folder + "=1\n";
        font(folder + "\\" + outside + ".ttf");
    }
    for (const char* empty : {"{app}\\..\\EmptyOutside", "..\\EmptyOutside", "C:..\\EmptyOutside"})
        dirs += std::string(empty) + "=1\n";

    // The installation's own entries.
    log.shared.push_back("{app}\\shared.dll");
    for (const std::string& path : log.shared) shared += path + "=1\n";
    copy += "{app}\\app.exe=1\n{app}\\bin\\*.dll=1\n{app}\\shared.dll=1\n";
    data += "{app}\\user.dat=1\n";
    shortcuts += "{root}\\Menu\\App=1\n";
    folders += "{app}\\Data=1\n";
    dirs += "{app}\\Empty=1\n{root}\\Menu=1\n";
    fonts += "Qz Hostile Own={app}\\own.ttf\n";

    // Every shared entry is copied too, so that the prompt lets it go.
    log.text = "[SharedFiles]\n" + shared + "[Shortcuts]\n" + shortcuts + "[RegFonts]\n" + fonts +
               "[DataFiles]\n" + data + "[CopyFiles]\n" + shared + copy + "[DataFolders]\n" +
               folders + "[CreateDirs]\n" + dirs;
    return log;
}

// Beside the staged installation: the sentinels outside its application folder, what it has
// of its own beyond what the log stages, and the links out of its data folder (one to a
// folder outside it, one to a protected folder); the log gets its "{rootrel}" paths. False
// when Unix links cannot be made here.
bool StageOutside(test::Installation& inst, Sentinels& sentinels) {
    inst.Folder("{root}\\Outside");
    inst.Folder("{root}\\Linked");
    const std::string outside = inst.Root() + "\\Outside\\" + Stem() + "out";
    sentinels.Add(outside + ".lnk");
    sentinels.Add(outside + ".ttf");
    sentinels.Add(inst.Root() + "\\Linked\\" + Stem() + "linked.txt");
    inst.File("{app}\\bin\\a.dll");
    inst.File("{app}\\own.ttf");
    inst.Folder("{root}\\EmptyOutside");
    test::WriteFileBytes(inst.Log(), Replace(test::ReadFileBytes(inst.Log()), "{rootrel}",
                                             inst.Root().substr(2)));
    const std::string appData = ExcludeTrailingBackslash(test::ShellFolder(CSIDL_APPDATA));
    return inst.Link("{app}\\Data\\outside", "{root}\\Linked") && !UnderALink(appData) &&
           inst.Link("{app}\\Data\\appdata", appData);
}

void ExpectOwnEntriesRemoved(const test::Installation& inst) {
    for (const char* gone : {"{app}\\app.exe", "{app}\\bin\\a.dll", "{app}\\shared.dll",
                             "{app}\\user.dat", "{root}\\Menu\\App.lnk", "{root}\\Menu\\App.pif",
                             "{app}\\Data\\data.txt", "{app}\\Data\\sub\\deeper\\deep.txt",
                             "{app}\\own.ttf"})
        EXPECT_FALSE(inst.FileExists(gone)) << gone;
    EXPECT_FALSE(inst.FolderExists("{app}\\Empty"));
    EXPECT_FALSE(inst.FolderExists("{root}\\Menu"));
}

void ExpectPlacesRemain(const test::Installation& inst) {
    for (const std::string& place : ProtectedPlaces())
        EXPECT_TRUE(inst.FolderExists(place + "\\")) << place;
    EXPECT_TRUE(inst.FolderExists("{root}\\EmptyOutside"));
}

// Counters at their end under SharedDLLs for the log's shared files (as the program expands
// them), so that the prompt is asked; removed again at the end.
class SharedCounters {
public:
    SharedCounters(const test::Installation& inst, const std::vector<std::string>& paths) {
        const std::string relative = inst.Root().substr(2);
        for (const std::string& path : paths)
            names_.push_back(Replace(inst.Expand(path), "{rootrel}", relative));
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, test::SharedDlls + 5, 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key_.Put(), nullptr) != ERROR_SUCCESS)
            return;
        const DWORD one = 1;
        for (const std::string& name : names_)
            RegSetValueExA(key_.Get(), name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    ~SharedCounters() {
        for (const std::string& name : names_) RegDeleteValueA(key_.Get(), name.c_str());
    }

private:
    qz::UniqueKey key_;
    std::vector<std::string> names_;
};

// Answers the shared-file prompt of the thread with "delete all".
void DeleteAllOnPrompt(DWORD threadId) {
    if (HWND prompt = test::ThreadDialog(threadId))
        PostMessageA(GetDlgItem(prompt, IDC_DS_DELETE_ALL), BM_CLICK, 0, 0);
}

// ---------------------------------------------------------------------------------------
// The guard itself.

TEST(HostileLog, GuardRefusesEveryPlaceInEverySpellingAndEveryUnclearForm) {
    std::vector<std::string> refused = {
        "", "C:\\", "c:/", "C:\\\\", "\\\\server\\share", "\\\\server\\share\\", "\\\\server",
        "\\\\?\\C:\\", "\\\\?\\C:\\qztests\\App", "\\\\.\\C:\\", "\\\\?\\UNC\\server\\share\\App",
        "App", "..\\App", "\\qztests\\App", "C:qztests\\App", "C:..\\App",
        "C:\\qztests\\App\\..\\..\\", "C:\\qztests\\App\\.\\x.dll", "C:\\qztests\\App\\ ..\\x",
        "C:\\qztests\\App\\x.dll::$DATA", "C:\\qztests\\App:stream"};
    for (const std::string& place : AllProtectedPlaces()) {
        std::string slashes = Replace(place, "\\", "/");
        for (const std::string& spelling :
             {place + "\\", slashes + "/", UpperCase(place), place + ".", place + " ",
              "\\\\?\\" + place, place + "\\..\\" + LastName(place),
              place + "::$INDEX_ALLOCATION", place + ":$I30:$INDEX_ALLOCATION"})
            refused.push_back(spelling);
        if (place.size() > 2) refused.push_back(place), refused.push_back(GetShortName(place));
    }
    for (const std::string& path : refused) EXPECT_TRUE(IsProtectedPath(path)) << path;

    // Below the places an installation may well own its files and folders.
    for (const std::string& path :
         {std::string("C:\\qztests\\App"), std::string("C:\\qztests\\App\\x.dll"),
          GetWindowsDir() + "\\qz-own.dll", SystemFolder() + "\\qz-own.dll",
          test::ShellFolder(CSIDL_FONTS) + "\\qz-own.ttf",
          test::ShellFolder(CSIDL_PROGRAM_FILES) + "\\Vendor\\App",
          test::ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Vendor",
          test::ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\App.lnk",
          test::ShellFolder(CSIDL_APPDATA) + "\\Vendor", std::string("\\\\server\\share\\App")})
        EXPECT_FALSE(IsProtectedPath(path)) << path;
}

// ---------------------------------------------------------------------------------------
// Each removal action in-process, in the worker's order, the sentinels checked after each.

TEST(HostileLog, EveryRemovalActionLeavesEverySentinelAndRemovesTheInstallationsOwnEntries) {
    Sentinels sentinels;
    const HostileLog log = MakeHostileLog(sentinels);
    test::Installation inst(std::string(test::StatusStrings) + Replace(log.text, "\n", "\r\n"),
                            "hostile");
    const bool links = StageOutside(inst, sentinels);
    SharedCounters counters(inst, log.shared);
    test::CurrentFolder current(inst.App());  // for the relative paths
    test::ProgressRecorder progress;
    MainWindow = CurrentPage;  // the owner of the shared-file prompt

    struct Stage {
        const char* name;
        void (*action)();
    };
    const Stage stages[] = {
        {"SharedFiles", [] { ASSERT_TRUE(test::RunOnSecondThread(ReleaseSharedFiles, DeleteAllOnPrompt)); }},
        {"Shortcuts", RemoveShortcuts},
        {"RegFonts", RemoveFonts},
        {"DataFiles and CopyFiles", RemoveFiles},
        {"DataFolders and CreateDirs", RemoveFolders},
    };
    for (const Stage& stage : stages) {
        stage.action();
        sentinels.ExpectAllSurvive(stage.name);
        ExpectPlacesRemain(inst);
    }
    MainWindow = nullptr;
    ExpectOwnEntriesRemoved(inst);
    // Everything else was checked; only the links out of the data folder were missing.
    if (!links) GTEST_SKIP() << "no symbolic links here";
}

// A junction (a mount point made with FSCTL_SET_REPARSE_POINT) inside a data folder pointing
// at a folder outside it: removed at most as a link, never entered.
DWORD MakeJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryA(link.c_str(), nullptr)) return GetLastError();
    qz::UniqueHandle folder(CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    if (!folder) return GetLastError();
    // The mount-point form of the reparse data: tag, sizes, then the NT path and the printed
    // path, each ending in a NUL, as UTF-16.
    std::wstring substitute = L"\\??\\" + std::wstring(target.begin(), target.end());
    std::wstring printed(target.begin(), target.end());
    const size_t substituteBytes = substitute.size() * 2, printedBytes = printed.size() * 2;
    std::vector<char> data(16 + substituteBytes + 2 + printedBytes + 2, 0);
    auto put16 = [&](size_t at, size_t value) {
        const WORD word = static_cast<WORD>(value);
        memcpy(&data[at], &word, sizeof word);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(&data[0], &tag, sizeof tag);
    put16(4, data.size() - 8);
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, substituteBytes + 2);
    put16(14, printedBytes);
    memcpy(&data[16], substitute.c_str(), substituteBytes);
    memcpy(&data[16 + substituteBytes + 2], printed.c_str(), printedBytes);
    DWORD returned = 0;
    if (!DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, data.data(),
                         static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr))
        return GetLastError();
    return ERROR_SUCCESS;
}

TEST(HostileLog, JunctionInADataFolderIsNotFollowed) {
    test::Installation inst("[DataFolders]\r\n{app}\\Data=1\r\n");
    const std::string precious = inst.File("{root}\\Target\\precious.txt");
    const std::string junction = inst.Expand("{app}\\Data\\junction");
    const DWORD error = MakeJunction(junction, inst.Expand("{root}\\Target"));
    auto unlink = qz::OnScopeExit([&] { RemoveDirectoryA(junction.c_str()); });
    if (error != ERROR_SUCCESS)
        GTEST_SKIP() << "no junctions here (FSCTL_SET_REPARSE_POINT: error " << error << ")";
    test::ProgressRecorder progress;

    RemoveFolders();

    EXPECT_TRUE(test::PathExists(precious));
    EXPECT_FALSE(inst.FileExists("{app}\\Data\\data.txt"));
}

// ---------------------------------------------------------------------------------------
// The built program through its wizard.

// Keys of other applications under the Uninstall key: Uninstall\QzSentinel-<pid> with a
// subkey App; deleted at the end.
class SentinelKeys {
public:
    SentinelKeys() : name_("QzSentinel-" + Pid()) {
        for (const std::string& subkey : {Subkey(), Subkey() + "\\App"}) {
            qz::UniqueKey key;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.Put(), nullptr);
            RegSetValueExA(key.Get(), "DisplayName", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("sentinel"), 9);
        }
    }
    ~SentinelKeys() { test::DeleteKeyTree(HKEY_LOCAL_MACHINE, Subkey()); }
    SentinelKeys(const SentinelKeys&) = delete;
    SentinelKeys& operator=(const SentinelKeys&) = delete;
    const std::string& Name() const { return name_; }
    void ExpectSurvive(const test::Installation& inst, const std::string& appId) const {
        const std::string key = std::string(test::UninstallRoot) + name_;
        EXPECT_TRUE(inst.Value(key, "DisplayName").exists) << "AppID " << appId;
        EXPECT_TRUE(inst.Value(key + "\\App", "DisplayName").exists) << "AppID " << appId;
    }

private:
    std::string Subkey() const { return std::string(test::UninstallRoot + 5) + name_; }
    std::string name_;
};

class HostileProgram : public test::StagedProgram {
protected:
    // Next through the wizard with the data files removed; "delete all" on the shared-file
    // prompt when one is expected. Returns once the removal script has ended.
    void RunToTheEnd(bool sharedPrompt) {
        Start();
        NextOn({"DLG_START"});
        if (HWND page = Page("DLG_BEFOREUNINSTALL")) {
            if (!test::ItemChecked(page, IDC_BU_DATAFILES)) test::PressButton(page, IDC_BU_DATAFILES);
            test::PressButton(page, IDC_NEXT);
        }
        if (sharedPrompt)
            if (HWND prompt = Page("DLG_DELSHARED")) test::PressButton(prompt, IDC_DS_DELETE_ALL);
        NextOn({"DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(run_->WaitForExit(), 0);
        EXPECT_TRUE(test::WaitUntil([&] { return test::ScriptsIn(inst_->Root()) == 0; },
                                    test::RemovalTimeoutMs));
    }
};

TEST_F(HostileProgram, HostileLogRemovesOnlyTheInstallationsOwnEntries) {
    Sentinels sentinels;
    const HostileLog log = MakeHostileLog(sentinels);
    SentinelKeys keys;
    appId_ = "..\\..\\";
    Install(log.text);
    StageOutside(*inst_, sentinels);
    SharedCounters counters(*inst_, log.shared);

    RunToTheEnd(true);

    EXPECT_EQ(run_->Captions().count("DLG_REBOOT"), 0u);
    sentinels.ExpectAllSurvive("the program");
    ExpectPlacesRemain(*inst_);
    ExpectOwnEntriesRemoved(*inst_);
    EXPECT_FALSE(inst_->FileExists(inst_->Log()));
    keys.ExpectSurvive(*inst_, appId_);
    EXPECT_TRUE(inst_->KeyExists(key_)) << "the key of the staged installation's other name";
}

TEST_F(HostileProgram, AppIdThatIsEmptyBlankOrAPathDeletesNoOtherUninstallKey) {
    SentinelKeys keys;
    const std::string ids[] = {"", "\"   \"", "\\", "..\\..\\", keys.Name() + "\\App",
                               keys.Name() + "\\", "\\" + keys.Name(), "..", "."};
    for (const std::string& id : ids) {
        SCOPED_TRACE("AppID " + id);
        appId_ = id;
        Install("[CopyFiles]\n{app}\\App.exe=1\n");
        RunToTheEnd(false);
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_FALSE(inst_->FileExists(inst_->Log()));
        keys.ExpectSurvive(*inst_, id);
        EXPECT_TRUE(inst_->KeyExists(key_));
        EXPECT_TRUE(inst_->KeyExists(std::string(test::UninstallRoot)));
    }
}

}  // namespace
