#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "SafePaths.h"
#include "qzFileUtils.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

using test::ShellFolder;

std::string SystemFolder() {
    char buffer[MAX_PATH] = "";
    GetSystemDirectoryA(buffer, sizeof buffer);
    return buffer;
}

std::string TempFolder() {
    char buffer[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", buffer, sizeof buffer);
    return buffer;
}

std::string Unique(const std::string& stem) {
    return stem + "-" + std::to_string(GetCurrentProcessId());
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace

TEST(FileRemoval, EntryKeyIsTheTextBeforeTheLastEquals) {
    EXPECT_EQ(EntryKey("C:\\a=b.txt=1"), "C:\\a=b.txt");
    EXPECT_EQ(EntryKey("C:\\App\\x.dll="), "C:\\App\\x.dll");
    EXPECT_EQ(EntryKey("no equals sign"), "");
}

TEST(FileRemoval, RemovesEveryLoggedFileItemByItem) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[DataFiles]\r\n"
                            "{app}\\data\\user.dat=1\r\n"
                            "{app}\\data\\*.tmp=1\r\n"
                            "[CopyFiles]\r\n"
                            "{app}\\app.exe=1\r\n"
                            "{app}\\help\\Manual.HLP=1\r\n"
                            "{app}\\bin\\a=b.txt=1\r\n"
                            "{app}\\missing.dll=1\r\n"
                            "{app}\\shared.dll=1\r\n"
                            "{app}\\ro.dll=1\r\n"
                            "{app}\\hidden.dat=1\r\n"
                            "{app}\\kept.dll" + std::string(1, '\0') + ".old=1\r\n");
    DeleteFileA(inst.Expand("{app}\\missing.dll").c_str());
    inst.File("{app}\\kept.dll");  // the system would see it for the line with a NUL
    inst.File("{app}\\ro.dll", FILE_ATTRIBUTE_READONLY);
    inst.File("{app}\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    inst.File("{app}\\data\\a.tmp");
    inst.File("{app}\\data\\b.tmp", FILE_ATTRIBUTE_READONLY);
    inst.File("{app}\\data\\keep.tmpx");
    inst.File("{app}\\data\\deeper\\c.tmp");
    inst.Folder("{app}\\data\\folder.tmp");
    KeptSharedFiles->Add(inst.Expand("{app}\\SHARED.DLL=1"));
    test::ProgressRecorder progress;

    RemoveFiles();

    for (const char* gone : {"{app}\\data\\user.dat", "{app}\\data\\a.tmp", "{app}\\data\\b.tmp",
                             "{app}\\app.exe", "{app}\\help\\Manual.HLP", "{app}\\help\\Manual.gid",
                             "{app}\\help\\Manual.fts", "{app}\\bin\\a=b.txt", "{app}\\ro.dll",
                             "{app}\\hidden.dat"})
        EXPECT_FALSE(inst.FileExists(gone)) << gone;
    // The mask reaches files of its own folder only, never a folder or a longer extension.
    EXPECT_TRUE(inst.FileExists("{app}\\data\\keep.tmpx"));
    EXPECT_TRUE(inst.FileExists("{app}\\data\\deeper\\c.tmp"));
    EXPECT_TRUE(inst.FolderExists("{app}\\data\\folder.tmp"));
    EXPECT_TRUE(inst.FileExists("{app}\\shared.dll"));  // kept by the shared-file counters
    EXPECT_TRUE(inst.FileExists("{app}\\kept.dll"));
    EXPECT_FALSE(RestartNeeded);

    EXPECT_EQ(progress.Steps(), 9);  // one per line, kept and missing ones too, none for a NUL
    const std::vector<std::string>& texts = progress.Texts();
    EXPECT_EQ(texts.size(), 10u) << ::testing::PrintToString(texts);  // one per deleted file
    EXPECT_EQ(texts.front(), inst.Expand("10:{app}\\data\\user.dat"));
    EXPECT_TRUE(Contains(texts, inst.Expand("10:{app}\\data\\b.tmp")));
    EXPECT_TRUE(Contains(texts, inst.Expand("10:{app}\\help\\Manual.gid")));
    EXPECT_EQ(texts.back(), inst.Expand("10:{app}\\hidden.dat"));
}

TEST(FileRemoval, DataFilesStayWhenTheUserKeepsThem) {
    test::Installation inst(
        "[DataFiles]\r\n{app}\\user.dat=1\r\n{app}\\*.sav=1\r\n[CopyFiles]\r\n{app}\\app.exe=1\r\n");
    inst.File("{app}\\game.sav");
    RemoveDataFiles = false;
    test::ProgressRecorder progress;

    RemoveFiles();

    EXPECT_TRUE(inst.FileExists("{app}\\user.dat"));
    EXPECT_TRUE(inst.FileExists("{app}\\game.sav"));
    EXPECT_FALSE(inst.FileExists("{app}\\app.exe"));
    EXPECT_EQ(progress.Steps(), 1);
    // A missing status format gives an empty status line, not a text of the program's own.
    ASSERT_EQ(progress.Texts().size(), 1u);
    EXPECT_EQ(progress.Texts()[0], "");
}

TEST(FileRemoval, FileInUseIsDeletedAtTheNextBoot) {
    test::Installation inst("[CopyFiles]\r\n{app}\\locked.dll=1\r\n{app}\\free.dll=1\r\n");
    const std::string locked = inst.Expand("{app}\\locked.dll");
    test::HeldFile held(locked, 0);
    ASSERT_TRUE(held.Held());
    test::ProgressRecorder progress;

    RemoveFiles();

    EXPECT_TRUE(inst.FileExists(locked));
    EXPECT_TRUE(inst.DeletionPending(locked));
    EXPECT_TRUE(RestartNeeded);
    EXPECT_FALSE(inst.FileExists("{app}\\free.dll"));
    EXPECT_FALSE(inst.DeletionPending("{app}\\free.dll"));
    EXPECT_EQ(progress.Steps(), 2);
}

TEST(FileRemoval, ProtectedAndUnclearPathsDeleteNothing) {
    const std::string id = Unique("qzsentinel");
    const std::string rootSentinel = "C:\\" + id + ".txt";
    const std::string windowsSentinel = GetWindowsDir() + "\\" + id + ".dll";
    const std::string systemSentinel = SystemFolder() + "\\" + id + ".dll";
    const std::string windowsFile = GetWindowsDir() + "\\" + id + "-installed.dll";
    test::Installation inst("[CopyFiles]\r\nC:\\qzsentinel-*.txt=1\r\n" + GetWindowsDir() +
                            "\\qzsentinel-*.dll=1\r\n" + SystemFolder() + "\\qzsent?nel-*.dll=1\r\n" +
                            windowsFile + "=1\r\n"
                            "{app}\\..\\Keep\\*.txt=1\r\n"
                            "{app}\\..\\Keep\\keep.txt=1\r\n"
                            "\\\\?\\{root}\\Keep\\*.txt=1\r\n"
                            "Keep\\*.txt=1\r\n"
                            "\\qztests\\*.txt=1\r\n");
    auto cleanUp = qz::OnScopeExit([&] {
        for (const std::string& path : {rootSentinel, windowsSentinel, systemSentinel, windowsFile})
            DeleteFileA(path.c_str());
    });
    for (const std::string& path : {rootSentinel, windowsSentinel, systemSentinel, windowsFile})
        test::WriteFileBytes(path, "sentinel");
    inst.File("{root}\\Keep\\keep.txt");
    test::CurrentFolder current(inst.Root());  // for the relative paths
    test::ProgressRecorder progress;

    RemoveFiles();

    EXPECT_TRUE(test::PathExists(rootSentinel));
    EXPECT_TRUE(test::PathExists(windowsSentinel));
    EXPECT_TRUE(test::PathExists(systemSentinel));
    EXPECT_TRUE(inst.FileExists("{root}\\Keep\\keep.txt"));
    // A file named in full is the installer's own, wherever it lies.
    EXPECT_FALSE(test::PathExists(windowsFile));
    EXPECT_EQ(progress.Steps(), 9);
}

TEST(FileRemovalSafePaths, RootsSystemAndUserFoldersAreProtected) {
    std::vector<std::string> folders = {
        "C:\\", "c:/", "Z:\\", "\\\\server\\share", "\\\\server\\share\\", "\\\\server",
        GetWindowsDir(), GetWindowsDir() + "\\", GetWindowsDir() + ".", SystemFolder(),
        ShellFolder(CSIDL_PROGRAM_FILES), ShellFolder(CSIDL_PROGRAM_FILES_COMMON),
        ShellFolder(CSIDL_PROFILE), ExtractFilePath(ShellFolder(CSIDL_PROFILE)),
        ExtractFilePath(ShellFolder(CSIDL_PROFILE)) + "SomeoneElse", ShellFolder(CSIDL_PERSONAL),
        ShellFolder(CSIDL_APPDATA), ShellFolder(CSIDL_STARTUP), ShellFolder(CSIDL_COMMON_APPDATA),
        GetShortName(ShellFolder(CSIDL_PROGRAM_FILES)), UpperCase(GetWindowsDir()), TempFolder()};
    for (const std::string& folder : folders) EXPECT_TRUE(IsProtectedPath(folder)) << folder;
}

TEST(FileRemovalSafePaths, RelativeAndDeviceFormsAreRefused) {
    for (const char* path : {"", "App", "App\\x.dll", "\\App\\x.dll", "C:App\\x.dll", "..\\x.dll",
                             "C:\\App\\..\\Windows", "C:\\App\\.\\x.dll", "C:\\App\\...\\x.dll",
                             "C:\\App\\. \\x.dll", "C:/App/../x.dll", "\\\\?\\C:\\App\\x.dll",
                             "\\\\.\\C:", "\\\\?\\UNC\\server\\share\\x"})
        EXPECT_TRUE(IsProtectedPath(path)) << path;
}

TEST(FileRemovalSafePaths, FoldersBelowProtectedOnesAreNot) {
    for (const std::string& path :
         {std::string("C:\\qztests\\App"), ShellFolder(CSIDL_PROGRAM_FILES) + "\\Vendor\\App",
          ShellFolder(CSIDL_APPDATA) + "\\Vendor", ShellFolder(CSIDL_PROGRAMS) + "\\Vendor",
          ShellFolder(CSIDL_PROFILE) + "\\Vendor", GetWindowsDir() + "\\Vendor.dll",
          std::string("\\\\server\\share\\App"), std::string("C:\\App\\file..txt")})
        EXPECT_FALSE(IsProtectedPath(path)) << path;
}

TEST(FileRemovalSafePaths, MasksMatchLongNamesOnly) {
    struct Case {
        const char* name;
        const char* mask;
        bool matches;
    } cases[] = {
        {"page.htm", "*.htm", true},    {"page.html", "*.htm", false},
        {"PAGE.HTM", "*.htm", true},    {"a.tmp", "?.tmp", true},
        {"ab.tmp", "?.tmp", false},     {"README", "*.*", true},
        {"a.b.c", "*.*", true},         {"setup", "setup.*", true},
        {"setup.exe", "setup.*", true}, {"setup2", "setup.*", false},
        {"noext", "*.", true},          {"has.ext", "*.", false},
        {"log1.txt", "log*.txt", true}, {"log1.txt.bak", "log*.txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.matches) << c.name << " " << c.mask;
}
