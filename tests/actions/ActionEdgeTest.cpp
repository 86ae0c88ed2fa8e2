// What the removal actions must get right on real installations beyond the log's plain lines:
// reruns, other spellings of kept files, "/" separators, the log's own lifetime, deep paths.
#include <gtest/gtest.h>

#include "Removal.h"
#include "Staged.h"
#include "qzFileUtils.h"
#include "resource.h"

using namespace act;

namespace {

Items KeptNames() {
    Items names;
    for (const auto& entry : KeptSharedFiles->Entries()) names.push_back(EntryKey(entry.text));
    return names;
}

}  // namespace

// A walk that stopped after the shared files, run again on the same log, lowers no counter a
// second time and asks about no file again; a new log (a reinstall) starts afresh.
TEST(ActionShared, ARerunOnTheSameLogLowersNoCounterTwiceAndAsksNothingTwice) {
    Staged inst("[SharedFiles]\n{app}\\c.dll=3\n{app}\\a.dll=1\n[CopyFiles]\n{app}\\c.dll=1\n{app}\\a.dll=1\n");
    ApplicationId = "QzTests", UninstallKey = inst.X("{hklm}\\Uninstall");
    qz::UniqueWindow owner(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
    MainWindow = owner.Get();
    for (int run = 0; run < 3; ++run) {
        Answerer answerer({IDC_DS_DELETE});
        ReleaseSharedFiles();
        EXPECT_EQ(answerer.Texts().size(), run == 0 ? 1u : 0u) << run;
        EXPECT_EQ(inst.States({SharedDlls + "{app}\\c.dll", SharedDlls + "{app}\\a.dll"}), (Items{"4:2", Missing})) << run;
        EXPECT_EQ(KeptNames(), inst.X(Items{"{app}\\c.dll"})) << run;
    }
    inst.File("{app}\\install.log", 0, test::ReadFileBytes(inst.X("{app}\\install.log")) + "\r\n");
    ReleaseAllIniFiles();
    Answerer answerer({IDC_DS_KEEP});
    ReleaseSharedFiles();
    EXPECT_EQ(answerer.Texts().size(), 1u);  // a.dll, whose counter is gone: it counts as 1
    EXPECT_EQ(inst.State(SharedDlls + "{app}\\c.dll"), "4:1");
}

// A kept shared file stays whatever reaches it: a mask, its short name, "." and ".." segments,
// or the help companion of another entry. "/" separates folders as "\" does, so {root}\x.dll
// (what the text after the last "\" would name in the current folder) stays.
TEST(ActionFiles, KeptFilesStayWhateverNameReachesThemAndSlashesSeparateFolders) {
    Staged inst("[CopyFiles]\n{app}\\k*.dll=1\n{app}\\sub\\..\\.\\keep.dll=1\n{app}/sub/x.dll=1\n{app}\\manual.hlp=1\n"
                "{app}\\LongSharedName.dll=1\n");
    for (const char* file : {"{app}\\keep.dll", "{app}\\kill.dll", "{app}\\sub\\x.dll", "{root}\\x.dll", "{app}\\manual.gid",
                             "{app}\\manual.fts", "{app}\\LongSharedName.dll"}) inst.File(file);
    for (const std::string& kept : {inst.X("{app}\\keep.dll"), inst.X("{app}\\manual.gid"), GetShortName(inst.X("{app}\\LongSharedName.dll"))})
        KeptSharedFiles->Add(kept + "=1");

    RemoveFiles();

    EXPECT_EQ(inst.Check({"{app}\\kill.dll", "{app}\\sub\\x.dll", "{app}\\manual.hlp", "{app}\\manual.fts"},
                         {"{app}\\keep.dll", "{app}\\manual.gid", "{app}\\LongSharedName.dll", "{root}\\x.dll"}), "");
}

// While RunApp programs are still to run the log stays: a failed one leaves an uninstaller
// that can run again. After them the log goes, with the created folder that held it; its
// lines, parsed once for the loaded log and the cache, are still read after both are gone.
TEST(ActionFiles, TheLogStaysUntilTheRunAppProgramsSucceeded) {
    Staged inst("[CreateDirs]\n{app}=1\n[RunApp]\n1={bin}\\exitcode.exe,0\n");
    RemoveFolders();
    EXPECT_EQ(inst.Check({}, {"{app}\\install.log", "{app}"}), "");
    RemoveLogAndItsFolder();
    EXPECT_EQ(inst.Check({"{app}\\install.log", "{app}"}, {}), "");
    LoadedLog.reset(), LoadSectionLines("RunApp");
    EXPECT_EQ(SectionLines->Values("1"), inst.X("{bin}\\exitcode.exe,0"));
}

// A hostile path of 60,000 characters: no call per component on the stack.
TEST(ActionFiles, AHostileDeepPathEndsWithoutExhaustingTheStack) {
    test::TempFolder temp("deep");
    std::string path = temp.Path();
    for (int i = 0; i < 30000; ++i) path += "a\\";
    ForceFolders(path);
    EXPECT_TRUE(test::PathExists(temp / "a\\a\\a\\a"));
}
