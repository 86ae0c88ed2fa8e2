// The program's edges as a process: a relative log path, a restart that the user did
// not choose, the program listed by its short name, and names in a double-byte code page.
#include "ProgramRun.h"

namespace {

using namespace test;

class ProgramEdge : public ProgramRun {
protected:
    // Adds a line to the fixture's log after another one of its lines.
    void Insert(const std::string& after, const std::string& line) {
        const std::string log = X("{app}\\install.log");
        WriteFileBytes(log, Replace(ReadFileBytes(log), after + "\r\n", after + "\r\n" + line + "\r\n"));
    }
    void Uninstall() {
        Next({"DLG_START", "DLG_BEFOREUNINSTALL", "DLG_UNINSTALLSUCCEEDED"});
        EXPECT_EQ(Exit(), 0);
    }
};
class ProgramEdgeRestartAlone : public ProgramEdge {};
class ProgramEdgeCodePageAlone : public ProgramEdge {};

// A relative log path is taken against the folder current at the start, never against the
// Windows folder, where the INI rules would look for a name without a folder.
TEST_F(ProgramEdge, RelativeLogPathIsTakenFromTheFolderCurrentAtTheStart) {
    for (const auto& [current, argument] : {std::pair{"{app}", "mylog.txt"}, {"{root}", "App\\mylog.txt"}}) {
        SCOPED_TRACE(current);
        Stage("[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n", "{app}\\mylog.txt");
        ASSERT_TRUE(child_.Start("\"" + exe_ + "\" " + argument, X(current)));
        Uninstall();
        ExpectGone("{app}\\mylog.txt");
    }
}

// The running program cannot be deleted under any spelling; its removal script deletes it.
TEST_F(ProgramEdge, ProgramListedByItsShortNameNeedsNoRestart) {
    Stage("[CopyFiles]\n{app}\\App.exe=1\n[CreateDirs]\n{app}=1\n");
    char shortName[MAX_PATH] = "";
    ASSERT_TRUE(GetShortPathNameA(exe_.c_str(), shortName, MAX_PATH));
    ASSERT_STRCASENE(shortName, exe_.c_str());
    Insert("[CopyFiles]", std::string(shortName) + "=1");
    Start();
    Uninstall();  // the closing page, not the restart page
    ExpectGone();
}

// A walk that fails after a file was deferred to the next boot asks before restarting, with
// the restart page's wording when the log has one; No leaves the deletion pending.
TEST_F(ProgramEdgeRestartAlone, RestartNotChosenIsAskedForAndNoLeavesTheDeletionPending) {
    const std::string manager = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";
    for (const std::string wording : {"Files wait.", ""}) {
        const std::string busy = "{root}\\busy" + std::to_string(wording.size()) + ".dll";
        Stage("[CopyFiles]\n{app}\\App.exe=1\n" + busy + "=1\n[RunApp]\n1={bin}\\exitcode.exe,3,,0,Failing,1,1\n");
        if (!wording.empty()) Insert("[Dialog.DLG_REBOOT]", "104=" + wording);
        HeldFile held(X(busy));
        Start();
        Next({"DLG_START", "DLG_BEFOREUNINSTALL"});
        HWND box = Page(BoxCaption);
        EXPECT_EQ(StaticTexts(box), wording.empty() ? "Some files will be removed when Windows restarts. Restart Windows now?"
                                                    : wording + "\r\n\r\nRestart Windows now?");
        Command(box, IDNO);
        EXPECT_EQ(Exit(), 0);
        EXPECT_NE(Value(manager, "PendingFileRenameOperations").find(X(busy) + '\0'), std::string::npos);
    }
}

// Shift-JIS names whose trail byte is that of a backslash ("\x95\x5c", "\x83\x5c"), a mask
// whose "?" takes a double-byte character ("\x82\xa0"), and siblings whose names begin with
// the same bytes. The child processes share this process's code page (Wine takes it from
// the Unix locale, which they inherit).
TEST_F(ProgramEdgeCodePageAlone, DoubleByteNamesTakeOnlyWhatTheLogNames) {
    ASSERT_EQ(GetACP(), 932u) << "runs in code page 932: ctest gives it the Japanese locale";
    const std::string t = "\x95\x5c", s = "\x83\x5c";
    Stage("[CopyFiles]\n{app}\\App.exe=1\n{root}\\" + t + "\\a.txt=1\n{root}\\" + s + "\\?.dat=1\n[DataFolders]\n{root}\\D\\" + t +
          "=1\n[CreateDirs]\n{app}=1\n{root}\\C\\" + t + "=1\n{root}\\C\\" + s + "\\" + t + "=1\n");
    const std::vector<std::string> gone = {t + "\\a.txt", s + "\\\x82\xa0.dat", "D\\" + t, "C\\" + t, "C\\" + s + "\\" + t},
                                   kept = {t + "\\b.txt", s + "\\ab.dat", "D\\" + t + "X\\keep.txt", "C\\" + t + "X\\keep.txt"};
    for (const std::string& name : kept) MakeFile(X("{root}\\") + name);
    for (const std::string& name : {gone[1], "D\\" + t + "\\" + s + "\\x.txt", "D\\" + t + "\\" + t + "\\y.txt"}) MakeFile(X("{root}\\") + name);
    Start();
    Uninstall();
    ExpectGone();
    for (const std::string& name : gone) EXPECT_FALSE(Exists("{root}\\" + name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(Exists("{root}\\" + name)) << name;
}

}  // namespace
