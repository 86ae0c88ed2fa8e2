#include <gtest/gtest.h>
#include <shlobj.h>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "SafePaths.h"

TEST(ShortcutsFolders, RemovesShortcutsButNotTheirTargets) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[Shortcuts]\r\n"
                            "{root}\\Menu\\App\\Readme.txt=1\r\n"
                            "{root}\\Menu\\App\\Start=1\r\n"
                            "{root}\\Menu\\App\\Gone=1\r\n");
    inst.File("{root}\\Menu\\App\\Readme.txt");
    DeleteFileA(inst.Expand("{root}\\Menu\\App\\Gone.pif").c_str());
    test::ProgressRecorder progress;

    RemoveShortcuts();

    for (const char* gone : {"{root}\\Menu\\App\\Readme.lnk", "{root}\\Menu\\App\\Readme.pif",
                             "{root}\\Menu\\App\\Start.lnk", "{root}\\Menu\\App\\Start.pif",
                             "{root}\\Menu\\App\\Gone.lnk"})
        EXPECT_FALSE(inst.FileExists(gone)) << gone;
    EXPECT_TRUE(inst.FileExists("{root}\\Menu\\App\\Readme.txt"));
    EXPECT_FALSE(RestartNeeded);
    EXPECT_EQ(progress.Steps(), 3);
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{inst.Expand("14:{root}\\Menu\\App\\Readme.txt"),
                                                          inst.Expand("14:{root}\\Menu\\App\\Start"),
                                                          inst.Expand("14:{root}\\Menu\\App\\Gone")}));
}

TEST(ShortcutsFolders, RemovesDataFoldersThenTheLogThenEmptyCreatedFoldersDeepestFirst) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[DataFolders]\r\n"
                            "{root}\\Data=1\r\n"
                            "{root}\\Missing=1\r\n"
                            "[CreateDirs]\r\n"
                            "{app}=1\r\n"
                            "{root}\\User\\Empty=1\r\n"
                            "{app}\\Bin\\Sub=1\r\n"
                            "{app}\\Bin=1\r\n"
                            "{root}\\User=1\r\n");
    inst.File("{root}\\User\\mine.doc");  // made by the user: the folder and its parents stay
    test::ProgressRecorder progress;

    RemoveFolders();

    EXPECT_FALSE(inst.FolderExists("{root}\\Data"));
    EXPECT_FALSE(inst.FileExists(inst.Log()));
    EXPECT_FALSE(inst.FolderExists("{app}"));
    EXPECT_FALSE(inst.FolderExists("{root}\\User\\Empty"));
    EXPECT_TRUE(inst.FileExists("{root}\\User\\mine.doc"));
    EXPECT_FALSE(RestartNeeded);
    EXPECT_EQ(progress.Steps(), 7);
    EXPECT_EQ(progress.Texts(),
              (std::vector<std::string>{inst.Expand("15:{root}\\Data"), inst.Expand("15:{root}\\Missing"),
                                        inst.Expand("15:{root}\\User\\Empty"), inst.Expand("15:{root}\\User"),
                                        inst.Expand("15:{app}\\Bin\\Sub"), inst.Expand("15:{app}\\Bin"),
                                        inst.Expand("15:{app}")}));
}

TEST(ShortcutsFolders, DataFoldersStayWhenTheUserKeepsThemAndTheLogStaysWithoutCreatedFolders) {
    test::Installation inst("[DataFolders]\r\n{root}\\Data=1\r\n");
    RemoveDataFiles = false;
    test::ProgressRecorder progress;

    RemoveFolders();

    EXPECT_TRUE(inst.FileExists("{root}\\Data\\sub\\deeper\\deep.txt"));
    EXPECT_TRUE(inst.FileExists(inst.Log()));
    EXPECT_EQ(progress.Steps(), 0);
}

TEST(ShortcutsFolders, LockedFileKeepsItsFoldersAndIsNotDeferred) {
    test::Installation inst("[DataFolders]\r\n{root}\\Data=1\r\n");
    const std::string locked = inst.File("{root}\\Data\\sub\\locked.dat");
    test::HeldFile held(locked, 0);
    ASSERT_TRUE(held.Held());
    test::ProgressRecorder progress;

    RemoveFolders();

    EXPECT_TRUE(inst.FileExists(locked));
    EXPECT_FALSE(inst.FileExists("{root}\\Data\\data.txt"));
    EXPECT_FALSE(inst.FileExists("{root}\\Data\\readonly.txt"));
    EXPECT_FALSE(inst.FolderExists("{root}\\Data\\sub\\deeper"));
    EXPECT_FALSE(RestartNeeded);
    EXPECT_FALSE(inst.DeletionPending(locked));
}

TEST(ShortcutsFolders, LinksInDataFoldersAreNeverFollowed) {
    test::Installation inst("[DataFolders]\r\n{root}\\Data=1\r\n{root}\\LinkData=1\r\n");
    inst.File("{root}\\Target\\precious.txt");
    inst.File("{root}\\Target2\\precious.txt");
    test::RemoveTree(inst.Expand("{root}\\LinkData"));  // staged as a folder: a link instead
    if (!inst.Link("{root}\\Data\\link", "{root}\\Target") ||
        !inst.Link("{root}\\LinkData", "{root}\\Target2"))
        GTEST_SKIP() << "no symbolic links here";
    ASSERT_TRUE(GetFileAttributesA(inst.Expand("{root}\\LinkData").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    test::ProgressRecorder progress;

    RemoveFolders();

    // Wine cannot remove a Unix link to a folder that is not empty, so only the targets and
    // the rest of the tree are checked here.
    EXPECT_TRUE(inst.FileExists("{root}\\Target\\precious.txt"));
    EXPECT_TRUE(inst.FileExists("{root}\\Target2\\precious.txt"));
    EXPECT_FALSE(inst.FileExists("{root}\\Data\\sub\\deeper\\deep.txt"));
    EXPECT_FALSE(inst.FileExists("{root}\\Data\\data.txt"));
    EXPECT_EQ(progress.Steps(), 2);
}

TEST(ShortcutsFolders, ProtectedAndUnclearFoldersAreNeverRemoved) {
    const std::string appData = test::ShellFolder(CSIDL_APPDATA);  // a real folder under Wine too
    const std::string startup = test::ShellFolder(CSIDL_STARTUP);
    ASSERT_TRUE(IsProtectedPath("C:\\"));  // the action below relies on it
    ASSERT_TRUE(IsProtectedPath(appData));
    test::Installation inst("[DataFolders]\r\nC:\\=1\r\n" + appData + "=1\r\n"
                            "{app}\\..\\Keep=1\r\n"
                            "Keep=1\r\n"
                            "\\\\?\\{root}\\Keep=1\r\n"
                            "[CreateDirs]\r\n" + startup + "=1\r\n"
                            "{app}\\..\\Empty=1\r\n");
    const std::string sentinel = appData + "\\qzsentinel-" + std::to_string(GetCurrentProcessId()) + ".txt";
    test::WriteFileBytes(sentinel, "sentinel");
    auto cleanUp = qz::OnScopeExit([&] { DeleteFileA(sentinel.c_str()); });
    inst.File("{root}\\Keep\\keep.txt");
    inst.Folder("{root}\\Empty");
    test::CurrentFolder current(inst.Root());  // for the relative paths
    test::ProgressRecorder progress;

    RemoveFolders();

    EXPECT_TRUE(test::PathExists(sentinel));
    EXPECT_TRUE(inst.FileExists("{root}\\Keep\\keep.txt"));
    EXPECT_TRUE(inst.FolderExists(startup));
    EXPECT_TRUE(inst.FolderExists("{root}\\Empty"));
    EXPECT_EQ(progress.Steps(), 7);
}
