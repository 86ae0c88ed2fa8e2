// Logs that name what is not the installation's: drive and share roots, the Windows, system
// and Program Files folders, the profiles and the shell folders, masks over them, relative
// and ".." paths, links out of a data folder, and application identifiers that would name
// other applications' uninstall keys. Sentinels staged in each of those places must survive
// the whole program, while the installation's own entries in the same log are removed.
#include <windows.h>
// after windows.h
#include <shlobj.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include "StagedProgram.h"
#include "qzFileUtils.h"
#include "qzWinUtils.h"
#include "resource.h"

namespace {

using namespace test;

std::string SystemFolder() {
    char buffer[MAX_PATH] = "";
    GetSystemDirectoryA(buffer, sizeof buffer);
    return buffer;
}

std::string TempFolder() {
    char buffer[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", buffer, sizeof buffer);
    return ExcludeTrailingBackslash(buffer);
}

// The folders no log may reach into, without a trailing backslash ("C:" is the drive root).
std::vector<std::string> ProtectedFolders() {
    std::vector<std::string> folders = {"C:", GetWindowsDir(), SystemFolder(), TempFolder(),
                                        ExcludeTrailingBackslash(ExtractFilePath(ShellFolder(CSIDL_PROFILE)))};
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE, CSIDL_DESKTOPDIRECTORY,
                      CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTUP, CSIDL_APPDATA,
                      CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PERSONAL, CSIDL_FONTS, CSIDL_SENDTO})
        folders.push_back(ExcludeTrailingBackslash(ShellFolder(csidl)));
    return folders;
}

// Sentinel files, each holding "keep", removed again at the end.
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
        WriteFileBytes(path, "keep");
        paths_.push_back(path);
    }
    void ExpectAllKept() const {
        for (const std::string& path : paths_) EXPECT_EQ(ReadFileBytes(path), "keep") << path;
    }
    size_t Count() const { return paths_.size(); }

private:
    std::vector<std::string> paths_;
};

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

// Makes an NTFS junction (mount point) at link pointing to target; false where the file
// system cannot hold one.
bool MakeJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    qz::UniqueHandle folder(CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!UsableHandle(folder.Get())) return false;
    const std::wstring substitute = Wide("\\??\\" + target);
    struct {
        DWORD tag;
        WORD dataLength, reserved;
        WORD substituteOffset, substituteLength, printOffset, printLength;
        WCHAR names[MAX_PATH + 8];
    } buffer{};
    const WORD bytes = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = bytes;
    buffer.printOffset = static_cast<WORD>(bytes + sizeof(WCHAR));
    substitute.copy(buffer.names, substitute.size());
    buffer.dataLength = static_cast<WORD>(8 + bytes + 2 * sizeof(WCHAR));
    DWORD returned = 0;
    return DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, &buffer, 8 + buffer.dataLength, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

class Hostile : public StagedProgram {
protected:
    void UninstallToTheEnd() {
        Start();
        NextOn({"DLG_START", "DLG_BEFOREUNINSTALL", "DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(run_->WaitForExit(), 0);
    }
};

// Every removal section names every protected folder, as a folder, with masks and through
// device and share forms; relative and ".." paths climb out of the application folder (the
// program's current folder); a data folder holds a link and a junction to folders outside.
TEST_F(Hostile, NothingOutsideTheInstallationIsDeletedWhateverTheLogNames) {
    const std::string tag = "qz-hostile-" + std::to_string(GetCurrentProcessId());
    Sentinels sentinels;
    std::string files, dataFiles, folders, createDirs;
    for (const std::string& folder : ProtectedFolders()) {
        sentinels.Add(folder + "\\" + tag + ".txt");
        sentinels.Add(folder + "\\" + tag + ".dll");
        files += folder + "\\*.*=1\n" + folder + "\\*.dll=1\n" + folder + "\\" + tag + "*.txt=1\n" + folder +
                 "\\*=1\n\\\\?\\" + folder + "\\*.*=1\n" + folder + "\\..\\*.*=1\n";
        dataFiles += folder + "\\*.txt=1\n";
        folders += folder + "=1\n" + folder + "\\=1\n" + folder + "\\.=1\n" + folder + "\\Sub\\..=1\n";
        createDirs += folder + "=1\n";
    }
    files += "\\\\server\\share\\*.*=1\n\\\\.\\C:\\" + tag + ".txt=1\n..\\" + tag + ".txt=1\n{app}\\..\\" + tag +
             ".txt=1\n..\\*.*=1\n*.*=1\n";
    folders += "\\\\server\\share=1\n\\\\server\\share\\=1\n\\\\?\\C:\\=1\n..=1\n{app}\\..=1\nC:=1\n\\=1\n";
    Install("[CopyFiles]\n{app}\\App.exe=1\n" + files + "[DataFiles]\n" + dataFiles +
            "[Shortcuts]\n..\\" + tag + "=1\n{app}\\..\\" + tag + "=1\n"
            "[RegFonts]\nQz Hostile (TrueType)=..\\" + tag + ".ttf\n"
            "[DataFolders]\n{app}\\Saved=1\n" + folders + "[CreateDirs]\n" + createDirs + "{app}=1\n");
    for (const char* extension : {".txt", ".lnk", ".pif", ".ttf"}) sentinels.Add(inst_->Root() + "\\" + tag + extension);
    sentinels.Add(inst_->File("{root}\\Linked\\" + tag + ".txt", 0, "keep"));
    sentinels.Add(inst_->File("{root}\\Joined\\" + tag + ".txt", 0, "keep"));
    const bool linked = inst_->Link("{app}\\Saved\\link", "{root}\\Linked");
    const bool joined = MakeJunction(inst_->Expand("{app}\\Saved\\junction"), inst_->Expand("{root}\\Joined"));
    RecordProperty("link", static_cast<int>(linked));
    RecordProperty("junction", static_cast<int>(joined));
    RecordProperty("sentinels", static_cast<int>(sentinels.Count()));

    UninstallToTheEnd();

    sentinels.ExpectAllKept();
    for (const std::string& folder : ProtectedFolders()) EXPECT_TRUE(FolderExists(folder + "\\")) << folder;
    EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
    EXPECT_FALSE(inst_->FileExists("{app}\\Saved\\data.txt"));
    EXPECT_FALSE(inst_->FileExists("{app}\\Saved\\sub\\deeper\\deep.txt"));
}

// An identifier that is empty, blank or holds a backslash would name the Uninstall key
// itself or another application's key: no uninstall key is deleted then, the rest of the
// uninstall goes on.
TEST_F(Hostile, ApplicationIdentifiersThatNameOtherKeysDeleteNoUninstallKey) {
    const std::string other = "Qz Hostile Other-" + std::to_string(GetCurrentProcessId());
    auto removeOther = qz::OnScopeExit([&] { DeleteKeyTree(HKEY_LOCAL_MACHINE, (UninstallRoot + 5) + other); });
    const std::string ids[] = {"", "   ", "\\", "..\\..", "\\" + other, other + "\\Sub", other + "\\", ".."};
    for (const std::string& id : ids) {
        SCOPED_TRACE("AppID=" + id);
        appId_ = id;
        Install("[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
        inst_->SetValue(UninstallRoot + other, "DisplayName", REG_SZ, Sz("other"));
        inst_->SetValue(UninstallRoot + other + "\\Sub", "DisplayName", REG_SZ, Sz("other's part"));

        UninstallToTheEnd();

        EXPECT_TRUE(inst_->KeyExists(UninstallRoot + other + "\\Sub"));
        EXPECT_TRUE(inst_->KeyExists(key_ + "\\Details")) << "the key no identifier named";
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_TRUE(WaitUntil([&] { return ScriptsIn(inst_->Root()) == 0; }, RemovalTimeoutMs));
    }
}

}  // namespace
