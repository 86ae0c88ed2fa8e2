// The removal actions on one staged installation each, in this process.
#include <gtest/gtest.h>

#include <algorithm>

#include "Removal.h"
#include "Staged.h"
#include "qzErrors.h"
#include "resource.h"


using namespace act;

namespace {

// A status format with printf directives, and what must show for it ("*": the item).
const std::string Format = " %d %n %s%s %x 100% %% %4294967296d %", Shown = " %d %n *%s %x 100% % %4294967296d %";

Items Sorted(Items items) { return std::sort(items.begin(), items.end()), items; }
Items operator+(Items items, const Items& more) { return items.insert(items.end(), more.begin(), more.end()), items; }
Items Each(const std::string& pattern, Items parts) {  // the pattern with each part for its "*"
    for (std::string& part : parts) part = Replace(pattern, "*", part);
    return parts;
}

void RunEveryAction() {  // in the worker's order
    RunSection(true), ReleaseSharedFiles(), RemoveShortcuts(), RemoveRegistryEntries(), RemoveIniEntries();
    RemoveFonts(), UnregisterServers(), RemoveFiles(), RemoveFolders(), RunSection(false);
}

}  // namespace

// A mask reaches the files of its folder whose long name matches (the system's search also
// meets KEEP~1.TMP of keep.tmpx); a help file takes its index files; a kept shared file and
// a name holding a NUL stay; the log goes before the created folders, the deepest first,
// each only when empty. Every line takes a step, but a NUL line. Status formats show as written.
TEST(ActionFiles, FilesShortcutsAndFoldersGoAsLoggedAndNothingElse) {
    Staged inst("[Strings]\n10=10" + Format + "\n14=14" + Format + "\n15=15" + Format + "\n[DataFiles]\n{app}\\data\\user.dat=1\n{app}\\data\\*.tmp=1\n[CopyFiles]\n{app}\\app.exe=1\n{app}\\help\\Manual.HLP=1\n"
                "{app}\\a=b.txt=1\n{app}\\shared.dll=1\n{app}\\ro.dll=1\n{app}\\kept.dll" + Nul + ".old=1\n[Shortcuts]\n"
                "{root}\\Menu\\Readme=1\n[DataFolders]\n{root}\\Data=1\n[CreateDirs]\n{app}=1\n{root}\\Menu=1\n{root}\\User\\Empty=1\n"
                "{root}\\User=1\n");
    for (const char* file : {"{app}\\data\\keep.tmpx", "{app}\\data\\deeper\\c.tmp", "{app}\\data\\folder.tmp\\f", "{app}\\kept.dll",
                             "{app}\\data\\a.tmp", "{app}\\help\\Manual.fts", "{root}\\User\\mine.doc"}) inst.File(file);
    inst.File("{app}\\data\\b.tmp", FILE_ATTRIBUTE_READONLY), inst.File("{app}\\ro.dll", FILE_ATTRIBUTE_READONLY);
    inst.File("{app}\\help\\Manual.gid", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    KeptSharedFiles->Add(inst.X("{app}\\SHARED.DLL=1"));

    RemoveFiles();
    const Items gone = {"{app}\\data\\user.dat", "{app}\\data\\a.tmp", "{app}\\data\\b.tmp", "{app}\\app.exe", "{app}\\help\\Manual.HLP",
                        "{app}\\help\\Manual.gid", "{app}\\help\\Manual.fts", "{app}\\a=b.txt", "{app}\\ro.dll"};
    EXPECT_EQ(inst.Check(gone, {"{app}\\data\\keep.tmpx", "{app}\\data\\deeper\\c.tmp", "{app}\\data\\folder.tmp\\f",
                                "{app}\\shared.dll", "{app}\\kept.dll"}), "");
    EXPECT_EQ(Sorted(inst.texts), Sorted(inst.X(Each("10" + Shown, gone))));
    inst.texts.clear();
    RemoveShortcuts(), RemoveFolders();

    EXPECT_EQ(inst.Check({"{root}\\Menu", "{root}\\Data", "{root}\\User\\Empty", "{app}\\install.log"}, {"{app}", "{root}\\User\\mine.doc"}), "");
    EXPECT_EQ(inst.texts, inst.X(Each("14" + Shown, {"{root}\\Menu\\Readme"}) +
                                 Each("15" + Shown, {"{root}\\Data", "{root}\\User\\Empty", "{root}\\User", "{root}\\Menu", "{app}"})));
    EXPECT_EQ(inst.steps, 7 + 1 + 1 + 4);
}

TEST(ActionFiles, DataStaysWhenTheUserKeepsIt) {
    Staged inst("[DataFiles]\n{app}\\d.dat=1\n[DataFolders]\n{app}\\D=1\n[CopyFiles]\n{app}\\c.dll=1\n");
    RemoveDataFiles = false;

    RemoveFiles(), RemoveFolders();

    EXPECT_EQ(inst.Check({"{app}\\c.dll"}, {"{app}\\d.dat", "{app}\\D\\data.txt"}), "");
}

// Type 0, or one that is no number, deletes; an unknown type writes nothing; a quoted value
// name may hold a backslash. Created keys go deepest first, but not with another's subkeys.
TEST(ActionRegistry, ValuesArePutBackOrDeletedAndCreatedKeysGo) {
    Staged inst("[AddReg]\n{hklm}\\App\\Path=1,C:\\App\n{hklm}\\App\\Expand=2,%windir%\\x\n{hklm}\\App\\Bin=3,0A 1b FF\n"
                "{hklm}\\App\\Count=4,42\n{hkcu}\\App\\Multi=7,a||b\n{hkcu}\\App\\Text=1,'x, y'\n{hkcu}\\App\\Lines=1,one||two\n"
                "{hklm}\\App\\'Dir\\Name'=0,\n{hklm}\\App\\=0,\n{hkcu}\\App\\Odd=9,zz\n{hkcu}\\App\\NoType=x,zz\n{hkcu}\\App\\Keep" + Nul +
                "x=0,\n[CreateKeys]\n{hkcu}\\A\\B=1\n{hkcu}\\A=1\n{hkcu}\\A\\B\\C=1\n{hklm}\\K=1\n{hkcu}\\Shared=1\n{hkcu}\\Kept" + Nul + "x=1\n");
    inst.Set("{hklm}\\App|Dir\\Name", "installed"), inst.Set("{hkcu}\\App|Keep", "kept"), inst.Set("{hkcu}\\A\\B|v", "v");
    inst.Set("{hkcu}\\Shared\\OtherProduct", ""), inst.Set("{hkcu}\\Kept", "");

    RemoveRegistryEntries();

    EXPECT_EQ(inst.States(Each("{hklm}\\App|*", {"Path", "Expand", "Bin", "Count", "Dir\\Name", ""}) +
                          Each("{hkcu}\\App|*", {"Multi", "Text", "Lines", "Odd", "NoType", "Keep"})),
              (Items{"1:C:\\App", "2:%windir%\\x", "3:\x0a\x1b\xff", "4:42", Missing, Missing, "7:a|b", "1:x, y", "1:one\r\ntwo",
                     "1:installed", Missing, "1:kept"}));
    EXPECT_EQ(inst.Check({"{hkcu}\\A", "{hklm}\\K"}, {"{hkcu}\\Shared\\OtherProduct", "{hkcu}\\Kept"}), "");
    EXPECT_EQ(Items(inst.texts.end() - 5, inst.texts.end()), inst.X(Each("12:*", {"{hklm}\\K", "{hkcu}\\Shared", "{hkcu}\\A\\B\\C", "{hkcu}\\A\\B", "{hkcu}\\A"})));
    EXPECT_EQ(inst.steps, 16);
}

// A keyless entry would be taken for its whole section, one with a NUL for another entry.
// A file that cannot be opened ends the action; what was done before reaches the disk.
TEST(ActionRegistry, IniEntriesArePutBackOrDeletedOnDiskAndNoOtherEntryChanges) {
    Staged inst("[AddIni]\n{app}\\a.ini,Main,Lang=\n{app}\\a.ini,Main,Theme=dark\n{root}\\b.ini,Sec,Key=old value\n{app}\\k.ini,Main,Keep" +
                Nul + "x=\n{app}\\k.ini,Main=x\n{app}\\k.ini,Main, =\n{app}\\user.ini,Main,Lang=en\n{app}\\locked.ini,Main,Lang=en\n"
                "{app}\\last.ini,Main,Lang=en\n");
    const std::string keep = "[Main]\r\nKeep=1\r\n=nameless\r\nOther=2\r\n", file = inst.File("{app}\\k.ini", 0, keep);
    const std::string user = inst.File("{app}\\user.ini", 0, "; mine\n[Main]\nplain line\nLang = \"installed\"\n[Main]\nX=1\n");
    test::HeldFile held(inst.X("{app}\\locked.ini"));

    EXPECT_THROW(RemoveIniEntries(), EInOutError);

    EXPECT_EQ(inst.States({"{app}\\a.ini|Main|Lang", "{app}\\a.ini|Main|Theme", "{root}\\b.ini|Sec|Key", "{app}\\last.ini|Main|Lang"}),
              (Items{Missing, "dark", "old value", "installed"}));
    EXPECT_EQ(test::ReadFileBytes(file), keep);
    EXPECT_EQ(test::ReadFileBytes(user), "; mine\n[Main]\nplain line\nLang = en\n[Main]\nX=1\n");  // a user's file: one line changes
    EXPECT_EQ(inst.texts, inst.X(Each("13:*.ini", {"{app}\\a", "{app}\\a", "{root}\\b", "{app}\\k", "{app}\\k", "{app}\\user", "{app}\\locked"})));
    EXPECT_EQ(inst.steps, 6);
}

// Counters: a 1, b 1, c 4 in one binary byte, d 0, e the text "7", huge 0xFFFFFFFF (a large
// count, not a negative one), foreign (not copied here), none (missing: counts as 1, so asked);
// lib.dll + NUL would reach lib.dll's. A prompt that cannot be shown (its owner is gone) keeps the file.
TEST(ActionShared, CountersGoDownAndEachAnswerDecidesItsFileTheAllAnswersTheRest) {
    struct Case { std::vector<int> replies; bool deadOwner; Items asked, counters, kept; };
    const Items all = {"a", "b", "c", "d", "e", "huge", "foreign", "none"}, counted = {"4:1", "4:1", "4:3", "4:0", "4:6"};
    for (const Case& c : {Case{{IDC_DS_DELETE, IDC_DS_KEEP, IDC_DS_DELETE_ALL}, false, {"a", "b", "d"},
                               {Missing, "4:1", "4:3", Missing, "4:6"}, {"b", "c", "e", "huge", "foreign"}},
                          Case{{IDCANCEL, IDC_DS_KEEP_ALL}, false, {"a", "b"}, counted, all}, Case{{IDC_DS_DELETE}, true, {}, counted, all}}) {
        Staged inst("[SharedFiles]\n{app}\\a.dll=1\n{app}\\b.dll=1\n{app}\\c.dll=4\n{app}\\d.dll=0\n{app}\\e.dll=-\n{app}\\huge.dll=4294967295\n"
                    "{app}\\foreign.dll=1\n{app}\\none.dll=-\n{app}\\lib.dll" + Nul + "x=1\n[CopyFiles]\n{app}\\a.dll=1\n{app}\\b.dll=1\n"
                    "{app}\\c.dll=1\n{app}\\d.dll=1\n{app}\\e.dll=1\n{app}\\huge.dll=1\n{app}\\none.dll=1\n{app}\\lib.dll=1\n");
        inst.Set(SharedDlls + "{app}\\e.dll", "7"), inst.Set(SharedDlls + "{app}\\lib.dll", Dword(2), REG_DWORD), inst.Set(SharedDlls + "{app}\\c.dll", "\x04", REG_BINARY);
        qz::UniqueWindow owner(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
        MainWindow = owner.Get();
        if (c.deadOwner) owner.Reset();
        Answerer answerer(c.replies);

        ReleaseSharedFiles();

        Items names;
        for (const auto& entry : KeptSharedFiles->Entries()) names.push_back(EntryKey(entry.text));
        EXPECT_EQ(answerer.Texts(), inst.X(Each("Shared file found|Remove it?|*.dll|{app}\\|modal", c.asked)));
        EXPECT_EQ(inst.States(Each(SharedDlls + "{app}\\*.dll", {"a", "b", "c", "d", "e", "huge", "foreign", "none", "lib"})),
                  c.counters + Items({"4:4294967294", "4:1", Missing, "4:2"}));
        EXPECT_EQ(names, inst.X(Each("{app}\\*", Each("*.dll", c.kept) + Items{"lib.dll" + Nul + "x"})));
        EXPECT_EQ(inst.texts.size(), 9u);  // a status for every line, but no step
        EXPECT_EQ(inst.steps, 0);
    }
}

// Fields: program, parameters, folder, show mode, status, wait (default 1), judge the exit code
// (default 1); numbers out of range take the defaults. A program that cannot start gives -1 at
// once, and no error box. A failing PreRunApp program ends the walk without its step.
TEST(ActionRuns, ExitCodesAreJudgedOnlyWhereTheEntryAsksAndAFailureEndsTheSection) {
    Staged inst("[PreRunApp]\n1={bin}\\exitcode.exe,0 --mark {root}\\first.txt,{app},0,Preparing\n2={bin}\\exitcode.exe,3,,0,Checking\n"
                "3={bin}\\exitcode.exe,0 --mark {root}\\third.txt\n[RunApp]\n1={bin}\\exitcode.exe,2,,0,One,1,0\n"
                "2={bin}\\exitcode.exe" + Nul + "x,1\n3={bin}\\exitcode.exe,0,,0,Two\n");
    inst.File("{root}\\Program Files\\clean up.exe", 0, test::ReadFileBytes(test::HelperProgram("exitcode")));
    inst.File("{root}\\my scripts\\run me.bat", 0, "@exit %1\r\n"), inst.File("{root}\\broken.exe", 0, "not a program");
    const std::pair<const char*, bool> cases[] = {
        {"\"{root}\\Program Files\\clean up.exe\",3 --mark quoted.txt,\"{app}\",0,\"Removing data\",1,0", true},
        {"{bin}\\exitcode.exe,3,,0,,1,1", false}, {"{bin}\\exitcode.exe,4", false}, {"{bin}\\exitcode.exe,7,,99999999999,,-1,abc", false},
        {"\"{root}\\my scripts\\run me.bat\",5", false},
        {"{root}\\missing.exe,,,0,Missing,1,0", true}, {"{root}\\missing.exe,,,0,Missing,1,1", false},
        {"{root}\\broken.exe,,,0,Broken,1,1", false}, {"{root}\\missing.exe,,,0,Missing,0,1", false},
        {"{bin}\\exitcode.exe,5 --mark {root}\\started.txt,,0,Starting,0,1", true}};
    for (const auto& [entry, ok] : cases) EXPECT_EQ(RunEntry(inst.X(entry)), ok) << entry;
    EXPECT_EQ(inst.texts, (Items{"Removing data", "", "", "", "", "Missing", "Missing", "Broken", "Missing", "Starting"}));
    EXPECT_EQ(test::ReadFileBytes(inst.X("{app}\\quoted.txt")), inst.X("\"{root}\\Program Files\\clean up.exe\" 3 --mark quoted.txt\r\n{app}\r\n"));
    inst.texts.clear();
    EXPECT_FALSE(RunSection(true));
    EXPECT_EQ(inst.texts, (Items{"Preparing", "Checking"}));
    EXPECT_EQ(inst.Check({"{root}\\third.txt"}, {"{root}\\first.txt"}), "");
    EXPECT_TRUE(RunSection(false));
    EXPECT_EQ(inst.steps, 3);
    EXPECT_EQ(SectionEntryCount("runapp"), 2);  // a NUL line counts no step either
}

// {root}\Outside is reached only through "..", ".", relative, drive-relative, root-relative and
// device forms (the current folder being {root}), and through a link in a data folder.
TEST(ActionLog, HostileEntriesLeaveEverySentinelWhileTheInstallationsOwnEntriesGo) {
    std::string files, shortcuts, folders, fonts;
    for (const std::string at : {"{app}\\..\\Outside", "Outside", "..\\{id}\\Outside", "C:..\\{id}\\Outside", "\\\\?\\{root}\\Outside",
                                 "\\qztests\\{id}\\Outside", "{app}\\.\\..\\Outside"}) {
        files += at + "\\*.*=1\n" + at + "\\sentinel.txt=1\n", shortcuts += at + "\\sentinel=1\n", folders += at + "=1\n";
        fonts += "Qz {id} " + std::to_string(fonts.size()) + "=" + at + "\\sentinel.ttf\n";
    }
    Staged inst("[SharedFiles]\n" + files + "{app}\\shared.dll=1\n[Shortcuts]\n" + shortcuts + "{root}\\Menu\\App=1\n[RegFonts]\n" + fonts +
                "[DataFiles]\n" + files + "{app}\\user.dat=1\n[CopyFiles]\n" + files + "{app}\\app.exe=1\n{app}\\bin\\*.dll=1\n{app}\\shared.dll=1\n"
                "[DataFolders]\n" + folders + "{app}\\Data=1\n[CreateDirs]\n{app}\\..\\Empty=1\nEmpty=1\nC:Empty=1\n{app}\\Empty=1\n{root}\\Menu=1\n");
    const Items sentinels = Each("{root}\\*", {"Outside\\sentinel.txt", "Outside\\sentinel.lnk", "Outside\\sentinel.ttf", "Empty\\",
                                               "Linked\\linked.txt"});
    for (const std::string& file : sentinels + Items{"{app}\\bin\\a.dll"}) inst.File(file);
    ASSERT_TRUE(inst.Link("{app}\\Data\\outside", "{root}\\Linked"));
    Answerer answerer({IDC_DS_DELETE_ALL});

    RunEveryAction();

    EXPECT_EQ(inst.Check(Each("{app}\\*", {"app.exe", "bin\\a.dll", "shared.dll", "user.dat", "Data\\data.txt", "Data\\sub", "Empty"}) +
                         Items{"{root}\\Menu"}, sentinels), "");
}

// A name with a NUL would reach the text before it (a sentinel); quoted names, and missing,
// extra and empty fields, name nothing of the installation.
TEST(ActionLog, DamagedFieldsAndNulNamesRemoveOnlyWhatWellFormedLinesName) {
    Staged inst("[PreRunApp]\n1={bin}\\exitcode.exe,0 --mark pre.txt,,0,Extra,1,1,extra,fields\n2={bin}\\exitcode.exe" + Nul +
                "x,0 --mark cut.txt\n[Shortcuts]\n{root}\\Menu\\App=1\n{root}\\Keep\\keep" + Nul + "x=1\n\"{root}\\Keep\\keep\"=1\n=1\n"
                "[AddReg]\n{hkcu}\\Set\\Added=0\n{hkcu}\\Keep\\Leaf\\Value" + Nul + "x=0\n\\Value=0\n[CreateKeys]\n{hkcu}\\Created=1\n"
                "{hkcu}\\Keep\\Leaf" + Nul + "x=1\n[AddIni]\n{app}\\a.ini,S,Added=\n{app}\\k.ini,S=x\n{app}\\k.ini,S,Keep" + Nul +
                "x=\n{app}\\k.ini" + Nul + "x,S,Other=\n[RegFonts]\nQz {id} Keep" + Nul + "x=f.ttf\n[DataFiles]\n{app}\\user.dat=1\n"
                "{root}\\Keep\\keep.txt" + Nul + "*=1\n[CopyFiles]\n{app}\\App.exe=1\n{root}\\Keep\\keep.txt" + Nul + ".bak=1\n"
                "\"{root}\\Keep\\keep.txt\"=1\n[DataFolders]\n{app}\\Saved=1\n{root}\\Keep" + Nul + "x=1\n\"{root}\\Keep\"=1\n =1\n"
                "[CreateDirs]\n{root}\\Menu=1\n{root}\\Keep\\Empty" + Nul + "x=1\n[RunApp]\n1={bin}\\exitcode.exe,0 --mark post.txt,,,,,\n"
                "2=,,,0,Empty program,1,0\n");
    for (const char* file : {"{root}\\Keep\\keep.txt", "{root}\\Keep\\keep.lnk", "{root}\\Keep\\Empty\\"}) inst.File(file);
    inst.File("{app}\\k.ini", 0, "[S]\r\nKeep=1\r\nOther=2\r\n"), inst.Set("{hkcu}\\Keep\\Leaf|Value", "v");
    inst.Set(NtFonts + "Qz {id} Keep", inst.X("{root}\\Keep\\keep.txt"));

    RunEveryAction();

    EXPECT_EQ(inst.Check({"{root}\\Menu", "{hkcu}\\Set|Added", "{hkcu}\\Created", "{app}\\a.ini|S|Added", "{app}\\user.dat", "{app}\\App.exe",
                          "{app}\\Saved", "{root}\\cut.txt"},
                         Each("{root}\\Keep\\*", {"keep.txt", "keep.lnk", "Empty"}) + Each("{app}\\k.ini|S|*", {"Keep", "Other"}) +
                             Items{"{hkcu}\\Keep\\Leaf|Value", NtFonts + "Qz {id} Keep", "{root}\\pre.txt", "{root}\\post.txt"}), "");
}

// ---- One at a time: boot-time deletions, and what the whole prefix shares.

// A file in use in a data folder stays, with its folders; an installed one goes at the next boot.
TEST(ActionAlone, FileInUseIsDeletedAtTheNextBootOnlyWhenTheLogNamesIt) {
    Staged inst("[CopyFiles]\n{app}\\locked.dll=1\n{app}\\free.dll=1\n[DataFolders]\n{root}\\Data=1\n[CreateDirs]\n{app}=1\n");
    test::HeldFile dll(inst.X("{app}\\locked.dll")), data(inst.File("{root}\\Data\\sub\\locked.dat"));

    RemoveFolders();
    EXPECT_FALSE(RestartNeeded);
    RemoveFiles();

    EXPECT_EQ(inst.Check({"{app}\\free.dll", "{root}\\Data\\data.txt", "{root}\\Data\\sub\\deeper"}, {"{root}\\Data\\sub\\locked.dat"}), "");
    EXPECT_TRUE(dll.Held() && inst.DeletionPending("{app}\\locked.dll") && RestartNeeded);
    EXPECT_FALSE(inst.DeletionPending("{app}\\free.dll") || inst.DeletionPending("{root}\\Data\\sub\\locked.dat"));
    // The created folder that still holds it goes at the boot too, after its file.
    EXPECT_FALSE(inst.DeletionPending("{app}"));
    RemoveFolders();
    const std::string pending = inst.State("HKLM\\System\\CurrentControlSet\\Control\\Session Manager|PendingFileRenameOperations");
    EXPECT_TRUE(inst.DeletionPending("{app}") && pending.find(inst.X("{app}\\locked.dll")) < pending.rfind(inst.X("{app}||")));
}

// The registration goes in every case; a file named by a relative path stays where it is.
TEST(ActionAlone, FontsGoWithTheirRegistrationAndTheChangeIsBroadcastUnlessShared) {
    Staged inst("[RegFonts]\nQz {id} Demo={app}\\demo.ttf\nQz {id} Kept={app}\\kept.ttf\nQz {id} Here=here.ttf\nQz {id} Busy={app}\\busy.ttf\n");
    for (const char* font : {"Demo|{app}\\demo.ttf", "Kept|{app}\\kept.ttf", "Here|{root}\\here.ttf", "Busy|{app}\\busy.ttf"})
        inst.Set(NtFonts + "Qz {id} " + Split(font, "|")[0], inst.File(Split(font, "|")[1]));
    KeptSharedFiles->Add(inst.X("{app}\\kept.ttf=1"));
    test::HeldFile busy(inst.X("{app}\\busy.ttf"));
    test::MessageCounter fontChanges(WM_FONTCHANGE);

    RemoveFonts();

    EXPECT_EQ(inst.Check(Each(NtFonts + "Qz {id} *", {"Demo", "Here", "Busy"}) + Items{"{app}\\demo.ttf"},
                         {"{app}\\kept.ttf", NtFonts + "Qz {id} Kept", "{root}\\here.ttf", "{app}\\busy.ttf"}), "");
    EXPECT_TRUE(busy.Held() && inst.DeletionPending("{app}\\busy.ttf") && RestartNeeded);
    EXPECT_EQ(fontChanges.Count(), 3);
    EXPECT_EQ(inst.texts, inst.X(Each("17:Qz {id} *", {"Demo", "Here", "Busy"})));
    EXPECT_EQ(inst.steps, 4);
}

// comserver.dll and outprocserver.exe mark their registration under HKCU\Software\QuorvelTests.
// A server named without a folder is the application folder's file, never the copy that the
// system's search order would find first (here the test program's own comserver.dll).
TEST(ActionAlone, ServersAreUnregisteredUnlessSharedAndAssembliesGoThroughTheCacheTool) {
    Staged inst("[RegServers]\n{app}\\{id} in.dll=1\n{app}\\Local Server\\{id} out.exe=1\n{app}\\{id} kept.dll=1\n{id} bare.dll=1\n"
                "comserver.dll=1\n[SharedAssemblies]\n"
                "a=Demo.Lib,Version=1.0.0.0,Culture=neutral\nb=Other.Lib" + Nul + ",Version=9.0.0.0\nc=Third.Lib\n");
    const std::string marks = "HKCU\\Software\\QuorvelTests\\", record = test::BinFolder() + "gacutil.args";
    auto forget = qz::OnScopeExit([&] { DeleteFileA(record.c_str()); });
    auto unregister = qz::OnScopeExit([] {
        if (qz::UniqueKey key = OpenKey("HKCU\\Software\\QuorvelTests\\ComServer", true)) RegDeleteValueA(key.Get(), "comserver.dll");
    });
    for (const char* dll : {"{app}\\{id} in.dll", "{app}\\{id} kept.dll", "{app}\\{id} bare.dll", "{bin}\\comserver.dll"}) {
        const std::string file = std::string(dll).rfind("{bin}", 0) == 0 ? inst.X(dll) : inst.File(dll, 0, test::ReadFileBytes(test::BinFolder() + "comserver.dll"));
        qz::UniqueModule module(LoadLibraryA(file.c_str()));
        ASSERT_EQ(reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module.Get(), "DllRegisterServer"))(), S_OK);
    }
    inst.File("{app}\\Local Server\\{id} out.exe", 0, test::ReadFileBytes(test::HelperProgram("outprocserver")));
    KeptSharedFiles->Add(inst.X("{app}\\{id} kept.dll=1"));

    UnregisterServers(), UninstallAssemblies();

    EXPECT_EQ(inst.Check({marks + "ComServer|{id} in.dll", marks + "ComServer|{id} bare.dll"},
                         {marks + "ComServer|{id} kept.dll", marks + "ComServer|comserver.dll"}), "");
    EXPECT_TRUE(test::WaitUntil([&] { return inst.State(marks + "OutProcServer|{id} out.exe") == "1:unregistered"; }));
    EXPECT_EQ(test::ReadFileBytes(record), "/ur Demo.Lib,Version=1.0.0.0,Culture=neutral\r\n/ur Third.Lib\r\n");
    EXPECT_EQ(inst.texts, inst.X({"16:{app}\\{id} in.dll", "16:{app}\\Local Server\\{id} out.exe", "16:{app}\\{id} bare.dll",
                                  "19:Demo.Lib", "19:Third.Lib"}));
    EXPECT_EQ(inst.steps, 7);
}
